// The base library (global functions of the root table) and the default
// delegates: the built-in methods of every type.
#include "sqvm.h"
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

inline SQObject& arg(HSQUIRRELVM v, int i) { return v->stack[v->base + i - 1]; }  // i = 1 is 'this'
inline int nargs(HSQUIRRELVM v) { return v->top - v->base; }

SQInteger ret(HSQUIRRELVM v, const SQObject& o) {
  vm_push(v, o);
  return 1;
}
SQInteger ret_owned(HSQUIRRELVM v, SQRef& r) {
  vm_push(v, r.o);
  return 1;
}
SQInteger ret_str(HSQUIRRELVM v, const char* s, SQInteger len = -1) {
  sq_pushstring(v, s, len);
  return 1;
}

void reg(HSQUIRRELVM v, const char* name, SQFUNCTION f, SQInteger nparams, const char* mask) {
  sq_pushstring(v, name, -1);
  sq_newclosure(v, f, 0);
  sq_setparamscheck(v, nparams, mask);
  sq_setnativeclosurename(v, -1, name);
  sq_newslot(v, -3, SQFalse);
}

// ---- global functions ----
SQInteger base_seterrorhandler(HSQUIRRELVM v) {
  sq_push(v, 2);
  sq_seterrorhandler(v);
  return 0;
}
SQInteger base_setdebughook(HSQUIRRELVM v) {
  sq_push(v, 2);
  sq_setdebughook(v);
  return 0;
}
SQInteger base_enabledebuginfo(HSQUIRRELVM v) {
  sq_enabledebuginfo(v, obj_truthy(arg(v, 2)) ? SQTrue : SQFalse);
  return 0;
}

// A table describing call frame 'level' of thread t, or null.
bool push_stackinfos(HSQUIRRELVM v, HSQUIRRELVM t, SQInteger level) {
  SQStackInfos si;
  if (SQ_FAILED(sq_stackinfos(t, level, &si))) {
    sq_pushnull(v);
    return true;
  }
  sq_newtable(v);
  sq_pushstring(v, "func", -1);
  sq_pushstring(v, si.funcname, -1);
  sq_newslot(v, -3, SQFalse);
  sq_pushstring(v, "src", -1);
  sq_pushstring(v, si.source, -1);
  sq_newslot(v, -3, SQFalse);
  sq_pushstring(v, "line", -1);
  sq_pushinteger(v, si.line);
  sq_newslot(v, -3, SQFalse);
  sq_pushstring(v, "locals", -1);
  sq_newtable(v);
  for (SQUnsignedInteger i = 0;; i++) {
    const SQChar* name = sq_getlocal(t, (SQUnsignedInteger)level, i);
    if (!name) break;
    SQRef val(t->stack[t->top - 1]);
    sq_pop(t, 1);
    sq_pushstring(v, name, -1);
    vm_push(v, val.o);
    sq_newslot(v, -3, SQFalse);
  }
  sq_newslot(v, -3, SQFalse);
  return true;
}
SQInteger base_getstackinfos(HSQUIRRELVM v) {
  // level 0 is the function calling getstackinfos (this native is not counted)
  SQInteger level = arg(v, 2)._unVal.nInteger;
  if (level < 0) return sq_throwerror(v, "invalid level");
  push_stackinfos(v, v, level + 1);
  return 1;
}
SQInteger base_getroottable(HSQUIRRELVM v) { return ret(v, v->roottable); }
SQInteger base_setroottable(HSQUIRRELVM v) {
  SQRef old(v->roottable);
  sq_push(v, 2);
  if (SQ_FAILED(sq_setroottable(v))) return SQ_ERROR;
  return ret_owned(v, old);
}
SQInteger base_getconsttable(HSQUIRRELVM v) { return ret(v, v->ss->consttable); }
SQInteger base_setconsttable(HSQUIRRELVM v) {
  SQRef old(v->ss->consttable);
  sq_push(v, 2);
  if (SQ_FAILED(sq_setconsttable(v))) return SQ_ERROR;
  return ret_owned(v, old);
}
SQInteger base_assert(HSQUIRRELVM v) {
  if (obj_truthy(arg(v, 2))) return 0;
  if (nargs(v) >= 3 && arg(v, 3)._type == OT_STRING)
    return sq_throwerror(v, arg(v, 3)._unVal.pString->val);
  return sq_throwerror(v, "assertion failed");
}
SQInteger print_to(HSQUIRRELVM v, SQPRINTFUNCTION f) {
  SQRef s;
  SQRef val(arg(v, 2));
  if (!vm_tostring(v, val.o, s.o)) return SQ_ERROR;
  if (f) f(v, "%s", s.o._unVal.pString->val);
  return 0;
}
SQInteger base_print(HSQUIRRELVM v) { return print_to(v, v->ss->printfn); }
SQInteger base_error(HSQUIRRELVM v) { return print_to(v, v->ss->errorfn); }
SQInteger base_compilestring(HSQUIRRELVM v) {
  SQString* src = arg(v, 2)._unVal.pString;
  const char* name = nargs(v) >= 3 ? arg(v, 3)._unVal.pString->val : "unnamedbuffer";
  if (SQ_FAILED(sq_compilebuffer(v, src->val, src->len, name, SQFalse))) return SQ_ERROR;
  return 1;
}
SQInteger base_newthread(HSQUIRRELVM v) {
  SQRef fn(arg(v, 2));
  HSQUIRRELVM t = sq_newthread(v, 64);
  vm_push(t, fn.o);
  return 1;
}
SQInteger base_suspend(HSQUIRRELVM v) { return sq_suspendvm(v); }
SQInteger base_array(HSQUIRRELVM v) {
  SQInteger n = arg(v, 2)._unVal.nInteger;
  if (arg(v, 2)._type == OT_FLOAT) n = (SQInteger)arg(v, 2)._unVal.fFloat;
  if (n < 0) return sq_throwerror(v, "negative size");
  if ((uint32_t)n > SQ_MAX_ARRAY) return sq_throwerror(v, "array too big");
  SQArray* a = array_new(v->ss, 0);
  SQRef r(mk_obj(OT_ARRAY, a));
  array_resize(a, (uint32_t)n, nargs(v) >= 3 ? arg(v, 3) : mk_null());
  return ret_owned(v, r);
}
SQInteger base_type(HSQUIRRELVM v) { return ret_str(v, type_name(arg(v, 2)._type)); }
SQInteger base_callee(HSQUIRRELVM v) {
  if (v->ncalls < 2) return sq_throwerror(v, "no closure in the calls stack");
  SQCallInfo& ci = v->calls[v->ncalls - 2];
  if (ci.closure) return ret(v, mk_obj(OT_CLOSURE, ci.closure));
  return ret(v, v->stack[ci.base - 1]);
}
SQInteger base_collectgarbage(HSQUIRRELVM v) {
  sq_pushinteger(v, sq_collectgarbage(v));
  return 1;
}
SQInteger base_resurrectunreachable(HSQUIRRELVM v) {
  sq_resurrectunreachable(v);
  return 1;
}

// ---- shared by several delegates ----
SQInteger obj_weakref_fn(HSQUIRRELVM v) {
  sq_weakref(v, 1);
  return 1;
}
SQInteger obj_tostring_fn(HSQUIRRELVM v) {
  if (SQ_FAILED(sq_tostring(v, 1))) return SQ_ERROR;
  return 1;
}
SQInteger obj_len(HSQUIRRELVM v) {
  sq_pushinteger(v, sq_getsize(v, 1));
  return 1;
}
SQInteger obj_rawget(HSQUIRRELVM v) {
  sq_push(v, 2);
  if (SQ_FAILED(sq_rawget(v, 1))) return SQ_ERROR;
  return 1;
}
SQInteger obj_rawset(HSQUIRRELVM v) {
  sq_push(v, 2);
  sq_push(v, 3);
  if (SQ_FAILED(sq_rawset(v, 1))) return SQ_ERROR;
  return 0;
}
SQInteger obj_rawin(HSQUIRRELVM v) {
  SQObject tmp;
  const SQObject& self = arg(v, 1);
  const SQObject& key = arg(v, 2);
  bool r = false;
  switch (self._type) {
    case OT_TABLE: r = table_find(self._unVal.pTable, key) != nullptr; break;
    case OT_CLASS: r = class_get(self._unVal.pClass, key, tmp); break;
    case OT_INSTANCE: r = instance_get(self._unVal.pInstance, key, tmp); break;
    default: break;
  }
  sq_pushbool(v, r);
  return 1;
}
SQInteger obj_clear(HSQUIRRELVM v) {
  if (SQ_FAILED(sq_clear(v, 1))) return SQ_ERROR;
  return 0;
}

// ---- numbers ----
SQInteger number_tofloat(HSQUIRRELVM v) {
  const SQObject& o = arg(v, 1);
  sq_pushfloat(v, o._type == OT_FLOAT ? o._unVal.fFloat : (SQFloat)o._unVal.nInteger);
  return 1;
}
SQInteger number_tointeger(HSQUIRRELVM v) {
  const SQObject& o = arg(v, 1);
  sq_pushinteger(v, o._type == OT_FLOAT ? (SQInteger)o._unVal.fFloat : o._unVal.nInteger);
  return 1;
}
SQInteger number_tochar(HSQUIRRELVM v) {
  const SQObject& o = arg(v, 1);
  char c = (char)(o._type == OT_FLOAT ? (SQInteger)o._unVal.fFloat : o._unVal.nInteger);
  return ret_str(v, &c, 1);
}

// ---- strings ----
bool parse_number(const char* s, SQObject& out) {
  const char* p = s;
  while (isspace((unsigned char)*p)) p++;
  if (!*p) return false;
  char* end;
  bool isfloat = false;
  for (const char* q = p; *q; q++)
    if (*q == '.' || *q == 'e' || *q == 'E') isfloat = true;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) isfloat = false;
  errno = 0;
  if (isfloat) {
    double d = strtod(p, &end);
    if (end == p) return false;
    out = mk_float((SQFloat)d);
  } else {
    long long n = strtoll(p, &end, (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) ? 16 : 10);
    if (end == p) return false;
    out = mk_int((SQInteger)(uint32_t)(unsigned long long)n);
  }
  while (isspace((unsigned char)*end)) end++;
  return *end == 0;
}
SQInteger string_tointeger(HSQUIRRELVM v) {
  SQObject n;
  if (!parse_number(arg(v, 1)._unVal.pString->val, n)) return sq_throwerror(v, "cannot convert the string");
  sq_pushinteger(v, n._type == OT_FLOAT ? (SQInteger)n._unVal.fFloat : n._unVal.nInteger);
  return 1;
}
SQInteger string_tofloat(HSQUIRRELVM v) {
  SQObject n;
  if (!parse_number(arg(v, 1)._unVal.pString->val, n)) return sq_throwerror(v, "cannot convert the string");
  sq_pushfloat(v, n._type == OT_FLOAT ? n._unVal.fFloat : (SQFloat)n._unVal.nInteger);
  return 1;
}
// start/end arguments of slice(), negative counting from the end.
bool slice_range(HSQUIRRELVM v, SQInteger len, SQInteger& start, SQInteger& end) {
  start = nargs(v) >= 2 ? arg(v, 2)._unVal.nInteger : 0;
  end = nargs(v) >= 3 && arg(v, 3)._type != OT_NULL ? arg(v, 3)._unVal.nInteger : len;
  if (start < 0) start += len;
  if (end < 0) end += len;
  const char* err = start > end ? "wrong indexes" : (start < 0 || end > len) ? "slice out of range" : nullptr;
  if (err) sq_throwerror(v, err);
  return err == nullptr;
}
SQInteger string_slice(HSQUIRRELVM v) {
  SQString* s = arg(v, 1)._unVal.pString;
  SQInteger start, end;
  if (!slice_range(v, s->len, start, end)) return SQ_ERROR;
  return ret_str(v, s->val + start, end - start);
}
SQInteger string_find(HSQUIRRELVM v) {
  SQString* s = arg(v, 1)._unVal.pString;
  SQString* sub = arg(v, 2)._unVal.pString;
  SQInteger start = nargs(v) >= 3 ? arg(v, 3)._unVal.nInteger : 0;
  if (start < 0 || start > s->len) return 0;
  for (SQInteger i = start; i + sub->len <= s->len; i++) {
    if (memcmp(s->val + i, sub->val, (size_t)sub->len) == 0) {
      sq_pushinteger(v, i);
      return 1;
    }
  }
  return 0;
}
SQInteger string_case(HSQUIRRELVM v, bool upper) {
  SQString* s = arg(v, 1)._unVal.pString;
  std::string r(s->val, (size_t)s->len);
  for (char& c : r) c = (char)(upper ? toupper((unsigned char)c) : tolower((unsigned char)c));
  return ret_str(v, r.data(), (SQInteger)r.size());
}
SQInteger string_tolower(HSQUIRRELVM v) { return string_case(v, false); }
SQInteger string_toupper(HSQUIRRELVM v) { return string_case(v, true); }

// ---- tables ----
SQInteger table_rawdelete(HSQUIRRELVM v) {
  sq_push(v, 2);
  if (SQ_FAILED(sq_rawdeleteslot(v, 1, SQTrue))) return SQ_ERROR;
  return 1;
}
SQInteger table_setdelegate(HSQUIRRELVM v) {
  sq_push(v, 2);
  if (SQ_FAILED(sq_setdelegate(v, 1))) return SQ_ERROR;
  sq_push(v, 1);
  return 1;
}
SQInteger table_getdelegate(HSQUIRRELVM v) {
  if (SQ_FAILED(sq_getdelegate(v, 1))) return SQ_ERROR;
  return 1;
}

// ---- arrays ----
inline SQArray* self_array(HSQUIRRELVM v) { return arg(v, 1)._unVal.pArray; }
SQInteger array_append_fn(HSQUIRRELVM v) {
  SQArray* a = self_array(v);
  if (a->size >= SQ_MAX_ARRAY) return sq_throwerror(v, "array too big");
  array_push(a, arg(v, 2));
  return 0;
}
SQInteger array_extend(HSQUIRRELVM v) {
  SQArray* a = self_array(v);
  SQRef other(arg(v, 2));
  SQArray* b = other.o._unVal.pArray;
  uint32_t n = b->size;
  if ((uint64_t)a->size + n > SQ_MAX_ARRAY) return sq_throwerror(v, "array too big");
  for (uint32_t i = 0; i < n && i < b->size; i++) array_push(a, b->vals[i]);
  return 0;
}
SQInteger array_pop(HSQUIRRELVM v) {
  if (SQ_FAILED(sq_arraypop(v, 1, SQTrue))) return SQ_ERROR;
  return 1;
}
SQInteger array_top(HSQUIRRELVM v) {
  SQArray* a = self_array(v);
  if (a->size == 0) return sq_throwerror(v, "top() on a empty array");
  return ret(v, realval(a->vals[a->size - 1]));
}
SQInteger array_insert_fn(HSQUIRRELVM v) {
  SQInteger idx =
      arg(v, 2)._type == OT_FLOAT ? (SQInteger)arg(v, 2)._unVal.fFloat : arg(v, 2)._unVal.nInteger;
  SQArray* a = self_array(v);
  if (a->size >= SQ_MAX_ARRAY) return sq_throwerror(v, "array too big");
  if (idx < 0 || !array_insert(a, (uint32_t)idx, arg(v, 3))) return sq_throwerror(v, "index out of range");
  return 0;
}
SQInteger array_remove_fn(HSQUIRRELVM v) {
  SQInteger idx =
      arg(v, 2)._type == OT_FLOAT ? (SQInteger)arg(v, 2)._unVal.fFloat : arg(v, 2)._unVal.nInteger;
  SQArray* a = self_array(v);
  if (idx < 0 || (uint32_t)idx >= a->size) return sq_throwerror(v, "index out of range");
  SQRef val(a->vals[idx]);
  array_remove(a, (uint32_t)idx);
  return ret_owned(v, val);
}
SQInteger array_resize_fn(HSQUIRRELVM v) {
  SQInteger n = arg(v, 2)._type == OT_FLOAT ? (SQInteger)arg(v, 2)._unVal.fFloat : arg(v, 2)._unVal.nInteger;
  if (n < 0) return sq_throwerror(v, "sizes must be positive");
  if ((uint32_t)n > SQ_MAX_ARRAY) return sq_throwerror(v, "array too big");
  SQRef fill;
  if (nargs(v) >= 3) fill.set(arg(v, 3));
  array_resize(self_array(v), (uint32_t)n, fill.o);
  return 0;
}
SQInteger array_reverse_fn(HSQUIRRELVM v) {
  sq_arrayreverse(v, 1);
  return 0;
}
SQInteger array_slice(HSQUIRRELVM v) {
  SQArray* a = self_array(v);
  SQInteger start, end;
  if (!slice_range(v, (SQInteger)a->size, start, end)) return SQ_ERROR;
  SQArray* r = array_new(v->ss, 0);
  SQRef res(mk_obj(OT_ARRAY, r));
  array_reserve(r, (uint32_t)(end - start));
  for (SQInteger i = start; i < end && (uint32_t)i < a->size; i++) array_push(r, a->vals[i]);
  return ret_owned(v, res);
}

// Calls fn(this = root table, args...) and stores the result.
bool call_fn(HSQUIRRELVM v, const SQObject& fn, const SQObject* args, int n, SQObject& result) {
  return vm_call_value(v, fn, v->roottable, args, n, &result);
}

SQInteger array_map(HSQUIRRELVM v) {
  SQRef self(arg(v, 1)), fn(arg(v, 2));
  SQArray* a = self.o._unVal.pArray;
  SQArray* r = array_new(v->ss, 0);
  SQRef res(mk_obj(OT_ARRAY, r));
  for (uint32_t i = 0; i < a->size; i++) {
    SQRef item(realval(a->vals[i])), out;
    if (!call_fn(v, fn.o, &item.o, 1, out.o)) return SQ_ERROR;
    array_push(r, out.o);
  }
  return ret_owned(v, res);
}
SQInteger array_apply(HSQUIRRELVM v) {
  SQRef self(arg(v, 1)), fn(arg(v, 2));
  SQArray* a = self.o._unVal.pArray;
  for (uint32_t i = 0; i < a->size; i++) {
    SQRef item(realval(a->vals[i])), out;
    if (!call_fn(v, fn.o, &item.o, 1, out.o)) return SQ_ERROR;
    if (i < a->size) obj_set(a->vals[i], out.o);
  }
  return 0;
}
SQInteger array_reduce(HSQUIRRELVM v) {
  SQRef self(arg(v, 1)), fn(arg(v, 2));
  SQArray* a = self.o._unVal.pArray;
  if (a->size == 0) return 0;
  SQRef acc(realval(a->vals[0]));
  for (uint32_t i = 1; i < a->size; i++) {
    SQObject args[2] = {acc.o, realval(a->vals[i])};
    SQRef keep(args[1]), out;
    if (!call_fn(v, fn.o, args, 2, out.o)) return SQ_ERROR;
    acc.set(out.o);
  }
  return ret_owned(v, acc);
}
SQInteger array_filter(HSQUIRRELVM v) {
  SQRef self(arg(v, 1)), fn(arg(v, 2));
  SQArray* a = self.o._unVal.pArray;
  SQArray* r = array_new(v->ss, 0);
  SQRef res(mk_obj(OT_ARRAY, r));
  for (uint32_t i = 0; i < a->size; i++) {
    SQRef item(realval(a->vals[i])), out;
    SQObject args[2] = {mk_int((SQInteger)i), item.o};
    if (!call_fn(v, fn.o, args, 2, out.o)) return SQ_ERROR;
    if (obj_truthy(out.o)) array_push(r, item.o);
  }
  return ret_owned(v, res);
}
SQInteger array_find(HSQUIRRELVM v) {
  SQArray* a = self_array(v);
  const SQObject& x = arg(v, 2);
  for (uint32_t i = 0; i < a->size; i++) {
    if (vm_equal(realval(a->vals[i]), x)) {
      sq_pushinteger(v, (SQInteger)i);
      return 1;
    }
  }
  return 0;
}

// Merge sort over a private copy: a comparator that is inconsistent or that
// changes the array cannot make it read out of bounds.
struct Sorter {
  HSQUIRRELVM v;
  SQObject fn;
  bool failed = false;
  bool less_eq(const SQObject& a, const SQObject& b) {  // a <= b
    int c;
    if (fn._type == OT_NULL) {
      if (!vm_compare(v, a, b, c)) {
        failed = true;
        return true;
      }
      return c <= 0;
    }
    SQObject args[2] = {a, b};
    SQRef out;
    if (!call_fn(v, fn, args, 2, out.o)) {
      failed = true;
      return true;
    }
    if (out.o._type == OT_INTEGER) return out.o._unVal.nInteger <= 0;
    if (out.o._type == OT_FLOAT) return out.o._unVal.fFloat <= 0;
    vm_raise(v, "numeric value expected as return value of the compare function");
    failed = true;
    return true;
  }
  void sort(SQObject* a, SQObject* tmp, size_t n) {
    if (n < 2 || failed) return;
    if (n <= 8) {
      for (size_t i = 1; i < n && !failed; i++) {
        SQObject x = a[i];
        size_t j = i;
        while (j > 0 && !failed && !less_eq(a[j - 1], x)) {
          a[j] = a[j - 1];
          j--;
        }
        a[j] = x;
      }
      return;
    }
    size_t m = n / 2;
    sort(a, tmp, m);
    sort(a + m, tmp, n - m);
    if (failed) return;
    size_t i = 0, j = m, k = 0;
    while (i < m && j < n) tmp[k++] = less_eq(a[i], a[j]) ? a[i++] : a[j++];
    while (i < m) tmp[k++] = a[i++];
    while (j < n) tmp[k++] = a[j++];
    memcpy(a, tmp, sizeof(SQObject) * n);
  }
};
SQInteger array_sort(HSQUIRRELVM v) {
  SQRef self(arg(v, 1));
  SQRef fn;
  if (nargs(v) >= 2) fn.set(arg(v, 2));
  SQArray* a = self.o._unVal.pArray;
  uint32_t n = a->size;
  std::vector<SQObject> items(a->vals, a->vals + n), tmp(n);
  for (SQObject& o : items) obj_addref(o);
  Sorter s{v, fn.o};
  s.sort(items.data(), tmp.data(), n);
  bool ok = !s.failed;
  if (ok && a->size != n) ok = vm_raise(v, "array resized during sort");
  if (ok) {
    for (uint32_t i = 0; i < n; i++) {
      SQObject old = a->vals[i];
      a->vals[i] = items[i];  // takes the reference held by items
      obj_release(old);
    }
  } else {
    for (SQObject& o : items) obj_release(o);
  }
  return ok ? 0 : SQ_ERROR;
}

// ---- closures ----
SQInteger closure_call_common(HSQUIRRELVM v, bool raise) {
  SQRef res;
  int32_t fidx = v->base;  // the closure itself is 'this' of this call
  if (!vm_call(v, fidx, nargs(v) - 1, &res.o, raise)) return SQ_ERROR;
  return ret_owned(v, res);
}
SQInteger closure_call(HSQUIRRELVM v) { return closure_call_common(v, v->raiseerror); }
SQInteger closure_pcall(HSQUIRRELVM v) { return closure_call_common(v, false); }
SQInteger closure_acall_common(HSQUIRRELVM v, bool raise) {
  SQRef fn(arg(v, 1)), args(arg(v, 2));
  SQArray* a = args.o._unVal.pArray;
  if (a->size == 0) return sq_throwerror(v, "the array must contain at least the 'this' value");
  int32_t fidx = v->top;
  vm_push(v, fn.o);
  for (uint32_t i = 0; i < a->size; i++) vm_push(v, a->vals[i]);
  SQRef res;
  bool ok = vm_call(v, fidx, (int32_t)a->size, &res.o, raise);
  vm_settop(v, fidx);
  if (!ok) return SQ_ERROR;
  return ret_owned(v, res);
}
SQInteger closure_acall(HSQUIRRELVM v) { return closure_acall_common(v, v->raiseerror); }
SQInteger closure_pacall(HSQUIRRELVM v) { return closure_acall_common(v, false); }
SQInteger closure_bindenv(HSQUIRRELVM v) {
  sq_push(v, 2);
  if (SQ_FAILED(sq_bindenv(v, 1))) return SQ_ERROR;
  return 1;
}
void slot(HSQUIRRELVM v, const char* key, const SQObject& val) {
  sq_pushstring(v, key, -1);
  vm_push(v, val);
  sq_newslot(v, -3, SQFalse);
}
SQInteger closure_getinfos(HSQUIRRELVM v) {
  const SQObject& o = arg(v, 1);
  SQRef keep(o);
  sq_newtable(v);
  if (o._type == OT_CLOSURE) {
    SQClosure* c = o._unVal.pClosure;
    SQFunctionProto* p = c->proto;
    slot(v, "native", mk_bool(false));
    slot(v, "name", p->name ? mk_str(p->name) : mk_null());
    slot(v, "src", p->source ? mk_str(p->source) : mk_null());
    SQRef params(mk_obj(OT_ARRAY, array_new(v->ss, 0)));
    for (uint32_t r = 0; r < p->nparams; r++) {
      SQObject name = mk_null();
      for (uint32_t k = 0; k < p->nlocals; k++)
        if (p->locals[k].reg == r && p->locals[k].start_pc == 0 && p->locals[k].name)
          name = mk_str(p->locals[k].name);
      array_push(params.o._unVal.pArray, name);
    }
    slot(v, "parameters", params.o);
    slot(v, "varargs", mk_bool(p->varparams));
    SQRef defs(mk_obj(OT_ARRAY, array_new(v->ss, 0)));
    for (uint32_t k = 0; k < p->ndefaults; k++) array_push(defs.o._unVal.pArray, c->defaults[k]);
    slot(v, "defparams", defs.o);
  } else {
    SQNativeClosure* c = o._unVal.pNativeClosure;
    slot(v, "native", mk_bool(true));
    slot(v, "name", c->name ? mk_str(c->name) : mk_null());
    slot(v, "paramscheck", mk_int(c->nparamscheck));
    SQRef types(mk_obj(OT_ARRAY, array_new(v->ss, 0)));
    for (uint32_t k = 0; k < c->ntypecheck; k++) array_push(types.o._unVal.pArray, mk_int(c->typecheck[k]));
    slot(v, "typecheck", types.o);
  }
  return 1;
}

// ---- generators ----
SQInteger generator_getstatus(HSQUIRRELVM v) {
  SQGenerator* g = arg(v, 1)._unVal.pGenerator;
  const char* s = g->state == SQGenerator::DEAD      ? "dead"
                  : g->state == SQGenerator::RUNNING ? "running"
                                                     : "suspended";
  return ret_str(v, s);
}

// ---- threads ----
SQInteger thread_call(HSQUIRRELVM v) {
  SQRef self(arg(v, 1));
  SQVM* t = self.o._unVal.pThread;
  if (t->state != SQ_VMSTATE_IDLE) return sq_throwerror(v, "wakeup a dead thread");
  if (t->top - t->base < 1) return sq_throwerror(v, "the thread has no function to call");
  int32_t fidx = t->base;  // newthread left the function at the bottom of the thread stack
  vm_settop(t, fidx + 1);
  vm_push(t, v->roottable);
  for (int i = 2; i <= nargs(v); i++) vm_push(t, arg(v, i));
  SQRef res;
  bool ok = vm_call(t, fidx, t->top - fidx - 1, &res.o, false);
  if (!ok) {
    vm_settop(t, fidx + 1);
    vm_raise_obj(v, t->lasterror);
    return SQ_ERROR;
  }
  if (t->state != SQ_VMSTATE_SUSPENDED) vm_settop(t, fidx + 1);
  return ret_owned(v, res);
}
SQInteger thread_wakeup(HSQUIRRELVM v) {
  SQRef self(arg(v, 1));
  SQVM* t = self.o._unVal.pThread;
  if (t == v) return sq_throwerror(v, "cannot wakeup the running thread");
  if (t->state != SQ_VMSTATE_SUSPENDED) {
    return sq_throwerror(
        v, t->state == SQ_VMSTATE_IDLE ? "cannot wakeup a idle thread" : "cannot wakeup a running thread");
  }
  SQRef val;
  if (nargs(v) >= 2) val.set(arg(v, 2));
  SQRef res;
  int32_t bottom = t->base + 1;
  if (!vm_wakeup(t, &val.o, &res.o, false, false)) {
    vm_settop(t, bottom);
    vm_raise_obj(v, t->lasterror);
    return SQ_ERROR;
  }
  if (t->state != SQ_VMSTATE_SUSPENDED) vm_settop(t, bottom);
  return ret_owned(v, res);
}
SQInteger thread_getstatus(HSQUIRRELVM v) {
  SQVM* t = arg(v, 1)._unVal.pThread;
  const char* s = t->state == SQ_VMSTATE_IDLE      ? "idle"
                  : t->state == SQ_VMSTATE_RUNNING ? "running"
                                                   : "suspended";
  return ret_str(v, s);
}
SQInteger thread_getstackinfos(HSQUIRRELVM v) {
  SQRef self(arg(v, 1));
  push_stackinfos(v, self.o._unVal.pThread, arg(v, 2)._unVal.nInteger);
  return 1;
}

// ---- classes and instances ----
SQInteger class_getattributes(HSQUIRRELVM v) {
  sq_push(v, 2);
  if (SQ_FAILED(sq_getattributes(v, 1))) return SQ_ERROR;
  return 1;
}
SQInteger class_setattributes(HSQUIRRELVM v) {
  sq_push(v, 2);
  sq_push(v, 3);
  if (SQ_FAILED(sq_setattributes(v, 1))) return SQ_ERROR;
  return 1;
}
SQInteger class_instance(HSQUIRRELVM v) {
  if (SQ_FAILED(sq_createinstance(v, 1))) return SQ_ERROR;
  return 1;
}
SQInteger class_getbase(HSQUIRRELVM v) {
  if (SQ_FAILED(sq_getbase(v, 1))) return SQ_ERROR;
  return 1;
}
SQInteger class_newmember_common(HSQUIRRELVM v, bool raw) {
  SQRef self(arg(v, 1)), key(arg(v, 2)), val(arg(v, 3)), attrs;
  if (nargs(v) >= 4) attrs.set(arg(v, 4));
  bool bstatic = nargs(v) >= 5 && obj_truthy(arg(v, 5));
  if (!vm_newmember(v, self.o, key.o, val.o, attrs.o, bstatic, raw)) return SQ_ERROR;
  return 0;
}
SQInteger class_newmember(HSQUIRRELVM v) { return class_newmember_common(v, false); }
SQInteger class_rawnewmember(HSQUIRRELVM v) { return class_newmember_common(v, true); }
SQInteger instance_getclass(HSQUIRRELVM v) {
  if (SQ_FAILED(sq_getclass(v, 1))) return SQ_ERROR;
  return 1;
}

SQInteger weakref_ref(HSQUIRRELVM v) {
  if (SQ_FAILED(sq_getweakrefval(v, 1))) return SQ_ERROR;
  return 1;
}

SQObject make_delegate(HSQUIRRELVM v, const SQRegFunction* fns) {
  sq_newtable(v);
  for (const SQRegFunction* f = fns; f->name; f++) reg(v, f->name, f->f, f->nparamscheck, f->typemask);
  SQObject t = v->stack[v->top - 1];
  obj_addref(t);
  vm_pop(v, 1);
  return t;
}

const SQRegFunction kNumberDelegate[] = {
    {"tofloat", number_tofloat, 1, "n|b"}, {"tostring", obj_tostring_fn, 1, "."},
    {"tointeger", number_tointeger, 1, "n|b"}, {"tochar", number_tochar, 1, "n|b"},
    {"weakref", obj_weakref_fn, 1, nullptr}, {nullptr, nullptr, 0, nullptr}};
const SQRegFunction kStringDelegate[] = {
    {"len", obj_len, 1, "s"}, {"tointeger", string_tointeger, 1, "s"}, {"tofloat", string_tofloat, 1, "s"},
    {"tostring", obj_tostring_fn, 1, "."}, {"slice", string_slice, -1, "s n n|o"},
    {"find", string_find, -2, "s s n"}, {"tolower", string_tolower, 1, "s"},
    {"toupper", string_toupper, 1, "s"}, {"weakref", obj_weakref_fn, 1, nullptr},
    {nullptr, nullptr, 0, nullptr}};
const SQRegFunction kTableDelegate[] = {
    {"len", obj_len, 1, "t"}, {"rawget", obj_rawget, 2, "t"}, {"rawset", obj_rawset, 3, "t"},
    {"rawdelete", table_rawdelete, 2, "t"}, {"rawin", obj_rawin, 2, "t"},
    {"weakref", obj_weakref_fn, 1, nullptr}, {"tostring", obj_tostring_fn, 1, "."},
    {"clear", obj_clear, 1, "t"}, {"setdelegate", table_setdelegate, 2, "t t|o"},
    {"getdelegate", table_getdelegate, 1, "t"}, {nullptr, nullptr, 0, nullptr}};
const SQRegFunction kArrayDelegate[] = {
    {"len", obj_len, 1, "a"}, {"append", array_append_fn, 2, "a"}, {"push", array_append_fn, 2, "a"},
    {"extend", array_extend, 2, "aa"}, {"pop", array_pop, 1, "a"}, {"top", array_top, 1, "a"},
    {"insert", array_insert_fn, 3, "an"}, {"remove", array_remove_fn, 2, "an"},
    {"resize", array_resize_fn, -2, "an"}, {"sort", array_sort, -1, "ac"},
    {"reverse", array_reverse_fn, 1, "a"}, {"slice", array_slice, -1, "an n|o"},
    {"weakref", obj_weakref_fn, 1, nullptr}, {"tostring", obj_tostring_fn, 1, "."},
    {"clear", obj_clear, 1, "."}, {"map", array_map, 2, "ac"}, {"apply", array_apply, 2, "ac"},
    {"reduce", array_reduce, 2, "ac"}, {"filter", array_filter, 2, "ac"}, {"find", array_find, 2, "a."},
    {nullptr, nullptr, 0, nullptr}};
const SQRegFunction kClosureDelegate[] = {
    {"call", closure_call, -1, "c"}, {"pcall", closure_pcall, -1, "c"},
    {"acall", closure_acall, 2, "ca"}, {"pacall", closure_pacall, 2, "ca"},
    {"weakref", obj_weakref_fn, 1, nullptr}, {"tostring", obj_tostring_fn, 1, "."},
    {"bindenv", closure_bindenv, 2, "c x|y|t"}, {"getinfos", closure_getinfos, 1, "c"},
    {nullptr, nullptr, 0, nullptr}};
const SQRegFunction kGeneratorDelegate[] = {
    {"getstatus", generator_getstatus, 1, "g"}, {"weakref", obj_weakref_fn, 1, nullptr},
    {"tostring", obj_tostring_fn, 1, "."}, {nullptr, nullptr, 0, nullptr}};
const SQRegFunction kThreadDelegate[] = {
    {"call", thread_call, -1, "v"}, {"wakeup", thread_wakeup, -1, "v"},
    {"getstatus", thread_getstatus, 1, "v"}, {"weakref", obj_weakref_fn, 1, nullptr},
    {"getstackinfos", thread_getstackinfos, 2, "vn"}, {"tostring", obj_tostring_fn, 1, "."},
    {nullptr, nullptr, 0, nullptr}};
const SQRegFunction kClassDelegate[] = {
    {"getattributes", class_getattributes, 2, "y."}, {"setattributes", class_setattributes, 3, "y.."},
    {"rawget", obj_rawget, 2, "y"}, {"rawset", obj_rawset, 3, "y"}, {"rawin", obj_rawin, 2, "y"},
    {"weakref", obj_weakref_fn, 1, nullptr}, {"tostring", obj_tostring_fn, 1, "."},
    {"instance", class_instance, 1, "y"}, {"getbase", class_getbase, 1, "y"},
    {"newmember", class_newmember, -3, "y"}, {"rawnewmember", class_rawnewmember, -3, "y"},
    {nullptr, nullptr, 0, nullptr}};
const SQRegFunction kInstanceDelegate[] = {
    {"getclass", instance_getclass, 1, "x"}, {"rawget", obj_rawget, 2, "x"},
    {"rawset", obj_rawset, 3, "x"}, {"rawin", obj_rawin, 2, "x"},
    {"weakref", obj_weakref_fn, 1, nullptr}, {"tostring", obj_tostring_fn, 1, "."},
    {nullptr, nullptr, 0, nullptr}};
const SQRegFunction kWeakrefDelegate[] = {
    {"ref", weakref_ref, 1, "r"}, {"weakref", obj_weakref_fn, 1, nullptr},
    {"tostring", obj_tostring_fn, 1, "."}, {nullptr, nullptr, 0, nullptr}};

const SQRegFunction kBaseFunctions[] = {
    {"seterrorhandler", base_seterrorhandler, 2, ".c|o"},
    {"setdebughook", base_setdebughook, 2, ".c|o"},
    {"enabledebuginfo", base_enabledebuginfo, 2, "."},
    {"getstackinfos", base_getstackinfos, 2, ".n"},
    {"getroottable", base_getroottable, 1, nullptr},
    {"setroottable", base_setroottable, 2, ".t|o"},
    {"getconsttable", base_getconsttable, 1, nullptr},
    {"setconsttable", base_setconsttable, 2, ".t"},
    {"assert", base_assert, -2, ".."},
    {"print", base_print, 2, nullptr},
    {"error", base_error, 2, nullptr},
    {"compilestring", base_compilestring, -2, ".ss"},
    {"newthread", base_newthread, 2, ".c"},
    {"suspend", base_suspend, -1, nullptr},
    {"array", base_array, -2, ".n"},
    {"type", base_type, 2, nullptr},
    {"callee", base_callee, 1, nullptr},
    {"collectgarbage", base_collectgarbage, 1, nullptr},
    {"resurrectunreachable", base_resurrectunreachable, 1, nullptr},
    {nullptr, nullptr, 0, nullptr}};

}  // namespace

void baselib_init_delegates(SQSharedState* ss, SQVM* v) {
  ss->dd_number = make_delegate(v, kNumberDelegate);
  ss->dd_string = make_delegate(v, kStringDelegate);
  ss->dd_table = make_delegate(v, kTableDelegate);
  ss->dd_array = make_delegate(v, kArrayDelegate);
  ss->dd_closure = make_delegate(v, kClosureDelegate);
  ss->dd_generator = make_delegate(v, kGeneratorDelegate);
  ss->dd_thread = make_delegate(v, kThreadDelegate);
  ss->dd_class = make_delegate(v, kClassDelegate);
  ss->dd_instance = make_delegate(v, kInstanceDelegate);
  ss->dd_weakref = make_delegate(v, kWeakrefDelegate);
}

void baselib_register(SQVM* v) {
  sq_pushroottable(v);
  for (const SQRegFunction* f = kBaseFunctions; f->name; f++)
    reg(v, f->name, f->f, f->nparamscheck, f->typemask);
  sq_pushstring(v, "_version_", -1);
  sq_pushstring(v, SQUIRREL_VERSION, -1);
  sq_newslot(v, -3, SQFalse);
  sq_pushstring(v, "_versionnumber_", -1);
  sq_pushinteger(v, SQUIRREL_VERSION_NUMBER);
  sq_newslot(v, -3, SQFalse);
  sq_pushstring(v, "_intsize_", -1);
  sq_pushinteger(v, (SQInteger)sizeof(SQInteger));
  sq_newslot(v, -3, SQFalse);
  sq_pushstring(v, "_floatsize_", -1);
  sq_pushinteger(v, (SQInteger)sizeof(SQFloat));
  sq_newslot(v, -3, SQFalse);
  sq_pushstring(v, "_charsize_", -1);
  sq_pushinteger(v, (SQInteger)sizeof(SQChar));
  sq_newslot(v, -3, SQFalse);
  sq_pop(v, 1);
}
