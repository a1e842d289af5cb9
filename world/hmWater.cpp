// Water and lava: a shallow-fluid model on the wrapping grid. Pass 1 advects
// the face flows semi-Lagrangian, accelerates them by the fluid surface
// differences and computes the turbulence, reading only the previous state;
// pass 2 moves the amounts along the flows in one ordered sweep, evaporates
// shallow water, cools lava into land and turns water meeting lava into rock.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include "lib/utils.h"
#include "world/heightmap.h"
#include "world/hmWaterKernel.h"
#include "world/noise.h"

namespace HeightmapData {

// ---- pass 2, transport (sequential: each cell adds to cells not yet visited)

static const vec4f LAVA_ROCK_TOP = _mm_setr_ps(0.04f, 0.04f, 0.04f, 0.5f);
static const vec4f LAVA_ROCK_GROUND = _mm_setr_ps(0.01f, 0.01f, 0.01f, 0.01f);

static inline vec4f blend4(vec4f c, vec4f target, float w) {
  return _mm_add_ps(c, _mm_mul_ps(_mm_sub_ps(target, c), _mm_set1_ps(w)));
}
static inline D3dColor blend_packed(D3dColor c, vec4f target, float w) {
  return vec_to_color(blend4(color_to_vec(c), target, w));
}

// Colours of a cell turning to lava rock with weight w; the cover becomes
// ash from w 0.5.
static inline void rock_colors(Surface& s, float w) {
  s.top_color = blend_packed(s.top_color, LAVA_ROCK_TOP, w);
  if (w >= 0.5f) s.info = info_with_cover(s.info, ST_ASH);
  s.color = blend_packed(s.color, LAVA_ROCK_GROUND, w);
}

// Moves c and its four neighbours (w, s, e, n order) towards their mean,
// the centre weighted four times: 10 % for the centre, 3 % for the others.
static inline void smear(D3dColor Surface::*field, const int nb[4], int c) {
  vec4f m = _mm_mul_ps(_mm_set1_ps(4.0f), color_to_vec(surface[c].*field));
  for (int k = 0; k < 4; k++) m = _mm_add_ps(m, color_to_vec(surface[nb[k]].*field));
  m = _mm_div_ps(m, _mm_set1_ps(8.0f));
  surface[c].*field = blend_packed(surface[c].*field, m, 0.1f);
  for (int k = 0; k < 4; k++) surface[nb[k]].*field = blend_packed(surface[nb[k]].*field, m, 0.03f);
}

// Contact of q units of water and lava at cell i: that volume becomes rock.
static inline void contact_rock(int i, float q) {
  hmap[i] += q;
  target_hmap[i] += q;
  rock_colors(surface[i], fminf(1.0f, 100.0f * q));
}

static void transport_cell(int x, int z, float a, float dt, float water_damping) {
  Water* nw = water;
  int c = hmap_index(x, z);
  // Neighbours in the order shares are applied: (x-1, z), (x, z-1), (x+1, z), (x, z+1).
  int nb[4] = {hmap_index(x - 1, z), hmap_index(x, z - 1), hmap_index(x + 1, z),
               hmap_index(x, z + 1)};
  float avail;
  if (a > 0.0f) {
    avail = a;
    if (a < 0.5f) {
      if (a < 0.01f) {
        nw[c].amount -= a;
        avail = 0.0f;
      } else {
        avail = a * water_damping;
        nw[c].amount -= a - avail;
      }
    }
  } else {
    float f = -a;
    if (f > 0.003f) f *= fminf(1.0f, 0.05f * dt);
    nw[c].amount += f;
    hmap[c] += f;
    target_hmap[c] += f;
    rock_colors(surface[c], fminf(1.0f, 100.0f * f));
    smear(&Surface::color, nb, c);
    smear(&Surface::top_color, nb, c);
    avail = -(a + f);
  }

  // Outward flows (w, s, e, n); a face carries nothing when its flow runs
  // inwards or the neighbour's land lies above the fluid left here.
  const __m128 zero = _mm_setzero_ps();
  __m128 out = _mm_setr_ps(-nw[nb[0]].flow_x, -nw[nb[1]].flow_z, nw[c].flow_x, nw[c].flow_z);
  __m128 land = _mm_setr_ps(hmap[nb[0]], hmap[nb[1]], hmap[nb[2]], hmap[nb[3]]);
  float limit = hmap[c] + avail;
  out = _mm_andnot_ps(_mm_or_ps(_mm_cmplt_ps(out, zero), _mm_cmpgt_ps(land, _mm_set1_ps(limit))), out);
  alignas(16) float o[4];
  _mm_store_ps(o, out);
  float T = o[0] + o[1] + o[2] + o[3];
  float rate = 4.0f * dt * T;
  if (rate <= 0.001f) return;
  float moved = fminf(avail, rate);
  __m128 shares = _mm_div_ps(_mm_mul_ps(_mm_set1_ps(moved), out), _mm_set1_ps(T));
  __m128 positive = _mm_cmpgt_ps(shares, zero);
  alignas(16) float share[4];
  _mm_store_ps(share, shares);

  if (a > 0.0f) {
    nw[c].amount -= moved;
    __m128 n = _mm_setr_ps(nw[nb[0]].amount, nw[nb[1]].amount, nw[nb[2]].amount, nw[nb[3]].amount);
    if (!_mm_movemask_ps(_mm_and_ps(positive, _mm_cmplt_ps(n, zero)))) {
      // No lava receives water: add the positive shares (adding -0 changes nothing).
      alignas(16) float add[4];
      _mm_store_ps(add, _mm_or_ps(_mm_and_ps(positive, shares),
                                  _mm_andnot_ps(positive, _mm_set1_ps(-0.0f))));
      for (int k = 0; k < 4; k++) nw[nb[k]].amount += add[k];
      return;
    }
    for (int k = 0; k < 4; k++) {
      float s = share[k];
      if (!(s > 0.0f)) continue;
      int i = nb[k];
      float n = nw[i].amount;
      if (n < 0.0f) {
        float q = fminf(s, -n);
        contact_rock(i, q);
        water_vapor_fx(i & 255, i >> 8, fabsf(n + s) + hmap[i], q);
      }
      nw[i].amount += s;
    }
  } else {
    nw[c].amount += moved;
    for (int k = 0; k < 4; k++) {
      float s = share[k];
      if (!(s > 0.0f)) continue;
      int i = nb[k];
      float n = nw[i].amount;
      if (n > 0.0f) {
        float q = fminf(s, n);
        contact_rock(i, q);
        water_vapor_fx(i & 255, i >> 8, fabsf(n - s) + hmap[i], q);
        if (s > n) nw[i].flow_x = nw[i].flow_z = 0.0f;
      }
      nw[i].amount -= s;
    }
  }
}

// ---- pass 1, flows and turbulence (reads only the previous state)

// Minimum as the vector code takes it (the second operand when the first is
// not smaller), so the scalar and vector paths agree bit for bit.
static inline float min_f(float a, float b) { return a < b ? a : b; }

static inline float lava_depth(float amount) { return amount < 0.0f ? -amount : 0.0f; }

static inline float viscosity(int x, int z) {
  return (float)noise_perm[noise_perm[x] + z] / 255.0f * 0.85f + 0.15f;
}

// Bilinear sample of one float field of the old buffer (field offset in floats).
static inline float sample_old(const Water* old, int field, float px, float pz) {
  int i = floor_coord(px), j = floor_coord(pz);
  float fx = px - (float)i, fz = pz - (float)j;
  const float* f = (const float*)old + field;
  float s00 = f[4 * hmap_index(i, j)], s10 = f[4 * hmap_index(i + 1, j)];
  float s01 = f[4 * hmap_index(i, j + 1)], s11 = f[4 * hmap_index(i + 1, j + 1)];
  float a = s00 + (s10 - s00) * fx, b = s01 + (s11 - s01) * fx;
  return a + (b - a) * fz;
}

// New flow across the face from cell c to cell e (its +x or +z neighbour),
// given the advected old flow a0 and the drive h (adjusted in place on a lava
// face); counts a blocked face.
static inline float face_flow(const Water* old, int c, int e, int x, int z, float a0, float& h,
                              const FluidConstants& k, int& blocked) {
  float ac = old[c].amount, ae = old[e].amount;
  float flow;
  if (ac + ae < 0.0f) {
    if (h < -k.dt)
      h += k.dt;
    else if (h > k.dt)
      h -= k.dt;
    else
      h = 0.0f;
    float D = viscosity(x, z) * (lava_depth(ac) + lava_depth(ae));
    if (D < 0.05f) {
      flow = 0.0f;
    } else {
      flow = a0 * k.lava_damping + 0.3f * h;
      if (D < 0.2f) flow *= (D - 0.05f) / 0.15f;
    }
  } else {
    flow = a0 * k.water_damping + h;
  }
  float dc = fabsf(ac), de = fabsf(ae);
  float lc = hmap[c] + dc, le = hmap[e] + de;
  if ((flow >= 0.0f && min_f(dc, lc - hmap[e]) <= 0.0f) ||
      (flow < 0.0f && min_f(de, le - hmap[c]) <= 0.0f)) {
    flow = 0.0f;
    blocked++;
  }
  return flow;
}

// The whole of pass 1 for one cell, straight from the grids.
void flow_cell_plain(const Water* old, Water* nw, int x, int z, const FluidConstants& k) {
  int c = hmap_index(x, z), e = hmap_index(x + 1, z), n = hmap_index(x, z + 1);
  int w = hmap_index(x - 1, z), s = hmap_index(x, z - 1);
  float dt = k.dt;
  int blocked = 0;

  float px = (float)x - old[c].flow_x * dt;
  float pz = (float)z - dt * (old[s].flow_z + old[hmap_index(x + 1, z - 1)].flow_z + old[c].flow_z +
                              old[e].flow_z) * 0.25f;
  float a0 = sample_old(old, 1, px, pz), t0 = sample_old(old, 3, px, pz);
  float lc = hmap[c] + fabsf(old[c].amount);
  float hx = (lc - (hmap[e] + fabsf(old[e].amount))) * 10.0f * dt;
  float fx = face_flow(old, c, e, x, z, a0, hx, k, blocked);

  float qx = (float)x - dt * (old[w].flow_x + old[c].flow_x + old[hmap_index(x - 1, z + 1)].flow_x +
                              old[n].flow_x) * 0.25f;
  float qz = (float)z - old[c].flow_z * dt;
  float a1 = sample_old(old, 2, qx, qz), t1 = sample_old(old, 3, qx, qz);
  float hz = (lc - (hmap[n] + fabsf(old[n].amount))) * 10.0f * dt;
  float fz = face_flow(old, c, n, x, z, a1, hz, k, blocked);

  float around = 2.0f * t0 + 2.0f * t1 + old[n].turbulence + old[w].turbulence +
                 old[e].turbulence + old[s].turbulence;
  float turb = 3.2f * (hx * hx) + 3.2f * (hz * hz) + 0.01f * (float)blocked +
               k.turbulence_decay * around * 0.125f;
  nw[c] = {old[c].amount, fx, fz, min_f(turb, 1.0f)};
}

// Which cells of the old state hold fluid (4 bits per group of four cells)
// and which rows hold no lava, filled while the rows are loaded for pass 1.
static uint8_t old_wet[HMAP_SIZE][HMAP_SIZE / 4];
static uint64_t old_wet_groups[HMAP_SIZE];  // bit g: a cell of group g holds fluid
static bool row_without_lava[HMAP_SIZE];

static void load_fluid_row(FluidRow& r, const Water* old, int z) {
  const Water* src = old + z * HMAP_SIZE;
  const float* land = hmap + z * HMAP_SIZE;
  const __m128 sign_bit = _mm_set1_ps(-0.0f);
  __m128 not_lava = _mm_castsi128_ps(_mm_set1_epi32(-1));
  uint64_t active = 0, wet_groups = 0;
  for (int x = 0; x < HMAP_SIZE; x += 4) {
    __m128 a = _mm_load_ps(&src[x].amount), b = _mm_load_ps(&src[x + 1].amount);
    __m128 c = _mm_load_ps(&src[x + 2].amount), d = _mm_load_ps(&src[x + 3].amount);
    _MM_TRANSPOSE4_PS(a, b, c, d);
    int o = FluidRow::PAD + x;
    __m128 depth = _mm_andnot_ps(sign_bit, a), h = _mm_load_ps(land + x);
    _mm_store_ps(r.amount + o, a);
    _mm_store_ps(r.flow_x + o, b);
    _mm_store_ps(r.flow_z + o, c);
    _mm_store_ps(r.turb + o, d);
    _mm_store_ps(r.depth + o, depth);
    _mm_store_ps(r.land + o, h);
    _mm_store_ps(r.level + o, _mm_add_ps(h, depth));
    __m128 zero = _mm_setzero_ps();
    __m128 wet = _mm_or_ps(_mm_cmpneq_ps(a, zero), _mm_or_ps(_mm_cmpneq_ps(b, zero), _mm_cmpneq_ps(c, zero)));
    int wet_cells = _mm_movemask_ps(_mm_cmpneq_ps(a, zero));
    active |= (uint64_t)(_mm_movemask_ps(wet) != 0) << (x / 4);
    wet_groups |= (uint64_t)(wet_cells != 0) << (x / 4);
    old_wet[z][x / 4] = (uint8_t)wet_cells;
    not_lava = _mm_and_ps(not_lava, _mm_cmpge_ps(a, zero));  // NaN counts as lava here
  }
  r.active = active;
  old_wet_groups[z] = wet_groups;
  row_without_lava[z] = _mm_movemask_ps(not_lava) == 15;
  float* fields[] = {r.amount, r.depth, r.flow_x, r.flow_z, r.turb, r.land, r.level};
  for (float* f : fields) {  // the wrapped cells on both sides
    memcpy(f, f + HMAP_SIZE, FluidRow::PAD * sizeof(float));
    memcpy(f + FluidRow::PAD + HMAP_SIZE, f + FluidRow::PAD, FluidRow::PAD * sizeof(float));
  }
}

static inline __m128 select_ps(__m128 mask, __m128 if_true, __m128 if_false) {
  return _mm_or_ps(_mm_and_ps(mask, if_true), _mm_andnot_ps(mask, if_false));
}

// The amounts of four consecutive cells, and writing them back with the
// other fields as they are.
static inline __m128 load_amounts(const Water* w) {
  return _mm_setr_ps(w[0].amount, w[1].amount, w[2].amount, w[3].amount);
}
static inline void store_amounts(Water* w, __m128 v) {
  alignas(16) float a[4];
  _mm_store_ps(a, v);
  for (int l = 0; l < 4; l++) w[l].amount = a[l];
}

static FluidConstants fluid_constants(float dt) {
  return {dt, fmaxf(0.0f, 1.0f - 0.03f * dt), fmaxf(0.0f, 1.0f - 0.3f * dt),
          fmaxf(0.0f, 1.0f - 5.0f * dt)};
}

// Pass 2 for row z when no lava lies within two rows of it (and the step is
// short enough that water keeps at least half its depth through
// evaporation). Then no cell's amount is ever below 0 when a share reaches
// it, so no contact happens, no flow is cleared and no land changes, and
// each cell's shares depend only on its old amount, the new flows and the
// land. They are computed for the whole row first, four cells at a time;
// then every amount receives its changes in the order the cell-by-cell sweep
// gives them: the share from the west neighbour, its own evaporation and
// outflow, the share from the east neighbour (the row's first and last cells
// see them in the order of their wrapped neighbours), and one share into
// each of the rows beside. Returns false, having changed nothing, when a
// flow is not a number; the row then takes the cell-by-cell path.
static bool transport_row_without_lava(int z, const FluidConstants& k) {
  const int zs = (z - 1) & 255, zn = (z + 1) & 255;
  const Water* old = tmpw + z * HMAP_SIZE;
  Water* row = water + z * HMAP_SIZE;
  Water* row_s = water + zs * HMAP_SIZE;
  Water* row_n = water + zn * HMAP_SIZE;
  const float* land = hmap + z * HMAP_SIZE;
  const float* land_s = hmap + zs * HMAP_SIZE;
  const float* land_n = hmap + zn * HMAP_SIZE;
  const uint8_t* wet = old_wet[z];

  // Per cell: the shares given to the west, south, east and north neighbour
  // (-0 for none, which adds nothing) and the evaporated and moved amounts
  // taken from the cell itself (+0 for none).
  alignas(16) float give_w[HMAP_SIZE], give_s[HMAP_SIZE], give_e[HMAP_SIZE], give_n[HMAP_SIZE],
      evaporated[HMAP_SIZE], moved_out[HMAP_SIZE];
  // Only groups with fluid and their neighbours change; the neighbours of
  // those get their (identity) entries too, as the changes read them.
  auto widen = [](uint64_t g) { return g | (g << 1 | g >> 63) | (g >> 1 | g << 63); };
  const uint64_t touched = widen(old_wet_groups[z]);
  const __m128 zero = _mm_setzero_ps(), minus_zero = _mm_set1_ps(-0.0f);
  const __m128 damping = _mm_set1_ps(k.water_damping), four_dt = _mm_set1_ps(4.0f * k.dt);
  for (uint64_t m = widen(touched); m; m &= m - 1) {
    const int x = 4 * __builtin_ctzll(m);
    if (!wet[x / 4]) {
      _mm_store_ps(give_w + x, minus_zero);
      _mm_store_ps(give_s + x, minus_zero);
      _mm_store_ps(give_e + x, minus_zero);
      _mm_store_ps(give_n + x, minus_zero);
      _mm_store_ps(evaporated + x, zero);
      _mm_store_ps(moved_out + x, zero);
      continue;
    }
    __m128 a = _mm_setr_ps(old[x].amount, old[x + 1].amount, old[x + 2].amount, old[x + 3].amount);
    __m128 active = _mm_cmpgt_ps(a, zero);
    __m128 shallow = _mm_cmplt_ps(a, _mm_set1_ps(0.5f)), film = _mm_cmplt_ps(a, _mm_set1_ps(0.01f));
    __m128 damped = _mm_mul_ps(a, damping);
    __m128 avail = select_ps(shallow, _mm_andnot_ps(film, damped), a);
    __m128 evap = select_ps(shallow, select_ps(film, a, _mm_sub_ps(a, damped)), zero);
    evap = _mm_and_ps(active, evap);

    // The new flows of this row and the row before, and the land around.
    __m128 c0 = _mm_load_ps(&row[x].amount), c1 = _mm_load_ps(&row[x + 1].amount);
    __m128 c2 = _mm_load_ps(&row[x + 2].amount), c3 = _mm_load_ps(&row[x + 3].amount);
    _MM_TRANSPOSE4_PS(c0, c1, c2, c3);  // c1 flow_x, c2 flow_z
    __m128 fx_w = _mm_move_ss(_mm_shuffle_ps(c1, c1, _MM_SHUFFLE(2, 1, 0, 0)),
                              _mm_set_ss(row[(x - 1) & 255].flow_x));
    __m128 fz_s = _mm_setr_ps(row_s[x].flow_z, row_s[x + 1].flow_z, row_s[x + 2].flow_z,
                              row_s[x + 3].flow_z);
    __m128 lw = _mm_move_ss(_mm_shuffle_ps(_mm_load_ps(land + x), _mm_load_ps(land + x),
                                           _MM_SHUFFLE(2, 1, 0, 0)),
                            _mm_set_ss(land[(x - 1) & 255]));
    __m128 le = _mm_setr_ps(land[x + 1], land[x + 2], land[x + 3], land[(x + 4) & 255]);
    __m128 limit = _mm_add_ps(_mm_load_ps(land + x), avail);
    __m128 out_w = _mm_xor_ps(fx_w, minus_zero), out_s = _mm_xor_ps(fz_s, minus_zero);
    __m128 out_e = c1, out_n = c2;
    out_w = _mm_andnot_ps(_mm_or_ps(_mm_cmplt_ps(out_w, zero), _mm_cmpgt_ps(lw, limit)), out_w);
    out_s = _mm_andnot_ps(_mm_or_ps(_mm_cmplt_ps(out_s, zero),
                                    _mm_cmpgt_ps(_mm_load_ps(land_s + x), limit)), out_s);
    out_e = _mm_andnot_ps(_mm_or_ps(_mm_cmplt_ps(out_e, zero), _mm_cmpgt_ps(le, limit)), out_e);
    out_n = _mm_andnot_ps(_mm_or_ps(_mm_cmplt_ps(out_n, zero),
                                    _mm_cmpgt_ps(_mm_load_ps(land_n + x), limit)), out_n);
    __m128 T = _mm_add_ps(_mm_add_ps(_mm_add_ps(out_w, out_s), out_e), out_n);
    if (_mm_movemask_ps(_mm_and_ps(active, _mm_cmpunord_ps(T, T)))) return false;
    __m128 rate = _mm_mul_ps(four_dt, T);
    __m128 go = _mm_and_ps(active, _mm_cmpgt_ps(rate, _mm_set1_ps(0.001f)));
    __m128 moved = _mm_min_ps(avail, rate);
    auto give = [&](__m128 f) {
      __m128 share = _mm_div_ps(_mm_mul_ps(moved, f), T);
      __m128 take = _mm_and_ps(go, _mm_cmpgt_ps(share, zero));
      return select_ps(take, share, minus_zero);
    };
    _mm_store_ps(give_w + x, give(out_w));
    _mm_store_ps(give_s + x, give(out_s));
    _mm_store_ps(give_e + x, give(out_e));
    _mm_store_ps(give_n + x, give(out_n));
    _mm_store_ps(evaporated + x, evap);
    _mm_store_ps(moved_out + x, _mm_and_ps(go, moved));
  }

  for (uint64_t m = touched; m; m &= m - 1) {
    const int g = __builtin_ctzll(m);
    int x = 4 * g;
    if (g == 0 || g == 63) {
      for (; x < 4 * g + 4; x++) {
        float v = row[x].amount;
        if (x == 0)
          v = v - evaporated[0] - moved_out[0] + give_w[1] + give_e[255];
        else if (x == 255)
          v = v + give_w[0] + give_e[254] - evaporated[255] - moved_out[255];
        else
          v = v + give_e[x - 1] - evaporated[x] - moved_out[x] + give_w[x + 1];
        row[x].amount = v;
      }
    } else {
      __m128 v = load_amounts(row + x);
      v = _mm_add_ps(v, _mm_loadu_ps(give_e + x - 1));
      v = _mm_sub_ps(v, _mm_load_ps(evaporated + x));
      v = _mm_sub_ps(v, _mm_load_ps(moved_out + x));
      v = _mm_add_ps(v, _mm_loadu_ps(give_w + x + 1));
      store_amounts(row + x, v);
    }
    if (wet[g]) {
      x = 4 * g;
      store_amounts(row_s + x, _mm_add_ps(load_amounts(row_s + x), _mm_load_ps(give_s + x)));
      store_amounts(row_n + x, _mm_add_ps(load_amounts(row_n + x), _mm_load_ps(give_n + x)));
    }
  }
  return true;
}

bool fluid_vectors_sse_only = false;

void simWater(float dt) {
  std::swap(water, tmpw);
  const Water* old = tmpw;
  FluidConstants k = fluid_constants(dt);

  // Pass 1 with a window of three rows (z-1, z, z+1) of the old state.
  static FluidRow rows[3];
  load_fluid_row(rows[2], old, HMAP_SIZE - 1);
  load_fluid_row(rows[0], old, 0);
  load_fluid_row(rows[1], old, 1);
  FluidRow *rp = &rows[2], *rc = &rows[0], *rn = &rows[1];
  static const bool avx2 = __builtin_cpu_supports("avx2");
  for (int z = 0; z < HMAP_SIZE; z++) {
    if (avx2 && !fluid_vectors_sse_only)
      flow_row_avx2(old, water, z, *rp, *rc, *rn, k);
    else
      FlowKernel<SseOps>::row(old, water, z, *rp, *rc, *rn, k);
    FluidRow* free_row = rp;
    rp = rc;
    rc = rn;
    rn = free_row;
    if (z + 1 < HMAP_SIZE) load_fluid_row(*rn, old, (z + 2) & 255);
  }

  // Pass 2 in cell order over the cells that held fluid; dry ones do nothing.
  // Rows far from lava go four cells at a time.
  bool row_vectors = k.water_damping >= 0.5f;
  for (int z = 0; z < HMAP_SIZE; z++) {
    bool no_lava_near = row_vectors;
    for (int d = -2; d <= 2 && no_lava_near; d++) no_lava_near = row_without_lava[(z + d) & 255];
    if (no_lava_near && transport_row_without_lava(z, k)) continue;
    for (int g = 0; g < HMAP_SIZE / 4; g++)
      for (unsigned m = old_wet[z][g]; m; m &= m - 1) {
        int x = 4 * g + __builtin_ctz(m);
        transport_cell(x, z, old[hmap_index(x, z)].amount, dt, k.water_damping);
      }
  }
}

}  // namespace HeightmapData
