// The string standard library: format, strip, lstrip, rstrip, split and the
// regexp class. Strings are handled with their lengths, so zeros inside them
// are kept.
#include "sqstdstring.h"

#include <cstdio>
#include <cstring>
#include <string>

// sqstdrex.cpp
bool sqstd_rex_last_aborted(const SQRex* r);
bool sqstd_rex_matchrange(SQRex* r, const SQChar* text_begin, const SQChar* text_end);

namespace {

constexpr int kMaxFormatDigits = 3; // digits of a width or a precision

bool is_space(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Appends the len bytes at s as printf's %s would with the given width,
// precision and '-' flag, but without stopping at zeros.
void append_padded_string(std::string& out, const char* s, size_t len, int width, int precision,
                          bool left) {
  if (precision >= 0 && (size_t)precision < len) len = (size_t)precision;
  size_t pad = width > 0 && (size_t)width > len ? (size_t)width - len : 0;
  if (!left) out.append(pad, ' ');
  out.append(s, len);
  if (left) out.append(pad, ' ');
}

// Reads up to kMaxFormatDigits digits at fmt[i]; -1 when there are more.
int read_format_number(const SQChar* fmt, SQInteger len, SQInteger& i) {
  int value = 0, digits = 0;
  while (i < len && fmt[i] >= '0' && fmt[i] <= '9') {
    if (++digits > kMaxFormatDigits) return -1;
    value = value * 10 + (fmt[i++] - '0');
  }
  return value;
}

SQInteger string_format(HSQUIRRELVM v) {
  SQChar* out;
  SQInteger len;
  if (SQ_FAILED(sqstd_format(v, 2, &len, &out))) return SQ_ERROR;
  sq_pushstring(v, out, len);
  return 1;
}

// strip, lstrip and rstrip: which ends lose their white space.
template <bool kLeft, bool kRight>
SQInteger string_strip(HSQUIRRELVM v) {
  const SQChar* s;
  sq_getstring(v, 2, &s);
  SQInteger begin = 0, end = sq_getsize(v, 2);
  if (kLeft)
    while (begin < end && is_space((unsigned char)s[begin])) begin++;
  if (kRight)
    while (end > begin && is_space((unsigned char)s[end - 1])) end--;
  sq_pushstring(v, s + begin, end - begin);
  return 1;
}

// split(str, separators): the pieces between separator characters; empty
// pieces are left out.
SQInteger string_split(HSQUIRRELVM v) {
  const SQChar *s, *seps;
  sq_getstring(v, 2, &s);
  sq_getstring(v, 3, &seps);
  SQInteger len = sq_getsize(v, 2), nseps = sq_getsize(v, 3);
  bool is_sep[256] = {};
  for (SQInteger i = 0; i < nseps; i++) is_sep[(unsigned char)seps[i]] = true;
  sq_newarray(v, 0);
  SQInteger start = 0;
  for (SQInteger i = 0; i <= len; i++) {
    if (i < len && !is_sep[(unsigned char)s[i]]) continue;
    if (i > start) {
      sq_pushstring(v, s + start, i - start);
      sq_arrayappend(v, -2);
    }
    start = i + 1;
  }
  return 1;
}

// ---- regexp -------------------------------------------------------------------

// Its address tags the regexp class, so that methods find their own instances.
const int kRegexpTypeTag = 0;

SQInteger regexp_release(SQUserPointer p, SQInteger) {
  sqstd_rex_free((SQRex*)p);
  return 1;
}

// The compiled expression of `this`; false when `this` is no regexp. It is
// null in an instance whose constructor has not run.
bool this_regexp(HSQUIRRELVM v, SQRex*& rex) {
  SQUserPointer p = nullptr;
  if (SQ_FAILED(sq_getinstanceup(v, 1, &p, (SQUserPointer)&kRegexpTypeTag))) return false;
  rex = (SQRex*)p;
  return true;
}

// The compiled expression of `this`, or null with a script error raised.
SQRex* constructed_regexp(HSQUIRRELVM v) {
  SQRex* rex = nullptr;
  if (!this_regexp(v, rex)) sq_throwerror(v, "regexp expected");
  else if (!rex) sq_throwerror(v, "the regexp has not been constructed");
  return rex;
}

SQInteger regexp_constructor(HSQUIRRELVM v) {
  const SQChar* pattern;
  sq_getstring(v, 2, &pattern);
  if ((size_t)sq_getsize(v, 2) != strlen(pattern))
    return sq_throwerror(v, "the expression contains a zero character");
  SQRex* old = nullptr;
  if (!this_regexp(v, old)) return sq_throwerror(v, "regexp expected");
  const SQChar* error = nullptr;
  SQRex* rex = sqstd_rex_compile(pattern, &error);
  if (!rex) return sq_throwerror(v, error ? error : "invalid expression");
  sq_setinstanceup(v, 1, rex);
  sqstd_rex_free(old);
  sq_setreleasehook(v, 1, regexp_release);
  return 0;
}

// The regexp, the text and the starting position of a search or capture;
// false with a script error raised when one of them is wrong.
bool search_args(HSQUIRRELVM v, SQRex*& rex, const SQChar*& text, SQInteger& len, SQInteger& start) {
  rex = constructed_regexp(v);
  if (!rex) return false;
  sq_getstring(v, 2, &text);
  len = sq_getsize(v, 2);
  start = 0;
  if (sq_gettop(v) > 2) sq_getinteger(v, 3, &start);
  if (start < 0 || start > len) {
    sq_throwerror(v, "invalid starting position");
    return false;
  }
  return true;
}

// Runs the search; false with a script error raised when it gave up.
bool run_search(HSQUIRRELVM v, SQRex* rex, const SQChar* text, SQInteger len, SQInteger start,
                bool& found) {
  found = sqstd_rex_searchrange(rex, text + start, text + len, nullptr, nullptr);
  if (!found && sqstd_rex_last_aborted(rex)) {
    sq_throwerror(v, "the expression is too complex for this text");
    return false;
  }
  return true;
}

// Pushes {begin = b, end = e}.
void push_range(HSQUIRRELVM v, SQInteger b, SQInteger e) {
  sq_newtable(v);
  sq_pushstring(v, "begin", -1);
  sq_pushinteger(v, b);
  sq_newslot(v, -3, SQFalse);
  sq_pushstring(v, "end", -1);
  sq_pushinteger(v, e);
  sq_newslot(v, -3, SQFalse);
}

// Pushes sub-expression n of the last match as a range of the whole text;
// a group that took no part gives begin = end = -1.
void push_subexp(HSQUIRRELVM v, SQRex* rex, SQInteger n, const SQChar* text) {
  SQRexMatch m;
  sqstd_rex_getsubexp(rex, n, &m);
  if (!m.begin) push_range(v, -1, -1);
  else push_range(v, m.begin - text, m.begin - text + m.len);
}

// match(str): whether the expression matches the whole of str.
SQInteger regexp_match(HSQUIRRELVM v) {
  SQRex* rex = constructed_regexp(v);
  if (!rex) return SQ_ERROR;
  const SQChar* text;
  sq_getstring(v, 2, &text);
  bool matched = sqstd_rex_matchrange(rex, text, text + sq_getsize(v, 2));
  if (!matched && sqstd_rex_last_aborted(rex)) return sq_throwerror(v, "the expression is too complex for this text");
  sq_pushbool(v, matched ? SQTrue : SQFalse);
  return 1;
}

SQInteger regexp_search(HSQUIRRELVM v) {
  SQRex* rex;
  const SQChar* text;
  SQInteger len, start;
  bool found;
  if (!search_args(v, rex, text, len, start) || !run_search(v, rex, text, len, start, found))
    return SQ_ERROR;
  if (!found) return 0;
  push_subexp(v, rex, 0, text);
  return 1;
}

SQInteger regexp_capture(HSQUIRRELVM v) {
  SQRex* rex;
  const SQChar* text;
  SQInteger len, start;
  bool found;
  if (!search_args(v, rex, text, len, start) || !run_search(v, rex, text, len, start, found))
    return SQ_ERROR;
  if (!found) return 0;
  SQInteger n = sqstd_rex_getsubexpcount(rex);
  sq_newarray(v, 0);
  for (SQInteger i = 0; i < n; i++) {
    push_subexp(v, rex, i, text);
    sq_arrayappend(v, -2);
  }
  return 1;
}

SQInteger regexp_subexpcount(HSQUIRRELVM v) {
  SQRex* rex = constructed_regexp(v);
  if (!rex) return SQ_ERROR;
  sq_pushinteger(v, sqstd_rex_getsubexpcount(rex));
  return 1;
}

SQInteger regexp_typeof(HSQUIRRELVM v) {
  sq_pushstring(v, "regexp", -1);
  return 1;
}

const SQRegFunction kRegexpMethods[] = {
    {"constructor", regexp_constructor, 2, "xs"},
    {"match", regexp_match, 2, "xs"},
    {"search", regexp_search, -2, "xsi"},
    {"capture", regexp_capture, -2, "xsi"},
    {"subexpcount", regexp_subexpcount, 1, "x"},
    {"_typeof", regexp_typeof, 1, "x"},
};

const SQRegFunction kStringFunctions[] = {
    {"format", string_format, -2, ".s"},
    {"strip", string_strip<true, true>, 2, ".s"},
    {"lstrip", string_strip<true, false>, 2, ".s"},
    {"rstrip", string_strip<false, true>, 2, ".s"},
    {"split", string_split, 3, ".ss"},
};

SQRESULT register_functions(HSQUIRRELVM v, const SQRegFunction* fs, size_t n) {
  for (size_t i = 0; i < n; i++) {
    sq_pushstring(v, fs[i].name, -1);
    sq_newclosure(v, fs[i].f, 0);
    sq_setparamscheck(v, fs[i].nparamscheck, fs[i].typemask);
    sq_setnativeclosurename(v, -1, fs[i].name);
    if (SQ_FAILED(sq_newslot(v, -3, SQFalse))) return SQ_ERROR;
  }
  return SQ_OK;
}

} // namespace

SQRESULT sqstd_format(HSQUIRRELVM v, SQInteger nformatstringidx, SQInteger* outlen, SQChar** output) {
  const SQChar* fmt;
  if (SQ_FAILED(sq_getstring(v, nformatstringidx, &fmt))) return sq_throwerror(v, "format string expected");
  const SQInteger len = sq_getsize(v, nformatstringidx);
  const SQInteger top = sq_gettop(v);
  SQInteger param = nformatstringidx + 1;
  std::string out;
  char piece[2 * 1000 + 400]; // the widest conversion: 999 wide, 999 digits after the point
  for (SQInteger i = 0; i < len;) {
    if (fmt[i] != '%') {
      out += fmt[i++];
      continue;
    }
    if (i + 1 < len && fmt[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    // %[flags][width][.precision]conversion
    SQInteger spec_begin = i++;
    bool left = false;
    while (i < len && strchr("-+ #0", fmt[i]) && fmt[i]) left |= fmt[i++] == '-';
    int width = read_format_number(fmt, len, i);
    if (width < 0) return sq_throwerror(v, "width format too long");
    int precision = -1;
    if (i < len && fmt[i] == '.') {
      i++;
      precision = read_format_number(fmt, len, i);
      if (precision < 0) return sq_throwerror(v, "precision format too long");
    }
    if (i >= len) return sq_throwerror(v, "invalid format");
    char conv = fmt[i++];
    if (!strchr("dicouxXeEfFgGs", conv) || !conv) return sq_throwerror(v, "invalid format");
    if (param > top) return sq_throwerror(v, "not enough paramters for the given format string");
    // The spec as written, less the conversion, for snprintf.
    std::string spec(fmt + spec_begin, (size_t)(i - 1 - spec_begin));
    int n = 0;
    if (conv == 's') {
      const SQChar* s;
      if (SQ_FAILED(sq_getstring(v, param, &s))) return sq_throwerror(v, "string expected for the specified format");
      append_padded_string(out, s, (size_t)sq_getsize(v, param), width, precision, left);
    } else if (strchr("dicouxX", conv)) {
      SQInteger value;
      if (SQ_FAILED(sq_getinteger(v, param, &value)))
        return sq_throwerror(v, "integer expected for the specified format");
      if (conv == 'c') {
        n = snprintf(piece, sizeof piece, (spec + 'c').c_str(), (int)(unsigned char)value);
      } else if (conv == 'd' || conv == 'i') {
        n = snprintf(piece, sizeof piece, (spec + "ll" + conv).c_str(), (long long)value);
      } else {
        // Unsigned conversions see the 32-bit pattern: -1 prints as ffffffff.
        n = snprintf(piece, sizeof piece, (spec + "ll" + conv).c_str(),
                     (unsigned long long)(SQUnsignedInteger)value);
      }
    } else {
      SQFloat value;
      if (SQ_FAILED(sq_getfloat(v, param, &value))) return sq_throwerror(v, "float expected for the specified format");
      n = snprintf(piece, sizeof piece, (spec + conv).c_str(), (double)value);
    }
    if (n < 0 || (size_t)n >= sizeof piece) return sq_throwerror(v, "invalid format");
    out.append(piece, (size_t)n);
    param++;
  }
  SQChar* dest = sq_getscratchpad(v, (SQInteger)out.size() + 1);
  if (!dest) return sq_throwerror(v, "out of memory");
  memcpy(dest, out.data(), out.size());
  dest[out.size()] = 0;
  *outlen = (SQInteger)out.size();
  *output = dest;
  return SQ_OK;
}

SQRESULT sqstd_register_stringlib(HSQUIRRELVM v) {
  if (SQ_FAILED(register_functions(v, kStringFunctions, sizeof kStringFunctions / sizeof kStringFunctions[0])))
    return SQ_ERROR;
  sq_pushstring(v, "regexp", -1);
  if (SQ_FAILED(sq_newclass(v, SQFalse))) return SQ_ERROR;
  sq_settypetag(v, -1, (SQUserPointer)&kRegexpTypeTag);
  if (SQ_FAILED(register_functions(v, kRegexpMethods, sizeof kRegexpMethods / sizeof kRegexpMethods[0])))
    return SQ_ERROR;
  return sq_newslot(v, -3, SQFalse);
}
