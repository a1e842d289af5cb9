// Reloadable machines over real files in a temporary folder: include runs a
// file once whatever the letter case or form of its path, a touched file
// makes the machine want a reload, forced reloads run every file in first
// include order, and a failing file stops the walk.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <string>
#include "platform/paths.h"
#include "script/sqVMReload.h"
#include "script/sqbind.h"
#include "tests/support/test_support.h"

using namespace sqbind;

namespace {

struct Reload : testing::Test {
  TempDir dir;
  SqReloadableVM rvm;
  char saved_app_path[260];

  void SetUp() override {
    memcpy(saved_app_path, app_path, sizeof(app_path));
    snprintf(app_path, sizeof(app_path), "%s/", dir.path.c_str());
    ASSERT_TRUE(rvm.init(1024));
    ASSERT_TRUE(run("order <- [];"));
  }
  void TearDown() override {
    rvm.close();
    memcpy(app_path, saved_app_path, sizeof(app_path));
  }
  bool run(const char* text) { return run_buffer(rvm.vm, text, (int)strlen(text), "test.nut"); }
  // A script that records its name in `order`, then runs `rest`.
  void write_script(const char* name, const std::string& rest = "") {
    ASSERT_TRUE(write_file(dir.file(name), std::string("order.append(\"") + name + "\");\n" + rest));
  }
  std::string order() {
    EXPECT_TRUE(run("order_text <- \"\"; foreach (n in order) order_text += n + \" \";"));
    return getSlotString(SqObject::root(rvm.vm), "order_text").c_str();
  }
  // Moves a file's modification time by a second.
  void touch(const char* name, int delta = 1) {
    struct stat st;
    ASSERT_EQ(stat(dir.file(name).c_str(), &st), 0);
    struct timeval tv[2] = {{st.st_atime, 0}, {st.st_mtime + delta, 0}};
    ASSERT_EQ(utimes(dir.file(name).c_str(), tv), 0);
  }
};

TEST_F(Reload, AFileIncludedUnderAnotherFormRunsOnce) {
  write_script("lib.nut");
  EXPECT_TRUE(rvm.include(dir.file("lib.nut").c_str()));
  EXPECT_TRUE(rvm.include(dir.file("LIB.NUT").c_str()));  // another letter case
  EXPECT_TRUE(rvm.include("lib.nut"));                   // relative to the application folder
  EXPECT_TRUE(rvm.include((dir.path + "/./lib.nut").c_str()));
  EXPECT_EQ(order(), "lib.nut ");
  EXPECT_EQ(rvm.files.count(), 1);
}

TEST_F(Reload, TheScriptIncludeFunctionUsesTheSameList) {
  write_script("main.nut", "include(\"a.nut\"); include(\"A.nut\"); include(\"b.nut\");");
  write_script("a.nut", "include(\"b.nut\");");
  write_script("b.nut");
  EXPECT_TRUE(rvm.include("main.nut"));
  EXPECT_EQ(order(), "main.nut a.nut b.nut ");
  // A wrong argument is a script error; the including script's own errors stop it.
  EXPECT_FALSE(run("include(3);"));
  EXPECT_STREQ(SquirrelError(rvm.vm).what(), "sq_get*() failed (type error)");
  // A missing or failing included file does not stop the including script.
  write_script("bad.nut", "this_is_not_defined();");
  testing::internal::CaptureStdout();
  EXPECT_TRUE(run("include(\"missing.nut\"); include(\"bad.nut\"); order.append(\"after\");"));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(order(), "main.nut a.nut b.nut bad.nut after ");
}

TEST_F(Reload, TouchingOneOfThreeFiles) {
  write_script("one.nut");
  write_script("two.nut");
  write_script("three.nut");
  for (const char* n : {"one.nut", "two.nut", "three.nut"}) EXPECT_TRUE(rvm.include(n));
  EXPECT_FALSE(rvm.needsReload());
  EXPECT_TRUE(rvm.reload(false));  // nothing changed: nothing runs
  EXPECT_EQ(order(), "one.nut two.nut three.nut ");

  touch("two.nut");
  EXPECT_TRUE(rvm.needsReload());
  EXPECT_TRUE(rvm.reload(false));  // only the touched one
  EXPECT_EQ(order(), "one.nut two.nut three.nut two.nut ");
  EXPECT_FALSE(rvm.needsReload());

  touch("three.nut");
  ASSERT_TRUE(run("order.clear();"));
  EXPECT_TRUE(rvm.reload(true));  // forced: all three, in first-include order
  EXPECT_EQ(order(), "one.nut two.nut three.nut ");
  EXPECT_FALSE(rvm.needsReload());
}

TEST_F(Reload, AFailingFileStopsTheWalk) {
  write_script("one.nut");
  write_script("two.nut");
  write_script("three.nut");
  for (const char* n : {"one.nut", "two.nut", "three.nut"}) EXPECT_TRUE(rvm.include(n));
  write_script("two.nut", "throw \"broken\";");
  touch("two.nut");
  touch("three.nut");
  ASSERT_TRUE(run("order.clear();"));
  testing::internal::CaptureStdout();
  EXPECT_FALSE(rvm.reload(false));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("ERROR: broken"), std::string::npos) << out;
  EXPECT_EQ(order(), "two.nut ");  // three.nut did not run
  // The failed file's time was stored; three.nut's was not, so it still wants a reload.
  EXPECT_EQ(rvm.files[1].mtime, get_file_time(dir.file("two.nut").c_str()));
  EXPECT_NE(rvm.files[2].mtime, get_file_time(dir.file("three.nut").c_str()));
  EXPECT_TRUE(rvm.needsReload());
}

TEST_F(Reload, AMissingFileIsListedAndWantsAReloadWhenItAppears) {
  testing::internal::CaptureStdout();
  EXPECT_FALSE(rvm.include("later.nut"));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(rvm.files[0].mtime, 0);
  EXPECT_FALSE(rvm.needsReload());
  write_script("later.nut");
  EXPECT_TRUE(rvm.needsReload());
  // A path too long for a file name fails like a missing file.
  testing::internal::CaptureStdout();
  EXPECT_FALSE(rvm.include(std::string(300, 'a').c_str()));
  EXPECT_FALSE(run(("include(\"" + std::string(400, 'b') + "\"); throw \"after\";").c_str()));
  testing::internal::GetCapturedStdout();
  EXPECT_STREQ(SquirrelError(rvm.vm).what(), "after");
  EXPECT_EQ(rvm.files.count(), 1);
  EXPECT_TRUE(rvm.reload(false));
  EXPECT_EQ(order(), "later.nut ");
}

TEST_F(Reload, InitStartsAfreshAndTheRegistryPointsBack) {
  write_script("one.nut");
  EXPECT_TRUE(rvm.include("one.nut"));
  EXPECT_EQ(get_reloadable_vm(rvm.vm), &rvm);
  ASSERT_TRUE(rvm.init(1024));
  EXPECT_EQ(rvm.files.count(), 0);
  EXPECT_EQ(get_reloadable_vm(rvm.vm), &rvm);
  // A plain machine has no owner.
  HSQUIRRELVM plain = create_vm(64);
  testing::internal::CaptureStdout();
  EXPECT_THROW(get_reloadable_vm(plain), SquirrelError);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("getReg 'SqReloadableVM' failed"), std::string::npos);
  close_vm(plain);
}

TEST(ScratchVM, HasTheStandardLibraries) {
  create_scratch_vm();
  ASSERT_NE(scratch_vm, nullptr);
  const char* text = "r <- format(\"%d\", floor(2.7)) + strip(\" x \");";
  EXPECT_TRUE(run_buffer(scratch_vm, text, (int)strlen(text), "scratch.nut"));
  EXPECT_STREQ(getSlotString(SqObject::root(scratch_vm), "r").c_str(), "2x");
  close_scratch_vm();
  EXPECT_EQ(scratch_vm, nullptr);
}

}  // namespace
