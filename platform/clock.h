// The high-resolution clock: signed 64-bit ticks of CLOCK_MONOTONIC
// (1 tick = 1 ns) and the conversions the game uses.
#pragma once
#include <cstdint>

int64_t get_ref_time();           // the current counter value
int64_t time_ticks_per_sec();     // the counter frequency
int64_t msec_to_ticks(int ms);    // ms * frequency / 1000
int get_time_msec(int64_t ticks); // ticks * 1000 / frequency
int get_time_usec(int64_t ticks); // ticks * 1000000 / frequency
float get_time_sec(int64_t ticks);
// Sleeps the calling thread (through the clock source, so a test clock can
// advance instead of waiting).
void sleep_msec(int ms);

// Where get_ref_time and sleep_msec get their answers. Tests install their
// own source to drive the main loop step by step; null restores the real clock.
struct ClockSource {
  int64_t (*now)();
  void (*sleep)(int ms);
};
void set_clock_source(const ClockSource* source);
