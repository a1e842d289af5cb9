// Noise evaluations, the square-depth query and the world data block.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include "bench/bench.h"
#include "script/streams.h"
#include "world/heightmap.h"
#include "world/noise.h"

using namespace HeightmapData;

static volatile float sink;

int main() {
  set_rnd_seed(1);
  reseed_noise();
  const int N = 4096;
  double per = bench_seconds_per_call([&] {
    float acc = 0;
    for (int i = 0; i < N; i++) acc += noise4(i * 0.37f, i * 0.11f - 3, i * 0.07f, 5 - i * 0.13f);
    sink = acc;
  });
  bench_print("noise4", N / per, "evals/s");
  per = bench_seconds_per_call([&] {
    float acc = 0;
    for (int i = 0; i < N; i++) acc += tiled_noise2(i * 0.37f, i * 0.11f, 64.0f);
    sink = acc;
  });
  bench_print("tiled_noise2", N / per, "evals/s");

  init_grids();
  reset();
  for (int i = 0; i < HMAP_CELLS; i++) {
    hmap[i] = frnd() * 20;
    water[i].amount = srnd();
  }
  per = bench_seconds_per_call([&] {
    float acc = 0;
    for (int i = 0; i < 256; i++)
      acc += v_x(calcSquareDepth(v_make(i * 1.7f, 3, i * 0.9f), 1.5f, true));
    sink = acc;
  });
  bench_print("calcSquareDepth", 256 / per, "calls/s");

  char dir[] = "/tmp/qvbench-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  std::string path = std::string(dir) + "/w000";
  per = bench_seconds_per_call([&] {
    FileOutputStream f(path.c_str());
    saveWorldData(f);
    f.close();
  });
  bench_print("world_data_save_ms", per * 1e3, "ms");
  per = bench_seconds_per_call([&] {
    FileInputStream f(path.c_str());
    loadWorldData(f);
  });
  bench_print("world_data_load_ms", per * 1e3, "ms");
  unlink(path.c_str());
  rmdir(dir);
  return 0;
}
