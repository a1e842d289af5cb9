// The object lists: one exported DynArray<Class*> named <Class>_list for
// each module class that has a list. The module fills and empties them; the
// host walks them (in this order) when it swaps the module. One object may
// sit in several lists (its own class's and a base class's).
#pragma once
#include "lib/dynArray.h"

class BaseObject;

#define QV_OBJECT_LISTS(X) \
  X(MapArrow)              \
  X(Tentacle)              \
  X(GlobResObject)         \
  X(LightPillarEffect)     \
  X(GuardTower)            \
  X(GuardTowerMissile)     \
  X(GuardTowerSpell)       \
  X(TimeTrigger)           \
  X(Sensor)                \
  X(LandMonster)           \
  X(BirdMonster)           \
  X(WorldPortal)           \
  X(UsePortalSpell)        \
  X(ManaBall)              \
  X(ClaimManaMissile)      \
  X(ClaimManaSpell)        \
  X(CastleObject)          \
  X(CastleMissile)         \
  X(CastleSpell)           \
  X(ManaGatherer)          \
  X(Stone1StaticObject)    \
  X(Menhir1StaticObject)   \
  X(Menhir2StaticObject)   \
  X(HumanoidStaticObject)  \
  X(StoneCup1Object)       \
  X(BurnEffect)            \
  X(TreeObject)            \
  X(WyvernMonster)         \
  X(ThunderstormObject)    \
  X(Fireball)              \
  X(Waterball)             \
  X(FaultMissile)          \
  X(HouseMissile)          \
  X(MeteorMissile)         \
  X(ThunderstormMissile)   \
  X(HillMissile)           \
  X(PitMissile)            \
  X(VolcanoMissile)        \
  X(WaterSourceMissile)    \
  X(WaterSinkMissile)      \
  X(FireballSpell)         \
  X(WaterballSpell)        \
  X(FaultSpell)            \
  X(HouseSpell)            \
  X(MeteorSpell)           \
  X(HillSpell)             \
  X(PitSpell)              \
  X(VolcanoSpell)          \
  X(WaterSourceSpell)      \
  X(WaterSinkSpell)        \
  X(ThunderstormSpell)     \
  X(HealingSpell)          \
  X(LightningSpell)        \
  X(SpellObject)           \
  X(LavaSource)            \
  X(NaturalVolcano)        \
  X(WaterSource)           \
  X(Player)

#define QV_DECLARE_OBJECT_LIST(c) \
  class c;                        \
  extern DynArray<c*> c##_list;
QV_OBJECT_LISTS(QV_DECLARE_OBJECT_LIST)
#undef QV_DECLARE_OBJECT_LIST

enum { NUM_OBJECT_LISTS = 58 };

// The lists in walking order, seen as lists of the root class (every module
// class derives from BaseObject alone, so a class pointer is a BaseObject pointer).
struct ObjectListRef {
  const char* name;  // "MapArrow_list"
  DynArray<BaseObject*>* list;
};
extern const ObjectListRef object_lists[NUM_OBJECT_LISTS];
