#include "objects/gameobj_host.h"
#include <dlfcn.h>
#include <cstring>
#include "lib/check.h"
#include "objects/gameobj_ops.h"
#include "platform/paths.h"

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

TempString<260> gameobj_source_folder;
TempString<260> gameobj_main_source;

void init_gameobj_module() {
  gameobj_source_folder = "../compiler/";
  gameobj_main_source = "main.ls";
  // LATER(module reload): scan the module's sources from the main file for the rebuild.
  load_gameobj_module(make_full_path(GAMEOBJ_MODULE_FILE));
  debug("gameobj module loaded and bound (%d operations, %d classes)", NUM_GAMEOBJ_OPS,
        NUM_GAMEOBJ_CLASSES - 1);
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
