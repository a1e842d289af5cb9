// Builds font.tga, the bitmap font of the developer text: a 16 x 16 grid of
// 16 x 16 cells (character n in column n % 16, row n / 16 from the top), white
// glyphs whose alpha is the coverage of a TrueType font rendered with
// stb_truetype. Stored bottom-up, 32 bits per pixel, uncompressed.
//   make_font_tga <font.ttf> <out.tga>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#define STB_TRUETYPE_IMPLEMENTATION
#include <stb/stb_truetype.h>

constexpr int CELL = 16, SIZE = CELL * 16;
constexpr float PIXEL_HEIGHT = 14.0f;

static bool read_all(const char* path, std::vector<unsigned char>& out) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  fseek(f, 0, SEEK_END);
  long n = ftell(f);
  fseek(f, 0, SEEK_SET);
  out.resize(n > 0 ? (size_t)n : 0);
  bool ok = n > 0 && fread(out.data(), 1, out.size(), f) == out.size();
  fclose(f);
  return ok;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: make_font_tga <font.ttf> <out.tga>\n");
    return 2;
  }
  std::vector<unsigned char> ttf;
  stbtt_fontinfo font;
  if (!read_all(argv[1], ttf) || !stbtt_InitFont(&font, ttf.data(), stbtt_GetFontOffsetForIndex(ttf.data(), 0))) {
    fprintf(stderr, "make_font_tga: can't read font '%s'\n", argv[1]);
    return 1;
  }
  float scale = stbtt_ScaleForPixelHeight(&font, PIXEL_HEIGHT);
  int ascent, descent, gap;
  stbtt_GetFontVMetrics(&font, &ascent, &descent, &gap);
  int baseline = (int)lroundf(ascent * scale) + (CELL - (int)lroundf((ascent - descent) * scale)) / 2;

  // Picture rows from the top; alpha only, colour white.
  std::vector<unsigned char> alpha(SIZE * SIZE, 0);
  for (int code = 33; code < 256; code++) {
    if (code >= 127 && code < 161) continue;  // control codes and the no-break space stay empty
    int glyph = stbtt_FindGlyphIndex(&font, code);  // Latin-1 codes are their own code points
    if (!glyph) continue;
    int x0, y0, x1, y1;
    stbtt_GetGlyphBitmapBox(&font, glyph, scale, scale, &x0, &y0, &x1, &y1);
    int w = x1 - x0, h = y1 - y0;
    if (w <= 0 || h <= 0) continue;
    std::vector<unsigned char> bmp((size_t)w * h);
    stbtt_MakeGlyphBitmap(&font, bmp.data(), w, h, w, scale, scale, glyph);
    int cx = (code % 16) * CELL, cy = (code / 16) * CELL;
    int left = (CELL - w) / 2;  // centred: the reader measures each glyph's ink anyway
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) {
        int px = left + x, py = baseline + y0 + y;
        if (px < 0 || px >= CELL || py < 0 || py >= CELL) continue;
        alpha[(size_t)(cy + py) * SIZE + cx + px] = bmp[(size_t)y * w + x];
      }
  }

  unsigned char head[18] = {};
  head[2] = 2;  // uncompressed true colour
  head[12] = SIZE & 255, head[13] = SIZE >> 8;
  head[14] = SIZE & 255, head[15] = SIZE >> 8;
  head[16] = 32;
  head[17] = 8;  // 8 alpha bits, origin at the bottom left
  std::vector<unsigned char> pixels((size_t)SIZE * SIZE * 4);
  for (int row = 0; row < SIZE; row++) {  // stored rows: the picture's bottom first
    const unsigned char* a = &alpha[(size_t)(SIZE - 1 - row) * SIZE];
    unsigned char* p = &pixels[(size_t)row * SIZE * 4];
    for (int x = 0; x < SIZE; x++, p += 4) p[0] = p[1] = p[2] = 255, p[3] = a[x];
  }
  std::string tmp = std::string(argv[2]) + ".tmp";
  FILE* f = fopen(tmp.c_str(), "wb");
  bool ok = f && fwrite(head, 1, 18, f) == 18 && fwrite(pixels.data(), 1, pixels.size(), f) == pixels.size();
  if (f && fclose(f) != 0) ok = false;
  if (!ok || rename(tmp.c_str(), argv[2]) != 0) {
    fprintf(stderr, "make_font_tga: can't write '%s'\n", argv[2]);
    remove(tmp.c_str());
    return 1;
  }
  return 0;
}
