// Loading, binding and swapping the game-object module (gameobj.so in the
// application folder). Binding fetches the module's two entry points, every
// operation of objects/gameobj_ops.h by name, checks the class table, gives
// the objects that outlive a swap the new build's virtual tables and links
// the module's GUI. Every failure of a load stops the program: the host
// cannot run without a complete module.
//
// While the game runs, the host watches the module's sources; when one
// changes it starts the module's rebuild script, which builds
// gameobj_new.so beside gameobj.so, and swaps that in at its next check.
#pragma once
#include <cstdint>
#include "lib/dynArray.h"
#include "lib/strings.h"

// Entries of the module's class table: entry 0 is never matched, entries
// 1 ... 90 are the module's classes; entry i is the same class in every build.
enum { NUM_GAMEOBJ_CLASSES = 91 };

// File names in the application folder: the module, and a new build of it
// waiting to be swapped in.
#define GAMEOBJ_MODULE_FILE "gameobj.so"
#define GAMEOBJ_NEW_MODULE_FILE "gameobj_new.so"
// The rebuild script and the module's main source, in the source folder.
#define GAMEOBJ_REBUILD_SCRIPT "rebuild_module.sh"
#define GAMEOBJ_MAIN_SOURCE "gameobj.cpp"

// Names of the bound operations in fetch order.
extern const char* const gameobj_op_names[];

// The host's copy of the module's class table: the tables of the build
// loaded last.
extern void* gameobj_vtables[NUM_GAMEOBJ_CLASSES];

// Loads the module file at `path` and binds it. Objects in the object lists
// (walked in their order, each once however many lists hold it) get the new
// build's virtual table of their class. Fatal errors: "can't load
// gameobj.dll", "invalid gameobj.dll", "no \"%s\" function in gameobj.dll",
// "gameobj classes changed, need restart", "cannot find object vtable".
void load_gameobj_module(const char* path);
// Before the module goes: sets every bound operation to null, releases what
// the GUI holds of the module, unregisters its debug symbols and releases it.
void unload_gameobj_module();
// Whether a module is loaded and bound.
bool gameobj_module_loaded();

// Set (by the module or a developer key) to have the next update step load
// the module again from its current file; the step clears it.
extern bool force_gameobj_reload;

// Called once per second with force false: services a running rebuild and
// starts one when a source changed (returning false while one runs); then,
// when gameobj_new.so exists, unloads the module, renames the new file to
// gameobj.so, loads and binds it and returns whether the rename succeeded.
// With force (when force_gameobj_reload was set) the current file is loaded
// again and the result is true. Logs "gameobj reload ok" or "... failed".
// The caller registers the module's script classes again after a true
// result and after every forced call.
bool reload_gameobj(bool force);

// The module's source folder (a full path ending in "/") and main source
// file, recorded at start-up for the rebuild.
extern TempString<260> gameobj_source_folder;
extern TempString<260> gameobj_main_source;

// One watched source file.
struct GameobjSourceFile {
  TempString<260> path;  // full path
  int64_t time;          // modification time when it was listed
};
extern DynArray<GameobjSourceFile> gameobj_sources;

// Lists the file (made a full path) with its time, unless it is already
// listed (names compared without regard to case) or cannot be opened, and
// follows its lines (read 255 characters at a time) of the form
// #include "name": each name, as written, relative to the source folder, is
// scanned in turn. Files that do not exist (the host's own headers named
// from the repository's root) are skipped and not listed.
void scan_gameobj_sources(const char* path);

// Whether a line of the rebuild's output names an error: the word "error"
// or "errors" in any letter case, neither preceded nor followed by a
// letter, digit or underscore ("Errors:" does, "terrors" does not).
bool is_rebuild_error_line(const char* line);

// Whether a rebuild's process is running (its output is still being read).
bool gameobj_rebuild_running();

// Start-up: finds the module's source folder, loads and binds gameobj.so
// from the application folder and scans the module's sources.
void init_gameobj_module();
// Shutdown, the module's part: its close_game_menu and remove_all_gameobj,
// then (after the world script is closed, which the caller does between the
// two) its close_spells_ui, close_gameobj, close_inst_render and the unload.
// Each does nothing when no module is bound.
void close_gameobj_objects();
void close_gameobj_module();
