// Ramp lookup and builders, and the named ramps of the effects.
#include "fx/ramps.h"

static float smooth_step(float u) { return u * u * (3.0f - 2.0f * u); }

// Position of t in the table: false when it lies at or beyond an end (idx
// then names that end's entry), else the lower entry and the fraction.
static bool ramp_pos(float t, int& idx, float& frac) {
  float x = t * 256.0f;
  if (!(x > 0.0f)) {  // also NaN
    idx = 0;
    return false;
  }
  if (x >= 256.0f) {
    idx = 256;
    return false;
  }
  idx = (int)x;  // floor, x is positive
  frac = x - (float)idx;
  return true;
}

vec4f ColorRamp::get(float t) const {
  int i;
  float f;
  if (!ramp_pos(t, i, f)) return entry(i);
  vec4f a = entry(i), b = entry(i + 1);
  return _mm_add_ps(a, _mm_mul_ps(_mm_sub_ps(b, a), _mm_set1_ps(f)));
}

float FloatRamp::get(float t) const {
  int i;
  float f;
  if (!ramp_pos(t, i, f)) return v[i];
  return v[i] + (v[i + 1] - v[i]) * f;
}

// Weight of the "to" value of the fade segment entry s falls in, and which
// segment: -1 fade-in (start to middle), 1 fade-out (middle to end), 0 middle.
static int fade_segment(float s, float fade_in, float fade_out, float& w) {
  if (s < fade_in) {
    w = smooth_step(s / fade_in);
    return -1;
  }
  if (s > 1.0f - fade_out) {
    w = smooth_step((s - (1.0f - fade_out)) / fade_out);
    return 1;
  }
  w = 0.0f;
  return 0;
}

static vec4f lerp4(vec4f a, vec4f b, float w) {
  return _mm_add_ps(a, _mm_mul_ps(_mm_sub_ps(b, a), _mm_set1_ps(w)));
}

void ColorRamp::constRamp(vec4f c) {
  for (int i = 0; i < RAMP_ENTRIES; i++) setEntry(i, c);
}

void ColorRamp::linear(vec4f a, vec4f b) {
  for (int i = 0; i < RAMP_ENTRIES; i++) setEntry(i, lerp4(a, b, (float)i / 256.0f));
}

void ColorRamp::fadeInOut(vec4f start, vec4f middle, vec4f end, float fade_in, float fade_out) {
  for (int i = 0; i < RAMP_ENTRIES; i++) {
    float w;
    int seg = fade_segment((float)i / 256.0f, fade_in, fade_out, w);
    setEntry(i, seg < 0 ? lerp4(start, middle, w) : seg > 0 ? lerp4(middle, end, w) : middle);
  }
}

void FloatRamp::constRamp(float c) {
  for (int i = 0; i < RAMP_ENTRIES; i++) v[i] = c;
}

void FloatRamp::linear(float a, float b) {
  for (int i = 0; i < RAMP_ENTRIES; i++) v[i] = a + (b - a) * ((float)i / 256.0f);
}

void FloatRamp::fadeInOut(float start, float middle, float end, float fade_in, float fade_out) {
  for (int i = 0; i < RAMP_ENTRIES; i++) {
    float w;
    int seg = fade_segment((float)i / 256.0f, fade_in, fade_out, w);
    v[i] = seg < 0 ? start + (middle - start) * w : seg > 0 ? middle + (end - middle) * w : middle;
  }
}

ColorRamp glow_std_fade_anim;
ColorRamp blend_std_fade_anim;
ColorRamp blend_end_fade_anim;
ColorRamp blend_rev_fade_anim;
FloatRamp size_05_2_anim;
FloatRamp size_05_4_anim;
FloatRamp std_roll_anim;
ColorRamp trail_default_ramp;

namespace {
struct NamedRampsInit {
  NamedRampsInit() {
    vec4f transparent_black = unpack_color(D3dColor(0x00000000u));
    vec4f transparent_white = unpack_color(D3dColor(0x00FFFFFFu));
    vec4f opaque_white = unpack_color(D3dColor(0xFFFFFFFFu));
    glow_std_fade_anim.fadeInOut(transparent_black, opaque_white, transparent_black, 0.1f, 0.9f);
    blend_std_fade_anim.fadeInOut(transparent_white, opaque_white, transparent_white, 0.1f, 0.9f);
    blend_end_fade_anim.fadeInOut(transparent_white, opaque_white, transparent_white, 0.1f, 0.1f);
    blend_rev_fade_anim.fadeInOut(transparent_white, opaque_white, transparent_white, 0.9f, 0.1f);
    size_05_2_anim.linear(0.5f, 2.0f);
    size_05_4_anim.linear(0.5f, 4.0f);
    trail_default_ramp.fadeInOut(v_make(0, 0, 0, 0), v_make(1, 1, 1, 1), v_make(0, 0, 0, 0),
                                 0.75f, 0.01f);
  }
} named_ramps_init;
}  // namespace
