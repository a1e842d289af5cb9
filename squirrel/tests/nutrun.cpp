// Minimal script runner for the script tests, used while the command-line
// interpreter is not built: runs one file with the base library, prints
// through stdout, reports errors on stderr and exits non-zero on failure.
#include "squirrel/squirrel.h"
#include <cstdarg>
#include <cstdio>
#include <string>

static void print_fn(HSQUIRRELVM, const SQChar* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vfprintf(stdout, fmt, ap);
  va_end(ap);
}
static void error_fn(HSQUIRRELVM, const SQChar* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vfprintf(stderr, fmt, ap);
  va_end(ap);
}
static void compile_error(HSQUIRRELVM, const SQChar* desc, const SQChar* src, SQInteger line, SQInteger col) {
  fprintf(stderr, "%s:%d:%d: error: %s\n", src, (int)line, (int)col, desc);
}
static SQInteger runtime_error(HSQUIRRELVM v) {
  const SQChar* msg = "?";
  if (sq_gettop(v) >= 2) {
    sq_tostring(v, 2);
    sq_getstring(v, -1, &msg);
  }
  fprintf(stderr, "runtime error: %s\n", msg);
  SQStackInfos si;
  for (SQInteger level = 1; SQ_SUCCEEDED(sq_stackinfos(v, level, &si)); level++)
    fprintf(stderr, "  at %s (%s:%d)\n", si.funcname, si.source, (int)si.line);
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s FILE.nut [args]\n", argv[0]);
    return 2;
  }
  FILE* f = fopen(argv[1], "rb");
  if (!f) {
    fprintf(stderr, "cannot open %s\n", argv[1]);
    return 2;
  }
  std::string src;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) src.append(buf, n);
  fclose(f);
  HSQUIRRELVM v = sq_open(1024);
  sq_setprintfunc(v, print_fn, error_fn);
  sq_setcompilererrorhandler(v, compile_error);
  sq_newclosure(v, runtime_error, 0);
  sq_seterrorhandler(v);
  int rc = 0;
  if (SQ_FAILED(sq_compilebuffer(v, src.data(), (SQInteger)src.size(), argv[1], SQTrue))) {
    rc = 1;
  } else {
    sq_pushroottable(v);
    for (int i = 2; i < argc; i++) sq_pushstring(v, argv[i], -1);
    if (SQ_FAILED(sq_call(v, argc - 1, SQFalse, SQTrue))) rc = 1;
    sq_pop(v, 1);
  }
  fflush(stdout);
  sq_close(v);
  return rc;
}
