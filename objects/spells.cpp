#include "objects/spells.h"
#include <cstring>
#include "script/sqbind.h"
#include "world/worldGen.h"

SpellInfo spell_info[NUM_SPELLS + 1] = {
    {20, "FireballSpell", "Fireball", "fireball", 0, -1},
    {88, "WaterballSpell", "Water globe", "water_globe", 90, -1},
    {18, "FaultSpell", "Fracture", "fracture", 71, -1},
    {47, "MeteorSpell", "Meteor", "meteor", 1, -1},
    {29, "HillSpell", "Hill", "hill", 70, -1},
    {54, "PitSpell", "Pit", "pit", 80, -1},
    {81, "VolcanoSpell", "Volcano", "volcano", 81, -1},
    {86, "WaterSourceSpell", "Water source", "water_source", 91, -1},
    {83, "WaterSinkSpell", "Water sink", "water_sink", 101, -1},
    {75, "ThunderstormSpell", "Thunderstorm", "lightning_storm", 12, -1},
    {27, "HealingSpell", "Healing", "healing", 100, -1},
    {38, "LightningSpell", "Lightning", "lightning", 10, -1},
    {9, "CastleSpell", "Castle", "castle", 140, -1},
    {79, "UsePortalSpell", "Use portal", "portal", 130, -1},
    {26, "GuardTowerSpell", "Guard tower", "fireball_tower", 120, -1},
    {11, "ClaimManaSpell", "Claim mana", "possess_mana", 141, -1},
    {0, nullptr, nullptr, nullptr, 0, -1},
};

SpellInfo* get_spell_info(int class_id) {
  if (class_id == 0) return nullptr;
  for (SpellInfo* s = spell_info; s->class_id; s++)
    if (s->class_id == class_id) return s;
  return nullptr;
}

SpellInfo* get_spell_info(const char* class_name) {
  if (!class_name) return nullptr;
  for (SpellInfo* s = spell_info; s->class_id; s++)
    if (strcmp(s->class_name, class_name) == 0) return s;
  return nullptr;
}

GlobResInfo glob_res_info[NUM_GLOB_RES] = {
    {"shard", "Crystal shard", "shard", -1},
    {"vortex", "Magic vortex", "magic_vortex", -1},
    {"firebloom", "Firebloom", "firebloom", -1},
    {"star", "Fallen star", "fallen_star", -1},
    {"seed", "Rare seed", "rare_seed", -1},
};

int get_glob_res_id(const char* name) {
  if (!name) return -1;
  for (int i = 0; i < NUM_GLOB_RES; i++)
    if (strcmp(glob_res_info[i].name, name) == 0) return i;
  return -1;
}

int get_glob_res_amount(const char* name) {
  if (!name || universe.isNull() || !universe.vm) return 0;
  try {
    sqbind::SqObject resources = sqbind::getSlot(universe, "resources");
    if (!sqbind::hasSlot(resources, name)) return 0;
    return sqbind::getSlotInt(resources, name);
  } catch (const sqbind::SquirrelError&) {
    return 0;
  }
}

bool add_glob_res_amount(const char* name, int amount) {
  if (!name || universe.isNull() || !universe.vm) return false;
  try {
    sqbind::SqObject resources = sqbind::getSlot(universe, "resources");
    int have = sqbind::hasSlot(resources, name) ? sqbind::getSlotInt(resources, name) : 0;
    HSQUIRRELVM v = resources.vm;
    SQInteger top = sq_gettop(v);
    resources.push(v);
    sq_pushstring(v, name, -1);
    sq_pushinteger(v, have + amount);
    bool stored = SQ_SUCCEEDED(sq_newslot(v, -3, SQFalse));
    sq_settop(v, top);
    return stored;
  } catch (const sqbind::SquirrelError&) {
    return false;
  }
}
