// The math standard library. Every function checks its arguments through the
// VM's parameter check, so a wrong count or type is a script error.
#include "sqstdmath.h"

#include <cmath>

namespace {

// rand() is a small linear congruential generator of its own rather than the
// C library's, so that a seeded sequence is the same on every platform: the
// constants and the 15-bit range are those of the Windows C runtime, which
// the game's scripts were written against.
constexpr SQInteger kRandMax = 32767;
SQUnsignedInteger rand_state = 1;

SQInteger math_srand(HSQUIRRELVM v) {
  SQInteger seed;
  sq_getinteger(v, 2, &seed);
  rand_state = (SQUnsignedInteger)seed;
  return 0;
}

SQInteger math_rand(HSQUIRRELVM v) {
  rand_state = rand_state * 214013u + 2531011u;
  sq_pushinteger(v, (SQInteger)((rand_state >> 16) & (SQUnsignedInteger)kRandMax));
  return 1;
}

SQInteger math_abs(HSQUIRRELVM v) {
  SQInteger n;
  sq_getinteger(v, 2, &n);
  // Negate in unsigned arithmetic: the smallest integer stays itself instead
  // of overflowing.
  SQUnsignedInteger u = (SQUnsignedInteger)n;
  sq_pushinteger(v, (SQInteger)(n < 0 ? 0u - u : u));
  return 1;
}

double float_arg(HSQUIRRELVM v, SQInteger idx) {
  SQFloat f;
  sq_getfloat(v, idx, &f);
  return f;
}

template <double (*F)(double)>
SQInteger math_unary(HSQUIRRELVM v) {
  sq_pushfloat(v, (SQFloat)F(float_arg(v, 2)));
  return 1;
}

template <double (*F)(double, double)>
SQInteger math_binary(HSQUIRRELVM v) {
  sq_pushfloat(v, (SQFloat)F(float_arg(v, 2), float_arg(v, 3)));
  return 1;
}

double d_fabs(double x) { return std::fabs(x); }
double d_sin(double x) { return std::sin(x); }
double d_cos(double x) { return std::cos(x); }
double d_asin(double x) { return std::asin(x); }
double d_acos(double x) { return std::acos(x); }
double d_tan(double x) { return std::tan(x); }
double d_atan(double x) { return std::atan(x); }
double d_log(double x) { return std::log(x); }
double d_log10(double x) { return std::log10(x); }
double d_floor(double x) { return std::floor(x); }
double d_ceil(double x) { return std::ceil(x); }
double d_exp(double x) { return std::exp(x); }
double d_sqrt(double x) { return std::sqrt(x); }
double d_atan2(double y, double x) { return std::atan2(y, x); }
double d_pow(double x, double y) { return std::pow(x, y); }

const SQRegFunction kMathFunctions[] = {
    {"abs", math_abs, 2, ".n"},
    {"fabs", math_unary<d_fabs>, 2, ".n"},
    {"sin", math_unary<d_sin>, 2, ".n"},
    {"cos", math_unary<d_cos>, 2, ".n"},
    {"asin", math_unary<d_asin>, 2, ".n"},
    {"acos", math_unary<d_acos>, 2, ".n"},
    {"tan", math_unary<d_tan>, 2, ".n"},
    {"atan", math_unary<d_atan>, 2, ".n"},
    {"atan2", math_binary<d_atan2>, 3, ".nn"},
    {"log", math_unary<d_log>, 2, ".n"},
    {"log10", math_unary<d_log10>, 2, ".n"},
    {"pow", math_binary<d_pow>, 3, ".nn"},
    {"floor", math_unary<d_floor>, 2, ".n"},
    {"ceil", math_unary<d_ceil>, 2, ".n"},
    {"exp", math_unary<d_exp>, 2, ".n"},
    {"sqrt", math_unary<d_sqrt>, 2, ".n"},
    {"srand", math_srand, 2, ".n"},
    {"rand", math_rand, 1, "."},
};

} // namespace

SQRESULT sqstd_register_mathlib(HSQUIRRELVM v) {
  for (const SQRegFunction& f : kMathFunctions) {
    sq_pushstring(v, f.name, -1);
    sq_newclosure(v, f.f, 0);
    sq_setparamscheck(v, f.nparamscheck, f.typemask);
    sq_setnativeclosurename(v, -1, f.name);
    if (SQ_FAILED(sq_newslot(v, -3, SQFalse))) return SQ_ERROR;
  }
  sq_pushstring(v, "RAND_MAX", -1);
  sq_pushinteger(v, kRandMax);
  if (SQ_FAILED(sq_newslot(v, -3, SQFalse))) return SQ_ERROR;
  sq_pushstring(v, "PI", -1);
  sq_pushfloat(v, (SQFloat)3.14159265358979323846);
  if (SQ_FAILED(sq_newslot(v, -3, SQFalse))) return SQ_ERROR;
  return SQ_OK;
}
