// A generated world for tests and benchmarks: noise, hills, terraces, a
// fault, a crater and a house, lakes filled to a level and a lava flow
// pouring down from the highest ground.
#pragma once
#include <algorithm>
#include <cstring>
#include <vector>
#include "world/heightmap.h"
#include "world/hmGen.h"
#include "world/noise.h"

inline void make_sample_world(uint64_t seed) {
  using namespace HeightmapData;
  init_grids();
  reset();
  game_rnd_seed = seed;
  reseed_noise();
  addFastNoise(0.0f, 4.0f, nullptr, GT_SOIL, 255, 0.55f);
  addSimplexNoise(0.0f, 24.0f, 4, 4, 0.5f);
  addVoronoiHills(8, 0.0f, 6.0f, 0.8f);
  genVoronoiFaults(4, 0.0f, 5.0f, 0.4f, 2, 3, 3.0f);
  genFault(Point2(128, 100), Point2(0.6f, 0.8f), 10.0f, 0.5f, 12.0f, nullptr, GT_ROCK, 255, hmap);
  genCrater(Point2(60, 190), 14.0f, 0.8f, hmap);
  placeHouse(200, 40, 0, hmap, false);
  recenterHt();
  memcpy(target_hmap, hmap, HMAP_CELLS * sizeof(float));

  // Lakes: every cell below the level holds water up to it (a quarter of
  // the map), and lava on the highest ground.
  std::vector<float> sorted(hmap, hmap + HMAP_CELLS);
  std::nth_element(sorted.begin(), sorted.begin() + HMAP_CELLS / 4, sorted.end());
  float level = sorted[HMAP_CELLS / 4];
  int top = 0;
  for (int i = 0; i < HMAP_CELLS; i++) {
    if (hmap[i] < level) water[i].amount = level - hmap[i];
    if (hmap[i] > hmap[top]) top = i;
  }
  int tx = top & 255, tz = top >> 8;
  for (int dz = -5; dz <= 5; dz++)
    for (int dx = -5; dx <= 5; dx++)
      if (dx * dx + dz * dz < 25) water[hmap_index(tx + dx, tz + dz)].amount = -1.5f;
  memcpy(tmpw, water, HMAP_CELLS * sizeof(Water));
}
