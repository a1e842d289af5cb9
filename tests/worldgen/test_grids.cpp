// The script grid classes: through the world script machine where the
// binding matters, natively where a brute-force reference checks the fast
// word-at-a-time or ring-search code.
#include <cmath>
#include <random>
#include <string>
#include "tests/worldgen/worldgen_fixture.h"
#include "world/hmGen.h"
#include "world/scriptGrids.h"

using namespace HeightmapData;

namespace {

struct Grids : WorldScriptTest {
  void SetUp() override {
    WorldScriptTest::SetUp();
    ASSERT_EQ(start("function generate_world(name) {}"), "");
  }
};

// ---- native references

std::unique_ptr<BitMap> random_map(uint32_t seed, int percent) {
  std::mt19937 rng(seed);
  auto m = std::make_unique<BitMap>();
  m->fill(false);
  // Blobs, so that regions and boxes are not trivial.
  for (int b = 0; b < 6; b++) {
    int cx = rng() & 255, cz = rng() & 255, r = 4 + rng() % 30;
    for (int dz = -r; dz <= r; dz++)
      for (int dx = -r; dx <= r; dx++)
        if (dx * dx + dz * dz <= r * r && (int)(rng() % 100) < percent + 40) m->set(cx + dx, cz + dz, true);
  }
  return m;
}

// Square rings around each cell until one holds a cell of the other state.
float brute_skeleton(const BitMap& m, int x, int z) {
  bool s = m.get(x, z);
  for (int i = 1; i <= 128; i++) {
    int64_t best = -1;
    for (int dz = -i; dz <= i; dz++)
      for (int dx = -i; dx <= i; dx++) {
        if (std::max(std::abs(dx), std::abs(dz)) != i) continue;
        if (m.get(x + dx, z + dz) != s) {
          int64_t d2 = dx * dx + dz * dz;
          if (best < 0 || d2 < best) best = d2;
        }
      }
    if (best >= 0) {
      float v = sqrtf((float)best) - 0.5f;
      return s ? v : -v;
    }
  }
  float v = sqrtf(2147483647.0f) - 0.5f;
  return s ? v : -v;
}

TEST(GridsNative, FastSkeletonMatchesTheRingSearch) {
  auto mask = std::make_unique<HmapMask>();
  for (uint32_t seed : {1u, 2u}) {
    auto m = random_map(seed, 50);
    fast_skeleton_map(*m, *mask);
    for (int z = 0; z < 256; z += 5)
      for (int x = 0; x < 256; x += 3)
        ASSERT_EQ(mask->getraw(x, z), brute_skeleton(*m, x, z)) << seed << " at " << x << "," << z;
  }
  // A single clear cell: distances measured across the map edge.
  auto m = std::make_unique<BitMap>();
  m->fill(true);
  m->set(0, 0, false);
  fast_skeleton_map(*m, *mask);
  EXPECT_EQ(mask->getraw(0, 0), -0.5f);
  EXPECT_EQ(mask->getraw(253, 254), brute_skeleton(*m, 253, 254));
  EXPECT_FLOAT_EQ(mask->getraw(128, 128), sqrtf(128 * 128 * 2) - 0.5f);
}

TEST(GridsNative, OverlapsCountWhatABruteForceCounts) {
  for (uint32_t seed : {4u, 5u}) {
    auto a = random_map(seed, 30), b = random_map(seed + 10, 60);
    auto ia = std::make_unique<IntMap>(), ib = std::make_unique<IntMap>();
    for (int i = 0; i < HMAP_CELLS; i++) {
      ia->v[i] = a->getIndex(i) ? (int)(i % 7) + 1 : 0;
      ib->v[i] = b->getIndex(i) ? -3 : 0;
    }
    for (auto [dx, dz] : {std::pair{0, 0}, {17, -5}, {-130, 200}, {255, 1}}) {
      int want = 0, want_mask = 0;
      for (int z = 0; z < 256; z++)
        for (int x = 0; x < 256; x++) {
          bool p = a->get(x, z), q = b->get(x - dx, z - dz);
          want += p && q;
          want_mask += p != q;
        }
      EXPECT_EQ(a->testOverlap(*b, dx, dz), want) << dx << "," << dz;
      EXPECT_EQ(ia->testOverlap(*ib, dx, dz), want) << dx << "," << dz;
      EXPECT_EQ(a->testMask(*b, 6, dx, dz), want_mask);
    }
  }
}

TEST(GridsNative, RandomFillGrowsAConnectedPartOfTheMap) {
  auto m = random_map(9, 70);
  int start = m->findPixel(true);
  auto region = std::make_unique<BitMap>(), fill = std::make_unique<BitMap>(),
       fill_region = std::make_unique<BitMap>();
  m->floodFill(start & 255, start >> 8, *region);
  int want = std::min(region->area(), 300);
  m->randomFill(start & 255, start >> 8, 300, *fill);
  EXPECT_EQ(fill->area(), want);
  EXPECT_EQ(fill->testMask(*region, 2, 0, 0), 0);  // nothing outside the region
  EXPECT_TRUE(fill->isContinuous());
  // From a clear cell nothing grows.
  int clear = m->findPixel(false);
  m->randomFill(clear & 255, clear >> 8, 50, *fill);
  EXPECT_EQ(fill->area(), 0);
}

// ---- through the script machine

TEST_F(Grids, HmapMaskConstructionAndReads) {
  struct Case {
    const char* expr;
    const char* result;
  };
  ASSERT_EQ(run("a <- HmapMask(1.5); b <- HmapMask(function(x, z) { return x; });"), "");
  const Case cases[] = {
      {"a.calcMinMax()[0] == 1.5 && a.calcMinMax()[1] == 1.5", "true"},
      {"b.getraw(77, 3)", "77"},
      {"b.getraw(256 + 77, -1)", "77"},
      {"b.calcMinMax()[1]", "255"},
      {"b.get(10.5, 3.25)", "10.5"},
      {"b.get(255.5, 0)", "127.5"},  // between column 255 and column 0
      {"HmapMask.fromVoronoiHills(3, 0, 1, 1)", "ERROR: tile must be power of 2 in fromVoronoiHills()"},
      {"HmapMask.fromVoronoiFaults(0, 0, 1, 1, 1, 1, 1)",
       "ERROR: tile must be power of 2 in fromVoronoiFaults()"},
  };
  for (const Case& c : cases) EXPECT_EQ(eval(c.expr), c.result) << c.expr;
  EXPECT_EQ(eval("HmapMask(\"x\")").rfind("ERROR: ", 0), 0u);
  // Rows nearest(0.4 + 0.5) ... nearest(1.6 - 0.5), columns likewise: (10, 1) and (11, 1).
  ASSERT_EQ(run("b.processRect(9.6, 0.4, 11.4, 1.6, function(x, z, v) { return -v - z; });"), "");
  for (auto [x, z, v] : {std::tuple{10, 1, -11}, {11, 1, -12}, {9, 1, 9}, {12, 1, 12}, {10, 0, 10}, {10, 2, 10}})
    EXPECT_EQ(eval("b.getraw(" + std::to_string(x) + ", " + std::to_string(z) + ")"), std::to_string(v));
}

TEST_F(Grids, MasksMadeFromGeneratorsAddWhatTheGeneratorsAdd) {
  reset();
  game_rnd_seed = 77;
  reseed_noise();
  ASSERT_EQ(run("m <- HmapMask.fromVoronoiHills(8, 1, 5, 0.9);"), "");
  uint64_t after_mask = game_rnd_seed;
  HmapMask* m = (HmapMask*)sqbind::get_instance(vm(), (sq_pushobject(vm(), sqbind::getGlobal(vm(), "m").obj), -1),
                                                sqbind::class_tag<HmapMask>());
  sq_poptop(vm());
  game_rnd_seed = 77;
  reseed_noise();
  addVoronoiHills(8, 1, 5, 0.9f);
  EXPECT_EQ(game_rnd_seed, after_mask);
  EXPECT_EQ(memcmp(m->v, hmap, sizeof(m->v)), 0);
}

TEST_F(Grids, BoundsOnTheTorus) {
  struct Case {
    const char* fill;  // body of a (x, z) -> bool function
    const char* bounds;
  };
  const Case cases[] = {
      {"(x >= 250 || x <= 3) && z >= 10 && z <= 12", "250 10 10 3"},
      {"false", "0 0 0 0"},
      {"true", "0 0 256 256"},
      {"x == 5 && z == 200", "5 200 1 1"},
      {"z >= 254 || z <= 1", "0 254 256 4"},
      {"(x == 0 || x == 128) && z == 7", "128 7 129 1"},  // equal gaps: the first wins
  };
  for (const Case& c : cases) {
    std::string fn = std::string("function(x, z) { return ") + c.fill + "; }";
    ASSERT_EQ(run("bm <- BitMap(" + fn + "); im <- IntMap(function(x, z) { return (" + fn + ")(x, z) ? -4 : 0; });"), "");
    for (const char* map : {"bm", "im"})
      EXPECT_EQ(eval(std::string("(function() { local r = \"\"; foreach (v in ") + map +
                     ".bounds()) r += \" \" + v; return r.slice(1); })()"),
                c.bounds)
          << map << ": " << c.fill;
  }
  // The bounding circle of a shape across the corner of the map.
  ASSERT_EQ(run("bm <- BitMap(function(x, z) { return (x >= 254 || x <= 1) && (z >= 254 || z <= 1); });"), "");
  EXPECT_EQ(eval("bm.boundingCircle()[0]"), "256");
  EXPECT_EQ(eval("bm.boundingCircle()[2] == sqrt(8)"), "true");
  EXPECT_EQ(eval("bm.area()"), "16");
}

TEST_F(Grids, BitwiseTruthTables) {
  ASSERT_EQ(run("a <- BitMap(function(x, z) { return x < 128; }); b <- BitMap(function(x, z) { return z < 128; });"), "");
  struct Case {
    int op;
    int area;
  };
  const Case cases[] = {{0, 0},      {1, 16384},  {2, 16384},  {4, 16384},  {6, 32768},
                        {8, 16384},  {14, 49152}, {15, 65536}, {9, 32768}};
  for (const Case& c : cases) {
    std::string op = std::to_string(c.op);
    EXPECT_EQ(eval("a.bitwise(b, " + op + ", 0, 0).area()"), std::to_string(c.area)) << "op " << op;
    EXPECT_EQ(eval("a.testMask(b, " + op + ", 0, 0)"), std::to_string(c.area)) << "op " << op;
  }
  // Intersection with a shifted copy of itself, and the null cases.
  EXPECT_EQ(eval("a.bitwise(a, 8, 128, 0).area()"), "0");
  EXPECT_EQ(eval("a.bitwise(a, 8, 64, 99).area()"), "16384");
  EXPECT_EQ(eval("a.shiftedCopy(64, 99).testOverlap(a, 0, 0)"), "16384");
  EXPECT_EQ(eval("a.bitwise(null, 8, 0, 0) == null"), "true");
  EXPECT_EQ(eval("a.testMask(null, 8, 0, 0)"), "0");
  ASSERT_EQ(run("c <- a.makeCopy(); c.bitwiseInplace(c, 6, 1, 0);"), "");
  EXPECT_EQ(eval("c.area()"), "512");  // the two edges of the half
  ASSERT_EQ(run("c.bitwiseInplace(null, 0, 0, 0);"), "");
  EXPECT_EQ(eval("c.area()"), "512");
  EXPECT_EQ(eval("a.inverse().testMask(a, 8, 0, 0)"), "0");
}

TEST_F(Grids, ErodeAndExpandOfOneCell) {
  ASSERT_EQ(run("one <- BitMap(0); one.set(0, 0, true); grown <- one.expand();"), "");
  EXPECT_EQ(eval("one.erode().area()"), "0");
  EXPECT_EQ(eval("grown.area()"), "5");
  EXPECT_EQ(eval("grown.get(0, 0) + grown.get(255, 0) + grown.get(1, 0) + grown.get(0, 255) + grown.get(0, 1)"), "5");
  EXPECT_EQ(eval("grown.get(1, 1)"), "0");
  EXPECT_EQ(eval("grown.erode().area()"), "1");
  EXPECT_EQ(eval("BitMap(1).erode().area()"), "65536");
}

TEST_F(Grids, RandomPixelsAndSearches) {
  game_rnd_seed = 1234;
  EXPECT_EQ(eval("BitMap(0).randomPixel()"), "-1");
  EXPECT_EQ(game_rnd_seed, 1234u);  // nothing drawn
  ASSERT_EQ(run("m <- BitMap(function(x, z) { return x == 7 && z >= 100 && z < 110; });"), "");
  game_rnd_seed = 1234;
  uint64_t s = 1234;
  s = s * 6364136223846793005ull + 1442695040888963407ull;
  int n = (int)(((uint64_t)10 * (uint32_t)(s >> 32)) >> 32);  // rndi(0, 9)
  EXPECT_EQ(eval("m.randomPixel()"), std::to_string(((100 + n) << 8) | 7));
  EXPECT_EQ(game_rnd_seed, s);
  EXPECT_EQ(eval("m.findPixel(true)"), std::to_string((100 << 8) | 7));
  EXPECT_EQ(eval("m.findPixel(false)"), "0");
  EXPECT_EQ(eval("BitMap(1).findPixel(false)"), "-1");
  EXPECT_EQ(eval("m.isContinuous()"), "true");
  EXPECT_EQ(eval("BitMap(0).isContinuous()"), "true");
  ASSERT_EQ(run("m.set(100, 100, true);"), "");
  EXPECT_EQ(eval("m.isContinuous()"), "false");
  EXPECT_EQ(eval("m.floodFillMask(7, 105).area()"), "10");
  EXPECT_EQ(eval("m.floodFillMask(8, 105).area()"), "0");
  // A region across the edge is one region.
  EXPECT_EQ(eval("BitMap(function(x, z) { return x >= 250 || x < 3; }).isContinuous()"), "true");
}

TEST_F(Grids, PlaceCirclesSpendsItsBudgetWithoutMovingAFittingCircle) {
  ASSERT_EQ(run("placed <- []; full <- BitMap(1);"), "");
  game_rnd_seed = 99;
  uint64_t s = 99;
  s = s * 6364136223846793005ull + 1442695040888963407ull;
  int start = (int)((uint32_t)(s >> 32) % 65536u);
  for (int i = 0; i < 140; i++) s = s * 6364136223846793005ull + 1442695040888963407ull;
  ASSERT_EQ(run("full.placeCircles([3.0], function(x, z) { placed.append(x); placed.append(z); });"), "");
  EXPECT_EQ(game_rnd_seed, s);  // one start draw and 40 * 1 + 100 candidates
  EXPECT_EQ(eval("placed[0]"), std::to_string(start & 255));
  EXPECT_EQ(eval("placed[1]"), std::to_string(start >> 8));
  // Nothing at all for no circles or an empty map.
  game_rnd_seed = 5;
  ASSERT_EQ(run("placed.clear(); full.placeCircles([], function(x, z) { placed.append(x); });"
                "BitMap(0).placeCircles([1, 2], function(x, z) { placed.append(x); });"),
            "");
  EXPECT_EQ(game_rnd_seed, 5u);
  EXPECT_EQ(eval("placed.len()"), "0");
}

TEST_F(Grids, PlacedCirclesEndInsideTheRegionAndApart) {
  game_rnd_seed = 4242;
  ASSERT_EQ(run("area <- BitMap(function(x, z) { return x >= 20 && x < 80 && z >= 30 && z < 90; });"
                "cs <- []; area.placeCircles([4, 4, 4], function(x, z) { cs.append([x, z]); });"),
            "");
  ASSERT_EQ(eval("cs.len()"), "3");
  for (int i = 0; i < 3; i++) {
    std::string c = "cs[" + std::to_string(i) + "]";
    EXPECT_EQ(eval(c + "[0] >= 23 && " + c + "[0] <= 76 && " + c + "[1] >= 33 && " + c + "[1] <= 86"), "true") << c;
  }
  EXPECT_EQ(eval("(function() { for (local i = 0; i < 3; i++) for (local j = i + 1; j < 3; j++) {"
                 " local dx = cs[i][0] - cs[j][0], dz = cs[i][1] - cs[j][1];"
                 " if (dx * dx + dz * dz < 64) return false; } return true; })()"),
            "true");
}

TEST_F(Grids, PlacePointsSpreadsOverTheSetCells) {
  game_rnd_seed = 31;
  ASSERT_EQ(run("pts <- []; BitMap(function(x, z) { return z == 40; }).placePoints(4, function(x, z) { pts.append([x, z]); });"), "");
  ASSERT_EQ(eval("pts.len()"), "4");
  // All on the row and all different.
  EXPECT_EQ(eval("(function() { foreach (p in pts) if (p[1] != 40) return false;"
                 " for (local i = 0; i < 4; i++) for (local j = i + 1; j < 4; j++)"
                 " if (pts[i][0] == pts[j][0]) return false; return true; })()"),
            "true");
  uint64_t after = game_rnd_seed;
  game_rnd_seed = 31;
  ASSERT_EQ(run("pts2 <- []; BitMap(function(x, z) { return z == 40; }).placePoints(4, function(x, z) { pts2.append([x, z]); });"), "");
  EXPECT_EQ(game_rnd_seed, after);
  EXPECT_EQ(eval("pts.len() == pts2.len() && pts[3][0] == pts2[3][0]"), "true");
}

TEST_F(Grids, SkeletonMapsOfFullAndEmptyMapsDrawNothing) {
  game_rnd_seed = 8;
  EXPECT_EQ(eval("make_skeleton_map(BitMap(1), 0.5).calcMinMax()[0]"), "1");
  EXPECT_EQ(eval("make_skeleton_map(BitMap(1), 0.5).calcMinMax()[1]"), "1");
  EXPECT_EQ(eval("make_skeleton_map(BitMap(0), 0.5).calcMinMax()[0]"), "-1");
  EXPECT_EQ(game_rnd_seed, 8u);
  // A square: positive inside, growing towards the middle, negative outside.
  ASSERT_EQ(run("sq <- BitMap(function(x, z) { return x >= 100 && x <= 120 && z >= 100 && z <= 120; });"
                "sk <- make_skeleton_map(sq, 0.0); fs <- fast_skeleton_map(sq);"),
            "");
  EXPECT_EQ(eval("sk.getraw(110, 110) > 9.5 && sk.getraw(110, 110) < 11"), "true");
  EXPECT_EQ(eval("sk.getraw(100, 110) >= 0 && sk.getraw(100, 110) < 0.5"), "true");
  EXPECT_EQ(eval("sk.getraw(90, 110) <= -9 && sk.getraw(90, 110) > -10"), "true");
  EXPECT_EQ(eval("fs.getraw(110, 110)"), "10.5");
  EXPECT_EQ(eval("fs.getraw(99, 110)"), "-0.5");
}

TEST_F(Grids, IntMapCellsAndIndices) {
  struct Case {
    const char* expr;
    const char* result;
  };
  ASSERT_EQ(run("im <- IntMap(0); im.set(300, -2, 9); im[make_map_index(4, 5)] = 11;"), "");
  const Case cases[] = {
      {"make_map_index(300, 2)", "556"},
      {"map_index_x(556)", "44"},
      {"map_index_z(556)", "2"},
      {"map_index_z(-1)", "255"},
      {"im.get(44, 254)", "9"},
      {"im[(254 << 8) | 44]", "9"},
      {"im.get(4, 5)", "11"},
      {"im[65536 + 1284]", "11"},
      {"im.testOverlap(null, 0, 0)", "0"},
      {"im.testOverlap(im, 0, 0)", "2"},
      {"im.testOverlap(im, 1, 0)", "0"},
  };
  for (const Case& c : cases) EXPECT_EQ(eval(c.expr), c.result) << c.expr;
}

TEST_F(Grids, Vectors) {
  struct Case {
    const char* expr;
    const char* result;
  };
  const Case cases[] = {
      {"vec4f(1, 2, 3, 4)[2]", "3"},
      {"vec4f(2.5)[3]", "2.5"},
      {"vec4f(1, 2, 3, 4)[4]", "ERROR: vec4f index out of range"},
      {"(vec4f(1, 2, 3, 4) + vec4f(1))[0]", "2"},
      {"(vec4f(1, 2, 3, 4) - [1, 1, 1, 1])[3]", "3"},
      {"(vec4f(1, 2, 3, 4) * 2)[1]", "4"},
      {"(vec4f(1, 2, 3, 4) / vec4f(2))[0]", "0.5"},
      {"(-vec4f(1, 2, 3, 4))[1]", "-2"},
      {"vec4f(1, 2, 3, 4) <=> vec4f(1, 2, 3, 4)", "0"},
      {"vec4f(2, 3, 4, 5) <=> vec4f(1, 2, 3, 4)", "1"},
      {"vec4f(2, 3, 4, 4) <=> vec4f(1, 2, 3, 4)", "-1"},
      {"vec4f(1, 2, 3, 4) > vec4f(0)", "true"},
      {"getx(make4f(7, 8, 9, 1)) + gety(make4f(7, 8, 9, 1)) + getz(make4f(7, 8, 9, 1))", "24"},
      {"make4f(3)[3]", "3"},
      {"dot3(vec4f(1, 2, 3, 100), vec4f(4, 5, 6, 100))", "32"},
      {"len3Sq(vec4f(1, 2, 2, 9))", "9"},
      {"len3(vec4f(0, 3, 4, 9))", "5"},
      {"norm3(vec4f(0, 3, 4, 10))[3]", "2"},
      {"norm3(vec4f(0))[0]", "0"},
      {"fabs(norm3a(vec4f(0, 3, 4, 0))[2] - 0.8) < 0.002", "true"},
      {"cross(vec4f(1, 0, 0, 5), vec4f(0, 1, 0, 5))[2]", "1"},
      {"cross(vec4f(1, 0, 0, 5), vec4f(0, 1, 0, 5))[3]", "0"},
      {"vec4f(1, 2, 3, 4).tostring()", "vec4f(1, 2, 3, 4)"},
  };
  for (const Case& c : cases) EXPECT_EQ(eval(c.expr), c.result) << c.expr;
  ASSERT_EQ(run("v <- vec4f(0); v[1] = 6.5;"), "");
  EXPECT_EQ(eval("v[1]"), "6.5");
  EXPECT_EQ(eval("(function() { v[7] = 1; return 0; })()"), "ERROR: vec4f index out of range");
}

TEST_F(Grids, ApplyingMasksAndRepainting) {
  reset();
  struct Case {
    const char* code;
    const char* error;
  };
  const Case errors[] = {
      {"apply_height_mask(null, null);", "no mask and no func in apply_height_mask()"},
      {"apply_water_mask(null, null);", "no mask and no func in apply_water_mask()"},
      {"repaint_land(null);", "null function in repaint_land()"},
      {"repaint_land(function(x, z, c, t) { return 1; });",
       "repaint_land() function must return an array of 2 or 4 entries"},
      {"apply_height_mask(BitMap(1), null);", "getInst: invalid argument type"},
  };
  testing::internal::CaptureStdout();
  for (const Case& c : errors) EXPECT_EQ(run(c.code), c.error) << c.code;
  testing::internal::GetCapturedStdout();

  ASSERT_EQ(run("apply_height_mask(HmapMask(function(x, z) { return x; }), null);"
                "apply_height_mask(HmapMask(2), function(h, m) { return h * m; });"
                "apply_height_mask(null, function(h) { return h + 1; });"
                "apply_water_mask(HmapMask(function(x, z) { return z; }), function(w, m) { return m > 100 ? -m : w; });"),
            "");
  EXPECT_EQ(hmap[hmap_index(10, 3)], 21.0f);
  EXPECT_EQ(water[hmap_index(0, 101)].amount, -101.0f);
  EXPECT_EQ(water[hmap_index(0, 100)].amount, 0.0f);

  ASSERT_EQ(run("repaint_land(function(x, z, c, t) {"
                "  return x < 128 ? [0xFF102030, GT_SAND] : [vec4f(1, 0, 0, 1), 17, [0, 1, 0, 0.5], ST_GRASS]; });"),
            "");
  const Surface& a = surface[hmap_index(5, 5)];
  const Surface& b = surface[hmap_index(200, 5)];
  EXPECT_EQ(a.color.u, 0xFF102030u);
  EXPECT_EQ(a.top_color.u, 0u);
  EXPECT_EQ(info_ground(a.info), GT_SAND);
  EXPECT_EQ(info_cover(a.info), ST_OPEN);
  EXPECT_EQ(b.color.u, 0xFFFF0000u);
  EXPECT_EQ(b.top_color.u, 0x8000FF00u);
  EXPECT_EQ(info_ground(b.info), 1);  // 17 & 15
  EXPECT_EQ(info_cover(b.info), ST_GRASS);

  // The colour as four weights of the four given colours.
  ASSERT_EQ(run("recolor_land4(0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0xFFFFFFFF);"), "");
  EXPECT_EQ(surface[hmap_index(200, 5)].color.u, 0xFF8080FFu);  // red 1, alpha 1: blue and white halves
  EXPECT_EQ(info_ground(surface[hmap_index(5, 5)].info), GT_SOIL);
  ASSERT_EQ(run("recolor_by_height(ColorRamp.linear(0xFF000000, 0xFFFFFFFF));"), "");
  EXPECT_EQ(surface[hmap_index(0, 0)].color.u, 0xFF000000u);
  EXPECT_EQ(surface[hmap_index(255, 0)].color.u, 0xFFFFFFFFu);
}

TEST_F(Grids, RampClassesAndTheirDumps) {
  ASSERT_EQ(run("blue <- ColorRamp(function(t) { return 0xFF0000FF; });"
                "lin <- FloatRamp.linear(0, 1); fade <- ColorRamp.fadeInOut(0.0, 1.0, 0.0, 0.5, 0.5);"),
            "");
  EXPECT_EQ(eval("tocolor(blue.get(0.3)) == 0xFF0000FF && tocolor(blue.get(1)) == 0xFF0000FF"), "true");
  EXPECT_EQ(eval("lin.get(0.5)"), "0.5");
  EXPECT_EQ(eval("lin.get(-3)"), "0");
  EXPECT_EQ(eval("fade.get(0.5)[0]"), "1");
  EXPECT_EQ(eval("FloatRamp(function(t) { return t * 2; }).get(1.0)"), "2");
  EXPECT_EQ(eval("FloatRamp(function(t) { return \"x\"; })"), "ERROR: sq_get*() failed (type error)");
  EXPECT_EQ(eval("ColorRamp(function(t) { return {}; })"), "ERROR: getInst: invalid argument type");

  testing::internal::CaptureStdout();
  ASSERT_EQ(run("FloatRamp.constRamp(0.25).dump(\"quarter\"); blue.dump(\"blue\");"), "");
  std::string out = testing::internal::GetCapturedStdout();
  std::string fl = "\nstatic FloatRamp quarter=\n{\n ";
  for (int i = 0; i < 257; i++) {
    fl += " 0.25,";
    if ((i + 1) % 8 == 0) fl += "\n ";
  }
  fl += "\n};\n";
  std::string cl = "\nstatic ColorRamp blue=\n{\n ";
  for (int i = 0; i < 257; i++) {
    cl += " make4f(0, 0, 1, 1),";
    if ((i + 1) % 4 == 0) cl += "\n ";
  }
  cl += "\n};\n";
  EXPECT_EQ(out, fl + cl);
}

TEST_F(Grids, DumpTgaWritesTheMap) {
  ASSERT_EQ(run("m <- BitMap(function(x, z) { return x == 1 && z == 0; }); ok <- m.dumpTga(\"map.tga\");"), "");
  EXPECT_EQ(eval("ok"), "true");
  std::string data;
  ASSERT_TRUE(read_file(dir.file("map.tga"), data));
  ASSERT_EQ(data.size(), 18u + 65536u * 4u);
  EXPECT_EQ((unsigned char)data[2], 2);
  EXPECT_EQ((unsigned char)data[13], 1);  // width 256
  EXPECT_EQ((unsigned char)data[15], 1);  // height 256
  EXPECT_EQ((unsigned char)data[16], 32);
  uint32_t px[2];
  memcpy(px, data.data() + 18, 8);
  EXPECT_EQ(px[0], 0xFF000000u);
  EXPECT_EQ(px[1], 0xFFFFFFFFu);
}

}  // namespace
