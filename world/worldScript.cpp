// The world script's run-time entry points with their fallbacks.
#include "world/worldScript.h"
#include "app/log.h"

using namespace sqbind;

static void show_world_script_error(const SquirrelError& e) {
  String text = script_error_text(e, world_script.vm);
  TempString<4096> msg;
  msg.printf("Error in world script:\n%.4000s", text.c_str());
  set_error_message(msg);
}

// A function the caller relies on: its absence is an error.
template <class R>
static void require(const SqFunc<R>& f, const char* name) {
  if (f.isValid()) return;
  TempString<128> msg;
  msg.printf("No '%s' function in script", name);
  throw SquirrelError(msg.c_str());
}

void activate_current_world() {
  if (!world_script.vm) return;
  try {
    if (world_script_funcs.activate_current_world.isValid()) world_script_funcs.activate_current_world();
  } catch (const SquirrelError& e) {
    show_world_script_error(e);
  }
}

void update_world_script(float dt) {
  if (!world_script.vm) return;
  try {
    if (world_script_funcs.update_script.isValid()) world_script_funcs.update_script(dt);
  } catch (const SquirrelError& e) {
    show_world_script_error(e);
  }
}

void world_script_event(const SqObject& event) {
  if (!world_script.vm) return;
  try {
    require(world_script_funcs.process_event, "process_event");
    world_script_funcs.process_event(event);
  } catch (const SquirrelError& e) {
    show_world_script_error(e);
  }
}

void world_script_str_event(const char* event) {
  if (!world_script.vm) return;
  try {
    require(world_script_funcs.process_event, "process_event");
    world_script_funcs.process_event(event);
  } catch (const SquirrelError& e) {
    show_world_script_error(e);
  }
}

static SqObject call_object_func(const SqFunc<SqObject>& f, const char* name, const SqObject* arg) {
  if (!world_script.vm) return SqObject();
  try {
    require(f, name);
    return arg ? f(*arg) : f();
  } catch (const SquirrelError& e) {
    show_world_script_error(e);
    return SqObject();
  }
}

SqObject get_world_tooltip(const SqObject& obj) {
  return call_object_func(world_script_funcs.get_world_tooltip, "get_world_tooltip", &obj);
}

SqObject get_world_ctx_menu(const SqObject& obj) {
  return call_object_func(world_script_funcs.get_world_ctx_menu, "get_world_ctx_menu", &obj);
}

SqObject get_savegame_globals() {
  return call_object_func(world_script_funcs.get_savegame_globals, "get_savegame_globals", nullptr);
}

void set_world_pal_color(const char* name, unsigned color) {
  if (!world_script.vm) return;
  try {
    require(world_script_funcs.set_pal_color, "set_pal_color");
    world_script_funcs.set_pal_color(name, color);
  } catch (const SquirrelError& e) {
    show_world_script_error(e);
  }
}

D3dColor get_cur_pal_color(const char* name) {
  const D3dColor magenta(0xFFFF00FFu);
  HSQUIRRELVM v = world_script.vm;
  if (!v) return magenta;
  try {
    require(world_script_funcs.get_cur_pal_color, "get_cur_pal_color");
    SqObject c = world_script_funcs.get_cur_pal_color(name);
    SQInteger top = sq_gettop(v);
    c.push(v);
    D3dColor packed;
    try {
      packed = get_packed_color(v, -1);
    } catch (...) {
      sq_settop(v, top);
      throw;
    }
    sq_settop(v, top);
    return packed;
  } catch (const SquirrelError& e) {
    show_world_script_error(e);
    return magenta;
  }
}

bool call_bool_func(const SqFunc<bool>& f, bool fallback) {
  if (!f.isValid()) return fallback;
  try {
    return f();
  } catch (const SquirrelError& e) {
    show_world_script_error(e);
    return fallback;
  }
}

int get_world_script_bool(const char* name, int fallback) {
  HSQUIRRELVM v = world_script.vm;
  if (!v) return fallback;
  try {
    SqObject value = getGlobal(v, name);
    return sq_objtobool(&value.obj) ? 1 : 0;
  } catch (const SquirrelError& e) {
    show_world_script_error(e);
    return fallback;
  }
}
