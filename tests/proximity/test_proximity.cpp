// Proximity bins: which bin an extent goes to, moving and removing objects,
// and the bins a query lists, in order.
#include <gtest/gtest.h>
#include <vector>
#include "objects/proximity.h"

namespace {

std::vector<GameObj*> bin_contents(int b) { return {proximity[b].begin(), proximity[b].end()}; }
std::vector<int> query_bins(const ProximityQuery& q) { return {q.bins.begin(), q.bins.end()}; }

// Every test starts and ends with empty bins; the objects leave their bins
// when they go out of scope.
struct Proximity : testing::Test {
  void SetUp() override { ASSERT_EQ(count_binned(), 0); }
  void TearDown() override { EXPECT_EQ(count_binned(), 0); }
  static int count_binned() {
    int n = 0;
    for (const ProximityBin& b : proximity) n += b.count();
    return n;
  }
};

TEST_F(Proximity, BinIndexFollowsTheBaseObjectFields) {
  GameObj o;
  EXPECT_EQ(o.proximity_bin, -1);
  EXPECT_EQ((char*)&o.proximity_bin, (char*)&o.ser_id + sizeof(int));
}

TEST_F(Proximity, AnObjectMovesToTheBinOfItsExtent) {
  struct Case {
    const char* what;
    ProximityRect r;
    int bin;
  };
  const Case cases[] = {
      {"inside fine cell (0, 0)", {3, 3, 5, 5}, 0},
      {"inside fine cell (1, 0)", {9, 3, 11, 5}, 1},
      {"x = 8 exactly is in cell 1", {8, 3, 8, 5}, 1},
      {"crossing x = 8: coarse cell 0 covers -4 to 12", {6, 3, 10, 5}, 1024},
      {"crossing z = 8 only", {3, 6, 5, 10}, 1024},
      {"crossing a coarse edge too", {10, 3, 30, 5}, PROXIMITY_GLOBAL_BIN},
      {"a point a world away from x = 4", {260, 4, 260, 4}, 0},
      {"last fine row", {3, 250, 5, 252}, 31 * 32},
      {"negative cells wrap", {-5, -5, -3, -3}, 31 * 32 + 31},
      {"x = -0.5 is in cell -1", {-0.5f, 1, -0.5f, 1}, 31},
      {"negative coarse cell wraps", {-10, 3, -6, 5}, 1024 + 15},
      {"across the world's seam", {252, 3, 260, 5}, 1024},
      {"back to fine cell (0, 0)", {3, 3, 5, 5}, 0},
  };
  GameObj o;
  int prev = -1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(proximity_bin_of(c.r), c.bin);
    update_proximity(&o, c.r);
    EXPECT_EQ(o.proximity_bin, c.bin);
    EXPECT_EQ(bin_contents(c.bin), std::vector<GameObj*>{&o});
    if (prev >= 0 && prev != c.bin) {
      EXPECT_TRUE(proximity[prev].empty());
    }
    prev = c.bin;
  }
}

TEST_F(Proximity, StayingInTheSameBinKeepsTheBinAsItIs) {
  GameObj a, b, c;
  for (GameObj* o : {&a, &b, &c}) update_proximity(o, {3, 3, 5, 5});
  update_proximity(&a, {1, 1, 7, 7});
  EXPECT_EQ(bin_contents(0), (std::vector<GameObj*>{&a, &b, &c}));
}

TEST_F(Proximity, RemovalFillsTheGapFromTheEndAndKeepsTheOthers) {
  GameObj a, b, c, d, unbinned;
  for (GameObj* o : {&a, &b, &c, &d}) update_proximity(o, {3, 3, 5, 5});

  remove_proximity_object(nullptr);
  remove_proximity_object(&unbinned);
  EXPECT_EQ(unbinned.proximity_bin, -1);
  EXPECT_EQ(bin_contents(0), (std::vector<GameObj*>{&a, &b, &c, &d}));

  remove_proximity_object(&b);
  EXPECT_EQ(b.proximity_bin, -1);
  EXPECT_EQ(bin_contents(0), (std::vector<GameObj*>{&a, &d, &c}));
  remove_proximity_object(&b);  // a second time: already out
  EXPECT_EQ(bin_contents(0), (std::vector<GameObj*>{&a, &d, &c}));

  update_proximity(&a, {9, 3, 11, 5});  // moving out is a removal too
  EXPECT_EQ(bin_contents(0), (std::vector<GameObj*>{&c, &d}));
  EXPECT_EQ(bin_contents(1), std::vector<GameObj*>{&a});
}

TEST_F(Proximity, ADeletedObjectLeavesItsBin) {
  GameObj* gone = new GameObj;
  GameObj kept;
  update_proximity(gone, {3, 3, 5, 5});
  update_proximity(&kept, {3, 3, 5, 5});
  delete gone;
  EXPECT_EQ(bin_contents(0), std::vector<GameObj*>{&kept});
}

TEST_F(Proximity, QueryListsOnlyNonEmptyBins) {
  ProximityQuery q;
  q.proximityQuery({0, 0, 255, 255}, false);
  EXPECT_TRUE(q.bins.empty());

  GameObj big;
  update_proximity(&big, {10, 3, 30, 5});
  q.proximityQuery({100, 100, 101, 101}, false);
  EXPECT_EQ(query_bins(q), std::vector<int>{PROXIMITY_GLOBAL_BIN});
  q.proximityQuery({100, 100, 101, 101}, true);
  EXPECT_TRUE(q.bins.empty());
}

TEST_F(Proximity, QueryOrderIsFineRowsThenCoarseThenGlobal) {
  // One object in each of these bins; bin 33 (fine (1, 1)) stays empty.
  GameObj fine00, fine10, fine01, coarse00, coarse11, far_fine, big;
  update_proximity(&fine00, {3, 3, 5, 5});        // bin 0
  update_proximity(&fine10, {9, 3, 11, 5});       // bin 1
  update_proximity(&fine01, {3, 9, 5, 11});       // bin 32
  update_proximity(&coarse00, {6, 6, 10, 10});    // bin 1024
  update_proximity(&coarse11, {22, 22, 26, 26});  // bin 1041
  update_proximity(&far_fine, {100, 100, 101, 101});
  update_proximity(&big, {10, 3, 30, 5});  // global

  ProximityQuery q;
  q.bin_pos = 5;
  q.obj_pos = 3;
  // Fine cells 0-1 on both axes; coarse cells floor(4/16) = 0 to floor(19/16) = 1.
  q.proximityQuery({0, 0, 15, 15}, false);
  EXPECT_EQ(query_bins(q), (std::vector<int>{0, 1, 32, 1024, 1041, PROXIMITY_GLOBAL_BIN}));
  EXPECT_EQ(q.bin_pos, 0);
  EXPECT_EQ(q.obj_pos, -1);

  // Across the seam: cell x = -1 is column 31, listed before column 0.
  GameObj west;
  update_proximity(&west, {-5, 3, -3, 5});  // bin 31
  q.proximityQuery({-4, 0, 4, 4}, true);
  EXPECT_EQ(query_bins(q), (std::vector<int>{31, 0, 1024}));
}

TEST_F(Proximity, AQueryWiderThanTheWorldListsEachBinOnce) {
  GameObj fine, coarse, far_fine;
  update_proximity(&fine, {3, 3, 5, 5});              // bin 0
  update_proximity(&coarse, {6, 6, 10, 10});          // bin 1024
  update_proximity(&far_fine, {100, 100, 101, 101});  // bin 12 * 32 + 12
  ProximityQuery q;
  // Fine cells 0-32 and coarse cells 0-16: one cell more than a turn.
  q.proximityQuery({1, 0, 256.5f, 4}, true);
  EXPECT_EQ(query_bins(q), (std::vector<int>{0, 1024}));
  q.proximityQuery({-1000, 0, 1000, 4}, true);
  EXPECT_EQ(query_bins(q), (std::vector<int>{0, 1024}));
  q.proximityQuery({-1e30f, -1e30f, 1e30f, 1e30f}, true);
  EXPECT_EQ(query_bins(q), (std::vector<int>{0, 396, 1024}));
}

}  // namespace
