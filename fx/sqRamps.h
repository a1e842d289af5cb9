// The script classes ColorRamp and FloatRamp: each instance owns a heap copy
// of its table. Generation scripts build ramps and pass them to the
// generators; dump writes a table to the log as source text.
#pragma once
#include "fx/ramps.h"
#include "squirrel/squirrel.h"

struct SqColorRamp {
  ColorRamp ramp;
  static const char* const script_class_name;  // "ColorRamp"
};
struct SqFloatRamp {
  FloatRamp ramp;
  static const char* const script_class_name;  // "FloatRamp"
};

// Binds both classes into the machine.
void bind_ramps(HSQUIRRELVM vm);

// The dump texts: a C table named `name`, four colours or eight floats a line.
void dump_ramp(const ColorRamp& r, const char* name);
void dump_ramp(const FloatRamp& r, const char* name);
