// The module's object classes. Class ids are the positions in the class
// table: they rise with the class names in character-code order (entry 0 is
// unused), so a spell's id in the host's spell table is its class id here.
// A class's behaviour is added with the gameplay; until then each class is
// its name, its id, its base and its lists.
#pragma once
#include "objects/base_object.h"
#include "objects/castle.h"
#include "objects/object_lists.h"
#include "objects/player.h"

// Every class in id order: X(name, base class, how it is defined).
// DEF: defined below from the row; PRE: defined by hand before the rows
// (a base class that sorts after its derived classes, or the player, whose
// interface the host declares).
#define GAMEOBJ_CLASSES(X)                        \
  X(AshCloud, BaseObject, DEF)                    \
  X(BaseMissile, BaseObject, DEF)                 \
  X(BaseMonster, BaseObject, DEF)                 \
  X(BirdMonster, BaseMonster, DEF)                \
  X(BuildingObject, BaseObject, DEF)              \
  X(BurnEffect, BaseObject, DEF)                  \
  X(CastleMissile, BaseMissile, DEF)              \
  X(CastleObject, BaseObject, PRE)                \
  X(CastleSpell, SpellObject, DEF)                \
  X(ClaimManaMissile, BaseMissile, DEF)           \
  X(ClaimManaSpell, SpellObject, DEF)             \
  X(CloudObject, BaseObject, DEF)                 \
  X(CrystalObject, BaseObject, DEF)               \
  X(DustEffect, BaseObject, DEF)                  \
  X(EarthquakeEffect, BaseObject, DEF)            \
  X(ExplosionEffect, BaseObject, DEF)             \
  X(FaultMissile, BaseMissile, DEF)               \
  X(FaultSpell, SpellObject, DEF)                 \
  X(Fireball, BaseMissile, DEF)                   \
  X(FireballSpell, SpellObject, DEF)              \
  X(FloatingText, BaseObject, DEF)                \
  X(GhostMonster, BaseMonster, DEF)               \
  X(GlobResObject, BaseObject, DEF)               \
  X(GuardTower, BuildingObject, DEF)              \
  X(GuardTowerMissile, BaseMissile, DEF)          \
  X(GuardTowerSpell, SpellObject, DEF)            \
  X(HealingSpell, SpellObject, DEF)               \
  X(HillMissile, BaseMissile, DEF)                \
  X(HillSpell, SpellObject, DEF)                  \
  X(HouseMissile, BaseMissile, DEF)               \
  X(HouseObject, BuildingObject, DEF)             \
  X(HouseSpell, SpellObject, DEF)                 \
  X(HumanoidStaticObject, BaseObject, DEF)        \
  X(LandMonster, BaseMonster, DEF)                \
  X(LavaBomb, BaseMissile, DEF)                   \
  X(LavaSource, BaseObject, DEF)                  \
  X(LightPillarEffect, BaseObject, DEF)           \
  X(LightningSpell, SpellObject, DEF)             \
  X(MagicMissile, BaseMissile, DEF)               \
  X(ManaBall, BaseObject, DEF)                    \
  X(ManaGatherer, BaseObject, DEF)                \
  X(ManaLink, BaseObject, DEF)                    \
  X(MapArrow, BaseObject, DEF)                    \
  X(Menhir1StaticObject, BaseObject, DEF)         \
  X(Menhir2StaticObject, BaseObject, DEF)         \
  X(MeteorMissile, BaseMissile, DEF)              \
  X(MeteorSpell, SpellObject, DEF)                \
  X(MonsterNest, BaseObject, DEF)                 \
  X(NaturalVolcano, BaseObject, DEF)              \
  X(ObeliskObject, BaseObject, DEF)               \
  X(PathMarker, BaseObject, DEF)                  \
  X(PillarObject, BaseObject, DEF)                \
  X(PitMissile, BaseMissile, DEF)                 \
  X(PitSpell, SpellObject, DEF)                   \
  X(Player, BaseObject, PRE)                      \
  X(PortalEffect, BaseObject, DEF)                \
  X(RainCloud, BaseObject, DEF)                   \
  X(RockObject, BaseObject, DEF)                  \
  X(RuinObject, BaseObject, DEF)                  \
  X(Sensor, BaseObject, DEF)                      \
  X(ShardObject, BaseObject, DEF)                 \
  X(SmokeEffect, BaseObject, DEF)                 \
  X(SparkEffect, BaseObject, DEF)                 \
  X(SpellObject, BaseObject, PRE)                 \
  X(SplashEffect, BaseObject, DEF)                \
  X(SteamEffect, BaseObject, DEF)                 \
  X(Stone1StaticObject, BaseObject, DEF)          \
  X(StoneCup1Object, BaseObject, DEF)             \
  X(SummonEffect, BaseObject, DEF)                \
  X(SwampObject, BaseObject, DEF)                 \
  X(Tentacle, BaseMonster, DEF)                   \
  X(ThunderCloud, BaseObject, DEF)                \
  X(ThunderstormMissile, BaseMissile, DEF)        \
  X(ThunderstormObject, BaseObject, DEF)          \
  X(ThunderstormSpell, SpellObject, DEF)          \
  X(TimeTrigger, BaseObject, DEF)                 \
  X(TornadoObject, BaseObject, DEF)               \
  X(TreeObject, BaseObject, DEF)                  \
  X(UsePortalSpell, SpellObject, DEF)             \
  X(VolcanoMissile, BaseMissile, DEF)             \
  X(VolcanoSpell, SpellObject, DEF)               \
  X(WaterSinkMissile, BaseMissile, DEF)           \
  X(WaterSinkSpell, SpellObject, DEF)             \
  X(WaterSource, BaseObject, DEF)                 \
  X(WaterSourceMissile, BaseMissile, DEF)         \
  X(WaterSourceSpell, SpellObject, DEF)           \
  X(Waterball, BaseMissile, DEF)                  \
  X(WaterballSpell, SpellObject, DEF)             \
  X(WorldPortal, BaseObject, DEF)                 \
  X(WyvernMonster, BaseMonster, DEF)

#define GAMEOBJ_CLASS_ID(name, base, how) CLS_##name,
enum GameObjClassId { CLS_NONE = 0, GAMEOBJ_CLASSES(GAMEOBJ_CLASS_ID) NUM_CLASS_IDS };
#undef GAMEOBJ_CLASS_ID
static_assert(NUM_CLASS_IDS == 91, "the class table has 91 entries");

// Ids rise with the names in character-code order (the host's spell table
// and the module's lookup by name rely on it).
constexpr bool class_names_rise() {
  const char* names[] = {
#define GAMEOBJ_CLASS_NAME(name, base, how) #name,
      GAMEOBJ_CLASSES(GAMEOBJ_CLASS_NAME)
#undef GAMEOBJ_CLASS_NAME
  };
  for (int i = 1; i < NUM_CLASS_IDS - 1; i++) {
    const char *a = names[i - 1], *b = names[i];
    while (*a && *a == *b) a++, b++;
    if ((unsigned char)*a >= (unsigned char)*b) return false;
  }
  return true;
}
static_assert(class_names_rise(), "class ids must rise with the class names");

// A test build of the module answers every message with
// GAMEOBJ_TEST_MESSAGE_REPLY, so that a test can tell which build's code an
// object runs after the module was swapped.
#ifdef GAMEOBJ_TEST_MESSAGE_REPLY
#define GAMEOBJ_TEST_REPLY \
  int onMessage(int) override { return GAMEOBJ_TEST_MESSAGE_REPLY; }
#else
#define GAMEOBJ_TEST_REPLY
#endif

// The common base of every spell; spells sit in their own list and in SpellObject_list.
class SpellObject : public BaseObject {
 public:
  GAMEOBJ_TEST_REPLY
  const char* getClassName() override { return "SpellObject"; }
  int getClassId() override { return CLS_SpellObject; }
};

// The castle: the host declares its state (objects/castle.h).
class CastleBuilding final : public CastleObject {
 public:
  GAMEOBJ_TEST_REPLY
  const char* getClassName() override { return "CastleObject"; }
  int getClassId() override { return CLS_CastleObject; }
};

// The player: the host declares its interface, the module implements it.
class PlayerObject final : public Player {
 public:
  GAMEOBJ_TEST_REPLY
  const char* getClassName() override { return "Player"; }
  int getClassId() override { return CLS_Player; }
  vec4f getPos() override;
  void onPlayResumed() override;
  void initPlayer() override;
  void selectSpell(int hand, int spell_class_id) override;
  void fly(float dt, float speed, vec4f velocity, const Matrix44& cam, int dash) override;
};

#define GAMEOBJ_DEFINE_PRE(name, base)
#define GAMEOBJ_DEFINE_DEF(name, base)                                 \
  class name : public base {                                           \
   public:                                                             \
    GAMEOBJ_TEST_REPLY                                                 \
    const char* getClassName() override { return #name; }              \
    int getClassId() override { return CLS_##name; }                   \
  };
#define GAMEOBJ_DEFINE(name, base, how) GAMEOBJ_DEFINE_##how(name, base)
GAMEOBJ_CLASSES(GAMEOBJ_DEFINE)
#undef GAMEOBJ_DEFINE
#undef GAMEOBJ_DEFINE_DEF
#undef GAMEOBJ_DEFINE_PRE

namespace gameobj {

// The C++ class that makes the objects of a class-table row: the row's own
// class, except for the player, whose row names the host's interface.
template <class T>
struct ConcreteClass {
  using type = T;
};
template <>
struct ConcreteClass<Player> {
  using type = PlayerObject;
};
template <>
struct ConcreteClass<CastleObject> {
  using type = CastleBuilding;
};

// What the module knows of each class: name, factory and the lists its objects join.
struct ClassInfo {
  const char* name;
  BaseObject* (*create)();
  DynArray<BaseObject*>* lists[2];  // own list, base class's list; null where none
};
// Indexed by class id; entry 0 is empty.
extern const ClassInfo class_info[NUM_CLASS_IDS];

// Creates an object of class `id` with the next serial id and puts it in its
// lists; null for an id outside 1 ... 90 or a class without a list of its own
// (the base classes).
BaseObject* create_object(int id);
// Removes the object from every list of its class.
void remove_from_lists(BaseObject* obj);
// New objects are numbered after ser_id (objects restored from saved data
// keep their numbers).
void continue_ser_ids_after(int ser_id);

}  // namespace gameobj
