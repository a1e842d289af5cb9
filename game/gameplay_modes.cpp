// The gameplay modes the menus offer: one data folder under gameModes/ per
// mode, described by the table game_mode_info of its info.nut, read in the
// scratch script machine.
#include <dirent.h>
#include <sys/stat.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "game/game_mode.h"
#include "lib/check.h"
#include "lib/dynArray.h"
#include "platform/paths.h"
#include "script/sqVMReload.h"

// Logs the VM's last error as a game mode script error.
static void log_script_error(HSQUIRRELVM v) {
  sq_getlasterror(v);
  const SQChar* s = nullptr;
  if (SQ_FAILED(sq_getstring(v, -1, &s)) || !s) s = "unknown error";
  debug("Error in game mode script:\n%s", s);
  sq_pop(v, 1);
}

// Compiles and runs a script text with the root table as `this`; false (the
// error logged as a game mode script error) when either fails.
static bool run_script(HSQUIRRELVM v, const char* text, int len, const char* name) {
  if (SQ_FAILED(sq_compilebuffer(v, text, len, name, SQTrue))) {
    log_script_error(v);
    return false;
  }
  sq_pushroottable(v);
  bool ok = SQ_SUCCEEDED(sq_call(v, 1, SQFalse, SQTrue));
  sq_pop(v, 1);  // the closure
  if (!ok) log_script_error(v);
  return ok;
}

static bool read_text_file(const char* path, DynArray<char>& out) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  char buf[4096];
  size_t n;
  out.clear();
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, (int)n);
  bool ok = !ferror(f);
  fclose(f);
  return ok;
}

typedef TempString<128> FolderName;

// The folder names under gameModes/, in name order.
static void mode_folders(DynArray<FolderName>& names) {
  PathString root = make_full_path("gameModes");
  DIR* d = opendir(root);
  if (!d) return;
  while (dirent* e = readdir(d)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    // A name too long for the paths built from it is not a mode folder of ours.
    if (strlen(e->d_name) > 100) continue;
    char path[4096];
    if (snprintf(path, sizeof(path), "%s/%s", root.c_str(), e->d_name) >= (int)sizeof(path)) continue;
    struct stat st;
    if (stat(path, &st) == 0 && S_ISDIR(st.st_mode)) names.push_back(FolderName(e->d_name));
  }
  closedir(d);
  qsort(names.data(), names.count(), sizeof(FolderName),
        [](const void* a, const void* b) { return strcmp((const char*)a, (const char*)b); });
}

static void set_root_slot(HSQUIRRELVM v, const char* name, HSQOBJECT value) {
  sq_pushroottable(v);
  sq_pushstring(v, name, -1);
  sq_pushobject(v, value);
  sq_newslot(v, -3, SQFalse);
  sq_pop(v, 1);
}

static void delete_root_slot(HSQUIRRELVM v, const char* name) {
  sq_pushroottable(v);
  sq_pushstring(v, name, -1);
  sq_deleteslot(v, -2, SQFalse);
  sq_pop(v, 1);
}

HSQOBJECT scan_gameplay_modes() {
  if (!scratch_vm) create_scratch_vm();
  HSQUIRRELVM v = scratch_vm;
  SQInteger top = sq_gettop(v);
  sq_newarray(v, 0);
  HSQOBJECT modes;
  sq_getstackobj(v, -1, &modes);
  DynArray<FolderName> folders;
  mode_folders(folders);
  for (const FolderName& name : folders) {
    TempString<260> rel;
    rel.printf("gameModes/%s/info.nut", name.c_str());
    DynArray<char> text;
    if (!read_text_file(make_full_path(rel), text)) continue;
    // A folder whose script defines no table must not inherit the one an
    // earlier folder's script left in the root table.
    delete_root_slot(v, "game_mode_info");
    if (!run_script(v, text.data(), text.count(), rel)) continue;
    sq_pushroottable(v);
    sq_pushstring(v, "game_mode_info", -1);
    if (SQ_SUCCEEDED(sq_get(v, -2)) && sq_gettype(v, -1) == OT_TABLE) {
      debug("found gameplay mode %s", name.c_str());
      sq_pushstring(v, "id", -1);
      sq_pushstring(v, name.c_str(), -1);
      sq_newslot(v, -3, SQFalse);
      sq_pushobject(v, modes);
      sq_push(v, -2);
      sq_arrayappend(v, -2);
      sq_pop(v, 1);
    }
    sq_settop(v, top + 1);
  }
  set_root_slot(v, "modes", modes);
  static const char sort_text[] =
      "modes.sort(@(a, b) (\"sortOrder\" in a ? a.sortOrder : 0) <=> (\"sortOrder\" in b ? b.sortOrder : 0))";
  run_script(v, sort_text, (int)sizeof(sort_text) - 1, "modes sort");
  sq_settop(v, top);
  return modes;
}
