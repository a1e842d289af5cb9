// Copies the texture on sampler 0 pixel for pixel into a target of its size.
#include "shaders/postfx.sh"

#ifdef PSH
layout(binding = 0) uniform sampler2D src;

void psh() { ps_out0 = texelFetch(src, ivec2(gl_FragCoord.xy), 0); }
#endif
