// Whole world generations from the game's own scripts: generate_world of
// the sandbox (several seeds, so several world types) and of each world of
// the story's universe. Figures are the mean per world, with the slowest
// world and the thread CPU time beside them.
#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include "app/log.h"
#include "bench/bench.h"
#include "platform/paths.h"
#include "script/sqVMReload.h"
#include "world/heightmap.h"
#include "world/noise.h"
#include "world/worldGen.h"

static double cpu_now_sec() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

struct Timing {
  double wall_ms = 0, cpu_ms = 0, max_ms = 0;
  int n = 0;
  void add(double w, double c) {
    wall_ms += w;
    cpu_ms += c;
    max_ms = std::max(max_ms, w);
    n++;
  }
};

// The generations' log lines are not benchmark lines: standard output goes
// to /dev/null while they run.
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

static void timed_world(Timing& t) {
  double w0 = bench_now_sec(), c0 = cpu_now_sec();
  generate_world("game");
  t.add((bench_now_sec() - w0) * 1e3, (cpu_now_sec() - c0) * 1e3);
}

static void print(const char* name, const Timing& t) {
  char n[128];
  bench_print(name, t.wall_ms / t.n, "ms");
  snprintf(n, sizeof(n), "%s_max", name);
  bench_print(n, t.max_ms, "ms");
  snprintf(n, sizeof(n), "%s_cpu", name);
  bench_print(n, t.cpu_ms / t.n, "ms");
}

int main() {
  snprintf(app_path, sizeof(app_path), "%s/", QV_DATA_DIR);
  HeightmapData::init_grids();
  create_scratch_vm();
  Timing sandbox, story;
  bool failed = false;
  {
    QuietStdout quiet;
    init_world_script("sandbox");
    for (uint64_t seed = 1; seed <= 6; seed++) {
      game_rnd_seed = seed;
      timed_world(sandbox);
      failed |= has_error_message();
    }
    init_world_script("story");
    game_rnd_seed = 2024;
    generate_universe();
    int n = 0;
    sq_pushobject(worlds.vm, worlds.obj);
    n = (int)sq_getsize(worlds.vm, -1);
    sq_poptop(worlds.vm);
    for (int i = 0; i < n; i++) {
      sq_pushobject(universe.vm, universe.obj);
      sq_pushstring(universe.vm, "enteredWorld", -1);
      sq_pushinteger(universe.vm, i);
      sq_set(universe.vm, -3);
      sq_poptop(universe.vm);
      timed_world(story);
      failed |= has_error_message();
    }
    close_world_script();
  }
  if (failed) fprintf(stderr, "world generation reported: %s\n", get_error_message());
  print("worldgen_sandbox_ms", sandbox);
  print("worldgen_story_ms", story);
  close_scratch_vm();
  return failed ? 1 : 0;
}
