// Loading and binding the game-object module (gameobj.so in the application
// folder). Binding fetches the module's two entry points, every operation of
// objects/gameobj_ops.h by name, checks the class table and links the
// module's GUI. Every failure stops the program: the host cannot run without
// a complete module.
#pragma once
#include "lib/strings.h"

// Entries of the module's class table: entry 0 is never matched, entries
// 1 ... 90 are the module's classes; entry i is the same class in every build.
enum { NUM_GAMEOBJ_CLASSES = 91 };

// File name of the module in the application folder.
#define GAMEOBJ_MODULE_FILE "gameobj.so"

// Names of the bound operations in fetch order.
extern const char* const gameobj_op_names[];

// The host's copy of the module's class table.
extern void* gameobj_vtables[NUM_GAMEOBJ_CLASSES];

// Loads the module file at `path` and binds it. Fatal errors:
// "can't load gameobj.dll", "invalid gameobj.dll",
// "no \"%s\" function in gameobj.dll", "gameobj classes changed, need restart".
void load_gameobj_module(const char* path);
// Sets every bound operation to null and releases the module.
void unload_gameobj_module();
// Whether a module is loaded and bound.
bool gameobj_module_loaded();

// The module's source folder (relative to the application folder) and main
// source file, recorded at start-up for the module's rebuild.
extern TempString<260> gameobj_source_folder;
extern TempString<260> gameobj_main_source;

// Start-up: records the sources and loads and binds gameobj.so from the
// application folder.
void init_gameobj_module();
// Shutdown, the module's part: its close_game_menu and remove_all_gameobj,
// then (after the world script is closed, which the caller does between the
// two) its close_spells_ui, close_gameobj, close_inst_render and the unload.
// Each does nothing when no module is bound.
void close_gameobj_objects();
void close_gameobj_module();
