// ms_timer: monotonic milliseconds, 0 at the first call; every time in the system comes from it.
//
// It follows the high-resolution counter and cross-checks it against a coarse clock: when the
// two disagree by more than 200 ms the coarse clock's value is taken and the difference is kept
// as a correction. It never runs backwards.
#pragma once
#include <cstdint>

struct TimerSources {
  bool (*frequency)(uint64_t* ticks_per_second);  // false: no high-resolution counter
  uint64_t (*counter)();
  uint32_t (*coarse_ms)();
};

uint32_t ms_timer();
// Installs other clock sources (tests); null restores the platform's. Either way the timer
// starts again: its next call returns 0.
void timer_install_sources(const TimerSources* sources);
