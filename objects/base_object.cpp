#include "objects/base_object.h"
#include <stdexcept>

DynArray<BaseObject*> deleted_gameobjs;

void weak_ref_detach(WeakRefLink* r) {
  BaseObject* t = r->target;
  if (t) {
    if (r->next == r) {
      t->weak_refs = nullptr;
    } else {
      r->prev->next = r->next;
      r->next->prev = r->prev;
      if (t->weak_refs == r) t->weak_refs = r->next;
    }
  }
  r->target = nullptr;
  r->prev = r->next = nullptr;
}

void weak_ref_attach(WeakRefLink* r, BaseObject* t) {
  if (r->target == t) return;
  weak_ref_detach(r);
  if (!t) return;
  r->target = t;
  WeakRefLink* head = t->weak_refs;
  if (!head) {
    r->prev = r->next = r;
    t->weak_refs = r;
  } else {
    // Append before the head, at the end of the circle.
    r->next = head;
    r->prev = head->prev;
    head->prev->next = r;
    head->prev = r;
  }
}

static void clear_weak_refs(BaseObject* o) {
  WeakRefLink* r = o->weak_refs;
  o->weak_refs = nullptr;
  if (!r) return;
  WeakRefLink* first = r;
  do {
    WeakRefLink* next = r->next;
    r->target = nullptr;
    r->prev = r->next = nullptr;
    r = next;
  } while (r && r != first);
}

BaseObject::~BaseObject() {
  // The script instance is detached by the binding layer, which is the only
  // code that sets the handle: until it exists no object has a script
  // instance and the handle stays null here.
  clear_weak_refs(this);
}

void BaseObject::destroy() {
  if (state != OBJ_ALIVE) return;
  state = OBJ_DESTROYED;
  deleted_gameobjs.push_back(this);
  onDestroy();
}

void BaseObject::onDestroy() {}
void BaseObject::onLoaded() {}
int BaseObject::onMessage(int) { return 0; }
const char* BaseObject::getClassName() { return "BaseObject"; }
int BaseObject::getClassId() { return 0; }

void BaseObject::push(HSQUIRRELVM) {
  // The binding layer's SquirrelError takes the place of this exception type.
  throw std::runtime_error("Can't push BaseObject to script");
}

void* BaseObject::operator new(size_t bytes) {
  void* p = dlmalloc(bytes);
  if (!p) fatal("out of memory (game object of %d bytes)", (int)bytes);
  return p;
}

void BaseObject::operator delete(void* p) { dlfree(p); }
