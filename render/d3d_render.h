// Render device layer over OpenGL 4.5 core.
//
// The rest of the renderer is written against Direct3D 9's model, and this
// layer keeps that model visible: textures, buffers and vertex declarations
// are slots of fixed tables with stable addresses, formats and usages are
// Direct3D's codes, matrices are used with row vectors, clip-space depth runs
// 0..1, row 0 of every render target (and of every texture) is its top row,
// and rasterisation uses Direct3D 9's pixel centres at integer coordinates
// (every vertex program is shifted by half a pixel, see d3d_shaders.h).
//
// The back buffer is an offscreen framebuffer of d3d_wd x d3d_ht, copied to
// the window at present_d3d_frame; the previous one is kept as the "front
// buffer" for grab_front_buffer. Shader constants are two uniform blocks of
// float4 registers, textures are bound to samplers 0..15.
#pragma once
#include <cstdint>
#include "lib/color.h"
#include "lib/dynArray.h"
#include "lib/vecmath.h"

struct SDL_Window;
struct Shader;

// Direct3D format codes kept in Texture::format.
enum : int {
  D3DFMT_A8R8G8B8 = 21,
  D3DFMT_X8R8G8B8 = 22,
  D3DFMT_R5G6B5 = 23,
  D3DFMT_A1R5G5B5 = 25,
  D3DFMT_A4R4G4B4 = 26,
  D3DFMT_G16R16 = 34,
  D3DFMT_L8 = 50,
  D3DFMT_D24S8 = 75,
  D3DFMT_R16F = 111,
  D3DFMT_G16R16F = 112,
  D3DFMT_A16B16G16R16F = 113,
  D3DFMT_R32F = 114,
  D3DFMT_G32R32F = 115,
  D3DFMT_A32B32G32R32F = 116,
  D3DFMT_DXT1 = 0x31545844,  // "DXT1"
  D3DFMT_DXT3 = 0x33545844,
  D3DFMT_DXT5 = 0x35545844,
};
enum : int { D3DUSAGE_RENDERTARGET = 0x1, D3DUSAGE_DYNAMIC = 0x200 };
enum : int { D3DPOOL_DEFAULT = 0, D3DPOOL_MANAGED = 1 };
enum : int {
  D3DPT_POINTLIST = 1,
  D3DPT_LINELIST = 2,
  D3DPT_LINESTRIP = 3,
  D3DPT_TRIANGLELIST = 4,
  D3DPT_TRIANGLESTRIP = 5,
  D3DPT_TRIANGLEFAN = 6,
};
// Comparison values of set_stencil_test.
enum : int {
  D3DCMP_NEVER = 1,
  D3DCMP_LESS,
  D3DCMP_EQUAL,
  D3DCMP_LESSEQUAL,
  D3DCMP_GREATER,
  D3DCMP_NOTEQUAL,
  D3DCMP_GREATEREQUAL,
  D3DCMP_ALWAYS,
};

constexpr int MAX_TEXTURES = 1000;
constexpr int MAX_BUFFERS = 1000;
constexpr int MAX_VDECL = 64;
constexpr int MAX_VDECL_LEN = 32;  // elements of one description, the end element included
constexpr int MAX_SAMPLERS = 16;
constexpr int MAX_RENDER_TARGETS = 4;
constexpr int MAX_VS_CONSTS = 256;  // float4 registers
constexpr int MAX_PS_CONSTS = 224;

// One slot of the texture table; a Texture* stays valid until the slot is released.
struct Texture {
  unsigned texture;  // GL texture name; 0 while released or lost
  int width;         // 0 together with height 0: the size of the back buffer
  int height;
  int levels;
  int usage;   // 0, D3DUSAGE_DYNAMIC or D3DUSAGE_RENDERTARGET
  int format;  // Direct3D format
  int pool;    // D3DPOOL_DEFAULT (recreated on reset) or D3DPOOL_MANAGED
  bool used;
  // Lock of level 0: CPU copy written back at unlock.
  uint8_t* lockData;
  int lockPitch;
};

// One slot of a buffer table; size in bytes (index buffers: count x 2).
struct VertexBuffer {
  unsigned buffer;
  int size;
  int flags;  // bit 0: static
  bool used;
};
struct IndexBuffer {
  unsigned buffer;
  int size;
  int flags;
  bool used;
};
enum : int { VBF_STATIC = 1 };

// Vertex stream description element; a description ends with stream 255.
struct vsd {
  uint16_t offset;
  uint8_t stream;
  uint8_t type;   // VSDT_*
  uint8_t usage;  // VSDU_*
  uint8_t usageIndex;
};
static_assert(sizeof(vsd) == 6, "vsd elements are 6 bytes");
enum : uint8_t {
  VSDT_FLOAT1 = 1,
  VSDT_FLOAT2,
  VSDT_FLOAT3,
  VSDT_FLOAT4,
  VSDT_D3DCOLOR,
  VSDT_SHORT2,
  VSDT_SHORT4,
};
enum : uint8_t { VSDU_POSITION = 0, VSDU_NORMAL, VSDU_COLOR, VSDU_TEXCOORD, VSDU_TANGENT };
#define VSD_ELEM(offset, stream, type, usage, index) \
  vsd { (uint16_t)(offset), (uint8_t)(stream), (uint8_t)(type), (uint8_t)(usage), (uint8_t)(index) }
#define VSD_END vsd{0, 255, 0, 0, 0}

// A Direct3D vertex element (stream, offset, declaration type, method, usage,
// usage index); the cache compares declarations in this form.
struct D3dVertexElement {
  uint16_t stream, offset;
  uint8_t type, method, usage, usageIndex;
};
// A cached vertex declaration: its translated elements, the end element included.
struct VertexDecl {
  D3dVertexElement elems[MAX_VDECL_LEN + 1];
  int count;
};

struct D3dMode {
  int width, height;
  bool operator==(const D3dMode& o) const { return width == o.width && height == o.height; }
};

// Device globals.
extern void* d3d;  // the GL context; null before init_d3d and after close_d3d
extern int d3d_wd, d3d_ht;
extern bool d3d_limit_buffered_frames;
extern bool d3d_fullscreen;  // the device's current window mode
extern bool d3d_vsync;       // present with vertical sync (taken at init and every reset)

// Hooks the application sets: the frame sequence (called by render_d3d_frame
// between begin and end of scene), the resize notification (after every
// successful resize_d3d, which has already updated the bitmap font's scale)
// and the window message pump (before each splash frame).
extern void (*d3d_frame_callback)(float t);
extern void (*d3d_resize_callback)();
extern void (*d3d_pump_messages)();

// Device lifecycle and frame.
bool init_d3d(SDL_Window* window, int width, int height, bool fullscreen, bool vsync);
void close_d3d();
bool resize_d3d(int width, int height, bool fullscreen, bool force);
bool check_d3d_device();
bool render_d3d_frame(float t);
void present_d3d_frame();
void render_splash_frame();
void get_d3d_modes(DynArray<D3dMode>& modes);
unsigned get_free_texmem();
void flush_gpu();

// Render states.
void set_blend_none();
void set_blend_additive();
void set_blend_smooth_add();
void set_blend_alpha();
void set_blend_prealpha();
void set_blend_multiply();
void set_blend_min();
void set_blend_max();
void set_atest(int ref);
void set_cull_mode(int mode);
void set_zenable(bool on);
void set_zwrite(bool on);
void set_color_write_mask(int mask);
void set_wireframe(bool on);
void set_stencil_test(int mask, int ref, int func);
void set_stencil_replace_bits(int bits);

// Transforms, viewport and clears.
void set_viewport(int x, int y, int width, int height);
void set_view_tm(const Matrix44& tm);
void set_proj_tm(const Matrix44& tm);
void set_proj_tm(float fov, float aspect, float znear, float zfar);
void get_glob_tm(Matrix44& out);
void clear_view(D3dColor color);
void clear_view_color(D3dColor color);
void clear_view_z();

// Textures.
int tex_format_to_d3d(int code);  // 0 for an unknown code
Texture* create_texture(int width, int height, int levels, int usage, int format, int pool);
Texture* create_dynamic_texture(int width, int height, int format_code);
Texture* create_managed_texture(int width, int height);
Texture* create_render_texture(int width, int height, int format_code);
Texture* create_screen_render_texture();
void release_texture(Texture* tex);
// Gives holder the device texture and parameters of fresh and frees fresh's
// slot, so that every holder of the Texture* sees the new image.
void replace_texture(Texture* holder, Texture* fresh);
unsigned get_d3d_texture(Texture* tex);
void* lock_texture(Texture* tex, int& pitch, bool discard);
void unlock_texture(Texture* tex);
void set_texture(int stage, Texture* tex);
void set_texture_filter(int stage, bool linear);
void set_texture_address(int stage, int u, int v = -1, int w = -1);
void set_render_target(Texture* tex, int index, bool with_depth);
void set_back_buffer_target();
void copy_texture(Texture* fromTex, Texture* toTex);
bool copy_back_buffer(Texture* to);
bool check_rt_blending(int format_code);
// Level size in bytes of a texture of that format (block rule for DXT).
int texture_level_bytes(int format, int width, int height);
// Uploads one whole mip level from memory laid out as Direct3D would lock it
// (rows of pitch bytes, blocks for DXT); false on a GL error.
bool upload_texture_level(Texture* tex, int level, const void* data, int pitch);

// Vertex and index buffers, declarations and instancing.
VertexBuffer* create_vb(int size, int flags);
void free_vb(VertexBuffer* vb);
void* lock_vb(VertexBuffer* vb, int offset, int size);
void unlock_vb(VertexBuffer* vb);
void set_vb(int stream, VertexBuffer* vb, int offset, int stride);
IndexBuffer* create_ib(int count, int flags);
void free_ib(IndexBuffer* ib);
void* lock_ib(IndexBuffer* ib, int offset, int size);
void unlock_ib(IndexBuffer* ib);
void set_ib(IndexBuffer* ib);
VertexDecl* get_vdecl(const vsd* desc);
void set_vdecl(VertexDecl* decl);
void set_instancing(int count);

// Shaders and drawing.
void set_shader(Shader* s);
void set_vs_consts(int first, const float* data, int count);
void set_ps_consts(int first, const float* data, int count);
void draw_indexed(int prim_type, int base_vertex, int min_index, int num_verts, int start_index,
                  int prim_count);
void draw_prim(int prim_type, int start_vertex, int prim_count);
void draw_postfx();

// Front buffer: the last presented frame, A8R8G8B8 rows top first.
void* grab_front_buffer(int& width, int& height, int& pitch);
void release_front_buffer();
// Saves the last presented frame as a PNG (temporary file renamed over the
// target); false with a logged reason on failure.
bool save_screenshot_png(const char* path);

// Tables, for tests and tools: the slot arrays themselves.
extern Texture d3d_textures[MAX_TEXTURES];
extern VertexBuffer d3d_vbuffers[MAX_BUFFERS];
extern IndexBuffer d3d_ibuffers[MAX_BUFFERS];
extern VertexDecl d3d_vdecls[MAX_VDECL];
extern int d3d_num_vdecls;
