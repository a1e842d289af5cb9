// Saved games and the universe. A game lives in a numbered slot, a folder
// under the saves folder of the per-user data folder:
//
//   saves/<slot>/info   magic 0x13110400, version 0x02092900, the info table
//                       (cur_game_info: "name", "mode") as plain data
//   saves/<slot>/uni    version, the universe table as plain data
//   saves/<slot>/w000 ... w999   one world file per visited world of the universe
//   saves/<slot>/world  the world of a gameplay mode without a universe
//
// A world file: version; the world data block of the grids; the sky's sun
// direction (4 floats), sun size cosine (float) and sky name (short
// string); camera yaw, pitch and roll (floats); world_time (int); the game
// objects, written and read by the game-object module.
//
// Every file is built in memory and then written to a temporary file in the
// same folder, flushed to disk and renamed over the old one, so a crash or a
// full disk during a save leaves the previous file whole. Every reader
// checks what it reads; failures go to the on-screen error message and the
// operation returns false.
//
// The universe table (world/worldGen.h: universe, worlds, cur_game_info)
// lives in the world script machine; its integer slot "enteredWorld" is the
// world the player is in, -1 in the universe view.
#pragma once
#include <cstdint>
#include "lib/strings.h"
#include "platform/paths.h"
#include "squirrel/squirrel.h"

class InputStream;

constexpr uint32_t SAVE_INFO_MAGIC = 0x13110400u;
constexpr uint32_t SAVE_VERSION = 0x02092900u;

extern int cur_game_slot;  // the running game's slot; -1 for none
extern int world_time;     // the world clock in steps, saved with each world
// The sky's sun size cosine, saved with each world (default: 20 degrees).
// Kept here until the sky exists, which will own it.
extern float world_sun_size_cos;

// The saves folder, and a file in a slot's folder ("%s/%d/%s").
PathString get_saved_games_folder();
PathString get_saved_game_file(int slot, const char* name);

// The "name" of the slot's info table (read in the scratch machine). The
// flag is set when the version differs (the name is still read) or the
// magic is wrong (the name is then "? ? ?"). A negative slot, a missing
// info file or any read error gives "" and false.
TempString<260> get_saved_game_name(int slot, bool& outdated);
// Deletes info, uni and w000 ... w999 of the slot (a "world" file stays);
// "No slot selected for erasing the saved game" for a negative slot.
bool erase_saved_game(int slot);

// One world file. A file that cannot be opened loads as false without a
// message; other failures show "Error saving the world:\n%s",
// "Error loading the world:\n%s (at %X)" or "Error loading the world:\n%s".
bool save_world(const char* path);
bool load_world(const char* path);
// The same from an open stream (the objects already removed).
bool load_world(InputStream& s);
// "w%03d" of the current slot; false for a negative index or slot.
bool load_world(int index);

// The whole game: info, uni (while there is a universe) and the world the
// player is in; nothing (and true) in a gameplay mode without saves.
bool save_game();
// Reads info, starts the world script of its gameplay mode ("story" when it
// names none), reads uni, and in a mode without a universe the "world" file.
bool load_saved_game(int slot);

// The world script functions "save_game" and "leave_world".
void bind_universe(HSQUIRRELVM vm);

// The universe mode's world logic. enter_stored_world: on entering the
// mode, the world stored in "enteredWorld" is loaded and played (a failure
// raises should_close_game_menu, so the next update enters it afresh).
// enter_picked_world: the world the universe screen picked, loaded or,
// when it has no file yet, generated and saved; the player is made at the
// world's castle; the caller then switches to play.
void enter_stored_world();
void enter_picked_world();
// The universe's "enteredWorld" (-1 without a universe or such a slot).
int get_entered_world();
void set_entered_world(int index);

// Fault seam for tests: when save_fail_at_write is n > 0, the n-th write of
// the saves made from then on fails (every stream write of a file being
// built counts, and so does each file replacement), as a full disk or a
// crash would stop the save at that point. save_writes counts the writes.
extern int save_fail_at_write;
extern int save_writes;
