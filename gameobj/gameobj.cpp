// The module is compiled as this one unit. Every source of the module is
// included here by its name in this folder, so the game's rebuild check,
// which follows the include lines from this file, watches each of them; a
// new source file must be added to this list to be built.
#include "module.cpp"
#include "lifecycle.cpp"
#include "objects.cpp"
#include "world_queries.cpp"
#include "player.cpp"
#include "spell_grid.cpp"
#include "game_start.cpp"
#include "saving.cpp"
#include "pending.cpp"
