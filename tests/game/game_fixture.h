// A world, the real game-object module and real input for the mode and
// camera tests: each step feeds SDL events through the input layer, runs the
// current mode's update and ends the step as the main loop does.
#pragma once
#include <gtest/gtest.h>
#include <SDL2/SDL.h>
#include <initializer_list>

SDL_Event key_event(bool down, SDL_Scancode sc);
SDL_Event button_event(bool down, Uint8 button);

class GameTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // One simulation step of 0.05 s with these events arriving before it.
  void step(std::initializer_list<SDL_Event> events = {});
  // A step in which the key goes down and up again.
  void tap(SDL_Scancode sc) { step({key_event(true, sc), key_event(false, sc)}); }
  // A step in which the key goes down while Ctrl is held; Ctrl is released after.
  void ctrl_tap(SDL_Scancode sc);
};
