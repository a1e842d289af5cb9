// The game random generator, the noise tables and the noise functions.
// All arithmetic is single-precision float in the order written here, so
// that the same tables and inputs give the same bits on every run.
#include "world/noise.h"
#include <cmath>
#include <cstring>
#include "lib/utils.h"
#include "platform/clock.h"

uint64_t game_rnd_seed = 12345;

void set_rnd_seed(int seed) { game_rnd_seed = (uint64_t)(int64_t)seed; }

void randomize_rnd_seed() { game_rnd_seed = (uint64_t)get_ref_time(); }

// The permutation reseed_noise makes from the state 12345, twice.
#define QV_INITIAL_PERM \
    182, 157, 156, 227,  83,  80, 177, 232, 109, 233, 134,   9, 220, 210, 235,  66, \
    130, 127,   6,  95, 206,  81, 240, 144, 231, 103, 160, 248, 213, 202,  21,   0, \
    154, 167,  40,  50,  77, 132,  72,  51, 172, 209, 131, 104, 166, 219, 228, 139, \
     29,  90,  17, 125, 136, 222,  57, 200,  27, 100, 236, 111, 122,  96,  36,  48, \
     87,   5,  35, 246,  18, 218,  42, 141,   2, 239,  55, 121, 116,  98, 201, 205, \
    234, 185, 188,  68, 138, 164,  47, 142, 211, 114, 126, 186,  52,  12, 123, 203, \
     30,  33, 133, 145, 208,  25, 252, 113, 117, 102, 214, 171,  39,  89,  75,  31, \
     34, 199, 161, 159, 212, 173, 106, 245,  13, 137, 149, 178,  92, 140,  41, 108, \
    226, 249, 175,  61,  53,  74, 250, 112,  62, 150,  69,  56,  45, 163, 229,  28, \
     94,  49,  76, 192,  26, 176, 118,  88, 194, 179, 230, 189,  65, 158, 148,  99, \
    119, 184, 195, 165,   7, 224,  82, 155, 146, 129, 110, 221, 124,  11,  64, 217, \
    169, 147,  10, 105,   1,  86, 207, 153,  85, 162,  23, 135,  37,  70, 170,   8, \
     93, 190,  15,  58,  38,   4, 204, 251, 183,  19,  79, 187, 115,  97, 191,  44, \
     14,  78, 242, 223,  84, 237, 254,  24,  20,  43, 143, 152, 216,  67,  59,  32, \
    197,  46, 244, 181, 198, 243, 255, 193, 241, 174, 238, 151,  91,  73, 180,  71, \
     54, 215,  60, 101, 253,  63, 247, 107, 120, 128,   3,  16, 225, 196, 168,  22,
alignas(16) uint8_t noise_perm[512] = {QV_INITIAL_PERM QV_INITIAL_PERM};
#undef QV_INITIAL_PERM

Point2 noise_points[256];

void reseed_noise() {
  for (int i = 0; i < 256; i++) noise_perm[i] = (uint8_t)i;
  for (int pass = 0; pass < 4; pass++) {
    for (int i = 0; i < 256; i++) {
      int j = (int)(game_rnd_step() & 255);
      uint8_t t = noise_perm[i];
      noise_perm[i] = noise_perm[j];
      noise_perm[j] = t;
    }
  }
  memcpy(noise_perm + 256, noise_perm, 256);
  for (int k = 0; k < 256; k++) {
    noise_points[k].x = frnd();
    noise_points[k].y = frnd();
  }
}

// ---- 1-D gradient noise

static float noise1_grad(int n) {
  int b = noise_perm[n & 255];
  int g = (b & 7) + 1;
  return (float)((b & 8) ? -g : g);
}

float noise1(float x) {
  int i = floor_coord(x);
  float f = x - (float)i;
  float t0 = 1.0f - f * f;
  t0 *= t0;
  t0 *= t0;
  float f1 = f - 1.0f;
  float t1 = 1.0f - f1 * f1;
  t1 *= t1;
  t1 *= t1;
  return 0.4f * (t0 * noise1_grad(i) * f + t1 * noise1_grad(i + 1) * f1);
}

// ---- 4-D simplex noise

// The 32 gradients: every vector with one zero component and +-1 in the others.
static const signed char grad4[32][4] = {
    {0, 1, 1, 1},   {0, 1, 1, -1},   {0, 1, -1, 1},   {0, 1, -1, -1},  {0, -1, 1, 1},
    {0, -1, 1, -1}, {0, -1, -1, 1},  {0, -1, -1, -1}, {1, 0, 1, 1},    {1, 0, 1, -1},
    {1, 0, -1, 1},  {1, 0, -1, -1},  {-1, 0, 1, 1},   {-1, 0, 1, -1},  {-1, 0, -1, 1},
    {-1, 0, -1, -1}, {1, 1, 0, 1},   {1, 1, 0, -1},   {1, -1, 0, 1},   {1, -1, 0, -1},
    {-1, 1, 0, 1},  {-1, 1, 0, -1},  {-1, -1, 0, 1},  {-1, -1, 0, -1}, {1, 1, 1, 0},
    {1, 1, -1, 0},  {1, -1, 1, 0},   {1, -1, -1, 0},  {-1, 1, 1, 0},   {-1, 1, -1, 0},
    {-1, -1, 1, 0}, {-1, -1, -1, 0}};

// Simplex traversal table, indexed by the six pairwise comparisons of the
// cell offsets (x>y 32, x>z 16, y>z 8, x>w 4, y>w 2, z>w 1). Each entry is the
// rank of x, y, z, w among the four (3 = largest); the patterns that no real
// ordering produces hold zeros.
struct SimplexTable {
  unsigned char v[64][4];
};
static constexpr SimplexTable make_simplex_table() {
  SimplexTable t{};
  for (int c = 0; c < 64; c++) {
    bool xy = c & 32, xz = c & 16, yz = c & 8, xw = c & 4, yw = c & 2, zw = c & 1;
    int r[4] = {xy + xz + xw, !xy + yz + yw, !xz + !yz + zw, !xw + !yw + !zw};
    bool seen[4] = {false, false, false, false};
    bool ok = true;
    for (int k = 0; k < 4; k++) {
      if (seen[r[k]]) ok = false;
      seen[r[k]] = true;
    }
    for (int k = 0; k < 4; k++) t.v[c][k] = ok ? (unsigned char)r[k] : 0;
  }
  return t;
}
static constexpr SimplexTable simplex4 = make_simplex_table();

static float corner4(float t, int gi, float x, float y, float z, float w) {
  if (t < 0.0f) return 0.0f;
  const signed char* g = grad4[gi];
  t *= t;
  return t * t * ((float)g[0] * x + (float)g[1] * y + (float)g[2] * z + (float)g[3] * w);
}

float noise4(float x, float y, float z, float w) {
  const float F4 = 0.309017f, G4 = 0.1381966f;
  float s = (x + y + z + w) * F4;
  int i = floor_coord(x + s), j = floor_coord(y + s), k = floor_coord(z + s),
      l = floor_coord(w + s);
  float t = (float)(i + j + k + l) * G4;
  float x0 = x - ((float)i - t), y0 = y - ((float)j - t), z0 = z - ((float)k - t),
        w0 = w - ((float)l - t);

  int c = (x0 > y0 ? 32 : 0) + (x0 > z0 ? 16 : 0) + (y0 > z0 ? 8 : 0) + (x0 > w0 ? 4 : 0) +
          (y0 > w0 ? 2 : 0) + (z0 > w0 ? 1 : 0);
  const unsigned char* sc = simplex4.v[c];
  int i1 = sc[0] >= 3, j1 = sc[1] >= 3, k1 = sc[2] >= 3, l1 = sc[3] >= 3;
  int i2 = sc[0] >= 2, j2 = sc[1] >= 2, k2 = sc[2] >= 2, l2 = sc[3] >= 2;
  int i3 = sc[0] >= 1, j3 = sc[1] >= 1, k3 = sc[2] >= 1, l3 = sc[3] >= 1;

  float x1 = x0 - (float)i1 + G4, y1 = y0 - (float)j1 + G4, z1 = z0 - (float)k1 + G4,
        w1 = w0 - (float)l1 + G4;
  float x2 = x0 - (float)i2 + 0.2763932f, y2 = y0 - (float)j2 + 0.2763932f,
        z2 = z0 - (float)k2 + 0.2763932f, w2 = w0 - (float)l2 + 0.2763932f;
  float x3 = x0 - (float)i3 + 0.41458982f, y3 = y0 - (float)j3 + 0.41458982f,
        z3 = z0 - (float)k3 + 0.41458982f, w3 = w0 - (float)l3 + 0.41458982f;
  float x4 = x0 - 1.0f + 0.5527864f, y4 = y0 - 1.0f + 0.5527864f, z4 = z0 - 1.0f + 0.5527864f,
        w4 = w0 - 1.0f + 0.5527864f;

  const uint8_t* p = noise_perm;
  int ii = i & 255, jj = j & 255, kk = k & 255, ll = l & 255;
  int gi0 = p[ii + p[jj + p[kk + p[ll]]]] & 31;
  int gi1 = p[ii + i1 + p[jj + j1 + p[kk + k1 + p[ll + l1]]]] & 31;
  int gi2 = p[ii + i2 + p[jj + j2 + p[kk + k2 + p[ll + l2]]]] & 31;
  int gi3 = p[ii + i3 + p[jj + j3 + p[kk + k3 + p[ll + l3]]]] & 31;
  int gi4 = p[ii + 1 + p[jj + 1 + p[kk + 1 + p[ll + 1]]]] & 31;

  float n0 = corner4(0.6f - x0 * x0 - y0 * y0 - z0 * z0 - w0 * w0, gi0, x0, y0, z0, w0);
  float n1 = corner4(0.6f - x1 * x1 - y1 * y1 - z1 * z1 - w1 * w1, gi1, x1, y1, z1, w1);
  float n2 = corner4(0.6f - x2 * x2 - y2 * y2 - z2 * z2 - w2 * w2, gi2, x2, y2, z2, w2);
  float n3 = corner4(0.6f - x3 * x3 - y3 * y3 - z3 * z3 - w3 * w3, gi3, x3, y3, z3, w3);
  float n4 = corner4(0.6f - x4 * x4 - y4 * y4 - z4 * z4 - w4 * w4, gi4, x4, y4, z4, w4);
  return 27.0f * (n0 + n1 + n2 + n3 + n4);
}

// ---- tileable noise

void tiled_noise2_circle(float x, float period, float& c, float& s) {
  const double two_pi = 6.283185307179586;
  float a = (float)((double)x * two_pi / (double)period);
  float r = (float)((double)period / two_pi);
  c = cosf(a) * r;
  s = sinf(a) * r;
}

float tiled_noise2(float x, float z, float period) {
  float cx, sx, cz, sz;
  tiled_noise2_circle(x, period, cx, sx);
  tiled_noise2_circle(z, period, cz, sz);
  return noise4(cx, cz, sx, sz);
}

static const signed char grad2_old[8][2] = {{0, 1},  {0, -1}, {-1, -1}, {1, -1},
                                            {1, 0},  {-1, 0}, {-1, 1},  {1, 1}};

float old_tiled_noise2(float x, float z, int tile) {
  int m = (tile - 1) & 255;
  int ix = floor_coord(x), iz = floor_coord(z);
  float fx = x - (float)ix, fz = z - (float)iz;
  int row[2] = {noise_perm[iz & m], noise_perm[(iz + 1) & m]};
  float sum = 0.0f;
  for (int b = 0; b < 2; b++) {
    for (int a = 0; a < 2; a++) {
      int h = noise_perm[((ix + a) & m) + row[b]];
      const signed char* g = grad2_old[h & 7];
      float dx = fx - (float)a, dz = fz - (float)b;
      float t = 1.0f - (dx * dx + dz * dz);
      if (t > 0.0f) {
        t *= t;
        sum += t * t * ((float)g[0] * dx + (float)g[1] * dz);
      }
    }
  }
  return 2.75f * sum;
}

// ---- cellular queries

// Visits the nine candidates around (x, z): rows iz-1..iz+1, columns
// ix-1..ix+1 within each row.
template <class Visit>
static void visit_voronoi9(float x, float z, int tile_log2, Visit&& visit) {
  int m = (1 << tile_log2) - 1;
  int mt = m & 255;
  int ix = floor_coord(x), iz = floor_coord(z);
  for (int cz = iz - 1; cz <= iz + 1; cz++) {
    int row = noise_perm[cz & mt];
    for (int cx = ix - 1; cx <= ix + 1; cx++) {
      const Point2& p = noise_points[noise_perm[(cx & mt) + row]];
      float dx = ((float)cx + p.x) - x, dz = ((float)cz + p.y) - z;
      visit(dx, dz, (cx & m) | ((cz & m) << 16));
    }
  }
}

void tiled_voronoi_noise2_near4(float x, float z, int tile_log2, float dist2[4], int id[4],
                                Point2 delta[4]) {
  float bd[4];
  int bid[4];
  Point2 bdel[4];
  int n = 0;
  visit_voronoi9(x, z, tile_log2, [&](float dx, float dz, int cid) {
    float d2 = dx * dx + dz * dz;
    // Insert after every kept candidate that is not farther (first visited wins ties).
    int at = n;
    while (at > 0 && d2 < bd[at - 1]) at--;
    if (at >= 4) return;
    int last = n < 4 ? n : 3;
    for (int k = last; k > at; k--) {
      bd[k] = bd[k - 1];
      bid[k] = bid[k - 1];
      bdel[k] = bdel[k - 1];
    }
    bd[at] = d2;
    bid[at] = cid;
    bdel[at] = Point2(dx, dz);
    if (n < 4) n++;
  });
  for (int k = 0; k < 4; k++) {
    if (dist2) dist2[k] = bd[k];
    if (id) id[k] = bid[k];
    if (delta) delta[k] = bdel[k];
  }
}

void tiled_voronoi_noise2_all9(float x, float z, int tile_log2, Point2 delta[9], int id[9]) {
  int k = 0;
  visit_voronoi9(x, z, tile_log2, [&](float dx, float dz, int cid) {
    if (delta) delta[k] = Point2(dx, dz);
    if (id) id[k] = cid;
    k++;
  });
}

// ---- fractal sums

static float ramp_octave(const FloatRamp* ramp, float v) {
  return ramp ? ramp->get((v + 1.0f) * 0.5f) : v;
}

float fractal_noise1(float x, int octaves, const FloatRamp* ramp, float gain) {
  float sum = ramp_octave(ramp, noise1(x));
  float amp = 1.0f;
  for (int o = 1; o < octaves; o++) {
    x = 2.0f * x + 0.5f;
    amp *= gain;
    sum += amp * ramp_octave(ramp, noise1(x));
  }
  return sum;
}

float tiled_fractal_noise2(float x, float z, float period, int octaves, const FloatRamp* ramp,
                           float gain) {
  float sum = ramp_octave(ramp, tiled_noise2(x, z, period));
  float amp = 1.0f;
  for (int o = 1; o < octaves; o++) {
    x = 2.0f * x + 0.5f;
    z = 2.0f * z + 0.5f;
    period *= 2.0f;
    amp *= gain;
    sum += amp * ramp_octave(ramp, tiled_noise2(x, z, period));
  }
  return sum;
}

// ---- colours

vec4f hsv2rgba(float h, float s, float v, float a) {
  if (s == 0.0f) return v_make(v, v, v, a);
  float q = h / 360.0f;
  float hh = (q - floorf(q)) * 6.0f;
  float fi = floorf(hh);
  float f = hh - fi;
  int i = (int)fi % 6;  // hh may round up to 6 just below a full turn
  float p = v * (1.0f - s), qq = v * (1.0f - s * f), t = v * (1.0f - s * (1.0f - f));
  switch (i) {
    case 0: return v_make(v, t, p, a);
    case 1: return v_make(qq, v, p, a);
    case 2: return v_make(p, v, t, a);
    case 3: return v_make(p, qq, v, a);
    case 4: return v_make(t, p, v, a);
    default: return v_make(v, p, qq, a);
  }
}

vec4f rgb2hsv(vec4f rgba) {
  float r = v_x(rgba), g = v_y(rgba), b = v_z(rgba);
  float M = r > g ? r : g;
  if (b > M) M = b;
  if (M <= 0.0f) return v_zero();
  float m = r < g ? r : g;
  if (b < m) m = b;
  float d = M - m;
  if (d == 0.0f) return v_make(0, 0, M, 0);
  float h;
  if (r == M) {
    h = 60.0f * (g - b) / d;
    if (h < 0.0f) h += 360.0f;
  } else if (g == M) {
    h = 60.0f * (b - r) / d + 120.0f;
  } else {
    h = 60.0f * (r - g) / d + 240.0f;
  }
  return v_make(h, d / M, M, 0);
}

static float lab_f_inverse(float f) {
  float f3 = f * f * f;
  return f3 > 0.008856f ? f3 : (f - 16.0f / 116.0f) / 7.787f;
}

static float srgb_compand(float c) {
  return c > 0.0031308f ? 1.055f * powf(c, 1.0f / 2.4f) - 0.055f : 12.92f * c;
}

vec4f lch2rgba(float L, float C, float h, float alpha) {
  float hr = h * (3.14159265f / 180.0f);
  float a = C * cosf(hr), b = C * sinf(hr);
  float fy = (L + 16.0f) / 116.0f;
  float fx = fy + a / 500.0f;
  float fz = fy - b / 200.0f;
  float X = lab_f_inverse(fx) * 0.95047f;
  float Y = lab_f_inverse(fy) * 1.0f;
  float Z = lab_f_inverse(fz) * 1.08883f;
  float r = 3.2406f * X - 1.5372f * Y - 0.4986f * Z;
  float g = -0.9689f * X + 1.8758f * Y + 0.0415f * Z;
  float bl = 0.0557f * X - 0.2040f * Y + 1.0570f * Z;
  return v_make(srgb_compand(r), srgb_compand(g), srgb_compand(bl), alpha);
}
