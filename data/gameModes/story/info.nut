// The story: a universe of worlds of every kind, travelled through portals,
// kept in a save slot.
game_mode_info <- {
  title = "Story",
  description = "Travel a universe of eight worlds, from green hills to volcanic isles.",
  sortOrder = 1,
  hasUniverse = true,
  noSavedGame = false,
  worldSimAfterLeaveTime = 30.0,
};
