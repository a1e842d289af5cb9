// Reloadable script machines and the scratch machine.
#include "script/sqVMReload.h"
#include <strings.h>
#include "lib/check.h"
#include "platform/paths.h"
#include "script/sqbind.h"
#include "squirrel/sqstdmath.h"
#include "squirrel/sqstdstring.h"

using namespace sqbind;

HSQUIRRELVM scratch_vm = nullptr;

static const char* const REGISTRY_KEY = "SqReloadableVM";

SqReloadableVM::~SqReloadableVM() { close(); }

bool SqReloadableVM::init(int initial_stack) {
  close();
  vm = create_vm(initial_stack);
  if (!vm) return false;
  sq_pushregistrytable(vm);
  sq_pushstring(vm, REGISTRY_KEY, -1);
  sq_pushuserpointer(vm, this);
  sq_newslot(vm, -3, SQFalse);
  sq_poptop(vm);
  return bind();
}

void SqReloadableVM::close() {
  if (!vm) return;
  close_vm(vm);
  vm = nullptr;
  files.clear();
}

bool SqReloadableVM::include(const char* path) {
  // A path that cannot be a file name here fails like a missing file
  // instead of overflowing the path buffer.
  size_t len = strlen(path), base = path[0] == '/' ? 0 : strlen(app_path);
  if (base + len >= sizeof(RunFile::path) - 1) {
    debug("can't include '%s': the path is too long", path);
    return false;
  }
  PathString full = make_full_path(path);
  for (const RunFile& f : files)
    if (strcasecmp(f.path, full) == 0) return true;
  RunFile f;
  memcpy(f.path, full.c_str(), full.length() + 1);
  f.mtime = get_file_time(full);
  files.push_back(f);
  return run_file(vm, full);
}

bool SqReloadableVM::needsReload() {
  for (const RunFile& f : files)
    if (get_file_time(f.path) != f.mtime) return true;
  return false;
}

bool SqReloadableVM::reload(bool force) { return rerun(force); }

SqReloadableVM* get_reloadable_vm(HSQUIRRELVM v) {
  SQInteger top = sq_gettop(v);
  sq_pushregistrytable(v);
  sq_pushstring(v, REGISTRY_KEY, -1);
  if (SQ_FAILED(sq_rawget(v, -2))) {
    sq_settop(v, top);
    debug("getReg '%s' failed", REGISTRY_KEY);
    throw SquirrelError(v);
  }
  SQUserPointer p = nullptr;
  bool ok = SQ_SUCCEEDED(sq_getuserpointer(v, -1, &p));
  sq_settop(v, top);
  if (!ok) throw SquirrelError("sq_get*() failed (type error)");
  return (SqReloadableVM*)p;
}

// The script's include(path): runs the file once in the calling machine.
// The script gets null whatever happened; a failing file has already been
// reported by the machine's handlers.
static void dispatch_include(const char* path, HSQUIRRELVM v) {
  SqReloadableVM* owner = get_reloadable_vm(v);
  ASSERT(owner);
  owner->include(path);
}

typedef void (*IncludeDispatcher)(const char* path, HSQUIRRELVM v);

static SQInteger include_thunk(HSQUIRRELVM v) {
  SQUserPointer up = nullptr;
  sq_getuserpointer(v, sq_gettop(v), &up);
  if (!up) return sq_throwerror(v, "no function stored for C++ call");
  sq_poptop(v);
  try {
    const char* path = get_string(v, 2);
    ((IncludeDispatcher)up)(path, v);
  } catch (const SquirrelError& e) {
    return throw_to_script(v, e);
  }
  return 0;
}

static void register_std_libs(HSQUIRRELVM v) {
  sq_pushroottable(v);
  sqstd_register_mathlib(v);
  sqstd_register_stringlib(v);
  sq_poptop(v);
}

bool SqReloadableVM::bind() {
  register_closure(SqObject::root(vm), "include", include_thunk, (SQUserPointer)&dispatch_include);
  register_std_libs(vm);
  return true;
}

bool SqReloadableVM::rerun(bool force) {
  // Files that an edited script includes for the first time run inside
  // include and are listed after the ones walked here, so none runs twice.
  int n = files.count();
  for (int i = 0; i < n; i++) {
    int64_t t = get_file_time(files[i].path);
    if (!force && t == files[i].mtime) continue;
    files[i].mtime = t;
    char path[260];
    memcpy(path, files[i].path, sizeof(path));
    if (!run_file(vm, path)) return false;
  }
  return true;
}

void create_scratch_vm() {
  close_scratch_vm();
  scratch_vm = create_vm(1024);
  if (!scratch_vm) fatal("Can't create scratch VM");
  register_std_libs(scratch_vm);
}

void close_scratch_vm() {
  close_vm(scratch_vm);
  scratch_vm = nullptr;
}
