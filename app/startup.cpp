// Process entry, game initialisation and shutdown.
#include <clocale>
#include <cstdlib>
#include <ctime>
#include "app/app.h"
#include "app/config.h"
#include "game/frame_sequence.h"
#include "app/input.h"
#include "app/log.h"
#include "game/game_mode.h"
#include "objects/gameobj_host.h"
#include "objects/gameobj_ops.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/window.h"
#include "render/d3d_render.h"
#include "render/font.h"
#include "render/renderBatch.h"
#include "render/textures.h"
#include "script/sqVMReload.h"
#include "world/heightmap.h"
#include "world/noise.h"
#include "world/worldGen.h"

int app_screen_wd = 0, app_screen_ht = 0;
bool want_fullscreen = true;
bool start_in_dev_mode = false;
String start_game_mode;
int start_game_slot = -1;

bool open_main_window() {
  if (!init_video()) fatal("Can't start the video system: %s", SDL_GetError());
  bool maximize = !isFullscreen && app_screen_wd <= 0;
  WindowRect client = centered_client_rect(app_screen_wd, app_screen_ht);
  if (!create_main_window(APP_WINDOW_TITLE, isFullscreen, client, maximize))
    fatal("Can't create the window: %s", SDL_GetError());
  int dev_wd = app_screen_wd, dev_ht = app_screen_ht;
  if (!isFullscreen) {
    int cw, ch;
    get_client_size(cw, ch);
    if (dev_wd <= 0) dev_wd = cw;
    if (dev_ht <= 0) dev_ht = ch;
  }
  // The application-folder change watch is not kept: every reload finds its
  // changes by file times, and the watch's notifications were never used.
  init_input(main_window);
  // A missing device shows up later as the fatal errors of what needs it.
  init_d3d(main_window, dev_wd, dev_ht, isFullscreen, app_use_vsync);
  d3d_frame_callback = draw_frame;
  d3d_pump_messages = dispatch_window_messages;
  if (isFullscreen) confine_cursor(true);
  return true;
}

void init_game_systems() {
  HeightmapData::init_grids();
  set_update_rate(20, 5);
  create_scratch_vm();
  init_controls();
  // Filled by sound: start sound and load "sound/sound.nut"; listener
  // factors 1, 1, 1; "sound_volume" and "music_volume" (default 10000 each)
  // into the global sample and stream volumes.
  // Filled by post effects: "taa_blur" into taa_radius, "shadow_taa" into
  // use_shadows_taa.
  debug("Graphics quality: %s", gfx_quality ? "high" : "low");
  // Filled by the renderer: the scene image texture (fatal "can't create
  // scene image texture"); in high quality the scene texture (fatal "can't
  // create scene texture"), two more scene image textures, the shaders
  // "dr_final.sh", "dr_calc_light.sh", "dr_shadow_blur.sh" and
  // "dr_shadow_map.sh", the shadow map quality from shadow_resolution and the
  // shadow resources; in low quality use_postfx = false.
  // Filled by the renderer: the sky, the terrain renderer, the post-effect
  // textures and shaders, the warp shader "warpEffect.sh" and debug drawing.
  debug("game_rnd_seed=%llu;", (unsigned long long)game_rnd_seed);
  if (main_window) SDL_WarpMouseInWindow(main_window, d3d_wd / 2, d3d_ht / 2);
  init_gameobj_module();
  init_inst_render();
  // Filled by effects: init_common_fx.
  init_new_gui();
  init_spells_ui();
  // Filled by the GUI runtime: the standard GUI image state (no texture, no shader).
  init_gameobj();
  // A gameplay mode named on the command line starts its world script, which
  // sets the mode's flags, before the first mode is entered. A broken script
  // is shown on screen; the game goes on without it.
  if (!start_game_mode.empty()) {
    try {
      init_world_script(start_game_mode.c_str());
    } catch (const sqbind::SquirrelError& e) {
      TempString<4096> msg;
      msg.printf("Error in world gen script:\n%s", e.what());
      set_error_message(msg);
    }
  }
  enter_first_game_mode();
}

void close_all_systems() {
  static bool closing = false;
  if (closing) return;
  closing = true;
  debug("closing...");
  close_gameobj_objects();
  close_world_script();
  close_scratch_vm();
  close_gameobj_module();
  // Filled as each system arrives; each step does nothing when its system
  // never started: the shadow resources, close_debug_vis, the
  // post-effect shaders and textures, the terrain renderer, the sky, the four
  // "dr_" shaders and four scene textures, the sound script and sound.
  debug("closed scene");
  // A change made in the last second before quitting would otherwise be lost:
  // the loop writes the settings only once per second.
  flush_app_config();
  close_font();
  common_vb_writer.close();
  // (The GPU load probe has nothing to release here.)
  debug("closed misc stuff");
  // Filled by meshes: free all meshes.
  debug("freed all meshes");
  free_all_textures();
  debug("freed all textures");
  close_d3d();
  debug("closed d3d");
  clear_input_step_state();
  destroy_main_window();
  if (SDL_WasInit(0)) SDL_Quit();
  debug("closed all systems");
}

void quit_game(int code) {
  close_all_systems();
  exit(code);
}

int app_main(int argc, char** argv) {
  set_except_report_handler();
  set_fatal_shutdown(close_all_systems);
  try {
    setlocale(LC_ALL, "C");
    char stamp[64];
    time_t t = time(nullptr);
    strftime(stamp, sizeof(stamp), "%x %X", localtime(&t));
    debug("Log started %s in " APP_VERSION_TEXT, stamp);
    register_exe_symbols();

    init_app_path();
    debug("app path: '%s'", app_path);
    game_rnd_seed = (uint64_t)get_ref_time();  // the run's random seed
    set_update_rate(20, 5);
    int64_t start_mark = get_ref_time();

    read_app_config(argc, argv);
    isFullscreen = want_fullscreen;
    set_process_priority(process_priority);
    open_main_window();

    common_vb_writer.init(65536, 4);
    // The GPU load probe has no library to load here.
    init_font();
    show_splash("Loading...", -1);
    init_game_systems();
    debug("total start-up time: %d ms", get_time_msec(get_ref_time() - start_mark));
    debug("free video memory: %u MB", get_free_texmem() >> 20);

    run_main_loop();
    if (!shot_path.empty() && !save_screenshot_png(shot_path.c_str())) debug("-shot: can't save '%s'", shot_path.c_str());
    close_all_systems();
  } catch (...) {
    fatal("Oops! The game crashed. See log file for more info.");
  }
  return 0;
}
