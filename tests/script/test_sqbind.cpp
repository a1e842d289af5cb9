// The binding layer on a real machine: classes bound twice, null natives,
// callable handles whose environment died, instances read through a base
// class tag, the getters' conversions and errors, thunks reporting bad calls
// to the script, and the runtime error dump.
#include <gtest/gtest.h>
#include <string>
#include "script/sqbind.h"

using namespace sqbind;

namespace {

struct Base {
  int x = 7;
  int getX() const { return x; }
  void setX(int v) { x = v; }
};
struct Derived : Base {
  static const char* const script_class_name;
};
const char* const Derived::script_class_name = "Derived";
struct Other {
  int y = 1;
};

void make_derived(HSQUIRRELVM v) {
  Derived* d = new_native<Derived>();
  if (sq_gettop(v) >= 2) d->x = get_int(v, 2);
  init_instance(d, v, &release_native<Derived>);
}
void make_other(HSQUIRRELVM v) { init_instance(new_native<Other>(), v, &release_native<Other>); }

int base_x(Base* b) { return b->x; }
float add_floats(float a, float b) { return a + b; }
int bump(int a) { return a + 1; }
bool not_of(bool b) { return !b; }
const char* echo(const char* s) { return s; }
vec4f vec_twice(vec4f a) { return v_add(a, a); }
float lane(vec4f a, int i) {
  alignas(16) float f[4];
  _mm_store_ps(f, a);
  return f[i & 3];
}
int packed_of(D3dColor c) { return (int)c.u; }
float red_of(Color c) { return v_x(c.v); }

struct Machine : testing::Test {
  HSQUIRRELVM vm = nullptr;
  void SetUp() override {
    vm = create_vm(1024);
    ASSERT_NE(vm, nullptr);
    SqObject root = SqObject::root(vm);
    create_class(vm, "vec4f", nullptr, class_tag<SqVec4f>());
    SqObject base = create_class(vm, "Base", nullptr, class_tag<Base>());
    register_method(base, "getX", &Base::getX);
    register_method(base, "setX", &Base::setX);
    SqObject derived = create_class(vm, "Derived", "Base", class_tag<Derived>());
    register_constructor<Derived>(derived, make_derived);
    SqObject other = create_class(vm, "Other", nullptr, class_tag<Other>());
    register_constructor<Other>(other, make_other);
    register_function(root, "base_x", base_x);
    register_function(root, "add_floats", add_floats);
    register_function(root, "bump", bump);
    register_function(root, "not_of", not_of);
    register_function(root, "echo", echo);
    register_function(root, "vec_twice", vec_twice);
    register_function(root, "lane", lane);
    register_function(root, "packed_of", packed_of);
    register_function(root, "red_of", red_of);
  }
  void TearDown() override { close_vm(vm); }

  // Runs a script; returns the error text or "" when it ran.
  std::string run(const char* text) {
    if (run_buffer(vm, text, (int)strlen(text), "test.nut")) return "";
    return SquirrelError(vm).what();
  }
  // Evaluates "return <expr>" as a string via tostring.
  std::string eval(const std::string& expr) {
    std::string text = "result <- (" + expr + ").tostring();";
    std::string err = run(text.c_str());
    if (!err.empty()) return "ERROR: " + err;
    return getSlotString(SqObject::root(vm), "result").c_str();
  }
};

TEST_F(Machine, BindingAClassTwiceKeepsTheClassAndItsInstances) {
  ASSERT_EQ(run("keep <- Derived(5);"), "");
  SqObject first = getGlobal(vm, "Derived");
  SqObject again = create_class(vm, "Derived", "Base", class_tag<Derived>());
  EXPECT_EQ(first.obj._unVal.pClass, again.obj._unVal.pClass);
  EXPECT_EQ(eval("keep.getX()"), "5");
  EXPECT_EQ(eval("base_x(keep)"), "5");
}

TEST_F(Machine, PushingANullNativeGivesNull) {
  SQInteger top = sq_gettop(vm);
  EXPECT_TRUE(push_instance(vm, nullptr, class_tag<Derived>(), "Derived", nullptr));
  EXPECT_EQ(sq_gettype(vm, -1), OT_NULL);
  sq_settop(vm, top);

  // A native pushed with its tag comes back as the same pointer.
  Derived* d = new_native<Derived>();
  d->x = 42;
  push_owned(vm, d);
  EXPECT_EQ(get_instance(vm, -1, class_tag<Base>()), (void*)d);
  sq_settop(vm, top);
}

TEST_F(Machine, PushingAnUnboundClassThrowsAndLogs) {
  struct Unbound {};
  testing::internal::CaptureStdout();
  SQInteger top = sq_gettop(vm);
  int dummy;
  try {
    push_instance(vm, &dummy, class_tag<Unbound>(), "Unbound", nullptr);
    FAIL() << "no error";
  } catch (const SquirrelError& e) {
    EXPECT_STREQ(e.what(), "can't get script class");
  }
  EXPECT_EQ(sq_gettop(vm), top);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("failed to create Unbound"), std::string::npos);
}

TEST_F(Machine, CallingAFunctionWhoseEnvironmentDiedCallsNothing) {
  ASSERT_EQ(run("called <- false; holder <- { function f() { ::called = true; return 1; } };"), "");
  SqFunc<int> f(vm, getGlobal(vm, "holder"), "f");
  EXPECT_TRUE(f.isValid());
  EXPECT_EQ(f(), 1);
  ASSERT_EQ(run("called <- false; delete holder;"), "");
  EXPECT_FALSE(f.isValid());
  try {
    f();
    FAIL() << "no error";
  } catch (const SquirrelError& e) {
    EXPECT_STREQ(e.what(), "SqFunc: can't deref weakptr to object");
  }
  EXPECT_FALSE(getSlotBool(SqObject::root(vm), "called"));

  // A missing slot leaves the handle empty without an error.
  SqFunc<void> none(vm, SqObject::root(vm), "no_such_function");
  EXPECT_FALSE(none.isValid());
}

TEST_F(Machine, SqFuncPassesArgumentsAndReadsResults) {
  ASSERT_EQ(run("function mix(a, b, c) { return a * b + c.len(); }"
                "function yes() { return 1; }"
                "function fails() { throw \"inner\"; }"),
            "");
  SqObject root = SqObject::root(vm);
  EXPECT_FLOAT_EQ(SqFunc<float>(vm, root, "mix")(2.5f, 2, "abc"), 8.0f);
  EXPECT_TRUE(SqFunc<bool>(vm, root, "yes")());
  testing::internal::CaptureStdout();
  try {
    SqFunc<void>(vm, root, "fails")();
    FAIL() << "no error";
  } catch (const SquirrelError& e) {
    EXPECT_STREQ(e.what(), "SqFunc<> call failed");
    EXPECT_STREQ(script_error_text(e, vm).c_str(), "inner");
  }
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(sq_gettop(vm), 0);
}

TEST_F(Machine, InstanceArgumentsAreCheckedByTag) {
  ASSERT_EQ(run("d <- Derived(3); o <- Other();"), "");
  EXPECT_EQ(eval("base_x(d)"), "3");  // a derived instance through the base tag
  EXPECT_EQ(eval("base_x(o)"), "ERROR: getInst: invalid argument type");
  EXPECT_EQ(eval("base_x({})"), "ERROR: getInst: invalid argument type");
  EXPECT_EQ(eval("base_x(Base())"), "ERROR: getInst: invalid argument type");  // no native
  // A method called on an instance of another class.
  EXPECT_EQ(eval("Base.getX.call(o)"), "ERROR: invalid 'this' in C++ method call");
  ASSERT_EQ(run("d.setX(11);"), "");
  EXPECT_EQ(eval("d.getX()"), "11");
}

TEST_F(Machine, ScalarAndVectorGetters) {
  struct Case {
    const char* expr;
    const char* result;
  };
  const Case cases[] = {
      {"add_floats(1, 2.5)", "3.5"},
      {"add_floats(\"1\", 2)", "ERROR: sq_get*() failed (type error)"},
      {"add_floats(1)", "ERROR: sq_get*() failed (type error)"},
      {"bump(4)", "5"},
      {"bump(null)", "ERROR: sq_get*() failed (type error)"},
      {"not_of(false)", "true"},
      {"not_of(0)", "ERROR: sq_get*() failed (type error)"},
      {"echo(\"hi\")", "hi"},
      {"echo(3)", "ERROR: sq_get*() failed (type error)"},
      {"lane(vec_twice(1.5), 3)", "3"},
      {"lane(vec_twice([1, 2, 3, 4]), 2)", "6"},
      {"vec_twice([1, 2, \"x\", 4])", "ERROR: sq_get*() failed (type error)"},
      {"vec_twice({})", "ERROR: getInst: invalid argument type"},
      {"packed_of(0x11223344)", "287454020"},
      {"packed_of([1, 0, 0.5, 1]) == 0xFFFF0080", "true"},
      {"red_of(0xFF800000)", "0.501961"},
      {"red_of(0.25)", "0.25"},
  };
  for (const Case& c : cases) EXPECT_EQ(eval(c.expr), c.result) << c.expr;
  // An array that is too short: the error of the machine's own read.
  EXPECT_NE(eval("vec_twice([1, 2])").find("ERROR:"), std::string::npos);
}

TEST_F(Machine, SlotsAndGlobals) {
  ASSERT_EQ(run("t <- { a = 1, b = 2.5, c = \"s\", d = true };"), "");
  SqObject t = getGlobal(vm, "t");
  EXPECT_EQ(getSlotInt(t, "a"), 1);
  EXPECT_FLOAT_EQ(getSlotFloat(t, "b"), 2.5f);
  EXPECT_STREQ(getSlotString(t, "c").c_str(), "s");
  EXPECT_TRUE(getSlotBool(t, "d"));
  EXPECT_TRUE(hasSlot(t, "a"));
  EXPECT_FALSE(hasSlot(t, "z"));
  testing::internal::CaptureStdout();
  EXPECT_THROW(getSlot(t, "z"), SquirrelError);
  EXPECT_THROW(getSlotInt(t, "c"), SquirrelError);
  EXPECT_THROW(getGlobal(vm, "nothing"), SquirrelError);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("getSlot 'z' failed"), std::string::npos);
  EXPECT_NE(out.find("getGlobal 'nothing' failed"), std::string::npos);
  EXPECT_EQ(sq_gettop(vm), 0);

  // A weak handle on the table reads the same slots while it lives.
  SqObject w = SqObject::weakOf(t);
  EXPECT_TRUE(w.isWeak());
  EXPECT_EQ(getSlotInt(w, "a"), 1);
}

TEST_F(Machine, ErrorDumpOfAnErrorThreeCallsDeep) {
  const char* text =
      "function h(a) {\n"
      "  local q = \"text\";\n"
      "  throw \"boom\";\n"
      "}\n"
      "function g() { local n = 5; h(1.5); }\n"
      "function f() { local t = {}; local flag = true; g(); }\n";
  ASSERT_EQ(run(text), "");
  testing::internal::CaptureStdout();
  EXPECT_THROW(SqFunc<void>(vm, SqObject::root(vm), "f")(), SqCallFailed);
  std::string out = testing::internal::GetCapturedStdout();
  const char* expected =
      "\nCALLSTACK\n"
      "bin/test.nut(3): ERROR: boom (in h())\n"
      "bin/test.nut(5): function g() (CALLSTACK)\n"
      "bin/test.nut(6): function f() (CALLSTACK)\n"
      "\nLOCALS\n";
  EXPECT_EQ(out.substr(0, strlen(expected)), expected) << out;
  std::string locals = out.substr(strlen(expected));
  for (const char* line : {"[a] 1.5\n", "[q] \"text\"\n", "[n] 5\n", "[t] TABLE\n", "[flag] true\n", "[this] TABLE\n"})
    EXPECT_NE(locals.find(line), std::string::npos) << line << " in " << locals;
  EXPECT_EQ(locals.find("ERROR"), std::string::npos);
}

TEST_F(Machine, CompileErrorsNameTheSource) {
  testing::internal::CaptureStdout();
  const char* bad = "local x = ;";
  EXPECT_FALSE(compile_buffer(vm, bad, (int)strlen(bad), "gen/bad.nut"));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("bin/gen/bad.nut(1,", 0), 0u) << out;
  EXPECT_NE(out.find("): error: "), std::string::npos);
}

TEST_F(Machine, NestedScriptErrorsReachTheCallerWithTheirText) {
  // A native that calls back into the script: the callback's own error is
  // what the outer script sees, not the binding's wrapper text.
  SqObject root = SqObject::root(vm);
  register_raw(root, "call_back", [](HSQUIRRELVM v) -> SQInteger {
    try {
      SqFunc<int> f;
      f.setFunction(v, SqObject::root(v), get_object(v, 2));
      sq_pushinteger(v, f());
      return 1;
    } catch (const SqCallFailed&) {
      return rethrow_call_failure(v);
    } catch (const SquirrelError& e) {
      return throw_to_script(v, e);
    }
  });
  testing::internal::CaptureStdout();
  EXPECT_EQ(run("local r = 0; try { call_back(function() { throw \"deep\"; }); } catch (e) { r = e; } caught <- r;"), "");
  testing::internal::GetCapturedStdout();
  EXPECT_STREQ(getSlotString(root, "caught").c_str(), "deep");
  EXPECT_EQ(eval("call_back(function() { return 41; }) + 1"), "42");
}

TEST_F(Machine, DebugObjectDescribesValues) {
  testing::internal::CaptureStdout();
  ASSERT_EQ(run("d <- Derived(1);"), "");
  SqObject d = getGlobal(vm, "d");
  sq_debug_object(d.obj);
  sq_debug_object(getGlobal(vm, "bump").obj);
  HSQOBJECT i;
  i._type = OT_INTEGER;
  i._unVal.nInteger = 12;
  sq_debug_object(i);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("(instance UP=0x"), std::string::npos) << out;
  EXPECT_NE(out.find(" hook=0x"), std::string::npos) << out;
  EXPECT_NE(out.find("(native func 0x"), std::string::npos) << out;
  EXPECT_NE(out.find("12\n"), std::string::npos) << out;
}

}  // namespace
