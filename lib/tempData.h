// Scratch memory for the length of one operation (a temporary grid, a file
// block): taken from the shared heap, 16-byte aligned, released when the
// holder goes out of scope. Failing to get it stops the program.
#pragma once
#include <cstddef>
#include <cstring>
#include "lib/check.h"
#include "lib/heap.h"

struct TempData {
  void* data;

  explicit TempData(size_t bytes, bool zeroed = false) {
    data = dlmalloc(bytes);
    ASSERT(data);
    if (zeroed) memset(data, 0, bytes);
  }
  ~TempData() { dlfree(data); }
  TempData(const TempData&) = delete;
  TempData& operator=(const TempData&) = delete;

  float* floats() { return (float*)data; }
  unsigned char* bytes() { return (unsigned char*)data; }
};
