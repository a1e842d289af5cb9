// The math standard library for scripts: abs fabs sin cos asin acos tan atan
// atan2 log log10 pow floor ceil exp sqrt srand rand and the constants
// RAND_MAX and PI.
#ifndef SQSTDMATH_H
#define SQSTDMATH_H

#include "squirrel.h"

#ifdef __cplusplus
extern "C" {
#endif

// Registers the library in the table on top of the stack.
SQUIRREL_API SQRESULT sqstd_register_mathlib(HSQUIRRELVM v);

#ifdef __cplusplus
}
#endif

#endif
