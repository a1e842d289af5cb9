// Saved worlds and script data: writing and reading a world file of the
// story (its world, 600 objects and the script globals), and the object
// graph writer over a table of mixed script data.
#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include "app/log.h"
#include "bench/bench.h"
#include "objects/gameobj_host.h"
#include "objects/gameobj_ops.h"
#include "persist/savedGame.h"
#include "platform/paths.h"
#include "script/scriptData.h"
#include "script/sqVMReload.h"
#include "world/heightmap.h"
#include "world/worldGen.h"

// Log lines are not benchmark lines: standard output goes to /dev/null
// while the game's code runs.
struct QuietStdout {
  int saved;
  QuietStdout() {
    fflush(stdout);
    saved = dup(1);
    int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    close(null_fd);
  }
  ~QuietStdout() {
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
  }
};

static const char* const GRAPH_SCRIPT = R"(
class Item {
  </ persistent = true /> name = "";
  </ persistent = true /> count = 0;
  </ persistent = true /> tags = null;
}
bench_data <- { items = [], index = {} };
for (local i = 0; i < 4000; i++) {
  local it = Item();
  it.name = "item number " + i;
  it.count = i * 7;
  it.tags = [i, i * 0.5, i % 3 == 0, "tag"];
  bench_data.items.append(it);
  bench_data.index["k" + i] <- { item = it, weight = i * 0.25, seen = false };
}
)";

int main() {
  char tmpl[] = "/tmp/qvbench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  std::string dir = tmpl;
  double save_ms, load_ms, mb_per_s;
  {
    QuietStdout quiet;
    snprintf(app_path, sizeof(app_path), "%s/", QV_GAME_DIR);
    HeightmapData::init_grids();
    create_scratch_vm();
    load_gameobj_module(QV_GAME_DIR "/" GAMEOBJ_MODULE_FILE);
    init_gameobj();
    init_world_script("story");
    generate_universe();
    generate_world("game");
    // Objects of the world: trees, stones, spells lying about.
    const char* kinds[] = {"TreeObject", "Stone1StaticObject", "FireballSpell", "ManaBall", "LandMonster"};
    for (int i = 0; i < 600; i++) new_gameobj_by_id(gameobj_id_by_name(kinds[i % 5]));

    std::string path = dir + "/w000";
    bool ok = true;
    save_ms = bench_seconds_per_call([&] { ok = save_world(path.c_str()) && ok; }, 1.0) * 1e3;
    load_ms = bench_seconds_per_call([&] { ok = load_world(path.c_str()) && ok; }, 1.0) * 1e3;
    if (!ok) fatal("bench_persist: %s", get_error_message());

    HSQUIRRELVM vm = get_world_script_vm();
    sqbind::run_buffer(vm, GRAPH_SCRIPT, (int)strlen(GRAPH_SCRIPT), "bench.nut");
    sqbind::SqObject data = sqbind::getGlobal(vm, "bench_data");
    MemoryOutputStream out;
    double per = bench_seconds_per_call([&] {
      out.seekTo(0);
      clear_script_data_objects();
      save_script_data(data, out);
      clear_script_data_objects();
    }, 1.0);
    mb_per_s = (double)out.bytes.count() / per / 1e6;

    close_world_script();
    remove_all_gameobj();
    unload_gameobj_module();
  }
  bench_print("save_world_ms", save_ms, "ms");
  bench_print("load_world_ms", load_ms, "ms");
  bench_print("save_script_data_mb_per_s", mb_per_s, "MB/s");
  std::string cmd = "rm -rf '" + dir + "'";
  return system(cmd.c_str()) == 0 ? 0 : 1;
}
