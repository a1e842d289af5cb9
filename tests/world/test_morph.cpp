#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <vector>
#include "world/heightmap.h"
#include "world/noise.h"

using namespace HeightmapData;

namespace {

struct Morph : ::testing::Test {
  void SetUp() override {
    init_grids();
    reset();
    cur_view_itm = Matrix44::identity();
  }
  void place_camera(float x, float z) {
    cur_view_itm.m[3][0] = x;
    cur_view_itm.m[3][1] = 30.0f;
    cur_view_itm.m[3][2] = z;
  }
};

// The morph rule in its plain form.
float morph_reference(float cur, float target, float dt) {
  float diff = target - cur, g = fabsf(diff);
  float step = fminf(g * fminf(1.0f, 0.2f * dt) + dt, g);
  return cur + (diff > 0 ? step : diff < 0 ? -step : 0.0f);
}

}  // namespace

TEST_F(Morph, RuleNumbers) {
  struct {
    float cur, target, dt, want;
  } cases[] = {
      {0.0f, 10.0f, 0.05f, 0.15f},    // 10 * 0.01 + 0.05
      {5.0f, -5.0f, 0.05f, 4.85f},    // the same downwards
      {1.0f, 1.02f, 0.05f, 1.02f},    // 0.02 * 0.01 + 0.05 > 0.02: closes, no overshoot
      {3.0f, 3.0f, 0.05f, 3.0f},
      {0.0f, 100.0f, 10.0f, 100.0f},  // the rate is capped at 1: all of it
  };
  for (auto& c : cases) {
    for (int i = 0; i < 4; i++) {
      hmap[i] = c.cur;
      target_hmap[i] = c.target;
    }
    std::vector<float> out(HMAP_CELLS);
    morphHmap(c.dt, out.data());
    EXPECT_FLOAT_EQ(out[0], c.want) << c.cur << " -> " << c.target;
    EXPECT_EQ(hmap[0], c.cur);  // morphHmap changes no grid
    updateHmap(c.dt);
    EXPECT_FLOAT_EQ(hmap[0], c.want);
  }
}

TEST_F(Morph, VectorRuleMatchesThePlainFormBitForBit) {
  set_rnd_seed(4);
  for (int i = 0; i < HMAP_CELLS; i++) {
    hmap[i] = hmsrnd();
    target_hmap[i] = (i % 7 == 0) ? hmap[i] : hmap[i] + srnd() * (i % 3 ? 0.01f : 20.0f);
  }
  std::vector<float> before(hmap, hmap + HMAP_CELLS), out(HMAP_CELLS);
  for (float dt : {0.05f, 0.3f, 7.0f}) {
    morphHmap(dt, out.data());
    for (int i = 0; i < HMAP_CELLS; i++) {
      float want = morph_reference(before[i], target_hmap[i], dt);
      ASSERT_EQ(memcmp(&out[i], &want, 4), 0) << i << " dt " << dt;
    }
  }
}

TEST_F(Morph, GroupsWithinAThousandthStayPut) {
  for (int i = 0; i < 4; i++) target_hmap[hmap_index(40 + i, 9)] = 0.0005f;
  for (int step = 0; step < 10; step++) updateHmap(0.05f);
  for (int i = 0; i < 4; i++) EXPECT_EQ(hmap[hmap_index(40 + i, 9)], 0.0f);
  std::vector<float> out(HMAP_CELLS);
  morphHmap(0.05f, out.data());  // the copy moves anyway
  EXPECT_EQ(out[hmap_index(40, 9)], 0.0005f);
  // One cell of the group moving takes the other three along.
  target_hmap[hmap_index(43, 9)] = 1.0f;
  updateHmap(0.05f);
  EXPECT_EQ(hmap[hmap_index(40, 9)], 0.0005f);
  EXPECT_GT(hmap[hmap_index(43, 9)], 0.0f);
}

TEST_F(Morph, MovingLandFeedsTheOctantAroundTheCamera) {
  place_camera(100.2f, 50.7f);  // camera cell (100, 51)
  struct {
    int x, z, octant;
  } cases[] = {
      {104, 51, 0},  // dx > 0, dz = 0
      {100, 60, 4},  // dx = 0, dz > 0
      {96, 51, 1},   // dx < 0, dz = 0
      {88, 45, 3},   // dx < 0, dz < 0, |dx| >= |dz|
      {100, 30, 6},  // dz < 0, |dx| < |dz|
  };
  for (auto& c : cases) {
    reset();
    place_camera(100.2f, 50.7f);
    hmap[hmap_index(c.x + 1, c.z)] = 2.0f;
    target_hmap[hmap_index(c.x + 2, c.z)] = 3.0f;  // the group's largest change
    uint64_t seed = game_rnd_seed;
    updateHmap(0.05f);
    for (int o = 0; o < 8; o++) {
      const float* acc = land_sound[o].acc;
      if (o != c.octant) {
        EXPECT_EQ(acc[3], 0.0f) << c.x << "," << c.z << " octant " << o;
        continue;
      }
      // w = 3 (the largest change), y = 2 (the highest current height).
      EXPECT_EQ(acc[0], 3.0f * c.x);
      EXPECT_EQ(acc[1], 3.0f * 2.0f);
      EXPECT_EQ(acc[2], 3.0f * c.z);
      EXPECT_EQ(acc[3], 3.0f);
    }
    // The octant's sound starts (no audio library here, so it never plays
    // and restarts every step): one random draw for its play position.
    game_rnd_seed = seed;
    game_rnd_step();
    uint64_t one = game_rnd_seed;
    game_rnd_seed = seed;
    updateHmap(0.05f);
    EXPECT_EQ(game_rnd_seed, one);
  }
}

TEST_F(Morph, OffsetsWrapAroundTheCamera) {
  place_camera(250.0f, 5.0f);
  target_hmap[hmap_index(4, 5)] = 1.0f;  // 10 cells ahead across the map edge
  updateHmap(0.05f);
  EXPECT_EQ(land_sound[0].acc[0], 260.0f);
  EXPECT_EQ(land_sound[0].acc[3], 1.0f);
  reset();
  uint64_t seed = game_rnd_seed;
  updateHmap(0.05f);  // nothing moves: no octant starts, no draw
  EXPECT_EQ(game_rnd_seed, seed);
  for (const LandSoundGroup& g : land_sound) EXPECT_EQ(g.acc[3], 0.0f);
  stopSounds();
}
