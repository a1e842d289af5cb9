#include "tests/persist/saved_game_fixture.h"
#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>
#include <cstdlib>
#include "app/app.h"
#include "objects/gameobj_host.h"
#include "objects/gameobj_ops.h"
#include "objects/player.h"

const char* const UNIVERSE_MODE_SCRIPT = R"(
game_mode_info <- { title = "Test", hasUniverse = true };
score <- 0;
events <- [];
function generate_universe() {
  return { worlds = [{ seed = 11 }, { seed = 22 }, { seed = 33 }], enteredWorld = -1 };
}
function generate_world(name) {
  local w = ::universe != null && ::universe.enteredWorld >= 0 ? ::universe.worlds[::universe.enteredWorld] : null;
  set_rnd_seed(w ? w.seed : 5);
  reseed_noise();
  add_simplex_noise(0, 12, 64, 3, 0.5);
  set_sky_name("test sky");
}
function process_event(e) { events.append(e); }
function get_savegame_globals() { return { score = ::score }; }
)";

const char* const FLAT_MODE_SCRIPT = R"(
game_mode_info <- { title = "Flat" };
function generate_world(name) { add_simplex_noise(0, 4, 64, 2, 0.5); }
)";

WorldPicture picture_world() {
  using namespace HeightmapData;
  WorldPicture p;
  // The saved grids (tmpw is not saved: loading makes it equal to water).
  uint64_t h = 14695981039346656037ull;
  h = fnv1a(h, hmap, HMAP_CELLS * sizeof(float));
  h = fnv1a(h, target_hmap, HMAP_CELLS * sizeof(float));
  h = fnv1a(h, water, HMAP_CELLS * sizeof(Water));
  p.grids = fnv1a(h, surface, HMAP_CELLS * sizeof(Surface));
  for (const ObjectListRef& l : object_lists) {
    p.lists.emplace_back();
    for (BaseObject* o : *l.list) p.lists.back().push_back({o->getClassId(), o->ser_id});
  }
  return p;
}

void SavedGameTest::SetUp() {
  WorldScriptTest::SetUp();
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/qvsaves-XXXXXX";
  ASSERT_TRUE(mkdtemp(templ.data()));
  home = templ;
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  write("gameModes/uv/gen/main.nut", UNIVERSE_MODE_SCRIPT);
  write("gameModes/flat/gen/main.nut", FLAT_MODE_SCRIPT);
  load_gameobj_module((std::string(getenv("QV_GAME_DIR")) + "/" GAMEOBJ_MODULE_FILE).c_str());
  init_gameobj();
  cur_game_slot = -1;
  save_fail_at_write = 0;
  should_close_game_menu = false;
  start_in_dev_mode = false;
}

void SavedGameTest::TearDown() {
  set_game_mode(nullptr);
  save_fail_at_write = 0;
  cur_game_slot = -1;
  close_world_script();
  remove_all_gameobj();
  unload_gameobj_module();
  WorldScriptTest::TearDown();
  std::error_code ec;
  std::filesystem::remove_all(home, ec);
}

void SavedGameTest::start_mode(const char* mode) {
  set_game_mode(nullptr);
  init_world_script(mode);
}

void SavedGameTest::new_game(int slot) {
  start_new_game(slot);
  set_game_mode(universe_mode);
}

void SavedGameTest::pick_world(int index) {
  set_entered_world(index);
  should_close_game_menu = true;
  step();
}

bool SavedGameTest::exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string SavedGameTest::read(const std::string& path) {
  std::string s;
  read_file(path, s);
  return s;
}
