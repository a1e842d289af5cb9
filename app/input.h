// Keyboard and mouse input as the window procedure and the main loop see it.
// PLACEHOLDER: these four operations are the seam between the window side and
// input; the input layer (event queue, key states, bindings) replaces the
// bodies in app/input.cpp and may add to this header.
#pragma once
#include <SDL2/SDL.h>

// Called once the main window exists.
void init_input(SDL_Window* window);
// Every keyboard, mouse, wheel and text event the window procedure receives.
void input_on_sdl_event(const SDL_Event& e);
// Ends the life of this step's events: called after each update and at loop end.
void clear_input_step_state();
// Refreshes what the mouse is over; called after dispatching window messages.
void update_mouse_over();
