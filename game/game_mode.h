// Application game modes: exactly one is current; the main loop calls its
// update once per simulation step and the frame sequence its two renders.
#pragma once

struct GameMode {
  virtual void onEnter(GameMode* prev) = 0;
  virtual void onLeave(GameMode* next) = 0;
  virtual void update(float dt) = 0;
  virtual void render(float t) = 0;
  virtual void renderUi(float t) = 0;
  virtual void unused() {}  // kept for the layout of the interface; never called
  virtual ~GameMode() = default;
};

extern GameMode* cur_game_mode;  // null before the first switch
