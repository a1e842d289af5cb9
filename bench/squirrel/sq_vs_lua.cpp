// Times build/bin/sq against lua5.4 on pairs of scripts that compute the same
// result (scripts/NAME.nut and scripts/NAME.lua), best of three wall-clock
// runs each, and checks that both printed the same result. Prints
//   sq_NAME_ms, lua_NAME_ms, sq_NAME_vs_lua (time ours / time Lua)
// per pair and sq_geomean_vs_lua over all pairs.
#include "bench/bench.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

namespace {

const char* const kBenchmarks[] = {
    "fib", "float_loop", "string_concat", "array", "table", "method_call", "sort", "generator",
};

struct Run {
  bool ok = false;
  std::string output;
  double seconds = 0;
};

// Runs a shell command, collecting its standard output and error.
Run run_command(const std::string& command) {
  Run r;
  double t0 = bench_now_sec();
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) r.output.append(buf, n);
  int status = pclose(pipe);
  r.seconds = bench_now_sec() - t0;
  r.ok = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  while (!r.output.empty() && (r.output.back() == '\n' || r.output.back() == ' ')) r.output.pop_back();
  return r;
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

} // namespace

int main() {
  const std::string scripts = QV_SQ_BENCH_SCRIPTS;
  const std::string sq = quoted(QV_SQ_PATH);
  const std::string lua = "lua5.4";
  if (!run_command(lua + " -v").ok) {
    fprintf(stderr, "bench_squirrel: lua5.4 is not installed (./bench.sh installs it)\n");
    return 1;
  }

  int failures = 0, measured = 0;
  double log_sum = 0;
  for (const char* name : kBenchmarks) {
    std::string sq_cmd = sq + " " + quoted(scripts + "/" + name + ".nut");
    std::string lua_cmd = lua + " " + quoted(scripts + "/" + name + ".lua");
    double best_sq = 1e30, best_lua = 1e30;
    Run sq_run, lua_run;
    for (int round = 0; round < 3; round++) {
      sq_run = run_command(sq_cmd);
      lua_run = run_command(lua_cmd);
      if (!sq_run.ok || !lua_run.ok || sq_run.output != lua_run.output) break;
      if (sq_run.seconds < best_sq) best_sq = sq_run.seconds;
      if (lua_run.seconds < best_lua) best_lua = lua_run.seconds;
    }
    if (!sq_run.ok || !lua_run.ok || sq_run.output != lua_run.output) {
      fprintf(stderr, "bench_squirrel: %s: %s\n  sq (%s): %s\n  lua (%s): %s\n", name,
              sq_run.ok && lua_run.ok ? "results differ" : "a script failed", sq_run.ok ? "ok" : "failed",
              sq_run.output.c_str(), lua_run.ok ? "ok" : "failed", lua_run.output.c_str());
      failures++;
      continue;
    }
    std::string base = std::string("sq_") + name;
    bench_print((base + "_ms").c_str(), best_sq * 1000, "ms");
    bench_print((std::string("lua_") + name + "_ms").c_str(), best_lua * 1000, "ms");
    bench_print((base + "_vs_lua").c_str(), best_sq / best_lua, "x");
    log_sum += std::log(best_sq / best_lua);
    measured++;
  }
  if (measured > 0) bench_print("sq_geomean_vs_lua", std::exp(log_sum / measured), "x");
  return failures ? 1 : 0;
}
