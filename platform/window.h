// The one top-level window (SDL2), the cursor, and the message box.
// The window is created GL-capable; the render device makes its context on it.
#pragma once
#include <SDL2/SDL.h>

extern SDL_Window* main_window;  // null until create_main_window

struct WindowRect {
  int x, y, w, h;
};

// Starts SDL's video and event subsystems once; false (with SDL's error
// logged) when no video driver can be opened.
bool init_video();

// The desktop work area of the primary screen (the whole screen if the work
// area cannot be read; 1280 x 720 at 0, 0 if neither can).
WindowRect get_work_area();
// A client area of wd x ht centred in the work area (integer halves).
WindowRect centered_client_rect(int wd, int ht);

// Creates the main window with the given title. Fullscreen: borderless over
// the whole screen. Windowed: the client rectangle given; when maximize is set
// the window starts maximised. The window allows a GL 4.5 core context (3.3 at
// least) to be made for it. Returns null (error logged) on failure.
SDL_Window* create_main_window(const char* title, bool fullscreen, WindowRect client, bool maximize);
void destroy_main_window();

// Client size of the main window in pixels (0 x 0 without a window).
void get_client_size(int& wd, int& ht);
bool is_window_minimized();

// Confines the cursor to the window rectangle, or releases it.
void confine_cursor(bool confine);
// Shows the standard arrow cursor or hides it.
void show_cursor(bool show);
// Whether the cursor is inside the client area.
bool cursor_in_client_area();

// Moves and sizes the main window (client rectangle).
void set_window_pos(int x, int y, int w, int h);

// Whether a message box can be shown: a display exists and the video driver
// is not a headless one.
bool display_available();
// A modal error box; returns when the user closes it. Does nothing headless.
void show_error_box(const char* caption, const char* text);
