// The transitions between the application modes, driven through input
// events, and the player's flight with its double-tap dash.
#include <cmath>
#include <cstring>
#include "app/app.h"
#include "app/config.h"
#include "app/input.h"
#include "app/log.h"
#include "game/camera.h"
#include "game/game_mode.h"
#include "objects/gameobj_ops.h"
#include "objects/player.h"
#include "tests/game/game_fixture.h"
#include "world/heightmap.h"

namespace {

struct CountingMode : GameMode {
  int enters = 0, leaves = 0;
  void onEnter(GameMode*) override { enters++; }
  void onLeave(GameMode*) override { leaves++; }
  void update(float) override {}
  void render(float) override {}
  void renderUi(float) override {}
};

using ModeTransitions = GameTest;

TEST_F(ModeTransitions, SwitchingToTheCurrentModeCallsNothing) {
  CountingMode a, b;
  set_game_mode(&a);
  EXPECT_EQ(a.enters, 1);
  set_game_mode(&a);
  EXPECT_EQ(a.enters, 1);
  EXPECT_EQ(a.leaves, 0);
  set_game_mode(&b);
  EXPECT_EQ(a.leaves, 1);
  EXPECT_EQ(b.enters, 1);
  EXPECT_EQ(cur_game_mode, &b);
  set_game_mode(nullptr);
  EXPECT_EQ(b.leaves, 1);
}

TEST_F(ModeTransitions, MenusEscapeAndReturn) {
  go_to_main_menu();
  ASSERT_EQ(cur_game_mode, main_menu_mode);
  float lo, hi;
  HeightmapData::calcHtRange(lo, hi);
  EXPECT_LT(lo, hi);  // the main menu's world was generated
  tap(SDL_SCANCODE_ESCAPE);  // nothing in the main menu
  EXPECT_EQ(cur_game_mode, main_menu_mode);

  // The module's menu started a game: universe, and without a universe straight to play.
  should_close_game_menu = true;
  step();
  EXPECT_EQ(cur_game_mode, play_mode);
  should_close_game_menu = false;

  tap(SDL_SCANCODE_ESCAPE);
  EXPECT_EQ(cur_game_mode, game_menu_mode);
  tap(SDL_SCANCODE_ESCAPE);  // already in the menu
  EXPECT_EQ(cur_game_mode, game_menu_mode);
  step();
  EXPECT_EQ(cur_game_mode, game_menu_mode);
  should_close_game_menu = true;  // the module closed the menu
  step();
  EXPECT_EQ(cur_game_mode, play_mode);
  should_close_game_menu = false;

  // Escape works in the showcase too, and the menu returns there.
  set_game_mode(showoff_mode);
  tap(SDL_SCANCODE_ESCAPE);
  EXPECT_EQ(cur_game_mode, game_menu_mode);
  should_close_game_menu = true;
  step();
  EXPECT_EQ(cur_game_mode, showoff_mode);
}

TEST_F(ModeTransitions, UniverseStartsInDevModeWithTheOption) {
  start_in_dev_mode = true;
  set_game_mode(universe_mode);
  EXPECT_EQ(cur_game_mode, dev_mode);
}

TEST_F(ModeTransitions, DeveloperKeysNeedTheSetting) {
  set_game_mode(play_mode);
  bool ppaa = use_ppaa;
  tap(SDL_SCANCODE_F9);
  tap(SDL_SCANCODE_F6);
  ctrl_tap(SDL_SCANCODE_F12);
  EXPECT_EQ(cur_game_mode, play_mode);
  EXPECT_EQ(use_ppaa, ppaa);

  use_dev_keys = true;
  tap(SDL_SCANCODE_F9);
  EXPECT_EQ(cur_game_mode, dev_mode);
  tap(SDL_SCANCODE_F9);
  EXPECT_EQ(cur_game_mode, play_mode);
  tap(SDL_SCANCODE_F6);
  EXPECT_EQ(use_ppaa, !ppaa);
  use_ppaa = ppaa;

  tap(SDL_SCANCODE_F12);  // without Ctrl: nothing
  EXPECT_EQ(cur_game_mode, play_mode);
  ctrl_tap(SDL_SCANCODE_F12);
  EXPECT_EQ(cur_game_mode, game_menu_mode);
}

TEST_F(ModeTransitions, WorldKeysNeedCtrlOutsideTheDeveloperMode) {
  use_dev_keys = true;
  set_game_mode(play_mode);
  tap(SDL_SCANCODE_H);
  EXPECT_EQ(HeightmapData::water[12345].amount, 0.0f);
  ctrl_tap(SDL_SCANCODE_H);
  EXPECT_EQ(HeightmapData::water[12345].amount, 1.0f);
  tap(SDL_SCANCODE_F9);
  ASSERT_EQ(cur_game_mode, dev_mode);
  tap(SDL_SCANCODE_H);
  EXPECT_EQ(HeightmapData::water[0].amount, 2.0f);

  // Ctrl+F3 switches the sound-event log and says so in the visual log.
  clear_visual_log();
  ctrl_tap(SDL_SCANCODE_F3);
  ASSERT_EQ(visual_log_lines.count(), 1);
  EXPECT_STREQ(visual_log_lines[0].text, "logging sound events");
  ctrl_tap(SDL_SCANCODE_F3);
  EXPECT_EQ(visual_log_lines.count(), 0);
}

TEST_F(ModeTransitions, InactiveWindowIgnoresTheCommonKeys) {
  set_game_mode(play_mode);
  isAppActive = false;
  tap(SDL_SCANCODE_ESCAPE);
  EXPECT_EQ(cur_game_mode, play_mode);
}

TEST_F(ModeTransitions, ShowcaseEndsOnAMovementOrSpellButton) {
  set_game_mode(showoff_mode);
  step();
  step({key_event(true, SDL_SCANCODE_LCTRL)});  // not a movement button
  step({key_event(false, SDL_SCANCODE_LCTRL)});
  EXPECT_EQ(cur_game_mode, showoff_mode);
  EXPECT_TRUE(shouldHideMouse);
  tap(SDL_SCANCODE_W);
  EXPECT_EQ(cur_game_mode, play_mode);

  set_game_mode(showoff_mode);
  step({button_event(true, SDL_BUTTON_LEFT), button_event(false, SDL_BUTTON_LEFT)});
  EXPECT_EQ(cur_game_mode, play_mode);

  // The module switches the showcase on and off by name.
  set_showoff_mode(true);
  EXPECT_EQ(cur_game_mode, showoff_mode);
  set_showoff_mode(false);
  EXPECT_EQ(cur_game_mode, play_mode);
}

TEST_F(ModeTransitions, WarpLeavesTheWorldAfterExactlyOneSecond) {
  set_game_mode(warp_mode);
  for (int i = 1; i < 20; i++) {
    step();
    ASSERT_EQ(cur_game_mode, warp_mode) << "step " << i;
  }
  step();
  EXPECT_EQ(cur_game_mode, play_mode);  // without a universe leaving starts afresh in play
}

// ---- flight and dash

class PlayerFlight : public GameTest {
 protected:
  Player* player = nullptr;
  void SetUp() override {
    GameTest::SetUp();
    player = create_player(v_make(100, 10, 100, 1));
    set_game_mode(play_mode);
  }
  float z() { return v_z(player->getPos()); }
};

TEST_F(PlayerFlight, DoubleTapForwardDashesUntilTheNextPress) {
  tap(SDL_SCANCODE_W);
  EXPECT_EQ(play_control.dash, 0);
  float z0 = z();
  tap(SDL_SCANCODE_W);  // second press within 0.2 s
  EXPECT_EQ(play_control.dash, 1);
  // No key held: the dash alone flies forward (+z at yaw 0) at double speed.
  for (int i = 0; i < 6; i++) {
    float before = z();
    step();
    EXPECT_NEAR(z() - before, 0.8f, 1e-4f);
  }
  EXPECT_GT(z(), z0);
  EXPECT_NEAR(play_control.flight_speed, 0.8f, 1e-5f);
  EXPECT_EQ(v_x(camera_target), v_x(player->getPos()));

  // A single later press stops it.
  tap(SDL_SCANCODE_W);
  EXPECT_EQ(play_control.dash, 0);
  float before = z();
  step();
  EXPECT_EQ(z(), before);
}

TEST_F(PlayerFlight, BackAfterADashClearsItAndFliesBack) {
  tap(SDL_SCANCODE_W);
  tap(SDL_SCANCODE_W);
  ASSERT_EQ(play_control.dash, 1);
  float before = z();
  step({key_event(true, SDL_SCANCODE_S)});
  EXPECT_EQ(play_control.dash, 0);
  EXPECT_NEAR(z() - before, -0.4f, 1e-4f);  // ahead is -1 while back is held
  step({key_event(false, SDL_SCANCODE_S)});

  // A double tap of back dashes backwards.
  for (int i = 0; i < 6; i++) step();
  tap(SDL_SCANCODE_S);
  tap(SDL_SCANCODE_S);
  EXPECT_EQ(play_control.dash, -1);
  before = z();
  step();
  EXPECT_NEAR(z() - before, -0.8f, 1e-4f);
}

TEST_F(PlayerFlight, TapsFurtherApartThanTheWindowDoNotDash) {
  tap(SDL_SCANCODE_W);
  for (int i = 0; i < 4; i++) step();  // 0.25 s after the first press
  tap(SDL_SCANCODE_W);
  EXPECT_EQ(play_control.dash, 0);
}

TEST_F(PlayerFlight, TurboDoublesAndStrafeFollowsTheCameraAxes) {
  camera_yaw = 1.5707964f;  // forward is -x, right is +z
  float x0 = v_x(player->getPos());
  step({key_event(true, SDL_SCANCODE_W), key_event(true, SDL_SCANCODE_LSHIFT)});
  EXPECT_NEAR(v_x(player->getPos()) - x0, -0.8f, 1e-4f);
  step({key_event(false, SDL_SCANCODE_W), key_event(false, SDL_SCANCODE_LSHIFT)});
  float z0 = z();
  step({key_event(true, SDL_SCANCODE_D)});
  EXPECT_NEAR(z() - z0, 0.4f, 1e-4f);
  step({key_event(false, SDL_SCANCODE_D)});
  // Rise and forward together keep the speed: the direction is normalised.
  for (int i = 0; i < 5; i++) step();  // W's tap window has closed
  vec4f p0 = player->getPos();
  camera_yaw = 0;
  step({key_event(true, SDL_SCANCODE_SPACE), key_event(true, SDL_SCANCODE_W)});
  vec4f d = v_sub(player->getPos(), p0);
  EXPECT_NEAR(v_length3(d), 0.4f, 1e-4f);
  step({key_event(false, SDL_SCANCODE_SPACE), key_event(false, SDL_SCANCODE_W)});
}

}  // namespace
