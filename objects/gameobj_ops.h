// Operations bound by name from the game-object module. Each is a global
// function pointer named as the module's export; null until the module is
// bound. (The binding itself and the full list come with the module host.)
#pragma once
#include "lib/vecmath.h"

extern float (*get_land_height_at)(vec4f pos);
extern void (*spawn_water_vapor_fx)(int x, int z, float height, float amount);
