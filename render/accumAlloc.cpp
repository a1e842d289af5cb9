// Accumulating allocator of render batches.
#include <cstdlib>
#include "lib/check.h"
#include "render/renderBatch.h"

static AccumAlloc::Chunk* new_chunk(size_t bytes) {
  uint8_t* p = (uint8_t*)malloc(sizeof(AccumAlloc::Chunk) + bytes);
  ASSERT(p);
  AccumAlloc::Chunk* c = (AccumAlloc::Chunk*)p;
  c->next = nullptr;
  c->free = p + sizeof(AccumAlloc::Chunk);
  c->end = c->free + bytes;
  return c;
}

AccumAlloc::AccumAlloc(int chunk_size) : chunkSize(chunk_size) { chunks = new_chunk((size_t)chunk_size); }

AccumAlloc::~AccumAlloc() {
  while (chunks) {
    Chunk* next = chunks->next;
    free(chunks);
    chunks = next;
  }
}

void* AccumAlloc::alloc(size_t n, int align_log2) {
  uintptr_t mask = ((uintptr_t)1 << align_log2) - 1;
  for (Chunk* c = chunks; c; c = c->next) {
    uint8_t* at = (uint8_t*)(((uintptr_t)c->free + mask) & ~mask);
    if (at <= c->end && (size_t)(c->end - at) >= n) {
      c->free = at + n;
      return at;
    }
  }
  size_t bytes = n + mask + 1 + 11;
  if (bytes < (size_t)chunkSize) bytes = (size_t)chunkSize;
  Chunk* c = new_chunk(bytes);
  c->next = chunks;
  chunks = c;
  uint8_t* at = (uint8_t*)(((uintptr_t)c->free + mask) & ~mask);
  c->free = at + n;
  return at;
}

void AccumAlloc::rewind() {
  for (Chunk* c = chunks; c; c = c->next) c->free = (uint8_t*)(c + 1);
}
