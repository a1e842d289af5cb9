// Proximity bins: game objects sorted by their extent into spatial bins over
// the wrapping 256 x 256 world, so the module finds the objects near a point
// or inside a rectangle without scanning every list. The host owns the bins;
// the module updates its objects' bins, runs queries and walks the bins
// itself, so the layouts below are part of the contract with the module.
#pragma once
#include "lib/dynArray.h"
#include "objects/base_object.h"

// Bins 0-1023: the fine grid, 32 x 32 cells of 8 x 8 units.
// Bins 1024-1279: the coarse grid, 16 x 16 cells of 16 x 16 units, shifted by
// 4 units (cell c covers 16c - 4 to 16c + 12), for objects crossing a fine
// cell's edge. Bin 1280: everything larger. Both grids wrap with the world.
enum {
  PROXIMITY_FINE_CELLS = 32,
  PROXIMITY_FINE_SIZE = 8,
  PROXIMITY_COARSE_CELLS = 16,
  PROXIMITY_COARSE_SIZE = 16,
  PROXIMITY_COARSE_OFFSET = 4,
  PROXIMITY_FIRST_COARSE_BIN = PROXIMITY_FINE_CELLS * PROXIMITY_FINE_CELLS,
  PROXIMITY_GLOBAL_BIN = PROXIMITY_FIRST_COARSE_BIN + PROXIMITY_COARSE_CELLS * PROXIMITY_COARSE_CELLS,
  NUM_PROXIMITY_BINS = PROXIMITY_GLOBAL_BIN + 1,
};

// A game object of the module: a BaseObject that can sit in one bin.
class GameObj : public BaseObject {
 public:
  int proximity_bin = -1;  // index into proximity, -1 when not binned

  // Leaves its bin, so the bins never hold a freed object.
  ~GameObj() override;
};

// An object's extent on the ground.
struct ProximityRect {
  float min_x, min_z, max_x, max_z;
};

typedef DynArray<GameObj*> ProximityBin;
extern ProximityBin proximity[NUM_PROXIMITY_BINS];

// The bin an object with this extent belongs in.
int proximity_bin_of(const ProximityRect& r);
// Moves o to the bin of its extent r; nothing happens when it is already there.
void update_proximity(GameObj* o, const ProximityRect& r);
// Takes o out of its bin (index -1 afterwards); null or unbinned objects are ignored.
void remove_proximity_object(GameObj* o);

// The bins around a rectangle, and the module's position while it walks them.
struct ProximityQuery {
  DynArray<int> bins;  // non-empty bins found by the last query, in query order
  int bin_pos = 0;     // position in bins
  int obj_pos = -1;    // position inside the current bin

  // Lists every non-empty bin whose cell overlaps r: fine cells (rows of z,
  // then columns of x), then coarse cells, then the global bin unless
  // skip_global. Resets bin_pos to 0 and obj_pos to -1.
  void proximityQuery(const ProximityRect& r, bool skip_global);
};
