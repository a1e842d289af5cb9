#include "platform/clock.h"
#include <ctime>

static const int64_t ticks_per_sec = 1000000000;

static int64_t monotonic_now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (int64_t)t.tv_sec * ticks_per_sec + t.tv_nsec;
}

static void monotonic_sleep(int ms) {
  if (ms <= 0) return;
  timespec t = {ms / 1000, (long)(ms % 1000) * 1000000L};
  while (nanosleep(&t, &t) != 0) {
  }
}

static const ClockSource real_clock = {monotonic_now, monotonic_sleep};
static const ClockSource* clock_source = &real_clock;

void set_clock_source(const ClockSource* source) { clock_source = source ? source : &real_clock; }

int64_t get_ref_time() { return clock_source->now(); }
int64_t time_ticks_per_sec() { return ticks_per_sec; }
void sleep_msec(int ms) { clock_source->sleep(ms); }

// The products are taken in 128 bits: a counter value of days in nanoseconds
// times a million does not fit in 64.
int64_t msec_to_ticks(int ms) { return (int64_t)((__int128)ms * ticks_per_sec / 1000); }
int get_time_msec(int64_t ticks) { return (int)((__int128)ticks * 1000 / ticks_per_sec); }
int get_time_usec(int64_t ticks) { return (int)((__int128)ticks * 1000000 / ticks_per_sec); }
float get_time_sec(int64_t ticks) { return (float)((double)ticks * (1.0 / (double)ticks_per_sec)); }
