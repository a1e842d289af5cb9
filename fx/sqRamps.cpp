// Script classes over the colour and float ramps.
#include "fx/sqRamps.h"
#include "lib/check.h"
#include "script/sqbind.h"

using namespace sqbind;

template struct sqbind::ClassTag<SqColorRamp>;
template struct sqbind::ClassTag<SqFloatRamp>;
const char* const SqColorRamp::script_class_name = "ColorRamp";
const char* const SqFloatRamp::script_class_name = "FloatRamp";

void dump_ramp(const ColorRamp& r, const char* name) {
  debug_("\nstatic ColorRamp %s=\n{\n ", name);
  for (int i = 0; i < RAMP_ENTRIES; i++) {
    debug_(" make4f(%g, %g, %g, %g),", r.v[i][0], r.v[i][1], r.v[i][2], r.v[i][3]);
    if ((i + 1) % 4 == 0) debug_("\n ");
  }
  debug_("\n};\n");
}

void dump_ramp(const FloatRamp& r, const char* name) {
  debug_("\nstatic FloatRamp %s=\n{\n ", name);
  for (int i = 0; i < RAMP_ENTRIES; i++) {
    debug_(" %g,", r.v[i]);
    if ((i + 1) % 8 == 0) debug_("\n ");
  }
  debug_("\n};\n");
}

// ---- ColorRamp

// ColorRamp(function): entry i is the colour the function gives for i / 256.
static void make_color_ramp(HSQUIRRELVM v) {
  SqFunc<Color> f;
  f.setFunction(v, SqObject::root(v), get_object(v, 2));
  ColorRamp r;
  for (int i = 0; i < RAMP_ENTRIES; i++) r.setEntry(i, f((float)i / 256.0f).v);
  SqColorRamp* p = new_native<SqColorRamp>();
  p->ramp = r;
  init_instance(p, v, &release_native<SqColorRamp>);
}

static vec4f color_ramp_get(SqColorRamp* r, float t) { return r->ramp.get(t); }
static void color_ramp_dump(SqColorRamp* r, const char* name) { dump_ramp(r->ramp, name); }

static Owned<SqColorRamp> new_color_ramp(const ColorRamp& r) {
  SqColorRamp* p = new_native<SqColorRamp>();
  p->ramp = r;
  return {p};
}
// The builders ignore `this`, so they serve as ColorRamp.linear(a, b) and as
// methods of an instance alike.
static Owned<SqColorRamp> color_fade_in_out(Color start, Color middle, Color end, float fade_in,
                                            float fade_out) {
  ColorRamp r;
  r.fadeInOut(start.v, middle.v, end.v, fade_in, fade_out);
  return new_color_ramp(r);
}
static Owned<SqColorRamp> color_const(Color c) {
  ColorRamp r;
  r.constRamp(c.v);
  return new_color_ramp(r);
}
static Owned<SqColorRamp> color_linear(Color a, Color b) {
  ColorRamp r;
  r.linear(a.v, b.v);
  return new_color_ramp(r);
}

// ---- FloatRamp

static void make_float_ramp(HSQUIRRELVM v) {
  SqFunc<float> f;
  f.setFunction(v, SqObject::root(v), get_object(v, 2));
  FloatRamp r;
  for (int i = 0; i < RAMP_ENTRIES; i++) r.v[i] = f((float)i / 256.0f);
  SqFloatRamp* p = new_native<SqFloatRamp>();
  p->ramp = r;
  init_instance(p, v, &release_native<SqFloatRamp>);
}

static float float_ramp_get(SqFloatRamp* r, float t) { return r->ramp.get(t); }
static void float_ramp_dump(SqFloatRamp* r, const char* name) { dump_ramp(r->ramp, name); }

static Owned<SqFloatRamp> new_float_ramp(const FloatRamp& r) {
  SqFloatRamp* p = new_native<SqFloatRamp>();
  p->ramp = r;
  return {p};
}
static Owned<SqFloatRamp> float_fade_in_out(float start, float middle, float end, float fade_in,
                                            float fade_out) {
  FloatRamp r;
  r.fadeInOut(start, middle, end, fade_in, fade_out);
  return new_float_ramp(r);
}
static Owned<SqFloatRamp> float_const(float c) {
  FloatRamp r;
  r.constRamp(c);
  return new_float_ramp(r);
}
static Owned<SqFloatRamp> float_linear(float a, float b) {
  FloatRamp r;
  r.linear(a, b);
  return new_float_ramp(r);
}

void bind_ramps(HSQUIRRELVM vm) {
  SqObject cr = create_class(vm, "ColorRamp", nullptr, class_tag<SqColorRamp>());
  register_constructor<SqColorRamp>(cr, make_color_ramp);
  register_this_function(cr, "get", color_ramp_get);
  register_this_function(cr, "dump", color_ramp_dump);
  register_function(cr, "fadeInOut", color_fade_in_out);
  register_function(cr, "constRamp", color_const);
  register_function(cr, "linear", color_linear);

  SqObject fr = create_class(vm, "FloatRamp", nullptr, class_tag<SqFloatRamp>());
  register_constructor<SqFloatRamp>(fr, make_float_ramp);
  register_this_function(fr, "get", float_ramp_get);
  register_this_function(fr, "dump", float_ramp_dump);
  register_function(fr, "fadeInOut", float_fade_in_out);
  register_function(fr, "constRamp", float_const);
  register_function(fr, "linear", float_linear);
}
