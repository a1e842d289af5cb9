// The main window: its creation from the settings, the window procedure's
// handling of activation, resizing and closing, and Alt+Enter.
#include <gtest/gtest.h>
#include "app/app.h"
#include "render/d3d_render.h"
#include "platform/window.h"

struct Window : testing::Test {
  void TearDown() override {
    close_d3d();
    destroy_main_window();
    app_screen_wd = app_screen_ht = 0;
    isFullscreen = false;
    quit_requested = false;
    isAppActive = false;
  }
  static void push_window_event(Uint8 what, int a = 0, int b = 0) {
    SDL_Event e = {};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = SDL_GetWindowID(main_window);
    e.window.event = what;
    e.window.data1 = a;
    e.window.data2 = b;
    SDL_PushEvent(&e);
  }
  static void push_alt_enter() {
    SDL_Event e = {};
    e.type = SDL_KEYDOWN;
    e.key.windowID = SDL_GetWindowID(main_window);
    e.key.state = SDL_PRESSED;
    e.key.keysym.sym = SDLK_RETURN;
    e.key.keysym.scancode = SDL_SCANCODE_RETURN;
    e.key.keysym.mod = KMOD_LALT;
    SDL_PushEvent(&e);
  }
};

TEST_F(Window, RequestedSizeIsTheDeviceSize) {
  isFullscreen = false;
  app_screen_wd = 320, app_screen_ht = 200;
  ASSERT_TRUE(open_main_window());
  int w, h;
  get_client_size(w, h);
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 200);
  EXPECT_EQ(d3d_wd, 320);
  EXPECT_EQ(d3d_ht, 200);
  EXPECT_STREQ(SDL_GetWindowTitle(main_window), "Quorvale 0.27 DEMO");
}

TEST_F(Window, UnsetWidthTakesTheClientSizeAsDevice) {
  isFullscreen = false;
  app_screen_wd = 0, app_screen_ht = 0;
  ASSERT_TRUE(open_main_window());  // maximised: headless drivers keep the default size
  int w, h;
  get_client_size(w, h);
  EXPECT_GT(w, 0);
  EXPECT_EQ(d3d_wd, w);
  EXPECT_EQ(d3d_ht, h);
}

TEST_F(Window, ActivationResizeAndClose) {
  isFullscreen = false;
  app_screen_wd = 320, app_screen_ht = 200;
  ASSERT_TRUE(open_main_window());
  dispatch_window_messages();
  EXPECT_FALSE(isAppActive);  // until the first activation
  push_window_event(SDL_WINDOWEVENT_FOCUS_GAINED);
  dispatch_window_messages();
  EXPECT_TRUE(isAppActive);
  push_window_event(SDL_WINDOWEVENT_MINIMIZED);
  push_window_event(SDL_WINDOWEVENT_SIZE_CHANGED, 10, 10);  // ignored while minimised
  dispatch_window_messages();
  EXPECT_FALSE(isAppActive);
  EXPECT_EQ(d3d_wd, 320);
  push_window_event(SDL_WINDOWEVENT_RESTORED);
  push_window_event(SDL_WINDOWEVENT_SIZE_CHANGED, 400, 300);
  dispatch_window_messages();
  EXPECT_TRUE(isAppActive);
  EXPECT_EQ(d3d_wd, 400);
  EXPECT_EQ(d3d_ht, 300);
  EXPECT_FALSE(quit_requested);
  push_window_event(SDL_WINDOWEVENT_CLOSE);
  dispatch_window_messages();
  EXPECT_TRUE(quit_requested);
  EXPECT_FALSE(isAppActive);
}

TEST_F(Window, AltEnterTogglesFullscreenAndRestoresTheWindow) {
  isFullscreen = false;
  app_screen_wd = 0, app_screen_ht = 0;
  ASSERT_TRUE(init_video());
  ASSERT_TRUE(create_main_window("t", false, {30, 40, 300, 200}, false));
  ASSERT_TRUE(init_d3d(main_window, 300, 200, false, false));
  dispatch_window_messages();
  int x0, y0;
  SDL_GetWindowPosition(main_window, &x0, &y0);

  push_alt_enter();
  dispatch_window_messages();
  EXPECT_TRUE(isFullscreen);
  EXPECT_TRUE(SDL_GetWindowFlags(main_window) & SDL_WINDOW_FULLSCREEN);
  WindowRect screen = get_work_area();
  int w, h;
  get_client_size(w, h);
  EXPECT_EQ(d3d_wd, w);  // the device takes the screen
  EXPECT_GE(w, 300);
  EXPECT_GE(screen.w, 300);

  push_alt_enter();
  dispatch_window_messages();
  EXPECT_FALSE(isFullscreen);
  EXPECT_FALSE(SDL_GetWindowFlags(main_window) & SDL_WINDOW_FULLSCREEN);
  int x, y;
  SDL_GetWindowPosition(main_window, &x, &y);
  get_client_size(w, h);
  EXPECT_EQ(x, x0);
  EXPECT_EQ(y, y0);
  EXPECT_EQ(w, 300);
  EXPECT_EQ(h, 200);
  EXPECT_EQ(d3d_wd, 300);
  EXPECT_EQ(d3d_ht, 200);
}
