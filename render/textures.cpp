// Texture files: the DDS reader, the file table with reload, the TGA reader.
#include "render/textures.h"
#include <cstring>
#include <strings.h>
#include "lib/check.h"
#include "platform/paths.h"
#include "render/d3d_render.h"
#include "render/file_data.h"
#include "script/streams.h"

DynArray<TextureFile> texture_files;

// ---------------------------------------------------------------- DDS

static uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

enum : uint32_t {
  DDSD_REQUIRED = 0x1007,  // caps, height, width, pixel format
  DDSD_PITCH = 0x8,
  DDSD_LINEARSIZE = 0x80000,
  DDSCAPS_TEXTURE = 0x1000,
  DDSCAPS_MIPMAP = 0x400000,
  DDPF_ALPHAPIXELS = 0x1,
  DDPF_FOURCC = 0x4,
  DDPF_RGB = 0x40,
  DDPF_LUMINANCE = 0x20000,
};

static int dds_format(const uint32_t* h) {
  uint32_t flags = h[19], fourcc = h[20], bits = h[21];
  if (flags & DDPF_FOURCC) {
    if (fourcc == (uint32_t)D3DFMT_DXT1 || fourcc == (uint32_t)D3DFMT_DXT3 || fourcc == (uint32_t)D3DFMT_DXT5)
      return (int)fourcc;
    return 0;
  }
  if (flags & DDPF_RGB) {
    if (bits != 32 || h[22] != 0x00FF0000 || h[23] != 0x0000FF00 || h[24] != 0x000000FF) return 0;
    if (!(flags & DDPF_ALPHAPIXELS)) return D3DFMT_X8R8G8B8;
    return h[25] == 0xFF000000 ? D3DFMT_A8R8G8B8 : 0;
  }
  if ((flags & DDPF_LUMINANCE) && bits == 8) return D3DFMT_L8;
  return 0;
}

bool parse_dds_header(const uint8_t* data, int size, DdsInfo& info) {
  if (size < 128 || memcmp(data, "DDS ", 4) != 0) return false;
  uint32_t h[31];
  for (int i = 0; i < 31; i++) h[i] = le32(data + 4 + i * 4);
  if (h[0] != 124 || h[18] != 32) return false;
  if ((h[1] & DDSD_REQUIRED) != DDSD_REQUIRED) return false;
  if ((h[1] & DDSD_PITCH) && (h[1] & DDSD_LINEARSIZE)) return false;
  if (!(h[26] & DDSCAPS_TEXTURE) || h[27] != 0) return false;
  info.format = dds_format(h);
  if (!info.format) return false;
  info.height = (int)h[2];
  info.width = (int)h[3];
  // A mip-mapped file claiming no levels still has its first one.
  info.levels = (h[26] & DDSCAPS_MIPMAP) && h[6] > 0 ? (int)(h[6] > 32 ? 33 : h[6]) : 1;
  return true;
}

static int mip_chain_length(int w, int h) {
  int n = 1;
  while (w > 1 || h > 1) w = w > 1 ? w / 2 : 1, h = h > 1 ? h / 2 : 1, n++;
  return n;
}

// Loads a DDS file; each failure is fatal when the file is required, else it
// is logged and gives null.
static Texture* load_dds(const char* name, bool required) {
  PathString path = make_full_path(name);
  auto fail = [&](const char* fmt) -> Texture* {
    if (required) fatal(fmt, path.c_str());
    debug(fmt, path.c_str());
    return nullptr;
  };
  DynArray<uint8_t> file;
  if (!read_whole_file(path, file)) return fail("Error loading file '%s'");
  DdsInfo info;
  if (!parse_dds_header(file.data(), file.count(), info)) return fail("Texture '%s' is not a DDS");
  if (info.width < 1 || info.height < 1 || info.width > 16384 || info.height > 16384 ||
      info.levels > mip_chain_length(info.width, info.height))
    return fail("Error creating texture from '%s'");
  // Every level must be in the file before anything is created.
  int64_t need = 128;
  for (int l = 0, w = info.width, h = info.height; l < info.levels; l++, w = w > 1 ? w / 2 : 1, h = h > 1 ? h / 2 : 1)
    need += texture_level_bytes(info.format, w, h);
  if (need > file.count()) return fail("Error loading file '%s'");

  Texture* tex = create_texture(info.width, info.height, info.levels, 0, info.format, D3DPOOL_MANAGED);
  if (!tex) return fail("Error creating texture from '%s'");
  bool blocks = info.format == D3DFMT_DXT1 || info.format == D3DFMT_DXT3 || info.format == D3DFMT_DXT5;
  const uint8_t* src = file.data() + 128;
  for (int l = 0, w = info.width, h = info.height; l < info.levels; l++, w = w > 1 ? w / 2 : 1, h = h > 1 ? h / 2 : 1) {
    int bytes = texture_level_bytes(info.format, w, h);
    if (!upload_texture_level(tex, l, src, blocks ? bytes : bytes / h)) {
      release_texture(tex);
      if (required) fatal("error loading texture '%s' (code 0x%08X)", path.c_str(), 0x8876086Cu);
      debug("error loading texture '%s' (code 0x%08X)", path.c_str(), 0x8876086Cu);
      return nullptr;
    }
    src += bytes;
  }
  debug("loaded DDS texture '%s'", path.c_str());
  return tex;
}

Texture* load_dds_texture(const char* name) { return load_dds(name, true); }

// ---------------------------------------------------------------- file table

Texture* get_texture(const char* name, bool must_exist) {
  PathString path = make_full_path(name);
  for (TextureFile& f : texture_files)
    if (strcasecmp(f.path, path) == 0) {
      f.refcount++;
      return f.texture;
    }
  Texture* tex = load_dds(path, must_exist);
  if (!tex) {
    if (must_exist) fatal("Can't load texture from '%s'", path.c_str());
    return nullptr;
  }
  TextureFile rec;
  rec.texture = tex;
  rec.refcount = 1;
  rec.path.set(path);
  rec.fileTime = get_file_time(path);
  texture_files.push_back(rec);
  return tex;
}

void free_texture(Texture* tex) {
  if (!tex) return;
  for (int i = 0; i < texture_files.count(); i++) {
    TextureFile& f = texture_files[i];
    if (f.texture != tex) continue;
    if (--f.refcount <= 0) {
      f.path.set("");
      release_texture(f.texture);
      texture_files.erase(i);
    }
    return;
  }
}

void free_all_textures() {
  for (TextureFile& f : texture_files) release_texture(f.texture);
  texture_files.clear();
}

void reload_textures(bool) {
  for (TextureFile& f : texture_files) {
    if (f.refcount <= 0 || f.path.empty()) continue;
    int64_t t = get_file_time(f.path);
    if (t == f.fileTime) continue;
    f.fileTime = t;
    debug("reloading %s", f.path.c_str());
    // The holders keep the old slot: it takes over the new slot's texture.
    replace_texture(f.texture, load_dds_texture(f.path));
  }
}

// ---------------------------------------------------------------- TGA

bool load_tga(const char* name, int& width, int& height, DynArray<uint32_t>& pixels) {
  PathString path = make_full_path(name);
  try {
    FileInputStream in;
    if (!in.open(path)) throw InputStream::Exception("can't open file", -1);
    uint8_t head[18];
    in.read(head, 18);
    int bits = head[16];
    if (head[2] != 2 || bits != 32) throw InputStream::Exception("unsupported TGA format", in.position());
    int w = head[12] | head[13] << 8, h = head[14] | head[15] << 8;
    if (w == 0 || h == 0) throw InputStream::Exception("zero-sized TGA image", in.position());
    // The pixel data must be in the file before memory is taken for it.
    int dataAt = in.position();
    in.seekToEnd(0);
    int64_t have = (int64_t)in.position() - dataAt;
    if ((int64_t)w * h * 4 > have) throw InputStream::Exception("unexpected end of file", dataAt);
    in.seekTo(dataAt);
    pixels.resize(w * h);
    in.read(pixels.data(), w * h * 4);
    width = w;
    height = h;
    return true;
  } catch (const StreamIOException& e) {
    debug("can't read TGA '%s': %s", path.c_str(), e.what());
    pixels.clear();
    return false;
  }
}
