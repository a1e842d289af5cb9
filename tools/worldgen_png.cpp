// Generates the worlds of a gameplay mode from its scripts and writes each
// as a PNG: the height grid in grey on the left, the ground colours lit by
// a low sun with water and lava on the right, both at twice the grid size.
//
//   worldgen_png <data folder> <mode> <output folder> [seed]
//
// A mode with a universe writes every world of it (<mode>_<index>.png),
// any other mode its one world (<mode>.png).
// The encoder's code is compiled once, by the renderer's screenshots
// (without its stdio functions), so the PNG goes through a memory callback.
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "app/log.h"
#include "game/game_mode.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "script/sqVMReload.h"
#include "world/heightmap.h"
#include "world/noise.h"
#include "world/worldGen.h"

using namespace HeightmapData;

static float clamp01(float v) { return v < 0 ? 0 : v > 1 ? 1 : v; }

// The ground colour of a cell with its cover blended over it by the cover
// colour's alpha.
static void ground_rgb(int i, float rgb[3]) {
  const Surface& s = surface[i];
  float a = info_cover(s.info) != ST_OPEN ? (float)s.top_color.a() / 255.0f : 0.0f;
  float base[3] = {s.color.r() / 255.0f, s.color.g() / 255.0f, s.color.b() / 255.0f};
  float top[3] = {s.top_color.r() / 255.0f, s.top_color.g() / 255.0f, s.top_color.b() / 255.0f};
  for (int k = 0; k < 3; k++) rgb[k] = base[k] + (top[k] - base[k]) * a;
}

static bool write_world_png(const char* path) {
  const int S = 2, W = HMAP_SIZE * S * 2, H = HMAP_SIZE * S;
  std::vector<unsigned char> img((size_t)W * H * 3);
  float mn = hmap[0], mx = hmap[0];
  for (int i = 1; i < HMAP_CELLS; i++) {
    mn = fminf(mn, hmap[i]);
    mx = fmaxf(mx, hmap[i]);
  }
  float range = mx > mn ? mx - mn : 1.0f;
  // Light from the north-west, low over the land.
  float lx = -0.6f, ly = 0.55f, lz = -0.58f;
  for (int z = 0; z < HMAP_SIZE; z++)
    for (int x = 0; x < HMAP_SIZE; x++) {
      int i = hmap_index(x, z);
      float g = (hmap[i] - mn) / range;
      float rgb[3];
      ground_rgb(i, rgb);
      float sx = hmap[hmap_index(x - 1, z)] - hmap[hmap_index(x + 1, z)];
      float sz = hmap[hmap_index(x, z - 1)] - hmap[hmap_index(x, z + 1)];
      float nlen = sqrtf(sx * sx + 4.0f + sz * sz);
      float lit = (sx * lx + 2.0f * ly + sz * lz) / nlen;
      float shade = 0.45f + 0.75f * fmaxf(lit, 0.0f);
      for (float& c : rgb) c *= shade;
      float w = water[i].amount;
      if (w > 0.01f) {  // water: blue, deeper darker
        float t = clamp01(0.55f + w / 5.0f);
        float deep[3] = {0.05f, 0.18f, 0.32f};
        for (int k = 0; k < 3; k++) rgb[k] = rgb[k] + (deep[k] - rgb[k]) * t;
      } else if (w < -0.01f) {  // lava glows
        float t = clamp01(0.6f - w / 3.0f);
        float hot[3] = {1.0f, 0.35f, 0.05f};
        for (int k = 0; k < 3; k++) rgb[k] = rgb[k] + (hot[k] - rgb[k]) * t;
      }
      // The image shows z = 0 at the top, x to the right.
      for (int dy = 0; dy < S; dy++)
        for (int dx = 0; dx < S; dx++) {
          unsigned char* left = &img[(((size_t)(z * S + dy)) * W + x * S + dx) * 3];
          left[0] = left[1] = left[2] = (unsigned char)lrintf(g * 255.0f);
          unsigned char* right = left + (size_t)HMAP_SIZE * S * 3;
          for (int k = 0; k < 3; k++) right[k] = (unsigned char)lrintf(clamp01(rgb[k]) * 255.0f);
        }
    }
  std::vector<unsigned char> png;
  auto append = [](void* ctx, void* data, int size) {
    auto* v = (std::vector<unsigned char>*)ctx;
    v->insert(v->end(), (unsigned char*)data, (unsigned char*)data + size);
  };
  if (!stbi_write_png_to_func(append, &png, W, H, 3, img.data(), W * 3)) return false;
  return write_file_replacing(path, png.data(), png.size());
}

static bool generate_and_write(const char* name, const char* out_path) {
  int64_t t0 = get_ref_time();
  set_error_message(nullptr);
  generate_world(name);
  printf("%s: %d ms%s%s\n", out_path, get_time_msec(get_ref_time() - t0), has_error_message() ? "; " : "",
         get_error_message());
  if (!write_world_png(out_path)) {
    fprintf(stderr, "can't write %s\n", out_path);
    return false;
  }
  return !has_error_message();
}

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s <data folder> <mode> <output folder> [seed]\n", argv[0]);
    return 2;
  }
  snprintf(app_path, sizeof(app_path), "%s/", argv[1]);
  const char* mode = argv[2];
  const char* out = argv[3];
  game_rnd_seed = argc > 4 ? strtoull(argv[4], nullptr, 0) : 12345;
  init_grids();
  create_scratch_vm();
  try {
    init_world_script(mode);
  } catch (const sqbind::SquirrelError& e) {
    fprintf(stderr, "can't start the world script of %s: %s\n", mode, e.what());
    return 1;
  }
  bool ok = true;
  char path[512];
  if (game_mode_has_universe) {
    generate_universe();
    if (has_error_message()) fprintf(stderr, "%s\n", get_error_message());
    int n = 0;
    if (!worlds.isNull()) {
      sq_pushobject(worlds.vm, worlds.obj);
      n = (int)sq_getsize(worlds.vm, -1);
      sq_poptop(worlds.vm);
    }
    for (int i = 0; i < n; i++) {
      sq_pushobject(universe.vm, universe.obj);
      sq_pushstring(universe.vm, "enteredWorld", -1);
      sq_pushinteger(universe.vm, i);
      sq_set(universe.vm, -3);
      sq_poptop(universe.vm);
      snprintf(path, sizeof(path), "%s/%s_%d.png", out, mode, i);
      ok = generate_and_write("game", path) && ok;
    }
  } else {
    snprintf(path, sizeof(path), "%s/%s.png", out, mode);
    ok = generate_and_write(strcmp(mode, "mainMenu") == 0 ? "main_menu" : "game", path);
  }
  close_world_script();
  close_scratch_vm();
  return ok ? 0 : 1;
}
