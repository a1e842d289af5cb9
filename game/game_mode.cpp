#include "game/game_mode.h"

GameMode* cur_game_mode = nullptr;
