// Bitmap text and the splash screen.
#include "render/font.h"
#include <cmath>
#include <cstring>
#include "app/log.h"
#include "lib/check.h"
#include "render/d3d_render.h"
#include "render/d3d_shaders.h"
#include "render/renderBatch.h"
#include "render/textures.h"

FontGlyph font_glyphs[256];
int font_cell_wd = 0, font_cell_ht = 0;
int font_tex_wd = 0, font_tex_ht = 0;
Texture* font_texture = nullptr;
TextStyle text_style;
static DynArray<TextStyle> style_stack;
static Shader* font_shader = nullptr;
static VertexDecl* font_vdecl = nullptr;

TempString<256> splash_text("Please wait...");
float splash_progress = -1.0f;

// 12-byte vertex: position in screen pixels (y up), colour, texel coordinates.
struct FontVertex {
  int16_t x, y;
  uint32_t color;
  int16_t u, v;
};
static_assert(sizeof(FontVertex) == 12, "font vertices are 12 bytes");
constexpr int QUAD_BYTES = 6 * sizeof(FontVertex);

// ---------------------------------------------------------------- render states

static void set_text_states() {
  set_texture_filter(0, false);
  float c[8] = {2.0f / d3d_wd, 2.0f / d3d_ht, -1.0f - 0.5f / d3d_wd, 0.5f / d3d_ht - 1.0f,
                1.0f / (font_tex_wd ? font_tex_wd : 1), 1.0f / (font_tex_ht ? font_tex_ht : 1), 0, 0};
  set_vs_consts(16, c, 2);
  set_cull_mode(0);
  set_zenable(false);
  set_zwrite(false);
  set_blend_alpha();
  set_atest(1);
}

static void restore_states() {
  set_cull_mode(1);
  set_zenable(true);
  set_zwrite(true);
  set_blend_none();
  set_atest(0);
  set_texture_filter(0, true);
}

class FontBatchState : public StdRenderBatchState {
 public:
  void begin(BaseRenderBatchState* prev) override {
    set_text_states();
    StdRenderBatchState::begin(prev);
  }
  void end() override {
    StdRenderBatchState::end();
    restore_states();
  }
};
static FontBatchState font_batch_state;

StdRenderBatchState* get_font_batch_state() { return &font_batch_state; }

// ---------------------------------------------------------------- font set-up

bool build_font_glyphs(int width, int height, const uint32_t* pixels) {
  if (width < 16 || height < 16 || width % 16 || height % 16) return false;
  int cw = width / 16, ch = height / 16;
  for (int n = 0; n < 256; n++) {
    int x0 = cw * (n % 16), y0 = (15 - n / 16) * ch;
    auto column_has_ink = [&](int x) {
      for (int y = y0; y < y0 + ch; y++)
        if (pixels[(size_t)y * width + x] >> 24) return true;
      return false;
    };
    int left = -1, right = -1;
    for (int x = x0; x < x0 + cw && left < 0; x++)
      if (column_has_ink(x)) left = x;
    for (int x = x0 + cw - 1; x >= x0 && right < 0; x--)
      if (column_has_ink(x)) right = x;
    FontGlyph& g = font_glyphs[n];
    g.bottom = y0;
    g.top = y0 + ch;
    if (left < 0) {
      g.left = x0;
      g.end = x0 + cw / 2 + 1;  // an empty cell (the space) is about half a cell wide
    } else {
      g.left = left;
      g.end = right + 1;
    }
  }
  font_cell_wd = cw;
  font_cell_ht = ch;
  font_tex_wd = width;
  font_tex_ht = height;
  return true;
}

void update_font_scale() {
  int s = font_cell_ht > 0 ? d3d_ht / (font_cell_ht * 30) : 1;
  text_style.scale = s < 1 ? 1 : s;
  debug("font scale: %d", text_style.scale);
}

void init_font() {
  int w = 0, h = 0;
  DynArray<uint32_t> pixels;
  if (!load_tga("font.tga", w, h, pixels)) fatal("can't load font.tga");
  if (!build_font_glyphs(w, h, pixels.data()))
    fatal("expected 16x16 font grid in font.tga, got %dx%d image", w, h);
  update_font_scale();
  font_texture = create_managed_texture(w, h);
  if (!font_texture) fatal("can't create font texture");
  int pitch = 0;
  uint8_t* ptr = (uint8_t*)lock_texture(font_texture, pitch, false);
  ASSERT(ptr);
  for (int y = 0; y < h; y++) memcpy(ptr + (size_t)y * pitch, pixels.data() + (size_t)y * w, (size_t)w * 4);
  unlock_texture(font_texture);
  static const vsd desc[] = {VSD_ELEM(0, 0, VSDT_SHORT2, VSDU_POSITION, 0),
                             VSD_ELEM(4, 0, VSDT_D3DCOLOR, VSDU_COLOR, 0),
                             VSD_ELEM(8, 0, VSDT_SHORT2, VSDU_TEXCOORD, 0), VSD_END};
  font_vdecl = get_vdecl(desc);
  font_shader = create_shader("shaders/font.sh");
  font_batch_state.shader = font_shader;
  font_batch_state.vdecl = font_vdecl;
  font_batch_state.stride = sizeof(FontVertex);
  font_batch_state.texture = font_texture;
}

void close_font() {
  font_batch_state.reset();
  destroy_shader(font_shader);
  font_shader = nullptr;
  release_texture(font_texture);
  font_texture = nullptr;
  font_vdecl = nullptr;
}

void push_text_style() { style_stack.push_back(text_style); }

void pop_text_style() {
  TextStyle top = style_stack.empty() ? text_style : style_stack.back();
  style_stack.pop_back();  // an empty stack fails the array's own check
  text_style = top;
}

// ---------------------------------------------------------------- layout

static int glyph_advance(uint8_t c) {
  const FontGlyph& g = font_glyphs[c];
  return text_style.scale * (g.end - g.left + 1) + text_style.charSpacing;
}

void calc_text_size(const char* text, int len, int& width, int& height) {
  width = height = 0;
  if (!text) return;
  if (len < 0) len = (int)strlen(text);
  int line = 0, lineHt = text_style.scale * font_cell_ht;
  bool lineEmpty = true;
  for (int i = 0; i < len; i++) {
    uint8_t c = (uint8_t)text[i];
    if (c == '\n') {
      if (line > width) width = line;
      height += lineHt + text_style.lineSpacing;
      line = 0;
      lineEmpty = true;
      continue;
    }
    line += glyph_advance(c);
    lineEmpty = false;
  }
  if (line > width) width = line;
  if (!lineEmpty) height += lineHt;
}

// ---------------------------------------------------------------- quads

static void put_quad(FontVertex* v, int x0, int y0, int x1, int y1, uint32_t color, int u0, int v0, int u1, int v1) {
  FontVertex a = {(int16_t)x0, (int16_t)y0, color, (int16_t)u0, (int16_t)v0};
  FontVertex b = {(int16_t)x1, (int16_t)y0, color, (int16_t)u1, (int16_t)v0};
  FontVertex c = {(int16_t)x0, (int16_t)y1, color, (int16_t)u0, (int16_t)v1};
  FontVertex d = {(int16_t)x1, (int16_t)y1, color, (int16_t)u1, (int16_t)v1};
  v[0] = a, v[1] = b, v[2] = c;
  v[3] = c, v[4] = b, v[5] = d;
}

// Where text quads go: the shared writer, or one batch payload.
struct QuadSink {
  FontVertex* out = nullptr;  // batch payload; null: common_vb_writer
  FontVertex* next() {
    if (out) {
      FontVertex* v = out;
      out += 6;
      return v;
    }
    DynVBWriter& w = common_vb_writer;
    if (w.freeBytes() < QUAD_BYTES) w.flush(false);
    FontVertex* v = (FontVertex*)w.wptr;
    w.wptr += QUAD_BYTES;
    w.count += 2;
    return v;
  }
};

// Start of the text block: x of the left edge and y of the first line's bottom.
static void text_origin(int w, int h, int& x, int& y, int h_align, int v_align) {
  x -= (h_align + 1) * w / 2;
  y = y + text_style.lineSpacing + h - h * (v_align + 1) / 2 - text_style.scale * font_cell_ht;
}

// Number of glyph quad pairs (shadow and glyph) of the text.
static int count_glyphs(const char* text, int len) {
  int n = 0;
  for (int i = 0; i < len; i++) {
    uint8_t c = (uint8_t)text[i];
    n += c != 0 && c != ' ' && c != '\n';
  }
  return n;
}

static void emit_text(QuadSink& sink, const char* text, int len, int x, int y, D3dColor color) {
  uint32_t shadow = (uint32_t)(color.a() / 2) << 24;
  int penX = x, lineY = y, scale = text_style.scale;
  for (int i = 0; i < len; i++) {
    uint8_t c = (uint8_t)text[i];
    if (c == '\n') {
      penX = x;
      lineY -= scale * font_cell_ht + text_style.lineSpacing;
      continue;
    }
    if (c != 0 && c != ' ') {
      const FontGlyph& g = font_glyphs[c];
      int x1 = penX + scale * (g.end - g.left), y1 = lineY + scale * font_cell_ht;
      put_quad(sink.next(), penX + 1, lineY - 1, x1 + 1, y1 - 1, shadow, g.left, g.bottom, g.end, g.top);
      put_quad(sink.next(), penX, lineY, x1, y1, color.u, g.left, g.bottom, g.end, g.top);
    }
    penX += glyph_advance(c);
  }
}

void draw_text(const char* text, int len, int x, int y, int h_align, int v_align, D3dColor color) {
  if (!text) return;
  if (len < 0) len = (int)strlen(text);
  int w, h;
  calc_text_size(text, len, w, h);
  text_origin(w, h, x, y, h_align, v_align);
  QuadSink sink;
  emit_text(sink, text, len, x, y, color);
}

void draw_rect(int x0, int y0, int x1, int y1, D3dColor color) {
  QuadSink sink;
  put_quad(sink.next(), x0, y0, x1, y1, color.u, -1, -1, -1, -1);
}

static void emit_box(QuadSink& sink, int x0, int y0, int x1, int y1, uint32_t c) {
  put_quad(sink.next(), x0, y0, x0 + 1, y1, c, -1, -1, -1, -1);
  put_quad(sink.next(), x1, y0, x1 + 1, y1, c, -1, -1, -1, -1);
  put_quad(sink.next(), x0, y0, x1 + 1, y0 + 1, c, -1, -1, -1, -1);
  put_quad(sink.next(), x0 + 1, y1, x1, y1 + 1, c, -1, -1, -1, -1);
}

void draw_box(int x0, int y0, int x1, int y1, D3dColor color) {
  QuadSink sink;
  emit_box(sink, x0, y0, x1, y1, color.u);
}

void batch_text(RenderBatch& batch, const char* text, int len, int x, int y, int h_align, int v_align,
                D3dColor color) {
  if (!text) return;
  if (len < 0) len = (int)strlen(text);
  int n = count_glyphs(text, len);
  if (n == 0) return;
  int w, h;
  calc_text_size(text, len, w, h);
  text_origin(w, h, x, y, h_align, v_align);
  int top = y + text_style.scale * font_cell_ht;
  QuadSink sink;
  sink.out = (FontVertex*)batch.add(&font_batch_state, (float)x, (float)(top - h), (float)(x + w), (float)top,
                                    n * 2 * QUAD_BYTES, n * 4);
  emit_text(sink, text, len, x, y, color);
}

void batch_rect(RenderBatch& batch, int x0, int y0, int x1, int y1, D3dColor color) {
  QuadSink sink;
  sink.out = (FontVertex*)batch.add(&font_batch_state, (float)x0, (float)y0, (float)x1, (float)y1, QUAD_BYTES, 2);
  put_quad(sink.next(), x0, y0, x1, y1, color.u, -1, -1, -1, -1);
}

void start_draw_text() {
  set_vdecl(font_vdecl);
  set_shader(font_shader);
  set_texture(0, font_texture);
  set_text_states();
  common_vb_writer.start(draw_list, D3DPT_TRIANGLELIST, 0, sizeof(FontVertex));
}

void end_draw_text() {
  common_vb_writer.flush(true);
  restore_states();
}

// ---------------------------------------------------------------- log and error message

void draw_visual_log() {
  push_text_style();
  text_style.scale = 2;
  int n = visual_log_lines.count(), h = font_cell_ht;
  for (int i = 0; i < n; i++)
    draw_text(visual_log_lines[i].text, -1, 2 * h, (n - i) * 2 * h, -1, -1, D3dColor(0xFFFFFFFF));
  pop_text_style();
}

void draw_error_message() {
  if (!has_error_message()) return;
  push_text_style();
  text_style.scale = 2;
  int h = font_cell_ht;
  draw_rect(0, d3d_ht - 12 * h, d3d_wd, d3d_ht, D3dColor(0xCC660000));
  draw_text(get_error_message(), -1, d3d_wd / 2, d3d_ht - h, 0, 1, D3dColor(0xFFFFEE00));
  pop_text_style();
}

// ---------------------------------------------------------------- splash

void show_splash(const char* text, float progress) {
  splash_text.set(text ? text : "", text ? (int)strnlen(text, 255) : 0);
  splash_progress = progress;
  render_splash_frame();
}

// PLACEHOLDER: the distance-field splash (default_font, gui_batch with the
// splash background and rounded progress boxes) comes with distance-field
// text; until default_font exists this reports false and the bitmap splash
// below is drawn.
static bool default_font_has_texture() { return false; }

void draw_splash() {
  if (default_font_has_texture()) return;  // the distance-field road, see above
  clear_view(D3dColor(0xFF000A28));
  if (!font_texture) return;
  start_draw_text();
  draw_text(splash_text, -1, d3d_wd / 2, d3d_ht / 4, 0, 0, D3dColor(0xFFFFFFFF));
  if (splash_progress >= 0) {
    int a = text_style.scale * font_cell_ht * 3;
    int barW = d3d_wd / 4, x0 = (d3d_wd - barW) / 2, y0 = d3d_ht / 4 - a;
    draw_rect(x0, y0, x0 + barW, y0 + a / 2, D3dColor(0xFF000000));
    int fill = (int)lroundf((float)barW * splash_progress);
    draw_rect(x0, y0, x0 + fill, y0 + a / 2, D3dColor(0xFF32960A));
  }
  end_draw_text();
}
