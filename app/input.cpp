// PLACEHOLDER input layer: does nothing yet. The real event queue, key states
// and bindings replace these bodies; the callers in the window procedure and
// the main loop stay as they are.
#include "app/input.h"

void init_input(SDL_Window* window) {}
void input_on_sdl_event(const SDL_Event& e) {}
void clear_input_step_state() {}
void update_mouse_over() {}
