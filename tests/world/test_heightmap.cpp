#include <gtest/gtest.h>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>
#include "app/config.h"
#include "objects/gameobj_ops.h"
#include "script/streams.h"
#include "tests/support/test_support.h"
#include "world/heightmap.h"
#include "world/noise.h"

using namespace HeightmapData;

namespace {

struct World : ::testing::Test {
  void SetUp() override {
    init_grids();
    reset();
  }
};

int count_marked(uint32_t mark) {
  int n = 0;
  for (int i = 0; i < HMAP_CELLS; i++) n += (info_marks(surface[i].info) & mark) != 0;
  return n;
}

bool marked(int x, int z, uint32_t mark) {
  return (info_marks(surface[hmap_index(x, z)].info) & mark) != 0;
}

}  // namespace

TEST_F(World, GridBlockLayout) {
  // Each grid 64-byte aligned, with at least 64 spare bytes before the next.
  const char* p[] = {(const char*)hmap, (const char*)target_hmap, (const char*)water,
                     (const char*)tmpw, (const char*)surface, (const char*)renderer_grids.curh,
                     (const char*)renderer_grids.fluid_surfaces,
                     (const char*)renderer_grids.cur_fluid_surfaces};
  size_t sizes[] = {4, 4, 16, 16, 12, 4, 16, 8};
  for (int i = 0; i < 8; i++) {
    EXPECT_EQ((uintptr_t)p[i] % 64, 0u) << i;
    if (i < 7) {
      EXPECT_GE(p[i + 1] - p[i], (ptrdiff_t)(sizes[i] * HMAP_CELLS + 64)) << i;
    }
  }
  // The default quality is high, so the two 1 MiB flow grids are there too.
  ASSERT_EQ(gfx_quality, 1);
  ASSERT_TRUE(renderer_grids.flow_coords[0] && renderer_grids.flow_coords[1]);
  EXPECT_GE(renderer_grids.flow_coords[1] - renderer_grids.flow_coords[0], HMAP_CELLS * 4 + 16);
  EXPECT_GE(grid_block_size(), (size_t)(HMAP_CELLS * (4 + 4 + 16 + 16 + 12 + 4 + 16 + 8 + 16 + 16)));
  float* before = hmap;
  init_grids();  // only the first call allocates
  EXPECT_EQ(hmap, before);
}

TEST_F(World, ResetGivesAnEmptyRockWorld) {
  for (int i = 0; i < HMAP_CELLS; i += 97) {
    hmap[i] = 3;
    water[i].amount = 1;
    surface[i].info = 0xFFFFFFFF;
  }
  reset();
  float mn, mx;
  calcHtRange(mn, mx);
  EXPECT_EQ(mn, 0.0f);
  EXPECT_EQ(mx, 0.0f);
  for (int i = 0; i < HMAP_CELLS; i++) {
    ASSERT_EQ(surface[i].color.u, 0xFF808080u);
    ASSERT_EQ(surface[i].top_color.u, 0u);
    ASSERT_EQ(info_ground(surface[i].info), GT_ROCK);
    ASSERT_EQ(info_cover(surface[i].info), ST_OPEN);
    ASSERT_EQ(water[i].amount, 0.0f);
    ASSERT_EQ(target_hmap[i], 0.0f);
  }
  mark_water(0.0f, MARK_WATER, 0);
  EXPECT_EQ(count_marked(MARK_WATER), 0);
}

TEST_F(World, InfoBitFields) {
  uint32_t info = 0;
  info = info_with_ground(info, GT_NONE);
  EXPECT_EQ(info, 15u);
  EXPECT_EQ(info_ground(info), GT_NONE);
  info = info_with_cover(info, ST_ROAD);
  info |= (5u << INFO_TILE_ROT_SHIFT) | (18u << INFO_TILE_SHIFT);
  info = info_with_marks(info, MARK_HOUSE | MARK_WATER);
  EXPECT_EQ(info, 15u | (4u << 4) | (5u << 8) | (18u << 11) | (12u << 24));
  EXPECT_EQ(info_cover(info), ST_ROAD);
  EXPECT_EQ(info_tile_rot(info), 5);
  EXPECT_EQ(info_tile(info), 18);
  EXPECT_EQ(info_marks(info), 12u);
}

TEST_F(World, RangesAndWholeMapUpdates) {
  for (int i = 0; i < HMAP_CELLS; i++) {
    hmap[i] = (float)(i % 9) - 2.0f;  // -2 ... 6
    target_hmap[i] = 1.5f;
  }
  float mn, mx;
  calcHtRange(mn, mx);
  EXPECT_EQ(mn, -2.0f);
  EXPECT_EQ(mx, 6.0f);
  EXPECT_EQ(recenterHt(), 4.0f);
  calcHtRange(mn, mx);
  EXPECT_EQ(mn, -4.0f);
  EXPECT_EQ(mx, 4.0f);
  EXPECT_EQ(target_hmap[123], 1.5f);

  water[5].amount = -0.5f;  // lava
  water[6].amount = 0.25f;
  addWaterEverywhere(0.5f);
  EXPECT_EQ(water[5].amount, 0.0f);
  EXPECT_EQ(water[6].amount, 0.75f);
  EXPECT_EQ(water[7].amount, 0.5f);
  EXPECT_EQ(water[7].flow_x, 0.0f);
  mark_water(0.5f, MARK_WATER, 0);  // strictly above the level
  EXPECT_EQ(count_marked(MARK_WATER), 1);
  EXPECT_TRUE(marked(6, 0, MARK_WATER));
}

TEST_F(World, RectanglesWrapAndEmptyOnesDoNothing) {
  mark_rect(254, 255, 257, 256, MARK_OBJ, 0);  // x 254, 255, 0, 1 on rows 255 and 0
  EXPECT_EQ(count_marked(MARK_OBJ), 8);
  for (int x : {254, 255, 0, 1})
    for (int z : {255, 0}) EXPECT_TRUE(marked(x, z, MARK_OBJ)) << x << "," << z;
  EXPECT_TRUE(test_rect_mark(-2, -1, 1, 0, MARK_OBJ, MARK_OBJ));
  EXPECT_FALSE(test_rect_mark(-2, -1, 2, 0, MARK_OBJ, MARK_OBJ));
  EXPECT_TRUE(test_rect_mark(5, 0, 4, 0, MARK_OBJ, MARK_OBJ));  // x0 > x1: empty, true

  mark_rect(10, 10, 9, 12, MARK_PLACE, 0);  // empty
  mark_rect(10, 12, 12, 10, MARK_PLACE, 0);
  EXPECT_EQ(count_marked(MARK_PLACE), 0);

  // set and clear together; other info bits stay
  surface[hmap_index(0, 0)].info = info_with_cover(surface[hmap_index(0, 0)].info, ST_GRASS);
  mark_rect(0, 0, 0, 0, MARK_WATER, MARK_OBJ);
  EXPECT_EQ(info_marks(surface[0].info), (uint32_t)MARK_WATER);
  EXPECT_EQ(info_cover(surface[0].info), ST_GRASS);
  EXPECT_EQ(info_ground(surface[0].info), GT_ROCK);
}

TEST_F(World, DiscsOfRadiusOneOrLessAreOneCell) {
  struct {
    float cx, cz, r;
    int x, z;
  } cases[] = {
      {10.2f, 20.7f, 0.0f, 10, 21}, {10.2f, 20.7f, 1.0f, 10, 21}, {2.5f, 3.5f, 0.5f, 2, 4},
      {-0.4f, 255.6f, 0.9f, 0, 0},  {-1.0f, 0.0f, -3.0f, 255, 0},
  };
  for (auto& c : cases) {
    reset();
    mark_circle(c.cx, c.cz, c.r, MARK_PLACE, 0);
    EXPECT_EQ(count_marked(MARK_PLACE), 1);
    EXPECT_TRUE(marked(c.x, c.z, MARK_PLACE)) << c.cx << "," << c.cz;
    EXPECT_TRUE(test_circle_mark(c.cx, c.cz, c.r, MARK_PLACE, MARK_PLACE));
  }
}

TEST_F(World, DiscCellsAreStrictlyInsideAndWrap) {
  mark_circle(10.0f, 10.0f, 2.0f, MARK_OBJ, 0);
  EXPECT_EQ(count_marked(MARK_OBJ), 9);  // distance 2 exactly is outside
  EXPECT_FALSE(marked(12, 10, MARK_OBJ));
  EXPECT_TRUE(marked(11, 11, MARK_OBJ));

  reset();
  mark_circle(0.0f, 0.0f, 1.5f, MARK_HOUSE, 0);
  EXPECT_EQ(count_marked(MARK_HOUSE), 9);
  EXPECT_TRUE(marked(255, 255, MARK_HOUSE));
  EXPECT_TRUE(marked(255, 1, MARK_HOUSE));
  EXPECT_TRUE(test_circle_mark(0.0f, 0.0f, 1.5f, MARK_HOUSE, MARK_HOUSE));
  EXPECT_FALSE(test_circle_mark(0.0f, 0.0f, 2.5f, MARK_HOUSE, MARK_HOUSE));
  EXPECT_TRUE(test_circle_mark(100.0f, 100.0f, 5.0f, MARK_HOUSE, 0));
}

static void fill_test_world(uint64_t seed) {
  game_rnd_seed = seed;
  for (int i = 0; i < HMAP_CELLS; i++) {
    hmap[i] = frnd() * 10.0f;
    target_hmap[i] = srnd();
    surface[i] = {D3dColor(game_rnd_step()), D3dColor(game_rnd_step()), game_rnd_step()};
    water[i] = {srnd(), srnd(), srnd(), frnd()};
  }
}

static bool grids_equal_bytes(const unsigned char* block) {
  return memcmp(block, hmap, 262144) == 0 && memcmp(block + 262144, target_hmap, 262144) == 0 &&
         memcmp(block + 524288, surface, 786432) == 0 &&
         memcmp(block + 1310720, water, 1048576) == 0;
}

TEST_F(World, WorldDataRoundTripsThroughMemoryAndFiles) {
  fill_test_world(11);
  MemoryOutputStream out;
  saveWorldData(out);
  ASSERT_EQ(out.bytes.count(), 2359296);
  ASSERT_EQ(WORLD_DATA_SIZE, 2359296);
  EXPECT_TRUE(grids_equal_bytes(out.bytes.data()));  // the block's layout

  TempDir dir;
  std::string path = dir.file("w000");
  {
    FileOutputStream f(path.c_str());
    saveWorldData(f);
    ASSERT_TRUE(f.close());
  }

  reset();
  memset(tmpw, 0x55, HMAP_CELLS * sizeof(Water));
  MemoryInputStream in(out.bytes.data(), out.bytes.count());
  loadWorldData(in);
  EXPECT_TRUE(grids_equal_bytes(out.bytes.data()));
  EXPECT_EQ(memcmp(tmpw, water, HMAP_CELLS * sizeof(Water)), 0);

  reset();
  FileInputStream f(path.c_str());
  loadWorldData(f);
  EXPECT_TRUE(grids_equal_bytes(out.bytes.data()));
  EXPECT_EQ(memcmp(tmpw, water, HMAP_CELLS * sizeof(Water)), 0);
}

TEST_F(World, ShortWorldDataFailsAndKeepsTheWorld) {
  fill_test_world(12);
  MemoryOutputStream out;
  saveWorldData(out);
  fill_test_world(13);
  MemoryOutputStream keep;
  saveWorldData(keep);
  MemoryInputStream in(out.bytes.data(), out.bytes.count() - 1);
  try {
    loadWorldData(in);
    FAIL() << "no exception";
  } catch (const InputStream::Exception& e) {
    EXPECT_STREQ(e.message, "read() outside of input memory region");
    EXPECT_EQ(e.position, 0);
  }
  EXPECT_TRUE(grids_equal_bytes(keep.bytes.data()));
}

// The land seen by the ray tracer: the module's height query, here a ramp
// rising along +x (height = x - 100) sampled from the test itself.
static int land_queries = 0;
static float sloped_land(vec4f p) {
  land_queries++;
  return v_x(p) - 100.0f;
}

TEST_F(World, RayTracingSamplesTheModulesLand) {
  get_land_height_at = sloped_land;
  float t = -1.0f;
  land_queries = 0;
  EXPECT_FALSE(trace_hmap_ray(v_make(0, 0, 0), v_make(1, 0, 0), t));
  EXPECT_EQ(land_queries, 0);  // a negative length is not sampled at all
  t = 1000.0f;
  EXPECT_FALSE(trace_hmap_ray(v_make(0, 5, 0), v_make(0, -1, 0), t));  // vertical
  EXPECT_EQ(land_queries, 0);

  // Horizontal ray at y = 5 along +x: land reaches y 5 at x 105. Samples are
  // every t / n = 1 unit, so the first hit is at s = 105.
  t = 200.0f;
  EXPECT_TRUE(trace_hmap_ray(v_make(0, 5, 0), v_make(1, 0, 0), t));
  EXPECT_EQ(t, 105.0f);
  // Along -x the land falls away: no hit and t unchanged.
  t = 50.0f;
  EXPECT_FALSE(trace_hmap_ray(v_make(0, 5, 0), v_make(-1, 0, 0), t));
  EXPECT_EQ(t, 50.0f);
  // A ray starting below the land hits at s = 0.
  t = 10.0f;
  EXPECT_TRUE(trace_hmap_ray(v_make(200, 5, 0), v_make(0, 0, 1), t));
  EXPECT_EQ(t, 0.0f);

  get_land_height_at = nullptr;  // no module bound: no land to hit
  t = 200.0f;
  EXPECT_FALSE(trace_hmap_ray(v_make(0, 5, 0), v_make(1, 0, 0), t));
}

// The bilinear surface at a point, and a brute-force maximum over an even
// sampling of a square (every 1/64 unit from its low edge, both ends included).
static float surface_at(int x, int z, bool fluid) {
  int i = hmap_index(x, z);
  return hmap[i] + (fluid ? fabsf(water[i].amount) : 0.0f);
}
static double bilinear_at(double x, double z, bool fluid) {
  int ix = (int)floor(x), iz = (int)floor(z);
  double fx = x - ix, fz = z - iz;
  return (1 - fx) * (1 - fz) * surface_at(ix, iz, fluid) + fx * (1 - fz) * surface_at(ix + 1, iz, fluid) +
         (1 - fx) * fz * surface_at(ix, iz + 1, fluid) + fx * fz * surface_at(ix + 1, iz + 1, fluid);
}
static float brute_square_max(float px, float pz, float half, bool fluid) {
  int n = (int)lrintf(2 * half * 64);
  double best = -DBL_MAX;
  for (int a = 0; a <= n; a++)
    for (int b = 0; b <= n; b++)
      best = fmax(best, bilinear_at(px - half + a / 64.0, pz - half + b / 64.0, fluid));
  return (float)best;
}

TEST_F(World, SquareDepthIsTheExactMaximumOfTheBilinearSurface) {
  fill_test_world(21);
  set_rnd_seed(5);
  for (int k = 0; k < 300; k++) {
    // Square edges on multiples of 1/64, so the sampling covers every grid
    // line crossing and corner exactly; some squares cross the map edge.
    float px = (float)rndi(-64 * 4, 64 * 260) / 64.0f;
    float pz = (float)rndi(-64 * 4, 64 * 260) / 64.0f;
    float half = (float)rndi(1, 64 * 3) / 64.0f;
    float py = rndf(-5, 5);
    bool fluid = k & 1;
    vec4f d = calcSquareDepth(v_make(px, py, pz), half, fluid);
    float want = brute_square_max(px, pz, half, fluid) - py;
    ASSERT_NEAR(v_x(d), want, 2e-5f) << px << " " << pz << " " << half << " " << fluid;
    EXPECT_EQ(v_y(d), v_x(d));
    EXPECT_EQ(v_z(d), v_x(d));
    EXPECT_EQ(v_w(d), v_x(d));
  }
  // Squares anywhere: no point inside lies above the reported maximum.
  for (int k = 0; k < 100; k++) {
    float px = rndf(-10, 300), pz = rndf(-10, 300), half = rndf(0.05f, 2.5f);
    float got = v_x(calcSquareDepth(v_make(px, 0, pz), half, true));
    for (int j = 0; j < 50; j++) {
      double x = px + half * srnd(), z = pz + half * srnd();
      ASSERT_LE(bilinear_at(x, z, true), got + 1e-4);
    }
  }
}

TEST_F(World, SquareDepthOfAFlatWorldWithWater) {
  water[hmap_index(3, 3)].amount = -2.0f;  // lava counts by its depth
  float d = v_x(calcSquareDepth(v_make(3, 1, 3), 0.5f, true));
  EXPECT_EQ(d, 1.0f);
  d = v_x(calcSquareDepth(v_make(3, 1, 3), 0.5f, false));
  EXPECT_EQ(d, -1.0f);
  // Half a cell away the corner values are bilinear: 2 * 0.25 at (3.5, 3.5).
  d = v_x(calcSquareDepth(v_make(4.0f, 0, 4.0f), 0.5f, true));
  EXPECT_EQ(d, 0.5f);
}

struct WalkRecorder : IWalkMapGrid {
  std::vector<float> calls;
  void on_map_grid_walk(float x, float z, float size) override {
    calls.push_back(x);
    calls.push_back(z);
    calls.push_back(size);
  }
};

TEST_F(World, WalkMapGridLevels) {
  struct {
    int level;
    size_t count;
    float second[3];  // the second call
    float last[3];
  } cases[] = {
      {8, 1, {0, 0, 256}, {0, 0, 256}},
      {12, 1, {0, 0, 256}, {0, 0, 256}},
      {6, 16, {64, 0, 64}, {192, 192, 64}},
      {0, 65536, {1, 0, 1}, {255, 255, 1}},
      {-1, 262144, {0.5f, 0, 0.5f}, {255.5f, 255.5f, 0.5f}},
  };
  for (auto& c : cases) {
    WalkRecorder w;
    walk_map_grid(c.level, w);
    ASSERT_EQ(w.calls.size(), c.count * 3) << c.level;
    size_t second = c.count > 1 ? 3 : 0, last = w.calls.size() - 3;
    for (int k = 0; k < 3; k++) {
      EXPECT_EQ(w.calls[second + k], c.second[k]) << c.level;
      EXPECT_EQ(w.calls[last + k], c.last[k]) << c.level;
    }
  }
}

struct PointRecorder : PointSink {
  std::vector<Point2> pts;
  void addPoint(float x, float z) override { pts.push_back(Point2(x, z)); }
};

TEST_F(World, CellPointsDrawUThenVInsideEachCell) {
  PointRecorder rec;
  GenMapCellPoints gen(&rec, 3);
  set_rnd_seed(8);
  walk_map_grid(7, gen);  // four cells of 128
  ASSERT_EQ(rec.pts.size(), 12u);
  set_rnd_seed(8);
  for (int cell = 0; cell < 4; cell++) {
    float x0 = (cell & 1) * 128.0f, z0 = (cell >> 1) * 128.0f;
    for (int k = 0; k < 3; k++) {
      float u = frnd(), v = frnd();
      const Point2& p = rec.pts[cell * 3 + k];
      EXPECT_EQ(p.x, x0 + 128.0f * u);
      EXPECT_EQ(p.y, z0 + 128.0f * v);
    }
  }
}
