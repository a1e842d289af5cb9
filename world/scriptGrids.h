// Whole-map layers for generation scripts: a float grid (HmapMask), an int
// grid (IntMap) and a bit grid (BitMap), each 256 x 256, indexed like the
// world ((z << 8) | x) and wrapping at the edges. Random choices draw from
// game_rnd_seed in a fixed order, so a seeded script gives the same layers.
//
// The native operations are here; bind_script_grids makes them the script
// classes HmapMask, IntMap, BitMap and vec4f with their global helpers.
#pragma once
#include <cstdint>
#include "fx/ramps.h"
#include "lib/dynArray.h"
#include "squirrel/squirrel.h"
#include "world/heightmap.h"

// A box on the torus: per axis the start and the length (a box that crosses
// the map edge starts near 255 and wraps). Empty: all zero.
struct TorusBox {
  int x0 = 0, z0 = 0, w = 0, h = 0;
};
// The interval over 256 positions that covers every marked one, leaving out
// the longest circular run of unmarked ones (the first longest).
void torus_interval(const bool marked[HMAP_SIZE], int& start, int& len);

struct HmapMask {
  float v[HMAP_CELLS];
  static const char* const script_class_name;  // "HmapMask"

  float getraw(int x, int z) const { return v[hmap_index(x, z)]; }
  // Bilinear between the four grid points around (x, z), wrapped.
  float get(float x, float z) const;
  void calcMinMax(float& mn, float& mx) const;
  // For each cell n = (sx, 8, sz) from the Sobel sums of hmap; n.y / |n|.
  void fromSlope();
  void fromHeight();
  void fromWater();
  // makeFastNoise into a zeroed grid.
  void fastNoise(float amp, float persistence);
  void fromSimplexNoise(float scale, float period, int octaves, const FloatRamp* ramp, float gain);
  // What addVoronoiHills / genVoronoiFaults would add, with the same draws.
  void fromVoronoiHills(int tile, float min_h, float max_h, float radius);
  void fromVoronoiFaults(int tile, float min_h, float max_h, float warp, int warp_scale, int octaves,
                         float sharpness);
};

struct IntMap {
  int v[HMAP_CELLS];
  TorusBox box;
  bool box_valid = false;
  static const char* const script_class_name;  // "IntMap"

  int get(int x, int z) const { return v[hmap_index(x, z)]; }
  void set(int x, int z, int value) {
    v[hmap_index(x, z)] = value;
    box_valid = false;
  }
  void fill(int value);
  const TorusBox& bounds();
  // Cells non-zero here whose counterpart in other, shifted by (dx, dz), is non-zero.
  int testOverlap(IntMap& other, int dx, int dz);
};

struct BitMap {
  uint32_t words[HMAP_SIZE * 8];  // row z: words z*8 ... z*8+7, bit x & 31 of word x >> 5
  TorusBox box;
  float radius = 0;
  float cx = 0, cz = 0;
  int area_count = 0;
  bool cache_valid = false;
  static const char* const script_class_name;  // "BitMap"

  bool get(int x, int z) const {
    return (words[((z & 255) << 3) | ((x & 255) >> 5)] >> (x & 31)) & 1;
  }
  void set(int x, int z, bool b) {
    uint32_t& w = words[((z & 255) << 3) | ((x & 255) >> 5)];
    uint32_t m = 1u << (x & 31);
    w = b ? (w | m) : (w & ~m);
    cache_valid = false;
  }
  bool getIndex(int i) const { return (words[i >> 5] >> (i & 31)) & 1; }
  void fill(bool b);
  void changed() { cache_valid = false; }

  // New maps into out (which may not be this map).
  void inverse(BitMap& out) const;
  // out(x, z) = this(x - dx, z - dz).
  void shifted(int dx, int dz, BitMap& out) const;
  void erode(BitMap& out) const;
  void expand(BitMap& out) const;
  // out = truth table op (1 neither, 2 only this, 4 only other, 8 both)
  // of this and other shifted by (dx, dz).
  void bitwise(const BitMap& other, int op, int dx, int dz, BitMap& out) const;

  const TorusBox& bounds();
  void boundingCircle(float& x, float& z, float& r);
  int area();
  int testOverlap(BitMap& other, int dx, int dz);
  int testMask(const BitMap& other, int op, int dx, int dz) const;
  // First cell (row order) whose bit is value, or -1.
  int findPixel(bool value) const;
  // A uniformly drawn set cell, or -1 (no draw) when there is none.
  int randomPixel();
  void floodFill(int x, int z, BitMap& out) const;
  bool isContinuous();
  void randomFill(int x, int z, int count, BitMap& out) const;
  bool randomExpand(int count, int tries, float step);
  // The final cells (indices) of count points spread over the set cells.
  void placePoints(int count, DynArray<int>& out);
  // The centres (indices) of circles of the given radii on the set cells.
  void placeCircles(const float* radii, int n, DynArray<int>& out);
  // A 256 x 256 32-bit TGA, set white and clear opaque black; false on failure.
  bool dumpTga(const char* path) const;
};

// Signed distances from the edges of the set region: positive inside.
void fast_skeleton_map(const BitMap& m, HmapMask& out);
void make_skeleton_map(const BitMap& m, float jitter, HmapMask& out);

// Binds vec4f, HmapMask, IntMap and BitMap with their helpers and the mask
// application functions into a machine (the ramp classes must be bound).
void bind_vec4f(HSQUIRRELVM vm);
void bind_hmap_mask(HSQUIRRELVM vm);
void bind_int_map(HSQUIRRELVM vm);
void bind_bit_map(HSQUIRRELVM vm);
