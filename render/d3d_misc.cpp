// Vertex declarations, render states, transforms, clears, constants, draws
// and the front-buffer grab.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include "lib/check.h"
#include "render/d3d_internal.h"

VertexDecl d3d_vdecls[MAX_VDECL];
int d3d_num_vdecls = 0;

// ---------------------------------------------------------------- vertex declarations

// Direct3D declaration types and usages that the codes of a vsd translate to.
enum : uint8_t {
  DECLTYPE_FLOAT1 = 0,
  DECLTYPE_FLOAT2 = 1,
  DECLTYPE_FLOAT3 = 2,
  DECLTYPE_FLOAT4 = 3,
  DECLTYPE_D3DCOLOR = 4,
  DECLTYPE_SHORT2 = 6,
  DECLTYPE_SHORT4 = 7,
  DECLTYPE_UNUSED = 17,
};
enum : uint8_t {
  DECLUSAGE_POSITION = 0,
  DECLUSAGE_NORMAL = 3,
  DECLUSAGE_TEXCOORD = 5,
  DECLUSAGE_TANGENT = 6,
  DECLUSAGE_COLOR = 10,
};

static uint8_t decl_type(uint8_t code) {
  static const uint8_t t[] = {DECLTYPE_UNUSED, DECLTYPE_FLOAT1, DECLTYPE_FLOAT2, DECLTYPE_FLOAT3,
                              DECLTYPE_FLOAT4, DECLTYPE_D3DCOLOR, DECLTYPE_SHORT2, DECLTYPE_SHORT4};
  return code < sizeof(t) ? t[code] : (uint8_t)DECLTYPE_UNUSED;
}

static uint8_t decl_usage(uint8_t code) {
  static const uint8_t u[] = {DECLUSAGE_POSITION, DECLUSAGE_NORMAL, DECLUSAGE_COLOR, DECLUSAGE_TEXCOORD};
  return code < sizeof(u) ? u[code] : (uint8_t)DECLUSAGE_TANGENT;
}

// Fixed attribute locations of the vertex programs (see d3d_shaders.h):
// position 0 (further position indices 14, 15), normal 1, colour 2-3,
// texture coordinates 4-11, tangent 12-13. -1: no location.
static int attrib_location(int usage, int index) {
  switch (usage) {
    case DECLUSAGE_POSITION: return index == 0 ? 0 : index <= 2 ? 13 + index : -1;
    case DECLUSAGE_NORMAL: return index == 0 ? 1 : -1;
    case DECLUSAGE_COLOR: return index <= 1 ? 2 + index : -1;
    case DECLUSAGE_TEXCOORD: return index <= 7 ? 4 + index : -1;
    case DECLUSAGE_TANGENT: return index <= 1 ? 12 + index : -1;
  }
  return -1;
}

// Whether GL can take the declaration: every used element has a location of
// its own and a stream below 16.
static bool decl_valid(const VertexDecl& d) {
  unsigned taken = 0;
  for (int i = 0; i < d.count - 1; i++) {
    const D3dVertexElement& e = d.elems[i];
    if (e.type == DECLTYPE_UNUSED) continue;
    int loc = attrib_location(e.usage, e.usageIndex);
    if (loc < 0 || (taken & (1u << loc)) || e.stream >= 16) return false;
    taken |= 1u << loc;
  }
  return true;
}

VertexDecl* get_vdecl(const vsd* desc) {
  VertexDecl d;
  memset(&d, 0, sizeof(d));
  int i = 0;
  for (;; i++) {
    ASSERT(i<MAX_VDECL_LEN);
    if (desc[i].stream == 255) break;
    D3dVertexElement& e = d.elems[i];
    e.stream = desc[i].stream;
    e.offset = desc[i].offset;
    e.type = decl_type(desc[i].type);
    e.method = 0;
    e.usage = decl_usage(desc[i].usage);
    e.usageIndex = desc[i].usageIndex;
  }
  d.elems[i] = D3dVertexElement{0xFF, 0, DECLTYPE_UNUSED, 0, 0, 0};
  d.count = i + 1;

  for (int k = 0; k < d3d_num_vdecls; k++)
    if (d3d_vdecls[k].count == d.count && memcmp(d3d_vdecls[k].elems, d.elems, sizeof(D3dVertexElement) * d.count) == 0)
      return &d3d_vdecls[k];
  if (d3d_num_vdecls >= MAX_VDECL) fatal("reached maximum vertex declaration count");
  if (!decl_valid(d)) {
    debug("VSD:");
    for (int k = 0; desc[k].stream != 255; k++)
      debug("  %4u %2u %2u %2u %2u", desc[k].offset, desc[k].stream, desc[k].type, desc[k].usage,
            desc[k].usageIndex);
    fatal("failed to create vertex declaration (code 0x%08X)", 0x8876086Cu);
  }
  d3d_vdecls[d3d_num_vdecls] = d;
  return &d3d_vdecls[d3d_num_vdecls++];
}

void set_vdecl(VertexDecl* decl) {
  if (decl == gl.vdecl) return;
  gl.vdecl = decl;
  unsigned used = 0;
  if (decl) {
    for (int i = 0; i < decl->count - 1; i++) {
      const D3dVertexElement& e = decl->elems[i];
      if (e.type == DECLTYPE_UNUSED) continue;
      GLuint loc = (GLuint)attrib_location(e.usage, e.usageIndex);
      used |= 1u << loc;
      switch (e.type) {
        case DECLTYPE_D3DCOLOR:  // bytes b, g, r, a read as (r, g, b, a) / 255
          glVertexArrayAttribFormat(gl.vao, loc, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, e.offset);
          break;
        case DECLTYPE_SHORT2:
        case DECLTYPE_SHORT4:
          glVertexArrayAttribFormat(gl.vao, loc, e.type == DECLTYPE_SHORT2 ? 2 : 4, GL_SHORT, GL_FALSE, e.offset);
          break;
        default:
          glVertexArrayAttribFormat(gl.vao, loc, e.type - DECLTYPE_FLOAT1 + 1, GL_FLOAT, GL_FALSE, e.offset);
      }
      glVertexArrayAttribBinding(gl.vao, loc, e.stream);
    }
  }
  for (GLuint loc = 0; loc < 16; loc++) {
    if (used & (1u << loc))
      glEnableVertexArrayAttrib(gl.vao, loc);
    else
      glDisableVertexArrayAttrib(gl.vao, loc);
  }
}

void set_instancing(int count) {
  while (glGetError() != GL_NO_ERROR) {
  }
  gl.instances = count > 0 ? count : 0;
  glVertexArrayBindingDivisor(gl.vao, 0, 0);
  glVertexArrayBindingDivisor(gl.vao, 1, count > 0 ? 1 : 0);
  if (glGetError() != GL_NO_ERROR) fatal("failed SetStreamSourceFreq");
}

// ---------------------------------------------------------------- render states

static void blend(GLenum src, GLenum dst, GLenum op) {
  glEnable(GL_BLEND);
  glBlendFunc(src, dst);
  glBlendEquation(op);
}
void set_blend_none() { glDisable(GL_BLEND); }
void set_blend_additive() { blend(GL_ONE, GL_ONE, GL_FUNC_ADD); }
void set_blend_smooth_add() { blend(GL_ONE, GL_ONE_MINUS_SRC_COLOR, GL_FUNC_ADD); }
void set_blend_alpha() { blend(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_FUNC_ADD); }
void set_blend_prealpha() { blend(GL_ONE, GL_ONE_MINUS_SRC_ALPHA, GL_FUNC_ADD); }
void set_blend_multiply() { blend(GL_DST_COLOR, GL_ZERO, GL_FUNC_ADD); }
void set_blend_min() { blend(GL_ONE, GL_ONE, GL_MIN); }
void set_blend_max() { blend(GL_ONE, GL_ONE, GL_MAX); }

void set_atest(int ref) {
  float r = ref < 1 ? -1.0f : (float)ref;
  if (gl.deviceBlock[2] != r) gl.deviceBlock[2] = r, gl.deviceDirty = true;
}

// Direct3D's front faces are clockwise on screen. With the upper-left clip
// origin GL sees the screen the same way up, so "clockwise" keeps its meaning.
void set_cull_mode(int mode) {
  if (mode == 0) {
    glDisable(GL_CULL_FACE);
    return;
  }
  glEnable(GL_CULL_FACE);
  glCullFace(mode > 0 ? GL_BACK : GL_FRONT);
}

void set_zenable(bool on) {
  if (on)
    glEnable(GL_DEPTH_TEST);
  else
    glDisable(GL_DEPTH_TEST);
}
void set_zwrite(bool on) {
  gl.zwrite = on;
  glDepthMask(on ? GL_TRUE : GL_FALSE);
}
void set_color_write_mask(int mask) {
  gl.colorMask = mask;
  glColorMask(mask & 1, (mask >> 1) & 1, (mask >> 2) & 1, (mask >> 3) & 1);
}
void set_wireframe(bool on) { glPolygonMode(GL_FRONT_AND_BACK, on ? GL_LINE : GL_FILL); }

static GLenum gl_compare(int func) {
  static const GLenum f[] = {GL_NEVER, GL_LESS, GL_EQUAL, GL_LEQUAL, GL_GREATER, GL_NOTEQUAL, GL_GEQUAL, GL_ALWAYS};
  return func >= 1 && func <= 8 ? f[func - 1] : GL_ALWAYS;
}

void set_stencil_test(int mask, int ref, int func) {
  if (mask == 0) {
    glDisable(GL_STENCIL_TEST);
    return;
  }
  glEnable(GL_STENCIL_TEST);
  glStencilFunc(gl_compare(func), ref, (GLuint)mask);
}

void set_stencil_replace_bits(int bits) {
  gl.stencilWriteMask = bits;
  glStencilMask((GLuint)bits);
  glStencilOp(GL_KEEP, GL_KEEP, bits ? GL_REPLACE : GL_KEEP);
}

// Direct3D's state after device creation, as far as this layer models it.
void reset_render_states() {
  glFrontFace(GL_CW);
  glDepthFunc(GL_LEQUAL);
  set_blend_none();
  set_atest(0);
  set_cull_mode(1);
  set_zenable(false);
  set_zwrite(true);
  set_color_write_mask(15);
  set_wireframe(false);
  set_stencil_test(0, 0, D3DCMP_ALWAYS);
  set_stencil_replace_bits(0xFF);
}

// ---------------------------------------------------------------- transforms, viewport, clears

static void update_pixel_offset() {
  // Direct3D 9 samples pixel centres at integer coordinates, GL half a pixel
  // further on: shifting the geometry right and down makes GL cover and
  // interpolate what Direct3D would. The shift is 1/64 pixel short of a half,
  // so a pixel centre lying on an edge goes to the primitive right of or
  // below it, as Direct3D's top-left rule decides, whatever GL's own rule is.
  const float shift = 2.0f * (0.5f - 1.0f / 64.0f);  // in clip units per pixel
  float x = shift / (float)(gl.viewport[2] > 0 ? gl.viewport[2] : 1);
  float y = -shift / (float)(gl.viewport[3] > 0 ? gl.viewport[3] : 1);
  if (gl.deviceBlock[0] != x || gl.deviceBlock[1] != y) {
    gl.deviceBlock[0] = x, gl.deviceBlock[1] = y;
    gl.deviceDirty = true;
  }
}

void set_viewport(int x, int y, int w, int h) {
  gl.viewport[0] = x, gl.viewport[1] = y, gl.viewport[2] = w, gl.viewport[3] = h;
  glViewport(x, y, w, h);
  glDepthRangef(0.0f, 1.0f);
  update_pixel_offset();
}

void set_view_tm(const Matrix44& tm) { gl.viewTm = tm; }
void set_proj_tm(const Matrix44& tm) { gl.projTm = tm; }

void set_proj_tm(float fov, float aspect, float zn, float zf) {
  float ys = 1.0f / tanf(fov * 0.5f), xs = ys / aspect;
  Matrix44 m;
  memset(&m, 0, sizeof(m));
  m.m[0][0] = xs;
  m.m[1][1] = ys;
  m.m[2][2] = zf / (zf - zn);
  m.m[2][3] = 1.0f;
  m.m[3][2] = -zn * zf / (zf - zn);
  set_proj_tm(m);
}

void get_glob_tm(Matrix44& out) { out = mat_mul(gl.viewTm, gl.projTm); }

// Direct3D clears the viewport rectangle whatever the write masks say.
static void clear(GLbitfield what, D3dColor c) {
  glEnable(GL_SCISSOR_TEST);
  glScissor(gl.viewport[0], gl.viewport[1], gl.viewport[2], gl.viewport[3]);
  if (what & GL_COLOR_BUFFER_BIT) {
    glColorMask(1, 1, 1, 1);
    glClearColor(c.r() / 255.0f, c.g() / 255.0f, c.b() / 255.0f, c.a() / 255.0f);
  }
  if (what & GL_DEPTH_BUFFER_BIT) {
    glDepthMask(GL_TRUE);
    glStencilMask(0xFF);
    glClearDepthf(1.0f);
    glClearStencil(0);
    what |= GL_STENCIL_BUFFER_BIT;
  }
  glClear(what);
  glDisable(GL_SCISSOR_TEST);
  set_color_write_mask(gl.colorMask);
  glDepthMask(gl.zwrite ? GL_TRUE : GL_FALSE);
  glStencilMask((GLuint)gl.stencilWriteMask);
}

void clear_view(D3dColor c) { clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT, c); }
void clear_view_color(D3dColor c) { clear(GL_COLOR_BUFFER_BIT, c); }
void clear_view_z() { clear(GL_DEPTH_BUFFER_BIT, D3dColor(0)); }

// ---------------------------------------------------------------- constants and draws

static void set_consts(float* regs, int max, int& lo, int& hi, int first, const float* data, int count) {
  if (first < 0 || count < 1) return;
  if (first + count > max) count = max - first;
  if (count < 1) return;
  memcpy(regs + first * 4, data, sizeof(float) * 4 * (size_t)count);
  if (first < lo) lo = first;
  if (first + count - 1 > hi) hi = first + count - 1;
}

void set_vs_consts(int first, const float* data, int count) {
  set_consts(gl.vsConsts, MAX_VS_CONSTS, gl.vsDirtyMin, gl.vsDirtyMax, first, data, count);
}
void set_ps_consts(int first, const float* data, int count) {
  set_consts(gl.psConsts, MAX_PS_CONSTS, gl.psDirtyMin, gl.psDirtyMax, first, data, count);
}

// Uploads changed constants and the device block before a draw.
static void apply_draw_constants() {
  if (gl.vsDirtyMax >= gl.vsDirtyMin) {
    glNamedBufferSubData(gl.ubo[UBO_VS_CONSTS], gl.vsDirtyMin * 16, (gl.vsDirtyMax - gl.vsDirtyMin + 1) * 16,
                         gl.vsConsts + gl.vsDirtyMin * 4);
    gl.vsDirtyMin = MAX_VS_CONSTS, gl.vsDirtyMax = -1;
  }
  if (gl.psDirtyMax >= gl.psDirtyMin) {
    glNamedBufferSubData(gl.ubo[UBO_PS_CONSTS], gl.psDirtyMin * 16, (gl.psDirtyMax - gl.psDirtyMin + 1) * 16,
                         gl.psConsts + gl.psDirtyMin * 4);
    gl.psDirtyMin = MAX_PS_CONSTS, gl.psDirtyMax = -1;
  }
  if (gl.deviceDirty) {
    glNamedBufferSubData(gl.ubo[UBO_DEVICE], 0, sizeof(gl.deviceBlock), gl.deviceBlock);
    gl.deviceDirty = false;
  }
}

static GLenum gl_prim(int type, int prims, int& verts) {
  switch (type) {
    case D3DPT_POINTLIST: verts = prims; return GL_POINTS;
    case D3DPT_LINELIST: verts = prims * 2; return GL_LINES;
    case D3DPT_LINESTRIP: verts = prims + 1; return GL_LINE_STRIP;
    case D3DPT_TRIANGLESTRIP: verts = prims + 2; return GL_TRIANGLE_STRIP;
    case D3DPT_TRIANGLEFAN: verts = prims + 2; return GL_TRIANGLE_FAN;
    default: verts = prims * 3; return GL_TRIANGLES;
  }
}

void draw_indexed(int prim_type, int base_vertex, int min_index, int num_verts, int start_index, int prim_count) {
  if (prim_count < 1) return;
  int n;
  GLenum mode = gl_prim(prim_type, prim_count, n);
  apply_draw_constants();
  const void* at = (const void*)(intptr_t)(start_index * 2);
  if (gl.instances > 0)
    glDrawElementsInstancedBaseVertex(mode, n, GL_UNSIGNED_SHORT, at, gl.instances, base_vertex);
  else
    glDrawElementsBaseVertex(mode, n, GL_UNSIGNED_SHORT, at, base_vertex);
  GLenum err = glGetError();
  if (err != GL_NO_ERROR) fatal("draw_indexed failed (code 0x%08X)", err);
}

void draw_prim(int prim_type, int start_vertex, int prim_count) {
  if (prim_count < 1) return;
  int n;
  GLenum mode = gl_prim(prim_type, prim_count, n);
  apply_draw_constants();
  glDrawArrays(mode, start_vertex, n);
  GLenum err = glGetError();
  if (err != GL_NO_ERROR) fatal("draw_prim failed (code 0x%08X)", err);
}

void draw_postfx() {
  apply_draw_constants();
  glBindVertexArray(gl.postfxVao);
  glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  glBindVertexArray(gl.vao);
  GLenum err = glGetError();
  if (err != GL_NO_ERROR) fatal("draw_prim failed (code 0x%08X)", err);
}

// ---------------------------------------------------------------- front buffer

void* grab_front_buffer(int& width, int& height, int& pitch) {
  release_front_buffer();
  if (!d3d || d3d_wd < 1 || d3d_ht < 1) return nullptr;
  gl.grab = (uint8_t*)malloc((size_t)d3d_wd * d3d_ht * 4);
  if (!gl.grab) return nullptr;
  while (glGetError() != GL_NO_ERROR) {
  }
  glBindFramebuffer(GL_READ_FRAMEBUFFER, gl.backFbo[gl.backIndex ^ 1]);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  glReadPixels(0, 0, d3d_wd, d3d_ht, GL_BGRA, GL_UNSIGNED_BYTE, gl.grab);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, gl.targetIsBackBuffer ? gl.backFbo[gl.backIndex] : gl.rtFbo);
  if (glGetError() != GL_NO_ERROR) {
    release_front_buffer();
    return nullptr;
  }
  width = d3d_wd, height = d3d_ht, pitch = d3d_wd * 4;
  return gl.grab;
}

void release_front_buffer() {
  free(gl.grab);
  gl.grab = nullptr;
}
