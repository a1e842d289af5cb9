#include "render/file_data.h"
#include <cstdio>
#include <sys/stat.h>

bool read_whole_file(const char* path, DynArray<uint8_t>& out, int64_t max_bytes) {
  out.clear();
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  struct stat st;
  bool ok = fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= max_bytes;
  if (ok) {
    out.resize((int)st.st_size);
    ok = out.count() == 0 || fread(out.data(), 1, (size_t)out.count(), f) == (size_t)out.count();
    // A file that grew while being read is taken at the size it had.
  }
  fclose(f);
  if (!ok) out.clear();
  return ok;
}
