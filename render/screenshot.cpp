// Saving the presented frame as a PNG.
#include <cstring>
#include "lib/check.h"
#include "platform/paths.h"
#include "render/d3d_render.h"
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

static void append_bytes(void* context, void* data, int size) {
  ((DynArray<uint8_t>*)context)->append((const uint8_t*)data, size);
}

bool save_screenshot_png(const char* path) {
  int w = 0, h = 0, pitch = 0;
  const uint8_t* bgra = (const uint8_t*)grab_front_buffer(w, h, pitch);
  if (!bgra) {
    debug("can't save screenshot '%s': no frame to grab", path);
    return false;
  }
  DynArray<uint8_t> rgba;
  rgba.resize(w * h * 4);
  for (int y = 0; y < h; y++) {
    const uint8_t* s = bgra + (size_t)y * pitch;
    uint8_t* d = rgba.data() + (size_t)y * w * 4;
    for (int x = 0; x < w; x++, s += 4, d += 4) d[0] = s[2], d[1] = s[1], d[2] = s[0], d[3] = 255;
  }
  release_front_buffer();
  DynArray<uint8_t> png;
  if (!stbi_write_png_to_func(append_bytes, &png, w, h, 4, rgba.data(), w * 4) ||
      !write_file_replacing(path, png.data(), (size_t)png.count())) {
    debug("can't save screenshot '%s'", path);
    return false;
  }
  debug("saved screenshot '%s' (%dx%d)", path, w, h);
  return true;
}
