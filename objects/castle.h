// The module's castle as the host sees it: where it stands and who owns it.
// The universe places the player at the world's castle and links the two
// (the castle's owner, the player's castle); the module's concrete class
// derives from this one.
#pragma once
#include "lib/vecmath.h"
#include "objects/base_object.h"
#include "objects/player.h"

class CastleObject : public BaseObject {
 public:
  vec4f pos = v_make(0, 0, 0, 1);  // (x, y, z, 1)
  WeakRef<Player> owner;
};
