// Heap objects: memory, strings, tables, arrays, functions, classes,
// instances, user data, weak references, and their destruction.
#include "sqobject.h"
#include "sqvm.h"
#include <cstdlib>

// ---- memory ----
void* sq_malloc(SQUnsignedInteger size) { return malloc(size ? size : 1); }
void* sq_realloc(void* p, SQUnsignedInteger, SQUnsignedInteger newsize) {
  return realloc(p, newsize ? newsize : 1);
}
void sq_free(void* p, SQUnsignedInteger) { free(p); }

static void out_of_memory() {
  // An allocation of an ordinary size failed: nothing sensible can go on.
  abort();
}

void* sq_alloc_obj(size_t size) {
  void* p = malloc(size);
  if (!p) out_of_memory();
  memset(p, 0, size);
  return p;
}

void* sq_vec_grow(void* data, uint32_t& cap, uint32_t need, size_t item) {
  uint32_t n = cap ? cap : 4;
  while (n < need) n *= 2;
  void* p = realloc(data, (size_t)n * item);
  if (!p) out_of_memory();
  cap = n;
  return p;
}

static void rc_init(SQRefCounted* o, SQSharedState* ss, SQKind kind) {
  o->refs = 0;
  o->kind = kind;
  o->ss = ss;
  o->weakref = nullptr;
}

void gc_link(SQSharedState* ss, SQCollectable* o, SQKind kind) {
  rc_init(o, ss, kind);
  SQCollectable* h = &ss->gc_head;
  o->gc_next = h->gc_next;
  o->gc_prev = h;
  h->gc_next->gc_prev = o;
  h->gc_next = o;
}

static void gc_unlink(SQCollectable* o) {
  o->gc_prev->gc_next = o->gc_next;
  o->gc_next->gc_prev = o->gc_prev;
  o->gc_prev = o->gc_next = nullptr;
}

// ---- strings ----
SQHash str_hash(const char* s, SQInteger len) {
  uint32_t h = 2166136261u ^ (uint32_t)len;
  if (len <= 48) {
    for (SQInteger i = 0; i < len; i++) h = (h ^ (uint8_t)s[i]) * 16777619u;
  } else {
    // Long strings: the first and last 16 bytes and 32 samples in between.
    for (int i = 0; i < 16; i++) h = (h ^ (uint8_t)s[i]) * 16777619u;
    SQInteger step = (len - 32) / 32 + 1;
    for (SQInteger i = 16; i < len - 16; i += step) h = (h ^ (uint8_t)s[i]) * 16777619u;
    for (SQInteger i = len - 16; i < len; i++) h = (h ^ (uint8_t)s[i]) * 16777619u;
  }
  return h;
}

static void strtab_resize(SQSharedState* ss, uint32_t ncap) {
  SQString** nt = (SQString**)sq_alloc_obj(sizeof(SQString*) * ncap);
  for (uint32_t i = 0; i < ss->strcap; i++) {
    SQString* s = ss->strtab[i];
    while (s) {
      SQString* next = s->hnext;
      uint32_t b = s->hash & (ncap - 1);
      s->hnext = nt[b];
      nt[b] = s;
      s = next;
    }
  }
  free(ss->strtab);
  ss->strtab = nt;
  ss->strcap = ncap;
}

SQString* str_alloc(SQSharedState* ss, SQInteger len) {
  SQString* s = (SQString*)malloc(sizeof(SQString) + len);
  if (!s) out_of_memory();
  rc_init(s, ss, K_STRING);
  s->len = len;
  s->val[len] = 0;
  return s;
}

// Interns a freshly built string: returns an equal existing one (freeing s) or s.
SQString* str_intern(SQSharedState* ss, SQString* s) {
  SQHash h = str_hash(s->val, s->len);
  uint32_t b = h & (ss->strcap - 1);
  for (SQString* o = ss->strtab[b]; o; o = o->hnext) {
    if (o->hash == h && o->len == s->len && memcmp(o->val, s->val, s->len) == 0) {
      free(s);
      return o;
    }
  }
  s->hash = h;
  s->hnext = ss->strtab[b];
  ss->strtab[b] = s;
  if (++ss->strcount > ss->strcap) strtab_resize(ss, ss->strcap * 2);
  return s;
}

SQString* str_new(SQSharedState* ss, const char* str, SQInteger len) {
  if (len < 0) len = (SQInteger)strlen(str);
  SQHash h = str_hash(str, len);
  uint32_t b = h & (ss->strcap - 1);
  for (SQString* o = ss->strtab[b]; o; o = o->hnext)
    if (o->hash == h && o->len == len && memcmp(o->val, str, len) == 0) return o;
  SQString* s = str_alloc(ss, len);
  memcpy(s->val, str, len);
  s->hash = h;
  s->hnext = ss->strtab[b];
  ss->strtab[b] = s;
  if (++ss->strcount > ss->strcap) strtab_resize(ss, ss->strcap * 2);
  return s;
}

SQString* str_concat(SQSharedState* ss, const char* a, SQInteger la, const char* b, SQInteger lb) {
  SQString* s = str_alloc(ss, la + lb);
  memcpy(s->val, a, la);
  memcpy(s->val + la, b, lb);
  return str_intern(ss, s);
}

SQObject mk_str(SQSharedState* ss, const char* s) { return mk_str(str_new(ss, s, -1)); }

static void str_destroy(SQString* s) {
  SQSharedState* ss = s->ss;
  SQString** pp = &ss->strtab[s->hash & (ss->strcap - 1)];
  while (*pp != s) pp = &(*pp)->hnext;
  *pp = s->hnext;
  ss->strcount--;
  free(s);
}

// ---- tables ----
static void table_alloc_nodes(SQTable* t, uint32_t cap) {
  t->nodes = (SQTableNode*)sq_alloc_obj(sizeof(SQTableNode) * cap);
  for (uint32_t i = 0; i < cap; i++) {
    t->nodes[i].keytype = OT_NULL;
    t->nodes[i].next = -1;
  }
  t->cap = cap;
  t->mod = (cap - 1) | 1;
  t->lastfree = cap;
  t->count = 0;
}

static uint32_t cap_for(uint32_t n) {
  uint32_t cap = 4;
  while (cap < n) cap *= 2;
  return cap;
}

SQTable* table_new(SQSharedState* ss, uint32_t hint) {
  SQTable* t = (SQTable*)sq_alloc_obj(sizeof(SQTable));
  gc_link(ss, t, K_TABLE);
  if (hint) table_alloc_nodes(t, cap_for(hint));
  return t;
}

static int32_t table_free_node(SQTable* t) {
  while (t->lastfree > 0) {
    t->lastfree--;
    if (t->nodes[t->lastfree].keytype == OT_NULL) return (int32_t)t->lastfree;
  }
  return -1;
}

// Puts an absent key in the table, taking over the references of key and
// val. False when no free node is left.
static bool table_insert(SQTable* t, const SQObject& key, const SQObject& val) {
  uint32_t mp = table_mainpos(t, key._type, key._unVal.raw);
  SQTableNode* n = &t->nodes[mp];
  if (n->val._type != 0) {
    int32_t f = table_free_node(t);
    if (f < 0) return false;
    SQTableNode* fn = &t->nodes[f];
    uint32_t other = table_mainpos(t, n->keytype, n->key.raw);
    if (other != mp) {
      // the occupant belongs to another chain: it moves to the free node
      int32_t p = (int32_t)other;
      while (t->nodes[p].next != (int32_t)mp) p = t->nodes[p].next;
      t->nodes[p].next = f;
      *fn = *n;
      n->next = -1;
    } else {
      fn->next = n->next;
      n->next = f;
      n = fn;
    }
  }
  // (a deleted key's node is reused in place, keeping its chain link)
  n->keytype = key._type;
  n->key = key._unVal;
  n->val = val;
  t->count++;
  return true;
}

static void table_rehash(SQTable* t, uint32_t need) {
  SQTableNode* old = t->nodes;
  uint32_t oldcap = t->cap;
  table_alloc_nodes(t, cap_for(need));
  for (uint32_t i = 0; i < oldcap; i++) {
    SQTableNode& n = old[i];
    if (n.val._type == 0) continue;
    SQObject k;
    k._type = n.keytype;
    k._unVal = n.key;
    table_insert(t, k, n.val);
  }
  free(old);
}

bool table_get(SQTable* t, const SQObject& key, SQObject& out) {
  SQObject* v = table_find(t, key);
  if (!v) return false;
  out = realval(*v);
  return true;
}

void table_set(SQTable* t, const SQObject& key, const SQObject& val) {
  if (t->cap) {
    int32_t i = (int32_t)table_mainpos(t, key._type, key._unVal.raw);
    do {
      SQTableNode& n = t->nodes[i];
      if (n.key.raw == key._unVal.raw && n.keytype == key._type && n.val._type != 0) {
        obj_set(n.val, val);
        return;
      }
      i = n.next;
    } while (i >= 0);
  }
  obj_addref(key);
  obj_addref(val);
  if (t->cap && table_insert(t, key, val)) return;
  table_rehash(t, t->count + 1);
  table_insert(t, key, val);
}

bool table_remove(SQTable* t, const SQObject& key, SQObject* oldval) {
  SQObject* v = table_find(t, key);
  if (!v) return false;
  SQTableNode* n = (SQTableNode*)((char*)v - offsetof(SQTableNode, val));
  SQObject k;
  k._type = n->keytype;
  k._unVal = n->key;
  SQObject val = n->val;
  n->val._type = (SQObjectType)0;
  n->val._unVal.raw = 0;
  n->keytype = (SQObjectType)0;
  n->key.raw = 0;
  t->count--;
  obj_release(k);
  if (oldval)
    *oldval = val;
  else
    obj_release(val);
  return true;
}

int32_t table_next(SQTable* t, int32_t pos, SQObject* key, SQObject* val) {
  for (uint32_t i = (uint32_t)pos; i < t->cap; i++) {
    SQTableNode& n = t->nodes[i];
    if (n.val._type == 0) continue;
    if (key) {
      key->_type = n.keytype;
      key->_unVal = n.key;
    }
    if (val) *val = realval(n.val);
    return (int32_t)i;
  }
  return -1;
}

void table_clear(SQTable* t) {
  SQTableNode* nodes = t->nodes;
  uint32_t cap = t->cap;
  t->nodes = nullptr;
  t->cap = t->count = t->lastfree = t->mod = 0;
  for (uint32_t i = 0; i < cap; i++) {
    if (nodes[i].val._type == 0) continue;
    SQObject k;
    k._type = nodes[i].keytype;
    k._unVal = nodes[i].key;
    obj_release(k);
    obj_release(nodes[i].val);
  }
  free(nodes);
}

SQTable* table_clone(SQTable* t) {
  SQTable* c = table_new(t->ss, t->count);
  SQObject k;
  for (int32_t i = table_next(t, 0, &k, nullptr); i >= 0; i = table_next(t, i + 1, &k, nullptr))
    table_set(c, k, t->nodes[i].val);
  if (t->delegate) {
    c->delegate = t->delegate;
    rc_addref(c->delegate);
  }
  return c;
}

// ---- arrays ----
SQArray* array_new(SQSharedState* ss, uint32_t size) {
  SQArray* a = (SQArray*)sq_alloc_obj(sizeof(SQArray));
  gc_link(ss, a, K_ARRAY);
  if (size) {
    array_reserve(a, size);
    for (uint32_t i = 0; i < size; i++) a->vals[i] = mk_null();
    a->size = size;
  }
  return a;
}

void array_reserve(SQArray* a, uint32_t n) {
  if (n <= a->cap) return;
  SQObject* p = (SQObject*)realloc(a->vals, sizeof(SQObject) * n);
  if (!p) out_of_memory();
  a->vals = p;
  a->cap = n;
}

void array_push(SQArray* a, const SQObject& v) {
  if (a->size == a->cap) array_reserve(a, a->cap ? a->cap * 2 : 4);
  obj_addref(v);
  a->vals[a->size++] = v;
}

void array_resize(SQArray* a, uint32_t n, const SQObject& fill) {
  if (n > a->size) {
    array_reserve(a, n);
    for (uint32_t i = a->size; i < n; i++) {
      obj_addref(fill);
      a->vals[i] = fill;
    }
    a->size = n;
  } else {
    while (a->size > n) {
      SQObject o = a->vals[--a->size];
      obj_release(o);
    }
  }
}

bool array_insert(SQArray* a, uint32_t pos, const SQObject& v) {
  if (pos > a->size) return false;
  if (a->size == a->cap) array_reserve(a, a->cap ? a->cap * 2 : 4);
  memmove(a->vals + pos + 1, a->vals + pos, sizeof(SQObject) * (a->size - pos));
  obj_addref(v);
  a->vals[pos] = v;
  a->size++;
  return true;
}

bool array_remove(SQArray* a, uint32_t pos) {
  if (pos >= a->size) return false;
  SQObject o = a->vals[pos];
  memmove(a->vals + pos, a->vals + pos + 1, sizeof(SQObject) * (a->size - pos - 1));
  a->size--;
  obj_release(o);
  return true;
}

SQArray* array_clone(SQArray* a) {
  SQArray* c = array_new(a->ss, 0);
  array_reserve(c, a->size);
  for (uint32_t i = 0; i < a->size; i++) {
    obj_addref(a->vals[i]);
    c->vals[i] = a->vals[i];
  }
  c->size = a->size;
  return c;
}

// ---- functions ----
SQFunctionProto* proto_new(SQSharedState* ss) {
  SQFunctionProto* p = (SQFunctionProto*)sq_alloc_obj(sizeof(SQFunctionProto));
  rc_init(p, ss, K_FUNCPROTO);
  return p;
}

static void proto_destroy(SQFunctionProto* p) {
  for (uint32_t i = 0; i < p->nliterals; i++) obj_release(p->literals[i]);
  for (uint32_t i = 0; i < p->nfunctions; i++) rc_release(p->functions[i]);
  for (uint32_t i = 0; i < p->nouters; i++)
    if (p->outers[i].name) rc_release(p->outers[i].name);
  for (uint32_t i = 0; i < p->nlocals; i++)
    if (p->locals[i].name) rc_release(p->locals[i].name);
  if (p->name) rc_release(p->name);
  if (p->source) rc_release(p->source);
  free(p->code);
  free(p->literals);
  free(p->functions);
  free(p->outers);
  free(p->locals);
  free(p->lines);
  free(p);
}

SQClosure* closure_new(SQSharedState* ss, SQFunctionProto* p) {
  size_t n = p->nouters ? p->nouters : 1;
  SQClosure* c = (SQClosure*)sq_alloc_obj(sizeof(SQClosure) + sizeof(SQOuter*) * (n - 1));
  gc_link(ss, c, K_CLOSURE);
  c->proto = p;
  rc_addref(p);
  c->env = mk_null();
  if (p->ndefaults) {
    c->defaults = (SQObject*)sq_alloc_obj(sizeof(SQObject) * p->ndefaults);
    for (uint32_t i = 0; i < p->ndefaults; i++) c->defaults[i] = mk_null();
  }
  return c;
}

SQNativeClosure* nclosure_new(SQSharedState* ss, SQFUNCTION fn, uint32_t nouters) {
  size_t n = nouters ? nouters : 1;
  SQNativeClosure* c =
      (SQNativeClosure*)sq_alloc_obj(sizeof(SQNativeClosure) + sizeof(SQObject) * (n - 1));
  gc_link(ss, c, K_NATIVECLOSURE);
  c->fn = fn;
  c->nouters = nouters;
  c->env = mk_null();
  for (uint32_t i = 0; i < n; i++) c->outers[i] = mk_null();
  return c;
}

// ---- classes ----
SQClass* class_new(SQSharedState* ss, SQClass* base) {
  SQClass* c = (SQClass*)sq_alloc_obj(sizeof(SQClass));
  gc_link(ss, c, K_CLASS);
  c->constructor = -1;
  c->attributes = mk_null();
  for (int i = 0; i < MT_LAST; i++) c->metamethods[i] = mk_null();
  if (base) {
    c->base = base;
    rc_addref(base);
    c->members = table_clone(base->members);
    rc_addref(c->members);
    c->fields.reserve(base->fields.size);
    for (uint32_t i = 0; i < base->fields.size; i++) {
      SQClassMember m = base->fields[i];
      obj_addref(m.val);
      obj_addref(m.attrs);
      c->fields.push(m);
    }
    c->methods.reserve(base->methods.size);
    for (uint32_t i = 0; i < base->methods.size; i++) {
      SQClassMember m = base->methods[i];
      obj_addref(m.val);
      obj_addref(m.attrs);
      c->methods.push(m);
    }
    for (int i = 0; i < MT_LAST; i++) obj_set(c->metamethods[i], base->metamethods[i]);
    c->constructor = base->constructor;
    c->udsize = base->udsize;
    c->hook = base->hook;
  } else {
    c->members = table_new(ss, 0);
    rc_addref(c->members);
  }
  return c;
}

static int metamethod_index(SQSharedState* ss, const SQObject& key) {
  if (key._type != OT_STRING || key._unVal.pString->val[0] != '_') return -1;
  for (int i = 0; i < MT_LAST; i++)
    if (obj_same(ss->metanames[i], key)) return i;
  return -1;
}

bool class_newslot(SQClass* c, const SQObject& key, const SQObject& val, bool isstatic) {
  SQSharedState* ss = c->ss;
  SQObject* slot = table_find(c->members, key);
  bool method = isstatic || val._type == OT_CLOSURE || val._type == OT_NATIVECLOSURE;
  if (method) {
    SQInteger idx;
    if (slot && (slot->_unVal.nInteger & MEMBER_METHOD)) {
      idx = slot->_unVal.nInteger & MEMBER_INDEX;
      obj_set(c->methods[idx].val, val);
    } else {
      if (slot && c->locked) return false;
      idx = (SQInteger)c->methods.size;
      SQClassMember m = {val, mk_null()};
      obj_addref(val);
      c->methods.push(m);
      table_set(c->members, key, mk_int(MEMBER_METHOD | idx));
    }
    if (val._type == OT_CLOSURE && c->base) {
      SQClosure* cl = val._unVal.pClosure;
      if (cl->base != c->base) {
        rc_addref(c->base);
        if (cl->base) rc_release(cl->base);
        cl->base = c->base;
      }
    }
    if (obj_same(key, ss->constructorname)) c->constructor = idx;
    int mt = metamethod_index(ss, key);
    if (mt >= 0) obj_set(c->metamethods[mt], val);
    return true;
  }
  if (slot && (slot->_unVal.nInteger & MEMBER_FIELD)) {
    obj_set(c->fields[slot->_unVal.nInteger & MEMBER_INDEX].val, val);
    return true;
  }
  if (c->locked) return false;
  SQInteger idx = (SQInteger)c->fields.size;
  SQClassMember m = {val, mk_null()};
  obj_addref(val);
  c->fields.push(m);
  table_set(c->members, key, mk_int(MEMBER_FIELD | idx));
  return true;
}

bool class_get(SQClass* c, const SQObject& key, SQObject& out) {
  SQObject* slot = table_find(c->members, key);
  if (!slot) return false;
  SQInteger m = slot->_unVal.nInteger;
  out = realval((m & MEMBER_FIELD) ? c->fields[m & MEMBER_INDEX].val : c->methods[m & MEMBER_INDEX].val);
  return true;
}

SQInstance* instance_new(SQSharedState* ss, SQClass* c) {
  uint32_t n = c->fields.size;
  size_t size = sizeof(SQInstance) + sizeof(SQObject) * (n ? n - 1 : 0);
  size_t udoff = (size + 15) & ~(size_t)15;
  SQInstance* i = (SQInstance*)sq_alloc_obj(udoff + (size_t)c->udsize);
  gc_link(ss, i, K_INSTANCE);
  c->locked = true;
  i->klass = c;
  rc_addref(c);
  i->nvalues = n;
  for (uint32_t k = 0; k < n; k++) {
    i->values[k] = c->fields[k].val;
    obj_addref(i->values[k]);
  }
  if (c->udsize) i->up = (char*)i + udoff;
  i->hook = c->hook;
  return i;
}

bool instance_get(SQInstance* i, const SQObject& key, SQObject& out) {
  SQObject* slot = table_find(i->klass->members, key);
  if (!slot) return false;
  SQInteger m = slot->_unVal.nInteger;
  out = realval((m & MEMBER_FIELD) ? i->values[m & MEMBER_INDEX] : i->klass->methods[m & MEMBER_INDEX].val);
  return true;
}

bool instance_instanceof(SQInstance* i, SQClass* c) {
  for (SQClass* k = i->klass; k; k = k->base)
    if (k == c) return true;
  return false;
}

SQUserData* userdata_new(SQSharedState* ss, SQUnsignedInteger size) {
  SQUserData* u = (SQUserData*)sq_alloc_obj(sizeof(SQUserData) + size);
  gc_link(ss, u, K_USERDATA);
  u->size = (SQInteger)size;
  return u;
}

SQObject obj_weakref(SQSharedState* ss, const SQObject& o) {
  if (!is_rc(o)) return o;
  SQRefCounted* r = o._unVal.pRefCounted;
  if (!r->weakref) {
    SQWeakRef* w = (SQWeakRef*)sq_alloc_obj(sizeof(SQWeakRef));
    rc_init(w, ss, K_WEAKREF);
    w->target = o;
    r->weakref = w;
  }
  return mk_obj(OT_WEAKREF, r->weakref);
}

// ---- destruction ----
SQObjectType kind_type(uint8_t kind) {
  static const SQObjectType types[] = {OT_STRING, OT_TABLE, OT_ARRAY, OT_USERDATA, OT_CLOSURE,
                                       OT_NATIVECLOSURE, OT_GENERATOR, OT_THREAD, OT_FUNCPROTO,
                                       OT_CLASS, OT_INSTANCE, OT_WEAKREF, OT_NULL};
  return types[kind];
}

static void release_members(SQVec<SQClassMember>& v) {
  for (uint32_t i = 0; i < v.size; i++) {
    SQClassMember m = v[i];
    v[i].val = v[i].attrs = mk_null();
    obj_release(m.val);
    obj_release(m.attrs);
  }
  v.free_storage();
}

// Runs the release hook of an instance or user data, once.
void obj_run_hook(SQCollectable* o) {
  if (o->kind == K_INSTANCE) {
    SQInstance* i = (SQInstance*)o;
    SQRELEASEHOOK hook = i->hook;
    i->hook = nullptr;
    if (hook) hook(i->up, i->klass ? i->klass->udsize : 0);
  } else if (o->kind == K_USERDATA) {
    SQUserData* u = (SQUserData*)o;
    SQRELEASEHOOK hook = u->hook;
    u->hook = nullptr;
    if (hook) hook(u->data, u->size);
  }
}

// Drops every reference an object holds, leaving it empty but valid.
void obj_clear_refs(SQCollectable* o) {
  switch (o->kind) {
    case K_TABLE: {
      SQTable* t = (SQTable*)o;
      table_clear(t);
      if (SQTable* d = t->delegate) {
        t->delegate = nullptr;
        rc_release(d);
      }
      break;
    }
    case K_ARRAY: {
      SQArray* a = (SQArray*)o;
      array_resize(a, 0, mk_null());
      break;
    }
    case K_USERDATA: {
      SQUserData* u = (SQUserData*)o;
      if (SQTable* d = u->delegate) {
        u->delegate = nullptr;
        rc_release(d);
      }
      break;
    }
    case K_CLOSURE: {
      SQClosure* c = (SQClosure*)o;
      uint32_t nout = c->proto ? c->proto->nouters : 0;
      for (uint32_t i = 0; i < nout; i++) {
        if (SQOuter* u = c->outers[i]) {
          c->outers[i] = nullptr;
          rc_release(u);
        }
      }
      if (c->defaults) {
        for (uint32_t i = 0; i < c->proto->ndefaults; i++) obj_setnull(c->defaults[i]);
      }
      obj_setnull(c->env);
      if (SQClass* b = c->base) {
        c->base = nullptr;
        rc_release(b);
      }
      break;
    }
    case K_NATIVECLOSURE: {
      SQNativeClosure* c = (SQNativeClosure*)o;
      for (uint32_t i = 0; i < c->nouters; i++) obj_setnull(c->outers[i]);
      obj_setnull(c->env);
      if (SQString* n = c->name) {
        c->name = nullptr;
        rc_release(n);
      }
      break;
    }
    case K_OUTER: {
      SQOuter* u = (SQOuter*)o;
      obj_setnull(u->value);
      break;
    }
    case K_GENERATOR: {
      SQGenerator* g = (SQGenerator*)o;
      generator_kill(g);
      obj_setnull(g->closure);
      break;
    }
    case K_CLASS: {
      SQClass* c = (SQClass*)o;
      release_members(c->fields);
      release_members(c->methods);
      for (int i = 0; i < MT_LAST; i++) obj_setnull(c->metamethods[i]);
      obj_setnull(c->attributes);
      if (SQTable* m = c->members) {
        c->members = nullptr;
        rc_release(m);
      }
      if (SQClass* b = c->base) {
        c->base = nullptr;
        rc_release(b);
      }
      break;
    }
    case K_INSTANCE: {
      SQInstance* i = (SQInstance*)o;
      for (uint32_t k = 0; k < i->nvalues; k++) obj_setnull(i->values[k]);
      // The class stays: it gives the hook its size and is released on destruction.
      break;
    }
    case K_THREAD:
      vm_clear_refs((SQVM*)o);
      break;
  }
}

static void collectable_free(SQCollectable* o) {
  switch (o->kind) {
    case K_ARRAY:
      free(((SQArray*)o)->vals);
      break;
    case K_CLOSURE: {
      SQClosure* c = (SQClosure*)o;
      free(c->defaults);
      if (c->proto) rc_release(c->proto);
      break;
    }
    case K_NATIVECLOSURE:
      free(((SQNativeClosure*)o)->typecheck);
      break;
    case K_GENERATOR: {
      SQGenerator* g = (SQGenerator*)o;
      g->stack.free_storage();
      g->traps.free_storage();
      break;
    }
    case K_INSTANCE: {
      SQInstance* i = (SQInstance*)o;
      if (SQClass* c = i->klass) {
        i->klass = nullptr;
        rc_release(c);
      }
      break;
    }
    case K_THREAD:
      vm_free_storage((SQVM*)o);
      break;
    default:
      break;
  }
  free(o);
}

void obj_destroy(SQRefCounted* p) {
  if (SQWeakRef* w = p->weakref) {
    w->target = mk_null();
    p->weakref = nullptr;
  }
  switch (p->kind) {
    case K_STRING:
      str_destroy((SQString*)p);
      return;
    case K_FUNCPROTO:
      proto_destroy((SQFunctionProto*)p);
      return;
    case K_WEAKREF: {
      SQWeakRef* w = (SQWeakRef*)p;
      if (is_rc(w->target)) w->target._unVal.pRefCounted->weakref = nullptr;
      free(w);
      return;
    }
    default:
      break;
  }
  // Collectables are destroyed one at a time from a queue, so releasing a long
  // chain of objects never recurses deeply.
  SQSharedState* ss = p->ss;
  SQCollectable* c = (SQCollectable*)p;
  gc_unlink(c);
  c->gc_next = (SQCollectable*)ss->pending;
  ss->pending = c;
  if (ss->destroying) return;
  ss->destroying = true;
  while (ss->pending) {
    SQCollectable* o = (SQCollectable*)ss->pending;
    ss->pending = o->gc_next;
    o->refs = 1;  // keep it alive while its references are dropped
    obj_run_hook(o);
    obj_clear_refs(o);
    collectable_free(o);
  }
  ss->destroying = false;
}

const char* type_name(SQObjectType t) {
  switch (t) {
    case OT_NULL: return "null";
    case OT_INTEGER: return "integer";
    case OT_FLOAT: return "float";
    case OT_BOOL: return "bool";
    case OT_STRING: return "string";
    case OT_TABLE: return "table";
    case OT_ARRAY: return "array";
    case OT_USERDATA: return "userdata";
    case OT_CLOSURE:
    case OT_NATIVECLOSURE: return "function";
    case OT_GENERATOR: return "generator";
    case OT_USERPOINTER: return "userpointer";
    case OT_THREAD: return "thread";
    case OT_FUNCPROTO: return "function";
    case OT_CLASS: return "class";
    case OT_INSTANCE: return "instance";
    case OT_WEAKREF: return "weakref";
  }
  return "unknown";
}
