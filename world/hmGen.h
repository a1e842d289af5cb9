// Terrain generators and brushes. Each adds one feature to a 256 x 256
// height grid (65,536 floats in cell-index order; the generation script
// passes HeightmapData::hmap), wraps at the map edges and draws its
// randomness from the game random state in a fixed order, so the same seed
// gives the same land.
#pragma once
#include "fx/ramps.h"
#include "lib/vecmath.h"

// A built-in house shape: w x d cells. The strings run row by row from the
// far side (largest z): heights for the (w+1)(d+1) grid points (a digit c is
// c * height_scale / 9 above the base, anything else leaves the point),
// tiles for the w*d cells ('a'... a house tile, '.' none) and their
// rotations (the low three bits of each character).
struct HouseTemplate {
  int w, d;
  float height_scale;
  const char* heights;
  const char* tiles;
  const char* rotations;
};
extern const HouseTemplate house_templates[5];

namespace HeightmapData {

// Toroidal subdivision noise with a 9-3-3-1 filter: seven levels, one unit
// draw per written point (87,376 in all), amplitude amp at the first level
// and times persistence at each next one.
void makeFastNoise(float* data, float amp, float persistence);
// Fast noise scaled to min_ht..max_ht added to hmap; with a ramp the ground
// colour is blended towards ramp(n) (its alpha the weight, alpha/255 the new
// alpha); ground != -1 sets the ground type.
void addFastNoise(float min_ht, float max_ht, const ColorRamp* ramp, int ground, int alpha,
                  float persistence);
// Fractal tiled simplex noise (tile a power of two) added to hmap.
void addSimplexNoise(float min_ht, float max_ht, int tile, int octaves, float gain);
// One dome per cellular feature point (tile a power of two), added to hmap.
void addVoronoiHills(int tile, float min_h, float max_h, float radius);
// Terraces, one level per cellular cell, with sloped borders, added to hmap.
void genVoronoiFaults(int tile, float min_h, float max_h, float warp, int warp_scale,
                      int octaves, float sharpness);
// One fault scarp across the line through centre perpendicular to dir; the
// side dir points to rises. One random draw.
void genFault(Point2 centre, Point2 dir, float height, float level, float wobble,
              const ColorRamp* ramp, int ground, int alpha, float* heights);
// Digs one crater; never raises land.
void genCrater(Point2 centre, float radius, float depth, float* heights);
// Stamps house template for type (-1, -2, or type mod 3) centred on (x, z).
// Types >= 0 build only where no cell of the footprint has any of the marks 1-8.
void placeHouse(int x, int z, int type, float* heights, bool keep_mean);

}  // namespace HeightmapData

// Raises (negative amount: lowers) a disc with a smooth edge.
void circle_brush(float cx, float cz, float r, float amount, float power, float* heights);
// Pulls a disc towards the target height.
void flatten_circle(float cx, float cz, float r, float target, float strength, float power,
                    float* heights);
// Mean height of a disc, counting the land height at the centre once.
float get_average_circle_height(float cx, float cz, float r, float* heights);
