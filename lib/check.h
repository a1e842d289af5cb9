// Logging entry points and the internal check used by every folder.
// The debug log and fatal are implemented by the application core (app/log.cpp);
// they are declared here so the lowest-level code can report through them.
#pragma once
#include <cstdarg>

#define QV_PRINTF(a, b) __attribute__((format(printf, a, b)))

// Formats a line to standard output and the log file, then a line end; flushes both.
void debug(const char* fmt, ...) QV_PRINTF(1, 2);
// As debug, without the line end and without flushing.
void debug_(const char* fmt, ...) QV_PRINTF(1, 2);
// The writer under both.
void vdebug(const char* fmt, va_list args);
// Reports the message (stderr, log, message box), shuts down and exits with 100.
[[noreturn]] void fatal(const char* fmt, ...) QV_PRINTF(1, 2);

// Internal check: a violated condition is a program fault and stops the game.
// File names are relative to the source tree (see -fmacro-prefix-map).
#define ASSERT(cond)                                                              \
  ((cond) ? (void)0 : fatal("%s(%d): failed ASSERT(%s)", __FILE__, __LINE__, #cond))
