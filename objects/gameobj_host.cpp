#include "objects/gameobj_host.h"
#include <dlfcn.h>
#include <cstring>
#include "lib/check.h"
#include "objects/gameobj_ops.h"

#define QV_DEFINE_GAMEOBJ_OP(ret, name, params) ret(*name) params = nullptr;
QV_GAMEOBJ_OPS(QV_DEFINE_GAMEOBJ_OP)
#undef QV_DEFINE_GAMEOBJ_OP

#define QV_GAMEOBJ_OP_NAME(ret, name, params) #name,
const char* const gameobj_op_names[] = {QV_GAMEOBJ_OPS(QV_GAMEOBJ_OP_NAME)};
#undef QV_GAMEOBJ_OP_NAME
static_assert(sizeof(gameobj_op_names) / sizeof(gameobj_op_names[0]) == NUM_GAMEOBJ_OPS);

void* gameobj_vtables[NUM_GAMEOBJ_CLASSES];

static void* module_handle = nullptr;

typedef void* (*GetFuncByName)(const char* name);
typedef void** (*GetVtables)(int* count);

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
  // Objects that outlive a module swap get the new build's tables here; the
  // swap itself comes with the module reload. On the first load the lists are empty.
  memcpy(gameobj_vtables, table, sizeof(gameobj_vtables));

  void (*link_gui)() = (void (*)())by_name("link_gui");
  if (!link_gui) fatal("no \"%s\" function in gameobj.dll", "link_gui");
  module_handle = h;
  link_gui();
}

void unload_gameobj_module() {
#define QV_CLEAR_GAMEOBJ_OP(ret, name, params) name = nullptr;
  QV_GAMEOBJ_OPS(QV_CLEAR_GAMEOBJ_OP)
#undef QV_CLEAR_GAMEOBJ_OP
  if (module_handle) dlclose(module_handle);
  module_handle = nullptr;
}

bool gameobj_module_loaded() { return module_handle != nullptr; }
