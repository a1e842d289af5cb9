// Draws one splash frame through the render device and saves it as a PNG:
//   splash_shot <application folder> <out.png> [width height [text [progress [error]]]]
// With an error text the frame is drawn as the frame sequence's text layer
// draws it: the splash picture, then the on-screen error message.
// Runs headless with SDL_VIDEODRIVER=offscreen.
#include <SDL2/SDL.h>
#include <cstdio>
#include <cstdlib>
#include "app/log.h"
#include "platform/paths.h"
#include "render/d3d_render.h"
#include "render/font.h"
#include "render/renderBatch.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: splash_shot <application folder> <out.png> [width height [text [progress [error]]]]\n");
    return 2;
  }
  snprintf(app_path, sizeof(app_path), "%s/", argv[1]);
  int w = argc > 4 ? atoi(argv[3]) : 640, h = argc > 4 ? atoi(argv[4]) : 360;
  if (SDL_Init(SDL_INIT_VIDEO) != 0) return 1;
  SDL_Window* win = SDL_CreateWindow("splash", 0, 0, w, h, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  if (!win || !init_d3d(win, w, h, false, false)) return 1;
  common_vb_writer.init(65536, 4);
  init_font();
  show_splash(argc > 5 ? argv[5] : "Loading...", argc > 6 ? (float)atof(argv[6]) : -1.0f);
  if (argc > 7) {
    set_error_message(argv[7]);
    d3d_frame_callback = [](float) {
      set_back_buffer_target();
      draw_splash();
      start_draw_text();
      draw_error_message();
      draw_visual_log();
      end_draw_text();
    };
    render_d3d_frame(0);
    present_d3d_frame();
  }
  bool ok = save_screenshot_png(argv[2]);
  close_font();
  common_vb_writer.close();
  close_d3d();
  SDL_DestroyWindow(win);
  SDL_Quit();
  return ok ? 0 : 1;
}
