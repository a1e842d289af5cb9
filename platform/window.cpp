#include "platform/window.h"
#include <cstdlib>
#include <cstring>
#include "lib/check.h"

SDL_Window* main_window = nullptr;

bool init_video() {
  if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
  if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    debug("SDL video init failed: %s", SDL_GetError());
    return false;
  }
  return true;
}

WindowRect get_work_area() {
  SDL_Rect r;
  if (SDL_GetDisplayUsableBounds(0, &r) == 0 && r.w > 0 && r.h > 0) return {r.x, r.y, r.w, r.h};
  if (SDL_GetDisplayBounds(0, &r) == 0 && r.w > 0 && r.h > 0) return {r.x, r.y, r.w, r.h};
  return {0, 0, 1280, 720};
}

WindowRect centered_client_rect(int wd, int ht) {
  WindowRect a = get_work_area();
  return {a.x + (a.w - wd) / 2, a.y + (a.h - ht) / 2, wd, ht};
}

SDL_Window* create_main_window(const char* title, bool fullscreen, WindowRect client, bool maximize) {
  // Context attributes must be in place before the window picks its visual.
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 5);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
  Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_ALLOW_HIGHDPI;
  int x = client.x, y = client.y, w = client.w, h = client.h;
  if (fullscreen) {
    flags |= SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS;
    x = y = SDL_WINDOWPOS_UNDEFINED;
  } else {
    flags |= SDL_WINDOW_RESIZABLE;
    if (maximize) flags |= SDL_WINDOW_MAXIMIZED;
  }
  if (w <= 0) w = 1280;
  if (h <= 0) h = 720;
  main_window = SDL_CreateWindow(title, x, y, w, h, flags);
  if (!main_window) debug("can't create the window: %s", SDL_GetError());
  return main_window;
}

void destroy_main_window() {
  if (!main_window) return;
  SDL_DestroyWindow(main_window);
  main_window = nullptr;
}

void get_client_size(int& wd, int& ht) {
  wd = ht = 0;
  if (main_window) SDL_GetWindowSize(main_window, &wd, &ht);
}

bool is_window_minimized() {
  return main_window && (SDL_GetWindowFlags(main_window) & SDL_WINDOW_MINIMIZED);
}

void confine_cursor(bool confine) {
  if (main_window) SDL_SetWindowGrab(main_window, confine ? SDL_TRUE : SDL_FALSE);
}

void show_cursor(bool show) {
  if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
}

bool cursor_in_client_area() { return main_window && SDL_GetMouseFocus() == main_window; }

void set_window_pos(int x, int y, int w, int h) {
  if (!main_window) return;
  SDL_SetWindowPosition(main_window, x, y);
  SDL_SetWindowSize(main_window, w, h);
}

bool display_available() {
  const char* driver = getenv("SDL_VIDEODRIVER");
  if (driver && (!strcmp(driver, "offscreen") || !strcmp(driver, "dummy"))) return false;
  const char* x11 = getenv("DISPLAY");
  const char* wayland = getenv("WAYLAND_DISPLAY");
  return (x11 && *x11) || (wayland && *wayland);
}

void show_error_box(const char* caption, const char* text) {
  if (!display_available()) return;
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, main_window);
}
