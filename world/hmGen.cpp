// Terrain generators and brushes. Every generator is one pass over the
// cells; random draws happen in the documented order only, so that a world
// can be made again from the seed it started with.
#include "world/hmGen.h"
#include <cmath>
#include "lib/check.h"
#include "lib/tempData.h"
#include "lib/utils.h"
#include "objects/gameobj_ops.h"
#include "world/heightmap.h"
#include "world/noise.h"

// The five house shapes; templates 1 and 2 share their strings.
static const char house0_heights[] =
    "0000000000000000000"
    "0888000000000008880"
    "0898664466644668980"
    "0888664466644668880"
    "0066444444444446600"
    "0066444444444446600"
    "0044440000000444400"
    "0044440000000444400"
    "0066440088800446600"
    "0066440089800446600"
    "0066440088800446600"
    "0044440000000444400"
    "0044440000000444400"
    "0066444444444446600"
    "0066444444444446600"
    "0888664466644668880"
    "0898664466644668980"
    "0888000000000008880"
    "0000000000000000000";
static const char house0_tiles[] =
    "bdcb..........bdcb"
    "caarkomnkjqlpjraad"
    "daaifheiffheifhaac"
    "brhsigeghigeghsirb"
    ".jfheeeeeeeeeeifk."
    ".pigebcdcdcdbegho."
    ".leeed......ceeem."
    ".qhgec.bdcb.degin."
    ".jfied.caad.cehfk."
    ".kfhec.daac.deifj."
    ".niged.bcdb.ceghq."
    ".meeec......deeel."
    ".ohgebdcdcdcbegip."
    ".kfieeeeeeeeeehfj."
    "brishgegihgegishrb"
    "caahfiehffiehfiaad"
    "daarjplqjknmokraac"
    "bcdb..........bcdb";
static const char house0_rotations[] =
    "566600000000005666"
    "556766666666665563"
    "503363056630565033"
    "000303000030000043"
    "055300000000005330"
    "050305000000600030"
    "050003000000500030"
    "056603056660505630"
    "055303055630505330"
    "055303050330505330"
    "050303000030500030"
    "050003000000500030"
    "056600666666305630"
    "055300000000005330"
    "526666056660565666"
    "556303050030505563"
    "503300000000001033"
    "000300000000000003";
static const char house1_heights[] =
    "00000"
    "08880"
    "08980"
    "08880"
    "00000";
static const char house1_tiles[] =
    "bdcb"
    "caad"
    "daac"
    "bcdb";
static const char house1_rotations[] =
    "5666"
    "5563"
    "5033"
    "0003";
static const char house3_heights[] =
    "00000"
    "05550"
    "05650"
    "05550"
    "05550"
    "05750"
    "05550"
    "05550"
    "05650"
    "05550"
    "00000";
static const char house3_tiles[] =
    "bdcb"
    "caad"
    "daac"
    "ceed"
    "daac"
    "caad"
    "deec"
    "caad"
    "daac"
    "bcdb";
static const char house3_rotations[] =
    "5666"
    "5563"
    "5033"
    "5003"
    "5563"
    "5033"
    "5003"
    "5563"
    "5033"
    "0003";
static const char house4_heights[] =
    "00000000000"
    "05555555550"
    "05655755650"
    "05555555550"
    "00000000000";
static const char house4_tiles[] =
    "bdcdcdcdcb"
    "caaeaaeaad"
    "daaeaaeaac"
    "bcdcdcdcdb";
static const char house4_rotations[] =
    "5666666666"
    "5560560563"
    "5030030033"
    "0000000003";
const HouseTemplate house_templates[5] = {
    {18, 18, 6.75f, house0_heights, house0_tiles, house0_rotations},
    {4, 4, 6.75f, house1_heights, house1_tiles, house1_rotations},
    {4, 4, 6.75f, house1_heights, house1_tiles, house1_rotations},
    {4, 10, 6.75f, house3_heights, house3_tiles, house3_rotations},
    {10, 4, 6.75f, house4_heights, house4_tiles, house4_rotations},
};

using namespace HeightmapData;

// Moves a packed colour towards target by w: decoded to 0..1, blended,
// clamped, scaled by 255 and rounded to nearest.
static inline D3dColor blend_color(D3dColor c, vec4f target, float w) {
  vec4f f = unpack_color(c);
  return pack_color(_mm_add_ps(f, _mm_mul_ps(_mm_sub_ps(target, f), _mm_set1_ps(w))));
}

// Blends the ramp colour at t into the cell's ground colour: the ramp's RGB
// with alpha replaced by alpha/255, weighted by the ramp's own alpha.
static inline void blend_ramp_color(Surface& s, const ColorRamp* ramp, float t, int alpha) {
  alignas(16) float rc[4];
  _mm_store_ps(rc, ramp->get(t));
  float w = rc[3];
  rc[3] = (float)alpha / 255.0f;
  s.color = blend_color(s.color, _mm_load_ps(rc), w);
}

static int tile_log2_of(int tile) {
  int l = 0;
  while ((1 << l) < tile) l++;
  return l;
}

// Table of one axis of tiled fractal noise: for every grid coordinate i
// (0..255) and octave, the circle point of tiled_noise2 at the coordinate
// i * scale with the octaves' coordinate and period doubling. A tiled
// fractal sum over the grid then needs only noise4 per cell and octave and
// gives exactly the bits tiled_fractal_noise2 gives.
struct TiledAxisTable {
  int octaves;
  TempData table;  // per octave: 256 circle x values, then 256 circle y values

  TiledAxisTable(float scale, float period, int oct)
      : octaves(oct < 1 ? 1 : oct), table((size_t)octaves * 512 * sizeof(float)) {
    for (int i = 0; i < 256; i++) {
      float x = (float)i * scale, p = period;
      for (int o = 0; o < octaves; o++) {
        if (o > 0) {
          x = 2.0f * x + 0.5f;
          p *= 2.0f;
        }
        tiled_noise2_circle(x, p, c(o)[i], s(o)[i]);
      }
    }
  }
  float* c(int o) const { return (float*)table.data + o * 512; }
  float* s(int o) const { return (float*)table.data + o * 512 + 256; }
  // The fractal sum (no ramp) at the grid point (i for the first noise
  // coordinate, j for the second).
  float sum(int i, int j, float gain) const {
    float v = noise4(c(0)[i], c(0)[j], s(0)[i], s(0)[j]);
    float amp = 1.0f;
    for (int o = 1; o < octaves; o++) {
      amp *= gain;
      v += amp * noise4(c(o)[i], c(o)[j], s(o)[i], s(o)[j]);
    }
    return v;
  }
};

namespace HeightmapData {

void makeFastNoise(float* data, float amp, float persistence) {
  data[hmap_index(0, 0)] = data[hmap_index(128, 0)] = -0.5f;
  data[hmap_index(0, 128)] = data[hmap_index(128, 128)] = -0.5f;
  // Each level reads the values of the d-lattice left by the previous one
  // (copied, because the new points overwrite some of them).
  TempData prev_data(128 * 128 * sizeof(float));
  float* prev = prev_data.floats();
  float g = amp;
  for (int d = 128; d > 1; d /= 2) {
    int n = 256 / d, e = d / 2;
    for (int j = 0; j < n; j++)
      for (int i = 0; i < n; i++) prev[j * n + i] = data[hmap_index(i * d, j * d)];
    for (int j = 0; j < n; j++) {
      int j1 = (j + 1) & (n - 1);
      for (int i = 0; i < n; i++) {
        int i1 = (i + 1) & (n - 1);
        float A = prev[j * n + i], B = prev[j * n + i1], C = prev[j1 * n + i], D = prev[j1 * n + i1];
        int x0 = i * d, z0 = j * d;
        data[hmap_index(x0, z0)] = (9.0f * A + 3.0f * (B + C) + D) / 16.0f + frnd() * g;
        data[hmap_index(x0 + e, z0)] = (9.0f * B + 3.0f * (A + D) + C) / 16.0f + frnd() * g;
        data[hmap_index(x0, z0 + e)] = (9.0f * C + 3.0f * (A + D) + B) / 16.0f + frnd() * g;
        data[hmap_index(x0 + e, z0 + e)] = (9.0f * D + 3.0f * (B + C) + A) / 16.0f + frnd() * g;
      }
    }
    g *= persistence;
  }
}

void addFastNoise(float min_ht, float max_ht, const ColorRamp* ramp, int ground, int alpha,
                  float persistence) {
  ASSERT(min_ht<=max_ht);
  ASSERT(min_ht>=0);
  TempData noise(HMAP_CELLS * sizeof(float), true);
  float* n = noise.floats();
  makeFastNoise(n, 1.0f, persistence);
  float range = max_ht - min_ht;
  for (int i = 0; i < HMAP_CELLS; i++) {
    if (ramp) blend_ramp_color(surface[i], ramp, n[i], alpha);
    if (ground != -1) surface[i].info = info_with_ground(surface[i].info, ground);
    hmap[i] += n[i] * range + min_ht;
  }
}

void addSimplexNoise(float min_ht, float max_ht, int tile, int octaves, float gain) {
  ASSERT(min_ht<=max_ht);
  ASSERT(min_ht>=0);
  ASSERT((tile&(tile-1))==0 && tile>0);
  // x * tile / 256 for the grid coordinates, the same table for x and z.
  TiledAxisTable axis((float)tile / 256.0f, (float)tile, octaves);
  float range = max_ht - min_ht;
  for (int z = 0; z < HMAP_SIZE; z++) {
    for (int x = 0; x < HMAP_SIZE; x++) {
      float s = axis.sum(x, z, gain);
      hmap[hmap_index(x, z)] += fmaxf(0.0f, 0.286f * s + 0.5f) * range + min_ht;
    }
  }
}

// Level or hill height of a cellular feature, from its id.
static inline float feature_value(const float* table, int id) {
  return table[noise_perm[noise_perm[(id >> 16) & 255] + (id & 255)]];
}

void addVoronoiHills(int tile, float min_h, float max_h, float radius) {
  ASSERT((tile&(tile-1))==0 && tile>0);
  int tile_log2 = tile_log2_of(tile);
  float H[256];
  for (float& h : H) h = min_h + (max_h - min_h) * frnd();
  float r2 = radius * radius;
  float scale = (float)tile / 256.0f;
  for (int z = 0; z < HMAP_SIZE; z++) {
    for (int x = 0; x < HMAP_SIZE; x++) {
      Point2 delta[9];
      int id[9];
      tiled_voronoi_noise2_all9((float)x * scale, (float)z * scale, tile_log2, delta, id);
      float best = 0.0f;
      for (int k = 0; k < 9; k++) {
        float w = 1.0f - (delta[k].x * delta[k].x + delta[k].y * delta[k].y) / r2;
        if (w > 0.0f) {
          float v = feature_value(H, id[k]) * w;
          if (v > best) best = v;
        }
      }
      hmap[hmap_index(x, z)] += best;
    }
  }
}

void genVoronoiFaults(int tile, float min_h, float max_h, float warp, int warp_scale,
                      int octaves, float sharpness) {
  ASSERT((tile&(tile-1))==0 && tile>0);
  int tile_log2 = tile_log2_of(tile);
  float L[256];
  for (float& l : L) l = min_h + (max_h - min_h) * frnd();
  float l = (float)tile / 256.0f;
  float P = (float)(tile * warp_scale);
  float o = P / 256.0f;
  // The warp noise W(x*o, z*o) and W(z*o, x*o): one axis table serves both.
  TiledAxisTable axis(o, P, octaves);
  float edge = sharpness / l;
  for (int z = 0; z < HMAP_SIZE; z++) {
    for (int x = 0; x < HMAP_SIZE; x++) {
      float wx = warp * axis.sum(x, z, 0.5f);
      float wz = warp * axis.sum(z, x, 0.5f);
      float d2[4];
      int id[4];
      tiled_voronoi_noise2_near4((float)x * l + wx, (float)z * l + wz, tile_log2, d2, id, nullptr);
      float E = feature_value(L, id[0]), I = feature_value(L, id[1]);
      float f = (sqrtf(d2[1]) - sqrtf(d2[0])) * edge / fmaxf(fabsf(E - I), 0.1f);
      hmap[hmap_index(x, z)] += f > 1.0f ? E : ((E - I) * f + E + I) / 2.0f;
    }
  }
}

// Four octaves of noise1 from s (each argument 2 * previous + 0.5), or
// three when short.
static float fault_profile(float s, int octaves) {
  float v = noise1(s), amp = 1.0f;
  for (int k = 1; k < octaves; k++) {
    s = 2.0f * s + 0.5f;
    amp *= 0.5f;
    v += amp * noise1(s);
  }
  return v;
}

void genFault(Point2 centre, Point2 dir, float height, float level, float wobble,
              const ColorRamp* ramp, int ground, int alpha, float* heights) {
  float len = sqrtf(dir.x * dir.x + dir.y * dir.y);
  float nx = 0.0f, nz = 0.0f;
  if (len > 0.0f) {
    nx = dir.x / len;
    nz = dir.y / len;
  }
  float base = centre.x + centre.y + 256.0f * frnd();
  float P[257], Q[257];
  for (int i = 0; i <= 256; i++) {
    float s = base + 0.005f * (float)i;
    P[i] = fault_profile(s, 4);
    Q[i] = fault_profile(16.0f * s, 3);
  }
  for (int z = 0; z < HMAP_SIZE; z++) {
    float dz = wrap_world_coord((float)z - centre.y, 0.0f);
    for (int x = 0; x < HMAP_SIZE; x++) {
      float dx = wrap_world_coord((float)x - centre.x, 0.0f);
      float across = nx * dx + nz * dz;
      float along = -nz * dx + nx * dz;
      float ga = across / 64.0f, gb = along / 128.0f;
      float G = ga * ga + gb * gb;
      if (G >= 1.0f) continue;
      float s = 1.0f - G;
      float F = s * s * (3.0f - 2.0f * s);
      int k = floor_coord(along);
      if (k < -128) k = -128;  // along lies within (-128, 128) here
      if (k > 127) k = 127;
      float f = along - (float)k;
      float p = P[k + 128] + (P[k + 129] - P[k + 128]) * f;
      float q = Q[k + 128] + (Q[k + 129] - Q[k + 128]) * f;
      float v = ((p + q / 16.0f) * wobble + across) * (4.0f - 0.7f * (1.0f - q));
      float upper = 0.75f * height * F, lower = -0.25f * height * F;
      int i = hmap_index(x, z);
      if (v > upper) {
        heights[i] += upper;
      } else if (v < lower) {
        heights[i] += lower;
      } else {
        Surface& sf = surface[i];
        if (ramp) {
          blend_ramp_color(sf, ramp, (v - lower) / (upper - lower), alpha);
          sf.info = info_with_cover(sf.info, ST_OPEN);
          sf.top_color = D3dColor(0u);
        }
        if (ground != -1) sf.info = info_with_ground(sf.info, ground);
        heights[i] += v;
      }
      heights[i] += F * (level - 0.75f) * height;
    }
  }
}

void genCrater(Point2 centre, float radius, float depth, float* heights) {
  float cx = centre.x, cz = centre.y, R = radius, k = depth;
  DiscBounds b = disc_bounds(cx, cz, R);
  double sum = 0.0;
  int count = 0;
  for (int z = b.z0; z <= b.z1; z++)
    for (int x = b.x0; x <= b.x1; x++)
      if (disc_dist2(x, z, cx, cz) < R * R) {
        sum += heights[hmap_index(x, z)];
        count++;
      }
  float avg = count ? (float)(sum / count) : heights[hmap_index(nearest_int(cx), nearest_int(cz))];
  float rim = avg - 1.5f * k;

  float R2 = 2.0f * R;
  DiscBounds outer = disc_bounds(cx, cz, R2);
  for (int z = outer.z0; z <= outer.z1; z++) {
    for (int x = outer.x0; x <= outer.x1; x++) {
      float d2 = disc_dist2(x, z, cx, cz);
      if (!(d2 < R2 * R2)) continue;
      float r = sqrtf(d2);
      float t = (r - R) * 2.0f / 3.0f;
      float w = 1.0f - t * t;
      float& h = heights[hmap_index(x, z)];
      if (r < R) {
        float u = avg - k * sqrtf(R * R - d2);
        if (r > R - 1.5f) u += w * (rim - u);
        h = fminf(h, u);
      } else {
        float v = avg - k * (r - R);
        if (r < R + 1.5f) v += w * (rim - v);
        if (v < h) {
          float fall = 1.0f - (r - R) / R;
          h += (v - h) * (fall * fall);
        }
      }
    }
  }
}

void placeHouse(int x, int z, int type, float* heights, bool keep_mean) {
  int t = type == -1 ? 0 : type == -2 ? 1 : 2 + (int)((unsigned)type % 3u);
  const HouseTemplate& ht = house_templates[t];
  int w = ht.w, d = ht.d;
  int x0 = (x - w / 2) & 255, z0 = (z - d / 2) & 255;
  if (type >= 0 && !test_rect_mark(x0, z0, x0 + w, z0 + d, 15, 0)) return;
  mark_rect(x0, z0, x0 + w, z0 + d, MARK_HOUSE, 0);

  // Template height of grid point (i from the near side, j), or -1 for none.
  auto point_digit = [&](int i, int j) {
    char c = ht.heights[(d - i) * (w + 1) + j];
    return c >= '0' && c <= '9' ? c - '0' : -1;
  };
  auto digit_height = [&](int digit) { return (float)digit * ht.height_scale / 9.0f; };

  float sum = 0.0f;
  for (int i = 0; i <= d; i++) {
    for (int j = 0; j <= w; j++) {
      float h = heights[hmap_index(x0 + j, z0 + i)];
      int digit = point_digit(i, j);
      if (keep_mean && digit >= 0) h -= digit_height(digit);
      sum += h;
    }
  }
  float base = sum / (float)((w + 1) * (d + 1));
  for (int i = 0; i <= d; i++) {
    for (int j = 0; j <= w; j++) {
      int digit = point_digit(i, j);
      if (digit >= 0) heights[hmap_index(x0 + j, z0 + i)] = digit_height(digit) + base;
    }
  }
  for (int i = 0; i < d; i++) {
    for (int j = 0; j < w; j++) {
      int k = (d - 1 - i) * w + j;
      char c = ht.tiles[k];
      if (c < 'a' || c > 'z') continue;
      Surface& s = surface[hmap_index(x0 + j, z0 + i)];
      uint32_t info = s.info & INFO_MARKS_MASK;  // GT_HOUSE and ST_OPEN are 0
      info |= ((uint32_t)(ht.rotations[k] & 7) << INFO_TILE_ROT_SHIFT);
      info |= ((uint32_t)(c - 'a') << INFO_TILE_SHIFT);
      s.info = info;
      s.top_color = D3dColor(0u);
    }
  }
}

}  // namespace HeightmapData

void circle_brush(float cx, float cz, float r, float amount, float power, float* heights) {
  if (r <= 0.0f) return;
  DiscBounds b = disc_bounds(cx, cz, r);
  float r2 = r * r;
  for (int z = b.z0; z <= b.z1; z++)
    for (int x = b.x0; x <= b.x1; x++) {
      float d2 = disc_dist2(x, z, cx, cz);
      if (d2 < r2) {
        float p = (float)pow((double)(d2 / r2), (double)power);
        heights[hmap_index(x, z)] += (1.0f - p) * amount;
      }
    }
}

void flatten_circle(float cx, float cz, float r, float target, float strength, float power,
                    float* heights) {
  if (r <= 0.0f) return;
  DiscBounds b = disc_bounds(cx, cz, r);
  float r2 = r * r;
  for (int z = b.z0; z <= b.z1; z++)
    for (int x = b.x0; x <= b.x1; x++) {
      float d2 = disc_dist2(x, z, cx, cz);
      if (d2 < r2) {
        float p = (float)pow((double)(d2 / r2), (double)power);
        float& h = heights[hmap_index(x, z)];
        h += (1.0f - p) * strength * (target - h);
      }
    }
}

// The land height at (x, z): the module's answer when it is bound, else the
// bilinear height of the grid itself.
static float land_height_at(float x, float z, const float* heights) {
  if (get_land_height) return get_land_height(x, z);
  int ix = floor_coord(x), iz = floor_coord(z);
  float fx = x - (float)ix, fz = z - (float)iz;
  float h00 = heights[hmap_index(ix, iz)], h10 = heights[hmap_index(ix + 1, iz)];
  float h01 = heights[hmap_index(ix, iz + 1)], h11 = heights[hmap_index(ix + 1, iz + 1)];
  float a = h00 + (h10 - h00) * fx, b = h01 + (h11 - h01) * fx;
  return a + (b - a) * fz;
}

float get_average_circle_height(float cx, float cz, float r, float* heights) {
  if (r < 0.0f) r = 0.0f;
  float sum = land_height_at(cx, cz, heights);
  int count = 1;
  DiscBounds b = disc_bounds(cx, cz, r);
  float r2 = r * r;
  for (int z = b.z0; z <= b.z1; z++)
    for (int x = b.x0; x <= b.x1; x++)
      if (disc_dist2(x, z, cx, cz) < r2) {
        sum += heights[hmap_index(x, z)];
        count++;
      }
  return sum / (float)count;
}
