// Travelling through the universe: entering a world from the universe view,
// leaving it again, and the script functions that save and leave.
#include "app/app.h"
#include "app/log.h"
#include "game/camera.h"
#include "game/game_mode.h"
#include "objects/castle.h"
#include "objects/gameobj_ops.h"
#include "objects/object_lists.h"
#include "objects/player.h"
#include "objects/spells.h"
#include "persist/savedGame.h"
#include "sound/sound.h"
#include "world/worldGen.h"
#include "world/worldScript.h"

using sqbind::SqObject;

// Index of the sound event "enter_world" in the sound event table.
static const int SOUND_EVENT_ENTER_WORLD = 1;

// The world script's root slot "cur_world": the entry of `worlds` at index.
static void set_cur_world(int index) {
  HSQUIRRELVM v = world_script.vm;
  if (!v) return;
  SqObject entry;
  if (!worlds.isNull()) {
    SQInteger top = sq_gettop(v);
    worlds.push(v);
    sq_pushinteger(v, index);
    if (SQ_SUCCEEDED(sq_get(v, -2))) entry = SqObject::fromStack(v, -1);
    sq_settop(v, top);
  }
  sqbind::set_root_object(v, "cur_world", entry);
}

void enter_stored_world() {
  int index = get_entered_world();
  if (index < 0) return;
  if (load_world(index)) {
    debug("loaded world #%d", index);
    set_cur_world(index);
    set_game_mode(start_in_dev_mode ? dev_mode : play_mode);
  } else {
    should_close_game_menu = true;
  }
}

// The single castle of the world, or null when there is none or several.
static CastleObject* the_castle() {
  CastleObject* found = nullptr;
  int n = 0;
  for (CastleObject* c : CastleObject_list)
    if (c->state == OBJ_ALIVE) found = c, n++;
  return n == 1 ? found : nullptr;
}

void enter_picked_world() {
  int index = get_entered_world();
  if (load_world(index)) {
    if (local_player) {
      local_player->destroy();
      local_player = nullptr;
    }
    CastleObject* castle = the_castle();
    vec4f spawn = castle ? castle->pos : v_make(0, 0, 0, 1);
    if (create_player) local_player = create_player(spawn);
    if (local_player) {
      local_player->initPlayer();
      if (castle) {
        castle->owner = local_player;
        local_player->castle = castle;
      }
      if (player_has_spell && player_has_spell("UsePortalSpell")) local_player->selectSpell(1, 79);
    }
    debug("loaded world #%d", index);
    set_cur_world(index);
  } else {
    // A world not visited yet: made now and saved at once.
    set_error_message(nullptr);
    generate_world("game");
    if (!has_error_message()) save_game();
  }
  reset_update_time();
  if (show_screen_message) show_screen_message("");
  if (show_screen_sub_message) show_screen_sub_message("");
  if (unsigned ch = get_sound_event_channel(SOUND_EVENT_ENTER_WORLD)) play_sound(ch, true);
  world_script_str_event("enter_world");
  camera_yaw = camera_pitch = camera_roll = 0;
}

void leave_world() {
  if (!game_mode_has_universe || universe.isNull()) {
    reset_fly_control();
    generate_world("game");
    set_game_mode(play_mode);
    return;
  }
  bool saved = save_game();
  if (saved) {
    if (local_player) {
      local_player->destroy();
      local_player = nullptr;
    }
    if (world_sim_after_leave_time > 0) simulate_world(world_sim_after_leave_time);
    saved = save_game();
  }
  set_entered_world(-1);
  if (saved) save_game();
  set_game_mode(universe_mode);
}

static bool sq_save_game() { return save_game(); }
static void sq_leave_world() { leave_world(); }

void bind_universe(HSQUIRRELVM vm) {
  SqObject root = SqObject::root(vm);
  sqbind::register_function(root, "save_game", sq_save_game);
  sqbind::register_function(root, "leave_world", sq_leave_world);
}
