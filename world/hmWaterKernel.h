// Internal to the water and lava step (world/hmWater*.cpp): the flow pass
// written once over a vector-operations policy, so that the same source
// runs four cells at a time with SSE2 and eight at a time with AVX2, with
// the same result bits. The AVX2 copy lives in its own source file built for
// that instruction set; everything here has internal linkage, so none of it
// can be shared between the two builds by the linker.
#pragma once
#include <immintrin.h>
#include <cstdint>
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

// One row of the old state as separate arrays, with 8 wrapped cells on each
// side (index PAD + x holds cell x), so that the neighbours of a group of
// cells are plain unaligned loads. Bit g of active tells whether any of the
// cells 4g..4g+3 holds fluid or a flow.
struct FluidRow {
  static constexpr int PAD = 8, LEN = HMAP_SIZE + 2 * PAD;
  alignas(32) float amount[LEN], depth[LEN], flow_x[LEN], flow_z[LEN], turb[LEN], land[LEN],
      level[LEN];
  uint64_t active;
};

// Bits g-1 ... g+n of a mask of the 64 groups of a row, wrapping.
static inline uint64_t group_window(uint64_t mask, int g, int n) {
  int r = (g - 1) & 63;
  uint64_t rotated = r ? (mask >> r) | (mask << (64 - r)) : mask;
  return rotated & ((2ull << (n + 1)) - 1);
}

// Pass 1 for one cell from the grids themselves (hmWater.cpp); the vector
// kernel falls back to it for groups whose back-traced points lie further
// than one cell away.
void flow_cell_plain(const Water* old, Water* nw, int x, int z, const FluidConstants& k);

// Set by tests to run the four-lane flow pass on a processor with AVX2.
extern bool fluid_vectors_sse_only;

// Pass 1 for row z with eight cells at a time (hmWaterAvx2.cpp).
void flow_row_avx2(const Water* old, Water* nw, int z, const FluidRow& rp, const FluidRow& rc,
                   const FluidRow& rn, const FluidConstants& k);

namespace {

// The policy for SSE2, four lanes.
struct SseOps {
  static constexpr int W = 4;
  typedef __m128 F;
  typedef __m128i I;
  static F load(const float* p) { return _mm_loadu_ps(p); }
  static F set1(float v) { return _mm_set1_ps(v); }
  static F zero() { return _mm_setzero_ps(); }
  static F add(F a, F b) { return _mm_add_ps(a, b); }
  static F sub(F a, F b) { return _mm_sub_ps(a, b); }
  static F mul(F a, F b) { return _mm_mul_ps(a, b); }
  static F div(F a, F b) { return _mm_div_ps(a, b); }
  static F min(F a, F b) { return _mm_min_ps(a, b); }  // a < b ? a : b
  static F max(F a, F b) { return _mm_max_ps(a, b); }  // a > b ? a : b
  static F and_(F a, F b) { return _mm_and_ps(a, b); }
  static F or_(F a, F b) { return _mm_or_ps(a, b); }
  static F andnot(F a, F b) { return _mm_andnot_ps(a, b); }  // ~a & b
  static F lt(F a, F b) { return _mm_cmplt_ps(a, b); }
  static F gt(F a, F b) { return _mm_cmpgt_ps(a, b); }
  static F le(F a, F b) { return _mm_cmple_ps(a, b); }
  static F ge(F a, F b) { return _mm_cmpge_ps(a, b); }
  static F select(F m, F t, F f) { return _mm_or_ps(_mm_and_ps(m, t), _mm_andnot_ps(m, f)); }
  static int mask(F m) { return _mm_movemask_ps(m); }
  static constexpr int ALL = 15;
  static F lanes_f(int x) {
    return _mm_setr_ps((float)x, (float)(x + 1), (float)(x + 2), (float)(x + 3));
  }
  static I lanes_i(int x) { return _mm_setr_epi32(x, x + 1, x + 2, x + 3); }
  static I set1_i(int v) { return _mm_set1_epi32(v); }
  // The floor rule of coordinates, nearest(v - 0.49999988), and the fraction left.
  static I floor_i(F v, F& frac) {
    I i = _mm_cvtps_epi32(_mm_sub_ps(v, _mm_set1_ps(0.49999988f)));
    frac = _mm_sub_ps(v, _mm_cvtepi32_ps(i));
    return i;
  }
  static I sub_i(I a, I b) { return _mm_sub_epi32(a, b); }
  static F eq_i(I a, I b) { return _mm_castsi128_ps(_mm_cmpeq_epi32(a, b)); }
  static F setr(const float* v) { return _mm_loadu_ps(v); }
  static void store(float* p, F v) { _mm_storeu_ps(p, v); }
  static void store_water(Water* out, F amount, F flow_x, F flow_z, F turb) {
    _MM_TRANSPOSE4_PS(amount, flow_x, flow_z, turb);
    _mm_storeu_ps(&out[0].amount, amount);
    _mm_storeu_ps(&out[1].amount, flow_x);
    _mm_storeu_ps(&out[2].amount, flow_z);
    _mm_storeu_ps(&out[3].amount, turb);
  }
};

template <class V>
struct FlowKernel {
  typedef typename V::F F;
  typedef typename V::I I;
  static constexpr int W = V::W;

  // True when every lane of d is 0 or -1.
  static bool offsets_near(I d) {
    F ok = V::or_(V::eq_i(d, V::set1_i(0)), V::eq_i(d, V::set1_i(-1)));
    return V::mask(ok) == V::ALL;
  }

  // Bilinear sample of a field for cells whose sample cells lie at column
  // offset 0 or -1 (mi set for 0) and row offset 0 or -1 (mj set for 0) from
  // the cells themselves; rows holds the field's rows z-1, z, z+1.
  static F sample_near(const float* const rows[3], int o, F mi, F mj, F fx, F fz) {
    F lo[3], hi[3];  // columns -1, 0, +1 of the sample's two rows
    for (int c = 0; c < 3; c++) {
      F p = V::load(rows[0] + o - 1 + c), m = V::load(rows[1] + o - 1 + c),
        n = V::load(rows[2] + o - 1 + c);
      lo[c] = V::select(mj, m, p);
      hi[c] = V::select(mj, n, m);
    }
    F s00 = V::select(mi, lo[1], lo[0]), s10 = V::select(mi, lo[2], lo[1]);
    F s01 = V::select(mi, hi[1], hi[0]), s11 = V::select(mi, hi[2], hi[1]);
    F a = V::add(s00, V::mul(V::sub(s10, s00), fx));
    F b = V::add(s01, V::mul(V::sub(s11, s01), fx));
    return V::add(a, V::mul(V::sub(b, a), fz));
  }

  // Flow across W faces at once: a0 the advected flows, h the drives
  // (returned adjusted on lava faces), ac/ae the amounts, dc/de the depths,
  // lc/le the levels, hc/he the land of both sides, kv the viscosity factors
  // (read only on lava faces). Sets blocked to 1.0 on blocked faces.
  static F face_flow(F a0, F& h, F ac, F ae, F dc, F de, F lc, F le, F hc, F he, F kv,
                     const FluidConstants& k, F& blocked) {
    const F zero = V::zero();
    F lava = V::lt(V::add(ac, ae), zero);
    F flow = V::add(V::mul(a0, V::set1(k.water_damping)), h);
    if (V::mask(lava)) {
      F dt = V::set1(k.dt);
      F hl = V::select(V::lt(h, V::sub(zero, dt)), V::add(h, dt),
                       V::select(V::gt(h, dt), V::sub(h, dt), zero));
      F D = V::mul(kv, V::add(V::max(V::sub(zero, ac), zero), V::max(V::sub(zero, ae), zero)));
      F lf = V::add(V::mul(a0, V::set1(k.lava_damping)), V::mul(V::set1(0.3f), hl));
      F scaled = V::mul(lf, V::div(V::sub(D, V::set1(0.05f)), V::set1(0.15f)));
      lf = V::select(V::lt(D, V::set1(0.2f)), scaled, lf);
      lf = V::andnot(V::lt(D, V::set1(0.05f)), lf);
      flow = V::select(lava, lf, flow);
      h = V::select(lava, hl, h);
    }
    F out_blocked = V::and_(V::ge(flow, zero), V::le(V::min(dc, V::sub(lc, he)), zero));
    F in_blocked = V::and_(V::lt(flow, zero), V::le(V::min(de, V::sub(le, hc)), zero));
    F b = V::or_(out_blocked, in_blocked);
    blocked = V::and_(b, V::set1(1.0f));
    return V::andnot(b, flow);
  }

  static float viscosity(int x, int z) {
    return (float)noise_perm[noise_perm[x] + z] / 255.0f * 0.85f + 0.15f;
  }

  // New turbulence from the two drives, the blocked-face count, the two
  // sampled old turbulences and the four neighbours' old ones.
  static F turbulence(F hx, F hz, F blocked, F t0, F t1, const FluidRow& rp, const FluidRow& rc,
                      const FluidRow& rn, int o, const FluidConstants& k) {
    F two = V::set1(2.0f);
    F around = V::add(V::mul(two, t0), V::mul(two, t1));
    around = V::add(around, V::load(rn.turb + o));
    around = V::add(around, V::load(rc.turb + o - 1));
    around = V::add(around, V::load(rc.turb + o + 1));
    around = V::add(around, V::load(rp.turb + o));
    F c32 = V::set1(3.2f);
    F turb = V::add(V::mul(c32, V::mul(hx, hx)), V::mul(c32, V::mul(hz, hz)));
    turb = V::add(turb, V::mul(V::set1(0.01f), blocked));
    turb = V::add(turb, V::mul(V::mul(V::set1(k.turbulence_decay), around), V::set1(0.125f)));
    return V::min(turb, V::set1(1.0f));
  }

  static void store_water(Water* out, F amount, F flow_x, F flow_z, F turb) {
    V::store_water(out, amount, flow_x, flow_z, turb);
  }

  // Cells that, like their neighbours around, hold no fluid and no flow:
  // both back-traced points are the cells themselves, both faces are
  // blocked with flows 0 and the two turbulence samples are one and the
  // same. This is what the general path computes, without its work. (The
  // sample still goes through the floor rule, which puts odd coordinates at
  // fraction 1 of the cell below.)
  static void still_dry(const float* const tu_rows[3], const FluidRow& rp, const FluidRow& rc,
                        const FluidRow& rn, int o, F xs, I xi, F zf, I zi, Water* out,
                        const FluidConstants& k) {
    const F zero = V::zero(), dt = V::set1(k.dt), ten = V::set1(10.0f);
    F fx, fz;
    F mi = V::eq_i(V::sub_i(V::floor_i(xs, fx), xi), V::set1_i(0));
    F mj = V::eq_i(V::sub_i(V::floor_i(zf, fz), zi), V::set1_i(0));
    F t = sample_near(tu_rows, o, mi, mj, fx, fz);
    F lc = V::load(rc.level + o);
    F hx = V::mul(V::mul(V::sub(lc, V::load(rc.level + o + 1)), ten), dt);
    F hz = V::mul(V::mul(V::sub(lc, V::load(rn.level + o)), ten), dt);
    F turb = turbulence(hx, hz, V::set1(2.0f), t, t, rp, rc, rn, o, k);
    store_water(out, V::load(rc.amount + o), zero, zero, turb);
  }

  // Pass 1 for the row z, W cells at a time.
  static void row(const Water* old, Water* nw, int z, const FluidRow& rp, const FluidRow& rc,
                  const FluidRow& rn, const FluidConstants& k) {
    const F dt = V::set1(k.dt), ten = V::set1(10.0f), quarter = V::set1(0.25f);
    const F zf = V::set1((float)z);
    const I zi = V::set1_i(z);
    const float* const fx_rows[3] = {rp.flow_x, rc.flow_x, rn.flow_x};
    const float* const fz_rows[3] = {rp.flow_z, rc.flow_z, rn.flow_z};
    const float* const tu_rows[3] = {rp.turb, rc.turb, rn.turb};
    Water* out = nw + z * HMAP_SIZE;
    const uint64_t around = rp.active | rc.active | rn.active;
    for (int x = 0; x < HMAP_SIZE; x += W) {
      const int o = FluidRow::PAD + x;
      F xs = V::lanes_f(x);
      I xi = V::lanes_i(x);
      // Still and dry when no group of four from one before to one after,
      // in the three rows, holds fluid or flow.
      if (!group_window(around, x / 4, W / 4)) {
        still_dry(tu_rows, rp, rc, rn, o, xs, xi, zf, zi, out + x, k);
        continue;
      }

      // Back-traced points of both faces.
      F fxc = V::load(rc.flow_x + o), fzc = V::load(rc.flow_z + o);
      F sum_z = V::add(V::add(V::add(V::load(rp.flow_z + o), V::load(rp.flow_z + o + 1)), fzc),
                       V::load(rc.flow_z + o + 1));
      F px = V::sub(xs, V::mul(fxc, dt));
      F pz = V::sub(zf, V::mul(V::mul(dt, sum_z), quarter));
      F sum_x = V::add(V::add(V::add(V::load(rc.flow_x + o - 1), fxc), V::load(rn.flow_x + o - 1)),
                       V::load(rn.flow_x + o));
      F qx = V::sub(xs, V::mul(V::mul(dt, sum_x), quarter));
      F qz = V::sub(zf, V::mul(fzc, dt));
      F pfx, pfz, qfx, qfz;
      I pdi = V::sub_i(V::floor_i(px, pfx), xi), pdj = V::sub_i(V::floor_i(pz, pfz), zi);
      I qdi = V::sub_i(V::floor_i(qx, qfx), xi), qdj = V::sub_i(V::floor_i(qz, qfz), zi);
      if (!(offsets_near(pdi) && offsets_near(pdj) && offsets_near(qdi) && offsets_near(qdj))) {
        for (int l = 0; l < W; l++) flow_cell_plain(old, nw, x + l, z, k);
        continue;
      }
      const I zero_i = V::set1_i(0);
      F pmi = V::eq_i(pdi, zero_i), pmj = V::eq_i(pdj, zero_i);
      F qmi = V::eq_i(qdi, zero_i), qmj = V::eq_i(qdj, zero_i);
      F a0 = sample_near(fx_rows, o, pmi, pmj, pfx, pfz);
      F t0 = sample_near(tu_rows, o, pmi, pmj, pfx, pfz);
      F a1 = sample_near(fz_rows, o, qmi, qmj, qfx, qfz);
      F t1 = sample_near(tu_rows, o, qmi, qmj, qfx, qfz);

      F ac = V::load(rc.amount + o), ae = V::load(rc.amount + o + 1), an = V::load(rn.amount + o);
      F dc = V::load(rc.depth + o), de = V::load(rc.depth + o + 1), dn = V::load(rn.depth + o);
      F lc = V::load(rc.level + o), le = V::load(rc.level + o + 1), ln = V::load(rn.level + o);
      F hc = V::load(rc.land + o), he = V::load(rc.land + o + 1), hn = V::load(rn.land + o);
      F kv = V::zero();
      if (V::mask(V::or_(V::lt(V::add(ac, ae), V::zero()), V::lt(V::add(ac, an), V::zero())))) {
        alignas(32) float v[W];
        for (int l = 0; l < W; l++) v[l] = viscosity(x + l, z);
        kv = V::setr(v);
      }

      F hx = V::mul(V::mul(V::sub(lc, le), ten), dt);
      F hz = V::mul(V::mul(V::sub(lc, ln), ten), dt);
      F bx, bz;
      F flow_x = face_flow(a0, hx, ac, ae, dc, de, lc, le, hc, he, kv, k, bx);
      F flow_z = face_flow(a1, hz, ac, an, dc, dn, lc, ln, hc, hn, kv, k, bz);
      F turb = turbulence(hx, hz, V::add(bx, bz), t0, t1, rp, rc, rn, o, k);
      store_water(out + x, ac, flow_x, flow_z, turb);
    }
  }
};

}  // namespace
}  // namespace HeightmapData
