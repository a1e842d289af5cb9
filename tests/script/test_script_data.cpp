// The script data serializer in the world script machine: the encodings
// byte by byte where they are fixed, the object graph with shared objects
// and cycles, instances with persistent members, functions found by their
// prototype, native game objects by serial id, BitMap by value, the end of a
// load, and the refusal of bad data before anything is made for it.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "objects/base_object.h"
#include "objects/gameobj_ops.h"
#include "script/scriptData.h"
#include "tests/worldgen/worldgen_fixture.h"

using sqbind::SqObject;

namespace {

// A native game object whose push makes an instance of the script class
// "Thing", which is bound with the BaseObject tag.
struct Thing : BaseObject {
  void push(HSQUIRRELVM v) override {
    sqbind::push_instance(v, this, sqbind::class_tag<BaseObject>(), "Thing", nullptr);
  }
};
std::vector<Thing*> things;
BaseObject* thing_by_ser_id(int id) {
  for (Thing* t : things)
    if (t->ser_id == id) return t;
  return nullptr;
}

const char* const SCRIPT = R"(
class Base {
  function hello() { return "base"; }
  function shout() { return "BASE"; }
}
class Derived extends Base {
  function shout() { return "DERIVED"; }
}
class Keep {
  </ persistent = true /> kept = 1;
  skipped = 2;
  loaded = false;
  function onLoaded() { loaded = true; }
}
function global_fn() { return 42; }
)";

struct ScriptData : WorldScriptTest {
  void SetUp() override {
    WorldScriptTest::SetUp();
    ASSERT_EQ(start(SCRIPT), "");
    sqbind::create_class(vm(), "Thing", nullptr, sqbind::class_tag<BaseObject>());
    get_gameobj_by_ser_id = thing_by_ser_id;
    clear_script_data_objects();
  }
  void TearDown() override {
    get_gameobj_by_ser_id = nullptr;
    clear_script_data_objects();
    WorldScriptTest::TearDown();
    for (Thing* t : things) delete t;
    things.clear();
  }

  SqObject global(const char* name) { return sqbind::getGlobal(vm(), name); }
  // The value of a script expression, kept in a table slot (not a root
  // slot, where functions are looked up).
  SqObject value_of(const std::string& expr) {
    EXPECT_EQ(run("if (!(\"box\" in getroottable())) ::box <- {}; ::box.v <- (" + expr + ");"), "");
    return sqbind::getSlot(global("box"), "v");
  }
  // Saves the value of a script expression through the given writer.
  std::string save(const std::string& expr, void (*writer)(const SqObject&, OutputStream&) = save_script_data) {
    SqObject v = value_of(expr);
    MemoryOutputStream out;
    writer(v, out);
    return std::string((const char*)out.bytes.data(), out.bytes.count());
  }
  // Loads bytes with the graph reader and stores the result as `loaded`.
  void load(const std::string& bytes) {
    MemoryInputStream in(bytes.data(), (int)bytes.size());
    SQInteger top = sq_gettop(vm());
    SqObject v = load_script_data(in, vm());
    EXPECT_EQ(sq_gettop(vm()), top);
    sqbind::set_root_object(vm(), "loaded", v);
  }
  // The message of a read error and the stack height afterwards.
  std::string load_error(const std::string& bytes, SqObject (*reader)(InputStream&, HSQUIRRELVM) = load_script_data) {
    MemoryInputStream in(bytes.data(), (int)bytes.size());
    SQInteger top = sq_gettop(vm());
    std::string msg = "no error";
    try {
      reader(in, vm());
    } catch (const InputStream::Exception& e) {
      msg = e.what();
    } catch (const sqbind::SquirrelError& e) {
      msg = std::string("SquirrelError: ") + e.what();
    }
    EXPECT_EQ(sq_gettop(vm()), top) << msg;
    return msg;
  }
  std::string save_error(const std::string& expr, void (*writer)(const SqObject&, OutputStream&) = save_script_data) {
    SqObject v = value_of(expr);
    MemoryOutputStream out;
    try {
      writer(v, out);
    } catch (const OutputStream::Exception& e) {
      EXPECT_EQ(e.position, -1);
      return e.what();
    }
    return "no error";
  }
};

std::string i32(int v) { return std::string((const char*)&v, 4); }
std::string str(const std::string& s) { return std::string(1, (char)SD_STRING) + i32((int)s.size()) + s; }
std::string b(std::initializer_list<int> bytes) {
  std::string s;
  for (int x : bytes) s += (char)x;
  return s;
}

// Ends a save or a load as the callers do.
void end_save() {
  MemoryOutputStream none;
  save_script_refs(none);
}

TEST_F(ScriptData, PlainDataEncodingsRoundTrip) {
  // Scalars and a table with its patched count; an empty table is 6 and 0.
  EXPECT_EQ(save("null", save_data), b({0}));
  EXPECT_EQ(save("true", save_data), b({1, 1}));
  EXPECT_EQ(save("-7", save_data), b({3}) + i32(-7));
  float f = 2.5f;
  EXPECT_EQ(save("2.5", save_data), b({4}) + std::string((const char*)&f, 4));
  EXPECT_EQ(save("\"ab\"", save_data), str("ab"));
  EXPECT_EQ(save("{}", save_data), b({6}) + i32(0));
  EXPECT_EQ(save("{ k = [1] }", save_data), b({6}) + i32(1) + str("k") + b({5}) + i32(1) + b({3}) + i32(1));
  // In the graph an empty table is a new object: 10, 6, count 0.
  EXPECT_EQ(save("{}"), b({10, 6}) + i32(0));
  end_save();

  std::string bytes = save("{ a = [null, false, 3, 0.25, \"x\", { y = -1 }], n = \"\" }", save_data);
  MemoryInputStream in(bytes.data(), (int)bytes.size());
  sqbind::set_root_object(vm(), "loaded", load_data(in, vm()));
  EXPECT_EQ(in.position(), (int)bytes.size());
  EXPECT_EQ(eval("loaded.a[0] == null && loaded.a[1] == false && loaded.a[2] == 3 && loaded.a[3] == 0.25"), "true");
  EXPECT_EQ(eval("loaded.a[4] + loaded.a[5].y + loaded.n"), "x-1");
  EXPECT_EQ(script_data_object_count(), 0);  // plain data registers nothing
  // Plain data refuses what it cannot hold.
  EXPECT_EQ(save_error("Base()", save_data), "unsupported Squirrel data type A008000");
  EXPECT_EQ(load_error(b({11}) + i32(0), load_data), "unknown Squirrel data type");
}

TEST_F(ScriptData, SharedObjectsAndCyclesAreWrittenOnceAndComeBackShared) {
  ASSERT_EQ(run("self <- []; self.append(self);"), "");
  EXPECT_EQ(save("self"), b({10, 5}) + i32(1) + b({11}) + i32(0));
  end_save();

  // An instance held by two tables: written once (10, 9 ...), then 11 + index.
  ASSERT_EQ(run("shared <- Keep(); shared.kept = 5;"
                "pair <- { first = { obj = shared }, second = { obj = shared } };"),
            "");
  std::string bytes = save("pair");
  std::string inst = b({10, 9}) + str("Keep") + i32(1) + str("kept") + b({3}) + i32(5);
  size_t at = bytes.find(inst);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(bytes.find(inst, at + 1), std::string::npos);
  // Object 0 is the pair, 1 the first inner table, 2 the instance; the
  // second inner table is object 3 and refers to object 2.
  EXPECT_NE(bytes.find(str("obj") + b({11}) + i32(2)), std::string::npos);
  EXPECT_EQ(script_data_object_count(), 4);
  end_save();
  EXPECT_EQ(script_data_object_count(), 0);

  bytes = save("[self, pair]");
  end_save();
  load(bytes);
  end_save();
  EXPECT_EQ(eval("loaded[0][0] == loaded[0]"), "true");
  EXPECT_EQ(eval("loaded[0] != self"), "true");  // a new array, not the old one
  EXPECT_EQ(eval("loaded[1].first.obj == loaded[1].second.obj"), "true");
  EXPECT_EQ(eval("loaded[1].first.obj instanceof Keep"), "true");
  EXPECT_EQ(eval("loaded[1].first.obj.kept"), "5");
}

TEST_F(ScriptData, InstancesKeepOnlyPersistentMembersAndSkipTheConstructor) {
  ASSERT_EQ(run("class Counted { </ persistent = 0 /> n = 0; constructed = false;"
                "  constructor() { constructed = true; } }"
                "k <- Keep(); k.kept = 7; k.skipped = 8;"
                "c <- Counted(); c.n = 3;"),
            "");
  load(save("[k, c]"));
  EXPECT_EQ(eval("loaded[0].kept"), "7");
  EXPECT_EQ(eval("loaded[0].skipped"), "2");  // the class's default: not saved
  EXPECT_EQ(eval("loaded[1].n"), "3");        // the attribute's value does not matter
  EXPECT_EQ(eval("loaded[1].constructed"), "false");

  // A chain of instances of many classes, each met first inside the last.
  ASSERT_EQ(run("local src = \"\";"
                "for (local i = 0; i < 12; i++) src += \"class C\" + i + \" { </ persistent = 1 /> next = null; id = \" + i + \"; }\";"
                "compilestring(src)();"
                "chain <- null;"
                "for (local i = 11; i >= 0; i--) { local c = getroottable()[\"C\" + i](); c.next = chain; chain = c; }"),
            "");
  std::string bytes = save("chain");
  MemoryOutputStream none;
  save_script_refs(none);
  load(bytes);
  EXPECT_EQ(eval("(function() { local n = 0; for (local c = loaded; c; c = c.next) n += c.id; return n; })()"), "66");

  // An instance of a class held in no root slot has no name to go by.
  EXPECT_EQ(save_error("(function() { local L = class { x = 1 }; return L(); })()"),
            "Cannot find instance class name");
}

TEST_F(ScriptData, FunctionsGoByTheirRootSlotOrTheirClass) {
  EXPECT_EQ(save("global_fn"), b({7}) + str("global_fn") + b({0}));
  // A method inherited unchanged belongs to the base class; an overriding
  // one to its own class.
  EXPECT_EQ(save("Derived.hello"), b({8}) + str("Base") + str("hello") + b({0}));
  EXPECT_EQ(save("Derived.shout"), b({8}) + str("Derived") + str("shout") + b({0}));
  // A bound environment follows the name.
  ASSERT_EQ(run("holder <- { tag = \"held\" };"
                "function tag_of() { return tag; }"
                "bound <- tag_of.bindenv(holder);"),
            "");
  EXPECT_EQ(save("bound").substr(0, 14), b({7}) + str("tag_of") + b({10, 6}));
  end_save();

  // The environment is held weakly by the closure, so the saved array also
  // holds it: the reference keeps the two the same table.
  std::string bytes = save("[global_fn, Derived.hello, Derived.shout, holder, bound]");
  end_save();
  EXPECT_NE(bytes.find(b({7}) + str("tag_of") + b({11}) + i32(1)), std::string::npos);
  load(bytes);
  end_save();
  EXPECT_EQ(eval("loaded[0]()"), "42");
  EXPECT_EQ(eval("loaded[1].call(Derived())"), "base");
  EXPECT_EQ(eval("loaded[2].call(Derived())"), "DERIVED");
  EXPECT_EQ(eval("loaded[4]()"), "held");

  // Functions that no root slot or class holds, and native ones, are refused.
  EXPECT_EQ(save_error("{ f = @() 1 }"), "Cannot find Squirrel function name");
  clear_script_data_objects();
  EXPECT_EQ(save_error("print"), "unsupported Squirrel data type 8000200");
  EXPECT_EQ(save_error("print", save_ref), "unsupported Squirrel ref/data type 8000200");

  struct Case {
    std::string bytes, error;
  } cases[] = {
      {b({7}) + str("nope") + b({0}), "No 'nope' function in script"},
      {b({8}) + str("Nope") + str("m") + b({0}), "No 'Nope' class in script"},
      {b({8}) + str("Base") + str("nope") + b({0}), "No 'nope' method in script class Base"},
      {b({10, 9}) + str("Nope") + i32(0), "No 'Nope' class in script"},
      {b({10, 9}) + str("global_fn") + i32(0), "Can't create instance of global_fn"},
      {b({10, 9}) + str("Keep") + i32(1) + str("nomember") + b({3}) + i32(1),
       "error setting Squirrel instance member value"},
      {b({7}) + str("global_fn") + b({3}) + i32(5), "Can't bind environment to closure"},
  };
  for (const Case& c : cases) {
    clear_script_data_objects();
    EXPECT_EQ(load_error(c.bytes), c.error);
  }
}

TEST_F(ScriptData, NativeGameObjectsGoBySerialId) {
  Thing* t = new Thing;
  t->ser_id = 7;
  things.push_back(t);
  t->push(vm());
  sqbind::set_root_object(vm(), "thing", SqObject::fromStack(vm(), -1));
  sq_poptop(vm());

  EXPECT_EQ(save("[thing, thing]"), b({10, 5}) + i32(2) + b({10, 12}) + i32(7) + b({11}) + i32(1));
  EXPECT_EQ(save("thing", save_ref), b({11}) + i32(1));  // a listed instance goes as its index
  end_save();
  EXPECT_EQ(save("thing", save_ref), b({12}) + i32(7));

  load(b({12}) + i32(7));
  SqObject obj = global("loaded");
  obj.push(vm());
  SQUserPointer up = nullptr;
  EXPECT_TRUE(SQ_SUCCEEDED(sq_getinstanceup(vm(), -1, &up, sqbind::class_tag<BaseObject>())));
  sq_poptop(vm());
  EXPECT_EQ(up, (SQUserPointer)t);
  // A serial id that no object has reads as null, also as a new object.
  load(b({12}) + i32(99));
  EXPECT_EQ(eval("loaded == null"), "true");
  load(b({10, 12}) + i32(99));
  EXPECT_EQ(eval("loaded == null"), "true");
  EXPECT_EQ(script_data_object_count(), 1);
  clear_script_data_objects();

  // An instance of the game object class without an object behind it.
  EXPECT_EQ(save_error("Thing()"), "Native instance pointer is null");
  clear_script_data_objects();
  EXPECT_EQ(save_error("Keep()", save_ref), "Reference to unsaved instance");
  EXPECT_EQ(save_error("vec4f(1, 2, 3, 4)"), "Unsupported native instance");
}

TEST_F(ScriptData, BitMapsGoByValue) {
  ASSERT_EQ(run("bits <- BitMap(0); bits.set(3, 4, true); bits.set(255, 0, true);"), "");
  std::string bytes = save("bits");
  ASSERT_EQ(bytes.size(), 2u + 8192u);
  EXPECT_EQ(bytes.substr(0, 2), b({10, 100}));
  end_save();
  load(bytes);
  EXPECT_EQ(eval("loaded.get(3, 4) && loaded.get(255, 0) && !loaded.get(4, 4) && loaded != bits"), "true");
  clear_script_data_objects();
  EXPECT_EQ(load_error(bytes.substr(0, 100)), "read() outside of input memory region");
}

TEST_F(ScriptData, FinishingALoadRestoresGlobalsAndCallsOnLoaded) {
  ASSERT_EQ(run("marks <- 0;"
                "function count_mark() { ::marks += tag; }"
                "class Bad { function onLoaded() { throw \"bad onLoaded\"; } }"),
            "");
  std::string bytes = save("{ restored = 5, keep = Keep(), counter = { tag = 2, onLoaded = count_mark } }");
  end_save();
  load(bytes);
  ASSERT_EQ(script_data_object_count(), 3);
  testing::internal::CaptureStdout();
  finish_loading_script_data(vm());
  std::string log = testing::internal::GetCapturedStdout();
  EXPECT_EQ(script_data_object_count(), 0);
  EXPECT_EQ(eval("restored"), "5");
  EXPECT_EQ(eval("keep.loaded"), "true");  // called with the object as `this`
  EXPECT_EQ(eval("marks"), "2");
  EXPECT_NE(log.find("3 script objects loaded"), std::string::npos) << log;
  EXPECT_NE(log.find("setting script global restored"), std::string::npos) << log;

  // A failing onLoaded is raised, and the list is emptied all the same.
  bytes = save("{ bad = Bad() }");
  end_save();
  load(bytes);
  testing::internal::CaptureStdout();
  EXPECT_THROW(finish_loading_script_data(vm()), sqbind::SquirrelError);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(script_data_object_count(), 0);
}

TEST_F(ScriptData, BadDataIsRefusedBeforeAnythingIsMadeForIt) {
  std::string deep;
  for (int i = 0; i <= MAX_SCRIPT_DATA_DEPTH; i++) deep += b({5}) + i32(1);
  deep += b({0});
  struct Case {
    std::string bytes, error;
  } cases[] = {
      {b({5}) + i32(1000000000), "array length 1000000000 does not fit in the 0 bytes left"},
      {b({10, 5}) + i32(-1), "array length -1 does not fit in the 0 bytes left"},
      {b({6}) + i32(3) + b({0, 0, 0, 0, 0}), "table size 3 does not fit in the 5 bytes left"},
      {b({10, 9}) + str("Keep") + i32(268435456), "instance member count 268435456 does not fit in the 0 bytes left"},
      {b({2}) + i32(100) + "ab", "string length 100 does not fit in the 2 bytes left"},
      {b({11}) + i32(3), "script object ref index out of range"},
      {b({13}), "unknown Squirrel data type"},
      {b({10, 50}), "unknown Squirrel data type"},
      {b({3, 1}), "read() outside of input memory region"},
      {deep, "script data nested too deeply"},
  };
  for (const Case& c : cases) {
    clear_script_data_objects();
    testing::internal::CaptureStdout();
    EXPECT_EQ(load_error(c.bytes), c.error);
    testing::internal::GetCapturedStdout();
  }
  // Writing refuses the same depth, so what is written can be read.
  EXPECT_EQ(save_error("(function() { local a = []; for (local i = 0; i < 1200; i++) a = [a]; return a; })()"),
            "script data nested too deeply");
}

}  // namespace
