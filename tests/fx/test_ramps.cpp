#include <gtest/gtest.h>
#include "fx/ramps.h"

static void expect_color(vec4f c, float r, float g, float b, float a, float tol = 1e-6f) {
  EXPECT_NEAR(v_x(c), r, tol);
  EXPECT_NEAR(v_y(c), g, tol);
  EXPECT_NEAR(v_z(c), b, tol);
  EXPECT_NEAR(v_w(c), a, tol);
}

static float smooth(float u) { return u * u * (3 - 2 * u); }

TEST(Ramps, LookupClampsAtTheEndsAndBlendsBetweenEntries) {
  FloatRamp f;
  for (int i = 0; i < RAMP_ENTRIES; i++) f.v[i] = (float)(i * i);
  struct {
    float t, want;
  } cases[] = {
      {1.0f, 65536.0f}, {7.0f, 65536.0f}, {-3.0f, 0.0f}, {0.0f, 0.0f}, {0.5f, 16384.0f},
      {12.8f / 256.0f, 144.0f + 25.0f * 0.8f},  // between entries 12 and 13
  };
  for (auto& c : cases) EXPECT_NEAR(f.get(c.t), c.want, 1e-3f) << "t=" << c.t;

  ColorRamp cr;
  cr.linear(v_make(0, 0, 0, 0), v_make(1, 0.5f, 0.25f, 1));
  expect_color(cr.get(1.0f), 1, 0.5f, 0.25f, 1);
  expect_color(cr.get(-3.0f), 0, 0, 0, 0);
  expect_color(cr.get(0.5f), 0.5f, 0.25f, 0.125f, 0.5f);
}

TEST(Ramps, BuildersFillAllEntries) {
  FloatRamp f;
  f.constRamp(3.0f);
  EXPECT_EQ(f.v[0], 3.0f);
  EXPECT_EQ(f.v[256], 3.0f);
  f.fadeInOut(0, 1, 2, 0.0f, 0.0f);  // strict tests: no fade at either end
  EXPECT_EQ(f.v[0], 1.0f);
  EXPECT_EQ(f.v[256], 1.0f);
  f.fadeInOut(0, 1, 2, 0.5f, 0.25f);
  EXPECT_EQ(f.v[0], 0.0f);
  EXPECT_FLOAT_EQ(f.v[64], smooth(0.5f));             // s = 0.25 inside the fade-in
  EXPECT_EQ(f.v[160], 1.0f);                          // s = 0.625, the middle
  EXPECT_FLOAT_EQ(f.v[224], 1.0f + smooth(0.5f));     // s = 0.875 inside the fade-out
  EXPECT_EQ(f.v[256], 2.0f);
}

TEST(Ramps, NamedRamps) {
  // Entries 12 and 13 hold smooth(0.46875) and smooth(0.5078125); 0.05 lies at 12.8.
  vec4f c = blend_std_fade_anim.get(0.05f);
  expect_color(c, 1, 1, 1, 0.50001f, 2e-5f);
  expect_color(blend_std_fade_anim.get(0.5f), 1, 1, 1, 1.0f - smooth(0.4f / 0.9f), 1e-5f);
  EXPECT_NEAR(v_w(blend_std_fade_anim.get(0.5f)), 0.583f, 1e-3f);
  expect_color(blend_std_fade_anim.get(1.0f), 1, 1, 1, 0);
  expect_color(glow_std_fade_anim.get(0.0f), 0, 0, 0, 0);
  expect_color(glow_std_fade_anim.get(1.0f), 0, 0, 0, 0);
  EXPECT_GT(v_w(glow_std_fade_anim.get(0.1f)), 0.99f);
  expect_color(blend_end_fade_anim.get(0.5f), 1, 1, 1, 1);
  // Fade-in 0.9 and fade-out 0.1: still fading in at 0.5, fading out at 0.95.
  EXPECT_NEAR(v_w(blend_rev_fade_anim.get(0.5f)), smooth(0.5f / 0.9f), 1e-3f);
  EXPECT_NEAR(v_w(blend_rev_fade_anim.get(0.95f)), 1.0f - smooth(0.5f), 1e-3f);
  EXPECT_FLOAT_EQ(size_05_2_anim.get(0.0f), 0.5f);
  EXPECT_FLOAT_EQ(size_05_2_anim.get(0.5f), 1.25f);
  EXPECT_FLOAT_EQ(size_05_4_anim.get(1.0f), 4.0f);
  for (float v : std_roll_anim.v) EXPECT_EQ(v, 0.0f);
  expect_color(trail_default_ramp.get(0.0f), 0, 0, 0, 0);
  expect_color(trail_default_ramp.get(0.8f), 1, 1, 1, 1);
  expect_color(trail_default_ramp.get(1.0f), 0, 0, 0, 0);
}

TEST(Ramps, PackedColourConversions) {
  vec4f c = unpack_color(D3dColor(0x80FF4000u));
  expect_color(c, 1.0f, 64 / 255.0f, 0.0f, 128 / 255.0f);
  EXPECT_EQ(pack_color(c).u, 0x80FF4000u);
  // Clamped to 0..1, scaled by 255, rounded to nearest (127.5 goes to the even 128).
  EXPECT_EQ(pack_color(v_make(2.0f, -1.0f, 0.5f, 1.0f)).u, 0xFFFF0080u);
}
