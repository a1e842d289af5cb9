// Bitmap text and the splash screen.
#pragma once
#include "lib/strings.h"

extern TempString<256> splash_text;
extern float splash_progress;  // negative: no progress bar

// Stores the splash text (null: empty) and progress and shows one splash frame.
void show_splash(const char* text, float progress);
