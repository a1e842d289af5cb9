// Texture files: DDS textures shared through a reference-counted file table
// and reloaded in place when they change on disk, and the TGA reader.
#pragma once
#include <cstdint>
#include "lib/dynArray.h"
#include "lib/strings.h"

struct Texture;

struct TextureFile {
  Texture* texture;
  int refcount;
  TempString<260> path;  // full path
  int64_t fileTime;      // at the last (re)load
};
extern DynArray<TextureFile> texture_files;

// Reference-counted load of a DDS file (the path is compared ignoring case);
// a file that cannot be loaded is fatal when must_exist is set, else null.
Texture* get_texture(const char* name, bool must_exist);
void free_texture(Texture* tex);
void free_all_textures();
// Reloads every file whose modification time changed into the same Texture*.
void reload_textures(bool unused = false);
// Loads one DDS file into a new managed texture slot outside the file table.
Texture* load_dds_texture(const char* name);

// What a DDS header check found: format (Direct3D code), size and levels.
struct DdsInfo {
  int format;
  int width, height;
  int levels;
};
// Checks the header of a DDS file image; false when it is not accepted.
bool parse_dds_header(const uint8_t* data, int size, DdsInfo& info);

// Reads an uncompressed 32-bit TGA: pixels hold the stored bytes b, g, r, a
// (A8R8G8B8 words), rows in stored order. False on any other format, a zero
// size or a short file (the reason is logged).
bool load_tga(const char* name, int& width, int& height, DynArray<uint32_t>& pixels);
