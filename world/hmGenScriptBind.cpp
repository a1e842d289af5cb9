// The script side of the grid classes: vec4f with its helpers, HmapMask,
// IntMap and BitMap with theirs, and the functions that apply a layer to
// the world or repaint its ground from a script function.
#include <cmath>
#include "fx/sqRamps.h"
#include "lib/check.h"
#include "script/sqbind.h"
#include "world/scriptGrids.h"

using namespace sqbind;
using namespace HeightmapData;

template struct sqbind::ClassTag<HmapMask>;
template struct sqbind::ClassTag<IntMap>;
template struct sqbind::ClassTag<BitMap>;

namespace {

// Small arrays returned to scripts.
struct FloatList {
  int n;
  float v[4];
};
struct IntList {
  int n;
  int v[4];
};

// Pushed as script arrays (found by argument-dependent lookup).
void push_value(HSQUIRRELVM v, const FloatList& a) {
  sq_newarray(v, 0);
  for (int i = 0; i < a.n; i++) {
    sq_pushfloat(v, a.v[i]);
    sq_arrayappend(v, -2);
  }
}
void push_value(HSQUIRRELVM v, const IntList& a) {
  sq_newarray(v, 0);
  for (int i = 0; i < a.n; i++) {
    sq_pushinteger(v, a.v[i]);
    sq_arrayappend(v, -2);
  }
}

}  // namespace

static inline float lane(vec4f a, int i) {
  alignas(16) float f[4];
  _mm_store_ps(f, a);
  return f[i];
}

// Number of arguments after `this`.
static int arg_count(HSQUIRRELVM v) { return (int)sq_gettop(v) - 1; }

// A script callback with the root table as `this`.
template <class R>
static SqFunc<R> callback(HSQUIRRELVM v, const SqObject& f) {
  SqFunc<R> fn;
  fn.setFunction(v, SqObject::root(v), f);
  return fn;
}

// ---- vec4f

static void make_vec4f(HSQUIRRELVM v) {
  vec4f r = v_zero();
  int n = arg_count(v);
  if (n >= 4)
    r = v_make(get_float(v, 2), get_float(v, 3), get_float(v, 4), get_float(v, 5));
  else if (n >= 1)
    r = get_vector(v, 2);
  SqVec4f* p = new_native<SqVec4f>();
  p->v = r;
  init_instance(p, v, &release_native<SqVec4f>);
}

static int checked_lane(int i) {
  if (i < 0 || i > 3) throw SquirrelError("vec4f index out of range");
  return i;
}
// `v[i]`. Any key that is not an integer is no member (the error thrown is
// null), so the default members such as tostring stay reachable.
static SQInteger vec_get(HSQUIRRELVM v) {
  if (sq_gettype(v, 2) != OT_INTEGER) {
    sq_pushnull(v);
    return sq_throwobject(v);
  }
  try {
    SqVec4f* s = (SqVec4f*)get_instance(v, 1, class_tag<SqVec4f>());
    sq_pushfloat(v, lane(s->v, checked_lane(get_int(v, 2))));
    return 1;
  } catch (const SquirrelError& e) {
    return throw_to_script(v, e);
  }
}
static void vec_set(SqVec4f* s, int i, float x) {
  alignas(16) float f[4];
  _mm_store_ps(f, s->v);
  f[checked_lane(i)] = x;
  s->v = _mm_load_ps(f);
}
static vec4f vec_add(SqVec4f* s, vec4f o) { return v_add(s->v, o); }
static vec4f vec_sub(SqVec4f* s, vec4f o) { return v_sub(s->v, o); }
static vec4f vec_mul(SqVec4f* s, vec4f o) { return v_mul(s->v, o); }
static vec4f vec_div(SqVec4f* s, vec4f o) { return v_div(s->v, o); }
static vec4f vec_unm(SqVec4f* s) { return v_sub(v_zero(), s->v); }
static int vec_cmp(SqVec4f* s, vec4f o) {
  int eq = _mm_movemask_ps(_mm_cmpeq_ps(s->v, o)), gt = _mm_movemask_ps(_mm_cmpgt_ps(s->v, o));
  if (eq == 15) return 0;
  return gt == 15 ? 1 : -1;
}
static String vec_tostring(SqVec4f* s) {
  TempString<160> t;
  t.printf("vec4f(%g, %g, %g, %g)", lane(s->v, 0), lane(s->v, 1), lane(s->v, 2), lane(s->v, 3));
  return String(t.c_str());
}

static SQInteger make4f(HSQUIRRELVM v) {
  try {
    if (arg_count(v) >= 4)
      push_value(v, v_make(get_float(v, 2), get_float(v, 3), get_float(v, 4), get_float(v, 5)));
    else
      push_value(v, get_vector(v, 2));
    return 1;
  } catch (const SquirrelError& e) {
    return throw_to_script(v, e);
  }
}
static float getx(vec4f a) { return v_x(a); }
static float gety(vec4f a) { return v_y(a); }
static float getz(vec4f a) { return v_z(a); }
static float dot3(vec4f a, vec4f b) { return v_dot3(a, b); }
static float len3Sq(vec4f a) { return v_dot3(a, a); }
static float len3(vec4f a) { return sqrtf(v_dot3(a, a)); }
static vec4f norm3(vec4f a) {
  float l = sqrtf(v_dot3(a, a));
  return l > 0.0f ? v_div(a, v_splat(l)) : a;
}
static vec4f norm3a(vec4f a) {
  float l2 = v_dot3(a, a);
  return l2 > 0.0f ? v_mul(a, _mm_rsqrt_ps(v_splat(l2))) : a;
}
static vec4f cross(vec4f a, vec4f b) {
  return v_make(v_y(a) * v_z(b) - v_z(a) * v_y(b), v_z(a) * v_x(b) - v_x(a) * v_z(b),
                v_x(a) * v_y(b) - v_y(a) * v_x(b), 0.0f);
}

void bind_vec4f(HSQUIRRELVM vm) {
  SqObject cls = create_class(vm, "vec4f", nullptr, class_tag<SqVec4f>());
  register_constructor<SqVec4f>(cls, make_vec4f);
  register_raw(cls, "_get", vec_get);
  register_this_function(cls, "_set", vec_set);
  register_this_function(cls, "_add", vec_add);
  register_this_function(cls, "_sub", vec_sub);
  register_this_function(cls, "_mul", vec_mul);
  register_this_function(cls, "_div", vec_div);
  register_this_function(cls, "_unm", vec_unm);
  register_this_function(cls, "_cmp", vec_cmp);
  register_this_function(cls, "_tostring", vec_tostring);
  SqObject root = SqObject::root(vm);
  register_raw(root, "make4f", make4f);
  register_function(root, "getx", getx);
  register_function(root, "gety", gety);
  register_function(root, "getz", getz);
  register_function(root, "dot3", dot3);
  register_function(root, "len3Sq", len3Sq);
  register_function(root, "len3", len3);
  register_function(root, "norm3", norm3);
  register_function(root, "norm3a", norm3a);
  register_function(root, "cross", cross);
}

// ---- HmapMask

static bool is_power_of_two(int t) { return t > 0 && (t & (t - 1)) == 0; }

static void make_hmap_mask(HSQUIRRELVM v) {
  HmapMask* m = new_native<HmapMask>();
  try {
    SQObjectType t = sq_gettype(v, 2);
    if (t == OT_INTEGER || t == OT_FLOAT) {
      float x = get_float(v, 2);
      for (float& c : m->v) c = x;
    } else {
      SqFunc<float> init = callback<float>(v, get_object(v, 2));
      for (int z = 0; z < HMAP_SIZE; z++)
        for (int x = 0; x < HMAP_SIZE; x++) m->v[(z << 8) | x] = init(x, z);
    }
    init_instance(m, v, &release_native<HmapMask>);
  } catch (...) {
    release_native<HmapMask>(m, 0);
    throw;
  }
}

static float mask_getraw(HmapMask* m, int x, int z) { return m->getraw(x, z); }
static float mask_get(HmapMask* m, float x, float z) { return m->get(x, z); }
static void mask_set(HmapMask* m, int x, int z, float value) { m->v[hmap_index(x, z)] = value; }
static FloatList mask_min_max(HmapMask* m) {
  FloatList r = {2, {}};
  m->calcMinMax(r.v[0], r.v[1]);
  return r;
}
static void mask_process_rect(HmapMask* m, float x0, float z0, float x1, float z1, SqObject f) {
  SqFunc<float> fn = callback<float>(f.vm, f);
  int za = nearest_int(z0 + 0.49999988f), zb = nearest_int(z1 - 0.49999988f);
  int xa = nearest_int(x0 + 0.49999988f), xb = nearest_int(x1 - 0.49999988f);
  for (int z = za; z <= zb; z++)
    for (int x = xa; x <= xb; x++) {
      float& c = m->v[hmap_index(x, z)];
      c = fn(x, z, c);
    }
}
static void mask_process_all(HmapMask* m, SqObject f) {
  SqFunc<float> fn = callback<float>(f.vm, f);
  for (int z = 0; z < HMAP_SIZE; z++)
    for (int x = 0; x < HMAP_SIZE; x++) {
      float& c = m->v[(z << 8) | x];
      c = fn(x, z, c);
    }
}

// Static constructors: a new mask filled by fill.
template <class F>
static Owned<HmapMask> new_mask(F fill) {
  HmapMask* m = new_native<HmapMask>();
  fill(*m);
  return {m};
}
static Owned<HmapMask> mask_fast_noise(float amp, float persistence) {
  return new_mask([&](HmapMask& m) { m.fastNoise(amp, persistence); });
}
static Owned<HmapMask> mask_from_height() {
  return new_mask([](HmapMask& m) { m.fromHeight(); });
}
static Owned<HmapMask> mask_from_water() {
  return new_mask([](HmapMask& m) { m.fromWater(); });
}
static Owned<HmapMask> mask_from_slope() {
  return new_mask([](HmapMask& m) { m.fromSlope(); });
}
static Owned<HmapMask> mask_from_simplex(float scale, float period, int octaves, Nullable<SqFloatRamp> ramp,
                                         float gain) {
  const FloatRamp* r = ramp.p ? &ramp.p->ramp : nullptr;
  return new_mask([&](HmapMask& m) { m.fromSimplexNoise(scale, period, octaves, r, gain); });
}
static Owned<HmapMask> mask_from_voronoi_hills(int tile, float min_h, float max_h, float radius) {
  if (!is_power_of_two(tile)) throw SquirrelError("tile must be power of 2 in fromVoronoiHills()");
  return new_mask([&](HmapMask& m) { m.fromVoronoiHills(tile, min_h, max_h, radius); });
}
static Owned<HmapMask> mask_from_voronoi_faults(int tile, float min_h, float max_h, float warp, int warp_scale,
                                                int octaves, float sharpness) {
  if (!is_power_of_two(tile)) throw SquirrelError("tile must be power of 2 in fromVoronoiFaults()");
  return new_mask(
      [&](HmapMask& m) { m.fromVoronoiFaults(tile, min_h, max_h, warp, warp_scale, octaves, sharpness); });
}

// apply_height_mask / apply_water_mask: cell = f(cell), f(cell, mask) or cell + mask.
template <class Cell>
static void apply_mask(Nullable<HmapMask> mask, SqObject f, const char* error, Cell cell) {
  if (f.isNull()) {
    if (!mask.p) throw SquirrelError(error);
    for (int i = 0; i < HMAP_CELLS; i++) cell(i) += mask.p->v[i];
    return;
  }
  SqFunc<float> fn = callback<float>(f.vm, f);
  for (int i = 0; i < HMAP_CELLS; i++) {
    float& c = cell(i);
    c = mask.p ? fn(c, mask.p->v[i]) : fn(c);
  }
}
static void apply_height_mask(Nullable<HmapMask> mask, SqObject f) {
  apply_mask(mask, f, "no mask and no func in apply_height_mask()", [](int i) -> float& { return hmap[i]; });
}
static void apply_water_mask(Nullable<HmapMask> mask, SqObject f) {
  apply_mask(mask, f, "no mask and no func in apply_water_mask()",
             [](int i) -> float& { return water[i].amount; });
}

// Reads entry k of the array on top of the stack, pushed; throws when missing.
static void push_entry(HSQUIRRELVM v, int k) {
  sq_pushinteger(v, k);
  if (SQ_FAILED(sq_get(v, -2))) throw SquirrelError(v);
}

static void repaint_land(SqObject f) {
  if (f.isNull()) throw SquirrelError("null function in repaint_land()");
  HSQUIRRELVM v = f.vm;
  SqFunc<SqObject> fn = callback<SqObject>(v, f);
  for (int z = 0; z < HMAP_SIZE; z++)
    for (int x = 0; x < HMAP_SIZE; x++) {
      Surface& s = surface[(z << 8) | x];
      SqObject r = fn(x, z, color_to_vec(s.color), color_to_vec(s.top_color));
      SQInteger top = sq_gettop(v);
      r.push(v);
      int n = sq_gettype(v, -1) == OT_ARRAY ? (int)sq_getsize(v, -1) : -1;
      if (n != 2 && n != 4) {
        sq_settop(v, top);
        throw SquirrelError("repaint_land() function must return an array of 2 or 4 entries");
      }
      try {
        push_entry(v, 0);
        D3dColor color = get_packed_color(v, -1);
        sq_poptop(v);
        push_entry(v, 1);
        int ground = get_int(v, -1);
        sq_poptop(v);
        D3dColor top_color(0u);
        int cover = ST_OPEN;
        if (n == 4) {
          push_entry(v, 2);
          top_color = get_packed_color(v, -1);
          sq_poptop(v);
          push_entry(v, 3);
          cover = get_int(v, -1);
          sq_poptop(v);
        }
        s.color = color;
        s.top_color = top_color;
        s.info = info_with_cover(info_with_ground(s.info, ground & 15), cover & 15);
      } catch (...) {
        sq_settop(v, top);
        throw;
      }
      sq_settop(v, top);
    }
}

static void recolor_cell(Surface& s, D3dColor c) {
  s.color = c;
  s.top_color = D3dColor(0u);
  s.info = info_with_cover(info_with_ground(s.info, GT_SOIL), ST_OPEN);
}

static void recolor_by_height(SqColorRamp* ramp) {
  float mn = hmap[0], mx = hmap[0];
  for (int i = 1; i < HMAP_CELLS; i++) {
    mn = fminf(mn, hmap[i]);
    mx = fmaxf(mx, hmap[i]);
  }
  for (int i = 0; i < HMAP_CELLS; i++) recolor_cell(surface[i], vec_to_color(ramp->ramp.get((hmap[i] - mn) / (mx - mn))));
}

static void recolor_land4(Color c0, Color c1, Color c2, Color c3) {
  for (int i = 0; i < HMAP_CELLS; i++) {
    vec4f w = color_to_vec(surface[i].color);
    float r = v_x(w), g = v_y(w), b = v_z(w), a = v_w(w);
    vec4f sum = v_add(v_add(v_mul(v_splat(r), c0.v), v_mul(v_splat(g), c1.v)),
                      v_add(v_mul(v_splat(b), c2.v), v_mul(v_splat(a), c3.v)));
    recolor_cell(surface[i], vec_to_color(v_div(sum, v_splat(r + g + b + a))));
  }
}

void bind_hmap_mask(HSQUIRRELVM vm) {
  SqObject cls = create_class(vm, "HmapMask", nullptr, class_tag<HmapMask>());
  register_constructor<HmapMask>(cls, make_hmap_mask);
  register_this_function(cls, "getraw", mask_getraw);
  register_this_function(cls, "get", mask_get);
  register_this_function(cls, "set", mask_set);
  register_this_function(cls, "calcMinMax", mask_min_max);
  register_this_function(cls, "processRect", mask_process_rect);
  register_this_function(cls, "processAll", mask_process_all);
  register_function(cls, "fastNoise", mask_fast_noise);
  register_function(cls, "fromHeight", mask_from_height);
  register_function(cls, "fromWater", mask_from_water);
  register_function(cls, "fromSlope", mask_from_slope);
  register_function(cls, "fromSimplexNoise", mask_from_simplex);
  register_function(cls, "fromVoronoiHills", mask_from_voronoi_hills);
  register_function(cls, "fromVoronoiFaults", mask_from_voronoi_faults);
  SqObject root = SqObject::root(vm);
  register_function(root, "apply_height_mask", apply_height_mask);
  register_function(root, "apply_water_mask", apply_water_mask);
  register_function(root, "repaint_land", repaint_land);
  register_function(root, "recolor_by_height", recolor_by_height);
  register_function(root, "recolor_land4", recolor_land4);
}

// ---- IntMap

static void make_int_map(HSQUIRRELVM v) {
  IntMap* m = new_native<IntMap>();
  try {
    if (sq_gettype(v, 2) == OT_INTEGER) {
      m->fill(get_int(v, 2));
    } else {
      SqFunc<int> init = callback<int>(v, get_object(v, 2));
      for (int z = 0; z < HMAP_SIZE; z++)
        for (int x = 0; x < HMAP_SIZE; x++) m->v[(z << 8) | x] = init(x, z);
    }
    init_instance(m, v, &release_native<IntMap>);
  } catch (...) {
    release_native<IntMap>(m, 0);
    throw;
  }
}

static int imap_get(IntMap* m, int x, int z) { return m->get(x, z); }
static void imap_set(IntMap* m, int x, int z, int value) { m->set(x, z, value); }
static SQInteger imap_index_get(HSQUIRRELVM v) {
  if (sq_gettype(v, 2) != OT_INTEGER) {  // not a cell: no member
    sq_pushnull(v);
    return sq_throwobject(v);
  }
  try {
    IntMap* m = (IntMap*)get_instance(v, 1, class_tag<IntMap>());
    sq_pushinteger(v, m->v[get_int(v, 2) & 65535]);
    return 1;
  } catch (const SquirrelError& e) {
    return throw_to_script(v, e);
  }
}
static void imap_index_set(IntMap* m, int i, int value) {
  m->v[i & 65535] = value;
  m->box_valid = false;
}
static IntList box_list(const TorusBox& b) { return {4, {b.x0, b.z0, b.w, b.h}}; }
static IntList imap_bounds(IntMap* m) { return box_list(m->bounds()); }
static int imap_overlap(IntMap* m, Nullable<IntMap> other, int dx, int dz) {
  return other.p ? m->testOverlap(*other.p, dx, dz) : 0;
}
static int make_map_index(int x, int z) { return ((z << 8) | (x & 255)) & 65535; }
static int map_index_x(int i) { return i & 255; }
static int map_index_z(int i) { return (i >> 8) & 255; }

void bind_int_map(HSQUIRRELVM vm) {
  SqObject cls = create_class(vm, "IntMap", nullptr, class_tag<IntMap>());
  register_constructor<IntMap>(cls, make_int_map);
  register_this_function(cls, "get", imap_get);
  register_this_function(cls, "set", imap_set);
  register_raw(cls, "_get", imap_index_get);
  register_this_function(cls, "_set", imap_index_set);
  register_this_function(cls, "bounds", imap_bounds);
  register_this_function(cls, "testOverlap", imap_overlap);
  SqObject root = SqObject::root(vm);
  register_function(root, "make_map_index", make_map_index);
  register_function(root, "map_index_x", map_index_x);
  register_function(root, "map_index_z", map_index_z);
}

// ---- BitMap

static void make_bit_map(HSQUIRRELVM v) {
  BitMap* m = new_native<BitMap>();
  try {
    if (sq_gettype(v, 2) == OT_INTEGER) {
      m->fill(get_int(v, 2) != 0);
    } else {
      m->fill(false);
      SqFunc<bool> init = callback<bool>(v, get_object(v, 2));
      for (int z = 0; z < HMAP_SIZE; z++)
        for (int x = 0; x < HMAP_SIZE; x++)
          if (init(x, z)) m->set(x, z, true);
    }
    init_instance(m, v, &release_native<BitMap>);
  } catch (...) {
    release_native<BitMap>(m, 0);
    throw;
  }
}

template <class F>
static Owned<BitMap> new_bitmap(F fill) {
  BitMap* m = new_native<BitMap>();
  fill(*m);
  return {m};
}

static int bmap_get(BitMap* m, int x, int z) { return m->get(x, z) ? 1 : 0; }
static void bmap_set(BitMap* m, int x, int z, bool b) { m->set(x, z, b); }
static Owned<BitMap> bmap_copy(BitMap* m) {
  return new_bitmap([&](BitMap& o) { memcpy(o.words, m->words, sizeof(o.words)); });
}
static Owned<BitMap> bmap_inverse(BitMap* m) {
  return new_bitmap([&](BitMap& o) { m->inverse(o); });
}
static Owned<BitMap> bmap_shifted(BitMap* m, int dx, int dz) {
  return new_bitmap([&](BitMap& o) { m->shifted(dx, dz, o); });
}
static Owned<BitMap> bmap_erode(BitMap* m) {
  return new_bitmap([&](BitMap& o) { m->erode(o); });
}
static Owned<BitMap> bmap_expand(BitMap* m) {
  return new_bitmap([&](BitMap& o) { m->expand(o); });
}
static IntList bmap_bounds(BitMap* m) { return box_list(m->bounds()); }
static FloatList bmap_circle(BitMap* m) {
  FloatList r = {3, {}};
  m->boundingCircle(r.v[0], r.v[1], r.v[2]);
  return r;
}
static int bmap_area(BitMap* m) { return m->area(); }
static int bmap_overlap(BitMap* m, Nullable<BitMap> other, int dx, int dz) {
  return other.p ? m->testOverlap(*other.p, dx, dz) : 0;
}
static int bmap_test_mask(BitMap* m, Nullable<BitMap> other, int op, int dx, int dz) {
  return other.p ? m->testMask(*other.p, op, dx, dz) : 0;
}
static Owned<BitMap> bmap_bitwise(BitMap* m, Nullable<BitMap> other, int op, int dx, int dz) {
  if (!other.p) return {nullptr};
  return new_bitmap([&](BitMap& o) { m->bitwise(*other.p, op, dx, dz, o); });
}
static void bmap_bitwise_inplace(BitMap* m, Nullable<BitMap> other, int op, int dx, int dz) {
  if (!other.p) return;
  BitMap* t = new_native<BitMap>();  // other may be this map
  m->bitwise(*other.p, op, dx, dz, *t);
  memcpy(m->words, t->words, sizeof(m->words));
  m->changed();
  release_native<BitMap>(t, 0);
}
static int bmap_find_pixel(BitMap* m, bool value) { return m->findPixel(value); }
static int bmap_random_pixel(BitMap* m) { return m->randomPixel(); }
static Owned<BitMap> bmap_flood_fill(BitMap* m, int x, int z) {
  return new_bitmap([&](BitMap& o) { m->floodFill(x, z, o); });
}
static bool bmap_is_continuous(BitMap* m) { return m->isContinuous(); }
static Owned<BitMap> bmap_random_fill(BitMap* m, int x, int z, int count) {
  return new_bitmap([&](BitMap& o) { m->randomFill(x, z, count, o); });
}
static bool bmap_random_expand(BitMap* m, int count, int tries, float step) {
  return m->randomExpand(count, tries, step);
}
// Calls f(x, z) for every cell of the list, in order.
static void call_for_cells(const SqObject& f, const DynArray<int>& cells) {
  if (cells.empty()) return;
  SqFunc<void> fn = callback<void>(f.vm, f);
  for (int c : cells) fn(c & 255, c >> 8);
}
static void bmap_place_points(BitMap* m, int count, SqObject f) {
  DynArray<int> pts;
  m->placePoints(count, pts);
  call_for_cells(f, pts);
}
static void bmap_place_circles(BitMap* m, SqObject radii, SqObject f) {
  HSQUIRRELVM v = f.vm ? f.vm : radii.vm;
  if (radii.type() != OT_ARRAY) throw SquirrelError("sq_get*() failed (type error)");
  DynArray<float> r;
  SQInteger top = sq_gettop(v);
  radii.push(v);
  int n = (int)sq_getsize(v, -1);
  try {
    for (int k = 0; k < n; k++) {
      push_entry(v, k);
      r.push_back(get_float(v, -1));
      sq_poptop(v);
    }
  } catch (...) {
    sq_settop(v, top);
    throw;
  }
  sq_settop(v, top);
  DynArray<int> centres;
  m->placeCircles(r.data(), r.count(), centres);
  call_for_cells(f, centres);
}
static bool bmap_dump_tga(BitMap* m, const char* path) { return m->dumpTga(path); }

static Owned<HmapMask> fast_skeleton(BitMap* m) {
  return new_mask([&](HmapMask& o) { fast_skeleton_map(*m, o); });
}
static Owned<HmapMask> make_skeleton(BitMap* m, float jitter) {
  return new_mask([&](HmapMask& o) { make_skeleton_map(*m, jitter, o); });
}

void bind_bit_map(HSQUIRRELVM vm) {
  SqObject cls = create_class(vm, "BitMap", nullptr, class_tag<BitMap>());
  register_constructor<BitMap>(cls, make_bit_map);
  register_this_function(cls, "get", bmap_get);
  register_this_function(cls, "set", bmap_set);
  register_this_function(cls, "makeCopy", bmap_copy);
  register_this_function(cls, "inverse", bmap_inverse);
  register_this_function(cls, "shiftedCopy", bmap_shifted);
  register_this_function(cls, "erode", bmap_erode);
  register_this_function(cls, "expand", bmap_expand);
  register_this_function(cls, "bounds", bmap_bounds);
  register_this_function(cls, "boundingCircle", bmap_circle);
  register_this_function(cls, "area", bmap_area);
  register_this_function(cls, "testOverlap", bmap_overlap);
  register_this_function(cls, "testMask", bmap_test_mask);
  register_this_function(cls, "bitwise", bmap_bitwise);
  register_this_function(cls, "bitwiseInplace", bmap_bitwise_inplace);
  register_this_function(cls, "findPixel", bmap_find_pixel);
  register_this_function(cls, "randomPixel", bmap_random_pixel);
  register_this_function(cls, "floodFillMask", bmap_flood_fill);
  register_this_function(cls, "isContinuous", bmap_is_continuous);
  register_this_function(cls, "randomFill", bmap_random_fill);
  register_this_function(cls, "randomExpand", bmap_random_expand);
  register_this_function(cls, "placePoints", bmap_place_points);
  register_this_function(cls, "placeCircles", bmap_place_circles);
  register_this_function(cls, "dumpTga", bmap_dump_tga);
  SqObject root = SqObject::root(vm);
  register_function(root, "fast_skeleton_map", fast_skeleton);
  register_function(root, "make_skeleton_map", make_skeleton);
}
