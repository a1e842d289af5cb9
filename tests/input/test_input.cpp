// Input events from SDL events, the per-step summaries, key names and the
// game buttons with their settings.
#include <gtest/gtest.h>
#include <cstring>
#include "app/config.h"
#include "app/input.h"
#include "render/d3d_render.h"

namespace {

SDL_Event key_event(bool down, SDL_Scancode sc, SDL_Keycode sym, bool repeat = false, Uint16 mod = 0) {
  SDL_Event e = {};
  e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
  e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
  e.key.repeat = repeat;
  e.key.keysym.scancode = sc;
  e.key.keysym.sym = sym;
  e.key.keysym.mod = mod;
  return e;
}

SDL_Event button_event(bool down, Uint8 button, int x, int y) {
  SDL_Event e = {};
  e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
  e.button.button = button;
  e.button.x = x;
  e.button.y = y;
  return e;
}

SDL_Event wheel_event(float steps) {
  SDL_Event e = {};
  e.type = SDL_MOUSEWHEEL;
  e.wheel.y = (Sint32)steps;
  e.wheel.preciseY = steps;
  e.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
  return e;
}

SDL_Event motion_event(int x, int y) {
  SDL_Event e = {};
  e.type = SDL_MOUSEMOTION;
  e.motion.x = x;
  e.motion.y = y;
  return e;
}

void send(const SDL_Event& e) { input_on_sdl_event(e); }

std::vector<InputEvent> drain() {
  std::vector<InputEvent> v;
  InputEvent ev;
  while (getEvent(&ev)) v.push_back(ev);
  return v;
}

class InputTest : public testing::Test {
 protected:
  void SetUp() override {
    d3d_wd = 640;
    d3d_ht = 360;
    init_input(nullptr);
    clear_input_step_state();
  }
  void TearDown() override {
    // Release whatever a test left held, so the next starts with all keys up.
    for (SDL_Scancode sc : {SDL_SCANCODE_W, SDL_SCANCODE_A, SDL_SCANCODE_LSHIFT, SDL_SCANCODE_RSHIFT,
                            SDL_SCANCODE_LCTRL, SDL_SCANCODE_LALT})
      send(key_event(false, sc, SDL_GetKeyFromScancode(sc)));
    clear_input_step_state();
  }
};

TEST_F(InputTest, HeldKeyRepeatsWithoutNewDownEdges) {
  send(key_event(true, SDL_SCANCODE_W, SDLK_w));
  send(key_event(true, SDL_SCANCODE_W, SDLK_w, true));
  send(key_event(true, SDL_SCANCODE_W, SDLK_w, true));
  EXPECT_TRUE(keyDown('W'));
  EXPECT_TRUE(getKeyState('W'));
  EXPECT_EQ(getKey(), 'W');
  EXPECT_EQ(getChar(), 'w');
  std::vector<InputEvent> evs = drain();
  ASSERT_EQ(evs.size(), 3u);
  EXPECT_EQ(evs[0].kind, IE_KEY_DOWN);
  EXPECT_EQ(evs[0].flags & IEF_REPEAT, 0);
  EXPECT_EQ(evs[1].flags & IEF_REPEAT, IEF_REPEAT);
  EXPECT_EQ(evs[2].flags & IEF_REPEAT, IEF_REPEAT);

  // The next step: repeats go on, no new edge, the key is still down.
  clear_input_step_state();
  send(key_event(true, SDL_SCANCODE_W, SDLK_w, true));
  EXPECT_FALSE(keyDown('W'));
  EXPECT_TRUE(getKeyState('W'));
  EXPECT_TRUE(button_state(B_forward));
  EXPECT_FALSE(button_down(B_forward));
}

TEST_F(InputTest, PressAndReleaseWithinOneStepSetBothEdges) {
  send(key_event(true, SDL_SCANCODE_A, SDLK_a));
  send(key_event(false, SDL_SCANCODE_A, SDLK_a));
  EXPECT_TRUE(keyDown('A'));
  EXPECT_TRUE(keyUp('A'));
  EXPECT_FALSE(getKeyState('A'));
  EXPECT_TRUE(button_down(B_left));
  EXPECT_TRUE(button_up(B_left));
  clear_input_step_state();
  EXPECT_FALSE(keyDown('A'));
  EXPECT_FALSE(keyUp('A'));
  EXPECT_EQ(getKey(), 0);
  InputEvent ev;
  EXPECT_FALSE(getEvent(&ev));
}

TEST_F(InputTest, ModifiersGiveFlagsAndCharacters) {
  send(key_event(true, SDL_SCANCODE_LSHIFT, SDLK_LSHIFT));
  send(key_event(true, SDL_SCANCODE_RSHIFT, SDLK_RSHIFT));
  send(key_event(false, SDL_SCANCODE_RSHIFT, SDLK_RSHIFT));
  EXPECT_TRUE(getKeyState(VK_SHIFT));  // the left Shift is still held
  send(key_event(true, SDL_SCANCODE_A, SDLK_a, false, KMOD_LSHIFT | KMOD_NUM));
  std::vector<InputEvent> evs = drain();
  ASSERT_EQ(evs.size(), 4u);
  EXPECT_EQ(evs[0].key, VK_SHIFT);
  EXPECT_EQ(evs[1].flags & IEF_REPEAT, 0);  // the other Shift key is a key of its own
  EXPECT_EQ(evs[3].ch, 'A');
  EXPECT_EQ(evs[3].flags, IEF_SHIFT | IEF_NUM_LOCK);

  // Ctrl+A gives the control character; the layout's text replaces a guess.
  send(key_event(false, SDL_SCANCODE_LSHIFT, SDLK_LSHIFT));
  send(key_event(true, SDL_SCANCODE_LCTRL, SDLK_LCTRL));
  send(key_event(true, SDL_SCANCODE_W, SDLK_w));
  EXPECT_EQ(getChar(), 23);
  send(key_event(false, SDL_SCANCODE_LCTRL, SDLK_LCTRL));
  send(key_event(true, SDL_SCANCODE_SEMICOLON, SDLK_SEMICOLON));
  SDL_Event text = {};
  text.type = SDL_TEXTINPUT;
  strcpy(text.text.text, "\xc3\xb6");  // the layout puts o-umlaut there
  send(text);
  EXPECT_EQ(getKey(), 0xBA);
  EXPECT_EQ(getChar(), 0xF6);
  send(key_event(false, SDL_SCANCODE_SEMICOLON, SDLK_SEMICOLON));
}

TEST_F(InputTest, AltF4AndAltEnterBelongToTheWindow) {
  send(key_event(true, SDL_SCANCODE_LALT, SDLK_LALT));
  clear_input_step_state();
  send(key_event(true, SDL_SCANCODE_F4, SDLK_F4, false, KMOD_LALT));
  send(key_event(true, SDL_SCANCODE_RETURN, SDLK_RETURN, false, KMOD_LALT));
  EXPECT_FALSE(keyDown(VK_F4));
  EXPECT_FALSE(keyDown(VK_RETURN));
  EXPECT_TRUE(drain().empty());
}

TEST_F(InputTest, MouseButtonsAreKeysAndPositionsStayInTheDevice) {
  send(motion_event(100, 50));
  send(button_event(true, SDL_BUTTON_RIGHT, 700, -5));
  EXPECT_TRUE(keyDown(VK_RBUTTON));
  EXPECT_TRUE(button_down(B_rspell));
  EXPECT_TRUE(button_state(B_rspell));
  EXPECT_EQ(getKey(), VK_RBUTTON);
  send(button_event(false, SDL_BUTTON_RIGHT, 700, -5));
  EXPECT_TRUE(button_up(B_rspell));
  EXPECT_FALSE(button_state(B_rspell));
  std::vector<InputEvent> evs = drain();
  ASSERT_EQ(evs.size(), 3u);
  EXPECT_EQ(evs[1].kind, IE_MOUSE_DOWN);
  EXPECT_EQ(evs[1].key, 2);
  EXPECT_EQ(evs[1].flags & IEF_RBUTTON, IEF_RBUTTON);
  EXPECT_EQ(evs[1].x, 639.0f);
  EXPECT_EQ(evs[1].y, 0.0f);
  // The release comes at the position the game last saw.
  EXPECT_EQ(evs[2].kind, IE_MOUSE_UP);
  EXPECT_EQ(evs[2].x, 100.0f);
  EXPECT_EQ(evs[2].y, 50.0f);
  float x, y;
  getMousePos(&x, &y);
  EXPECT_EQ(x, 100.0f);
  EXPECT_EQ(y, 50.0f);
}

TEST_F(InputTest, WheelCountsWholeNotches) {
  send(wheel_event(1));
  send(wheel_event(1));
  EXPECT_EQ(getMouseWheel(), 2);
  clear_input_step_state();
  send(wheel_event(0.5f));
  EXPECT_EQ(getMouseWheel(), 0);
  send(wheel_event(-1));
  EXPECT_EQ(getMouseWheel(), -1);
  EXPECT_FALSE(keyDown(-1));
  EXPECT_FALSE(getKeyState(300));
}

TEST(KeyNames, NamedCodesHexForTheRestQuestionMarkOutside) {
  struct {
    int code;
    const char* name;
  } cases[] = {{0x01, "Left Mouse Button"}, {0x2C, "#2C"}, {0x03, "#03"}, {0xA0, "#A0"},
               {0x41, "A"}, {0x39, "9"}, {0x63, "NumPad 3"}, {0x7B, "F12"},
               {0xDE, "Apostrophe"}, {0x6C, "#6C"}, {300, "?"}, {-1, "?"}};
  for (auto& c : cases) EXPECT_STREQ(getKeyName(c.code), c.name) << c.code;
}

TEST(Controls, BindingsComeFromAndGoToTheSettings) {
  reset_app_config();
  set_config_str("B_forward", "#56");  // bound to 8
  set_config_str("B_back", "S");       // not a "#" value: the default stays
  init_controls();
  EXPECT_EQ(get_button_key(B_forward), '8');
  EXPECT_EQ(get_button_key(B_back), 'S');
  EXPECT_EQ(get_button_key(B_spells), VK_CONTROL);
  EXPECT_STREQ(get_button_ui_name(B_turbo), "Go faster");
  EXPECT_EQ(get_button_ui_name(11), nullptr);
  EXPECT_EQ(get_button_ui_name(-1), nullptr);
  EXPECT_STREQ(get_button_key_name(B_lspell).c_str(), "Left Mouse Button");
  EXPECT_STREQ(get_button_key_name(11).c_str(), "");

  set_button_key(B_map, 0x4D);
  char value[16] = "";
  ASSERT_TRUE(get_config_str("B_map", value, sizeof(value)));
  EXPECT_STREQ(value, "#77");
  EXPECT_STREQ(get_button_key_name(B_map).c_str(), "M");
  set_button_key(-1, 0x41);  // ignored
  EXPECT_FALSE(button_down(-1));
  EXPECT_FALSE(button_state(11));
  reset_app_config();
  init_controls();
}

TEST(KeyBox, TakesAKeyOnlyUnderThePointer) {
  KeyBoxState box;
  int key = 0;
  EXPECT_TRUE(keybox_handle_event(box, KEYBOX_EV_MOUSE_ENTER, true, nullptr, true, &key));
  EXPECT_TRUE(box.hover);
  InputEvent k = {IE_KEY_DOWN, 'M', 0, 'm', 0, 10, 10};
  EXPECT_TRUE(keybox_handle_event(box, KEYBOX_EV_INPUT, true, &k, true, &key));
  EXPECT_EQ(key, 'M');
  EXPECT_TRUE(keybox_handle_event(box, KEYBOX_EV_INPUT, true, &k, false, &key));
  EXPECT_EQ(key, -1);
  InputEvent b = {IE_MOUSE_DOWN, VK_RBUTTON, IEF_RBUTTON, 0, 0, 10, 10};
  EXPECT_TRUE(keybox_handle_event(box, KEYBOX_EV_MOUSE_DOWN, true, &b, true, &key));
  EXPECT_EQ(key, VK_RBUTTON);
  EXPECT_TRUE(keybox_handle_event(box, KEYBOX_EV_MOUSE_LEAVE, true, nullptr, false, &key));
  EXPECT_FALSE(box.hover);
  EXPECT_FALSE(keybox_handle_event(box, KEYBOX_EV_INPUT, false, &k, true, &key));  // disabled
  EXPECT_EQ(key, -1);
  box.pressed = box.hover = true;
  EXPECT_FALSE(keybox_handle_event(box, KEYBOX_EV_RESET, true, nullptr, true, &key));
  EXPECT_FALSE(box.hover || box.pressed);
}

}  // namespace
