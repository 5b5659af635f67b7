// The capture sound back end, for tests and tools: it plays nothing, but records every byte the
// sound pump commits and consumes the queued sound either at once or at real-time speed on a
// millisecond clock, which can be injected. It can be told to run dry, which sets `underrun`
// as a device that ran out of sound would.
//
//   CaptureConfig c;
//   capture_default_config(&c);
//   c.realtime = 1; c.clock_ms = my_clock; c.clock_ctx = &fake_now;
//   sound_use_system(capture_provider, &c);   // or capture_configure(&c)
//   ... movie_open ... the engine's pump commits ...
//   uint32_t n; const uint8_t* bytes = capture_log(track, &n);
//
// Each opened record keeps its own state (a heap block whose pointer lives in the record's
// back-end bytes), so any number of tracks and movies can be open at once. The configuration
// is read when a record is opened; the per-record controls below change one open record. Like
// every back-end call, the controls run under the movie's sound lock (or while no pump runs).
//
// Consumption, in output bytes:
// - at once: a committed buffer is consumed on commit; `sound_ready` always answers 1 while
//   the output is on and not paused;
// - real time: committed bytes queue up and drain at rate x channels x bits / 8 bytes per
//   second of the clock from the first commit on; `sound_ready` answers 1 while another whole
//   buffer fits below queue_buffers buffers. When the queue runs out (the clock passes the end
//   of the queued sound) `underrun` is set and draining waits for the next commit.
// Pausing stops draining (and `sound_ready` answers 0); switching off discards the queue.
#pragma once
#include <cstdint>

#include "sound/sound_output.h"

using capture_clock_fn = uint32_t (*)(void* ctx);  // milliseconds, any origin
// Hands the log over when a record closes, just before the back end frees it.
using capture_close_fn = void (*)(void* ctx, const SoundOutput* out, const uint8_t* log,
                                  uint32_t log_bytes, uint32_t dropped_bytes);

struct CaptureConfig {
  uint32_t buffer_bytes;   // output bytes of one back-end buffer (at least 4; made a multiple of 4)
  uint32_t realtime;       // 0: consumed at once; 1: real-time speed
  uint32_t queue_buffers;  // real time: at most this many buffers queued (at least 1)
  uint32_t log_cap;        // most bytes kept per record; later ones are only counted as dropped
  capture_clock_fn clock_ms;  // null: a steady clock of the process
  void* clock_ctx;
  capture_close_fn on_close;  // null: none
  void* close_ctx;
};

constexpr uint32_t kCaptureDefaultBufferBytes = 4096;
constexpr uint32_t kCaptureDefaultQueueBuffers = 4;
constexpr uint32_t kCaptureDefaultLogCap = 64u << 20;

// Counters of one open record.
struct CaptureCounts {
  uint64_t committed;   // output bytes handed over by commits
  uint64_t consumed;    // output bytes played out (drained or consumed at once)
  uint64_t discarded;   // output bytes dropped from the queue by switching off or running dry
  uint32_t queued;      // output bytes waiting to be played (real time)
  uint32_t commits;
  uint32_t underruns;   // times underrun was set
  uint32_t log_bytes, dropped_bytes;
  uint32_t paused;
  int32_t volume;       // last volume given, 0 before any
  uint32_t pan;         // last pan given, 32768 before any
};

// At once, 4096-byte buffers, 4 queued, a 64 MiB log, the process clock, no close hook.
void capture_default_config(CaptureConfig* c);
// The configuration for records opened from now on (null: the defaults).
void capture_configure(const CaptureConfig* c);
// For `sound_use_system`: an argument that is not null is a `const CaptureConfig*` to configure
// with; returns capture_open.
sound_open_fn capture_provider(void* arg);
// The back end's open (a `sound_open_fn`): clears the record and fills it. Fails for a format
// other than 8 or 16 bits, 1 or 2 channels and a rate above 0, or when memory runs out.
uint32_t capture_open(SoundOutput* out, uint32_t rate, uint32_t bits, uint32_t channels,
                      uint32_t open_flags, const SoundLength* length);

// True when the record is open on this back end (every control below checks it and does
// nothing otherwise).
bool capture_is_open(const SoundOutput* out);
// Everything committed so far, in order (at most log_cap bytes); null when there is none.
const uint8_t* capture_log(const SoundOutput* out, uint32_t* bytes);
// The counters, with the real-time queue brought up to the clock first.
bool capture_counts(SoundOutput* out, CaptureCounts* counts);
// Switches between at-once (0) and real-time (1) consumption. Going to at-once consumes what
// is queued; real time starts draining with the next commit.
void capture_set_realtime(SoundOutput* out, uint32_t realtime);
// Runs dry now: the queue is discarded and `underrun` set, as when the sound ran out.
void capture_run_dry(SoundOutput* out);
// Brings the real-time queue up to the clock (every operation does this first).
void capture_update(SoundOutput* out);
