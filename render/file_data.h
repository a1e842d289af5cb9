// Whole-file reading for the renderer's loaders (shader sources and caches,
// DDS textures): the file's real size bounds every later read.
#pragma once
#include <cstdint>
#include "lib/dynArray.h"

// Reads the whole file into out (replacing its contents); false when the file
// cannot be opened or read, or is larger than max_bytes.
bool read_whole_file(const char* path, DynArray<uint8_t>& out, int64_t max_bytes = 512 << 20);
