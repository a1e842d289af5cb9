#include "objects/player.h"

Player* local_player = nullptr;
