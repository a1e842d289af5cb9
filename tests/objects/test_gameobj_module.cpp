// Binding the real game-object module and broken builds of it, and what the
// module already does with objects and the world.
#include <gtest/gtest.h>
#include <dlfcn.h>
#include <cstdlib>
#include <cstring>
#include <string>
#include "objects/base_object.h"
#include "objects/gameobj_host.h"
#include "objects/gameobj_ops.h"
#include "objects/object_lists.h"
#include "objects/player.h"
#include "objects/spells.h"
#include "world/heightmap.h"

namespace {

std::string real_module() { return std::string(getenv("QV_GAME_DIR")) + "/" GAMEOBJ_MODULE_FILE; }
std::string test_module(const char* folder) {
  return std::string(getenv("QV_TEST_MODULES")) + "/" + folder + "/" GAMEOBJ_MODULE_FILE;
}

void* vtable_of(BaseObject* o) {
  void* vt;
  memcpy(&vt, (void*)o, sizeof(vt));
  return vt;
}

class ModuleTest : public testing::Test {
 protected:
  void SetUp() override {
    HeightmapData::init_grids();
    HeightmapData::reset();
    load_gameobj_module(real_module().c_str());
  }
  void TearDown() override {
    remove_all_gameobj();
    unload_gameobj_module();
  }
};

TEST_F(ModuleTest, BindsEveryOperationAndTheClassTable) {
  int bound = 0;
#define COUNT_BOUND(ret, name, params) bound += name != nullptr;
  QV_GAMEOBJ_OPS(COUNT_BOUND)
#undef COUNT_BOUND
  EXPECT_EQ(bound, NUM_GAMEOBJ_OPS);

  // Entry 0 unused; every class has its own table. Every class with a list
  // can be made by id, and an object of class i carries table entry i.
  EXPECT_EQ(gameobj_vtables[0], nullptr);
  int made = 0;
  for (int id = 1; id < NUM_GAMEOBJ_CLASSES; id++) {
    ASSERT_NE(gameobj_vtables[id], nullptr) << id;
    for (int j = 1; j < id; j++) EXPECT_NE(gameobj_vtables[j], gameobj_vtables[id]);
    BaseObject* o = new_gameobj_by_id(id);
    if (!o) continue;
    made++;
    EXPECT_EQ(vtable_of(o), gameobj_vtables[id]) << o->getClassName();
    EXPECT_EQ(o->getClassId(), id);
    EXPECT_EQ(gameobj_id_by_name(o->getClassName()), id);
  }
  EXPECT_EQ(made, NUM_OBJECT_LISTS);

  // Ids rise with the class names in character-code order.
  const char* names[] = {"AshCloud", "BirdMonster", "CastleSpell", "Player", "SpellObject",
                         "WaterSinkSpell", "WaterSourceSpell", "WaterballSpell", "WyvernMonster"};
  for (int i = 1; i < (int)(sizeof(names) / sizeof(names[0])); i++)
    EXPECT_LT(gameobj_id_by_name(names[i - 1]), gameobj_id_by_name(names[i])) << names[i];
  EXPECT_EQ(gameobj_id_by_name("AshCloud"), 1);
  EXPECT_EQ(gameobj_id_by_name("WyvernMonster"), 90);
  EXPECT_EQ(new_gameobj_by_id(0), nullptr);
  EXPECT_EQ(new_gameobj_by_id(NUM_GAMEOBJ_CLASSES), nullptr);
  EXPECT_EQ(gameobj_id_by_name("NoSuchClass"), 0);

  // The spell table's ids are the module's class ids.
  for (SpellInfo* s = spell_info; s->class_id; s++)
    EXPECT_EQ(gameobj_id_by_name(s->class_name), s->class_id) << s->class_name;
  EXPECT_EQ(gameobj_id_by_name("UsePortalSpell"), 79);
}

TEST_F(ModuleTest, UnloadReleasesTheModuleAndClearsTheOperations) {
  unload_gameobj_module();
  EXPECT_EQ(update_gameobj, nullptr);
  EXPECT_EQ(bind_gameobj, nullptr);
  // Built without unique symbols, the module really leaves the process.
  EXPECT_EQ(dlopen(real_module().c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
  load_gameobj_module(real_module().c_str());
  EXPECT_NE(update_gameobj, nullptr);
}

TEST_F(ModuleTest, ObjectsLiveInTheirListsAndLeaveThemOnce) {
  int fireball = gameobj_id_by_name("FireballSpell");
  BaseObject* spell = new_gameobj_by_id(fireball);
  BaseObject* tree = new_gameobj_by_id(gameobj_id_by_name("TreeObject"));
  ASSERT_EQ(FireballSpell_list.count(), 1);
  ASSERT_EQ(SpellObject_list.count(), 1);  // a spell sits in its list and its base class's
  EXPECT_EQ((void*)SpellObject_list[0], (void*)spell);
  EXPECT_EQ(TreeObject_list.count(), 1);
  EXPECT_NE(spell->ser_id, tree->ser_id);
  EXPECT_EQ(get_gameobj_by_ser_id(tree->ser_id), tree);
  EXPECT_EQ(get_gameobj_by_ser_id(0), nullptr);

  int visits = 0;
  for_each_game_object([](BaseObject*, void* n) { ++*(int*)n; }, &visits);
  EXPECT_EQ(visits, 2);

  WeakRef<BaseObject> watch(spell);
  spell->destroy();
  spell->destroy();
  EXPECT_EQ(deleted_gameobjs.count(), 1);
  delete_gameobj();
  EXPECT_TRUE(deleted_gameobjs.empty());
  EXPECT_EQ(FireballSpell_list.count(), 0);
  EXPECT_EQ(SpellObject_list.count(), 0);
  EXPECT_EQ(watch.get(), nullptr);

  remove_all_gameobj();
  EXPECT_EQ(TreeObject_list.count(), 0);
  for (const ObjectListRef& l : object_lists) EXPECT_TRUE(l.list->empty()) << l.name;
}

TEST_F(ModuleTest, PlayerFliesOverTheLandAndAcrossTheMapEdge) {
  for (int i = 0; i < HMAP_CELLS; i++) HeightmapData::hmap[i] = 5.0f;
  Player* p = create_player(v_make(10, 0, 10, 1));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(local_player, p);
  EXPECT_EQ(get_local_player(), p);
  ASSERT_EQ(Player_list.count(), 1);
  EXPECT_STREQ(p->getClassName(), "Player");

  // Created below the land, it is lifted above it.
  vec4f pos = p->getPos();
  EXPECT_FLOAT_EQ(v_y(pos), 7.0f);
  EXPECT_FLOAT_EQ(v_w(pos), 1.0f);

  Matrix44 cam = Matrix44::identity();
  p->fly(0.05f, 0.4f, v_make(0.4f, 3.0f, 0, 0), cam, 0);
  EXPECT_FLOAT_EQ(v_x(p->getPos()), 10.4f);
  EXPECT_FLOAT_EQ(v_y(p->getPos()), 10.0f);

  // Flying down into a hill stops on top of it; water counts as surface.
  HeightmapData::hmap[hmap_index(11, 10)] = 20.0f;
  HeightmapData::water[hmap_index(11, 10)].amount = 3.0f;
  p->fly(0.05f, 0.6f, v_make(0.6f, -30.0f, 0, 0), cam, 0);
  EXPECT_FLOAT_EQ(v_x(p->getPos()), 11.0f);
  EXPECT_FLOAT_EQ(v_y(p->getPos()), 25.0f);

  // x from 255.9 by +0.2 comes out at 0.1.
  p->pos = v_make(255.9f, 50, 3, 1);
  p->fly(0.05f, 0.2f, v_make(0.2f, 0, 0, 0), cam, 0);
  EXPECT_NEAR(v_x(p->getPos()), 0.1f, 1e-4f);

  p->destroy();
  delete_gameobj();
  EXPECT_EQ(local_player, nullptr);
  EXPECT_TRUE(Player_list.empty());
}

TEST_F(ModuleTest, WorldQueriesInterpolateTheGrids) {
  HeightmapData::hmap[hmap_index(0, 0)] = 4.0f;
  HeightmapData::hmap[hmap_index(1, 0)] = 8.0f;
  HeightmapData::target_hmap[hmap_index(1, 0)] = 10.0f;
  HeightmapData::water[hmap_index(255, 0)].amount = -2.0f;  // lava, across the edge
  EXPECT_FLOAT_EQ(get_land_height(0.5f, 0), 6.0f);
  EXPECT_FLOAT_EQ(get_land_height(0.5f, 0.5f), 3.0f);
  EXPECT_FLOAT_EQ(get_land_height_at(v_make(256.5f, 0, 256, 1)), 6.0f);
  EXPECT_FLOAT_EQ(v_y(get_land_pos_at(v_make(1, 99, 0, 1))), 8.0f);
  EXPECT_FLOAT_EQ(get_land_change(1, 0), 2.0f);
  EXPECT_FLOAT_EQ(get_water(-0.5f, 0), -1.0f);
  vec4f flat = calc_land_norm(100, 100);
  EXPECT_FLOAT_EQ(v_y(flat), 1.0f);
  vec4f slope = calc_land_norm(1, 0);  // higher at x - 1 than at x + 1
  EXPECT_GT(v_x(slope), 0.0f);
}

TEST(GameobjBindingDeathTest, BrokenModulesStopWithTheirMessage) {
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(load_gameobj_module(test_module("missing_op").c_str()), testing::ExitedWithCode(100),
              "no \"render_gameobj\" function in gameobj.dll");
  EXPECT_EXIT(load_gameobj_module(test_module("classes92").c_str()), testing::ExitedWithCode(100),
              "gameobj classes changed, need restart");
  EXPECT_EXIT(load_gameobj_module(test_module("no_vtables").c_str()), testing::ExitedWithCode(100),
              "invalid gameobj.dll");
  EXPECT_EXIT(load_gameobj_module(test_module("no_such_folder").c_str()),
              testing::ExitedWithCode(100), "can't load gameobj.dll");
}

}  // namespace
