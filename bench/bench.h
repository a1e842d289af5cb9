// A small harness for the benchmark programs: time a body, print
// "name value unit" lines for ./bench.sh.
#pragma once
#include <cstdio>
#include <ctime>

inline double bench_now_sec() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

inline void bench_print(const char* name, double value, const char* unit) {
  printf("%s %.6g %s\n", name, value, unit);
  fflush(stdout);
}

// Runs body repeatedly for at least min_sec seconds (and at least once) and
// returns the seconds per call, taking the best of three rounds so that a
// busy machine disturbs the figure less.
template <class F>
double bench_seconds_per_call(F&& body, double min_sec = 0.3) {
  double best = 1e30;
  for (int round = 0; round < 3; round++) {
    long calls = 0;
    double t0 = bench_now_sec(), t1;
    do {
      body();
      calls++;
      t1 = bench_now_sec();
    } while (t1 - t0 < min_sec / 3);
    double per = (t1 - t0) / (double)calls;
    if (per < best) best = per;
  }
  return best;
}
