// The debug log (standard output and log.txt with rotation), fatal errors,
// the error box, the visual log and the on-screen error message.
#include "app/log.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include "app/app.h"
#include "platform/paths.h"
#include "platform/window.h"

int num_debug_log_files = 5;

static FILE* log_file = nullptr;

static PathString log_file_path(int n) {
  if (n == 0) return get_appdata_folder_path("log.txt");
  TempString<16> name;
  name.printf("log%02d.txt", n);
  return get_appdata_folder_path(name);
}

// Keeps the logs of the last runs: log.txt becomes log01.txt, log01.txt
// becomes log02.txt and so on; the oldest is deleted. Then log.txt is begun.
static void open_log_file() {
  int n = num_debug_log_files;
  if (n > 1) {
    unlink(log_file_path(n - 1));
    for (int k = n - 1; k >= 2; k--) rename(log_file_path(k - 1), log_file_path(k));
    rename(log_file_path(0), log_file_path(1));
  }
  make_folders(get_appdata_folder_path(""));
  log_file = fopen(log_file_path(0), "w");
}

void close_debug_log() {
  if (log_file) fclose(log_file);
  log_file = nullptr;
}

void vdebug(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  vfprintf(stdout, fmt, args);
  if (!log_file) open_log_file();
  if (log_file) vfprintf(log_file, fmt, copy);
  va_end(copy);
}

void debug(const char* fmt, ...) {
  va_list a;
  va_start(a, fmt);
  vdebug(fmt, a);
  va_end(a);
  fputc('\n', stdout);
  fflush(stdout);
  if (log_file) {
    fputc('\n', log_file);
    fflush(log_file);
  }
}

void debug_(const char* fmt, ...) {
  va_list a;
  va_start(a, fmt);
  vdebug(fmt, a);
  va_end(a);
}

static void (*fatal_shutdown)() = nullptr;

void set_fatal_shutdown(void (*close_all)()) { fatal_shutdown = close_all; }

void error_message(const char* text) {
  debug("ERROR: %s", text);
  TempString<256> caption;
  caption.printf("%s - FATAL ERROR", APP_WINDOW_TITLE);
  show_error_box(caption, text);
}

void fatal(const char* fmt, ...) {
  static bool in_fatal = false;
  va_list a;
  va_start(a, fmt);
  fputs("\n\n", stderr);
  vfprintf(stderr, fmt, a);
  va_end(a);
  fputc('\n', stderr);
  fflush(stdout);
  fflush(stderr);
  if (log_file) fflush(log_file);
  // A fatal error during the shutdown of another: its message is out; stop.
  if (in_fatal) _exit(100);
  in_fatal = true;

  char msg[4096];
  va_start(a, fmt);
  vsnprintf(msg, sizeof(msg), fmt, a);
  va_end(a);
  error_message(msg);
  if (fatal_shutdown) fatal_shutdown();
  exit(100);
}

// ---------------------------------------------------------------------------

DynArray<VisualLogLine> visual_log_lines;

void visual_log(const char* fmt, ...) {
  VisualLogLine line;
  va_list a;
  va_start(a, fmt);
  vsnprintf(line.text, sizeof(line.text), fmt, a);
  va_end(a);
  visual_log_lines.push_back(line);
  if (visual_log_lines.count() > 100) visual_log_lines.erase(0, visual_log_lines.count() - 100);
}

void clear_visual_log() { visual_log_lines.clear(); }

DynArray<char> error_message_text;

bool has_error_message() { return error_message_text.count() > 1; }

const char* get_error_message() { return has_error_message() ? error_message_text.data() : ""; }

void set_error_message(const char* text) {
  error_message_text.clear();
  if (!text || !*text) return;
  error_message_text.append(text, (int)strlen(text) + 1);
  debug("ERROR MESSAGE SET: %s", text);
}

void append_error_message(const char* text, int len) {
  if (!text || len == 0) return;
  if (len < 0) len = (int)strlen(text);
  if (len == 0) return;
  if (has_error_message())
    error_message_text.back() = '\n';  // the old terminator becomes the line feed
  else
    error_message_text.clear();
  error_message_text.append(text, len);
  error_message_text.push_back(0);
}
