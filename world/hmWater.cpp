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
#include "world/noise.h"

namespace HeightmapData {

// Per-step factors of the model.
struct FluidConstants {
  float dt;
  float water_damping;     // advected water flow factor, also the evaporation factor
  float lava_damping;      // advected lava flow factor
  float turbulence_decay;
};

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
static void flow_cell(const Water* old, Water* nw, int x, int z, const FluidConstants& k) {
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

// One row of the old state as separate arrays, with 4 wrapped cells on each
// side (index 4 + x holds cell x), so that the neighbours of a group of four
// cells are plain unaligned loads.
// active[g] tells whether any of the cells 4g..4g+3 holds fluid or a flow.
struct FluidRow {
  static constexpr int PAD = 4, LEN = HMAP_SIZE + 2 * PAD;
  alignas(16) float amount[LEN], depth[LEN], flow_x[LEN], flow_z[LEN], turb[LEN], land[LEN],
      level[LEN];
  bool active[HMAP_SIZE / 4];
};

// Which cells of the old state hold fluid: 4 bits per group of four cells,
// filled while the rows are loaded, so pass 2 visits only those cells.
static uint8_t old_wet[HMAP_SIZE][HMAP_SIZE / 4];

static void load_fluid_row(FluidRow& r, const Water* old, int z) {
  const Water* src = old + z * HMAP_SIZE;
  const float* land = hmap + z * HMAP_SIZE;
  const __m128 sign_bit = _mm_set1_ps(-0.0f);
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
    r.active[x / 4] = _mm_movemask_ps(wet) != 0;
    old_wet[z][x / 4] = (uint8_t)_mm_movemask_ps(_mm_cmpneq_ps(a, zero));
  }
  float* fields[] = {r.amount, r.depth, r.flow_x, r.flow_z, r.turb, r.land, r.level};
  for (float* f : fields) {
    memcpy(f, f + HMAP_SIZE, FluidRow::PAD * sizeof(float));
    memcpy(f + FluidRow::PAD + HMAP_SIZE, f + FluidRow::PAD, FluidRow::PAD * sizeof(float));
  }
}

static inline __m128 select_ps(__m128 mask, __m128 if_true, __m128 if_false) {
  return _mm_or_ps(_mm_and_ps(mask, if_true), _mm_andnot_ps(mask, if_false));
}

// Bilinear sample of a field at (px, pz) for four cells whose sample cells
// lie at column offset 0 or -1 (mi set for 0) and row offset 0 or -1 (mj
// set for 0) from the cells themselves; rows holds rows z-1, z, z+1.
static inline __m128 sample_near(const float* const rows[3], int o, __m128 mi, __m128 mj,
                                 __m128 fx, __m128 fz) {
  __m128 lo[3], hi[3];  // columns -1, 0, +1 of the sample's two rows
  for (int k = 0; k < 3; k++) {
    __m128 p = _mm_loadu_ps(rows[0] + o - 1 + k), c = _mm_loadu_ps(rows[1] + o - 1 + k),
           n = _mm_loadu_ps(rows[2] + o - 1 + k);
    lo[k] = select_ps(mj, c, p);
    hi[k] = select_ps(mj, n, c);
  }
  __m128 s00 = select_ps(mi, lo[1], lo[0]), s10 = select_ps(mi, lo[2], lo[1]);
  __m128 s01 = select_ps(mi, hi[1], hi[0]), s11 = select_ps(mi, hi[2], hi[1]);
  __m128 a = _mm_add_ps(s00, _mm_mul_ps(_mm_sub_ps(s10, s00), fx));
  __m128 b = _mm_add_ps(s01, _mm_mul_ps(_mm_sub_ps(s11, s01), fx));
  return _mm_add_ps(a, _mm_mul_ps(_mm_sub_ps(b, a), fz));
}

// floor_coord for four values, and the fraction left.
static inline __m128i floor4(__m128 v, __m128& frac) {
  __m128i i = _mm_cvtps_epi32(_mm_sub_ps(v, _mm_set1_ps(0.49999988f)));
  frac = _mm_sub_ps(v, _mm_cvtepi32_ps(i));
  return i;
}

// True when every lane of d is 0 or -1.
static inline bool offsets_near(__m128i d) {
  __m128i ok = _mm_or_si128(_mm_cmpeq_epi32(d, _mm_setzero_si128()),
                            _mm_cmpeq_epi32(d, _mm_set1_epi32(-1)));
  return _mm_movemask_epi8(ok) == 0xFFFF;
}

// Flow across four faces at once (the vector form of face_flow): a0 the
// advected flows, h the drives (returned adjusted on lava faces), ac/ae the
// amounts and depths, lc/le the levels, hc/he the land of both sides, kv the
// viscosity factors (read only on lava faces). Returns the flows and sets
// blocked to 1.0 on blocked faces.
static inline __m128 face_flow4(__m128 a0, __m128& h, __m128 ac, __m128 ae, __m128 dc, __m128 de,
                                __m128 lc, __m128 le, __m128 hc, __m128 he, __m128 kv,
                                const FluidConstants& k, __m128& blocked) {
  const __m128 zero = _mm_setzero_ps();
  __m128 lava = _mm_cmplt_ps(_mm_add_ps(ac, ae), zero);
  __m128 flow = _mm_add_ps(_mm_mul_ps(a0, _mm_set1_ps(k.water_damping)), h);
  if (_mm_movemask_ps(lava)) {
    __m128 dt = _mm_set1_ps(k.dt);
    __m128 hl = select_ps(_mm_cmplt_ps(h, _mm_sub_ps(zero, dt)), _mm_add_ps(h, dt),
                          select_ps(_mm_cmpgt_ps(h, dt), _mm_sub_ps(h, dt), zero));
    __m128 D = _mm_mul_ps(kv, _mm_add_ps(_mm_max_ps(_mm_sub_ps(zero, ac), zero),
                                         _mm_max_ps(_mm_sub_ps(zero, ae), zero)));
    __m128 lf = _mm_add_ps(_mm_mul_ps(a0, _mm_set1_ps(k.lava_damping)),
                           _mm_mul_ps(_mm_set1_ps(0.3f), hl));
    __m128 scaled = _mm_mul_ps(lf, _mm_div_ps(_mm_sub_ps(D, _mm_set1_ps(0.05f)), _mm_set1_ps(0.15f)));
    lf = select_ps(_mm_cmplt_ps(D, _mm_set1_ps(0.2f)), scaled, lf);
    lf = _mm_andnot_ps(_mm_cmplt_ps(D, _mm_set1_ps(0.05f)), lf);
    flow = select_ps(lava, lf, flow);
    h = select_ps(lava, hl, h);
  }
  __m128 out_blocked = _mm_and_ps(_mm_cmpge_ps(flow, zero),
                                  _mm_cmple_ps(_mm_min_ps(dc, _mm_sub_ps(lc, he)), zero));
  __m128 in_blocked = _mm_and_ps(_mm_cmplt_ps(flow, zero),
                                 _mm_cmple_ps(_mm_min_ps(de, _mm_sub_ps(le, hc)), zero));
  __m128 b = _mm_or_ps(out_blocked, in_blocked);
  blocked = _mm_and_ps(b, _mm_set1_ps(1.0f));
  return _mm_andnot_ps(b, flow);
}

static inline __m128 viscosity4(int x, int z) {
  return _mm_setr_ps(viscosity(x, z), viscosity(x + 1, z), viscosity(x + 2, z), viscosity(x + 3, z));
}

// New turbulence of four cells from the two drives, the blocked-face count,
// the two sampled old turbulences and the four neighbours' old ones.
static inline __m128 turbulence4(__m128 hx, __m128 hz, __m128 blocked, __m128 t0, __m128 t1,
                                 const FluidRow& rp, const FluidRow& rc, const FluidRow& rn, int o,
                                 const FluidConstants& k) {
  __m128 two = _mm_set1_ps(2.0f);
  __m128 around = _mm_add_ps(_mm_mul_ps(two, t0), _mm_mul_ps(two, t1));
  around = _mm_add_ps(around, _mm_load_ps(rn.turb + o));
  around = _mm_add_ps(around, _mm_loadu_ps(rc.turb + o - 1));
  around = _mm_add_ps(around, _mm_loadu_ps(rc.turb + o + 1));
  around = _mm_add_ps(around, _mm_load_ps(rp.turb + o));
  __m128 c32 = _mm_set1_ps(3.2f);
  __m128 turb = _mm_add_ps(_mm_mul_ps(c32, _mm_mul_ps(hx, hx)), _mm_mul_ps(c32, _mm_mul_ps(hz, hz)));
  turb = _mm_add_ps(turb, _mm_mul_ps(_mm_set1_ps(0.01f), blocked));
  turb = _mm_add_ps(turb, _mm_mul_ps(_mm_mul_ps(_mm_set1_ps(k.turbulence_decay), around),
                                     _mm_set1_ps(0.125f)));
  return _mm_min_ps(turb, _mm_set1_ps(1.0f));
}

static inline void store_water4(Water* out, __m128 amount, __m128 flow_x, __m128 flow_z,
                                __m128 turb) {
  _MM_TRANSPOSE4_PS(amount, flow_x, flow_z, turb);
  _mm_store_ps(&out[0].amount, amount);
  _mm_store_ps(&out[1].amount, flow_x);
  _mm_store_ps(&out[2].amount, flow_z);
  _mm_store_ps(&out[3].amount, turb);
}

// Pass 1 for four cells that, like their neighbours around, hold no fluid
// and no flow. Then both back-traced points are the cells themselves, both
// faces are blocked with flows 0, and the two turbulence samples are one and
// the same; this is what the general path computes, without its work. (The
// sample still goes through the floor rule, which puts odd coordinates at
// fraction 1 of the cell below.)
static inline void still_dry_group(const float* const tu_rows[3], const FluidRow& rp,
                                   const FluidRow& rc, const FluidRow& rn, int o, __m128 xs,
                                   __m128i xi, __m128 zf, __m128i zi, Water* out,
                                   const FluidConstants& k) {
  const __m128 zero = _mm_setzero_ps(), dt = _mm_set1_ps(k.dt), ten = _mm_set1_ps(10.0f);
  const __m128i zero_i = _mm_setzero_si128();
  __m128 fx, fz;
  __m128 mi = _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_sub_epi32(floor4(xs, fx), xi), zero_i));
  __m128 mj = _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_sub_epi32(floor4(zf, fz), zi), zero_i));
  __m128 t = sample_near(tu_rows, o, mi, mj, fx, fz);
  __m128 lc = _mm_load_ps(rc.level + o);
  __m128 hx = _mm_mul_ps(_mm_mul_ps(_mm_sub_ps(lc, _mm_loadu_ps(rc.level + o + 1)), ten), dt);
  __m128 hz = _mm_mul_ps(_mm_mul_ps(_mm_sub_ps(lc, _mm_load_ps(rn.level + o)), ten), dt);
  __m128 turb = turbulence4(hx, hz, _mm_set1_ps(2.0f), t, t, rp, rc, rn, o, k);
  store_water4(out, _mm_load_ps(rc.amount + o), zero, zero, turb);
}

// Pass 1 for the row z, four cells at a time; groups whose back-traced
// points fall further than one cell away take the per-cell path.
static void flow_row(const Water* old, Water* nw, int z, const FluidRow& rp, const FluidRow& rc,
                     const FluidRow& rn, const FluidConstants& k) {
  const __m128 dt = _mm_set1_ps(k.dt), ten = _mm_set1_ps(10.0f), quarter = _mm_set1_ps(0.25f);
  const __m128 zf = _mm_set1_ps((float)z);
  const __m128i zi = _mm_set1_epi32(z);
  const float* const fx_rows[3] = {rp.flow_x, rc.flow_x, rn.flow_x};
  const float* const fz_rows[3] = {rp.flow_z, rc.flow_z, rn.flow_z};
  const float* const tu_rows[3] = {rp.turb, rc.turb, rn.turb};
  Water* out = nw + z * HMAP_SIZE;
  for (int x = 0; x < HMAP_SIZE; x += 4) {
    const int o = FluidRow::PAD + x;
    __m128 xs = _mm_setr_ps((float)x, (float)(x + 1), (float)(x + 2), (float)(x + 3));
    __m128i xi = _mm_setr_epi32(x, x + 1, x + 2, x + 3);
    int g = x / 4, gw = (g - 1) & 63, ge = (g + 1) & 63;
    if (!(rp.active[gw] | rp.active[g] | rp.active[ge] | rc.active[gw] | rc.active[g] |
          rc.active[ge] | rn.active[gw] | rn.active[g] | rn.active[ge])) {
      still_dry_group(tu_rows, rp, rc, rn, o, xs, xi, zf, zi, out + x, k);
      continue;
    }

    // Back-traced points of both faces.
    __m128 fxc = _mm_load_ps(rc.flow_x + o), fzc = _mm_load_ps(rc.flow_z + o);
    __m128 sum_z = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_load_ps(rp.flow_z + o),
                                                    _mm_loadu_ps(rp.flow_z + o + 1)), fzc),
                              _mm_loadu_ps(rc.flow_z + o + 1));
    __m128 px = _mm_sub_ps(xs, _mm_mul_ps(fxc, dt));
    __m128 pz = _mm_sub_ps(zf, _mm_mul_ps(_mm_mul_ps(dt, sum_z), quarter));
    __m128 sum_x = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_loadu_ps(rc.flow_x + o - 1), fxc),
                                         _mm_loadu_ps(rn.flow_x + o - 1)),
                              _mm_load_ps(rn.flow_x + o));
    __m128 qx = _mm_sub_ps(xs, _mm_mul_ps(_mm_mul_ps(dt, sum_x), quarter));
    __m128 qz = _mm_sub_ps(zf, _mm_mul_ps(fzc, dt));
    __m128 pfx, pfz, qfx, qfz;
    __m128i pdi = _mm_sub_epi32(floor4(px, pfx), xi), pdj = _mm_sub_epi32(floor4(pz, pfz), zi);
    __m128i qdi = _mm_sub_epi32(floor4(qx, qfx), xi), qdj = _mm_sub_epi32(floor4(qz, qfz), zi);
    if (!(offsets_near(pdi) && offsets_near(pdj) && offsets_near(qdi) && offsets_near(qdj))) {
      for (int l = 0; l < 4; l++) flow_cell(old, nw, x + l, z, k);
      continue;
    }
    const __m128i zero_i = _mm_setzero_si128();
    __m128 pmi = _mm_castsi128_ps(_mm_cmpeq_epi32(pdi, zero_i));
    __m128 pmj = _mm_castsi128_ps(_mm_cmpeq_epi32(pdj, zero_i));
    __m128 qmi = _mm_castsi128_ps(_mm_cmpeq_epi32(qdi, zero_i));
    __m128 qmj = _mm_castsi128_ps(_mm_cmpeq_epi32(qdj, zero_i));
    __m128 a0 = sample_near(fx_rows, o, pmi, pmj, pfx, pfz);
    __m128 t0 = sample_near(tu_rows, o, pmi, pmj, pfx, pfz);
    __m128 a1 = sample_near(fz_rows, o, qmi, qmj, qfx, qfz);
    __m128 t1 = sample_near(tu_rows, o, qmi, qmj, qfx, qfz);

    __m128 ac = _mm_load_ps(rc.amount + o), ae = _mm_loadu_ps(rc.amount + o + 1),
           an = _mm_load_ps(rn.amount + o);
    __m128 dc = _mm_load_ps(rc.depth + o), de = _mm_loadu_ps(rc.depth + o + 1),
           dn = _mm_load_ps(rn.depth + o);
    __m128 lc = _mm_load_ps(rc.level + o), le = _mm_loadu_ps(rc.level + o + 1),
           ln = _mm_load_ps(rn.level + o);
    __m128 hc = _mm_load_ps(rc.land + o), he = _mm_loadu_ps(rc.land + o + 1),
           hn = _mm_load_ps(rn.land + o);
    __m128 kv = _mm_setzero_ps();
    if (_mm_movemask_ps(_mm_or_ps(_mm_cmplt_ps(_mm_add_ps(ac, ae), _mm_setzero_ps()),
                                  _mm_cmplt_ps(_mm_add_ps(ac, an), _mm_setzero_ps()))))
      kv = viscosity4(x, z);

    __m128 hx = _mm_mul_ps(_mm_mul_ps(_mm_sub_ps(lc, le), ten), dt);
    __m128 hz = _mm_mul_ps(_mm_mul_ps(_mm_sub_ps(lc, ln), ten), dt);
    __m128 bx, bz;
    __m128 flow_x = face_flow4(a0, hx, ac, ae, dc, de, lc, le, hc, he, kv, k, bx);
    __m128 flow_z = face_flow4(a1, hz, ac, an, dc, dn, lc, ln, hc, hn, kv, k, bz);

    __m128 turb = turbulence4(hx, hz, _mm_add_ps(bx, bz), t0, t1, rp, rc, rn, o, k);
    store_water4(out + x, ac, flow_x, flow_z, turb);
  }
}

static FluidConstants fluid_constants(float dt) {
  return {dt, fmaxf(0.0f, 1.0f - 0.03f * dt), fmaxf(0.0f, 1.0f - 0.3f * dt),
          fmaxf(0.0f, 1.0f - 5.0f * dt)};
}

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
  for (int z = 0; z < HMAP_SIZE; z++) {
    flow_row(old, water, z, *rp, *rc, *rn, k);
    FluidRow* free_row = rp;
    rp = rc;
    rc = rn;
    rn = free_row;
    if (z + 1 < HMAP_SIZE) load_fluid_row(*rn, old, (z + 2) & 255);
  }

  // Pass 2 in cell order over the cells that held fluid; dry ones do nothing.
  for (int z = 0; z < HMAP_SIZE; z++)
    for (int g = 0; g < HMAP_SIZE / 4; g++)
      for (unsigned m = old_wet[z][g]; m; m &= m - 1) {
        int x = 4 * g + __builtin_ctz(m);
        transport_cell(x, z, old[hmap_index(x, z)].amount, dt, k.water_damping);
      }
}

}  // namespace HeightmapData
