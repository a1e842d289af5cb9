// Droplet erosion. Each droplet starts at a random grid point and walks
// downhill one unit per step with inertia, eroding where it is fast and has
// capacity and depositing where it slows or climbs; deposits blend the
// ground colour towards the carried sediment's and run colour reactions.
#include "world/erosion.h"
#include <cmath>
#include "lib/check.h"
#include "lib/utils.h"
#include "platform/clock.h"
#include "render/font.h"
#include "world/heightmap.h"
#include "world/noise.h"

namespace HeightmapData {

ErosionReaction make_erosion_reaction(vec4f reactants, vec4f products, float k) {
  ErosionReaction r;
  alignas(16) float re[4], pr[4];
  _mm_store_ps(re, reactants);
  _mm_store_ps(pr, products);
  for (int j = 0; j < 4; j++) {
    r.rate[j] = k * (pr[j] - re[j]);
    r.exponent[j] = nearest_int(re[j]);
  }
  return r;
}

namespace {

struct Droplet {
  float px, pz;  // position (not wrapped)
  int cx, cz;    // its cell
  float fx, fz;  // fractions within the cell
  vec4f S;       // sediment colour
};

inline float height_at(int x, int z) { return hmap[hmap_index(x, z)]; }

inline float bilinear_height(int cx, int cz, float fx, float fz) {
  float h00 = height_at(cx, cz), h10 = height_at(cx + 1, cz);
  float h01 = height_at(cx, cz + 1), h11 = height_at(cx + 1, cz + 1);
  float a = h00 + (h10 - h00) * fx, b = h01 + (h11 - h01) * fx;
  return a + (b - a) * fz;
}

// Rule R: the reactions on colour c for the reaction time, in at most ten
// sub-steps, each as long as it can be before a falling channel reaches 0.
vec4f react(vec4f cv, const ErosionParams& p) {
  float T = p.reactionTime;
  if (T <= 0.0f || p.reactions.count() == 0) return cv;
  alignas(16) float c[4];
  _mm_store_ps(c, cv);
  for (int step = 0; step < 10 && T > 0.0f; step++) {
    float rate[4] = {0, 0, 0, 0};
    for (const ErosionReaction& r : p.reactions) {
      float speed = 1.0f;
      for (int j = 0; j < 4; j++)
        for (int e = 0; e < r.exponent[j]; e++) speed *= c[j];
      for (int j = 0; j < 4; j++) rate[j] += speed * r.rate[j];
    }
    float tau = T;
    for (int j = 0; j < 4; j++)
      if (rate[j] < 0.0f) {
        float t = -c[j] / rate[j];
        if (t < tau) tau = t;
      }
    T -= tau;
    for (int j = 0; j < 4; j++) {
      c[j] += tau * rate[j];
      // The step ends where the first falling channel reaches 0; rounding
      // must not carry it below.
      if (rate[j] < 0.0f && c[j] < 0.0f) c[j] = 0.0f;
    }
  }
  return _mm_load_ps(c);
}

// Rule D: deposit a at the droplet's position, spread over the four corners
// of its cell by the bilinear weights.
void deposit(const Droplet& d, float a, const ErosionParams& p) {
  float share[4] = {a * (1.0f - d.fx) * (1.0f - d.fz), a * d.fx * (1.0f - d.fz),
                    a * (1.0f - d.fx) * d.fz, a * d.fx * d.fz};
  int corner[4] = {hmap_index(d.cx, d.cz), hmap_index(d.cx + 1, d.cz), hmap_index(d.cx, d.cz + 1),
                   hmap_index(d.cx + 1, d.cz + 1)};
  for (int k = 0; k < 4; k++) {
    float q = share[k];
    int i = corner[k];
    hmap[i] += q;
    Surface& s = surface[i];
    if (info_cover(s.info) != ST_GRASS) {
      s.info = info_with_cover(s.info, ST_OPEN);
      s.top_color = D3dColor(0u);
    }
    vec4f c = color_to_vec(s.color);
    float w = 1.0f - expf(-p.depositBlend * q);
    c = _mm_add_ps(c, _mm_mul_ps(_mm_sub_ps(d.S, c), _mm_set1_ps(w)));
    s.color = vec_to_color(react(c, p));
  }
}

// Rule E: erode e from the 4 x 4 cells around the droplet, weighted by
// 1 - dist^2 / 4; the sediment colour takes in the removed ground's colour.
void erode(Droplet& d, float e, float s0) {
  for (int z = d.cz - 1; z <= d.cz + 2; z++) {
    float dz = (float)z - d.pz;
    for (int x = d.cx - 1; x <= d.cx + 2; x++) {
      float dx = (float)x - d.px;
      float k = 1.0f - (dx * dx + dz * dz) / 4.0f;
      if (!(k > 0.0f)) continue;
      float r = 0.15915494f * k * e;
      int i = hmap_index(x, z);
      hmap[i] -= r;
      Surface& s = surface[i];
      s.info = info_with_cover(s.info, ST_OPEN);
      s.top_color = D3dColor(0u);
      float total = r + s0;
      if (total > 0.0f) {  // nothing taken and nothing carried leaves the colour as it is
        __m128 vt = _mm_set1_ps(total);
        d.S = _mm_add_ps(_mm_div_ps(_mm_mul_ps(d.S, _mm_set1_ps(s0)), vt),
                         _mm_div_ps(_mm_mul_ps(color_to_vec(s.color), _mm_set1_ps(r)), vt));
      }
    }
  }
}

}  // namespace

void genDropletErosion(unsigned count, ErosionParams& p) {
  int64_t start = get_ref_time();
  unsigned long long total_path = 0, long_paths = 0, random_dirs = 0;
  int period_left = p.periodStep;
  const float two_g = 2.0f * p.g;

  for (unsigned n = 0; n < count; n++) {
    if (n != 0 && n % 16384 == 0) show_splash("Calculating erosion", ((float)n + 0.5f) / (float)count);

    Droplet d;
    d.cx = hmrnd();
    d.cz = hmrnd();
    d.px = (float)d.cx;
    d.pz = (float)d.cz;
    d.fx = d.fz = 0.0f;
    d.S = _mm_setzero_ps();
    float h = height_at(d.cx, d.cz);
    float dirx = 0.0f, dirz = 0.0f, v = 0.0f, w = 1.0f, s = 0.0f;
    int steps = 0;

    for (;;) {
      float h00 = height_at(d.cx, d.cz), h10 = height_at(d.cx + 1, d.cz);
      float h01 = height_at(d.cx, d.cz + 1), h11 = height_at(d.cx + 1, d.cz + 1);
      float gx = h01 + h00 - h10 - h11, gz = h10 + h00 - h01 - h11;
      float nx = gx + (dirx - gx) * p.Ki, nz = gz + (dirz - gz) * p.Ki;
      float len = sqrtf(nx * nx + nz * nz);
      if (len <= 1.1920929e-7f) {
        float a = 6.2831855f * frnd();
        nx = cosf(a);
        nz = sinf(a);
        random_dirs++;
      } else {
        nx /= len;
        nz /= len;
      }
      Droplet next = d;
      next.px = d.px + nx;
      next.pz = d.pz + nz;
      next.cx = floor_coord(next.px);
      next.cz = floor_coord(next.pz);
      next.fx = next.px - (float)next.cx;
      next.fz = next.pz - (float)next.cz;
      float hn = bilinear_height(next.cx, next.cz, next.fx, next.fz);
      float s0 = s;

      if (h <= hn) {  // flat or uphill: fill the pit or end here
        float need = hn - h + 0.001f;
        if (s <= need) {
          deposit(d, s, p);
          break;
        }
        deposit(d, need, p);
        s -= need;
        v = 0.0f;
        h = hn + 0.001f;
      }
      float drop = h - hn;
      float capacity = fmaxf(drop, p.minSlope) * v * w * p.Kq;
      float x = s - capacity;
      if (x >= 0.0f) {
        float dep = x * p.Kd;
        deposit(d, dep, p);
        s -= dep;
        drop += dep;
      } else {
        float e = fminf(-x * p.Kr, 0.99f * drop);
        erode(d, e, s0);
        s += e;
        drop -= e;
      }
      v = sqrtf(v * v + two_g * drop);
      w *= 1.0f - p.Kw;

      next.S = d.S;
      d = next;
      dirx = nx;
      dirz = nz;
      h = hn;
      if (++steps >= 1024) {
        debug("droplet #%d path is too long!", (int)n);
        long_paths++;
        break;
      }
    }
    total_path += (unsigned long long)steps;
    if (p.periodStep > 0 && --period_left <= 0) {
      p.runPeriod();
      period_left = p.periodStep;
    }
  }

  int64_t ticks = get_ref_time() - start;
  double secs = (double)ticks / (double)time_ticks_per_sec();
  debug("computed %7d erosion droplets in %6u ms, %.0f droplets/s", (int)count,
        (unsigned)get_time_msec(ticks), secs > 0 ? count / secs : 0.0);
  debug("  %.2f average path length, %llu long paths cut, %llu random directions picked",
        count ? (double)total_path / count : 0.0, long_paths, random_dirs);
}

}  // namespace HeightmapData
