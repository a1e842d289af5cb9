// Shader table, cache files, includes and reloading on real GL.
#include <epoxy/gl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#include <cstring>
#include "app/log.h"
#include "render/d3d_shaders.h"
#include "tests/render/gl_fixture.h"

// A shader that draws the colour given by a #define, so a pixel shows which
// program is bound.
static std::string color_shader(const char* color, const char* include = nullptr) {
  std::string s;
  if (include) s += std::string("#include \"") + include + "\"\n";
  s += "#ifdef VSH\nlayout(location = 0) in vec4 pos;\nvoid vsh() { gl_Position = vec4(pos.xyz, 1.0); }\n#endif\n";
  s += std::string("#ifdef PSH\nvoid psh() { ps_out0 = ") + color + "; }\n#endif\n";
  return s;
}

static const float full_screen[] = {-1, -1, 0.5f, -1, 1, 0.5f, 1, 1, 0.5f, -1, -1, 0.5f, 1, 1, 0.5f, 1, -1, 0.5f};

// Draws a full-screen quad with the shader and returns the pixel it gives.
static uint32_t drawn_by(Shader* s) {
  static VertexBuffer* vb = nullptr;
  static VertexDecl* decl = nullptr;
  if (!vb) {
    vb = create_vb(sizeof(full_screen), VBF_STATIC);
    memcpy(lock_vb(vb, 0, sizeof(full_screen)), full_screen, sizeof(full_screen));
    unlock_vb(vb);
    static const vsd desc[] = {VSD_ELEM(0, 0, VSDT_FLOAT3, VSDU_POSITION, 0), VSD_END};
    decl = get_vdecl(desc);
  }
  set_back_buffer_target();
  set_cull_mode(0);
  clear_view(D3dColor(0xFF000000));
  set_vdecl(decl);
  set_vb(0, vb, 0, 12);
  set_shader(s);
  draw_prim(D3DPT_TRIANGLELIST, 0, 2);
  set_cull_mode(1);
  return target_pixel(1, 1);
}

static bool app_file_exists(const std::string& name) {
  struct stat st;
  return stat(test_app_dir().file(name).c_str(), &st) == 0;
}

// Moves a file's modification time by seconds (positive: later).
static void touch(const std::string& name, int seconds) {
  std::string path = test_app_dir().file(name);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  struct timespec t[2] = {st.st_atim, st.st_mtim};
  t[1].tv_sec += seconds;
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
}

TEST(ShaderCache, NamesEncodeTheDefineList) {
  EXPECT_STREQ(shader_cache_name("land.sh", nullptr), "cache/land.sh.cache");
  EXPECT_STREQ(shader_cache_name("land.sh", "INST\0 1\0"), "cache/land.sh@INST@_1.cache");
  EXPECT_STREQ(shader_cache_name("a.sh", "QUALITY\0 2\0SINGLE_RT\0 1\0"), "cache/a.sh@QUALITY@_2@SINGLE_RT@_1.cache");
  EXPECT_EQ(define_list_size(nullptr), 1);
  EXPECT_EQ(define_list_size("INST\0 1\0"), 9);
}

TEST(Shaders, SharedByFileAndDefinesAndCachedPerVariant) {
  write_app_file("land.sh", color_shader("vec4(1, 0, 0, 1)"));
  Shader* a = create_shader("land.sh");
  Shader* b = create_shader("land.sh", nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->refcount, 2);
  Shader* inst = create_shader("land.sh", "INST\0 1\0");
  EXPECT_NE(inst, a);
  EXPECT_TRUE(app_file_exists("cache/land.sh.cache"));  // the missing cache folder was created
  EXPECT_TRUE(app_file_exists("cache/land.sh@INST@_1.cache"));

  // Three QUALITY values: three entries, three caches; the define reaches the program.
  write_app_file("q.sh", color_shader("vec4(float(QUALITY) / 2.0, 0, 0, 1)"));
  char defs[] = "QUALITY\0 0\0";
  Shader* q[3];
  for (int i = 0; i < 3; i++) {
    defs[9] = (char)('0' + i);
    q[i] = create_shader("q.sh", defs);
  }
  EXPECT_NE(q[0], q[1]);
  EXPECT_NE(q[1], q[2]);
  EXPECT_EQ((drawn_by(q[0]) >> 16) & 255, 0u);
  EXPECT_NEAR((double)((drawn_by(q[1]) >> 16) & 255), 127.5, 1.0);
  EXPECT_EQ((drawn_by(q[2]) >> 16) & 255, 255u);
  for (const char* n : {"cache/q.sh@QUALITY@_0.cache", "cache/q.sh@QUALITY@_1.cache", "cache/q.sh@QUALITY@_2.cache"})
    EXPECT_TRUE(app_file_exists(n)) << n;
  for (Shader* s : q) destroy_shader(s);

  destroy_shader(b);
  EXPECT_EQ(a->refcount, 1);
  destroy_shader(a);
  EXPECT_EQ(a->vs, 0u);  // the entry is free
  destroy_shader(inst);
  destroy_shader(nullptr);
}

TEST(Shaders, CacheLayoutAndReuse) {
  write_app_file("common.sh", "// shared\n");
  write_app_file("c.sh", color_shader("vec4(0, 1, 0, 1)", "common.sh"));
  Shader* s = create_shader("c.sh");
  std::string cache;
  ASSERT_TRUE(read_file(test_app_dir().file("cache/c.sh.cache"), cache));
  uint32_t head[4];
  memcpy(head, cache.data(), 16);
  EXPECT_EQ(head[0], 0x20100715u);
  EXPECT_EQ(head[1], 1u + 5u + 10u);  // "c.sh\0common.sh\0" and the closing zero
  EXPECT_EQ(std::string(cache.data() + 16, head[1]), std::string("c.sh\0common.sh\0\0", 16));
  EXPECT_EQ(cache.size(), 16u + head[1] + head[2] + head[3]);
  destroy_shader(s);

  // A later create loads the cache, even with the source gone.
  touch("cache/c.sh.cache", 10);
  write_app_file("c.sh", "this is not GLSL");
  testing::internal::CaptureStdout();
  s = create_shader("c.sh");
  EXPECT_NE(testing::internal::GetCapturedStdout().find("loaded shader 'c.sh' from cache"), std::string::npos);
  EXPECT_EQ(drawn_by(s), 0xFF00FF00u);
  destroy_shader(s);
}

TEST(Shaders, BadCachesAreIgnoredAndRewritten) {
  write_app_file("bad.sh", color_shader("vec4(0, 0, 1, 1)"));
  destroy_shader(create_shader("bad.sh"));
  std::string good;
  ASSERT_TRUE(read_file(test_app_dir().file("cache/bad.sh.cache"), good));
  std::string wrongMagic = good;
  wrongMagic[0] ^= 1;
  std::string hugeSize = good;
  hugeSize[8] = (char)0xFF, hugeSize[9] = (char)0xFF, hugeSize[10] = (char)0xFF;
  std::string unterminatedNames = good.substr(0, 16) + std::string(good.size() - 16, 'x');
  for (const std::string& broken : {wrongMagic, good.substr(0, good.size() - 7), good.substr(0, 10), hugeSize, unterminatedNames}) {
    write_app_file("cache/bad.sh.cache", broken);
    touch("cache/bad.sh.cache", 10);
    Shader* s = create_shader("bad.sh");
    EXPECT_EQ(drawn_by(s), 0xFF0000FFu);
    destroy_shader(s);
    std::string now;
    ASSERT_TRUE(read_file(test_app_dir().file("cache/bad.sh.cache"), now));
    EXPECT_EQ(now, good);
  }
}

TEST(Shaders, StaleCacheIsRebuiltFromTheNewerSource) {
  write_app_file("stale.sh", color_shader("vec4(1, 0, 0, 1)"));
  destroy_shader(create_shader("stale.sh"));
  touch("cache/stale.sh.cache", -100);
  write_app_file("stale.sh", color_shader("vec4(0, 1, 0, 1)"));
  Shader* s = create_shader("stale.sh");
  EXPECT_EQ(drawn_by(s), 0xFF00FF00u);
  destroy_shader(s);
}

// The cache folder "cache/sub" cannot be made (a file has its name): the
// shader works uncached and the failure is logged.
TEST(Shaders, UnwritableCacheIsUsedUncached) {
  mkdir(test_app_dir().file("sub").c_str(), 0755);
  write_app_file("sub/ro.sh", color_shader("vec4(1, 1, 0, 1)"));
  mkdir(test_app_dir().file("cache").c_str(), 0755);
  write_app_file("cache/sub", "in the way");
  testing::internal::CaptureStdout();
  Shader* s = create_shader("sub/ro.sh");
  std::string log = testing::internal::GetCapturedStdout();
  EXPECT_EQ(drawn_by(s), 0xFFFFFF00u);
  EXPECT_NE(log.find("used uncached"), std::string::npos);
  destroy_shader(s);
}

TEST(Shaders, ReloadRecompilesExactlyTheShadersOfATouchedInclude) {
  write_app_file("inc_a.sh", "#define GREEN_A 1\n");
  write_app_file("inc_b.sh", "#define GREEN_B 1\n");
  write_app_file("ra.sh", color_shader("vec4(0, 1, 0, 1)", "inc_a.sh"));
  write_app_file("rb.sh", color_shader("vec4(0, 1, 0, 1)", "inc_b.sh"));
  Shader* a = create_shader("ra.sh");
  Shader* b = create_shader("rb.sh");
  reload_shaders(false);  // nothing changed: nothing recompiled
  touch("inc_a.sh", 5);
  testing::internal::CaptureStdout();
  reload_shaders(false);
  std::string log = testing::internal::GetCapturedStdout();
  EXPECT_NE(log.find("reloaded shader 'ra.sh'"), std::string::npos);
  EXPECT_EQ(log.find("reloaded shader 'rb.sh'"), std::string::npos);
  testing::internal::CaptureStdout();
  reload_shaders(false);
  EXPECT_EQ(testing::internal::GetCapturedStdout().find("reloaded"), std::string::npos);
  testing::internal::CaptureStdout();
  reload_shaders(true);
  log = testing::internal::GetCapturedStdout();
  EXPECT_NE(log.find("reloaded shader 'ra.sh'"), std::string::npos);
  EXPECT_NE(log.find("reloaded shader 'rb.sh'"), std::string::npos);
  destroy_shader(a);
  destroy_shader(b);
}

TEST(Shaders, SyntaxErrorKeepsTheLastGoodProgramUntilFixed) {
  write_app_file("edit.sh", color_shader("vec4(1, 0, 0, 1)"));
  Shader* s = create_shader("edit.sh");
  unsigned program = s->program;
  write_app_file("edit.sh", color_shader("vec4(1, 0, 0, 1) +* oops"));
  touch("edit.sh", 5);
  reload_shaders(false);
  std::string msg = get_error_message();
  EXPECT_NE(msg.find("HLSL 'edit.sh', func 'psh':"), std::string::npos) << msg;
  EXPECT_NE(msg.find("FAILED to reload shader 'edit.sh'"), std::string::npos) << msg;
  EXPECT_EQ(s->program, program);
  EXPECT_EQ(drawn_by(s), 0xFFFF0000u);  // drawing goes on with the old program

  write_app_file("edit.sh", color_shader("vec4(0, 0, 1, 1)"));
  touch("edit.sh", 10);
  reload_shaders(false);
  EXPECT_FALSE(has_error_message());
  EXPECT_EQ(drawn_by(s), 0xFF0000FFu);
  destroy_shader(s);
}

TEST(Shaders, AlphaTestDiscardsBelowTheReference) {
  write_app_file("half.sh", color_shader("vec4(1, 1, 1, 100.0 / 255.0)"));
  Shader* s = create_shader("half.sh");
  set_atest(100);
  EXPECT_EQ(drawn_by(s) & 0xFFFFFF, 0xFFFFFFu);
  set_atest(101);
  EXPECT_EQ(drawn_by(s) & 0xFFFFFF, 0u);
  set_atest(0);
  destroy_shader(s);
}

TEST(Shaders, MissingSourceAndFullTableAreFatal) {
  EXPECT_EXIT(create_shader("nowhere.sh"), testing::ExitedWithCode(100), "can't create shader from 'nowhere.sh'");
  write_app_file("many.sh", color_shader("vec4(1)"));
  EXPECT_EXIT(
      {
        char defs[32];
        for (int i = 0; i < 257; i++) {
          int n = snprintf(defs, sizeof(defs), "N%d", i);
          defs[n + 1] = 0;
          defs[n + 2] = 0;
          create_shader("many.sh", defs);
        }
      },
      testing::ExitedWithCode(100), "reached maximum shader count!");
}
