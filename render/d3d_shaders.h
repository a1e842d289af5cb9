// Shaders: a ".sh" file of GLSL holding both programs, built with a define
// list into a Shader shared by everyone who asks for the same file and list,
// cached on disk and rebuilt when the file or one of its includes changes.
//
// A source file holds a function `void vsh()` (the vertex program, compiled
// with VSH defined as " 1") and `void psh()` (the pixel program, with PSH),
// in GLSL 4.50 without a #version line. `#include "name"` inserts another
// file, found like every data file (relative to the application folder); it
// is expanded wherever it stands, conditional blocks included. Each program
// is given, ahead of the source:
//   vs_c[256] / ps_c[224]  the float4 constant registers (set_vs_consts, set_ps_consts)
//   ps_out0                the first colour output; further targets are declared
//                          by the file as `layout(location = N) out vec4 ...`
// and vertex inputs take the fixed locations of the vertex declarations:
//   0 POSITION, 1 NORMAL, 2-3 COLOR0-1, 4-11 TEXCOORD0-7, 12-13 TANGENT0-1.
// Samplers are bound by `layout(binding = stage) uniform sampler2D ...`.
// The vertex program writes gl_Position in Direct3D's clip space (depth
// 0..1, y up); the device shifts it by half a pixel and applies the alpha
// test after psh.
//
// Cache file "cache/<file><defines>.cache": magic 0x20100715, the sizes of
// the name block and of the two program blocks, the names of every file read
// (each zero-terminated, then one more zero), then the complete GLSL text of
// the vertex and of the pixel program, includes expanded, ready to compile.
#pragma once
#include <cstdint>
#include "lib/dynArray.h"
#include "lib/strings.h"

struct ShaderDependency {
  TempString<260> name;  // as the source asked for it
  int64_t time;          // modification time when recorded
};

struct Shader {
  unsigned vs;       // GL vertex shader; 0 marks a free entry
  unsigned ps;       // GL fragment shader
  unsigned program;  // the two linked
  TempString<260> file;
  TempString<512> defines;  // the define list's bytes, terminators included
  DynArray<ShaderDependency> deps;
  int refcount;
};

constexpr int MAX_SHADERS = 256;
constexpr uint32_t SHADER_CACHE_MAGIC = 0x20100715;
extern Shader shaders[MAX_SHADERS];

// Define lists: zero-terminated strings, name and value alternating, ended by
// an empty string, e.g. "INST\0 1\0" (the literal's own zero ends it).
Shader* create_shader(const char* file, const char* defines = nullptr);
void destroy_shader(Shader* s);
void reload_shaders(bool force);
void release_all_shaders();
void init_shader_compiler();

// "cache/<file><encoded defines>.cache", before make_full_path.
TempString<1024> shader_cache_name(const char* file, const char* defines);
// Byte length of a define list with all its terminators (at least 1).
int define_list_size(const char* defines);
