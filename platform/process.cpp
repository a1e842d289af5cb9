#include "platform/process.h"
#include <cerrno>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

static int nice_for_level(int level) {
  if (level < 0) return 19;
  if (level == 0) return 0;
  if (level == 1) return -5;
  return -10;
}

int current_nice_value() {
  errno = 0;
  int v = getpriority(PRIO_PROCESS, 0);
  return errno ? 0 : v;
}

// Whether this thread may lower its nice value to target (raise priority).
static bool may_raise_to(int target) {
  if (geteuid() == 0) return true;
  rlimit r;
  if (getrlimit(RLIMIT_NICE, &r) != 0) return false;
  return r.rlim_cur != RLIM_INFINITY ? 20 - (int)r.rlim_cur <= target : true;
}

void apply_priority_level(int level) {
  // On Linux this sets the calling (main) thread's nice value; a refusal
  // (no privilege to raise it) leaves the current value.
  if (level < 0 && !may_raise_to(current_nice_value())) return;
  setpriority(PRIO_PROCESS, 0, nice_for_level(level));
}

bool shell_execute(const char* operation, const char* file, const char* parameters, const char* directory) {
  if (!file || !*file) return false;
  // A short-lived shell starts the opener in the background and exits, so
  // there is nothing to wait for and no child is left to reap later.
  const char* script = "cd \"${2:-.}\" 2>/dev/null; xdg-open \"$1\" >/dev/null 2>&1 &";
  char* argv[] = {(char*)"sh", (char*)"-c", (char*)script, (char*)"sh", (char*)file,
                  (char*)(directory ? directory : ""), nullptr};
  pid_t pid;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
