// Debug log and fatal errors.
// (Early form: writes to standard output; the log file, rotation, message box
// and shutdown come with the application core.)
#include <cstdio>
#include <cstdlib>
#include "lib/check.h"

void vdebug(const char* fmt, va_list args) { vfprintf(stdout, fmt, args); }

void debug(const char* fmt, ...) {
  va_list a;
  va_start(a, fmt);
  vdebug(fmt, a);
  va_end(a);
  fputc('\n', stdout);
  fflush(stdout);
}

void debug_(const char* fmt, ...) {
  va_list a;
  va_start(a, fmt);
  vdebug(fmt, a);
  va_end(a);
}

void fatal(const char* fmt, ...) {
  fputs("\n\n", stderr);
  va_list a;
  va_start(a, fmt);
  vfprintf(stderr, fmt, a);
  va_end(a);
  fputc('\n', stderr);
  fflush(stdout);
  fflush(stderr);
  exit(100);
}
