// The application spine: process entry, game initialisation, the main loop
// with its fixed simulation step, the window procedure, and shutdown.
#pragma once
#include <SDL2/SDL.h>
#include <cstdint>
#include "lib/strings.h"

#define APP_WINDOW_TITLE "Quorvale 0.27 DEMO"
#define APP_VERSION_TEXT "v0.27 DEMO"

// Application globals (exported to the game-object module by name).
extern int app_screen_wd, app_screen_ht;  // requested client size; 0 = not set
extern bool isFullscreen;       // the window is fullscreen now
extern bool want_fullscreen;    // fullscreen asked for by settings or command line
extern bool isAppActive;        // active and not minimised; false until first activation
extern bool shouldHideMouse;    // the current mode wants the cursor hidden and confined
extern bool quit_requested;     // ends the main loop
extern bool start_in_dev_mode;  // -devmode: gameplay starts in the developer mode
extern String start_game_mode;  // -start: gameplay mode to start in; empty = main menu
extern int start_game_slot;     // -slot: save slot; -1 = none
extern float time_dt;  // update: the step length; frame: time since the last step
extern float time_ik;  // update: 1; frame: time_dt as a fraction of a step

// Main-loop timing (ticks of platform/clock.h).
extern int64_t step_ticks;        // one simulation step
extern int max_steps_per_frame;   // steps in a row before a frame is forced
extern int64_t sim_time;          // the instant the simulation has been advanced to
extern int fps;                   // frames presented during the last whole second
// Histories of the last 100 updates and frames, read by the timing overlay:
// durations in microseconds, GPU load in percent or -1 when unavailable.
extern int update_history[100], frame_history[100], gpu_load_history[100];
extern int update_history_index, frame_history_index;
extern int frames_presented;      // since the loop began

// Sets step_ticks to one second / steps_per_second (at least 1 tick;
// steps_per_second <= 0 counts as 1) and max_steps_per_frame to max(0, max_steps).
void set_update_rate(int steps_per_second, int max_steps);
// Restarts the update-duration measurement: long work inside an update
// (loading or generating a world) calls it so the statistic shows what follows.
void reset_update_time();
// Runs the main loop until quit_requested.
void run_main_loop();
// One simulation step: the game mode's update and the per-step services.
void update_app(float dt);
// Advances the world by whole 0.05 s rounds without rendering, showing the
// splash "Simulating the world"; returns the rounds run. seconds <= 0 does nothing.
int simulate_world(float seconds);

// Takes every pending SDL event: quit sets quit_requested; the rest go to the
// window procedure. Then refreshes the mouse-over state and the cursor.
void dispatch_window_messages();
// The window procedure: window events here, input events to app/input.h.
void main_window_proc(const SDL_Event& e);
// Switches between fullscreen and windowed, restoring the windowed rectangle.
void set_fullscreen(bool fs);

// 0 normal, 1 above normal, 2 or more high; stored and applied now and on
// every activation.
extern int process_priority;
void set_process_priority(int priority);
int get_process_priority();

// Process entry steps: opens the window, input and the render device.
bool open_main_window();
// Initialises the game systems in order (after the window and device).
void init_game_systems();
// Closes everything in reverse order, each stage logged; safe at any point of
// start-up and safe to call twice (the second call does nothing).
void close_all_systems();
// Shuts down and ends the process with the exit code.
[[noreturn]] void quit_game(int code);
// The whole process: start-up, the loop, shutdown; returns the exit code.
int app_main(int argc, char** argv);
