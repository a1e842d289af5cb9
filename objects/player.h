// The module's player object as the host sees it: its state and the
// virtual operations the host calls. The module's concrete player class
// implements them (gameobj/), so the host never needs the player's code.
#pragma once
#include "lib/vecmath.h"
#include "objects/base_object.h"

class CastleObject;

class Player : public BaseObject {
 public:
  vec4f pos = v_make(0, 0, 0, 1);  // (x, y, z, 1); x and z kept within 0 ... 256
  vec4f velocity = v_zero();       // the last flight step's move
  WeakRef<CastleObject> castle;    // the castle the player owns, if any
  int selected_spell[2] = {0, 0};  // class ids of the spells in the two hands

  // The player's position (x, y, z, 1).
  virtual vec4f getPos() = 0;
  // Play resumes after the developer or showcase mode moved the camera away.
  virtual void onPlayResumed() = 0;
  // Initialisation after the player was placed in an entered world.
  virtual void initPlayer() = 0;
  // Puts the spell of class `spell_class_id` in hand 0 (left) or 1 (right).
  virtual void selectSpell(int hand, int spell_class_id) = 0;
  // One step of flight: moves by `velocity` (already scaled by `speed`),
  // seen from the camera `cam`; `dash` is -1, 0 or +1.
  virtual void fly(float dt, float speed, vec4f velocity, const Matrix44& cam, int dash) = 0;
};

// The local player; null when there is none. The module's create_player sets it.
extern Player* local_player;
