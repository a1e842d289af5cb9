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

// A child process whose standard output and standard error come to the
// caller through one pipe, read without blocking; the caller never waits.
struct ChildProcess {
  int pid = -1;     // -1 when none was started or it has been reaped
  int out_fd = -1;  // read end of the pipe; -1 once the output has ended
};
// Starts argv[0] (searched in PATH when it has no "/") with the arguments in
// argv (null-terminated), in the folder dir (null: the caller's), with its
// input from /dev/null. The caller's own working folder is left as it is.
// False when it cannot be started.
bool start_child_process(ChildProcess& child, const char* const* argv, const char* dir);
// Reads up to size bytes of what the pipe holds now: the count read, 0 when
// nothing is there yet, -1 once the output has ended (the pipe is then closed).
int read_child_output(ChildProcess& child, char* buf, int size);
// Whether the child has exited, without waiting; then reaps it and stores its
// exit code in *code (128 + the signal number when a signal ended it).
bool poll_child_exit(ChildProcess& child, int* code);
