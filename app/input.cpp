// Input events, per-step summaries, key states and the game buttons.
#include "app/input.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "app/app.h"
#include "app/config.h"
#include "lib/dynArray.h"
#include "render/d3d_render.h"

// ---- state

static SDL_Window* input_window = nullptr;

// The queue: events of this step, oldest first; `queue_head` is the next one getEvent returns.
static DynArray<InputEvent> event_queue;
static int queue_head = 0;

// Per-step summaries.
enum { EDGE_DOWN = 1, EDGE_UP = 2 };
static unsigned char key_edges[256];
static int last_key = 0, last_char = 0, wheel_total = 0;

// Key states as the events have left them: per SDL scancode (so that the two
// Shift keys are told apart) and per virtual-key code (how many of the keys
// that give that code are down).
static bool scancode_down[SDL_NUM_SCANCODES];
static unsigned char vk_down[256];
// Caps, Num and Scroll Lock as SDL last reported them.
static Uint16 lock_mods = 0;

static float mouse_x = 0, mouse_y = 0;
static bool mouse_captured = false;
static bool mouse_over = false;

// ---- virtual-key codes

int sdl_key_to_vk(const SDL_Keysym& k) {
  SDL_Keycode sym = k.sym;
  if (sym >= 'a' && sym <= 'z') return (int)(sym - 'a' + 'A');
  if (sym >= '0' && sym <= '9') return (int)sym;
  SDL_Scancode sc = k.scancode;
  if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) return 'A' + (sc - SDL_SCANCODE_A);
  if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) return '1' + (sc - SDL_SCANCODE_1);
  if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F12) return 0x70 + (sc - SDL_SCANCODE_F1);
  if (sc >= SDL_SCANCODE_F13 && sc <= SDL_SCANCODE_F24) return 0x7C + (sc - SDL_SCANCODE_F13);
  bool num_lock = (k.mod & KMOD_NUM) != 0;
  // Keypad digits follow Num Lock: digits when on, the navigation keys when off.
  static const int keypad_digit_nav[10] = {0x2D, 0x23, 0x28, 0x22, 0x25, 0x0C, 0x27, 0x24, 0x26, 0x21};
  if (sc >= SDL_SCANCODE_KP_1 && sc <= SDL_SCANCODE_KP_0) {
    int digit = sc == SDL_SCANCODE_KP_0 ? 0 : 1 + (sc - SDL_SCANCODE_KP_1);
    return num_lock ? 0x60 + digit : keypad_digit_nav[digit];
  }
  switch (sc) {
    case SDL_SCANCODE_0: return '0';
    case SDL_SCANCODE_BACKSPACE: return VK_BACK;
    case SDL_SCANCODE_TAB: return VK_TAB;
    case SDL_SCANCODE_RETURN:
    case SDL_SCANCODE_KP_ENTER: return VK_RETURN;
    case SDL_SCANCODE_LSHIFT:
    case SDL_SCANCODE_RSHIFT: return VK_SHIFT;
    case SDL_SCANCODE_LCTRL:
    case SDL_SCANCODE_RCTRL: return VK_CONTROL;
    case SDL_SCANCODE_LALT:
    case SDL_SCANCODE_RALT: return VK_MENU;
    case SDL_SCANCODE_PAUSE: return 0x13;
    case SDL_SCANCODE_CAPSLOCK: return 0x14;
    case SDL_SCANCODE_ESCAPE: return VK_ESCAPE;
    case SDL_SCANCODE_SPACE: return VK_SPACE;
    case SDL_SCANCODE_PAGEUP: return VK_PRIOR;
    case SDL_SCANCODE_PAGEDOWN: return VK_NEXT;
    case SDL_SCANCODE_END: return VK_END;
    case SDL_SCANCODE_HOME: return VK_HOME;
    case SDL_SCANCODE_LEFT: return 0x25;
    case SDL_SCANCODE_UP: return 0x26;
    case SDL_SCANCODE_RIGHT: return 0x27;
    case SDL_SCANCODE_DOWN: return 0x28;
    case SDL_SCANCODE_PRINTSCREEN: return VK_SNAPSHOT;
    case SDL_SCANCODE_INSERT: return 0x2D;
    case SDL_SCANCODE_DELETE: return 0x2E;
    case SDL_SCANCODE_LGUI: return 0x5B;
    case SDL_SCANCODE_RGUI: return 0x5C;
    case SDL_SCANCODE_APPLICATION: return 0x5D;
    case SDL_SCANCODE_KP_MULTIPLY: return 0x6A;
    case SDL_SCANCODE_KP_PLUS: return 0x6B;
    case SDL_SCANCODE_KP_MINUS: return 0x6D;
    case SDL_SCANCODE_KP_PERIOD: return num_lock ? 0x6E : 0x2E;
    case SDL_SCANCODE_KP_DIVIDE: return 0x6F;
    case SDL_SCANCODE_NUMLOCKCLEAR: return 0x90;
    case SDL_SCANCODE_SCROLLLOCK: return 0x91;
    case SDL_SCANCODE_SEMICOLON: return 0xBA;
    case SDL_SCANCODE_EQUALS: return 0xBB;
    case SDL_SCANCODE_COMMA: return 0xBC;
    case SDL_SCANCODE_MINUS: return 0xBD;
    case SDL_SCANCODE_PERIOD: return 0xBE;
    case SDL_SCANCODE_SLASH: return 0xBF;
    case SDL_SCANCODE_GRAVE: return 0xC0;
    case SDL_SCANCODE_LEFTBRACKET: return 0xDB;
    case SDL_SCANCODE_BACKSLASH: return 0xDC;
    case SDL_SCANCODE_RIGHTBRACKET: return 0xDD;
    case SDL_SCANCODE_APOSTROPHE: return 0xDE;
    case SDL_SCANCODE_NONUSBACKSLASH: return 0xE2;
    default: return 0;
  }
}

// The character of a key with the given modifiers, as a US layout gives it;
// a text-input event that follows replaces it with the layout's own.
static int key_char(int vk, SDL_Keycode sym, bool shift, bool ctrl, bool alt, bool caps) {
  if (vk >= 'A' && vk <= 'Z') {
    if (ctrl && !alt) return vk - 'A' + 1;  // control characters
    bool upper = shift != caps;
    return upper ? vk : vk - 'A' + 'a';
  }
  if (ctrl && !alt) return 0;
  switch (vk) {
    case VK_BACK: return 8;
    case VK_TAB: return 9;
    case VK_RETURN: return 13;
    case VK_ESCAPE: return 27;
    case VK_SPACE: return ' ';
    case 0x6A: return '*';
    case 0x6B: return '+';
    case 0x6D: return '-';
    case 0x6E: return '.';
    case 0x6F: return '/';
    default: break;
  }
  if (vk >= 0x60 && vk <= 0x69) return '0' + (vk - 0x60);
  if (sym < 0x20 || sym > 0x7E) return 0;
  if (!shift) return (int)sym;
  static const char plain[] = "1234567890-=[]\\;',./`";
  static const char shifted[] = "!@#$%^&*()_+{}|:\"<>?~";
  for (int i = 0; plain[i]; i++)
    if (plain[i] == (char)sym) return shifted[i];
  return (int)sym;
}

// ---- queueing

static bool vk_is_down(int vk) { return vk >= 0 && vk < 256 && vk_down[vk] > 0; }

static int state_flags() {
  int f = 0;
  if (vk_is_down(VK_SHIFT)) f |= IEF_SHIFT;
  if (vk_is_down(VK_CONTROL)) f |= IEF_CTRL;
  if (vk_is_down(VK_MENU)) f |= IEF_ALT;
  if (lock_mods & KMOD_CAPS) f |= IEF_CAPS_LOCK;
  if (lock_mods & KMOD_SCROLL) f |= IEF_SCROLL_LOCK;
  if (lock_mods & KMOD_NUM) f |= IEF_NUM_LOCK;
  if (vk_is_down(VK_LBUTTON)) f |= IEF_LBUTTON;
  if (vk_is_down(VK_RBUTTON)) f |= IEF_RBUTTON;
  if (vk_is_down(VK_MBUTTON)) f |= IEF_MBUTTON;
  return f;
}

static float clamp_to(float v, int size) {
  float hi = (float)(size - 1);
  if (v > hi) v = hi;
  if (v < 0) v = 0;
  return v;
}

static void queue_event(InputEvent ev) {
  if (ev.kind != IE_KEY_DOWN && ev.kind != IE_KEY_UP) {
    ev.x = clamp_to(ev.x, d3d_wd);
    ev.y = clamp_to(ev.y, d3d_ht);
  }
  event_queue.push_back(ev);
  if (ev.kind == IE_KEY_DOWN || ev.kind == IE_MOUSE_DOWN) {
    last_key = ev.key;
    last_char = ev.ch;
  } else if (ev.kind == IE_MOUSE_MOVE) {
    mouse_x = ev.x;
    mouse_y = ev.y;
  } else if (ev.kind == IE_MOUSE_WHEEL) {
    wheel_total += ev.wheel;
  }
}

static void on_key(const SDL_KeyboardEvent& k, bool down) {
  int vk = sdl_key_to_vk(k.keysym);
  if (vk <= 0 || vk > 255) return;
  lock_mods = k.keysym.mod & (KMOD_CAPS | KMOD_NUM | KMOD_SCROLL);
  SDL_Scancode sc = k.keysym.scancode;
  bool known_sc = sc > SDL_SCANCODE_UNKNOWN && sc < SDL_NUM_SCANCODES;
  bool was_down = known_sc ? scancode_down[sc] : vk_down[vk] > 0;
  if (down) {
    // Alt+F4 and Alt+Enter belong to the window (close, fullscreen).
    if (vk_is_down(VK_MENU) && (vk == VK_F4 || vk == VK_RETURN)) return;
    if (!was_down) {
      if (known_sc) scancode_down[sc] = true;
      if (vk_down[vk] < 255) vk_down[vk]++;
    }
  } else if (was_down) {
    if (known_sc) scancode_down[sc] = false;
    if (vk_down[vk] > 0) vk_down[vk]--;
  }
  bool repeat = down && (was_down || k.repeat);
  InputEvent ev = {};
  ev.kind = down ? IE_KEY_DOWN : IE_KEY_UP;
  ev.key = vk;
  ev.x = mouse_x;
  ev.y = mouse_y;
  if (down && !repeat) key_edges[vk] |= EDGE_DOWN;
  if (!down) key_edges[vk] |= EDGE_UP;
  ev.flags = state_flags() | (repeat ? IEF_REPEAT : 0);
  ev.ch = key_char(vk, k.keysym.sym, ev.flags & IEF_SHIFT, ev.flags & IEF_CTRL, ev.flags & IEF_ALT,
                   ev.flags & IEF_CAPS_LOCK);
  queue_event(ev);
}

static int sdl_button_code(Uint8 button) {
  switch (button) {
    case SDL_BUTTON_LEFT: return VK_LBUTTON;
    case SDL_BUTTON_RIGHT: return VK_RBUTTON;
    case SDL_BUTTON_MIDDLE: return VK_MBUTTON;
    default: return 0;
  }
}

static void on_button(const SDL_MouseButtonEvent& b, bool down) {
  int code = sdl_button_code(b.button);
  if (!code) return;
  InputEvent ev = {};
  ev.key = code;
  if (down) {
    ev.kind = IE_MOUSE_DOWN;
    ev.x = (float)b.x;
    ev.y = (float)b.y;
    if (vk_down[code] < 255) vk_down[code]++;
    key_edges[code] |= EDGE_DOWN;
    // Keep the mouse while a button is held, even outside the window.
    SDL_CaptureMouse(SDL_TRUE);
    mouse_captured = true;
  } else {
    ev.kind = IE_MOUSE_UP;
    if (vk_down[code] > 0) vk_down[code]--;
    key_edges[code] |= EDGE_UP;
    SDL_CaptureMouse(SDL_FALSE);
    // The cursor goes back to where the game last saw it, and the event
    // carries that position.
    if (input_window) SDL_WarpMouseInWindow(input_window, (int)mouse_x, (int)mouse_y);
    ev.x = mouse_x;
    ev.y = mouse_y;
    mouse_captured = false;
  }
  ev.flags = state_flags();
  queue_event(ev);
}

static void on_wheel(const SDL_MouseWheelEvent& w) {
  float delta = w.preciseY;
  if (w.direction == SDL_MOUSEWHEEL_FLIPPED) delta = -delta;
  InputEvent ev = {};
  ev.kind = IE_MOUSE_WHEEL;
  ev.wheel = (int)delta;  // whole notches, truncated toward zero
  ev.x = (float)w.mouseX;
  ev.y = (float)w.mouseY;
  ev.flags = state_flags();
  queue_event(ev);
}

// Decodes the first character of a UTF-8 text; 0 when it holds none.
static int first_utf8_char(const char* s) {
  const unsigned char* p = (const unsigned char*)s;
  if (p[0] < 0x80) return p[0];
  int n = p[0] >= 0xF0 ? 3 : p[0] >= 0xE0 ? 2 : p[0] >= 0xC0 ? 1 : -1;
  if (n < 0) return 0;
  int c = p[0] & (0x3F >> n);
  for (int i = 1; i <= n; i++) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    c = (c << 6) | (p[i] & 0x3F);
  }
  return c;
}

// SDL reports the layout's character as text right after the key down: it
// replaces the character of that key event.
static void on_text(const SDL_TextInputEvent& t) {
  if (event_queue.count() <= queue_head) return;
  InputEvent& last = event_queue.back();
  if (last.kind != IE_KEY_DOWN) return;
  int c = first_utf8_char(t.text);
  if (!c) return;
  last.ch = c;
  if (last_key == last.key) last_char = c;
}

void input_on_sdl_event(const SDL_Event& e) {
  switch (e.type) {
    case SDL_KEYDOWN: on_key(e.key, true); break;
    case SDL_KEYUP: on_key(e.key, false); break;
    case SDL_MOUSEMOTION: {
      InputEvent ev = {};
      ev.kind = IE_MOUSE_MOVE;
      ev.x = (float)e.motion.x;
      ev.y = (float)e.motion.y;
      ev.flags = state_flags();
      queue_event(ev);
      break;
    }
    case SDL_MOUSEBUTTONDOWN: on_button(e.button, true); break;
    case SDL_MOUSEBUTTONUP: on_button(e.button, false); break;
    case SDL_MOUSEWHEEL: on_wheel(e.wheel); break;
    case SDL_TEXTINPUT: on_text(e.text); break;
    default: break;
  }
}

void init_input(SDL_Window* window) {
  input_window = window;
  int x = 0, y = 0;
  SDL_GetMouseState(&x, &y);
  if (window && SDL_GetMouseFocus() != window) {
    int gx = 0, gy = 0, wx = 0, wy = 0;
    SDL_GetGlobalMouseState(&gx, &gy);
    SDL_GetWindowPosition(window, &wx, &wy);
    x = gx - wx;
    y = gy - wy;
  }
  mouse_x = (float)x;
  mouse_y = (float)y;
  lock_mods = SDL_GetModState() & (KMOD_CAPS | KMOD_NUM | KMOD_SCROLL);
  memset(key_edges, 0, sizeof(key_edges));
}

void clear_input_step_state() {
  event_queue.clear();
  queue_head = 0;
  memset(key_edges, 0, sizeof(key_edges));
  last_key = last_char = wheel_total = 0;
}

void update_mouse_over() {
  if (mouse_captured || isFullscreen) {
    mouse_over = true;
    return;
  }
  mouse_over = false;
  if (!input_window || SDL_GetMouseFocus() != input_window) return;
  int x = 0, y = 0, w = 0, h = 0;
  SDL_GetMouseState(&x, &y);
  SDL_GetWindowSize(input_window, &w, &h);
  mouse_over = x >= 0 && y >= 0 && x < w && y < h;
}

// ---- reading

bool getEvent(InputEvent* ev) {
  if (queue_head >= event_queue.count()) return false;
  *ev = event_queue[queue_head++];
  return true;
}

bool keyDown(int vk) { return vk >= 0 && vk < 256 && (key_edges[vk] & EDGE_DOWN); }
bool keyUp(int vk) { return vk >= 0 && vk < 256 && (key_edges[vk] & EDGE_UP); }
bool getKeyState(int vk) { return vk_is_down(vk); }
int getKey() { return last_key; }
int getChar() { return last_char; }
int getMouseWheel() { return wheel_total; }

void getMousePos(float* x, float* y) {
  if (x) *x = mouse_x;
  if (y) *y = mouse_y;
}

void setMousePos(float x, float y) {
  if (input_window) SDL_WarpMouseInWindow(input_window, (int)x, (int)y);
}

bool isMouseOver() { return mouse_over; }

// ---- key names

// Named codes; letters, digits, keypad digits and F1-F12 are filled in by rule.
struct KeyName {
  int code;
  const char* name;
};
static const KeyName named_keys[] = {
    {0x01, "Left Mouse Button"}, {0x02, "Right Mouse Button"}, {0x04, "Middle Mouse Button"},
    {0x08, "Backspace"}, {0x09, "Tab"}, {0x0D, "Enter"}, {0x10, "Shift"}, {0x11, "Ctrl"},
    {0x12, "Alt"}, {0x13, "Pause"}, {0x14, "Caps Lock"}, {0x1B, "Escape"}, {0x20, "Space"},
    {0x21, "Page Up"}, {0x22, "Page Down"}, {0x23, "End"}, {0x24, "Home"},
    {0x25, "Left Arrow"}, {0x26, "Up Arrow"}, {0x27, "Right Arrow"}, {0x28, "Down Arrow"},
    {0x2D, "Insert"}, {0x2E, "Delete"}, {0x5B, "Left Win"}, {0x5C, "Right Win"},
    {0x5D, "Application"}, {0x6A, "Multiply"}, {0x6B, "Add"}, {0x6D, "Subtract"},
    {0x6E, "Decimal"}, {0x6F, "Divide"}, {0x90, "Num Lock"}, {0x91, "Scroll Lock"},
    {0xBA, "Semicolon"}, {0xBB, "Equals"}, {0xBC, "Comma"}, {0xBD, "Minus"}, {0xBE, "Period"},
    {0xBF, "Slash"}, {0xC0, "Grave"}, {0xDB, "Left bracket"}, {0xDC, "Backslash"},
    {0xDD, "Right bracket"}, {0xDE, "Apostrophe"},
};

// All 256 names, built once.
struct KeyNameTable {
  char names[256][24];
  KeyNameTable() {
    for (int i = 0; i < 256; i++) snprintf(names[i], sizeof(names[i]), "#%02X", i);
    for (const KeyName& k : named_keys) snprintf(names[k.code], sizeof(names[0]), "%s", k.name);
    for (int i = 0; i <= 9; i++) {
      snprintf(names['0' + i], sizeof(names[0]), "%d", i);
      snprintf(names[0x60 + i], sizeof(names[0]), "NumPad %d", i);
    }
    for (int i = 0; i < 26; i++) snprintf(names['A' + i], sizeof(names[0]), "%c", 'A' + i);
    for (int i = 0; i < 12; i++) snprintf(names[0x70 + i], sizeof(names[0]), "F%d", i + 1);
  }
};

const char* getKeyName(int vk) {
  static const KeyNameTable table;
  if ((unsigned)vk > 255u) return "?";
  return table.names[vk];
}

// ---- game buttons

struct ButtonInfo {
  const char* setting;  // the constant's name, also the settings key
  const char* ui_name;
  int default_key;
};

static const ButtonInfo button_info[NUM_GAME_BUTTONS] = {
    {"B_forward", "Forward", 'W'},
    {"B_back", "Backward", 'S'},
    {"B_left", "Left", 'A'},
    {"B_right", "Right", 'D'},
    {"B_up", "Up", VK_SPACE},
    {"B_down", "Down", 'C'},
    {"B_turbo", "Go faster", VK_SHIFT},
    {"B_lspell", "Left spell", VK_LBUTTON},
    {"B_rspell", "Right spell", VK_RBUTTON},
    {"B_map", "Show map", VK_TAB},
    {"B_spells", "Select spells", VK_CONTROL},
};

static int button_keys[NUM_GAME_BUTTONS] = {'W', 'S', 'A', 'D', VK_SPACE, 'C', VK_SHIFT,
                                            VK_LBUTTON, VK_RBUTTON, VK_TAB, VK_CONTROL};

static bool valid_button(int b) { return (unsigned)b < (unsigned)NUM_GAME_BUTTONS; }

void init_controls() {
  for (int b = 0; b < NUM_GAME_BUTTONS; b++) {
    button_keys[b] = button_info[b].default_key;
    char value[64];
    if (!get_config_str(button_info[b].setting, value, sizeof(value)) || value[0] != '#') continue;
    // A binding outside the key codes, or without a number, keeps the default.
    char* end = nullptr;
    long vk = strtol(value + 1, &end, 10);
    if (end != value + 1 && vk >= 0 && vk <= 255) button_keys[b] = (int)vk;
  }
  // The "keybox" behaviour (keybox_handle_event) is registered with the GUI
  // runtime's behaviour registry by the runtime's start-up, once it exists.
}

bool button_down(int b) { return valid_button(b) && keyDown(button_keys[b]); }
bool button_up(int b) { return valid_button(b) && keyUp(button_keys[b]); }
bool button_state(int b) { return valid_button(b) && getKeyState(button_keys[b]); }
const char* get_button_ui_name(int b) { return valid_button(b) ? button_info[b].ui_name : nullptr; }
int get_button_key(int b) { return valid_button(b) ? button_keys[b] : -1; }

TempString<260> get_button_key_name(int b) {
  TempString<260> s;
  if (valid_button(b)) s = getKeyName(button_keys[b]);
  return s;
}

void set_button_key(int b, int vk) {
  if (!valid_button(b)) return;
  button_keys[b] = vk;
  TempString<32> value;
  value.printf("#%d", vk);
  set_config_str(button_info[b].setting, value);
}

// ---- key boxes

bool keybox_handle_event(KeyBoxState& s, int type, bool enabled, const InputEvent* ie,
                         bool under_pointer, int* captured_key) {
  *captured_key = -1;
  if (type == KEYBOX_EV_RESET) {
    s.hover = s.pressed = false;
    return false;
  }
  if (!enabled) return false;
  if (type == KEYBOX_EV_MOUSE_ENTER) s.hover = true;
  if (type == KEYBOX_EV_MOUSE_LEAVE) s.hover = false;
  bool is_press = (type == KEYBOX_EV_INPUT && ie && ie->kind == IE_KEY_DOWN) ||
                  (type == KEYBOX_EV_MOUSE_DOWN && ie);
  if (is_press && under_pointer) *captured_key = ie->key;
  return true;
}
