// The command-line interpreter: sq FILE.nut [args...]
//
// Runs the file with the math and string libraries in the root table; the
// arguments after the file reach the script as strings in vargv. print goes
// to standard output. A compile or runtime error is reported on standard
// error with its source and line, and the exit code is then 1. A script that
// returns an integer exits with it; otherwise the exit code is 0.
#include "squirrel.h"
#include "sqstdmath.h"
#include "sqstdstring.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kErrorHandlerName = "sq_error_handler";

void print_to_stdout(HSQUIRRELVM, const SQChar* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  vfprintf(stdout, fmt, args);
  va_end(args);
}

void print_to_stderr(HSQUIRRELVM, const SQChar* fmt, ...) {
  fflush(stdout);
  va_list args;
  va_start(args, fmt);
  vfprintf(stderr, fmt, args);
  va_end(args);
}

void report_compile_error(HSQUIRRELVM, const SQChar* desc, const SQChar* source, SQInteger line,
                          SQInteger column) {
  fflush(stdout);
  fprintf(stderr, "%s:%d:%d: error: %s\n", source, (int)line, (int)column, desc);
}

// The VM's error handler for errors no script caught: the message at the
// innermost script line, then the call stack.
SQInteger report_runtime_error(HSQUIRRELVM v) {
  fflush(stdout);
  std::string message = "(no error value)";
  if (sq_gettop(v) >= 2) {
    const SQChar* s;
    if (SQ_SUCCEEDED(sq_getstring(v, 2, &s))) {
      message = s;
    } else if (SQ_SUCCEEDED(sq_tostring(v, 2)) && SQ_SUCCEEDED(sq_getstring(v, -1, &s))) {
      message = s;
      sq_pop(v, 1);
    }
  }
  std::string stack;
  bool located = false;
  SQStackInfos si;
  for (SQInteger level = 0; SQ_SUCCEEDED(sq_stackinfos(v, level, &si)); level++) {
    const char* func = si.funcname ? si.funcname : "unknown";
    const char* source = si.source ? si.source : "unknown";
    if (!strcmp(func, kErrorHandlerName)) continue;
    if (!located && si.line >= 0) {
      fprintf(stderr, "%s:%d: error: %s\n", source, (int)si.line, message.c_str());
      located = true;
    }
    char line[64];
    snprintf(line, sizeof line, si.line >= 0 ? ":%d" : "", (int)si.line);
    stack += std::string("  in ") + func + " (" + source + line + ")\n";
  }
  if (!located) fprintf(stderr, "error: %s\n", message.c_str());
  if (!stack.empty()) fprintf(stderr, "call stack:\n%s", stack.c_str());
  return 0;
}

bool read_file(const char* path, std::string& out) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  bool ok = !ferror(f);
  fclose(f);
  return ok;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: sq FILE.nut [args...]\n");
    return 2;
  }
  std::string source;
  if (!read_file(argv[1], source)) {
    fprintf(stderr, "sq: cannot read %s: %s\n", argv[1], strerror(errno));
    return 2;
  }

  HSQUIRRELVM v = sq_open(1024);
  sq_setprintfunc(v, print_to_stdout, print_to_stderr);
  sq_setcompilererrorhandler(v, report_compile_error);
  sq_enabledebuginfo(v, SQTrue);
  sq_pushroottable(v);
  sqstd_register_mathlib(v);
  sqstd_register_stringlib(v);
  sq_pop(v, 1);
  sq_newclosure(v, report_runtime_error, 0);
  sq_setnativeclosurename(v, -1, kErrorHandlerName);
  sq_seterrorhandler(v);

  int status = 1;
  if (SQ_SUCCEEDED(sq_compilebuffer(v, source.data(), (SQInteger)source.size(), argv[1], SQTrue))) {
    sq_pushroottable(v);
    for (int i = 2; i < argc; i++) sq_pushstring(v, argv[i], -1);
    if (SQ_SUCCEEDED(sq_call(v, argc - 1, SQTrue, SQTrue))) {
      SQInteger ret = 0;
      status = sq_gettype(v, -1) == OT_INTEGER && SQ_SUCCEEDED(sq_getinteger(v, -1, &ret)) ? (int)ret : 0;
    }
  }
  fflush(stdout);
  sq_close(v);
  return status;
}
