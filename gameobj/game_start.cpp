// Starting a game, travelling back to the universe, and (until the GUI
// runtime brings the universe screen) picking a world in the universe view.
#include "game/game_mode.h"
#include "module.h"
#include "lib/check.h"
#include "persist/savedGame.h"
#include "world/worldGen.h"

namespace gameobj {

// A new game in a slot (-1 for none): an empty slot, then a new universe
// with the starting spells, or in a gameplay mode without a universe a new
// world to play in at once.
void start_new_game(int slot) {
  debug("gameobj: new game in slot %d", slot);
  remove_all_gameobj();
  ::cur_game_slot = game_mode_has_saves ? slot : -1;
  // Worlds of an earlier game in the slot must not be taken for this one's.
  if (::cur_game_slot >= 0) erase_saved_game(::cur_game_slot);
  if (game_mode_has_universe) {
    generate_universe();  // its init_spell_grid gives the starting spells
  } else {
    init_spell_grid();
    generate_world("game");
  }
}

// The portal: a one-second warp, after which the world is left.
void warp_to_universe() { set_game_mode(warp_mode); }

// PLACEHOLDER until the universe screen exists (it needs the GUI runtime):
// opening the universe view clears the menu flag as every screen does, and
// the view's update then picks world #0 for the player, exactly as the
// screen will when the player picks a world: "enteredWorld" = 0 and
// should_close_game_menu raised. It is logged, so every run shows that the
// pick was automatic; headless runs (./run.sh -start story -slot 0) enter a
// world this way. The universe screen replaces both functions.
void open_universe_gui() { should_close_game_menu = false; }

void update_game_menu(float dt) {
  if (cur_game_mode != universe_mode || should_close_game_menu || universe.isNull()) return;
  if (get_entered_world() >= 0) return;
  debug("gameobj: no universe screen yet: entering world #0");
  set_entered_world(0);
  should_close_game_menu = true;
}

}  // namespace gameobj
