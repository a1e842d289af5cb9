// Keyboard and mouse input, and the game buttons bound to keys.
//
// The window procedure hands every SDL keyboard, mouse, wheel and text event
// to input_on_sdl_event, which turns it into an InputEvent: SDL keys become
// the virtual-key codes the game stores and names ("#87" is W). Each event
// goes into a queue and updates the per-step summaries (which keys went down
// or up, the last key and character, the wheel total). Everything read during
// a simulation step sees the events since the previous step; the main loop
// clears the queue and the summaries after each step.
#pragma once
#include <SDL2/SDL.h>
#include "lib/strings.h"

// ---- events

enum InputEventKind {
  IE_KEY_DOWN = 1,
  IE_KEY_UP = 2,
  IE_MOUSE_DOWN = 3,
  IE_MOUSE_UP = 4,
  IE_MOUSE_MOVE = 5,
  IE_MOUSE_WHEEL = 6,
};

// State bits of InputEvent::flags, taken when the event is queued.
enum InputEventFlags {
  IEF_SHIFT = 0x001,
  IEF_CTRL = 0x002,
  IEF_ALT = 0x004,
  IEF_CAPS_LOCK = 0x008,
  IEF_SCROLL_LOCK = 0x010,
  IEF_NUM_LOCK = 0x020,
  IEF_REPEAT = 0x040,  // a key down while the key was already down
  IEF_LBUTTON = 0x080,
  IEF_RBUTTON = 0x100,
  IEF_MBUTTON = 0x200,
};

struct InputEvent {
  int kind;   // InputEventKind
  int key;    // key events: virtual-key code; button events: 1 left, 2 right, 4 middle; else 0
  int flags;  // InputEventFlags
  int ch;     // key events: the character the layout gives (0 if none); else 0
  int wheel;  // wheel events: steps, positive away from the user; else 0
  float x, y; // client pixels, limited to the device area
};

// Virtual-key codes the host itself tests.
enum {
  VK_LBUTTON = 0x01,
  VK_RBUTTON = 0x02,
  VK_MBUTTON = 0x04,
  VK_BACK = 0x08,
  VK_TAB = 0x09,
  VK_RETURN = 0x0D,
  VK_SHIFT = 0x10,
  VK_CONTROL = 0x11,
  VK_MENU = 0x12,  // Alt
  VK_ESCAPE = 0x1B,
  VK_SPACE = 0x20,
  VK_PRIOR = 0x21,  // Page Up
  VK_NEXT = 0x22,   // Page Down
  VK_END = 0x23,
  VK_HOME = 0x24,
  VK_SNAPSHOT = 0x2C,  // Print Screen
  VK_F1 = 0x70,
  VK_F3 = 0x72,
  VK_F4 = 0x73,
  VK_F5 = 0x74,
  VK_F6 = 0x75,
  VK_F9 = 0x78,
  VK_F12 = 0x7B,
};

// The virtual-key code of an SDL key (0 for keys the game does not know).
// Letters and digits follow the layout; other keys their position.
int sdl_key_to_vk(const SDL_Keysym& k);

// ---- the window side (called by the window procedure and the main loop)

// Remembers the window, takes the cursor's position, clears the step state.
void init_input(SDL_Window* window);
// Every keyboard, mouse, wheel and text event the window procedure receives.
void input_on_sdl_event(const SDL_Event& e);
// Ends the life of this step's events: frees the queue and clears the
// summaries. Called after each update and at loop end.
void clear_input_step_state();
// Refreshes the mouse-over state; called after dispatching window messages.
void update_mouse_over();

// ---- reading input

// Removes the oldest queued event into *ev; false when the queue is empty.
bool getEvent(InputEvent* ev);
// The key or mouse button (code 0 ... 255) went down in this step; auto-repeats do not count.
bool keyDown(int vk);
// It went up in this step.
bool keyUp(int vk);
// It is down now.
bool getKeyState(int vk);
// The last key or mouse button pressed in this step, 0 if none.
int getKey();
// The character of the last key pressed in this step, 0 if none.
int getChar();
// Wheel steps in this step.
int getMouseWheel();
// The mouse position in client pixels.
void getMousePos(float* x, float* y);
// Moves the system cursor to that client position (truncated to whole
// pixels); the stored position follows with the move event that results.
void setMousePos(float x, float y);
bool isMouseOver();
// "Left Mouse Button", "A", "F1", "#2C" for unnamed codes, "?" outside 0 ... 255.
const char* getKeyName(int vk);

// ---- game buttons

enum GameButton {
  B_forward = 0,
  B_back = 1,
  B_left = 2,
  B_right = 3,
  B_up = 4,
  B_down = 5,
  B_turbo = 6,
  B_lspell = 7,
  B_rspell = 8,
  B_map = 9,
  B_spells = 10,
  NUM_GAME_BUTTONS = 11,
};

// Bindings from the settings ("B_forward" = "#87"), defaults where a setting
// is missing or does not start with "#".
void init_controls();
bool button_down(int b);
bool button_up(int b);
bool button_state(int b);
// The name shown to the player ("Go faster"); null outside 0 ... 10.
const char* get_button_ui_name(int b);
// The name of the bound key; empty outside 0 ... 10.
TempString<260> get_button_key_name(int b);
// Binds the key and stores "#<code>" under the button's setting; ignored outside 0 ... 10.
void set_button_key(int b, int vk);
// The current binding of a button (-1 outside 0 ... 10).
int get_button_key(int b);

// ---- key capture in GUI elements

// State of one key box: the element that captures a key for rebinding. The
// GUI runtime's "keybox" behaviour keeps one per element and hands it its events.
struct KeyBoxState {
  bool hover = false;
  bool pressed = false;
};
// GUI event types a key box reacts to.
enum {
  KEYBOX_EV_INPUT = 4,
  KEYBOX_EV_MOUSE_ENTER = 16,
  KEYBOX_EV_MOUSE_LEAVE = 32,
  KEYBOX_EV_MOUSE_DOWN = 128,
  KEYBOX_EV_RESET = 1024,
};
// One event for a key box. `ie` is the event's input record (null for events
// without one) and `under_pointer` whether the element is the one under the
// event's position. Returns whether the event is handled; sets *captured_key
// to the key or button for the element's listeners, or -1 when none.
bool keybox_handle_event(KeyBoxState& s, int type, bool enabled, const InputEvent* ie,
                         bool under_pointer, int* captured_key);
