// Generic operations on values: conversion to string, comparison,
// arithmetic, indexing with delegation and metamethods, slot creation and
// deletion, cloning, iteration. The instruction loop handles the common cases
// inline and falls back to these.
#include "sqvm.h"
#include <cmath>
#include <cstdarg>
#include <cstdio>

bool vm_raise(SQVM* v, const char* fmt, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof(buf), fmt, ap);
  va_end(ap);
  obj_set(v->lasterror, mk_str(v->ss, buf));
  v->error_notified = false;
  return false;
}

bool vm_raise_obj(SQVM* v, const SQObject& err) {
  obj_set(v->lasterror, err);
  v->error_notified = false;
  return false;
}

void obj_tostring_raw(const SQObject& o, char* buf, size_t n) {
  switch (o._type) {
    case OT_NULL: snprintf(buf, n, "null"); break;
    case OT_INTEGER: snprintf(buf, n, "%d", o._unVal.nInteger); break;
    case OT_FLOAT: snprintf(buf, n, "%g", (double)o._unVal.fFloat); break;
    case OT_BOOL: snprintf(buf, n, "%s", o._unVal.nInteger ? "true" : "false"); break;
    case OT_STRING: snprintf(buf, n, "%s", o._unVal.pString->val); break;
    default:
      snprintf(buf, n, "(%s : 0x%08llx)", type_name(o._type),
               (unsigned long long)(uintptr_t)o._unVal.pRefCounted);
      break;
  }
}

bool vm_raise_idx(SQVM* v, const SQObject& key) {
  char buf[128];
  obj_tostring_raw(key, buf, sizeof(buf));
  return vm_raise(v, "the index '%s' does not exist", buf);
}

static bool get_metamethod(SQVM* v, const SQObject& o, int mt, SQObject& fn) {
  switch (o._type) {
    case OT_TABLE:
    case OT_USERDATA: {
      SQTable* d = ((SQDelegable*)o._unVal.pRefCounted)->delegate;
      if (!d) return false;
      SQObject* slot = table_find(d, v->ss->metanames[mt]);
      if (!slot || slot->_type == OT_NULL) return false;
      fn = *slot;
      return true;
    }
    case OT_INSTANCE: {
      const SQObject& m = o._unVal.pInstance->klass->metamethods[mt];
      if (m._type == OT_NULL) return false;
      fn = m;
      return true;
    }
    default: return false;
  }
}

// Calls metamethod mt of o if it has one; 'found' tells whether it existed.
static bool call_metamethod(SQVM* v, const SQObject& o, int mt, const SQObject* args, int nargs,
                            SQObject& result, bool& found) {
  SQObject fn;
  found = get_metamethod(v, o, mt, fn);
  if (!found) return true;
  SQRef keep(fn);
  return vm_call_value(v, fn, o, args, nargs, &result);
}

bool vm_tostring(SQVM* v, const SQObject& o, SQObject& out) {
  if (o._type == OT_STRING) {
    obj_set(out, o);
    return true;
  }
  if (o._type == OT_INSTANCE || o._type == OT_TABLE || o._type == OT_USERDATA) {
    bool found;
    SQRef res;
    if (!call_metamethod(v, o, MT_TOSTRING, nullptr, 0, res.o, found)) return false;
    if (found) {
      if (res.o._type != OT_STRING) return vm_tostring(v, res.o, out);
      obj_set(out, res.o);
      return true;
    }
  }
  char buf[64];
  obj_tostring_raw(o, buf, sizeof(buf));
  obj_set(out, mk_str(v->ss, buf));
  return true;
}

bool vm_typeof(SQVM* v, const SQObject& o, SQObject& out) {
  if (o._type == OT_INSTANCE || o._type == OT_TABLE || o._type == OT_USERDATA) {
    bool found;
    SQRef res;
    if (!call_metamethod(v, o, MT_TYPEOF, nullptr, 0, res.o, found)) return false;
    if (found) {
      obj_set(out, res.o);
      return true;
    }
  }
  obj_set(out, mk_str(v->ss, type_name(o._type)));
  return true;
}

bool vm_equal(const SQObject& a, const SQObject& b) {
  if (a._type == b._type) {
    if (a._type == OT_FLOAT) return a._unVal.fFloat == b._unVal.fFloat;
    return a._unVal.raw == b._unVal.raw;
  }
  if (a._type == OT_INTEGER && b._type == OT_FLOAT) return (SQFloat)a._unVal.nInteger == b._unVal.fFloat;
  if (a._type == OT_FLOAT && b._type == OT_INTEGER) return a._unVal.fFloat == (SQFloat)b._unVal.nInteger;
  return false;
}

bool vm_compare(SQVM* v, const SQObject& a, const SQObject& b, int& result) {
  if (a._type == OT_INTEGER && b._type == OT_INTEGER) {
    result = a._unVal.nInteger < b._unVal.nInteger ? -1 : a._unVal.nInteger > b._unVal.nInteger;
    return true;
  }
  if ((a._type & SQOBJECT_NUMERIC) && (b._type & SQOBJECT_NUMERIC)) {
    SQFloat x = a._type == OT_INTEGER ? (SQFloat)a._unVal.nInteger : a._unVal.fFloat;
    SQFloat y = b._type == OT_INTEGER ? (SQFloat)b._unVal.nInteger : b._unVal.fFloat;
    result = x < y ? -1 : x > y ? 1 : 0;
    return true;
  }
  if (a._type == OT_STRING && b._type == OT_STRING) {
    int c = strcmp(a._unVal.pString->val, b._unVal.pString->val);
    result = c < 0 ? -1 : c > 0;
    return true;
  }
  if (a._type == OT_INSTANCE || a._type == OT_TABLE || a._type == OT_USERDATA) {
    bool found;
    SQRef res;
    if (!call_metamethod(v, a, MT_CMP, &b, 1, res.o, found)) return false;
    if (found) {
      if (res.o._type != OT_INTEGER) return vm_raise(v, "_cmp must return an integer");
      result = res.o._unVal.nInteger < 0 ? -1 : res.o._unVal.nInteger > 0;
      return true;
    }
  }
  if (a._type == b._type && a._unVal.raw == b._unVal.raw) {
    result = 0;
    return true;
  }
  return vm_raise(v, "comparison between '%s' and '%s'", type_name(a._type), type_name(b._type));
}

static bool str_cat(SQVM* v, const SQObject& a, const SQObject& b, SQObject& out) {
  SQRef sa, sb;
  if (!vm_tostring(v, a, sa.o) || !vm_tostring(v, b, sb.o)) return false;
  SQString* x = sa.o._unVal.pString;
  SQString* y = sb.o._unVal.pString;
  if ((int64_t)x->len + y->len > SQ_MAX_STRING) return vm_raise(v, "string too long");
  obj_set(out, mk_str(str_concat(v->ss, x->val, x->len, y->val, y->len)));
  return true;
}

bool vm_arith(SQVM* v, int op, const SQObject& a, const SQObject& b, SQObject& out) {
  if (a._type == OT_INTEGER && b._type == OT_INTEGER) {
    uint32_t x = (uint32_t)a._unVal.nInteger, y = (uint32_t)b._unVal.nInteger;
    SQInteger sx = a._unVal.nInteger, sy = b._unVal.nInteger;
    switch (op) {
      case '+': obj_setint(out, (SQInteger)(x + y)); return true;
      case '-': obj_setint(out, (SQInteger)(x - y)); return true;
      case '*': obj_setint(out, (SQInteger)(x * y)); return true;
      case '/':
        if (sy == 0) return vm_raise(v, "division by zero");
        obj_setint(out, (sy == -1) ? (SQInteger)(0u - x) : sx / sy);
        return true;
      case '%':
        if (sy == 0) return vm_raise(v, "division by zero");
        obj_setint(out, (sy == -1) ? 0 : sx % sy);
        return true;
    }
  }
  if ((a._type & SQOBJECT_NUMERIC) && (b._type & SQOBJECT_NUMERIC)) {
    SQFloat x = a._type == OT_INTEGER ? (SQFloat)a._unVal.nInteger : a._unVal.fFloat;
    SQFloat y = b._type == OT_INTEGER ? (SQFloat)b._unVal.nInteger : b._unVal.fFloat;
    switch (op) {
      case '+': obj_setfloat(out, x + y); return true;
      case '-': obj_setfloat(out, x - y); return true;
      case '*': obj_setfloat(out, x * y); return true;
      case '/': obj_setfloat(out, x / y); return true;
      case '%': obj_setfloat(out, fmodf(x, y)); return true;
    }
  }
  if (op == '+' && (a._type == OT_STRING || b._type == OT_STRING)) return str_cat(v, a, b, out);
  if (a._type == OT_INSTANCE || a._type == OT_TABLE || a._type == OT_USERDATA) {
    int mt = op == '+' ? MT_ADD : op == '-' ? MT_SUB : op == '*' ? MT_MUL : op == '/' ? MT_DIV : MT_MODULO;
    bool found;
    SQRef res;
    if (!call_metamethod(v, a, mt, &b, 1, res.o, found)) return false;
    if (found) {
      obj_set(out, res.o);
      return true;
    }
  }
  return vm_raise(v, "arith op %c on between '%s' and '%s'", op, type_name(a._type), type_name(b._type));
}

// ---- indexing ----
static bool number_index(const SQObject& key, SQInteger& idx) {
  if (key._type == OT_INTEGER) {
    idx = key._unVal.nInteger;
    return true;
  }
  if (key._type == OT_FLOAT) {
    idx = (SQInteger)key._unVal.fFloat;
    return true;
  }
  return false;
}

// Lookup through a table and its chain of delegates.
static bool table_get_chain(SQTable* t, const SQObject& key, SQObject& out) {
  for (int guard = 0; t && guard < 1000; t = t->delegate, guard++) {
    if (SQObject* slot = table_find(t, key)) {
      out = realval(*slot);
      return true;
    }
  }
  return false;
}

SQObject* dd_for(SQSharedState* ss, SQObjectType t) {
  switch (t) {
    case OT_TABLE: return &ss->dd_table;
    case OT_ARRAY: return &ss->dd_array;
    case OT_STRING: return &ss->dd_string;
    case OT_INTEGER:
    case OT_FLOAT:
    case OT_BOOL: return &ss->dd_number;
    case OT_CLOSURE:
    case OT_NATIVECLOSURE: return &ss->dd_closure;
    case OT_GENERATOR: return &ss->dd_generator;
    case OT_THREAD: return &ss->dd_thread;
    case OT_CLASS: return &ss->dd_class;
    case OT_INSTANCE: return &ss->dd_instance;
    case OT_WEAKREF: return &ss->dd_weakref;
    default: return nullptr;
  }
}

// Result of a lookup step that may also fail with an error.
enum Lookup { L_FOUND, L_MISSING, L_ERROR };

static Lookup get_via_metamethod(SQVM* v, const SQObject& self, const SQObject& key, SQObject& out) {
  SQObject fn;
  if (!get_metamethod(v, self, MT_GET, fn)) return L_MISSING;
  SQRef keep(fn);
  SQRef res;
  if (!vm_call_value(v, fn, self, &key, 1, &res.o)) {
    // _get throwing null means "no such index"
    if (v->lasterror._type == OT_NULL) return L_MISSING;
    return L_ERROR;
  }
  obj_set(out, res.o);
  return L_FOUND;
}

bool vm_get(SQVM* v, const SQObject& self, const SQObject& key, SQObject& out, int flags) {
  bool raw = (flags & GET_RAW) != 0;
  SQObject found;
  switch (self._type) {
    case OT_TABLE: {
      SQTable* t = self._unVal.pTable;
      if (raw) {
        if (table_get(t, key, found)) {
          obj_set(out, found);
          return true;
        }
        break;
      }
      if (table_get_chain(t, key, found)) {
        obj_set(out, found);
        return true;
      }
      Lookup l = get_via_metamethod(v, self, key, out);
      if (l == L_FOUND) return true;
      if (l == L_ERROR) return false;
      break;
    }
    case OT_INSTANCE: {
      if (instance_get(self._unVal.pInstance, key, found)) {
        obj_set(out, found);
        return true;
      }
      if (raw) break;
      Lookup l = get_via_metamethod(v, self, key, out);
      if (l == L_FOUND) return true;
      if (l == L_ERROR) return false;
      break;
    }
    case OT_CLASS:
      if (class_get(self._unVal.pClass, key, found)) {
        obj_set(out, found);
        return true;
      }
      break;
    case OT_ARRAY: {
      SQInteger idx;
      if (number_index(key, idx)) {
        SQArray* a = self._unVal.pArray;
        if (idx >= 0 && (uint32_t)idx < a->size) {
          obj_set(out, realval(a->vals[idx]));
          return true;
        }
        return vm_raise_idx(v, key);
      }
      break;
    }
    case OT_STRING: {
      SQInteger idx;
      if (number_index(key, idx)) {
        SQString* s = self._unVal.pString;
        if (idx >= 0 && idx < s->len) {
          obj_setint(out, (SQInteger)(signed char)s->val[idx]);
          return true;
        }
        return vm_raise_idx(v, key);
      }
      break;
    }
    case OT_USERDATA: {
      if (raw) break;
      SQTable* d = self._unVal.pUserData->delegate;
      if (d && table_get_chain(d, key, found)) {
        obj_set(out, found);
        return true;
      }
      Lookup l = get_via_metamethod(v, self, key, out);
      if (l == L_FOUND) return true;
      if (l == L_ERROR) return false;
      break;
    }
    default: break;
  }
  if (!raw) {
    if (SQObject* dd = dd_for(v->ss, self._type)) {
      if (dd->_type == OT_TABLE && table_get(dd->_unVal.pTable, key, found)) {
        obj_set(out, found);
        return true;
      }
    }
  }
  if ((flags & GET_ROOT) && v->roottable._type == OT_TABLE) {
    if (table_get(v->roottable._unVal.pTable, key, found)) {
      obj_set(out, found);
      return true;
    }
  }
  return vm_raise_idx(v, key);
}

// A set on a table or user data through the _set metamethod of the delegate.
static Lookup set_via_metamethod(SQVM* v, const SQObject& self, const SQObject& key, const SQObject& val) {
  SQObject fn;
  if (!get_metamethod(v, self, MT_SET, fn)) return L_MISSING;
  SQRef keep(fn);
  SQObject args[2] = {key, val};
  SQRef res;
  if (!vm_call_value(v, fn, self, args, 2, &res.o)) {
    if (v->lasterror._type == OT_NULL) return L_MISSING;
    return L_ERROR;
  }
  return L_FOUND;
}

bool vm_set(SQVM* v, const SQObject& self, const SQObject& key, const SQObject& val, int flags) {
  bool raw = (flags & GET_RAW) != 0;
  switch (self._type) {
    case OT_TABLE: {
      if (SQObject* slot = table_find(self._unVal.pTable, key)) {
        obj_set(*slot, val);
        return true;
      }
      if (!raw) {
        Lookup l = set_via_metamethod(v, self, key, val);
        if (l == L_FOUND) return true;
        if (l == L_ERROR) return false;
      }
      break;
    }
    case OT_INSTANCE: {
      SQInstance* inst = self._unVal.pInstance;
      SQObject* slot = table_find(inst->klass->members, key);
      if (slot && (slot->_unVal.nInteger & MEMBER_FIELD)) {
        obj_set(inst->values[slot->_unVal.nInteger & MEMBER_INDEX], val);
        return true;
      }
      if (!raw) {
        Lookup l = set_via_metamethod(v, self, key, val);
        if (l == L_FOUND) return true;
        if (l == L_ERROR) return false;
      }
      break;
    }
    case OT_CLASS: {
      SQClass* c = self._unVal.pClass;
      SQObject* slot = table_find(c->members, key);
      if (slot) {
        SQInteger m = slot->_unVal.nInteger;
        if (m & MEMBER_FIELD) {
          obj_set(c->fields[m & MEMBER_INDEX].val, val);
        } else {
          return class_newslot(c, key, val, false) ||
                 vm_raise(v, "trying to modify a class that has already been instantiated");
        }
        return true;
      }
      break;
    }
    case OT_ARRAY: {
      SQInteger idx;
      if (!number_index(key, idx)) return vm_raise(v, "indexing array with %s", type_name(key._type));
      SQArray* a = self._unVal.pArray;
      if (idx >= 0 && (uint32_t)idx < a->size) {
        obj_set(a->vals[idx], val);
        return true;
      }
      return vm_raise_idx(v, key);
    }
    case OT_USERDATA:
      if (!raw) {
        Lookup l = set_via_metamethod(v, self, key, val);
        if (l == L_FOUND) return true;
        if (l == L_ERROR) return false;
      }
      break;
    default: break;
  }
  if ((flags & GET_ROOT) && v->roottable._type == OT_TABLE) {
    if (SQObject* slot = table_find(v->roottable._unVal.pTable, key)) {
      obj_set(*slot, val);
      return true;
    }
  }
  return vm_raise_idx(v, key);
}

bool vm_newslot(SQVM* v, const SQObject& self, const SQObject& key, const SQObject& val, bool bstatic,
                bool raw) {
  if (key._type == OT_NULL) return vm_raise(v, "null cannot be used as index");
  switch (self._type) {
    case OT_TABLE: {
      SQTable* t = self._unVal.pTable;
      if (!raw && t->delegate && !table_find(t, key)) {
        SQObject fn;
        if (get_metamethod(v, self, MT_NEWSLOT, fn)) {
          SQRef keep(fn);
          SQObject args[2] = {key, val};
          SQRef res;
          return vm_call_value(v, fn, self, args, 2, &res.o);
        }
      }
      if (key._type == OT_FLOAT && std::isnan(key._unVal.fFloat))
        return vm_raise(v, "NaN cannot be used as index");
      if (t->count >= SQ_MAX_TABLE && !table_find(t, key)) return vm_raise(v, "table too big");
      table_set(t, key, val);
      return true;
    }
    case OT_CLASS: return vm_newmember(v, self, key, val, mk_null(), bstatic, raw);
    case OT_INSTANCE: return vm_raise(v, "class instances do not support the new slot operator");
    default: return vm_raise(v, "trying to create a slot in a '%s'", type_name(self._type));
  }
}

bool vm_newmember(SQVM* v, const SQObject& cls, const SQObject& key, const SQObject& val,
                  const SQObject& attrs, bool bstatic, bool raw) {
  if (cls._type != OT_CLASS) return vm_raise(v, "new member only works with classes");
  if (key._type == OT_NULL) return vm_raise(v, "null cannot be used as index");
  SQClass* c = cls._unVal.pClass;
  if (!raw && c->metamethods[MT_NEWMEMBER]._type != OT_NULL) {
    SQRef fn(c->metamethods[MT_NEWMEMBER]);
    SQObject args[4] = {key, val, attrs, mk_bool(bstatic)};
    SQRef res;
    return vm_call_value(v, fn.o, cls, args, 4, &res.o);
  }
  if (!class_newslot(c, key, val, bstatic))
    return vm_raise(v, "trying to modify a class that has already been instantiated");
  if (attrs._type != OT_NULL) {
    SQObject* slot = table_find(c->members, key);
    SQInteger m = slot->_unVal.nInteger;
    SQClassMember& mem = (m & MEMBER_FIELD) ? c->fields[m & MEMBER_INDEX] : c->methods[m & MEMBER_INDEX];
    obj_set(mem.attrs, attrs);
  }
  return true;
}

bool vm_delete(SQVM* v, const SQObject& self, const SQObject& key, SQObject* out, bool raw) {
  switch (self._type) {
    case OT_TABLE: {
      // a _delslot metamethod of the delegate handles every deletion
      SQObject fn;
      if (!raw && get_metamethod(v, self, MT_DELSLOT, fn)) {
        SQRef keep(fn);
        SQRef res;
        if (!vm_call_value(v, fn, self, &key, 1, &res.o)) return false;
        if (out) obj_set(*out, res.o);
        return true;
      }
      SQObject old;
      if (table_remove(self._unVal.pTable, key, &old)) {
        if (out)
          obj_assign_owned(*out, old);
        else
          obj_release(old);
        return true;
      }
      return vm_raise_idx(v, key);
    }
    case OT_INSTANCE:
    case OT_CLASS: return vm_raise(v, "cannot delete a slot from %s", type_name(self._type));
    default: return vm_raise(v, "attempt to delete a slot from a %s", type_name(self._type));
  }
}

bool vm_instance_create(SQVM* v, SQClass* c, SQObject& out) {
  SQInstance* i = instance_new(v->ss, c);
  obj_set(out, mk_obj(OT_INSTANCE, i));
  return true;
}

bool vm_clone(SQVM* v, const SQObject& o, SQObject& out) {
  SQRef res;
  switch (o._type) {
    case OT_TABLE: res.set(mk_obj(OT_TABLE, table_clone(o._unVal.pTable))); break;
    case OT_ARRAY: res.set(mk_obj(OT_ARRAY, array_clone(o._unVal.pArray))); break;
    case OT_INSTANCE: {
      SQInstance* src = o._unVal.pInstance;
      SQInstance* i = instance_new(v->ss, src->klass);
      for (uint32_t k = 0; k < i->nvalues && k < src->nvalues; k++) obj_set(i->values[k], src->values[k]);
      i->hook = nullptr;
      res.set(mk_obj(OT_INSTANCE, i));
      break;
    }
    case OT_CLOSURE:
    case OT_NATIVECLOSURE:
    case OT_CLASS:
    case OT_GENERATOR:
    case OT_THREAD:
    case OT_USERDATA:
      return vm_raise(v, "cloning a %s", type_name(o._type));
    default:
      obj_set(out, o);
      return true;
  }
  if (o._type == OT_TABLE || o._type == OT_INSTANCE) {
    bool found;
    SQRef r2;
    if (!call_metamethod(v, res.o, MT_CLONED, &o, 1, r2.o, found)) return false;
  }
  obj_set(out, res.o);
  return true;
}

// One step of iteration over a container (not generators). 'iter' is null at
// the start; 'done' is set when there are no more items.
bool vm_next(SQVM* v, const SQObject& o, const SQObject& iter, SQObject& outkey, SQObject& outval,
             SQObject& outiter, bool& done) {
  done = false;
  int32_t pos = iter._type == OT_INTEGER ? iter._unVal.nInteger : 0;
  switch (o._type) {
    case OT_ARRAY: {
      SQArray* a = o._unVal.pArray;
      if (pos < 0 || (uint32_t)pos >= a->size) {
        done = true;
        return true;
      }
      obj_setint(outkey, pos);
      obj_set(outval, realval(a->vals[pos]));
      obj_setint(outiter, pos + 1);
      return true;
    }
    case OT_TABLE: {
      SQObject k, val;
      int32_t n = table_next(o._unVal.pTable, pos < 0 ? 0 : pos, &k, &val);
      if (n < 0) {
        done = true;
        return true;
      }
      obj_set(outkey, k);
      obj_set(outval, val);
      obj_setint(outiter, n + 1);
      return true;
    }
    case OT_STRING: {
      SQString* s = o._unVal.pString;
      if (pos < 0 || pos >= s->len) {
        done = true;
        return true;
      }
      obj_setint(outkey, pos);
      obj_setint(outval, (SQInteger)(signed char)s->val[pos]);
      obj_setint(outiter, pos + 1);
      return true;
    }
    case OT_CLASS:
    case OT_INSTANCE: {
      SQClass* c = o._type == OT_CLASS ? o._unVal.pClass : o._unVal.pInstance->klass;
      if (o._type == OT_INSTANCE && c->metamethods[MT_NEXTI]._type != OT_NULL) {
        SQRef fn(c->metamethods[MT_NEXTI]);
        SQRef next;
        if (!vm_call_value(v, fn.o, o, &iter, 1, &next.o)) return false;
        if (next.o._type == OT_NULL) {
          done = true;
          return true;
        }
        SQRef val;
        if (!vm_get(v, o, next.o, val.o, 0)) return false;
        obj_set(outkey, next.o);
        obj_set(outval, val.o);
        obj_set(outiter, next.o);
        return true;
      }
      SQObject k, m;
      int32_t n = table_next(c->members, pos < 0 ? 0 : pos, &k, &m);
      if (n < 0) {
        done = true;
        return true;
      }
      SQObject val;
      if (o._type == OT_CLASS)
        class_get(c, k, val);
      else
        instance_get(o._unVal.pInstance, k, val);
      obj_set(outkey, k);
      obj_set(outval, val);
      obj_setint(outiter, n + 1);
      return true;
    }
    default: return vm_raise(v, "cannot iterate %s", type_name(o._type));
  }
}
