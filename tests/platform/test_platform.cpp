// Clock, paths, safe file writes, process priority and the shell opener.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <string>
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "tests/support/test_support.h"

TEST(Clock, ConversionsUseNanosecondTicksWithoutOverflow) {
  EXPECT_EQ(time_ticks_per_sec(), 1000000000);
  EXPECT_EQ(msec_to_ticks(500), 500000000);
  EXPECT_EQ(msec_to_ticks(-50), -50000000);
  EXPECT_EQ(get_time_msec(1999999), 1);  // truncates toward zero
  EXPECT_EQ(get_time_usec(50000000), 50000);
  EXPECT_FLOAT_EQ(get_time_sec(50000000), 0.05f);
  // Ten days of ticks: the microsecond product exceeds 64 bits.
  int64_t ten_days = 864000LL * 1000000000LL;
  EXPECT_EQ(get_time_msec(ten_days), 864000000);
  EXPECT_EQ(get_time_usec(ten_days / 1000), 864000000);
  int64_t a = get_ref_time(), b = get_ref_time();
  EXPECT_LE(a, b);
}

static int64_t fake_ticks = 0;
static int64_t fake_now() { return fake_ticks; }
static void fake_sleep(int ms) { fake_ticks += msec_to_ticks(ms); }

TEST(Clock, TestSourceReplacesTimeAndSleep) {
  static const ClockSource fake = {fake_now, fake_sleep};
  fake_ticks = 42;
  set_clock_source(&fake);
  EXPECT_EQ(get_ref_time(), 42);
  sleep_msec(3);
  EXPECT_EQ(get_ref_time(), 42 + 3000000);
  set_clock_source(nullptr);
  EXPECT_GT(get_ref_time(), 1000000);
}

TEST(Paths, MakeFullPathJoinsConvertsAndResolves) {
  strcpy(app_path, "/g/");
  struct {
    const char* name;
    const char* want;
  } cases[] = {
      {"data/x.dds", "/g/data/x.dds"},
      {"data\\sub\\x.dds", "/g/data/sub/x.dds"},
      {"/z", "/z"},
      {"\\z\\y", "/z/y"},
      {"../y", "/y"},
      {"a/./b//c/../d", "/g/a/b/d"},
      {"shaders/", "/g/shaders/"},
  };
  for (auto& c : cases) EXPECT_STREQ(make_full_path(c.name), c.want) << c.name;
  EXPECT_STREQ(make_full_path(nullptr), "/g/");

  // Without an application folder a relative name is taken from the working folder.
  app_path[0] = 0;
  char cwd[260];
  ASSERT_TRUE(getcwd(cwd, sizeof(cwd)));
  EXPECT_EQ(std::string(make_full_path("x/y.txt").c_str()), std::string(cwd) + "/x/y.txt");
  init_app_path();
}

TEST(Paths, ExecutablePathEndsInSeparator) {
  char exe[260], dir[260];
  ASSERT_TRUE(get_exe_filename(exe, sizeof(exe)));
  ASSERT_TRUE(get_exe_path(dir, sizeof(dir)));
  EXPECT_EQ(std::string(exe).rfind(dir, 0), 0u);
  EXPECT_EQ(dir[strlen(dir) - 1], '/');
  EXPECT_FALSE(get_exe_filename(exe, 3));  // does not fit
}

TEST(Paths, AppDataFolderPrecedence) {
  std::string keep_xdg = getenv("XDG_DATA_HOME") ? getenv("XDG_DATA_HOME") : "";
  std::string keep_home = getenv("HOME") ? getenv("HOME") : "";
  strcpy(app_path, "/game/");
  setenv("XDG_DATA_HOME", "/x/data", 1);
  setenv("HOME", "/home/u", 1);
  setenv("APPDATA", "/roaming/", 1);
  EXPECT_STREQ(get_appdata_path(), "/x/data/");
  EXPECT_STREQ(get_appdata_folder_path("log.txt"), "/x/data/Quorvale/log.txt");
  unsetenv("XDG_DATA_HOME");
  EXPECT_STREQ(get_appdata_path("a"), "/home/u/.local/share/a");
  unsetenv("HOME");
  EXPECT_STREQ(get_appdata_path(), "/roaming/");
  unsetenv("APPDATA");
  EXPECT_STREQ(get_appdata_path(), "/game/");
  setenv("XDG_DATA_HOME", keep_xdg.c_str(), 1);
  setenv("HOME", keep_home.c_str(), 1);
  init_app_path();
}

TEST(Files, FileTimeAndFolders) {
  TempDir dir;
  EXPECT_EQ(get_file_time(dir.file("missing").c_str()), 0);
  std::string f = dir.file("a/b/c/file.txt");
  ASSERT_TRUE(make_folders(dir.file("a/b/c").c_str()));
  ASSERT_TRUE(make_folders(dir.file("a/b/c/").c_str()));  // existing is fine
  ASSERT_TRUE(write_file(f, "x"));
  timespec times[2] = {{1000, 0}, {1000, 500}};
  ASSERT_EQ(utimensat(AT_FDCWD, f.c_str(), times, 0), 0);
  EXPECT_EQ(get_file_time(f.c_str()), 1000LL * 1000000000 + 500);
  ASSERT_TRUE(write_file(dir.file("plain"), "x"));
  EXPECT_FALSE(make_folders(dir.file("plain/sub").c_str()));  // a file is in the way
}

TEST(Files, ReplacingWriteKeepsOldFileOnFailure) {
  TempDir dir;
  std::string f = dir.file("settings.cfg"), got;
  ASSERT_TRUE(write_file_replacing(f.c_str(), "first", 5));
  ASSERT_TRUE(write_file_replacing(f.c_str(), "second", 6));
  ASSERT_TRUE(read_file(f, got));
  EXPECT_EQ(got, "second");
  // A folder where the file should be: the rename fails, nothing is left over.
  std::string blocked = dir.file("blocked");
  ASSERT_TRUE(make_folders(blocked.c_str()));
  ASSERT_TRUE(write_file(blocked + "/keep", "k"));
  EXPECT_FALSE(write_file_replacing(blocked.c_str(), "new", 3));
  EXPECT_FALSE(write_file_replacing(dir.file("no/such/folder/f").c_str(), "new", 3));
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path)) entries += e.exists() ? 1 : 0;
  EXPECT_EQ(entries, 2);  // settings.cfg and blocked: no temporary file remains
}

TEST(Process, IdleIsLeftAgainForTheConfiguredLevel) {
  int before = current_nice_value();
  apply_priority_level(PRIORITY_IDLE);
  int idle = current_nice_value();
  apply_priority_level(PRIORITY_NORMAL);
  // Either idle was entered and left, or (unprivileged) never entered because
  // it could not be left: in both cases the game is back at normal.
  EXPECT_EQ(current_nice_value(), 0);
  EXPECT_TRUE(idle == 19 || idle == before);
  apply_priority_level(PRIORITY_ABOVE_NORMAL);  // may be refused; never lowers priority
  EXPECT_LE(current_nice_value(), 0);
  apply_priority_level(PRIORITY_NORMAL);
}

TEST(Process, ShellExecuteHandsTheDocumentToTheOpener) {
  TempDir dir;
  // A stand-in opener on PATH records what it was given and where it ran.
  std::string opener = dir.file("xdg-open"), out = dir.file("opened.txt");
  ASSERT_TRUE(write_file(opener, "#!/bin/sh\necho \"$1|$(pwd)\" > " + out + "\n"));
  chmod(opener.c_str(), 0755);
  std::string keep = getenv("PATH");
  setenv("PATH", (dir.path + ":" + keep).c_str(), 1);
  bool ok = shell_execute("open", "doc with space.txt", nullptr, dir.path.c_str());
  setenv("PATH", keep.c_str(), 1);
  ASSERT_TRUE(ok);
  std::string got;
  for (int i = 0; i < 200 && (!read_file(out, got) || got.find('\n') == std::string::npos); i++) usleep(10000);  // the opener runs in the background
  EXPECT_EQ(got, "doc with space.txt|" + dir.path + "\n");
  EXPECT_FALSE(shell_execute("open", "", nullptr, nullptr));
}
