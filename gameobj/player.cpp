// The local player: creation at a position and flight over the land.
#include <cmath>
#include "module.h"

// Height the player keeps above the land or fluid surface under it.
static const float PLAYER_CLEARANCE = 2.0f;

static float wrap_256(float v) { return v - 256.0f * floorf(v / 256.0f); }

// Keeps the position on the map (x, z within 0 ... 256) and above the surface.
static vec4f place_above_surface(vec4f p) {
  float x = wrap_256(v_x(p)), z = wrap_256(v_z(p));
  float y = v_y(p);
  float min_y = gameobj::surface_height(x, z) + PLAYER_CLEARANCE;
  return v_make(x, y < min_y ? min_y : y, z, 1.0f);
}

vec4f PlayerObject::getPos() { return pos; }

void PlayerObject::onPlayResumed() { velocity = v_zero(); }

void PlayerObject::initPlayer() {
  velocity = v_zero();
  pos = place_above_surface(pos);
}

void PlayerObject::selectSpell(int hand, int spell_class_id) {
  if (hand == 0 || hand == 1) selected_spell[hand] = spell_class_id;
}

void PlayerObject::fly(float dt, float speed, vec4f vel, const Matrix44& cam, int dash) {
  velocity = v_make(v_x(vel), v_y(vel), v_z(vel), 0.0f);
  pos = place_above_surface(v_add(pos, velocity));
}

namespace gameobj {

Player* create_player(vec4f p) {
  Player* pl = static_cast<Player*>(create_object(CLS_Player));
  pl->pos = place_above_surface(p);
  local_player = pl;
  return pl;
}

}  // namespace gameobj
