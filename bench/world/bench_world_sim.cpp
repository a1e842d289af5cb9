// The living world on a generated map (hills, terraces, a fault, a crater,
// lakes and a lava flow): fluid steps, land morphing, erosion and each
// generator.
#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>
#include "bench/bench.h"
#include "tests/world/sample_world.h"
#include "world/erosion.h"

using namespace HeightmapData;

// Thread CPU seconds: on a shared machine they show the step's own cost,
// which wall time mixes with other processes' load.
static double cpu_now_sec() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

// Runs body once on a fresh copy of the saved world and returns its ms.
template <class F>
static double once_ms(const std::vector<float>& land, F&& body) {
  memcpy(hmap, land.data(), HMAP_CELLS * sizeof(float));
  double t0 = bench_now_sec();
  body();
  return (bench_now_sec() - t0) * 1e3;
}

int main() {
  make_sample_world(7);
  for (int i = 0; i < 20; i++) simWater(0.05f);  // let the flows start
  double per = bench_seconds_per_call([] { simWater(0.05f); }, 1.0);
  bench_print("simwater_step_ms", per * 1e3, "ms");
  double best_cpu = 1e30;
  for (int round = 0; round < 3; round++) {
    double c0 = cpu_now_sec();
    for (int i = 0; i < 100; i++) simWater(0.05f);
    best_cpu = std::min(best_cpu, (cpu_now_sec() - c0) / 100);
  }
  bench_print("simwater_step_cpu_ms", best_cpu * 1e3, "ms");

  // Land morphing: every cell far from its target (it never arrives within
  // the run), then every cell at its target.
  std::vector<float> land(hmap, hmap + HMAP_CELLS);
  for (int i = 0; i < HMAP_CELLS; i++) target_hmap[i] = hmap[i] + 1000.0f;
  per = bench_seconds_per_call([] { updateHmap(0.05f); });
  bench_print("updatehmap_step_ms_all_moving", per * 1e3, "ms");
  memcpy(target_hmap, hmap, HMAP_CELLS * sizeof(float));
  per = bench_seconds_per_call([] { updateHmap(0.05f); });
  bench_print("updatehmap_step_ms_none_moving", per * 1e3, "ms");
  std::vector<float> curh(HMAP_CELLS);
  per = bench_seconds_per_call([&] { morphHmap(0.03f, curh.data()); });
  bench_print("morphhmap_ms", per * 1e3, "ms");

  // Erosion with the developer key's parameters.
  memcpy(hmap, land.data(), HMAP_CELLS * sizeof(float));
  ErosionParams params;
  params.Kq = 0.1f;
  params.Kd = 0.9f;
  params.Kr = 0.9f;
  // The erosion's log lines are not benchmark lines: standard output goes to
  // /dev/null meanwhile.
  fflush(stdout);
  int saved_fd = dup(1), null_fd = open("/dev/null", O_WRONLY);
  dup2(null_fd, 1);
  double c0 = cpu_now_sec();
  double ms = once_ms(land, [&] { genDropletErosion(92160, params); });
  double cpu_ms = (cpu_now_sec() - c0) * 1e3;
  fflush(stdout);
  dup2(saved_fd, 1);
  close(saved_fd);
  close(null_fd);
  bench_print("erosion_92160_ms", ms, "ms");
  bench_print("erosion_92160_cpu_ms", cpu_ms, "ms");
  bench_print("erosion_droplets_per_s", 92160 / (ms * 1e-3), "droplets/s");

  // Generators, each once on the generated land.
  ColorRamp ramp;
  ramp.linear(v_make(0.3f, 0.25f, 0.2f, 1), v_make(0.7f, 0.65f, 0.5f, 1));
  struct {
    const char* name;
    void (*run)(const ColorRamp&);
  } gens[] = {
      {"gen_makeFastNoise_ms", [](const ColorRamp&) { makeFastNoise(target_hmap, 1.0f, 0.5f); }},
      {"gen_addFastNoise_ms", [](const ColorRamp& r) { addFastNoise(0, 4, &r, GT_SOIL, 255, 0.55f); }},
      {"gen_addSimplexNoise_ms", [](const ColorRamp&) { addSimplexNoise(0, 24, 4, 4, 0.5f); }},
      {"gen_addVoronoiHills_ms", [](const ColorRamp&) { addVoronoiHills(8, 0, 6, 0.8f); }},
      {"gen_genVoronoiFaults_ms", [](const ColorRamp&) { genVoronoiFaults(4, 0, 5, 0.4f, 2, 3, 3.0f); }},
      {"gen_genFault_ms",
       [](const ColorRamp& r) { genFault(Point2(128, 100), Point2(0.6f, 0.8f), 10, 0.5f, 12, &r, GT_ROCK, 255, hmap); }},
      {"gen_genCrater_ms", [](const ColorRamp&) { genCrater(Point2(60, 190), 14, 0.8f, hmap); }},
      {"gen_placeHouse_ms", [](const ColorRamp&) { placeHouse(200, 40, -1, hmap, false); }},
      {"gen_circle_brush_ms", [](const ColorRamp&) { circle_brush(100, 100, 20, 3, 1.5f, hmap); }},
      {"gen_flatten_circle_ms", [](const ColorRamp&) { flatten_circle(100, 100, 20, 3, 0.5f, 1.5f, hmap); }},
      {"gen_get_average_circle_height_ms",
       [](const ColorRamp&) { get_average_circle_height(100, 100, 20, hmap); }},
  };
  for (auto& g : gens) {
    double best = 1e30;
    for (int round = 0; round < 3; round++) best = std::min(best, once_ms(land, [&] { g.run(ramp); }));
    bench_print(g.name, best, "ms");
  }
  return 0;
}
