// The world grids: the one block they live in, reset, the world data block,
// range queries, placement marks, ray tracing and the square-depth query.
#include "world/heightmap.h"
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include "app/config.h"
#include "lib/check.h"
#include "lib/tempData.h"
#include "lib/utils.h"
#include "objects/gameobj_ops.h"
#include "script/streams.h"
#include "sound/sound.h"
#include "world/noise.h"

namespace HeightmapData {

float* hmap = nullptr;
float* target_hmap = nullptr;
Water* water = nullptr;
Water* tmpw = nullptr;
Surface* surface = nullptr;
LandSoundGroup land_sound[8];
RendererGrids renderer_grids = {};

static unsigned char* grid_block = nullptr;
static size_t grid_block_bytes = 0;

// Bytes between the starts of consecutive grids: the grid, then at least 64
// spare bytes, rounded to the 64-byte line.
static size_t grid_stride(size_t bytes) { return (bytes + 64 + 63) & ~(size_t)63; }

void init_grids() {
  if (grid_block) return;
  const size_t cells = HMAP_CELLS;
  size_t sizes[10] = {
      cells * sizeof(float),          // hmap
      cells * sizeof(float),          // target_hmap
      cells * sizeof(Water),          // water
      cells * sizeof(Water),          // tmpw
      cells * sizeof(Surface),        // surface
      cells * sizeof(float),          // renderer: curh
      cells * 4 * sizeof(float),      // renderer: two slots of (water, lava) surfaces
      cells * 2 * sizeof(float),      // renderer: this frame's (water, lava) surfaces
      cells * 4 * sizeof(float),      // renderer, high quality: flow coordinates
      cells * 4 * sizeof(float),      //   of the previous and the latest step
  };
  int n = gfx_quality == 1 ? 10 : 8;
  size_t total = 0;
  for (int i = 0; i < n; i++) total += grid_stride(sizes[i]);
  grid_block = (unsigned char*)aligned_alloc(64, total);
  if (!grid_block) fatal("not enough memory for the world grids (%zu bytes)", total);
  memset(grid_block, 0, total);
  grid_block_bytes = total;

  unsigned char* at[10] = {};
  unsigned char* p = grid_block;
  for (int i = 0; i < n; i++) {
    at[i] = p;
    p += grid_stride(sizes[i]);
  }
  hmap = (float*)at[0];
  target_hmap = (float*)at[1];
  water = (Water*)at[2];
  tmpw = (Water*)at[3];
  surface = (Surface*)at[4];
  renderer_grids.curh = (float*)at[5];
  renderer_grids.fluid_surfaces = (float*)at[6];
  renderer_grids.cur_fluid_surfaces = (float*)at[7];
  renderer_grids.flow_coords[0] = (float*)at[8];
  renderer_grids.flow_coords[1] = (float*)at[9];
}

size_t grid_block_size() { return grid_block_bytes; }

// Fades out the eight land-moving sounds over 10 ms and clears their records.
static void clear_land_sounds() {
  for (LandSoundGroup& g : land_sound)
    if (g.channel) fade_out_and_stop_sound(g.channel, 10);
  memset(land_sound, 0, sizeof(land_sound));
}

void reset() {
  clear_land_sounds();
  memset(hmap, 0, HMAP_CELLS * sizeof(float));
  memset(target_hmap, 0, HMAP_CELLS * sizeof(float));
  for (int i = 0; i < HMAP_CELLS; i++) surface[i] = {D3dColor(0xFF808080u), D3dColor(0u), 1u};
  memset(water, 0, HMAP_CELLS * sizeof(Water));
}

void saveWorldData(OutputStream& s) {
  s.write(hmap, HMAP_CELLS * (int)sizeof(float));
  s.write(target_hmap, HMAP_CELLS * (int)sizeof(float));
  s.write(surface, HMAP_CELLS * (int)sizeof(Surface));
  s.write(water, HMAP_CELLS * (int)sizeof(Water));
}

void loadWorldData(InputStream& s) {
  clear_land_sounds();
  // The whole block is read before any grid changes, so a short or broken
  // stream leaves the world that was there.
  TempData block(WORLD_DATA_SIZE);
  s.read(block.data, WORLD_DATA_SIZE);
  const unsigned char* p = block.bytes();
  memcpy(hmap, p, HMAP_CELLS * sizeof(float));
  p += HMAP_CELLS * sizeof(float);
  memcpy(target_hmap, p, HMAP_CELLS * sizeof(float));
  p += HMAP_CELLS * sizeof(float);
  memcpy(surface, p, HMAP_CELLS * sizeof(Surface));
  p += HMAP_CELLS * sizeof(Surface);
  memcpy(water, p, HMAP_CELLS * sizeof(Water));
  memcpy(tmpw, water, HMAP_CELLS * sizeof(Water));
}

void calcHtRange(float& min_ht, float& max_ht) {
  float mn = hmap[0], mx = hmap[0];
  for (int i = 1; i < HMAP_CELLS; i++) {
    float h = hmap[i];
    if (h < mn) mn = h;
    if (h > mx) mx = h;
  }
  min_ht = mn;
  max_ht = mx;
}

float recenterHt() {
  float mn, mx;
  calcHtRange(mn, mx);
  float offset = -(mn + mx) / 2.0f;
  for (int i = 0; i < HMAP_CELLS; i++) hmap[i] += offset;
  return (mx - mn) / 2.0f;
}

void addWaterEverywhere(float d) {
  for (int i = 0; i < HMAP_CELLS; i++) water[i].amount += d;
}

// Surface height at a grid point: land, plus the fluid depth when asked.
static inline float surface_height(int x, int z, bool with_fluid) {
  int i = hmap_index(x, z);
  float h = hmap[i];
  if (with_fluid) h += fabsf(water[i].amount);
  return h;
}

static inline float lerp(float a, float b, float f) { return a + (b - a) * f; }

// Floor as the square query takes it: nearest(v - 0.49999991).
static inline int square_floor(float v) { return nearest_int(v - 0.49999991f); }

vec4f calcSquareDepth(vec4f pos, float half, bool with_fluid) {
  float px = v_x(pos), py = v_y(pos), pz = v_z(pos);
  float xa = px - half, xb = px + half, za = pz - half, zb = pz + half;
  int x0 = square_floor(xa), x1 = square_floor(xb), z0 = square_floor(za), z1 = square_floor(zb);
  float fxa = xa - (float)x0, fxb = xb - (float)x1, fza = za - (float)z0, fzb = zb - (float)z1;

  float best = -FLT_MAX;
  auto take = [&](float v) {
    if (v > best) best = v;
  };
  auto bilinear = [&](int x, int z, float fx, float fz) {
    float a = lerp(surface_height(x, z, with_fluid), surface_height(x + 1, z, with_fluid), fx);
    float b = lerp(surface_height(x, z + 1, with_fluid), surface_height(x + 1, z + 1, with_fluid), fx);
    return lerp(a, b, fz);
  };
  take(bilinear(x0, z0, fxa, fza));
  take(bilinear(x1, z0, fxb, fza));
  take(bilinear(x0, z1, fxa, fzb));
  take(bilinear(x1, z1, fxb, fzb));
  // Where the square's edges cross grid lines.
  for (int x = x0 + 1; x <= x1; x++) {
    take(lerp(surface_height(x, z0, with_fluid), surface_height(x, z0 + 1, with_fluid), fza));
    take(lerp(surface_height(x, z1, with_fluid), surface_height(x, z1 + 1, with_fluid), fzb));
  }
  for (int z = z0 + 1; z <= z1; z++) {
    take(lerp(surface_height(x0, z, with_fluid), surface_height(x0 + 1, z, with_fluid), fxa));
    take(lerp(surface_height(x1, z, with_fluid), surface_height(x1 + 1, z, with_fluid), fxb));
  }
  // Grid points inside.
  for (int z = z0 + 1; z <= z1; z++)
    for (int x = x0 + 1; x <= x1; x++) take(surface_height(x, z, with_fluid));
  return v_splat(best - py);
}

void water_vapor_fx(int x, int z, float level, float amount) {
  if (gfx_quality == 1 && spawn_water_vapor_fx) spawn_water_vapor_fx(x, z, level, amount);
}

}  // namespace HeightmapData

using namespace HeightmapData;

float water_vapor_accum = 0.0f;

static inline void update_marks(int i, uint32_t set, uint32_t clear) {
  uint32_t info = surface[i].info;
  uint32_t marks = (info_marks(info) & ~clear) | set;
  surface[i].info = info_with_marks(info, marks);
}

static inline bool marks_match(int i, uint32_t mask, uint32_t value) {
  return (info_marks(surface[i].info) & mask) == value;
}

void mark_rect(int x0, int z0, int x1, int z1, uint32_t set, uint32_t clear) {
  for (int z = z0; z <= z1; z++)
    for (int x = x0; x <= x1; x++) update_marks(hmap_index(x, z), set, clear);
}

bool test_rect_mark(int x0, int z0, int x1, int z1, uint32_t mask, uint32_t value) {
  for (int z = z0; z <= z1; z++)
    for (int x = x0; x <= x1; x++)
      if (!marks_match(hmap_index(x, z), mask, value)) return false;
  return true;
}

// Calls f(cell index) for the cells of the marking disc: the one nearest
// cell when r <= 1, else the cells strictly inside the circle. f returns
// false to stop; the result says whether every call returned true.
template <class F>
static bool for_mark_disc(float cx, float cz, float r, F&& f) {
  if (r <= 1.0f) return f(hmap_index(nearest_int(cx), nearest_int(cz)));
  DiscBounds b = disc_bounds(cx, cz, r);
  float r2 = r * r;
  for (int z = b.z0; z <= b.z1; z++)
    for (int x = b.x0; x <= b.x1; x++)
      if (disc_dist2(x, z, cx, cz) < r2 && !f(hmap_index(x, z))) return false;
  return true;
}

void mark_circle(float cx, float cz, float r, uint32_t set, uint32_t clear) {
  for_mark_disc(cx, cz, r, [&](int i) {
    update_marks(i, set, clear);
    return true;
  });
}

bool test_circle_mark(float cx, float cz, float r, uint32_t mask, uint32_t value) {
  return for_mark_disc(cx, cz, r, [&](int i) { return marks_match(i, mask, value); });
}

void mark_water(float level, uint32_t set, uint32_t clear) {
  for (int i = 0; i < HMAP_CELLS; i++)
    if (water[i].amount > level) update_marks(i, set, clear);
}

bool trace_hmap_ray(vec4f origin, vec4f dir, float& t) {
  if (t < 0.0f) return false;
  float dx = v_x(dir), dz = v_z(dir);
  int n = nearest_int(sqrtf(dx * dx + dz * dz) * t - 0.49999988f);
  if (n <= 0) return false;
  if (!get_land_height_at) return false;  // no module bound: there is no land to hit
  for (int i = 0; i <= n; i++) {
    float s = (float)i * t / (float)n;
    vec4f p = v_add(origin, v_mul(dir, v_splat(s)));
    if (get_land_height_at(p) >= v_y(p)) {
      t = s;
      return true;
    }
  }
  return false;
}

void walk_map_grid(int level, IWalkMapGrid& cb) {
  if (level >= 8) {
    cb.on_map_grid_walk(0.0f, 0.0f, 256.0f);
  } else if (level >= 0) {
    int c = 1 << level;
    for (int z = 0; z < 256; z += c)
      for (int x = 0; x < 256; x += c) cb.on_map_grid_walk((float)x, (float)z, (float)c);
  } else {
    int c = 1 << -level;
    float step = 1.0f / (float)c;
    for (int i = 0; i < 256 * c; i++)
      for (int j = 0; j < 256 * c; j++)
        cb.on_map_grid_walk((float)j * step, (float)i * step, step);
  }
}

void GenMapCellPoints::on_map_grid_walk(float x, float z, float size) {
  for (int k = 0; k < count; k++) {
    float u = frnd();
    float v = frnd();
    target->addPoint(x + size * u, z + size * v);
  }
}
