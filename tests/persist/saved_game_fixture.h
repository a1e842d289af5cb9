// Saved games with the real game-object module: a temporary application
// folder with small test gameplay modes, a private per-user folder, the
// module loaded and initialised. Helpers read the slot's files and take a
// picture of the world and its objects to compare bit for bit.
#pragma once
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "game/game_mode.h"
#include "objects/object_lists.h"
#include "persist/savedGame.h"
#include "tests/worldgen/worldgen_fixture.h"

// "uv": a universe of three worlds, each built from its own seed.
extern const char* const UNIVERSE_MODE_SCRIPT;
// "flat": one world, saved, no universe.
extern const char* const FLAT_MODE_SCRIPT;

// One object as saved data sees it.
struct ObjectPicture {
  int class_id, ser_id;
  bool operator==(const ObjectPicture& o) const { return class_id == o.class_id && ser_id == o.ser_id; }
};

// The grids and every object list, for comparisons.
struct WorldPicture {
  uint64_t grids;
  std::vector<std::vector<ObjectPicture>> lists;  // one per object list, in list order
  bool operator==(const WorldPicture& o) const { return grids == o.grids && lists == o.lists; }
};
WorldPicture picture_world();

struct SavedGameTest : WorldScriptTest {
  // The per-user folder: in memory (/dev/shm) where there is one, since
  // every save flushes its files to the disk, else the temporary folder.
  std::string home;

  void SetUp() override;
  void TearDown() override;

  // Writes both test modes and starts one.
  void start_mode(const char* mode);
  // A new game of the current mode in the slot, then the universe view.
  void new_game(int slot);
  // One step of the current mode.
  void step() { cur_game_mode->update(0.05f); }
  // Picks a world as the universe screen would and steps into it.
  void pick_world(int index);

  std::string slot_file(int slot, const char* name) { return get_saved_game_file(slot, name).c_str(); }
  bool exists(const std::string& path);
  std::string read(const std::string& path);
};
