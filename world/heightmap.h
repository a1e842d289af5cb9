// The heightmap world: one 256 x 256 grid that wraps at its edges in both
// directions, with land heights, the heights the land moves to, water and
// lava, surface colours and types, and placement marks. The grids are plain
// global arrays read and written by generation, the simulation, the terrain
// renderer, saved games and the game-object module alike.
#pragma once
#include <cstddef>
#include <cstdint>
#include "lib/color.h"
#include "lib/vecmath.h"

class InputStream;
class OutputStream;

constexpr int HMAP_SIZE = 256;
constexpr int HMAP_SIZE_SHIFT = 8;
constexpr int HMAP_CELLS = HMAP_SIZE * HMAP_SIZE;

// Cell index of (x, z), both taken modulo 256: x the low byte, z the high.
inline int hmap_index(int x, int z) { return ((z & 255) << 8) | (x & 255); }

// Nearest integer, ties to even (the SSE conversion).
inline int nearest_int(float v) { return _mm_cvtss_si32(_mm_set_ss(v)); }

// The rows and columns a disc of radius r around (cx, cz) can touch; a cell
// (x, z) among them (unwrapped) belongs to the disc when
// (x - cx)^2 + (z - cz)^2 < r^2, strictly.
struct DiscBounds {
  int x0, x1, z0, z1;
};
inline DiscBounds disc_bounds(float cx, float cz, float r) {
  return {nearest_int(cx - r + 0.49999988f), nearest_int(cx + r - 0.49999988f),
          nearest_int(cz - r + 0.49999988f), nearest_int(cz + r - 0.49999988f)};
}
inline float disc_dist2(int x, int z, float cx, float cz) {
  float dx = (float)x - cx, dz = (float)z - cz;
  return dx * dx + dz * dz;
}

// Ground types (bits 0-3 of Surface::info; GT_NONE is stored as 15).
enum { GT_NONE = -1, GT_HOUSE = 0, GT_ROCK = 1, GT_SAND = 2, GT_SOIL = 3 };
// Cover types (bits 4-7).
enum { ST_NONE = 0, ST_OPEN = 0, ST_GRASS = 1, ST_ASH = 2, ST_SNOW = 3, ST_ROAD = 4 };
// Placement marks (bits 24-31).
enum { MARK_OBJ = 1, MARK_PLACE = 2, MARK_HOUSE = 4, MARK_WATER = 8, MARK_PLACEMENT = 7 };

// Bit fields of Surface::info.
constexpr uint32_t INFO_GROUND_MASK = 0x0000000Fu;
constexpr uint32_t INFO_COVER_MASK = 0x000000F0u;
constexpr int INFO_COVER_SHIFT = 4;
constexpr uint32_t INFO_TILE_ROT_MASK = 0x00000700u;
constexpr int INFO_TILE_ROT_SHIFT = 8;
constexpr uint32_t INFO_TILE_MASK = 0x00FFF800u;
constexpr int INFO_TILE_SHIFT = 11;
constexpr uint32_t INFO_MARKS_MASK = 0xFF000000u;
constexpr int INFO_MARKS_SHIFT = 24;

inline int info_ground(uint32_t info) {
  int g = (int)(info & INFO_GROUND_MASK);
  return g == 15 ? GT_NONE : g;
}
inline int info_cover(uint32_t info) { return (int)((info & INFO_COVER_MASK) >> INFO_COVER_SHIFT); }
inline int info_tile_rot(uint32_t info) { return (int)((info & INFO_TILE_ROT_MASK) >> INFO_TILE_ROT_SHIFT); }
inline int info_tile(uint32_t info) { return (int)((info & INFO_TILE_MASK) >> INFO_TILE_SHIFT); }
inline uint32_t info_marks(uint32_t info) { return info >> INFO_MARKS_SHIFT; }
inline uint32_t info_with_ground(uint32_t info, int ground) {
  return (info & ~INFO_GROUND_MASK) | ((uint32_t)ground & 15);
}
inline uint32_t info_with_cover(uint32_t info, int cover) {
  return (info & ~INFO_COVER_MASK) | (((uint32_t)cover & 15) << INFO_COVER_SHIFT);
}
inline uint32_t info_with_marks(uint32_t info, uint32_t marks) {
  return (info & ~INFO_MARKS_MASK) | ((marks & 255) << INFO_MARKS_SHIFT);
}

namespace HeightmapData {

// Fluid state of one cell. amount > 0: water of that depth; amount < 0:
// lava of depth -amount; 0: dry. flow_x is the flow across the face to
// (x+1, z), flow_z across the face to (x, z+1); turbulence is 0..1.
struct Water {
  float amount;
  float flow_x;
  float flow_z;
  float turbulence;
};
static_assert(sizeof(Water) == 16);

// Ground colour, cover colour (alpha = cover strength), and the info bits.
struct Surface {
  D3dColor color;
  D3dColor top_color;
  uint32_t info;
};
static_assert(sizeof(Surface) == 12);

// Land-moving sound of one direction octant around the camera: the weighted
// sums (w*x, w*y, w*z, w) of the moving land this step, and its channel.
struct LandSoundGroup {
  float acc[4];
  uint32_t channel;
};

extern float* hmap;         // current land height
extern float* target_hmap;  // the height the land moves towards
extern Water* water;        // current fluid state
extern Water* tmpw;         // fluid state of the previous step
extern Surface* surface;
extern LandSoundGroup land_sound[8];

// The terrain renderer's per-cell grids, which live in the same block.
struct RendererGrids {
  float* curh;             // 65,536 floats: this frame's land heights
  float* fluid_surfaces;   // 65,536 x 2 slots x (water, lava) surface heights
  float* cur_fluid_surfaces;  // 65,536 x (water, lava) of this frame
  float* flow_coords[2];   // high quality: 65,536 x 4 floats each; else null
};
extern RendererGrids renderer_grids;

// Allocates the one block of all grids (first call only; it is never freed
// or moved). Every grid starts on a 64-byte boundary with at least 64 spare
// zero bytes after it, so vector code may read a group past its end. The
// renderer's flow grids are there only when gfx_quality is 1 at that time.
void init_grids();
// Size of the block in bytes (0 before init_grids).
size_t grid_block_size();

// An empty world: flat grey rock, no fluid, no marks, land sounds stopped.
void reset();
// The world data block: hmap, target_hmap, surface, water; 2,359,296 bytes.
constexpr int WORLD_DATA_SIZE = HMAP_CELLS * (4 + 4 + 12 + 16);
void saveWorldData(OutputStream& s);
// Reads a world data block. On a stream error the grids are left as they
// were and the exception propagates.
void loadWorldData(InputStream& s);

void calcHtRange(float& min_ht, float& max_ht);
// Shifts hmap so its range is centred on 0; returns the half-range.
float recenterHt();
void addWaterEverywhere(float d);
// The highest point of the bilinear surface (land, plus |fluid| when
// with_fluid) over the square of half-size half around (pos.x, pos.z),
// minus pos.y, in all four lanes.
vec4f calcSquareDepth(vec4f pos, float half, bool with_fluid);

// Water and lava: one simulation step of dt seconds.
void simWater(float dt);
// The vapour effect of water meeting lava (only in high quality).
void water_vapor_fx(int x, int z, float level, float amount);

// Land morphing towards target_hmap, with the land-moving sounds placed
// around the camera (the translation row of cur_view_itm).
void updateHmap(float dt);
// The heights one morph step of dt would give, into out (65,536 floats).
void morphHmap(float dt, float* out);
void stopSounds();

}  // namespace HeightmapData

extern float water_vapor_accum;  // for the game-object module; unused here
extern Matrix44 cur_view_itm;    // the camera matrix, kept by the camera code

// Placement marks. Coordinates wrap; rectangles are inclusive.
void mark_rect(int x0, int z0, int x1, int z1, uint32_t set, uint32_t clear);
bool test_rect_mark(int x0, int z0, int x1, int z1, uint32_t mask, uint32_t value);
void mark_circle(float cx, float cz, float r, uint32_t set, uint32_t clear);
bool test_circle_mark(float cx, float cz, float r, uint32_t mask, uint32_t value);
// Marks every cell whose amount is above level.
void mark_water(float level, uint32_t set, uint32_t clear);

// Marches along origin + dir * s, s from 0 to t, and reports the first
// sample at or below the land (the module's get_land_height_at); on a hit t
// receives its distance.
bool trace_hmap_ray(vec4f origin, vec4f dir, float& t);

struct IWalkMapGrid {
  virtual void on_map_grid_walk(float x, float z, float size) = 0;
  virtual ~IWalkMapGrid() = default;
};
// Visits the map in square cells of side 2^level (one call for level >= 8;
// sub-unit cells for negative levels), rows then columns.
void walk_map_grid(int level, IWalkMapGrid& cb);

struct PointSink {
  virtual void addPoint(float x, float z) = 0;
  virtual ~PointSink() = default;
};
// Scatters count random points uniformly inside every visited cell.
struct GenMapCellPoints : IWalkMapGrid {
  PointSink* target = nullptr;
  int count = 0;
  GenMapCellPoints(PointSink* t, int n) : target(t), count(n) {}
  void on_map_grid_walk(float x, float z, float size) override;
};
