// Bitmap text (developer text, log lines, error messages, the early splash)
// and the splash screen.
//
// The font is "font.tga": a 16 x 16 grid of equal cells holding characters
// 0..255, character n in column n % 16 and row n / 16 from the top of the
// picture. Pixel coordinates of the text operations count y up from the
// bottom edge of the screen.
#pragma once
#include "lib/color.h"
#include "lib/strings.h"

class RenderBatch;
class StdRenderBatchState;
struct Texture;

// One glyph: its columns left .. end - 1 and its cell's stored rows bottom .. top - 1.
struct FontGlyph {
  int left, bottom, end, top;
};
struct TextStyle {
  int lineSpacing = 0;  // extra pixels between lines
  int charSpacing = 0;  // extra pixels between glyphs
  int scale = 1;        // whole-pixel magnification, at least 1
};

extern FontGlyph font_glyphs[256];
extern int font_cell_wd, font_cell_ht;
extern int font_tex_wd, font_tex_ht;
extern Texture* font_texture;
extern TextStyle text_style;

extern TempString<256> splash_text;
extern float splash_progress;  // negative: no progress bar

void init_font();
void close_font();
// Builds the glyph table from the picture (pixels A8R8G8B8, rows in stored
// order); false when the size is not a multiple of 16 in both directions.
bool build_font_glyphs(int width, int height, const uint32_t* pixels);
// scale = d3d_ht / (cell height x 30), at least 1.
void update_font_scale();
void push_text_style();
void pop_text_style();

// Width of the widest line and height of the text at the current style;
// text null is empty, len -1 runs to the terminator.
void calc_text_size(const char* text, int len, int& width, int& height);

// Text drawn straight into the shared vertex writer, between these two.
void start_draw_text();
void end_draw_text();
// Alignments: h -1 left, 0 centre, 1 right edge at x; v -1 bottom, 0 middle, 1 top at y.
void draw_text(const char* text, int len, int x, int y, int h_align, int v_align, D3dColor color);
void draw_rect(int x0, int y0, int x1, int y1, D3dColor color);
void draw_box(int x0, int y0, int x1, int y1, D3dColor color);

// The same quads added to a batch under the font batch state.
void batch_text(RenderBatch& batch, const char* text, int len, int x, int y, int h_align, int v_align,
                D3dColor color);
void batch_rect(RenderBatch& batch, int x0, int y0, int x1, int y1, D3dColor color);
StdRenderBatchState* get_font_batch_state();

// The visual log and the on-screen error message of app/log.h, drawn at
// text scale 2 between start_draw_text and end_draw_text.
void draw_visual_log();
void draw_error_message();

// Stores the message (null: empty; cut to 255 characters) and the progress
// and shows one splash frame at once.
void show_splash(const char* text, float progress);
// Draws the splash into the back buffer (render_splash_frame calls it).
void draw_splash();
