// The frame callback the render device runs between begin and end of scene.
#pragma once

// One frame: the current mode's scene and 2-D layer, then the text layer
// (on-screen error message, visual log). t is the frame's time_dt.
void draw_frame(float t);
