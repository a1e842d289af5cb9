// One world to shape freely; a new one of a random type on every start.
game_mode_info <- {
  title = "Sandbox",
  description = "A single world of a random kind to shape as you like. Nothing is saved.",
  sortOrder = 2,
  hasUniverse = false,
  noSavedGame = true,
};
