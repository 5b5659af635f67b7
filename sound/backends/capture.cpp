#include "sound/backends/capture.h"

#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kMaxBufferBytes = 1u << 24;
constexpr uint32_t kFirstLogBytes = 1u << 16;

struct CaptureState {
  CaptureConfig config;
  uint64_t bytes_per_second;  // output bytes
  uint8_t* staging;           // the one buffer offered to the pump
  bool offered;               // get_buffer gave it and no commit followed yet
  uint8_t* log;
  uint32_t log_alloc;
  // Real time: the clock reading when draining (re)started and what has drained since.
  bool playing;
  uint32_t base_ms;
  uint64_t drained_since_base;
  CaptureCounts counts;
};

// The configuration records are opened with (tests and tools set it before they open a movie).
struct CaptureDefaults {
  CaptureConfig config;
  bool configured;
};
CaptureDefaults g_defaults = {};

// Milliseconds of the steady clock, wrapping at 2^32 (only differences are used).
uint32_t steady_ms(void*) {
  using namespace std::chrono;
  return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

CaptureState* state_of(const SoundOutput* out) {
  CaptureState* s = nullptr;
  if (out) std::memcpy(&s, out->backend, sizeof s);
  return s;
}

void set_state(SoundOutput* out, CaptureState* s) { std::memcpy(out->backend, &s, sizeof s); }

uint32_t now_ms(const CaptureState* s) { return s->config.clock_ms(s->config.clock_ctx); }

void ran_dry(SoundOutput* out, CaptureState* s) {
  s->counts.discarded += s->counts.queued;
  s->counts.queued = 0;
  s->playing = false;
  out->underrun = 1;
  ++s->counts.underruns;
}

// Drains the real-time queue up to the clock; sets underrun when the clock passed its end.
void drain(SoundOutput* out, CaptureState* s) {
  if (!s->config.realtime || !s->playing || s->counts.paused || !out->output_on) return;
  uint32_t elapsed = now_ms(s) - s->base_ms;
  uint64_t target = uint64_t(elapsed) * s->bytes_per_second / 1000;
  uint64_t due = target - s->drained_since_base;
  if (due <= s->counts.queued) {
    s->counts.queued -= uint32_t(due);
    s->counts.consumed += due;
    s->drained_since_base = target;
  } else {
    s->counts.consumed += s->counts.queued;
    s->counts.queued = 0;
    ran_dry(out, s);
  }
}

void restart_clock(CaptureState* s) {
  s->base_ms = now_ms(s);
  s->drained_since_base = 0;
}

void log_append(CaptureState* s, const uint8_t* bytes, uint32_t n) {
  uint32_t used = s->counts.log_bytes;
  if (uint64_t(used) + n > s->log_alloc && s->log_alloc < s->config.log_cap) {
    uint64_t want = s->log_alloc ? uint64_t(s->log_alloc) * 2 : kFirstLogBytes;
    if (want < uint64_t(used) + n) want = uint64_t(used) + n;
    if (want > s->config.log_cap) want = s->config.log_cap;
    if (uint8_t* grown = static_cast<uint8_t*>(std::realloc(s->log, size_t(want)))) {
      s->log = grown;
      s->log_alloc = uint32_t(want);
    }
  }
  uint32_t room = s->log_alloc - used;
  uint32_t kept = n < room ? n : room;
  if (kept) std::memcpy(s->log + used, bytes, kept);
  s->counts.log_bytes = used + kept;
  s->counts.dropped_bytes += n - kept;
}

bool can_take(SoundOutput* out, CaptureState* s) {
  drain(out, s);
  if (s->counts.paused || !out->output_on) return false;
  if (!s->config.realtime) return true;
  uint64_t limit = uint64_t(s->config.queue_buffers) * s->config.buffer_bytes;
  return uint64_t(s->counts.queued) + s->config.buffer_bytes <= limit;
}

uint32_t capture_ready(SoundOutput* out) {
  CaptureState* s = state_of(out);
  return s && can_take(out, s) ? 1 : 0;
}

uint32_t capture_get_buffer(SoundOutput* out, uint8_t** buffer, uint32_t* size) {
  CaptureState* s = state_of(out);
  if (!s || !buffer || !size || !can_take(out, s)) return 0;
  s->offered = true;
  *buffer = s->staging;
  *size = s->config.buffer_bytes;
  return 1;
}

void capture_commit(SoundOutput* out, uint32_t bytes) {
  CaptureState* s = state_of(out);
  if (!s || !s->offered) return;
  s->offered = false;
  if (bytes > s->config.buffer_bytes) bytes = s->config.buffer_bytes;
  log_append(s, s->staging, bytes);
  s->counts.committed += bytes;
  ++s->counts.commits;
  if (!s->config.realtime) {
    s->counts.consumed += bytes;
    return;
  }
  drain(out, s);
  s->counts.queued += bytes;
  if (!s->playing && bytes) {
    s->playing = true;
    restart_clock(s);
  }
}

void capture_set_volume(SoundOutput* out, int32_t volume) {
  if (CaptureState* s = state_of(out)) s->counts.volume = volume;
}

void capture_set_pan(SoundOutput* out, uint32_t pan) {
  if (CaptureState* s = state_of(out)) s->counts.pan = pan < 65536 ? pan : 65536;
}

uint32_t capture_pause(SoundOutput* out, uint32_t pause) {
  CaptureState* s = state_of(out);
  if (!s) return 0;
  drain(out, s);
  uint32_t was = s->counts.paused;
  s->counts.paused = pause ? 1 : 0;
  if (was && !pause && s->playing) restart_clock(s);
  return s->counts.paused;
}

uint32_t capture_on_off(SoundOutput* out, uint32_t on) {
  CaptureState* s = state_of(out);
  if (!s) return 0;
  if (!on && out->output_on) {
    drain(out, s);  // what played until now counts as played
    s->counts.discarded += s->counts.queued;
    s->counts.queued = 0;
    s->playing = false;
    s->offered = false;
    out->output_on = 0;
  } else if (on && !out->output_on) {
    out->output_on = 1;
  }
  return out->output_on;
}

void capture_close(SoundOutput* out) {
  CaptureState* s = state_of(out);
  if (!s) return;
  if (s->config.on_close)
    s->config.on_close(s->config.close_ctx, out, s->log, s->counts.log_bytes,
                       s->counts.dropped_bytes);
  std::free(s->log);
  std::free(s->staging);
  std::free(s);
  set_state(out, nullptr);
  out->output_on = 0;
}

}  // namespace

void capture_default_config(CaptureConfig* c) {
  *c = CaptureConfig{};
  c->buffer_bytes = kCaptureDefaultBufferBytes;
  c->realtime = 0;
  c->queue_buffers = kCaptureDefaultQueueBuffers;
  c->log_cap = kCaptureDefaultLogCap;
}

void capture_configure(const CaptureConfig* c) {
  if (c) {
    g_defaults.config = *c;
  } else {
    capture_default_config(&g_defaults.config);
  }
  g_defaults.configured = true;
}

sound_open_fn capture_provider(void* arg) {
  if (arg) capture_configure(static_cast<const CaptureConfig*>(arg));
  return capture_open;
}

constexpr SoundOperations kOperations = {
    capture_ready, capture_get_buffer, capture_commit, capture_set_volume, capture_set_pan,
    capture_pause, capture_on_off, capture_close, nullptr, nullptr};

uint32_t capture_open(SoundOutput* out, uint32_t rate, uint32_t bits, uint32_t channels,
                      uint32_t /*open_flags*/, const SoundLength* /*length*/) {
  if (!out) return 0;
  std::memset(out, 0, sizeof *out);
  if (rate == 0 || (bits != 8 && bits != 16) || (channels != 1 && channels != 2)) return 0;
  if (!g_defaults.configured) capture_configure(nullptr);

  CaptureConfig c = g_defaults.config;
  c.buffer_bytes &= ~3u;
  if (c.buffer_bytes < 4) c.buffer_bytes = 4;
  if (c.buffer_bytes > kMaxBufferBytes) c.buffer_bytes = kMaxBufferBytes;
  if (c.queue_buffers == 0) c.queue_buffers = 1;
  c.realtime = c.realtime ? 1 : 0;
  if (!c.clock_ms) c.clock_ms = steady_ms;

  CaptureState* s = static_cast<CaptureState*>(std::calloc(1, sizeof(CaptureState)));
  uint8_t* staging = static_cast<uint8_t*>(std::calloc(1, c.buffer_bytes));
  if (!s || !staging) {
    std::free(s);
    std::free(staging);
    return 0;
  }
  s->config = c;
  s->staging = staging;
  s->bytes_per_second = uint64_t(rate) * channels * (bits / 8);
  s->counts.pan = 32768;
  set_state(out, s);

  sound_set_operations(out, kOperations);
  out->rate = rate;
  out->bits = bits;
  out->channels = channels;
  out->backend_bytes = bits == 16 ? c.buffer_bytes : c.buffer_bytes * 2;
  out->underrun = 0;
  out->output_on = 1;
  out->latency_ms = 0;
  return 1;
}

bool capture_is_open(const SoundOutput* out) {
  return out && out->sound_ready == capture_ready && state_of(out);
}

const uint8_t* capture_log(const SoundOutput* out, uint32_t* bytes) {
  CaptureState* s = capture_is_open(out) ? state_of(out) : nullptr;
  if (bytes) *bytes = s ? s->counts.log_bytes : 0;
  return s && s->counts.log_bytes ? s->log : nullptr;
}

bool capture_counts(SoundOutput* out, CaptureCounts* counts) {
  if (!capture_is_open(out) || !counts) return false;
  drain(out, state_of(out));
  *counts = state_of(out)->counts;
  return true;
}

void capture_set_realtime(SoundOutput* out, uint32_t realtime) {
  if (!capture_is_open(out)) return;
  CaptureState* s = state_of(out);
  drain(out, s);
  if (realtime && !s->config.realtime) {
    s->config.realtime = 1;
    s->playing = false;
  } else if (!realtime && s->config.realtime) {
    s->counts.consumed += s->counts.queued;
    s->counts.queued = 0;
    s->playing = false;
    s->config.realtime = 0;
  }
}

void capture_run_dry(SoundOutput* out) {
  if (!capture_is_open(out)) return;
  CaptureState* s = state_of(out);
  drain(out, s);
  ran_dry(out, s);
}

void capture_update(SoundOutput* out) {
  if (capture_is_open(out)) drain(out, state_of(out));
}
