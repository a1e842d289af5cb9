// Logging and error reporting beyond lib/check.h (which declares debug,
// debug_, vdebug, fatal and ASSERT for every folder): the log file's
// rotation, the error box, the visual log, the on-screen error message, and
// the crash report and call stack services of platform/crash_report.h.
#pragma once
#include "lib/check.h"
#include "lib/dynArray.h"
#include "platform/crash_report.h"

// How many log files are kept: log.txt and log01.txt ... up to one less than
// this number. Read when the log opens (the first write of a run).
extern int num_debug_log_files;

// Closes the log file; the next write opens it again, rotating the old logs
// as at the start of a run.
void close_debug_log();

// The shutdown sequence fatal runs before it exits (the process entry
// registers close_all_systems). Without one, fatal only reports and exits.
void set_fatal_shutdown(void (*close_all)());

// Logs "ERROR: %s" and shows a modal error box with the text, captioned
// "<window title> - FATAL ERROR"; returns when the user closes it. Headless
// there is no box, only the log line.
void error_message(const char* text);

// The visual log: up to 100 short lines drawn over the game, oldest first.
struct VisualLogLine {
  char text[128];
};
extern DynArray<VisualLogLine> visual_log_lines;
// Formats one line (cut to 127 characters) and appends it; beyond 100 lines
// the oldest go.
void visual_log(const char* fmt, ...) QV_PRINTF(1, 2);
void clear_visual_log();
// Drawn by draw_visual_log (render/font.h).

// The on-screen error message: one multi-line text shown in a band at the top
// of the screen until cleared. Failures the player should see but that do not
// stop the game end up here.
extern DynArray<char> error_message_text;  // zero-terminated, or empty
// Null or empty text clears the message; otherwise replaces it and logs
// "ERROR MESSAGE SET: %s".
void set_error_message(const char* text);
// Adds len bytes of text (len < 0: the whole zero-terminated text) on a new
// line of the message; null text or nothing to add does nothing. Not logged.
void append_error_message(const char* text, int len);
bool has_error_message();
const char* get_error_message();  // "" when there is none
// Drawn by draw_error_message (render/font.h).
