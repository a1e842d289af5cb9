// Settings store. (Early form: only the graphics quality global exists; the
// store, its file and the command line come with the application core.)
#include "app/config.h"

int gfx_quality = 1;
