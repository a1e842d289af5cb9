// The binding layer between native code and scripts: handles on script
// values (strong and weak), callable handles, the layer's exception, class
// tags, native classes and instances, typed reads from the stack, pushers,
// registration of native functions, methods and constructors, and the
// creation of script machines with the program's print and error handlers.
//
// Native arguments are read with strict getters: a wrong type throws
// SquirrelError, and every thunk turns that into a script error, so a bad
// call from a script never reaches native code with garbage.
#pragma once
#include <cstring>
#include <new>
#include <tuple>
#include <type_traits>
#include <utility>
#include "lib/color.h"
#include "lib/heap.h"
#include "lib/strings.h"
#include "lib/vecmath.h"
#include "squirrel/squirrel.h"

// vec4f is an SSE register type; templates over it (argument tuples) drop
// its alignment attribute, which is harmless for values held in a tuple.
#pragma GCC diagnostic ignored "-Wignored-attributes"

namespace sqbind {

// The layer's exception. The text is a copy owned by the error, so it stays
// valid after the machine that raised it has moved on or closed.
class SquirrelError {
 public:
  explicit SquirrelError(const char* message);
  // From the machine's last error: its text, "unknown error" when it is not a string.
  explicit SquirrelError(HSQUIRRELVM vm);
  const char* what() const { return text.c_str(); }

 private:
  String text;
};

// A script call made through SqFunc failed ("SqFunc<> call failed"). The
// script's own error has already gone through the machine's error handler
// and is the machine's last error; thunks pass that error on to the calling
// script, and script_error_text picks it for messages shown to the player.
class SqCallFailed : public SquirrelError {
 public:
  SqCallFailed() : SquirrelError("SqFunc<> call failed") {}
};

// The text to show for an error caught at an entry point: for a failed call
// the script's own error (the machine's last error), else the error's text.
String script_error_text(const SquirrelError& e, HSQUIRRELVM vm);

// One tag per bound native class; the tag's address is the class's type tag.
template <class T>
struct ClassTag {
  static int uniqueTag;
};
template <class T>
int ClassTag<T>::uniqueTag = 0;
template <class T>
inline SQUserPointer class_tag() {
  return &ClassTag<T>::uniqueTag;
}

// ---- handles on script values

class SqObject {
 public:
  HSQOBJECT obj;    // type word and value
  HSQUIRRELVM vm;   // set while the handle holds a reference in that machine

  SqObject() : vm(nullptr) { sq_resetobject(&obj); }
  // A strong reference to o.
  SqObject(HSQUIRRELVM v, const HSQOBJECT& o) : obj(o), vm(v) { sq_addref(vm, &obj); }
  SqObject(const SqObject& o) : obj(o.obj), vm(o.vm) {
    if (vm) sq_addref(vm, &obj);
  }
  SqObject(SqObject&& o) noexcept : obj(o.obj), vm(o.vm) {
    sq_resetobject(&o.obj);
    o.vm = nullptr;
  }
  SqObject& operator=(const SqObject& o);
  SqObject& operator=(SqObject&& o) noexcept;
  ~SqObject() { release(); }

  // A strong reference to the value at the stack index.
  static SqObject fromStack(HSQUIRRELVM v, SQInteger idx);
  // The weak form of the value at the stack index: a weak reference is held
  // as it is; any other value is turned into a weak reference to it (values
  // that are not reference counted stay themselves).
  static SqObject weakFromStack(HSQUIRRELVM v, SQInteger idx);
  // The weak form of what o refers to.
  static SqObject weakOf(const SqObject& o);
  // The machine's root table (strong).
  static SqObject root(HSQUIRRELVM v);

  // Drops the reference: the handle becomes null without a machine.
  void release();
  SQObjectType type() const { return obj._type; }
  bool isNull() const { return obj._type == OT_NULL; }
  bool isWeak() const { return obj._type == OT_WEAKREF; }

  // Pushes the value on v, dereferenced when weak (a dead weak reference
  // pushes null). Returns false only for a dead weak reference.
  bool push(HSQUIRRELVM v) const;
  bool push() const { return push(vm); }
};

// ---- reading values from the stack (each throws SquirrelError)

int get_int(HSQUIRRELVM v, SQInteger idx);
float get_float(HSQUIRRELVM v, SQInteger idx);
bool get_bool(HSQUIRRELVM v, SQInteger idx);
const char* get_string(HSQUIRRELVM v, SQInteger idx);
SqObject get_object(HSQUIRRELVM v, SQInteger idx);
// The user pointer of an instance whose class (or a base) has the tag;
// "getInst: invalid argument type" otherwise or when it is null.
void* get_instance(HSQUIRRELVM v, SQInteger idx, SQUserPointer tag);
// A number (all four equal), an array of four numbers or a vec4f.
vec4f get_vector(HSQUIRRELVM v, SQInteger idx);
// As get_vector, but an integer is a packed colour (A8R8G8B8) unpacked to 0..1.
vec4f get_color(HSQUIRRELVM v, SQInteger idx);
// An integer is the packed colour itself; anything else goes through
// get_vector and is packed (clamped to 0..1, x255, nearest).
D3dColor get_packed_color(HSQUIRRELVM v, SQInteger idx);

// Reads slot `name` of the object (dereferenced if weak). A missing slot logs
// "getSlot '%s' failed" and throws the machine's error.
SqObject getSlot(const SqObject& object, const char* name);
int getSlotInt(const SqObject& object, const char* name);
float getSlotFloat(const SqObject& object, const char* name);
bool getSlotBool(const SqObject& object, const char* name);
String getSlotString(const SqObject& object, const char* name);
// Whether the object has a slot of that name (nothing logged or thrown).
bool hasSlot(const SqObject& object, const char* name);
// The same on the root table; "getGlobal '%s' failed".
SqObject getGlobal(HSQUIRRELVM vm, const char* name);

// ---- pushers

inline void push_value(HSQUIRRELVM v, int x) { sq_pushinteger(v, x); }
inline void push_value(HSQUIRRELVM v, unsigned x) { sq_pushinteger(v, (SQInteger)x); }
inline void push_value(HSQUIRRELVM v, float x) { sq_pushfloat(v, x); }
inline void push_value(HSQUIRRELVM v, bool x) { sq_pushbool(v, x ? SQTrue : SQFalse); }
inline void push_value(HSQUIRRELVM v, const char* s) {
  if (s)
    sq_pushstring(v, s, -1);
  else
    sq_pushnull(v);
}
inline void push_value(HSQUIRRELVM v, std::nullptr_t) { sq_pushnull(v); }
inline void push_value(HSQUIRRELVM v, const SqObject& o) { o.push(v); }
inline void push_value(HSQUIRRELVM v, const String& s) { sq_pushstring(v, s.c_str(), s.length()); }
// A new vec4f instance (the class must be bound in v).
void push_value(HSQUIRRELVM v, vec4f x);

// ---- classes and instances

// The class bound under `name`, made when the root table has none: with the
// base class `base` (null for none), the tag, stored in the root table under
// its name and in the registry under the tag. Failures are fatal.
SqObject create_class(HSQUIRRELVM vm, const char* name, const char* base, SQUserPointer tag);
// Pushes a new instance of the class bound under tag with the native pointer
// (null pushes null). Failures log "failed to create %s" and throw.
bool push_instance(HSQUIRRELVM vm, void* native, SQUserPointer tag, const char* class_name,
                   SQRELEASEHOOK hook);
// Inside a script-side constructor: the instance under construction (stack
// slot 1) gets the native pointer and the release hook.
bool init_instance(void* native, HSQUIRRELVM vm, SQRELEASEHOOK hook);

// Native objects owned by their script instance live on the shared heap and
// are destroyed by the instance's release hook.
template <class T, class... A>
T* new_native(A&&... args) {
  void* p = dlmalloc(sizeof(T));
  if (!p) throw SquirrelError("out of memory");
  return new (p) T(std::forward<A>(args)...);
}
template <class T>
SQInteger release_native(SQUserPointer p, SQInteger) {
  if (p) {
    ((T*)p)->~T();
    dlfree(p);
  }
  return 1;
}
// Pushes a new instance owning the native object; a class T declares its
// script name as `static const char* const script_class_name`. If the push
// fails the object is destroyed before the error propagates.
template <class T>
void push_owned(HSQUIRRELVM v, T* p) {
  try {
    push_instance(v, p, class_tag<T>(), T::script_class_name, &release_native<T>);
  } catch (...) {
    release_native<T>(p, 0);
    throw;
  }
}

// A script vector: four floats.
struct SqVec4f {
  vec4f v;
  static const char* const script_class_name;  // "vec4f"
};

// ---- typed arguments and results of bound natives

// A colour argument read with get_color.
struct Color {
  vec4f v;
};
// An instance argument that may also be null.
template <class T>
struct Nullable {
  T* p;
};
// A new native object returned to the script, owned by its instance.
template <class T>
struct Owned {
  T* p;
};

template <class T>
struct Arg;
template <>
struct Arg<int> {
  static int get(HSQUIRRELVM v, SQInteger i) { return get_int(v, i); }
};
template <>
struct Arg<float> {
  static float get(HSQUIRRELVM v, SQInteger i) { return get_float(v, i); }
};
template <>
struct Arg<bool> {
  static bool get(HSQUIRRELVM v, SQInteger i) { return get_bool(v, i); }
};
template <>
struct Arg<const char*> {
  static const char* get(HSQUIRRELVM v, SQInteger i) { return get_string(v, i); }
};
template <>
struct Arg<SqObject> {
  static SqObject get(HSQUIRRELVM v, SQInteger i) { return get_object(v, i); }
};
template <>
struct Arg<vec4f> {
  static vec4f get(HSQUIRRELVM v, SQInteger i) { return get_vector(v, i); }
};
template <>
struct Arg<Color> {
  static Color get(HSQUIRRELVM v, SQInteger i) { return {get_color(v, i)}; }
};
template <>
struct Arg<D3dColor> {
  static D3dColor get(HSQUIRRELVM v, SQInteger i) { return get_packed_color(v, i); }
};
template <class T>
struct Arg<T*> {
  static T* get(HSQUIRRELVM v, SQInteger i) { return (T*)get_instance(v, i, class_tag<T>()); }
};
template <class T>
struct Arg<Nullable<T>> {
  static Nullable<T> get(HSQUIRRELVM v, SQInteger i) {
    if (sq_gettype(v, i) == OT_NULL) return {nullptr};
    return {(T*)get_instance(v, i, class_tag<T>())};
  }
};

template <class T>
inline void push_result(HSQUIRRELVM v, const T& x) {
  push_value(v, x);
}
template <class T>
inline void push_result(HSQUIRRELVM v, const Owned<T>& x) {
  if (x.p)
    push_owned(v, x.p);
  else
    sq_pushnull(v);
}

// Reads a call's result as R.
template <class R>
struct Result {
  static R get(HSQUIRRELVM v, SQInteger i) { return Arg<R>::get(v, i); }
};

// ---- callable handles

template <class R>
class SqFunc {
 public:
  HSQUIRRELVM vm = nullptr;
  SqObject env;   // `this` of the call, in weak form
  SqObject func;  // the function (strong)

  SqFunc() = default;
  SqFunc(HSQUIRRELVM v, const SqObject& object, const char* name) { set(v, object, name); }

  // Takes object as the environment and its slot `name` (when present) as
  // the function; a missing slot leaves the function null.
  void set(HSQUIRRELVM v, const SqObject& object, const char* name) {
    release();
    vm = v;
    env = SqObject::weakOf(object);
    SQInteger top = sq_gettop(v);
    object.push(v);
    sq_pushstring(v, name, -1);
    if (SQ_SUCCEEDED(sq_get(v, -2))) func = SqObject::fromStack(v, -1);
    sq_settop(v, top);
  }
  // A function value with an environment (for callbacks passed as arguments).
  void setFunction(HSQUIRRELVM v, const SqObject& environment, const SqObject& function) {
    release();
    vm = v;
    env = SqObject::weakOf(environment);
    func = function;
  }
  void release() {
    func.release();
    env.release();
    vm = nullptr;
  }
  // False when there is no function, or the environment is gone or null.
  bool isValid() const {
    if (!vm || func.isNull()) return false;
    SQInteger top = sq_gettop(vm);
    bool alive = env.push(vm) && sq_gettype(vm, -1) != OT_NULL;
    sq_settop(vm, top);
    return alive;
  }

  template <class... A>
  R operator()(const A&... args) const {
    if (!vm) throw SquirrelError("SqFunc<> call failed");
    SQInteger top = sq_gettop(vm);
    func.push(vm);
    if (!env.push(vm) || (env.isWeak() && sq_gettype(vm, -1) == OT_NULL)) {
      sq_settop(vm, top);
      throw SquirrelError("SqFunc: can't deref weakptr to object");
    }
    (push_value(vm, args), ...);
    constexpr bool want = !std::is_void_v<R>;
    if (SQ_FAILED(sq_call(vm, 1 + (SQInteger)sizeof...(A), want ? SQTrue : SQFalse, SQTrue))) {
      sq_settop(vm, top);
      throw SqCallFailed();
    }
    if constexpr (want) {
      struct Restore {
        HSQUIRRELVM v;
        SQInteger t;
        ~Restore() { sq_settop(v, t); }
      } restore{vm, top};
      return Result<R>::get(vm, -1);
    } else {
      sq_settop(vm, top);
    }
  }
};

template <>
struct Result<bool> {
  // A script result counts as true or false by the language's own rule.
  static bool get(HSQUIRRELVM v, SQInteger i) {
    SQBool b = SQFalse;
    sq_tobool(v, i, &b);
    return b != SQFalse;
  }
};

// ---- thunks

// Passes an error caught in a thunk on to the calling script.
SQInteger throw_to_script(HSQUIRRELVM v, const SquirrelError& e);
SQInteger rethrow_call_failure(HSQUIRRELVM v);

template <class R, class... A, size_t... I>
SQInteger call_native(HSQUIRRELVM v, R (*fn)(A...), std::index_sequence<I...>) {
  // A braced list reads the arguments in order, so the first bad one is reported.
  std::tuple<std::decay_t<A>...> args{Arg<std::decay_t<A>>::get(v, (SQInteger)(I + 2))...};
  if constexpr (std::is_void_v<R>) {
    fn(std::get<I>(args)...);
    return 0;
  } else {
    R r = fn(std::get<I>(args)...);
    push_result(v, r);
    return 1;
  }
}

template <class R, class... A>
SQInteger function_thunk(HSQUIRRELVM v) {
  SQUserPointer up = nullptr;
  sq_getuserpointer(v, sq_gettop(v), &up);
  if (!up) return sq_throwerror(v, "no function stored for C++ call");
  sq_poptop(v);
  try {
    return call_native(v, (R(*)(A...))up, std::index_sequence_for<A...>{});
  } catch (const SqCallFailed&) {
    return rethrow_call_failure(v);
  } catch (const SquirrelError& e) {
    return throw_to_script(v, e);
  }
}

template <class C, class M, class R, class... A, size_t... I>
SQInteger call_method(HSQUIRRELVM v, C* self, M m, std::index_sequence<I...>) {
  std::tuple<std::decay_t<A>...> args{Arg<std::decay_t<A>>::get(v, (SQInteger)(I + 2))...};
  if constexpr (std::is_void_v<R>) {
    (self->*m)(std::get<I>(args)...);
    return 0;
  } else {
    R r = (self->*m)(std::get<I>(args)...);
    push_result(v, r);
    return 1;
  }
}

template <class C, class M, class R, class... A>
SQInteger method_thunk(HSQUIRRELVM v) {
  SQUserPointer self = nullptr;
  if (SQ_FAILED(sq_getinstanceup(v, 1, &self, class_tag<C>())) || !self)
    return sq_throwerror(v, "invalid 'this' in C++ method call");
  SQUserPointer ud = nullptr, tag = nullptr;
  sq_getuserdata(v, sq_gettop(v), &ud, &tag);
  if (!ud) return sq_throwerror(v, "no method stored for C++ call");
  M m;
  memcpy((void*)&m, ud, sizeof(M));
  sq_poptop(v);
  try {
    return call_method<C, M, R, A...>(v, (C*)self, m, std::index_sequence_for<A...>{});
  } catch (const SqCallFailed&) {
    return rethrow_call_failure(v);
  } catch (const SquirrelError& e) {
    return throw_to_script(v, e);
  }
}

// A method written as a free function whose first parameter is the
// instance: `this` (stack slot 1) is read with C's tag, the arguments
// follow from slot 2.
template <class C, class R, class... A, size_t... I>
SQInteger call_this_function(HSQUIRRELVM v, C* self, R (*fn)(C*, A...), std::index_sequence<I...>) {
  std::tuple<std::decay_t<A>...> args{Arg<std::decay_t<A>>::get(v, (SQInteger)(I + 2))...};
  if constexpr (std::is_void_v<R>) {
    fn(self, std::get<I>(args)...);
    return 0;
  } else {
    R r = fn(self, std::get<I>(args)...);
    push_result(v, r);
    return 1;
  }
}

template <class C, class R, class... A>
SQInteger this_function_thunk(HSQUIRRELVM v) {
  SQUserPointer self = nullptr;
  if (SQ_FAILED(sq_getinstanceup(v, 1, &self, class_tag<C>())) || !self)
    return sq_throwerror(v, "invalid 'this' in C++ method call");
  SQUserPointer up = nullptr;
  sq_getuserpointer(v, sq_gettop(v), &up);
  if (!up) return sq_throwerror(v, "no method stored for C++ call");
  sq_poptop(v);
  try {
    return call_this_function(v, (C*)self, (R(*)(C*, A...))up, std::index_sequence_for<A...>{});
  } catch (const SqCallFailed&) {
    return rethrow_call_failure(v);
  } catch (const SquirrelError& e) {
    return throw_to_script(v, e);
  }
}

// A constructor's factory reads the script arguments (slot 2 on), builds the
// native object and calls init_instance.
typedef void (*Factory)(HSQUIRRELVM v);
SQInteger constructor_thunk_impl(HSQUIRRELVM v, SQUserPointer tag);
template <class C>
SQInteger constructor_thunk(HSQUIRRELVM v) {
  return constructor_thunk_impl(v, class_tag<C>());
}

// ---- registration (into a table or class; failures are fatal)

// A native closure with one free variable: the user pointer up.
void register_closure(const SqObject& target, const char* name, SQFUNCTION thunk, SQUserPointer up);
// A native closure with the member pointer copied into a userdata free variable.
void register_closure_ud(const SqObject& target, const char* name, SQFUNCTION thunk, const void* data,
                         int size);
// A plain native function with no free variable (reads its own arguments).
void register_raw(const SqObject& target, const char* name, SQFUNCTION fn);

template <class R, class... A>
void register_function(const SqObject& target, const char* name, R (*fn)(A...)) {
  register_closure(target, name, &function_thunk<R, A...>, (SQUserPointer)fn);
}
template <class C, class R, class... A>
void register_method(const SqObject& target, const char* name, R (C::*m)(A...)) {
  typedef R (C::*M)(A...);
  register_closure_ud(target, name, &method_thunk<C, M, R, A...>, &m, (int)sizeof(M));
}
template <class C, class R, class... A>
void register_method(const SqObject& target, const char* name, R (C::*m)(A...) const) {
  typedef R (C::*M)(A...) const;
  register_closure_ud(target, name, &method_thunk<C, M, R, A...>, &m, (int)sizeof(M));
}
template <class C, class R, class... A>
void register_this_function(const SqObject& target, const char* name, R (*fn)(C*, A...)) {
  register_closure(target, name, &this_function_thunk<C, R, A...>, (SQUserPointer)fn);
}
template <class C>
void register_constructor(const SqObject& cls, Factory factory) {
  register_closure(cls, "constructor", &constructor_thunk<C>, (SQUserPointer)factory);
}

// ---- machines and files

// A machine with the program's print and error handlers: script output and
// errors go to the log; compile errors read "bin/%s(%d,%d): error: %s".
HSQUIRRELVM create_vm(int initial_stack);
// Collects garbage and closes; null is ignored.
void close_vm(HSQUIRRELVM vm);
// Compiles a whole file; on success the closure stays pushed. Errors go
// through the handlers; the source name is the path relative to the
// application folder when the file lies inside it.
bool compile_file(HSQUIRRELVM vm, const char* path);
// Compiles and runs a file with the root table as `this`.
bool run_file(HSQUIRRELVM vm, const char* path);
// Compiles a text held in memory (the closure stays pushed on success).
bool compile_buffer(HSQUIRRELVM vm, const char* text, int len, const char* source_name);
// Compiles and runs a text with the root table as `this`.
bool run_buffer(HSQUIRRELVM vm, const char* text, int len, const char* source_name);

// Sets slot `name` of the object on top of the stack to the value on top
// (popping it); new slots are made.
void set_slot(HSQUIRRELVM v, const char* name);
// Root-table constants.
void set_root_int(HSQUIRRELVM v, const char* name, int value);
void set_root_string(HSQUIRRELVM v, const char* name, const char* value);
void set_root_object(HSQUIRRELVM v, const char* name, const SqObject& value);

}  // namespace sqbind

// Logs a short description of a script value.
void sq_debug_object(const HSQOBJECT& obj);
