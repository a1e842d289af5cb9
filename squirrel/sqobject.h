// Internal object model of the interpreter: values, heap objects, the shared
// state and the thread (VM) structure.
//
// A value is an SQObject: a 4-byte type and an 8-byte payload. Integers and
// floats keep their upper 32 payload bits zero, so two values are the same
// table key exactly when type and raw payload are equal.
//
// Heap objects are reference counted. Objects that can be part of a cycle
// (containers, closures, classes...) are also linked into one list in the
// shared state, which the cycle collector (sqgc.cpp) walks.
#pragma once
#include "squirrel.h"
#include <cstdint>
#include <cstring>
#include <new>

struct SQSharedState;
struct SQOuter;

// Internal kinds of heap object (stored in each header).
enum SQKind : uint8_t {
  K_STRING, K_TABLE, K_ARRAY, K_USERDATA, K_CLOSURE, K_NATIVECLOSURE, K_GENERATOR,
  K_THREAD, K_FUNCPROTO, K_CLASS, K_INSTANCE, K_WEAKREF, K_OUTER
};

struct SQRefCounted {
  uint32_t refs;
  uint8_t kind;
  uint8_t gcflags;
  uint16_t spare;
  SQWeakRef* weakref;   // the one weak reference object pointing here, if any
  SQSharedState* ss;
};

// Objects that may take part in reference cycles.
struct SQCollectable : SQRefCounted {
  SQCollectable* gc_prev;
  SQCollectable* gc_next;
  int32_t gc_count;     // scratch for the cycle collector
  uint32_t gc_spare;
};

struct SQDelegable : SQCollectable {
  SQTable* delegate;
};

// ---- values ----
inline bool is_rc(const SQObject& o) { return (o._type & SQOBJECT_REF_COUNTED) != 0; }
inline SQRefCounted* rc_of(const SQObject& o) { return o._unVal.pRefCounted; }

void obj_destroy(SQRefCounted* p);   // the reference count reached zero

inline void rc_addref(SQRefCounted* p) { p->refs++; }
inline void rc_release(SQRefCounted* p) {
  if (--p->refs == 0) obj_destroy(p);
}
inline void obj_addref(const SQObject& o) {
  if (is_rc(o)) o._unVal.pRefCounted->refs++;
}
inline void obj_release(const SQObject& o) {
  if (is_rc(o) && --o._unVal.pRefCounted->refs == 0) obj_destroy(o._unVal.pRefCounted);
}

inline SQObject mk_null() {
  SQObject o;
  o._type = OT_NULL;
  o._unVal.raw = 0;
  return o;
}
inline SQObject mk_int(SQInteger n) {
  SQObject o;
  o._type = OT_INTEGER;
  o._unVal.raw = (uint32_t)n;
  return o;
}
inline SQObject mk_float(SQFloat f) {
  SQObject o;
  o._type = OT_FLOAT;
  o._unVal.raw = 0;
  o._unVal.fFloat = f;
  return o;
}
inline SQObject mk_bool(bool b) {
  SQObject o;
  o._type = OT_BOOL;
  o._unVal.raw = b ? 1 : 0;
  return o;
}
inline SQObject mk_userpointer(SQUserPointer p) {
  SQObject o;
  o._type = OT_USERPOINTER;
  o._unVal.raw = 0;
  o._unVal.pUserPointer = p;
  return o;
}
inline SQObject mk_obj(SQObjectType t, void* p) {
  SQObject o;
  o._type = t;
  o._unVal.raw = (SQRawObjectVal)(uintptr_t)p;
  return o;
}

// Values are read and written field by field (4-byte type, 8-byte payload),
// never as one 16-byte block: mixing the two widths defeats the processor's
// store-to-load forwarding in the instruction loop.
inline void obj_copy(SQObject& dst, const SQObject& src) {
  SQObjectType t = src._type;
  SQRawObjectVal r = src._unVal.raw;
  dst._type = t;
  dst._unVal.raw = r;
}

// dst = src, keeping reference counts.
inline void obj_set(SQObject& dst, const SQObject& src) {
  SQObjectType t = src._type;
  SQRawObjectVal r = src._unVal.raw;
  if (t & SQOBJECT_REF_COUNTED) ((SQRefCounted*)(uintptr_t)r)->refs++;
  SQObjectType ot = dst._type;
  SQRefCounted* op = dst._unVal.pRefCounted;
  dst._type = t;
  dst._unVal.raw = r;
  if ((ot & SQOBJECT_REF_COUNTED) && --op->refs == 0) obj_destroy(op);
}
// Stores a value that holds no reference, releasing what dst held.
inline void obj_store_plain(SQObject& dst, SQObjectType t, SQRawObjectVal r) {
  SQObjectType ot = dst._type;
  SQRefCounted* op = dst._unVal.pRefCounted;
  dst._type = t;
  dst._unVal.raw = r;
  if ((ot & SQOBJECT_REF_COUNTED) && --op->refs == 0) obj_destroy(op);
}
inline void obj_setnull(SQObject& dst) { obj_store_plain(dst, OT_NULL, 0); }
inline void obj_setint(SQObject& dst, SQInteger n) { obj_store_plain(dst, OT_INTEGER, (uint32_t)n); }
inline void obj_setfloat(SQObject& dst, SQFloat f) {
  uint32_t bits;
  memcpy(&bits, &f, 4);
  obj_store_plain(dst, OT_FLOAT, bits);
}
inline void obj_setbool(SQObject& dst, bool b) { obj_store_plain(dst, OT_BOOL, b ? 1 : 0); }
// dst takes over the reference held by src (src's count is not touched).
inline void obj_assign_owned(SQObject& dst, const SQObject& src) {
  obj_store_plain(dst, src._type, src._unVal.raw);
}

inline bool obj_same(const SQObject& a, const SQObject& b) {
  return a._type == b._type && a._unVal.raw == b._unVal.raw;
}
inline bool obj_truthy(const SQObject& o) {
  if (o._type & SQOBJECT_CANBEFALSE) {
    if (o._type == OT_FLOAT) return o._unVal.fFloat != 0.0f;
    return (uint32_t)o._unVal.raw != 0;
  }
  return true;
}

// ---- a small growable array of trivially copyable items ----
void* sq_vec_grow(void* data, uint32_t& cap, uint32_t need, size_t item);
template <class T>
struct SQVec {
  T* data = nullptr;
  uint32_t size = 0;
  uint32_t cap = 0;
  void push(const T& v) {
    if (size == cap) data = (T*)sq_vec_grow(data, cap, size + 1, sizeof(T));
    data[size++] = v;
  }
  void reserve(uint32_t n) {
    if (n > cap) data = (T*)sq_vec_grow(data, cap, n, sizeof(T));
  }
  void free_storage() {
    if (data) sq_free(data, cap * sizeof(T));
    data = nullptr;
    size = cap = 0;
  }
  T& operator[](uint32_t i) { return data[i]; }
  const T& operator[](uint32_t i) const { return data[i]; }
  T& back() { return data[size - 1]; }
};

// ---- strings ----
struct SQString : SQRefCounted {
  SQString* hnext;  // chain in the intern table
  SQHash hash;
  SQInteger len;
  char val[1];
};
inline const char* str_chars(const SQObject& o) { return o._unVal.pString->val; }

SQString* str_new(SQSharedState* ss, const char* s, SQInteger len);  // interned; refs 0
SQString* str_concat(SQSharedState* ss, const char* a, SQInteger la, const char* b, SQInteger lb);
// A string of len bytes to fill in, then str_intern() it (which may return another, equal one).
SQString* str_alloc(SQSharedState* ss, SQInteger len);
SQString* str_intern(SQSharedState* ss, SQString* s);
inline SQObject mk_str(SQString* s) { return mk_obj(OT_STRING, s); }
SQObject mk_str(SQSharedState* ss, const char* s);   // returns a value with refs not taken
SQHash str_hash(const char* s, SQInteger len);

// ---- tables ----
// Chained scatter hashing with Brent's variation: a key lives in its main
// position or in a free node linked from there. Integer keys are placed by
// a modulo, so neighbouring keys get neighbouring nodes. A deleted key leaves
// its node in the chain, with key and value of type 0 (matching no key).
struct SQTableNode {
  SQObject val;          // _type 0: free or deleted
  SQObjectType keytype;  // OT_NULL: never used, 0: deleted
  int32_t next;          // next node of the chain, -1 at the end
  SQObjectValue key;
};
struct SQTable : SQDelegable {
  SQTableNode* nodes;
  uint32_t cap;       // 0 or a power of two
  uint32_t count;     // live keys
  uint32_t lastfree;  // free nodes are searched below this index
  uint32_t mod;       // (cap - 1) | 1
};

SQTable* table_new(SQSharedState* ss, uint32_t hint);
bool table_get(SQTable* t, const SQObject& key, SQObject& out);  // out not refcounted; caller copies
void table_set(SQTable* t, const SQObject& key, const SQObject& val);  // insert or overwrite
bool table_remove(SQTable* t, const SQObject& key, SQObject* oldval);  // oldval gets the ref
int32_t table_next(SQTable* t, int32_t pos, SQObject* key, SQObject* val);  // next slot >= pos or -1
void table_clear(SQTable* t);
SQTable* table_clone(SQTable* t);

inline SQHash obj_hash(const SQObject& key) {
  if (key._type == OT_STRING) return key._unVal.pString->hash;
  uint64_t r = key._unVal.raw;
  return (uint32_t)(r ^ (r >> 29));
}
inline uint32_t table_mainpos(const SQTable* t, SQObjectType type, SQRawObjectVal raw) {
  if (type == OT_INTEGER) return (uint32_t)raw % t->mod;
  if (type == OT_STRING) return ((SQString*)(uintptr_t)raw)->hash & (t->cap - 1);
  uint64_t h = (raw ^ (raw >> 29)) * 0x9E3779B97F4A7C15ull;
  return (uint32_t)(h >> 32) & (t->cap - 1);
}

// The value slot of key, or null.
inline SQObject* table_find(SQTable* t, const SQObject& key) {
  if (!t->cap) return nullptr;
  int32_t i = (int32_t)table_mainpos(t, key._type, key._unVal.raw);
  do {
    SQTableNode& n = t->nodes[i];
    if (n.key.raw == key._unVal.raw && n.keytype == key._type) return n.val._type ? &n.val : nullptr;
    i = n.next;
  } while (i >= 0);
  return nullptr;
}
inline SQObject* table_findint(SQTable* t, SQInteger key) {
  if (!t->cap) return nullptr;
  int32_t i = (int32_t)((uint32_t)key % t->mod);
  SQRawObjectVal raw = (uint32_t)key;
  do {
    SQTableNode& n = t->nodes[i];
    if (n.key.raw == raw && n.keytype == OT_INTEGER) return &n.val;
    i = n.next;
  } while (i >= 0);
  return nullptr;
}
inline SQObject* table_findstr(SQTable* t, SQString* key) {
  if (!t->cap) return nullptr;
  int32_t i = (int32_t)(key->hash & (t->cap - 1));
  SQRawObjectVal raw = (SQRawObjectVal)(uintptr_t)key;
  do {
    SQTableNode& n = t->nodes[i];
    if (n.key.raw == raw && n.keytype == OT_STRING) return n.val._type ? &n.val : nullptr;
    i = n.next;
  } while (i >= 0);
  return nullptr;
}

// ---- arrays ----
struct SQArray : SQCollectable {
  SQObject* vals;
  uint32_t size;
  uint32_t cap;
};
SQArray* array_new(SQSharedState* ss, uint32_t size);
void array_push(SQArray* a, const SQObject& v);
void array_resize(SQArray* a, uint32_t n, const SQObject& fill);
void array_reserve(SQArray* a, uint32_t n);
bool array_insert(SQArray* a, uint32_t pos, const SQObject& v);
bool array_remove(SQArray* a, uint32_t pos);
SQArray* array_clone(SQArray* a);
// Limits that turn runaway growth into script errors instead of exhausting memory.
constexpr uint32_t SQ_MAX_ARRAY = 1u << 24;   // elements of an array
constexpr uint32_t SQ_MAX_TABLE = 1u << 24;   // slots of a table
constexpr int64_t SQ_MAX_STRING = 1 << 26;    // bytes of a string built by a script

// ---- functions ----
struct SQInstruction {
  uint8_t op;
  uint8_t a;
  uint8_t b;
  uint8_t c;
  int32_t d;
};

struct SQOuterInfo {
  uint8_t from_local;  // 1: a register of the enclosing function, 0: one of its outers
  uint8_t index;
  uint16_t spare;
  SQString* name;
};
struct SQLocalVarInfo {
  SQString* name;
  uint32_t start_pc;
  uint32_t end_pc;
  uint32_t reg;
};
struct SQLineInfo {
  uint32_t pc;
  int32_t line;
};

struct SQFunctionProto : SQRefCounted {
  SQInstruction* code;
  SQObject* literals;
  SQFunctionProto** functions;
  SQOuterInfo* outers;
  SQLocalVarInfo* locals;
  SQLineInfo* lines;
  uint32_t ncode, nliterals, nfunctions, nouters, nlocals, nlines;
  uint32_t nparams;     // including 'this'
  uint32_t ndefaults;   // the last ndefaults parameters have default values
  uint32_t stacksize;
  int32_t fastargs;     // nparams when calls need no argument adjustment, else -1
  bool varparams;
  bool generator;
  bool debuginfo;       // compiled with debug information: the debug hook gets line events
  SQString* name;
  SQString* source;
};
SQFunctionProto* proto_new(SQSharedState* ss);

struct SQOuter : SQCollectable {
  SQObject* valptr;  // into a stack while open, to 'value' once closed
  SQObject value;
  SQOuter* next;     // open list, highest stack index first
  int32_t stackidx;
};

struct SQClosure : SQCollectable {
  SQFunctionProto* proto;
  SQObject env;        // a weak reference bound with bindenv, or null
  SQClass* base;       // base class of the class the method was added to
  SQObject* defaults;  // proto->ndefaults values
  SQOuter* outers[1];
};
SQClosure* closure_new(SQSharedState* ss, SQFunctionProto* p);

struct SQNativeClosure : SQCollectable {
  SQFUNCTION fn;
  SQInteger nparamscheck;
  SQInteger* typecheck;  // masks of accepted types per parameter
  uint32_t ntypecheck;
  uint32_t nouters;
  SQString* name;
  SQObject env;
  SQObject outers[1];
};
SQNativeClosure* nclosure_new(SQSharedState* ss, SQFUNCTION fn, uint32_t nouters);

// ---- classes ----
enum SQMetaMethod {
  MT_ADD, MT_SUB, MT_MUL, MT_DIV, MT_UNM, MT_MODULO, MT_SET, MT_GET, MT_TYPEOF, MT_NEXTI,
  MT_CMP, MT_CALL, MT_CLONED, MT_NEWSLOT, MT_DELSLOT, MT_TOSTRING, MT_NEWMEMBER, MT_INHERITED,
  MT_LAST
};

struct SQClassMember {
  SQObject val;
  SQObject attrs;
};
// A member index stored in SQClass::members: its kind in the high bits.
constexpr SQInteger MEMBER_FIELD = 0x02000000;
constexpr SQInteger MEMBER_METHOD = 0x01000000;
constexpr SQInteger MEMBER_INDEX = 0x00FFFFFF;

struct SQClass : SQCollectable {
  SQClass* base;
  SQTable* members;
  SQVec<SQClassMember> fields;   // default values of instance fields
  SQVec<SQClassMember> methods;  // methods and static members
  SQObject metamethods[MT_LAST];
  SQObject attributes;
  SQInteger constructor;  // method index or -1
  SQUserPointer typetag;
  SQRELEASEHOOK hook;
  SQInteger udsize;
  bool locked;
};
SQClass* class_new(SQSharedState* ss, SQClass* base);
// Adds or replaces a member. Fails (false) when a field is added to a class that has instances.
bool class_newslot(SQClass* c, const SQObject& key, const SQObject& val, bool isstatic);
bool class_get(SQClass* c, const SQObject& key, SQObject& out);

struct SQInstance : SQCollectable {
  SQClass* klass;
  SQUserPointer up;
  SQRELEASEHOOK hook;
  uint32_t nvalues;
  uint32_t spare;
  SQObject values[1];
};
SQInstance* instance_new(SQSharedState* ss, SQClass* c);
bool instance_get(SQInstance* i, const SQObject& key, SQObject& out);
bool instance_instanceof(SQInstance* i, SQClass* c);

struct SQUserData : SQDelegable {
  SQInteger size;
  SQRELEASEHOOK hook;
  SQUserPointer typetag;
  uint64_t pad;
  alignas(16) unsigned char data[1];
};
SQUserData* userdata_new(SQSharedState* ss, SQUnsignedInteger size);

struct SQWeakRef : SQRefCounted {
  SQObject target;   // not counted
};
SQObject obj_weakref(SQSharedState* ss, const SQObject& o);   // returns value without a taken ref

// The value a container slot yields: weak references read through.
inline const SQObject& realval(const SQObject& o) {
  return o._type == OT_WEAKREF ? o._unVal.pWeakRef->target : o;
}

// ---- threads ----
struct SQCallInfo {
  const SQInstruction* ip;
  SQClosure* closure;     // null for a native function
  SQObject* literals;
  int32_t base;           // stack index of 'this'
  int32_t top;            // stack top while this frame runs (natives) / base+stacksize
  int32_t target;         // stack slot receiving the result, -1: none
  int32_t ntraps;         // traps pushed before this frame
  int32_t prevtop;        // stack top before the call
  uint8_t flags;
  SQGenerator* generator;
};
// CI_OWNSCLOSURE: a tail call in a root frame replaced its function; the frame
// holds a reference to the new one (the slot below the frame is the caller's).
enum : uint8_t {
  CI_ROOT = 1, CI_CONSTRUCTOR = 2, CI_GENERATOR = 4, CI_NATIVE = 8, CI_FOREACH = 16, CI_OWNSCLOSURE = 32
};

struct SQExceptionTrap {
  int32_t ncalls;      // depth of the frame owning the trap
  int32_t catchreg;    // absolute stack index receiving the error
  const SQInstruction* catch_ip;
};

struct SQGenerator : SQCollectable {
  enum State { SUSPENDED, RUNNING, DEAD };
  SQObject closure;
  SQVec<SQObject> stack;       // the saved frame
  SQVec<SQExceptionTrap> traps;
  const SQInstruction* ip;
  SQOuter* outers;             // outers open on the saved frame (stackidx relative)
  int32_t state;
  int32_t spare;
};

struct SQVM : SQCollectable {
  SQObject* stack;
  int32_t stacksize;
  int32_t top;
  int32_t base;
  int32_t ncalls;
  int32_t callcap;
  int32_t ntraps;
  int32_t trapcap;
  SQCallInfo* calls;
  SQExceptionTrap* traps;
  SQOuter* openouters;
  SQObject roottable;
  SQObject errorhandler;
  SQObject debughook;
  SQObject lasterror;
  SQObject retval;       // result of the last completed call
  SQDEBUGHOOK nativedebughook;
  SQUserPointer foreignptr;
  int32_t nested;        // nested runs of the interpreter loop (C recursion)
  int32_t state;         // SQ_VMSTATE_*
  int32_t suspend_target;
  int32_t suspend_root;  // frame whose return ends a suspended run
  bool error_notified;
  bool in_debughook;
  bool raiseerror;       // of the innermost call from the host or a native
  bool hooked;           // a debug hook is set
};

// ---- shared state ----
struct SQSharedState {
  SQString** strtab;
  uint32_t strcap;
  uint32_t strcount;
  SQCollectable gc_head;          // sentinel of the circular list of collectables
  SQObject registry;
  SQObject consttable;
  SQObject metanames[MT_LAST];
  SQObject constructorname;
  SQObject dd_table, dd_array, dd_string, dd_number, dd_closure, dd_generator, dd_thread,
      dd_class, dd_instance, dd_weakref;
  SQCOMPILERERROR compilererror;
  SQPRINTFUNCTION printfn;
  SQPRINTFUNCTION errorfn;
  bool debuginfo;
  bool notifyall;
  bool closing;
  char* scratch;
  SQInteger scratchsize;
  SQRefCounted* pending;          // objects waiting to be destroyed (iterative release)
  bool destroying;
  int32_t nested;                  // interpreter re-entries across all threads
  SQObject hostrefs;               // table: object -> count of sq_addref
  SQVM* rootvm;
};

void gc_link(SQSharedState* ss, SQCollectable* o, SQKind kind);
void* sq_alloc_obj(size_t size);

const char* type_name(SQObjectType t);
SQObjectType kind_type(uint8_t kind);
