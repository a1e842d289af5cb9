#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>
#include "app/config.h"
#include "objects/gameobj_ops.h"
#include "tests/world/fluid_reference.h"
#include "tests/world/sample_world.h"
#include "world/hmWaterKernel.h"

using namespace HeightmapData;

namespace {

struct Snapshot {
  std::vector<float> h, t;
  std::vector<Water> w, old;
  std::vector<Surface> s;
  void take() {
    h.assign(hmap, hmap + HMAP_CELLS);
    t.assign(target_hmap, target_hmap + HMAP_CELLS);
    w.assign(water, water + HMAP_CELLS);
    old.assign(tmpw, tmpw + HMAP_CELLS);
    s.assign(surface, surface + HMAP_CELLS);
  }
  void restore() const {
    memcpy(hmap, h.data(), HMAP_CELLS * sizeof(float));
    memcpy(target_hmap, t.data(), HMAP_CELLS * sizeof(float));
    memcpy(water, w.data(), HMAP_CELLS * sizeof(Water));
    memcpy(tmpw, old.data(), HMAP_CELLS * sizeof(Water));
    memcpy(surface, s.data(), HMAP_CELLS * sizeof(Surface));
  }
  // "" when every grid holds the same bits, else the first difference.
  std::string first_difference(const Snapshot& o) const {
    const char* names[] = {"hmap", "target_hmap", "water", "tmpw", "surface"};
    const void* a[] = {h.data(), t.data(), w.data(), old.data(), s.data()};
    const void* b[] = {o.h.data(), o.t.data(), o.w.data(), o.old.data(), o.s.data()};
    int words[] = {1, 1, 4, 4, 3};
    for (int g = 0; g < 5; g++) {
      const uint32_t *pa = (const uint32_t*)a[g], *pb = (const uint32_t*)b[g];
      for (int i = 0; i < HMAP_CELLS * words[g]; i++)
        if (pa[i] != pb[i])
          return std::string(names[g]) + " cell " + std::to_string(i / words[g]) + " word " +
                 std::to_string(i % words[g]);
    }
    return "";
  }
};

struct Fluids : ::testing::Test {
  void SetUp() override {
    init_grids();
    reset();
    memset(tmpw, 0, HMAP_CELLS * sizeof(Water));
    spawn_water_vapor_fx = nullptr;
    gfx_quality = 1;
  }
  void TearDown() override { spawn_water_vapor_fx = nullptr; }
};

double total_water() {
  double v = 0;
  for (int i = 0; i < HMAP_CELLS; i++) v += water[i].amount > 0 ? water[i].amount : 0;
  return v;
}
double total_land() {
  double v = 0;
  for (int i = 0; i < HMAP_CELLS; i++) v += hmap[i];
  return v;
}

struct VaporCall {
  int x, z;
  float level, amount;
};
std::vector<VaporCall> vapor_calls;
void record_vapor(int x, int z, float level, float amount) {
  vapor_calls.push_back({x, z, level, amount});
}

}  // namespace

// The vector paths (flow pass eight or four cells at a time, transport by
// rows away from lava) give the same bits as the plain cell-by-cell form: on
// a generated world with lakes and a lava flow, with flows so strong that
// the back-traced points leave the neighbour cells, and with shallow water
// everywhere, across the map edges.
TEST_F(Fluids, VectorStepMatchesTheScalarReference) {
  for (int variant = 0; variant < 6; variant++) {
    fluid_vectors_sse_only = variant >= 3;  // the four-lane pass where AVX2 would run
    make_sample_world(31 + variant);
    if (variant % 3 == 1) {
      set_rnd_seed(9);
      for (int i = 0; i < HMAP_CELLS; i += 3) {
        water[i].flow_x = 60.0f * srnd();
        water[i].flow_z = 60.0f * srnd();
        water[i].turbulence = frnd();
      }
    } else if (variant % 3 == 2) {
      addWaterEverywhere(0.3f);
    }
    Snapshot start, fast, slow;
    start.take();
    for (int step = 0; step < 25; step++) simWater(0.05f);
    fast.take();
    start.restore();
    for (int step = 0; step < 25; step++) fluid_reference::simWater(0.05f);
    slow.take();
    EXPECT_EQ(fast.first_difference(slow), "") << "variant " << variant;
    EXPECT_NE(memcmp(start.w.data(), fast.w.data(), HMAP_CELLS * sizeof(Water)), 0);
  }
  fluid_vectors_sse_only = false;
}

TEST_F(Fluids, FlatDryWorldStaysUnchanged) {
  for (int i = 0; i < HMAP_CELLS; i++) {
    hmap[i] = target_hmap[i] = 2.0f;
    water[i].turbulence = 0.9f;
  }
  Snapshot before;
  before.take();
  for (int step = 0; step < 100; step++) simWater(0.05f);
  for (int i = 0; i < HMAP_CELLS; i++) {
    ASSERT_EQ(hmap[i], 2.0f);
    ASSERT_EQ(target_hmap[i], 2.0f);
    ASSERT_EQ(water[i].amount, 0.0f);
    ASSERT_EQ(water[i].flow_x, 0.0f);
    ASSERT_EQ(water[i].flow_z, 0.0f);
    ASSERT_EQ(surface[i].color.u, before.s[i].color.u);
  }
  // Turbulence decays from 0.9 to what the two blocked faces of every dry
  // cell feed it: t = 0.02 + 0.75 t at dt 0.05, so 0.08.
  EXPECT_NEAR(water[1234].turbulence, 0.08f, 1e-5f);
  // With dt >= 0.2 the decay factor is 0: only this step's sources remain.
  simWater(0.25f);
  EXPECT_EQ(water[1234].turbulence, 0.02f);
}

TEST_F(Fluids, StillWaterKeepsItsVolumeInAClosedBasin) {
  // A basin of 40 x 40 cells with walls 10 high, water 1.0 on one half and
  // 1.6 on the other, so it sloshes.
  for (int z = 0; z < HMAP_SIZE; z++)
    for (int x = 0; x < HMAP_SIZE; x++) {
      bool inside = x >= 100 && x < 140 && z >= 100 && z < 140;
      hmap[hmap_index(x, z)] = inside ? 0.0f : 10.0f;
      if (inside) water[hmap_index(x, z)].amount = x < 120 ? 1.0f : 1.6f;
    }
  double v0 = total_water();
  for (int step = 0; step < 200; step++) simWater(0.05f);
  EXPECT_NEAR(total_water(), v0, v0 * 1e-5);
  EXPECT_EQ(water[hmap_index(99, 120)].amount, 0.0f);  // nothing climbs the wall
  EXPECT_NEAR(water[hmap_index(110, 120)].amount, 1.3f, 0.3f);
}

TEST_F(Fluids, ShallowWaterEvaporatesAndFilmsVanish) {
  water[hmap_index(7, 7)].amount = 0.009f;  // a film alone on dry land
  simWater(0.05f);
  EXPECT_EQ(water[hmap_index(7, 7)].amount, 0.0f);

  for (int i = 0; i < HMAP_CELLS; i++) water[i].amount = 0.3f;  // level everywhere: no flow
  simWater(0.05f);
  // Depth 0.3 loses 3 % per second: one step keeps 1 - 0.03 * 0.05 of it.
  EXPECT_EQ(water[hmap_index(100, 100)].amount, 0.3f - (0.3f - 0.3f * (1.0f - 0.03f * 0.05f)));
  for (int step = 1; step < 20; step++) simWater(0.05f);
  EXPECT_NEAR(water[hmap_index(100, 100)].amount / 0.3f, 0.97f, 0.001f);
  // Depth 0.5 and more does not evaporate.
  for (int i = 0; i < HMAP_CELLS; i++) water[i].amount = 0.5f;
  simWater(0.05f);
  EXPECT_EQ(water[hmap_index(100, 100)].amount, 0.5f);
}

TEST_F(Fluids, ThinLavaCoolsIntoLandWithoutFlowing) {
  int c = hmap_index(50, 60);
  water[c].amount = -0.04f;
  // One step of dt 0.05 cools 5 % per second of the depth: 0.04 * 0.0025.
  simWater(0.05f);
  EXPECT_FLOAT_EQ(hmap[c], 0.04f * 0.0025f);
  EXPECT_FLOAT_EQ(target_hmap[c], 0.04f * 0.0025f);
  EXPECT_FLOAT_EQ(water[c].amount, -0.04f + 0.04f * 0.0025f);
  EXPECT_EQ(water[c].flow_x, 0.0f);
  // Long steps (5 % per step at dt 1) until the last 0.003 goes at once; it
  // never reaches its dry neighbours, and the rock darkens the ground.
  int steps = 1;
  while (water[c].amount != 0.0f && steps < 200) {
    simWater(1.0f);
    steps++;
    ASSERT_EQ(water[hmap_index(51, 60)].amount, 0.0f);
    ASSERT_EQ(water[hmap_index(50, 61)].amount, 0.0f);
    ASSERT_EQ(water[hmap_index(49, 60)].amount, 0.0f);
  }
  EXPECT_LT(steps, 200);
  EXPECT_NEAR(hmap[c], 0.04f, 1e-6f);
  EXPECT_LT(surface[c].color.r(), 0x80);
}

TEST_F(Fluids, WaterFlowingIntoLavaBecomesRock) {
  spawn_water_vapor_fx = record_vapor;
  vapor_calls.clear();
  int w = hmap_index(10, 10), l = hmap_index(11, 10);
  water[w].amount = 1.0f;
  water[l].amount = -0.2f;
  simWater(0.05f);
  ASSERT_EQ(vapor_calls.size(), 1u);
  const VaporCall& v = vapor_calls[0];
  EXPECT_EQ(v.x, 11);
  EXPECT_EQ(v.z, 10);
  EXPECT_GT(v.amount, 0.0f);
  EXPECT_LT(v.amount, 0.2f);
  // The share q turned to rock on the lava cell, and it then cooled by
  // 0.2 * 0.0025; the vapour rises from the fluid top, |-0.2 + q| + q.
  EXPECT_NEAR(hmap[l], v.amount + 0.0005f, 1e-6f);
  EXPECT_NEAR(v.level, 0.2f, 1e-6f);
}

TEST_F(Fluids, LavaFlowingIntoShallowWaterTakesItsPlace) {
  spawn_water_vapor_fx = record_vapor;
  vapor_calls.clear();
  int l = hmap_index(20, 20), w = hmap_index(21, 20);
  water[l].amount = -2.0f;
  water[w].amount = 0.02f;
  simWater(0.05f);
  ASSERT_EQ(vapor_calls.size(), 1u);
  EXPECT_EQ(vapor_calls[0].x, 21);
  EXPECT_EQ(vapor_calls[0].amount, 0.02f);  // all the water there meets lava
  EXPECT_EQ(hmap[w], 0.02f);
  EXPECT_LT(water[w].amount, 0.0f);         // the rest of the share stays as lava
  EXPECT_EQ(water[w].flow_x, 0.0f);         // the water's flows are gone
  EXPECT_EQ(water[w].flow_z, 0.0f);
}

TEST_F(Fluids, ContactsKeepTheBooks) {
  spawn_water_vapor_fx = record_vapor;
  // A pool of water at x 100..109 beside a lava lake at x 110..119 on flat land.
  for (int z = 100; z < 110; z++)
    for (int x = 100; x < 120; x++) water[hmap_index(x, z)].amount = x < 110 ? 1.0f : -0.5f;
  auto signed_total = [] {
    double v = 0;
    for (int i = 0; i < HMAP_CELLS; i++) v += hmap[i] - water[i].amount;
    return v;
  };
  for (int step = 0; step < 20; step++) {
    vapor_calls.clear();
    double g = total_land(), q0 = signed_total();
    simWater(0.05f);
    double q = 0;
    for (const VaporCall& v : vapor_calls) {
      EXPECT_GT(v.amount, 0.0f);
      q += v.amount;
    }
    if (step == 0) {
      EXPECT_GT(q, 0.0);
    }
    // Land only grows, by the rock of the contacts and the cooled lava; land
    // minus signed fluid grows by exactly the contacts plus evaporation.
    EXPECT_GE(total_land() - g, q - 1e-4);
    EXPECT_GE(signed_total() - q0, q - 1e-3);
  }
  EXPECT_GT(hmap[hmap_index(110, 105)], 0.0f);  // rock along the contact line

  // In low quality the vapour effect is not called.
  gfx_quality = 0;
  vapor_calls.clear();
  for (int step = 0; step < 5; step++) simWater(0.05f);
  EXPECT_TRUE(vapor_calls.empty());
}

TEST_F(Fluids, FlowCrossesTheMapEdge) {
  for (int z = 0; z < HMAP_SIZE; z++) water[hmap_index(255, z)].amount = 2.0f;
  for (int x = 0; x < HMAP_SIZE; x++) water[hmap_index(x, 255)].amount += 2.0f;
  for (int step = 0; step < 10; step++) simWater(0.05f);
  EXPECT_GT(water[hmap_index(0, 50)].amount, 0.0f);    // from x 255 to x 0
  EXPECT_GT(water[hmap_index(254, 50)].amount, 0.0f);
  EXPECT_GT(water[hmap_index(50, 0)].amount, 0.0f);    // from z 255 to z 0
  EXPECT_NEAR(water[hmap_index(0, 50)].amount, water[hmap_index(254, 50)].amount, 0.1f);
}
