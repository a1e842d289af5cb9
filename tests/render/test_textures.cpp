// DDS and TGA files: the header check as a table of generated files, levels,
// the shared file table and reloading in place, and the TGA reader.
#include <epoxy/gl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include "render/d3d_shaders.h"
#include "render/d3d_internal.h"
#include "render/textures.h"
#include "tests/render/gl_fixture.h"
#include "tools/dds_writer.h"

static std::string as_string(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

// A file of the format with every level filled with its level number.
static std::vector<uint8_t> dds_file(DdsWriteFormat f, int w, int h, int levels) {
  std::vector<uint8_t> data;
  for (int l = 0, lw = w, lh = h; l < levels; l++, lw = lw > 1 ? lw / 2 : 1, lh = lh > 1 ? lh / 2 : 1)
    data.insert(data.end(), dds_level_bytes(f, lw, lh), (uint8_t)(0x10 + l));
  return build_dds(f, w, h, levels, data);
}

static void set_word(std::vector<uint8_t>& f, int word, uint32_t v) {
  for (int b = 0; b < 4; b++) f[4 + word * 4 + b] = (uint8_t)(v >> (8 * b));
}

TEST(DdsHeader, AcceptedAndRejectedFiles) {
  struct Case {
    const char* what;
    DdsWriteFormat format;
    int word;        // header word to change, -1 none
    uint32_t value;
    int expect;      // accepted format, 0 rejected
  } cases[] = {
      {"DXT1", DDSW_DXT1, -1, 0, D3DFMT_DXT1},
      {"DXT3", DDSW_DXT3, -1, 0, D3DFMT_DXT3},
      {"DXT5", DDSW_DXT5, -1, 0, D3DFMT_DXT5},
      {"A8R8G8B8", DDSW_A8R8G8B8, -1, 0, D3DFMT_A8R8G8B8},
      {"X8R8G8B8", DDSW_X8R8G8B8, -1, 0, D3DFMT_X8R8G8B8},
      {"L8", DDSW_L8, -1, 0, D3DFMT_L8},
      {"no pitch field flags", DDSW_A8R8G8B8, 1, 0x1007, D3DFMT_A8R8G8B8},
      {"cube map", DDSW_DXT1, 27, 0x200, 0},
      {"24-bit RGB", DDSW_X8R8G8B8, 21, 24, 0},
      {"unknown FourCC", DDSW_DXT1, 20, 0x31495441, 0},
      {"header size", DDSW_DXT1, 0, 120, 0},
      {"pixel format size", DDSW_DXT1, 18, 24, 0},
      {"pitch and linear size", DDSW_DXT1, 1, 0x8100F, 0},
      {"missing width flag", DDSW_DXT1, 1, 0x80003, 0},
      {"no texture caps", DDSW_DXT1, 26, 0, 0},
      {"alpha mask not 0xFF000000", DDSW_A8R8G8B8, 25, 0x0F000000, 0},
      {"swapped colour masks", DDSW_X8R8G8B8, 22, 0x000000FF, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> f = dds_file(c.format, 8, 8, 1);
    if (c.word >= 0) set_word(f, c.word, c.value);
    DdsInfo info = {};
    bool ok = parse_dds_header(f.data(), (int)f.size(), info);
    EXPECT_EQ(ok ? info.format : 0, c.expect) << c.what;
  }
  std::vector<uint8_t> f = dds_file(DDSW_DXT1, 8, 8, 1);
  DdsInfo info;
  EXPECT_FALSE(parse_dds_header(f.data(), 127, info));  // fewer than 124 header bytes
  f[0] = 'X';
  EXPECT_FALSE(parse_dds_header(f.data(), (int)f.size(), info));
  EXPECT_EQ(texture_level_bytes(D3DFMT_DXT1, 2, 1), 8);
  EXPECT_EQ(texture_level_bytes(D3DFMT_DXT5, 5, 5), 4 * 16);
}

static GLint level_param(Texture* t, int level, GLenum what) {
  GLint v = 0;
  glGetTextureLevelParameteriv(t->texture, level, what, &v);
  return v;
}

// Draws the texture through draw_postfx and shaders/postfx_copy.sh into a
// render target of its size and returns the target's pixel x, y.
static uint32_t postfx_copy(Texture* src, int x, int y) {
  static Shader* copy = nullptr;
  if (!copy) {
    std::string dir = std::string(getenv("QV_SOURCE_DIR")) + "/data/shaders/";
    mkdir(test_app_dir().file("shaders").c_str(), 0755);
    for (const char* name : {"postfx.sh", "postfx_copy.sh"}) {
      std::string text;
      EXPECT_TRUE(read_file(dir + name, text));
      write_app_file(std::string("shaders/") + name, text);
    }
    copy = create_shader("shaders/postfx_copy.sh");
  }
  int w = src->width, h = src->height;
  Texture* rt = create_render_texture(w, h, 1);
  set_render_target(rt, 0, false);
  set_cull_mode(0);
  set_shader(copy);
  set_texture(0, src);
  draw_postfx();
  set_texture(0, nullptr);
  set_cull_mode(1);
  set_back_buffer_target();
  uint32_t p = texture_pixel(rt, x, y);
  release_texture(rt);
  return p;
}

TEST(Postfx, FullScreenPassKeepsRowOrder) {
  Texture* t = create_dynamic_texture(4, 4, 1);
  int pitch;
  uint32_t* p = (uint32_t*)lock_texture(t, pitch, true);
  for (int i = 0; i < 16; i++) p[i] = i < 4 ? 0xFFFF0000u : 0xFF0000FFu;  // row 0 red
  unlock_texture(t);
  EXPECT_EQ(postfx_copy(t, 2, 0), 0xFFFF0000u);
  EXPECT_EQ(postfx_copy(t, 2, 3), 0xFF0000FFu);
  release_texture(t);
}

TEST(DdsFiles, FullMipChainFillsEveryLevel) {
  write_app_file("chain.dds", as_string(dds_file(DDSW_A8R8G8B8, 256, 64, 9)));
  Texture* t = load_dds_texture("chain.dds");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->levels, 9);
  EXPECT_EQ(t->pool, D3DPOOL_MANAGED);
  EXPECT_EQ(level_param(t, 7, GL_TEXTURE_WIDTH), 2);
  EXPECT_EQ(level_param(t, 7, GL_TEXTURE_HEIGHT), 1);
  EXPECT_EQ(level_param(t, 8, GL_TEXTURE_WIDTH), 1);
  uint32_t px[2] = {};
  glGetTextureImage(t->texture, 7, GL_BGRA, GL_UNSIGNED_BYTE, sizeof(px), px);
  EXPECT_EQ(px[1], 0x17171717u);
  glGetTextureImage(t->texture, 8, GL_BGRA, GL_UNSIGNED_BYTE, 4, px);
  EXPECT_EQ(px[0], 0x18181818u);
  release_texture(t);

  // Compressed levels come in whole blocks; luminance reads as grey with full alpha.
  write_app_file("dxt.dds", as_string(dds_file(DDSW_DXT1, 8, 2, 4)));
  t = load_dds_texture("dxt.dds");
  EXPECT_EQ(level_param(t, 3, GL_TEXTURE_WIDTH), 1);
  release_texture(t);
  write_app_file("l8.dds", as_string(dds_file(DDSW_L8, 4, 4, 1)));
  t = load_dds_texture("l8.dds");
  EXPECT_EQ(t->format, D3DFMT_L8);
  EXPECT_EQ(postfx_copy(t, 1, 1), 0xFF101010u);
  release_texture(t);
}

TEST(DdsFiles, BadFilesStopWithTheirMessages) {
  std::vector<uint8_t> cube = dds_file(DDSW_DXT1, 8, 8, 1);
  set_word(cube, 27, 0x200);
  write_app_file("cube.dds", as_string(cube));
  EXPECT_EXIT(load_dds_texture("cube.dds"), testing::ExitedWithCode(100), "Texture '.*cube.dds' is not a DDS");
  EXPECT_EXIT(load_dds_texture("missing.dds"), testing::ExitedWithCode(100), "Error loading file '.*missing.dds'");
  // A file shorter than its levels is refused before anything is read past its end.
  std::vector<uint8_t> f = dds_file(DDSW_A8R8G8B8, 64, 64, 7);
  f.resize(f.size() - 1);
  write_app_file("short.dds", as_string(f));
  EXPECT_EXIT(load_dds_texture("short.dds"), testing::ExitedWithCode(100), "Error loading file '.*short.dds'");
  std::vector<uint8_t> tooMany = dds_file(DDSW_A8R8G8B8, 4, 4, 3);
  set_word(tooMany, 6, 12);  // claims more levels than a 4 x 4 chain has
  write_app_file("many.dds", as_string(tooMany));
  EXPECT_EXIT(load_dds_texture("many.dds"), testing::ExitedWithCode(100), "Error creating texture from '.*many.dds'");
  // Not required: null, and the program goes on.
  EXPECT_EQ(get_texture("short.dds", false), nullptr);
  EXPECT_EQ(get_texture("missing.dds", false), nullptr);
  EXPECT_EXIT(get_texture("missing.dds", true), testing::ExitedWithCode(100), "missing.dds");
}

static void touch_later(const std::string& name, int seconds) {
  std::string path = test_app_dir().file(name);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  struct timespec t[2] = {st.st_atim, st.st_mtim};
  t[1].tv_sec += seconds;
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
}

TEST(TextureFiles, SharedIgnoringCaseAndSeparatorsAndReloadedInPlace) {
  mkdir(test_app_dir().file("tex").c_str(), 0755);
  write_app_file("tex/Stone.dds", as_string(dds_file(DDSW_A8R8G8B8, 4, 4, 1)));
  Texture* a = get_texture("tex/Stone.dds", true);
  Texture* b = get_texture("tex\\stone.DDS", true);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  ASSERT_EQ(texture_files.count(), 1);
  EXPECT_EQ(texture_files[0].refcount, 2);

  // A changed file is loaded again into the same slot.
  std::vector<uint8_t> data(4 * 4 * 4, 0x77);
  write_app_file("tex/Stone.dds", as_string(build_dds(DDSW_A8R8G8B8, 4, 4, 1, data)));
  touch_later("tex/Stone.dds", 5);
  int slotsBefore = 0;
  for (Texture& t : d3d_textures) slotsBefore += t.used;
  reload_textures();
  int slotsAfter = 0;
  for (Texture& t : d3d_textures) slotsAfter += t.used;
  EXPECT_EQ(slotsAfter, slotsBefore);
  EXPECT_EQ(texture_files[0].texture, a);
  EXPECT_EQ(texture_pixel(a, 1, 1), 0x77777777u);

  free_texture(a);
  EXPECT_TRUE(a->used);
  free_texture(b);
  EXPECT_FALSE(a->used);
  EXPECT_EQ(texture_files.count(), 0);
  Texture notAFile = {};
  free_texture(&notAFile);  // ignored
  free_texture(nullptr);
}

TEST(TextureFiles, ADeletedFileStopsTheNextReload) {
  write_app_file("gone.dds", as_string(dds_file(DDSW_DXT5, 4, 4, 1)));
  Texture* t = get_texture("gone.dds", true);
  ASSERT_NE(t, nullptr);
  remove(test_app_dir().file("gone.dds").c_str());
  EXPECT_EXIT(reload_textures(), testing::ExitedWithCode(100), "Error loading file '.*gone.dds'");
  free_all_textures();
  EXPECT_EQ(texture_files.count(), 0);
}

static std::string tga(int type, int bits, int w, int h, int pixel_bytes) {
  std::string f(18, '\0');
  f[2] = (char)type;
  f[12] = (char)(w & 255), f[13] = (char)(w >> 8), f[14] = (char)(h & 255), f[15] = (char)(h >> 8);
  f[16] = (char)bits;
  for (int i = 0; i < pixel_bytes; i++) f += (char)i;
  return f;
}

TEST(Tga, ReadsUncompressed32BitOnly) {
  struct Case {
    const char* what;
    std::string file;
    bool ok;
  } cases[] = {
      {"32-bit true colour", tga(2, 32, 3, 2, 24), true},
      {"run-length", tga(10, 32, 3, 2, 24), false},
      {"24 bits", tga(2, 24, 3, 2, 18), false},
      {"width 0", tga(2, 32, 0, 2, 0), false},
      {"height 0", tga(2, 32, 3, 0, 0), false},
      {"short pixel data", tga(2, 32, 3, 2, 23), false},
      {"huge size claimed", tga(2, 32, 65535, 65535, 16), false},
      {"short header", std::string(10, '\0'), false},
  };
  for (const Case& c : cases) {
    write_app_file("t.tga", c.file);
    int w = 0, h = 0;
    DynArray<uint32_t> px;
    EXPECT_EQ(load_tga("t.tga", w, h, px), c.ok) << c.what;
    if (c.ok) {
      EXPECT_EQ(w, 3);
      EXPECT_EQ(h, 2);
      ASSERT_EQ(px.count(), 6);
      EXPECT_EQ(px[0], 0x03020100u);  // stored bytes b, g, r, a in file order
      EXPECT_EQ(px[5], 0x17161514u);
    }
  }
  int w, h;
  DynArray<uint32_t> px;
  EXPECT_FALSE(load_tga("no-such.tga", w, h, px));
}
