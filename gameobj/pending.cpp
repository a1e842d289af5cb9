// PLACEHOLDERS: operations whose work needs subsystems that are not built yet
// (drawing and instanced meshes, the GUI runtime and the menu screens, the
// spells interface, effects, sound, the universe, the script binding layer).
// The module must export every bound operation, so each exists here with an
// empty body and a neutral result; the gameplay of the module replaces them
// one by one, moving each into the file of its subsystem.
#include "module.h"
#include "lib/check.h"

namespace gameobj {

// Drawing (render device, meshes, instanced rendering).
void render_gameobj(float t) {}
void render_debug_vis_gameobj(float t) {}
void render_gameobj_shadow_map(float t) {}
void init_inst_render() { debug("gameobj: init_inst_render (no object meshes yet)"); }
void close_inst_render() {}
void do_inst_render(float t) {}
void render_building(const HeightmapData::Surface& cell, int x, int lod) {}
void render_dev_world_map(float t) {}
void render_world_map(float t) {}
void set_world_icon_params(vec4f params) {}

// Menus and screens (GUI runtime).
void link_gui() {}
void init_new_gui() { debug("gameobj: init_new_gui (no menu screens yet)"); }
void open_game_menu(GameMode* menu_mode) {}
void open_main_menu() { debug("gameobj: open_main_menu (no menu screens yet)"); }
void open_cheat_menu() {}
void close_game_menu() {}
void safely_close_game_menu() {}
void draw_game_menu(float t) {}
void reset_game_ui_screen() {}
void set_game_ui_screen(BaseGuiScreen* screen) {}
void init_map_ui() {}
void set_radio(BaseGuiElement* group, int value) {}
int get_radio(BaseGuiElement* group) { return 0; }
void set_slider(BaseGuiElement* slider, double value) {}
void place_popup(BaseGuiElement* popup, float x, float y) {}
void show_tooltip(BaseGuiElement* tooltip, Point2 pos) {}
void hide_tooltip() {}
void update_tooltip(float dt) {}
void render_tooltip(float t) {}
void init_tooltip() {}

// Spells interface and crafting.
void init_spells_ui() { debug("gameobj: init_spells_ui (no spells interface yet)"); }
void close_spells_ui() {}
void spells_ui_after_resize() {}
void set_spells_ui_actions(const sqbind::SqObject& actions) {}
void show_screen_message(const char* text) {}
void show_screen_sub_message(const char* text) {}
void draw_spells_ui(float t) {}
void update_spells_ui(float dt) {}
bool update_spells_ui_mouse(float t) { return false; }
void start_spell_pick_up_anim(int spell_class_id, vec4f pos) {}
void start_res_pick_up_anim(int res_id, vec4f pos) {}
void reset_crafting_ui() {}
void show_crafting_ui(const char* title) {}
void add_crafting_cost(int res_id, int amount) {}
void hide_crafting_ui() {}

// Effects (particles, trails, lightning).
void init_fx_data() {}
void gatherer_death_fx(vec4f pos) {}
void gatherer_summon_fx(vec4f pos) {}
void spawn_volcano_smoke_fx(vec4f pos, float amount) {}
void lightning_hit_fx(vec4f pos) {}
void spawn_resobj_fx(vec4f pos, int res_id) {}
void spawn_spellobj_fx(vec4f pos, int spell_class_id) {}
void wyvern_death_fx(vec4f pos) {}
void spawn_meteor_fx(vec4f pos, vec4f vel) {}
void meteor_explode_fx(vec4f pos) {}
void spawn_water_sink_fx(vec4f pos) {}
void spawn_water_source_fx(vec4f pos) {}
void spawn_water_vapor_fx(int x, int z, float height, float amount) {}
void spawn_magic_missile_fx(vec4f from, vec4f to) {}
void spawn_waterball_missile_fx(vec4f pos, vec4f vel) {}
void spawn_fireball_fx(vec4f pos, vec4f vel) {}
void fireball_explode_fx(vec4f pos) {}

// Mana, monsters and spells (gameplay).
float get_owned_mana() { return 0; }
void recalc_mana_ownership() {}
void toggle_monster_spawn() {}
void toggle_mana_cheat() {}
void remove_all_monsters() {}
BaseObject* pick_lightning_target(vec4f pos, float radius) { return nullptr; }
void cast_lightning(vec4f from, vec4f to) {}
void apply_fireball(vec4f pos, float radius) {}
void add_water_globe(vec4f pos, float amount) {}
void create_hill(vec4f pos, float radius, float height) {}
void carve_crack(vec4f from, vec4f to, float depth) {}
void volcano_cone(vec4f pos, float radius, float height) {}
void add_source_lava(vec4f pos, float amount) {}
void add_magic_volcano(vec4f pos) {}
void add_source_water(vec4f pos, float amount) {}
void add_water_source(vec4f pos) {}
void simulate_water(float dt) {}
void on_devmode_click(vec4f cam_pos, vec4f view_dir) {}

// Script classes of the objects (script binding layer).
void bind_gameobj(HSQUIRRELVM vm) {}

}  // namespace gameobj
