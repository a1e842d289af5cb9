// Proximity bins under a world's worth of objects: moving every object each
// step, and the queries the module runs around a point.
#include <vector>
#include "bench/bench.h"
#include "objects/proximity.h"

int main() {
  const int n = 4096;
  std::vector<GameObj> objs(n);
  std::vector<float> x(n), z(n);
  unsigned seed = 12345;
  auto rnd = [&] { return (seed = seed * 1664525u + 1013904223u) >> 8 & 0xffff; };
  for (int i = 0; i < n; i++) {
    x[i] = rnd() * (256.0f / 65536.0f);
    z[i] = rnd() * (256.0f / 65536.0f);
    float r = 0.5f + (i % 8) * 0.5f;  // mostly fine bins, some coarse and global
    update_proximity(&objs[i], {x[i] - r, z[i] - r, x[i] + r, z[i] + r});
  }

  int step = 0;
  double t = bench_seconds_per_call([&] {
    step++;
    for (int i = 0; i < n; i++) {
      float px = x[i] + step * 0.05f, r = 0.5f + (i % 8) * 0.5f;
      update_proximity(&objs[i], {px - r, z[i] - r, px + r, z[i] + r});
    }
  });
  bench_print("proximity_update_ns", t / n * 1e9, "ns");

  ProximityQuery q;
  long found = 0;
  const int queries = 1024;
  t = bench_seconds_per_call([&] {
    for (int i = 0; i < queries; i++) {
      float px = x[i], pz = z[i];
      q.proximityQuery({px - 10, pz - 10, px + 10, pz + 10}, false);
      for (int b : q.bins) found += proximity[b].count();
    }
  });
  bench_print("proximity_query_ns", t / queries * 1e9, "ns");
  return found == 0;  // keeps the sums alive
}
