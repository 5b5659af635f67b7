#include "sound/backends/dsound_core.h"

#include <cmath>
#include <cstring>

#include "sound/sound_output.h"

namespace {

constexpr uint32_t kCursorSpread = 1024;    // three cursor readings agree within this
constexpr uint32_t kCursorTries = 64;       // then the last reading is taken
constexpr uint32_t kRestartMs = 50;         // a cursor that stands this long: Play again
constexpr uint32_t kStartWaitMs = 250;      // the start waits at most this long for the cursor
constexpr uint32_t kStopPolls = 100;
constexpr int32_t kSilentHundredths = -10000;
// The single-precision value nearest 1/32767: volume 32767 is exactly 0 dB.
constexpr double kVolumeStep = 3.0518509447574615e-05;

// The one sound device object the process's tracks share, and whether it was set up.
struct DsoundShared {
  DsoundSystem sys;
  bool ready;
};
DsoundShared g_device = {{nullptr, nullptr, 0, 0, 0, nullptr}, false};

void* none() { return reinterpret_cast<void*>(~uintptr_t(0)); }

void init_system() {
  if (g_device.ready) return;
  g_device.sys = DsoundSystem{nullptr, none(), 0, 0, 0, nullptr};
  g_device.ready = true;
}

DsoundState* state_of(SoundOutput* o) { return reinterpret_cast<DsoundState*>(o->backend); }

uint32_t round_up(uint64_t n, uint32_t to) { return uint32_t((n + to - 1) / to * to); }

bool acquire() {
  init_system();
  if (g_device.sys.users++ > 0) return true;
  if (g_device.sys.own) {
    void* object = g_device.sys.ops->create_object();
    if (!object) {
      --g_device.sys.users;
      return false;
    }
    g_device.sys.object = object;
    if (g_device.sys.ops->cooperate(object)) g_device.sys.primary_pending = 1;
  }
  return true;
}

void release() {
  if (!g_device.sys.users) return;
  if (--g_device.sys.users == 0 && g_device.sys.own && g_device.sys.object != none()) {
    // The primary buffer belongs to the object: it goes first.
    if (g_device.sys.primary) g_device.sys.ops->release_buffer(g_device.sys.primary);
    g_device.sys.primary = nullptr;
    g_device.sys.ops->release_object(g_device.sys.object);
    g_device.sys.object = none();
  }
}

// Lock and Play: while the buffer is lost, wait 10 ms, restore it and try again. A buffer that
// stays lost gives up the track.
int32_t lock_region(DsoundState* s, uint32_t offset, uint32_t bytes) {
  s->lock_first = s->lock_second = nullptr;
  s->lock_first_bytes = s->lock_second_bytes = 0;
  if (s->lost) return kDsoundBufferLost;
  for (uint32_t tries = 0;; ++tries) {
    const int32_t r = s->ops->lock(s->buffer, offset, bytes, &s->lock_first, &s->lock_first_bytes,
                                   &s->lock_second, &s->lock_second_bytes);
    if (r != kDsoundBufferLost) {
      if (r < 0) {
        s->lock_first = s->lock_second = nullptr;
        s->lock_first_bytes = s->lock_second_bytes = 0;
      }
      return r;
    }
    if (tries == kDsoundLostRetries) {
      s->lost = 1;
      s->lock_first = s->lock_second = nullptr;
      s->lock_first_bytes = s->lock_second_bytes = 0;
      return r;
    }
    s->ops->sleep_ms(10);
    s->ops->restore(s->buffer);
  }
}

void unlock_region(DsoundState* s) {
  if (s->lock_first || s->lock_second)
    s->ops->unlock(s->buffer, s->lock_first, s->lock_first_bytes, s->lock_second, s->lock_second_bytes);
  s->lock_first = s->lock_second = nullptr;
  s->lock_first_bytes = s->lock_second_bytes = 0;
}

int32_t play_looping(DsoundState* s) {
  if (s->lost) return kDsoundBufferLost;
  for (uint32_t tries = 0;; ++tries) {
    const int32_t r = s->ops->play(s->buffer, kDsoundPlayLooping);
    if (r != kDsoundBufferLost) return r;
    if (tries == kDsoundLostRetries) {
      s->lost = 1;
      return r;
    }
    s->ops->sleep_ms(10);
    s->ops->restore(s->buffer);
  }
}

void write_silence(DsoundState* s, uint32_t offset, uint32_t bytes) {
  if (lock_region(s, offset, bytes) < 0) return;
  const int fill = s->bits == 16 ? 0x00 : 0x80;
  if (s->lock_first) std::memset(s->lock_first, fill, s->lock_first_bytes);
  if (s->lock_second) std::memset(s->lock_second, fill, s->lock_second_bytes);
  unlock_region(s);
}

// Three readings; the third counts when both its cursors lie less than 1024 bytes ahead of the
// first's. A device whose cursors never settle gives its last reading after kCursorTries.
void read_cursors(DsoundState* s, uint32_t* play, uint32_t* write) {
  for (uint32_t tries = 0;; ++tries) {
    uint32_t p0 = 0, w0 = 0, p = 0, w = 0;
    s->ops->get_position(s->buffer, &p0, &w0);
    s->ops->get_position(s->buffer, &p, &w);
    s->ops->get_position(s->buffer, &p, &w);
    if ((p - p0 < kCursorSpread && w - w0 < kCursorSpread) || tries + 1 >= kCursorTries) {
      *play = p < s->buffer_bytes ? p : p % s->buffer_bytes;
      *write = w < s->buffer_bytes ? w : w % s->buffer_bytes;
      return;
    }
  }
}

void apply_settings(DsoundState* s) {
  if (!s->buffer) return;
  s->ops->set_frequency(s->buffer, s->rate);
  s->ops->set_pan(s->buffer, dsound_pan_hundredths(s->pan));
  s->ops->set_volume(s->buffer, dsound_volume_hundredths(s->volume));
}

// Starts the buffer and waits until its play cursor is seen running: inside the first chunk
// (a start from the beginning) or moved from where it stood. A cursor standing still for 50 ms
// gets Play again; the whole wait is bounded.
void start_playing(DsoundState* s) {
  s->playing = 1;
  play_looping(s);
  s->paused = 0;
  const uint32_t begin = s->ops->clock_ms();
  uint32_t origin = 0, play = 0, write = 0;
  s->ops->get_position(s->buffer, &origin, &write);
  uint32_t since = begin;
  while (!s->lost) {
    s->ops->get_position(s->buffer, &play, &write);
    if (play <= s->chunk_bytes || play != origin) break;
    const uint32_t now = s->ops->clock_ms();
    if (now - begin >= kStartWaitMs) break;
    if (now - since > kRestartMs) {
      play_looping(s);
      since = now;
    }
  }
  s->last_poll = s->ops->clock_ms();
}

uint32_t op_ready(SoundOutput* o) {
  DsoundState* s = state_of(o);
  if (s->paused || !o->output_on || !s->buffer || s->lost) return 0;
  if (!s->playing) return 1;  // prefilling

  uint32_t play = 0, write = 0;
  read_cursors(s, &play, &write);
  const uint32_t n = s->buffer_bytes;
  const int64_t dw = (write + n - s->last_write % n) % n;
  const int64_t dp = (play + n - s->last_play % n) % n;
  const int64_t spread = dp > dw ? dp - dw : dw - dp;
  if (spread > n / 2) return 0;  // the cursors moved apart: this reading is not trusted
  s->last_write = write;
  s->last_play = play;

  const uint32_t now = s->ops->clock_ms();
  bool dry = now - s->last_poll >= s->poll_gap_ms;
  s->last_poll = now;
  for (bool covered = false;;) {
    if (dry) {
      // Covered with silence from the write cursor on (once a call).
      o->underrun = 1;
      write_silence(s, write, 2 * s->chunk_bytes);
      s->write_pos = (write + 2 * s->chunk_bytes) % n;
      dry = false;
      covered = true;
    }
    const uint32_t free = (play + n - s->write_pos) % n;
    const uint32_t avail = free < s->guard_bytes ? 0 : (free - s->guard_bytes) & ~3u;
    if (avail < s->chunk_bytes && (s->writable == 0 || avail == 0)) return 0;
    if (avail >= s->late_bytes && !covered) {
      dry = true;  // the play cursor caught up with the data
      continue;
    }
    s->writable = avail;
    return 1;
  }
}

uint32_t op_get_buffer(SoundOutput* o, uint8_t** buffer, uint32_t* size) {
  DsoundState* s = state_of(o);
  if (!s->buffer || !buffer || !size) return 0;
  unlock_region(s);  // a lock the pump did not use
  if (!s->writable || lock_region(s, s->write_pos, s->writable) < 0) return 0;
  if (!s->lock_first || !s->lock_first_bytes) return 0;
  *buffer = s->lock_first;
  *size = s->lock_first_bytes;
  return 1;
}

void op_commit(SoundOutput* o, uint32_t bytes) {
  DsoundState* s = state_of(o);
  if (!s->buffer) return;
  if (bytes > s->writable) bytes = s->writable;
  s->write_pos = (s->write_pos + bytes) % s->buffer_bytes;
  s->writable -= bytes;
  unlock_region(s);
  if (!s->playing && s->writable == 0 && !s->paused) start_playing(s);
}

void op_set_volume(SoundOutput* o, int32_t volume) {
  DsoundState* s = state_of(o);
  s->volume = volume < 0 ? 0 : volume < 32768 ? uint32_t(volume) : 32767;
  apply_settings(s);
}

void op_set_pan(SoundOutput* o, uint32_t pan) {
  DsoundState* s = state_of(o);
  s->pan = pan < 65536 ? pan : 65536;
  apply_settings(s);
}

uint32_t op_pause(SoundOutput* o, uint32_t pause) {
  DsoundState* s = state_of(o);
  if (!s->buffer) return s->paused;
  if (pause) {
    if (s->playing) s->ops->stop(s->buffer);
    s->paused = 1;
    return 1;
  }
  // A buffer switched off stays stopped until it is switched on and prefilled again.
  if (o->output_on && (s->playing || s->writable == 0)) start_playing(s);
  s->paused = 0;
  return 0;
}

uint32_t op_on_off(SoundOutput* o, uint32_t on) {
  DsoundState* s = state_of(o);
  if (!s->buffer) return o->output_on;
  if (on && !o->output_on) {
    s->playing = 0;
    o->output_on = s->lost ? 0 : 1;
    s->write_pos = 0;
    s->writable = s->prefill_bytes;
  } else if (!on && o->output_on) {
    s->ops->stop(s->buffer);
    for (uint32_t i = 0; i < kStopPolls; ++i) {
      uint32_t status = 0;
      if (s->ops->get_status(s->buffer, &status) < 0 || status == 0) break;
      s->ops->sleep_ms(1);
    }
    s->ops->set_position(s->buffer, 0);
    write_silence(s, 0, s->buffer_bytes);
    o->output_on = 0;
  }
  return o->output_on;
}

void op_close(SoundOutput* o) {
  DsoundState* s = state_of(o);
  if (!s->buffer) return;
  unlock_region(s);
  s->ops->stop(s->buffer);
  s->paused = 1;
  s->ops->release_buffer(s->buffer);
  s->buffer = nullptr;
  o->output_on = 0;
  release();
}

void op_set_speakers(SoundOutput* o, uint32_t speakers) {
  DsoundState* s = state_of(o);
  s->speaker_count = 1;
  s->speakers[0] = speakers;
  apply_settings(s);
}

void op_set_speaker_volumes(SoundOutput* o, int32_t front, int32_t rear) {
  DsoundState* s = state_of(o);
  s->speaker_volume_count = 2;
  s->speaker_volumes[0] = front;
  s->speaker_volumes[1] = rear;
  apply_settings(s);
}

// The movie's whole sound in bytes, exact in 64 bits (0 when the movie has no frame rate).
uint64_t whole_sound_bytes(uint32_t per_second, const SoundLength* m) {
  if (!m || !m->rate_num || !m->rate_den) return 0;
  const uint64_t q = uint64_t(m->frame_count) * m->rate_den;
  return q / m->rate_num * per_second + (q % m->rate_num) * per_second / m->rate_num;
}

}  // namespace

void* dsound_no_object() { return none(); }

void dsound_core_install(const DsoundDevice* device, void* object) {
  init_system();
  if (g_device.sys.users) return;  // the object in use stays
  g_device.sys.ops = device;
  g_device.sys.object = object ? object : none();
  g_device.sys.own = object ? 0 : 1;
}

uint32_t dsound_core_trial() {
  init_system();
  if (!g_device.sys.ops || !acquire()) return 0;
  release();
  return 1;
}

void dsound_sizes(uint32_t rate, uint32_t bits, uint32_t channels, DsoundSizes* out) {
  *out = DsoundSizes{0, 0, 0, 0, 0};
  const uint64_t per_second = uint64_t(rate) * bits / 8 * channels;
  const uint64_t buffer = per_second * 600 / 1000;
  const uint64_t chunk = per_second * 50 / 1000;
  if (!buffer || !chunk || buffer > (64u << 20)) return;
  out->chunk_bytes = round_up(chunk, 256);
  out->buffer_bytes = round_up(buffer, 1024);
  if (out->buffer_bytes >= kDsoundMinBufferBytes) {
    out->late_bytes = uint32_t(uint64_t(out->buffer_bytes) * 90 / 100);
    out->guard_bytes = kDsoundGuardBytes;
    out->queue_bytes = out->buffer_bytes;
    return;
  }
  // Enlarged: 600 ms queued at the most, in whole 4-byte units (whole sample frames of every
  // format), and room in them for the 100 ms of silence of an underrun and one chunk more.
  const uint32_t queue = uint32_t(buffer) & ~3u;
  if (queue < 3 * out->chunk_bytes) {
    *out = DsoundSizes{0, 0, 0, 0, 0};
    return;
  }
  out->buffer_bytes = kDsoundMinBufferBytes;
  out->guard_bytes = kDsoundMinBufferBytes - queue;
  out->queue_bytes = queue;
  out->late_bytes = queue - out->chunk_bytes;
}

int32_t dsound_volume_hundredths(uint32_t volume) {
  if (volume == 0) return kSilentHundredths;
  const long h = std::lround(3333.3333333333335 * std::log10(volume * kVolumeStep));
  return h < kSilentHundredths ? kSilentHundredths : int32_t(h);
}

int32_t dsound_pan_hundredths(uint32_t pan) { return int32_t((int64_t(pan) - 32768) * 10000 / 32768); }

constexpr SoundOperations kOperations = {
    op_ready, op_get_buffer, op_commit, op_set_volume, op_set_pan, op_pause, op_on_off, op_close,
    op_set_speakers, op_set_speaker_volumes};

uint32_t dsound_core_open(SoundOutput* out, uint32_t rate, uint32_t bits, uint32_t channels,
                          uint32_t /*open_flags*/, const SoundLength* length) {
  if (!out) return 0;
  std::memset(static_cast<void*>(out), 0, sizeof *out);
  init_system();
  if (!g_device.sys.ops || (bits != 8 && bits != 16) || (channels != 1 && channels != 2)) return 0;
  DsoundSizes sizes;
  dsound_sizes(rate, bits, channels, &sizes);
  if (!sizes.buffer_bytes) return 0;
  const uint32_t buffer_bytes = sizes.buffer_bytes, chunk_bytes = sizes.chunk_bytes;
  if (!acquire()) return 0;

  DsoundState* s = state_of(out);
  s->ops = g_device.sys.ops;
  s->rate = out->rate = rate;
  s->bits = out->bits = bits;
  s->channels = out->channels = channels;
  s->buffer_bytes = buffer_bytes;
  s->chunk_bytes = chunk_bytes;
  s->late_bytes = sizes.late_bytes;
  s->guard_bytes = sizes.guard_bytes;
  const uint32_t per_second = rate * (bits / 8) * channels;
  const uint32_t block = (bits / 8) * channels;
  uint64_t prefill = whole_sound_bytes(per_second, length);
  if (!prefill) prefill = chunk_bytes;
  if (prefill > sizes.queue_bytes) prefill = sizes.queue_bytes;
  // Whole sample frames, so that the ring is never taken from in the middle of a sample.
  prefill -= prefill % block;
  if (!prefill) prefill = block;
  s->prefill_bytes = uint32_t(prefill);
  s->poll_gap_ms = kDsoundPollGapMs;
  out->underrun = 0;
  out->latency_ms = 0;

  const DsoundFormat format = {rate, bits, channels};
  if (g_device.sys.primary_pending) {
    if (!g_device.sys.primary) g_device.sys.primary = g_device.sys.ops->create_buffer(g_device.sys.object, kDsoundPrimaryFlags, 0, nullptr);
    if (g_device.sys.primary) {
      g_device.sys.ops->set_format(g_device.sys.primary, &format);
      g_device.sys.ops->play(g_device.sys.primary, kDsoundPlayLooping);
    }
    g_device.sys.primary_pending = 0;
  }

  s->buffer = g_device.sys.ops->create_buffer(g_device.sys.object, kDsoundTrackFlags, buffer_bytes, &format);
  if (!s->buffer) {
    release();
    std::memset(static_cast<void*>(out), 0, sizeof *out);
    return 0;
  }
  out->backend_bytes = bits == 16 ? chunk_bytes : 2 * chunk_bytes;
  s->volume = 32767;
  s->pan = 32767;
  apply_settings(s);
  write_silence(s, 0, buffer_bytes);

  s->write_pos = 0;
  s->playing = 0;
  s->paused = 0;
  s->writable = s->prefill_bytes;
  out->output_on = 1;
  sound_set_operations(out, kOperations);
  return 1;
}

const DsoundSystem* dsound_core_system() {
  init_system();
  return &g_device.sys;
}

DsoundState* dsound_state(SoundOutput* out) {
  return out && out->sound_ready == op_ready ? state_of(out) : nullptr;
}

void dsound_core_reset() {
  g_device.ready = false;
  init_system();
}
