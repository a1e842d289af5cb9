// The world script machine: its start with every binding, the generation
// functions and constants offered to scripts, the two generation
// sequences, the palette file and the reload of the generation scripts.
#include "world/worldGen.h"
#include <clocale>
#include <cmath>
#include <cstring>
#include <ctime>
#include "app/app.h"
#include "app/input.h"
#include "app/log.h"
#include "fx/sqRamps.h"
#include "game/game_mode.h"
#include "lib/check.h"
#include "lib/utils.h"
#include "objects/gameobj_ops.h"
#include "objects/player.h"
#include "objects/spells.h"
#include "persist/savedGame.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "render/font.h"
#include "sound/sound.h"
#include "world/erosion.h"
#include "world/heightmap.h"
#include "world/hmGen.h"
#include "world/noise.h"
#include "world/scriptGrids.h"

using namespace sqbind;
using namespace HeightmapData;

SqReloadableVM world_script;
WorldScriptFuncs world_script_funcs;
float world_sim_after_leave_time = 0.0f;
vec4f player_start_pos = v_make(0, 0, 0, 1);
vec4f world_sun_dir = v_make(0, 1, 0, 0);
TempString<64> world_sky_name;
SqObject universe;
SqObject worlds;
SqObject cur_game_info;

static PathString palette_path;  // the palette file loaded last
static int64_t palette_mtime = 0;

HSQUIRRELVM get_world_script_vm() { return world_script.vm; }

PathString world_gen_file(const char* name) {
  TempString<260> own;
  own.printf("gameModes/%s/gen/%s", game_mode_id.c_str(), name);
  PathString p = make_full_path(own);
  if (get_file_time(p) != 0) return p;
  TempString<260> shared;
  shared.printf("gen/%s", name);
  return make_full_path(shared);
}

// ---- the sound events the script sees as SE_ constants, by index

// The names of the 50 sound events in table order (the sound layer's own
// table takes this one's place when the sound script arrives).
static const char* const sound_event_names[NUM_SOUND_EVENTS] = {
    "use_portal",        "enter_world",      "portal_appears",    "portal_loop",       "trigger_activated",
    "player_hit",        "start_combat",     "end_combat",        "spell_appears",     "spell_loop",
    "spell_discharge",   "pick_up_spell",    "res_appears",       "res_loop",          "res_discharge",
    "pick_up_res",       "gatherer_summon",  "gatherer_death",    "generic_cast",      "generic_missile",
    "fireball_cast",     "fireball_missile", "fireball_hit",      "fireball_hit_water", "meteor_cast",
    "meteor_missile",    "meteor_hit",       "lightning_cast",    "thstorm_cast",      "thstorm_missile",
    "thstorm_lightning", "burn_loop",        "tree_regrows",      "land_moving",       "mana_idle",
    "claim_mana",        "wyvern_spawn",     "wyvern_idle",       "wyvern_attack",     "wyvern_hit",
    "caterpillar_spawn", "caterpillar_idle", "caterpillar_attack", "caterpillar_hit",  "bird_idle",
    "bird_hit",          "volcano_explosion", "volcano_eruption", "main_menu",         "universe_map",
};

// ---- checks before a generator, whose own checks stop the program

static void require(bool ok, const char* what, const char* fn) {
  if (ok) return;
  TempString<256> msg;
  msg.printf("%s: %s", fn, what);
  throw SquirrelError(msg.c_str());
}
static bool power_of_two(int t) { return t > 0 && (t & (t - 1)) == 0; }
static const ColorRamp* ramp_of(Nullable<SqColorRamp> r) { return r.p ? &r.p->ramp : nullptr; }
static const FloatRamp* ramp_of(Nullable<SqFloatRamp> r) { return r.p ? &r.p->ramp : nullptr; }

// ---- generation functions

static void sq_place_house(int x, int z, int type) { placeHouse(x, z, type, hmap, false); }

static void sq_add_fast_noise(float min_ht, float max_ht, Nullable<SqColorRamp> ramp, int ground, int alpha,
                              float persistence) {
  require(min_ht <= max_ht, "min_ht must not be above max_ht", "add_fast_noise()");
  require(min_ht >= 0, "min_ht must not be negative", "add_fast_noise()");
  addFastNoise(min_ht, max_ht, ramp_of(ramp), ground, alpha, persistence);
}

static void sq_add_simplex_noise(float min_ht, float max_ht, int tile, int octaves, float gain) {
  require(min_ht <= max_ht, "min_ht must not be above max_ht", "add_simplex_noise()");
  require(min_ht >= 0, "min_ht must not be negative", "add_simplex_noise()");
  require(power_of_two(tile), "tile must be a power of 2", "add_simplex_noise()");
  addSimplexNoise(min_ht, max_ht, tile, octaves, gain);
}

static void sq_gen_fault(float cx, float cz, float dir_x, float dir_z, float height, float level, float wobble,
                         Nullable<SqColorRamp> ramp, int ground) {
  genFault(Point2(cx, cz), Point2(dir_x, dir_z), height, level, wobble, ramp_of(ramp), ground, 255, hmap);
}

static void sq_gen_crater(float cx, float cz, float radius, float depth) {
  genCrater(Point2(cx, cz), radius, depth, hmap);
}

// Erosion parameters from a script table; the period operation calls the
// script's onPeriod.
struct SqErosionParams : ErosionParams {
  SqFunc<void> onPeriod;
  void runPeriod() override {
    if (onPeriod.isValid()) onPeriod();
  }
};

static void sq_gen_droplet_erosion(int count, SqObject params) {
  SqErosionParams p;
  if (!params.isNull()) {
    struct Key {
      const char* name;
      float* field;
    } keys[] = {{"Kq", &p.Kq},
                {"Kr", &p.Kr},
                {"Kd", &p.Kd},
                {"Kw", &p.Kw},
                {"Ki", &p.Ki},
                {"minSlope", &p.minSlope},
                {"g", &p.g},
                {"depositBlend", &p.depositBlend},
                {"reactionTime", &p.reactionTime}};
    for (const Key& k : keys)
      if (hasSlot(params, k.name)) *k.field = getSlotFloat(params, k.name);
    if (hasSlot(params, "periodStep")) p.periodStep = getSlotInt(params, "periodStep");
    if (hasSlot(params, "onPeriod")) p.onPeriod.setFunction(params.vm, SqObject::root(params.vm), getSlot(params, "onPeriod"));
    if (hasSlot(params, "reactions")) {
      HSQUIRRELVM v = params.vm;
      SqObject list = getSlot(params, "reactions");
      SQInteger top = sq_gettop(v);
      try {
        list.push(v);
        if (sq_gettype(v, -1) != OT_ARRAY) throw SquirrelError("sq_get*() failed (type error)");
        int n = (int)sq_getsize(v, -1);
        for (int i = 0; i < n; i++) {
          sq_pushinteger(v, i);
          if (SQ_FAILED(sq_get(v, -2))) throw SquirrelError(v);
          // [reactants, products, k]
          vec4f parts[2];
          for (int j = 0; j < 2; j++) {
            sq_pushinteger(v, j);
            if (SQ_FAILED(sq_get(v, -2))) throw SquirrelError(v);
            parts[j] = get_vector(v, -1);
            sq_poptop(v);
          }
          sq_pushinteger(v, 2);
          if (SQ_FAILED(sq_get(v, -2))) throw SquirrelError(v);
          float k = get_float(v, -1);
          sq_pop(v, 2);
          p.reactions.push_back(make_erosion_reaction(parts[0], parts[1], k));
        }
      } catch (...) {
        sq_settop(v, top);
        throw;
      }
      sq_settop(v, top);
    }
  }
  require(count >= 0, "count must not be negative", "gen_droplet_erosion()");
  genDropletErosion((unsigned)count, p);
}

static void sq_add_voronoi_hills(int tile, float min_h, float max_h, float radius) {
  require(power_of_two(tile), "tile must be a power of 2", "add_voronoi_hills()");
  addVoronoiHills(tile, min_h, max_h, radius);
}

static void sq_gen_voronoi_faults(int tile, float min_h, float max_h, float warp, int warp_scale, int octaves,
                                  float sharpness) {
  require(power_of_two(tile), "tile must be a power of 2", "gen_voronoi_faults()");
  genVoronoiFaults(tile, min_h, max_h, warp, warp_scale, octaves, sharpness);
}

static float sq_recenter_hmap() { return recenterHt(); }
static void sq_set_sun_dir(vec4f d) { world_sun_dir = d; }
static void sq_set_sky_name(const char* name) { world_sky_name.set(name, (int)strnlen(name, 63)); }

static void sq_flatten_circle(float cx, float cz, float r, float target, float strength, float power) {
  flatten_circle(cx, cz, r, target, strength, power, hmap);
}
static float sq_get_average_circle_height(float cx, float cz, float r) {
  return get_average_circle_height(cx, cz, r, hmap);
}
static void sq_mark_rect(int x0, int z0, int x1, int z1, int set, int clear) {
  mark_rect(x0, z0, x1, z1, (uint32_t)set, (uint32_t)clear);
}
static void sq_mark_circle(float cx, float cz, float r, int set, int clear) {
  mark_circle(cx, cz, r, (uint32_t)set, (uint32_t)clear);
}
static void sq_mark_water(float level, int set, int clear) { mark_water(level, (uint32_t)set, (uint32_t)clear); }
static bool sq_test_rect_mark(int x0, int z0, int x1, int z1, int mask, int value) {
  return test_rect_mark(x0, z0, x1, z1, (uint32_t)mask, (uint32_t)value);
}
static bool sq_test_circle_mark(float cx, float cz, float r, int mask, int value) {
  return test_circle_mark(cx, cz, r, (uint32_t)mask, (uint32_t)value);
}
static void sq_reseed_noise() { reseed_noise(); }
static float sq_noise1(float x) { return noise1(x); }
static float sq_fractal_noise1(float x, int octaves, Nullable<SqFloatRamp> ramp, float gain) {
  return fractal_noise1(x, octaves, ramp_of(ramp), gain);
}
static float sq_tiled_noise2(float x, float z, float period) { return tiled_noise2(x, z, period); }
static float sq_tiled_fractal_noise2(float x, float z, int period, int octaves, Nullable<SqFloatRamp> ramp,
                                     float gain) {
  return tiled_fractal_noise2(x, z, (float)period, octaves, ramp_of(ramp), gain);
}
static int sq_get_noise_hash1(int i) { return get_noise_hash1(i); }
static int sq_get_noise_hash2(int i, int j) { return get_noise_hash2(i, j); }
static void sq_set_player_pos(vec4f p) { player_start_pos = p; }

static int sq_play_sound_event(const char* name) {
  for (int i = 0; i < NUM_SOUND_EVENTS; i++)
    if (strcmp(sound_event_names[i], name) == 0) {
      unsigned ch = get_sound_event_channel(i);
      if (ch) play_sound(ch, true);
      return (int)ch;
    }
  return 0;
}

static const char* sq_get_spell_icon_name(const char* spell) {
  SpellInfo* s = get_spell_info(spell);
  return s ? s->icon_name : "";
}
static const char* sq_get_spell_title(const char* spell) {
  SpellInfo* s = get_spell_info(spell);
  return s ? s->title : "?";
}
static String sq_get_assigned_button_name(int button) { return String(get_button_key_name(button).c_str()); }
static void sq_show_splash(const char* text, float progress) { show_splash(text, progress); }
static void sq_debug_object_fn(SqObject o) { sq_debug_object(o.obj); }
static void sq_generate_new_world(const char* name) { generate_world(name); }

// ---- random and colour helpers

static int sq_hmrnd() { return hmrnd(); }
static float sq_hmfrnd() { return hmfrnd(); }
static float sq_hmsrnd() { return hmsrnd(); }
static int sq_irnd() { return irnd(); }
static float sq_frnd() { return frnd(); }
static float sq_srnd() { return srnd(); }
static float sq_rndf(float a, float b) { return rndf(a, b); }
static int sq_rndi(int a, int b) { return rndi(a, b); }
static void sq_set_rnd_seed(int seed) { set_rnd_seed(seed); }
static void sq_randomize_rnd_seed() { randomize_rnd_seed(); }
static float sq_wrap(float d) { return wrap_world_coord(d, 0.0f); }
static int sq_round(float x) { return nearest_int(x); }
static vec4f sq_hsv2rgba(float h, float s, float v, float a) { return hsv2rgba(h, s, v, a); }
static vec4f sq_lch2rgba(float L, float C, float h, float a) { return lch2rgba(L, C, h, a); }
static vec4f sq_lerpcolor(Color c0, Color c1, float t) {
  return v_add(c0.v, v_mul(v_sub(c1.v, c0.v), v_splat(t)));
}
static vec4f sq_mix3colors(Color c0, float w0, Color c1, float w1, Color c2, float w2) {
  return v_add(v_add(v_mul(c0.v, v_splat(w0)), v_mul(c1.v, v_splat(w1))), v_mul(c2.v, v_splat(w2)));
}
static vec4f sq_mix4colors(Color c0, float w0, Color c1, float w1, Color c2, float w2, Color c3, float w3) {
  return v_add(v_add(v_mul(c0.v, v_splat(w0)), v_mul(c1.v, v_splat(w1))),
               v_add(v_mul(c2.v, v_splat(w2)), v_mul(c3.v, v_splat(w3))));
}
static int sq_tocolor(D3dColor c) { return (int)c.u; }
static vec4f sq_make_dir_xz(float t) {
  float a = 6.2831855f * t;
  return v_make(cosf(a), 0.0f, sinf(a), 0.0f);
}
static vec4f sq_make_dir_2d(float t, vec4f a, vec4f b) {
  float ang = 6.2831855f * t;
  return v_add(v_mul(v_splat(cosf(ang)), a), v_mul(v_splat(sinf(ang)), b));
}

static void bind_generation(HSQUIRRELVM vm) {
  SqObject root = SqObject::root(vm);
  // random and colour helpers
  register_function(root, "hmrnd", sq_hmrnd);
  register_function(root, "hmfrnd", sq_hmfrnd);
  register_function(root, "hmsrnd", sq_hmsrnd);
  register_function(root, "irnd", sq_irnd);
  register_function(root, "frnd", sq_frnd);
  register_function(root, "srnd", sq_srnd);
  register_function(root, "rndf", sq_rndf);
  register_function(root, "rndi", sq_rndi);
  register_function(root, "set_rnd_seed", sq_set_rnd_seed);
  register_function(root, "randomize_rnd_seed", sq_randomize_rnd_seed);
  register_function(root, "wrap", sq_wrap);
  register_function(root, "round", sq_round);
  register_function(root, "hsv2rgba", sq_hsv2rgba);
  register_function(root, "lch2rgba", sq_lch2rgba);
  register_function(root, "lerpcolor", sq_lerpcolor);
  register_function(root, "mix3colors", sq_mix3colors);
  register_function(root, "mix4colors", sq_mix4colors);
  register_function(root, "tocolor", sq_tocolor);
  register_function(root, "make_dir_xz", sq_make_dir_xz);
  register_function(root, "make_dir_2d", sq_make_dir_2d);
  // generation
  register_function(root, "place_house", sq_place_house);
  register_function(root, "add_fast_noise", sq_add_fast_noise);
  register_function(root, "add_simplex_noise", sq_add_simplex_noise);
  register_function(root, "gen_fault", sq_gen_fault);
  register_function(root, "gen_crater", sq_gen_crater);
  register_function(root, "gen_droplet_erosion", sq_gen_droplet_erosion);
  register_function(root, "add_voronoi_hills", sq_add_voronoi_hills);
  register_function(root, "gen_voronoi_faults", sq_gen_voronoi_faults);
  register_function(root, "recenter_hmap", sq_recenter_hmap);
  register_function(root, "set_sun_dir", sq_set_sun_dir);
  register_function(root, "set_sky_name", sq_set_sky_name);
  register_function(root, "flatten_circle", sq_flatten_circle);
  register_function(root, "get_average_circle_height", sq_get_average_circle_height);
  register_function(root, "mark_rect", sq_mark_rect);
  register_function(root, "mark_circle", sq_mark_circle);
  register_function(root, "mark_water", sq_mark_water);
  register_function(root, "test_rect_mark", sq_test_rect_mark);
  register_function(root, "test_circle_mark", sq_test_circle_mark);
  register_function(root, "reseed_noise", sq_reseed_noise);
  register_function(root, "noise1", sq_noise1);
  register_function(root, "fractal_noise1", sq_fractal_noise1);
  register_function(root, "tiled_noise2", sq_tiled_noise2);
  register_function(root, "tiled_fractal_noise2", sq_tiled_fractal_noise2);
  register_function(root, "get_noise_hash1", sq_get_noise_hash1);
  register_function(root, "get_noise_hash2", sq_get_noise_hash2);
  register_function(root, "set_player_pos", sq_set_player_pos);
  register_function(root, "play_sound_event", sq_play_sound_event);
  register_function(root, "get_spell_icon_name", sq_get_spell_icon_name);
  register_function(root, "get_spell_title", sq_get_spell_title);
  register_function(root, "get_glob_res_amount", get_glob_res_amount);
  register_function(root, "get_assigned_button_name", sq_get_assigned_button_name);
  register_function(root, "show_splash", sq_show_splash);
  register_function(root, "debug_object", sq_debug_object_fn);
  register_function(root, "generate_new_world", sq_generate_new_world);
}

// The root table's delegate makes game_rnd_seed a script variable on the
// generator's state, so the logged line "game_rnd_seed=N;" set as a
// script's first statement starts the same random sequence again. Script
// integers have 32 bits; generation therefore starts from 32-bit states
// (see log_seed).
static SQInteger root_get(HSQUIRRELVM v) {
  const SQChar* key = nullptr;
  if (SQ_SUCCEEDED(sq_getstring(v, 2, &key)) && strcmp(key, "game_rnd_seed") == 0) {
    sq_pushinteger(v, (SQInteger)(uint32_t)game_rnd_seed);
    return 1;
  }
  sq_pushnull(v);  // a missing slot, as without the delegate
  return sq_throwobject(v);
}
static SQInteger root_set(HSQUIRRELVM v) {
  const SQChar* key = nullptr;
  SQInteger value = 0;
  if (SQ_SUCCEEDED(sq_getstring(v, 2, &key)) && strcmp(key, "game_rnd_seed") == 0) {
    if (sq_gettype(v, 3) != OT_INTEGER || SQ_FAILED(sq_getinteger(v, 3, &value)))
      return sq_throwerror(v, "game_rnd_seed must be an integer");
    game_rnd_seed = (uint32_t)value;
    return 0;
  }
  sq_pushnull(v);
  return sq_throwobject(v);
}

static void bind_seed_variable(HSQUIRRELVM vm) {
  sq_pushroottable(vm);
  sq_newtable(vm);
  SqObject delegate = SqObject::fromStack(vm, -1);
  register_raw(delegate, "_get", root_get);
  register_raw(delegate, "_set", root_set);
  sq_setdelegate(vm, -2);
  sq_poptop(vm);
}

static void bind_constants(HSQUIRRELVM vm, const char* mode) {
  static const struct {
    const char* name;
    int value;
  } ints[] = {
      {"HMAP_SIZE", HMAP_SIZE},   {"HMAP_SIZE_SHIFT", HMAP_SIZE_SHIFT}, {"GT_NONE", GT_NONE},
      {"GT_HOUSE", GT_HOUSE},     {"GT_ROCK", GT_ROCK},                 {"GT_SAND", GT_SAND},
      {"GT_SOIL", GT_SOIL},       {"ST_OPEN", ST_OPEN},                 {"ST_NONE", ST_NONE},
      {"ST_GRASS", ST_GRASS},     {"ST_ASH", ST_ASH},                   {"ST_SNOW", ST_SNOW},
      {"ST_ROAD", ST_ROAD},       {"MARK_OBJ", MARK_OBJ},               {"MARK_PLACE", MARK_PLACE},
      {"MARK_HOUSE", MARK_HOUSE}, {"MARK_WATER", MARK_WATER},           {"MARK_PLACEMENT", MARK_PLACEMENT},
      {"B_forward", B_forward},   {"B_back", B_back},                   {"B_left", B_left},
      {"B_right", B_right},       {"B_up", B_up},                       {"B_down", B_down},
      {"B_turbo", B_turbo},       {"B_lspell", B_lspell},               {"B_rspell", B_rspell},
      {"B_map", B_map},           {"B_spells", B_spells},
  };
  for (const auto& c : ints) set_root_int(vm, c.name, c.value);
  for (int i = 0; i < NUM_SOUND_EVENTS; i++) {
    TempString<64> n;
    n.printf("SE_%s", sound_event_names[i]);
    set_root_int(vm, n, i);
  }
  set_root_string(vm, "game_mode_id", mode);
}

// ---- palettes

void load_world_palettes(HSQUIRRELVM vm, const char* full_path) {
  FILE* f = fopen(full_path, "rb");
  TempString<512> msg;
  if (!f) {
    msg.printf("can't open %s", full_path);
    throw SquirrelError(msg.c_str());
  }
  // Fields are split at any run of separators; a line longer than the
  // buffer keeps its first 1,023 characters and the rest is skipped.
  char line[1024];
  auto read_line = [&]() -> bool {
    if (!fgets(line, sizeof(line), f)) return false;
    size_t n = strlen(line);
    if (n == sizeof(line) - 1 && line[n - 1] != '\n') {
      int c;
      while ((c = fgetc(f)) != EOF && c != '\n') {
      }
    }
    return true;
  };
  auto split = [](char* s, DynArray<char*>& fields) {
    fields.clear();
    for (char* tok = strtok(s, ",;\r\n"); tok; tok = strtok(nullptr, ",;\r\n")) fields.push_back(tok);
  };
  if (!read_line()) {
    fclose(f);
    msg.printf("error reading %s", full_path);
    throw SquirrelError(msg.c_str());
  }
  DynArray<char*> fields;
  split(line, fields);
  DynArray<TempString<260>> columns;
  for (char* c : fields) columns.push_back(TempString<260>(c, (int)strnlen(c, 259)));

  SQInteger top = sq_gettop(vm);
  sq_pushroottable(vm);
  sq_pushstring(vm, "world_palettes", -1);
  sq_newtable(vm);
  while (read_line()) {
    if (line[0] == '#') continue;
    split(line, fields);
    if (fields.empty() || line[0] == ',' || line[0] == ';' || line[0] == '\r' || line[0] == '\n') continue;
    sq_pushstring(vm, fields[0], -1);
    sq_newtable(vm);
    int n = fields.count() < columns.count() ? fields.count() : columns.count();
    for (int i = 0; i < n; i++) {
      const char* field = fields[i];
      if (i == 0) {
        sq_pushstring(vm, field, -1);
      } else {
        if (field[0] < '0' || field[0] > '9') continue;  // not a number: the column stays unset
        sq_pushinteger(vm, (SQInteger)(uint32_t)strtoul(field, nullptr, 0));
      }
      set_slot(vm, columns[i]);
    }
    sq_newslot(vm, -3, SQFalse);
  }
  fclose(f);
  sq_newslot(vm, -3, SQFalse);
  sq_settop(vm, top);
  palette_path = full_path;
  palette_mtime = get_file_time(full_path);
}

// ---- the universe

void fetch_universe_data() {
  if (!universe.isNull() && hasSlot(universe, "worlds")) worlds = getSlot(universe, "worlds");
  if (world_script.vm) set_root_object(world_script.vm, "universe", universe);
}

void release_universe_data() {
  if (HSQUIRRELVM v = world_script.vm) {
    set_root_object(v, "universe", SqObject());
    set_root_object(v, "cur_world", SqObject());
  }
  worlds.release();
  universe.release();
  cur_game_info.release();
}

// ---- the machine

static void cache_script_funcs() {
  HSQUIRRELVM v = world_script.vm;
  SqObject root = SqObject::root(v);
  WorldScriptFuncs& f = world_script_funcs;
  f.generate_world.set(v, root, "generate_world");
  f.generate_universe.set(v, root, "generate_universe");
  f.get_world_tooltip.set(v, root, "get_world_tooltip");
  f.get_world_ctx_menu.set(v, root, "get_world_ctx_menu");
  f.process_event.set(v, root, "process_event");
  f.update_script.set(v, root, "update_script");
  f.activate_current_world.set(v, root, "activate_current_world");
  f.set_pal_color.set(v, root, "set_pal_color");
  f.get_cur_pal_color.set(v, root, "get_cur_pal_color");
  f.get_savegame_globals.set(v, root, "get_savegame_globals");
}

static void release_script_funcs() { world_script_funcs = WorldScriptFuncs(); }

// game_mode_info: the flags of the mode, defaults where a slot is missing.
static void read_game_mode_info() {
  SqObject root = SqObject::root(world_script.vm);
  game_mode_has_universe = false;
  game_mode_has_saves = true;
  world_sim_after_leave_time = 0.0f;
  if (!hasSlot(root, "game_mode_info")) return;
  SqObject info = getSlot(root, "game_mode_info");
  if (hasSlot(info, "hasUniverse")) game_mode_has_universe = getSlotBool(info, "hasUniverse");
  if (hasSlot(info, "noSavedGame")) game_mode_has_saves = !getSlotBool(info, "noSavedGame");
  if (hasSlot(info, "worldSimAfterLeaveTime"))
    world_sim_after_leave_time = getSlotFloat(info, "worldSimAfterLeaveTime");
}

void init_world_script(const char* mode) {
  debug("--- switching to gameplay mode <%s>", mode);
  close_world_script();
  // Mode names make file paths; one that cannot is refused (from -start, say).
  if (strlen(mode) > 100) throw SquirrelError("the gameplay mode's name is too long");
  if (!world_script.init(1024)) fatal("error creating world gen script VM");
  HSQUIRRELVM vm = world_script.vm;
  game_mode_id = mode;
  bind_ramps(vm);
  bind_hmap_mask(vm);
  bind_int_map(vm);
  bind_bit_map(vm);
  bind_universe(vm);
  if (bind_gameobj) bind_gameobj(vm);
  bind_vec4f(vm);
  bind_generation(vm);
  bind_constants(vm, mode);
  bind_seed_variable(vm);
  if (!world_script.include(world_gen_file("main.nut"))) throw SquirrelError(vm);
  cache_script_funcs();
  load_world_palettes(vm, world_gen_file("palettes.csv"));
  read_game_mode_info();
}

void close_world_script() {
  if (set_spells_ui_actions) set_spells_ui_actions(SqObject());
  if (remove_all_gameobj) remove_all_gameobj();
  // LATER(effects): reset the common effects.
  release_universe_data();
  release_script_funcs();
  world_script.close();
  game_mode_id = "";
  game_mode_has_universe = false;
  game_mode_has_saves = false;
  world_sim_after_leave_time = 0.0f;
  palette_path = "";
  palette_mtime = 0;
}

// ---- generation

// Each generation starts from the low 32 bits of the state, which a script
// integer holds exactly, and logs it as a line of script.
static void log_seed() {
  game_rnd_seed = (uint32_t)game_rnd_seed;
  debug("game_rnd_seed=%llu;", (unsigned long long)game_rnd_seed);
}

static void show_world_gen_error(const char* format, const SquirrelError& e) {
  String text = script_error_text(e, world_script.vm);
  TempString<4096> msg;
  msg.printf(format, text.c_str());
  set_error_message(msg);
}

void generate_world(const char* name) {
  // LATER(renderer): grab the current scene image for the splash background.
  show_splash("Generating new world...", -1);
  int64_t start = get_ref_time();
  if (remove_all_gameobj) remove_all_gameobj();
  // LATER(effects, sound): reset the common effects; stop all sounds.
  stopSounds();
  reset();
  player_start_pos = v_make(0, 0, 0, 1);
  log_seed();
  try {
    if (!world_script_funcs.generate_world.isValid())
      throw SquirrelError("No 'generate_world' function in script");
    world_script_funcs.generate_world(name);
    sq_collectgarbage(world_script.vm);
  } catch (const SquirrelError& e) {
    show_world_gen_error("Error in world gen script:\n%s", e);
  }
  memcpy(target_hmap, hmap, HMAP_CELLS * sizeof(float));
  memcpy(tmpw, water, HMAP_CELLS * sizeof(Water));
  // LATER(terrain renderer): refresh all terrain render data.
  world_time = 0;
  if (!local_player && create_player) {
    local_player = create_player(player_start_pos);
    if (local_player) local_player->initPlayer();
  }
  // LATER(sound): stop all sounds again.
  if (!universe.isNull()) fetch_universe_data();
  reset_update_time();
  debug("generated world in %d ms", get_time_msec(get_ref_time() - start));
}

void generate_universe() {
  // LATER(renderer): grab the current scene image for the splash background.
  show_splash("Generating new universe...", -1);
  int64_t start = get_ref_time();
  // LATER(sound): stop all sounds.
  release_universe_data();
  log_seed();
  try {
    if (!world_script_funcs.generate_universe.isValid())
      throw SquirrelError("No 'generate_universe' function in script");
    universe = world_script_funcs.generate_universe();

    // The saved game's description: "<title>, started <date> in v0.27 DEMO",
    // the title cut so that the text keeps within 259 characters.
    String title;
    SqObject root = SqObject::root(world_script.vm);
    if (hasSlot(root, "game_mode_info")) {
      SqObject info = getSlot(root, "game_mode_info");
      if (hasSlot(info, "title")) title = getSlotString(info, "title");
    }
    char date[64];
    time_t t = time(nullptr);
    const char* old_locale = setlocale(LC_TIME, nullptr);
    TempString<64> saved(old_locale ? old_locale : "C");
    setlocale(LC_TIME, "C");
    strftime(date, sizeof(date), "%x %X", localtime(&t));
    setlocale(LC_TIME, saved);
    int room = 259 - (int)strlen(", started ") - (int)strlen(date) - (int)strlen(" in " APP_VERSION_TEXT);
    TempString<260> text;
    text.printf("%.*s, started %s in " APP_VERSION_TEXT, room, title.c_str(), date);
    sq_newtable(scratch_vm);
    sq_pushstring(scratch_vm, text, -1);
    set_slot(scratch_vm, "name");
    sq_pushstring(scratch_vm, game_mode_id.c_str(), -1);
    set_slot(scratch_vm, "mode");
    cur_game_info = SqObject::fromStack(scratch_vm, -1);
    sq_poptop(scratch_vm);

    fetch_universe_data();
    if (init_spell_grid) init_spell_grid();
    sq_collectgarbage(world_script.vm);
  } catch (const SquirrelError& e) {
    show_world_gen_error("Error in universe gen script:\n%s", e);
  }
  debug("generated universe in %d ms", get_time_msec(get_ref_time() - start));
}

void reload_world_script_if_changed() {
  if (!world_script.vm) return;
  bool sources = world_script.needsReload();
  bool palettes = !palette_path.empty() && get_file_time(palette_path) != palette_mtime;
  if (!sources && !palettes) return;
  set_error_message(nullptr);
  try {
    if (sources) {
      if (!world_script.reload(true)) throw SquirrelError(world_script.vm);
      cache_script_funcs();
    }
    if (palettes) load_world_palettes(world_script.vm, palette_path);
  } catch (const SquirrelError& e) {
    // The world stays as it was until the scripts load again.
    show_world_gen_error("Error in world gen script:\n%s", e);
    return;
  }
  if (cur_game_mode == universe_mode) {
    generate_universe();
    if (open_universe_gui) open_universe_gui();
  } else {
    generate_world("game");
  }
}
