// Queries on the world grids: land and fluid heights between grid points,
// land change and normals. The grids are the host's; the map wraps.
#include <cmath>
#include "module.h"
#include "lib/utils.h"
#include "world/heightmap.h"

namespace gameobj {

// Bilinear value of a per-cell quantity at world position (x, z).
template <class CellValue>
static float bilinear(float x, float z, CellValue value) {
  int x0 = floor_coord(x), z0 = floor_coord(z);
  float fx = x - (float)x0, fz = z - (float)z0;
  float a = value(hmap_index(x0, z0)), b = value(hmap_index(x0 + 1, z0));
  float c = value(hmap_index(x0, z0 + 1)), d = value(hmap_index(x0 + 1, z0 + 1));
  float near_row = a + (b - a) * fx;
  float far_row = c + (d - c) * fx;
  return near_row + (far_row - near_row) * fz;
}

static float land_at(int i) { return HeightmapData::hmap[i]; }

float get_land_height(float x, float z) { return bilinear(x, z, land_at); }

float get_land_height_at(vec4f pos) { return get_land_height(v_x(pos), v_z(pos)); }

vec4f get_land_pos_at(vec4f pos) {
  float x = v_x(pos), z = v_z(pos);
  return v_make(x, get_land_height(x, z), z, 1.0f);
}

float get_land_change(float x, float z) {
  return bilinear(x, z, [](int i) { return HeightmapData::target_hmap[i] - HeightmapData::hmap[i]; });
}

float get_land_change_at(vec4f pos) { return get_land_change(v_x(pos), v_z(pos)); }

// Positive: water depth; negative: lava depth.
float get_water(float x, float z) {
  return bilinear(x, z, [](int i) { return HeightmapData::water[i].amount; });
}

float get_water_at(vec4f pos) { return get_water(v_x(pos), v_z(pos)); }

float surface_height(float x, float z) {
  return bilinear(x, z, [](int i) { return HeightmapData::hmap[i] + fabsf(HeightmapData::water[i].amount); });
}

// Unit normal of the land from the height differences one unit to either side.
vec4f calc_land_norm(float x, float z) {
  float dx = get_land_height(x - 1.0f, z) - get_land_height(x + 1.0f, z);
  float dz = get_land_height(x, z - 1.0f) - get_land_height(x, z + 1.0f);
  return v_norm3(v_make(dx, 2.0f, dz, 0.0f));
}

vec4f calc_land_norm_at(vec4f pos) { return calc_land_norm(v_x(pos), v_z(pos)); }

}  // namespace gameobj
