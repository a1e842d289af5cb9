// D3dColor: 32-bit packed colour A8R8G8B8 (stored as a little-endian word:
// bytes B, G, R, A). Decoding gives channel / 255; packing clamps to 0..1,
// multiplies by 255 and rounds to nearest (ties to even, the SSE rule).
#pragma once
#include <cstdint>
#include <xmmintrin.h>
#include <emmintrin.h>

struct D3dColor {
  uint32_t u = 0;

  D3dColor() = default;
  constexpr D3dColor(uint32_t v) : u(v) {}
  constexpr D3dColor(int r, int g, int b, int a)
      : u(((uint32_t)(a & 255) << 24) | ((uint32_t)(r & 255) << 16) | ((uint32_t)(g & 255) << 8) |
          (uint32_t)(b & 255)) {}

  constexpr int a() const { return (u >> 24) & 255; }
  constexpr int r() const { return (u >> 16) & 255; }
  constexpr int g() const { return (u >> 8) & 255; }
  constexpr int b() const { return u & 255; }
  constexpr operator uint32_t() const { return u; }
};

// Four floats (r, g, b, a) in 0..1.
inline __m128 color_to_vec(D3dColor c) {
  __m128i i = _mm_cvtsi32_si128((int)c.u);
  i = _mm_unpacklo_epi8(i, _mm_setzero_si128());
  i = _mm_unpacklo_epi16(i, _mm_setzero_si128());  // b, g, r, a
  __m128 f = _mm_mul_ps(_mm_cvtepi32_ps(i), _mm_set1_ps(1.0f / 255.0f));
  return _mm_shuffle_ps(f, f, _MM_SHUFFLE(3, 0, 1, 2));  // r, g, b, a
}

// Clamps (r, g, b, a) to 0..1, scales by 255 and rounds to nearest.
inline D3dColor vec_to_color(__m128 rgba) {
  __m128 f = _mm_min_ps(_mm_max_ps(rgba, _mm_setzero_ps()), _mm_set1_ps(1.0f));
  f = _mm_mul_ps(f, _mm_set1_ps(255.0f));
  f = _mm_shuffle_ps(f, f, _MM_SHUFFLE(3, 0, 1, 2));  // b, g, r, a
  __m128i i = _mm_cvtps_epi32(f);
  i = _mm_packs_epi32(i, i);
  i = _mm_packus_epi16(i, i);
  return D3dColor((uint32_t)_mm_cvtsi128_si32(i));
}

inline D3dColor make_color(float r, float g, float b, float a) {
  return vec_to_color(_mm_setr_ps(r, g, b, a));
}
