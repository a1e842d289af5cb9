#include "tools/dds_writer.h"
#include <cstdio>
#include <cstring>

int dds_level_bytes(DdsWriteFormat f, int w, int h) {
  int bw = (w + 3) / 4, bh = (h + 3) / 4;
  switch (f) {
    case DDSW_DXT1: return bw * bh * 8;
    case DDSW_DXT3:
    case DDSW_DXT5: return bw * bh * 16;
    case DDSW_L8: return w * h;
    default: return w * h * 4;
  }
}

std::vector<uint8_t> dds_header(DdsWriteFormat f, int w, int h, int levels) {
  uint32_t hd[31] = {};
  bool blocks = f == DDSW_DXT1 || f == DDSW_DXT3 || f == DDSW_DXT5;
  hd[0] = 124;
  hd[1] = 0x1007 | (blocks ? 0x80000 : 0x8) | (levels > 1 ? 0x20000 : 0);  // + LINEARSIZE or PITCH, MIPMAPCOUNT
  hd[2] = (uint32_t)h;
  hd[3] = (uint32_t)w;
  hd[4] = (uint32_t)(blocks ? dds_level_bytes(f, w, h) : (f == DDSW_L8 ? w : w * 4));
  hd[6] = (uint32_t)levels;
  hd[18] = 32;
  switch (f) {
    case DDSW_DXT1: hd[19] = 0x4, hd[20] = 0x31545844; break;
    case DDSW_DXT3: hd[19] = 0x4, hd[20] = 0x33545844; break;
    case DDSW_DXT5: hd[19] = 0x4, hd[20] = 0x35545844; break;
    case DDSW_A8R8G8B8: hd[19] = 0x41, hd[21] = 32, hd[25] = 0xFF000000; break;
    case DDSW_X8R8G8B8: hd[19] = 0x40, hd[21] = 32; break;
    case DDSW_L8: hd[19] = 0x20000, hd[21] = 8, hd[22] = 0xFF; break;
  }
  if (f == DDSW_A8R8G8B8 || f == DDSW_X8R8G8B8) hd[22] = 0x00FF0000, hd[23] = 0x0000FF00, hd[24] = 0x000000FF;
  hd[26] = 0x1000 | (levels > 1 ? 0x400008 : 0);  // TEXTURE, + MIPMAP and COMPLEX
  std::vector<uint8_t> out(128);
  memcpy(out.data(), "DDS ", 4);
  for (int i = 0; i < 31; i++)
    for (int b = 0; b < 4; b++) out[4 + i * 4 + b] = (uint8_t)(hd[i] >> (8 * b));
  return out;
}

std::vector<uint8_t> build_dds(DdsWriteFormat f, int w, int h, int levels, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out = dds_header(f, w, h, levels);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

bool write_dds_file(const char* path, const std::vector<uint8_t>& file) {
  FILE* fp = fopen(path, "wb");
  if (!fp) return false;
  bool ok = fwrite(file.data(), 1, file.size(), fp) == file.size();
  return fclose(fp) == 0 && ok;
}
