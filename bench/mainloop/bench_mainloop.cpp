// The main loop's own cost with an empty game mode: per update step (the
// loop's bookkeeping, event pumping, the update services) and per frame
// (render decision, the frame through the device, present, statistics).
#include <cstdio>
#include "app/app.h"
#include "render/d3d_render.h"
#include "bench/bench.h"
#include "game/game_mode.h"
#include "platform/clock.h"
#include "platform/window.h"

// Does nothing but end the loop after a set number of updates or real time.
struct EmptyMode : GameMode {
  int updates = 0, max_updates = 0;
  double stop_at = 0;
  void onEnter(GameMode*) override {}
  void onLeave(GameMode*) override {}
  void update(float) override {
    updates++;
    if ((max_updates && updates >= max_updates) || (stop_at && bench_now_sec() >= stop_at)) quit_requested = true;
  }
  void render(float) override {}
  void renderUi(float) override {}
};

// Steps back to back: each update moves a test clock on by one step, so a
// step is always due; without a device no frame is drawn in between.
static int64_t step_clock = 0;
static int64_t step_clock_now() { return step_clock; }
static void step_clock_sleep(int ms) { step_clock += msec_to_ticks(ms); }

struct SteppingMode : EmptyMode {
  void update(float dt) override {
    step_clock += step_ticks;
    EmptyMode::update(dt);
  }
};

int main() {
  isFullscreen = false;
  app_screen_wd = 640, app_screen_ht = 360;
  if (!open_main_window() || !check_d3d_device()) {
    fprintf(stderr, "no window or GL device\n");
    return 1;
  }

  // Frames: the real clock, as fast as the loop renders them.
  EmptyMode frames;
  cur_game_mode = &frames;
  frames.stop_at = bench_now_sec() + 1.0;
  double t0 = bench_now_sec();
  run_main_loop();
  double frame_sec = bench_now_sec() - t0;
  int presented = frames_presented;
  quit_requested = false;

  // Steps: a test clock and no device.
  close_d3d();
  static const ClockSource clock = {step_clock_now, step_clock_sleep};
  set_clock_source(&clock);
  SteppingMode steps;
  steps.max_updates = 200000;
  cur_game_mode = &steps;
  t0 = bench_now_sec();
  run_main_loop();
  double step_sec = bench_now_sec() - t0;
  set_clock_source(nullptr);

  bench_print("mainloop_step_us", step_sec / steps.updates * 1e6, "us");
  bench_print("mainloop_frame_us", frame_sec / (presented > 0 ? presented : 1) * 1e6, "us");
  cur_game_mode = nullptr;
  destroy_main_window();
  return 0;
}
