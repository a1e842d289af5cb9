// Writes DDS texture files (the formats the game reads: DXT1, DXT3, DXT5,
// A8R8G8B8, X8R8G8B8, L8), for the data tools and the tests.
#pragma once
#include <cstdint>
#include <vector>

enum DdsWriteFormat { DDSW_DXT1, DDSW_DXT3, DDSW_DXT5, DDSW_A8R8G8B8, DDSW_X8R8G8B8, DDSW_L8 };

// Bytes of one level of w x h pixels in the format.
int dds_level_bytes(DdsWriteFormat format, int w, int h);
// The 128-byte header (magic included) of a file with the given levels;
// levels > 1 marks the file mip-mapped.
std::vector<uint8_t> dds_header(DdsWriteFormat format, int w, int h, int levels);
// Header and levels, the level data laid out one after the other, largest first.
std::vector<uint8_t> build_dds(DdsWriteFormat format, int w, int h, int levels, const std::vector<uint8_t>& levels_data);
bool write_dds_file(const char* path, const std::vector<uint8_t>& file);
