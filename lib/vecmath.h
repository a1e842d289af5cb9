// Vectors and matrices shared by the world, the renderer and the scripts.
// A vector is four floats (x, y, z, w) held in one SSE register; a matrix is
// 4 x 4 floats used with row vectors (a point p maps to p x M), as the
// renderer's transforms expect.
#pragma once
#include <cmath>
#include <xmmintrin.h>

typedef __m128 vec4f;

inline vec4f v_make(float x, float y, float z, float w = 0.0f) { return _mm_setr_ps(x, y, z, w); }
inline vec4f v_splat(float v) { return _mm_set1_ps(v); }
inline vec4f v_zero() { return _mm_setzero_ps(); }
inline vec4f v_add(vec4f a, vec4f b) { return _mm_add_ps(a, b); }
inline vec4f v_sub(vec4f a, vec4f b) { return _mm_sub_ps(a, b); }
inline vec4f v_mul(vec4f a, vec4f b) { return _mm_mul_ps(a, b); }
inline vec4f v_div(vec4f a, vec4f b) { return _mm_div_ps(a, b); }
inline vec4f v_min(vec4f a, vec4f b) { return _mm_min_ps(a, b); }
inline vec4f v_max(vec4f a, vec4f b) { return _mm_max_ps(a, b); }
inline float v_x(vec4f v) { return _mm_cvtss_f32(v); }
inline float v_y(vec4f v) { return _mm_cvtss_f32(_mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 1, 1))); }
inline float v_z(vec4f v) { return _mm_cvtss_f32(_mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 2, 2, 2))); }
inline float v_w(vec4f v) { return _mm_cvtss_f32(_mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 3, 3))); }
inline float v_dot3(vec4f a, vec4f b) {
  alignas(16) float t[4];
  _mm_store_ps(t, _mm_mul_ps(a, b));
  return t[0] + t[1] + t[2];
}
inline float v_length3(vec4f a) { return sqrtf(v_dot3(a, a)); }
inline vec4f v_cross3(vec4f a, vec4f b) {
  vec4f a1 = _mm_shuffle_ps(a, a, _MM_SHUFFLE(3, 0, 2, 1));
  vec4f b1 = _mm_shuffle_ps(b, b, _MM_SHUFFLE(3, 0, 2, 1));
  vec4f c = _mm_sub_ps(_mm_mul_ps(a, b1), _mm_mul_ps(a1, b));
  return _mm_shuffle_ps(c, c, _MM_SHUFFLE(3, 0, 2, 1));
}
inline vec4f v_norm3(vec4f a) {
  float l = v_length3(a);
  return l > 0 ? _mm_mul_ps(a, _mm_set1_ps(1.0f / l)) : a;
}

struct Point2 {
  float x = 0, y = 0;
  Point2() = default;
  Point2(float x_, float y_) : x(x_), y(y_) {}
};

struct alignas(16) Matrix44 {
  float m[4][4];  // m[row][column]; row 3 holds the translation

  static Matrix44 identity() {
    Matrix44 r;
    for (int i = 0; i < 4; i++)
      for (int j = 0; j < 4; j++) r.m[i][j] = i == j ? 1.0f : 0.0f;
    return r;
  }
  vec4f row(int i) const { return _mm_load_ps(m[i]); }
  void setRow(int i, vec4f v) { _mm_store_ps(m[i], v); }
};

// a x b.
inline Matrix44 mat_mul(const Matrix44& a, const Matrix44& b) {
  Matrix44 r;
  for (int i = 0; i < 4; i++) {
    vec4f acc = _mm_mul_ps(_mm_set1_ps(a.m[i][0]), b.row(0));
    acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(a.m[i][1]), b.row(1)));
    acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(a.m[i][2]), b.row(2)));
    acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(a.m[i][3]), b.row(3)));
    r.setRow(i, acc);
  }
  return r;
}
// Row vector (x, y, z, w) times m.
inline vec4f mat_transform(vec4f p, const Matrix44& m) {
  alignas(16) float t[4];
  _mm_store_ps(t, p);
  vec4f acc = _mm_mul_ps(_mm_set1_ps(t[0]), m.row(0));
  acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(t[1]), m.row(1)));
  acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(t[2]), m.row(2)));
  return _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(t[3]), m.row(3)));
}
// General inverse (cofactors); returns false and leaves out alone when singular.
bool mat_inverse(const Matrix44& a, Matrix44& out);
// Inverse of a rigid transform (orthonormal rotation rows 0-2, translation row 3).
Matrix44 mat_inverse_rigid(const Matrix44& a);
