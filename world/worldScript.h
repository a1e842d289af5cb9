// The world script at play time: the entry points through which the program
// and the game-object module call the world rules of the gameplay mode
// (per-step update, game events, tooltips and context menus, the saved-game
// globals, the palette). Each calls the script function cached by
// world/worldGen.h; a script error never escapes: it is shown on screen as
// "Error in world script:\n%s" and the entry point returns its fallback.
// A missing optional function (update_script, activate_current_world) does
// nothing; a missing function a caller relies on is an error.
#pragma once
#include "lib/color.h"
#include "script/sqbind.h"
#include "world/worldGen.h"

void activate_current_world();
void update_world_script(float dt);
// process_event(event); without it: "No 'process_event' function in script".
void world_script_event(const sqbind::SqObject& event);
void world_script_str_event(const char* event);
// The script's result, or null on an error or without the function.
sqbind::SqObject get_world_tooltip(const sqbind::SqObject& obj);
sqbind::SqObject get_world_ctx_menu(const sqbind::SqObject& obj);
sqbind::SqObject get_savegame_globals();
void set_world_pal_color(const char* name, unsigned color);
// An integer colour, or a vec4f clamped to 0..1 and packed; opaque magenta
// (0xFFFF00FF) on an error or without the function.
D3dColor get_cur_pal_color(const char* name);

// Calls a script function without arguments and returns its result as a
// bool; an empty handle (no function, or its object is gone) returns the
// fallback without calling, an error shows the message and returns it.
bool call_bool_func(const sqbind::SqFunc<bool>& f, bool fallback);
// The root-table global `name` as 1 or 0; a missing global logs
// "getGlobal '%s' failed", shows the error and returns the fallback.
int get_world_script_bool(const char* name, int fallback);
