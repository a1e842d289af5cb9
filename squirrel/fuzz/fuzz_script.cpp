// libFuzzer target over the compiler and the VM: every input is compiled as a
// script and, when it compiles, run with the math and string libraries.
//
// Each run must end, so a native debug hook counts the VM's line, call and
// return events and raises a script error once a budget is spent; scripts
// cannot replace that hook because setdebughook is taken out of the root
// table. Memory is bounded by libFuzzer's -rss_limit_mb / -malloc_limit_mb.
// Output of print and error messages is discarded.
#include "squirrel.h"
#include "sqstdmath.h"
#include "sqstdstring.h"

#include <cstddef>
#include <cstdint>

namespace {

constexpr long kEventBudget = 200000; // debug-hook events per input
constexpr size_t kMaxInput = 1 << 16;

long events_left = 0;

void count_event(HSQUIRRELVM v, SQInteger, const SQChar*, SQInteger, const SQChar*) {
  if (--events_left <= 0) sq_throwerror(v, "fuzz budget spent");
}

void discard_print(HSQUIRRELVM, const SQChar*, ...) {}
void discard_compile_error(HSQUIRRELVM, const SQChar*, const SQChar*, SQInteger, SQInteger) {}

void remove_root_slot(HSQUIRRELVM v, const char* name) {
  sq_pushroottable(v);
  sq_pushstring(v, name, -1);
  sq_deleteslot(v, -2, SQFalse);
  sq_pop(v, 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  HSQUIRRELVM v = sq_open(1024);
  sq_setprintfunc(v, discard_print, discard_print);
  sq_setcompilererrorhandler(v, discard_compile_error);
  sq_enabledebuginfo(v, SQTrue);
  sq_pushroottable(v);
  sqstd_register_mathlib(v);
  sqstd_register_stringlib(v);
  sq_pop(v, 1);
  remove_root_slot(v, "setdebughook");
  events_left = kEventBudget;
  sq_setnativedebughook(v, count_event);

  SQInteger top = sq_gettop(v);
  if (SQ_SUCCEEDED(sq_compilebuffer(v, (const SQChar*)data, (SQInteger)size, "fuzz", SQFalse))) {
    sq_pushroottable(v);
    sq_call(v, 1, SQFalse, SQFalse);
  }
  sq_settop(v, top);
  sq_collectgarbage(v);
  sq_close(v);
  return 0;
}
