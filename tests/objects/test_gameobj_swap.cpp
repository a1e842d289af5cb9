// Swapping the game-object module while objects live: a variant build of the
// real module swapped in through the application folder, the patch of every
// object's virtual table, the refusals, the rebuild service with a rebuild
// script of the test's own, and the scan of the module's sources.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <dlfcn.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "app/app.h"
#include "app/log.h"
#include "objects/base_object.h"
#include "objects/gameobj_host.h"
#include "objects/gameobj_ops.h"
#include "objects/object_lists.h"
#include "objects/player.h"
#include "platform/paths.h"
#include "tests/support/test_support.h"
#include "world/heightmap.h"

namespace {

std::string real_module() { return std::string(getenv("QV_GAME_DIR")) + "/" GAMEOBJ_MODULE_FILE; }
// The real module built to answer every message with 2.
std::string variant_module() { return std::string(getenv("QV_TEST_MODULES")) + "/variant/" GAMEOBJ_MODULE_FILE; }
std::string classes92_module() {
  return std::string(getenv("QV_TEST_MODULES")) + "/classes92/" GAMEOBJ_MODULE_FILE;
}

void* vtable_of(BaseObject* o) {
  void* vt;
  memcpy(&vt, (void*)o, sizeof(vt));
  return vt;
}

// Through a new file renamed over the old one: a loaded module's file must
// never be written in place, its pages are the running code.
bool copy_file(const std::string& from, const std::string& to) {
  std::string data;
  return read_file(from, data) && write_file(to + ".part", data) && rename((to + ".part").c_str(), to.c_str()) == 0;
}

// Every object of every list, once.
std::vector<BaseObject*> all_objects() {
  std::vector<BaseObject*> r;
  for (const ObjectListRef& l : object_lists)
    for (BaseObject* o : *l.list)
      if (std::find(r.begin(), r.end(), o) == r.end()) r.push_back(o);
  return r;
}

// The application folder is a temporary one holding a copy of the real
// module, so the swap can rename files in it.
class SwapTest : public testing::Test {
 protected:
  TempDir tmp;
  std::string app, src;
  char saved_app_path[sizeof(app_path)];

  void SetUp() override {
    app = tmp.file("game");
    src = tmp.file("src");
    ASSERT_EQ(mkdir(app.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(src.c_str(), 0755), 0);
    memcpy(saved_app_path, app_path, sizeof(app_path));
    snprintf(app_path, sizeof(app_path), "%s/", app.c_str());
    ASSERT_TRUE(copy_file(real_module(), app + "/" GAMEOBJ_MODULE_FILE));
    gameobj_sources.clear();
    set_error_message(nullptr);
    HeightmapData::init_grids();
    HeightmapData::reset();
    load_gameobj_module(make_full_path(GAMEOBJ_MODULE_FILE));
  }
  void TearDown() override {
    while (gameobj_rebuild_running()) {
      reload_gameobj(false);
      usleep(10000);
    }
    if (remove_all_gameobj) remove_all_gameobj();
    unload_gameobj_module();
    gameobj_sources.clear();
    memcpy(app_path, saved_app_path, sizeof(app_path));
  }

  BaseObject* make(const char* cls) {
    BaseObject* o = new_gameobj_by_id(gameobj_id_by_name(cls));
    EXPECT_NE(o, nullptr) << cls;
    return o;
  }
  // Objects of several lists: a spell (in its own list and SpellObject_list),
  // a tree, a monster, a castle, the player, and a destroyed tower still
  // waiting for deletion.
  void populate() {
    make("FireballSpell");
    make("TreeObject");
    make("LandMonster");
    make("CastleObject");
    make("GuardTower")->destroy();
    ASSERT_NE(create_player(v_make(10, 0, 10, 1)), nullptr);
    ASSERT_EQ(SpellObject_list.count(), 1);
    ASSERT_EQ((void*)SpellObject_list[0], (void*)FireballSpell_list[0]);
  }

  // A death test's child stops with these objects alive, and exit's
  // destructors free the lists' storage before the leak check runs at exit:
  // an array that is never freed keeps the objects reachable for it.
  static void keep_objects_reachable() {
    static DynArray<BaseObject*>* kept = new DynArray<BaseObject*>();
    for (const ObjectListRef& l : object_lists)
      for (BaseObject* o : *l.list) kept->push_back(o);
  }

  // Runs the rebuild service until the rebuild's process is done; true when
  // the module was swapped on the way.
  bool run_rebuild() {
    bool swapped = false;
    for (int i = 0; i < 1000 && !swapped; i++) {
      swapped = reload_gameobj(false);
      if (!gameobj_rebuild_running() && i > 0) break;
      usleep(10000);
    }
    return swapped;
  }
  void write_source(const std::string& name, const std::string& text) {
    ASSERT_TRUE(write_file(src + "/" + name, text)) << name;
  }
  // Moves the file's modification time, as an edit would.
  void touch(const std::string& name, int seconds_later) {
    struct stat st;
    ASSERT_EQ(stat((src + "/" + name).c_str(), &st), 0);
    timespec times[2] = {st.st_atim, st.st_mtim};
    times[1].tv_sec += seconds_later;
    ASSERT_EQ(utimensat(AT_FDCWD, (src + "/" + name).c_str(), times, 0), 0);
  }
  void watch_sources() {
    gameobj_source_folder.set(src.c_str()).append("/");
    gameobj_main_source = GAMEOBJ_MAIN_SOURCE;
    gameobj_sources.clear();
    scan_gameobj_sources((src + "/" GAMEOBJ_MAIN_SOURCE).c_str());
  }
};

TEST_F(SwapTest, LiveObjectsSurviveASwapAndRunTheNewBuild) {
  populate();
  std::vector<BaseObject*> objects = all_objects();
  ASSERT_EQ(objects.size(), 6u);
  for (BaseObject* o : objects) EXPECT_EQ(o->onMessage(0), 0) << o->getClassName();
  int ser_ids[6];
  for (int i = 0; i < 6; i++) ser_ids[i] = objects[i]->ser_id;

  // Nothing waiting: no swap.
  EXPECT_FALSE(reload_gameobj(false));
  ASSERT_TRUE(copy_file(variant_module(), app + "/" GAMEOBJ_NEW_MODULE_FILE));
  EXPECT_TRUE(reload_gameobj(false));
  EXPECT_NE(access((app + "/" GAMEOBJ_NEW_MODULE_FILE).c_str(), F_OK), 0);
  std::string loaded, variant;
  ASSERT_TRUE(read_file(app + "/" GAMEOBJ_MODULE_FILE, loaded));
  ASSERT_TRUE(read_file(variant_module(), variant));
  EXPECT_TRUE(loaded == variant);

  // The same objects, in the same lists, with the new build's tables and
  // their state words as they were; their calls run the new build's code.
  EXPECT_EQ(all_objects(), objects);
  EXPECT_EQ(SpellObject_list.count(), 1);
  for (int i = 0; i < 6; i++) {
    BaseObject* o = objects[i];
    EXPECT_EQ(vtable_of(o), gameobj_vtables[o->getClassId()]) << o->getClassName();
    EXPECT_EQ(o->onMessage(0), 2) << o->getClassName();
    EXPECT_EQ(o->ser_id, ser_ids[i]);
    EXPECT_EQ(o->state, strcmp(o->getClassName(), "GuardTower") == 0 ? OBJ_DESTROYED : OBJ_ALIVE);
  }
  EXPECT_EQ(local_player, Player_list[0]);
  EXPECT_FLOAT_EQ(v_x(local_player->getPos()), 10.0f);

  // A forced reload loads the current file again and keeps them too.
  EXPECT_TRUE(reload_gameobj(true));
  for (BaseObject* o : objects) EXPECT_EQ(o->onMessage(0), 2) << o->getClassName();
  // The new build deletes what the old one queued, and removes the rest.
  delete_gameobj();
  EXPECT_TRUE(GuardTower_list.empty());
  EXPECT_TRUE(deleted_gameobjs.empty());
}

TEST_F(SwapTest, TheUpdateStepReloadsTheModuleWhenAsked) {
  populate();
  // The file now holds the variant; a forced reload loads it as it is.
  ASSERT_TRUE(copy_file(variant_module(), app + "/" GAMEOBJ_MODULE_FILE));
  update_app(0.05f);
  for (BaseObject* o : all_objects()) EXPECT_EQ(o->onMessage(0), 0);
  force_gameobj_reload = true;
  update_app(0.05f);
  EXPECT_FALSE(force_gameobj_reload);
  for (BaseObject* o : all_objects()) EXPECT_EQ(o->onMessage(0), 2) << o->getClassName();
}

// The pages where the module loaded from path lies in memory.
struct ModuleRange {
  const char* path;
  uintptr_t lo = UINTPTR_MAX, hi = 0;
};
int find_module_range(dl_phdr_info* info, size_t, void* ctx) {
  ModuleRange* r = (ModuleRange*)ctx;
  if (!info->dlpi_name || strcmp(info->dlpi_name, r->path) != 0) return 0;
  for (int i = 0; i < info->dlpi_phnum; i++) {
    if (info->dlpi_phdr[i].p_type != PT_LOAD) continue;
    uintptr_t a = info->dlpi_addr + info->dlpi_phdr[i].p_vaddr;
    r->lo = std::min(r->lo, a & ~(uintptr_t)4095);
    r->hi = std::max(r->hi, (a + info->dlpi_phdr[i].p_memsz + 4095) & ~(uintptr_t)4095);
  }
  return 1;
}

TEST_F(SwapTest, EachObjectGetsTheNewTableOnceHoweverManyListsHoldIt) {
  populate();
  std::vector<BaseObject*> objects = all_objects();
  void* old_tables[NUM_GAMEOBJ_CLASSES];
  memcpy(old_tables, gameobj_vtables, sizeof(old_tables));

  // The old build's address range stays taken, so the new build's tables
  // lie elsewhere and a second patch of an object (which would then look
  // for a new table among the old ones) would stop the program.
  PathString path = make_full_path(GAMEOBJ_MODULE_FILE);
  ModuleRange old_range = {path.c_str()};
  dl_iterate_phdr(find_module_range, &old_range);
  ASSERT_LT(old_range.lo, old_range.hi);
  unload_gameobj_module();
  size_t len = old_range.hi - old_range.lo;
  void* hold = mmap((void*)old_range.lo, len, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  ASSERT_EQ(hold, (void*)old_range.lo);
  load_gameobj_module(variant_module().c_str());
  munmap(hold, len);

  for (int i = 1; i < NUM_GAMEOBJ_CLASSES; i++) ASSERT_NE(gameobj_vtables[i], old_tables[i]);
  for (BaseObject* o : objects) {
    int id = o->getClassId();
    EXPECT_EQ(vtable_of(o), gameobj_vtables[id]) << o->getClassName();
    EXPECT_EQ(o->state & OBJ_SWAP_MARK, 0) << o->getClassName();
    EXPECT_EQ(o->onMessage(0), 2) << o->getClassName();
  }
  EXPECT_STREQ(((BaseObject*)SpellObject_list[0])->getClassName(), "FireballSpell");
}

TEST_F(SwapTest, RebuildOutputNamingErrorsShowsOnScreen) {
  write_source(GAMEOBJ_MAIN_SOURCE, "// the module\n");
  write_source(GAMEOBJ_REBUILD_SCRIPT,
               "echo compiling\n"
               "echo 'terrors of the deep'\n"
               "echo 'Errors: 1' >&2\n"
               "exit 0\n");
  watch_sources();
  ASSERT_EQ(gameobj_sources.count(), 1);
  set_error_message("an old message");
  // Nothing changed: nothing starts.
  EXPECT_FALSE(reload_gameobj(false));
  EXPECT_FALSE(gameobj_rebuild_running());

  touch(GAMEOBJ_MAIN_SOURCE, 5);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(reload_gameobj(false));  // started
  EXPECT_FALSE(run_rebuild());
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("compiling\nterrors of the deep\n"), std::string::npos) << out;
  // The old message went when the rebuild started; a clean exit with an
  // error line still fails.
  EXPECT_STREQ(get_error_message(), "Errors: 1\ngameobj rebuild failed!!!");
  EXPECT_TRUE(gameobj_module_loaded());
}

TEST_F(SwapTest, ARebuildLeavesTheNewModuleThatIsSwappedIn) {
  populate();
  write_source(GAMEOBJ_MAIN_SOURCE, "#include \"part.cpp\"\n");
  write_source("part.cpp", "// a part\n");
  // Records its working folder and arguments, then leaves the new build.
  write_source(GAMEOBJ_REBUILD_SCRIPT, "pwd > \"$2/rebuild_args\"\n"
                                       "echo \"$1\" >> \"$2/rebuild_args\"\n"
                                       "echo 'warning: nothing wrong here, errorless terrors'\n"
                                       "cp '" + variant_module() + "' \"$2/" GAMEOBJ_NEW_MODULE_FILE "\"\n");
  watch_sources();
  ASSERT_EQ(gameobj_sources.count(), 2);
  char cwd_before[512];
  ASSERT_NE(getcwd(cwd_before, sizeof(cwd_before)), nullptr);

  touch("part.cpp", 5);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(run_rebuild());
  testing::internal::GetCapturedStdout();
  EXPECT_STREQ(get_error_message(), "");
  for (BaseObject* o : all_objects()) EXPECT_EQ(o->onMessage(0), 2) << o->getClassName();

  std::string args;
  ASSERT_TRUE(read_file(app + "/rebuild_args", args));
  EXPECT_EQ(args, src + "\n" + tmp.path + "\n");
  char cwd_after[512];
  ASSERT_NE(getcwd(cwd_after, sizeof(cwd_after)), nullptr);
  EXPECT_STREQ(cwd_after, cwd_before);
  // The rescan recorded the new time: no second rebuild.
  EXPECT_FALSE(reload_gameobj(false));
  EXPECT_FALSE(gameobj_rebuild_running());
}

TEST_F(SwapTest, AFailingRebuildKeepsTheLoadedModule) {
  populate();
  write_source(GAMEOBJ_MAIN_SOURCE, "// the module\n");
  write_source(GAMEOBJ_REBUILD_SCRIPT, "echo 'part.cpp:3:1: error: expected declaration'\nexit 3\n");
  watch_sources();
  touch(GAMEOBJ_MAIN_SOURCE, 5);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(run_rebuild());
  testing::internal::GetCapturedStdout();
  EXPECT_STREQ(get_error_message(), "part.cpp:3:1: error: expected declaration\ngameobj rebuild failed!!!");
  for (BaseObject* o : all_objects()) EXPECT_EQ(o->onMessage(0), 0);
}

TEST(GameobjRebuild, ErrorWordRule) {
  struct Case {
    const char* line;
    bool error;
  };
  const Case cases[] = {
      {"Errors:", true},
      {"gameobj.cpp:3:1: error: expected ';'", true},
      {"ERROR", true},
      {"2 errors generated.", true},
      {"(error)", true},
      {"terrors", false},
      {"errorless", false},
      {"errorss", false},
      {"error_count", false},
      {"error2", false},
      {"cc1plus: all warnings being treated as errors", true},
      {"-Werror=format", false},
      {"Warnings: 0", false},
      {"", false},
      {"xerror error", true},  // the second one counts
  };
  for (const Case& c : cases) EXPECT_EQ(is_rebuild_error_line(c.line), c.error) << c.line;
}

TEST_F(SwapTest, SourceScanFollowsIncludesRelativeToTheSourceFolder) {
  ASSERT_EQ(mkdir((src + "/ui").c_str(), 0755), 0);
  ASSERT_EQ(symlink("ui", (src + "/UI").c_str()), 0);  // the same files under another case
  write_source(GAMEOBJ_MAIN_SOURCE,
               "#include \"ui/menu.cpp\"\n"
               "#include <vector>\n"
               "#include \"objects/base_object.h\"\n"  // the host's header: not in this folder
               "  #include \"indented.h\"\n"
               "#include\t\"UI/menu.cpp\"\n"
               "// #include \"commented.h\"\n"
               "#include \"" + std::string(300, 'x') + ".h\"\n");
  write_source("ui/menu.cpp", "#include \"ui/widgets.h\"\n#include \"" GAMEOBJ_MAIN_SOURCE "\"\n");
  write_source("ui/widgets.h", "#pragma once\n");
  write_source("indented.h", "");
  write_source("commented.h", "");
  watch_sources();
  std::vector<std::string> listed;
  for (const GameobjSourceFile& f : gameobj_sources) {
    listed.push_back(f.path.c_str());
    EXPECT_EQ(f.time, get_file_time(f.path));
  }
  std::vector<std::string> expected = {src + "/" GAMEOBJ_MAIN_SOURCE, src + "/ui/menu.cpp", src + "/ui/widgets.h"};
  EXPECT_EQ(listed, expected);
}

TEST_F(SwapTest, TheRealModulesSourcesAreFoundAndEachIsWatched) {
  // The application folder <build>/game/ of the tree the test was built from.
  memcpy(app_path, saved_app_path, sizeof(app_path));
  snprintf(app_path, sizeof(app_path), "%s/", getenv("QV_GAME_DIR"));
  unload_gameobj_module();
  init_gameobj_module();
  std::string folder = std::string(make_full_path(getenv("QV_SOURCE_DIR")).c_str()) + "/gameobj/";
  EXPECT_STREQ(gameobj_source_folder, folder.c_str());
  EXPECT_STREQ(gameobj_main_source, GAMEOBJ_MAIN_SOURCE);
  // Every source and header of the folder is reached through the main file.
  std::vector<std::string> expected, listed;
  DIR* d = opendir(folder.c_str());
  ASSERT_NE(d, nullptr);
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name.size() > 4 && (name.ends_with(".cpp") || name.ends_with(".h"))) expected.push_back(folder + name);
  }
  closedir(d);
  for (const GameobjSourceFile& f : gameobj_sources) listed.push_back(f.path.c_str());
  std::sort(expected.begin(), expected.end());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, expected);
}

// The death tests fork from the running test (the "fast" style), so the
// child shares the fixture's folder, which the parent then removes.
TEST_F(SwapTest, ABuildWithAnotherClassCountIsRefused) {
  testing::FLAGS_gtest_death_test_style = "fast";
  populate();
  ASSERT_TRUE(copy_file(classes92_module(), app + "/" GAMEOBJ_NEW_MODULE_FILE));
  EXPECT_EXIT(
      {
        keep_objects_reachable();
        reload_gameobj(false);
      },
      testing::ExitedWithCode(100), "gameobj classes changed, need restart");
}

TEST_F(SwapTest, AnObjectOfNoModuleClassStopsTheSwap) {
  testing::FLAGS_gtest_death_test_style = "fast";
  populate();
  TreeObject_list.push_back((TreeObject*)new BaseObject());
  EXPECT_EXIT(
      {
        keep_objects_reachable();
        reload_gameobj(true);
      },
      testing::ExitedWithCode(100), "cannot find object vtable");
  delete (BaseObject*)TreeObject_list.back();
  TreeObject_list.erase(TreeObject_list.count() - 1);
}

}  // namespace
