// The device layer on real GL: tables and their limits, declarations, the
// Direct3D conventions kept over GL (culling, clip depth, target orientation,
// pixel centres), resizes, frames and the front buffer.
#include <epoxy/gl.h>
#include <cstring>
#include "render/d3d_internal.h"
#include "render/d3d_shaders.h"
#include "tests/render/gl_fixture.h"

static int gl_texture_width(Texture* t) {
  GLint w = 0;
  glGetTextureLevelParameteriv(t->texture, 0, GL_TEXTURE_WIDTH, &w);
  return w;
}

TEST(Device, ScreenSizedTextureFollowsResize) {
  Texture* t = create_texture(0, 0, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(gl_texture_width(t), TEST_WD);
  ASSERT_TRUE(resize_d3d(96, 64, false, false));
  EXPECT_EQ(d3d_wd, 96);
  EXPECT_EQ(t->width, 0);  // the slot keeps 0 x 0 and follows the back buffer
  EXPECT_EQ(gl_texture_width(t), 96);
  ASSERT_TRUE(resize_d3d(TEST_WD, TEST_HT, false, false));
  EXPECT_EQ(gl_texture_width(t), TEST_WD);
  release_texture(t);
}

TEST(Device, ResizeToTheSameSizeWithoutForceDoesNothing) {
  testing::internal::CaptureStdout();
  EXPECT_TRUE(resize_d3d(TEST_WD, TEST_HT, false, false));
  EXPECT_TRUE(resize_d3d(0, 0, false, false));  // windowed 0 x 0 keeps the current size
  EXPECT_EQ(testing::internal::GetCapturedStdout().find("resizing"), std::string::npos);
}

TEST(Device, DynamicBuffersComeBackEmptyAfterAReset) {
  VertexBuffer* dyn = create_vb(64, 0);
  VertexBuffer* st = create_vb(64, VBF_STATIC);
  unsigned before = st->buffer;
  ASSERT_TRUE(resize_d3d(TEST_WD, TEST_HT, false, true));
  EXPECT_TRUE(dyn->used);
  EXPECT_NE(dyn->buffer, 0u);
  EXPECT_EQ(st->buffer, before);  // static buffers survive with their contents
  free_vb(dyn);
  free_vb(st);
}

// The 1001st request fails with the table's message; a freed slot is reused.
TEST(Device, TablesHoldAThousandEntries) {
  Texture* tex[MAX_TEXTURES] = {};
  VertexBuffer* vb[MAX_BUFFERS] = {};
  IndexBuffer* ib[MAX_BUFFERS] = {};
  int texBase = 0;
  for (Texture& t : d3d_textures) texBase += t.used;  // slots other tests keep
  int vbBase = 0;
  for (VertexBuffer& b : d3d_vbuffers) vbBase += b.used;
  for (int i = 0; i < MAX_TEXTURES - texBase; i++) ASSERT_NE(tex[i] = create_texture(1, 1, 1, 0, D3DFMT_A8R8G8B8, 1), nullptr);
  for (int i = 0; i < MAX_BUFFERS - vbBase; i++) ASSERT_NE(vb[i] = create_vb(16, VBF_STATIC), nullptr);
  int ibBase = 0;
  for (IndexBuffer& b : d3d_ibuffers) ibBase += b.used;
  for (int i = 0; i < MAX_BUFFERS - ibBase; i++) ASSERT_NE(ib[i] = create_ib(8, VBF_STATIC), nullptr);
  testing::internal::CaptureStdout();
  EXPECT_EQ(create_texture(1, 1, 1, 0, D3DFMT_A8R8G8B8, 1), nullptr);
  EXPECT_EQ(create_vb(16, VBF_STATIC), nullptr);
  EXPECT_EQ(create_ib(8, VBF_STATIC), nullptr);
  std::string log = testing::internal::GetCapturedStdout();
  EXPECT_NE(log.find("reached MAX_TEXTURES"), std::string::npos);
  EXPECT_NE(log.find("reached MAX_BUFFERS for VB"), std::string::npos);
  EXPECT_NE(log.find("reached MAX_BUFFERS for IB"), std::string::npos);

  Texture* freedTex = tex[500];
  VertexBuffer* freedVb = vb[500];
  IndexBuffer* freedIb = ib[500];
  release_texture(freedTex);
  free_vb(freedVb);
  free_ib(freedIb);
  EXPECT_EQ(tex[500] = create_texture(1, 1, 1, 0, D3DFMT_A8R8G8B8, 1), freedTex);
  EXPECT_EQ(vb[500] = create_vb(16, VBF_STATIC), freedVb);
  EXPECT_EQ(ib[500] = create_ib(8, VBF_STATIC), freedIb);
  for (Texture* t : tex) release_texture(t);
  for (VertexBuffer* b : vb) free_vb(b);
  for (IndexBuffer* b : ib) free_ib(b);
}

TEST(Device, FormatCodesAndUnknownFormats) {
  EXPECT_EQ(tex_format_to_d3d(1), D3DFMT_A8R8G8B8);
  EXPECT_EQ(tex_format_to_d3d(8), D3DFMT_A16B16G16R16F);
  EXPECT_EQ(tex_format_to_d3d(11), D3DFMT_A32B32G32R32F);
  EXPECT_EQ(tex_format_to_d3d(12), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(create_dynamic_texture(4, 4, 0), nullptr);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("error creating texture"), std::string::npos);
  for (int code = 1; code <= 11; code++) {
    Texture* t = create_render_texture(8, 8, code);
    EXPECT_NE(t, nullptr) << code;
    release_texture(t);
  }
  EXPECT_TRUE(check_rt_blending(8));
  EXPECT_FALSE(check_rt_blending(0));
}

static std::vector<vsd> layout_of(int elements) {
  std::vector<vsd> d;
  for (int i = 0; i < elements; i++) d.push_back(VSD_ELEM(i * 4, 0, VSDT_FLOAT1, VSDU_TEXCOORD, i % 8));
  d.push_back(VSD_END);
  return d;
}

TEST(Device, DeclarationsAreSharedAndLimitedTo31Elements) {
  static const vsd a[] = {VSD_ELEM(0, 0, VSDT_FLOAT3, VSDU_POSITION, 0), VSD_ELEM(12, 0, VSDT_D3DCOLOR, VSDU_COLOR, 0), VSD_END};
  static const vsd b[] = {VSD_ELEM(0, 0, VSDT_FLOAT3, VSDU_POSITION, 0), VSD_ELEM(12, 0, VSDT_D3DCOLOR, VSDU_COLOR, 0), VSD_END};
  static const vsd c[] = {VSD_ELEM(0, 0, VSDT_FLOAT3, VSDU_POSITION, 0), VSD_ELEM(12, 0, VSDT_D3DCOLOR, VSDU_COLOR, 1), VSD_END};
  int before = d3d_num_vdecls;
  VertexDecl* da = get_vdecl(a);
  EXPECT_EQ(get_vdecl(b), da);
  EXPECT_NE(get_vdecl(c), da);
  EXPECT_EQ(da->count, 3);  // the end element counts
  EXPECT_EQ(d3d_num_vdecls, before + 2);

  // 31 elements (repeating usage indices would clash on GL, so use unused types).
  std::vector<vsd> d31 = layout_of(31);
  for (int i = 8; i < 31; i++) d31[i].type = 0;  // UNUSED: passed through, no attribute
  EXPECT_EQ(get_vdecl(d31.data())->count, 32);
  std::vector<vsd> d32 = layout_of(32);
  for (int i = 8; i < 32; i++) d32[i].type = 0;
  EXPECT_EXIT(get_vdecl(d32.data()), testing::ExitedWithCode(100), "failed ASSERT\\(i<MAX_VDECL_LEN\\)");
}

TEST(Device, DeclarationGlCannotTakeDumpsTheDescription) {
  static const vsd clash[] = {VSD_ELEM(0, 0, VSDT_FLOAT3, VSDU_POSITION, 0), VSD_ELEM(12, 1, VSDT_FLOAT3, VSDU_POSITION, 0), VSD_END};
  EXPECT_EXIT(get_vdecl(clash), testing::ExitedWithCode(100), "failed to create vertex declaration");
}

// Triangle (0,0) (0.5,0.5) (0.5,0): clockwise on screen when y points up in
// clip space, which is Direct3D's front face.
static const float cw_tri[] = {-1, -1, 0.5f, -1, 1, 0.5f, 1, 1, 0.5f};
static const float ccw_tri[] = {-1, -1, 0.5f, 1, 1, 0.5f, -1, 1, 0.5f};

static void clear_back(uint32_t c) {
  set_back_buffer_target();
  clear_view(D3dColor(c));
}

TEST(Device, CullModes) {
  set_blend_none();
  struct Case {
    int mode;
    bool cwDrawn, ccwDrawn;
  } cases[] = {{0, true, true}, {1, true, false}, {-1, false, true}};
  for (const Case& c : cases) {
    set_cull_mode(c.mode);
    set_solid_color(1, 0, 0, 1);
    clear_back(0xFF000000);
    draw_clip_triangles(cw_tri, 1);
    EXPECT_EQ(target_pixel(2, 2) == 0xFFFF0000u, c.cwDrawn) << "mode " << c.mode;
    clear_back(0xFF000000);
    draw_clip_triangles(ccw_tri, 1);
    EXPECT_EQ(target_pixel(2, 2) == 0xFFFF0000u, c.ccwDrawn) << "mode " << c.mode;
  }
  set_cull_mode(1);
}

// Clip y up is the target's row 0; depth outside 0..1 is clipped.
TEST(Device, ClipSpaceIsDirect3Ds) {
  set_cull_mode(0);
  set_solid_color(0, 1, 0, 1);
  clear_back(0xFF000000);
  const float top_half[] = {-1, 0, 0.5f, -1, 1, 0.5f, 1, 1, 0.5f, -1, 0, 0.5f, 1, 1, 0.5f, 1, 0, 0.5f};
  draw_clip_triangles(top_half, 2);
  EXPECT_EQ(target_pixel(5, 2), 0xFF00FF00u);             // row 2 is near the top
  EXPECT_EQ(target_pixel(5, TEST_HT - 3), 0xFF000000u);   // the bottom stays clear

  Texture* rt = create_render_texture(16, 16, 1);
  set_render_target(rt, 0, false);
  clear_view(D3dColor(0xFF000000));
  draw_clip_triangles(top_half, 2);
  EXPECT_EQ(texture_pixel(rt, 3, 1), 0xFF00FF00u);  // the texture's row 0 is its top too
  EXPECT_EQ(texture_pixel(rt, 3, 14), 0xFF000000u);

  set_back_buffer_target();
  clear_view(D3dColor(0xFF000000));
  const float behind[] = {-1, -1, -0.25f, -1, 1, -0.25f, 1, 1, -0.25f};
  draw_clip_triangles(behind, 1);
  EXPECT_EQ(target_pixel(2, 2), 0xFF000000u);  // z < 0 is in front of the near plane
  release_texture(rt);
  set_cull_mode(1);
}

// A quad over pixel columns [2, 4) covers exactly columns 2 and 3 when the
// geometry is given in Direct3D 9's convention (pixel centres at integers,
// so the edges lie at 1.5 and 3.5).
TEST(Device, PixelCentresAreDirect3D9s) {
  set_cull_mode(0);
  set_solid_color(1, 1, 1, 1);
  clear_back(0xFF000000);
  auto cx = [](float px) { return px / TEST_WD * 2 - 1; };
  float x0 = cx(1.5f), x1 = cx(3.5f);
  const float quad[] = {x0, -1, 0.5f, x0, 1, 0.5f, x1, 1, 0.5f, x0, -1, 0.5f, x1, 1, 0.5f, x1, -1, 0.5f};
  draw_clip_triangles(quad, 2);
  EXPECT_EQ(target_pixel(1, 10), 0xFF000000u);
  EXPECT_EQ(target_pixel(2, 10), 0xFFFFFFFFu);
  EXPECT_EQ(target_pixel(3, 10), 0xFFFFFFFFu);
  EXPECT_EQ(target_pixel(4, 10), 0xFF000000u);

  // A centre on a shared edge belongs to the primitive right of it (Direct3D's
  // top-left rule), whichever is drawn last; edges on the target's border keep
  // their pixels.
  clear_back(0xFF000000);
  float e0 = cx(0), e4 = cx(4), e8 = cx(8);
  const float right[] = {e4, -1, 0.5f, e4, 1, 0.5f, e8, 1, 0.5f, e4, -1, 0.5f, e8, 1, 0.5f, e8, -1, 0.5f};
  const float left[] = {e0, -1, 0.5f, e0, 1, 0.5f, e4, 1, 0.5f, e0, -1, 0.5f, e4, 1, 0.5f, e4, -1, 0.5f};
  set_solid_color(0, 1, 0, 1);
  draw_clip_triangles(right, 2);
  set_solid_color(1, 0, 0, 1);
  draw_clip_triangles(left, 2);
  EXPECT_EQ(target_pixel(0, 0), 0xFFFF0000u);
  EXPECT_EQ(target_pixel(3, 0), 0xFFFF0000u);
  EXPECT_EQ(target_pixel(4, 0), 0xFF00FF00u);
  EXPECT_EQ(target_pixel(7, TEST_HT - 1), 0xFF00FF00u);
  EXPECT_EQ(target_pixel(8, 0), 0xFF000000u);
  set_cull_mode(1);
}

TEST(Device, TextureAddressAndFilter) {
  set_texture_address(3, 2, -1, -1);
  GLint m[3];
  glGetSamplerParameteriv(gl.samplers[3], GL_TEXTURE_WRAP_S, &m[0]);
  glGetSamplerParameteriv(gl.samplers[3], GL_TEXTURE_WRAP_T, &m[1]);
  glGetSamplerParameteriv(gl.samplers[3], GL_TEXTURE_WRAP_R, &m[2]);
  for (GLint v : m) EXPECT_EQ(v, GL_CLAMP_TO_BORDER);
  set_texture_address(3, 0, 1, -1);
  glGetSamplerParameteriv(gl.samplers[3], GL_TEXTURE_WRAP_S, &m[0]);
  glGetSamplerParameteriv(gl.samplers[3], GL_TEXTURE_WRAP_T, &m[1]);
  glGetSamplerParameteriv(gl.samplers[3], GL_TEXTURE_WRAP_R, &m[2]);
  EXPECT_EQ(m[0], GL_REPEAT);
  EXPECT_EQ(m[1], GL_CLAMP_TO_EDGE);
  EXPECT_EQ(m[2], GL_CLAMP_TO_EDGE);  // w takes v's value
  set_texture_address(3, 1);
}

TEST(Device, DrawsOfZeroPrimitivesDrawNothing) {
  set_cull_mode(0);
  clear_back(0xFF000000);
  set_shader(solid_shader());
  draw_prim(D3DPT_TRIANGLELIST, 0, 0);
  draw_indexed(D3DPT_TRIANGLELIST, 0, 0, 3, 0, 0);
  draw_prim(D3DPT_TRIANGLESTRIP, 0, -1);
  EXPECT_EQ(target_pixel(2, 2), 0xFF000000u);
  set_cull_mode(1);
}

TEST(Device, LockedTexturesKeepTheirRows) {
  Texture* t = create_dynamic_texture(4, 2, 1);
  int pitch = 0;
  uint32_t* p = (uint32_t*)lock_texture(t, pitch, true);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(pitch, 16);
  for (int i = 0; i < 8; i++) p[i] = 0xFF000000u | (uint32_t)i;
  unlock_texture(t);
  EXPECT_EQ(texture_pixel(t, 1, 0), 0xFF000001u);
  EXPECT_EQ(texture_pixel(t, 2, 1), 0xFF000006u);
  // A lock without discard shows the contents.
  p = (uint32_t*)lock_texture(t, pitch, false);
  EXPECT_EQ(p[5], 0xFF000005u);
  unlock_texture(t);
  release_texture(t);
  testing::internal::CaptureStdout();
  Texture gone = {};
  EXPECT_EQ(lock_texture(&gone, pitch, false), nullptr);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("error locking texture (code 0x"), std::string::npos);
}

TEST(Device, ProjectionIsLeftHandedWithDepthZeroToOne) {
  set_view_tm(Matrix44::identity());
  set_proj_tm(1.0f, 2.0f, 1.0f, 101.0f);
  Matrix44 g;
  get_glob_tm(g);
  auto depth = [&](float z) {
    alignas(16) float v[4];
    _mm_store_ps(v, mat_transform(v_make(0, 0, z, 1), g));
    return v[2] / v[3];
  };
  EXPECT_NEAR(depth(1.0f), 0.0f, 1e-6f);
  EXPECT_NEAR(depth(101.0f), 1.0f, 1e-6f);
  EXPECT_NEAR(g.m[1][1], 1.0f / tanf(0.5f), 1e-6f);
  EXPECT_NEAR(g.m[0][0], g.m[1][1] / 2.0f, 1e-6f);
}

static int frames_drawn = 0;
static void count_frame(float) {
  frames_drawn++;
  set_back_buffer_target();
  clear_view(D3dColor(0xFF112233));
}

// A frame runs the callback, presents, and the presented frame is the front buffer.
TEST(Device, FramesPresentAndGrab) {
  d3d_frame_callback = count_frame;
  ASSERT_TRUE(render_d3d_frame(0.5f));
  EXPECT_EQ(frames_drawn, 1);
  present_d3d_frame();
  // The next frame draws into the other buffer; the front keeps the presented one.
  d3d_frame_callback = [](float) { clear_view(D3dColor(0xFFFFFFFF)); };
  render_d3d_frame(0.5f);
  int w = 0, h = 0, pitch = 0;
  uint32_t* p = (uint32_t*)grab_front_buffer(w, h, pitch);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(w, TEST_WD);
  EXPECT_EQ(h, TEST_HT);
  EXPECT_EQ(pitch, TEST_WD * 4);
  EXPECT_EQ(p[0], 0xFF112233u);
  EXPECT_EQ(p[(h - 1) * w + w - 1], 0xFF112233u);
  release_front_buffer();
  present_d3d_frame();
  flush_gpu();
  d3d_frame_callback = nullptr;

  std::string png = test_app_dir().file("shot.png");
  ASSERT_TRUE(save_screenshot_png(png.c_str()));
  std::string data;
  ASSERT_TRUE(read_file(png, data));
  EXPECT_EQ(data.substr(1, 3), "PNG");
}

TEST(Device, ModesAndMemory) {
  DynArray<D3dMode> modes;
  get_d3d_modes(modes);
  get_d3d_modes(modes);  // appends only pairs not yet there
  ASSERT_GE(modes.count(), 1);
  for (int i = 0; i < modes.count(); i++)
    for (int j = i + 1; j < modes.count(); j++) EXPECT_FALSE(modes[i] == modes[j]);
  EXPECT_GT(get_free_texmem(), 0u);
  EXPECT_TRUE(check_d3d_device());
}

// Stream 1 advances once per instance: two instances of one triangle, moved
// by their instance offsets, land in two places.
TEST(Device, InstancingDrawsEveryInstance) {
  write_app_file("inst.sh",
                 "#ifdef VSH\nlayout(location = 0) in vec4 pos;\nlayout(location = 5) in vec4 ofs;\n"
                 "void vsh() { gl_Position = vec4(pos.xy + ofs.xy, 0.5, 1.0); }\n#endif\n"
                 "#ifdef PSH\nvoid psh() { ps_out0 = vec4(1, 1, 1, 1); }\n#endif\n");
  Shader* s = create_shader("inst.sh");
  static const vsd desc[] = {VSD_ELEM(0, 0, VSDT_FLOAT2, VSDU_POSITION, 0), VSD_ELEM(0, 1, VSDT_FLOAT2, VSDU_TEXCOORD, 1), VSD_END};
  const float tri[] = {-1, 1, -0.9f, 1, -1, 0.9f};  // a small triangle at the top-left corner
  const float ofs[] = {0, 0, 1, -1};               // the second instance in the middle
  const uint16_t idx[] = {0, 1, 2};
  VertexBuffer* geo = create_vb(sizeof(tri), VBF_STATIC);
  VertexBuffer* inst = create_vb(sizeof(ofs), VBF_STATIC);
  IndexBuffer* ib = create_ib(3, VBF_STATIC);
  memcpy(lock_vb(geo, 0, sizeof(tri)), tri, sizeof(tri));
  unlock_vb(geo);
  memcpy(lock_vb(inst, 0, sizeof(ofs)), ofs, sizeof(ofs));
  unlock_vb(inst);
  memcpy(lock_ib(ib, 0, sizeof(idx)), idx, sizeof(idx));
  unlock_ib(ib);
  clear_back(0xFF000000);
  set_cull_mode(0);
  set_shader(s);
  set_vdecl(get_vdecl(desc));
  set_vb(0, geo, 0, 8);
  set_vb(1, inst, 0, 8);
  set_ib(ib);
  set_instancing(2);
  draw_indexed(D3DPT_TRIANGLELIST, 0, 0, 3, 0, 1);
  set_instancing(0);
  EXPECT_EQ(target_pixel(1, 1), 0xFFFFFFFFu);
  EXPECT_EQ(target_pixel(TEST_WD / 2 + 1, TEST_HT / 2 + 1), 0xFFFFFFFFu);
  EXPECT_EQ(target_pixel(TEST_WD - 2, TEST_HT - 2), 0xFF000000u);
  set_ib(nullptr);
  set_vb(1, nullptr, 0, 0);
  free_vb(geo);
  free_vb(inst);
  free_ib(ib);
  destroy_shader(s);
  set_cull_mode(1);
}

// The scene depth surface comes with texture target 0 only when asked for:
// stencil marks and depth tests work there; a target without it ignores them.
TEST(Device, SceneDepthSurfaceOnTextureTargets) {
  Texture* rt = create_render_texture(TEST_WD, TEST_HT, 1);
  set_render_target(rt, 0, true);
  set_cull_mode(0);
  clear_view(D3dColor(0xFF000000));
  const float left_half[] = {-1, -1, 0.5f, -1, 1, 0.5f, 0, 1, 0.5f, -1, -1, 0.5f, 0, 1, 0.5f, 0, -1, 0.5f};
  const float all_far[] = {-1, -1, 0.9f, -1, 1, 0.9f, 1, 1, 0.9f, -1, -1, 0.9f, 1, 1, 0.9f, 1, -1, 0.9f};
  set_zenable(true);
  set_stencil_test(0xFF, 1, D3DCMP_ALWAYS);
  set_stencil_replace_bits(1);
  set_solid_color(1, 0, 0, 1);
  draw_clip_triangles(left_half, 2);  // red, depth 0.5, stencil 1
  set_stencil_replace_bits(0);
  set_stencil_test(0xFF, 0, D3DCMP_EQUAL);  // only where no mark was made
  set_solid_color(0, 1, 0, 1);
  draw_clip_triangles(all_far, 2);
  EXPECT_EQ(texture_pixel(rt, 10, 10), 0xFFFF0000u);
  EXPECT_EQ(texture_pixel(rt, TEST_WD - 10, 10), 0xFF00FF00u);
  set_stencil_test(0, 0, D3DCMP_ALWAYS);
  set_solid_color(0, 0, 1, 1);
  draw_clip_triangles(all_far, 2);  // behind the red half: depth keeps it
  EXPECT_EQ(texture_pixel(rt, 10, 10), 0xFFFF0000u);
  EXPECT_EQ(texture_pixel(rt, TEST_WD - 10, 10), 0xFF0000FFu);
  set_render_target(rt, 0, false);  // no depth surface: the far quad covers all
  set_solid_color(1, 1, 1, 1);
  draw_clip_triangles(all_far, 2);
  EXPECT_EQ(texture_pixel(rt, 10, 10), 0xFFFFFFFFu);
  set_zenable(false);
  set_stencil_replace_bits(0xFF);
  set_cull_mode(1);
  set_back_buffer_target();
  release_texture(rt);
}
