// Land morphing: each step moves hmap a limited distance towards
// target_hmap, four cells at a time, and plays a rumble from the direction
// where land moves, one sound per octant around the camera.
#include <cmath>
#include "lib/utils.h"
#include "sound/sound.h"
#include "world/heightmap.h"
#include "world/noise.h"

// The camera matrix (rows right, up, forward, position), owned by the camera
// code of the game. This weak, zero definition stands in only where that
// code is not linked (tools and the world's own tests); the camera's
// definition replaces it in the game.
__attribute__((weak)) Matrix44 cur_view_itm;

namespace HeightmapData {

// One morph step on four cells: current += sign(diff) * min(g * rate + dt, g)
// with diff = target - current and g = |diff|; never overshoots.
static inline __m128 morph4(__m128 cur, __m128 tgt, __m128 rate, __m128 dt) {
  const __m128 sign_bit = _mm_set1_ps(-0.0f);
  __m128 diff = _mm_sub_ps(tgt, cur);
  __m128 g = _mm_andnot_ps(sign_bit, diff);
  __m128 step = _mm_min_ps(_mm_add_ps(_mm_mul_ps(g, rate), dt), g);
  // +step where diff > 0, -step where diff < 0, +0 where diff is 0.
  __m128 zero = _mm_setzero_ps();
  __m128 up = _mm_and_ps(_mm_cmpgt_ps(diff, zero), step);
  __m128 down = _mm_and_ps(_mm_cmplt_ps(diff, zero), _mm_xor_ps(step, sign_bit));
  return _mm_add_ps(cur, _mm_or_ps(up, down));
}

static inline float morph_rate(float dt) { return fminf(1.0f, 0.2f * dt); }

void morphHmap(float dt, float* out) {
  __m128 rate = _mm_set1_ps(morph_rate(dt)), vdt = _mm_set1_ps(dt);
  for (int i = 0; i < HMAP_CELLS; i += 4)
    _mm_storeu_ps(out + i, morph4(_mm_load_ps(hmap + i), _mm_load_ps(target_hmap + i), rate, vdt));
}

// Offset from the camera cell wrapped into -128 ... 128.
static inline int wrap_cell_offset(int d) {
  if (d > 128) d -= 256;
  if (d < -128) d += 256;
  return d;
}

static inline int octant_of(int dx, int dz) {
  return 4 * (abs(dx) < abs(dz)) + 2 * (dz < 0) + (dx < 0);
}

void updateHmap(float dt) {
  float cam_x = cur_view_itm.m[3][0], cam_z = cur_view_itm.m[3][2];
  int cx = nearest_int(cam_x + 0.5f - 0.49999988f) & 255;
  int cz = nearest_int(cam_z + 0.5f - 0.49999988f) & 255;
  for (LandSoundGroup& g : land_sound) g.acc[0] = g.acc[1] = g.acc[2] = g.acc[3] = 0.0f;

  __m128 rate = _mm_set1_ps(morph_rate(dt)), vdt = _mm_set1_ps(dt);
  const __m128 sign_bit = _mm_set1_ps(-0.0f), threshold = _mm_set1_ps(0.001f);
  for (int z = 0; z < HMAP_SIZE; z++) {
    float* row = hmap + z * HMAP_SIZE;
    const float* trow = target_hmap + z * HMAP_SIZE;
    int dz = wrap_cell_offset(z - cz);
    for (int x = 0; x < HMAP_SIZE; x += 4) {
      __m128 cur = _mm_load_ps(row + x), tgt = _mm_load_ps(trow + x);
      __m128 g = _mm_andnot_ps(sign_bit, _mm_sub_ps(tgt, cur));
      if (_mm_movemask_ps(_mm_cmplt_ps(g, threshold)) == 15) continue;  // all within 0.001
      alignas(16) float gs[4], hs[4];
      _mm_store_ps(gs, g);
      _mm_store_ps(hs, cur);
      float w = gs[0], y = hs[0];
      for (int k = 1; k < 4; k++) {
        if (gs[k] > w) w = gs[k];
        if (hs[k] > y) y = hs[k];
      }
      int dx = wrap_cell_offset(x - cx);
      float* acc = land_sound[octant_of(dx, dz)].acc;
      acc[0] += w * (float)(cx + dx);
      acc[1] += w * y;
      acc[2] += w * (float)(cz + dz);
      acc[3] += w;
      _mm_store_ps(row + x, morph4(cur, tgt, rate, vdt));
    }
  }

  for (LandSoundGroup& g : land_sound) {
    float W = g.acc[3];
    if (W > 0.0f) {
      bool starts = !is_sound_playing(g.channel);
      if (starts) g.channel = get_sound_event_channel(SE_land_moving);
      set_sound_3d_params(g.channel, cbrtf(W) * 10.0f, 256.0f);
      set_sound_3d_pos(g.channel, v_make(g.acc[0] / W, g.acc[1] / W, g.acc[2] / W, 1.0f),
                       v_zero());
      if (starts) {
        set_relative_sound_pos(g.channel, frnd());
        slide_sound_volume(g.channel, 1.0f, 50);
        play_sound(g.channel, false);
      }
    } else if (g.channel) {
      fade_out_and_stop_sound(g.channel, 50);
    }
  }
}

void stopSounds() {
  for (LandSoundGroup& g : land_sound)
    if (g.channel) fade_out_and_stop_sound(g.channel, 10);
}

}  // namespace HeightmapData
