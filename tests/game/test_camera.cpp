// The camera matrix, its interpolation, developer zoom, mouse look and the
// showcase flight.
#include <cmath>
#include "app/app.h"
#include "app/config.h"
#include "app/input.h"
#include "game/camera.h"
#include "game/game_mode.h"
#include "tests/game/game_fixture.h"
#include "world/heightmap.h"
#include "world/noise.h"

namespace {

void expect_vec(vec4f v, float x, float y, float z) {
  EXPECT_NEAR(v_x(v), x, 1e-6f);
  EXPECT_NEAR(v_y(v), y, 1e-6f);
  EXPECT_NEAR(v_z(v), z, 1e-6f);
}

using Camera = GameTest;

TEST_F(Camera, AxesAtYawAndPitchZeroAndTurningTowardMinusX) {
  camera_yaw = camera_pitch = 0;
  Matrix44 m = camera_matrix(0);
  expect_vec(m.row(0), 1, 0, 0);
  expect_vec(m.row(1), 0, 1, 0);
  expect_vec(m.row(2), 0, 0, 1);
  EXPECT_EQ(v_w(m.row(3)), 1.0f);
  camera_yaw = 0.1f;
  EXPECT_LT(v_x(camera_matrix(0).row(2)), 0.0f);
  camera_yaw = 0;
  camera_pitch = 0.3f;
  EXPECT_NEAR(v_y(camera_matrix(0).row(2)), sinf(0.3f), 1e-6f);
  // The view matrix is the inverse of the camera matrix.
  Matrix44 inv = mat_inverse_rigid(camera_matrix(0));
  Matrix44 id = mat_mul(camera_matrix(0), inv);
  for (int i = 0; i < 4; i++)
    for (int j = 0; j < 4; j++) EXPECT_NEAR(id.m[i][j], i == j ? 1.0f : 0.0f, 1e-5f);
}

TEST_F(Camera, PositionInterpolatesTheShortWayAcrossTheEdge) {
  set_camera_pos(v_make(255.9f, 3, 10, 1));
  camera_step(0.05f);
  camera_target = v_make(0.1f, 5, 10, 1);
  EXPECT_NEAR(v_x(camera_matrix(0).row(3)), 255.9f, 1e-4f);
  EXPECT_NEAR(v_x(camera_matrix(0.025f).row(3)), 256.0f, 1e-4f);
  EXPECT_NEAR(v_y(camera_matrix(0.025f).row(3)), 4.0f, 1e-4f);
  EXPECT_NEAR(v_x(camera_matrix(0.05f).row(3)), 256.1f, 1e-4f);
  // set_camera_pos jumps without interpolation.
  set_camera_pos(v_make(50, 0, 50, 1));
  EXPECT_NEAR(v_x(camera_matrix(0.025f).row(3)), 50.0f, 1e-6f);
}

TEST_F(Camera, RollAndZoomInterpolateAndTheFrameColourFades) {
  camera_roll = 0;
  camera_step(0.05f);
  camera_roll = 1.0f;
  Matrix44 half = camera_matrix(0.025f);
  EXPECT_NEAR(v_x(half.row(0)), cosf(0.5f), 1e-6f);
  camera_zoom = 3;
  EXPECT_NEAR(camera_projection(0.025f).fov, CAMERA_FOV / 2.0f, 1e-6f);
  EXPECT_NEAR(camera_projection(0).aspect, 640.0f / 360.0f, 1e-6f);
  cur_frame_color = v_make(1, 0.5f, 0, 1);
  camera_step(0.05f);
  EXPECT_NEAR(v_w(cur_frame_color), 0.95f, 1e-6f);
  EXPECT_EQ(v_y(cur_frame_color), 0.5f);
  EXPECT_EQ(v_w(prev_frame_color), 1.0f);
  cur_frame_color = v_make(1, 1, 1, 0.01f);
  camera_step(0.05f);
  EXPECT_EQ(v_w(cur_frame_color), 0.0f);
}

TEST_F(Camera, DeveloperZoomReachesEightIn035Seconds) {
  set_game_mode(dev_mode);
  step({button_event(true, SDL_BUTTON_MIDDLE)});
  for (int i = 1; i < 7; i++) step();
  EXPECT_EQ(camera_zoom, CAMERA_MAX_ZOOM);
  step();
  EXPECT_EQ(camera_zoom, CAMERA_MAX_ZOOM);
  step({button_event(false, SDL_BUTTON_MIDDLE)});
  EXPECT_EQ(camera_zoom, 7.0f);
  for (int i = 1; i < 7; i++) step();
  EXPECT_EQ(camera_zoom, 1.0f);
}

TEST_F(Camera, DeveloperFlightMovesAlongTheAxesFasterWithTurbo) {
  set_game_mode(dev_mode);
  set_camera_pos(v_make(10, 10, 10, 1));
  step({key_event(true, SDL_SCANCODE_W)});
  EXPECT_NEAR(v_z(camera_target), 10 + 5.55f * 0.05f, 1e-5f);
  step({key_event(true, SDL_SCANCODE_LSHIFT)});
  EXPECT_NEAR(v_z(camera_target), 10 + 7 * 5.55f * 0.05f, 1e-4f);
  step({key_event(false, SDL_SCANCODE_W), key_event(false, SDL_SCANCODE_LSHIFT),
        key_event(true, SDL_SCANCODE_Q), key_event(true, SDL_SCANCODE_HOME)});
  EXPECT_NEAR(v_y(camera_target), 10 + 2 * 5.55f * 0.05f, 1e-5f);
  step({key_event(false, SDL_SCANCODE_Q), key_event(false, SDL_SCANCODE_HOME)});
  isAppActive = false;
  vec4f before = camera_target;
  step({key_event(true, SDL_SCANCODE_W)});
  EXPECT_EQ(v_z(camera_target), v_z(before));
  step({key_event(false, SDL_SCANCODE_W)});
}

TEST_F(Camera, MouseLookTurnsAndInvertedMouseRaisesThePitch) {
  invert_mouse_y = false;
  camera_pitch = 0;
  turn_camera(0, 10, 1);  // mouse moved down
  EXPECT_NEAR(camera_pitch, -0.02f, 1e-6f);
  invert_mouse_y = true;
  camera_pitch = 0;
  turn_camera(0, 10, 1);
  EXPECT_NEAR(camera_pitch, 0.02f, 1e-6f);
  turn_camera(0, 100000, 1);
  EXPECT_EQ(camera_pitch, CAMERA_MAX_PITCH);
  invert_mouse_y = false;
  camera_yaw = 0;
  turn_camera(100, 0, 2);  // zoomed in: turns half as far
  EXPECT_NEAR(camera_yaw, -0.1f, 1e-6f);
  camera_yaw = 6.2f;
  turn_camera(-100, 0, 1);
  EXPECT_GT(camera_yaw, -6.2831853f);
  EXPECT_LT(camera_yaw, 6.2831853f);
}

SDL_Event motion_to(int x, int y) {
  SDL_Event e = {};
  e.type = SDL_MOUSEMOTION;
  e.motion.x = x;
  e.motion.y = y;
  return e;
}

// Frames of a mode with the mouse over the window (a held button keeps it
// there without a real pointer) and moved from the screen centre.
TEST_F(Camera, FreeLookAndMouseLookFollowTheMouseFromTheCentre) {
  input_on_sdl_event(button_event(true, SDL_BUTTON_RIGHT));
  update_mouse_over();
  ASSERT_TRUE(isMouseOver());
  for (bool inverted : {false, true}) {
    invert_mouse_y = inverted;
    set_game_mode(dev_mode);
    play_control.mouse_captured = false;
    camera_yaw = camera_pitch = 0;
    camera_zoom = prev_camera_zoom = 2;
    input_on_sdl_event(motion_to(320 + 50, 180 + 10));  // right of and below the centre
    dev_mode->render(0);  // the first frame only takes the mouse
    EXPECT_EQ(camera_yaw, 0.0f);
    EXPECT_TRUE(play_control.mouse_captured);
    EXPECT_TRUE(shouldHideMouse);
    dev_mode->render(0);
    EXPECT_NEAR(camera_yaw, -0.002f * 50 / 2, 1e-6f);
    EXPECT_NEAR(camera_pitch, (inverted ? 0.002f : -0.002f) * 10 / 2, 1e-6f);
  }
  invert_mouse_y = false;

  // Play: no zoom division, and the roll follows the flight speed.
  set_game_mode(play_mode);
  camera_yaw = camera_pitch = 0;
  play_control.flight_speed = play_control.prev_flight_speed = 0.5f;
  play_mode->render(0);
  play_mode->render(0);
  EXPECT_NEAR(camera_yaw, -0.1f, 1e-6f);
  EXPECT_NEAR(camera_roll, 50 * 0.5f * 0.2f, 1e-5f);

  // With the window inactive the mouse is let go.
  isAppActive = false;
  play_mode->render(0);
  EXPECT_FALSE(play_control.mouse_captured);
  EXPECT_FALSE(shouldHideMouse);
  input_on_sdl_event(button_event(false, SDL_BUTTON_RIGHT));
}

TEST_F(Camera, ShowcaseKeepsItsPitchOverFlatGround) {
  set_camera_pos(v_make(20, 10, 20, 1));
  camera_yaw = camera_pitch = 0;
  reset_showoff_camera();
  for (int i = 0; i < 60; i++) {
    update_showoff_camera(0.05f);
    ASSERT_EQ(showoff_camera.target_pitch, 0.0f) << i;
  }
  EXPECT_NE(showoff_camera.target_yaw, 0.0f);  // the noise steers the yaw
  EXPECT_NEAR(v_y(camera_target), 10.0f, 1e-6f);
  EXPECT_GE(v_x(camera_target), 0.0f);
  EXPECT_LT(v_x(camera_target), 256.0f);
}

TEST_F(Camera, ShowcaseClimbsAtACliffByAtMostHalfTheStepPerStep) {
  for (int z = 14; z < 60; z++)
    for (int x = 0; x < 256; x++) HeightmapData::hmap[hmap_index(x, z)] = 100.0f;
  set_camera_pos(v_make(128, 10, 0, 1));
  camera_yaw = camera_pitch = 0;
  reset_showoff_camera();
  float prev = 0;
  for (int i = 0; i < 5; i++) {
    update_showoff_camera(0.05f);
    float rise = showoff_camera.target_pitch - prev;
    EXPECT_GT(rise, 0.0f) << i;
    EXPECT_LE(rise, 0.025f) << i;
    prev = showoff_camera.target_pitch;
  }
  // Over the cliff the clearance keeps the camera at least 0.5 above the land.
  set_camera_pos(v_make(128, 50, 30, 1));
  update_showoff_camera(0.05f);
  EXPECT_GE(v_y(camera_target), 100.5f - 1e-4f);
}

TEST_F(Camera, ShowcaseResetDrawsItsNoiseTimeFromTheGameRandom) {
  uint64_t seed = game_rnd_seed;
  camera_yaw = 0.7f;
  camera_roll = 0.3f;
  reset_showoff_camera();
  uint64_t s = seed * 6364136223846793005ull + 1442695040888963407ull;
  EXPECT_EQ(game_rnd_seed, s);
  EXPECT_FLOAT_EQ(showoff_camera.noise_time, (float)((double)(uint32_t)(s >> 32) / 4294967296.0 * 1000.0));
  EXPECT_EQ(showoff_camera.target_yaw, 0.7f);
  EXPECT_EQ(camera_roll, 0.0f);
  showoff_camera.target_yaw = 1.0f;
  showoff_camera.prev_target_yaw = 0.0f;
  render_showoff_camera(0.025f);
  EXPECT_FLOAT_EQ(camera_yaw, 0.5f);
}

TEST_F(Camera, MainMenuStartsAboveTheLandAtTheOrigin) {
  HeightmapData::hmap[hmap_index(2, 3)] = 7.0f;
  HeightmapData::hmap[hmap_index(9, 0)] = 50.0f;  // outside the square of half-size 5
  set_game_mode(main_menu_mode);
  EXPECT_FLOAT_EQ(v_y(camera_target), 12.0f);
  EXPECT_EQ(v_x(camera_target), 0.0f);
}

}  // namespace
