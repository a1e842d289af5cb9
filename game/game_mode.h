// Application game modes: exactly one is current; the main loop calls its
// update once per simulation step and the frame sequence its two renders.
// Seven modes exist, each a single instance: the main menu, the universe
// map, play, the developer's free flight, the in-game menu, a self-running
// showcase and a one-second warp effect. Most menus and in-game screens are
// the game-object module's; the modes call them by name.
#pragma once
#include "lib/strings.h"
#include "squirrel/squirrel.h"

struct GameMode {
  virtual void onEnter(GameMode* prev) = 0;
  virtual void onLeave(GameMode* next) = 0;
  virtual void update(float dt) = 0;
  virtual void render(float t) = 0;
  virtual void renderUi(float t) = 0;
  virtual void unused() {}  // kept for the layout of the interface; never called
  virtual ~GameMode() = default;
};

extern GameMode* cur_game_mode;  // null before the first switch

struct MainMenuMode : GameMode {
  void onEnter(GameMode* prev) override;
  void onLeave(GameMode* next) override;
  void update(float dt) override;
  void render(float t) override;
  void renderUi(float t) override;
};

struct UniverseMode : GameMode {
  void onEnter(GameMode* prev) override;
  void onLeave(GameMode* next) override;
  void update(float dt) override;
  void render(float t) override;
  void renderUi(float t) override;
};

struct PlayGameMode : GameMode {
  void onEnter(GameMode* prev) override;
  void onLeave(GameMode* next) override {}
  void update(float dt) override;
  void render(float t) override;
  void renderUi(float t) override;
};

struct DevGameMode : GameMode {
  void onEnter(GameMode* prev) override;
  void onLeave(GameMode* next) override {}
  void update(float dt) override;
  void render(float t) override;
  void renderUi(float t) override;
};

struct GameMenuMode : GameMode {
  GameMode* return_mode = nullptr;  // current when the menu opened
  void onEnter(GameMode* prev) override;
  void onLeave(GameMode* next) override;
  void update(float dt) override;
  void render(float t) override;
  void renderUi(float t) override;
};

struct ShowoffGameMode : GameMode {
  void onEnter(GameMode* prev) override;
  void onLeave(GameMode* next) override {}
  void update(float dt) override;
  void render(float t) override;
  void renderUi(float t) override {}
};

struct WarpMode : GameMode {
  float time_left = 0;        // seconds until the world is left
  float effect_time = 0;      // seconds of warp drawn so far
  float last_frame_time = 0;  // t of the last frame that advanced the effect
  bool first_frame = false;   // the next frame grabs the scene instead of warping it
  void onEnter(GameMode* prev) override;
  void onLeave(GameMode* next) override {}
  void update(float dt) override;
  void render(float t) override;
  void renderUi(float t) override {}
};

extern GameMode* main_menu_mode;
extern GameMode* universe_mode;
extern GameMode* play_mode;
extern GameMode* dev_mode;
extern GameMode* game_menu_mode;
extern GameMode* showoff_mode;
extern GameMode* warp_mode;

// Flags shared with the game-object module.
extern bool should_close_game_menu;  // set by the module when the player leaves a menu screen
extern bool need_game_restart;       // the module's own; the host does not read it
extern String game_mode_id;          // id of the running gameplay mode
extern bool game_mode_has_saves;     // the gameplay mode keeps saved games
extern bool game_mode_has_universe;  // it has a universe of several worlds

// Leaves the current mode (its onLeave with m) and enters m (its onEnter with
// the previous mode); nothing when m is already current.
void set_game_mode(GameMode* m);
// Closes the module's menu and enters the main menu over the world "main_menu".
void go_to_main_menu();
// One step of the living world: terrain refresh, land, water and lava,
// effects, then the module's objects.
void step_world(float dt);
// The keys every mode with an update shares: screenshot, Escape, developer keys.
void handle_common_keys();
// The gameplay modes under gameModes/ in the application folder: an array of
// their info.nut tables game_mode_info, each given "id" = its folder name,
// sorted by "sortOrder" (0 where absent). Folders without such a table are
// left out; script errors are logged. The array is the scratch VM's
// (scratch_vm) root slot "modes" and stays valid until the next scan.
HSQOBJECT scan_gameplay_modes();

// Start-up: with a gameplay mode named on the command line, the module's new
// game and the universe mode; otherwise the main menu. Then the camera
// moves to the local player when the module made one.
void enter_first_game_mode();
// Leaves the current world (persist/universe.cpp). With a universe: saves,
// lets the world run on without the player for world_sim_after_leave_time,
// saves again and returns to the universe view; without one: a new world.
void leave_world();
