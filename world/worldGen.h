// World generation from scripts. Each gameplay mode brings a folder
// gameModes/<mode>/gen/ whose main.nut runs in the world script machine;
// the machine offers it the generators, the grid classes, colour, vector
// and random helpers and constants, and calls back its generate_world and
// generate_universe. The same machine runs the world's rules at play time.
//
// Files of the generation: gameModes/<mode>/gen/<name> when the mode has
// that file, else the shared gen/<name> (so the modes can share palettes.csv
// and script libraries).
#pragma once
#include "lib/strings.h"
#include "lib/vecmath.h"
#include "platform/paths.h"
#include "script/sqVMReload.h"
#include "script/sqbind.h"

// The world script machine (stack 1024); open between init_world_script and
// close_world_script.
extern SqReloadableVM world_script;
HSQUIRRELVM get_world_script_vm();

// Read from the script's game_mode_info (with game_mode_id, game_mode_has_saves
// and game_mode_has_universe of game/game_mode.h).
extern float world_sim_after_leave_time;

// The script functions the engine calls, looked up after every (re)load;
// an absent one is an empty handle.
struct WorldScriptFuncs {
  sqbind::SqFunc<void> generate_world;
  sqbind::SqFunc<sqbind::SqObject> generate_universe;
  sqbind::SqFunc<sqbind::SqObject> get_world_tooltip;
  sqbind::SqFunc<sqbind::SqObject> get_world_ctx_menu;
  sqbind::SqFunc<void> process_event;
  sqbind::SqFunc<void> update_script;
  sqbind::SqFunc<void> activate_current_world;
  sqbind::SqFunc<void> set_pal_color;
  sqbind::SqFunc<sqbind::SqObject> get_cur_pal_color;
  sqbind::SqFunc<sqbind::SqObject> get_savegame_globals;
};
extern WorldScriptFuncs world_script_funcs;

// Set by the script during generation.
extern vec4f player_start_pos;         // set_player_pos; (0, 0, 0, 1) at each generation's start
extern vec4f world_sun_dir;            // set_sun_dir, for the sky
extern TempString<64> world_sky_name;  // set_sky_name, for the sky

// The universe table (held in the world script machine), its "worlds" slot,
// and the saved game's info table (held in the scratch machine).
extern sqbind::SqObject universe;
extern sqbind::SqObject worlds;
extern sqbind::SqObject cur_game_info;
// worlds = universe.worlds when present; the world script's root slot
// "universe" = universe.
void fetch_universe_data();
// Root slots "universe" and "cur_world" to null; releases the three tables.
void release_universe_data();

// Starts the world script of a gameplay mode: a new machine with every
// binding, gen/main.nut run, the engine's functions cached, the palettes
// loaded and game_mode_info read. A failing main.nut throws SquirrelError.
void init_world_script(const char* mode);
// Releases the universe, the cached handles and the machine; clears the mode.
void close_world_script();

// Builds a new world of the given kind ("game", "main_menu") from the
// script into the grids; script errors go to the on-screen message.
void generate_world(const char* name);
// Lays out a new universe from the script and describes the new saved game.
void generate_universe();

// Once per second: when a generation script or the palette file changed,
// reloads them and generates again (the universe in the universe mode,
// else a "game" world). Errors go to the on-screen message.
void reload_world_script_if_changed();

// Reads a palette file into the machine's root table world_palettes;
// throws SquirrelError "can't open %s" or "error reading %s".
void load_world_palettes(HSQUIRRELVM vm, const char* full_path);
// The path of a generation file for the current mode (see above).
PathString world_gen_file(const char* name);
