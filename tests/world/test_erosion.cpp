#include <gtest/gtest.h>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>
#include "lib/utils.h"
#include "render/font.h"
#include "world/erosion.h"
#include "world/heightmap.h"
#include "world/noise.h"

using namespace HeightmapData;

namespace {

struct Erosion : ::testing::Test {
  void SetUp() override {
    init_grids();
    reset();
    set_rnd_seed(42);
  }
};

// What the two log lines at the end of a run report.
struct ErosionLog {
  int droplets = -1;
  double average_path = -1;
  unsigned long long long_paths = 0, random_dirs = 0;
};

ErosionLog run_logged(unsigned count, ErosionParams& p) {
  testing::internal::CaptureStdout();
  genDropletErosion(count, p);
  std::string out = testing::internal::GetCapturedStdout();
  ErosionLog log;
  size_t at = out.find("computed ");
  EXPECT_NE(at, std::string::npos) << out;
  if (at == std::string::npos) return log;
  unsigned ms;
  double rate;
  EXPECT_EQ(sscanf(out.c_str() + at, "computed %d erosion droplets in %u ms, %lf droplets/s",
                   &log.droplets, &ms, &rate), 3);
  at = out.find("\n  ", at);
  EXPECT_EQ(sscanf(out.c_str() + at + 1,
                   "  %lf average path length, %llu long paths cut, %llu random directions picked",
                   &log.average_path, &log.long_paths, &log.random_dirs), 3)
      << out;
  return log;
}

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

void make_slopes() {
  for (int z = 0; z < HMAP_SIZE; z++)
    for (int x = 0; x < HMAP_SIZE; x++)
      hmap[hmap_index(x, z)] = 20.0f * sinf(x * 0.0245f) * cosf(z * 0.049f) + 0.01f * (x % 7);
}

struct CountingParams : ErosionParams {
  int periods = 0;
  void runPeriod() override { periods++; }
};

}  // namespace

TEST_F(Erosion, FlatMapDropletsTakeRandomDirectionsAndDrawForThem) {
  ErosionParams p;
  uint64_t s = game_rnd_seed;
  ErosionLog log = run_logged(500, p);
  EXPECT_EQ(log.droplets, 500);
  EXPECT_GE(log.random_dirs, 500u);  // every droplet's first step
  EXPECT_EQ(log.long_paths, 0u);
  // Two byte draws per droplet plus one per random direction.
  EXPECT_EQ(steps_between(s, game_rnd_seed, 100000), (long)(2 * 500 + log.random_dirs));
}

TEST_F(Erosion, UphillFirstStepEndsAtOnceButStillTouchesTheCorners) {
  // The droplet's start from the next two byte draws; a bowl around it.
  uint64_t s = game_rnd_seed;
  int cx = hmrnd(), cz = hmrnd();
  game_rnd_seed = s;
  for (int z = 0; z < HMAP_SIZE; z++)
    for (int x = 0; x < HMAP_SIZE; x++) {
      float dx = wrap_world_coord((float)(x - cx), 0), dz = wrap_world_coord((float)(z - cz), 0);
      int i = hmap_index(x, z);
      hmap[i] = dx * dx + dz * dz;
      surface[i].info = info_with_cover(surface[i].info, ST_SNOW);
      surface[i].top_color = D3dColor(0xFFFFFFFFu);
      surface[i].color = D3dColor(0xFFFF0000u);  // red ground
    }
  surface[hmap_index(cx + 1, cz)].info = info_with_cover(0, ST_GRASS);
  std::vector<float> before(hmap, hmap + HMAP_CELLS);
  ErosionParams p;
  p.reactions.push_back(make_erosion_reaction(v_make(1, 0, 0, 0), v_make(0, 1, 0, 0), 0.5f));
  ErosionLog log = run_logged(1, p);
  EXPECT_EQ(log.average_path, 0.0);
  for (int i = 0; i < HMAP_CELLS; i++) ASSERT_EQ(hmap[i], before[i]);
  // A deposit of 0 still clears the covers (not grass) of the four corners
  // and runs the reactions there: red turns green, red never below 0.
  int corners[4] = {hmap_index(cx, cz), hmap_index(cx + 1, cz), hmap_index(cx, cz + 1),
                    hmap_index(cx + 1, cz + 1)};
  for (int k = 0; k < 4; k++) {
    const Surface& sf = surface[corners[k]];
    EXPECT_EQ(sf.color.u, 0xFF00FF00u) << k;
    if (k == 1) {
      EXPECT_EQ(info_cover(sf.info), ST_GRASS);
    } else {
      EXPECT_EQ(info_cover(sf.info), ST_OPEN);
      EXPECT_EQ(sf.top_color.u, 0u);
    }
  }
  EXPECT_EQ(surface[hmap_index(cx + 2, cz)].color.u, 0xFFFF0000u);
  EXPECT_EQ(info_cover(surface[hmap_index(cx + 2, cz)].info), ST_SNOW);
}

TEST_F(Erosion, SlopesAreCarvedAndFilled) {
  make_slopes();
  std::vector<float> before(hmap, hmap + HMAP_CELLS);
  ErosionParams p;
  p.Kq = 0.1f;  // the developer key's parameters
  p.Kd = 0.9f;
  ErosionLog log = run_logged(3000, p);
  int lower = 0, higher = 0;
  for (int i = 0; i < HMAP_CELLS; i++) {
    lower += hmap[i] < before[i];
    higher += hmap[i] > before[i];
  }
  EXPECT_GT(lower, 1000);
  EXPECT_GT(higher, 1000);
  EXPECT_GT(log.average_path, 2.0);
}

TEST_F(Erosion, NoErosionRateRemovesNoLand) {
  make_slopes();
  for (int i = 0; i < HMAP_CELLS; i++) surface[i].top_color = D3dColor(0x80FFFFFFu);
  std::vector<float> before(hmap, hmap + HMAP_CELLS);
  ErosionParams p;
  p.Kr = 0.0f;
  run_logged(2000, p);
  int cleared = 0;
  for (int i = 0; i < HMAP_CELLS; i++) {
    ASSERT_GE(hmap[i], before[i]);
    cleared += surface[i].top_color.u == 0;
  }
  EXPECT_GT(cleared, 100);  // the footprints still lose their cover
  // No sediment is ever picked up, so every deposit is 0 and, without
  // reactions, leaves the ground colour as it was.
  for (int i = 0; i < HMAP_CELLS; i++) ASSERT_EQ(surface[i].color.u, 0xFF808080u);
}

TEST_F(Erosion, PeriodOperationAndProgressSplash) {
  CountingParams p;
  p.periodStep = 3;
  run_logged(10, p);
  EXPECT_EQ(p.periods, 3);
  p.periods = 0;
  p.periodStep = 0;
  run_logged(10, p);
  EXPECT_EQ(p.periods, 0);
  p.periodStep = -5;
  run_logged(10, p);
  EXPECT_EQ(p.periods, 0);

  show_splash("", -1.0f);
  run_logged(16385, p);  // flat map: each droplet ends on its first step
  EXPECT_STREQ(splash_text.c_str(), "Calculating erosion");
  EXPECT_FLOAT_EQ(splash_progress, 16384.5f / 16385.0f);
}

TEST_F(Erosion, ReactionRecords) {
  ErosionReaction r = make_erosion_reaction(v_make(1.4f, 0, 2.6f, 0), v_make(0, 1, 0, 0), 0.5f);
  EXPECT_EQ(r.exponent[0], 1);
  EXPECT_EQ(r.exponent[1], 0);
  EXPECT_EQ(r.exponent[2], 3);
  EXPECT_FLOAT_EQ(r.rate[0], -0.7f);
  EXPECT_FLOAT_EQ(r.rate[1], 0.5f);
  EXPECT_FLOAT_EQ(r.rate[2], -1.3f);
  EXPECT_EQ(r.rate[3], 0.0f);
}
