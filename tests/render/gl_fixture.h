// A real GL device for the render tests: one hidden SDL window with the
// device made on it (Mesa's llvmpipe headless), and the application folder
// pointed at a private temporary folder so shaders, caches and textures the
// tests write stay there.
#pragma once
#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <cstdint>
#include <string>
#include "render/d3d_render.h"
#include "tests/support/test_support.h"

constexpr int TEST_WD = 160, TEST_HT = 120;

// The device and folder live for the whole test program.
SDL_Window* test_window();
const TempDir& test_app_dir();

// Writes a data file into the application folder.
void write_app_file(const std::string& name, const std::string& text);
// The colour (A8R8G8B8) of pixel x, y (row 0 at the top) of the current
// render target, or of a texture's level 0.
uint32_t target_pixel(int x, int y);
uint32_t texture_pixel(Texture* tex, int x, int y);

// A shader drawing clip-space positions (FLOAT3 at location 0) in the colour
// of pixel register 0; "solid.sh" in the application folder.
Shader* solid_shader();
void set_solid_color(float r, float g, float b, float a);
// Draws triangles of clip-space points through a dynamic vertex buffer.
void draw_clip_triangles(const float* xyz, int triangles);
