// The script data serializer: plain data, references and the object graph
// (see scriptData.h for the encoding).
#include "script/scriptData.h"
#include <cstdio>
#include <cstring>
#include "lib/check.h"
#include "lib/dynArray.h"
#include "objects/base_object.h"
#include "objects/gameobj_ops.h"
#include "squirrel/sqobject.h"
#include "world/scriptGrids.h"

using sqbind::SqObject;

// ---- the object list

namespace {

// Listed objects in registration order (strong references).
DynArray<SqObject> listed;
// Writers look objects up by identity: an open-addressing table over the
// value word, each slot holding a list index + 1 (0 = empty). Readers never
// search, so the table is filled lazily, only when a writer asks.
DynArray<int> index_slots;
int indexed = 0;  // listed objects already in index_slots

unsigned hash_word(uint64_t k) {
  k ^= k >> 33;
  k *= 0xff51afd7ed558ccdull;
  k ^= k >> 33;
  return (unsigned)k;
}

void index_insert(int i) {
  unsigned mask = (unsigned)index_slots.count() - 1;
  unsigned at = hash_word(listed[i].obj._unVal.raw) & mask;
  while (index_slots[at]) at = (at + 1) & mask;
  index_slots[at] = i + 1;
}

// Index of the listed object with the same identity, or -1.
int find_listed(const HSQOBJECT& o) {
  if (indexed < listed.count()) {
    if (listed.count() * 2 > index_slots.count()) {
      int size = 64;
      while (size < listed.count() * 4) size *= 2;
      index_slots.clear();
      index_slots.resize(size);
      indexed = 0;
    }
    for (; indexed < listed.count(); indexed++) index_insert(indexed);
  }
  if (index_slots.empty()) return -1;
  unsigned mask = (unsigned)index_slots.count() - 1;
  for (unsigned at = hash_word(o._unVal.raw) & mask;; at = (at + 1) & mask) {
    int s = index_slots[at];
    if (s == 0) return -1;
    const HSQOBJECT& l = listed[s - 1].obj;
    if (l._type == o._type && l._unVal.raw == o._unVal.raw) return s - 1;
  }
}

int register_object(HSQUIRRELVM v, const HSQOBJECT& o) { return listed.push_back(SqObject(v, o)); }

// Pops nothing; registers the value on top of the stack.
void register_top(HSQUIRRELVM v) {
  HSQOBJECT o;
  sq_getstackobj(v, -1, &o);
  register_object(v, o);
}

enum class Level { Data, Ref, Graph };

// Restores the stack height when a read or write leaves by an exception.
struct StackGuard {
  HSQUIRRELVM v;
  SQInteger top;
  explicit StackGuard(HSQUIRRELVM vm) : v(vm), top(vm ? sq_gettop(vm) : 0) {}
  ~StackGuard() {
    if (v) sq_settop(v, top);
  }
};

// The instance's native pointer when its class or a base carries the tag
// (found without the interface call, which builds an error text on every
// mismatch); `tagged` tells whether it does.
SQUserPointer tagged_up(const HSQOBJECT& inst, SQUserPointer tag, bool& tagged) {
  tagged = false;
  if (inst._type != OT_INSTANCE) return nullptr;
  for (SQClass* c = inst._unVal.pInstance->klass; c; c = c->base)
    if (c->typetag == tag) {
      tagged = true;
      return inst._unVal.pInstance->up;
    }
  return nullptr;
}

bool same_proto(const HSQOBJECT& a, SQFunctionProto* proto) {
  return a._type == OT_CLOSURE && a._unVal.pClosure->proto == proto;
}

// ---- writing

struct Writer {
  OutputStream& s;
  HSQUIRRELVM v;
  Level level;
  int depth = 0;

  // Small writes gather here and go to the stream in blocks.
  uint8_t buf[4096];
  int used = 0;

  [[noreturn]] void fail(const char* msg) { throw OutputStream::Exception(msg, -1); }
  [[noreturn]] void fail_type(const char* format, SQObjectType t) {
    char msg[96];
    snprintf(msg, sizeof(msg), format, (unsigned)t);
    fail(msg);
  }
  void flush() {
    if (used) s.write(buf, used);
    used = 0;
  }
  void put(const void* p, int n) {
    if (used + n > (int)sizeof(buf)) flush();
    if (n >= (int)sizeof(buf)) {
      s.write(p, n);
      return;
    }
    memcpy(buf + used, p, n);
    used += n;
  }
  void byte(uint8_t b) { put(&b, 1); }
  void int32(int x) { put(&x, 4); }

  void enter() {
    if (++depth > MAX_SCRIPT_DATA_DEPTH) fail("script data nested too deeply");
  }

  void value(const HSQOBJECT& o) {
    switch (o._type) {
      case OT_NULL: byte(SD_NULL); return;
      case OT_BOOL:
        byte(SD_BOOL);
        byte(sq_objtobool(&o) ? 1 : 0);
        return;
      case OT_INTEGER:
        byte(SD_INTEGER);
        int32(sq_objtointeger(&o));
        return;
      case OT_FLOAT: {
        byte(SD_FLOAT);
        float f = sq_objtofloat(&o);
        put(&f, 4);
        return;
      }
      case OT_STRING:
        byte(SD_STRING);
        int32(o._unVal.pString->len);
        put(o._unVal.pString->val, o._unVal.pString->len);
        return;
      case OT_WEAKREF:
        // A weak reference stored in a container reads as its target.
        value(o._unVal.pWeakRef->target);
        return;
      case OT_ARRAY:
      case OT_TABLE:
        if (level == Level::Graph && listed_or_new(o)) return;
        enter();
        if (o._type == OT_ARRAY)
          array(o);
        else
          table(o);
        depth--;
        return;
      case OT_INSTANCE:
        if (level == Level::Data) break;
        if (level == Level::Ref) {
          ref_instance(o);
          return;
        }
        if (listed_or_new(o)) return;
        enter();
        instance(o);
        depth--;
        return;
      case OT_CLOSURE:
        if (level == Level::Data) break;
        enter();
        closure(o);
        depth--;
        return;
      default: break;
    }
    fail_type(level == Level::Ref ? "unsupported Squirrel ref/data type %X" : "unsupported Squirrel data type %X",
              o._type);
  }

  // An object already listed is written as a reference (true); a new one is
  // listed and announced by the new-object byte (false).
  bool listed_or_new(const HSQOBJECT& o) {
    int i = find_listed(o);
    if (i >= 0) {
      byte(SD_OBJECT_REF);
      int32(i);
      return true;
    }
    register_object(v, o);
    byte(SD_NEW_OBJECT);
    return false;
  }

  void array(const HSQOBJECT& o) {
    SQArray* a = o._unVal.pArray;
    byte(SD_ARRAY);
    int n = (int)a->size;
    int32(n);
    StackGuard guard(v);
    sq_pushobject(v, o);  // keeps the array alive while its elements are written
    for (int i = 0; i < n && i < (int)a->size; i++) {
      sq_pushinteger(v, i);
      if (SQ_FAILED(sq_rawget(v, -2))) fail("can't read array element");
      HSQOBJECT e;
      sq_getstackobj(v, -1, &e);
      value(e);
      sq_poptop(v);
    }
    // An element's own writing cannot shrink the array (no script runs),
    // but the count stays honest if it ever did.
    if ((int)a->size != n) fail("array changed while it was written");
  }

  // Counts are written as 0 and patched once the items are out.
  int begin_count() {
    flush();
    int at = s.position();
    int32(0);
    return at;
  }
  void patch_count(int at, int count) {
    flush();
    int end = s.position();
    s.seekTo(at);
    s.writeValue(count);
    s.seekTo(end);
  }

  void table(const HSQOBJECT& o) {
    byte(SD_TABLE);
    int at = begin_count(), count = 0;
    StackGuard guard(v);
    sq_pushobject(v, o);
    sq_pushnull(v);
    while (SQ_SUCCEEDED(sq_next(v, -2))) {
      HSQOBJECT key, val;
      sq_getstackobj(v, -2, &key);
      sq_getstackobj(v, -1, &val);
      value(key);
      value(val);
      count++;
      sq_pop(v, 2);
    }
    patch_count(at, count);
  }

  void instance(const HSQOBJECT& o) {
    StackGuard guard(v);
    sq_pushobject(v, o);
    bool native;
    SQUserPointer up = tagged_up(o, sqbind::class_tag<BaseObject>(), native);
    if (native) {
      if (!up) fail("Native instance pointer is null");
      byte(SD_GAMEOBJ);
      int32(((BaseObject*)up)->ser_id);
      return;
    }
    if (o._unVal.pInstance->up) {
      flush();  // the custom writer writes to the stream itself
      if (save_custom_script_instance(SqObject(v, o), s)) return;
      fail("Unsupported native instance");
    }

    byte(SD_INSTANCE);
    sq_getclass(v, -1);
    HSQOBJECT cls;
    sq_getstackobj(v, -1, &cls);
    // By index: writing a member may add the layouts of other classes.
    int li = class_layout(cls);
    HSQOBJECT name = layouts[li].name;
    value(name);
    // The members whose attributes have a slot "persistent", with the
    // instance's current values.
    int n = layouts[li].persistent.count();
    int32(n);
    for (int k = 0; k < n; k++) {
      HSQOBJECT key = layouts[li].persistent[k];
      SQInteger top = sq_gettop(v);
      sq_pushobject(v, o);
      sq_pushobject(v, key);
      if (SQ_FAILED(sq_get(v, -2))) fail("can't read instance member");
      HSQOBJECT val;
      sq_getstackobj(v, -1, &val);
      value(key);
      value(val);
      sq_settop(v, top);
    }
  }

  // What writing an instance needs of its class, found once per class and
  // call: its root-table name and its persistent members in member order
  // (the class keeps both alive).
  struct ClassLayout {
    SQClass* cls;
    HSQOBJECT name;
    DynArray<HSQOBJECT> persistent;
  };
  DynArray<ClassLayout> layouts;

  int class_layout(const HSQOBJECT& cls) {
    for (int i = 0; i < layouts.count(); i++)
      if (layouts[i].cls == cls._unVal.pClass) return i;
    ClassLayout l;
    l.cls = cls._unVal.pClass;
    if (!root_key_of(cls, l.name)) fail("Cannot find instance class name");
    SQInteger top = sq_gettop(v);
    sq_pushobject(v, cls);
    sq_pushnull(v);
    while (SQ_SUCCEEDED(sq_next(v, -2))) {
      HSQOBJECT key;
      sq_getstackobj(v, -2, &key);
      if (persistent(cls, key)) l.persistent.push_back(key);
      sq_pop(v, 2);
    }
    sq_settop(v, top);
    return layouts.push_back(std::move(l));
  }

  // Whether the member's attributes are a table with a slot "persistent".
  bool persistent(const HSQOBJECT& cls, const HSQOBJECT& key) {
    SQInteger top = sq_gettop(v);
    sq_pushobject(v, cls);
    sq_pushobject(v, key);
    bool yes = SQ_SUCCEEDED(sq_getattributes(v, -2)) && sq_gettype(v, -1) == OT_TABLE;
    if (yes) {
      sq_pushstring(v, "persistent", -1);
      yes = SQ_SUCCEEDED(sq_rawget(v, -2));
    }
    sq_settop(v, top);
    return yes;
  }

  // The root-table key whose value is exactly `target`.
  bool root_key_of(const HSQOBJECT& target, HSQOBJECT& key_out) {
    sq_pushroottable(v);
    sq_pushnull(v);
    while (SQ_SUCCEEDED(sq_next(v, -2))) {
      HSQOBJECT val;
      sq_getstackobj(v, -1, &val);
      if (val._type == target._type && val._unVal.raw == target._unVal.raw) {
        sq_getstackobj(v, -2, &key_out);
        // The key stays referenced by the root table.
        sq_pop(v, 4);
        return true;
      }
      sq_pop(v, 2);
    }
    sq_pop(v, 2);
    return false;
  }

  void ref_instance(const HSQOBJECT& o) {
    int i = find_listed(o);
    if (i >= 0) {
      byte(SD_OBJECT_REF);
      int32(i);
      return;
    }
    bool native;
    SQUserPointer up = tagged_up(o, sqbind::class_tag<BaseObject>(), native);
    if (!native) fail("Reference to unsaved instance");
    if (!up) fail("Native instance pointer is null");
    byte(SD_GAMEOBJ);
    int32(((BaseObject*)up)->ser_id);
  }

  // A script function goes by where it is found: a root slot holding a
  // closure of the same prototype (7), else a method of a class in a root
  // slot whose base does not have that same method (8).
  void closure(const HSQOBJECT& o) {
    SQFunctionProto* proto = o._unVal.pClosure->proto;
    StackGuard guard(v);
    sq_pushroottable(v);
    sq_pushnull(v);
    while (SQ_SUCCEEDED(sq_next(v, -2))) {
      HSQOBJECT key, val;
      sq_getstackobj(v, -2, &key);
      sq_getstackobj(v, -1, &val);
      if (same_proto(val, proto)) {
        byte(SD_FUNCTION);
        plain(key);
        environment(o);
        return;
      }
      sq_pop(v, 2);
    }
    sq_settop(v, guard.top);
    sq_pushroottable(v);
    sq_pushnull(v);
    while (SQ_SUCCEEDED(sq_next(v, -2))) {
      HSQOBJECT cls_key, cls;
      sq_getstackobj(v, -2, &cls_key);
      sq_getstackobj(v, -1, &cls);
      HSQOBJECT member;
      if (cls._type == OT_CLASS && own_method(cls, proto, member)) {
        byte(SD_METHOD);
        plain(cls_key);
        plain(member);
        environment(o);
        return;
      }
      sq_pop(v, 2);
    }
    fail("Cannot find Squirrel function name");
  }

  // A member of cls that is a closure of proto and not inherited unchanged
  // from the base class; its key goes to member_key.
  bool own_method(const HSQOBJECT& cls, SQFunctionProto* proto, HSQOBJECT& member_key) {
    SQClass* base = cls._unVal.pClass->base;
    SQInteger top = sq_gettop(v);
    sq_pushobject(v, cls);
    sq_pushnull(v);
    bool found = false;
    while (!found && SQ_SUCCEEDED(sq_next(v, -2))) {
      HSQOBJECT key, val;
      sq_getstackobj(v, -2, &key);
      sq_getstackobj(v, -1, &val);
      if (same_proto(val, proto)) {
        SQObject inherited;
        bool in_base = base && class_get(base, key, inherited) && same_proto(inherited, proto);
        if (!in_base) {
          member_key = key;  // kept alive by the class's member table
          found = true;
        }
      }
      sq_pop(v, 2);
    }
    sq_settop(v, top);
    return found;
  }

  void plain(const HSQOBJECT& o) {
    Level keep = level;
    level = Level::Data;
    value(o);
    level = keep;
  }

  void environment(const HSQOBJECT& closure) {
    const SQObject& env = closure._unVal.pClosure->env;
    if (env._type == OT_NULL) {
      byte(SD_NULL);
      return;
    }
    value(env);  // a dead weak reference writes null
  }
};

void write_top(const SqObject& value, OutputStream& s, Level level) {
  HSQUIRRELVM v = value.vm;
  if (!v) {
    // A handle without a machine holds no reference-counted value.
    Writer w{s, nullptr, level};
    w.value(value.obj);
    w.flush();
    return;
  }
  Writer w{s, v, level};
  StackGuard guard(v);
  value.push(v);  // a dead weak reference pushes null
  HSQOBJECT o;
  sq_getstackobj(v, -1, &o);
  w.value(o);
  w.flush();
}

// ---- reading

struct Reader {
  InputStream& s;
  HSQUIRRELVM v;
  Level level;  // Data reads plain data only; otherwise any encoding
  int end;      // the stream's size
  int depth = 0;

  [[noreturn]] void fail(const char* msg) { throw InputStream::Exception(msg, s.position()); }
  int left() { return end - s.position(); }

  uint8_t byte() {
    uint8_t b;
    s.read(&b, 1);
    return b;
  }
  int int32() {
    int x;
    s.readValue(x);
    return x;
  }
  // A count of items of at least `each` bytes, checked against what is left
  // before anything is made for it.
  int count(int each, const char* what) {
    int n = int32();
    if (n < 0 || (int64_t)n * each > left()) {
      char msg[128];
      snprintf(msg, sizeof(msg), "%s %d does not fit in the %d bytes left", what, n, left());
      fail(msg);
    }
    return n;
  }
  void enter() {
    if (++depth > MAX_SCRIPT_DATA_DEPTH) fail("script data nested too deeply");
  }

  // The text of the value on top of the stack, for messages.
  const char* text_of_top(char* buf, int size) {
    const char* t = nullptr;
    if (SQ_SUCCEEDED(sq_getstring(v, -1, &t)) && t) return t;
    snprintf(buf, size, "?");
    return buf;
  }

  // Reads one value and pushes it: the stack grows by exactly one.
  void value() {
    SQInteger top = sq_gettop(v);
    uint8_t type = byte(), second = 0;
    switch (type) {
      case SD_NULL: sq_pushnull(v); break;
      case SD_BOOL: sq_pushbool(v, byte() ? SQTrue : SQFalse); break;
      case SD_INTEGER: sq_pushinteger(v, int32()); break;
      case SD_FLOAT: {
        float f;
        s.readValue(f);
        sq_pushfloat(v, f);
        break;
      }
      case SD_STRING: string(); break;
      case SD_ARRAY: array(false); break;
      case SD_TABLE: table(false); break;
      default:
        if (level == Level::Data) fail("unknown Squirrel data type");
        switch (type) {
          case SD_FUNCTION: function(); break;
          case SD_METHOD: method(); break;
          case SD_NEW_OBJECT: second = new_object(); break;
          case SD_OBJECT_REF: {
            int i = int32();
            if (i < 0 || i >= listed.count()) {
              debug("loaded index %d, have %d objects", i, listed.count());
              fail("script object ref index out of range");
            }
            listed[i].push(v);
            break;
          }
          case SD_GAMEOBJ: game_object(); break;
          default: fail("unknown Squirrel data type");
        }
    }
    if (sq_gettop(v) != top + 1)
      fatal("Squirrel stack mismatch (%d/%d) in loadScriptData, dataType: %d %d", (int)sq_gettop(v),
            (int)top + 1, type, second);
  }

  void string() {
    int n = count(1, "string length");
    char small[256];
    if (n <= (int)sizeof(small)) {
      s.read(small, n);
      sq_pushstring(v, small, n);
      return;
    }
    DynArray<char> buf;
    buf.resize(n);
    s.read(buf.data(), n);
    sq_pushstring(v, buf.data(), n);
  }

  void array(bool registered) {
    enter();
    int n = count(1, "array length");
    if ((uint32_t)n > SQ_MAX_ARRAY) fail("array too long");
    sq_newarray(v, n);
    if (registered) register_top(v);
    for (int i = 0; i < n; i++) {
      sq_pushinteger(v, i);
      value();
      if (SQ_FAILED(sq_rawset(v, -3))) fail("can't store array element");
    }
    depth--;
  }

  void table(bool registered) {
    enter();
    int n = count(2, "table size");
    sq_newtableex(v, n);
    if (registered) register_top(v);
    for (int i = 0; i < n; i++) {
      value();
      value();
      if (SQ_FAILED(sq_newslot(v, -3, SQFalse))) fail("can't add table slot");
    }
    depth--;
  }

  // Looks the value on top up in the root table (the name stays below the
  // result); false when absent.
  bool root_lookup() {
    sq_pushroottable(v);
    sq_push(v, -2);
    if (SQ_FAILED(sq_rawget(v, -2))) {
      sq_poptop(v);
      return false;
    }
    sq_remove(v, -2);
    return true;
  }

  [[noreturn]] void fail_missing(const char* format, const char* a, const char* b = "") {
    char msg[512];
    snprintf(msg, sizeof(msg), format, a, b);
    fail(msg);
  }

  void plain_value() {
    Level keep = level;
    level = Level::Data;
    value();
    level = keep;
  }

  // Stack on entry: the closure. Reads the environment and binds it.
  void bind_environment() {
    value();
    if (sq_gettype(v, -1) == OT_NULL) {
      sq_poptop(v);
      return;
    }
    if (SQ_FAILED(sq_bindenv(v, -2))) fail("Can't bind environment to closure");
    sq_remove(v, -2);
  }

  void function() {
    enter();
    SQInteger top = sq_gettop(v);
    plain_value();
    char buf[8];
    if (!root_lookup()) fail_missing("No '%s' %s in script", text_of_top(buf, sizeof(buf)), "function");
    sq_remove(v, top + 1);
    bind_environment();
    depth--;
  }

  void method() {
    enter();
    SQInteger top = sq_gettop(v);
    plain_value();  // class name
    char buf[8];
    if (!root_lookup()) fail_missing("No '%s' %s in script", text_of_top(buf, sizeof(buf)), "class");
    plain_value();  // method name; stack: class name, class, method name
    sq_push(v, -1);
    if (SQ_FAILED(sq_rawget(v, -3))) {
      char cbuf[8];
      const char* method_name = text_of_top(buf, sizeof(buf));
      sq_push(v, top + 1);
      fail_missing("No '%s' method in script class %s", method_name, text_of_top(cbuf, sizeof(cbuf)));
    }
    // stack: class name, class, method name, method
    sq_remove(v, -2);
    sq_remove(v, -2);
    sq_remove(v, -2);
    bind_environment();
    depth--;
  }

  uint8_t new_object() {
    uint8_t second = byte();
    switch (second) {
      case SD_ARRAY: array(true); break;
      case SD_TABLE: table(true); break;
      case SD_INSTANCE: instance(); break;
      case SD_GAMEOBJ:
        game_object();
        register_top(v);
        break;
      default:
        if (!load_custom_script_instance(second, s, v)) fail("unknown Squirrel data type");
        register_top(v);
    }
    return second;
  }

  void instance() {
    enter();
    SQInteger top = sq_gettop(v);
    plain_value();
    char buf[8];
    const char* name = text_of_top(buf, sizeof(buf));
    if (!root_lookup()) fail_missing("No '%s' %s in script", name, "class");
    if (SQ_FAILED(sq_createinstance(v, -1))) fail_missing("Can't create instance of %s", name);
    sq_remove(v, top + 1);
    sq_remove(v, top + 1);
    register_top(v);
    int n = count(2, "instance member count");
    for (int i = 0; i < n; i++) {
      value();
      value();
      if (SQ_FAILED(sq_set(v, -3))) fail("error setting Squirrel instance member value");
    }
    depth--;
  }

  void game_object() {
    int id = int32();
    BaseObject* o = get_gameobj_by_ser_id ? get_gameobj_by_ser_id(id) : nullptr;
    if (o)
      o->push(v);
    else
      sq_pushnull(v);
  }
};

SqObject read_top(InputStream& s, HSQUIRRELVM vm, Level level) {
  ASSERT(vm);
  int here = s.position();
  s.seekToEnd(0);
  int end = s.position();
  s.seekTo(here);
  Reader r{s, vm, level, end};
  StackGuard guard(vm);
  r.value();
  return SqObject::fromStack(vm, -1);
}

}  // namespace

// ---- interface

void save_data(const SqObject& value, OutputStream& s) { write_top(value, s, Level::Data); }
void save_ref(const SqObject& value, OutputStream& s) { write_top(value, s, Level::Ref); }
void save_script_data(const SqObject& value, OutputStream& s) { write_top(value, s, Level::Graph); }

SqObject load_data(InputStream& s, HSQUIRRELVM vm) { return read_top(s, vm, Level::Data); }
SqObject load_ref(InputStream& s, HSQUIRRELVM vm) { return read_top(s, vm, Level::Graph); }
SqObject load_script_data(InputStream& s, HSQUIRRELVM vm) { return read_top(s, vm, Level::Graph); }

void save_script_refs(OutputStream&) {
  debug("%d script objects saved", listed.count());
  clear_script_data_objects();
}

void clear_script_data_objects() {
  listed.release();
  index_slots.release();
  indexed = 0;
}

int script_data_object_count() { return listed.count(); }

void finish_loading_script_data(HSQUIRRELVM vm) {
  debug("%d script objects loaded", listed.count());
  if (listed.empty()) return;
  // The list empties whatever happens below.
  struct Clear {
    ~Clear() { clear_script_data_objects(); }
  } clear;
  StackGuard guard(vm);
  sq_pushroottable(vm);
  listed[0].push(vm);
  sq_pushnull(vm);
  while (SQ_SUCCEEDED(sq_next(vm, -2))) {
    const char* name = nullptr;
    if (SQ_SUCCEEDED(sq_getstring(vm, -2, &name)) && name) debug("setting script global %s", name);
    // root, globals, iterator, key, value -> a new or replaced root slot
    if (SQ_FAILED(sq_newslot(vm, -5, SQFalse))) sq_pop(vm, 2);
  }
  sq_settop(vm, guard.top);
  for (int i = 0; i < listed.count(); i++) {
    const SqObject& o = listed[i];
    if (o.isNull()) continue;
    // A native object whose object is gone has nothing to be told.
    if (o.type() == OT_INSTANCE) {
      sq_pushobject(vm, o.obj);
      SQUserPointer up = nullptr;
      bool native = SQ_SUCCEEDED(sq_getinstanceup(vm, -1, &up, sqbind::class_tag<BaseObject>()));
      sq_poptop(vm);
      if (native && !up) continue;
    }
    if (o.type() != OT_TABLE && o.type() != OT_INSTANCE) continue;
    sqbind::SqFunc<void> on_loaded(vm, o, "onLoaded");
    if (on_loaded.isValid()) on_loaded();
  }
}

// ---- BitMap, the one native class saved by value

bool save_custom_script_instance(const SqObject& value, OutputStream& s) {
  HSQUIRRELVM v = value.vm;
  if (!v || value.type() != OT_INSTANCE) return false;
  bool bitmap;
  SQUserPointer up = tagged_up(value.obj, sqbind::class_tag<BitMap>(), bitmap);
  if (!up) return false;
  uint8_t type = SD_BITMAP;
  s.write(&type, 1);
  s.write(((BitMap*)up)->words, (int)sizeof(BitMap::words));
  return true;
}

bool load_custom_script_instance(int type, InputStream& s, HSQUIRRELVM vm) {
  if (type != SD_BITMAP) return false;
  // Read first, so a short stream allocates nothing.
  uint32_t words[sizeof(BitMap::words) / 4];
  s.read(words, (int)sizeof(words));
  BitMap* map = sqbind::new_native<BitMap>();
  memcpy(map->words, words, sizeof(words));
  try {
    sqbind::push_instance(vm, map, sqbind::class_tag<BitMap>(), "BitMap", &sqbind::release_native<BitMap>);
  } catch (...) {
    sqbind::release_native<BitMap>(map, 0);
    throw;
  }
  return true;
}
