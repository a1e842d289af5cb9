// State shared by the device layer's own files (d3d_render, d3d_vbuf,
// d3d_misc, d3d_shaders); not part of the renderer's interface.
#pragma once
#include <epoxy/gl.h>
#include "render/d3d_render.h"

// Uniform block binding points used by every program (see d3d_shaders.cpp).
enum { UBO_VS_CONSTS = 0, UBO_PS_CONSTS = 1, UBO_DEVICE = 2 };

// How one Direct3D format is held in GL.
struct GlFormat {
  int d3d;
  GLenum internal, format, type;
  int bytesPerPixel;  // 0 for block-compressed formats
  int blockBytes;     // bytes per 4 x 4 block of compressed formats
  GLint swizzle[4];   // Direct3D reads missing channels as 1 (L8: l, l, l, 1)
};
const GlFormat* gl_format_of(int d3d_format);

// Device state of the GL back end.
struct GlDevice {
  SDL_Window* window = nullptr;
  GLuint vao = 0;            // the one vertex array of all draws
  GLuint postfxVao = 0, postfxVb = 0;
  GLuint backFbo[2] = {}, backRb[2] = {};
  int backIndex = 0;         // backFbo[backIndex] is the back buffer, the other the front buffer
  GLuint rtFbo = 0;          // texture render targets
  GLuint copyFbo[2] = {};    // copy_texture / copy_back_buffer
  GLuint depthRb = 0;        // the scene depth surface, D24S8
  GLuint samplers[MAX_SAMPLERS] = {};
  GLuint ubo[3] = {};
  GLsync frameQuery[2] = {};
  int frameQueryIndex = 0;
  GLsync flushQuery = nullptr;

  // Render targets: the back buffer, or up to four textures in rtFbo.
  bool targetIsBackBuffer = true;
  Texture* rt[MAX_RENDER_TARGETS] = {};
  bool rtDepth = false;

  // Constants: CPU copies, uploaded before a draw from the lowest to the
  // highest register changed since the last upload.
  float vsConsts[MAX_VS_CONSTS * 4] = {};
  float psConsts[MAX_PS_CONSTS * 4] = {};
  int vsDirtyMin = MAX_VS_CONSTS, vsDirtyMax = -1;
  int psDirtyMin = MAX_PS_CONSTS, psDirtyMax = -1;
  // Device block: x, y = half-pixel shift in clip space; z = alpha test reference (-1 off).
  float deviceBlock[4] = {0, 0, -1, 0};
  bool deviceDirty = true;

  int viewport[4] = {};
  int colorMask = 15;
  bool zwrite = true;
  int stencilWriteMask = 0xFF;
  VertexDecl* vdecl = nullptr;
  int instances = 0;  // set_instancing count; 0 = not instanced
  Matrix44 viewTm = Matrix44::identity(), projTm = Matrix44::identity();

  uint8_t* grab = nullptr;  // grab_front_buffer memory
};
extern GlDevice gl;

// The size a texture has on the device (0 x 0 slots: the back buffer's).
void texture_size(const Texture* tex, int& w, int& h);
// GL object creation and release of one slot (the slot's fields unchanged).
bool create_gl_texture(Texture* tex);
void release_gl_texture(Texture* tex);
bool create_gl_buffer(unsigned& name, int size, int flags);
// Default sampler states on all 16 samplers.
void set_default_sampler_states();
void reset_render_states();
