// Bitmap text and solid rectangles of the developer text layer.
// vs_c[16]: screen pixels (y up from the bottom edge) to clip space;
// vs_c[17]: texels to texture coordinates. A vertex with texel coordinates
// below 0 belongs to a solid rectangle drawn in its colour alone.
#ifdef VSH
layout(location = 0) in vec4 in_pos;
layout(location = 2) in vec4 in_color;
layout(location = 4) in vec4 in_texel;
out vec4 v_color;
out vec2 v_uv;
flat out float v_solid;

void vsh() {
  gl_Position = vec4(in_pos.xy * vs_c[16].xy + vs_c[16].zw, 0.0, 1.0);
  v_color = in_color;
  v_uv = in_texel.xy * vs_c[17].xy;
  v_solid = in_texel.x < 0.0 ? 1.0 : 0.0;
}
#endif

#ifdef PSH
in vec4 v_color;
in vec2 v_uv;
flat in float v_solid;
layout(binding = 0) uniform sampler2D font_tex;

void psh() {
  ps_out0 = v_solid > 0.5 ? v_color : v_color * texture(font_tex, v_uv);
}
#endif
