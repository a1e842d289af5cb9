#include "lib/vecmath.h"

// Gauss-Jordan elimination with partial pivoting on [a | I].
bool mat_inverse(const Matrix44& a, Matrix44& out) {
  double w[4][8];
  for (int i = 0; i < 4; i++)
    for (int j = 0; j < 4; j++) {
      w[i][j] = a.m[i][j];
      w[i][j + 4] = i == j ? 1.0 : 0.0;
    }
  for (int c = 0; c < 4; c++) {
    int pivot = c;
    for (int r = c + 1; r < 4; r++)
      if (fabs(w[r][c]) > fabs(w[pivot][c])) pivot = r;
    if (w[pivot][c] == 0.0) return false;
    if (pivot != c)
      for (int j = 0; j < 8; j++) {
        double t = w[c][j];
        w[c][j] = w[pivot][j];
        w[pivot][j] = t;
      }
    double s = 1.0 / w[c][c];
    for (int j = 0; j < 8; j++) w[c][j] *= s;
    for (int r = 0; r < 4; r++) {
      if (r == c || w[r][c] == 0.0) continue;
      double f = w[r][c];
      for (int j = 0; j < 8; j++) w[r][j] -= f * w[c][j];
    }
  }
  for (int i = 0; i < 4; i++)
    for (int j = 0; j < 4; j++) out.m[i][j] = (float)w[i][j + 4];
  return true;
}

Matrix44 mat_inverse_rigid(const Matrix44& a) {
  Matrix44 r;
  for (int i = 0; i < 3; i++) {
    for (int j = 0; j < 3; j++) r.m[i][j] = a.m[j][i];
    r.m[i][3] = 0.0f;
  }
  for (int j = 0; j < 3; j++)
    r.m[3][j] = -(a.m[3][0] * r.m[0][j] + a.m[3][1] * r.m[1][j] + a.m[3][2] * r.m[2][j]);
  r.m[3][3] = 1.0f;
  return r;
}
