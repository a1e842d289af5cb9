// Bitmap text: the glyph table from font.tga, sizes, alignment and drawing
// read back from the back buffer, the log and error layers, and the splash.
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include "app/log.h"
#include "render/font.h"
#include "render/renderBatch.h"
#include "render/textures.h"
#include "tests/render/gl_fixture.h"

// A 32-bit TGA of w x h whose cells (w / 16 x h / 16) carry ink for 'A' in
// cell columns 2..5, for 'B' over the whole cell; everything else is empty.
static std::string font_tga(int w, int h) {
  std::string f(18, '\0');
  f[2] = 2;
  f[12] = (char)(w & 255), f[13] = (char)(w >> 8), f[14] = (char)(h & 255), f[15] = (char)(h >> 8);
  f[16] = 32;
  std::string px((size_t)w * h * 4, '\0');
  int cw = w / 16, ch = h / 16;
  for (int code : {'A', 'B'}) {
    int x0 = (code % 16) * cw, y0 = (15 - code / 16) * ch;  // stored rows are bottom-up
    for (int y = y0; y < y0 + ch; y++)
      for (int x = x0; x < x0 + cw; x++) {
        int cx = x - x0;
        if (code == 'A' && (cx < 2 || cx > 5)) continue;
        memset(&px[((size_t)y * w + x) * 4], 0xFF, 4);
      }
  }
  return f + px;
}

class Font : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string sh;
    ASSERT_TRUE(read_file(std::string(getenv("QV_SOURCE_DIR")) + "/data/shaders/font.sh", sh));
    mkdir(test_app_dir().file("shaders").c_str(), 0755);
    write_app_file("shaders/font.sh", sh);
    write_app_file("font.tga", font_tga(256, 128));
    init_font();
  }
  static void TearDownTestSuite() { close_font(); }
  void SetUp() override { text_style = TextStyle{}; }
};

TEST_F(Font, GlyphTableAndScale) {
  EXPECT_EQ(font_cell_wd, 16);
  EXPECT_EQ(font_cell_ht, 8);
  const FontGlyph& a = font_glyphs['A'];
  EXPECT_EQ(a.left, 16 + 2);  // 'A' is in column 1
  EXPECT_EQ(a.end, 16 + 6);
  EXPECT_EQ(a.bottom, (15 - 4) * 8);
  EXPECT_EQ(a.top, a.bottom + 8);
  EXPECT_EQ(font_glyphs[' '].end - font_glyphs[' '].left, 16 / 2 + 1);

  ASSERT_TRUE(resize_d3d(1280, 720, false, false));
  update_font_scale();
  EXPECT_EQ(text_style.scale, 3);  // 720 / (8 x 30)
  ASSERT_TRUE(resize_d3d(TEST_WD, TEST_HT, false, false));
  update_font_scale();
  EXPECT_EQ(text_style.scale, 1);  // never below 1
}

TEST_F(Font, TextSizes) {
  int w, h;
  text_style.scale = 2;
  text_style.charSpacing = 1;
  calc_text_size(" ", -1, w, h);
  EXPECT_EQ(w, 2 * (16 / 2 + 2) + 1);  // an empty cell advances scale x (cw / 2 + 2) + spacing
  calc_text_size("AB\nA", -1, w, h);
  EXPECT_EQ(w, (2 * 5 + 1) + (2 * 17 + 1));
  EXPECT_EQ(h, 2 * 2 * 8);
  text_style.lineSpacing = 3;
  int h2;
  calc_text_size("A", -1, w, h);
  calc_text_size("A\n", -1, w, h2);
  EXPECT_EQ(h2, h + 3);  // a closing line feed adds only the line spacing
  calc_text_size(nullptr, -1, w, h);
  EXPECT_EQ(w + h, 0);
  calc_text_size("AB", 1, w, h);
  EXPECT_EQ(w, 2 * 5 + 1);
}

TEST_F(Font, StyleStack) {
  text_style.scale = 4;
  push_text_style();
  text_style.scale = 1;
  pop_text_style();
  EXPECT_EQ(text_style.scale, 4);
  EXPECT_EXIT(pop_text_style(), testing::ExitedWithCode(100), "failed ASSERT\\(num>0\\)");
}

// Screen pixel x, y with y up from the bottom edge.
static uint32_t screen_pixel(int x, int y) { return target_pixel(x, TEST_HT - 1 - y); }

static void draw_on_grey(void (*body)()) {
  set_back_buffer_target();
  clear_view(D3dColor(0xFF808080));
  start_draw_text();
  body();
  end_draw_text();
}

TEST_F(Font, AlignmentAndShadow) {
  // "A" is 4 pixels of ink plus a 1-pixel shadow to the right and below.
  draw_on_grey([] { draw_text("A", -1, 100, 50, 1, -1, D3dColor(0xFFFFFFFF)); });
  // Right-aligned at 100: width 5, so the pen starts at 95; ink 95..98, shadow 99.
  EXPECT_EQ(screen_pixel(94, 52), 0xFF808080u);
  EXPECT_EQ(screen_pixel(95, 52), 0xFFFFFFFFu);
  EXPECT_EQ(screen_pixel(98, 52), 0xFFFFFFFFu);
  EXPECT_EQ(screen_pixel(99, 52), 0xFF404040u);  // black at half the alpha
  EXPECT_EQ(screen_pixel(100, 52), 0xFF808080u);
  EXPECT_EQ(screen_pixel(96, 50), 0xFFFFFFFFu);  // bottom-aligned: the first row is y
  EXPECT_EQ(screen_pixel(96, 49), 0xFF404040u);  // the shadow one row lower
  EXPECT_EQ(screen_pixel(96, 58), 0xFF808080u);  // 8 rows of ink

  // Centred both ways around (40, 40): ink 38..41 in x (width 5, pen at 38), rows 36..43.
  draw_on_grey([] { draw_text("A", -1, 40, 40, 0, 0, D3dColor(0xFFFFFFFF)); });
  EXPECT_EQ(screen_pixel(38, 36), 0xFFFFFFFFu);
  EXPECT_EQ(screen_pixel(41, 43), 0xFFFFFFFFu);
  EXPECT_EQ(screen_pixel(38, 44), 0xFF808080u);
  EXPECT_EQ(screen_pixel(37, 40), 0xFF808080u);
}

TEST_F(Font, RectsBoxesAndBatches) {
  draw_on_grey([] {
    draw_rect(10, 10, 20, 15, D3dColor(0xFFFF0000));
    draw_box(30, 10, 40, 20, D3dColor(0xFF00FF00));
  });
  EXPECT_EQ(screen_pixel(10, 10), 0xFFFF0000u);
  EXPECT_EQ(screen_pixel(19, 14), 0xFFFF0000u);
  EXPECT_EQ(screen_pixel(20, 14), 0xFF808080u);
  EXPECT_EQ(screen_pixel(30, 15), 0xFF00FF00u);  // left column
  EXPECT_EQ(screen_pixel(40, 15), 0xFF00FF00u);  // right column
  EXPECT_EQ(screen_pixel(40, 10), 0xFF00FF00u);  // bottom row reaches x1
  EXPECT_EQ(screen_pixel(35, 20), 0xFF00FF00u);  // top row
  EXPECT_EQ(screen_pixel(35, 15), 0xFF808080u);  // inside stays

  set_back_buffer_target();
  clear_view(D3dColor(0xFF808080));
  RenderBatch batch;
  batch_rect(batch, 10, 10, 20, 15, D3dColor(0xFF0000FF));
  batch_text(batch, "A", -1, 50, 50, -1, -1, D3dColor(0xFFFFFFFF));
  batch_text(batch, "  ", -1, 50, 50, -1, -1, D3dColor(0xFFFFFFFF));  // nothing to draw: no entry
  ASSERT_EQ(batch.groups.count(), 1);
  int entries = 0;
  for (RenderBatch::Entry* e = batch.groups[0].first; e; e = e->next) entries++;
  EXPECT_EQ(entries, 2);
  batch.render();
  EXPECT_EQ(screen_pixel(15, 12), 0xFF0000FFu);
  EXPECT_EQ(screen_pixel(51, 52), 0xFFFFFFFFu);
}

TEST_F(Font, ErrorMessageBandAndVisualLog) {
  set_error_message("Broken");
  clear_visual_log();
  visual_log("line one");
  draw_on_grey([] {
    draw_error_message();
    draw_visual_log();
  });
  // The band covers the top 12 cell heights: 0xCC660000 over grey.
  uint32_t band = screen_pixel(2, TEST_HT - 2);
  EXPECT_NEAR((double)((band >> 16) & 255), 0.8 * 0x66 + 0.2 * 0x80, 1.5);
  EXPECT_NEAR((double)(band & 255), 0.2 * 0x80, 1.5);
  EXPECT_EQ(screen_pixel(2, TEST_HT - 12 * 8 - 1), 0xFF808080u);
  // Yellow text lies in the band; "Broken" has no 'A' or 'B' glyph ink here,
  // so use one that has.
  set_error_message("AB");
  draw_on_grey([] { draw_error_message(); });
  int yellow = 0;
  for (int x = 0; x < TEST_WD; x++)
    for (int y = TEST_HT - 12 * 8; y < TEST_HT; y++) yellow += screen_pixel(x, y) == 0xFFFFEE00u;
  EXPECT_GT(yellow, 100);
  set_error_message(nullptr);
  clear_visual_log();
}

static int count_color(const uint32_t* p, int n, uint32_t c) {
  int k = 0;
  for (int i = 0; i < n; i++) k += p[i] == c;
  return k;
}

TEST_F(Font, SplashFrames) {
  struct Case {
    float progress;
    bool bar, fill;
  } cases[] = {{-1, false, false}, {0, true, false}, {0.5f, true, true}};
  for (const Case& c : cases) {
    show_splash("ABBA", c.progress);
    int w, h, pitch;
    uint32_t* p = (uint32_t*)grab_front_buffer(w, h, pitch);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], 0xFF000A28u);
    EXPECT_GT(count_color(p, w * h, 0xFFFFFFFFu), 50);  // the text
    EXPECT_EQ(count_color(p, w * h, 0xFF000000u) > 0, c.bar) << c.progress;
    EXPECT_EQ(count_color(p, w * h, 0xFF32960Au) > 0, c.fill) << c.progress;
    release_front_buffer();
  }
  EXPECT_STREQ(splash_text, "ABBA");
  std::string longText(300, 'x');
  show_splash(longText.c_str(), -1);
  EXPECT_EQ(strlen(splash_text), 255u);
}

TEST(FontFile, BadFontFilesAreFatal) {
  EXPECT_EXIT(init_font(), testing::ExitedWithCode(100), "can't load font.tga");
  write_app_file("font.tga", font_tga(250, 128));
  EXPECT_EXIT(init_font(), testing::ExitedWithCode(100), "expected 16x16 font grid in font.tga, got 250x128 image");
  remove(test_app_dir().file("font.tga").c_str());
}
