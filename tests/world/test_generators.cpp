#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <vector>
#include "lib/utils.h"
#include "objects/gameobj_ops.h"
#include "world/heightmap.h"
#include "world/hmGen.h"
#include "world/noise.h"

using namespace HeightmapData;

namespace {

struct Generators : ::testing::Test {
  void SetUp() override {
    init_grids();
    reset();
    set_rnd_seed(1234);
    reseed_noise();
    get_land_height = nullptr;
  }
  void TearDown() override { get_land_height = nullptr; }
};

// Number of steps from one random state to another (up to limit).
long steps_between(uint64_t from, uint64_t to, long limit) {
  uint64_t saved = game_rnd_seed;
  game_rnd_seed = from;
  long n = 0;
  while (game_rnd_seed != to && n < limit) {
    game_rnd_step();
    n++;
  }
  game_rnd_seed = saved;
  return n;
}

void fill_random_land(uint64_t seed, float scale) {
  game_rnd_seed = seed;
  for (int i = 0; i < HMAP_CELLS; i++) hmap[i] = frnd() * scale;
}

}  // namespace

TEST_F(Generators, FastNoiseWithAmplitudeZeroIsFlatAndDrawsEveryPoint) {
  std::vector<float> grid(HMAP_CELLS, 7.0f);
  uint64_t before = game_rnd_seed;
  makeFastNoise(grid.data(), 0.0f, 0.5f);
  for (float v : grid) ASSERT_EQ(v, -0.5f);
  // One draw per written point: 4 points for each cell of the seven levels,
  // 4 * (4 + 16 + ... + 16384).
  EXPECT_EQ(steps_between(before, game_rnd_seed, 200000), 87376);
}

TEST_F(Generators, FastNoiseLevelsAddDecreasingDetail) {
  std::vector<float> a(HMAP_CELLS), b(HMAP_CELLS);
  set_rnd_seed(5);
  makeFastNoise(a.data(), 1.0f, 0.5f);
  set_rnd_seed(5);
  makeFastNoise(b.data(), 1.0f, 0.5f);
  EXPECT_EQ(memcmp(a.data(), b.data(), HMAP_CELLS * sizeof(float)), 0);  // same seed, same bits
  float mn = a[0], mx = a[0];
  for (float v : a) mn = fminf(mn, v), mx = fmaxf(mx, v);
  EXPECT_GT(mn, -0.5f - 1e-6f);  // draws only add: -0.5 + sum of 0.5^k at most
  EXPECT_LT(mx, -0.5f + 2.0f);
  EXPECT_GT(mx - mn, 0.3f);
}

// Stops through fatal (exit code 100) with the internal check's message.
#define EXPECT_GEN_ASSERT(statement, cond_regex)                                   \
  EXPECT_EXIT(statement, ::testing::ExitedWithCode(100),                           \
              "world/hmGen\\.cpp\\([0-9]+\\): failed ASSERT\\(" cond_regex "\\)")

TEST_F(Generators, ArgumentChecksAreFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_GEN_ASSERT(addFastNoise(2, 1, nullptr, -1, 255, 0.5f), "min_ht<=max_ht");
  EXPECT_GEN_ASSERT(addFastNoise(-1, 1, nullptr, -1, 255, 0.5f), "min_ht>=0");
  EXPECT_GEN_ASSERT(addSimplexNoise(3, 1, 4, 2, 0.5f), "min_ht<=max_ht");
  EXPECT_GEN_ASSERT(addSimplexNoise(0, 1, 3, 2, 0.5f), "\\(tile&\\(tile-1\\)\\)==0 && tile>0");
  EXPECT_GEN_ASSERT(addSimplexNoise(0, 1, 0, 2, 0.5f), "\\(tile&\\(tile-1\\)\\)==0 && tile>0");
  EXPECT_GEN_ASSERT(addVoronoiHills(6, 0, 1, 1), "\\(tile&\\(tile-1\\)\\)==0 && tile>0");
  EXPECT_GEN_ASSERT(genVoronoiFaults(-4, 0, 1, 0, 1, 1, 1), "\\(tile&\\(tile-1\\)\\)==0 && tile>0");
}

TEST_F(Generators, AddFastNoiseScalesColoursAndSetsGround) {
  for (int i = 0; i < HMAP_CELLS; i++) hmap[i] = 1.0f;
  ColorRamp ramp;
  ramp.constRamp(v_make(1.0f, 0.0f, 0.0f, 0.5f));  // red at half weight
  set_rnd_seed(77);
  uint64_t s = game_rnd_seed;
  addFastNoise(2.0f, 6.0f, &ramp, GT_SAND, 255, 0.5f);
  std::vector<float> n(HMAP_CELLS, 0.0f);
  game_rnd_seed = s;
  makeFastNoise(n.data(), 1.0f, 0.5f);
  for (int i = 0; i < HMAP_CELLS; i += 101) {
    ASSERT_EQ(hmap[i], 1.0f + (n[i] * 4.0f + 2.0f));
    ASSERT_EQ(info_ground(surface[i].info), GT_SAND);
  }
  // Grey 0x80 halfway to red: 191.5 and a little, so 0xC0; green and blue
  // halfway to 0: 0x40; the alpha stays 1.
  EXPECT_EQ(surface[0].color.u, 0xFFC04040u);
}

TEST_F(Generators, SimplexNoiseIsTheFractalTiledSumPerCell) {
  addSimplexNoise(1.0f, 5.0f, 8, 3, 0.5f);
  for (int z = 0; z < 256; z += 7)
    for (int x = 0; x < 256; x += 5) {
      float s = tiled_fractal_noise2(x * 8 / 256.0f, z * 8 / 256.0f, 8.0f, 3, nullptr, 0.5f);
      ASSERT_EQ(hmap[hmap_index(x, z)], fmaxf(0.0f, 0.286f * s + 0.5f) * 4.0f + 1.0f) << x << "," << z;
    }
}

TEST_F(Generators, VoronoiHills) {
  uint64_t s = game_rnd_seed;
  addVoronoiHills(16, 2.0f, 5.0f, 0.001f);  // below the distance to every feature
  for (int i = 0; i < HMAP_CELLS; i++) ASSERT_EQ(hmap[i], 0.0f);
  EXPECT_EQ(steps_between(s, game_rnd_seed, 1000), 256);  // one height per table entry

  addVoronoiHills(16, 2.0f, 5.0f, 0.8f);
  float mx = 0;
  for (int i = 0; i < HMAP_CELLS; i++) {
    ASSERT_GE(hmap[i], 0.0f);
    ASSERT_LE(hmap[i], 5.0f);
    mx = fmaxf(mx, hmap[i]);
  }
  EXPECT_GT(mx, 2.0f);
}

TEST_F(Generators, VoronoiFaultsFollowTheCellRule) {
  // The generator tabulates its warp noise per row and column; cell by cell
  // from the noise functions it gives the same bits.
  uint64_t s = game_rnd_seed;
  genVoronoiFaults(8, 1.0f, 9.0f, 0.7f, 2, 3, 2.5f);
  game_rnd_seed = s;
  float L[256];
  for (float& v : L) v = 1.0f + (9.0f - 1.0f) * frnd();
  float l = 8 / 256.0f, P = 16.0f, o = P / 256.0f;
  for (int z = 0; z < 256; z += 3)
    for (int x = 0; x < 256; x += 5) {
      float wx = 0.7f * tiled_fractal_noise2(x * o, z * o, P, 3, nullptr, 0.5f);
      float wz = 0.7f * tiled_fractal_noise2(z * o, x * o, P, 3, nullptr, 0.5f);
      float d2[4];
      int id[4];
      tiled_voronoi_noise2_near4(x * l + wx, z * l + wz, 3, d2, id, nullptr);
      auto level = [&](int i) { return L[noise_perm[noise_perm[(i >> 16) & 255] + (i & 255)]]; };
      float E = level(id[0]), I = level(id[1]);
      float f = (sqrtf(d2[1]) - sqrtf(d2[0])) * (2.5f / l) / fmaxf(fabsf(E - I), 0.1f);
      float want = f > 1.0f ? E : ((E - I) * f + E + I) / 2.0f;
      ASSERT_EQ(hmap[hmap_index(x, z)], want) << x << "," << z;
    }
}

TEST_F(Generators, VoronoiFaultsWithEqualLevelsAreFlat) {
  uint64_t s = game_rnd_seed;
  genVoronoiFaults(8, 3.0f, 3.0f, 0.5f, 2, 3, 4.0f);
  for (int i = 0; i < HMAP_CELLS; i++) ASSERT_EQ(hmap[i], 3.0f);
  EXPECT_EQ(steps_between(s, game_rnd_seed, 1000), 256);
  reset();
  genVoronoiFaults(8, 0.0f, 10.0f, 0.5f, 2, 3, 4.0f);
  float mn = 1e9f, mx = -1e9f;
  for (int i = 0; i < HMAP_CELLS; i++) mn = fminf(mn, hmap[i]), mx = fmaxf(mx, hmap[i]);
  EXPECT_GE(mn, 0.0f);
  EXPECT_LE(mx, 10.0f);
  EXPECT_GT(mx - mn, 3.0f);
}

TEST_F(Generators, FaultChangesOnlyTheEllipseAndDrawsOnce) {
  ColorRamp ramp;
  ramp.constRamp(v_make(0, 0, 1, 1));
  for (int i = 0; i < HMAP_CELLS; i++) surface[i].info = info_with_cover(surface[i].info, ST_GRASS);
  uint64_t s = game_rnd_seed;
  Point2 centre(100, 120);
  genFault(centre, Point2(3, 0), 8.0f, 0.6f, 10.0f, &ramp, GT_SOIL, 255, hmap);
  EXPECT_EQ(steps_between(s, game_rnd_seed, 10), 1);
  int face = 0;
  for (int z = 0; z < 256; z++)
    for (int x = 0; x < 256; x++) {
      float dx = wrap_world_coord(x - centre.x, 0), dz = wrap_world_coord(z - centre.y, 0);
      float G = (dx / 64) * (dx / 64) + (dz / 128) * (dz / 128);
      const Surface& sf = surface[hmap_index(x, z)];
      if (G >= 1.0f) {
        ASSERT_EQ(hmap[hmap_index(x, z)], 0.0f) << x << "," << z;
        ASSERT_EQ(info_cover(sf.info), ST_GRASS);
      } else if (info_ground(sf.info) == GT_SOIL) {
        face++;  // the scarp face: coloured blue, cover cleared
        ASSERT_EQ(sf.color.u, 0xFF0000FFu);
        ASSERT_EQ(info_cover(sf.info), ST_OPEN);
      }
    }
  EXPECT_GT(face, 50);
  // dir points to +x: away from the scarp that side rises by level * height
  // * F, the other sinks by (1 - level) * height * F.
  float s40 = 1.0f - (40.0f / 64) * (40.0f / 64), F = s40 * s40 * (3 - 2 * s40);
  EXPECT_NEAR(hmap[hmap_index(140, 120)], 0.6f * 8.0f * F, 1e-4f);
  EXPECT_NEAR(hmap[hmap_index(60, 120)], -0.4f * 8.0f * F, 1e-4f);
}

TEST_F(Generators, CraterOnlyLowers) {
  fill_random_land(3, 6.0f);
  std::vector<float> before(hmap, hmap + HMAP_CELLS);
  genCrater(Point2(250.5f, 3.2f), 10.0f, 1.5f, hmap);  // across the map corner
  int lowered = 0;
  for (int i = 0; i < HMAP_CELLS; i++) {
    ASSERT_LE(hmap[i], before[i]);
    lowered += hmap[i] < before[i];
  }
  EXPECT_GT(lowered, 200);
  EXPECT_LT(hmap[hmap_index(250, 3)], before[hmap_index(250, 3)] - 5.0f);
  EXPECT_EQ(hmap[hmap_index(200, 3)], before[hmap_index(200, 3)]);  // beyond twice the radius
  genCrater(Point2(120, 120), 0.0f, 1.0f, hmap);  // no cells: nothing to dig
  EXPECT_EQ(hmap[hmap_index(120, 120)], before[hmap_index(120, 120)]);
}

TEST_F(Generators, HousesBuildOnlyOnUnmarkedGround) {
  // Template 1 (type -2) and 2 (type 0, 3, ...) are the same 4 x 4 house.
  for (uint32_t mark : {1u, 2u, 4u, 8u}) {
    reset();
    mark_rect(101, 101, 101, 101, mark, 0);
    placeHouse(100, 100, 0, hmap, false);
    EXPECT_EQ(hmap[hmap_index(100, 100)], 0.0f) << mark;
    EXPECT_EQ(info_ground(surface[hmap_index(100, 100)].info), GT_ROCK);
  }
  reset();
  mark_rect(98, 98, 102, 102, MARK_OBJ, 0);
  placeHouse(100, 100, -2, hmap, false);  // negative types always build
  EXPECT_TRUE(test_rect_mark(98, 98, 102, 102, MARK_HOUSE, MARK_HOUSE));
  // Heights rows from the far side: 00000, 08880, 08980, 08880, 00000.
  EXPECT_EQ(hmap[hmap_index(100, 100)], 9 * 6.75f / 9.0f);  // the middle point
  EXPECT_EQ(hmap[hmap_index(99, 99)], 8 * 6.75f / 9.0f);
  EXPECT_EQ(hmap[hmap_index(98, 98)], 0.0f);
  // Tile rows from the far side: bdcb, caad, daac, bcdb; rotations 5666,
  // 5563, 5033, 0003. The near row (z0) is the last string row.
  uint32_t info = surface[hmap_index(98, 98)].info;
  EXPECT_EQ(info_ground(info), GT_HOUSE);
  EXPECT_EQ(info_tile(info), 'b' - 'a');
  EXPECT_EQ(info_tile_rot(info), 0);
  EXPECT_EQ(info_marks(info), (uint32_t)(MARK_OBJ | MARK_HOUSE));  // marks kept
  info = surface[hmap_index(101, 101)].info;  // far row, last column: 'b', rotation 6
  EXPECT_EQ(info_tile(info), 'b' - 'a');
  EXPECT_EQ(info_tile_rot(info), 6);
  info = surface[hmap_index(99, 100)].info;  // second string row "caad"/"5563", column 1
  EXPECT_EQ(info_tile(info), 'a' - 'a');
  EXPECT_EQ(info_tile_rot(info), 5);
  EXPECT_EQ(surface[hmap_index(98, 98)].top_color.u, 0u);

  // Each template's footprint, and keep_mean keeping the mean height.
  struct {
    int type, w, d;
  } cases[] = {{-1, 18, 18}, {-2, 4, 4}, {3, 4, 4}, {4, 4, 10}, {5, 10, 4}, {-3, 4, 10}};
  for (auto& c : cases) {
    reset();
    for (int i = 0; i < HMAP_CELLS; i++) hmap[i] = 2.0f;
    placeHouse(50, 60, c.type, hmap, true);
    int x0 = 50 - c.w / 2, z0 = 60 - c.d / 2;
    EXPECT_TRUE(test_rect_mark(x0, z0, x0 + c.w, z0 + c.d, MARK_HOUSE, MARK_HOUSE)) << c.type;
    EXPECT_FALSE(test_rect_mark(x0 - 1, z0, x0 - 1, z0, MARK_HOUSE, MARK_HOUSE)) << c.type;
    double sum = 0;
    for (int z = z0; z <= z0 + c.d; z++)
      for (int x = x0; x <= x0 + c.w; x++) sum += hmap[hmap_index(x, z)];
    EXPECT_NEAR(sum / ((c.w + 1) * (c.d + 1)), 2.0, 1e-4) << c.type;
  }
}

TEST_F(Generators, Brushes) {
  circle_brush(100, 100, 4.0f, 2.0f, 1.0f, hmap);  // power 1: a paraboloid
  EXPECT_EQ(hmap[hmap_index(100, 100)], 2.0f);
  EXPECT_FLOAT_EQ(hmap[hmap_index(102, 100)], 2.0f * (1.0f - 4.0f / 16.0f));
  EXPECT_EQ(hmap[hmap_index(104, 100)], 0.0f);  // on the circle: outside
  circle_brush(100, 100, -1.0f, 2.0f, 1.0f, hmap);
  circle_brush(100, 100, 0.0f, 2.0f, 1.0f, hmap);
  EXPECT_EQ(hmap[hmap_index(100, 100)], 2.0f);
  circle_brush(0, 0, 2.0f, -1.0f, 2.0f, hmap);  // lowering, across the edge
  EXPECT_EQ(hmap[hmap_index(0, 0)], -1.0f);
  EXPECT_FLOAT_EQ(hmap[hmap_index(255, 0)], -(1.0f - 0.0625f));

  flatten_circle(100, 100, 4.0f, 10.0f, 0.5f, 1.0f, hmap);
  EXPECT_EQ(hmap[hmap_index(100, 100)], 2.0f + 0.5f * 8.0f);
  flatten_circle(100, 100, 0.0f, 10.0f, 0.5f, 1.0f, hmap);
  EXPECT_EQ(hmap[hmap_index(100, 100)], 6.0f);
}

static float plane_height(float x, float z) { return x * 0.5f; }

TEST_F(Generators, AverageCircleHeightCountsTheCentreOnce) {
  for (int i = 0; i < HMAP_CELLS; i++) hmap[i] = 1.0f;
  hmap[hmap_index(20, 20)] = 6.0f;
  // Without a module the centre height is the grid's own.
  EXPECT_EQ(get_average_circle_height(20, 20, 0.0f, hmap), 6.0f);
  EXPECT_EQ(get_average_circle_height(20, 20, -2.0f, hmap), 6.0f);
  // r 1.5: the centre sample plus the nine cells of the disc.
  EXPECT_FLOAT_EQ(get_average_circle_height(20, 20, 1.5f, hmap), (6.0f + 6.0f + 8.0f) / 10.0f);
  // With the module bound its land height is the centre sample.
  get_land_height = plane_height;
  EXPECT_FLOAT_EQ(get_average_circle_height(20, 20, 1.5f, hmap), (10.0f + 6.0f + 8.0f) / 10.0f);
}
