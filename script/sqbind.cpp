// The binding layer: handles, getters, classes and instances, registration,
// machines with the program's handlers, and the runtime error dump.
#include "script/sqbind.h"
#include <cstdarg>
#include <cstdio>
#include "lib/check.h"
#include "lib/dynArray.h"
#include "platform/paths.h"
#include "squirrel/sqobject.h"

namespace sqbind {

template struct ClassTag<SqVec4f>;
const char* const SqVec4f::script_class_name = "vec4f";

static const char* const TYPE_ERROR = "sq_get*() failed (type error)";

SquirrelError::SquirrelError(const char* message) : text(message ? message : "") {}

SquirrelError::SquirrelError(HSQUIRRELVM vm) {
  const char* s = nullptr;
  sq_getlasterror(vm);
  if (SQ_FAILED(sq_getstring(vm, -1, &s)) || !s) s = "unknown error";
  text = s;
  sq_poptop(vm);
}

String script_error_text(const SquirrelError& e, HSQUIRRELVM vm) {
  if (vm && strcmp(e.what(), SqCallFailed().what()) == 0) {
    sq_getlasterror(vm);
    const char* s = nullptr;
    String t;
    if (SQ_SUCCEEDED(sq_getstring(vm, -1, &s)) && s) t = s;
    sq_poptop(vm);
    if (!t.empty()) return t;
  }
  return String(e.what());
}

// ---- SqObject

SqObject& SqObject::operator=(const SqObject& o) {
  if (this != &o) {
    HSQOBJECT keep = o.obj;
    HSQUIRRELVM kv = o.vm;
    if (kv) sq_addref(kv, &keep);
    release();
    obj = keep;
    vm = kv;
  }
  return *this;
}

SqObject& SqObject::operator=(SqObject&& o) noexcept {
  if (this != &o) {
    release();
    obj = o.obj;
    vm = o.vm;
    sq_resetobject(&o.obj);
    o.vm = nullptr;
  }
  return *this;
}

void SqObject::release() {
  if (vm) sq_release(vm, &obj);
  sq_resetobject(&obj);
  vm = nullptr;
}

SqObject SqObject::fromStack(HSQUIRRELVM v, SQInteger idx) {
  HSQOBJECT o;
  if (SQ_FAILED(sq_getstackobj(v, idx, &o))) throw SquirrelError(TYPE_ERROR);
  return SqObject(v, o);
}

SqObject SqObject::weakFromStack(HSQUIRRELVM v, SQInteger idx) {
  if (sq_gettype(v, idx) == OT_WEAKREF) return fromStack(v, idx);
  sq_weakref(v, idx);
  SqObject w = fromStack(v, -1);
  sq_poptop(v);
  return w;
}

SqObject SqObject::weakOf(const SqObject& o) {
  if (!o.vm) return SqObject();
  if (o.isWeak()) return o;
  sq_pushobject(o.vm, o.obj);
  SqObject w = weakFromStack(o.vm, -1);
  sq_poptop(o.vm);
  return w;
}

SqObject SqObject::root(HSQUIRRELVM v) {
  sq_pushroottable(v);
  SqObject r = fromStack(v, -1);
  sq_poptop(v);
  return r;
}

bool SqObject::push(HSQUIRRELVM v) const {
  sq_pushobject(v, obj);
  if (obj._type != OT_WEAKREF) return true;
  if (SQ_FAILED(sq_getweakrefval(v, -1))) {
    sq_poptop(v);
    sq_pushnull(v);
    return false;
  }
  sq_remove(v, -2);
  return sq_gettype(v, -1) != OT_NULL;
}

// ---- getters

int get_int(HSQUIRRELVM v, SQInteger idx) {
  SQInteger i;
  if (SQ_FAILED(sq_getinteger(v, idx, &i))) throw SquirrelError(TYPE_ERROR);
  return i;
}

float get_float(HSQUIRRELVM v, SQInteger idx) {
  SQFloat f;
  if (SQ_FAILED(sq_getfloat(v, idx, &f))) throw SquirrelError(TYPE_ERROR);
  return f;
}

bool get_bool(HSQUIRRELVM v, SQInteger idx) {
  SQBool b;
  if (SQ_FAILED(sq_getbool(v, idx, &b))) throw SquirrelError(TYPE_ERROR);
  return b != SQFalse;
}

const char* get_string(HSQUIRRELVM v, SQInteger idx) {
  const SQChar* s;
  if (SQ_FAILED(sq_getstring(v, idx, &s))) throw SquirrelError(TYPE_ERROR);
  return s;
}

SqObject get_object(HSQUIRRELVM v, SQInteger idx) {
  if (idx > sq_gettop(v) || (idx < 0 && -idx > sq_gettop(v))) throw SquirrelError(TYPE_ERROR);
  return SqObject::fromStack(v, idx);
}

void* get_instance(HSQUIRRELVM v, SQInteger idx, SQUserPointer tag) {
  SQUserPointer p = nullptr;
  if (sq_gettype(v, idx) != OT_INSTANCE || SQ_FAILED(sq_getinstanceup(v, idx, &p, tag)) || !p)
    throw SquirrelError("getInst: invalid argument type");
  return p;
}

vec4f get_vector(HSQUIRRELVM v, SQInteger idx) {
  switch (sq_gettype(v, idx)) {
    case OT_INTEGER:
    case OT_FLOAT:
      return v_splat(get_float(v, idx));
    case OT_ARRAY: {
      alignas(16) float c[4];
      for (int k = 0; k < 4; k++) {
        sq_pushinteger(v, k);
        if (SQ_FAILED(sq_get(v, idx < 0 ? idx - 1 : idx))) throw SquirrelError(v);
        SQFloat f;
        SQObjectType t = sq_gettype(v, -1);
        bool ok = (t == OT_INTEGER || t == OT_FLOAT) && SQ_SUCCEEDED(sq_getfloat(v, -1, &f));
        sq_poptop(v);
        if (!ok) throw SquirrelError(TYPE_ERROR);
        c[k] = f;
      }
      return _mm_load_ps(c);
    }
    default:
      return ((SqVec4f*)get_instance(v, idx, class_tag<SqVec4f>()))->v;
  }
}

vec4f get_color(HSQUIRRELVM v, SQInteger idx) {
  if (sq_gettype(v, idx) == OT_INTEGER) return color_to_vec(D3dColor((uint32_t)get_int(v, idx)));
  return get_vector(v, idx);
}

D3dColor get_packed_color(HSQUIRRELVM v, SQInteger idx) {
  if (sq_gettype(v, idx) == OT_INTEGER) return D3dColor((uint32_t)get_int(v, idx));
  return vec_to_color(get_vector(v, idx));
}

// ---- slots

// Pushes the value of slot `name` of the object; false (stack as before) when missing.
static bool push_slot(const SqObject& object, const char* name) {
  HSQUIRRELVM v = object.vm;
  if (!v) return false;
  SQInteger top = sq_gettop(v);
  object.push(v);
  sq_pushstring(v, name, -1);
  if (SQ_FAILED(sq_get(v, -2))) {
    sq_settop(v, top);
    return false;
  }
  sq_remove(v, -2);
  return true;
}

SqObject getSlot(const SqObject& object, const char* name) {
  if (!object.vm) throw SquirrelError("getSlot: null object");
  if (!push_slot(object, name)) {
    debug("getSlot '%s' failed", name);
    throw SquirrelError(object.vm);
  }
  SqObject r = SqObject::fromStack(object.vm, -1);
  sq_poptop(object.vm);
  return r;
}

// Reads a slot with one of the scalar getters, the slot's value popped afterwards.
template <class T, class G>
static T read_slot(const SqObject& object, const char* name, G getter) {
  if (!object.vm) throw SquirrelError("getSlot: null object");
  HSQUIRRELVM v = object.vm;
  if (!push_slot(object, name)) {
    debug("getSlot '%s' failed", name);
    throw SquirrelError(v);
  }
  struct Pop {
    HSQUIRRELVM v;
    ~Pop() { sq_poptop(v); }
  } pop{v};
  return getter(v, -1);
}

int getSlotInt(const SqObject& o, const char* name) { return read_slot<int>(o, name, get_int); }
float getSlotFloat(const SqObject& o, const char* name) { return read_slot<float>(o, name, get_float); }
bool getSlotBool(const SqObject& o, const char* name) { return read_slot<bool>(o, name, get_bool); }
String getSlotString(const SqObject& o, const char* name) {
  return read_slot<String>(o, name, [](HSQUIRRELVM v, SQInteger i) { return String(get_string(v, i)); });
}

bool hasSlot(const SqObject& object, const char* name) {
  if (!push_slot(object, name)) return false;
  sq_poptop(object.vm);
  return true;
}

SqObject getGlobal(HSQUIRRELVM vm, const char* name) {
  SQInteger top = sq_gettop(vm);
  sq_pushroottable(vm);
  sq_pushstring(vm, name, -1);
  if (SQ_FAILED(sq_get(vm, -2))) {
    sq_settop(vm, top);
    debug("getGlobal '%s' failed", name);
    throw SquirrelError(vm);
  }
  SqObject r = SqObject::fromStack(vm, -1);
  sq_settop(vm, top);
  return r;
}

void push_value(HSQUIRRELVM v, vec4f x) {
  SqVec4f* p = new_native<SqVec4f>();
  p->v = x;
  push_owned(v, p);
}

// ---- classes and instances

SqObject create_class(HSQUIRRELVM vm, const char* name, const char* base, SQUserPointer tag) {
  SQInteger top = sq_gettop(vm);
  sq_pushroottable(vm);
  sq_pushstring(vm, name, -1);
  if (SQ_SUCCEEDED(sq_rawget(vm, -2)) && sq_gettype(vm, -1) == OT_CLASS) {
    // Bound before: instances made with it stay valid.
    SqObject cls = SqObject::fromStack(vm, -1);
    sq_settop(vm, top);
    return cls;
  }
  sq_settop(vm, top + 1);  // the root table
  sq_pushstring(vm, name, -1);
  bool has_base = base != nullptr;
  if (has_base) {
    sq_pushstring(vm, base, -1);
    if (SQ_FAILED(sq_rawget(vm, -3)) || sq_gettype(vm, -1) != OT_CLASS)
      fatal("no base class '%s' bound for '%s'", base, name);
  }
  if (SQ_FAILED(sq_newclass(vm, has_base ? SQTrue : SQFalse))) fatal("can't create class '%s'", name);
  if (SQ_FAILED(sq_settypetag(vm, -1, tag))) fatal("can't set type tag for class '%s'", name);
  SqObject cls = SqObject::fromStack(vm, -1);
  if (SQ_FAILED(sq_newslot(vm, -3, SQFalse))) fatal("can't register class '%s' in root table", name);
  sq_settop(vm, top);
  sq_pushregistrytable(vm);
  sq_pushuserpointer(vm, tag);
  cls.push(vm);
  if (SQ_FAILED(sq_newslot(vm, -3, SQFalse))) fatal("can't register class '%s' in registry table", name);
  sq_settop(vm, top);
  return cls;
}

bool push_instance(HSQUIRRELVM vm, void* native, SQUserPointer tag, const char* class_name,
                   SQRELEASEHOOK hook) {
  if (!native) {
    sq_pushnull(vm);
    return true;
  }
  SQInteger top = sq_gettop(vm);
  const char* err = nullptr;
  sq_pushregistrytable(vm);
  sq_pushuserpointer(vm, tag);
  if (SQ_FAILED(sq_rawget(vm, -2)) || sq_gettype(vm, -1) != OT_CLASS) {
    err = "can't get script class";
  } else if (SQ_FAILED(sq_createinstance(vm, -1))) {
    err = "can't create script instance";
  }
  if (err) {
    sq_settop(vm, top);
  } else {
    sq_remove(vm, -2);  // the class
    sq_remove(vm, -2);  // the registry
    if (SQ_FAILED(sq_setinstanceup(vm, -1, native))) {
      err = "can't set instance user pointer";
      sq_settop(vm, top);
    } else if (hook) {
      sq_setreleasehook(vm, -1, hook);
    }
  }
  if (err) {
    debug("failed to create %s", class_name);
    throw SquirrelError(err);
  }
  return true;
}

bool init_instance(void* native, HSQUIRRELVM vm, SQRELEASEHOOK hook) {
  if (SQ_FAILED(sq_setinstanceup(vm, 1, native))) {
    sq_poptop(vm);
    debug("failed to init scripted object %p", native);
    throw SquirrelError("can't set scripted instance user pointer");
  }
  if (hook) sq_setreleasehook(vm, 1, hook);
  return true;
}

// ---- thunks and registration

SQInteger throw_to_script(HSQUIRRELVM v, const SquirrelError& e) { return sq_throwerror(v, e.what()); }

SQInteger rethrow_call_failure(HSQUIRRELVM v) {
  sq_getlasterror(v);
  if (sq_gettype(v, -1) == OT_NULL) {
    sq_poptop(v);
    return sq_throwerror(v, "SqFunc<> call failed");
  }
  return sq_throwobject(v);
}

SQInteger constructor_thunk_impl(HSQUIRRELVM v, SQUserPointer tag) {
  SQUserPointer up = nullptr;
  sq_getuserpointer(v, sq_gettop(v), &up);
  if (!up) return sq_throwerror(v, "no function stored for C++ ctor call");
  sq_poptop(v);
  try {
    ((Factory)up)(v);
  } catch (const SqCallFailed&) {
    return rethrow_call_failure(v);
  } catch (const SquirrelError& e) {
    return throw_to_script(v, e);
  }
  SQUserPointer ptr = nullptr;
  sq_getinstanceup(v, 1, &ptr, tag);
  ASSERT(ptr);
  return 0;
}

void register_closure(const SqObject& target, const char* name, SQFUNCTION thunk, SQUserPointer up) {
  HSQUIRRELVM v = target.vm;
  target.push(v);
  sq_pushstring(v, name, -1);
  sq_pushuserpointer(v, up);
  sq_newclosure(v, thunk, 1);
  sq_setnativeclosurename(v, -1, name);
  SQRESULT res = sq_newslot(v, -3, SQFalse);
  ASSERT(SQ_SUCCEEDED(res));
  sq_poptop(v);
}

void register_closure_ud(const SqObject& target, const char* name, SQFUNCTION thunk, const void* data,
                         int size) {
  HSQUIRRELVM v = target.vm;
  target.push(v);
  sq_pushstring(v, name, -1);
  void* ud = sq_newuserdata(v, (SQUnsignedInteger)size);
  ASSERT(ud);
  memcpy(ud, data, size);
  sq_newclosure(v, thunk, 1);
  sq_setnativeclosurename(v, -1, name);
  SQRESULT res = sq_newslot(v, -3, SQFalse);
  ASSERT(SQ_SUCCEEDED(res));
  sq_poptop(v);
}

void register_raw(const SqObject& target, const char* name, SQFUNCTION fn) {
  HSQUIRRELVM v = target.vm;
  target.push(v);
  sq_pushstring(v, name, -1);
  sq_newclosure(v, fn, 0);
  sq_setnativeclosurename(v, -1, name);
  SQRESULT res = sq_newslot(v, -3, SQFalse);
  ASSERT(SQ_SUCCEEDED(res));
  sq_poptop(v);
}

// ---- machines

static void print_to_log(HSQUIRRELVM, const SQChar* fmt, ...) {
  va_list a;
  va_start(a, fmt);
  vdebug(fmt, a);
  va_end(a);
  fflush(stdout);
}

static void compile_error(HSQUIRRELVM v, const SQChar* desc, const SQChar* source, SQInteger line,
                          SQInteger column) {
  sq_getprintfunc(v)(v, "bin/%s(%d,%d): error: %s\n", source ? source : "unknown", (int)line, (int)column,
                     desc ? desc : "");
}

// The runtime error handler: the call stack from the failing function
// outwards, then the locals of up to 20 levels.
static SQInteger error_dump(HSQUIRRELVM v) {
  SQPRINTFUNCTION pf = sq_getprintfunc(v);
  const SQChar* err = nullptr;
  if (sq_gettop(v) < 2 || SQ_FAILED(sq_getstring(v, 2, &err)) || !err) err = "unknown";
  pf(v, "\nCALLSTACK\n");
  SQStackInfos si;
  for (SQInteger level = 1; SQ_SUCCEEDED(sq_stackinfos(v, level, &si)); level++) {
    const char* src = si.source ? si.source : "unknown";
    const char* fn = si.funcname ? si.funcname : "unknown";
    if (level == 1)
      pf(v, "bin/%s(%d): ERROR: %s (in %s())\n", src, (int)si.line, err, fn);
    else
      pf(v, "bin/%s(%d): function %s() (CALLSTACK)\n", src, (int)si.line, fn);
  }
  pf(v, "\nLOCALS\n");
  for (SQUnsignedInteger level = 0; level < 20; level++) {
    for (SQUnsignedInteger seq = 0;; seq++) {
      const SQChar* name = sq_getlocal(v, level, seq);
      if (!name) break;
      switch (sq_gettype(v, -1)) {
        case OT_NULL: pf(v, "[%s] NULL\n", name); break;
        case OT_INTEGER: {
          SQInteger i = 0;
          sq_getinteger(v, -1, &i);
          pf(v, "[%s] %d\n", name, (int)i);
          break;
        }
        case OT_FLOAT: {
          SQFloat f = 0;
          sq_getfloat(v, -1, &f);
          pf(v, "[%s] %.14g\n", name, (double)f);
          break;
        }
        case OT_BOOL: {
          SQBool b = SQFalse;
          sq_getbool(v, -1, &b);
          pf(v, "[%s] %s\n", name, b ? "true" : "false");
          break;
        }
        case OT_STRING: {
          const SQChar* s = "";
          sq_getstring(v, -1, &s);
          pf(v, "[%s] \"%s\"\n", name, s);
          break;
        }
        case OT_USERPOINTER: pf(v, "[%s] USERPOINTER\n", name); break;
        case OT_TABLE: pf(v, "[%s] TABLE\n", name); break;
        case OT_ARRAY: pf(v, "[%s] ARRAY\n", name); break;
        case OT_CLOSURE: pf(v, "[%s] CLOSURE\n", name); break;
        case OT_NATIVECLOSURE: pf(v, "[%s] NATIVECLOSURE\n", name); break;
        case OT_GENERATOR: pf(v, "[%s] GENERATOR\n", name); break;
        case OT_USERDATA: pf(v, "[%s] USERDATA\n", name); break;
        case OT_THREAD: pf(v, "[%s] THREAD\n", name); break;
        case OT_CLASS: pf(v, "[%s] CLASS\n", name); break;
        case OT_INSTANCE: pf(v, "[%s] INSTANCE\n", name); break;
        case OT_WEAKREF: pf(v, "[%s] WEAKREF\n", name); break;
        default: ASSERT(!"unknown type of a local"); break;
      }
      sq_poptop(v);
    }
  }
  return 0;
}

HSQUIRRELVM create_vm(int initial_stack) {
  HSQUIRRELVM v = sq_open(initial_stack);
  if (!v) return nullptr;
  sq_setprintfunc(v, print_to_log, print_to_log);
  sq_setcompilererrorhandler(v, compile_error);
  sq_newclosure(v, error_dump, 0);
  sq_seterrorhandler(v);
  return v;
}

void close_vm(HSQUIRRELVM vm) {
  if (!vm) return;
  sq_collectgarbage(vm);
  sq_close(vm);
}

// The name a script is known by in messages: relative to the application
// folder when it lies inside it.
static const char* source_name_of(const char* path) {
  size_t n = strlen(app_path);
  if (n && strncmp(path, app_path, n) == 0) return path + n;
  return path;
}

bool compile_file(HSQUIRRELVM vm, const char* path) {
  FILE* f = fopen(path, "rb");
  if (!f) {
    sq_throwerror(vm, "can't open script file");  // sets the last error for the caller
    debug("can't open script file '%s'", path);
    return false;
  }
  DynArray<char> text;
  char buf[8192];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) text.append(buf, (int)n);
  bool read_ok = !ferror(f);
  fclose(f);
  if (!read_ok) {
    sq_throwerror(vm, "can't read script file");
    debug("can't read script file '%s'", path);
    return false;
  }
  const char* src = text.count() ? text.data() : "";  // an empty file is an empty script
  return SQ_SUCCEEDED(sq_compilebuffer(vm, src, text.count(), source_name_of(path), SQTrue));
}

static bool run_compiled(HSQUIRRELVM vm) {
  sq_pushroottable(vm);
  bool ok = SQ_SUCCEEDED(sq_call(vm, 1, SQFalse, SQTrue));
  sq_poptop(vm);  // the closure
  return ok;
}

bool run_file(HSQUIRRELVM vm, const char* path) { return compile_file(vm, path) && run_compiled(vm); }

bool compile_buffer(HSQUIRRELVM vm, const char* text, int len, const char* source_name) {
  return SQ_SUCCEEDED(sq_compilebuffer(vm, text, len, source_name, SQTrue));
}

bool run_buffer(HSQUIRRELVM vm, const char* text, int len, const char* source_name) {
  return compile_buffer(vm, text, len, source_name) && run_compiled(vm);
}

void set_slot(HSQUIRRELVM v, const char* name) {
  sq_pushstring(v, name, -1);
  sq_push(v, -2);
  sq_remove(v, -3);
  SQRESULT res = sq_newslot(v, -3, SQFalse);
  ASSERT(SQ_SUCCEEDED(res));
}

void set_root_int(HSQUIRRELVM v, const char* name, int value) {
  sq_pushroottable(v);
  sq_pushinteger(v, value);
  set_slot(v, name);
  sq_poptop(v);
}

void set_root_string(HSQUIRRELVM v, const char* name, const char* value) {
  sq_pushroottable(v);
  sq_pushstring(v, value ? value : "", -1);
  set_slot(v, name);
  sq_poptop(v);
}

void set_root_object(HSQUIRRELVM v, const char* name, const SqObject& value) {
  sq_pushroottable(v);
  value.push(v);
  set_slot(v, name);
  sq_poptop(v);
}

}  // namespace sqbind

void sq_debug_object(const HSQOBJECT& obj) {
  switch (obj._type) {
    case OT_NATIVECLOSURE: debug("(native func %p)", (void*)obj._unVal.pNativeClosure); break;
    case OT_INSTANCE: {
      // The public interface reads neither field without a stack; the
      // instance record holds both.
      const SQInstance* inst = obj._unVal.pInstance;
      debug("(instance UP=%p hook=%p)", inst->up, (void*)inst->hook);
      break;
    }
    case OT_NULL: debug("null"); break;
    case OT_INTEGER: debug("%d", (int)obj._unVal.nInteger); break;
    case OT_FLOAT: debug("%.14g", (double)obj._unVal.fFloat); break;
    case OT_BOOL: debug("%s", obj._unVal.nInteger ? "true" : "false"); break;
    case OT_STRING: debug("%s", sq_objtostring(&obj)); break;
    default: {
      static const struct {
        SQObjectType t;
        const char* name;
      } names[] = {{OT_TABLE, "table"},       {OT_ARRAY, "array"},       {OT_USERDATA, "userdata"},
                   {OT_CLOSURE, "function"},  {OT_GENERATOR, "generator"}, {OT_USERPOINTER, "userpointer"},
                   {OT_THREAD, "thread"},     {OT_CLASS, "class"},       {OT_WEAKREF, "weakref"}};
      const char* n = "unknown";
      for (const auto& e : names)
        if (e.t == obj._type) n = e.name;
      debug("(%s : 0x%p)", n, (void*)obj._unVal.pRefCounted);
      break;
    }
  }
}
