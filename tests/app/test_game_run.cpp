// The game executable end to end: a headless run of a fixed number of frames,
// its log and its settings file.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>
#include "tests/support/test_support.h"

extern char** environ;

// Runs build/game/quorvale with the options and XDG_DATA_HOME = home;
// returns its exit status (-1 if it could not be run).
static int run_game(const std::string& home, std::vector<std::string> args) {
  const char* dir = getenv("QV_GAME_DIR");
  if (!dir) return -1;
  std::string exe = std::string(dir) + "/quorvale";
  std::vector<std::string> env_text = {"XDG_DATA_HOME=" + home, "SDL_VIDEODRIVER=offscreen", "SDL_AUDIODRIVER=dummy"};
  for (char** e = environ; *e; e++)
    if (strncmp(*e, "XDG_DATA_HOME=", 14) && strncmp(*e, "SDL_VIDEODRIVER=", 16) && strncmp(*e, "DISPLAY=", 8))
      env_text.push_back(*e);
  std::vector<char*> env, argv = {exe.data()};
  for (auto& s : env_text) env.push_back(s.data());
  env.push_back(nullptr);
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), env.data()) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(GameRun, SixtyFramesHeadlessExitZeroWithTheLogOfAWholeRun) {
  TempDir home;
  std::string shot = home.file("last.png");
  ASSERT_EQ(run_game(home.path, {"-win", "-360", "-frames", "60", "-shot", shot}), 0);
  std::string log, settings;
  ASSERT_TRUE(read_file(home.file("Quorvale/log.txt"), log));
  EXPECT_TRUE(std::regex_search(log, std::regex("^Log started [0-9/]+ [0-9:]+ in v0\\.27 DEMO\n"))) << log;
  std::string app_path = std::string(getenv("QV_GAME_DIR")) + "/";
  EXPECT_NE(log.find("app path: '" + app_path + "'\n"), std::string::npos) << log;
  EXPECT_TRUE(std::regex_search(log, std::regex("\ntotal start-up time: [0-9]+ ms\n"))) << log;
  EXPECT_TRUE(std::regex_search(log, std::regex("\nfree video memory: [0-9]+ MB\n"))) << log;
  // -shot saved the last frame: a PNG of the device size.
  std::string png;
  ASSERT_TRUE(read_file(shot, png));
  ASSERT_GT(png.size(), 24u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n"));
  auto be32 = [&](size_t at) {
    return (uint32_t)(uint8_t)png[at] << 24 | (uint32_t)(uint8_t)png[at + 1] << 16 |
           (uint32_t)(uint8_t)png[at + 2] << 8 | (uint32_t)(uint8_t)png[at + 3];
  };
  EXPECT_EQ(be32(16), 640u);  // IHDR width and height
  EXPECT_EQ(be32(20), 360u);
  // Shutdown in order, ending the log.
  std::string order[] = {"closing...", "closed scene", "closed misc stuff", "freed all meshes",
                         "freed all textures", "closed d3d", "closed all systems"};
  size_t at = 0;
  for (auto& line : order) {
    size_t p = log.find("\n" + line + "\n", at);
    EXPECT_NE(p, std::string::npos) << line << "\n" << log;
    at = p == std::string::npos ? at : p;
  }
  EXPECT_EQ(log.substr(log.size() - 20), "\nclosed all systems\n");
  ASSERT_TRUE(read_file(home.file("Quorvale/settings.cfg"), settings));
  EXPECT_EQ(settings.rfind("// Game settings\n_CONFIG_VERSION_=1\n", 0), 0u);

  // A second run keeps the first run's log as log01.txt.
  ASSERT_EQ(run_game(home.path, {"-win", "-360", "-frames", "1"}), 0);
  std::string old;
  ASSERT_TRUE(read_file(home.file("Quorvale/log01.txt"), old));
  EXPECT_EQ(old, log);
}
