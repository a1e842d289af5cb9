// The one camera: where the eye is (the camera target) and its yaw, pitch
// and roll. Position, roll and zoom advance per simulation step and are
// interpolated per frame between their last two steps; yaw and pitch are
// taken as they are. In play the target follows the player, in the developer
// mode a free-flying control moves it, and in the main menu and the showcase
// mode an automatic flight drifts over the world. Positions wrap every 256
// units in x and z.
#pragma once
#include "lib/vecmath.h"

// ---- camera state

extern vec4f camera_target, prev_camera_target;  // (x, y, z, 1) at this and the last step
extern float camera_yaw;                         // radians, within (-2 pi, 2 pi)
extern float camera_pitch;                       // radians, within +-pi/2
extern float camera_roll, prev_camera_roll;
extern float camera_zoom, prev_camera_zoom;      // 1 = normal field of view, up to 8
extern Matrix44 cur_view_itm;  // the camera matrix (rows right, up, forward, position)
extern Matrix44 cur_view_tm;   // its inverse, the view matrix
extern vec4f cur_frame_color, prev_frame_color;  // full-screen tint whose alpha fades out

// Play control state, cleared when play is entered.
struct PlayControl {
  float forward_tap_timer = 0;  // time left in which a second press is a double tap
  float back_tap_timer = 0;
  int dash = 0;                 // -1, 0, +1: set by a double tap, added to the forward input
  float flight_speed = 0;       // horizontal length of the last velocity
  float prev_flight_speed = 0;
  bool mouse_captured = false;  // the mouse steers the camera this frame
};
extern PlayControl play_control;

// Showcase flight state.
struct ShowoffCamera {
  float target_yaw = 0, prev_target_yaw = 0;
  float target_pitch = 0, prev_target_pitch = 0;
  float yaw_rate = 0, pitch_rate = 0;
  float noise_time = 0;  // seconds
};
extern ShowoffCamera showoff_camera;

// ---- constants

constexpr float CAMERA_FLY_SPEED = 5.55f;      // units/s, developer flight
constexpr float CAMERA_FLY_TURBO = 6.0f;       // factor with the turbo button
constexpr float CAMERA_LOOK_SENSITIVITY = 0.002f;  // radians per pixel
constexpr float CAMERA_ZOOM_RATE = 20.0f;      // per second
constexpr float CAMERA_MAX_ZOOM = 8.0f;
constexpr float CAMERA_SHOWOFF_SPEED = 10.0f;  // units/s
constexpr float CAMERA_MAX_PITCH = 1.5707964f;
constexpr float CAMERA_FOV = 1.2915436464758039f;  // vertical field of view at zoom 1 (74 degrees)
constexpr float CAMERA_NEAR = 0.1f;
constexpr float CAMERA_FAR = 512.0f;

// ---- operations

// The camera matrix for t seconds after the last step (t = 0: the step's own).
Matrix44 camera_matrix(float t);

// Projection parameters at t: the field of view over the interpolated zoom,
// the device's aspect ratio and the clip planes, for a left-handed perspective.
struct CameraProjection {
  float fov, aspect, znear, zfar;
};
CameraProjection camera_projection(float t);

// Begins a step: the previous values take the current ones and the frame
// colour's alpha decays.
void camera_step(float dt);
// Moves the camera without interpolation from the old position.
void set_camera_pos(vec4f p);
// Zoom 1, play control cleared, roll 0, mouse released, no interpolation pending.
void reset_fly_control();

// The showcase flight.
void reset_showoff_camera();
void update_showoff_camera(float dt);
void render_showoff_camera(float t);

// One developer flight step (keys move the camera, the middle button zooms).
void fly_control(float dt);
// The developer mouse look, once per frame.
void free_look(float t);

// Turns the view by a mouse move of (dx, dy) pixels divided by `zoom`: yaw
// wraps within (-2 pi, 2 pi), pitch is limited to +-pi/2; dy is negated
// when invert_mouse_y is set.
void turn_camera(float dx, float dy, float zoom);

// Moves p by a multiple of 256 in x and z so that they lie within 0 ... 256.
vec4f wrap_to_map(vec4f p);
