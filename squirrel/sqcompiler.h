// Single-pass compiler from source text to a function prototype.
#pragma once
#include "sqobject.h"

struct SQCompileError {
  char desc[256];
  int line;
  int column;
};

// Compiles 'len' bytes of source; on success returns the main function
// (reference taken), on failure null with 'err' filled in.
SQFunctionProto* sq_compile_source(SQVM* v, const char* src, size_t len, const char* sourcename,
                                   SQCompileError& err);
