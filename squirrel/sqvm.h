// The interpreter: threads, calls, the generic object operations used by the
// instruction loop, the C interface and the built-in libraries.
#pragma once
#include "sqobject.h"

constexpr int32_t SQ_MAX_STACK = 1 << 19;       // values per thread
constexpr int32_t SQ_MAX_NESTED_CALLS = 160;    // interpreter re-entries (C recursion)
constexpr SQInteger SQ_SUSPEND_FLAG = -666;

// A value holder that keeps one reference for its lifetime.
struct SQRef {
  SQObject o;
  SQRef() { o = mk_null(); }
  explicit SQRef(const SQObject& x) {
    o = x;
    obj_addref(o);
  }
  SQRef(const SQRef&) = delete;
  SQRef& operator=(const SQRef&) = delete;
  ~SQRef() { obj_release(o); }
  void set(const SQObject& x) { obj_set(o, x); }
};

// ---- threads ----
SQVM* vm_new(SQSharedState* ss, SQInteger stacksize, SQVM* parent);
void vm_clear_refs(SQVM* v);
void vm_free_storage(SQVM* v);
bool vm_grow_stack(SQVM* v, int32_t need);  // stack holds at least 'need' slots
void vm_grow_for_push(SQVM* v);             // makes room for one more value (no limit)
void vm_settop(SQVM* v, int32_t newtop);     // absolute

// Slots above the top are always null, so a push needs no release.
inline void vm_push(SQVM* v, const SQObject& o) {
  if (v->top >= v->stacksize) vm_grow_for_push(v);
  obj_addref(o);
  v->stack[v->top++] = o;
}
inline void vm_pop(SQVM* v, int32_t n) {
  while (n-- > 0 && v->top > 0) {
    SQObject o = v->stack[--v->top];
    v->stack[v->top] = mk_null();
    obj_release(o);
  }
}
void close_outers(SQVM* v, int32_t from);    // closes open outers on slots >= from

// Errors: set lasterror and return false.
bool vm_raise(SQVM* v, const char* fmt, ...);
bool vm_raise_obj(SQVM* v, const SQObject& err);
bool vm_raise_idx(SQVM* v, const SQObject& key);   // "the index '%s' does not exist"

// ---- calls ----
// Calls the value at stack[funcidx] with the nargs values above it ('this' first).
// The result (when wanted) is stored into *result. Values above funcidx stay.
bool vm_call(SQVM* v, int32_t funcidx, int32_t nargs, SQObject* result, bool raiseerror);
// Pushes fn, self and args, calls (errors are left to the caller to report), pops them again.
bool vm_call_value(SQVM* v, const SQObject& fn, const SQObject& self, const SQObject* args, int nargs,
                   SQObject* result);
bool vm_wakeup(SQVM* v, const SQObject* resumeval, SQObject* result, bool raiseerror, bool throwerror);
bool vm_resume_from_c(SQVM* v, SQGenerator* g, SQObject* result, bool raiseerror);
void generator_kill(SQGenerator* g);
void vm_call_error_handler(SQVM* v, const SQObject& err);

// ---- object operations ----
enum { GET_RAW = 1, GET_ROOT = 2 };
bool vm_get(SQVM* v, const SQObject& self, const SQObject& key, SQObject& out, int flags);
bool vm_set(SQVM* v, const SQObject& self, const SQObject& key, const SQObject& val, int flags);
bool vm_newslot(SQVM* v, const SQObject& self, const SQObject& key, const SQObject& val, bool bstatic,
                bool raw);
bool vm_newmember(SQVM* v, const SQObject& cls, const SQObject& key, const SQObject& val,
                  const SQObject& attrs, bool bstatic, bool raw);
bool vm_delete(SQVM* v, const SQObject& self, const SQObject& key, SQObject* out, bool raw);
bool vm_tostring(SQVM* v, const SQObject& o, SQObject& out);
bool vm_typeof(SQVM* v, const SQObject& o, SQObject& out);
bool vm_clone(SQVM* v, const SQObject& o, SQObject& out);
bool vm_compare(SQVM* v, const SQObject& a, const SQObject& b, int& result);  // <0, 0, >0
bool vm_equal(const SQObject& a, const SQObject& b);
bool vm_arith(SQVM* v, int op, const SQObject& a, const SQObject& b, SQObject& out);  // op: '+','-',...
bool vm_instance_create(SQVM* v, SQClass* c, SQObject& out);
bool vm_next(SQVM* v, const SQObject& o, const SQObject& iter, SQObject& outkey, SQObject& outval,
             SQObject& outiter, bool& done);
void obj_tostring_raw(const SQObject& o, char* buf, size_t n);  // numbers, null, bools, addresses

// ---- debug ----
int proto_line(const SQFunctionProto* p, int32_t pc);
int frame_line(SQVM* v, const SQCallInfo& ci);

// ---- garbage ----
SQInteger gc_collect(SQSharedState* ss, SQArray* resurrected);
void obj_run_hook(SQCollectable* o);
void obj_clear_refs(SQCollectable* o);

// ---- libraries ----
void baselib_register(SQVM* v);
void baselib_init_delegates(SQSharedState* ss, SQVM* v);
SQObject* dd_for(SQSharedState* ss, SQObjectType t);  // default delegate table of a type
