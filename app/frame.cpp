// TEMPORARY render device: an SDL GL context that clears the window each
// frame and calls the game mode's two renders in between. Replaced by the
// render device (init_d3d, render_d3d_frame, ...) when it lands; the
// operations of app/frame.h then forward to it.
#include "app/frame.h"
#include <epoxy/gl.h>
#include "app/app.h"
#include "app/config.h"
#include "game/game_mode.h"
#include "lib/check.h"

static SDL_Window* frame_window = nullptr;
static SDL_GLContext frame_context = nullptr;
static int device_wd = 0, device_ht = 0;

static SDL_GLContext make_context(SDL_Window* window, int major, int minor) {
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, major);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, minor);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  return SDL_GL_CreateContext(window);
}

bool app_open_device(SDL_Window* window, int wd, int ht) {
  if (!window) return false;
  SDL_GLContext c = make_context(window, 4, 5);
  if (!c) c = make_context(window, 3, 3);
  if (!c) {
    debug("can't create a GL context: %s", SDL_GetError());
    return false;
  }
  frame_window = window;
  frame_context = c;
  device_wd = wd;
  device_ht = ht;
  if (wd <= 0 || ht <= 0) SDL_GL_GetDrawableSize(window, &device_wd, &device_ht);
  SDL_GL_SetSwapInterval(app_use_vsync ? 1 : 0);
  debug("GL %s on %s", (const char*)glGetString(GL_VERSION), (const char*)glGetString(GL_RENDERER));
  return true;
}

void app_close_device() {
  if (frame_context) SDL_GL_DeleteContext(frame_context);
  frame_context = nullptr;
  frame_window = nullptr;
  device_wd = device_ht = 0;
}

void app_resize_device(int wd, int ht, bool fullscreen, bool reset) {
  if (wd > 0 && ht > 0) {
    device_wd = wd;
    device_ht = ht;
  } else if (frame_window) {
    SDL_GL_GetDrawableSize(frame_window, &device_wd, &device_ht);
  }
  isFullscreen = fullscreen;
}

bool app_device_usable() { return frame_context != nullptr; }

bool app_render_frame(float dt) {
  if (!frame_context) return false;
  glViewport(0, 0, device_wd, device_ht);
  glClearColor(0.10f, 0.12f, 0.16f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (cur_game_mode) {
    cur_game_mode->render(dt);
    cur_game_mode->renderUi(dt);
  }
  return true;
}

void app_present_frame() {
  if (frame_context) SDL_GL_SwapWindow(frame_window);
}

int app_device_wd() { return device_wd; }
int app_device_ht() { return device_ht; }
unsigned app_free_texmem() { return 0; }
