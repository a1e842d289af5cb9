// Saved games and the universe with the real module: a new game entering a
// world and saving it, loading it back bit for bit with its objects and the
// player, the slot listing, leaving and re-entering worlds, erasing, files
// that do not load, and saves that fail at any write.
#include <cmath>
#include <sys/stat.h>
#include <unistd.h>
#include <cstring>
#include "app/app.h"
#include "app/log.h"
#include "game/camera.h"
#include "objects/castle.h"
#include "objects/gameobj_host.h"
#include "objects/gameobj_ops.h"
#include "objects/player.h"
#include "script/scriptData.h"
#include "tests/persist/saved_game_fixture.h"
#include "world/worldGen.h"

using namespace HeightmapData;
using sqbind::SqObject;

namespace {

// The world data block of a world file.
std::string world_block(const std::string& file) { return file.substr(4, WORLD_DATA_SIZE); }
std::string grids_block() {
  MemoryOutputStream s;
  saveWorldData(s);
  return std::string((const char*)s.bytes.data(), s.bytes.count());
}

// One object of every class that has a list, and a castle owned by the player.
CastleObject* populate_world() {
  for (int id = 1; id < NUM_GAMEOBJ_CLASSES; id++)
    if (id != gameobj_id_by_name("Player") && id != gameobj_id_by_name("CastleObject")) new_gameobj_by_id(id);
  CastleObject* castle = (CastleObject*)new_gameobj_by_id(gameobj_id_by_name("CastleObject"));
  castle->pos = v_make(40.5f, 3.0f, 70.25f, 1.0f);
  castle->owner = local_player;
  local_player->castle = castle;
  return castle;
}

TEST_F(SavedGameTest, ANewGameEntersAWorldSavesItAndLoadsItBackBitForBit) {
  start_mode("uv");
  new_game(3);
  EXPECT_EQ(cur_game_mode, universe_mode);
  EXPECT_EQ(get_entered_world(), -1);
  step();  // the universe view picks world #0 (no universe screen yet)
  ASSERT_EQ(cur_game_mode, play_mode);
  EXPECT_EQ(get_entered_world(), 0);
  EXPECT_EQ(eval("events.len() == 1 && events[0] == \"enter_world\""), "true");
  EXPECT_STREQ(get_error_message(), "");
  // The world was new: generated and saved at once, the slot laid out.
  EXPECT_TRUE(exists(slot_file(3, "info")));
  EXPECT_TRUE(exists(slot_file(3, "uni")));
  EXPECT_TRUE(exists(slot_file(3, "w000")));
  EXPECT_FALSE(exists(slot_file(3, "w001")));
  EXPECT_FALSE(exists(slot_file(3, "world")));
  bool outdated = true;
  EXPECT_EQ(std::string(get_saved_game_name(3, outdated)).rfind("Test, started ", 0), 0u);
  EXPECT_FALSE(outdated);
  ASSERT_TRUE(local_player);

  // Objects of every class, a castle linked to the player, script globals.
  CastleObject* castle = populate_world();
  local_player->pos = v_make(12.5f, 30.0f, 99.0f, 1.0f);
  local_player->selectSpell(0, 20);
  for (int i = 0; i < 300; i++) water[i * 211].amount = (float)(i % 7) - 3.0f;
  camera_yaw = 0.5f, camera_pitch = -0.25f, camera_roll = 0.125f;
  world_time = 1234;
  ASSERT_EQ(run("score = 77;"), "");
  ASSERT_TRUE(save_game());
  WorldPicture saved = picture_world();
  std::string saved_block = grids_block();
  int player_ser = local_player->ser_id, castle_ser = castle->ser_id;
  EXPECT_TRUE(world_block(read(slot_file(3, "w000"))) == saved_block);

  // Something else entirely, then the slot loaded back as the load screen
  // does it: the game, then the universe view, which enters the stored world.
  start_mode("flat");
  generate_world("game");
  camera_yaw = camera_pitch = camera_roll = 0;
  world_time = 0;
  ASSERT_NE(picture_world(), saved);
  ASSERT_TRUE(load_saved_game(3));
  EXPECT_EQ(cur_game_slot, 3);
  EXPECT_STREQ(game_mode_id.c_str(), "uv");
  set_game_mode(universe_mode);
  ASSERT_EQ(cur_game_mode, play_mode);
  EXPECT_EQ(picture_world(), saved);
  EXPECT_TRUE(grids_block() == saved_block);
  EXPECT_EQ(memcmp(water, tmpw, HMAP_CELLS * sizeof(Water)), 0);
  ASSERT_TRUE(local_player);
  EXPECT_EQ(local_player->ser_id, player_ser);
  EXPECT_EQ(memcmp(&local_player->pos, "\0\0\x48\x41\0\0\xf0\x41\0\0\xc6\x42\0\0\x80\x3f", 16), 0);
  EXPECT_EQ(local_player->selected_spell[0], 20);
  ASSERT_TRUE(local_player->castle);
  EXPECT_EQ(local_player->castle->ser_id, castle_ser);
  EXPECT_EQ(local_player->castle->owner.get(), local_player);
  EXPECT_EQ(v_x(local_player->castle->pos), 40.5f);
  EXPECT_EQ(camera_yaw, 0.5f);
  EXPECT_EQ(camera_pitch, -0.25f);
  EXPECT_EQ(camera_roll, 0.0f);  // play starts level
  ASSERT_TRUE(load_world(0));
  EXPECT_EQ(camera_roll, 0.125f);
  EXPECT_EQ(world_time, 1234);
  EXPECT_STREQ(world_sky_name.c_str(), "test sky");
  EXPECT_EQ(eval("score"), "77");
  EXPECT_EQ(eval("cur_world.seed"), "11");
  // New objects are numbered after the loaded ones.
  BaseObject* fresh = new_gameobj_by_id(gameobj_id_by_name("TreeObject"));
  for (const auto& list : saved.lists)
    for (const ObjectPicture& o : list) EXPECT_NE(o.ser_id, fresh->ser_id);
}

TEST_F(SavedGameTest, ASaveInTheUniverseViewWritesInfoAndUniOnly) {
  start_mode("uv");
  new_game(1);
  ASSERT_EQ(get_entered_world(), -1);
  EXPECT_TRUE(save_game());
  EXPECT_TRUE(exists(slot_file(1, "info")));
  EXPECT_TRUE(exists(slot_file(1, "uni")));
  EXPECT_FALSE(exists(slot_file(1, "w000")));
  // The spells of the game go with the universe.
  EXPECT_TRUE(player_has_spell("UsePortalSpell"));
  EXPECT_FALSE(player_has_spell("LightningSpell"));
  pick_up_spell(gameobj_id_by_name("LightningSpell"));
  EXPECT_TRUE(save_game());
  init_spell_grid();
  ASSERT_TRUE(load_saved_game(1));
  EXPECT_TRUE(player_has_spell("LightningSpell"));
  EXPECT_TRUE(player_has_spell("UsePortalSpell"));
  // The script function saves too.
  EXPECT_EQ(eval("save_game()"), "true");
}

TEST_F(SavedGameTest, OutdatedAndDamagedSlotsList) {
  start_mode("uv");
  new_game(2);
  ASSERT_TRUE(save_game());
  bool outdated = true;
  std::string name = get_saved_game_name(2, outdated).c_str();
  ASSERT_FALSE(name.empty());
  EXPECT_FALSE(outdated);
  std::string info = read(slot_file(2, "info"));

  // Another version: the stored name, outdated, and the game does not load.
  std::string other = info;
  other[4] ^= 1;
  ASSERT_TRUE(write_file(slot_file(2, "info"), other));
  EXPECT_EQ(std::string(get_saved_game_name(2, outdated)), name);
  EXPECT_TRUE(outdated);
  EXPECT_FALSE(load_saved_game(2));
  EXPECT_STREQ(get_error_message(), "Error loading the game:\nUnsupported saved game version");
  EXPECT_EQ(cur_game_slot, -1);

  // A wrong magic: "? ? ?", outdated.
  other = info;
  other[0] ^= 1;
  ASSERT_TRUE(write_file(slot_file(2, "info"), other));
  EXPECT_EQ(std::string(get_saved_game_name(2, outdated)), "? ? ?");
  EXPECT_TRUE(outdated);

  // Cut short, missing, or no slot: empty and not outdated.
  ASSERT_TRUE(write_file(slot_file(2, "info"), info.substr(0, info.size() - 3)));
  EXPECT_EQ(std::string(get_saved_game_name(2, outdated)), "");
  EXPECT_FALSE(outdated);
  EXPECT_EQ(std::string(get_saved_game_name(9, outdated)), "");
  EXPECT_EQ(std::string(get_saved_game_name(-1, outdated)), "");
  EXPECT_FALSE(outdated);
  // A name too long for a slot list is cut, never a stop.
  new_game(2);
  ASSERT_EQ(run("long_info <- { name = format(\"%0300d\", 1), mode = \"uv\" };"), "");
  cur_game_info = sqbind::getGlobal(vm(), "long_info");
  cur_game_slot = 2;
  ASSERT_TRUE(save_game());
  EXPECT_EQ(get_saved_game_name(2, outdated).length(), 259);
  // A mode that is no plain folder name is refused.
  ASSERT_EQ(run("long_info.mode = \"../uv\";"), "");
  ASSERT_TRUE(save_game());
  EXPECT_FALSE(load_saved_game(2));
  EXPECT_STREQ(get_error_message(), "Error loading the game:\nInvalid gameplay mode in the saved game");
}

TEST_F(SavedGameTest, LeavingAWorldKeepsItOrLetsItRunOn) {
  start_mode("uv");
  new_game(0);
  step();
  ASSERT_EQ(cur_game_mode, play_mode);
  Player* player = local_player;
  ASSERT_TRUE(player);
  for (int i = 0; i < 64; i++) water[hmap_index(100 + i % 8, 100 + i / 8)].amount = 6.0f;
  std::string at_leaving = grids_block();

  // 0 seconds: the saved world is the world as it was at leaving, without the player.
  world_sim_after_leave_time = 0;
  leave_world();
  EXPECT_EQ(cur_game_mode, universe_mode);
  EXPECT_EQ(local_player, nullptr);
  EXPECT_EQ(get_entered_world(), -1);
  EXPECT_TRUE(world_block(read(slot_file(0, "w000"))) == at_leaving);
  EXPECT_TRUE(Player_list.empty());

  // Re-entering a visited world through the universe: loaded, and the
  // player made at its castle, linked to it, with the portal in hand.
  CastleObject* castle = (CastleObject*)new_gameobj_by_id(gameobj_id_by_name("CastleObject"));
  castle->pos = v_make(30.0f, 1.0f, 60.0f, 1.0f);
  set_entered_world(0);
  ASSERT_TRUE(save_game());
  set_entered_world(-1);
  should_close_game_menu = false;
  pick_world(0);
  ASSERT_EQ(cur_game_mode, play_mode);
  ASSERT_TRUE(local_player);
  ASSERT_EQ(CastleObject_list.count(), 1);
  castle = CastleObject_list[0];
  EXPECT_EQ(v_x(local_player->pos), 30.0f);
  EXPECT_EQ(v_z(local_player->pos), 60.0f);
  EXPECT_EQ(local_player->castle.get(), castle);
  EXPECT_EQ(castle->owner.get(), local_player);
  EXPECT_EQ(local_player->selected_spell[1], 79);
  EXPECT_EQ(camera_yaw, 0.0f);

  // A positive time: the world runs on without the player before it is saved.
  for (int i = 0; i < 64; i++) water[hmap_index(100 + i % 8, 100 + i / 8)].amount = 6.0f;
  at_leaving = grids_block();
  world_sim_after_leave_time = 1.0f;
  leave_world();
  std::string saved = world_block(read(slot_file(0, "w000")));
  EXPECT_FALSE(saved == at_leaving);
  EXPECT_TRUE(saved == grids_block());  // 20 steps later
}

TEST_F(SavedGameTest, EnteringAnUnvisitedWorldGeneratesAndSavesIt) {
  start_mode("uv");
  new_game(5);
  step();
  std::string first = world_block(read(slot_file(5, "w000")));
  leave_world();
  ASSERT_FALSE(exists(slot_file(5, "w002")));
  should_close_game_menu = false;
  pick_world(2);
  EXPECT_EQ(cur_game_mode, play_mode);
  ASSERT_TRUE(exists(slot_file(5, "w002")));
  std::string third = world_block(read(slot_file(5, "w002")));
  EXPECT_TRUE(third == grids_block());
  EXPECT_FALSE(third == first);  // built from that world's own seed
  EXPECT_TRUE(local_player);
  EXPECT_EQ(eval("cur_world == null"), "true");  // a new world is not "entered" from a file
}

TEST_F(SavedGameTest, ErasingKeepsTheWorldFileAndASlotWithoutUniDoesNotLoad) {
  start_mode("flat");
  ASSERT_FALSE(game_mode_has_universe);
  // Without a slot nothing is touched.
  EXPECT_FALSE(erase_saved_game(-1));
  EXPECT_STREQ(get_error_message(), "No slot selected for erasing the saved game");
  EXPECT_FALSE(save_game());
  EXPECT_STREQ(get_error_message(), "No slot selected for the saved game");
  EXPECT_FALSE(load_saved_game(-1));
  EXPECT_STREQ(get_error_message(), "No slot selected for loading the game");

  new_game(4);
  EXPECT_EQ(cur_game_mode, play_mode);  // no universe: straight to play
  ASSERT_EQ(run("flat_info <- { name = \"flat game\", mode = \"flat\" };"), "");
  cur_game_info = sqbind::getGlobal(vm(), "flat_info");
  ASSERT_TRUE(save_game());
  EXPECT_TRUE(exists(slot_file(4, "info")));
  EXPECT_TRUE(exists(slot_file(4, "world")));
  EXPECT_FALSE(exists(slot_file(4, "uni")));  // no universe, no record of one

  // Without "uni" the game does not load.
  EXPECT_FALSE(load_saved_game(4));
  EXPECT_STREQ(get_error_message(), "Error loading the game:\nCan't open input file");
  EXPECT_EQ(cur_game_slot, -1);

  ASSERT_TRUE(write_file(slot_file(4, "w007"), "x"));
  EXPECT_TRUE(erase_saved_game(4));
  EXPECT_FALSE(exists(slot_file(4, "info")));
  EXPECT_FALSE(exists(slot_file(4, "w007")));
  EXPECT_TRUE(exists(slot_file(4, "world")));
  bool outdated = true;
  EXPECT_EQ(std::string(get_saved_game_name(4, outdated)), "");
  EXPECT_FALSE(outdated);
  // A gameplay mode without saves saves nothing and succeeds.
  game_mode_has_saves = false;
  cur_game_slot = -1;
  EXPECT_TRUE(save_game());
}

TEST_F(SavedGameTest, DamagedWorldFilesDoNotLoad) {
  start_mode("uv");
  new_game(6);
  step();
  populate_world();
  ASSERT_TRUE(save_game());
  std::string file = read(slot_file(6, "w000"));
  std::string path = slot_file(6, "w001");
  size_t objects_at = 4 + WORLD_DATA_SIZE + 16 + 4 + 1 + strlen("test sky") + 12 + 4;
  int count;
  memcpy(&count, file.data() + objects_at + 4, 4);
  ASSERT_EQ(count, NUM_OBJECT_LISTS);

  auto at = [](const char* msg, size_t pos) {
    char text[256];
    snprintf(text, sizeof(text), "Error loading the world:\n%s (at %X)", msg, (unsigned)pos);
    return std::string(text);
  };
  auto with = [&](size_t pos, const std::string& bytes) {
    return file.substr(0, pos) + bytes + file.substr(pos + bytes.size());
  };
  char many[96];
  snprintf(many, sizeof(many), "object count 2147483647 does not fit in the %d bytes left",
           (int)(file.size() - objects_at - 8));
  struct Case {
    std::string bytes, error;
  } cases[] = {
      {file.substr(0, 1000), "Error loading the world:\nerror reading file (at "},
      {with(0, std::string("\1\2\3\4", 4)), at("Unsupported saved game version", 4)},
      {with(objects_at, std::string("\2\0\0\0", 4)), at("unsupported game object data version 2", objects_at + 4)},
      {with(objects_at + 4, std::string("\xff\xff\xff\x7f", 4)), at(many, objects_at + 8)},
      {with(objects_at + 8, std::string("\x5b\0\0\0", 4)), at("unknown object class 91", objects_at + 20)},
      {with(objects_at + 12, std::string("\0\0\0\0", 4)), at("invalid serial id 0", objects_at + 20)},
      {file.substr(0, file.size() - 1), "Error loading the world:\nerror reading file (at "},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(write_file(path, c.bytes));
    EXPECT_FALSE(load_world(path.c_str()));
    EXPECT_EQ(std::string(get_error_message()).substr(0, c.error.size()), c.error);
    for (const ObjectListRef& l : object_lists) EXPECT_TRUE(l.list->empty()) << l.name;
    EXPECT_EQ(script_data_object_count(), 0);
  }
  // A world that was never saved fails quietly.
  set_error_message(nullptr);
  EXPECT_FALSE(load_world(slot_file(6, "w009").c_str()));
  EXPECT_FALSE(has_error_message());
  EXPECT_FALSE(load_world(-1));
}

// A save that fails at any of its writes (a full disk, a crash) leaves the
// previous save whole: each file is as it was or as the new save wrote it
// completely, and the game loads.
TEST_F(SavedGameTest, ASaveFailingAtAnyWriteLeavesThePreviousSaveLoadable) {
  const char* files[] = {"info", "uni", "w000"};
  auto read_files = [&](std::vector<std::string>& out) {
    out.clear();
    for (const char* f : files) out.push_back(read(slot_file(7, f)));
  };
  auto write_files = [&](const std::vector<std::string>& in) {
    for (int i = 0; i < 3; i++) ASSERT_TRUE(write_file(slot_file(7, files[i]), in[i]));
  };
  auto load_and_enter = [&]() {
    EXPECT_TRUE(load_saved_game(7));
    set_game_mode(nullptr);
    set_game_mode(universe_mode);
    EXPECT_EQ(cur_game_mode, play_mode);
  };

  start_mode("uv");
  new_game(7);
  step();
  populate_world();
  ASSERT_TRUE(save_game());
  std::vector<std::string> old_files, new_files;
  read_files(old_files);
  WorldPicture old_world = picture_world();

  // The changed game: other land, another object, other globals and spells.
  for (int i = 0; i < HMAP_CELLS; i += 3) hmap[i] += 1.0f;
  new_gameobj_by_id(gameobj_id_by_name("TreeObject"));
  ASSERT_EQ(run("score = 5;"), "");
  pick_up_spell(gameobj_id_by_name("HealingSpell"));
  WorldPicture new_world = picture_world();
  save_writes = 0;
  ASSERT_TRUE(save_game());
  int writes = save_writes;
  read_files(new_files);
  ASSERT_TRUE(old_files[1] != new_files[1] && old_files[2] != new_files[2]);  // info stays the same
  ASSERT_GT(writes, 20);

  // Loading depends only on the files, so each state the failures leave
  // behind is loaded once.
  std::vector<std::vector<std::string>> checked;
  // The world file is never touched by a failed save (it is written last):
  // any replacement would give it a new inode.
  write_files(old_files);
  struct stat world_stat;
  ASSERT_EQ(stat(slot_file(7, "w000").c_str(), &world_stat), 0);
  for (int n = 1; n <= writes; n++) {
    for (int i = 0; i < 2; i++) {
      if (read(slot_file(7, files[i])) != old_files[i]) ASSERT_TRUE(write_file(slot_file(7, files[i]), old_files[i]));
    }
    save_fail_at_write = n;
    save_writes = 0;
    EXPECT_FALSE(save_game()) << n;
    EXPECT_EQ(std::string(get_error_message()).rfind("Error saving the ", 0), 0u) << n;
    save_fail_at_write = 0;
    std::vector<std::string> now = {read(slot_file(7, "info")), read(slot_file(7, "uni"))};
    for (int i = 0; i < 2; i++) EXPECT_TRUE(now[i] == old_files[i] || now[i] == new_files[i]) << files[i] << " " << n;
    struct stat st;
    ASSERT_EQ(stat(slot_file(7, "w000").c_str(), &st), 0);
    EXPECT_EQ(st.st_ino, world_stat.st_ino) << n;
    bool seen = false;
    for (const auto& c : checked) seen = seen || c == now;
    if (seen) continue;
    checked.push_back(now);
    load_and_enter();
    EXPECT_EQ(picture_world(), old_world) << n;
    // The changed game again, for the next try.
    write_files(new_files);
    load_and_enter();
    ASSERT_EQ(picture_world(), new_world) << n;
    write_files(old_files);
    ASSERT_EQ(stat(slot_file(7, "w000").c_str(), &world_stat), 0);
  }
  EXPECT_EQ(checked.size(), 2u);  // old uni or new uni: info is the same in both saves
  // No temporary file is left behind.
  for (const char* f : files) EXPECT_FALSE(exists(slot_file(7, f) + ".tmp" + std::to_string(getpid())));
}

}  // namespace
