// Text values: TempString<N>, a fixed-capacity buffer held by value (paths,
// short texts), and String, a heap text (32-bit length, characters, zero).
#pragma once
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include "lib/check.h"
#include "lib/heap.h"

template <int BS>
struct TempString {
  char str[BS];

  TempString() { str[0] = 0; }
  TempString(const char* s) { set(s); }
  TempString(const char* s, int len) { set(s, len); }

  const char* c_str() const { return str; }
  operator const char*() const { return str; }
  int length() const { return (int)strlen(str); }
  bool empty() const { return str[0] == 0; }
  static constexpr int capacity() { return BS; }

  TempString& set(const char* s) { return set(s, s ? (int)strlen(s) : 0); }
  TempString& set(const char* s, int len) {
    int l = len;
    ASSERT(l<BS);
    if (l > 0) memmove(str, s, l);
    str[l] = 0;
    return *this;
  }
  TempString& append(const char* s) { return append(s, s ? (int)strlen(s) : 0); }
  TempString& append(const char* s, int len) {
    int have = length();
    int l = have + len;
    ASSERT(l<BS);
    if (len > 0) memmove(str + have, s, len);
    str[l] = 0;
    return *this;
  }
  TempString& operator=(const char* s) { return set(s); }
  TempString& operator+=(const char* s) { return append(s); }

  // Replaces the text with the formatted one; overflow is an internal check.
  TempString& printf(const char* fmt, ...) QV_PRINTF(2, 3) {
    va_list a;
    va_start(a, fmt);
    vprintf(fmt, a);
    va_end(a);
    return *this;
  }
  TempString& vprintf(const char* fmt, va_list a) {
    int l = vsnprintf(str, BS, fmt, a);
    ASSERT(l<BS);
    return *this;
  }
  // Appends formatted text.
  TempString& aprintf(const char* fmt, ...) QV_PRINTF(2, 3) {
    int have = length();
    va_list a;
    va_start(a, fmt);
    int l = have + vsnprintf(str + have, BS - have, fmt, a);
    va_end(a);
    ASSERT(l<BS);
    return *this;
  }
};

// Heap text. The block holds a 32-bit length, the characters and a zero;
// a null block is the empty text.
class String {
 public:
  String() = default;
  String(const char* s) { assign(s, s ? (int)strlen(s) : 0); }
  String(const char* s, int len) { assign(s, len); }
  String(const String& o) { assign(o.c_str(), o.length()); }
  String(String&& o) noexcept : block(o.block) { o.block = nullptr; }
  String& operator=(const String& o) {
    if (this != &o) assign(o.c_str(), o.length());
    return *this;
  }
  String& operator=(String&& o) noexcept {
    if (this != &o) {
      dlfree(block);
      block = o.block;
      o.block = nullptr;
    }
    return *this;
  }
  String& operator=(const char* s) { return assign(s, s ? (int)strlen(s) : 0); }
  ~String() { dlfree(block); }

  const char* c_str() const { return block ? (const char*)(block + 1) : ""; }
  operator const char*() const { return c_str(); }
  int length() const { return block ? (int)*block : 0; }
  bool empty() const { return length() == 0; }

  bool operator==(const String& o) const { return equals(o.c_str(), o.length()); }
  bool operator==(const char* s) const { return equals(s, s ? (int)strlen(s) : 0); }

  String& assign(const char* s, int len) {
    uint32_t* b = nullptr;
    if (len > 0) {
      b = (uint32_t*)dlmalloc(sizeof(uint32_t) + (size_t)len + 1);
      if (!b) fatal("out of memory (string of %d bytes)", len);
      *b = (uint32_t)len;
      memcpy(b + 1, s, len);
      ((char*)(b + 1))[len] = 0;
    }
    dlfree(block);
    block = b;
    return *this;
  }

 private:
  bool equals(const char* s, int len) const {
    return length() == len && memcmp(c_str(), s, len) == 0;
  }
  uint32_t* block = nullptr;
};
