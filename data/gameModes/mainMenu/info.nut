// The world behind the main menu: a showcase, never saved. Hidden from the
// list of gameplay modes the menus offer.
game_mode_info <- {
  title = "Main menu",
  description = "The world seen behind the main menu.",
  hidden = true,
  sortOrder = -1,
  hasUniverse = false,
  noSavedGame = true,
};
