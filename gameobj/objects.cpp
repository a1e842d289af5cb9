// Object lifetime in the module: creation by class id, the lists, serial
// numbers, deletion of destroyed objects and removal of everything.
#include <algorithm>
#include <cstring>
#include <type_traits>
#include "module.h"

namespace gameobj {

// The list of class T when it has one.
template <class T>
DynArray<BaseObject*>* own_list() {
  return nullptr;
}
#define GAMEOBJ_OWN_LIST(c)                                   \
  template <>                                                 \
  DynArray<BaseObject*>* own_list<c>() {                      \
    return reinterpret_cast<DynArray<BaseObject*>*>(&c##_list); \
  }
QV_OBJECT_LISTS(GAMEOBJ_OWN_LIST)
#undef GAMEOBJ_OWN_LIST

template <class T>
BaseObject* make_object() {
  return new typename ConcreteClass<T>::type();
}

template <class T>
ClassInfo make_class_info(const char* name) {
  ClassInfo ci = {name, &make_object<T>, {own_list<T>(), nullptr}};
  if constexpr (std::is_base_of_v<SpellObject, T> && !std::is_same_v<SpellObject, T>)
    ci.lists[1] = own_list<SpellObject>();
  return ci;
}

#define GAMEOBJ_CLASS_INFO(name, base, how) make_class_info<name>(#name),
const ClassInfo class_info[NUM_CLASS_IDS] = {{nullptr, nullptr, {nullptr, nullptr}},
                                             GAMEOBJ_CLASSES(GAMEOBJ_CLASS_INFO)};
#undef GAMEOBJ_CLASS_INFO

// Next serial id; 0 until the first object is made by this build of the
// module, which then continues after the highest id found in the lists (they
// outlive a module swap, this counter does not).
static int next_ser_id = 0;

static int highest_ser_id() {
  int m = 0;
  for (const ObjectListRef& l : object_lists)
    for (BaseObject* o : *l.list) m = std::max(m, o->ser_id);
  for (BaseObject* o : deleted_gameobjs) m = std::max(m, o->ser_id);
  return m;
}

BaseObject* create_object(int id) {
  if (id <= CLS_NONE || id >= NUM_CLASS_IDS) return nullptr;
  const ClassInfo& ci = class_info[id];
  // An object outside every list could be neither found, saved nor removed.
  if (!ci.lists[0]) return nullptr;
  BaseObject* o = ci.create();
  if (next_ser_id == 0) next_ser_id = highest_ser_id() + 1;
  o->ser_id = next_ser_id++;
  for (DynArray<BaseObject*>* l : ci.lists)
    if (l) l->push_back(o);
  return o;
}

void continue_ser_ids_after(int ser_id) {
  if (next_ser_id != 0 && next_ser_id <= ser_id) next_ser_id = ser_id + 1;
}

void remove_from_lists(BaseObject* obj) {
  int id = obj->getClassId();
  if (id <= CLS_NONE || id >= NUM_CLASS_IDS) return;
  for (DynArray<BaseObject*>* l : class_info[id].lists) {
    if (!l) continue;
    int i = l->find(obj);
    if (i >= 0) l->erase(i);
  }
}

BaseObject* new_gameobj_by_id(int class_id) { return create_object(class_id); }

int gameobj_id_by_name(const char* class_name) {
  if (!class_name) return 0;
  // Ids rise with the names, so the table is sorted by name.
  int lo = 1, hi = NUM_CLASS_IDS - 1;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    int c = strcmp(class_info[mid].name, class_name);
    if (c == 0) return mid;
    if (c < 0)
      lo = mid + 1;
    else
      hi = mid - 1;
  }
  return 0;
}

BaseObject* get_gameobj_by_ser_id(int ser_id) {
  if (ser_id <= 0) return nullptr;
  for (const ObjectListRef& l : object_lists)
    for (BaseObject* o : *l.list)
      if (o->ser_id == ser_id) return o;
  return nullptr;
}

void for_each_game_object(GameObjVisitor fn, void* ctx) {
  // An object in two lists is visited once: only through its own class's list.
  for (const ObjectListRef& l : object_lists)
    for (int i = 0; i < l.list->count(); i++) {
      BaseObject* o = (*l.list)[i];
      int id = o->getClassId();
      if (o->state == OBJ_ALIVE && class_info[id].lists[0] == l.list) fn(o, ctx);
    }
}

Player* get_local_player() { return local_player; }

int count_alive_monsters() {
  int n = 0;
  for (DynArray<BaseObject*>* l : {own_list<LandMonster>(), own_list<BirdMonster>(),
                                   own_list<WyvernMonster>()})
    for (BaseObject* o : *l) n += o->state == OBJ_ALIVE;
  return n;
}

void delete_gameobj() {
  // Deleting may destroy further objects (through onDestroy of members), so
  // take the queue before freeing anything.
  while (!deleted_gameobjs.empty()) {
    DynArray<BaseObject*> queue = std::move(deleted_gameobjs);
    for (BaseObject* o : queue) {
      remove_from_lists(o);
      if (o == local_player) local_player = nullptr;
      delete o;
    }
  }
}

void remove_all_gameobj() {
  DynArray<BaseObject*> all;
  for (const ObjectListRef& l : object_lists) {
    all.append(l.list->data(), l.list->count());
    l.list->release();
  }
  all.append(deleted_gameobjs.data(), deleted_gameobjs.count());
  deleted_gameobjs.release();
  std::sort(all.begin(), all.end());
  BaseObject** end = std::unique(all.begin(), all.end());
  local_player = nullptr;
  for (BaseObject** p = all.begin(); p != end; p++) delete *p;
}

}  // namespace gameobj
