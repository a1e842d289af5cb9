// The game random generator, the shared noise tables and the noise and
// colour functions built on them. Everything that must come out the same
// from the same seed draws from game_rnd_seed, in a fixed order.
#pragma once
#include <cstdint>
#include "fx/ramps.h"
#include "lib/vecmath.h"

// ---- random state: a 64-bit linear congruential generator

extern uint64_t game_rnd_seed;  // 12345 until start-up randomises it

// One step; returns the high 32 bits of the new state.
inline uint32_t game_rnd_step() {
  game_rnd_seed = game_rnd_seed * 6364136223846793005ull + 1442695040888963407ull;
  return (uint32_t)(game_rnd_seed >> 32);
}
// h * 2^-32 exactly (a double holds it), the base of every float draw.
inline double rnd_unit_exact(uint32_t h) { return (double)h * (1.0 / 4294967296.0); }

void set_rnd_seed(int seed);  // the seed sign-extended to 64 bits
void randomize_rnd_seed();    // the current value of the monotonic clock

// The draws, one step each; float results are computed exactly and then
// rounded, so the unit draw gives exactly 1.0 when h >= 0xFFFFFF80.
inline int hmrnd() { return (int)(game_rnd_step() & 255); }
inline int irnd() { return (int)(game_rnd_step() & 0x7FFFFFFF); }
inline float frnd() { return (float)rnd_unit_exact(game_rnd_step()); }
inline float srnd() { return (float)(2.0 * rnd_unit_exact(game_rnd_step()) - 1.0); }
inline float hmfrnd() { return (float)(256.0 * rnd_unit_exact(game_rnd_step())); }
inline float hmsrnd() { return (float)(128.0 * (2.0 * rnd_unit_exact(game_rnd_step()) - 1.0)); }
inline float rndf(float a, float b) {
  double u = rnd_unit_exact(game_rnd_step());
  return (float)((double)a + u * ((double)b - (double)a));
}
// Uniform over min(a, b) ... max(a, b) inclusive.
inline int rndi(int a, int b) {
  int64_t lo = a < b ? a : b, hi = a < b ? b : a;
  uint64_t span = (uint64_t)(hi - lo) + 1;
  return (int)(lo + (int64_t)((span * (uint64_t)game_rnd_step()) >> 32));
}

// ---- noise tables

// Entries 0-255 a permutation of 0-255, 256-511 a copy, so that
// perm[a + perm[b]] needs no second wrap. A fixed permutation until the
// first reseed_noise.
extern uint8_t noise_perm[512];
// One jitter point in [0, 1)^2 per permutation value, for the cellular
// queries; zero until the first reseed_noise.
extern Point2 noise_points[256];

// Rebuilds both tables from the game random state (1,536 draws).
void reseed_noise();

inline int get_noise_hash1(int i) { return noise_perm[i & 255]; }
inline int get_noise_hash2(int i, int j) { return noise_perm[(i & 255) + noise_perm[j & 255]]; }

// ---- noise functions

float noise1(float x);                             // 1-D gradient noise, about -1..1
float noise4(float x, float y, float z, float w);  // 4-D simplex noise, about -1..1
// 2-D noise repeating with the period in x and z (the plane on a 4-D torus).
float tiled_noise2(float x, float z, float period);
// One axis of tiled_noise2: the point (c, s) on the circle of radius
// period / 2pi at angle x * 2pi / period. Grid generators tabulate it per
// row and column; tiled_noise2(x, z, p) is noise4(cx, cz, sx, sz).
void tiled_noise2_circle(float x, float period, float& c, float& s);
// Older tileable gradient noise; tile a power of two, at most 256.
float old_tiled_noise2(float x, float z, int tile);

// The four nearest cellular feature points, nearest first (ties: the one
// visited first ranks nearer); any output may be null. The pattern repeats
// every 2^tile_log2 units.
void tiled_voronoi_noise2_near4(float x, float z, int tile_log2, float dist2[4], int id[4],
                                Point2 delta[4]);
// The feature points of the 3 x 3 cells around the sample, rows then
// columns; any output may be null.
void tiled_voronoi_noise2_all9(float x, float z, int tile_log2, Point2 delta[9], int id[9]);

// Fractal sums; each octave's value v goes through the ramp at (v + 1) / 2
// when one is given. Each further octave doubles the coordinates (plus 0.5)
// and multiplies the amplitude by gain; the tiled one doubles the period too.
float fractal_noise1(float x, int octaves, const FloatRamp* ramp, float gain);
float tiled_fractal_noise2(float x, float z, float period, int octaves, const FloatRamp* ramp,
                           float gain);

// ---- colour conversions

vec4f hsv2rgba(float h, float s, float v, float a);  // hue in degrees
vec4f rgb2hsv(vec4f rgba);                           // (h, s, v, 0)
vec4f lch2rgba(float L, float C, float h, float alpha);  // CIE L*C*h (D65) to sRGB, unclamped
