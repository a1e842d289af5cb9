#include "objects/base_object.h"

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

// The script side of a dying object: its instance loses the native pointer
// (so scripts see a dead object) and the handle lets go of it.
static void detach_script_instance(sqbind::SqObject& h) {
  HSQUIRRELVM v = h.vm;
  if (!v) return;
  SQInteger top = sq_gettop(v);
  if (h.push(v) && sq_gettype(v, -1) == OT_INSTANCE) sq_setinstanceup(v, -1, nullptr);
  sq_settop(v, top);
  h.release();
}

BaseObject::~BaseObject() {
  detach_script_instance(script);
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

void BaseObject::push(HSQUIRRELVM) { throw sqbind::SquirrelError("Can't push BaseObject to script"); }

void* BaseObject::operator new(size_t bytes) {
  void* p = dlmalloc(bytes);
  if (!p) fatal("out of memory (game object of %d bytes)", (int)bytes);
  return p;
}

void BaseObject::operator delete(void* p) { dlfree(p); }
