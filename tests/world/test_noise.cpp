#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include "platform/clock.h"
#include "world/noise.h"

static const uint64_t LCG_MUL = 6364136223846793005ull, LCG_ADD = 1442695040888963407ull;

// Sets the state so that the next draw gives the high word h.
static void set_next_draw(uint32_t h) {
  uint64_t inv = LCG_MUL;  // Newton's iteration for the inverse modulo 2^64
  for (int i = 0; i < 6; i++) inv *= 2 - LCG_MUL * inv;
  uint64_t next = ((uint64_t)h << 32) | 0x9E3779B9u;
  game_rnd_seed = (next - LCG_ADD) * inv;
}

TEST(Random, StepsFromTheStaticSeed) {
  game_rnd_seed = 12345;
  uint32_t h = game_rnd_step();
  EXPECT_EQ(game_rnd_seed, 2021368500568277588ull);  // 12345 * mul + add mod 2^64
  EXPECT_EQ(h, (uint32_t)(2021368500568277588ull >> 32));

  set_rnd_seed(77);
  int a[8];
  for (int& v : a) v = irnd();
  set_rnd_seed(77);
  for (int v : a) EXPECT_EQ(irnd(), v);

  set_rnd_seed(-1);
  EXPECT_EQ(game_rnd_seed, 0xFFFFFFFFFFFFFFFFull);  // sign-extended, not 2^32 - 1
  set_rnd_seed(5);
  EXPECT_EQ(game_rnd_seed, 5u);
}

static int64_t fixed_clock() { return 987654321012345ll; }

TEST(Random, RandomizeTakesTheClock) {
  ClockSource fixed = {fixed_clock, nullptr};
  set_clock_source(&fixed);
  randomize_rnd_seed();
  set_clock_source(nullptr);
  EXPECT_EQ(game_rnd_seed, 987654321012345ull);
}

TEST(Random, EachDrawFromAKnownHighWord) {
  struct Case {
    uint32_t h;
    int byte, positive;
    float unit, sgn, bytef, sbytef, range;
  } cases[] = {
      {0u, 0, 0, 0.0f, -1.0f, 0.0f, -128.0f, 2.0f},
      {0x80000000u, 0, 0, 0.5f, 0.0f, 128.0f, 0.0f, 4.0f},
      {0x123456FFu, 255, 0x123456FF, (float)(0x123456FF / 4294967296.0),
       (float)(2.0 * 0x123456FF / 4294967296.0 - 1.0), (float)(256.0 * 0x123456FF / 4294967296.0),
       (float)(128.0 * (2.0 * 0x123456FF / 4294967296.0 - 1.0)),
       (float)(2.0 + 0x123456FF / 4294967296.0 * 4.0)},
      // Just below the rounding threshold the unit float stays below 1 ...
      {0xFFFFFF7Fu, 0x7F, 0x7FFFFF7F, 0x1.fffffep-1f, 0x1.fffffep-1f, 0x1.fffffep+7f, 0x1.fffffep+6f,
       6.0f},
      // ... and from 0xFFFFFF80 it rounds up to exactly 1.
      {0xFFFFFF80u, 0x80, 0x7FFFFF80, 1.0f, 0x1.fffffep-1f, 256.0f, 0x1.fffffep+6f, 6.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.h);
    set_next_draw(c.h);
    uint64_t s = game_rnd_seed;
    EXPECT_EQ(hmrnd(), c.byte);
    game_rnd_seed = s;
    EXPECT_EQ(irnd(), c.positive);
    game_rnd_seed = s;
    EXPECT_EQ(frnd(), c.unit);
    game_rnd_seed = s;
    EXPECT_EQ(srnd(), c.sgn);
    game_rnd_seed = s;
    EXPECT_EQ(hmfrnd(), c.bytef);
    game_rnd_seed = s;
    EXPECT_EQ(hmsrnd(), c.sbytef);
    game_rnd_seed = s;
    EXPECT_EQ(rndf(2.0f, 6.0f), c.range);
  }
}

TEST(Random, IntegerRanges) {
  set_next_draw(0xFFFFFFFFu);
  EXPECT_EQ(rndi(10, 13), 13);  // (4 * h) >> 32 = 3
  set_next_draw(0xFFFFFFFFu);
  EXPECT_EQ(rndi(13, 10), 13);  // a > b draws from b ... a
  set_next_draw(0);
  EXPECT_EQ(rndi(13, 10), 10);
  uint64_t before = game_rnd_seed = 99;
  EXPECT_EQ(rndi(7, 7), 7);
  EXPECT_NE(game_rnd_seed, before);  // still one step
  set_next_draw(0xFFFFFFFFu);
  EXPECT_EQ(rndi(-2147483647 - 1, 2147483647), 2147483647);  // the full int range

  bool seen[4] = {};
  set_rnd_seed(3);
  for (int i = 0; i < 200; i++) {
    int v = rndi(3, 0);
    ASSERT_GE(v, 0);
    ASSERT_LE(v, 3);
    seen[v] = true;
  }
  for (bool s : seen) EXPECT_TRUE(s);
}

TEST(NoiseTables, ReseedDrawsA1536StepShuffle) {
  // The table before any reseed is the one 12345 gives.
  uint8_t initial[512];
  memcpy(initial, noise_perm, 512);
  game_rnd_seed = 12345;
  reseed_noise();
  EXPECT_EQ(memcmp(initial, noise_perm, 512), 0);

  set_rnd_seed(2024);
  uint64_t s = game_rnd_seed;
  reseed_noise();
  uint64_t after = game_rnd_seed;
  game_rnd_seed = s;
  for (int i = 0; i < 1536; i++) game_rnd_step();
  EXPECT_EQ(game_rnd_seed, after);

  bool seen[256] = {};
  for (int i = 0; i < 256; i++) {
    EXPECT_FALSE(seen[noise_perm[i]]);
    seen[noise_perm[i]] = true;
    EXPECT_EQ(noise_perm[i + 256], noise_perm[i]);
  }
  // The points are the last 512 unit draws, in order.
  game_rnd_seed = s;
  for (int i = 0; i < 1024; i++) game_rnd_step();
  for (int k = 0; k < 256; k++) {
    EXPECT_EQ(noise_points[k].x, frnd());
    EXPECT_EQ(noise_points[k].y, frnd());
  }
  EXPECT_EQ(get_noise_hash1(300), noise_perm[300 & 255]);
  EXPECT_EQ(get_noise_hash2(-1, 513), noise_perm[255 + noise_perm[1]]);
}

TEST(Noise, OneDimensionalIsZeroAtIntegersAndBounded) {
  set_rnd_seed(1);
  reseed_noise();
  for (float x : {-300.0f, -2.0f, -1.0f, 0.0f, 1.0f, 7.0f, 255.0f, 256.0f, 1000.0f})
    EXPECT_EQ(noise1(x), 0.0f) << x;
  float mx = 0;
  for (int i = 0; i < 10000; i++) mx = fmaxf(mx, fabsf(noise1(i * 0.0173f - 50.0f)));
  EXPECT_GT(mx, 0.2f);
  EXPECT_LE(mx, 1.02f);  // 0.4 * 8 * 2 * 0.5 * 0.75^4 at the worst pair of gradients
}

TEST(Noise, SimplexIsContinuousAndBounded) {
  set_rnd_seed(2);
  reseed_noise();
  float mx = 0, prev = noise4(0.3f, 1.7f, -2.2f, 5.1f);
  for (int i = 1; i < 20000; i++) {
    float t = i * 0.001f;
    float v = noise4(0.3f + t, 1.7f - 0.5f * t, -2.2f + 0.25f * t, 5.1f + t);
    EXPECT_LT(fabsf(v - prev), 0.05f);  // steps of 0.001 move the value only a little
    mx = fmaxf(mx, fabsf(v));
    prev = v;
  }
  EXPECT_GT(mx, 0.3f);
  EXPECT_LE(mx, 1.1f);
}

TEST(Noise, TiledFunctionsRepeat) {
  set_rnd_seed(3);
  reseed_noise();
  for (float period : {8.0f, 64.0f, 256.0f}) {
    for (int i = 0; i < 50; i++) {
      float x = i * 1.37f, z = i * -2.11f + 3;
      float v = tiled_noise2(x, z, period);
      EXPECT_NEAR(tiled_noise2(x + period, z, period), v, 2e-4f);
      EXPECT_NEAR(tiled_noise2(x, z - period, period), v, 2e-4f);
    }
  }
  for (int octaves = 1; octaves <= 4; octaves++) {
    float v = tiled_fractal_noise2(5.3f, 9.1f, 64.0f, octaves, nullptr, 0.5f);
    EXPECT_NEAR(tiled_fractal_noise2(5.3f + 64, 9.1f, 64.0f, octaves, nullptr, 0.5f), v, 1e-3f);
  }
  for (int i = 0; i < 50; i++) {
    float x = i * 0.91f, z = i * 0.37f;
    EXPECT_NEAR(old_tiled_noise2(x + 16, z, 16), old_tiled_noise2(x, z, 16), 1e-4f);
    EXPECT_NEAR(old_tiled_noise2(x, z + 256, 256), old_tiled_noise2(x, z, 256), 1e-3f);
  }
  EXPECT_EQ(old_tiled_noise2(3.0f, 4.0f, 16), 0.0f);  // zero at lattice points
}

TEST(Noise, FractalSumsThroughRamps) {
  FloatRamp half;
  half.constRamp(0.5f);
  EXPECT_EQ(fractal_noise1(3.3f, 3, &half, 0.5f), 0.875f);  // 0.5 * (1 + 0.5 + 0.25)
  EXPECT_EQ(tiled_fractal_noise2(1, 2, 32, 2, &half, 0.25f), 0.625f);
  EXPECT_EQ(fractal_noise1(3.3f, 1, nullptr, 0.5f), noise1(3.3f));
  float x = 3.3f;
  EXPECT_EQ(fractal_noise1(x, 2, nullptr, 0.3f), noise1(x) + 0.3f * noise1(2 * x + 0.5f));
  FloatRamp ident;
  ident.linear(-1.0f, 1.0f);  // maps (v + 1) / 2 back to about v
  EXPECT_NEAR(fractal_noise1(x, 1, &ident, 0.5f), noise1(x), 1e-5f);
}

TEST(Voronoi, NearestFourAreTheSmallestOfTheNineAndTile) {
  set_rnd_seed(4);
  reseed_noise();
  for (int i = 0; i < 200; i++) {
    float x = i * 0.731f - 20, z = i * 1.173f - 40;
    Point2 d9[9];
    int id9[9];
    tiled_voronoi_noise2_all9(x, z, 8, d9, id9);
    float d2[4];
    int id[4];
    Point2 del[4];
    tiled_voronoi_noise2_near4(x, z, 8, d2, id, del);
    // Stable selection of the four smallest from the nine, in visiting order.
    bool used[9] = {};
    for (int k = 0; k < 4; k++) {
      int best = -1;
      float bd = 0;
      for (int c = 0; c < 9; c++) {
        float dd = d9[c].x * d9[c].x + d9[c].y * d9[c].y;
        if (!used[c] && (best < 0 || dd < bd)) best = c, bd = dd;
      }
      used[best] = true;
      EXPECT_EQ(d2[k], bd);
      EXPECT_EQ(id[k], id9[best]);
      EXPECT_EQ(del[k].x, d9[best].x);
    }
    // One tile away the same cells have the same ids and the same offsets.
    float d2b[4];
    int idb[4];
    tiled_voronoi_noise2_near4(x + 256, z - 256, 8, d2b, idb, nullptr);
    for (int k = 0; k < 4; k++) {
      EXPECT_EQ(idb[k], id[k]);
      EXPECT_NEAR(d2b[k], d2[k], 1e-3f);
    }
  }
  tiled_voronoi_noise2_near4(1, 1, 3, nullptr, nullptr, nullptr);  // outputs may be null
  tiled_voronoi_noise2_all9(1, 1, 3, nullptr, nullptr);
  int id[9];
  tiled_voronoi_noise2_all9(0.5f, 0.5f, 2, nullptr, id);  // tile 4: cells -1..1 wrap to 3, 0, 1
  EXPECT_EQ(id[0], 3 | (3 << 16));
  EXPECT_EQ(id[4], 0);
  EXPECT_EQ(id[8], 1 | (1 << 16));
}

static void expect_rgba(vec4f c, float r, float g, float b, float a, float tol = 1e-6f) {
  EXPECT_NEAR(v_x(c), r, tol);
  EXPECT_NEAR(v_y(c), g, tol);
  EXPECT_NEAR(v_z(c), b, tol);
  EXPECT_NEAR(v_w(c), a, tol);
}

TEST(Colours, HsvToRgba) {
  struct {
    float h, s, v;
    float r, g, b;
  } cases[] = {
      {0, 1, 1, 1, 0, 0},       {360, 1, 1, 1, 0, 0},       {120, 1, 1, 0, 1, 0},
      {240, 1, 1, 0, 0, 1},     {-120, 1, 1, 0, 0, 1},      {60, 1, 1, 1, 1, 0},
      {300, 1, 0.5f, 0.5f, 0, 0.5f}, {30, 0, 0.25f, 0.25f, 0.25f, 0.25f}, {180, 0.5f, 1, 0.5f, 1, 1},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.h);
    expect_rgba(hsv2rgba(c.h, c.s, c.v, 0.75f), c.r, c.g, c.b, 0.75f);
  }
  expect_rgba(hsv2rgba(359.99997f, 1, 1, 1), 1, 0, 0, 1, 1e-4f);  // just below a full turn
}

TEST(Colours, RgbToHsv) {
  struct {
    float r, g, b;
    float h, s, v;
  } cases[] = {
      {0, 0, 0, 0, 0, 0},        {0.5f, 0.5f, 0.5f, 0, 0, 0.5f}, {1, 0, 0, 0, 1, 1},
      {0, 1, 0, 120, 1, 1},      {0, 0, 1, 240, 1, 1},           {1, 0, 0.5f, 330, 1, 1},
      {1, 1, 0, 60, 1, 1},       {0.2f, 0.4f, 0.4f, 180, 0.5f, 0.4f},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.h);
    expect_rgba(rgb2hsv(v_make(c.r, c.g, c.b, 0.9f)), c.h, c.s, c.v, 0.0f, 1e-5f);
  }
}

TEST(Colours, LchToRgba) {
  struct {
    float L, C, h;
    float r, g, b;
  } cases[] = {
      {100, 0, 0, 1, 1, 1},
      {0, 0, 0, 0, 0, 0},
      {53.2408f, 104.5518f, 39.999f, 1, 0, 0},   // sRGB red
      {87.7347f, 119.7759f, 136.016f, 0, 1, 0},  // sRGB green
      {32.2970f, 133.8076f, 306.2849f, 0, 0, 1}, // sRGB blue
      {53.585f, 0, 0, 0.5f, 0.5f, 0.5f},         // mid grey
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.L);
    expect_rgba(lch2rgba(c.L, c.C, c.h, 0.3f), c.r, c.g, c.b, 0.3f, 5e-3f);
  }
}
