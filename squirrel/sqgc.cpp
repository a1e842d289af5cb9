// The cycle collector. Reference counting frees everything except cycles;
// sq_collectgarbage finds those by trial deletion:
//   1. every collectable object starts with its reference count;
//   2. each reference from one collectable to another is subtracted;
//   3. what keeps a positive count is referenced from outside the object
//      graph (a VM stack, the host, the shared state) and is alive, as is
//      everything reachable from it;
//   4. the rest is garbage: hooks run, references are dropped, memory freed.
// No root set has to be enumerated, so a value held anywhere by C code (with a
// counted reference) can never be collected by mistake.
#include "sqvm.h"
#include <cstdlib>
#include <vector>

namespace {

inline bool collectable(const SQObject& o) {
  switch (o._type) {
    case OT_TABLE: case OT_ARRAY: case OT_USERDATA: case OT_CLOSURE: case OT_NATIVECLOSURE:
    case OT_GENERATOR: case OT_CLASS: case OT_INSTANCE:
      return true;
    case OT_THREAD:
      return o._unVal.pThread != o._unVal.pThread->ss->rootvm;
    default:
      return false;
  }
}

// Calls f for every counted reference from o to another collectable object.
template <class F>
void for_each_child(SQCollectable* o, F&& f) {
  auto val = [&](const SQObject& x) {
    if (collectable(x)) f((SQCollectable*)x._unVal.pRefCounted);
  };
  switch (o->kind) {
    case K_TABLE: {
      SQTable* t = (SQTable*)o;
      for (uint32_t i = 0; i < t->cap; i++) {
        SQTableNode& n = t->nodes[i];
        if (n.val._type == 0) continue;
        SQObject k;
        k._type = n.keytype;
        k._unVal = n.key;
        val(k);
        val(n.val);
      }
      if (t->delegate) f(t->delegate);
      break;
    }
    case K_ARRAY: {
      SQArray* a = (SQArray*)o;
      for (uint32_t i = 0; i < a->size; i++) val(a->vals[i]);
      break;
    }
    case K_USERDATA:
      if (SQTable* d = ((SQUserData*)o)->delegate) f(d);
      break;
    case K_CLOSURE: {
      SQClosure* c = (SQClosure*)o;
      for (uint32_t i = 0; i < c->proto->nouters; i++)
        if (c->outers[i]) f(c->outers[i]);
      for (uint32_t i = 0; c->defaults && i < c->proto->ndefaults; i++) val(c->defaults[i]);
      if (c->base) f(c->base);
      break;
    }
    case K_NATIVECLOSURE: {
      SQNativeClosure* c = (SQNativeClosure*)o;
      for (uint32_t i = 0; i < c->nouters; i++) val(c->outers[i]);
      break;
    }
    case K_OUTER: {
      SQOuter* u = (SQOuter*)o;
      if (u->valptr == &u->value) val(u->value);
      break;
    }
    case K_GENERATOR: {
      SQGenerator* g = (SQGenerator*)o;
      val(g->closure);
      for (uint32_t i = 0; i < g->stack.size; i++) val(g->stack[i]);
      for (SQOuter* u = g->outers; u; u = u->next) f(u);
      break;
    }
    case K_CLASS: {
      SQClass* c = (SQClass*)o;
      if (c->base) f(c->base);
      if (c->members) f(c->members);
      for (uint32_t i = 0; i < c->fields.size; i++) {
        val(c->fields[i].val);
        val(c->fields[i].attrs);
      }
      for (uint32_t i = 0; i < c->methods.size; i++) {
        val(c->methods[i].val);
        val(c->methods[i].attrs);
      }
      for (int i = 0; i < MT_LAST; i++) val(c->metamethods[i]);
      val(c->attributes);
      break;
    }
    case K_INSTANCE: {
      SQInstance* i = (SQInstance*)o;
      if (i->klass) f(i->klass);
      for (uint32_t k = 0; k < i->nvalues; k++) val(i->values[k]);
      break;
    }
    case K_THREAD: {
      SQVM* t = (SQVM*)o;
      for (int32_t i = 0; i < t->stacksize; i++) val(t->stack[i]);
      val(t->roottable);
      val(t->errorhandler);
      val(t->debughook);
      val(t->lasterror);
      val(t->retval);
      for (SQOuter* u = t->openouters; u; u = u->next) f(u);
      break;
    }
    default: break;
  }
}

constexpr uint8_t GC_REACHABLE = 1;

}  // namespace

SQInteger gc_collect(SQSharedState* ss, SQArray* resurrected) {
  SQCollectable* head = &ss->gc_head;
  std::vector<SQCollectable*> all;
  for (SQCollectable* o = head->gc_next; o != head; o = o->gc_next) {
    o->gc_count = (int32_t)o->refs;
    o->gcflags &= (uint8_t)~GC_REACHABLE;
    all.push_back(o);
  }
  for (SQCollectable* o : all)
    for_each_child(o, [](SQCollectable* c) { c->gc_count--; });
  std::vector<SQCollectable*> work;
  for (SQCollectable* o : all) {
    if (o->gc_count > 0 && !(o->gcflags & GC_REACHABLE)) {
      o->gcflags |= GC_REACHABLE;
      work.push_back(o);
    }
  }
  while (!work.empty()) {
    SQCollectable* o = work.back();
    work.pop_back();
    for_each_child(o, [&](SQCollectable* c) {
      if (!(c->gcflags & GC_REACHABLE)) {
        c->gcflags |= GC_REACHABLE;
        work.push_back(c);
      }
    });
  }
  std::vector<SQCollectable*> garbage;
  for (SQCollectable* o : all)
    if (!(o->gcflags & GC_REACHABLE)) garbage.push_back(o);
  if (resurrected) {
    for (SQCollectable* o : garbage)
      if (o->kind != K_OUTER) array_push(resurrected, mk_obj(kind_type(o->kind), o));
    return (SQInteger)garbage.size();
  }
  for (SQCollectable* o : garbage) rc_addref(o);
  for (SQCollectable* o : garbage) obj_run_hook(o);
  for (SQCollectable* o : garbage) obj_clear_refs(o);
  for (SQCollectable* o : garbage) rc_release(o);
  return (SQInteger)garbage.size();
}
