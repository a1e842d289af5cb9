// Render batch and bitmap text throughput on the real device (llvmpipe when
// headless): each frame is built, drawn and waited for, so the figures
// include the GPU's part.
//   batch_quads_per_s  10,000 GUI quads through RenderBatch per frame
//   text_glyphs_per_s  100 lines of 100 characters through draw_text
#include <SDL2/SDL.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include "bench/bench.h"
#include "platform/paths.h"
#include "render/d3d_render.h"
#include "render/font.h"
#include "render/renderBatch.h"

static bool copy_file(const std::string& from, const std::string& to) {
  FILE* in = fopen(from.c_str(), "rb");
  FILE* out = in ? fopen(to.c_str(), "wb") : nullptr;
  char buf[65536];
  size_t n;
  bool ok = in && out;
  while (ok && (n = fread(buf, 1, sizeof(buf), in)) > 0) ok = fwrite(buf, 1, n, out) == n;
  if (in) fclose(in);
  if (out && fclose(out) != 0) ok = false;
  return ok;
}

int main() {
  // A private application folder with the font and its shader.
  char dir[] = "/tmp/qvbench-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  snprintf(app_path, sizeof(app_path), "%s/", dir);
  std::string shaders = std::string(dir) + "/shaders";
  make_folders(shaders.c_str());
  if (!copy_file(QV_BENCH_GAME_DIR "/font.tga", std::string(dir) + "/font.tga") ||
      !copy_file(QV_BENCH_SOURCE_DIR "/data/shaders/font.sh", shaders + "/font.sh")) {
    fprintf(stderr, "bench_render: font.tga or font.sh missing (build the font_tga target)\n");
    return 1;
  }
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  if (SDL_Init(SDL_INIT_VIDEO) != 0) return 1;
  SDL_Window* win = SDL_CreateWindow("bench", 0, 0, 1280, 720, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  if (!win || !init_d3d(win, 1280, 720, false, false)) return 1;
  common_vb_writer.init(65536, 4);
  init_font();
  set_back_buffer_target();

  const int quads = 10000;
  double frame = bench_seconds_per_call([&] {
    gui_batch.clear();
    for (int i = 0; i < quads; i++) {
      int x = (i % 200) * 6, y = (i / 200) * 12;
      batch_rect(gui_batch, x, y, x + 4, y + 4, D3dColor(0xFF000000u | (uint32_t)i));
    }
    gui_batch.render();
    flush_gpu();
  });
  bench_print("batch_quads_per_s", quads / frame, "quads/s");

  std::string line(100, 'x');
  for (int i = 0; i < 100; i++) line[i] = (char)('!' + i % 90);
  frame = bench_seconds_per_call([&] {
    start_draw_text();
    for (int i = 0; i < 100; i++) draw_text(line.c_str(), 100, 4, 700 - i * 7, -1, -1, D3dColor(0xFFFFFFFF));
    end_draw_text();
    flush_gpu();
  });
  bench_print("text_glyphs_per_s", 100 * 100 / frame, "glyphs/s");

  gui_batch.clear();
  close_font();
  common_vb_writer.close();
  close_d3d();
  SDL_DestroyWindow(win);
  SDL_Quit();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
