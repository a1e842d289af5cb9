// Bitmap text and splash. (Early form: show_splash only stores its values;
// drawing comes with the render device and the font.)
#include "render/font.h"

TempString<256> splash_text("Please wait...");
float splash_progress = -1.0f;

void show_splash(const char* text, float progress) {
  splash_text.set(text ? text : "", text ? (int)strnlen(text, 255) : 0);
  splash_progress = progress;
}
