#include "objects/gameobj_host.h"
#include <dlfcn.h>
#include <strings.h>
#include <unistd.h>
#include <cctype>
#include <cstdio>
#include <cstring>
#include "app/log.h"
#include "lib/check.h"
#include "objects/base_object.h"
#include "objects/gameobj_ops.h"
#include "objects/object_lists.h"
#include "platform/clock.h"
#include "platform/crash_report.h"
#include "platform/paths.h"
#include "platform/process.h"

#define QV_DEFINE_GAMEOBJ_OP(ret, name, params) ret(*name) params = nullptr;
QV_GAMEOBJ_OPS(QV_DEFINE_GAMEOBJ_OP)
#undef QV_DEFINE_GAMEOBJ_OP

#define QV_GAMEOBJ_OP_NAME(ret, name, params) #name,
const char* const gameobj_op_names[] = {QV_GAMEOBJ_OPS(QV_GAMEOBJ_OP_NAME)};
#undef QV_GAMEOBJ_OP_NAME
static_assert(sizeof(gameobj_op_names) / sizeof(gameobj_op_names[0]) == NUM_GAMEOBJ_OPS);

void* gameobj_vtables[NUM_GAMEOBJ_CLASSES];
bool force_gameobj_reload = false;

static void* module_handle = nullptr;
static PathString module_path;  // the file the module was loaded from, for its symbols

typedef void* (*GetFuncByName)(const char* name);
typedef void** (*GetVtables)(int* count);

static void* object_vtable(BaseObject* o) {
  void* vt;
  memcpy(&vt, (void*)o, sizeof(vt));
  return vt;
}

// Objects live on the shared heap and outlive the module; each still points
// at the virtual table of the build that made it (the one in
// gameobj_vtables). Every object gets the new build's table of the same
// class. Bit 2 of the state word marks an object already done, so an object
// held by several lists is patched once; a second patch would look for the
// new table among the old ones.
static void patch_live_objects(void* const* new_table) {
  for (const ObjectListRef& l : object_lists)
    for (BaseObject* o : *l.list) {
      if (o->state & OBJ_SWAP_MARK) continue;
      o->state |= OBJ_SWAP_MARK;
      void* vt = object_vtable(o);
      int cls = 1;
      while (cls < NUM_GAMEOBJ_CLASSES && gameobj_vtables[cls] != vt) cls++;
      if (cls == NUM_GAMEOBJ_CLASSES) fatal("cannot find object vtable");
      memcpy((void*)o, &new_table[cls], sizeof(void*));
    }
  for (const ObjectListRef& l : object_lists)
    for (BaseObject* o : *l.list) o->state &= ~OBJ_SWAP_MARK;
}

void load_gameobj_module(const char* path) {
  ASSERT(!module_handle);
  void* h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    debug("%s", dlerror());
    fatal("can't load gameobj.dll");
  }
  GetFuncByName by_name = (GetFuncByName)dlsym(h, "get_gameobj_func_by_name");
  GetVtables get_vtables = (GetVtables)dlsym(h, "get_gameobj_vtables");
  if (!by_name || !get_vtables) fatal("invalid gameobj.dll");

  // Every operation by name, in the documented order; the first missing one stops.
  void* found[NUM_GAMEOBJ_OPS];
  for (int i = 0; i < NUM_GAMEOBJ_OPS; i++) {
    found[i] = by_name(gameobj_op_names[i]);
    if (!found[i]) fatal("no \"%s\" function in gameobj.dll", gameobj_op_names[i]);
  }
  int i = 0;
#define QV_BIND_GAMEOBJ_OP(ret, name, params) name = (ret(*) params)found[i++];
  QV_GAMEOBJ_OPS(QV_BIND_GAMEOBJ_OP)
#undef QV_BIND_GAMEOBJ_OP

  int count = 0;
  void** table = get_vtables(&count);
  if (count != NUM_GAMEOBJ_CLASSES || !table) fatal("gameobj classes changed, need restart");
  // On the first load the lists are empty and the saved table is all zero.
  patch_live_objects(table);
  memcpy(gameobj_vtables, table, sizeof(gameobj_vtables));

  void (*link_gui)() = (void (*)())by_name("link_gui");
  if (!link_gui) fatal("no \"%s\" function in gameobj.dll", "link_gui");
  module_handle = h;
  module_path = path;
  // Call stacks of a crash then name the module's functions.
  if (!symhlp_load(module_path, 0, 0)) debug("can't load sym for: %s", module_path.c_str());
  link_gui();
}

// What the GUI runtime holds of the module: the module's screens (destroyed
// through their virtual destroy), the screen classes' createScreen
// factories (set to null), the queued GUI elements and the style sheets,
// all of which point into the module's code. LATER(GUI runtime): the host
// has no GUI runtime yet, so nothing of the module is held there.
static void release_gameobj_gui() {}

void unload_gameobj_module() {
#define QV_CLEAR_GAMEOBJ_OP(ret, name, params) name = nullptr;
  QV_GAMEOBJ_OPS(QV_CLEAR_GAMEOBJ_OP)
#undef QV_CLEAR_GAMEOBJ_OP
  if (!module_handle) return;
  release_gameobj_gui();
  symhlp_unload(module_path, 0);
  dlclose(module_handle);
  module_handle = nullptr;
}

bool gameobj_module_loaded() { return module_handle != nullptr; }

// ---- the module's sources

TempString<260> gameobj_source_folder;
TempString<260> gameobj_main_source;
DynArray<GameobjSourceFile> gameobj_sources;

// The name of a line `#include "name"`, or null.
static const char* include_name(const char* line, int* len) {
  static const char directive[] = "#include";
  if (strncmp(line, directive, sizeof(directive) - 1) != 0) return nullptr;
  const char* p = line + sizeof(directive) - 1;
  while (*p == ' ' || *p == '\t') p++;
  if (*p != '"') return nullptr;
  const char* name = ++p;
  while (*p && *p != '"' && *p != '\r' && *p != '\n') p++;
  *len = (int)(p - name);
  return *len > 0 ? name : nullptr;
}

void scan_gameobj_sources(const char* path) {
  PathString full = make_full_path(path);
  for (const GameobjSourceFile& s : gameobj_sources)
    if (strcasecmp(s.path, full) == 0) return;
  FILE* f = fopen(full, "r");
  if (!f) return;
  gameobj_sources.push_back({full, get_file_time(full)});
  char line[256];
  while (fgets(line, sizeof(line), f)) {
    int len = 0;
    const char* name = include_name(line, &len);
    if (!name) continue;
    // A name that cannot make a path is no file of the module.
    if (gameobj_source_folder.length() + len >= PathString::capacity()) continue;
    PathString next(gameobj_source_folder);
    next.append(name, len);
    scan_gameobj_sources(next);
  }
  fclose(f);
}

static bool sources_changed() {
  for (const GameobjSourceFile& s : gameobj_sources)
    if (get_file_time(s.path) != s.time) return true;
  return false;
}

static bool is_word_char(char c) { return isalnum((unsigned char)c) || c == '_'; }

bool is_rebuild_error_line(const char* line) {
  for (const char* p = line; (p = strcasestr(p, "error")); p++) {
    if (p > line && is_word_char(p[-1])) continue;
    const char* end = p + 5;
    if (*end == 's' || *end == 'S') end++;
    if (!is_word_char(*end)) return true;
  }
  return false;
}

// ---- the rebuild

// The running rebuild: its process, the line being read and whether any
// line named an error.
struct Rebuild {
  ChildProcess process;
  char line[1024];
  int line_len = 0;
  bool error_seen = false;
  int64_t start = 0;
};
static Rebuild rebuild;

bool gameobj_rebuild_running() { return rebuild.process.pid > 0; }

static void finish_output_line() {
  Rebuild& r = rebuild;
  if (r.line_len > 0 && r.line[r.line_len - 1] == '\r') r.line_len--;
  r.line[r.line_len] = 0;
  r.line_len = 0;
  printf("%s\n", r.line);
  fflush(stdout);
  if (is_rebuild_error_line(r.line)) {
    r.error_seen = true;
    append_error_message(r.line, -1);
  }
}

// Reads what the rebuild wrote so far, line by line (a line longer than 1023
// characters goes in pieces), without waiting for more. Returns whether
// the rebuild is still running.
static bool service_running_rebuild() {
  Rebuild& r = rebuild;
  char buf[4096];
  int n;
  while ((n = read_child_output(r.process, buf, sizeof(buf))) > 0)
    for (int i = 0; i < n; i++) {
      if (buf[i] == '\n') {
        finish_output_line();
        continue;
      }
      r.line[r.line_len++] = buf[i];
      if (r.line_len == (int)sizeof(r.line) - 1) finish_output_line();
    }
  if (n == 0) return true;
  if (r.line_len > 0) finish_output_line();
  // The output has ended; the process may take a moment longer to exit.
  int code = 0;
  if (!poll_child_exit(r.process, &code)) return true;
  if (code != 0 || r.error_seen) {
    append_error_message("gameobj rebuild failed!!!", -1);
    debug("!!! failed to rebuild gameobj DLL (code %d)", code);
  } else {
    debug("=== DLL rebuild done in %d ms", (int)get_time_msec(get_ref_time() - r.start));
  }
  return false;
}

// Services a running rebuild, or starts one when a watched source changed.
// True while one runs or was just started.
static bool service_gameobj_rebuild() {
  if (gameobj_rebuild_running()) return service_running_rebuild();
  if (!sources_changed()) return false;
  gameobj_sources.clear();
  PathString main_source(gameobj_source_folder);
  main_source.append(gameobj_main_source);
  scan_gameobj_sources(main_source);
  set_error_message(nullptr);
  debug("=== rebuilding gameobj DLL");
  rebuild.line_len = 0;
  rebuild.error_seen = false;
  rebuild.start = get_ref_time();
  // The script builds into the build folder, the parent of the application folder.
  PathString build_folder = make_full_path("..");
  PathString app_folder = make_full_path(nullptr);
  const char* argv[] = {"/bin/sh", GAMEOBJ_REBUILD_SCRIPT, build_folder, app_folder, nullptr};
  if (!start_child_process(rebuild.process, argv, gameobj_source_folder))
    debug("!!! Error starting DLL rebuild");
  else
    service_running_rebuild();
  return true;
}

bool reload_gameobj(bool force) {
  if (service_gameobj_rebuild()) return false;
  PathString new_path = make_full_path(GAMEOBJ_NEW_MODULE_FILE);
  if (!force && access(new_path, F_OK) != 0) return false;
  unload_gameobj_module();
  PathString path = make_full_path(GAMEOBJ_MODULE_FILE);
  // rename replaces the old file in one step, so there is never a moment
  // without a module file to load.
  bool ok = force || rename(new_path, path) == 0;
  load_gameobj_module(path);
  debug("gameobj reload %s", ok ? "ok" : "failed");
  return ok;
}

// ---- start-up and shutdown

// The repository's gameobj/ folder. The application folder is
// <repository>/<build folder>/game/, so it is two levels up from there; a
// build folder placed elsewhere uses the folder the build was configured from.
static PathString find_gameobj_source_folder() {
  PathString near = make_full_path("../../gameobj/");
  PathString main_source(near);
  main_source.append(GAMEOBJ_MAIN_SOURCE);
  if (access(main_source, F_OK) == 0) return near;
  return PathString(QV_GAMEOBJ_SOURCE_DIR);
}

void init_gameobj_module() {
  gameobj_source_folder = find_gameobj_source_folder();
  gameobj_main_source = GAMEOBJ_MAIN_SOURCE;
  load_gameobj_module(make_full_path(GAMEOBJ_MODULE_FILE));
  debug("gameobj module loaded and bound (%d operations, %d classes)", NUM_GAMEOBJ_OPS,
        NUM_GAMEOBJ_CLASSES - 1);
  gameobj_sources.clear();
  PathString main_source(gameobj_source_folder);
  main_source.append(gameobj_main_source);
  scan_gameobj_sources(main_source);
}

void close_gameobj_objects() {
  if (!module_handle) return;
  close_game_menu();
  remove_all_gameobj();
}

void close_gameobj_module() {
  if (!module_handle) return;
  close_spells_ui();
  close_gameobj();
  close_inst_render();
  unload_gameobj_module();
}
