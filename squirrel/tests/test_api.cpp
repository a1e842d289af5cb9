// Tests of the C interface: classes with type tags, instances with user
// pointers and release hooks, weak references, calls and error reporting,
// stack inspection, threads, serialization and argument checking.
#include "squirrel/squirrel.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string g_out;
void print_fn(HSQUIRRELVM, const SQChar* fmt, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  g_out += buf;
}

struct Vm {
  HSQUIRRELVM v;
  Vm() {
    v = sq_open(1024);
    g_out.clear();
    sq_setprintfunc(v, print_fn, print_fn);
  }
  ~Vm() {
    if (v) sq_close(v);
  }
  // Compiles and runs src in the root table; returns the error text or "".
  std::string run(const char* src) {
    SQInteger top = sq_gettop(v);
    std::string err;
    if (SQ_FAILED(sq_compilebuffer(v, src, -1, "test", SQTrue))) {
      err = last_error();
    } else {
      sq_pushroottable(v);
      if (SQ_FAILED(sq_call(v, 1, SQFalse, SQTrue))) err = last_error();
    }
    sq_settop(v, top);
    return err;
  }
  std::string last_error() {
    sq_getlasterror(v);
    const SQChar* s = "?";
    if (sq_gettype(v, -1) == OT_STRING) sq_getstring(v, -1, &s);
    std::string r = s;
    sq_pop(v, 1);
    return r;
  }
  SQInteger global_int(const char* name) {
    sq_pushroottable(v);
    sq_pushstring(v, name, -1);
    SQInteger n = -999;
    if (SQ_SUCCEEDED(sq_get(v, -2))) {
      sq_getinteger(v, -1, &n);
      sq_pop(v, 1);
    }
    sq_pop(v, 1);
    return n;
  }
  void set_global_fn(const char* name, SQFUNCTION f, SQInteger nparams = 0, const char* mask = nullptr) {
    sq_pushroottable(v);
    sq_pushstring(v, name, -1);
    sq_newclosure(v, f, 0);
    if (nparams) sq_setparamscheck(v, nparams, mask);
    sq_newslot(v, -3, SQFalse);
    sq_pop(v, 1);
  }
};

// ---- classes, type tags, instances, release hooks ----
int g_released = 0;
int g_tag_a, g_tag_other;
struct Native {
  int value;
};
SQInteger release_native(SQUserPointer p, SQInteger) {
  g_released++;
  delete (Native*)p;
  return 1;
}
SQInteger native_ctor(HSQUIRRELVM v) {
  SQInteger value = 0;
  sq_getinteger(v, 2, &value);
  Native* n = new Native{(int)value};
  sq_setinstanceup(v, 1, n);
  sq_setreleasehook(v, 1, release_native);
  return 0;
}
SQInteger native_get(HSQUIRRELVM v) {
  SQUserPointer p = nullptr;
  if (SQ_FAILED(sq_getinstanceup(v, 1, &p, &g_tag_a))) return SQ_ERROR;
  sq_pushinteger(v, ((Native*)p)->value);
  return 1;
}

void make_native_class(HSQUIRRELVM v) {
  sq_pushroottable(v);
  sq_pushstring(v, "Native", -1);
  sq_newclass(v, SQFalse);
  sq_settypetag(v, -1, &g_tag_a);
  sq_pushstring(v, "constructor", -1);
  sq_newclosure(v, native_ctor, 0);
  sq_setparamscheck(v, 2, ".i");
  sq_newslot(v, -3, SQFalse);
  sq_pushstring(v, "get", -1);
  sq_newclosure(v, native_get, 0);
  sq_newslot(v, -3, SQFalse);
  sq_newslot(v, -3, SQFalse);
  sq_pop(v, 1);
}

TEST(SquirrelApi, ClassWithTagUserPointerAndReleaseHook) {
  g_released = 0;
  {
    Vm vm;
    make_native_class(vm.v);
    EXPECT_EQ(vm.run("class Derived extends Native { function twice() { return get() * 2; } }\n"
                     "::a <- Native(5).get();\n"
                     "::b <- Derived(21).twice();\n"
                     "local keep = Native(1);\n"),
              "");
    EXPECT_EQ(vm.global_int("a"), 5);
    EXPECT_EQ(vm.global_int("b"), 42);  // the derived class inherits the tag
    EXPECT_EQ(g_released, 3);           // every instance died by reference count
    // a checked accessor with another tag refuses the instance
    EXPECT_EQ(vm.run("::n <- Native(3);"), "");
    sq_pushroottable(vm.v);
    sq_pushstring(vm.v, "n", -1);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_get(vm.v, -2)));
    SQUserPointer p = nullptr;
    EXPECT_TRUE(SQ_FAILED(sq_getinstanceup(vm.v, -1, &p, &g_tag_other)));
    EXPECT_TRUE(SQ_SUCCEEDED(sq_getinstanceup(vm.v, -1, &p, &g_tag_a)));
    EXPECT_EQ(((Native*)p)->value, 3);
    SQUserPointer tag = nullptr;
    EXPECT_TRUE(SQ_SUCCEEDED(sq_gettypetag(vm.v, -1, &tag)));
    EXPECT_EQ(tag, &g_tag_a);
    sq_pop(vm.v, 2);
    // an instance in a cycle dies by the collector, its hook runs once
    EXPECT_EQ(vm.run("local c = Native(7); local t = { inst = c }; t.self <- t; c = null; t = null;"), "");
    EXPECT_EQ(g_released, 3);
    EXPECT_GT(sq_collectgarbage(vm.v), 0);
    EXPECT_EQ(g_released, 4);
    EXPECT_EQ(sq_collectgarbage(vm.v), 0);
    EXPECT_EQ(g_released, 4);
  }
  EXPECT_EQ(g_released, 5);  // ::n died when the VM was closed
}

TEST(SquirrelApi, InstanceWithoutConstructorAndClassUserDataSize) {
  Vm vm;
  HSQUIRRELVM v = vm.v;
  sq_newclass(v, SQFalse);
  sq_setclassudsize(v, -1, sizeof(Native));
  sq_pushstring(v, "field", -1);
  sq_pushinteger(v, 9);
  sq_newslot(v, -3, SQFalse);
  sq_pushstring(v, "constructor", -1);
  sq_newclosure(v, [](HSQUIRRELVM vm) -> SQInteger { return sq_throwerror(vm, "constructor ran"); }, 0);
  sq_newslot(v, -3, SQFalse);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_createinstance(v, -1)));  // the constructor does not run
  SQUserPointer up = nullptr;
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getinstanceup(v, -1, &up, nullptr)));
  ASSERT_NE(up, nullptr);  // points into the instance's own memory
  ((Native*)up)->value = 11;
  sq_pushstring(v, "field", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
  SQInteger f = 0;
  sq_getinteger(v, -1, &f);
  EXPECT_EQ(f, 9);
  sq_pop(v, 2);
  // members can be added until the first instance exists
  sq_pushstring(v, "late", -1);
  sq_pushinteger(v, 1);
  EXPECT_TRUE(SQ_FAILED(sq_newslot(v, -3, SQFalse)));
  sq_pop(v, 1);
}

TEST(SquirrelApi, UserDataWithTagAndHook) {
  g_released = 0;
  {
    Vm vm;
    SQUserPointer mem = sq_newuserdata(vm.v, sizeof(int));
    *(int*)mem = 77;
    sq_settypetag(vm.v, -1, &g_tag_a);
    sq_setreleasehook(vm.v, -1, [](SQUserPointer p, SQInteger size) -> SQInteger {
      g_released += *(int*)p == 77 && size == sizeof(int);
      return 1;
    });
    SQUserPointer p = nullptr, tag = nullptr;
    ASSERT_TRUE(SQ_SUCCEEDED(sq_getuserdata(vm.v, -1, &p, &tag)));
    EXPECT_EQ(p, mem);
    EXPECT_EQ(tag, &g_tag_a);
    EXPECT_EQ(sq_getsize(vm.v, -1), (SQInteger)sizeof(int));
    HSQOBJECT obj;
    sq_getstackobj(vm.v, -1, &obj);
    sq_addref(vm.v, &obj);
    sq_addref(vm.v, &obj);
    EXPECT_EQ(sq_getrefcount(vm.v, &obj), 2u);
    sq_pop(vm.v, 1);
    EXPECT_FALSE(sq_release(vm.v, &obj));
    EXPECT_EQ(g_released, 0);
    EXPECT_TRUE(sq_release(vm.v, &obj));
    EXPECT_EQ(g_released, 1);
  }
  EXPECT_EQ(g_released, 1);
}

// ---- weak references ----
TEST(SquirrelApi, WeakReferenceDies) {
  Vm vm;
  HSQUIRRELVM v = vm.v;
  sq_newtable(v);
  sq_weakref(v, -1);
  EXPECT_EQ(sq_gettype(v, -1), OT_WEAKREF);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getweakrefval(v, -1)));
  EXPECT_EQ(sq_gettype(v, -1), OT_TABLE);
  sq_pop(v, 1);
  sq_remove(v, -2);  // the only strong reference
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getweakrefval(v, -1)));
  EXPECT_EQ(sq_gettype(v, -1), OT_NULL);
  sq_pop(v, 2);
  sq_pushinteger(v, 4);
  sq_weakref(v, -1);
  EXPECT_EQ(sq_gettype(v, -1), OT_INTEGER);
  sq_pop(v, 2);
}

// ---- calls, errors and stack inspection ----
std::vector<std::string> g_trace;
SQInteger error_handler(HSQUIRRELVM v) {
  const SQChar* msg = "";
  sq_getstring(v, 2, &msg);
  g_trace.push_back(msg);
  SQStackInfos si;
  for (SQInteger level = 1; SQ_SUCCEEDED(sq_stackinfos(v, level, &si)); level++)
    g_trace.push_back(std::string(si.funcname) + "@" + si.source + ":" + std::to_string(si.line));
  return 0;
}

TEST(SquirrelApi, CallErrorReachesHandlerWithStackInfos) {
  Vm vm;
  g_trace.clear();
  sq_newclosure(vm.v, error_handler, 0);
  sq_seterrorhandler(vm.v);
  EXPECT_EQ(vm.run("function inner() {\n  local x = null;\n  return x.field;\n}\n"
                   "function outer() { local r = inner(); return r; }\nouter();\n"),
            "the index 'field' does not exist");
  ASSERT_GE(g_trace.size(), 4u);
  EXPECT_EQ(g_trace[0], "the index 'field' does not exist");
  EXPECT_EQ(g_trace[1], "inner@test:3");
  EXPECT_EQ(g_trace[2], "outer@test:5");
  EXPECT_EQ(g_trace[3], "main@test:6");
  // caught errors and calls without raiseerror do not reach the handler
  g_trace.clear();
  EXPECT_EQ(vm.run("try { throw \"x\"; } catch (e) {}"), "");
  ASSERT_TRUE(SQ_SUCCEEDED(sq_compilebuffer(vm.v, "throw \"quiet\";", -1, "q", SQTrue)));
  sq_pushroottable(vm.v);
  EXPECT_TRUE(SQ_FAILED(sq_call(vm.v, 1, SQFalse, SQFalse)));
  sq_pop(vm.v, 1);
  EXPECT_TRUE(g_trace.empty());
  EXPECT_EQ(vm.last_error(), "quiet");
}

int g_handler_calls = 0;
SQInteger counting_handler(HSQUIRRELVM v) {
  g_handler_calls++;
  const SQChar* s = nullptr;
  sq_getstring(v, 2, &s);  // fails for a table: the failure must not count as a new error
  sq_tostring(v, 2);
  return 0;
}

TEST(SquirrelApi, HandlerRunsOncePerUncaughtError) {
  Vm vm;
  g_handler_calls = 0;
  sq_newclosure(vm.v, counting_handler, 0);
  sq_seterrorhandler(vm.v);
  vm.run("throw { code = 1 };");
  EXPECT_EQ(g_handler_calls, 1);
  vm.run("function f() { throw \"x\"; } [1, 2].sort(function(a, b) { f(); return 0; });");
  EXPECT_EQ(g_handler_calls, 2);
  vm.run("try { throw 1; } catch (e) {} throw 2;");
  EXPECT_EQ(g_handler_calls, 3);
}

TEST(SquirrelApi, CallWithArgumentsAndReturnValue) {
  Vm vm;
  HSQUIRRELVM v = vm.v;
  EXPECT_EQ(vm.run("function mix(a, b, c = 3) { return a * 100 + b * 10 + c; }"), "");
  SQInteger top = sq_gettop(v);
  sq_pushroottable(v);
  sq_pushstring(v, "mix", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
  sq_pushroottable(v);
  sq_pushinteger(v, 1);
  sq_pushinteger(v, 2);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 3, SQTrue, SQTrue)));
  SQInteger r = 0;
  sq_getinteger(v, -1, &r);
  EXPECT_EQ(r, 123);
  EXPECT_EQ(sq_gettype(v, -2), OT_CLOSURE);  // the function stays on the stack
  sq_settop(v, top);
  // a tail call made by the called function itself replaces its frame; the
  // caller's function stays where it was
  EXPECT_EQ(vm.run("function down(n) { if (n == 0) return \"bottom\"; return other(n - 1); }\n"
                   "function other(n) { return down(n); }"),
            "");
  sq_pushroottable(v);
  sq_pushstring(v, "down", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
  HSQOBJECT down;
  sq_getstackobj(v, -1, &down);
  sq_pushroottable(v);
  sq_pushinteger(v, 100000);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 2, SQTrue, SQTrue)));
  const SQChar* s = nullptr;
  sq_getstring(v, -1, &s);
  EXPECT_STREQ(s, "bottom");
  HSQOBJECT after;
  sq_getstackobj(v, -2, &after);
  EXPECT_EQ(after._unVal.pClosure, down._unVal.pClosure);
  sq_settop(v, top);
}

const SQChar* g_local_names[4];
SQInteger g_local_value;
SQInteger inspect_locals(HSQUIRRELVM v) {
  for (int i = 0; i < 4; i++) {
    g_local_names[i] = sq_getlocal(v, 1, (SQUnsignedInteger)i);
    if (!g_local_names[i]) break;
    if (i == 1) sq_getinteger(v, -1, &g_local_value);
    sq_pop(v, 1);
  }
  return 0;
}

TEST(SquirrelApi, GetLocalSeesTheCallersLocals) {
  Vm vm;
  vm.set_global_fn("inspect", inspect_locals);
  std::memset(g_local_names, 0, sizeof g_local_names);
  EXPECT_EQ(vm.run("function f(p) { local q = p + 1; inspect(); }\nf(41);"), "");
  ASSERT_NE(g_local_names[0], nullptr);
  EXPECT_STREQ(g_local_names[0], "this");
  ASSERT_NE(g_local_names[1], nullptr);
  EXPECT_STREQ(g_local_names[1], "p");
  EXPECT_EQ(g_local_value, 41);
  ASSERT_NE(g_local_names[2], nullptr);
  EXPECT_STREQ(g_local_names[2], "q");
  EXPECT_EQ(g_local_names[3], nullptr);
}

struct CompileErr {
  std::string desc, source;
  SQInteger line = 0, column = 0;
} g_cerr;
void compile_error(HSQUIRRELVM, const SQChar* desc, const SQChar* src, SQInteger line, SQInteger col) {
  g_cerr = CompileErr{desc, src, line, col};
}

TEST(SquirrelApi, CompileErrorReportsLineAndColumn) {
  Vm vm;
  sq_setcompilererrorhandler(vm.v, compile_error);
  g_cerr = CompileErr();
  EXPECT_TRUE(SQ_FAILED(sq_compilebuffer(vm.v, "local a = 1;\nlocal b = (a + ;\n", -1, "broken.nut", SQTrue)));
  EXPECT_EQ(g_cerr.source, "broken.nut");
  EXPECT_EQ(g_cerr.line, 2);
  EXPECT_EQ(g_cerr.column, 16);
  EXPECT_FALSE(g_cerr.desc.empty());
  EXPECT_EQ(vm.last_error(), g_cerr.desc);
  // raiseerror false: the handler is not called
  g_cerr = CompileErr();
  EXPECT_TRUE(SQ_FAILED(sq_compilebuffer(vm.v, "x = ", -1, "quiet.nut", SQFalse)));
  EXPECT_EQ(g_cerr.line, 0);
  // sq_compile reads through a callback
  struct Src {
    const char* p;
  } src{"::fromreader <- 5;"};
  ASSERT_TRUE(SQ_SUCCEEDED(sq_compile(
      vm.v, [](SQUserPointer up) -> SQInteger {
        Src* s = (Src*)up;
        return *s->p ? *s->p++ : 0;
      },
      &src, "reader", SQTrue)));
  sq_pushroottable(vm.v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(vm.v, 1, SQFalse, SQTrue)));
  sq_pop(vm.v, 1);
  EXPECT_EQ(vm.global_int("fromreader"), 5);
}

// ---- debug hooks ----
std::vector<std::string> g_events;
int g_event_budget = -1;
void record_event(HSQUIRRELVM v, SQInteger type, const SQChar* src, SQInteger line, const SQChar* fn) {
  g_events.push_back(std::string(1, (char)type) + ":" + fn + ":" + std::to_string(line));
  if (g_event_budget >= 0 && --g_event_budget < 0) sq_throwerror(v, "budget spent");
}

TEST(SquirrelApi, NativeDebugHookSeesCallsReturnsAndLines) {
  Vm vm;
  sq_enabledebuginfo(vm.v, SQTrue);
  sq_setnativedebughook(vm.v, record_event);
  g_events.clear();
  g_event_budget = -1;
  EXPECT_EQ(vm.run("function f(x) {\n  local y = x + 1;\n  return y;\n}\nf(1);\n"), "");
  auto has = [](const std::string& e) {
    for (auto& x : g_events)
      if (x == e) return true;
    return false;
  };
  EXPECT_TRUE(has("c:f:2"));
  EXPECT_TRUE(has("l:f:2"));
  EXPECT_TRUE(has("l:f:3"));
  EXPECT_TRUE(has("r:f:3"));
  EXPECT_TRUE(has("l:main:5"));
  // a hook that raises an error stops a runaway script, which can catch it
  g_event_budget = 100;
  EXPECT_EQ(vm.run("local n = 0; while (true) { n++; }"), "budget spent");
  g_event_budget = 100;
  EXPECT_EQ(vm.run("try { while (true) {} } catch (e) { ::stopped <- 1; }"), "");
  EXPECT_EQ(vm.global_int("stopped"), 1);
  sq_setnativedebughook(vm.v, nullptr);
  g_events.clear();
  EXPECT_EQ(vm.run("local a = 1;"), "");
  EXPECT_TRUE(g_events.empty());
}

// ---- native functions ----
SQInteger sum_args(HSQUIRRELVM v) {
  SQInteger n = sq_gettop(v), sum = 0;
  for (SQInteger i = 2; i <= n; i++) {
    SQInteger x;
    if (SQ_FAILED(sq_getinteger(v, i, &x))) return sq_throwerror(v, "integers only");
    sum += x;
  }
  sq_pushinteger(v, sum);
  return 1;
}
SQInteger with_freevar(HSQUIRRELVM v) {
  SQInteger bonus = 0;
  sq_getinteger(v, sq_gettop(v), &bonus);  // free variables follow the arguments
  sq_pushinteger(v, bonus);
  return 1;
}

TEST(SquirrelApi, NativeFunctionsParamsAndErrors) {
  Vm vm;
  vm.set_global_fn("sum", sum_args);
  vm.set_global_fn("two_ints", sum_args, 3, ".ii");
  EXPECT_EQ(vm.run("::s <- sum(1, 2, 3, 4);"), "");
  EXPECT_EQ(vm.global_int("s"), 10);
  EXPECT_EQ(vm.run("sum(1, \"x\");"), "integers only");
  EXPECT_EQ(vm.run("two_ints(1);"), "wrong number of parameters");
  EXPECT_EQ(vm.run("two_ints(1, 2.5);"), "parameter 2 has an invalid type 'float' ; expected: 'integer'");
  EXPECT_EQ(vm.run("try { sum(null); } catch (e) { ::caught <- e == \"integers only\" ? 1 : 0; }"), "");
  EXPECT_EQ(vm.global_int("caught"), 1);
  sq_pushroottable(vm.v);
  sq_pushstring(vm.v, "bonus", -1);
  sq_pushinteger(vm.v, 8);
  sq_newclosure(vm.v, with_freevar, 1);
  sq_newslot(vm.v, -3, SQFalse);
  sq_pop(vm.v, 1);
  EXPECT_EQ(vm.run("::b <- bonus();"), "");
  EXPECT_EQ(vm.global_int("b"), 8);
}

// ---- threads ----
TEST(SquirrelApi, SuspendAndWakeUpTheVm) {
  Vm vm;
  HSQUIRRELVM v = vm.v;
  EXPECT_EQ(sq_getvmstate(v), SQ_VMSTATE_IDLE);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_compilebuffer(v, "local a = suspend(1); ::got <- a; return a * 2;", -1, "s", SQTrue)));
  sq_pushroottable(v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 1, SQTrue, SQTrue)));
  EXPECT_EQ(sq_getvmstate(v), SQ_VMSTATE_SUSPENDED);
  SQInteger yielded = 0;
  sq_getinteger(v, -1, &yielded);
  EXPECT_EQ(yielded, 1);
  sq_pop(v, 1);
  sq_pushinteger(v, 21);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_wakeupvm(v, SQTrue, SQTrue, SQTrue, SQFalse)));
  EXPECT_EQ(sq_getvmstate(v), SQ_VMSTATE_IDLE);
  SQInteger result = 0;
  sq_getinteger(v, -1, &result);
  EXPECT_EQ(result, 42);
  EXPECT_EQ(vm.global_int("got"), 21);
}

TEST(SquirrelApi, FriendThread) {
  Vm vm;
  HSQUIRRELVM v = vm.v;
  EXPECT_EQ(vm.run("function work(x) { local y = suspend(x + 1); return y * 3; }"), "");
  HSQUIRRELVM t = sq_newthread(v, 256);
  EXPECT_EQ(sq_gettype(v, -1), OT_THREAD);
  sq_pushroottable(t);
  sq_pushstring(t, "work", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_get(t, -2)));
  sq_pushroottable(t);
  sq_pushinteger(t, 4);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(t, 2, SQTrue, SQTrue)));
  EXPECT_EQ(sq_getvmstate(t), SQ_VMSTATE_SUSPENDED);
  SQInteger got = 0;
  sq_getinteger(t, -1, &got);
  EXPECT_EQ(got, 5);
  sq_pop(t, 1);
  sq_pushinteger(t, 7);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_wakeupvm(t, SQTrue, SQTrue, SQTrue, SQFalse)));
  sq_getinteger(t, -1, &got);
  EXPECT_EQ(got, 21);
  sq_pop(v, 1);
}

// ---- generators from C ----
TEST(SquirrelApi, ResumeGenerator) {
  Vm vm;
  HSQUIRRELVM v = vm.v;
  EXPECT_EQ(vm.run("function g() { yield 10; yield 20; } ::gen <- g();"), "");
  sq_pushroottable(v);
  sq_pushstring(v, "gen", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
  SQInteger a = 0, b = 0;
  ASSERT_TRUE(SQ_SUCCEEDED(sq_resume(v, SQTrue, SQTrue)));
  sq_getinteger(v, -1, &a);
  sq_pop(v, 1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_resume(v, SQTrue, SQTrue)));
  sq_getinteger(v, -1, &b);
  EXPECT_EQ(a + b, 30);
  sq_pop(v, 3);
}

// ---- tables, arrays, iteration, handles ----
TEST(SquirrelApi, TablesArraysAndIteration) {
  Vm vm;
  HSQUIRRELVM v = vm.v;
  sq_newtable(v);
  for (int i = 0; i < 5; i++) {
    sq_pushinteger(v, i);
    sq_pushinteger(v, i * i);
    sq_newslot(v, -3, SQFalse);
  }
  EXPECT_EQ(sq_getsize(v, -1), 5);
  SQInteger sum = 0;
  sq_pushnull(v);
  while (SQ_SUCCEEDED(sq_next(v, -2))) {
    SQInteger val;
    sq_getinteger(v, -1, &val);
    sum += val;
    sq_pop(v, 2);
  }
  sq_pop(v, 1);
  EXPECT_EQ(sum, 0 + 1 + 4 + 9 + 16);
  sq_pushinteger(v, 3);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_deleteslot(v, -2, SQTrue)));
  SQInteger removed = 0;
  sq_getinteger(v, -1, &removed);
  EXPECT_EQ(removed, 9);
  sq_pop(v, 1);
  sq_pushinteger(v, 3);
  EXPECT_TRUE(SQ_FAILED(sq_get(v, -2)));
  sq_pop(v, 1);

  sq_newarray(v, 0);
  for (int i = 0; i < 4; i++) {
    sq_pushinteger(v, i);
    sq_arrayappend(v, -2);
  }
  sq_arrayreverse(v, -1);
  sq_pushinteger(v, 99);
  sq_arrayinsert(v, -2, 1);
  sq_arrayremove(v, -1, 0);
  sq_arraypop(v, -1, SQFalse);
  EXPECT_EQ(sq_getsize(v, -1), 3);  // 99 2 1
  sq_pushinteger(v, 0);
  sq_get(v, -2);
  SQInteger first = 0;
  sq_getinteger(v, -1, &first);
  EXPECT_EQ(first, 99);
  sq_pop(v, 1);
  EXPECT_TRUE(SQ_FAILED(sq_arrayresize(v, -1, -1)));
  sq_arrayresize(v, -1, 10);
  EXPECT_EQ(sq_getsize(v, -1), 10);
  sq_clear(v, -1);
  EXPECT_EQ(sq_getsize(v, -1), 0);
  sq_pop(v, 2);

  // member handles address class members directly
  EXPECT_EQ(vm.run("class H { a = 1; b = 2; } ::hinst <- H();"), "");
  sq_pushroottable(v);
  sq_pushstring(v, "H", -1);
  sq_get(v, -2);
  HSQMEMBERHANDLE hb;
  sq_pushstring(v, "b", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getmemberhandle(v, -2, &hb)));
  sq_pushstring(v, "hinst", -1);
  sq_get(v, -3);
  sq_pushinteger(v, 50);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_setbyhandle(v, -2, &hb)));
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getbyhandle(v, -1, &hb)));
  SQInteger bv = 0;
  sq_getinteger(v, -1, &bv);
  EXPECT_EQ(bv, 50);
  sq_pop(v, 4);
}

// ---- serialization ----
TEST(SquirrelApi, WriteAndReadClosure) {
  std::string bytes;
  {
    Vm vm;
    ASSERT_TRUE(SQ_SUCCEEDED(sq_compilebuffer(
        vm.v, "local k = 3; function f(x) { return x * k; } ::out <- f(14) + \"|\" + 2.5;", -1, "ser", SQTrue)));
    ASSERT_TRUE(SQ_SUCCEEDED(sq_writeclosure(
        vm.v,
        [](SQUserPointer up, SQUserPointer p, SQInteger n) -> SQInteger {
          ((std::string*)up)->append((const char*)p, (size_t)n);
          return n;
        },
        &bytes)));
  }
  struct Reader {
    const std::string* s;
    size_t pos;
  };
  auto readf = [](SQUserPointer up, SQUserPointer p, SQInteger n) -> SQInteger {
    Reader* r = (Reader*)up;
    size_t k = std::min((size_t)n, r->s->size() - r->pos);
    memcpy(p, r->s->data() + r->pos, k);
    r->pos += k;
    return (SQInteger)k;
  };
  {
    Vm vm;
    Reader r{&bytes, 0};
    ASSERT_TRUE(SQ_SUCCEEDED(sq_readclosure(vm.v, readf, &r)));
    sq_pushroottable(vm.v);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_call(vm.v, 1, SQFalse, SQTrue)));
    sq_pop(vm.v, 1);
    EXPECT_EQ(vm.run("if (::out != \"42|2.5\") throw ::out;"), "");
  }
  // truncated or damaged streams are refused, never run
  for (size_t cut : {size_t(0), size_t(3), bytes.size() / 2, bytes.size() - 1}) {
    Vm vm;
    std::string part = bytes.substr(0, cut);
    Reader r{&part, 0};
    EXPECT_TRUE(SQ_FAILED(sq_readclosure(vm.v, readf, &r))) << cut;
  }
  for (size_t at = 30; at < bytes.size(); at += 7) {
    Vm vm;
    std::string bad = bytes;
    bad[at] = (char)(bad[at] ^ 0x5A);
    Reader r{&bad, 0};
    if (SQ_SUCCEEDED(sq_readclosure(vm.v, readf, &r))) {
      // a flipped byte that still validates must still run safely
      sq_pushroottable(vm.v);
      sq_call(vm.v, 1, SQFalse, SQFalse);
    }
  }
}

// ---- robustness of the interface itself ----
TEST(SquirrelApi, BadIndicesAndTypesAreErrors) {
  Vm vm;
  HSQUIRRELVM v = vm.v;
  const SQChar* s = nullptr;
  SQInteger i = 0;
  EXPECT_TRUE(SQ_FAILED(sq_getstring(v, 1, &s)));
  EXPECT_TRUE(SQ_FAILED(sq_getinteger(v, -5, &i)));
  EXPECT_TRUE(SQ_FAILED(sq_get(v, 0)));
  EXPECT_TRUE(SQ_FAILED(sq_call(v, 3, SQFalse, SQFalse)));
  EXPECT_EQ(sq_gettype(v, 7), OT_NULL);
  sq_pop(v, 10);
  sq_remove(v, 3);
  sq_pushinteger(v, 1);
  EXPECT_TRUE(SQ_FAILED(sq_getstring(v, -1, &s)));
  EXPECT_TRUE(SQ_FAILED(sq_arrayappend(v, -1)));
  EXPECT_TRUE(SQ_FAILED(sq_newslot(v, -1, SQFalse)));
  EXPECT_TRUE(SQ_FAILED(sq_setdelegate(v, -1)));
  EXPECT_TRUE(SQ_FAILED(sq_createinstance(v, -1)));
  EXPECT_TRUE(SQ_FAILED(sq_getinstanceup(v, -1, nullptr, nullptr)));
  EXPECT_TRUE(SQ_FAILED(sq_resume(v, SQFalse, SQFalse)));
  EXPECT_TRUE(SQ_FAILED(sq_wakeupvm(v, SQFalse, SQFalse, SQFalse, SQFalse)));
  EXPECT_TRUE(SQ_FAILED(sq_setparamscheck(v, 1, "i")));
  sq_newclosure(v, sum_args, 0);
  EXPECT_TRUE(SQ_FAILED(sq_setparamscheck(v, 2, ".z")));
  sq_settop(v, 0);
  EXPECT_EQ(sq_gettop(v), 0);
}

TEST(SquirrelApi, CloseRunsEveryHookOnce) {
  g_released = 0;
  {
    Vm vm;
    make_native_class(vm.v);
    EXPECT_EQ(vm.run("::kept <- [Native(1), Native(2)];\n"
                     "local a = { n = Native(3) }; local b = { other = a }; a.back <- b;\n"
                     "::cyc <- { inst = Native(4) }; ::cyc.me <- ::cyc;\n"),
              "");
    EXPECT_EQ(g_released, 0);
    sq_collectgarbage(vm.v);  // a/b form a cycle that is already unreachable
    EXPECT_EQ(g_released, 1);
  }
  EXPECT_EQ(g_released, 4);
}

}  // namespace
