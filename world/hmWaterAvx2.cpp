// The flow pass of the water and lava step, eight cells at a time. This file
// alone is built for AVX2 (see CMakeLists.txt); the step calls it only after
// checking at run time that the processor has AVX2, and every helper it uses
// has internal linkage, so no AVX2 code can stand in for shared code.
#include "world/hmWaterKernel.h"

namespace HeightmapData {
namespace {

struct Avx2Ops {
  static constexpr int W = 8;
  typedef __m256 F;
  typedef __m256i I;
  static F load(const float* p) { return _mm256_loadu_ps(p); }
  static F set1(float v) { return _mm256_set1_ps(v); }
  static F zero() { return _mm256_setzero_ps(); }
  static F add(F a, F b) { return _mm256_add_ps(a, b); }
  static F sub(F a, F b) { return _mm256_sub_ps(a, b); }
  static F mul(F a, F b) { return _mm256_mul_ps(a, b); }
  static F div(F a, F b) { return _mm256_div_ps(a, b); }
  static F min(F a, F b) { return _mm256_min_ps(a, b); }  // a < b ? a : b, as SSE
  static F max(F a, F b) { return _mm256_max_ps(a, b); }
  static F and_(F a, F b) { return _mm256_and_ps(a, b); }
  static F or_(F a, F b) { return _mm256_or_ps(a, b); }
  static F andnot(F a, F b) { return _mm256_andnot_ps(a, b); }
  static F lt(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_LT_OS); }
  static F gt(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GT_OS); }
  static F le(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_LE_OS); }
  static F ge(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GE_OS); }
  static F select(F m, F t, F f) { return _mm256_blendv_ps(f, t, m); }
  static int mask(F m) { return _mm256_movemask_ps(m); }
  static constexpr int ALL = 255;
  static F lanes_f(int x) {
    return _mm256_setr_ps((float)x, (float)(x + 1), (float)(x + 2), (float)(x + 3),
                          (float)(x + 4), (float)(x + 5), (float)(x + 6), (float)(x + 7));
  }
  static I lanes_i(int x) { return _mm256_setr_epi32(x, x + 1, x + 2, x + 3, x + 4, x + 5, x + 6, x + 7); }
  static I set1_i(int v) { return _mm256_set1_epi32(v); }
  static I floor_i(F v, F& frac) {
    I i = _mm256_cvtps_epi32(_mm256_sub_ps(v, _mm256_set1_ps(0.49999988f)));
    frac = _mm256_sub_ps(v, _mm256_cvtepi32_ps(i));
    return i;
  }
  static I sub_i(I a, I b) { return _mm256_sub_epi32(a, b); }
  static F eq_i(I a, I b) { return _mm256_castsi256_ps(_mm256_cmpeq_epi32(a, b)); }
  static F setr(const float* v) { return _mm256_loadu_ps(v); }
  static void store_water(Water* out, F amount, F flow_x, F flow_z, F turb) {
    for (int half = 0; half < 2; half++) {
      __m128 a = half ? _mm256_extractf128_ps(amount, 1) : _mm256_castps256_ps128(amount);
      __m128 b = half ? _mm256_extractf128_ps(flow_x, 1) : _mm256_castps256_ps128(flow_x);
      __m128 c = half ? _mm256_extractf128_ps(flow_z, 1) : _mm256_castps256_ps128(flow_z);
      __m128 d = half ? _mm256_extractf128_ps(turb, 1) : _mm256_castps256_ps128(turb);
      _MM_TRANSPOSE4_PS(a, b, c, d);
      Water* o = out + 4 * half;
      _mm_storeu_ps(&o[0].amount, a);
      _mm_storeu_ps(&o[1].amount, b);
      _mm_storeu_ps(&o[2].amount, c);
      _mm_storeu_ps(&o[3].amount, d);
    }
  }
};

}  // namespace

void flow_row_avx2(const Water* old, Water* nw, int z, const FluidRow& rp, const FluidRow& rc,
                   const FluidRow& rn, const FluidConstants& k) {
  FlowKernel<Avx2Ops>::row(old, nw, z, rp, rc, rn, k);
}

}  // namespace HeightmapData
