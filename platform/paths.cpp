#include "platform/paths.h"
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

char app_path[260];

bool get_exe_filename(char* buf, int size) {
  if (size <= 0) return false;
  ssize_t n = readlink("/proc/self/exe", buf, (size_t)size);
  if (n <= 0 || n >= size) return false;  // n == size may mean the name was cut
  buf[n] = 0;
  return true;
}

bool get_exe_path(char* buf, int size) {
  if (!get_exe_filename(buf, size)) return false;
  char* cut = nullptr;
  for (char* p = buf; *p; p++)
    if (*p == '/' || *p == '\\' || *p == ':') cut = p;
  if (cut) cut[1] = 0;
  return true;
}

void init_app_path() {
  if (!get_exe_path(app_path, sizeof(app_path))) app_path[0] = 0;
}

PathString get_appdata_path() {
  PathString r;
  const char* xdg = getenv("XDG_DATA_HOME");
  const char* home = getenv("HOME");
  const char* appdata = getenv("APPDATA");
  if (xdg && *xdg)
    r.set(xdg);
  else if (home && *home)
    r.set(home).append("/.local/share");
  else if (appdata && *appdata)
    r.set(appdata);
  else
    return PathString(app_path);
  if (r.str[r.length() - 1] != '/') r.append("/");
  return r;
}

PathString get_appdata_path(const char* name) { return get_appdata_path().append(name ? name : ""); }

PathString get_appdata_folder_path(const char* name) {
  return get_appdata_path().append("Quorvale/").append(name ? name : "");
}

// Resolves ".", ".." and repeated separators of an absolute path in place.
static void normalize_absolute_path(char* path) {
  char* out = path;  // writes over the text as it is read; the result is never longer
  const char* p = path;
  while (*p) {
    while (*p == '/') p++;
    const char* part = p;
    while (*p && *p != '/') p++;
    int len = (int)(p - part);
    if (len == 0 || (len == 1 && part[0] == '.')) continue;
    if (len == 2 && part[0] == '.' && part[1] == '.') {
      while (out > path && *--out != '/') {
      }
      continue;
    }
    *out++ = '/';
    memmove(out, part, len);
    out += len;
  }
  bool ends_in_separator = p > path && p[-1] == '/';
  if (out == path || ends_in_separator) *out++ = '/';
  *out = 0;
}

PathString make_full_path(const char* name) {
  if (!name) return PathString(app_path);
  PathString joined;
  if (name[0] != '/' && name[0] != '\\') joined.set(app_path);
  joined.append(name);
  for (char* c = joined.str; *c; c++)
    if (*c == '\\') *c = '/';
  if (joined.str[0] != '/') {
    char cwd[260];
    if (!getcwd(cwd, sizeof(cwd))) return joined;
    PathString rel = joined;
    joined.set(cwd).append("/").append(rel);
  }
  normalize_absolute_path(joined.str);
  return joined;
}

int64_t get_file_time(const char* path) {
  struct stat st;
  if (!path || stat(path, &st) != 0) return 0;
  return (int64_t)st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec;
}

bool make_folders(const char* path) {
  PathString p(path);
  int n = p.length();
  for (int i = 1; i <= n; i++) {
    if (i < n && p.str[i] != '/') continue;
    char keep = p.str[i];
    p.str[i] = 0;
    if (mkdir(p.str, 0755) != 0 && errno != EEXIST) return false;
    p.str[i] = keep;
  }
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

static bool write_all(int fd, const void* data, size_t size) {
  const char* p = (const char*)data;
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= (size_t)n;
  }
  return true;
}

bool write_file_replacing(const char* path, const void* data, size_t size) {
  TempString<270> tmp;
  tmp.printf("%s.tmp%d", path, (int)getpid());
  int fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = write_all(fd, data, size) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok) ok = rename(tmp, path) == 0;
  if (!ok) unlink(tmp);
  return ok;
}
