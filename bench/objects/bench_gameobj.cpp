// The module's world queries through the bound operations (the land height
// is what ray tracing samples), object creation and removal, and the camera.
#include "bench/bench.h"
#include "game/camera.h"
#include "objects/gameobj_host.h"
#include "objects/gameobj_ops.h"
#include "world/heightmap.h"
#include "world/noise.h"

int main() {
  HeightmapData::init_grids();
  HeightmapData::reset();
  for (int i = 0; i < HMAP_CELLS; i++) HeightmapData::hmap[i] = hmfrnd() * 0.1f;
  load_gameobj_module(QV_GAME_DIR "/" GAMEOBJ_MODULE_FILE);

  const int n = 4096;
  float sink = 0;
  double t = bench_seconds_per_call([&] {
    for (int i = 0; i < n; i++) sink += get_land_height_at(v_make(i * 0.37f, 0, i * 0.11f, 1));
  });
  bench_print("gameobj_land_height_per_s", n / t, "1/s");

  t = bench_seconds_per_call([&] {
    for (int i = 0; i < n; i++) sink += v_y(calc_land_norm(i * 0.37f, i * 0.11f));
  });
  bench_print("gameobj_land_normal_per_s", n / t, "1/s");

  int tree = gameobj_id_by_name("TreeObject");
  t = bench_seconds_per_call([&] {
    for (int i = 0; i < 1000; i++) new_gameobj_by_id(tree);
    remove_all_gameobj();
  });
  bench_print("gameobj_create_remove_per_s", 1000 / t, "1/s");

  camera_yaw = 0.3f;
  camera_roll = 0.1f;
  t = bench_seconds_per_call([&] {
    for (int i = 0; i < n; i++) sink += v_x(camera_matrix(i * 1e-5f).row(3));
  });
  bench_print("camera_matrix_per_s", n / t, "1/s");

  unload_gameobj_module();
  return sink == 12345.0f;  // keeps the sums alive
}
