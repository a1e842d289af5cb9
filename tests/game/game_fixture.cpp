#include "tests/game/game_fixture.h"
#include <cstdio>
#include <cstdlib>
#include <string>
#include "app/app.h"
#include "app/config.h"
#include "app/input.h"
#include "game/camera.h"
#include "game/game_mode.h"
#include "objects/gameobj_host.h"
#include "objects/gameobj_ops.h"
#include "platform/paths.h"
#include "render/d3d_render.h"
#include "world/heightmap.h"

SDL_Event key_event(bool down, SDL_Scancode sc) {
  SDL_Event e = {};
  e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
  e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
  e.key.keysym.scancode = sc;
  e.key.keysym.sym = SDL_GetKeyFromScancode(sc);
  return e;
}

SDL_Event button_event(bool down, Uint8 button) {
  SDL_Event e = {};
  e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
  e.button.button = button;
  return e;
}

void GameTest::SetUp() {
  // The application folder holds the game data (the main menu's world script).
  snprintf(app_path, sizeof(app_path), "%s/", getenv("QV_GAME_DIR"));
  HeightmapData::init_grids();
  HeightmapData::reset();
  reset_app_config();
  load_gameobj_module((std::string(getenv("QV_GAME_DIR")) + "/" GAMEOBJ_MODULE_FILE).c_str());
  init_gameobj();
  d3d_wd = 640;
  d3d_ht = 360;
  init_input(nullptr);
  init_controls();
  isAppActive = true;
  use_dev_keys = false;
  start_in_dev_mode = false;
  should_close_game_menu = false;
  camera_yaw = camera_pitch = 0;
  set_camera_pos(v_make(0, 10, 0, 1));
  reset_fly_control();
}

void GameTest::TearDown() {
  set_game_mode(nullptr);
  clear_input_step_state();
  remove_all_gameobj();
  unload_gameobj_module();
}

void GameTest::step(std::initializer_list<SDL_Event> events) {
  for (const SDL_Event& e : events) input_on_sdl_event(e);
  if (cur_game_mode) cur_game_mode->update(0.05f);
  clear_input_step_state();
}

void GameTest::ctrl_tap(SDL_Scancode sc) {
  step({key_event(true, SDL_SCANCODE_LCTRL), key_event(true, sc), key_event(false, sc)});
  input_on_sdl_event(key_event(false, SDL_SCANCODE_LCTRL));
  clear_input_step_state();
}
