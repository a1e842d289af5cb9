#include "tests/render/gl_fixture.h"
#include <cstring>
#include <epoxy/gl.h>
#include "platform/paths.h"
#include "render/d3d_internal.h"
#include "render/d3d_shaders.h"
#include "render/renderBatch.h"
#include "tests/support/test_support.h"

static SDL_Window* window = nullptr;
static TempDir* app_dir = nullptr;

namespace {
struct GlEnvironment : ::testing::Environment {
  void SetUp() override {
    // Death tests start a fresh copy of the program: the driver runs threads.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    app_dir = new TempDir();
    snprintf(app_path, sizeof(app_path), "%s/", app_dir->path.c_str());
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    window = SDL_CreateWindow("render test", 0, 0, TEST_WD, TEST_HT, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    ASSERT_NE(window, nullptr) << SDL_GetError();
    ASSERT_TRUE(init_d3d(window, TEST_WD, TEST_HT, false, false));
    common_vb_writer.init(65536, 4);
  }
  void TearDown() override {
    common_vb_writer.close();
    close_d3d();
    SDL_DestroyWindow(window);
    SDL_Quit();
    delete app_dir;
  }
};
const auto* env = ::testing::AddGlobalTestEnvironment(new GlEnvironment);
}  // namespace

SDL_Window* test_window() { return window; }
const TempDir& test_app_dir() { return *app_dir; }

void write_app_file(const std::string& name, const std::string& text) {
  ASSERT_TRUE(write_file(app_dir->file(name), text)) << name;
}

uint32_t target_pixel(int x, int y) {
  uint32_t p = 0;
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, y, 1, 1, GL_BGRA, GL_UNSIGNED_BYTE, &p);
  return p;
}

uint32_t texture_pixel(Texture* tex, int x, int y) {
  GLuint fbo;
  glCreateFramebuffers(1, &fbo);
  glNamedFramebufferTexture(fbo, GL_COLOR_ATTACHMENT0, tex->texture, 0);
  GLint prev;
  glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &prev);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo);
  uint32_t p = target_pixel(x, y);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, prev);
  glDeleteFramebuffers(1, &fbo);
  return p;
}

Shader* solid_shader() {
  static Shader* s = nullptr;
  if (!s) {
    write_app_file("solid.sh",
                   "#ifdef VSH\nlayout(location = 0) in vec4 pos;\nvoid vsh() { gl_Position = vec4(pos.xyz, 1.0); }\n#endif\n"
                   "#ifdef PSH\nvoid psh() { ps_out0 = ps_c[0]; }\n#endif\n");
    s = create_shader("solid.sh");
  }
  return s;
}

void set_solid_color(float r, float g, float b, float a) {
  float c[4] = {r, g, b, a};
  set_ps_consts(0, c, 1);
}

void draw_clip_triangles(const float* xyz, int triangles) {
  static VertexBuffer* vb = nullptr;
  static VertexDecl* decl = nullptr;
  if (!vb) {
    vb = create_vb(4096, 0);
    static const vsd desc[] = {VSD_ELEM(0, 0, VSDT_FLOAT3, VSDU_POSITION, 0), VSD_END};
    decl = get_vdecl(desc);
  }
  int bytes = triangles * 3 * 12;
  ASSERT_LE(bytes, 4096);
  void* p = lock_vb(vb, 0, bytes);
  memcpy(p, xyz, bytes);
  unlock_vb(vb);
  set_shader(solid_shader());
  set_vdecl(decl);
  set_vb(0, vb, 0, 12);
  draw_prim(D3DPT_TRIANGLELIST, 0, triangles);
}
