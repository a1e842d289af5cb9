// The vertex program of every full-screen pass (draw_postfx): the quad's
// positions are clip coordinates already. v_uv is the texture coordinate of
// the point in Direct3D's orientation (0, 0 at the top-left corner); at a
// pixel's centre it falls on a texel corner, as it does in Direct3D 9, so a
// pass that wants texel centres offsets it by half a texel, or reads with
// texelFetch at ivec2(gl_FragCoord.xy).
#ifdef VSH
layout(location = 0) in vec4 in_pos;
out vec2 v_uv;

void vsh() {
  gl_Position = vec4(in_pos.xy, 0.0, 1.0);
  v_uv = in_pos.xy * vec2(0.5, -0.5) + 0.5;
}
#endif

#ifdef PSH
in vec2 v_uv;
#endif
