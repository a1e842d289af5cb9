// Root class of every game object, weak references to objects, and the queue
// of destroyed objects. Objects are created by the game-object module but live
// on the shared heap and in host-owned lists, so they outlive a module swap;
// the field order and the order of the virtual operations are part of the
// contract with the module.
#pragma once
#include <cstddef>
#include "lib/dynArray.h"
#include "script/sqbind.h"

class BaseObject;

// One weak reference: its target and its links in the target's circular list
// of references. Cleared (all three null) when the target is destroyed.
struct WeakRefLink {
  BaseObject* target = nullptr;
  WeakRefLink* prev = nullptr;
  WeakRefLink* next = nullptr;
};

// Links r into t's list (after unlinking it from its previous target); t may be null.
void weak_ref_attach(WeakRefLink* r, BaseObject* t);
// Unlinks r from its target's list and clears it.
void weak_ref_detach(WeakRefLink* r);

// Typed weak reference to a game object.
template <class T>
struct WeakRef : WeakRefLink {
  WeakRef() = default;
  explicit WeakRef(T* t) { weak_ref_attach(this, t); }
  WeakRef(const WeakRef& o) : WeakRefLink() { weak_ref_attach(this, o.target); }
  WeakRef& operator=(const WeakRef& o) {
    if (this != &o) weak_ref_attach(this, o.target);
    return *this;
  }
  WeakRef& operator=(T* t) {
    weak_ref_attach(this, t);
    return *this;
  }
  ~WeakRef() { weak_ref_detach(this); }
  T* get() const { return (T*)target; }
  T* operator->() const { return get(); }
  explicit operator bool() const { return target != nullptr; }
};

// State word values.
enum {
  OBJ_ALIVE = 0,
  OBJ_DESTROYED = 1,  // queued in deleted_gameobjs
  OBJ_SWAP_MARK = 2,  // or-ed in while the module is being swapped
};

class BaseObject {
 public:
  WeakRefLink* weak_refs = nullptr;  // first reference of the circular list, null when none
  sqbind::SqObject script;           // the object's script instance; null until first pushed
  int state = OBJ_ALIVE;
  int ser_id = 0;  // number in saved data; the module numbers its objects

  BaseObject() = default;
  BaseObject(const BaseObject&) = delete;
  BaseObject& operator=(const BaseObject&) = delete;

  // Detaches the script instance (its native pointer becomes null, so the
  // script sees a dead object), releases the handle and clears every weak
  // reference to the object.
  virtual ~BaseObject();
  // Queues the object for deletion once: state 1, appended to
  // deleted_gameobjs, then onDestroy. Does nothing when the state is not 0.
  virtual void destroy();
  virtual void onDestroy();
  virtual void onLoaded();
  // A message with one argument; the module gives it its meaning.
  virtual int onMessage(int msg);
  virtual const char* getClassName();
  // The module's class id of the object (0 for the base).
  virtual int getClassId();
  // Pushes the object's script instance; the base throws SquirrelError.
  virtual void push(HSQUIRRELVM vm);

  // Game objects live on the shared heap.
  static void* operator new(size_t bytes);
  static void operator delete(void* p);
};

// Objects queued by destroy; the module deletes them (its delete_gameobj).
extern DynArray<BaseObject*> deleted_gameobjs;
