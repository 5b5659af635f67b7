#include "base/timer.h"

#include <mutex>

#include "platform/platform.h"

namespace {

const TimerSources kPlatformSources = {platform_hires_frequency, platform_hires_counter, platform_coarse_ms};

struct TimerState {
  TimerSources sources = kPlatformSources;
  bool started = false;
  uint64_t frequency = 0;  // 0: no counter, the coarse clock is used as it is
  uint64_t first_counter = 0;
  uint32_t correction = 0;  // added modulo 2^32
  uint32_t last = 0;
  uint32_t last_coarse = 0;
  uint32_t first_coarse = 0;  // without a counter: the coarse clock at the first call
};

// The process's millisecond clock: one origin for every movie.
struct Timer {
  std::mutex lock;
  TimerState state;
};
Timer g_timer;

}  // namespace

void timer_install_sources(const TimerSources* sources) {
  std::lock_guard<std::mutex> hold(g_timer.lock);
  g_timer.state = TimerState{};
  if (sources) g_timer.state.sources = *sources;
}

uint32_t ms_timer() {
  std::lock_guard<std::mutex> hold(g_timer.lock);
  TimerState& s = g_timer.state;
  if (!s.started) {
    s.started = true;
    uint64_t f = 0;
    if (s.sources.frequency(&f) && f) {
      s.frequency = f;
      s.first_counter = s.sources.counter();
      s.last = 0;
      s.last_coarse = s.sources.coarse_ms();
      return 0;
    }
    s.frequency = 0;
    s.first_coarse = s.sources.coarse_ms();
    s.last = 0;
    return 0;
  }
  if (!s.frequency) {
    // The coarse clock alone, counted from the first call; it too never runs backwards.
    const uint32_t t = s.sources.coarse_ms() - s.first_coarse;
    if (t - s.last > 0xC0000000u) return s.last;
    s.last = t;
    return t;
  }

  const uint64_t ticks = s.sources.counter() - s.first_counter;
  // ticks × 1000 / frequency without overflowing 64 bits.
  uint64_t ms = ticks / s.frequency * 1000 + ticks % s.frequency * 1000 / s.frequency;
  uint32_t t = uint32_t(ms) + s.correction;
  const uint32_t coarse = s.sources.coarse_ms();
  const uint32_t expected = s.last + (coarse - s.last_coarse);
  const int32_t diff = int32_t(expected - t);
  if (diff > 200 || diff < -200) {
    s.correction += uint32_t(diff);
    t = expected;
  }
  if (t - s.last > 0xC0000000u) return s.last;  // would run backwards
  s.last = t;
  s.last_coarse = coarse;
  return t;
}
