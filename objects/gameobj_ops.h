// Operations bound by name from the game-object module. Each is a global
// function pointer named as the module's export; null until the module is
// bound (objects/gameobj_host.h) and again after it is unloaded.
//
// QV_GAMEOBJ_OPS lists all of them in the order the binding fetches them:
// X(result type, name, parameter list). The module builds its export table
// from the same list, so the two sides cannot disagree on a signature.
#pragma once
#include "lib/vecmath.h"
#include "squirrel/squirrel.h"

class BaseObject;
class Player;
class InputStream;
class OutputStream;
class BaseGuiScreen;
class BaseGuiElement;
struct GameMode;
namespace sqbind {
class SqObject;
}
namespace HeightmapData {
struct Surface;
}

// Called by for_each_game_object once per live object.
typedef void (*GameObjVisitor)(BaseObject* obj, void* ctx);

#define QV_GAMEOBJ_OPS(X)                                                                  \
  /* world queries */                                                                     \
  X(Player*, get_local_player, ())                                                        \
  X(float, get_land_height, (float x, float z))                                           \
  X(float, get_land_height_at, (vec4f pos))                                               \
  X(vec4f, get_land_pos_at, (vec4f pos))                                                  \
  X(float, get_land_change, (float x, float z))                                           \
  X(float, get_land_change_at, (vec4f pos))                                               \
  X(float, get_water, (float x, float z))                                                 \
  X(float, get_water_at, (vec4f pos))                                                     \
  X(vec4f, calc_land_norm, (float x, float z))                                            \
  X(vec4f, calc_land_norm_at, (vec4f pos))                                                \
  X(int, get_world_time, ())                                                              \
  X(int, count_alive_monsters, ())                                                        \
  X(void, for_each_game_object, (GameObjVisitor fn, void* ctx))                           \
  /* the world step and drawing, life of the module */                                    \
  X(void, update_gameobj, (float dt))                                                     \
  X(void, render_gameobj, (float t))                                                      \
  X(void, render_debug_vis_gameobj, (float t))                                            \
  X(void, remove_all_gameobj, ())                                                         \
  X(void, init_gameobj, ())                                                               \
  X(void, close_gameobj, ())                                                              \
  X(void, set_showoff_mode, (bool on))                                                    \
  X(void, on_devmode_click, (vec4f cam_pos, vec4f view_dir))                              \
  X(void, set_world_icon_params, (vec4f params))                                          \
  X(void, open_universe_gui, ())                                                          \
  /* menus */                                                                             \
  X(void, open_game_menu, (GameMode * menu_mode))                                         \
  X(void, open_main_menu, ())                                                             \
  X(void, open_cheat_menu, ())                                                            \
  X(void, close_game_menu, ())                                                            \
  X(void, safely_close_game_menu, ())                                                     \
  X(void, update_game_menu, (float dt))                                                   \
  X(void, draw_game_menu, (float t))                                                      \
  X(void, reset_game_ui_screen, ())                                                       \
  X(void, set_game_ui_screen, (BaseGuiScreen * screen))                                   \
  X(void, start_new_game, (int slot))                                                     \
  /* spells interface and crafting */                                                     \
  X(void, init_spells_ui, ())                                                             \
  X(void, close_spells_ui, ())                                                            \
  X(void, spells_ui_after_resize, ())                                                     \
  X(void, set_spells_ui_actions, (const sqbind::SqObject& actions))                       \
  X(void, show_screen_message, (const char* text))                                        \
  X(void, show_screen_sub_message, (const char* text))                                    \
  X(void, draw_spells_ui, (float t))                                                      \
  X(void, update_spells_ui, (float dt))                                                   \
  X(bool, update_spells_ui_mouse, (float t))                                              \
  X(void, start_spell_pick_up_anim, (int spell_class_id, vec4f pos))                      \
  X(void, start_res_pick_up_anim, (int res_id, vec4f pos))                                \
  X(void, reset_crafting_ui, ())                                                          \
  X(void, show_crafting_ui, (const char* title))                                          \
  X(void, add_crafting_cost, (int res_id, int amount))                                    \
  X(void, hide_crafting_ui, ())                                                           \
  /* world map, widgets, tooltips */                                                      \
  X(void, render_dev_world_map, (float t))                                                \
  X(void, render_world_map, (float t))                                                    \
  X(void, init_map_ui, ())                                                                \
  X(void, init_new_gui, ())                                                               \
  X(void, set_radio, (BaseGuiElement * group, int value))                                 \
  X(int, get_radio, (BaseGuiElement * group))                                             \
  X(void, set_slider, (BaseGuiElement * slider, double value))                            \
  X(void, place_popup, (BaseGuiElement * popup, float x, float y))                        \
  X(void, show_tooltip, (BaseGuiElement * tooltip, Point2 pos))                           \
  X(void, hide_tooltip, ())                                                               \
  X(void, update_tooltip, (float dt))                                                     \
  X(void, render_tooltip, (float t))                                                      \
  X(void, init_tooltip, ())                                                               \
  /* effects */                                                                           \
  X(void, init_fx_data, ())                                                               \
  X(void, gatherer_death_fx, (vec4f pos))                                                 \
  X(void, gatherer_summon_fx, (vec4f pos))                                                \
  X(void, spawn_volcano_smoke_fx, (vec4f pos, float amount))                              \
  X(void, lightning_hit_fx, (vec4f pos))                                                  \
  X(void, spawn_resobj_fx, (vec4f pos, int res_id))                                       \
  X(void, spawn_spellobj_fx, (vec4f pos, int spell_class_id))                             \
  X(void, wyvern_death_fx, (vec4f pos))                                                   \
  X(void, spawn_meteor_fx, (vec4f pos, vec4f vel))                                        \
  X(void, meteor_explode_fx, (vec4f pos))                                                 \
  X(void, spawn_water_sink_fx, (vec4f pos))                                               \
  X(void, spawn_water_source_fx, (vec4f pos))                                             \
  X(void, spawn_water_vapor_fx, (int x, int z, float height, float amount))               \
  X(void, spawn_magic_missile_fx, (vec4f from, vec4f to))                                 \
  X(void, spawn_waterball_missile_fx, (vec4f pos, vec4f vel))                             \
  X(void, spawn_fireball_fx, (vec4f pos, vec4f vel))                                      \
  X(void, fireball_explode_fx, (vec4f pos))                                               \
  X(void, warp_to_universe, ())                                                           \
  /* mana and instanced drawing */                                                        \
  X(float, get_owned_mana, ())                                                            \
  X(void, recalc_mana_ownership, ())                                                      \
  X(void, init_inst_render, ())                                                           \
  X(void, close_inst_render, ())                                                          \
  X(void, do_inst_render, (float t))                                                      \
  X(void, render_building, (const HeightmapData::Surface& cell, int x, int lod))          \
  X(void, render_gameobj_shadow_map, (float t))                                           \
  /* monsters and spells */                                                               \
  X(void, toggle_monster_spawn, ())                                                       \
  X(void, remove_all_monsters, ())                                                        \
  X(BaseObject*, pick_lightning_target, (vec4f pos, float radius))                        \
  X(void, cast_lightning, (vec4f from, vec4f to))                                         \
  X(void, apply_fireball, (vec4f pos, float radius))                                      \
  X(void, add_water_globe, (vec4f pos, float amount))                                     \
  X(void, create_hill, (vec4f pos, float radius, float height))                           \
  X(void, init_spell_grid, ())                                                            \
  X(void, add_spell_to_grid, (int spell_class_id, int count))                             \
  X(void, pick_up_spell, (int spell_class_id))                                            \
  X(bool, player_has_spell, (const char* spell_class_name))                               \
  X(bool, player_has_spell_selected, (const char* spell_class_name))                      \
  X(void, add_initial_spells, ())                                                         \
  X(void, add_all_spells, ())                                                             \
  X(void, save_spells, ())                                                                \
  X(void, load_spells, ())                                                                \
  X(void, carve_crack, (vec4f from, vec4f to, float depth))                               \
  X(void, volcano_cone, (vec4f pos, float radius, float height))                          \
  X(void, add_source_lava, (vec4f pos, float amount))                                     \
  X(void, add_magic_volcano, (vec4f pos))                                                 \
  X(void, add_source_water, (vec4f pos, float amount))                                    \
  X(void, add_water_source, (vec4f pos))                                                  \
  X(void, simulate_water, (float dt))                                                     \
  X(void, toggle_mana_cheat, ())                                                          \
  /* objects */                                                                           \
  X(Player*, create_player, (vec4f pos))                                                  \
  X(void, delete_gameobj, ())                                                             \
  X(void, save_gameobjs, (OutputStream & s))                                              \
  X(void, load_gameobjs, (InputStream & s))                                               \
  X(BaseObject*, get_gameobj_by_ser_id, (int ser_id))                                     \
  X(BaseObject*, new_gameobj_by_id, (int class_id))                                       \
  X(int, gameobj_id_by_name, (const char* class_name))                                    \
  X(void, bind_gameobj, (HSQUIRRELVM vm))

#define QV_DECLARE_GAMEOBJ_OP(ret, name, params) extern ret(*name) params;
QV_GAMEOBJ_OPS(QV_DECLARE_GAMEOBJ_OP)
#undef QV_DECLARE_GAMEOBJ_OP

enum { NUM_GAMEOBJ_OPS = 118 };
