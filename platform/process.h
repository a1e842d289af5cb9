// Process priority and handing documents to the desktop.
#pragma once

// Priority levels of the main thread: idle (the window is inactive), normal,
// above normal, high. Raising above normal needs the privilege to do so and
// otherwise stays normal. Idle is only entered when the level in force can be
// restored afterwards: an unprivileged Linux process can lower its priority
// but never raise it back, and a game stuck at idle after one focus change
// would be far worse than one that stays normal while inactive.
enum PriorityLevel { PRIORITY_IDLE = -1, PRIORITY_NORMAL = 0, PRIORITY_ABOVE_NORMAL = 1, PRIORITY_HIGH = 2 };
void apply_priority_level(int level);
// The nice value in force for the calling thread.
int current_nice_value();

// Hands a document, folder or address to the desktop shell (xdg-open) without
// waiting for it. operation and parameters are accepted for the callers'
// sake; xdg-open has only "open". directory, when given, is the working
// folder of the opener. False if the opener could not be started.
bool shell_execute(const char* operation, const char* file, const char* parameters, const char* directory);
