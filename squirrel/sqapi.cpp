// The C interface. Every function checks its stack indices and argument
// types: a bad call reports an error (SQ_ERROR with a message in lasterror)
// or does nothing, it never touches memory it should not.
#include "sqcompiler.h"
#include "sqvm.h"
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Absolute stack slot of an API index, or -1 when it does not name a value.
inline int32_t slot_of(HSQUIRRELVM v, SQInteger idx) {
  int32_t s = idx > 0 ? v->base + idx - 1 : v->top + idx;
  if (idx == 0 || s < v->base || s >= v->top) return -1;
  return s;
}
inline SQObject* at(HSQUIRRELVM v, SQInteger idx) {
  int32_t s = slot_of(v, idx);
  return s < 0 ? nullptr : &v->stack[s];
}

SQRESULT fail(HSQUIRRELVM v, const char* fmt, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof(buf), fmt, ap);
  va_end(ap);
  vm_raise(v, "%s", buf);
  return SQ_ERROR;
}
SQRESULT bad_index(HSQUIRRELVM v) { return fail(v, "invalid stack index"); }
SQRESULT bad_type(HSQUIRRELVM v, const SQObject* o, const char* expected) {
  return fail(v, "wrong argument type: expected %s, got %s", expected, o ? type_name(o->_type) : "nothing");
}

#define GET_OBJ(o, idx)              \
  SQObject* o = at(v, idx);          \
  if (!o) return bad_index(v)
#define NEED_TOP(n) \
  if (v->top - v->base < (n)) return fail(v, "not enough values on the stack")

SQRESULT finish(HSQUIRRELVM v, bool ok) { return ok ? SQ_OK : SQ_ERROR; }

const char* const kMetaNames[MT_LAST] = {"_add", "_sub", "_mul", "_div", "_unm", "_modulo",
                                         "_set", "_get", "_typeof", "_nexti", "_cmp", "_call",
                                         "_cloned", "_newslot", "_delslot", "_tostring",
                                         "_newmember", "_inherited"};

SQObject new_table_obj(SQSharedState* ss) {
  SQObject o = mk_obj(OT_TABLE, table_new(ss, 0));
  obj_addref(o);
  return o;
}

}  // namespace

// ---- vm ----
HSQUIRRELVM sq_open(SQInteger initialstacksize) {
  SQSharedState* ss = (SQSharedState*)sq_alloc_obj(sizeof(SQSharedState));
  ss->strcap = 256;
  ss->strtab = (SQString**)sq_alloc_obj(sizeof(SQString*) * ss->strcap);
  ss->gc_head.gc_next = ss->gc_head.gc_prev = &ss->gc_head;
  for (int i = 0; i < MT_LAST; i++) {
    ss->metanames[i] = mk_str(ss, kMetaNames[i]);
    obj_addref(ss->metanames[i]);
  }
  ss->constructorname = mk_str(ss, "constructor");
  obj_addref(ss->constructorname);
  ss->registry = new_table_obj(ss);
  ss->consttable = new_table_obj(ss);
  ss->hostrefs = new_table_obj(ss);
  SQVM* v = vm_new(ss, initialstacksize, nullptr);
  ss->rootvm = v;
  v->roottable = new_table_obj(ss);
  baselib_init_delegates(ss, v);
  baselib_register(v);
  return v;
}

HSQUIRRELVM sq_newthread(HSQUIRRELVM friendvm, SQInteger initialstacksize) {
  SQVM* t = vm_new(friendvm->ss, initialstacksize, friendvm);
  obj_set(t->debughook, friendvm->debughook);
  t->nativedebughook = friendvm->nativedebughook;
  t->hooked = friendvm->hooked;
  vm_push(friendvm, mk_obj(OT_THREAD, t));
  return t;
}

void sq_seterrorhandler(HSQUIRRELVM v) {
  SQObject* o = at(v, -1);
  if (!o) return;
  if (o->_type == OT_CLOSURE || o->_type == OT_NATIVECLOSURE || o->_type == OT_NULL)
    obj_set(v->errorhandler, *o);
  vm_pop(v, 1);
}

void sq_close(HSQUIRRELVM v) {
  if (!v) return;
  SQSharedState* ss = v->ss;
  if (v != ss->rootvm) {
    // a friend thread: it is released like any other object
    vm_clear_refs(v);
    return;
  }
  ss->closing = true;
  table_clear(ss->hostrefs._unVal.pTable);
  vm_clear_refs(v);
  SQObject* owned[] = {&ss->registry, &ss->consttable, &ss->dd_table, &ss->dd_array, &ss->dd_string,
                       &ss->dd_number, &ss->dd_closure, &ss->dd_generator, &ss->dd_thread, &ss->dd_class,
                       &ss->dd_instance, &ss->dd_weakref, &ss->hostrefs};
  for (SQObject* o : owned) obj_setnull(*o);
  gc_collect(ss, nullptr);
  // Whatever is left is held from outside (references the host never
  // released): run release hooks, then drop every reference and free.
  size_t n = 0;
  for (SQCollectable* o = ss->gc_head.gc_next; o != &ss->gc_head; o = o->gc_next) n++;
  if (n) {
    SQCollectable** all = (SQCollectable**)malloc(sizeof(SQCollectable*) * n);
    size_t k = 0;
    for (SQCollectable* o = ss->gc_head.gc_next; o != &ss->gc_head; o = o->gc_next) {
      rc_addref(o);
      all[k++] = o;
    }
    for (size_t j = 0; j < n; j++) obj_run_hook(all[j]);
    for (size_t j = 0; j < n; j++) obj_clear_refs(all[j]);
    for (size_t j = 0; j < n; j++) {
      SQCollectable* o = all[j];
      if (o->refs > 1) o->refs = 1;  // leaked references: free it anyway
      rc_release(o);
    }
    free(all);
  }
  for (int i = 0; i < MT_LAST; i++) obj_setnull(ss->metanames[i]);
  obj_setnull(ss->constructorname);
  vm_free_storage(v);
  free(v);
  for (uint32_t b = 0; b < ss->strcap; b++) {
    SQString* s = ss->strtab[b];
    while (s) {
      SQString* next = s->hnext;
      free(s);
      s = next;
    }
  }
  free(ss->strtab);
  free(ss->scratch);
  free(ss);
}

void sq_setforeignptr(HSQUIRRELVM v, SQUserPointer p) { v->foreignptr = p; }
SQUserPointer sq_getforeignptr(HSQUIRRELVM v) { return v->foreignptr; }
void sq_setprintfunc(HSQUIRRELVM v, SQPRINTFUNCTION printfunc, SQPRINTFUNCTION errfunc) {
  v->ss->printfn = printfunc;
  v->ss->errorfn = errfunc;
}
SQPRINTFUNCTION sq_getprintfunc(HSQUIRRELVM v) { return v->ss->printfn; }
SQPRINTFUNCTION sq_geterrorfunc(HSQUIRRELVM v) { return v->ss->errorfn; }

SQRESULT sq_suspendvm(HSQUIRRELVM v) { return SQ_SUSPEND_FLAG; }

SQRESULT sq_wakeupvm(HSQUIRRELVM v, SQBool resumedret, SQBool retval, SQBool raiseerror, SQBool throwerror) {
  if (v->state != SQ_VMSTATE_SUSPENDED) return fail(v, "cannot resume a vm that is not running any code");
  SQRef val;
  if (resumedret) {
    SQObject* o = at(v, -1);
    if (o) {
      val.set(*o);
      vm_pop(v, 1);
    }
  }
  SQRef res;
  bool ok = vm_wakeup(v, &val.o, &res.o, raiseerror != 0, throwerror != 0);
  if (ok && retval) vm_push(v, res.o);
  return finish(v, ok);
}

SQInteger sq_getvmstate(HSQUIRRELVM v) { return v->state; }

// ---- compiler ----
SQRESULT sq_compilebuffer(HSQUIRRELVM v, const SQChar* s, SQInteger size, const SQChar* sourcename,
                          SQBool raiseerror) {
  if (!s) return fail(v, "null buffer");
  if (size < 0) size = (SQInteger)strlen(s);
  SQCompileError err;
  SQFunctionProto* p = sq_compile_source(v, s, (size_t)size, sourcename ? sourcename : "", err);
  if (!p) {
    if (raiseerror && v->ss->compilererror)
      v->ss->compilererror(v, err.desc, sourcename ? sourcename : "", err.line, err.column);
    return fail(v, "%s", err.desc);
  }
  SQClosure* cl = closure_new(v->ss, p);
  rc_release(p);
  vm_push(v, mk_obj(OT_CLOSURE, cl));
  return SQ_OK;
}

SQRESULT sq_compile(HSQUIRRELVM v, SQLEXREADFUNC read, SQUserPointer p, const SQChar* sourcename,
                    SQBool raiseerror) {
  if (!read) return fail(v, "null read function");
  std::string src;
  for (;;) {
    SQInteger c = read(p);
    if (c == SQUIRREL_EOB || c < 0) break;
    src += (char)c;
    if (src.size() > (1u << 28)) return fail(v, "source too long");
  }
  return sq_compilebuffer(v, src.data(), (SQInteger)src.size(), sourcename, raiseerror);
}

void sq_enabledebuginfo(HSQUIRRELVM v, SQBool enable) { v->ss->debuginfo = enable != 0; }
void sq_notifyallexceptions(HSQUIRRELVM v, SQBool enable) { v->ss->notifyall = enable != 0; }
void sq_setcompilererrorhandler(HSQUIRRELVM v, SQCOMPILERERROR f) { v->ss->compilererror = f; }

// ---- stack ----
void sq_push(HSQUIRRELVM v, SQInteger idx) {
  SQObject* o = at(v, idx);
  SQObject val = o ? *o : mk_null();
  SQRef keep(val);
  vm_push(v, keep.o);
}
void sq_pop(HSQUIRRELVM v, SQInteger n) {
  if (n <= 0) return;
  if (n > v->top - v->base) n = v->top - v->base;
  vm_pop(v, n);
}
void sq_poptop(HSQUIRRELVM v) { sq_pop(v, 1); }
void sq_remove(HSQUIRRELVM v, SQInteger idx) {
  int32_t s = slot_of(v, idx);
  if (s < 0) return;
  obj_release(v->stack[s]);
  memmove(&v->stack[s], &v->stack[s + 1], sizeof(SQObject) * (size_t)(v->top - s - 1));
  v->stack[--v->top] = mk_null();
}
SQInteger sq_gettop(HSQUIRRELVM v) { return v->top - v->base; }
void sq_settop(HSQUIRRELVM v, SQInteger newtop) {
  if (newtop < 0) newtop = 0;
  if (newtop > SQ_MAX_STACK) return;
  vm_settop(v, v->base + newtop);
}
SQRESULT sq_reservestack(HSQUIRRELVM v, SQInteger nsize) {
  if (nsize < 0) return fail(v, "invalid size");
  if ((int64_t)v->top + nsize > SQ_MAX_STACK) return fail(v, "stack overflow");
  vm_grow_stack(v, v->top + nsize);
  return SQ_OK;
}
SQInteger sq_cmp(HSQUIRRELVM v) {
  SQObject* a = at(v, -2);
  SQObject* b = at(v, -1);
  if (!a || !b) return 0;
  SQRef x(*a), y(*b);
  int r = 0;
  if (!vm_compare(v, x.o, y.o, r)) return 0;
  return r;
}
void sq_move(HSQUIRRELVM dest, HSQUIRRELVM src, SQInteger idx) {
  SQObject* o = at(src, idx);
  vm_push(dest, o ? *o : mk_null());
}

// ---- object creation ----
SQUserPointer sq_newuserdata(HSQUIRRELVM v, SQUnsignedInteger size) {
  if (size > (1u << 30)) return nullptr;
  SQUserData* u = userdata_new(v->ss, size);
  vm_push(v, mk_obj(OT_USERDATA, u));
  return u->data;
}
void sq_newtable(HSQUIRRELVM v) { vm_push(v, mk_obj(OT_TABLE, table_new(v->ss, 0))); }
void sq_newtableex(HSQUIRRELVM v, SQInteger initialcapacity) {
  uint32_t cap = initialcapacity < 0           ? 0
                 : initialcapacity > (1 << 20) ? (1 << 20)
                                               : (uint32_t)initialcapacity;
  vm_push(v, mk_obj(OT_TABLE, table_new(v->ss, cap)));
}
void sq_newarray(HSQUIRRELVM v, SQInteger size) {
  uint32_t n = size < 0 ? 0 : (uint32_t)size > SQ_MAX_ARRAY ? SQ_MAX_ARRAY : (uint32_t)size;
  vm_push(v, mk_obj(OT_ARRAY, array_new(v->ss, n)));
}
void sq_newclosure(HSQUIRRELVM v, SQFUNCTION func, SQUnsignedInteger nfreevars) {
  uint32_t avail = (uint32_t)(v->top - v->base);
  if (nfreevars > avail) nfreevars = avail;
  SQNativeClosure* nc = nclosure_new(v->ss, func, nfreevars);
  for (uint32_t i = 0; i < nfreevars; i++)
    obj_set(nc->outers[i], v->stack[v->top - (int32_t)nfreevars + (int32_t)i]);
  vm_pop(v, (int32_t)nfreevars);
  vm_push(v, mk_obj(OT_NATIVECLOSURE, nc));
}

SQRESULT sq_setparamscheck(HSQUIRRELVM v, SQInteger nparamscheck, const SQChar* typemask) {
  GET_OBJ(o, -1);
  if (o->_type != OT_NATIVECLOSURE) return bad_type(v, o, "native closure");
  SQNativeClosure* nc = o->_unVal.pNativeClosure;
  std::vector<SQInteger> masks;
  for (const char* p = typemask; p && *p;) {
    if (*p == ' ') {
      p++;
      continue;
    }
    SQInteger mask = 0;
    for (;;) {
      SQInteger bit;
      switch (*p) {
        case 'o': bit = _RT_NULL; break;
        case 'i': bit = _RT_INTEGER; break;
        case 'f': bit = _RT_FLOAT; break;
        case 'n': bit = _RT_INTEGER | _RT_FLOAT; break;
        case 's': bit = _RT_STRING; break;
        case 't': bit = _RT_TABLE; break;
        case 'a': bit = _RT_ARRAY; break;
        case 'u': bit = _RT_USERDATA; break;
        case 'c': bit = _RT_CLOSURE | _RT_NATIVECLOSURE; break;
        case 'b': bit = _RT_BOOL; break;
        case 'g': bit = _RT_GENERATOR; break;
        case 'p': bit = _RT_USERPOINTER; break;
        case 'v': bit = _RT_THREAD; break;
        case 'x': bit = _RT_INSTANCE; break;
        case 'y': bit = _RT_CLASS; break;
        case 'r': bit = _RT_WEAKREF; break;
        case '.': bit = -1; break;
        default: return fail(v, "invalid typemask");
      }
      mask = (bit == -1 || mask == -1) ? -1 : (mask | bit);
      p++;
      if (*p != '|') break;
      p++;
    }
    masks.push_back(mask);
  }
  free(nc->typecheck);
  nc->typecheck = nullptr;
  nc->ntypecheck = (uint32_t)masks.size();
  if (!masks.empty()) {
    nc->typecheck = (SQInteger*)sq_alloc_obj(sizeof(SQInteger) * masks.size());
    memcpy(nc->typecheck, masks.data(), sizeof(SQInteger) * masks.size());
  }
  nc->nparamscheck = nparamscheck == SQ_MATCHTYPEMASKSTRING ? (SQInteger)masks.size() : nparamscheck;
  return SQ_OK;
}

static SQClosure* closure_copy(SQClosure* c) {
  SQClosure* n = closure_new(c->ss, c->proto);
  for (uint32_t i = 0; i < c->proto->nouters; i++) {
    n->outers[i] = c->outers[i];
    if (n->outers[i]) rc_addref(n->outers[i]);
  }
  for (uint32_t i = 0; i < c->proto->ndefaults; i++) obj_set(n->defaults[i], c->defaults[i]);
  if (c->base) {
    n->base = c->base;
    rc_addref(n->base);
  }
  obj_set(n->env, c->env);
  return n;
}

SQRESULT sq_bindenv(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  GET_OBJ(env, -1);
  if (o->_type != OT_CLOSURE && o->_type != OT_NATIVECLOSURE) return bad_type(v, o, "closure");
  if (env->_type != OT_TABLE && env->_type != OT_INSTANCE && env->_type != OT_CLASS)
    return fail(v, "invalid environment");
  SQRef w(obj_weakref(v->ss, *env));
  SQRef res;
  if (o->_type == OT_CLOSURE) {
    SQClosure* n = closure_copy(o->_unVal.pClosure);
    res.set(mk_obj(OT_CLOSURE, n));
    obj_set(n->env, w.o);
  } else {
    SQNativeClosure* c = o->_unVal.pNativeClosure;
    SQNativeClosure* n = nclosure_new(v->ss, c->fn, c->nouters);
    res.set(mk_obj(OT_NATIVECLOSURE, n));
    for (uint32_t i = 0; i < c->nouters; i++) obj_set(n->outers[i], c->outers[i]);
    n->nparamscheck = c->nparamscheck;
    if (c->ntypecheck) {
      n->typecheck = (SQInteger*)sq_alloc_obj(sizeof(SQInteger) * c->ntypecheck);
      memcpy(n->typecheck, c->typecheck, sizeof(SQInteger) * c->ntypecheck);
      n->ntypecheck = c->ntypecheck;
    }
    if (c->name) {
      n->name = c->name;
      rc_addref(n->name);
    }
    obj_set(n->env, w.o);
  }
  vm_pop(v, 1);
  vm_push(v, res.o);
  return SQ_OK;
}

void sq_pushstring(HSQUIRRELVM v, const SQChar* s, SQInteger len) {
  if (!s) {
    vm_push(v, mk_null());
    return;
  }
  if (len < 0) len = (SQInteger)strlen(s);
  vm_push(v, mk_str(str_new(v->ss, s, len)));
}
void sq_pushfloat(HSQUIRRELVM v, SQFloat f) { vm_push(v, mk_float(f)); }
void sq_pushinteger(HSQUIRRELVM v, SQInteger n) { vm_push(v, mk_int(n)); }
void sq_pushbool(HSQUIRRELVM v, SQBool b) { vm_push(v, mk_bool(b != 0)); }
void sq_pushuserpointer(HSQUIRRELVM v, SQUserPointer p) { vm_push(v, mk_userpointer(p)); }
void sq_pushnull(HSQUIRRELVM v) { vm_push(v, mk_null()); }

SQObjectType sq_gettype(HSQUIRRELVM v, SQInteger idx) {
  SQObject* o = at(v, idx);
  return o ? o->_type : OT_NULL;
}
SQRESULT sq_typeof(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  SQRef val(*o), res;
  if (!vm_typeof(v, val.o, res.o)) return SQ_ERROR;
  vm_push(v, res.o);
  return SQ_OK;
}
SQInteger sq_getsize(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  switch (o->_type) {
    case OT_STRING: return o->_unVal.pString->len;
    case OT_TABLE: return (SQInteger)o->_unVal.pTable->count;
    case OT_ARRAY: return (SQInteger)o->_unVal.pArray->size;
    case OT_USERDATA: return o->_unVal.pUserData->size;
    case OT_INSTANCE: return o->_unVal.pInstance->klass->udsize;
    case OT_CLASS: return o->_unVal.pClass->udsize;
    default: return fail(v, "type '%s' has no size", type_name(o->_type));
  }
}
SQHash sq_gethash(HSQUIRRELVM v, SQInteger idx) {
  SQObject* o = at(v, idx);
  return o ? obj_hash(*o) : 0;
}
SQRESULT sq_getbase(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  if (o->_type != OT_CLASS) return bad_type(v, o, "class");
  SQClass* b = o->_unVal.pClass->base;
  vm_push(v, b ? mk_obj(OT_CLASS, b) : mk_null());
  return SQ_OK;
}
SQBool sq_instanceof(HSQUIRRELVM v) {
  SQObject* a = at(v, -2);
  SQObject* b = at(v, -1);
  if (!a || !b) return SQFalse;
  if (a->_type == OT_INSTANCE && b->_type == OT_CLASS)
    return instance_instanceof(a->_unVal.pInstance, b->_unVal.pClass) ? SQTrue : SQFalse;
  if (b->_type == OT_INSTANCE && a->_type == OT_CLASS)
    return instance_instanceof(b->_unVal.pInstance, a->_unVal.pClass) ? SQTrue : SQFalse;
  fail(v, "invalid param type");
  return SQFalse;
}
SQRESULT sq_tostring(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  SQRef val(*o), res;
  if (!vm_tostring(v, val.o, res.o)) return SQ_ERROR;
  vm_push(v, res.o);
  return SQ_OK;
}
void sq_tobool(HSQUIRRELVM v, SQInteger idx, SQBool* b) {
  SQObject* o = at(v, idx);
  if (b) *b = o && obj_truthy(*o) ? SQTrue : SQFalse;
}
SQRESULT sq_getstring(HSQUIRRELVM v, SQInteger idx, const SQChar** c) {
  GET_OBJ(o, idx);
  if (o->_type != OT_STRING) return bad_type(v, o, "string");
  if (c) *c = o->_unVal.pString->val;
  return SQ_OK;
}
SQRESULT sq_getinteger(HSQUIRRELVM v, SQInteger idx, SQInteger* i) {
  GET_OBJ(o, idx);
  if (o->_type == OT_INTEGER || o->_type == OT_BOOL) {
    if (i) *i = o->_unVal.nInteger;
    return SQ_OK;
  }
  if (o->_type == OT_FLOAT) {
    if (i) *i = (SQInteger)o->_unVal.fFloat;
    return SQ_OK;
  }
  return bad_type(v, o, "integer");
}
SQRESULT sq_getfloat(HSQUIRRELVM v, SQInteger idx, SQFloat* f) {
  GET_OBJ(o, idx);
  if (o->_type == OT_FLOAT) {
    if (f) *f = o->_unVal.fFloat;
    return SQ_OK;
  }
  if (o->_type == OT_INTEGER) {
    if (f) *f = (SQFloat)o->_unVal.nInteger;
    return SQ_OK;
  }
  return bad_type(v, o, "float");
}
SQRESULT sq_getbool(HSQUIRRELVM v, SQInteger idx, SQBool* b) {
  GET_OBJ(o, idx);
  if (o->_type != OT_BOOL) return bad_type(v, o, "bool");
  if (b) *b = o->_unVal.nInteger ? SQTrue : SQFalse;
  return SQ_OK;
}
SQRESULT sq_getthread(HSQUIRRELVM v, SQInteger idx, HSQUIRRELVM* thread) {
  GET_OBJ(o, idx);
  if (o->_type != OT_THREAD) return bad_type(v, o, "thread");
  if (thread) *thread = o->_unVal.pThread;
  return SQ_OK;
}
SQRESULT sq_getuserpointer(HSQUIRRELVM v, SQInteger idx, SQUserPointer* p) {
  GET_OBJ(o, idx);
  if (o->_type != OT_USERPOINTER) return bad_type(v, o, "userpointer");
  if (p) *p = o->_unVal.pUserPointer;
  return SQ_OK;
}
SQRESULT sq_getuserdata(HSQUIRRELVM v, SQInteger idx, SQUserPointer* p, SQUserPointer* typetag) {
  GET_OBJ(o, idx);
  if (o->_type != OT_USERDATA) return bad_type(v, o, "userdata");
  if (p) *p = o->_unVal.pUserData->data;
  if (typetag) *typetag = o->_unVal.pUserData->typetag;
  return SQ_OK;
}
SQRESULT sq_settypetag(HSQUIRRELVM v, SQInteger idx, SQUserPointer typetag) {
  GET_OBJ(o, idx);
  if (o->_type == OT_USERDATA) {
    o->_unVal.pUserData->typetag = typetag;
  } else if (o->_type == OT_CLASS) {
    o->_unVal.pClass->typetag = typetag;
  } else {
    return bad_type(v, o, "userdata or class");
  }
  return SQ_OK;
}
SQRESULT sq_getobjtypetag(const HSQOBJECT* o, SQUserPointer* typetag) {
  if (!o || !typetag) return SQ_ERROR;
  switch (o->_type) {
    case OT_USERDATA: *typetag = o->_unVal.pUserData->typetag; return SQ_OK;
    case OT_CLASS: *typetag = o->_unVal.pClass->typetag; return SQ_OK;
    case OT_INSTANCE: *typetag = o->_unVal.pInstance->klass->typetag; return SQ_OK;
    default: return SQ_ERROR;
  }
}
SQRESULT sq_gettypetag(HSQUIRRELVM v, SQInteger idx, SQUserPointer* typetag) {
  GET_OBJ(o, idx);
  SQUserPointer t = nullptr;
  if (SQ_FAILED(sq_getobjtypetag(o, &t))) return bad_type(v, o, "userdata, class or instance");
  if (typetag) *typetag = t;
  return SQ_OK;
}
void sq_setreleasehook(HSQUIRRELVM v, SQInteger idx, SQRELEASEHOOK hook) {
  SQObject* o = at(v, idx);
  if (!o) return;
  switch (o->_type) {
    case OT_USERDATA: o->_unVal.pUserData->hook = hook; break;
    case OT_INSTANCE: o->_unVal.pInstance->hook = hook; break;
    case OT_CLASS: o->_unVal.pClass->hook = hook; break;
    default: break;
  }
}
SQChar* sq_getscratchpad(HSQUIRRELVM v, SQInteger minsize) {
  SQSharedState* ss = v->ss;
  if (minsize < 0) minsize = 0;
  if (minsize > (1 << 28)) return nullptr;
  if (!ss->scratch || ss->scratchsize < minsize) {
    SQInteger n = minsize + minsize / 2 + 16;
    char* p = (char*)realloc(ss->scratch, (size_t)n);
    if (!p) return nullptr;
    ss->scratch = p;
    ss->scratchsize = n;
  }
  return ss->scratch;
}

// A frame counted from the innermost (level 0).
static SQCallInfo* frame_at(HSQUIRRELVM v, SQInteger level) {
  if (level < 0 || level >= v->ncalls) return nullptr;
  return &v->calls[v->ncalls - 1 - level];
}

SQRESULT sq_getfunctioninfo(HSQUIRRELVM v, SQInteger level, SQFunctionInfo* fi) {
  SQCallInfo* ci = frame_at(v, level);
  if (!ci || !ci->closure || !fi) return fail(v, "the object is not a closure");
  SQFunctionProto* p = ci->closure->proto;
  fi->funcid = p;
  fi->name = p->name ? p->name->val : "unknown";
  fi->source = p->source ? p->source->val : "unknown";
  return SQ_OK;
}
SQRESULT sq_getclosureinfo(HSQUIRRELVM v, SQInteger idx, SQUnsignedInteger* nparams,
                           SQUnsignedInteger* nfreevars) {
  GET_OBJ(o, idx);
  if (o->_type == OT_CLOSURE) {
    SQFunctionProto* p = o->_unVal.pClosure->proto;
    if (nparams) *nparams = p->nparams;
    if (nfreevars) *nfreevars = p->nouters;
    return SQ_OK;
  }
  if (o->_type == OT_NATIVECLOSURE) {
    SQNativeClosure* c = o->_unVal.pNativeClosure;
    if (nparams) *nparams = (SQUnsignedInteger)c->nparamscheck;
    if (nfreevars) *nfreevars = c->nouters;
    return SQ_OK;
  }
  return bad_type(v, o, "closure");
}
SQRESULT sq_getclosurename(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  SQString* name = nullptr;
  if (o->_type == OT_CLOSURE)
    name = o->_unVal.pClosure->proto->name;
  else if (o->_type == OT_NATIVECLOSURE)
    name = o->_unVal.pNativeClosure->name;
  else
    return bad_type(v, o, "closure");
  vm_push(v, name ? mk_str(name) : mk_null());
  return SQ_OK;
}
SQRESULT sq_setnativeclosurename(HSQUIRRELVM v, SQInteger idx, const SQChar* name) {
  GET_OBJ(o, idx);
  if (o->_type != OT_NATIVECLOSURE) return bad_type(v, o, "native closure");
  SQNativeClosure* c = o->_unVal.pNativeClosure;
  SQString* s = name ? str_new(v->ss, name, -1) : nullptr;
  if (s) rc_addref(s);
  if (c->name) rc_release(c->name);
  c->name = s;
  return SQ_OK;
}
SQRESULT sq_setinstanceup(HSQUIRRELVM v, SQInteger idx, SQUserPointer p) {
  GET_OBJ(o, idx);
  if (o->_type != OT_INSTANCE) return bad_type(v, o, "instance");
  o->_unVal.pInstance->up = p;
  return SQ_OK;
}
SQRESULT sq_getinstanceup(HSQUIRRELVM v, SQInteger idx, SQUserPointer* p, SQUserPointer typetag) {
  GET_OBJ(o, idx);
  if (o->_type != OT_INSTANCE) return bad_type(v, o, "instance");
  SQInstance* inst = o->_unVal.pInstance;
  if (typetag) {
    bool match = false;
    for (SQClass* c = inst->klass; c; c = c->base)
      if (c->typetag == typetag) {
        match = true;
        break;
      }
    if (!match) return fail(v, "invalid type tag");
  }
  if (p) *p = inst->up;
  return SQ_OK;
}
SQRESULT sq_setclassudsize(HSQUIRRELVM v, SQInteger idx, SQInteger udsize) {
  GET_OBJ(o, idx);
  if (o->_type != OT_CLASS) return bad_type(v, o, "class");
  if (udsize < 0 || udsize > (1 << 24)) return fail(v, "invalid user data size");
  SQClass* c = o->_unVal.pClass;
  if (c->locked) return fail(v, "the class is locked");
  c->udsize = udsize;
  return SQ_OK;
}
SQRESULT sq_newclass(HSQUIRRELVM v, SQBool hasbase) {
  SQClass* base = nullptr;
  if (hasbase) {
    GET_OBJ(b, -1);
    if (b->_type != OT_CLASS) return fail(v, "invalid base type");
    base = b->_unVal.pClass;
  }
  SQRef cls(mk_obj(OT_CLASS, class_new(v->ss, base)));
  if (hasbase) vm_pop(v, 1);
  vm_push(v, cls.o);
  return SQ_OK;
}
SQRESULT sq_createinstance(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  if (o->_type != OT_CLASS) return bad_type(v, o, "class");
  SQRef inst;
  vm_instance_create(v, o->_unVal.pClass, inst.o);
  vm_push(v, inst.o);
  return SQ_OK;
}

// The attributes slot of a class member (or of the class when key is null).
static SQObject* member_attrs(SQClass* c, const SQObject& key) {
  if (key._type == OT_NULL) return &c->attributes;
  SQObject* slot = table_find(c->members, key);
  if (!slot) return nullptr;
  SQInteger m = slot->_unVal.nInteger;
  return (m & MEMBER_FIELD) ? &c->fields[m & MEMBER_INDEX].attrs : &c->methods[m & MEMBER_INDEX].attrs;
}

SQRESULT sq_setattributes(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  NEED_TOP(2);
  if (o->_type != OT_CLASS) return bad_type(v, o, "class");
  SQRef key(v->stack[v->top - 2]), val(v->stack[v->top - 1]);
  SQObject* a = member_attrs(o->_unVal.pClass, key.o);
  if (!a) {
    vm_raise_idx(v, key.o);
    return SQ_ERROR;
  }
  SQRef old(*a);
  obj_set(*a, val.o);
  vm_pop(v, 2);
  vm_push(v, old.o);
  return SQ_OK;
}
SQRESULT sq_getattributes(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  NEED_TOP(1);
  if (o->_type != OT_CLASS) return bad_type(v, o, "class");
  SQRef key(v->stack[v->top - 1]);
  SQObject* a = member_attrs(o->_unVal.pClass, key.o);
  if (!a) {
    vm_raise_idx(v, key.o);
    return SQ_ERROR;
  }
  SQRef val(*a);
  vm_pop(v, 1);
  vm_push(v, val.o);
  return SQ_OK;
}
SQRESULT sq_getclass(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  if (o->_type != OT_INSTANCE) return bad_type(v, o, "instance");
  vm_push(v, mk_obj(OT_CLASS, o->_unVal.pInstance->klass));
  return SQ_OK;
}
void sq_weakref(HSQUIRRELVM v, SQInteger idx) {
  SQObject* o = at(v, idx);
  if (!o) {
    vm_push(v, mk_null());
    return;
  }
  SQRef w(obj_weakref(v->ss, *o));
  vm_push(v, w.o);
}
SQRESULT sq_getdefaultdelegate(HSQUIRRELVM v, SQObjectType t) {
  SQObject* dd = dd_for(v->ss, t);
  if (!dd) return fail(v, "the type doesn't have a default delegate");
  vm_push(v, *dd);
  return SQ_OK;
}
SQRESULT sq_getmemberhandle(HSQUIRRELVM v, SQInteger idx, HSQMEMBERHANDLE* handle) {
  GET_OBJ(o, idx);
  NEED_TOP(1);
  if (o->_type != OT_CLASS) return bad_type(v, o, "class");
  SQRef key(v->stack[v->top - 1]);
  vm_pop(v, 1);
  SQObject* slot = table_find(o->_unVal.pClass->members, key.o);
  if (!slot) {
    vm_raise_idx(v, key.o);
    return SQ_ERROR;
  }
  if (handle) {
    handle->_static = (slot->_unVal.nInteger & MEMBER_FIELD) ? SQFalse : SQTrue;
    handle->_index = slot->_unVal.nInteger & MEMBER_INDEX;
  }
  return SQ_OK;
}
static SQObject* handle_slot(HSQUIRRELVM v, SQObject* o, const HSQMEMBERHANDLE* h) {
  if (!h) return nullptr;
  SQClass* c = o->_type == OT_INSTANCE ? o->_unVal.pInstance->klass
               : o->_type == OT_CLASS  ? o->_unVal.pClass
                                       : nullptr;
  if (!c || h->_index < 0) return nullptr;
  if (h->_static) return (uint32_t)h->_index < c->methods.size ? &c->methods[h->_index].val : nullptr;
  if (o->_type == OT_INSTANCE) {
    SQInstance* i = o->_unVal.pInstance;
    return (uint32_t)h->_index < i->nvalues ? &i->values[h->_index] : nullptr;
  }
  return (uint32_t)h->_index < c->fields.size ? &c->fields[h->_index].val : nullptr;
}
SQRESULT sq_getbyhandle(HSQUIRRELVM v, SQInteger idx, const HSQMEMBERHANDLE* handle) {
  GET_OBJ(o, idx);
  SQObject* s = handle_slot(v, o, handle);
  if (!s) return fail(v, "invalid member handle");
  vm_push(v, realval(*s));
  return SQ_OK;
}
SQRESULT sq_setbyhandle(HSQUIRRELVM v, SQInteger idx, const HSQMEMBERHANDLE* handle) {
  GET_OBJ(o, idx);
  NEED_TOP(1);
  SQObject* s = handle_slot(v, o, handle);
  if (!s) return fail(v, "invalid member handle");
  obj_set(*s, v->stack[v->top - 1]);
  vm_pop(v, 1);
  return SQ_OK;
}

// ---- object manipulation ----
void sq_pushroottable(HSQUIRRELVM v) { vm_push(v, v->roottable); }
void sq_pushregistrytable(HSQUIRRELVM v) { vm_push(v, v->ss->registry); }
void sq_pushconsttable(HSQUIRRELVM v) { vm_push(v, v->ss->consttable); }
SQRESULT sq_setroottable(HSQUIRRELVM v) {
  GET_OBJ(o, -1);
  if (o->_type != OT_TABLE && o->_type != OT_NULL) return fail(v, "ivalid type");
  obj_set(v->roottable, *o);
  vm_pop(v, 1);
  return SQ_OK;
}
SQRESULT sq_setconsttable(HSQUIRRELVM v) {
  GET_OBJ(o, -1);
  if (o->_type != OT_TABLE) return fail(v, "ivalid type, expected table");
  obj_set(v->ss->consttable, *o);
  vm_pop(v, 1);
  return SQ_OK;
}
SQRESULT sq_newslot(HSQUIRRELVM v, SQInteger idx, SQBool bstatic) {
  GET_OBJ(o, idx);
  NEED_TOP(3);
  SQRef self(*o), key(v->stack[v->top - 2]), val(v->stack[v->top - 1]);
  if (self.o._type != OT_TABLE && self.o._type != OT_CLASS) return bad_type(v, o, "table or class");
  bool ok = vm_newslot(v, self.o, key.o, val.o, bstatic != 0, false);
  vm_pop(v, 2);
  return finish(v, ok);
}
SQRESULT sq_deleteslot(HSQUIRRELVM v, SQInteger idx, SQBool pushval) {
  GET_OBJ(o, idx);
  NEED_TOP(2);
  SQRef self(*o), key(v->stack[v->top - 1]), res;
  if (self.o._type != OT_TABLE) return bad_type(v, o, "table");
  bool ok = vm_delete(v, self.o, key.o, &res.o, false);
  vm_pop(v, 1);
  if (ok && pushval) vm_push(v, res.o);
  return finish(v, ok);
}
SQRESULT sq_set(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  NEED_TOP(3);
  SQRef self(*o), key(v->stack[v->top - 2]), val(v->stack[v->top - 1]);
  bool ok = vm_set(v, self.o, key.o, val.o, 0);
  vm_pop(v, 2);
  return finish(v, ok);
}
SQRESULT sq_get(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  NEED_TOP(2);
  SQRef self(*o), key(v->stack[v->top - 1]), res;
  bool ok = vm_get(v, self.o, key.o, res.o, 0);
  vm_pop(v, 1);
  if (ok) vm_push(v, res.o);
  return finish(v, ok);
}
SQRESULT sq_rawget(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  NEED_TOP(2);
  SQRef self(*o), key(v->stack[v->top - 1]), res;
  bool ok = vm_get(v, self.o, key.o, res.o, GET_RAW);
  vm_pop(v, 1);
  if (ok) vm_push(v, res.o);
  return finish(v, ok);
}
SQRESULT sq_rawset(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  NEED_TOP(3);
  SQRef self(*o), key(v->stack[v->top - 2]), val(v->stack[v->top - 1]);
  bool ok;
  if (key.o._type == OT_NULL) {
    ok = vm_raise(v, "null key");
  } else if (self.o._type == OT_TABLE) {
    table_set(self.o._unVal.pTable, key.o, val.o);
    ok = true;
  } else if (self.o._type == OT_CLASS) {
    ok = vm_newslot(v, self.o, key.o, val.o, false, true);
  } else {
    ok = vm_set(v, self.o, key.o, val.o, GET_RAW);
  }
  vm_pop(v, 2);
  return finish(v, ok);
}
SQRESULT sq_rawdeleteslot(HSQUIRRELVM v, SQInteger idx, SQBool pushval) {
  GET_OBJ(o, idx);
  NEED_TOP(2);
  SQRef self(*o), key(v->stack[v->top - 1]), res;
  if (self.o._type != OT_TABLE) return bad_type(v, o, "table");
  bool ok = vm_delete(v, self.o, key.o, &res.o, true);
  vm_pop(v, 1);
  if (ok && pushval) vm_push(v, res.o);
  return finish(v, ok);
}
static SQRESULT newmember(HSQUIRRELVM v, SQInteger idx, SQBool bstatic, bool raw) {
  GET_OBJ(o, idx);
  NEED_TOP(4);
  if (o->_type != OT_CLASS) return bad_type(v, o, "class");
  SQRef self(*o), key(v->stack[v->top - 3]), val(v->stack[v->top - 2]), attrs(v->stack[v->top - 1]);
  bool ok = vm_newmember(v, self.o, key.o, val.o, attrs.o, bstatic != 0, raw);
  vm_pop(v, 3);
  return finish(v, ok);
}
SQRESULT sq_newmember(HSQUIRRELVM v, SQInteger idx, SQBool bstatic) {
  return newmember(v, idx, bstatic, false);
}
SQRESULT sq_rawnewmember(HSQUIRRELVM v, SQInteger idx, SQBool bstatic) {
  return newmember(v, idx, bstatic, true);
}

#define GET_ARRAY(a, idx)                                  \
  GET_OBJ(a##_o, idx);                                     \
  if (a##_o->_type != OT_ARRAY) return bad_type(v, a##_o, "array"); \
  SQArray* a = a##_o->_unVal.pArray

SQRESULT sq_arrayappend(HSQUIRRELVM v, SQInteger idx) {
  GET_ARRAY(a, idx);
  NEED_TOP(2);
  if (a->size >= SQ_MAX_ARRAY) return fail(v, "array too big");
  array_push(a, v->stack[v->top - 1]);
  vm_pop(v, 1);
  return SQ_OK;
}
SQRESULT sq_arraypop(HSQUIRRELVM v, SQInteger idx, SQBool pushval) {
  GET_ARRAY(a, idx);
  if (a->size == 0) return fail(v, "empty array");
  SQRef last(a->vals[a->size - 1]);
  array_resize(a, a->size - 1, mk_null());
  if (pushval) vm_push(v, last.o);
  return SQ_OK;
}
SQRESULT sq_arrayresize(HSQUIRRELVM v, SQInteger idx, SQInteger newsize) {
  GET_ARRAY(a, idx);
  if (newsize < 0 || (uint32_t)newsize > SQ_MAX_ARRAY) return fail(v, "negative size");
  array_resize(a, (uint32_t)newsize, mk_null());
  return SQ_OK;
}
SQRESULT sq_arrayreverse(HSQUIRRELVM v, SQInteger idx) {
  GET_ARRAY(a, idx);
  for (uint32_t i = 0, j = a->size ? a->size - 1 : 0; i < j; i++, j--) {
    SQObject t = a->vals[i];
    a->vals[i] = a->vals[j];
    a->vals[j] = t;
  }
  return SQ_OK;
}
SQRESULT sq_arrayremove(HSQUIRRELVM v, SQInteger idx, SQInteger itemidx) {
  GET_ARRAY(a, idx);
  if (itemidx < 0 || !array_remove(a, (uint32_t)itemidx)) return fail(v, "index out of range");
  return SQ_OK;
}
SQRESULT sq_arrayinsert(HSQUIRRELVM v, SQInteger idx, SQInteger destpos) {
  GET_ARRAY(a, idx);
  NEED_TOP(2);
  if (destpos < 0 || !array_insert(a, (uint32_t)destpos, v->stack[v->top - 1]))
    return fail(v, "index out of range");
  vm_pop(v, 1);
  return SQ_OK;
}
SQRESULT sq_setdelegate(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  NEED_TOP(2);
  SQObject& d = v->stack[v->top - 1];
  if (o->_type != OT_TABLE && o->_type != OT_USERDATA) return bad_type(v, o, "table or userdata");
  if (d._type != OT_TABLE && d._type != OT_NULL) return fail(v, "invalid delegate");
  SQDelegable* self = (SQDelegable*)o->_unVal.pRefCounted;
  if (d._type == OT_TABLE) {
    for (SQTable* t = d._unVal.pTable; t; t = t->delegate)
      if (t == (SQTable*)self) return fail(v, "delegate cycle detected");
  }
  SQTable* nd = d._type == OT_TABLE ? d._unVal.pTable : nullptr;
  if (nd) rc_addref(nd);
  SQTable* old = self->delegate;
  self->delegate = nd;
  if (old) rc_release(old);
  vm_pop(v, 1);
  return SQ_OK;
}
SQRESULT sq_getdelegate(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  if (o->_type != OT_TABLE && o->_type != OT_USERDATA) return bad_type(v, o, "table or userdata");
  SQTable* d = ((SQDelegable*)o->_unVal.pRefCounted)->delegate;
  vm_push(v, d ? mk_obj(OT_TABLE, d) : mk_null());
  return SQ_OK;
}
SQRESULT sq_clone(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  SQRef val(*o), res;
  if (!vm_clone(v, val.o, res.o)) return SQ_ERROR;
  vm_push(v, res.o);
  return SQ_OK;
}
SQRESULT sq_setfreevariable(HSQUIRRELVM v, SQInteger idx, SQUnsignedInteger nval) {
  GET_OBJ(o, idx);
  NEED_TOP(2);
  SQObject& val = v->stack[v->top - 1];
  if (o->_type == OT_CLOSURE) {
    SQClosure* c = o->_unVal.pClosure;
    if (nval >= c->proto->nouters || !c->outers[nval]) return fail(v, "invalid free var index");
    obj_set(*c->outers[nval]->valptr, val);
  } else if (o->_type == OT_NATIVECLOSURE) {
    SQNativeClosure* c = o->_unVal.pNativeClosure;
    if (nval >= c->nouters) return fail(v, "invalid free var index");
    obj_set(c->outers[nval], val);
  } else {
    return bad_type(v, o, "closure");
  }
  vm_pop(v, 1);
  return SQ_OK;
}
SQRESULT sq_next(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  NEED_TOP(2);
  SQRef self(*o), iter(v->stack[v->top - 1]), key, val, next;
  bool done = false;
  if (!vm_next(v, self.o, iter.o, key.o, val.o, next.o, done)) return SQ_ERROR;
  if (done) return SQ_ERROR;
  obj_set(v->stack[v->top - 1], next.o);
  vm_push(v, key.o);
  vm_push(v, val.o);
  return SQ_OK;
}
SQRESULT sq_getweakrefval(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  if (o->_type != OT_WEAKREF) return bad_type(v, o, "weakref");
  vm_push(v, o->_unVal.pWeakRef->target);
  return SQ_OK;
}
SQRESULT sq_clear(HSQUIRRELVM v, SQInteger idx) {
  GET_OBJ(o, idx);
  if (o->_type == OT_TABLE) {
    SQRef keep(*o);
    table_clear(o->_unVal.pTable);
  } else if (o->_type == OT_ARRAY) {
    SQRef keep(*o);
    array_resize(o->_unVal.pArray, 0, mk_null());
  } else {
    return bad_type(v, o, "table or array");
  }
  return SQ_OK;
}

// ---- calls ----
SQRESULT sq_call(HSQUIRRELVM v, SQInteger params, SQBool retval, SQBool raiseerror) {
  if (params < 1 || params >= v->top - v->base) return fail(v, "wrong number of parameters on the stack");
  int32_t fidx = v->top - params - 1;
  SQRef res;
  bool ok = vm_call(v, fidx, params, &res.o, raiseerror != 0);
  if (v->state == SQ_VMSTATE_SUSPENDED && ok) {
    if (retval) vm_push(v, res.o);
    return SQ_OK;
  }
  vm_settop(v, fidx + 1);
  if (ok && retval) vm_push(v, res.o);
  return finish(v, ok);
}
SQRESULT sq_resume(HSQUIRRELVM v, SQBool retval, SQBool raiseerror) {
  GET_OBJ(o, -1);
  if (o->_type != OT_GENERATOR) return fail(v, "only generators can be resumed");
  SQRef gen(*o), res;
  bool ok = vm_resume_from_c(v, gen.o._unVal.pGenerator, &res.o, raiseerror != 0);
  if (ok && retval) vm_push(v, res.o);
  return finish(v, ok);
}
const SQChar* sq_getlocal(HSQUIRRELVM v, SQUnsignedInteger level, SQUnsignedInteger idx) {
  SQCallInfo* ci = frame_at(v, (SQInteger)level);
  if (!ci || !ci->closure) return nullptr;
  SQFunctionProto* p = ci->closure->proto;
  uint32_t pc = ci->ip ? (uint32_t)(ci->ip - p->code) : 0;
  if (pc) pc--;
  // locals alive at pc, in register order
  const SQLocalVarInfo* pick = nullptr;
  uint32_t remaining = idx;
  for (uint32_t reg = 0; reg < p->stacksize && !pick; reg++) {
    for (uint32_t k = 0; k < p->nlocals; k++) {
      const SQLocalVarInfo& l = p->locals[k];
      if (l.reg != reg || l.start_pc > pc || l.end_pc <= pc || !l.name || l.name->val[0] == '@') continue;
      if (remaining == 0) {
        pick = &l;
      } else {
        remaining--;
      }
      break;
    }
  }
  if (!pick) return nullptr;
  vm_push(v, v->stack[ci->base + (int32_t)pick->reg]);
  return pick->name->val;
}
SQRESULT sq_getcallee(HSQUIRRELVM v) {
  SQCallInfo* ci = frame_at(v, 0);
  if (!ci) return fail(v, "no closure in the calls stack");
  if (ci->closure)
    vm_push(v, mk_obj(OT_CLOSURE, ci->closure));
  else
    vm_push(v, v->stack[ci->base - 1]);
  return SQ_OK;
}
const SQChar* sq_getfreevariable(HSQUIRRELVM v, SQInteger idx, SQUnsignedInteger nval) {
  SQObject* o = at(v, idx);
  if (!o) return nullptr;
  if (o->_type == OT_CLOSURE) {
    SQClosure* c = o->_unVal.pClosure;
    SQFunctionProto* p = c->proto;
    if (nval >= p->nouters || !c->outers[nval]) return nullptr;
    vm_push(v, *c->outers[nval]->valptr);
    return p->outers[nval].name ? p->outers[nval].name->val : "";
  }
  if (o->_type == OT_NATIVECLOSURE) {
    SQNativeClosure* c = o->_unVal.pNativeClosure;
    if (nval >= c->nouters) return nullptr;
    vm_push(v, c->outers[nval]);
    return "@NATIVE";
  }
  return nullptr;
}
SQRESULT sq_throwerror(HSQUIRRELVM v, const SQChar* err) {
  vm_raise(v, "%s", err ? err : "");
  return SQ_ERROR;
}
SQRESULT sq_throwobject(HSQUIRRELVM v) {
  GET_OBJ(o, -1);
  vm_raise_obj(v, *o);
  vm_pop(v, 1);
  return SQ_ERROR;
}
void sq_reseterror(HSQUIRRELVM v) { obj_setnull(v->lasterror); }
void sq_getlasterror(HSQUIRRELVM v) { vm_push(v, v->lasterror); }

// ---- raw objects ----
SQRESULT sq_getstackobj(HSQUIRRELVM v, SQInteger idx, HSQOBJECT* po) {
  GET_OBJ(o, idx);
  if (po) *po = *o;
  return SQ_OK;
}
void sq_pushobject(HSQUIRRELVM v, HSQOBJECT obj) { vm_push(v, obj); }
void sq_addref(HSQUIRRELVM v, HSQOBJECT* po) {
  if (!po || !is_rc(*po) || v->ss->hostrefs._type != OT_TABLE) return;
  SQTable* t = v->ss->hostrefs._unVal.pTable;
  if (SQObject* slot = table_find(t, *po))
    slot->_unVal.nInteger++;
  else
    table_set(t, *po, mk_int(1));
}
SQBool sq_release(HSQUIRRELVM v, HSQOBJECT* po) {
  if (!po || !is_rc(*po) || v->ss->hostrefs._type != OT_TABLE) return SQTrue;
  SQTable* t = v->ss->hostrefs._unVal.pTable;
  SQObject* slot = table_find(t, *po);
  if (!slot) return SQTrue;
  if (--slot->_unVal.nInteger > 0) return SQFalse;
  table_remove(t, *po, nullptr);
  return SQTrue;
}
SQUnsignedInteger sq_getrefcount(HSQUIRRELVM v, HSQOBJECT* po) {
  if (!po || !is_rc(*po) || v->ss->hostrefs._type != OT_TABLE) return 0;
  SQObject* slot = table_find(v->ss->hostrefs._unVal.pTable, *po);
  return slot ? (SQUnsignedInteger)slot->_unVal.nInteger : 0;
}
void sq_resetobject(HSQOBJECT* po) {
  if (po) *po = mk_null();
}
const SQChar* sq_objtostring(const HSQOBJECT* o) {
  return o && o->_type == OT_STRING ? o->_unVal.pString->val : nullptr;
}
SQBool sq_objtobool(const HSQOBJECT* o) { return o && obj_truthy(*o) ? SQTrue : SQFalse; }
SQInteger sq_objtointeger(const HSQOBJECT* o) {
  if (!o) return 0;
  if (o->_type == OT_INTEGER || o->_type == OT_BOOL) return o->_unVal.nInteger;
  if (o->_type == OT_FLOAT) return (SQInteger)o->_unVal.fFloat;
  return 0;
}
SQFloat sq_objtofloat(const HSQOBJECT* o) {
  if (!o) return 0;
  if (o->_type == OT_FLOAT) return o->_unVal.fFloat;
  if (o->_type == OT_INTEGER || o->_type == OT_BOOL) return (SQFloat)o->_unVal.nInteger;
  return 0;
}
SQUserPointer sq_objtouserpointer(const HSQOBJECT* o) {
  return o && o->_type == OT_USERPOINTER ? o->_unVal.pUserPointer : nullptr;
}

// ---- GC ----
SQInteger sq_collectgarbage(HSQUIRRELVM v) { return gc_collect(v->ss, nullptr); }
SQRESULT sq_resurrectunreachable(HSQUIRRELVM v) {
  SQRef arr(mk_obj(OT_ARRAY, array_new(v->ss, 0)));
  gc_collect(v->ss, arr.o._unVal.pArray);
  if (arr.o._unVal.pArray->size == 0)
    vm_push(v, mk_null());
  else
    vm_push(v, arr.o);
  return SQ_OK;
}

// ---- debug ----
SQRESULT sq_stackinfos(HSQUIRRELVM v, SQInteger level, SQStackInfos* si) {
  SQCallInfo* ci = frame_at(v, level);
  if (!ci || !si) return SQ_ERROR;
  si->funcname = "unknown";
  si->source = "NATIVE";
  si->line = -1;
  if (ci->closure) {
    SQFunctionProto* p = ci->closure->proto;
    if (p->name) si->funcname = p->name->val;
    if (p->source) si->source = p->source->val;
    si->line = frame_line(v, *ci);
  } else if (ci->base > 0) {
    SQObject& fn = v->stack[ci->base - 1];
    if (fn._type == OT_NATIVECLOSURE && fn._unVal.pNativeClosure->name)
      si->funcname = fn._unVal.pNativeClosure->name->val;
  }
  return SQ_OK;
}
void sq_setdebughook(HSQUIRRELVM v) {
  SQObject* o = at(v, -1);
  if (!o) return;
  if (o->_type == OT_CLOSURE || o->_type == OT_NATIVECLOSURE || o->_type == OT_NULL) {
    obj_set(v->debughook, *o);
    v->nativedebughook = nullptr;
    v->hooked = o->_type != OT_NULL;
  }
  vm_pop(v, 1);
}
void sq_setnativedebughook(HSQUIRRELVM v, SQDEBUGHOOK hook) {
  v->nativedebughook = hook;
  obj_setnull(v->debughook);
  v->hooked = hook != nullptr;
}
