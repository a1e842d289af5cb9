// The main loop's view of the render device: open, close, resize, usable,
// render a frame, present it.
//
// TEMPORARY: until the render device is pointed at here, these run a minimal
// GL clear frame through an SDL GL context of their own (app/frame.cpp), so
// the loop can be exercised end to end. Each operation names the device
// operation that will replace its body.
#pragma once
#include <SDL2/SDL.h>

// init_d3d: creates the device for the window at wd x ht; false on failure.
bool app_open_device(SDL_Window* window, int wd, int ht);
// close_d3d; safe when no device was opened.
void app_close_device();
// resize_d3d: new back-buffer size; sets isFullscreen.
void app_resize_device(int wd, int ht, bool fullscreen, bool reset);
// check_d3d_device: whether frames can be rendered now.
bool app_device_usable();
// render_d3d_frame: renders one frame (the current game mode's scene and 2-D
// layer); false when it declined, and then nothing is to be presented.
bool app_render_frame(float dt);
// present_d3d_frame.
void app_present_frame();
// d3d_wd, d3d_ht: the back-buffer size (0 x 0 without a device).
int app_device_wd();
int app_device_ht();
// get_free_texmem: free texture memory in bytes (0 when unknown).
unsigned app_free_texmem();
