// The window side of the event handling: quit, activation, resizing,
// Alt+Enter, the cursor; keyboard and mouse events go on to input.
#include "app/app.h"
#include "render/d3d_render.h"
#include "app/input.h"
#include "platform/process.h"
#include "platform/window.h"

bool isFullscreen = false;
bool isAppActive = false;
bool shouldHideMouse = false;
bool quit_requested = false;
int process_priority = 0;

static int priority_level(int priority) {
  return priority <= 0 ? PRIORITY_NORMAL : priority == 1 ? PRIORITY_ABOVE_NORMAL : PRIORITY_HIGH;
}

void set_process_priority(int priority) {
  process_priority = priority;
  apply_priority_level(priority_level(priority));
}

int get_process_priority() { return process_priority; }

// Focus and minimised state as the window events report them.
static bool window_has_focus = false;
static bool window_minimized = false;

static void update_activation() {
  bool active = window_has_focus && !window_minimized;
  if (active == isAppActive) return;
  isAppActive = active;
  // While inactive the game keeps stepping and rendering, at idle priority.
  apply_priority_level(active ? priority_level(process_priority) : PRIORITY_IDLE);
  if (isFullscreen) confine_cursor(active);
}

// What the cursor should be: confined while active and hidden or fullscreen;
// hidden while active, over the window (or fullscreen) and the mode asks for it.
static int cursor_confined = -1, cursor_hidden = -1;

static void update_cursor() {
  if (!main_window) return;
  int confine = isAppActive && (shouldHideMouse || isFullscreen);
  int hide = isAppActive && (cursor_in_client_area() || isFullscreen) && shouldHideMouse;
  if (confine != cursor_confined) confine_cursor(confine);
  if (hide != cursor_hidden) show_cursor(!hide);
  cursor_confined = confine;
  cursor_hidden = hide;
}

void main_window_proc(const SDL_Event& e) {
  switch (e.type) {
    case SDL_WINDOWEVENT:
      if (!main_window || e.window.windowID != SDL_GetWindowID(main_window)) return;
      switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE:  // the window goes: no activation state is left to follow
          isAppActive = false;
          window_has_focus = false;
          quit_requested = true;
          return;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
          if (!window_minimized && !isFullscreen) resize_d3d(e.window.data1, e.window.data2, false, false);
          break;
        case SDL_WINDOWEVENT_FOCUS_GAINED: window_has_focus = true; break;
        case SDL_WINDOWEVENT_FOCUS_LOST: window_has_focus = false; break;
        case SDL_WINDOWEVENT_MINIMIZED: window_minimized = true; break;
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_MAXIMIZED: window_minimized = false; break;
      }
      update_activation();
      return;
    case SDL_KEYDOWN:
      if (e.key.keysym.sym == SDLK_RETURN && (e.key.keysym.mod & KMOD_ALT)) {
        if (!e.key.repeat) set_fullscreen(!isFullscreen);
        return;
      }
      input_on_sdl_event(e);
      return;
    case SDL_KEYUP:
    case SDL_TEXTINPUT:
    case SDL_TEXTEDITING:
    case SDL_MOUSEMOTION:
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
    case SDL_MOUSEWHEEL:
      input_on_sdl_event(e);
      return;
  }
}

void dispatch_window_messages() {
  if (!SDL_WasInit(SDL_INIT_EVENTS)) return;
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    if (e.type == SDL_QUIT) {
      quit_requested = true;
      continue;
    }
    main_window_proc(e);
  }
  update_mouse_over();
  update_cursor();
}

// The windowed state remembered when going fullscreen.
static bool have_windowed_state = false;
static WindowRect windowed_rect;
static int windowed_client_wd = 0, windowed_client_ht = 0;

void set_fullscreen(bool fs) {
  if (!main_window) return;
  int wd, ht;
  if (!isFullscreen) {
    get_client_size(windowed_client_wd, windowed_client_ht);
    SDL_GetWindowPosition(main_window, &windowed_rect.x, &windowed_rect.y);
    windowed_rect.w = windowed_client_wd;
    windowed_rect.h = windowed_client_ht;
    have_windowed_state = true;
    wd = ht = 0;
  } else {
    wd = windowed_client_wd, ht = windowed_client_ht;
    if (wd == 0 || ht == 0) wd = app_screen_wd, ht = app_screen_ht;
    if (wd == 0 || ht == 0) wd = d3d_wd / 2, ht = d3d_ht / 2;
  }
  if (fs) wd = app_screen_wd, ht = app_screen_ht;

  // The device switches the window's mode itself (a size of 0 in fullscreen
  // takes the desktop mode); the windowed rectangle is restored afterwards.
  resize_d3d(wd, ht, fs, true);
  isFullscreen = d3d_fullscreen;
  if (isFullscreen) {
    confine_cursor(true);
  } else {
    WindowRect r = have_windowed_state ? windowed_rect : WindowRect{0, 0, d3d_wd, d3d_ht};
    if (app_screen_wd > 0) r = centered_client_rect(app_screen_wd, app_screen_ht);
    set_window_pos(r.x, r.y, r.w, r.h);
    confine_cursor(false);
  }
  cursor_confined = -1;  // the cursor state is decided again at the next dispatch
}
