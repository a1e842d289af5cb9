// Device lifecycle, frame pacing, presentation, textures and render targets.
#include <SDL2/SDL.h>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include "lib/check.h"
#include "render/d3d_internal.h"
#include "render/d3d_shaders.h"
#include "render/font.h"

#if defined(__SANITIZE_ADDRESS__)
#define QV_LEAK_CHECK 1
#include <dlfcn.h>
#include <link.h>
#endif

GlDevice gl;
void* d3d = nullptr;
int d3d_wd = 0, d3d_ht = 0;
bool d3d_limit_buffered_frames = true;
bool d3d_fullscreen = false;
bool d3d_vsync = false;
void (*d3d_frame_callback)(float t) = nullptr;
void (*d3d_resize_callback)() = nullptr;
void (*d3d_pump_messages)() = nullptr;

Texture d3d_textures[MAX_TEXTURES];

// ---------------------------------------------------------------- formats

static const GlFormat gl_formats[] = {
    {D3DFMT_A8R8G8B8, GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, 4, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}},
    {D3DFMT_X8R8G8B8, GL_RGB8, GL_BGRA, GL_UNSIGNED_BYTE, 4, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ONE}},
    {D3DFMT_R5G6B5, GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, 2, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ONE}},
    {D3DFMT_A1R5G5B5, GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, 2, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}},
    {D3DFMT_A4R4G4B4, GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, 2, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}},
    {D3DFMT_G16R16, GL_RG16, GL_RG, GL_UNSIGNED_SHORT, 4, 0, {GL_RED, GL_GREEN, GL_ONE, GL_ONE}},
    {D3DFMT_L8, GL_R8, GL_RED, GL_UNSIGNED_BYTE, 1, 0, {GL_RED, GL_RED, GL_RED, GL_ONE}},
    {D3DFMT_R16F, GL_R16F, GL_RED, GL_HALF_FLOAT, 2, 0, {GL_RED, GL_ONE, GL_ONE, GL_ONE}},
    {D3DFMT_G16R16F, GL_RG16F, GL_RG, GL_HALF_FLOAT, 4, 0, {GL_RED, GL_GREEN, GL_ONE, GL_ONE}},
    {D3DFMT_A16B16G16R16F, GL_RGBA16F, GL_RGBA, GL_HALF_FLOAT, 8, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}},
    {D3DFMT_R32F, GL_R32F, GL_RED, GL_FLOAT, 4, 0, {GL_RED, GL_ONE, GL_ONE, GL_ONE}},
    {D3DFMT_G32R32F, GL_RG32F, GL_RG, GL_FLOAT, 8, 0, {GL_RED, GL_GREEN, GL_ONE, GL_ONE}},
    {D3DFMT_A32B32G32R32F, GL_RGBA32F, GL_RGBA, GL_FLOAT, 16, 0, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}},
    {D3DFMT_DXT1, GL_COMPRESSED_RGBA_S3TC_DXT1_EXT, 0, 0, 0, 8, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}},
    {D3DFMT_DXT3, GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, 0, 0, 0, 16, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}},
    {D3DFMT_DXT5, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, 0, 0, 0, 16, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}},
};

const GlFormat* gl_format_of(int d3d_format) {
  for (const GlFormat& f : gl_formats)
    if (f.d3d == d3d_format) return &f;
  return nullptr;
}

int tex_format_to_d3d(int code) {
  static const int table[] = {0,
                              D3DFMT_A8R8G8B8,
                              D3DFMT_A4R4G4B4,
                              D3DFMT_A1R5G5B5,
                              D3DFMT_R5G6B5,
                              D3DFMT_G16R16,
                              D3DFMT_R16F,
                              D3DFMT_G16R16F,
                              D3DFMT_A16B16G16R16F,
                              D3DFMT_R32F,
                              D3DFMT_G32R32F,
                              D3DFMT_A32B32G32R32F};
  return code >= 1 && code <= 11 ? table[code] : 0;
}

int texture_level_bytes(int format, int w, int h) {
  const GlFormat* f = gl_format_of(format);
  if (!f) return 0;
  if (f->blockBytes) {
    int bw = (w + 3) / 4, bh = (h + 3) / 4;
    return (bw < 1 ? 1 : bw) * (bh < 1 ? 1 : bh) * f->blockBytes;
  }
  return w * h * f->bytesPerPixel;
}

// ---------------------------------------------------------------- textures

static int full_mip_count(int w, int h) {
  int n = 1;
  while (w > 1 || h > 1) {
    w = w > 1 ? w / 2 : 1;
    h = h > 1 ? h / 2 : 1;
    n++;
  }
  return n;
}

void texture_size(const Texture* tex, int& w, int& h) {
  w = tex->width, h = tex->height;
  if (w == 0 && h == 0) w = d3d_wd, h = d3d_ht;
}

static void drain_gl_errors() {
  while (glGetError() != GL_NO_ERROR) {
  }
}

bool create_gl_texture(Texture* tex) {
  const GlFormat* f = gl_format_of(tex->format);
  int w, h;
  texture_size(tex, w, h);
  if (!f || w < 1 || h < 1) {
    debug("error creating texture (code 0x%08X)", 0x8876086Cu);
    return false;
  }
  int levels = tex->levels > 0 ? tex->levels : full_mip_count(w, h);
  if (levels > full_mip_count(w, h)) levels = full_mip_count(w, h);
  drain_gl_errors();
  GLuint t = 0;
  glCreateTextures(GL_TEXTURE_2D, 1, &t);
  glTextureStorage2D(t, levels, f->internal, w, h);
  glTextureParameteriv(t, GL_TEXTURE_SWIZZLE_RGBA, f->swizzle);
  GLenum err = glGetError();
  if (err != GL_NO_ERROR) {
    glDeleteTextures(1, &t);
    debug("error creating texture (code 0x%08X)", err);
    return false;
  }
  tex->texture = t;
  return true;
}

void release_gl_texture(Texture* tex) {
  if (tex->texture) {
    for (int i = 0; i < MAX_RENDER_TARGETS; i++)
      if (gl.rt[i] == tex) {
        glNamedFramebufferTexture(gl.rtFbo, GL_COLOR_ATTACHMENT0 + i, 0, 0);
        gl.rt[i] = nullptr;
      }
    glDeleteTextures(1, &tex->texture);
  }
  tex->texture = 0;
}

Texture* create_texture(int width, int height, int levels, int usage, int format, int pool) {
  ASSERT(d3d);
  for (int i = 0; i < MAX_TEXTURES; i++) {
    Texture* t = &d3d_textures[i];
    if (t->used) continue;
    *t = Texture{};
    t->width = width, t->height = height, t->levels = levels;
    t->usage = usage, t->format = format, t->pool = pool;
    if (!create_gl_texture(t)) {
      *t = Texture{};
      return nullptr;
    }
    t->used = true;
    return t;
  }
  debug("reached MAX_TEXTURES");
  return nullptr;
}

Texture* create_dynamic_texture(int w, int h, int code) {
  return create_texture(w, h, 1, D3DUSAGE_DYNAMIC, tex_format_to_d3d(code), D3DPOOL_DEFAULT);
}
Texture* create_managed_texture(int w, int h) {
  return create_texture(w, h, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
}
Texture* create_render_texture(int w, int h, int code) {
  return create_texture(w, h, 1, D3DUSAGE_RENDERTARGET, tex_format_to_d3d(code), D3DPOOL_DEFAULT);
}
Texture* create_screen_render_texture() { return create_render_texture(0, 0, 1); }

void release_texture(Texture* tex) {
  if (!tex) return;
  release_gl_texture(tex);  // deleting a bound texture unbinds it from every sampler
  free(tex->lockData);
  *tex = Texture{};
}

void replace_texture(Texture* holder, Texture* fresh) {
  if (!holder || !fresh || holder == fresh) return;
  release_gl_texture(holder);
  free(holder->lockData);
  *holder = *fresh;
  *fresh = Texture{};
}

unsigned get_d3d_texture(Texture* tex) { return tex ? tex->texture : 0; }

bool upload_texture_level(Texture* tex, int level, const void* data, int pitch) {
  const GlFormat* f = gl_format_of(tex->format);
  if (!f || !tex->texture) return false;
  int w, h;
  texture_size(tex, w, h);
  w = w >> level ? w >> level : 1;
  h = h >> level ? h >> level : 1;
  drain_gl_errors();
  if (f->blockBytes) {
    glCompressedTextureSubImage2D(tex->texture, level, 0, 0, w, h, f->internal,
                                  texture_level_bytes(tex->format, w, h), data);
  } else {
    ASSERT(pitch % f->bytesPerPixel == 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, pitch / f->bytesPerPixel);
    glTextureSubImage2D(tex->texture, level, 0, 0, w, h, f->format, f->type, data);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  }
  return glGetError() == GL_NO_ERROR;
}

void* lock_texture(Texture* tex, int& pitch, bool discard) {
  const GlFormat* f = tex ? gl_format_of(tex->format) : nullptr;
  if (!f || !tex->texture) {
    debug("error locking texture (code 0x%08X)", 0x8876086Cu);
    return nullptr;
  }
  int w, h;
  texture_size(tex, w, h);
  // Compressed formats lock as rows of blocks, like Direct3D.
  int rowBytes = f->blockBytes ? ((w + 3) / 4) * f->blockBytes : w * f->bytesPerPixel;
  int rows = f->blockBytes ? (h + 3) / 4 : h;
  if (!tex->lockData) {
    tex->lockData = (uint8_t*)malloc((size_t)rowBytes * rows);
    if (!tex->lockData) {
      debug("error locking texture (code 0x%08X)", 0x8007000Eu);
      return nullptr;
    }
    tex->lockPitch = rowBytes;
  }
  // Without discard the lock shows the current contents, as Direct3D's does.
  if (!(discard && (tex->usage & D3DUSAGE_DYNAMIC))) {
    int bytes = rowBytes * rows;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    if (f->blockBytes)
      glGetCompressedTextureImage(tex->texture, 0, bytes, tex->lockData);
    else
      glGetTextureImage(tex->texture, 0, f->format, f->type, bytes, tex->lockData);
  }
  pitch = tex->lockPitch;
  return tex->lockData;
}

void unlock_texture(Texture* tex) {
  if (!tex || !tex->lockData) return;
  upload_texture_level(tex, 0, tex->lockData, tex->lockPitch);
}

void set_texture(int stage, Texture* tex) {
  if (stage < 0 || stage >= MAX_SAMPLERS) return;
  glBindTextureUnit(stage, tex ? tex->texture : 0);
}

void set_texture_filter(int stage, bool linear) {
  if (stage < 0 || stage >= MAX_SAMPLERS) return;
  GLuint s = gl.samplers[stage];
  glSamplerParameteri(s, GL_TEXTURE_MIN_FILTER, linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_NEAREST);
  glSamplerParameteri(s, GL_TEXTURE_MAG_FILTER, linear ? GL_LINEAR : GL_NEAREST);
}

static GLint address_mode(int a) {
  return a == 0 ? GL_REPEAT : a == 2 ? GL_CLAMP_TO_BORDER : GL_CLAMP_TO_EDGE;
}

void set_texture_address(int stage, int u, int v, int w) {
  if (stage < 0 || stage >= MAX_SAMPLERS) return;
  if (v < 0) v = u;
  if (w < 0) w = v;
  GLuint s = gl.samplers[stage];
  glSamplerParameteri(s, GL_TEXTURE_WRAP_S, address_mode(u));
  glSamplerParameteri(s, GL_TEXTURE_WRAP_T, address_mode(v));
  glSamplerParameteri(s, GL_TEXTURE_WRAP_R, address_mode(w));
}

void set_default_sampler_states() {
  for (int i = 0; i < MAX_SAMPLERS; i++) {
    set_texture_filter(i, true);
    set_texture_address(i, 1, 1, 1);
  }
}

// ---------------------------------------------------------------- render targets

static void bind_target_fbo(GLuint fbo, int w, int h) {
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  set_viewport(0, 0, w, h);  // setting target 0 resets the viewport, as in Direct3D
}

static void update_draw_buffers() {
  GLenum bufs[MAX_RENDER_TARGETS];
  int n = 0;
  for (int i = 0; i < MAX_RENDER_TARGETS; i++) {
    bufs[i] = gl.rt[i] ? GL_COLOR_ATTACHMENT0 + i : GL_NONE;
    if (gl.rt[i]) n = i + 1;
  }
  glNamedFramebufferDrawBuffers(gl.rtFbo, n > 0 ? n : 1, bufs);
}

void set_render_target(Texture* tex, int index, bool with_depth) {
  if (index < 0 || index >= MAX_RENDER_TARGETS) return;
  if (!tex) {
    if (index == 0) return;  // target 0 cannot be cleared, only replaced
    glNamedFramebufferTexture(gl.rtFbo, GL_COLOR_ATTACHMENT0 + index, 0, 0);
    gl.rt[index] = nullptr;
    update_draw_buffers();
    return;
  }
  glNamedFramebufferTexture(gl.rtFbo, GL_COLOR_ATTACHMENT0 + index, tex->texture, 0);
  gl.rt[index] = tex;
  if (index == 0) {
    gl.rtDepth = with_depth;
    glNamedFramebufferRenderbuffer(gl.rtFbo, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                                   with_depth ? gl.depthRb : 0);
    update_draw_buffers();
    gl.targetIsBackBuffer = false;
    int w, h;
    texture_size(tex, w, h);
    bind_target_fbo(gl.rtFbo, w, h);
  } else {
    update_draw_buffers();
  }
}

void set_back_buffer_target() {
  // Texture targets above 0 are dropped with the switch, as Direct3D's
  // back-buffer-only target set has no room for them.
  for (int i = 0; i < MAX_RENDER_TARGETS; i++) {
    if (gl.rt[i]) glNamedFramebufferTexture(gl.rtFbo, GL_COLOR_ATTACHMENT0 + i, 0, 0);
    gl.rt[i] = nullptr;
  }
  gl.targetIsBackBuffer = true;
  bind_target_fbo(gl.backFbo[gl.backIndex], d3d_wd, d3d_ht);
}

static void blit(GLuint from, int fw, int fh, GLuint to, int tw, int th) {
  glBlitNamedFramebuffer(from, to, 0, 0, fw, fh, 0, 0, tw, th, GL_COLOR_BUFFER_BIT, GL_NEAREST);
}

void copy_texture(Texture* fromTex, Texture* toTex) {
  ASSERT(fromTex);
  ASSERT(toTex);
  if (!fromTex->texture || !toTex->texture) return;
  int fw, fh, tw, th;
  texture_size(fromTex, fw, fh);
  texture_size(toTex, tw, th);
  glNamedFramebufferTexture(gl.copyFbo[0], GL_COLOR_ATTACHMENT0, fromTex->texture, 0);
  glNamedFramebufferTexture(gl.copyFbo[1], GL_COLOR_ATTACHMENT0, toTex->texture, 0);
  blit(gl.copyFbo[0], fw, fh, gl.copyFbo[1], tw, th);
  glNamedFramebufferTexture(gl.copyFbo[0], GL_COLOR_ATTACHMENT0, 0, 0);
  glNamedFramebufferTexture(gl.copyFbo[1], GL_COLOR_ATTACHMENT0, 0, 0);
}

bool copy_back_buffer(Texture* to) {
  if (!d3d || !to || !to->texture) return false;
  int tw, th;
  texture_size(to, tw, th);
  drain_gl_errors();
  glNamedFramebufferTexture(gl.copyFbo[1], GL_COLOR_ATTACHMENT0, to->texture, 0);
  blit(gl.backFbo[gl.backIndex], d3d_wd, d3d_ht, gl.copyFbo[1], tw, th);
  glNamedFramebufferTexture(gl.copyFbo[1], GL_COLOR_ATTACHMENT0, 0, 0);
  return glGetError() == GL_NO_ERROR;
}

bool check_rt_blending(int code) {
  const GlFormat* f = gl_format_of(tex_format_to_d3d(code));
  if (!d3d || !f) return false;
  GLint r = GL_NONE;
  glGetInternalformativ(GL_TEXTURE_2D, f->internal, GL_FRAMEBUFFER_BLEND, 1, &r);
  return r == GL_FULL_SUPPORT || r == GL_CAVEAT_SUPPORT;
}

// ---------------------------------------------------------------- device objects

// The size-dependent objects: back and front buffers and the scene depth surface.
static bool create_surfaces() {
  drain_gl_errors();
  glCreateRenderbuffers(2, gl.backRb);
  glCreateFramebuffers(2, gl.backFbo);
  const float black[4] = {0, 0, 0, 1};
  for (int i = 0; i < 2; i++) {
    glNamedRenderbufferStorage(gl.backRb[i], GL_RGB8, d3d_wd, d3d_ht);
    glNamedFramebufferRenderbuffer(gl.backFbo[i], GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, gl.backRb[i]);
    glClearNamedFramebufferfv(gl.backFbo[i], GL_COLOR, 0, black);
  }
  gl.backIndex = 0;
  glCreateRenderbuffers(1, &gl.depthRb);
  glNamedRenderbufferStorage(gl.depthRb, GL_DEPTH24_STENCIL8, d3d_wd, d3d_ht);
  return glGetError() == GL_NO_ERROR;
}

static void release_surfaces() {
  if (gl.rtFbo) glNamedFramebufferRenderbuffer(gl.rtFbo, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, 0);
  glDeleteFramebuffers(2, gl.backFbo);
  glDeleteRenderbuffers(2, gl.backRb);
  glDeleteRenderbuffers(1, &gl.depthRb);
  gl.backFbo[0] = gl.backFbo[1] = gl.backRb[0] = gl.backRb[1] = gl.depthRb = 0;
}

static void create_queries() {
  for (GLsync& q : gl.frameQuery) q = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
  gl.frameQueryIndex = 0;
  gl.flushQuery = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
}

static void release_queries() {
  for (GLsync& q : gl.frameQuery) {
    if (q) glDeleteSync(q);
    q = nullptr;
  }
  if (gl.flushQuery) glDeleteSync(gl.flushQuery);
  gl.flushQuery = nullptr;
}

static void apply_swap_interval() {
  if (SDL_GL_SetSwapInterval(d3d_vsync ? 1 : 0) != 0 && d3d_vsync) debug("vertical sync not available");
}

// Real window drawable size (the device takes the client size in a window).
static void drawable_size(int& w, int& h) {
  SDL_GL_GetDrawableSize(gl.window, &w, &h);
  if (w < 1 || h < 1) SDL_GetWindowSize(gl.window, &w, &h);
}

#ifdef QV_LEAK_CHECK
// Under AddressSanitizer: Mesa's GL driver keeps allocations of a context
// for the life of the process, and it is unloaded before the leak check
// runs at exit, so its frames would have no module name to tell them from
// ours. Loading it once more with RTLD_NODELETE keeps it mapped, and the
// built-in suppression below names it.
extern "C" const char* __lsan_default_suppressions() { return "leak:_dri.so\n"; }

static int pin_dri_object(struct dl_phdr_info* info, size_t, void*) {
  if (info->dlpi_name && strstr(info->dlpi_name, "_dri.so")) dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  return 0;
}
static void keep_gl_driver_for_leak_check() { dl_iterate_phdr(pin_dri_object, nullptr); }
#else
static void keep_gl_driver_for_leak_check() {}
#endif

bool init_d3d(SDL_Window* window, int width, int height, bool fullscreen, bool vsync) {
  close_d3d();
  if (!window) return false;
  d3d_fullscreen = fullscreen;
  d3d_vsync = vsync;
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 5);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
  SDL_GLContext ctx = SDL_GL_CreateContext(window);
  if (!ctx) {
    debug("can't create GL 4.5 core context: %s", SDL_GetError());
    return false;
  }
  keep_gl_driver_for_leak_check();
  if (epoxy_gl_version() < 45) {
    debug("GL 4.5 is required, the driver offers %d.%d", epoxy_gl_version() / 10, epoxy_gl_version() % 10);
    SDL_GL_DeleteContext(ctx);
    return false;
  }
  d3d = ctx;
  gl.window = window;
  if (fullscreen) {
    SDL_DisplayMode dm;
    if (SDL_GetDesktopDisplayMode(0, &dm) == 0) {
      if (width < 1) width = dm.w;
      if (height < 1) height = dm.h;
    }
  } else {
    int dw, dh;
    drawable_size(dw, dh);
    if (width < 1) width = dw;
    if (height < 1) height = dh;
  }
  d3d_wd = width;
  d3d_ht = height;
  debug("starting d3d in %dx%d", d3d_wd, d3d_ht);
  apply_swap_interval();

  glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
  glCreateVertexArrays(1, &gl.vao);
  glBindVertexArray(gl.vao);
  glCreateFramebuffers(1, &gl.rtFbo);
  glCreateFramebuffers(2, gl.copyFbo);
  glCreateBuffers(3, gl.ubo);
  glNamedBufferStorage(gl.ubo[UBO_VS_CONSTS], sizeof(gl.vsConsts), gl.vsConsts, GL_DYNAMIC_STORAGE_BIT);
  glNamedBufferStorage(gl.ubo[UBO_PS_CONSTS], sizeof(gl.psConsts), gl.psConsts, GL_DYNAMIC_STORAGE_BIT);
  glNamedBufferStorage(gl.ubo[UBO_DEVICE], sizeof(gl.deviceBlock), gl.deviceBlock, GL_DYNAMIC_STORAGE_BIT);
  for (int i = 0; i < 3; i++) glBindBufferBase(GL_UNIFORM_BUFFER, i, gl.ubo[i]);
  glCreateSamplers(MAX_SAMPLERS, gl.samplers);
  for (int i = 0; i < MAX_SAMPLERS; i++) glBindSampler(i, gl.samplers[i]);

  // The full-screen quad of draw_postfx, in its own vertex array.
  static const float quad[] = {-1, -1, 0, -1, 1, 0, 1, -1, 0, 1, 1, 0};
  glCreateBuffers(1, &gl.postfxVb);
  glNamedBufferStorage(gl.postfxVb, sizeof(quad), quad, 0);
  glCreateVertexArrays(1, &gl.postfxVao);
  glEnableVertexArrayAttrib(gl.postfxVao, 0);
  glVertexArrayAttribFormat(gl.postfxVao, 0, 3, GL_FLOAT, GL_FALSE, 0);
  glVertexArrayAttribBinding(gl.postfxVao, 0, 0);
  glVertexArrayVertexBuffer(gl.postfxVao, 0, gl.postfxVb, 0, 12);

  if (!create_surfaces()) {
    debug("FAILED to create scene z-buffer surface (code 0x%08X)", glGetError());
    close_d3d();
    return false;
  }
  create_queries();
  set_default_sampler_states();
  reset_render_states();
  set_back_buffer_target();
  init_shader_compiler();
  debug("init d3d ok (%dx%d)", d3d_wd, d3d_ht);
  return true;
}

void close_d3d() {
  if (!d3d) return;
  debug("close d3d");
  release_front_buffer();
  release_queries();
  for (Texture& t : d3d_textures)
    if (t.used) release_texture(&t);
  for (VertexBuffer& b : d3d_vbuffers)
    if (b.used) free_vb(&b);
  for (IndexBuffer& b : d3d_ibuffers)
    if (b.used) free_ib(&b);
  d3d_num_vdecls = 0;
  release_all_shaders();
  release_surfaces();
  glDeleteFramebuffers(1, &gl.rtFbo);
  glDeleteFramebuffers(2, gl.copyFbo);
  glDeleteBuffers(3, gl.ubo);
  glDeleteSamplers(MAX_SAMPLERS, gl.samplers);
  glDeleteVertexArrays(1, &gl.vao);
  glDeleteVertexArrays(1, &gl.postfxVao);
  glDeleteBuffers(1, &gl.postfxVb);
  SDL_GL_DeleteContext((SDL_GLContext)d3d);
  d3d = nullptr;
  gl = GlDevice{};
}

bool resize_d3d(int width, int height, bool fullscreen, bool force) {
  if (!d3d) return false;
  if (!fullscreen && (width == 0 || height == 0)) width = d3d_wd, height = d3d_ht;
  if (fullscreen && (width < 1 || height < 1)) {  // no size asked: the desktop mode's
    SDL_DisplayMode dm;
    if (SDL_GetDesktopDisplayMode(0, &dm) == 0) {
      if (width < 1) width = dm.w;
      if (height < 1) height = dm.h;
    }
  }
  if (!force && width == d3d_wd && height == d3d_ht && fullscreen == d3d_fullscreen) return true;
  const char* mode = fullscreen ? "fullscreen" : "windowed";
  debug("=== resizing d3d to %dx%d %s", width, height, mode);
  if (fullscreen != d3d_fullscreen) {
    if (fullscreen) {
      SDL_DisplayMode want = {0, width, height, 0, nullptr}, got;
      if (SDL_GetClosestDisplayMode(0, &want, &got)) SDL_SetWindowDisplayMode(gl.window, &got);
    }
    // The window refusing the mode leaves the device as it was.
    if (SDL_SetWindowFullscreen(gl.window, fullscreen ? SDL_WINDOW_FULLSCREEN : 0) != 0) {
      debug("Reset failed (code 0x%08X)", 0x88760868u);
      return false;
    }
  }

  // Release what Direct3D keeps in the default pool; the slots keep their parameters.
  set_ib(nullptr);
  for (int s = 0; s < 16; s++) set_vb(s, nullptr, 0, 0);
  for (VertexBuffer& b : d3d_vbuffers)
    if (b.used && !(b.flags & VBF_STATIC) && b.buffer) glDeleteBuffers(1, &b.buffer), b.buffer = 0;
  for (IndexBuffer& b : d3d_ibuffers)
    if (b.used && !(b.flags & VBF_STATIC) && b.buffer) glDeleteBuffers(1, &b.buffer), b.buffer = 0;
  for (int s = 0; s < MAX_SAMPLERS; s++) glBindTextureUnit(s, 0);
  for (Texture& t : d3d_textures)
    if (t.used && t.pool == D3DPOOL_DEFAULT) {
      release_gl_texture(&t);
      free(t.lockData);
      t.lockData = nullptr;
    }
  release_queries();
  release_front_buffer();
  release_surfaces();

  d3d_fullscreen = fullscreen;
  d3d_wd = width;
  d3d_ht = height;
  apply_swap_interval();

  for (Texture& t : d3d_textures)
    if (t.used && t.pool == D3DPOOL_DEFAULT && !create_gl_texture(&t))
      debug("error recreating texture (code 0x%08X)", glGetError());
  for (VertexBuffer& b : d3d_vbuffers)
    if (b.used && !(b.flags & VBF_STATIC) && !create_gl_buffer(b.buffer, b.size, b.flags))
      debug("error creating VB (code 0x%08X)", glGetError());
  for (IndexBuffer& b : d3d_ibuffers)
    if (b.used && !(b.flags & VBF_STATIC) && !create_gl_buffer(b.buffer, b.size, b.flags))
      debug("error creating IB (code 0x%08X)", glGetError());
  if (!create_surfaces()) {
    debug("failed to recreate scene RT");
    return false;
  }
  create_queries();
  set_default_sampler_states();
  set_back_buffer_target();
  debug("resized d3d to %dx%d %s", d3d_wd, d3d_ht, mode);
  update_font_scale();  // the bitmap text follows the screen height
  if (d3d_resize_callback) d3d_resize_callback();
  return true;
}

// GL has no device loss: a device that exists can always render.
bool check_d3d_device() { return d3d != nullptr; }

bool render_d3d_frame(float t) {
  if (!d3d) return false;
  GLsync& q = gl.frameQuery[gl.frameQueryIndex];
  if (d3d_limit_buffered_frames && q) {
    GLenum r = glClientWaitSync(q, GL_SYNC_FLUSH_COMMANDS_BIT, 0);
    if (r == GL_TIMEOUT_EXPIRED || r == GL_WAIT_FAILED) return false;
  }
  set_cull_mode(1);
  if (d3d_frame_callback) d3d_frame_callback(t);
  if (q) glDeleteSync(q);
  q = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
  gl.frameQueryIndex ^= 1;
  return true;
}

void present_d3d_frame() {
  if (!d3d) return;
  int dw, dh;
  drawable_size(dw, dh);
  // The back buffer holds its top row first; the window's row 0 is its bottom.
  GLuint back = gl.backFbo[gl.backIndex];
  glBlitNamedFramebuffer(back, 0, 0, 0, d3d_wd, d3d_ht, 0, dh, dw, 0, GL_COLOR_BUFFER_BIT,
                         dw == d3d_wd && dh == d3d_ht ? GL_NEAREST : GL_LINEAR);
  SDL_GL_SwapWindow(gl.window);
  // The presented buffer becomes the front buffer; drawing goes on in the other.
  gl.backIndex ^= 1;
  if (gl.targetIsBackBuffer) glBindFramebuffer(GL_FRAMEBUFFER, gl.backFbo[gl.backIndex]);
}

void render_splash_frame() {
  if (d3d_pump_messages) d3d_pump_messages();
  if (!d3d) return;
  set_back_buffer_target();
  set_cull_mode(1);
  draw_splash();
  present_d3d_frame();
}

void get_d3d_modes(DynArray<D3dMode>& modes) {
  SDL_DisplayMode desk;
  bool haveDesk = SDL_GetDesktopDisplayMode(0, &desk) == 0;
  Uint32 format = haveDesk ? desk.format : (Uint32)SDL_PIXELFORMAT_RGB888;
  int n = SDL_GetNumDisplayModes(0), found = 0;
  for (int i = 0; i < n; i++) {
    SDL_DisplayMode m;
    if (SDL_GetDisplayMode(0, i, &m) != 0 || m.format != format || m.w < 1 || m.h < 1) continue;
    found++;
    D3dMode dm = {m.w, m.h};
    if (modes.find(dm) < 0) modes.push_back(dm);
  }
  // Drivers without a mode list (offscreen, some virtual displays) offer the desktop's.
  D3dMode dm = {desk.w, desk.h};
  if (!found && haveDesk && modes.find(dm) < 0) modes.push_back(dm);
}

// Free texture memory in bytes: the driver's own figure where it reports one
// (NVX_gpu_memory_info, ATI_meminfo), else an estimate of half the free system
// memory, since drivers without those figures (software renderers, shared
// memory GPUs) take textures from system memory.
unsigned get_free_texmem() {
  ASSERT(d3d);
  uint64_t kb = 0;
  if (epoxy_has_gl_extension("GL_NVX_gpu_memory_info")) {
    GLint v = 0;
    glGetIntegerv(GL_GPU_MEMORY_INFO_CURRENT_AVAILABLE_VIDMEM_NVX, &v);
    kb = (uint64_t)v;
  } else if (epoxy_has_gl_extension("GL_ATI_meminfo")) {
    GLint v[4] = {};
    glGetIntegerv(GL_TEXTURE_FREE_MEMORY_ATI, v);
    kb = (uint64_t)v[0];
  } else {
    kb = (uint64_t)sysconf(_SC_AVPHYS_PAGES) * (uint64_t)sysconf(_SC_PAGESIZE) / 2048;
  }
  uint64_t bytes = kb * 1024;
  return bytes > 0xFFFFFFFFull ? 0xFFFFFFFFu : (unsigned)bytes;
}

void flush_gpu() {
  ASSERT(gl.flushQuery);
  glDeleteSync(gl.flushQuery);
  gl.flushQuery = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
  while (glClientWaitSync(gl.flushQuery, GL_SYNC_FLUSH_COMMANDS_BIT, 1000000) == GL_TIMEOUT_EXPIRED) {
  }
}
