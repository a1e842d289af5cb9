// The shared heap. The host and the game-object module allocate from and free
// into this one heap, so memory handed across the module boundary (arrays,
// game objects) can be freed by either side and outlives a module swap.
// On Linux one process heap already serves every loaded library, so these are
// exact wrappers over it; they are exported by name for the module.
#pragma once
#include <cstddef>

extern "C" {
void* dlmalloc(size_t bytes);
void dlfree(void* p);
void* dlrealloc(void* p, size_t bytes);
}

// Allocator policy of DynArray: memory from the shared heap.
struct DefaultAllocator {
  static void* alloc(size_t bytes) { return dlmalloc(bytes); }
  static void* realloc(void* p, size_t bytes) { return dlrealloc(p, bytes); }
  static void free(void* p) { dlfree(p); }
};
