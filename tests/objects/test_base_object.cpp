// The host side of game objects: destroy, weak references, the spell and
// resource tables.
#include <gtest/gtest.h>
#include <cstring>
#include "objects/base_object.h"
#include "objects/spells.h"

namespace {

struct CountingObject : BaseObject {
  int destroyed_calls = 0;
  void onDestroy() override { destroyed_calls++; }
};

TEST(BaseObject, DestroyTwiceQueuesOnceAndNotifiesOnce) {
  CountingObject* o = new CountingObject;
  EXPECT_EQ(o->state, OBJ_ALIVE);
  EXPECT_EQ(o->ser_id, 0);
  int before = deleted_gameobjs.count();
  o->destroy();
  o->destroy();
  EXPECT_EQ(o->state, OBJ_DESTROYED);
  EXPECT_EQ(o->destroyed_calls, 1);
  ASSERT_EQ(deleted_gameobjs.count(), before + 1);
  EXPECT_EQ(deleted_gameobjs.back(), o);
  deleted_gameobjs.pop_back();
  delete o;
}

TEST(BaseObject, DeletingTheTargetClearsEveryWeakReference) {
  BaseObject* a = new BaseObject;
  BaseObject* b = new BaseObject;
  WeakRef<BaseObject> r1(a), r2(a), r3(a);
  {
    WeakRef<BaseObject> gone(a);  // leaves the middle of the circle when it goes
  }
  r2 = b;  // moves from a's list to b's
  EXPECT_EQ(r2.get(), b);
  WeakRef<BaseObject> copy(r1);
  delete a;
  for (WeakRefLink* r : {(WeakRefLink*)&r1, (WeakRefLink*)&r3, (WeakRefLink*)&copy}) {
    EXPECT_EQ(r->target, nullptr);
    EXPECT_EQ(r->prev, nullptr);
    EXPECT_EQ(r->next, nullptr);
  }
  EXPECT_EQ(r2.get(), b);
  EXPECT_EQ(b->weak_refs, &r2);
  r2 = nullptr;
  EXPECT_EQ(b->weak_refs, nullptr);
  delete b;
}

TEST(BaseObject, BaseCannotBePushedToScript) {
  BaseObject o;
  EXPECT_STREQ(o.getClassName(), "BaseObject");
  try {
    o.push(nullptr);
    FAIL() << "push did not throw";
  } catch (const sqbind::SquirrelError& e) {
    EXPECT_STREQ(e.what(), "Can't push BaseObject to script");
  }
}

TEST(SpellTable, LookupByIdAndExactName) {
  int n = 0;
  for (SpellInfo* s = spell_info; s->class_id; s++, n++) {
    EXPECT_EQ(get_spell_info(s->class_id), s);
    EXPECT_EQ(get_spell_info(s->class_name), s);
    EXPECT_EQ(s->icon_id, -1);
  }
  EXPECT_EQ(n, NUM_SPELLS);
  SpellInfo* portal = get_spell_info(79);
  ASSERT_NE(portal, nullptr);
  EXPECT_STREQ(portal->class_name, "UsePortalSpell");
  EXPECT_STREQ(portal->title, "Use portal");
  EXPECT_EQ(portal->order, 130);
  EXPECT_EQ(get_spell_info(0), nullptr);
  EXPECT_EQ(get_spell_info(1), nullptr);
  EXPECT_EQ(get_spell_info("fireballspell"), nullptr);
  EXPECT_EQ(get_spell_info((const char*)nullptr), nullptr);
}

TEST(GlobResTable, IdsByName) {
  EXPECT_EQ(get_glob_res_id("shard"), 0);
  EXPECT_EQ(get_glob_res_id("seed"), 4);
  EXPECT_STREQ(glob_res_info[3].title, "Fallen star");
  EXPECT_EQ(get_glob_res_id("Shard"), -1);
  EXPECT_EQ(get_glob_res_id(nullptr), -1);
}

}  // namespace

namespace {

// A script instance whose native pointer is the object, held by the object's
// handle strongly or through a weak reference.
void attach_instance(HSQUIRRELVM v, BaseObject* o, bool weak, HSQOBJECT* instance) {
  sq_newclass(v, SQFalse);
  sq_createinstance(v, -1);
  sq_setinstanceup(v, -1, o);
  sq_getstackobj(v, -1, instance);
  sq_addref(v, instance);  // the test's own reference, to look at the instance afterwards
  o->script = weak ? sqbind::SqObject::weakFromStack(v, -1) : sqbind::SqObject::fromStack(v, -1);
  sq_settop(v, 0);
}

TEST(BaseObject, DeletionLeavesTheScriptInstanceWithoutItsObject) {
  HSQUIRRELVM v = sq_open(1024);
  for (bool weak : {false, true}) {
    BaseObject* o = new BaseObject;
    HSQOBJECT instance;
    attach_instance(v, o, weak, &instance);
    delete o;
    sq_pushobject(v, instance);
    SQUserPointer up = &up;
    ASSERT_TRUE(SQ_SUCCEEDED(sq_getinstanceup(v, -1, &up, nullptr)));
    EXPECT_EQ(up, nullptr) << (weak ? "weak" : "strong");
    sq_settop(v, 0);
    sq_release(v, &instance);
  }
  sq_close(v);
}

}  // namespace
