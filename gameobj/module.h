// Inside the game-object module: the operations the host binds by name,
// declared in namespace gameobj so that they never clash with the host's
// pointers of the same names, and the module's shared state.
#pragma once
#include "classes.h"
#include "objects/gameobj_ops.h"

namespace gameobj {

#define GAMEOBJ_DECLARE_OP(ret, name, params) ret name params;
QV_GAMEOBJ_OPS(GAMEOBJ_DECLARE_OP)
#undef GAMEOBJ_DECLARE_OP

// Links the module's GUI screens to the host's GUI runtime; called by the
// host after every load of the module.
void link_gui();

}  // namespace gameobj

namespace gameobj {

// Height of the land or fluid surface (land + |fluid depth|), bilinear
// between grid points, at world position (x, z); the map wraps.
float surface_height(float x, float z);

}  // namespace gameobj
