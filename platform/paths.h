// Paths and files: the application folder, the per-user data folder, full
// paths of data files, file times, and files written safely.
#pragma once
#include <cstddef>
#include <cstdint>
#include "lib/strings.h"

typedef TempString<260> PathString;

// Folder of the executable, ending in "/"; empty if it cannot be determined.
// Every data file is found relative to it. Set by init_app_path.
extern char app_path[260];
void init_app_path();

// Full path of the running executable; false if it does not fit in size bytes.
bool get_exe_filename(char* buf, int size);
// The executable's path cut after its last "/", "\\" or ":" (the separator stays).
bool get_exe_path(char* buf, int size);

// The per-user data folder followed by "/": $XDG_DATA_HOME, else
// $HOME/.local/share, else $APPDATA, else app_path.
PathString get_appdata_path();
PathString get_appdata_path(const char* name);
// get_appdata_path() + "Quorvale/" + name: settings, logs, saved games.
PathString get_appdata_folder_path(const char* name);

// A data file's full path: null gives app_path; "\\" becomes "/"; a name
// starting with "/" is used unchanged, any other is appended to app_path.
// The result is made absolute (relative to the working folder) and "." and
// ".." parts are resolved by text alone, so linked folders stay as named.
PathString make_full_path(const char* name);

// The file's modification time in nanoseconds since the epoch; 0 if the file
// cannot be read. Every reload-on-change check compares these.
int64_t get_file_time(const char* path);

// Creates a folder and any missing parents; true if it exists afterwards.
bool make_folders(const char* path);

// Writes a whole file safely: the data goes to a temporary file in the same
// folder, is flushed to disk and renamed over path, so a crash or a full disk
// leaves either the old or the new file, never half of one. False on failure
// (the old file is then untouched).
bool write_file_replacing(const char* path, const void* data, size_t size);
