// The module's two entry points: the operations by name and the class table.
// Everything else stays hidden inside the module (-fvisibility=hidden), so
// the host's pointers named like the operations never bind to them.
#include <cstring>
#include "module.h"

#define GAMEOBJ_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Export {
  const char* name;
  void* fn;
};

// static_cast checks each function against the signature the host binds.
#define GAMEOBJ_EXPORT_ROW(ret, name, params) \
  {#name, reinterpret_cast<void*>(static_cast<ret(*) params>(&gameobj::name))},
const Export exports[] = {
    QV_GAMEOBJ_OPS(GAMEOBJ_EXPORT_ROW){"link_gui", reinterpret_cast<void*>(&gameobj::link_gui)},
};
#undef GAMEOBJ_EXPORT_ROW
static_assert(sizeof(exports) / sizeof(exports[0]) == NUM_GAMEOBJ_OPS + 1);

// Test builds of the module leave things out to exercise the host's checks:
// GAMEOBJ_TEST_OMIT_OP names an operation not exported, GAMEOBJ_TEST_CLASS_COUNT
// gives a class table of another size, GAMEOBJ_TEST_NO_VTABLES drops that entry point.
#ifndef GAMEOBJ_TEST_CLASS_COUNT
#define GAMEOBJ_TEST_CLASS_COUNT NUM_CLASS_IDS
#endif

// The value of an object's virtual-table pointer for class T.
template <class T>
void* vtable_of() {
  typename gameobj::ConcreteClass<T>::type probe;
  void* vt;
  memcpy(&vt, (void*)&probe, sizeof(vt));
  return vt;
}

struct ClassTable {
  void* entries[GAMEOBJ_TEST_CLASS_COUNT] = {};
  ClassTable() {
    int i = 1;
#define GAMEOBJ_VTABLE_ROW(name, base, how) entries[i++] = vtable_of<name>();
    GAMEOBJ_CLASSES(GAMEOBJ_VTABLE_ROW)
#undef GAMEOBJ_VTABLE_ROW
    // A test table larger than the real one repeats its first class.
    for (; i < GAMEOBJ_TEST_CLASS_COUNT; i++) entries[i] = entries[1];
  }
};

}  // namespace

GAMEOBJ_EXPORT void* get_gameobj_func_by_name(const char* name) {
  if (!name) return nullptr;
#ifdef GAMEOBJ_TEST_OMIT_OP
  if (strcmp(name, GAMEOBJ_TEST_OMIT_OP) == 0) return nullptr;
#endif
  for (const Export& e : exports)
    if (strcmp(e.name, name) == 0) return e.fn;
  return nullptr;
}

#ifndef GAMEOBJ_TEST_NO_VTABLES
GAMEOBJ_EXPORT void** get_gameobj_vtables(int* count) {
  static ClassTable table;
  if (count) *count = GAMEOBJ_TEST_CLASS_COUNT;
  return table.entries;
}
#endif
