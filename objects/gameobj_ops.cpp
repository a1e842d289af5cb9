#include "objects/gameobj_ops.h"

float (*get_land_height_at)(vec4f pos) = nullptr;
void (*spawn_water_vapor_fx)(int x, int z, float height, float amount) = nullptr;
