// The world script's run-time entry points: what each does when the script
// lacks its function or fails, and the bool helpers.
#include <string>
#include "tests/worldgen/worldgen_fixture.h"
#include "world/worldScript.h"

using sqbind::SqObject;

namespace {

struct WorldScriptRuntime : WorldScriptTest {
  std::string error() { return get_error_message(); }
  SqObject str(const char* s) {
    sq_pushstring(vm(), s, -1);
    SqObject o = SqObject::fromStack(vm(), -1);
    sq_poptop(vm());
    return o;
  }
};

TEST_F(WorldScriptRuntime, MissingFunctionsAreSilentOrErrorsAsTheCallerNeedsThem) {
  ASSERT_EQ(start(""), "");
  // Optional: nothing happens.
  update_world_script(0.05f);
  activate_current_world();
  EXPECT_EQ(error(), "");
  // Relied on: an error on screen and the fallback.
  struct Case {
    std::string what;
    void (*call)(WorldScriptRuntime&);
  } cases[] = {
      {"process_event", [](WorldScriptRuntime& t) { world_script_event(t.str("x")); }},
      {"process_event", [](WorldScriptRuntime&) { world_script_str_event("enter_world"); }},
      {"get_world_tooltip", [](WorldScriptRuntime& t) { EXPECT_TRUE(get_world_tooltip(t.str("x")).isNull()); }},
      {"get_world_ctx_menu", [](WorldScriptRuntime& t) { EXPECT_TRUE(get_world_ctx_menu(t.str("x")).isNull()); }},
      {"get_savegame_globals", [](WorldScriptRuntime&) { EXPECT_TRUE(get_savegame_globals().isNull()); }},
      {"set_pal_color", [](WorldScriptRuntime&) { set_world_pal_color("lava", 0xFF102030u); }},
      {"get_cur_pal_color", [](WorldScriptRuntime&) { EXPECT_EQ(get_cur_pal_color("lava").u, 0xFFFF00FFu); }},
  };
  for (const Case& c : cases) {
    set_error_message(nullptr);
    c.call(*this);
    EXPECT_EQ(error(), "Error in world script:\nNo '" + c.what + "' function in script");
  }
}

TEST_F(WorldScriptRuntime, PresentFunctionsAreCalledAndTheirErrorsShown) {
  ASSERT_EQ(start("steps <- 0.0; events <- []; activated <- false; pal <- {};"
                  "function update_script(dt) { steps += dt; }"
                  "function activate_current_world() { activated = true; }"
                  "function process_event(e) { if (e == \"bad\") throw \"no such event\"; events.append(e); }"
                  "function get_world_tooltip(o) { return \"tip \" + o; }"
                  "function get_world_ctx_menu(o) { return [o]; }"
                  "function get_savegame_globals() { return { kept = 1 }; }"
                  "function set_pal_color(name, c) { pal[name] <- c; }"
                  "function get_cur_pal_color(name) {"
                  "  if (name == \"int\") return 0x80112233;"
                  "  if (name == \"vec\") return vec4f(2.0, 0.5, -1.0, 1.0);"
                  "  throw \"unknown colour \" + name;"
                  "}"),
            "");
  update_world_script(0.25f);
  activate_current_world();
  world_script_str_event("enter_world");
  world_script_event(str("leave"));
  EXPECT_EQ(eval("steps"), "0.25");
  EXPECT_EQ(eval("activated"), "true");
  EXPECT_EQ(eval("events.len() == 2 && events[0] == \"enter_world\" && events[1] == \"leave\""), "true");
  EXPECT_EQ(error(), "");
  sqbind::set_root_object(vm(), "tip", get_world_tooltip(str("tree")));
  sqbind::set_root_object(vm(), "menu", get_world_ctx_menu(str("rock")));
  sqbind::set_root_object(vm(), "kept", get_savegame_globals());
  EXPECT_EQ(eval("tip + \" \" + menu[0] + \" \" + kept.kept"), "tip tree rock 1");
  set_world_pal_color("lava", 0xFF102030u);
  EXPECT_EQ(eval("pal.lava == 0xFF102030"), "true");
  // Colours: an integer as it is, a vector clamped and packed, an error magenta.
  EXPECT_EQ(get_cur_pal_color("int").u, 0x80112233u);
  EXPECT_EQ(get_cur_pal_color("vec").u, 0xFFFF8000u);
  EXPECT_EQ(error(), "");
  EXPECT_EQ(get_cur_pal_color("teal").u, 0xFFFF00FFu);
  EXPECT_EQ(error(), "Error in world script:\nunknown colour teal");
  set_error_message(nullptr);
  testing::internal::CaptureStdout();
  world_script_str_event("bad");
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(error(), "Error in world script:\nno such event");
}

TEST_F(WorldScriptRuntime, BoolGlobalsAndBoolFunctions) {
  ASSERT_EQ(start("zero <- 0; nothing <- null; no <- false; yes <- true; one <- 1; text <- \"x\";"
                  "calls <- 0;"
                  "function truthy() { calls++; return 1; }"
                  "function broken() { calls++; throw \"broken\"; }"),
            "");
  struct Case {
    const char* name;
    int fallback, expected;
  } cases[] = {{"zero", 1, 0}, {"nothing", 1, 0}, {"no", 1, 0}, {"yes", 0, 1}, {"one", 0, 1}, {"text", 0, 1}};
  for (const Case& c : cases) EXPECT_EQ(get_world_script_bool(c.name, c.fallback), c.expected) << c.name;
  EXPECT_EQ(error(), "");
  testing::internal::CaptureStdout();
  EXPECT_EQ(get_world_script_bool("missing", 7), 7);
  std::string log = testing::internal::GetCapturedStdout();
  EXPECT_NE(log.find("getGlobal 'missing' failed"), std::string::npos) << log;
  EXPECT_EQ(error().rfind("Error in world script:\n", 0), 0u);

  SqObject root = SqObject::root(vm());
  sqbind::SqFunc<bool> truthy(vm(), root, "truthy"), broken(vm(), root, "broken"), absent(vm(), root, "absent");
  EXPECT_TRUE(call_bool_func(truthy, false));
  set_error_message(nullptr);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(call_bool_func(broken, true));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(error(), "Error in world script:\nbroken");
  EXPECT_EQ(eval("calls"), "2");
  // Empty handles return the fallback without a call: no function, a dead
  // environment, no machine at all.
  EXPECT_FALSE(call_bool_func(absent, false));
  EXPECT_TRUE(call_bool_func(sqbind::SqFunc<bool>(), true));
  ASSERT_EQ(run("holder <- { f = truthy };"), "");
  sqbind::SqFunc<bool> orphan(vm(), sqbind::getGlobal(vm(), "holder"), "f");
  ASSERT_EQ(run("holder = null;"), "");
  sq_collectgarbage(vm());
  SQInteger top = sq_gettop(vm());
  EXPECT_FALSE(call_bool_func(orphan, false));
  EXPECT_EQ(sq_gettop(vm()), top);
  EXPECT_EQ(eval("calls"), "2");
}

TEST_F(WorldScriptRuntime, WithoutAWorldScriptEveryEntryPointFallsBack) {
  close_world_script();
  update_world_script(0.05f);
  world_script_str_event("enter_world");
  EXPECT_TRUE(get_world_tooltip(SqObject()).isNull());
  EXPECT_TRUE(get_savegame_globals().isNull());
  EXPECT_EQ(get_cur_pal_color("x").u, 0xFFFF00FFu);
  EXPECT_EQ(get_world_script_bool("x", 3), 3);
  EXPECT_EQ(get_world_script_vm(), nullptr);
  EXPECT_EQ(error(), "");
}

}  // namespace
