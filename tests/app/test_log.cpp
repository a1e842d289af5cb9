// The debug log and its rotation, fatal, the visual log and the on-screen
// error message.
#include <gtest/gtest.h>
#include <cstdlib>
#include <filesystem>
#include <string>
#include "app/app.h"
#include "app/log.h"
#include "tests/support/test_support.h"

struct Log : testing::Test {
  TempDir dir;
  std::string keep;
  void SetUp() override {
    keep = getenv("XDG_DATA_HOME") ? getenv("XDG_DATA_HOME") : "";
    setenv("XDG_DATA_HOME", dir.path.c_str(), 1);
    close_debug_log();
    num_debug_log_files = 5;
  }
  void TearDown() override {
    close_debug_log();
    num_debug_log_files = 5;
    setenv("XDG_DATA_HOME", keep.c_str(), 1);
  }
  std::string name(int n) {
    char b[16];
    snprintf(b, sizeof(b), n ? "log%02d.txt" : "log.txt", n);
    return dir.file(std::string("Quorvale/") + b);
  }
  std::string text(int n) {
    std::string s;
    return read_file(name(n), s) ? s : "<none>";
  }
};

TEST_F(Log, NewRunShiftsTheOldLogsAndDropsTheOldest) {
  struct {
    int keep;
    const char* want[5];  // log.txt, log01.txt ... after the run
  } cases[] = {
      {5, {"new\n", "run0", "run1", "run2", "run3"}},
      {3, {"new\n", "run0", "run1", "run3", "run4"}},  // log02 replaced; later ones untouched
      {1, {"new\n", "run1", "run2", "run3", "run4"}},    // only log.txt, overwritten
  };
  for (auto& c : cases) {
    std::filesystem::create_directories(dir.file("Quorvale"));
    for (int n = 0; n < 5; n++) write_file(name(n), "run" + std::to_string(n));
    num_debug_log_files = c.keep;
    close_debug_log();
    debug("new");
    close_debug_log();
    for (int n = 0; n < 5; n++) EXPECT_EQ(text(n), c.want[n]) << "keep " << c.keep << " file " << n;
    for (int n = 0; n < 5; n++) std::filesystem::remove(name(n));
  }
}

TEST_F(Log, LinesAndPartialLines) {
  debug_("a%d", 1);
  debug_("%s", "b");
  debug("c");
  debug("line %s", "two");
  EXPECT_EQ(text(0), "a1bc\nline two\n");
}

TEST_F(Log, UnopenableLogIsRetriedOnTheNextWrite) {
  std::string blocker = dir.file("not-a-folder");
  write_file(blocker, "x");
  setenv("XDG_DATA_HOME", blocker.c_str(), 1);
  debug("lost");  // standard output only
  setenv("XDG_DATA_HOME", dir.path.c_str(), 1);
  debug("kept");
  EXPECT_EQ(text(0), "kept\n");
}

TEST_F(Log, VisualLogKeepsTheLast100Lines) {
  clear_visual_log();
  for (int i = 0; i < 101; i++) visual_log("line %d", i);
  ASSERT_EQ(visual_log_lines.count(), 100);
  EXPECT_STREQ(visual_log_lines[0].text, "line 1");
  EXPECT_STREQ(visual_log_lines[99].text, "line 100");
  visual_log("%s", std::string(300, 'x').c_str());
  EXPECT_EQ(strlen(visual_log_lines.back().text), 127u);  // cut to its entry
  clear_visual_log();
  EXPECT_EQ(visual_log_lines.count(), 0);
}

TEST_F(Log, ErrorMessageSetAppendAndClear) {
  set_error_message(nullptr);
  EXPECT_FALSE(has_error_message());
  append_error_message("B", -1);
  EXPECT_STREQ(get_error_message(), "B");  // no leading line feed
  set_error_message("A");
  append_error_message("B", -1);
  EXPECT_STREQ(get_error_message(), "A\nB");
  append_error_message("xyz", 2);
  append_error_message("", -1);
  append_error_message(nullptr, 5);
  append_error_message("q", 0);
  EXPECT_STREQ(get_error_message(), "A\nB\nxy");
  set_error_message("");
  EXPECT_FALSE(has_error_message());
  EXPECT_STREQ(get_error_message(), "");
  EXPECT_EQ(text(0), "ERROR MESSAGE SET: A\n");  // appending and clearing log nothing
  set_error_message(nullptr);
}

static void shutdown_for_test() { debug("shutdown ran"); }

TEST_F(Log, FatalReportsShutsDownAndExitsWith100) {
  EXPECT_EXIT(
      {
        set_fatal_shutdown(shutdown_for_test);
        fatal("boom %d", 7);
      },
      testing::ExitedWithCode(100), "\n\nboom 7\n");
  EXPECT_EQ(text(0), "ERROR: boom 7\nshutdown ran\n");
}

TEST_F(Log, QuitGameClosesEverythingEvenWhenNothingStarted) {
  EXPECT_EXIT(quit_game(7), testing::ExitedWithCode(7), "");
  EXPECT_EQ(text(0), "closing...\nclosed scene\nclosed misc stuff\nfreed all meshes\nfreed all textures\n"
                     "closed d3d\nclosed all systems\n");
}

TEST_F(Log, FailedCheckNamesFileLineAndCondition) {
  volatile int min_ht = 3, max_ht = 2;
  int line = __LINE__ + 1;
  EXPECT_EXIT(ASSERT(min_ht<=max_ht), testing::ExitedWithCode(100),
              "tests/app/test_log.cpp\\(" + std::to_string(line) + "\\): failed ASSERT\\(min_ht<=max_ht\\)");
}
