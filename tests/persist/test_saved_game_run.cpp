// End to end: the game started headless with the story in slot 0 enters a
// world and saves it; the slot's files are laid out as saved games are; the
// load screen's road (load_saved_game, then the universe view) in this
// process, with the real module and the game's data, restores that world bit
// for bit with its objects and the player.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "app/log.h"
#include "game/camera.h"
#include "game/game_mode.h"
#include "objects/gameobj_host.h"
#include "objects/gameobj_ops.h"
#include "objects/object_lists.h"
#include "objects/player.h"
#include "persist/savedGame.h"
#include "platform/paths.h"
#include "script/scriptData.h"
#include "script/sqVMReload.h"
#include "tests/support/test_support.h"
#include "world/heightmap.h"
#include "world/worldGen.h"

extern char** environ;

namespace {

// Runs the game with the options and XDG_DATA_HOME = home; its exit status.
int run_game(const std::string& home, const std::vector<std::string>& args) {
  std::string exe = std::string(getenv("QV_GAME_DIR")) + "/quorvale";
  std::vector<std::string> env_text = {"XDG_DATA_HOME=" + home, "SDL_VIDEODRIVER=offscreen"};
  for (char** e = environ; *e; e++)
    if (strncmp(*e, "XDG_DATA_HOME=", 14) && strncmp(*e, "SDL_VIDEODRIVER=", 16) && strncmp(*e, "DISPLAY=", 8))
      env_text.push_back(*e);
  std::vector<char*> env, argv = {exe.data()};
  for (auto& s : env_text) env.push_back(s.data());
  env.push_back(nullptr);
  std::vector<std::string> a = args;
  for (auto& s : a) argv.push_back(s.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), env.data()) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

template <class T>
T at(const std::string& s, size_t pos) {
  T v;
  memcpy(&v, s.data() + pos, sizeof(T));
  return v;
}

TEST(SavedGameRun, AStoryGameStartedHeadlessIsSavedAndLoadsBackBitForBit) {
  TempDir home;
  ASSERT_EQ(run_game(home.path, {"-win", "-360", "-start", "story", "-slot", "0", "-frames", "200"}), 0);
  std::string slot = home.file("Quorvale/saves/0/"), info, uni, world, log;
  ASSERT_TRUE(read_file(slot + "info", info));
  ASSERT_TRUE(read_file(slot + "uni", uni));
  ASSERT_TRUE(read_file(slot + "w000", world));
  EXPECT_FALSE(read_file(slot + "w001", log));
  EXPECT_FALSE(read_file(slot + "world", log));
  ASSERT_TRUE(read_file(home.file("Quorvale/log.txt"), log));
  EXPECT_NE(log.find("saving world to " + slot + "w000\n"), std::string::npos) << log;

  // The records: magic and version, then plain data.
  ASSERT_GT(info.size(), 8u);
  EXPECT_EQ(at<uint32_t>(info, 0), 0x13110400u);
  EXPECT_EQ(at<uint32_t>(info, 4), 0x02092900u);
  EXPECT_EQ(at<uint32_t>(uni, 0), 0x02092900u);
  EXPECT_EQ(at<uint32_t>(world, 0), 0x02092900u);
  create_scratch_vm();
  HSQUIRRELVM v = scratch_vm;
  MemoryInputStream info_in(info.data() + 8, (int)info.size() - 8);
  sqbind::SqObject info_table = load_data(info_in, v);
  EXPECT_EQ(info_in.position(), (int)info.size() - 8);
  EXPECT_EQ(std::string(sqbind::getSlotString(info_table, "name").c_str()).rfind("Story, started ", 0), 0u);
  EXPECT_STREQ(sqbind::getSlotString(info_table, "mode").c_str(), "story");
  MemoryInputStream uni_in(uni.data() + 4, (int)uni.size() - 4);
  sqbind::SqObject uni_table = load_data(uni_in, v);
  EXPECT_EQ(sqbind::getSlotInt(uni_table, "enteredWorld"), 0);
  EXPECT_TRUE(sqbind::hasSlot(uni_table, "worlds"));
  EXPECT_TRUE(sqbind::hasSlot(uni_table, "spells"));

  // The world file: version, the world block, the sky, the camera, the
  // clock, then the module's objects: the player alone.
  size_t sky = 4 + HeightmapData::WORLD_DATA_SIZE + 16 + 4;
  ASSERT_GT(world.size(), sky + 1);
  size_t camera = sky + 1 + (uint8_t)world[sky];
  size_t objects = camera + 12 + 4;
  ASSERT_GE(world.size(), objects + 8 + 12 + 44);
  EXPECT_EQ(at<int>(world, objects), 1);      // the module's format version
  EXPECT_EQ(at<int>(world, objects + 4), 1);  // one object
  size_t player = objects + 8;
  EXPECT_EQ(at<int>(world, player + 8), 44);  // the player's record

  // The load screen's road, in this process.
  setenv("XDG_DATA_HOME", home.path.c_str(), 1);
  snprintf(app_path, sizeof(app_path), "%s/", getenv("QV_GAME_DIR"));
  HeightmapData::init_grids();
  HeightmapData::reset();
  load_gameobj_module((std::string(getenv("QV_GAME_DIR")) + "/" GAMEOBJ_MODULE_FILE).c_str());
  init_gameobj();
  ASSERT_TRUE(load_saved_game(0)) << get_error_message();
  set_game_mode(universe_mode);
  EXPECT_EQ(cur_game_mode, play_mode);
  EXPECT_STREQ(game_mode_id.c_str(), "story");
  EXPECT_EQ(cur_game_slot, 0);

  MemoryOutputStream grids;
  HeightmapData::saveWorldData(grids);
  ASSERT_EQ(grids.bytes.count(), HeightmapData::WORLD_DATA_SIZE);
  EXPECT_EQ(memcmp(grids.bytes.data(), world.data() + 4, HeightmapData::WORLD_DATA_SIZE), 0);
  EXPECT_EQ(memcmp(&world_sun_dir, world.data() + sky - 20, 16), 0);
  EXPECT_EQ(std::string(world_sky_name.c_str()), world.substr(sky + 1, (uint8_t)world[sky]));
  EXPECT_EQ(camera_yaw, at<float>(world, camera));
  EXPECT_EQ(camera_pitch, at<float>(world, camera + 4));
  EXPECT_EQ(world_time, at<int>(world, camera + 12));
  ASSERT_EQ(Player_list.count(), 1);
  ASSERT_EQ(local_player, Player_list[0]);
  EXPECT_EQ(local_player->ser_id, at<int>(world, player + 4));
  EXPECT_EQ(memcmp(&local_player->pos, world.data() + player + 12, 16), 0);
  EXPECT_EQ(memcmp(&local_player->velocity, world.data() + player + 28, 16), 0);
  int objects_loaded = 0;
  for (const ObjectListRef& l : object_lists) objects_loaded += l.list->count();
  EXPECT_EQ(objects_loaded, 1);

  set_game_mode(nullptr);
  close_world_script();
  remove_all_gameobj();
  unload_gameobj_module();
  // The tables read from the files live in the scratch machine.
  info_table.release();
  uni_table.release();
  close_scratch_vm();
}

}  // namespace
