// The main loop: fixed simulation steps of 1/20 s, as many frames as the
// machine allows between them, and the once-per-second tasks.
//
// One pass: (A) an update step; (B) present the pending frame, or sleep a
// little while the device cannot render; (C) decide whether a step is due,
// counting on the cost of a frame as the average of the last five; (D) if
// not, render a frame interpolated between the last two steps. After
// max_steps_per_frame steps in a row a frame is forced and the backlog
// dropped; a stall over 500 ms leaves exactly one step due.
#include <cstring>
#include "app/app.h"
#include "app/config.h"
#include "app/input.h"
#include "app/log.h"
#include "game/game_mode.h"
#include "lib/check.h"
#include "objects/gameobj_host.h"
#include "objects/gameobj_ops.h"
#include "platform/clock.h"
#include "render/d3d_render.h"
#include "render/d3d_shaders.h"
#include "render/font.h"
#include "render/textures.h"
#include "world/heightmap.h"
#include "world/worldGen.h"

float time_dt = 0.0f;
float time_ik = 1.0f;

int64_t step_ticks = 1;
int max_steps_per_frame = 5;
int64_t sim_time = 0;
int fps = 0;
int update_history[100], frame_history[100], gpu_load_history[100];
int update_history_index = 0, frame_history_index = 0;
int frames_presented = 0;

static int64_t last_second_mark = 0;
static int frames_this_second = 0;
static int64_t frame_start = 0;
static int64_t frame_work_ring[5];
static int frame_work_pos = 0;
static int64_t frame_work_sum = 0;
static int64_t update_start = 0;
static int64_t update_duration = 0;

void set_update_rate(int steps_per_second, int max_steps) {
  if (steps_per_second <= 0) steps_per_second = 1;
  step_ticks = time_ticks_per_sec() / steps_per_second;
  if (step_ticks <= 0) step_ticks = 1;
  max_steps_per_frame = max_steps > 0 ? max_steps : 0;
}

void reset_update_time() { update_start = get_ref_time(); }

// The module's script classes, registered again in the world script machine
// after the module was swapped or loaded again (the old build's are gone).
static void rebind_gameobj_scripts() {
  HSQUIRRELVM vm = get_world_script_vm();
  if (!vm || !bind_gameobj) return;
  try {
    bind_gameobj(vm);
  } catch (const sqbind::SquirrelError& e) {
    TempString<4096> text;
    text.printf("Error in world gen script:\n%.4000s", sqbind::script_error_text(e, vm).c_str());
    set_error_message(text);
  }
}

void update_app(float dt) {
  if (cur_game_mode) cur_game_mode->update(dt);
  // Per-step services after the mode's update, timed as "misc" by the timing
  // overlay: filled by sound (the 3-D listener at the camera with its
  // velocity, the re-wrapped tracked sounds, the music chain, applying 3-D
  // sound) and by the GUI runtime (destroying the elements queued for it).
  if (force_gameobj_reload) {
    force_gameobj_reload = false;
    reload_gameobj(true);
    rebind_gameobj_scripts();
  }
  update_duration = get_ref_time() - update_start;
}

int simulate_world(float seconds) {
  int rounds = 0;
  for (double r = seconds; r > 0; r -= 0.05) {
    show_splash("Simulating the world", (float)(1.0 - r / seconds));
    // Land morphing and water and lava by one step (LATER(timing overlay):
    // timed as "hm update"), LATER(effects): the common effects (timed
    // "fx"), then the module's objects. Without grids or a module (tests of
    // the loop alone) only the rounds are counted.
    if (HeightmapData::hmap) {
      HeightmapData::updateHmap(0.05f);
      HeightmapData::simWater(0.05f);
    }
    if (update_gameobj) update_gameobj(0.05f);
    rounds++;
  }
  return rounds;
}

// The GPU load figure: no vendor library exists here, so it is always
// unavailable (-1), as the timing overlay expects without one.
static int read_gpu_load() { return -1; }

// Reloads of what changed on disk, and the settings write.
static void run_once_per_second_tasks() {
  reload_shaders(false);
  reload_textures(false);
  if (reload_gameobj(false)) rebind_gameobj_scripts();
  // Filled by sky and sound: the sky script with its error box "Error in sky
  // script:\n%s", then the world script below, then the sound script with
  // "Error in sound script:\n%s".
  reload_world_script_if_changed();
  flush_app_config();
}

// A: one update step.
static void run_update_step() {
  update_history[update_history_index] = get_time_usec(update_duration);
  // Filled by the timing overlay: every registered tracker stores its
  // accumulated time at the same index, and its accumulator is cleared below.
  update_history_index = (update_history_index + 1) % 100;
  dispatch_window_messages();
  update_start = get_ref_time();
  time_dt = get_time_sec(step_ticks);
  time_ik = 1.0f;
  update_app(time_dt);
  clear_input_step_state();
}

static void present_pending_frame() {
  present_d3d_frame();
  int64_t now = get_ref_time();
  int64_t d = now - frame_start;
  frame_history[frame_history_index] = get_time_usec(d);
  frame_work_sum += d - frame_work_ring[frame_work_pos];
  frame_work_ring[frame_work_pos] = d;
  frame_work_pos = (frame_work_pos + 1) % 5;
  gpu_load_history[frame_history_index] = read_gpu_load();
  frame_history_index = (frame_history_index + 1) % 100;
  frames_this_second++;
  frames_presented++;
  if (now - last_second_mark >= time_ticks_per_sec()) {
    fps = frames_this_second;
    last_second_mark = now;
    frames_this_second = 0;
    run_once_per_second_tasks();
  }
}

void run_main_loop() {
  int64_t now = get_ref_time();
  sim_time = last_second_mark = now;
  frames_this_second = 0;
  frames_presented = 0;
  update_duration = 0;
  update_history_index = frame_history_index = 0;
  memset(update_history, 0, sizeof(update_history));
  memset(frame_history, 0, sizeof(frame_history));
  memset(gpu_load_history, 0, sizeof(gpu_load_history));
  memset(frame_work_ring, 0, sizeof(frame_work_ring));
  frame_work_pos = 0;
  frame_work_sum = 0;
  int step_counter = 0;
  int frames_rendered = 0;
  bool frame_pending = false;
  if (quit_requested) return;

  for (;;) {
    run_update_step();  // A
    if (quit_requested) break;

    bool step_due = false;
    while (!step_due) {
      // B: between steps.
      if (frame_pending) {
        frame_pending = false;
        present_pending_frame();
      } else if (!check_d3d_device()) {
        int64_t lag = get_ref_time() - sim_time;
        if (lag > 0) sleep_msec(get_time_msec(lag) / 2);
      }

      // C: decide.
      dispatch_window_messages();
      now = get_ref_time();
      int64_t lag = now - sim_time;
      if (lag <= -step_ticks) {  // the simulation is a whole step ahead of the clock
        sim_time = now;
        lag = 0;
      }
      if (lag > msec_to_ticks(500)) {  // drop a backlog over half a second
        sim_time = now - step_ticks;
        lag = step_ticks;
      }
      int64_t avg = frame_work_sum / 5;
      if (avg > step_ticks / 2) avg = step_ticks / 2;
      if (lag + avg >= step_ticks) {  // a frame begun now would end after the next step is due
        step_counter++;
        if (step_counter <= max_steps_per_frame) {
          if (quit_requested) goto end;
          sim_time += step_ticks;
          step_due = true;
          continue;
        }
      }

      // D: a frame between the last two steps.
      int64_t i = lag + avg / 2;
      if (i < 0) i = 0;
      if (i > step_ticks) i = step_ticks;
      time_dt = get_time_sec(i);
      time_ik = time_dt / get_time_sec(step_ticks);
      frame_pending = render_d3d_frame(time_dt);
      if (frame_pending) {
        frame_start = now;
        // -frames N: this frame is the last; it is presented on the way out.
        if (quit_after_frames > 0 && ++frames_rendered >= quit_after_frames) quit_requested = true;
      }
      if (quit_requested) goto end;
      if (step_counter > max_steps_per_frame) {  // forced: drop the backlog, update at once
        step_counter = 0;
        sim_time = now;
        step_due = true;
      } else {
        step_counter = -1;
      }
    }
  }

end:
  if (frame_pending) present_pending_frame();
  clear_input_step_state();
}
