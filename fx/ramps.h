// Colour and float ramps: curves over 0..1 held as 257 samples, entry i at
// i/256. Particles and trails use them over a lifetime, generators to colour
// the ground, noise sums to reshape octaves.
#pragma once
#include "lib/color.h"
#include "lib/vecmath.h"

constexpr int RAMP_ENTRIES = 257;

// Packed colour <-> four floats (r, g, b, a), each channel / 255; packing
// clamps to 0..1, scales by 255 and rounds to nearest.
inline vec4f unpack_color(D3dColor c) { return color_to_vec(c); }
inline D3dColor pack_color(vec4f rgba) { return vec_to_color(rgba); }

struct alignas(16) ColorRamp {
  float v[RAMP_ENTRIES][4];  // r, g, b, a

  vec4f entry(int i) const { return _mm_load_ps(v[i]); }
  void setEntry(int i, vec4f c) { _mm_store_ps(v[i], c); }
  // The colour at t: entry 0 for t*256 <= 0, entry 256 for t*256 >= 256,
  // otherwise the linear blend of the two entries around t*256.
  vec4f get(float t) const;

  void constRamp(vec4f c);
  void linear(vec4f a, vec4f b);
  // Smooth fades from start to middle over [0, fadeIn) and from middle to
  // end over (1 - fadeOut, 1]; middle in between.
  void fadeInOut(vec4f start, vec4f middle, vec4f end, float fade_in, float fade_out);
};
static_assert(sizeof(ColorRamp) == 4112, "a ColorRamp is its table");

struct FloatRamp {
  float v[RAMP_ENTRIES];

  float get(float t) const;
  void constRamp(float c);
  void linear(float a, float b);
  void fadeInOut(float start, float middle, float end, float fade_in, float fade_out);
};
static_assert(sizeof(FloatRamp) == 1028, "a FloatRamp is its table");

// Named ramps, filled at program start (before main).
extern ColorRamp glow_std_fade_anim;
extern ColorRamp blend_std_fade_anim;
extern ColorRamp blend_end_fade_anim;
extern ColorRamp blend_rev_fade_anim;
extern FloatRamp size_05_2_anim;
extern FloatRamp size_05_4_anim;
extern FloatRamp std_roll_anim;  // all zero; never filled
// The colour ramp trails use when none is given.
extern ColorRamp trail_default_ramp;
