// The seven application modes, switching between them, the world step and
// the keys all modes share.
//
// Work of subsystems that are not built yet is marked "LATER(<subsystem>)":
// each marks the place where that subsystem's call goes once it exists.
#include "game/game_mode.h"
#include <algorithm>
#include <cmath>
#include "app/app.h"
#include "app/config.h"
#include "app/input.h"
#include "app/log.h"
#include "game/camera.h"
#include "objects/gameobj_ops.h"
#include "objects/player.h"
#include "persist/savedGame.h"
#include "render/d3d_render.h"
#include "world/erosion.h"
#include "world/heightmap.h"
#include "world/worldGen.h"

GameMode* cur_game_mode = nullptr;

static MainMenuMode the_main_menu_mode;
static UniverseMode the_universe_mode;
static PlayGameMode the_play_mode;
static DevGameMode the_dev_mode;
static GameMenuMode the_game_menu_mode;
static ShowoffGameMode the_showoff_mode;
static WarpMode the_warp_mode;

GameMode* main_menu_mode = &the_main_menu_mode;
GameMode* universe_mode = &the_universe_mode;
GameMode* play_mode = &the_play_mode;
GameMode* dev_mode = &the_dev_mode;
GameMode* game_menu_mode = &the_game_menu_mode;
GameMode* showoff_mode = &the_showoff_mode;
GameMode* warp_mode = &the_warp_mode;

bool should_close_game_menu = false;
bool need_game_restart = false;
String game_mode_id;
bool game_mode_has_saves = false;
bool game_mode_has_universe = false;

// Whether sound events are echoed to the visual log (Ctrl+F3); sound reads it.
bool log_sound_events = false;

void set_game_mode(GameMode* m) {
  if (m == cur_game_mode) return;
  GameMode* prev = cur_game_mode;
  if (prev) prev->onLeave(m);
  cur_game_mode = m;
  if (m) m->onEnter(prev);
}

void step_world(float dt) {
  // LATER(terrain renderer): the per-step refresh, timed as "hm renderer".
  HeightmapData::updateHmap(dt);  // LATER(timing overlay): timed as "hm update"
  HeightmapData::simWater(dt);
  // LATER(effects): the common effects' step, timed as "fx".
  update_gameobj(dt);
}

void go_to_main_menu() {
  close_game_menu();
  release_universe_data();
  try {
    init_world_script("mainMenu");
  } catch (const sqbind::SquirrelError& e) {
    TempString<4096> msg;
    msg.printf("Error in world gen script:\n%s", e.what());
    set_error_message(msg);
  }
  generate_world("main_menu");
  set_game_mode(main_menu_mode);
}

void enter_first_game_mode() {
  if (!start_game_mode.empty()) {
    // The world script of start_game_mode has run (it sets game_mode_id and
    // the mode's flags).
    if (game_mode_has_saves && start_game_slot < 0)
      fatal("No savegame slot specified for the game mode %s, use -slot N", start_game_mode.c_str());
    start_new_game(start_game_slot);
    set_game_mode(universe_mode);
  } else {
    go_to_main_menu();
  }
  if (local_player) set_camera_pos(local_player->getPos());
}

// The 3-D scene of a mode's frame at t seconds after the last step.
static void draw_scene(float t) {
  cur_view_itm = camera_matrix(t);
  cur_view_tm = mat_inverse_rigid(cur_view_itm);
  // LATER(frame sequence, post effects): render_scene(t), then the
  // post-effect pass into the back buffer.
}

// ---- keys shared by the modes

// The developer erosion: rain on the world, then the land morphs from its
// old shape to the eroded one.
static void erode_world() {
  HeightmapData::ErosionParams params;
  params.Kq = 0.1f;
  params.Kd = 0.9f;
  params.Kr = 0.9f;
  HeightmapData::genDropletErosion(92160, params);
  std::swap_ranges(HeightmapData::hmap, HeightmapData::hmap + HMAP_CELLS, HeightmapData::target_hmap);
  // LATER(terrain renderer): request a full terrain refresh.
  reset_update_time();
}

static bool ctrl_held() { return getKeyState(VK_CONTROL); }

static void handle_dev_keys() {
  if (keyDown(VK_F1)) {
    // LATER(timing overlay): toggle show_fps.
  }
  if (keyDown(VK_F5)) {
    // LATER(post effects): toggle use_postfx.
  }
  if (keyDown(VK_F6)) use_ppaa = !use_ppaa;
  if (keyDown(VK_F9)) set_game_mode(cur_game_mode == dev_mode ? play_mode : dev_mode);
  // Outside the developer mode the world keys need Ctrl; the Ctrl
  // combinations need it everywhere.
  bool ctrl = ctrl_held();
  if (cur_game_mode == dev_mode || ctrl) {
    if (keyDown('G')) generate_world(cur_game_mode == main_menu_mode ? "main_menu" : "game");
    if (keyDown('H')) HeightmapData::addWaterEverywhere(1.0f);
    if (keyDown('R')) erode_world();
  }
  if (!ctrl) return;
  if (keyDown('M')) toggle_monster_spawn();
  if (keyDown('N')) toggle_mana_cheat();
  if (keyDown(VK_F12)) {
    set_game_mode(game_menu_mode);
    open_cheat_menu();
  }
  if (keyDown(VK_F3)) {
    log_sound_events = !log_sound_events;
    if (log_sound_events)
      visual_log("logging sound events");
    else
      clear_visual_log();
  }
}

void handle_common_keys() {
  if (!isAppActive) return;
  if (keyUp(VK_SNAPSHOT)) {
    // LATER(screenshots): take a screenshot.
  }
  if (keyDown(VK_ESCAPE) && cur_game_mode != main_menu_mode) set_game_mode(game_menu_mode);
  if (use_dev_keys) handle_dev_keys();
}

// ---- main menu

void MainMenuMode::onEnter(GameMode* prev) {
  float h = v_x(HeightmapData::calcSquareDepth(v_make(0, 0, 0, 1), 5.0f, true));
  camera_target = v_make(0, h + 5.0f, 0, 1);
  reset_showoff_camera();
  open_main_menu();
}

void MainMenuMode::onLeave(GameMode* next) { close_game_menu(); }

void MainMenuMode::update(float dt) {
  handle_common_keys();
  update_showoff_camera(dt);
  update_game_menu(dt);
  // LATER(terrain renderer): request a full terrain refresh.
  // LATER(sky): the sky's step.
  step_world(dt);
  if (should_close_game_menu) set_game_mode(universe_mode);
}

void MainMenuMode::render(float t) {
  render_showoff_camera(t);
  draw_scene(t);
}

void MainMenuMode::renderUi(float t) { draw_game_menu(t); }

// ---- universe

void UniverseMode::onEnter(GameMode* prev) {
  // LATER(sound): stop all world sounds.
  if (game_mode_has_universe) {
    open_universe_gui();
    enter_stored_world();
    return;
  }
  reset_fly_control();
  set_game_mode(start_in_dev_mode ? dev_mode : play_mode);
}

void UniverseMode::onLeave(GameMode* next) { close_game_menu(); }

void UniverseMode::update(float dt) {
  update_game_menu(dt);
  if (should_close_game_menu) {
    enter_picked_world();
    set_game_mode(play_mode);
  }
  handle_common_keys();
}

void UniverseMode::render(float t) {
  set_wireframe(false);
  set_back_buffer_target();
  clear_view_color(0x00001133);
}

void UniverseMode::renderUi(float t) { draw_game_menu(t); }

// ---- play

void PlayGameMode::onEnter(GameMode* prev) {
  camera_zoom = 1.0f;
  play_control = PlayControl();
  prev_camera_target = camera_target;
  camera_roll = prev_camera_roll = 0;
  // LATER(spells interface): need_mana_recalc = true.
  if ((prev == dev_mode || prev == showoff_mode) && local_player) local_player->onPlayResumed();
}

static float held(int b) { return button_state(b) ? 1.0f : 0.0f; }

// The player's flight for one step: buttons, double-tap dash, the camera.
static void player_flight(float dt) {
  PlayControl& pc = play_control;
  pc.forward_tap_timer = fmaxf(0.0f, pc.forward_tap_timer - dt);
  pc.back_tap_timer = fmaxf(0.0f, pc.back_tap_timer - dt);
  camera_roll *= fmaxf(0.0f, 1.0f - 4.0f * dt);
  if (!isAppActive) {
    pc.mouse_captured = false;
    shouldHideMouse = false;
    return;
  }
  Matrix44 cam = camera_matrix(0);
  if (button_down(B_back)) {
    pc.dash = pc.back_tap_timer > 0 ? -1 : 0;
    pc.back_tap_timer = 0.2f;
  }
  if (button_down(B_forward)) {
    pc.dash = pc.forward_tap_timer > 0 ? 1 : 0;
    pc.forward_tap_timer = 0.2f;
  }
  float strafe = held(B_right) - held(B_left);
  float ahead = held(B_forward) - held(B_back) + (float)pc.dash;
  float rise = held(B_up) - held(B_down);
  float speed = 8.0f * dt;
  if (pc.dash != 0 || button_state(B_turbo)) speed *= 2.0f;
  vec4f dir = v_add(v_mul(cam.row(0), v_splat(strafe)), v_mul(cam.row(2), v_splat(ahead)));
  dir = v_add(dir, v_make(0, rise, 0, 0));
  dir = v_make(v_x(dir), v_y(dir), v_z(dir), 0);
  vec4f velocity = v_length3(dir) > 0 ? v_mul(v_norm3(dir), v_splat(speed)) : v_zero();
  if (local_player) {
    local_player->fly(dt, speed, velocity, cam, pc.dash);
    camera_target = local_player->getPos();
  }
  pc.flight_speed = sqrtf(v_x(velocity) * v_x(velocity) + v_z(velocity) * v_z(velocity));
}

void PlayGameMode::update(float dt) {
  camera_step(dt);
  player_flight(dt);
  cur_view_itm = camera_matrix(dt);
  handle_common_keys();
  // LATER(sky): the sky's step.
  step_world(dt);
  update_spells_ui(dt);
}

// The mouse steers the view unless the spells interface takes it.
static void mouse_look(float t) {
  PlayControl& pc = play_control;
  if (!(isMouseOver() && isAppActive)) {
    pc.mouse_captured = false;
    shouldHideMouse = false;
    return;
  }
  if (update_spells_ui_mouse(t)) {
    pc.mouse_captured = false;
    return;
  }
  float cx = (float)(d3d_wd / 2), cy = (float)(d3d_ht / 2);
  if (pc.mouse_captured) {
    float mx, my;
    getMousePos(&mx, &my);
    float dx = mx - cx;
    turn_camera(dx, my - cy, 1.0f);
    float s = pc.prev_flight_speed + (pc.flight_speed - pc.prev_flight_speed) * t * 20.0f;
    camera_roll += dx * s * 0.2f;
  }
  setMousePos(cx, cy);
  pc.mouse_captured = true;
  shouldHideMouse = true;
}

void PlayGameMode::render(float t) {
  mouse_look(t);
  draw_scene(t);
}

void PlayGameMode::renderUi(float t) { draw_spells_ui(t); }

// ---- developer free flight

void DevGameMode::onEnter(GameMode* prev) {
  camera_roll = 0;
  play_control.mouse_captured = false;
}

void DevGameMode::update(float dt) {
  camera_step(dt);
  fly_control(dt);
  cur_view_itm = camera_matrix(dt);
  handle_common_keys();
  // LATER(sky): the sky's step.
  if (isAppActive && isMouseOver()) {
    if (getKeyState(VK_LBUTTON)) on_devmode_click(camera_target, cur_view_itm.row(2));
    if (getKeyState(VK_RBUTTON)) {
      // LATER(sky): the sun's target direction = the camera's forward axis.
    }
  }
  step_world(dt);
}

void DevGameMode::render(float t) {
  free_look(t);
  draw_scene(t);
}

void DevGameMode::renderUi(float t) { render_dev_world_map(t); }

// ---- in-game menu

void GameMenuMode::onEnter(GameMode* prev) {
  return_mode = prev;
  open_game_menu(this);
}

void GameMenuMode::onLeave(GameMode* next) { close_game_menu(); }

void GameMenuMode::update(float dt) {
  camera_step(dt);
  handle_common_keys();
  cur_view_itm = camera_matrix(dt);
  update_game_menu(dt);
  // LATER(terrain renderer): request a full terrain refresh.
  shouldHideMouse = false;
  if (should_close_game_menu) set_game_mode(return_mode);
}

void GameMenuMode::render(float t) { draw_scene(0.05f); }

void GameMenuMode::renderUi(float t) { draw_game_menu(t); }

// ---- showcase

void ShowoffGameMode::onEnter(GameMode* prev) { reset_showoff_camera(); }

void ShowoffGameMode::update(float dt) {
  static const int wake_buttons[] = {B_forward, B_back, B_left, B_right, B_up, B_down, B_lspell, B_rspell};
  for (int b : wake_buttons)
    if (button_down(b)) {
      set_game_mode(play_mode);
      return;
    }
  handle_common_keys();
  update_showoff_camera(dt);
  // LATER(sky): the sky's step.
  step_world(dt);
  shouldHideMouse = true;
}

void ShowoffGameMode::render(float t) {
  render_showoff_camera(t);
  draw_scene(t);
}

// ---- warp

void WarpMode::onEnter(GameMode* prev) {
  time_left = 1.0f;
  effect_time = 0;
  last_frame_time = 0;
  first_frame = true;
}

void WarpMode::update(float dt) {
  last_frame_time -= dt;
  time_left -= dt;
  if (time_left <= 0) leave_world();
}

void WarpMode::render(float t) {
  if (first_frame) {
    first_frame = false;
    draw_scene(0.05f);
    // LATER(renderer): copy the back buffer into the scene image texture.
    return;
  }
  float d = t - last_frame_time;
  if (d >= 0.01f) {
    last_frame_time = t;
    effect_time += d;
  } else {
    d = 0;
  }
  // LATER(renderer): back buffer as target, wireframe off, "warpEffect.sh"
  // with the scene image on stage 0 (clamped), vertex constant 16 =
  // (0.5, -0.5, 0.5 + 0.5 / d3d_wd, 0.5 + 0.5 / d3d_ht), pixel constant 1 =
  // (d, effect_time, 0, 0), the full-screen quad; then the back buffer into
  // the scene image again ("error: scene image grab failed!" when that
  // fails) as the texture of the standard GUI image state.
}
