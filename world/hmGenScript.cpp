// The script grid classes' native operations: float, int and bit layers,
// torus bounding boxes, flood fills, random growth, point and circle
// placement, and the two signed distance maps.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include "lib/check.h"
#include "lib/utils.h"
#include "platform/paths.h"
#include "world/hmGen.h"
#include "world/noise.h"
#include "world/scriptGrids.h"

using namespace HeightmapData;

const char* const HmapMask::script_class_name = "HmapMask";
const char* const IntMap::script_class_name = "IntMap";
const char* const BitMap::script_class_name = "BitMap";

// Offset a -> b on one axis, wrapped into -128 ... 127.
static inline int wrap_offset(int d) { return ((d + 128) & 255) - 128; }
static inline int cell_dist2(int a, int b) {
  int dx = wrap_offset((b & 255) - (a & 255)), dz = wrap_offset((b >> 8) - (a >> 8));
  return dx * dx + dz * dz;
}

void torus_interval(const bool marked[HMAP_SIZE], int& start, int& len) {
  int count = 0;
  for (int i = 0; i < HMAP_SIZE; i++) count += marked[i];
  if (count == 0) {
    start = len = 0;
    return;
  }
  if (count == HMAP_SIZE) {
    start = 0;
    len = HMAP_SIZE;
    return;
  }
  // Walk once around from the first marked position; the longest unmarked
  // run (the first of equals) is what the interval leaves out.
  int sz = 0;
  while (sz < HMAP_SIZE && !marked[sz]) sz++;
  ASSERT(sz<HMAP_SIZE);
  int run = 0, best = 0, best_end = sz;
  for (int k = 1; k <= HMAP_SIZE; k++) {
    int i = (sz + k) & 255;
    if (marked[i]) {
      run = 0;
    } else if (++run > best) {
      best = run;
      best_end = i;
    }
  }
  start = (best_end + 1) & 255;
  len = HMAP_SIZE - best;
}

static inline bool in_interval(int v, int start, int len) { return ((v - start) & 255) < len; }

// ---- HmapMask

float HmapMask::get(float x, float z) const {
  int ix = floor_coord(x), iz = floor_coord(z);
  float fx = x - (float)ix, fz = z - (float)iz;
  float h00 = getraw(ix, iz), h10 = getraw(ix + 1, iz), h01 = getraw(ix, iz + 1), h11 = getraw(ix + 1, iz + 1);
  float a = h00 + (h10 - h00) * fx, b = h01 + (h11 - h01) * fx;
  return a + (b - a) * fz;
}

void HmapMask::calcMinMax(float& mn, float& mx) const {
  mn = mx = v[0];
  for (int i = 1; i < HMAP_CELLS; i++) {
    mn = fminf(mn, v[i]);
    mx = fmaxf(mx, v[i]);
  }
}

void HmapMask::fromSlope() {
  auto h = [](int x, int z) { return hmap[hmap_index(x, z)]; };
  for (int z = 0; z < HMAP_SIZE; z++)
    for (int x = 0; x < HMAP_SIZE; x++) {
      float sx = 2.0f * (h(x - 1, z) - h(x + 1, z)) + h(x - 1, z + 1) + h(x - 1, z - 1) - h(x + 1, z + 1) -
                 h(x + 1, z - 1);
      float sz = 2.0f * (h(x, z - 1) - h(x, z + 1)) + h(x - 1, z - 1) + h(x + 1, z - 1) - h(x + 1, z + 1) -
                 h(x - 1, z + 1);
      v[hmap_index(x, z)] = 8.0f / sqrtf(sx * sx + 64.0f + sz * sz);
    }
}

void HmapMask::fromHeight() { memcpy(v, hmap, sizeof(v)); }

void HmapMask::fromWater() {
  for (int i = 0; i < HMAP_CELLS; i++) v[i] = water[i].amount;
}

void HmapMask::fastNoise(float amp, float persistence) {
  memset(v, 0, sizeof(v));
  makeFastNoise(v, amp, persistence);
}

void HmapMask::fromSimplexNoise(float scale, float period, int octaves, const FloatRamp* ramp, float gain) {
  float k = period / 256.0f;
  for (int z = 0; z < HMAP_SIZE; z++)
    for (int x = 0; x < HMAP_SIZE; x++)
      v[hmap_index(x, z)] =
          tiled_fractal_noise2((float)x * k, (float)z * k, period, octaves, ramp, gain) * scale;
}

// Runs an additive generator of hmap on this grid instead, from zero: the
// grid receives exactly what the generator would have added.
template <class F>
static void capture_added(HmapMask& m, F generate) {
  memset(m.v, 0, sizeof(m.v));
  float* saved = hmap;
  hmap = m.v;
  generate();
  hmap = saved;
}

void HmapMask::fromVoronoiHills(int tile, float min_h, float max_h, float radius) {
  capture_added(*this, [&] { addVoronoiHills(tile, min_h, max_h, radius); });
}

void HmapMask::fromVoronoiFaults(int tile, float min_h, float max_h, float warp, int warp_scale, int octaves,
                                 float sharpness) {
  capture_added(*this, [&] { genVoronoiFaults(tile, min_h, max_h, warp, warp_scale, octaves, sharpness); });
}

// ---- IntMap

void IntMap::fill(int value) {
  for (int& c : v) c = value;
  box_valid = false;
}

const TorusBox& IntMap::bounds() {
  if (box_valid) return box;
  bool cols[HMAP_SIZE] = {}, rows[HMAP_SIZE] = {};
  for (int z = 0; z < HMAP_SIZE; z++)
    for (int x = 0; x < HMAP_SIZE; x++)
      if (v[(z << 8) | x]) {
        cols[x] = true;
        rows[z] = true;
      }
  torus_interval(cols, box.x0, box.w);
  torus_interval(rows, box.z0, box.h);
  box_valid = true;
  return box;
}

int IntMap::testOverlap(IntMap& other, int dx, int dz) {
  const TorusBox a = bounds(), b = other.bounds();
  int n = 0;
  for (int j = 0; j < a.h; j++) {
    int z = (a.z0 + j) & 255;
    if (!in_interval(z - dz, b.z0, b.h)) continue;
    for (int i = 0; i < a.w; i++) {
      int x = (a.x0 + i) & 255;
      if (!in_interval(x - dx, b.x0, b.w)) continue;
      if (v[(z << 8) | x] && other.v[hmap_index(x - dx, z - dz)]) n++;
    }
  }
  return n;
}

// ---- BitMap

// A 256-bit row rotated so that out bit x = src bit (x - dx) & 255.
static inline void rotate_row(const uint32_t* src, int dx, uint32_t* out) {
  int s = dx & 255, ws = s >> 5, bs = s & 31;
  for (int w = 0; w < 8; w++) {
    uint32_t hi = src[(w - ws) & 7];
    out[w] = bs ? (hi << bs) | (src[(w - ws - 1) & 7] >> (32 - bs)) : hi;
  }
}

void BitMap::fill(bool b) {
  memset(words, b ? 0xFF : 0, sizeof(words));
  cache_valid = false;
}

void BitMap::inverse(BitMap& out) const {
  for (int i = 0; i < HMAP_SIZE * 8; i++) out.words[i] = ~words[i];
  out.cache_valid = false;
}

void BitMap::shifted(int dx, int dz, BitMap& out) const {
  for (int z = 0; z < HMAP_SIZE; z++) rotate_row(&words[((z - dz) & 255) << 3], dx, &out.words[z << 3]);
  out.cache_valid = false;
}

// Rows with their left and right neighbours: combine(center, left, right, up, down).
template <class F>
static void neighbour_op(const BitMap& m, BitMap& out, F combine) {
  for (int z = 0; z < HMAP_SIZE; z++) {
    const uint32_t* c = &m.words[z << 3];
    const uint32_t* up = &m.words[((z - 1) & 255) << 3];
    const uint32_t* down = &m.words[((z + 1) & 255) << 3];
    uint32_t left[8], right[8];
    rotate_row(c, 1, left);    // bit x = c(x - 1)
    rotate_row(c, 255, right);  // bit x = c(x + 1)
    for (int w = 0; w < 8; w++) out.words[(z << 3) | w] = combine(c[w], left[w], right[w], up[w], down[w]);
  }
  out.cache_valid = false;
}

void BitMap::erode(BitMap& out) const {
  neighbour_op(*this, out, [](uint32_t c, uint32_t l, uint32_t r, uint32_t u, uint32_t d) { return c & l & r & u & d; });
}

void BitMap::expand(BitMap& out) const {
  neighbour_op(*this, out, [](uint32_t c, uint32_t l, uint32_t r, uint32_t u, uint32_t d) { return c | l | r | u | d; });
}

// The cells selected by the truth table op among the bits of a and b.
static inline uint32_t truth_table(int op, uint32_t a, uint32_t b) {
  uint32_t r = 0;
  if (op & 1) r |= ~a & ~b;
  if (op & 2) r |= a & ~b;
  if (op & 4) r |= ~a & b;
  if (op & 8) r |= a & b;
  return r;
}

void BitMap::bitwise(const BitMap& other, int op, int dx, int dz, BitMap& out) const {
  for (int z = 0; z < HMAP_SIZE; z++) {
    uint32_t b[8];
    rotate_row(&other.words[((z - dz) & 255) << 3], dx, b);
    for (int w = 0; w < 8; w++) out.words[(z << 3) | w] = truth_table(op, words[(z << 3) | w], b[w]);
  }
  out.cache_valid = false;
}

int BitMap::testMask(const BitMap& other, int op, int dx, int dz) const {
  int n = 0;
  for (int z = 0; z < HMAP_SIZE; z++) {
    uint32_t b[8];
    rotate_row(&other.words[((z - dz) & 255) << 3], dx, b);
    for (int w = 0; w < 8; w++) n += __builtin_popcount(truth_table(op, words[(z << 3) | w], b[w]));
  }
  return n;
}

// Offset on one axis wrapped into -128 ... 128 (floats).
static inline float wrap_offset_f(float d) {
  while (d > 128.0f) d -= 256.0f;
  while (d < -128.0f) d += 256.0f;
  return d;
}

// The box, the circle and the area, recomputed together after a write.
static void refresh_cache(BitMap& m) {
  if (m.cache_valid) return;
  bool cols[HMAP_SIZE] = {}, rows[HMAP_SIZE] = {};
  uint32_t col_bits[8] = {};
  int area = 0;
  for (int z = 0; z < HMAP_SIZE; z++) {
    const uint32_t* r = &m.words[z << 3];
    int n = 0;
    for (int w = 0; w < 8; w++) {
      col_bits[w] |= r[w];
      n += __builtin_popcount(r[w]);
    }
    rows[z] = n != 0;
    area += n;
  }
  for (int x = 0; x < HMAP_SIZE; x++) cols[x] = (col_bits[x >> 5] >> (x & 31)) & 1;
  torus_interval(cols, m.box.x0, m.box.w);
  torus_interval(rows, m.box.z0, m.box.h);
  m.area_count = area;
  m.cx = (float)m.box.x0 + (float)m.box.w / 2.0f;
  m.cz = (float)m.box.z0 + (float)m.box.h / 2.0f;
  float r2 = 0.0f;
  for (int z = 0; z < HMAP_SIZE; z++) {
    const uint32_t* r = &m.words[z << 3];
    float dz = wrap_offset_f((float)z - m.cz);
    for (int w = 0; w < 8; w++)
      for (uint32_t bits = r[w]; bits; bits &= bits - 1) {
        int x = (w << 5) | __builtin_ctz(bits);
        float dx = wrap_offset_f((float)x - m.cx);
        r2 = fmaxf(r2, dx * dx + dz * dz);
      }
  }
  m.radius = sqrtf(r2);
  m.cache_valid = true;
}

const TorusBox& BitMap::bounds() {
  refresh_cache(*this);
  return box;
}

void BitMap::boundingCircle(float& x, float& z, float& r) {
  refresh_cache(*this);
  x = cx;
  z = cz;
  r = radius;
}

int BitMap::area() {
  refresh_cache(*this);
  return area_count;
}

int BitMap::testOverlap(BitMap& other, int dx, int dz) {
  const TorusBox a = bounds(), b = other.bounds();
  int n = 0;
  for (int j = 0; j < a.h; j++) {
    int z = (a.z0 + j) & 255;
    if (!in_interval(z - dz, b.z0, b.h)) continue;
    uint32_t o[8];
    rotate_row(&other.words[((z - dz) & 255) << 3], dx, o);
    for (int w = 0; w < 8; w++) n += __builtin_popcount(words[(z << 3) | w] & o[w]);
  }
  return n;
}

int BitMap::findPixel(bool value) const {
  for (int i = 0; i < HMAP_SIZE * 8; i++) {
    uint32_t w = value ? words[i] : ~words[i];
    if (w) return (i << 5) | __builtin_ctz(w);
  }
  return -1;
}

// The cell with number n among the set cells, counted in row order.
static int nth_set_cell(const BitMap& m, int n) {
  for (int i = 0; i < HMAP_SIZE * 8; i++) {
    int c = __builtin_popcount(m.words[i]);
    if (n < c) {
      uint32_t w = m.words[i];
      for (int k = 0; k < n; k++) w &= w - 1;
      return (i << 5) | __builtin_ctz(w);
    }
    n -= c;
  }
  return -1;
}

// Every set cell in row order.
static void set_cells(const BitMap& m, DynArray<int>& out) {
  out.clear();
  for (int i = 0; i < HMAP_SIZE * 8; i++)
    for (uint32_t bits = m.words[i]; bits; bits &= bits - 1) out.push_back((i << 5) | __builtin_ctz(bits));
}

int BitMap::randomPixel() {
  int a = area();
  if (a == 0) return -1;
  return nth_set_cell(*this, rndi(0, a - 1));
}

static inline int neighbour_index(int i, int k) {
  static const int dx[4] = {-1, 1, 0, 0}, dz[4] = {0, 0, -1, 1};
  return hmap_index((i & 255) + dx[k], (i >> 8) + dz[k]);
}

void BitMap::floodFill(int x, int z, BitMap& out) const {
  out.fill(false);
  int start = hmap_index(x, z);
  if (!getIndex(start)) return;
  DynArray<int> stack;
  stack.push_back(start);
  out.set(start & 255, start >> 8, true);
  while (!stack.empty()) {
    int c = stack.back();
    stack.pop_back();
    for (int k = 0; k < 4; k++) {
      int n = neighbour_index(c, k);
      if (getIndex(n) && !out.getIndex(n)) {
        out.set(n & 255, n >> 8, true);
        stack.push_back(n);
      }
    }
  }
}

bool BitMap::isContinuous() {
  int a = area();
  if (a == 0) return true;
  int first = findPixel(true);
  BitMap* fill = (BitMap*)dlmalloc(sizeof(BitMap));
  ASSERT(fill);
  new (fill) BitMap();
  floodFill(first & 255, first >> 8, *fill);
  bool whole = fill->area() == a;
  dlfree(fill);
  return whole;
}

void BitMap::randomFill(int x, int z, int count, BitMap& out) const {
  out.fill(false);
  DynArray<int> frontier;
  DynArray<uint8_t> listed;
  listed.resize(HMAP_CELLS);
  memset(listed.data(), 0, HMAP_CELLS);
  int start = hmap_index(x, z);
  if (getIndex(start)) {
    frontier.push_back(start);
    listed[start] = 1;
  }
  for (int k = 0; k < count && !frontier.empty(); k++) {
    int j = rndi(0, frontier.count() - 1);
    int c = frontier[j];
    frontier.erase(j, 1);
    out.set(c & 255, c >> 8, true);
    for (int d = 0; d < 4; d++) {
      int n = neighbour_index(c, d);
      if (getIndex(n) && !out.getIndex(n) && !listed[n]) {
        listed[n] = 1;
        frontier.push_back(n);
      }
    }
  }
}

bool BitMap::randomExpand(int count, int tries, float step) {
  DynArray<int> border;
  for (int i = 0; i < HMAP_CELLS; i++) {
    if (!getIndex(i)) continue;
    for (int k = 0; k < 4; k++)
      if (!getIndex(neighbour_index(i, k))) {
        border.push_back(i);
        break;
      }
  }
  int n = border.count();
  if (n == 0) return false;
  for (int c = 0; c < count; c++) {
    int p = border[rndi(0, n - 1)];
    int best = -1, best_d2 = 0;
    for (int t = 0; t < tries; t++) {
      int q = border[rndi(0, n - 1)];
      int d2 = cell_dist2(p, q);
      // A cell at P itself gives no direction.
      if (d2 > 0 && (best < 0 || d2 < best_d2)) {
        best = q;
        best_d2 = d2;
      }
    }
    if (best < 0) continue;
    int px = p & 255, pz = p >> 8;
    float dx = (float)wrap_offset((best & 255) - px), dz = (float)wrap_offset((best >> 8) - pz);
    float len = sqrtf((float)best_d2);
    int cx = px + nearest_int(dx / len * step), cz = pz + nearest_int(dz / len * step);
    set(cx, cz, true);
    set(cx - 1, cz, true);
    set(cx + 1, cz, true);
    set(cx, cz - 1, true);
    set(cx, cz + 1, true);
    if ((game_rnd_step() >> 10) & 1) {
      set(cx - 1, cz - 1, true);
      set(cx + 1, cz - 1, true);
      set(cx - 1, cz + 1, true);
      set(cx + 1, cz + 1, true);
    }
  }
  return true;
}

void BitMap::placePoints(int count, DynArray<int>& out) {
  out.clear();
  DynArray<int> cells;
  set_cells(*this, cells);
  unsigned a = (unsigned)cells.count();
  if (a == 0 || count <= 0) return;
  for (int i = 0; i < count; i++) out.push_back(cells[(int)(game_rnd_step() % a)]);
  int budget = 10 * count;
  if (count == 1) {
    while (budget-- > 0) out[0] = cells[(int)(game_rnd_step() % a)];
    return;
  }
  auto closest_pair = [&](int& pa, int& pb) {
    int best = INT32_MAX;
    for (int i = 0; i < count; i++)
      for (int j = i + 1; j < count; j++) {
        int d2 = cell_dist2(out[i], out[j]);
        if (d2 < best) {
          best = d2;
          pa = i;
          pb = j;
        }
      }
    return best;
  };
  int mover = 0, partner = 1;
  int pair_d2 = closest_pair(mover, partner);
  while (budget-- > 0) {
    uint32_t r = game_rnd_step();
    if ((r >> 20) & 1) std::swap(mover, partner);
    int cand = cells[(int)(r % a)];
    bool accept = true;
    for (int k = 0; k < count && accept; k++)
      if (k != mover && cell_dist2(cand, out[k]) < pair_d2) accept = false;
    if (accept) {
      out[mover] = cand;
      pair_d2 = closest_pair(mover, partner);
    }
  }
}

// Distance from a set cell to the nearest clear cell (offsets wrapped into
// -128 ... 127), by square rings until no nearer clear cell can follow.
static float clearance_of(const BitMap& m, int c) {
  int x = c & 255, z = c >> 8;
  int best = INT32_MAX;
  auto visit = [&](int dx, int dz) {
    if (!m.get(x + dx, z + dz)) {
      int d2 = dx * dx + dz * dz;
      if (d2 < best) best = d2;
    }
  };
  if (!m.get(x, z)) return 0.0f;
  for (int i = 1; i <= 128 && i * i < best; i++) {
    int hi = i < 128 ? i : 127;  // offsets stay within -128 ... 127
    for (int dx = -i; dx <= hi; dx++) {
      visit(dx, -i);
      if (i < 128) visit(dx, i);
    }
    for (int dz = -i + 1; dz <= i - 1; dz++) {
      visit(-i, dz);
      if (i < 128) visit(i, dz);
    }
  }
  return sqrtf((float)best);  // no clear cell: sqrt(2^31 - 1)
}

void BitMap::placeCircles(const float* radii, int n, DynArray<int>& out) {
  out.clear();
  DynArray<int> cells;
  set_cells(*this, cells);
  unsigned a = (unsigned)cells.count();
  if (a == 0 || n <= 0) return;
  for (int i = 0; i < n; i++) out.push_back(cells[(int)(game_rnd_step() % a)]);

  DynArray<float> clearance;  // per cell, computed on first need; -1 = not yet
  clearance.resize(HMAP_CELLS);
  for (float& c : clearance) c = -1.0f;
  auto clear_at = [&](int c) {
    if (clearance[c] < 0.0f) clearance[c] = clearance_of(*this, c);
    return clearance[c];
  };
  auto dist = [](int p, int q) { return sqrtf((float)cell_dist2(p, q)); };
  auto gap = [&](int i, int ci, int j, int cj) { return dist(ci, cj) - radii[i] - radii[j]; };

  int budget = 40 * n + 100;
  while (budget > 0) {
    // The circle whose margin is the smallest, else the closest pair.
    int mover = 0, partner = -1;
    float o = FLT_MAX;
    float min_margin = FLT_MAX;
    int mi = 0;
    for (int i = 0; i < n; i++) {
      float m = clear_at(out[i]) - radii[i];
      if (m < min_margin) {
        min_margin = m;
        mi = i;
      }
    }
    if (min_margin < 0.0f) {
      mover = mi;
      o = min_margin;
    } else if (n >= 2) {
      for (int i = 0; i < n; i++)
        for (int j = i + 1; j < n; j++) {
          float g = gap(i, out[i], j, out[j]);
          if (partner < 0 || g < o) {
            o = g;
            mover = i;
            partner = j;
          }
        }
    }
    bool pair = partner >= 0;
    bool moved = false;
    while (budget > 0 && !moved) {
      uint32_t r = game_rnd_step();
      budget--;
      if (pair && ((r >> 20) & 1)) std::swap(mover, partner);
      int cand = cells[(int)(r % a)];
      float margin = clear_at(cand) - radii[mover];
      if (!(margin >= (pair ? 0.0f : o))) continue;
      bool ok = true;
      for (int k = 0; k < n && ok; k++)
        if (k != mover && !(gap(mover, cand, k, out[k]) >= o)) ok = false;
      if (ok) {
        out[mover] = cand;
        moved = true;
      }
    }
  }
}

bool BitMap::dumpTga(const char* path) const {
  DynArray<uint8_t> file;
  file.resize(18 + HMAP_CELLS * 4);
  uint8_t* h = file.data();
  memset(h, 0, 18);
  h[2] = 2;  // uncompressed true colour
  h[12] = 0;
  h[13] = 1;  // width 256
  h[14] = 0;
  h[15] = 1;  // height 256
  h[16] = 32;
  h[17] = 8;  // eight alpha bits, rows from the bottom
  for (int i = 0; i < HMAP_CELLS; i++) {
    uint32_t px = getIndex(i) ? 0xFFFFFFFFu : 0xFF000000u;  // bytes b, g, r, a
    memcpy(h + 18 + 4 * i, &px, 4);
  }
  return write_file_replacing(make_full_path(path), file.data(), (size_t)file.count());
}

// ---- distance maps

void fast_skeleton_map(const BitMap& m, HmapMask& out) {
  // Per state: the circular distance along each row (h) and each column (v)
  // to the nearest cell in that state; BIG when the row or column has none.
  const int BIG = 1 << 20;
  DynArray<int> hd[2], vd[2];
  for (int s = 0; s < 2; s++) {
    hd[s].resize(HMAP_CELLS);
    vd[s].resize(HMAP_CELLS);
  }
  auto line_dist = [&](int s, bool rows, DynArray<int>& d) {
    for (int a = 0; a < HMAP_SIZE; a++) {
      auto cell = [&](int b) { return rows ? hmap_index(b, a) : hmap_index(a, b); };
      auto is_s = [&](int b) { return m.getIndex(cell(b)) == (s != 0); };
      bool any = false;
      for (int b = 0; b < HMAP_SIZE && !any; b++) any = is_s(b);
      if (!any) {
        for (int b = 0; b < HMAP_SIZE; b++) d[cell(b)] = BIG;
        continue;
      }
      // Two laps each way cover the wrap-around: the nearest cell behind
      // and the nearest ahead, the closer of the two.
      int last = -BIG;
      for (int k = 0; k < 2 * HMAP_SIZE; k++) {
        if (is_s(k & 255)) last = k;
        if (k >= HMAP_SIZE) d[cell(k & 255)] = k - last;
      }
      int ahead = BIG;
      for (int k = 2 * HMAP_SIZE - 1; k >= 0; k--) {
        if (is_s(k & 255)) ahead = k;
        if (k < HMAP_SIZE) d[cell(k)] = std::min(d[cell(k)], ahead - k);
      }
    }
  };
  for (int s = 0; s < 2; s++) {
    line_dist(s, true, hd[s]);
    line_dist(s, false, vd[s]);
  }
  for (int z = 0; z < HMAP_SIZE; z++)
    for (int x = 0; x < HMAP_SIZE; x++) {
      bool state = m.get(x, z);
      int opp = state ? 0 : 1;
      const DynArray<int>& H = hd[opp];
      const DynArray<int>& V = vd[opp];
      // The first ring holding an opposite cell: the Chebyshev distance.
      int ring = BIG;
      for (int dz = 0; dz <= 128 && dz < ring; dz++) {
        int a = H[hmap_index(x, z + dz)], b = H[hmap_index(x, z - dz)];
        int c = (a < b ? a : b);
        int r = c > dz ? c : dz;
        if (r < ring) ring = r;
      }
      int64_t d2 = 2147483647;
      if (ring <= 128) {
        int best = INT32_MAX;
        for (int sgn = -1; sgn <= 1; sgn += 2) {
          int hr = H[hmap_index(x, z + sgn * ring)];
          if (hr <= ring) best = std::min(best, ring * ring + hr * hr);
          int vc = V[hmap_index(x + sgn * ring, z)];
          if (vc <= ring) best = std::min(best, ring * ring + vc * vc);
        }
        d2 = best;
      }
      float value = sqrtf((float)d2) - 0.5f;
      out.v[hmap_index(x, z)] = state ? value : -value;
    }
}

void make_skeleton_map(const BitMap& m, float jitter, HmapMask& out) {
  DynArray<float> grid[2];
  grid[0].resize(HMAP_CELLS);
  grid[1].resize(HMAP_CELLS);
  float* cur = grid[0].data();
  float* next = grid[1].data();
  int seeded = 0;
  for (int z = 0; z < HMAP_SIZE; z++)
    for (int x = 0; x < HMAP_SIZE; x++) {
      bool s = m.get(x, z);
      float& c = cur[hmap_index(x, z)];
      if (m.get(x - 1, z) != s || m.get(x + 1, z) != s || m.get(x, z - 1) != s || m.get(x, z + 1) != s) {
        c = frnd() * 0.5f;
        seeded++;
      } else if (m.get(x - 1, z - 1) != s || m.get(x + 1, z - 1) != s || m.get(x - 1, z + 1) != s ||
                 m.get(x + 1, z + 1) != s) {
        c = frnd() * 0.70710677f;
        seeded++;
      } else {
        c = FLT_MAX;
      }
    }
  if (seeded == 0) {
    float v = m.words[0] ? 1.0f : -1.0f;
    for (float& c : out.v) c = v;
    return;
  }
  static const int ndx[8] = {0, -1, 1, 0, -1, 1, -1, 1}, ndz[8] = {-1, 0, 0, 1, -1, -1, 1, 1};
  for (bool reached = true; reached;) {
    reached = false;
    for (int z = 0; z < HMAP_SIZE; z++)
      for (int x = 0; x < HMAP_SIZE; x++) {
        int i = hmap_index(x, z);
        float old = cur[i], v = old;
        for (int k = 0; k < 8; k++) {
          float s = 1.0f + jitter * (2.0f * frnd() - 1.0f);
          if (k >= 4) s *= 1.4142135f;
          float cand = cur[hmap_index(x + ndx[k], z + ndz[k])] + s;
          if (cand < v) v = cand;
        }
        next[i] = v;
        if (old == FLT_MAX && v < FLT_MAX) reached = true;
      }
    std::swap(cur, next);
  }
  for (int i = 0; i < HMAP_CELLS; i++) out.v[i] = m.getIndex(i) ? cur[i] : -cur[i];
}
