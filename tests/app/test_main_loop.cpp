// The main loop's step and frame decisions, driven by a test clock, on a
// real window and GL device (offscreen).
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>
#include "app/app.h"
#include "app/config.h"
#include "render/d3d_render.h"
#include "app/log.h"
#include "game/game_mode.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "render/font.h"
#include "tests/support/test_support.h"

static int64_t fake_ticks = 0;
static int64_t fake_now() { return fake_ticks; }
static void fake_sleep(int ms) { fake_ticks += msec_to_ticks(ms); }
static const ClockSource fake_clock = {fake_now, fake_sleep};
static const int64_t MS = 1000000;  // ticks per millisecond

// What the loop did, in order: 'U' an update, 'F' a frame render.
struct LoopEvent {
  char kind;
  int64_t now, sim;
  float ik;
};

// A game mode whose update and render cost a set amount of clock time and
// record what the loop did; the hooks bend the clock at chosen moments.
struct ScriptedMode : GameMode {
  std::vector<LoopEvent> events;
  int64_t update_cost = 0, frame_cost = 0;
  size_t max_events = 600;
  std::function<void(ScriptedMode&)> after_update, after_frame;

  void onEnter(GameMode*) override {}
  void onLeave(GameMode*) override {}
  void update(float dt) override {
    EXPECT_FLOAT_EQ(dt, 0.05f);
    EXPECT_FLOAT_EQ(time_ik, 1.0f);
    events.push_back({'U', fake_ticks, sim_time, time_ik});
    fake_ticks += update_cost;
    if (after_update) after_update(*this);
    if (events.size() >= max_events) quit_requested = true;
  }
  void render(float t) override {
    events.push_back({'F', fake_ticks, sim_time, time_ik});
    fake_ticks += frame_cost;
    if (after_frame) after_frame(*this);
    if (events.size() >= max_events) quit_requested = true;
  }
  void renderUi(float) override {}
  std::string pattern(size_t from, size_t n) const {
    std::string s;
    for (size_t i = from; i < events.size() && i < from + n; i++) s += events[i].kind;
    return s;
  }
};

struct MainLoop : testing::Test {
  static void SetUpTestSuite() {
    isFullscreen = false;
    app_screen_wd = 320, app_screen_ht = 180;
    ASSERT_TRUE(open_main_window());
    ASSERT_TRUE(check_d3d_device());
    // The loop's timing is under test, not the frame sequence (which needs
    // the font): frames run just the mode's two renders.
    d3d_frame_callback = [](float t) {
      cur_game_mode->render(t);
      cur_game_mode->renderUi(t);
    };
  }
  static void TearDownTestSuite() {
    close_d3d();
    destroy_main_window();
    app_screen_wd = app_screen_ht = 0;
  }
  ScriptedMode mode;
  void SetUp() override {
    fake_ticks = 1000 * MS;
    set_clock_source(&fake_clock);
    set_update_rate(20, 5);
    quit_requested = false;
    cur_game_mode = &mode;
  }
  void TearDown() override {
    cur_game_mode = nullptr;
    quit_requested = false;
    set_clock_source(nullptr);
  }
};

TEST_F(MainLoop, ShortFramesRenderEachPassAndStepWhenLagPlusAverageReachesAStep) {
  mode.frame_cost = 1 * MS;
  run_main_loop();
  const auto& ev = mode.events;
  ASSERT_EQ(ev.size(), mode.max_events);
  int steps = 0;
  float last_ik = -1;
  // From the sixth frame on the average frame work is exactly 1 ms; checks
  // begin at the first step after that.
  size_t from = 12;
  while (from < ev.size() && ev[from].kind != 'U') from++;
  for (size_t i = from; i < ev.size(); i++) {
    if (ev[i].kind == 'U') {
      EXPECT_EQ(ev[i - 1].kind, 'F') << i;  // never two steps in a row
      int64_t lag = ev[i].now - (ev[i].sim - 50 * MS);  // sim_time was advanced for this step
      EXPECT_GE(lag + 1 * MS, 50 * MS) << i;
      EXPECT_LT(lag + 1 * MS, 51 * MS) << i;
      if (i > from) {
        EXPECT_GT(last_ik, 0.95f) << i;  // the frames led up to the step
      }
      last_ik = -1;
      steps++;
    } else {
      int64_t lag = ev[i].now - ev[i].sim;
      EXPECT_LT(lag + 1 * MS, 50 * MS) << i;
      EXPECT_NEAR(ev[i].ik, std::max(0.0, (lag + 0.5 * MS) / (50.0 * MS)), 1e-5) << i;
      EXPECT_GT(ev[i].ik, last_ik) << i;  // grows from near 0 toward 1
      if (last_ik < 0) {
        EXPECT_LT(ev[i].ik, 0.05f) << i;
      }
      last_ik = ev[i].ik;
    }
  }
  EXPECT_GE(steps, 10);
}

TEST_F(MainLoop, LongUpdatesRunSixStepsThenForceAFrameAndDropTheBacklog) {
  mode.update_cost = 60 * MS;
  mode.max_events = 7 * 4;
  run_main_loop();
  EXPECT_EQ(mode.pattern(0, 28), "UUUUUUFUUUUUUFUUUUUUFUUUUUUF");
  const auto& ev = mode.events;
  for (size_t i = 6; i + 1 < ev.size(); i += 7) {
    ASSERT_EQ(ev[i].kind, 'F');
    EXPECT_EQ(ev[i + 1].sim, ev[i].now) << i;  // the update after the forced frame starts at now
    EXPECT_EQ(ev[i + 1].now, ev[i].now) << i;  // and runs at once
  }
}

TEST_F(MainLoop, AfterAPauseOnlyOneStepOfBacklogRemains) {
  mode.frame_cost = 1 * MS;
  int updates = 0;
  size_t pause_at = 0;
  mode.after_update = [&](ScriptedMode& m) {
    if (++updates == 4) {
      fake_ticks += 2000 * MS;
      pause_at = m.events.size();
    }
  };
  run_main_loop();
  ASSERT_GT(pause_at, 0u);
  EXPECT_EQ(mode.pattern(pause_at, 3), "UFF");  // one step, not forty
  const LoopEvent& step = mode.events[pause_at];
  EXPECT_EQ(step.sim, step.now);  // one step behind real time, then caught up by this step
}

TEST_F(MainLoop, ClockBehindSimTimeResetsIt) {
  mode.frame_cost = 1 * MS;
  int frames = 0;
  size_t jump_at = 0;
  mode.after_frame = [&](ScriptedMode& m) {
    if (++frames == 30) {
      fake_ticks -= 100 * MS;
      jump_at = m.events.size();
    }
  };
  run_main_loop();
  ASSERT_GT(jump_at, 0u);
  const LoopEvent& next = mode.events[jump_at];
  EXPECT_EQ(next.kind, 'F');
  EXPECT_EQ(next.sim, next.now);
  EXPECT_FLOAT_EQ(next.ik, 0.0f);
}

TEST_F(MainLoop, OncePerSecondUpdatesFpsHistoriesAndWritesSettings) {
  TempDir dir;
  std::string keep = getenv("XDG_DATA_HOME") ? getenv("XDG_DATA_HOME") : "";
  setenv("XDG_DATA_HOME", dir.path.c_str(), 1);
  close_debug_log();
  reset_app_config();
  set_config_int("changed", 1);
  mode.frame_cost = 10 * MS;
  mode.after_frame = [](ScriptedMode& m) {
    if (fake_ticks > 2300 * MS) quit_requested = true;
  };
  run_main_loop();
  EXPECT_TRUE(std::filesystem::exists(dir.file("Quorvale/settings.cfg")));
  EXPECT_GE(fps, 90);
  EXPECT_LE(fps, 101);
  EXPECT_EQ(frame_history[10], 10000);  // microseconds from render start to present
  EXPECT_EQ(gpu_load_history[10], -1);  // no GPU load figure on this platform
  EXPECT_EQ(frame_history_index, frames_presented % 100);
  EXPECT_GT(frames_presented, 100);
  EXPECT_GT(update_history_index, 10);
  reset_app_config();
  close_debug_log();
  setenv("XDG_DATA_HOME", keep.c_str(), 1);
}

TEST_F(MainLoop, FramesOptionQuitsAfterThatManyPresentedFrames) {
  mode.frame_cost = 1 * MS;
  mode.max_events = 100000;
  quit_after_frames = 5;
  run_main_loop();
  quit_after_frames = 0;
  EXPECT_EQ(frames_presented, 5);
  EXPECT_TRUE(quit_requested);
}

// A clock that moves on by 1 ms at every reading, and records each sleep with
// the lag it was asked for at.
static std::vector<std::pair<int, int64_t>> sleeps;
static int64_t ticking_now() { return fake_ticks += MS; }
static void recording_sleep(int ms) {
  sleeps.push_back({ms, fake_ticks - sim_time});
  fake_ticks += ms * MS;
}

TEST_F(MainLoop, WithoutAUsableDeviceItKeepsSteppingAndSleepsHalfTheLag) {
  static const ClockSource ticking = {ticking_now, recording_sleep};
  set_clock_source(&ticking);
  sleeps.clear();
  close_d3d();
  mode.max_events = 40;
  run_main_loop();
  ASSERT_TRUE(init_d3d(main_window, 320, 180, false, false));
  EXPECT_EQ(mode.pattern(0, 40), std::string(40, 'U'));  // no frame, the steps go on
  ASSERT_GT(sleeps.size(), 10u);
  for (auto& s : sleeps) {
    EXPECT_GT(s.second, 0);
    EXPECT_EQ(s.first, get_time_msec(s.second) / 2);
  }
}

TEST_F(MainLoop, QuitBeforeTheLoopSkipsIt) {
  quit_requested = true;
  run_main_loop();
  EXPECT_TRUE(mode.events.empty());
}

TEST(LoopServices, UpdateRate) {
  struct {
    int steps, max;
    int64_t want_ticks;
    int want_max;
  } cases[] = {{20, 5, 50 * MS, 5}, {0, -3, 1000 * MS, 0}, {-5, 2, 1000 * MS, 2}, {2000000000, 1, 1, 1}};
  for (auto& c : cases) {
    set_update_rate(c.steps, c.max);
    EXPECT_EQ(step_ticks, c.want_ticks) << c.steps;
    EXPECT_EQ(max_steps_per_frame, c.want_max) << c.steps;
  }
  set_update_rate(20, 5);
}

TEST(LoopServices, SimulateWorldRunsWholeRoundsWithProgress) {
  EXPECT_EQ(simulate_world(0.12f), 3);  // 0.12, 0.07 and 0.02 remaining
  EXPECT_STREQ(splash_text, "Simulating the world");
  EXPECT_NEAR(splash_progress, 1.0 - 0.02 / 0.12, 1e-6);
  EXPECT_EQ(simulate_world(0.0f), 0);
  EXPECT_EQ(simulate_world(-1.0f), 0);
}
