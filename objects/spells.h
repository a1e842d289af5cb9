// The spell table and the global resource table, read by the module and the
// world scripts.
#pragma once

struct SpellInfo {
  int class_id;  // the module's class id of the spell (79 for UsePortalSpell)
  const char* class_name;
  const char* title;
  const char* icon_name;
  int order;    // ordering value; the module gives it its meaning
  int icon_id;  // -1 until init_spell_icons looked the icon up in the UI atlas
};

// 16 spells, then a record with class id 0.
extern SpellInfo spell_info[];
enum { NUM_SPELLS = 16 };

// The record of a class id, or null (0 gives null).
SpellInfo* get_spell_info(int class_id);
// The record of an exact, case-sensitive class name, or null.
SpellInfo* get_spell_info(const char* class_name);

struct GlobResInfo {
  const char* name;
  const char* title;
  const char* icon_name;
  int icon_id;  // -1 until init_spell_icons
};

enum { NUM_GLOB_RES = 5 };
extern GlobResInfo glob_res_info[NUM_GLOB_RES];

// Index 0-4 of a resource name, -1 for null or a name not in the table.
int get_glob_res_id(const char* name);

// Amounts of the global resources, kept in the universe's table "resources"
// (slot per resource name). The amount of a resource: 0 without a universe
// or when the table or the slot is missing or not a number.
int get_glob_res_amount(const char* name);
// Adds amount to the resource's slot, made with 0 when missing. False
// without a universe or when the table is missing or cannot take the slot.
bool add_glob_res_amount(const char* name, int amount);
