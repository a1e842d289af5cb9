// The interpreter: thread stacks, call frames, the instruction loop,
// generators, suspension of threads and error propagation.
//
// A script frame owns registers stack[base .. base+stacksize); register 0 is
// 'this' and the called function sits just below it, in a register of the
// caller. Calls between scripts never recurse on the C stack; only calls made
// from C (natives, metamethods, the host) re-enter the loop, and those are
// counted so a script cannot exhaust the C stack. Every slot above the
// running frame is null, and a returning frame nulls its registers, so
// objects die as soon as their last reference goes.
#include "sqvm.h"
#include "sqopcodes.h"
#include <cmath>
#include <cstdio>
#include <cstdlib>

// ---- threads and stacks ----
SQVM* vm_new(SQSharedState* ss, SQInteger stacksize, SQVM* parent) {
  SQVM* v = (SQVM*)sq_alloc_obj(sizeof(SQVM));
  if (parent) {
    gc_link(ss, v, K_THREAD);
  } else {
    v->kind = K_THREAD;
    v->ss = ss;
    v->refs = 1;
  }
  int32_t n = stacksize < 64 ? 64 : (stacksize > SQ_MAX_STACK ? SQ_MAX_STACK : (int32_t)stacksize);
  v->stack = (SQObject*)sq_alloc_obj(sizeof(SQObject) * n);
  for (int32_t i = 0; i < n; i++) v->stack[i] = mk_null();
  v->stacksize = n;
  v->roottable = v->errorhandler = v->debughook = v->lasterror = v->retval = mk_null();
  v->state = SQ_VMSTATE_IDLE;
  v->suspend_target = -1;
  if (parent) {
    obj_set(v->roottable, parent->roottable);
    obj_set(v->errorhandler, parent->errorhandler);
  }
  return v;
}

void vm_clear_refs(SQVM* v) {
  close_outers(v, 0);
  for (int32_t i = 0; i < v->ncalls; i++) {
    SQCallInfo& ci = v->calls[i];
    if (ci.flags & CI_OWNSCLOSURE) {
      ci.flags &= (uint8_t)~CI_OWNSCLOSURE;
      rc_release(ci.closure);
    }
  }
  for (int32_t i = 0; i < v->stacksize; i++) obj_setnull(v->stack[i]);
  v->top = v->base = 0;
  v->ncalls = 0;
  v->ntraps = 0;
  obj_setnull(v->roottable);
  obj_setnull(v->errorhandler);
  obj_setnull(v->debughook);
  obj_setnull(v->lasterror);
  obj_setnull(v->retval);
  v->hooked = v->nativedebughook != nullptr;
}

void vm_free_storage(SQVM* v) {
  free(v->stack);
  free(v->calls);
  free(v->traps);
  v->stack = nullptr;
  v->calls = nullptr;
  v->traps = nullptr;
}

static bool stack_resize(SQVM* v, int32_t need) {
  int32_t n = v->stacksize;
  while (n < need) n *= 2;
  SQObject* s = (SQObject*)realloc(v->stack, sizeof(SQObject) * (size_t)n);
  if (!s) abort();
  for (int32_t i = v->stacksize; i < n; i++) s[i] = mk_null();
  v->stack = s;
  v->stacksize = n;
  for (SQOuter* u = v->openouters; u; u = u->next) u->valptr = &s[u->stackidx];
  return true;
}

bool vm_grow_stack(SQVM* v, int32_t need) {
  if (need <= v->stacksize) return true;
  if (need > SQ_MAX_STACK) return vm_raise(v, "stack overflow");
  return stack_resize(v, need);
}

void vm_grow_for_push(SQVM* v) { stack_resize(v, v->top + 1); }  // host pushes are not capped

void vm_settop(SQVM* v, int32_t newtop) {
  if (newtop < 0) newtop = 0;
  if (newtop > v->top) {
    if (newtop > v->stacksize) stack_resize(v, newtop);
    v->top = newtop;  // the new slots are already null
  } else {
    vm_pop(v, v->top - newtop);
  }
}

static void grow_calls(SQVM* v) {
  int32_t n = v->callcap ? v->callcap * 2 : 16;
  SQCallInfo* c = (SQCallInfo*)realloc(v->calls, sizeof(SQCallInfo) * (size_t)n);
  if (!c) abort();
  v->calls = c;
  v->callcap = n;
}

__attribute__((always_inline)) static inline SQCallInfo* push_ci(SQVM* v) {
  if (v->ncalls == v->callcap) grow_calls(v);
  return &v->calls[v->ncalls++];
}

static void push_trap(SQVM* v, const SQExceptionTrap& t) {
  if (v->ntraps == v->trapcap) {
    int32_t n = v->trapcap ? v->trapcap * 2 : 8;
    SQExceptionTrap* p = (SQExceptionTrap*)realloc(v->traps, sizeof(SQExceptionTrap) * (size_t)n);
    if (!p) abort();
    v->traps = p;
    v->trapcap = n;
  }
  v->traps[v->ntraps++] = t;
}

// ---- outers ----
static SQOuter* find_outer(SQVM* v, int32_t idx) {
  SQOuter** pp = &v->openouters;
  while (*pp && (*pp)->stackidx > idx) pp = &(*pp)->next;
  if (*pp && (*pp)->stackidx == idx) return *pp;
  SQOuter* u = (SQOuter*)sq_alloc_obj(sizeof(SQOuter));
  gc_link(v->ss, u, K_OUTER);
  u->stackidx = idx;
  u->valptr = &v->stack[idx];
  u->value = mk_null();
  u->next = *pp;
  *pp = u;
  rc_addref(u);  // held by the open list
  return u;
}

static void insert_open_outer(SQVM* v, SQOuter* u) {
  SQOuter** pp = &v->openouters;
  while (*pp && (*pp)->stackidx > u->stackidx) pp = &(*pp)->next;
  u->next = *pp;
  *pp = u;
}

void close_outers(SQVM* v, int32_t from) {
  while (v->openouters && v->openouters->stackidx >= from) {
    SQOuter* u = v->openouters;
    v->openouters = u->next;
    u->next = nullptr;
    u->value = *u->valptr;
    obj_addref(u->value);
    u->valptr = &u->value;
    rc_release(u);
  }
}

// ---- debug information ----
int proto_line(const SQFunctionProto* p, int32_t pc) {
  int line = p->nlines ? p->lines[0].line : 0;
  uint32_t lo = 0, hi = p->nlines;
  while (lo < hi) {
    uint32_t mid = (lo + hi) / 2;
    if ((int32_t)p->lines[mid].pc <= pc) {
      line = p->lines[mid].line;
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return line;
}

// Whether an entry of the line table starts at pc.
static bool line_starts_at(const SQFunctionProto* p, int32_t pc) {
  uint32_t lo = 0, hi = p->nlines;
  while (lo < hi) {
    uint32_t mid = (lo + hi) / 2;
    if ((int32_t)p->lines[mid].pc < pc)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo < p->nlines && (int32_t)p->lines[lo].pc == pc;
}

int frame_line(SQVM* v, const SQCallInfo& ci) {
  if (!ci.closure || !ci.ip) return -1;
  SQFunctionProto* p = ci.closure->proto;
  return proto_line(p, (int32_t)(ci.ip - p->code) - 1);
}

// Calls the debug hook. A hook that raises an error (a native one through
// sq_throwerror, a script one by throwing) stops the script with that error:
// false is returned and the error is in lasterror.
static bool call_debughook(SQVM* v, SQInteger type, const SQCallInfo& ci, int line, bool can_fail = false) {
  if (v->in_debughook) return true;
  SQFunctionProto* p = ci.closure ? ci.closure->proto : nullptr;
  const char* src = p && p->source ? p->source->val : "unknown";
  const char* fname = p && p->name ? p->name->val : "unknown";
  v->in_debughook = true;
  bool ok = true;
  SQRef saved_err(v->lasterror);
  obj_setnull(v->lasterror);
  if (v->nativedebughook) {
    v->nativedebughook(v, type, src, line, fname);
    ok = v->lasterror._type == OT_NULL;
  } else if (v->debughook._type == OT_CLOSURE || v->debughook._type == OT_NATIVECLOSURE) {
    SQRef hook(v->debughook);
    SQObject args[4] = {mk_int(type), mk_str(v->ss, src), mk_int(line), mk_str(v->ss, fname)};
    for (SQObject& a : args) obj_addref(a);
    SQRef res;
    ok = vm_call_value(v, hook.o, v->roottable, args, 4, &res.o);
    for (SQObject& a : args) obj_release(a);
  }
  if (ok || !can_fail) obj_set(v->lasterror, saved_err.o);
  v->in_debughook = false;
  return ok || !can_fail;
}

void vm_call_error_handler(SQVM* v, const SQObject& err) {
  if (v->errorhandler._type != OT_CLOSURE && v->errorhandler._type != OT_NATIVECLOSURE) return;
  SQRef keep_err(err);
  SQRef handler(v->errorhandler);
  SQRef res;
  bool saved = v->raiseerror;
  v->raiseerror = false;
  vm_call_value(v, handler.o, v->roottable, &keep_err.o, 1, &res.o);
  v->raiseerror = saved;
  // whatever the handler did (API calls that failed, errors it caught), the
  // original error stays the current one, and it has been reported
  obj_set(v->lasterror, keep_err.o);
  v->error_notified = true;
}

// Calls the error handler once for an error nobody will catch.
static void notify_error(SQVM* v) {
  if (v->error_notified) return;
  if (v->ss->notifyall || (v->ntraps == 0 && v->raiseerror)) {
    v->error_notified = true;
    vm_call_error_handler(v, v->lasterror);
  }
}

// ---- calls ----
enum CallResult { CALL_ERROR, CALL_DONE, CALL_FRAME, CALL_SUSPEND };

// Arguments, defaults and variable arguments of a script frame at 'newbase'.
static bool setup_frame(SQVM* v, SQClosure* cl, int32_t newbase, int32_t nargs) {
  SQFunctionProto* p = cl->proto;
  int32_t nparams = (int32_t)p->nparams;
  if (!vm_grow_stack(v, newbase + (int32_t)p->stacksize + 1)) return false;
  SQObject* s = v->stack + newbase;
  if (nargs < nparams) {
    int32_t missing = nparams - nargs;
    if (missing > (int32_t)p->ndefaults) return vm_raise(v, "wrong number of parameters");
    int32_t first = nparams - (int32_t)p->ndefaults;
    for (int32_t j = nargs; j < nparams; j++) obj_set(s[j], cl->defaults[j - first]);
    nargs = nparams;
  } else if (nargs > nparams && !p->varparams) {
    return vm_raise(v, "wrong number of parameters");
  }
  if (p->varparams) {
    SQArray* a = array_new(v->ss, 0);
    array_reserve(a, (uint32_t)(nargs - nparams));
    for (int32_t j = nparams; j < nargs; j++) {
      a->vals[a->size++] = s[j];  // moves the reference
      s[j] = mk_null();
    }
    obj_set(s[nparams], mk_obj(OT_ARRAY, a));
  }
  if (cl->env._type == OT_WEAKREF) obj_set(s[0], cl->env._unVal.pWeakRef->target);
  return true;
}

__attribute__((always_inline)) static inline void push_script_frame(SQVM* v, SQClosure* cl, int32_t newbase,
                                                                    int32_t target, uint8_t flags) {
  SQFunctionProto* p = cl->proto;
  SQCallInfo* ci = push_ci(v);
  ci->closure = cl;
  ci->ip = p->code;
  ci->literals = p->literals;
  ci->base = newbase;
  ci->top = newbase + (int32_t)p->stacksize;
  ci->target = target;
  ci->ntraps = v->ntraps;
  ci->prevtop = v->top;
  ci->flags = flags;
  ci->generator = nullptr;
  v->top = ci->top;
  if (v->hooked) call_debughook(v, 'c', *ci, proto_line(p, 0));
}

__attribute__((always_inline)) static inline void clear_slots(SQVM* v, int32_t from, int32_t to) {
  SQObject* s = v->stack;
  for (int32_t j = from; j < to; j++) {
    SQObjectType t = s[j]._type;
    if (t == OT_NULL) continue;
    SQRefCounted* p = s[j]._unVal.pRefCounted;
    s[j]._type = OT_NULL;
    s[j]._unVal.raw = 0;
    if ((t & SQOBJECT_REF_COUNTED) && --p->refs == 0) obj_destroy(p);
  }
}

// Creates a generator holding the prepared frame at newbase.
static void make_generator(SQVM* v, SQClosure* cl, int32_t newbase) {
  SQFunctionProto* p = cl->proto;
  SQGenerator* g = (SQGenerator*)sq_alloc_obj(sizeof(SQGenerator));
  gc_link(v->ss, g, K_GENERATOR);
  g->closure = mk_obj(OT_CLOSURE, cl);
  rc_addref(cl);
  uint32_t n = p->stacksize;
  g->stack.reserve(n);
  uint32_t nlive = p->nparams + (p->varparams ? 1 : 0);
  for (uint32_t j = 0; j < n; j++) {
    SQObject o = mk_null();
    if (j < nlive) {
      o = v->stack[newbase + j];
      obj_addref(o);
    }
    g->stack.push(o);
  }
  g->ip = p->code;
  g->state = SQGenerator::SUSPENDED;
  clear_slots(v, newbase, newbase + (int32_t)n);
  obj_setnull(v->retval);
  v->retval = mk_obj(OT_GENERATOR, g);
  rc_addref(g);
}

static bool check_native_params(SQVM* v, SQNativeClosure* nc, int32_t newbase, int32_t nargs) {
  SQInteger n = nc->nparamscheck;
  if (n > 0 && nargs != n) return vm_raise(v, "wrong number of parameters");
  if (n < 0 && nargs < -n) return vm_raise(v, "wrong number of parameters");
  for (uint32_t j = 0; j < nc->ntypecheck && (int32_t)j < nargs; j++) {
    SQInteger mask = nc->typecheck[j];
    if (mask == -1) continue;
    SQObjectType t = v->stack[newbase + j]._type;
    if (!(mask & _RAW_TYPE(t))) {
      char expected[128];
      size_t len = 0;
      expected[0] = 0;
      static const struct {
        SQInteger bit;
        const char* name;
      } names[] = {{_RT_NULL, "null"},           {_RT_INTEGER, "integer"},
                   {_RT_FLOAT, "float"},         {_RT_BOOL, "bool"},
                   {_RT_STRING, "string"},       {_RT_TABLE, "table"},
                   {_RT_ARRAY, "array"},         {_RT_USERDATA, "userdata"},
                   {_RT_CLOSURE, "closure"},     {_RT_NATIVECLOSURE, "native closure"},
                   {_RT_GENERATOR, "generator"}, {_RT_USERPOINTER, "userpointer"},
                   {_RT_THREAD, "thread"},       {_RT_CLASS, "class"},
                   {_RT_INSTANCE, "instance"},   {_RT_WEAKREF, "weakref"}};
      for (auto& nm : names) {
        if (!(mask & nm.bit)) continue;
        len += (size_t)snprintf(expected + len, sizeof(expected) - len, "%s%s", len ? "|" : "", nm.name);
        if (len >= sizeof(expected)) break;
      }
      return vm_raise(v, "parameter %d has an invalid type '%s' ; expected: '%s'", (int)j, type_name(t),
                      expected);
    }
  }
  return true;
}

static CallResult call_native(SQVM* v, SQNativeClosure* nc, int32_t newbase, int32_t nargs) {
  if (!check_native_params(v, nc, newbase, nargs)) return CALL_ERROR;
  int32_t nouters = (int32_t)nc->nouters;
  if (!vm_grow_stack(v, newbase + nargs + nouters + 32)) return CALL_ERROR;
  for (int32_t j = 0; j < nouters; j++) obj_set(v->stack[newbase + nargs + j], nc->outers[j]);
  if (nc->env._type == OT_WEAKREF) obj_set(v->stack[newbase], nc->env._unVal.pWeakRef->target);
  int32_t prevtop = v->top, prevbase = v->base;
  SQCallInfo* ci = push_ci(v);
  ci->closure = nullptr;
  ci->ip = nullptr;
  ci->literals = nullptr;
  ci->base = newbase;
  ci->top = newbase + nargs + nouters;
  ci->target = -1;
  ci->ntraps = v->ntraps;
  ci->prevtop = prevtop;
  ci->flags = CI_NATIVE;
  ci->generator = nullptr;
  v->base = newbase;
  v->top = newbase + nargs + nouters;
  int32_t entrytop = v->top;
  SQInteger ret = nc->fn(v);
  int32_t endtop = v->top;
  v->ncalls--;
  v->base = prevbase;
  v->ntraps = v->calls[v->ncalls].ntraps;
  CallResult r = CALL_DONE;
  obj_setnull(v->retval);
  if (ret == SQ_SUSPEND_FLAG) {
    r = CALL_SUSPEND;
    if (endtop > newbase + 1) obj_set(v->retval, v->stack[endtop - 1]);
  } else if (ret < 0) {
    r = CALL_ERROR;
  } else if (ret > 0 && endtop > newbase) {
    obj_set(v->retval, v->stack[endtop - 1]);
  }
  clear_slots(v, newbase, endtop > entrytop ? endtop : entrytop);
  v->top = prevtop;
  return r;
}

// Starts calling stack[fidx] with nargs arguments above it. Script closures get
// a frame (CALL_FRAME); anything else runs to completion with its result in
// v->retval (CALL_DONE).
static CallResult precall(SQVM* v, int32_t fidx, int32_t nargs, int32_t target, uint8_t flags) {
  for (int depth = 0; depth < 8; depth++) {
    SQObject fn = v->stack[fidx];
    switch (fn._type) {
      case OT_CLOSURE: {
        SQClosure* cl = fn._unVal.pClosure;
        if (nargs == cl->proto->fastargs && cl->env._type == OT_NULL) {
          if (!vm_grow_stack(v, fidx + 2 + (int32_t)cl->proto->stacksize)) return CALL_ERROR;
          push_script_frame(v, cl, fidx + 1, target, flags);
          return CALL_FRAME;
        }
        if (!setup_frame(v, cl, fidx + 1, nargs)) return CALL_ERROR;
        if (cl->proto->generator) {
          make_generator(v, cl, fidx + 1);
          return CALL_DONE;
        }
        push_script_frame(v, cl, fidx + 1, target, flags);
        return CALL_FRAME;
      }
      case OT_NATIVECLOSURE: return call_native(v, fn._unVal.pNativeClosure, fidx + 1, nargs);
      case OT_CLASS: {
        SQClass* c = fn._unVal.pClass;
        SQObject inst = mk_obj(OT_INSTANCE, instance_new(v->ss, c));
        obj_set(v->stack[fidx + 1], inst);
        if (c->constructor < 0) {
          obj_set(v->retval, inst);
          clear_slots(v, fidx + 1, fidx + 1 + nargs);
          return CALL_DONE;
        }
        SQObject ctor = c->methods[c->constructor].val;
        if (ctor._type == OT_CLOSURE) {
          SQClosure* cl = ctor._unVal.pClosure;
          if (!setup_frame(v, cl, fidx + 1, nargs)) return CALL_ERROR;
          push_script_frame(v, cl, fidx + 1, target, flags | CI_CONSTRUCTOR);
          return CALL_FRAME;
        }
        if (ctor._type == OT_NATIVECLOSURE) {
          SQRef keep(inst);
          CallResult r = call_native(v, ctor._unVal.pNativeClosure, fidx + 1, nargs);
          if (r != CALL_DONE) return r == CALL_SUSPEND ? CALL_ERROR : r;
          obj_set(v->retval, inst);
          return CALL_DONE;
        }
        vm_raise(v, "attempt to call '%s'", type_name(ctor._type));
        return CALL_ERROR;
      }
      case OT_INSTANCE:
      case OT_TABLE:
      case OT_USERDATA: {
        SQObject mm = mk_null();
        if (fn._type == OT_INSTANCE) {
          mm = fn._unVal.pInstance->klass->metamethods[MT_CALL];
        } else if (SQTable* d = ((SQDelegable*)fn._unVal.pRefCounted)->delegate) {
          if (SQObject* slot = table_find(d, v->ss->metanames[MT_CALL])) mm = *slot;
        }
        if (mm._type == OT_NULL) break;
        // obj(args) becomes _call(obj as this, original this, args)
        if (!vm_grow_stack(v, fidx + nargs + 3)) return CALL_ERROR;
        SQObject* s = v->stack + fidx;
        obj_release(s[nargs + 1]);
        for (int32_t j = nargs; j >= 1; j--) s[j + 1] = s[j];
        s[1] = fn;  // the reference held by s[0] moves to s[1]
        s[0] = mm;
        obj_addref(mm);
        nargs++;
        if (fidx + 1 + nargs > v->top) v->top = fidx + 1 + nargs;
        continue;
      }
      default: break;
    }
    vm_raise(v, "attempt to call '%s'", type_name(fn._type));
    return CALL_ERROR;
  }
  vm_raise(v, "attempt to call '%s'", type_name(v->stack[fidx]._type));
  return CALL_ERROR;
}

static bool resume_generator(SQVM* v, SQGenerator* g, int32_t newbase, int32_t target, uint8_t flags) {
  if (g->state == SQGenerator::DEAD) return vm_raise(v, "resuming dead generator");
  if (g->state == SQGenerator::RUNNING) return vm_raise(v, "resuming active generator");
  SQClosure* cl = g->closure._unVal.pClosure;
  SQFunctionProto* p = cl->proto;
  int32_t n = (int32_t)p->stacksize;
  if (!vm_grow_stack(v, newbase + n + 1)) return false;
  for (int32_t j = 0; j < n; j++) {
    obj_release(v->stack[newbase + j]);
    v->stack[newbase + j] = g->stack[j];
    g->stack[j] = mk_null();
  }
  while (SQOuter* u = g->outers) {
    g->outers = u->next;
    u->stackidx += newbase;
    u->valptr = &v->stack[u->stackidx];
    insert_open_outer(v, u);
  }
  int32_t ntraps = v->ntraps;
  SQCallInfo* ci = push_ci(v);
  ci->closure = cl;
  ci->ip = g->ip;
  ci->literals = p->literals;
  ci->base = newbase;
  ci->top = newbase + n;
  ci->target = target;
  ci->ntraps = ntraps;
  ci->prevtop = v->top;
  ci->flags = flags | CI_GENERATOR;
  ci->generator = g;
  for (uint32_t j = 0; j < g->traps.size; j++) {
    SQExceptionTrap t = g->traps[j];
    t.ncalls = v->ncalls;
    t.catchreg += newbase;
    push_trap(v, t);
  }
  g->traps.size = 0;
  g->state = SQGenerator::RUNNING;
  v->top = ci->top;
  return true;
}

void generator_kill(SQGenerator* g) {
  while (SQOuter* u = g->outers) {
    g->outers = u->next;
    u->next = nullptr;
    u->value = *u->valptr;
    obj_addref(u->value);
    u->valptr = &u->value;
    rc_release(u);
  }
  for (uint32_t j = 0; j < g->stack.size; j++) obj_setnull(g->stack[j]);
  g->traps.size = 0;
  g->state = SQGenerator::DEAD;
}

// Pops the top frame after an error (frames of this run only).
static void unwind_frame(SQVM* v) {
  SQCallInfo& ci = v->calls[v->ncalls - 1];
  if (v->openouters && v->openouters->stackidx >= ci.base) close_outers(v, ci.base);
  if (ci.flags & CI_GENERATOR) ci.generator->state = SQGenerator::DEAD;
  clear_slots(v, ci.base, ci.top);
  if (ci.flags & CI_OWNSCLOSURE) rc_release(ci.closure);
  v->ntraps = ci.ntraps;
  v->top = ci.prevtop;
  v->ncalls--;
}

static bool exists(const SQObject& self, const SQObject& key) {
  SQObject tmp;
  switch (self._type) {
    case OT_TABLE: return table_find(self._unVal.pTable, key) != nullptr;
    case OT_INSTANCE: return instance_get(self._unVal.pInstance, key, tmp);
    case OT_CLASS: return class_get(self._unVal.pClass, key, tmp);
    case OT_ARRAY:
      return key._type == OT_INTEGER && key._unVal.nInteger >= 0 &&
             (uint32_t)key._unVal.nInteger < self._unVal.pArray->size;
    case OT_STRING:
      return key._type == OT_INTEGER && key._unVal.nInteger >= 0 &&
             key._unVal.nInteger < self._unVal.pString->len;
    default: return false;
  }
}

static inline SQFloat tofloat(const SQObject& o) {
  return o._type == OT_INTEGER ? (SQFloat)o._unVal.nInteger : o._unVal.fFloat;
}

// Writes the decimal text of an integer; returns its length.
static int format_int(char* buf, SQInteger n) {
  char tmp[16];
  uint32_t u = n < 0 ? 0u - (uint32_t)n : (uint32_t)n;
  int len = 0;
  do {
    tmp[len++] = (char)('0' + u % 10);
    u /= 10;
  } while (u);
  int k = 0;
  if (n < 0) buf[k++] = '-';
  while (len) buf[k++] = tmp[--len];
  buf[k] = 0;
  return k;
}

// Joins the text of the n values at stack[first..] into stack[first].
static bool concat_registers(SQVM* v, int32_t first, int n) {
  if (n < 1 || n > 100) return vm_raise(v, "invalid concatenation");
  SQObject* s = v->stack + first;
  // values that are not strings or numbers are converted first (this may run
  // _tostring metamethods, so the stack is read again afterwards)
  for (int j = 0; j < n; j++) {
    SQObjectType t = v->stack[first + j]._type;
    if (t != OT_STRING && t != OT_INTEGER && t != OT_FLOAT) {
      SQRef val(v->stack[first + j]), str;
      if (!vm_tostring(v, val.o, str.o)) return false;
      obj_set(v->stack[first + j], str.o);
    }
  }
  s = v->stack + first;
  char numbuf[100][32];
  int64_t total = 0;
  for (int j = 0; j < n; j++) {
    const SQObject& o = s[j];
    if (o._type == OT_STRING) {
      total += o._unVal.pString->len;
    } else if (o._type == OT_INTEGER) {
      total += format_int(numbuf[j], o._unVal.nInteger);
    } else {
      total += snprintf(numbuf[j], sizeof numbuf[j], "%g", (double)o._unVal.fFloat);
    }
  }
  if (total > SQ_MAX_STRING) return vm_raise(v, "string too long");
  SQString* r = str_alloc(v->ss, (SQInteger)total);
  char* p = r->val;
  for (int j = 0; j < n; j++) {
    const SQObject& o = s[j];
    if (o._type == OT_STRING) {
      memcpy(p, o._unVal.pString->val, (size_t)o._unVal.pString->len);
      p += o._unVal.pString->len;
    } else {
      size_t len = strlen(numbuf[j]);
      memcpy(p, numbuf[j], len);
      p += len;
    }
  }
  r = str_intern(v->ss, r);
  obj_set(s[0], mk_str(r));
  return true;
}

// Lookup of a string key in a table, remembering the node it was found in:
// instructions with constant keys keep that node index in spare operand
// bytes (lo, and hi when there are two), so the next lookup usually checks
// one node. The hint is only trusted after the node's key is compared.
__attribute__((always_inline)) static inline SQObject* findstr_cached(SQTable* t, SQString* key, uint8_t* lo,
                                                                    uint8_t* hi) {
  uint32_t idx = *lo | (hi ? (uint32_t)*hi << 8 : 0u);
  if (idx < t->cap) {
    SQTableNode& n = t->nodes[idx];
    if (n.key.raw == (SQRawObjectVal)(uintptr_t)key && n.keytype == OT_STRING) return &n.val;
  }
  SQObject* slot = table_findstr(t, key);
  if (slot) {
    uint32_t found = (uint32_t)((SQTableNode*)(void*)slot - t->nodes);  // val is the node's first member
    if (found <= (hi ? 0xFFFFu : 0xFFu)) {
      *lo = (uint8_t)found;
      if (hi) *hi = (uint8_t)(found >> 8);
    }
  }
  return slot;
}

// The slot a string key names in a table, an instance (field or method) or,
// for other types, their default delegate; null when a full lookup is needed.
__attribute__((always_inline)) static inline SQObject* lookup_str(SQSharedState* ss, const SQObject& obj,
                                                                SQString* key, uint8_t* lo, uint8_t* hi) {
  switch (obj._type) {
    case OT_TABLE: return findstr_cached(obj._unVal.pTable, key, lo, hi);
    case OT_INSTANCE: {
      SQInstance* inst = obj._unVal.pInstance;
      SQObject* m = findstr_cached(inst->klass->members, key, lo, hi);
      if (!m) return nullptr;
      SQInteger idx = m->_unVal.nInteger;
      return (idx & MEMBER_FIELD) ? &inst->values[idx & MEMBER_INDEX]
                                  : &inst->klass->methods[idx & MEMBER_INDEX].val;
    }
    case OT_ARRAY: return findstr_cached(ss->dd_array._unVal.pTable, key, lo, hi);
    case OT_STRING: return findstr_cached(ss->dd_string._unVal.pTable, key, lo, hi);
    case OT_INTEGER:
    case OT_FLOAT: return findstr_cached(ss->dd_number._unVal.pTable, key, lo, hi);
    default: return nullptr;
  }
}
#define CUR_INS ((SQInstruction*)pi)

// ---- the instruction loop ----
// Runs until the frame at index 'root' returns (true, result in v->retval),
// the thread suspends (true, v->state suspended) or an error is not caught
// by a trap of this run (false, frames down to root popped).
static bool execute(SQVM* v, int32_t root, bool throw_first = false) {
  static void* const dispatch[] = {
#define SQ_OP_LABEL(name) &&L_##name,
      SQ_OPCODES(SQ_OP_LABEL)
#undef SQ_OP_LABEL
  };
  static void* const hooked_dispatch[] = {
#define SQ_OP_HOOK(name) &&L_HOOK,
      SQ_OPCODES(SQ_OP_HOOK)
#undef SQ_OP_HOOK
  };
  void* const* dt = dispatch;
  int32_t hook_frame = -1, hook_pc = -1;
  SQSharedState* ss = v->ss;
  SQCallInfo* ci;
  SQClosure* cl;
  const SQInstruction* ip;
  SQObject* K;
  SQObject* base;
  const SQInstruction* pi;  // the instruction being executed

#define LOAD_FRAME()                                \
  do {                                              \
    ci = &v->calls[v->ncalls - 1];                  \
    cl = ci->closure;                               \
    ip = ci->ip;                                    \
    K = ci->literals;                               \
    base = v->stack + ci->base;                     \
    dt = v->hooked ? hooked_dispatch : dispatch;    \
  } while (0)
#define SAVE() (ci->ip = ip)
#define DISPATCH()            \
  do {                        \
    pi = ip++;                \
    goto* dt[pi->op];         \
  } while (0)
#define RA (base[pi->a])
#define RB (base[pi->b])
#define RC (base[pi->c])
#define THROW() goto exception

  LOAD_FRAME();
  if (throw_first) THROW();
  DISPATCH();

L_LOADNULL:
  for (int j = 0; j < pi->b; j++) obj_setnull(base[pi->a + j]);
  DISPATCH();
L_LOADK:
  obj_set(RA, K[pi->d]);
  DISPATCH();
L_LOADINT:
  obj_setint(RA, pi->d);
  DISPATCH();
L_LOADFLOAT: {
  SQFloat f;
  memcpy(&f, &pi->d, 4);
  obj_setfloat(RA, f);
  DISPATCH();
}
L_LOADBOOL:
  obj_setbool(RA, pi->b != 0);
  DISPATCH();
L_LOADROOT:
  obj_set(RA, v->roottable);
  DISPATCH();
L_MOVE:
  obj_set(RA, RB);
  DISPATCH();
L_GETOUTER:
  obj_set(RA, *cl->outers[pi->b]->valptr);
  DISPATCH();
L_SETOUTER:
  obj_set(*cl->outers[pi->a]->valptr, RB);
  DISPATCH();

L_GET: {
  const SQObject& obj = RB;
  const SQObject& key = RC;
  if (obj._type == OT_ARRAY && key._type == OT_INTEGER) {
    SQArray* a = obj._unVal.pArray;
    if ((uint32_t)key._unVal.nInteger < a->size) {
      obj_set(RA, realval(a->vals[key._unVal.nInteger]));
      DISPATCH();
    }
  } else if (obj._type == OT_TABLE) {
    SQObject* slot = key._type == OT_INTEGER  ? table_findint(obj._unVal.pTable, key._unVal.nInteger)
                     : key._type == OT_STRING ? table_findstr(obj._unVal.pTable, key._unVal.pString)
                                              : table_find(obj._unVal.pTable, key);
    if (slot) {
      obj_set(RA, realval(*slot));
      DISPATCH();
    }
  } else if (obj._type == OT_INSTANCE) {
    SQObject val;
    if (instance_get(obj._unVal.pInstance, key, val)) {
      obj_set(RA, val);
      DISPATCH();
    }
  }
  SAVE();
  {
    SQRef o(obj), k(key), res;
    if (!vm_get(v, o.o, k.o, res.o, 0)) THROW();
    LOAD_FRAME();
    obj_set(RA, res.o);
  }
  DISPATCH();
}
L_GETK: {
  const SQObject& obj = RB;
  const SQObject& key = K[pi->d];
  if (key._type == OT_STRING && (obj._type == OT_TABLE || obj._type == OT_INSTANCE)) {
    if (SQObject* slot = lookup_str(ss, obj, key._unVal.pString, &CUR_INS->c, nullptr)) {
      obj_set(RA, realval(*slot));
      DISPATCH();
    }
  } else if (obj._type == OT_TABLE) {
    if (SQObject* slot = table_find(obj._unVal.pTable, key)) {
      obj_set(RA, realval(*slot));
      DISPATCH();
    }
  } else if (obj._type == OT_ARRAY && key._type == OT_INTEGER) {
    SQArray* a = obj._unVal.pArray;
    if ((uint32_t)key._unVal.nInteger < a->size) {
      obj_set(RA, realval(a->vals[key._unVal.nInteger]));
      DISPATCH();
    }
  }
  SAVE();
  {
    SQRef o(obj), res;
    if (!vm_get(v, o.o, key, res.o, 0)) THROW();
    LOAD_FRAME();
    obj_set(RA, res.o);
  }
  DISPATCH();
}
L_GETTHISK: {
  const SQObject& obj = base[0];
  const SQObject& key = K[pi->d];
  if (key._type == OT_STRING && (obj._type == OT_TABLE || obj._type == OT_INSTANCE)) {
    if (SQObject* slot = lookup_str(ss, obj, key._unVal.pString, &CUR_INS->b, &CUR_INS->c)) {
      obj_set(RA, realval(*slot));
      DISPATCH();
    }
  }
  SAVE();
  {
    SQRef o(obj), res;
    if (!vm_get(v, o.o, key, res.o, GET_ROOT)) THROW();
    LOAD_FRAME();
    obj_set(RA, res.o);
  }
  DISPATCH();
}

L_SET: {
  const SQObject& obj = RA;
  const SQObject& key = RB;
  if (obj._type == OT_ARRAY && key._type == OT_INTEGER) {
    SQArray* a = obj._unVal.pArray;
    if ((uint32_t)key._unVal.nInteger < a->size) {
      obj_set(a->vals[key._unVal.nInteger], RC);
      DISPATCH();
    }
  } else if (obj._type == OT_TABLE) {
    SQObject* slot = key._type == OT_INTEGER  ? table_findint(obj._unVal.pTable, key._unVal.nInteger)
                     : key._type == OT_STRING ? table_findstr(obj._unVal.pTable, key._unVal.pString)
                                              : table_find(obj._unVal.pTable, key);
    if (slot) {
      obj_set(*slot, RC);
      DISPATCH();
    }
  }
  SAVE();
  {
    SQRef o(obj), k(key), val(RC);
    if (!vm_set(v, o.o, k.o, val.o, 0)) THROW();
    LOAD_FRAME();
  }
  DISPATCH();
}
L_SETK: {
  const SQObject& obj = RA;
  const SQObject& key = K[pi->d];
  if (key._type == OT_STRING) {
    if (obj._type == OT_TABLE) {
      if (SQObject* slot = findstr_cached(obj._unVal.pTable, key._unVal.pString, &CUR_INS->b, nullptr)) {
        obj_set(*slot, RC);
        DISPATCH();
      }
    } else if (obj._type == OT_INSTANCE) {
      SQInstance* inst = obj._unVal.pInstance;
      SQObject* m = findstr_cached(inst->klass->members, key._unVal.pString, &CUR_INS->b, nullptr);
      if (m && (m->_unVal.nInteger & MEMBER_FIELD)) {
        obj_set(inst->values[m->_unVal.nInteger & MEMBER_INDEX], RC);
        DISPATCH();
      }
    }
  }
  SAVE();
  {
    SQRef o(obj), val(RC);
    if (!vm_set(v, o.o, key, val.o, 0)) THROW();
    LOAD_FRAME();
  }
  DISPATCH();
}
L_SETTHISK: {
  const SQObject& obj = base[0];
  const SQObject& key = K[pi->d];
  if (key._type == OT_STRING) {
    if (obj._type == OT_TABLE) {
      if (SQObject* slot = findstr_cached(obj._unVal.pTable, key._unVal.pString, &CUR_INS->a, &CUR_INS->b)) {
        obj_set(*slot, RC);
        DISPATCH();
      }
    } else if (obj._type == OT_INSTANCE) {
      SQInstance* inst = obj._unVal.pInstance;
      SQObject* m = findstr_cached(inst->klass->members, key._unVal.pString, &CUR_INS->a, &CUR_INS->b);
      if (m && (m->_unVal.nInteger & MEMBER_FIELD)) {
        obj_set(inst->values[m->_unVal.nInteger & MEMBER_INDEX], RC);
        DISPATCH();
      }
    }
  }
  SAVE();
  {
    SQRef o(obj), val(RC);
    if (!vm_set(v, o.o, key, val.o, GET_ROOT)) THROW();
    LOAD_FRAME();
  }
  DISPATCH();
}
L_NEWSLOT: {
  const SQObject& obj = RA;
  if (obj._type == OT_TABLE && !obj._unVal.pTable->delegate && obj._unVal.pTable->count < SQ_MAX_TABLE &&
      RB._type != OT_NULL && !(RB._type == OT_FLOAT && std::isnan(RB._unVal.fFloat))) {
    table_set(obj._unVal.pTable, RB, RC);
    DISPATCH();
  }
  SAVE();
  {
    SQRef o(obj), k(RB), val(RC);
    if (!vm_newslot(v, o.o, k.o, val.o, false, false)) THROW();
    LOAD_FRAME();
  }
  DISPATCH();
}
L_NEWSLOTA: {
  SAVE();
  {
    SQRef o(RA), k(RB), val(RC), attrs;
    if (pi->d & 2) attrs.set(base[pi->c + 1]);
    if (!vm_newmember(v, o.o, k.o, val.o, attrs.o, (pi->d & 1) != 0, false)) THROW();
    LOAD_FRAME();
  }
  DISPATCH();
}
L_DELETE: {
  SAVE();
  {
    SQRef o(RB), k(RC), res;
    if (!vm_delete(v, o.o, k.o, &res.o, false)) THROW();
    LOAD_FRAME();
    obj_set(RA, res.o);
  }
  DISPATCH();
}

#define ARITH(name, opch, iexpr, fexpr)                                             \
  L_##name : {                                                                      \
    const SQObject& x = RB;                                                         \
    const SQObject& y = RC;                                                         \
    if (x._type == OT_INTEGER && y._type == OT_INTEGER) {                           \
      uint32_t a = (uint32_t)x._unVal.nInteger, b = (uint32_t)y._unVal.nInteger;     \
      obj_setint(RA, (SQInteger)(iexpr));                                           \
      DISPATCH();                                                                   \
    }                                                                               \
    if ((x._type & SQOBJECT_NUMERIC) && (y._type & SQOBJECT_NUMERIC)) {             \
      SQFloat a = tofloat(x), b = tofloat(y);                                       \
      obj_setfloat(RA, (fexpr));                                                    \
      DISPATCH();                                                                   \
    }                                                                               \
    SAVE();                                                                         \
    {                                                                               \
      SQRef a(x), b(y), res;                                                        \
      if (!vm_arith(v, opch, a.o, b.o, res.o)) THROW();                             \
      LOAD_FRAME();                                                                 \
      obj_set(RA, res.o);                                                           \
    }                                                                               \
    DISPATCH();                                                                     \
  }
  ARITH(ADD, '+', a + b, a + b)
  ARITH(SUB, '-', a - b, a - b)
  ARITH(MUL, '*', a * b, a * b)
#undef ARITH

// Division and remainder: numbers directly, except integer division by 0
// (an error) and by -1 (INT_MIN / -1 overflows), which take the general
// path with the metamethods.
#define DIVMOD(second, div_op)                                                    \
  {                                                                               \
    const SQObject& x = RB;                                                       \
    const SQObject& y = second;                                                   \
    bool div = pi->op == div_op;                                                  \
    if ((x._type & SQOBJECT_NUMERIC) && (y._type & SQOBJECT_NUMERIC) &&           \
        !(x._type == OT_INTEGER && y._type == OT_INTEGER &&                       \
          (y._unVal.nInteger == 0 || y._unVal.nInteger == -1))) {                 \
      if (x._type == OT_INTEGER && y._type == OT_INTEGER) {                       \
        SQInteger a = x._unVal.nInteger, b = y._unVal.nInteger;                   \
        obj_setint(RA, div ? a / b : a % b);                                      \
      } else {                                                                    \
        SQFloat a = tofloat(x), b = tofloat(y);                                   \
        obj_setfloat(RA, div ? a / b : fmodf(a, b));                              \
      }                                                                           \
      DISPATCH();                                                                 \
    }                                                                             \
    SAVE();                                                                       \
    {                                                                             \
      SQRef a(x), b(y), res;                                                      \
      if (!vm_arith(v, div ? '/' : '%', a.o, b.o, res.o)) THROW();                \
      LOAD_FRAME();                                                               \
      obj_set(RA, res.o);                                                         \
    }                                                                             \
    DISPATCH();                                                                   \
  }
L_DIV:
L_MOD:
  DIVMOD(RC, OP_DIV)

L_ADDI: {
  const SQObject& x = RB;
  if (x._type == OT_INTEGER) {
    obj_setint(RA, (SQInteger)((uint32_t)x._unVal.nInteger + (uint32_t)pi->d));
    DISPATCH();
  }
  if (x._type == OT_FLOAT) {
    obj_setfloat(RA, x._unVal.fFloat + (SQFloat)pi->d);
    DISPATCH();
  }
  SAVE();
  {
    SQRef a(x), res;
    if (!vm_arith(v, '+', a.o, mk_int(pi->d), res.o)) THROW();
    LOAD_FRAME();
    obj_set(RA, res.o);
  }
  DISPATCH();
}

#define ARITHK(name, opch, iexpr, fexpr)                                            \
  L_##name : {                                                                      \
    const SQObject& x = RB;                                                         \
    const SQObject& y = K[pi->d];                                                     \
    if (x._type == OT_INTEGER && y._type == OT_INTEGER) {                           \
      uint32_t a = (uint32_t)x._unVal.nInteger, b = (uint32_t)y._unVal.nInteger;     \
      obj_setint(RA, (SQInteger)(iexpr));                                           \
      DISPATCH();                                                                   \
    }                                                                               \
    if ((x._type & SQOBJECT_NUMERIC) && (y._type & SQOBJECT_NUMERIC)) {             \
      SQFloat a = tofloat(x), b = tofloat(y);                                       \
      obj_setfloat(RA, (fexpr));                                                    \
      DISPATCH();                                                                   \
    }                                                                               \
    SAVE();                                                                         \
    {                                                                               \
      SQRef a(x), res;                                                              \
      if (!vm_arith(v, opch, a.o, y, res.o)) THROW();                               \
      LOAD_FRAME();                                                                 \
      obj_set(RA, res.o);                                                           \
    }                                                                               \
    DISPATCH();                                                                     \
  }
  ARITHK(ADDK, '+', a + b, a + b)
  ARITHK(SUBK, '-', a - b, a - b)
  ARITHK(MULK, '*', a * b, a * b)
#undef ARITHK

L_DIVK:
L_MODK:
  DIVMOD(K[pi->d], OP_DIVK)
#undef DIVMOD

L_CONCAT: {
  SAVE();
  if (!concat_registers(v, ci->base + pi->a, pi->b)) THROW();
  LOAD_FRAME();
  DISPATCH();
}

#define BITOP(name, expr)                                                                   \
  L_##name : {                                                                              \
    const SQObject& x = RB;                                                                 \
    const SQObject& y = RC;                                                                 \
    if (x._type != OT_INTEGER || y._type != OT_INTEGER) {                                   \
      SAVE();                                                                               \
      vm_raise(v, "bitwise op between '%s' and '%s'", type_name(x._type), type_name(y._type)); \
      THROW();                                                                              \
    }                                                                                       \
    uint32_t a = (uint32_t)x._unVal.nInteger, b = (uint32_t)y._unVal.nInteger;               \
    (void)a;                                                                                \
    (void)b;                                                                                \
    obj_setint(RA, (SQInteger)(expr));                                                      \
    DISPATCH();                                                                             \
  }
  BITOP(BAND, a & b)
  BITOP(BOR, a | b)
  BITOP(BXOR, a ^ b)
  BITOP(SHL, a << (b & 31))
  BITOP(SHR, (uint32_t)((int32_t)a >> (b & 31)))
  BITOP(USHR, a >> (b & 31))
#undef BITOP

L_NEG: {
  const SQObject& x = RB;
  if (x._type == OT_INTEGER) {
    obj_setint(RA, (SQInteger)(0u - (uint32_t)x._unVal.nInteger));
    DISPATCH();
  }
  if (x._type == OT_FLOAT) {
    obj_setfloat(RA, -x._unVal.fFloat);
    DISPATCH();
  }
  SAVE();
  {
    SQRef a(x), res;
    SQObject fn;
    bool found = false;
    if (x._type == OT_INSTANCE) {
      fn = x._unVal.pInstance->klass->metamethods[MT_UNM];
      found = fn._type != OT_NULL;
    } else if ((x._type == OT_TABLE || x._type == OT_USERDATA) && ((SQDelegable*)rc_of(x))->delegate) {
      SQObject* slot = table_find(((SQDelegable*)rc_of(x))->delegate, ss->metanames[MT_UNM]);
      found = slot != nullptr;
      if (found) fn = *slot;
    }
    if (!found) {
      vm_raise(v, "attempt to negate a %s", type_name(x._type));
      THROW();
    }
    SQRef f(fn);
    if (!vm_call_value(v, f.o, a.o, nullptr, 0, &res.o)) THROW();
    LOAD_FRAME();
    obj_set(RA, res.o);
  }
  DISPATCH();
}
L_NOT:
  obj_setbool(RA, !obj_truthy(RB));
  DISPATCH();
L_BNOT: {
  const SQObject& x = RB;
  if (x._type != OT_INTEGER) {
    SAVE();
    vm_raise(v, "attempt to perform a bitwise op on a %s", type_name(x._type));
    THROW();
  }
  obj_setint(RA, ~x._unVal.nInteger);
  DISPATCH();
}

L_EQ:
  obj_setbool(RA, vm_equal(RB, RC));
  DISPATCH();
L_NE:
  obj_setbool(RA, !vm_equal(RB, RC));
  DISPATCH();

// r = (x cmpop y): integers and floats directly, anything else through
// vm_compare (metamethods may run, so the frame is saved and reloaded).
#define VM_COMPARE(r, x, y, cmpop)                                                \
  if ((x)._type == OT_INTEGER && (y)._type == OT_INTEGER) {                       \
    r = (x)._unVal.nInteger cmpop (y)._unVal.nInteger;                            \
  } else if (((x)._type & SQOBJECT_NUMERIC) && ((y)._type & SQOBJECT_NUMERIC)) {  \
    r = tofloat(x) cmpop tofloat(y);                                              \
  } else {                                                                        \
    SAVE();                                                                       \
    int c;                                                                        \
    {                                                                             \
      SQRef a(x), b(y);                                                           \
      if (!vm_compare(v, a.o, b.o, c)) THROW();                                   \
    }                                                                             \
    LOAD_FRAME();                                                                 \
    r = c cmpop 0;                                                                \
  }

#define COMPARE(name, cmpop)                                                      \
  L_##name : {                                                                    \
    const SQObject& x = RB;                                                       \
    const SQObject& y = RC;                                                       \
    bool r;                                                                       \
    VM_COMPARE(r, x, y, cmpop)                                                    \
    obj_setbool(RA, r);                                                           \
    DISPATCH();                                                                   \
  }
  COMPARE(LT, <)
  COMPARE(LE, <=)
  COMPARE(GT, >)
  COMPARE(GE, >=)
#undef COMPARE
L_CMP3: {
  int c;
  SAVE();
  {
    SQRef a(RB), b(RC);
    if (!vm_compare(v, a.o, b.o, c)) THROW();
  }
  LOAD_FRAME();
  obj_setint(RA, c);
  DISPATCH();
}

L_JMP:
  ip += pi->d;
  DISPATCH();
L_JZ:
  if (!obj_truthy(RA)) ip += pi->d;
  DISPATCH();
L_JNZ:
  if (obj_truthy(RA)) ip += pi->d;
  DISPATCH();
L_JNEQ:
  if (!vm_equal(RA, RB)) ip += pi->d;
  DISPATCH();
L_JNNE:
  if (vm_equal(RA, RB)) ip += pi->d;
  DISPATCH();

#define CJUMP(name, cmpop)                                                        \
  L_##name : {                                                                    \
    const SQObject& x = RA;                                                       \
    const SQObject& y = RB;                                                       \
    bool r;                                                                       \
    if (x._type == OT_INTEGER && y._type == OT_INTEGER) {                         \
      r = x._unVal.nInteger cmpop y._unVal.nInteger;                              \
    } else if ((x._type & SQOBJECT_NUMERIC) && (y._type & SQOBJECT_NUMERIC)) {    \
      r = tofloat(x) cmpop tofloat(y);                                            \
    } else {                                                                      \
      SAVE();                                                                     \
      int c;                                                                      \
      {                                                                           \
        SQRef a(x), b(y);                                                         \
        if (!vm_compare(v, a.o, b.o, c)) THROW();                                 \
      }                                                                           \
      LOAD_FRAME();                                                               \
      r = c cmpop 0;                                                              \
    }                                                                             \
    if (!r) ip += pi->d;                                                            \
    DISPATCH();                                                                   \
  }
  CJUMP(JNLT, <)
  CJUMP(JNLE, <=)
  CJUMP(JNGT, >)
  CJUMP(JNGE, >=)
#undef CJUMP

L_JNEQK:
  if (!vm_equal(RA, K[pi->b | (pi->c << 8)])) ip += pi->d;
  DISPATCH();
L_JNNEK:
  if (vm_equal(RA, K[pi->b | (pi->c << 8)])) ip += pi->d;
  DISPATCH();
#define CJUMPK(name, cmpop)                                                       \
  L_##name : {                                                                    \
    const SQObject& x = RA;                                                       \
    const SQObject& y = K[pi->b | (pi->c << 8)];                                      \
    bool r;                                                                       \
    if (x._type == OT_INTEGER && y._type == OT_INTEGER) {                         \
      r = x._unVal.nInteger cmpop y._unVal.nInteger;                              \
    } else if ((x._type & SQOBJECT_NUMERIC) && (y._type & SQOBJECT_NUMERIC)) {    \
      r = tofloat(x) cmpop tofloat(y);                                            \
    } else {                                                                      \
      SAVE();                                                                     \
      int c;                                                                      \
      {                                                                           \
        SQRef a(x);                                                               \
        if (!vm_compare(v, a.o, y, c)) THROW();                                   \
      }                                                                           \
      LOAD_FRAME();                                                               \
      r = c cmpop 0;                                                              \
    }                                                                             \
    if (!r) ip += pi->d;                                                            \
    DISPATCH();                                                                   \
  }
  CJUMPK(JNLTK, <)
  CJUMPK(JNLEK, <=)
  CJUMPK(JNGTK, >)
  CJUMPK(JNGEK, >=)
#undef CJUMPK

L_JEQ:
  if (vm_equal(RA, RB)) ip += pi->d;
  DISPATCH();
L_JNE:
  if (!vm_equal(RA, RB)) ip += pi->d;
  DISPATCH();
L_JEQK:
  if (vm_equal(RA, K[pi->b | (pi->c << 8)])) ip += pi->d;
  DISPATCH();
L_JNEK:
  if (!vm_equal(RA, K[pi->b | (pi->c << 8)])) ip += pi->d;
  DISPATCH();
#define CJUMPT(name, cmpop, second)                                               \
  L_##name : {                                                                    \
    const SQObject& x = RA;                                                       \
    const SQObject& y = second;                                                   \
    bool r;                                                                       \
    VM_COMPARE(r, x, y, cmpop)                                                    \
    if (r) ip += pi->d;                                                           \
    DISPATCH();                                                                   \
  }
  CJUMPT(JLT, <, RB)
  CJUMPT(JLE, <=, RB)
  CJUMPT(JGT, >, RB)
  CJUMPT(JGE, >=, RB)
  CJUMPT(JLTK, <, K[pi->b | (pi->c << 8)])
  CJUMPT(JLEK, <=, K[pi->b | (pi->c << 8)])
  CJUMPT(JGTK, >, K[pi->b | (pi->c << 8)])
  CJUMPT(JGEK, >=, K[pi->b | (pi->c << 8)])
#undef CJUMPT
#undef VM_COMPARE

L_CALL: {
  const SQObject& fn = RB;
  int32_t fidx = ci->base + pi->b;
  int32_t target = pi->a == SQ_NO_REG ? -1 : ci->base + pi->a;
  SAVE();
  if (fn._type == OT_CLOSURE) {
    // the common case: a script function taking exactly these arguments
    SQClosure* ncl = fn._unVal.pClosure;
    SQFunctionProto* p = ncl->proto;
    int32_t newbase = fidx + 1;
    int32_t newtop = newbase + (int32_t)p->stacksize;
    if (pi->c == p->fastargs && ncl->env._type == OT_NULL && newtop < v->stacksize && !v->hooked) {
      if (v->ncalls == v->callcap) grow_calls(v);
      SQCallInfo* nci = &v->calls[v->ncalls++];
      nci->closure = ncl;
      nci->ip = p->code;
      nci->literals = p->literals;
      nci->base = newbase;
      nci->top = newtop;
      nci->target = target;
      nci->ntraps = v->ntraps;
      nci->prevtop = v->top;
      nci->flags = 0;
      nci->generator = nullptr;
      v->top = newtop;
      ci = nci;
      cl = ncl;
      ip = p->code;
      K = p->literals;
      base = v->stack + newbase;
      DISPATCH();
    }
  }
  CallResult r = precall(v, fidx, pi->c, target, 0);
  if (r == CALL_FRAME) {
    LOAD_FRAME();
    DISPATCH();
  }
  LOAD_FRAME();
  if (r == CALL_ERROR) THROW();
  if (r == CALL_SUSPEND) {
    if (v->nested != 1 || ci->flags & CI_GENERATOR) {
      vm_raise(v, "cannot suspend through native calls");
      THROW();
    }
    v->suspend_target = target;
    v->suspend_root = root;
    v->state = SQ_VMSTATE_SUSPENDED;
    return true;
  }
  if (target >= 0)
    obj_assign_owned(v->stack[target], v->retval);
  else
    obj_release(v->retval);
  v->retval = mk_null();
  DISPATCH();
}
L_TAILCALL: {
  const SQObject& fn = RB;
  if (fn._type == OT_CLOSURE && !fn._unVal.pClosure->proto->generator &&
      !(ci->flags & (CI_CONSTRUCTOR | CI_GENERATOR)) && !v->hooked) {
    SQClosure* ncl = fn._unVal.pClosure;
    int32_t nargs = pi->c;
    int32_t fbase = ci->base;
    SAVE();
    if (v->openouters && v->openouters->stackidx >= fbase) close_outers(v, fbase);
    SQObject newfn = fn;
    obj_addref(newfn);
    for (int32_t j = 0; j < nargs; j++) obj_set(base[j], base[pi->b + 1 + j]);
    clear_slots(v, fbase + nargs, ci->top);
    // keep the new function alive: in the caller's function slot, or, for a
    // root frame (whose slot belongs to the host), by the frame itself
    if (ci->flags & CI_ROOT) {
      if (ci->flags & CI_OWNSCLOSURE) rc_release(ci->closure);
      ci->flags |= CI_OWNSCLOSURE;  // takes over the reference held by newfn
    } else {
      obj_assign_owned(base[-1], newfn);
    }
    v->ntraps = ci->ntraps;
    if (!setup_frame(v, ncl, fbase, nargs)) {
      LOAD_FRAME();
      THROW();
    }
    ci = &v->calls[v->ncalls - 1];
    ci->closure = ncl;
    ci->ip = ncl->proto->code;
    ci->literals = ncl->proto->literals;
    ci->top = fbase + (int32_t)ncl->proto->stacksize;
    v->top = ci->top;
    LOAD_FRAME();
    DISPATCH();
  }
  goto L_CALL;
}
L_PREPCALLK: {
  const SQObject& key = K[pi->d];
  SQObject obj = RB;
  if (key._type == OT_STRING) {
    SQObject* slot = lookup_str(ss, obj, key._unVal.pString, &CUR_INS->c, nullptr);
    if (slot) {
      SQObject fn = realval(*slot);
      obj_set(base[pi->a + 1], obj);
      obj_set(RA, fn);
      DISPATCH();
    }
  }
  SAVE();
  {
    SQRef o(obj), res;
    if (!vm_get(v, o.o, key, res.o, 0)) THROW();
    LOAD_FRAME();
    obj_set(base[pi->a + 1], o.o);
    obj_set(RA, res.o);
  }
  DISPATCH();
}
L_PREPCALLTHISK: {
  const SQObject& key = K[pi->d];
  SQObject obj = base[0];
  if (key._type == OT_STRING) {
    SQObject* slot = lookup_str(ss, obj, key._unVal.pString, &CUR_INS->b, &CUR_INS->c);
    if (slot) {
      SQObject fn = realval(*slot);
      obj_set(base[pi->a + 1], obj);
      obj_set(RA, fn);
      DISPATCH();
    }
  }
  SAVE();
  {
    SQRef o(obj), res;
    if (!vm_get(v, o.o, key, res.o, GET_ROOT)) THROW();
    LOAD_FRAME();
    obj_set(base[pi->a + 1], o.o);
    obj_set(RA, res.o);
  }
  DISPATCH();
}
L_PREPCALL: {
  SQObject obj = RB, key = RC;
  uint8_t nohint = 0;
  SQObject* slot =
      key._type == OT_STRING ? lookup_str(ss, obj, key._unVal.pString, &nohint, nullptr) : nullptr;
  if (slot) {
    SQObject fn = realval(*slot);
    obj_set(base[pi->a + 1], obj);
    obj_set(RA, fn);
    DISPATCH();
  }
  SAVE();
  {
    SQRef o(obj), k(key), res;
    if (!vm_get(v, o.o, k.o, res.o, 0)) THROW();
    LOAD_FRAME();
    obj_set(base[pi->a + 1], o.o);
    obj_set(RA, res.o);
  }
  DISPATCH();
}

L_RETURN: {
  if (ci->flags == 0 && !v->hooked) {
    // a plain frame returning to a script caller
    int32_t fbase = ci->base;
    if (v->openouters && v->openouters->stackidx >= fbase) close_outers(v, fbase);
    SQObject res = mk_null();
    if (pi->b) {
      res = RA;  // the reference moves out of the register
      RA = mk_null();
    }
    v->ntraps = ci->ntraps;
    int32_t target = ci->target;
    clear_slots(v, fbase, ci->top);
    v->ncalls--;
    ci--;
    v->top = ci->top;
    cl = ci->closure;
    ip = ci->ip;
    K = ci->literals;
    base = v->stack + ci->base;
    if (target >= 0)
      obj_assign_owned(v->stack[target], res);
    else
      obj_release(res);
    DISPATCH();
  }
  SQObject res = pi->b ? RA : mk_null();
  uint8_t flags = ci->flags;
  if (flags & CI_CONSTRUCTOR) res = base[0];
  obj_addref(res);
  int32_t fbase = ci->base;
  if (v->openouters && v->openouters->stackidx >= fbase) close_outers(v, fbase);
  if (flags & CI_GENERATOR) {
    ci->generator->state = SQGenerator::DEAD;
    if (flags & CI_FOREACH) {
      // the loop ends: continue after the FOREACH jump target
      SQCallInfo& caller = v->calls[v->ncalls - 2];
      const SQInstruction* fe = caller.ip - 1;
      caller.ip = caller.ip + fe->d;
      obj_release(res);
      res = mk_null();
      ci->target = -1;
    }
  }
  v->ntraps = ci->ntraps;
  int32_t target = ci->target;
  int32_t prevtop = ci->prevtop;
  clear_slots(v, fbase, ci->top);
  if (v->hooked) call_debughook(v, 'r', *ci, frame_line(v, *ci));
  if (flags & CI_OWNSCLOSURE) rc_release(ci->closure);
  v->ncalls--;
  v->top = prevtop;
  if (flags & CI_ROOT) {
    obj_assign_owned(v->retval, res);
    return true;
  }
  LOAD_FRAME();
  if (target >= 0)
    obj_assign_owned(v->stack[target], res);
  else
    obj_release(res);
  DISPATCH();
}

L_NEWTABLE:
  obj_set(RA, mk_obj(OT_TABLE, table_new(ss, (uint32_t)pi->d)));
  DISPATCH();
L_NEWARRAY: {
  SQArray* a = array_new(ss, 0);
  if (pi->d > 0) array_reserve(a, (uint32_t)pi->d);
  obj_set(RA, mk_obj(OT_ARRAY, a));
  DISPATCH();
}
L_APPEND:
  array_push(RA._unVal.pArray, RB);
  DISPATCH();
L_CLOSURE: {
  SQFunctionProto* p = cl->proto->functions[pi->d];
  SQClosure* nc = closure_new(ss, p);
  SQObject o = mk_obj(OT_CLOSURE, nc);
  obj_addref(o);
  for (uint32_t j = 0; j < p->nouters; j++) {
    const SQOuterInfo& oi = p->outers[j];
    SQOuter* u = oi.from_local ? find_outer(v, ci->base + oi.index) : cl->outers[oi.index];
    rc_addref(u);
    nc->outers[j] = u;
  }
  for (uint32_t j = 0; j < p->ndefaults; j++) obj_set(nc->defaults[j], base[pi->b + j]);
  obj_assign_owned(RA, o);
  DISPATCH();
}
L_CLASS: {
  SQClass* basecls = nullptr;
  if (pi->b != SQ_NO_REG) {
    if (RB._type != OT_CLASS) {
      SAVE();
      vm_raise(v, "trying to inherit from a %s", type_name(RB._type));
      THROW();
    }
    basecls = RB._unVal.pClass;
  }
  {
    SQRef attrs;
    if (pi->c != SQ_NO_REG) attrs.set(RC);
    SQRef cls(mk_obj(OT_CLASS, class_new(ss, basecls)));
    obj_set(cls.o._unVal.pClass->attributes, attrs.o);
    if (basecls && basecls->metamethods[MT_INHERITED]._type != OT_NULL) {
      SAVE();
      SQRef fn(basecls->metamethods[MT_INHERITED]), res;
      if (!vm_call_value(v, fn.o, cls.o, &attrs.o, 1, &res.o)) THROW();
      LOAD_FRAME();
    }
    obj_set(RA, cls.o);
  }
  DISPATCH();
}

L_PREFOREACH: {
  SQObjectType t = RA._type;
  if (t != OT_ARRAY && t != OT_TABLE && t != OT_STRING && t != OT_CLASS && t != OT_INSTANCE &&
      t != OT_GENERATOR) {
    SAVE();
    vm_raise(v, "cannot iterate %s", type_name(t));
    THROW();
  }
  obj_setnull(base[pi->a + 1]);
  DISPATCH();
}
L_FOREACH: {
  SQObject& c = RA;
  SQObject& iter = base[pi->a + 1];
  if (c._type == OT_ARRAY) {
    SQArray* a = c._unVal.pArray;
    int32_t idx = iter._type == OT_INTEGER ? iter._unVal.nInteger : 0;
    if ((uint32_t)idx >= a->size) {
      ip += pi->d;
      DISPATCH();
    }
    obj_setint(base[pi->a + 2], idx);
    obj_set(base[pi->a + 3], realval(a->vals[idx]));
    obj_setint(iter, idx + 1);
    DISPATCH();
  }
  if (c._type == OT_TABLE) {
    SQObject k, val;
    int32_t pos = iter._type == OT_INTEGER ? iter._unVal.nInteger : 0;
    int32_t n = table_next(c._unVal.pTable, pos, &k, &val);
    if (n < 0) {
      ip += pi->d;
      DISPATCH();
    }
    obj_set(base[pi->a + 2], k);
    obj_set(base[pi->a + 3], val);
    obj_setint(iter, n + 1);
    DISPATCH();
  }
  SAVE();
  if (c._type == OT_GENERATOR) {
    SQGenerator* g = c._unVal.pGenerator;
    if (g->state == SQGenerator::DEAD) {
      ip += pi->d;
      DISPATCH();
    }
    int32_t count = iter._type == OT_INTEGER ? iter._unVal.nInteger : 0;
    obj_setint(base[pi->a + 2], count);
    obj_setint(iter, count + 1);
    if (!resume_generator(v, g, ci->top, ci->base + pi->a + 3, CI_FOREACH)) THROW();
    LOAD_FRAME();
    DISPATCH();
  }
  {
    SQRef cont(c), it(iter), key, val, nextit;
    bool done;
    if (!vm_next(v, cont.o, it.o, key.o, val.o, nextit.o, done)) THROW();
    LOAD_FRAME();
    if (done) {
      ip += pi->d;
    } else {
      obj_set(base[pi->a + 2], key.o);
      obj_set(base[pi->a + 3], val.o);
      obj_set(base[pi->a + 1], nextit.o);
    }
  }
  DISPATCH();
}

L_TYPEOF:
L_CLONE: {
  // (values held by SQRef live in an inner block: the computed-goto dispatch
  // does not run destructors)
  SAVE();
  {
    SQRef o(RB), res;
    if (!(pi->op == OP_TYPEOF ? vm_typeof(v, o.o, res.o) : vm_clone(v, o.o, res.o))) THROW();
    LOAD_FRAME();
    obj_set(RA, res.o);
  }
  DISPATCH();
}
L_RESUME: {
  SAVE();
  if (RB._type != OT_GENERATOR) {
    vm_raise(v, "trying to resume a '%s',only genenerator can be resumed", type_name(RB._type));
    THROW();
  }
  if (!resume_generator(v, RB._unVal.pGenerator, ci->top, ci->base + pi->a, 0)) THROW();
  LOAD_FRAME();
  DISPATCH();
}
L_INSTANCEOF: {
  if (RC._type != OT_CLASS) {
    SAVE();
    vm_raise(v, "cannot apply instanceof between a %s and a %s", type_name(RB._type), type_name(RC._type));
    THROW();
  }
  bool r = RB._type == OT_INSTANCE && instance_instanceof(RB._unVal.pInstance, RC._unVal.pClass);
  obj_setbool(RA, r);
  DISPATCH();
}
L_IN:
  obj_setbool(RA, exists(RC, RB));
  DISPATCH();

L_YIELD: {
  if (!(ci->flags & CI_GENERATOR)) {
    SAVE();
    vm_raise(v, "yield outside of a generator");
    THROW();
  }
  SQGenerator* g = ci->generator;
  SQObject res = pi->b ? RA : mk_null();
  obj_addref(res);
  int32_t fbase = ci->base;
  uint32_t n = cl->proto->stacksize;
  for (uint32_t j = 0; j < n; j++) {
    g->stack[j] = base[j];
    base[j] = mk_null();
  }
  g->ip = ip;
  for (int32_t j = ci->ntraps; j < v->ntraps; j++) {
    SQExceptionTrap t = v->traps[j];
    t.catchreg -= fbase;
    g->traps.push(t);
  }
  v->ntraps = ci->ntraps;
  while (v->openouters && v->openouters->stackidx >= fbase) {
    SQOuter* u = v->openouters;
    v->openouters = u->next;
    u->stackidx -= fbase;
    u->valptr = &g->stack[(uint32_t)u->stackidx];
    u->next = g->outers;
    g->outers = u;
  }
  g->state = SQGenerator::SUSPENDED;
  uint8_t flags = ci->flags;
  int32_t target = ci->target;
  v->top = ci->prevtop;
  v->ncalls--;
  if (flags & CI_ROOT) {
    obj_assign_owned(v->retval, res);
    return true;
  }
  LOAD_FRAME();
  if (target >= 0)
    obj_assign_owned(v->stack[target], res);
  else
    obj_release(res);
  DISPATCH();
}

L_THROW:
  SAVE();
  vm_raise_obj(v, RA);
  THROW();
L_PUSHTRAP: {
  SQExceptionTrap t;
  t.ncalls = v->ncalls;
  t.catchreg = ci->base + pi->a;
  t.catch_ip = ip + pi->d;
  push_trap(v, t);
  DISPATCH();
}
L_POPTRAP:
  v->ntraps = v->ntraps - pi->b < ci->ntraps ? ci->ntraps : v->ntraps - pi->b;
  DISPATCH();
L_CLOSE:
  if (v->openouters && v->openouters->stackidx >= ci->base + pi->a) close_outers(v, ci->base + pi->a);
  DISPATCH();
L_GETBASE:
  if (cl->base)
    obj_set(RA, mk_obj(OT_CLASS, cl->base));
  else
    obj_setnull(RA);
  DISPATCH();
L_HOOK: {
  // With a debug hook set every instruction comes here first: a line event
  // when a new line starts or the code jumps back, then the instruction.
  SQFunctionProto* p = cl->proto;
  if (p->debuginfo) {
    int32_t pc = (int32_t)(ip - 1 - p->code);
    bool back = v->ncalls == hook_frame && pc <= hook_pc;
    hook_frame = v->ncalls;
    hook_pc = pc;
    if (back || line_starts_at(p, pc)) {
      SAVE();
      if (!call_debughook(v, 'l', *ci, proto_line(p, pc), true)) THROW();
      LOAD_FRAME();
    }
  }
  goto* dispatch[pi->op];
}

exception : {
  notify_error(v);
  if (v->ntraps > 0 && v->traps[v->ntraps - 1].ncalls - 1 >= root) {
    int32_t tindex = v->ntraps - 1;
    SQExceptionTrap t = v->traps[tindex];
    while (v->ncalls > t.ncalls) unwind_frame(v);
    v->ntraps = tindex;
    LOAD_FRAME();
    v->top = ci->top;
    obj_set(v->stack[t.catchreg], v->lasterror);
    ip = t.catch_ip;
    v->error_notified = false;
    DISPATCH();
  }
  while (v->ncalls > root) unwind_frame(v);
  return false;
}
#undef LOAD_FRAME
#undef SAVE
#undef DISPATCH
#undef RA
#undef RB
#undef RC
#undef THROW
}

bool vm_call(SQVM* v, int32_t fidx, int32_t nargs, SQObject* result, bool raiseerror) {
  SQSharedState* ss = v->ss;
  if (ss->nested >= SQ_MAX_NESTED_CALLS) return vm_raise(v, "stack overflow");
  ss->nested++;
  v->nested++;
  bool saved_raise = v->raiseerror;
  v->raiseerror = raiseerror;
  int32_t prevtop = v->top;
  int prevstate = v->state;
  if (v->state == SQ_VMSTATE_IDLE) v->state = SQ_VMSTATE_RUNNING;
  CallResult r = precall(v, fidx, nargs, -1, CI_ROOT);
  bool ok;
  if (r == CALL_FRAME) {
    ok = execute(v, v->ncalls - 1);
  } else {
    ok = r == CALL_DONE;
    if (r == CALL_SUSPEND) ok = vm_raise(v, "cannot suspend through native calls");
  }
  bool suspended = ok && v->state == SQ_VMSTATE_SUSPENDED;
  if (!suspended) {
    v->state = prevstate;
    if (v->top > prevtop) vm_settop(v, prevtop);
    v->top = prevtop;
  }
  if (!ok) notify_error(v);
  v->raiseerror = saved_raise;
  v->nested--;
  ss->nested--;
  if (ok && result) {
    obj_assign_owned(*result, v->retval);
  } else {
    obj_release(v->retval);
  }
  v->retval = mk_null();
  return ok;
}

bool vm_call_value(SQVM* v, const SQObject& fn, const SQObject& self, const SQObject* args, int nargs,
                   SQObject* result) {
  int32_t fidx = v->top;
  if (fidx + nargs + 2 > v->stacksize) stack_resize(v, fidx + nargs + 2);
  SQObject* s = v->stack + fidx;  // null slots: no release needed
  s[0] = fn;
  s[1] = self;
  obj_addref(fn);
  obj_addref(self);
  for (int j = 0; j < nargs; j++) {
    s[2 + j] = args[j];
    obj_addref(args[j]);
  }
  v->top = fidx + nargs + 2;
  // Errors of metamethods and callbacks propagate to the calling script,
  // which reports them if nobody catches them.
  bool ok = vm_call(v, fidx, nargs + 1, result, false);
  vm_settop(v, fidx);
  return ok;
}

bool vm_wakeup(SQVM* v, const SQObject* resumeval, SQObject* result, bool raiseerror, bool throwerror) {
  if (v->state != SQ_VMSTATE_SUSPENDED) return vm_raise(v, "cannot resume a vm that is not running any code");
  SQSharedState* ss = v->ss;
  if (ss->nested >= SQ_MAX_NESTED_CALLS) return vm_raise(v, "stack overflow");
  if (v->suspend_target >= 0) obj_set(v->stack[v->suspend_target], resumeval ? *resumeval : mk_null());
  v->suspend_target = -1;
  v->state = SQ_VMSTATE_RUNNING;
  ss->nested++;
  v->nested++;
  bool saved_raise = v->raiseerror;
  v->raiseerror = raiseerror;
  int32_t root = v->suspend_root;
  int32_t prevtop = v->calls[root].prevtop;
  bool ok = execute(v, root, throwerror);
  bool suspended = ok && v->state == SQ_VMSTATE_SUSPENDED;
  if (!suspended) {
    v->state = SQ_VMSTATE_IDLE;
    if (v->top > prevtop) vm_settop(v, prevtop);
    v->top = prevtop;
  }
  if (!ok) notify_error(v);
  v->raiseerror = saved_raise;
  v->nested--;
  ss->nested--;
  if (ok && result)
    obj_assign_owned(*result, v->retval);
  else
    obj_release(v->retval);
  v->retval = mk_null();
  return ok;
}

// Resumes a generator from C (sq_resume): runs it until it yields or returns.
bool vm_resume_from_c(SQVM* v, SQGenerator* g, SQObject* result, bool raiseerror) {
  SQSharedState* ss = v->ss;
  if (ss->nested >= SQ_MAX_NESTED_CALLS) return vm_raise(v, "stack overflow");
  int32_t newbase = v->top;
  if (!resume_generator(v, g, newbase, -1, CI_ROOT)) return false;
  ss->nested++;
  v->nested++;
  bool saved_raise = v->raiseerror;
  v->raiseerror = raiseerror;
  int32_t prevtop = v->calls[v->ncalls - 1].prevtop;
  bool ok = execute(v, v->ncalls - 1);
  if (v->top > prevtop) vm_settop(v, prevtop);
  v->top = prevtop;
  if (!ok) notify_error(v);
  v->raiseerror = saved_raise;
  v->nested--;
  ss->nested--;
  if (ok && result)
    obj_assign_owned(*result, v->retval);
  else
    obj_release(v->retval);
  v->retval = mk_null();
  return ok;
}
