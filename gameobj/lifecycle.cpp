// The module's start, step and end.
#include "module.h"
#include "game/game_mode.h"
#include "lib/check.h"
#include "persist/savedGame.h"

namespace gameobj {

// The world clock is the host's world_time, saved with each world.

void init_gameobj() {
  ::world_time = 0;
  debug("gameobj: init_gameobj (%d classes, %d object lists)", NUM_CLASS_IDS - 1, NUM_OBJECT_LISTS);
}

void close_gameobj() { debug("gameobj: close_gameobj"); }

void update_gameobj(float dt) {
  ::world_time++;
  // Objects destroyed during the step are freed at its end, so the queue
  // never outlives a step (the host also empties it before writing a world).
  delete_gameobj();
}

int get_world_time() { return ::world_time; }

// The self-running showcase, and back to play.
void set_showoff_mode(bool on) { set_game_mode(on ? showoff_mode : play_mode); }

}  // namespace gameobj
