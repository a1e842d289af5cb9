// The spell grid: the spells the player holds, in the order found, each
// with a count. It starts with the initial spells when a universe is made,
// is kept in the universe table's slot "spells" when the game is saved (an
// array of tables { spell = class name, count = n }) and read back from
// there when a game is loaded.
#include "module.h"
#include "objects/spells.h"
#include "world/worldGen.h"

namespace gameobj {

namespace {

struct SpellSlot {
  int class_id;
  int count;
};
DynArray<SpellSlot> spell_grid;

SpellSlot* find_slot(int class_id) {
  for (SpellSlot& s : spell_grid)
    if (s.class_id == class_id) return &s;
  return nullptr;
}

}  // namespace

void add_spell_to_grid(int spell_class_id, int count) {
  if (!get_spell_info(spell_class_id) || count <= 0) return;
  if (SpellSlot* s = find_slot(spell_class_id))
    s->count += count;
  else
    spell_grid.push_back({spell_class_id, count});
}

void pick_up_spell(int spell_class_id) { add_spell_to_grid(spell_class_id, 1); }

// A new game's spells: a castle to found, the fireball, and the portal
// spell that leads back to the universe.
void add_initial_spells() {
  add_spell_to_grid(CLS_CastleSpell, 1);
  add_spell_to_grid(CLS_FireballSpell, 10);
  add_spell_to_grid(CLS_UsePortalSpell, 1);
}

void add_all_spells() {
  for (SpellInfo* s = spell_info; s->class_id; s++)
    if (!find_slot(s->class_id)) add_spell_to_grid(s->class_id, 1);
}

void init_spell_grid() {
  spell_grid.clear();
  add_initial_spells();
}

bool player_has_spell(const char* spell_class_name) {
  SpellInfo* info = get_spell_info(spell_class_name);
  SpellSlot* s = info ? find_slot(info->class_id) : nullptr;
  return s && s->count > 0;
}

bool player_has_spell_selected(const char* spell_class_name) {
  SpellInfo* info = get_spell_info(spell_class_name);
  return info && local_player &&
         (local_player->selected_spell[0] == info->class_id || local_player->selected_spell[1] == info->class_id);
}

void save_spells() {
  HSQUIRRELVM v = universe.vm;
  if (!v) return;
  SQInteger top = sq_gettop(v);
  universe.push(v);
  sq_newarray(v, 0);
  for (const SpellSlot& s : spell_grid) {
    sq_newtable(v);
    sq_pushstring(v, get_spell_info(s.class_id)->class_name, -1);
    sqbind::set_slot(v, "spell");
    sq_pushinteger(v, s.count);
    sqbind::set_slot(v, "count");
    sq_arrayappend(v, -2);
  }
  sqbind::set_slot(v, "spells");
  sq_settop(v, top);
}

void load_spells() {
  spell_grid.clear();
  HSQUIRRELVM v = universe.vm;
  if (!v || !sqbind::hasSlot(universe, "spells")) return;
  SQInteger top = sq_gettop(v);
  sqbind::getSlot(universe, "spells").push(v);
  int n = sq_gettype(v, -1) == OT_ARRAY ? (int)sq_getsize(v, -1) : 0;
  // Entries that do not name a spell with an integer count are left out.
  for (int i = 0; i < n; i++) {
    sq_pushinteger(v, i);
    if (SQ_FAILED(sq_rawget(v, -2))) break;
    const char* name = nullptr;
    SQInteger count = 0;
    if (sq_gettype(v, -1) == OT_TABLE) {
      sq_pushstring(v, "spell", -1);
      if (SQ_SUCCEEDED(sq_rawget(v, -2)) && SQ_FAILED(sq_getstring(v, -1, &name))) name = nullptr;
      sq_pushstring(v, "count", -1);
      if (SQ_SUCCEEDED(sq_rawget(v, -3)) && sq_gettype(v, -1) == OT_INTEGER) sq_getinteger(v, -1, &count);
    }
    SpellInfo* info = name ? get_spell_info(name) : nullptr;
    if (info) add_spell_to_grid(info->class_id, count);
    sq_settop(v, top + 1);
  }
  sq_settop(v, top);
}

}  // namespace gameobj
