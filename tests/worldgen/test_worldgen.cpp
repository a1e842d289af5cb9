// The world generation interface: starting a mode's world script, the
// generation sequences and their errors, the palette file, the random and
// colour helpers, the reload of changed scripts, and the game's own modes:
// the sandbox world is the same bit for bit from the same seed, and the
// logged seed line reproduces it as a script's first statement.
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <regex>
#include <string>
#include "game/game_mode.h"
#include "objects/spells.h"
#include "tests/worldgen/worldgen_fixture.h"

using namespace HeightmapData;
using sqbind::SqObject;

namespace {

struct WorldGen : WorldScriptTest {};

TEST_F(WorldGen, AScriptWithoutGenerateWorldLeavesAFlatGreyWorld) {
  ASSERT_EQ(start("game_mode_info <- { title = \"T\" };"), "");
  for (int i = 0; i < HMAP_CELLS; i++) {
    hmap[i] = (float)(i % 13);
    water[i].amount = 1.0f;
    surface[i].color = D3dColor(0xFF00FF00u);
  }
  testing::internal::CaptureStdout();
  generate_world("game");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_STREQ(get_error_message(), "Error in world gen script:\nNo 'generate_world' function in script");
  for (int i = 0; i < HMAP_CELLS; i += 97) {
    ASSERT_EQ(hmap[i], 0.0f);
    ASSERT_EQ(target_hmap[i], 0.0f);
    ASSERT_EQ(water[i].amount, 0.0f);
    ASSERT_EQ(surface[i].color.u, 0xFF808080u);
    ASSERT_EQ(info_ground(surface[i].info), GT_ROCK);
  }
  EXPECT_NE(out.find("generated world in "), std::string::npos);
}

TEST_F(WorldGen, ScriptErrorsKeepThePartlyGeneratedWorld) {
  ASSERT_EQ(start("function generate_world(name) {\n"
                  "  apply_height_mask(HmapMask(3), null);\n"
                  "  no_such_function();\n"
                  "}\n"),
            "");
  testing::internal::CaptureStdout();
  generate_world("game");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_STREQ(get_error_message(), "Error in world gen script:\nthe index 'no_such_function' does not exist");
  EXPECT_EQ(hmap[1234], 3.0f);
  EXPECT_EQ(target_hmap[1234], 3.0f);  // the world starts at rest
  EXPECT_NE(out.find("bin/gameModes/t/gen/main.nut(3): ERROR:"), std::string::npos) << out;
  // A generator's own checks reach the script as errors, not as a stop.
  EXPECT_EQ(eval("(function() { try { add_voronoi_hills(6, 0, 1, 1); } catch (e) { return e; } })()"),
            "add_voronoi_hills(): tile must be a power of 2");
  EXPECT_EQ(eval("(function() { try { add_fast_noise(2, 1, null, -1, 255, 0.5); } catch (e) { return e; } })()"),
            "add_fast_noise(): min_ht must not be above max_ht");
}

TEST_F(WorldGen, StartingAModeReadsItsInfoAndFailsWithItsScript) {
  ASSERT_EQ(start("game_mode_info <- { title = \"Q\", hasUniverse = true, noSavedGame = true,"
                  " worldSimAfterLeaveTime = 2.5 };"),
            "");
  EXPECT_STREQ(game_mode_id.c_str(), "t");
  EXPECT_EQ(eval("game_mode_id"), "t");
  EXPECT_TRUE(game_mode_has_universe);
  EXPECT_FALSE(game_mode_has_saves);
  EXPECT_FLOAT_EQ(world_sim_after_leave_time, 2.5f);
  ASSERT_EQ(start("function generate_world(n) {}", "u"), "");
  EXPECT_FALSE(game_mode_has_universe);
  EXPECT_TRUE(game_mode_has_saves);
  EXPECT_EQ(world_sim_after_leave_time, 0.0f);
  testing::internal::CaptureStdout();
  EXPECT_EQ(start("throw \"broken mode\";", "v"), "broken mode");
  testing::internal::GetCapturedStdout();
  // The mode's own palette file wins over the shared one.
  write("gameModes/w/gen/palettes.csv", "name,x\nown,5\n");
  ASSERT_EQ(start("", "w"), "");
  EXPECT_EQ(eval("world_palettes.own.x"), "5");
}

TEST_F(WorldGen, ConstantsAndHelpers) {
  ASSERT_EQ(start(""), "");
  struct Case {
    const char* expr;
    const char* result;
  };
  const Case cases[] = {
      {"wrap(200)", "-56"},
      {"wrap(-128)", "128"},
      {"wrap(128)", "128"},
      {"wrap(-300)", "-44"},
      {"round(2.5)", "2"},
      {"round(3.5)", "4"},
      {"round(-1.4)", "-1"},
      {"HMAP_SIZE + HMAP_SIZE_SHIFT", "264"},
      {"GT_NONE + GT_SOIL + ST_ROAD + MARK_PLACEMENT", "13"},
      {"SE_use_portal", "0"},
      {"SE_enter_world", "1"},
      {"SE_land_moving", "33"},
      {"SE_universe_map", "49"},
      {"B_spells", "10"},
      {"tocolor(0x12345678)", "305419896"},
      {"tocolor([1, 0.5, 0, 1]) == 0xFFFF8000", "true"},
      {"tocolor(lerpcolor(0xFF000000, 0xFFFFFFFF, 0.5)) == 0xFF808080", "true"},
      {"tocolor(mix3colors(0xFFFF0000, 0.5, 0xFF00FF00, 0.5, 0xFF0000FF, 0)) == 0xFF808000", "true"},
      {"mix4colors(1.0, 1, 2.0, 1, 3.0, 1, 4.0, 1)[2]", "10"},
      {"make_dir_xz(0.25)[2]", "1"},
      {"fabs(make_dir_xz(0.25)[0]) < 1e-6", "true"},
      {"make_dir_2d(0, vec4f(1, 2, 3, 4), vec4f(9))[3]", "4"},
      {"tocolor(hsv2rgba(120, 1, 1, 1)) == 0xFF00FF00", "true"},
      {"rndi(5, 5)", "5"},
      {"get_spell_title(\"NoSuchSpell\")", "?"},
      {"get_spell_icon_name(\"NoSuchSpell\")", ""},
      {"get_noise_hash2(3, 4) == get_noise_hash1(3 + get_noise_hash1(4))", "true"},
      {"play_sound_event(\"enter_world\")", "0"},
      {"fabs(tiled_fractal_noise2(3.5, 7.25, 64, 3, null, 0.5) - tiled_fractal_noise2(67.5, 7.25 - 128, 64, 3, null, 0.5)) < 1e-3",
       "true"},
  };
  for (const Case& c : cases) EXPECT_EQ(eval(c.expr), c.result) << c.expr;
  // The seed as a script variable: the low 32 bits of the generator's state.
  ASSERT_EQ(run("game_rnd_seed = 3000000000;"), "");  // wraps to a negative script integer
  EXPECT_EQ(game_rnd_seed, 3000000000u);
  game_rnd_seed = 0x100000007ull;
  EXPECT_EQ(eval("game_rnd_seed"), "7");
  EXPECT_EQ(eval("(function() { try { game_rnd_seed = 1.5; } catch (e) { return e; } })()"),
            "game_rnd_seed must be an integer");
  EXPECT_EQ(eval("(function() { try { return not_a_global; } catch (e) { return e; } })()"),
            "the index 'not_a_global' does not exist");
  // Draws come from the game's random state in order.
  game_rnd_seed = 42;
  ASSERT_EQ(run("draws <- [hmrnd(), irnd(), frnd(), srnd(), hmfrnd(), hmsrnd(), rndf(2, 3), rndi(-4, 4)];"), "");
  uint64_t after = game_rnd_seed;
  game_rnd_seed = 42;
  int h = hmrnd(), i = irnd();
  float f = frnd();
  for (int k = 0; k < 5; k++) game_rnd_step();
  EXPECT_EQ(game_rnd_seed, after);
  EXPECT_EQ(eval("draws[0]"), std::to_string(h));
  EXPECT_EQ(eval("draws[1]"), std::to_string(i));
  ASSERT_EQ(run("third <- draws[2];"), "");
  EXPECT_EQ(sqbind::getSlotFloat(SqObject::root(vm()), "third"), f);
  EXPECT_EQ(eval("draws[2] >= 0 && draws[2] <= 1 && draws[7] >= -4 && draws[7] <= 4"), "true");
}

TEST_F(WorldGen, PaletteFile) {
  ASSERT_EQ(start(""), "");
  write("p.csv",
        "name,dark;count,other\r\n"
        "# a comment line\n"
        "lava,0x10,012\n"
        ",skipped,1\n"
        "rock;;7,,x9,4,5,6\n"
        "sea,08,0xFFFFFFFF\n");
  load_world_palettes(vm(), dir.file("p.csv").c_str());
  struct Case {
    const char* expr;
    const char* result;
  };
  const Case cases[] = {
      {"world_palettes.lava.name", "lava"},
      {"world_palettes.lava.dark", "16"},
      {"world_palettes.lava.count", "10"},
      {"\"other\" in world_palettes.lava", "false"},
      {"world_palettes.len()", "3"},
      {"world_palettes.rock.dark", "7"},  // runs of separators count as one
      {"\"count\" in world_palettes.rock", "false"},  // x9 is no number
      {"world_palettes.rock.other", "4"},  // extra fields are ignored
      {"world_palettes.sea.dark", "0"},   // 08: the octal digits end at 8
      {"world_palettes.sea.count", "-1"},  // the packed colour as a script integer
  };
  for (const Case& c : cases) EXPECT_EQ(eval(c.expr), c.result) << c.expr;

  // A very long line keeps its first 1,023 characters; the next line is read as usual.
  write("long.csv", "name,a\nlong," + std::string(1100, '7') + "\nnext,3\n");
  load_world_palettes(vm(), dir.file("long.csv").c_str());
  EXPECT_EQ(eval("world_palettes.next.a"), "3");
  EXPECT_EQ(eval("world_palettes.len()"), "2");

  write("empty.csv", "");
  std::string empty = dir.file("empty.csv"), missing = dir.file("missing.csv");
  try {
    load_world_palettes(vm(), empty.c_str());
    FAIL();
  } catch (const sqbind::SquirrelError& e) {
    EXPECT_EQ(std::string(e.what()), "error reading " + empty);
  }
  try {
    load_world_palettes(vm(), missing.c_str());
    FAIL();
  } catch (const sqbind::SquirrelError& e) {
    EXPECT_EQ(std::string(e.what()), "can't open " + missing);
  }
  EXPECT_EQ(eval("world_palettes.len()"), "2");  // a failed load changes nothing
}

TEST_F(WorldGen, UniverseGeneration) {
  ASSERT_EQ(start("game_mode_info <- { title = \"Saga\", hasUniverse = true };"
                  "function generate_universe() { return { worlds = [{ name = \"A\" }, { name = \"B\" }], enteredWorld = -1 }; }"),
            "");
  testing::internal::CaptureStdout();
  generate_universe();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(has_error_message()) << get_error_message();
  ASSERT_FALSE(universe.isNull());
  EXPECT_EQ(eval("universe.worlds[1].name"), "B");
  EXPECT_EQ(eval("universe.enteredWorld"), "-1");
  EXPECT_FALSE(worlds.isNull());
  std::string name = sqbind::getSlotString(cur_game_info, "name").c_str();
  EXPECT_TRUE(std::regex_match(name, std::regex("Saga, started .+ in v0\\.27 DEMO"))) << name;
  EXPECT_STREQ(sqbind::getSlotString(cur_game_info, "mode").c_str(), "t");
  EXPECT_NE(out.find("generated universe in "), std::string::npos);

  // A title that would make the text too long is cut to fit 259 characters.
  std::string title(400, 'T');
  ASSERT_EQ(start("game_mode_info <- { title = \"" + title + "\" };"
                  "function generate_universe() { return {}; }"),
            "");
  testing::internal::CaptureStdout();
  generate_universe();
  testing::internal::GetCapturedStdout();
  name = sqbind::getSlotString(cur_game_info, "name").c_str();
  EXPECT_EQ(name.size(), 259u);
  EXPECT_EQ(name.substr(name.size() - 14), " in v0.27 DEMO") << name;

  ASSERT_EQ(start("function generate_world(n) {}"), "");
  testing::internal::CaptureStdout();
  generate_universe();
  testing::internal::GetCapturedStdout();
  EXPECT_STREQ(get_error_message(), "Error in universe gen script:\nNo 'generate_universe' function in script");
  EXPECT_TRUE(universe.isNull());
}

TEST_F(WorldGen, GlobalResourcesLiveInTheUniversesResourcesTable) {
  ASSERT_EQ(start("game_mode_info <- { title = \"Saga\", hasUniverse = true };"
                  "function generate_universe() { return { resources = { star = 2, seed = \"x\" } }; }"),
            "");
  // No universe yet.
  EXPECT_EQ(eval("get_glob_res_amount(\"shard\")"), "0");
  EXPECT_FALSE(add_glob_res_amount("shard", 3));
  testing::internal::CaptureStdout();
  generate_universe();
  testing::internal::GetCapturedStdout();
  ASSERT_FALSE(universe.isNull());
  EXPECT_EQ(eval("get_glob_res_amount(\"star\")"), "2");
  EXPECT_EQ(get_glob_res_amount("shard"), 0);
  EXPECT_EQ(get_glob_res_amount("seed"), 0);  // not a number
  EXPECT_TRUE(add_glob_res_amount("shard", 3));
  EXPECT_EQ(eval("universe.resources.shard"), "3");
  EXPECT_TRUE(add_glob_res_amount("star", -1));
  EXPECT_EQ(eval("get_glob_res_amount(\"star\")"), "1");
  // A universe without the table, or with something else in its place.
  ASSERT_EQ(run("delete universe.resources;"), "");
  EXPECT_EQ(get_glob_res_amount("star"), 0);
  EXPECT_FALSE(add_glob_res_amount("star", 1));
  ASSERT_EQ(run("universe.resources <- [1, 2];"), "");
  EXPECT_FALSE(add_glob_res_amount("star", 1));
  EXPECT_EQ(eval("universe.resources.len()"), "2");
}

// Gives a file a modification time it never had before in this run.
void touch(const std::string& path) {
  static int later = 0;
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  struct timeval tv[2] = {{st.st_atime, 0}, {st.st_mtime + 10 + ++later, 0}};
  ASSERT_EQ(utimes(path.c_str(), tv), 0);
}

TEST_F(WorldGen, ChangedScriptsAndPalettesRegenerate) {
  write("gen/lib.nut", "height <- 2;");
  ASSERT_EQ(start("include(\"gen/lib.nut\");"
                  "runs <- 0;"
                  "function generate_world(name) { ::runs++; apply_height_mask(HmapMask(height), null); }"),
            "");
  testing::internal::CaptureStdout();
  reload_world_script_if_changed();  // nothing changed
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(eval("runs"), "0");

  write("gen/lib.nut", "height <- 5;");
  touch(dir.file("gen/lib.nut"));
  set_error_message("old message");
  testing::internal::CaptureStdout();
  reload_world_script_if_changed();
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(has_error_message());
  EXPECT_EQ(eval("runs"), "1");  // main.nut ran again (runs <- 0), then one generation
  EXPECT_EQ(hmap[77], 5.0f);

  touch(dir.file("gen/palettes.csv"));
  testing::internal::CaptureStdout();
  reload_world_script_if_changed();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(eval("runs"), "2");  // the palettes alone: no script ran, one more generation

  // A broken edit shows its error and leaves the world as it is.
  write("gen/lib.nut", "height <- ;");
  touch(dir.file("gen/lib.nut"));
  testing::internal::CaptureStdout();
  reload_world_script_if_changed();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::string(get_error_message()).rfind("Error in world gen script:\n", 0), 0u) << get_error_message();
  EXPECT_EQ(hmap[77], 5.0f);
  EXPECT_EQ(eval("runs"), "0");  // main.nut ran again before lib.nut failed; nothing was generated
}

// ---- the game's own modes

struct GameModes : WorldScriptTest {
  void SetUp() override {
    WorldScriptTest::SetUp();
    const char* src = getenv("QV_SOURCE_DIR");
    ASSERT_NE(src, nullptr);
    snprintf(app_path, sizeof(app_path), "%s/data/", src);
  }
  uint64_t sandbox_world(uint64_t seed, std::string* log = nullptr) {
    EXPECT_EQ(start_existing("sandbox"), "");
    game_rnd_seed = seed;
    testing::internal::CaptureStdout();
    generate_world("game");
    std::string out = testing::internal::GetCapturedStdout();
    if (log) *log = out;
    EXPECT_FALSE(has_error_message()) << get_error_message();
    return world_grids_hash();
  }
  std::string start_existing(const char* mode) {
    try {
      init_world_script(mode);
    } catch (const sqbind::SquirrelError& e) {
      return e.what();
    }
    return "";
  }
};

TEST_F(GameModes, TheModesStartWithTheirFlags) {
  struct Case {
    const char* mode;
    bool universe, saves;
  };
  for (const Case& c : {Case{"mainMenu", false, false}, Case{"sandbox", false, false}, Case{"story", true, true}}) {
    ASSERT_EQ(start_existing(c.mode), "") << c.mode;
    EXPECT_EQ(game_mode_has_universe, c.universe) << c.mode;
    EXPECT_EQ(game_mode_has_saves, c.saves) << c.mode;
    EXPECT_TRUE(world_script_funcs.generate_world.isValid()) << c.mode;
    // The run-time rules every mode brings.
    EXPECT_TRUE(world_script_funcs.process_event.isValid()) << c.mode;
    EXPECT_TRUE(world_script_funcs.get_savegame_globals.isValid()) << c.mode;
    EXPECT_TRUE(world_script_funcs.get_cur_pal_color.isValid()) << c.mode;
  }
}

TEST_F(GameModes, ThePaletteOfTheWorldBuiltLastCanBeEdited) {
  ASSERT_EQ(start_existing("sandbox"), "");
  game_rnd_seed = 3;
  testing::internal::CaptureStdout();
  generate_world("game");
  world_script_funcs.process_event("enter_world");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("entered a world of type "), std::string::npos);
  EXPECT_EQ(eval("get_cur_pal_color(\"sand\") == world_palettes[cur_world_type].sand"), "true");
  ASSERT_EQ(run("set_pal_color(\"sand\", 0xFF010203);"), "");
  EXPECT_EQ(eval("get_cur_pal_color(\"sand\")"), std::to_string(0xFF010203 - 4294967296ll));
  EXPECT_EQ(eval("world_palettes[cur_world_type].sand != 0xFF010203"), "true");  // the file's row stays
  EXPECT_EQ(eval("(function() { try { get_cur_pal_color(\"nope\"); } catch (e) { return e; } })()"),
            "no palette colour 'nope'");
  EXPECT_EQ(eval("get_savegame_globals().cur_world_type == cur_world_type"), "true");
}

TEST_F(GameModes, TheSandboxWorldIsTheSameFromTheSameSeed) {
  std::string log;
  uint64_t a = sandbox_world(20240611, &log);
  uint64_t b = sandbox_world(20240611);
  EXPECT_EQ(a, b);
  EXPECT_NE(sandbox_world(77), a);

  // The logged line, as the first statement of a script, makes the same world.
  std::smatch m;
  ASSERT_TRUE(std::regex_search(log, m, std::regex("game_rnd_seed=[0-9]+;"))) << log;
  TempDir replay;
  std::string data = app_path;
  symlink((data + "gen").c_str(), (replay.path + "/gen").c_str());
  make_folders((replay.path + "/gameModes/replay/gen").c_str());
  symlink((data + "gameModes/sandbox").c_str(), (replay.path + "/gameModes/sandbox").c_str());
  ASSERT_TRUE(write_file(replay.path + "/gameModes/replay/gen/main.nut",
                         m.str() + "\ninclude(\"gameModes/sandbox/gen/main.nut\");\n"));
  snprintf(app_path, sizeof(app_path), "%s/", replay.path.c_str());
  game_rnd_seed = 1;  // whatever the state, the script sets it
  ASSERT_EQ(start_existing("replay"), "");
  testing::internal::CaptureStdout();
  generate_world("game");
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(has_error_message()) << get_error_message();
  EXPECT_EQ(world_grids_hash(), a);
}

TEST_F(GameModes, StoryWorldsFollowTheUniverse) {
  ASSERT_EQ(start_existing("story"), "");
  game_rnd_seed = 5;
  testing::internal::CaptureStdout();
  generate_universe();
  testing::internal::GetCapturedStdout();
  ASSERT_FALSE(has_error_message()) << get_error_message();
  EXPECT_EQ(eval("universe.worlds.len()"), "8");
  EXPECT_EQ(eval("universe.worlds[2].type"), "volcanic");
  EXPECT_EQ(eval("typeof universe.worlds[2].seed"), "integer");
  // Entering a world twice builds the same land, whatever happened between.
  ASSERT_EQ(run("universe.enteredWorld = 2;"), "");
  testing::internal::CaptureStdout();
  generate_world("game");
  uint64_t first = world_grids_hash();
  game_rnd_seed = 999;
  generate_world("game");
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(world_grids_hash(), first);
  EXPECT_FALSE(has_error_message()) << get_error_message();
  // The volcano's world has sea, lava and houses.
  int sea = 0, lava = 0, houses = 0;
  for (int i = 0; i < HMAP_CELLS; i++) {
    sea += water[i].amount > 0.5f;
    lava += water[i].amount < -0.1f;
    houses += info_ground(surface[i].info) == GT_HOUSE;
  }
  EXPECT_GT(sea, HMAP_CELLS / 3);
  EXPECT_GT(lava, 100);
  EXPECT_GT(houses, 10);
}

}  // namespace
