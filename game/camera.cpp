#include "game/camera.h"
#include <cmath>
#include "app/app.h"
#include "app/config.h"
#include "app/input.h"
#include "lib/utils.h"
#include "render/d3d_render.h"
#include "world/heightmap.h"
#include "world/noise.h"

vec4f camera_target = v_make(0, 0, 0, 1), prev_camera_target = v_make(0, 0, 0, 1);
float camera_yaw = 0, camera_pitch = 0;
float camera_roll = 0, prev_camera_roll = 0;
float camera_zoom = 1, prev_camera_zoom = 1;
Matrix44 cur_view_itm = Matrix44::identity();
Matrix44 cur_view_tm = Matrix44::identity();
vec4f cur_frame_color = v_zero(), prev_frame_color = v_zero();
PlayControl play_control;
ShowoffCamera showoff_camera;

static const float TWO_PI = 6.2831853f;

static float interp(float a, float b, float k) { return a + (b - a) * k; }
static float clampf(float v, float lo, float hi) { return v < lo ? lo : v > hi ? hi : v; }

// The short way from a to b across the wrapping map: x and z of the
// difference within -128 ... 128.
static float wrapped_delta(float d) {
  float f = (d / 256.0f - truncf(d / 256.0f)) * 256.0f;
  if (f > 128.0f) f -= 256.0f;
  if (f <= -128.0f) f += 256.0f;
  return f;
}

Matrix44 camera_matrix(float t) {
  float k = t * 20.0f;
  float cy = cosf(camera_yaw), sy = sinf(camera_yaw);
  float cp = cosf(camera_pitch), sp = sinf(camera_pitch);
  float roll = interp(prev_camera_roll, camera_roll, k);
  float cr = cosf(roll), sr = sinf(roll);
  vec4f right0 = v_make(cy, 0, sy);
  vec4f up0 = v_make(sp * sy, cp, -sp * cy);
  vec4f forward = v_make(-cp * sy, sp, cp * cy);
  Matrix44 m;
  m.setRow(0, v_sub(v_mul(v_splat(cr), right0), v_mul(v_splat(sr), up0)));
  m.setRow(1, v_add(v_mul(v_splat(sr), right0), v_mul(v_splat(cr), up0)));
  m.setRow(2, forward);
  vec4f d = v_sub(camera_target, prev_camera_target);
  float dx = wrapped_delta(v_x(d)), dy = v_y(d), dz = wrapped_delta(v_z(d));
  m.setRow(3, v_make(v_x(prev_camera_target) + dx * k, v_y(prev_camera_target) + dy * k,
                     v_z(prev_camera_target) + dz * k, 1.0f));
  return m;
}

CameraProjection camera_projection(float t) {
  float zoom = interp(prev_camera_zoom, camera_zoom, t * 20.0f);
  float aspect = d3d_ht > 0 ? (float)d3d_wd / (float)d3d_ht : 1.0f;
  return {CAMERA_FOV / zoom, aspect, CAMERA_NEAR, CAMERA_FAR};
}

void camera_step(float dt) {
  prev_camera_target = camera_target;
  prev_camera_roll = camera_roll;
  prev_camera_zoom = camera_zoom;
  play_control.prev_flight_speed = play_control.flight_speed;
  prev_frame_color = cur_frame_color;
  float a = v_w(cur_frame_color);
  a = fmaxf(0.0f, (1.0f - dt / 2) * a - dt / 2);
  cur_frame_color = v_make(v_x(cur_frame_color), v_y(cur_frame_color), v_z(cur_frame_color), a);
}

void set_camera_pos(vec4f p) {
  camera_target = p;
  prev_camera_target = p;
}

void reset_fly_control() {
  camera_zoom = 1.0f;
  play_control = PlayControl();
  prev_camera_target = camera_target;
  camera_roll = prev_camera_roll = 0;
}

void turn_camera(float dx, float dy, float zoom) {
  if (invert_mouse_y) dy = -dy;
  camera_yaw = fmodf(camera_yaw - CAMERA_LOOK_SENSITIVITY * dx / zoom, TWO_PI);
  camera_pitch = clampf(camera_pitch - CAMERA_LOOK_SENSITIVITY * dy / zoom, -CAMERA_MAX_PITCH,
                        CAMERA_MAX_PITCH);
}

vec4f wrap_to_map(vec4f p) {
  auto wrap = [](float v) {
    float f = v / 256.0f + 16.0f;
    return (f - floorf(f)) * 256.0f;
  };
  return v_make(wrap(v_x(p)), v_y(p), wrap(v_z(p)), v_w(p));
}

// ---- showcase flight

void reset_showoff_camera() {
  prev_camera_target = camera_target;
  ShowoffCamera& s = showoff_camera;
  s.target_yaw = s.prev_target_yaw = camera_yaw;
  s.target_pitch = s.prev_target_pitch = camera_pitch;
  camera_roll = 0;
  s.yaw_rate = s.pitch_rate = 0;
  s.noise_time = (float)(rnd_unit_exact(game_rnd_step()) * 1000.0);
}

void update_showoff_camera(float dt) {
  ShowoffCamera& s = showoff_camera;
  camera_step(dt);
  s.prev_target_yaw = s.target_yaw;
  camera_yaw = s.target_yaw;
  s.prev_target_pitch = s.target_pitch;
  camera_pitch = s.target_pitch;
  s.noise_time += dt;

  vec4f forward = camera_matrix(dt).row(2);
  camera_target = v_add(camera_target, v_mul(forward, v_splat(CAMERA_SHOWOFF_SPEED * dt)));  // w stays 1

  // Yaw drifts with fractal noise.
  float n = 0, x = 0.1f * s.noise_time, amp = 1.0f;
  for (int k = 0; k < 6; k++) {
    n += noise1(x) * amp;
    x = 2.0f * x + 0.5f;
    amp *= 0.5f;
  }
  float desired_yaw_rate = 0.04f * n;

  // Pitch climbs over the land ahead and sinks where it falls away by more than 10.
  vec4f f = v_mul(forward, v_splat(10.0f));
  vec4f probe = v_sub(v_add(camera_target, f), v_make(0, 5, 0, 0));
  float h = v_x(HeightmapData::calcSquareDepth(probe, 10.0f, true));
  float desired_pitch_change = 0;
  if (h > 0 || h < -10) desired_pitch_change = atan2f(fmaxf(h, -10.0f) + v_y(f), 10.0f) - camera_pitch;

  float limit = dt / 2;
  s.pitch_rate += (clampf(desired_pitch_change, -limit, limit) - s.pitch_rate) * 0.2f;
  s.target_pitch += s.pitch_rate;
  s.yaw_rate += (clampf(desired_yaw_rate, -limit, limit) - s.yaw_rate) * 0.2f;
  camera_roll = -10.0f * s.yaw_rate;
  s.target_yaw += s.yaw_rate;

  // Stay at least 0.5 above the surface.
  vec4f below = v_sub(camera_target, v_make(0, 0.5f, 0, 0));
  float g = v_x(HeightmapData::calcSquareDepth(below, 0.5f, true));
  if (g > 0) camera_target = v_add(camera_target, v_make(0, g, 0, 0));

  camera_target = wrap_to_map(camera_target);
  cur_view_itm = camera_matrix(dt);
}

void render_showoff_camera(float t) {
  const ShowoffCamera& s = showoff_camera;
  float k = t * 20.0f;
  camera_yaw = interp(s.prev_target_yaw, s.target_yaw, k);
  camera_pitch = interp(s.prev_target_pitch, s.target_pitch, k);
}

// ---- developer flight

void fly_control(float dt) {
  Matrix44 m = camera_matrix(0);
  bool active = isAppActive;
  if (active) {
    float s = CAMERA_FLY_SPEED * dt;
    if (button_state(B_turbo)) s *= CAMERA_FLY_TURBO;
    auto held = [](int vk) { return getKeyState(vk) ? 1.0f : 0.0f; };
    float along_right = (button_state(B_right) ? 1.0f : 0.0f) - (button_state(B_left) ? 1.0f : 0.0f);
    float along_up = held('E') + held(VK_PRIOR) - held('C') - held(VK_NEXT);
    float along_forward = (button_state(B_forward) ? 1.0f : 0.0f) - (button_state(B_back) ? 1.0f : 0.0f);
    float along_world_up = held('Q') + held(VK_HOME) - held('Z') - held(VK_END);
    vec4f move = v_mul(m.row(0), v_splat(along_right));
    move = v_add(move, v_mul(m.row(1), v_splat(along_up)));
    move = v_add(move, v_mul(m.row(2), v_splat(along_forward)));
    move = v_add(move, v_make(0, along_world_up, 0, 0));
    move = v_mul(move, v_splat(s));
    camera_target = v_add(camera_target, v_make(v_x(move), v_y(move), v_z(move), 0));
  }
  if (active && getKeyState(VK_MBUTTON))
    camera_zoom = fminf(camera_zoom + CAMERA_ZOOM_RATE * dt, CAMERA_MAX_ZOOM);
  else
    camera_zoom = fmaxf(camera_zoom - CAMERA_ZOOM_RATE * dt, 1.0f);
}

void free_look(float t) {
  if (!(isMouseOver() && isAppActive)) {
    play_control.mouse_captured = false;
    return;
  }
  float cx = (float)(d3d_wd / 2), cy = (float)(d3d_ht / 2);
  if (play_control.mouse_captured) {
    float mx, my;
    getMousePos(&mx, &my);
    turn_camera(mx - cx, my - cy, interp(prev_camera_zoom, camera_zoom, t * 20.0f));
  }
  setMousePos(cx, cy);
  play_control.mouse_captured = true;
  shouldHideMouse = true;
}
