// The settings grammar, the settings store and its file, ConfigNode, and the
// command line.
#include <gtest/gtest.h>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>
#include "app/app.h"
#include "app/config.h"
#include "app/log.h"
#include "tests/support/test_support.h"

static std::string dump(const ConfigNode& n) {
  std::string s;
  for (const ConfigNode::Entry& e : n.entries) s += std::string("[") + e.key.c_str() + "=" + e.value.c_str() + "]";
  return s;
}

TEST(ConfigGrammar, LinesToEntries) {
  struct {
    const char* text;
    const char* want;
  } cases[] = {
      {"_CONFIG_VERSION_=7\nscreen_wd = 1600  \n// a comment = 1\n", "[screen_wd=1600]"},
      {"a=1 // note", "[a=1 // note]"},  // a comment after "=" is part of the value
      {"\t  key\t=\t v a l \t\r\nnext=2\r\n", "[key=v a l][next=2]"},
      {"no equals here\n", ""},
      {"a b=c\n", "[b=c]"},  // words without "=" are skipped, scanning goes on
      {"x // y=1\n", ""},    // "//" after a word starts a comment
      {"=empty key\n", "[=empty key]"},
      {"k=\nk2=  \n", "[k=][k2=]"},
      {"dup=1\ndup=0", "[dup=1][dup=0]"},
      {"\r\n\n   \n\t\n", ""},
      {"_CONFIG_VERSION_X=1\n_CONFIG_VERSION_ = 2\n", "[_CONFIG_VERSION_X=1]"},
      {"a=b=c\n", "[a=b=c]"},
      {"trail", ""},
  };
  for (auto& c : cases) {
    ConfigNode n;
    n.parse(c.text, (int)strlen(c.text));
    EXPECT_EQ(dump(n), c.want) << c.text;
  }
  ConfigNode n;  // the length bounds the text: nothing past it is read
  n.parse("a=12345", 4);
  EXPECT_EQ(dump(n), "[a=12]");
}

TEST(ConfigNode, TypedGettersAndFiles) {
  ConfigNode n;
  const char* text = "hex=0x10\noct=010\nneg=-5\nf=2.5e1\nword=yes\nempty=\nbig=99999999999\nhex=1\n";
  n.parse(text, (int)strlen(text));
  EXPECT_EQ(n.getInt("hex", -1), 16);  // the first of two wins
  EXPECT_EQ(n.getInt("oct", -1), 8);
  EXPECT_EQ(n.getInt("neg", 0), -5);
  EXPECT_EQ(n.getInt("word", 7), 7);
  EXPECT_EQ(n.getInt("missing", 3), 3);
  EXPECT_EQ(n.getInt("big", 0), 2147483647);
  EXPECT_DOUBLE_EQ(n.getFloat("f", 0), 25.0);
  EXPECT_DOUBLE_EQ(n.getFloat("word", 1.5), 1.5);
  EXPECT_STREQ(n.getStr("empty", "def"), "");
  EXPECT_STREQ(n.getStr("missing", "def"), "def");
  EXPECT_EQ(n.findEntry("hex"), 0);
  EXPECT_EQ(n.findEntry("HEX"), -1);  // keys are case-sensitive
  EXPECT_TRUE(n.hasValue("empty"));

  TempDir dir;
  EXPECT_EQ(ConfigNode::fromFile(dir.file("missing.cfg").c_str()), nullptr);
  EXPECT_EQ(ConfigNode::fromFile(dir.path.c_str()), nullptr);  // a folder is not a file
  ASSERT_TRUE(write_file(dir.file("a.cfg"), "x = 1\r\ny = two\r\n"));
  ConfigNode* f = ConfigNode::fromFile(dir.file("a.cfg").c_str());
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(f->load(dir.file("a.cfg").c_str()));  // load appends
  EXPECT_EQ(dump(*f), "[x=1][y=two][x=1][y=two]");
  f->clear();
  EXPECT_EQ(f->entries.count(), 0);
  delete f;
}

// Each test gets a private per-user folder and a store that reads it afresh.
struct Settings : testing::Test {
  TempDir dir;
  std::string keep;
  void SetUp() override {
    keep = getenv("XDG_DATA_HOME") ? getenv("XDG_DATA_HOME") : "";
    setenv("XDG_DATA_HOME", dir.path.c_str(), 1);
    std::filesystem::create_directories(dir.file("Quorvale"));
    reset_app_config();
  }
  void TearDown() override {
    reset_app_config();
    close_debug_log();
    setenv("XDG_DATA_HOME", keep.c_str(), 1);
  }
  std::string path() { return dir.file("Quorvale/settings.cfg"); }
  void file(const std::string& text) { ASSERT_TRUE(write_file(path(), text)); }
  std::string read() {
    std::string s;
    return read_file(path(), s) ? s : "<none>";
  }
};

TEST_F(Settings, TypedGettersFollowTheGrammarAndTheCRules) {
  file("_CONFIG_VERSION_=7\nscreen_wd=1600  \n// screen_ht=5\na=1 // note\nfullscreen=yes\n"
       "vsync=1\nvsync=0\nf=0.25\nhex=0x1F\n");
  char buf[64];
  ASSERT_TRUE(get_config_str("screen_wd", buf, sizeof(buf)));
  EXPECT_STREQ(buf, "1600");
  EXPECT_FALSE(get_config_str("_CONFIG_VERSION_", buf, sizeof(buf)));
  EXPECT_FALSE(get_config_str("screen_ht", buf, sizeof(buf)));
  int i = -1;
  ASSERT_TRUE(get_config_int("a", i));
  EXPECT_EQ(i, 1);
  ASSERT_TRUE(get_config_int("hex", i));
  EXPECT_EQ(i, 31);
  bool b = true;
  EXPECT_FALSE(get_config_bool("fullscreen", b));  // no number: the default stays
  EXPECT_TRUE(b);
  ASSERT_TRUE(get_config_bool("vsync", b));  // the first of two wins
  EXPECT_TRUE(b);
  float f = 0;
  ASSERT_TRUE(get_config_float("f", f));
  EXPECT_FLOAT_EQ(f, 0.25f);
  // The value and its terminator must fit the buffer.
  ASSERT_TRUE(get_config_str("screen_wd", buf, 5));
  EXPECT_FALSE(get_config_str("screen_wd", buf, 4));
}

TEST_F(Settings, LongValuesAreAbsentForTypedGetters) {
  std::string v63(62, '0');
  v63 = "7" + v63;  // 63 characters: fits 64 bytes
  file("fits=" + v63 + "\nlong=" + v63 + "0\n");
  int i = 5;
  EXPECT_TRUE(get_config_int("fits", i));
  i = 5;
  EXPECT_FALSE(get_config_int("long", i));
  EXPECT_EQ(i, 5);
}

TEST_F(Settings, FlushWritesOnlyAfterAChangeAndKeepsEveryEntry) {
  file("vsync=1\nvsync=0\nname = a b \n");
  EXPECT_TRUE(flush_app_config());  // nothing changed: nothing written
  EXPECT_EQ(read(), "vsync=1\nvsync=0\nname = a b \n");
  ASSERT_TRUE(set_config_int("screen_wd", 800));
  ASSERT_TRUE(flush_app_config());
  EXPECT_EQ(read(), "// Game settings\n_CONFIG_VERSION_=1\n\nvsync=1\nvsync=0\nname=a b\nscreen_wd=800\n");
  std::filesystem::remove(path());
  EXPECT_TRUE(flush_app_config());  // no change since: not written again
  EXPECT_EQ(read(), "<none>");
  set_config_int("screen_wd", 800);  // the same value still counts as a change
  set_config_bool("vsync", false);   // replaces the first entry only
  set_config_float("gamma", 1.5f);
  set_config_str("raw", "abcdef", 3);
  set_config_str("nothing", nullptr);
  ASSERT_TRUE(flush_app_config());
  EXPECT_EQ(read(), "// Game settings\n_CONFIG_VERSION_=1\n\nvsync=0\nvsync=0\nname=a b\nscreen_wd=800\n"
                    "gamma=1.5\nraw=abc\nnothing=\n");
  for (auto& e : std::filesystem::directory_iterator(dir.file("Quorvale")))  // renamed: no temporary file is left
    EXPECT_TRUE(e.path().filename() == "settings.cfg" || e.path().filename() == "log.txt") << e.path();
}

TEST_F(Settings, MissingFileIsCreatedByTheFirstFlush) {
  int i = 9;
  EXPECT_FALSE(get_config_int("screen_wd", i));
  EXPECT_EQ(i, 9);
  ASSERT_TRUE(flush_app_config());
  EXPECT_EQ(read(), "// Game settings\n_CONFIG_VERSION_=1\n\n");
}

TEST_F(Settings, FailedWriteIsNotRetriedBeforeTheNextChange) {
  file("keep=1\n");
  set_config_int("a", 1);
  // Make the file impossible to replace: a folder stands where it goes.
  std::filesystem::remove(path());
  std::filesystem::create_directories(path());
  EXPECT_FALSE(flush_app_config());
  EXPECT_TRUE(flush_app_config());  // not tried again
  set_config_int("a", 2);
  EXPECT_FALSE(flush_app_config());
  std::filesystem::remove(path());
  set_config_int("a", 3);
  ASSERT_TRUE(flush_app_config());
  EXPECT_EQ(read(), "// Game settings\n_CONFIG_VERSION_=1\n\nkeep=1\na=3\n");
}

TEST_F(Settings, StartUpSettings) {
  file("screen_wd=1600\nscreen_ht=900\nfullscreen=0\ngfx_quality=LOW\nprocess_priority=0\n"
       "land_shadows=1\ninvert_mouse_y=1\n");
  use_ppaa = app_use_vsync = true;
  gfx_quality = 1;
  char arg0[] = "quorvale", arg1[] = "-vs";
  char* argv[] = {arg0, arg1};
  read_app_config(2, argv);
  EXPECT_EQ(app_screen_wd, 1600);
  EXPECT_EQ(app_screen_ht, 900);
  EXPECT_FALSE(want_fullscreen);
  EXPECT_EQ(gfx_quality, 0);
  EXPECT_FALSE(use_ppaa);      // off unless the settings say otherwise
  EXPECT_TRUE(app_use_vsync);  // the command line overrides
  EXPECT_EQ(land_shadow_quality, 1);
  EXPECT_TRUE(invert_mouse_y);
  EXPECT_EQ(get_process_priority(), 0);
  EXPECT_EQ(read(), "screen_wd=1600\nscreen_ht=900\nfullscreen=0\ngfx_quality=LOW\nprocess_priority=0\n"
                    "land_shadows=1\ninvert_mouse_y=1\n");  // options are never written back
  app_screen_wd = app_screen_ht = 0;
  want_fullscreen = true;
  gfx_quality = 1;
  land_shadow_quality = 2;
  invert_mouse_y = false;
}

TEST(CommandLine, Options) {
  struct Want {
    int wd = 0, ht = 0;
    bool fullscreen = true, ppaa = false, vsync = false, devmode = false;
    int gfx = 1, slot = -1, frames = 0;
    const char* start = "";
    const char* shot = "";
  };
  struct Case {
    std::vector<const char*> args;
    Want want;
  };
  auto w = [](auto edit) {
    Want x;
    edit(x);
    return x;
  };
  Case cases[] = {
      {{"-720"}, w([](Want& x) { x.wd = 1280, x.ht = 720; })},
      {{"-360"}, w([](Want& x) { x.wd = 640, x.ht = 360; })},
      {{"-1024", "-360"}, w([](Want& x) { x.wd = 640, x.ht = 360; })},  // the later one wins
      {{"-aa"}, w([](Want& x) { x.ppaa = true; })},
      {{"-aa", "-noaa"}, w([](Want&) {})},
      {{"-vs"}, w([](Want& x) { x.vsync = true; })},
      {{"-vs", "-novs"}, w([](Want&) {})},
      {{"-win"}, w([](Want& x) { x.fullscreen = false; })},
      {{"-win", "-fullscr"}, w([](Want&) {})},
      {{"-gfx-low"}, w([](Want& x) { x.gfx = 0; })},
      {{"-gfx-low", "-gfx-high"}, w([](Want&) {})},
      {{"-devmode"}, w([](Want& x) { x.devmode = true; })},
      {{"-start", "sandbox"}, w([](Want& x) { x.start = "sandbox"; })},
      {{"-start", "-win"}, w([](Want& x) { x.start = "-win", x.fullscreen = false; })},
      {{"-start"}, w([](Want&) {})},  // no argument follows: nothing
      {{"-slot", "3"}, w([](Want& x) { x.slot = 3; })},
      {{"-slot", "x"}, w([](Want& x) { x.slot = 0; })},
      {{"-slot", "010"}, w([](Want& x) { x.slot = 10; })},
      {{"-slot"}, w([](Want&) {})},
      {{"-frames", "60"}, w([](Want& x) { x.frames = 60; })},
      {{"-shot", "out.png"}, w([](Want& x) { x.shot = "out.png"; })},
      {{"-WIN", "win", "--win", "-unknown"}, w([](Want&) {})},  // exact matches only
  };
  for (const Case& c : cases) {
    app_screen_wd = app_screen_ht = 0;
    want_fullscreen = true, use_ppaa = false, app_use_vsync = false, start_in_dev_mode = false;
    gfx_quality = 1, start_game_slot = -1, quit_after_frames = 0;
    start_game_mode = "";
    shot_path = "";
    std::vector<char*> argv = {(char*)"quorvale"};
    std::string label;
    for (const char* a : c.args) argv.push_back((char*)a), label += std::string(a) + " ";
    parse_command_line((int)argv.size(), argv.data());
    const Want& x = c.want;
    EXPECT_EQ(app_screen_wd, x.wd) << label;
    EXPECT_EQ(app_screen_ht, x.ht) << label;
    EXPECT_EQ(want_fullscreen, x.fullscreen) << label;
    EXPECT_EQ(use_ppaa, x.ppaa) << label;
    EXPECT_EQ(app_use_vsync, x.vsync) << label;
    EXPECT_EQ(start_in_dev_mode, x.devmode) << label;
    EXPECT_EQ(gfx_quality, x.gfx) << label;
    EXPECT_EQ(start_game_slot, x.slot) << label;
    EXPECT_EQ(quit_after_frames, x.frames) << label;
    EXPECT_STREQ(start_game_mode.c_str(), x.start) << label;
    EXPECT_STREQ(shot_path.c_str(), x.shot) << label;
  }
  app_screen_wd = app_screen_ht = 0;
  want_fullscreen = true, start_in_dev_mode = false, start_game_slot = -1, quit_after_frames = 0;
  start_game_mode = "";
  shot_path = "";
}
