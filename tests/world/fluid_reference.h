// The water and lava step in its plain scalar form, cell by cell in the
// documented order. The game's simWater computes the flows four cells at a
// time; tests run both and require the same bits.
#pragma once
#include <cmath>
#include <utility>
#include "lib/utils.h"
#include "world/heightmap.h"
#include "world/noise.h"

namespace fluid_reference {
using namespace HeightmapData;

// Per-step factors of the model.
struct FluidConstants {
  float dt;
  float water_damping;     // advected water flow factor, also the evaporation factor
  float lava_damping;      // advected lava flow factor
  float turbulence_decay;
};

// ---- pass 2, transport (sequential: each cell adds to cells not yet visited)

inline const vec4f LAVA_ROCK_TOP = _mm_setr_ps(0.04f, 0.04f, 0.04f, 0.5f);
inline const vec4f LAVA_ROCK_GROUND = _mm_setr_ps(0.01f, 0.01f, 0.01f, 0.01f);

inline vec4f blend4(vec4f c, vec4f target, float w) {
  return _mm_add_ps(c, _mm_mul_ps(_mm_sub_ps(target, c), _mm_set1_ps(w)));
}
inline D3dColor blend_packed(D3dColor c, vec4f target, float w) {
  return vec_to_color(blend4(color_to_vec(c), target, w));
}

// Colours of a cell turning to lava rock with weight w; the cover becomes
// ash from w 0.5.
inline void rock_colors(Surface& s, float w) {
  s.top_color = blend_packed(s.top_color, LAVA_ROCK_TOP, w);
  if (w >= 0.5f) s.info = info_with_cover(s.info, ST_ASH);
  s.color = blend_packed(s.color, LAVA_ROCK_GROUND, w);
}

// Moves c and its four neighbours (w, s, e, n order) towards their mean,
// the centre weighted four times: 10 % for the centre, 3 % for the others.
inline void smear(D3dColor Surface::*field, const int nb[4], int c) {
  vec4f m = _mm_mul_ps(_mm_set1_ps(4.0f), color_to_vec(surface[c].*field));
  for (int k = 0; k < 4; k++) m = _mm_add_ps(m, color_to_vec(surface[nb[k]].*field));
  m = _mm_div_ps(m, _mm_set1_ps(8.0f));
  surface[c].*field = blend_packed(surface[c].*field, m, 0.1f);
  for (int k = 0; k < 4; k++) surface[nb[k]].*field = blend_packed(surface[nb[k]].*field, m, 0.03f);
}

// Contact of q units of water and lava at cell i: that volume becomes rock.
inline void contact_rock(int i, float q) {
  hmap[i] += q;
  target_hmap[i] += q;
  rock_colors(surface[i], fminf(1.0f, 100.0f * q));
}

inline void transport_cell(int x, int z, float a, float dt, float water_damping) {
  Water* nw = water;
  int c = hmap_index(x, z);
  // Neighbours in the order shares are applied: (x-1, z), (x, z-1), (x+1, z), (x, z+1).
  int nb[4] = {hmap_index(x - 1, z), hmap_index(x, z - 1), hmap_index(x + 1, z),
               hmap_index(x, z + 1)};
  float avail;
  if (a > 0.0f) {
    avail = a;
    if (a < 0.5f) {
      if (a < 0.01f) {
        nw[c].amount -= a;
        avail = 0.0f;
      } else {
        avail = a * water_damping;
        nw[c].amount -= a - avail;
      }
    }
  } else {
    float f = -a;
    if (f > 0.003f) f *= fminf(1.0f, 0.05f * dt);
    nw[c].amount += f;
    hmap[c] += f;
    target_hmap[c] += f;
    rock_colors(surface[c], fminf(1.0f, 100.0f * f));
    smear(&Surface::color, nb, c);
    smear(&Surface::top_color, nb, c);
    avail = -(a + f);
  }

  float out[4] = {-nw[nb[0]].flow_x, -nw[nb[1]].flow_z, nw[c].flow_x, nw[c].flow_z};
  float limit = hmap[c] + avail;
  for (int k = 0; k < 4; k++)
    if (out[k] < 0.0f || hmap[nb[k]] > limit) out[k] = 0.0f;
  float T = out[0] + out[1] + out[2] + out[3];
  float rate = 4.0f * dt * T;
  if (rate <= 0.001f) return;
  float moved = fminf(avail, rate);
  float share[4];
  for (int k = 0; k < 4; k++) share[k] = moved * out[k] / T;

  if (a > 0.0f) {
    nw[c].amount -= moved;
    for (int k = 0; k < 4; k++) {
      float s = share[k];
      if (!(s > 0.0f)) continue;
      int i = nb[k];
      float n = nw[i].amount;
      if (n < 0.0f) {
        float q = fminf(s, -n);
        contact_rock(i, q);
        water_vapor_fx(i & 255, i >> 8, fabsf(n + s) + hmap[i], q);
      }
      nw[i].amount += s;
    }
  } else {
    nw[c].amount += moved;
    for (int k = 0; k < 4; k++) {
      float s = share[k];
      if (!(s > 0.0f)) continue;
      int i = nb[k];
      float n = nw[i].amount;
      if (n > 0.0f) {
        float q = fminf(s, n);
        contact_rock(i, q);
        water_vapor_fx(i & 255, i >> 8, fabsf(n - s) + hmap[i], q);
        if (s > n) nw[i].flow_x = nw[i].flow_z = 0.0f;
      }
      nw[i].amount -= s;
    }
  }
}

// ---- pass 1, flows and turbulence (reads only the previous state)

inline float fluid_level(const Water* old, int i) { return hmap[i] + fabsf(old[i].amount); }

inline float lava_depth(float amount) { return amount < 0.0f ? -amount : 0.0f; }

inline float viscosity(int x, int z) {
  return (float)noise_perm[noise_perm[x] + z] / 255.0f * 0.85f + 0.15f;
}

// Bilinear sample of one float field of the old buffer (field offset in floats).
inline float sample_old(const Water* old, int field, float px, float pz) {
  int i = floor_coord(px), j = floor_coord(pz);
  float fx = px - (float)i, fz = pz - (float)j;
  const float* f = (const float*)old + field;
  float s00 = f[4 * hmap_index(i, j)], s10 = f[4 * hmap_index(i + 1, j)];
  float s01 = f[4 * hmap_index(i, j + 1)], s11 = f[4 * hmap_index(i + 1, j + 1)];
  float a = s00 + (s10 - s00) * fx, b = s01 + (s11 - s01) * fx;
  return a + (b - a) * fz;
}

// New flow across the face from cell c to cell e (one of its +x, +z
// neighbours) given the advected old flow a0 and the drive h (adjusted for
// lava in place); counts a blocked face.
inline float face_flow(const Water* old, int c, int e, int x, int z, float a0, float& h,
                              const FluidConstants& k, int& blocked) {
  float ac = old[c].amount, ae = old[e].amount;
  float flow;
  if (ac + ae < 0.0f) {
    if (h < -k.dt)
      h += k.dt;
    else if (h > k.dt)
      h -= k.dt;
    else
      h = 0.0f;
    float D = viscosity(x, z) * (lava_depth(ac) + lava_depth(ae));
    if (D < 0.05f) {
      flow = 0.0f;
    } else {
      flow = a0 * k.lava_damping + 0.3f * h;
      if (D < 0.2f) flow *= (D - 0.05f) / 0.15f;
    }
  } else {
    flow = a0 * k.water_damping + h;
  }
  float lc = hmap[c] + fabsf(ac), le = hmap[e] + fabsf(ae);
  if ((flow >= 0.0f && fminf(fabsf(ac), lc - hmap[e]) <= 0.0f) ||
      (flow < 0.0f && fminf(fabsf(ae), le - hmap[c]) <= 0.0f)) {
    flow = 0.0f;
    blocked++;
  }
  return flow;
}

inline void flow_cell(const Water* old, Water* nw, int x, int z, const FluidConstants& k) {
  int c = hmap_index(x, z), e = hmap_index(x + 1, z), n = hmap_index(x, z + 1);
  int w = hmap_index(x - 1, z), s = hmap_index(x, z - 1);
  float dt = k.dt;
  int blocked = 0;

  float px = (float)x - old[c].flow_x * dt;
  float pz = (float)z - dt * (old[s].flow_z + old[hmap_index(x + 1, z - 1)].flow_z + old[c].flow_z +
                              old[e].flow_z) / 4.0f;
  float a0 = sample_old(old, 1, px, pz), t0 = sample_old(old, 3, px, pz);
  float hx = (fluid_level(old, c) - fluid_level(old, e)) * 10.0f * dt;
  float fx = face_flow(old, c, e, x, z, a0, hx, k, blocked);

  float qx = (float)x - dt * (old[w].flow_x + old[c].flow_x + old[hmap_index(x - 1, z + 1)].flow_x +
                              old[n].flow_x) / 4.0f;
  float qz = (float)z - old[c].flow_z * dt;
  float a1 = sample_old(old, 2, qx, qz), t1 = sample_old(old, 3, qx, qz);
  float hz = (fluid_level(old, c) - fluid_level(old, n)) * 10.0f * dt;
  float fz = face_flow(old, c, n, x, z, a1, hz, k, blocked);

  float around = 2.0f * t0 + 2.0f * t1 + old[n].turbulence + old[w].turbulence +
                 old[e].turbulence + old[s].turbulence;
  float turb = 3.2f * (hx * hx) + 3.2f * (hz * hz) + 0.01f * (float)blocked +
               k.turbulence_decay * around / 8.0f;
  nw[c] = {old[c].amount, fx, fz, fminf(1.0f, turb)};
}

inline FluidConstants fluid_constants(float dt) {
  return {dt, fmaxf(0.0f, 1.0f - 0.03f * dt), fmaxf(0.0f, 1.0f - 0.3f * dt),
          fmaxf(0.0f, 1.0f - 5.0f * dt)};
}

inline void simWater(float dt) {
  std::swap(water, tmpw);
  const Water* old = tmpw;
  FluidConstants k = fluid_constants(dt);
  for (int z = 0; z < HMAP_SIZE; z++)
    for (int x = 0; x < HMAP_SIZE; x++) flow_cell(old, water, x, z, k);
  for (int z = 0; z < HMAP_SIZE; z++)
    for (int x = 0; x < HMAP_SIZE; x++) {
      float a = old[hmap_index(x, z)].amount;
      if (a != 0.0f) transport_cell(x, z, a, dt, k.water_damping);
    }
}

}  // namespace fluid_reference
