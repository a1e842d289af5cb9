#include "platform/process.h"
#include <cerrno>
#include <fcntl.h>
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

bool start_child_process(ChildProcess& child, const char* const* argv, const char* dir) {
  child = ChildProcess();
  if (!argv || !argv[0]) return false;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  // Only the child moves to dir: the game keeps its working folder, so that
  // relative paths it was given (a screenshot file, the data folder) keep
  // their meaning after a rebuild was started.
  if (dir) posix_spawn_file_actions_addchdir_np(&actions, dir);
  pid_t pid;
  int err = posix_spawnp(&pid, argv[0], &actions, nullptr, (char* const*)argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (err != 0) {
    close(fds[0]);
    return false;
  }
  fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
  child.pid = pid;
  child.out_fd = fds[0];
  return true;
}

int read_child_output(ChildProcess& child, char* buf, int size) {
  if (child.out_fd < 0) return -1;
  for (;;) {
    ssize_t n = read(child.out_fd, buf, size);
    if (n > 0) return (int)n;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    close(child.out_fd);  // the end of the output, or a broken pipe
    child.out_fd = -1;
    return -1;
  }
}

bool poll_child_exit(ChildProcess& child, int* code) {
  if (child.pid <= 0) return false;
  int status = 0;
  pid_t r;
  while ((r = waitpid(child.pid, &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  if (r == 0) return false;
  int c = -1;
  if (r == child.pid) c = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
  child.pid = -1;
  if (code) *code = c;
  return true;
}
