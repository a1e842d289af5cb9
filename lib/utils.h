// Small numeric rules shared by the world, the renderer and sound.
#pragma once
#include <cmath>
#include <xmmintrin.h>

// Floor of a coordinate as the game computes it: round-to-nearest of
// v - 0.49999988 (the SSE conversion, ties to even).
inline int floor_coord(float v) { return _mm_cvtss_si32(_mm_set_ss(v - 0.49999988f)); }

// World positions repeat every 256 units in x and z. Moves p by a multiple of
// 256 so that it lies within (-128, 128] of c.
inline float wrap_world_coord(float p, float c) {
  float d = p - c;
  d = (d / 256.0f - truncf(d / 256.0f)) * 256.0f;
  if (d > 128.0f) d -= 256.0f;
  if (d <= -128.0f) d += 256.0f;
  return c + d;
}
