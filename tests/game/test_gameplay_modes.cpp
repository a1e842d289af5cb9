// The gameplay modes found under gameModes/ of the application folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <cstring>
#include <string>
#include <vector>
#include "game/game_mode.h"
#include "platform/paths.h"
#include "script/sqVMReload.h"
#include "tests/support/test_support.h"

namespace {

// The "id" of every table in the scanned array, in order.
std::vector<std::string> scanned_ids() {
  HSQOBJECT modes = scan_gameplay_modes();
  HSQUIRRELVM v = scratch_vm;
  SQInteger top = sq_gettop(v);
  sq_pushobject(v, modes);
  std::vector<std::string> ids;
  for (SQInteger i = 0; i < sq_getsize(v, -1); i++) {
    sq_pushinteger(v, i);
    EXPECT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
    sq_pushstring(v, "id", -1);
    EXPECT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
    const SQChar* s = "";
    sq_getstring(v, -1, &s);
    ids.push_back(s);
    sq_pop(v, 2);
  }
  sq_settop(v, top);
  return ids;
}

class GameplayModes : public testing::Test {
 protected:
  TempDir app;
  char saved_app_path[260];
  void SetUp() override {
    memcpy(saved_app_path, app_path, sizeof(app_path));
    snprintf(app_path, sizeof(app_path), "%s/", app.path.c_str());
  }
  void TearDown() override { memcpy(app_path, saved_app_path, sizeof(app_path)); }
  void add_mode(const std::string& folder, const char* info) {
    mkdir(app.file("gameModes").c_str(), 0755);
    mkdir(app.file("gameModes/" + folder).c_str(), 0755);
    if (info) ASSERT_TRUE(write_file(app.file("gameModes/" + folder + "/info.nut"), info));
  }
};

TEST_F(GameplayModes, NoFolderGivesAnEmptyList) { EXPECT_TRUE(scanned_ids().empty()); }

TEST_F(GameplayModes, TablesAreListedWithTheirIdsInSortOrder) {
  add_mode("campaign", "game_mode_info <- { sortOrder = 2, title = \"Campaign\" }");
  add_mode("sandbox", "game_mode_info <- { title = \"Sandbox\" }");  // sorts as 0
  add_mode("early", "game_mode_info <- { sortOrder = -1 }");
  add_mode("no_info", nullptr);
  add_mode("not_a_table", "game_mode_info <- 5");
  // Defines nothing: must not be listed with the table a folder before it left.
  add_mode("sandbox_copy", "local unused = 1");
  add_mode("syntax_error", "game_mode_info <- {");
  add_mode("throws", "throw \"no\"");
  ASSERT_TRUE(write_file(app.file("gameModes/readme.txt"), "not a folder"));
  EXPECT_EQ(scanned_ids(), (std::vector<std::string>{"early", "sandbox", "campaign"}));
  // A second scan replaces the first.
  add_mode("zeta", "game_mode_info <- { sortOrder = 1 }");
  EXPECT_EQ(scanned_ids(), (std::vector<std::string>{"early", "sandbox", "zeta", "campaign"}));
}

}  // namespace
