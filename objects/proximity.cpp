#include "objects/proximity.h"
#include <xmmintrin.h>

ProximityBin proximity[NUM_PROXIMITY_BINS];

// Floor of a cell coordinate as the bins take it: round-to-nearest of
// v - 0.4999999 (the SSE conversion: ties to even, and out-of-range or NaN
// values give INT_MIN instead of undefined behaviour).
static inline int cell_floor(float v) { return _mm_cvtss_si32(_mm_set_ss(v - 0.4999999f)); }

// Cell coordinates wrap with the world; the cell counts are powers of two, so
// the mask is the modulo also for negative cells.
static inline int fine_bin(int cx, int cz) {
  return (cz & (PROXIMITY_FINE_CELLS - 1)) * PROXIMITY_FINE_CELLS + (cx & (PROXIMITY_FINE_CELLS - 1));
}
static inline int coarse_bin(int cx, int cz) {
  return PROXIMITY_FIRST_COARSE_BIN + (cz & (PROXIMITY_COARSE_CELLS - 1)) * PROXIMITY_COARSE_CELLS +
         (cx & (PROXIMITY_COARSE_CELLS - 1));
}

// The cell of coordinate v on a grid of cells of `size` units shifted by `offset`.
static inline int cell_of(float v, float offset, float size) { return cell_floor((v + offset) / size); }

// The cells covering [lo, hi] on one axis, at most one turn of the grid: a
// wider span lists every cell once instead of the same bins again (and a
// huge or garbage extent cannot make the query loop for ages).
struct CellSpan {
  int first, count;
};
static CellSpan cell_span(float lo, float hi, float offset, float size, int cells) {
  int a = cell_of(lo, offset, size), b = cell_of(hi, offset, size);
  // Decided on the floats: cells of coordinates beyond the int range all
  // convert to INT_MIN.
  if (hi - lo >= size * cells) return {a, cells};
  long long n = (long long)b - a + 1;
  if (n < 0) n = 0;
  if (n > cells) n = cells;
  return {a, (int)n};
}

int proximity_bin_of(const ProximityRect& r) {
  const float fine = PROXIMITY_FINE_SIZE, coarse = PROXIMITY_COARSE_SIZE, off = PROXIMITY_COARSE_OFFSET;
  int fx = cell_of(r.min_x, 0, fine), fz = cell_of(r.min_z, 0, fine);
  if (fx == cell_of(r.max_x, 0, fine) && fz == cell_of(r.max_z, 0, fine)) return fine_bin(fx, fz);
  int cx = cell_of(r.min_x, off, coarse), cz = cell_of(r.min_z, off, coarse);
  if (cx == cell_of(r.max_x, off, coarse) && cz == cell_of(r.max_z, off, coarse)) return coarse_bin(cx, cz);
  return PROXIMITY_GLOBAL_BIN;
}

void update_proximity(GameObj* o, const ProximityRect& r) {
  int b = proximity_bin_of(r);
  if (b == o->proximity_bin) return;
  remove_proximity_object(o);
  proximity[b].push_back(o);
  o->proximity_bin = b;
}

void remove_proximity_object(GameObj* o) {
  if (!o || o->proximity_bin < 0 || o->proximity_bin >= NUM_PROXIMITY_BINS) return;
  // Found by pointer; the bin's last entry fills the gap (order is not kept).
  ProximityBin& bin = proximity[o->proximity_bin];
  int i = bin.find(o);
  if (i >= 0) bin.eraseFast(i);
  o->proximity_bin = -1;
}

GameObj::~GameObj() { remove_proximity_object(this); }

void ProximityQuery::proximityQuery(const ProximityRect& r, bool skip_global) {
  bins.clear();
  CellSpan fx = cell_span(r.min_x, r.max_x, 0, PROXIMITY_FINE_SIZE, PROXIMITY_FINE_CELLS);
  CellSpan fz = cell_span(r.min_z, r.max_z, 0, PROXIMITY_FINE_SIZE, PROXIMITY_FINE_CELLS);
  for (int z = 0; z < fz.count; z++)
    for (int x = 0; x < fx.count; x++) {
      int b = fine_bin(fx.first + x, fz.first + z);
      if (!proximity[b].empty()) bins.push_back(b);
    }
  CellSpan cx = cell_span(r.min_x, r.max_x, PROXIMITY_COARSE_OFFSET, PROXIMITY_COARSE_SIZE,
                          PROXIMITY_COARSE_CELLS);
  CellSpan cz = cell_span(r.min_z, r.max_z, PROXIMITY_COARSE_OFFSET, PROXIMITY_COARSE_SIZE,
                          PROXIMITY_COARSE_CELLS);
  for (int z = 0; z < cz.count; z++)
    for (int x = 0; x < cx.count; x++) {
      int b = coarse_bin(cx.first + x, cz.first + z);
      if (!proximity[b].empty()) bins.push_back(b);
    }
  if (!skip_global && !proximity[PROXIMITY_GLOBAL_BIN].empty()) bins.push_back(PROXIMITY_GLOBAL_BIN);
  bin_pos = 0;
  obj_pos = -1;
}
