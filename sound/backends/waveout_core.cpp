#include "sound/backends/waveout_core.h"

#include <cstring>

#include "base/alloc.h"
#include "sound/sound_output.h"

namespace {

constexpr uint32_t kNoLimit = 0xffffffffu;

WaveOutState* state_of(SoundOutput* o) { return reinterpret_cast<WaveOutState*>(o->backend); }

uint32_t round_up32(uint64_t n) { return uint32_t((n + 31) / 32 * 32); }

// The device sets the done flag from its own thread: read it afresh every time.
bool is_done(const WaveHeader* h) {
  return (*static_cast<const volatile uint32_t*>(&h->flags) & kWaveHeaderDone) != 0;
}
void set_done(WaveHeader* h) { h->flags |= kWaveHeaderDone; }
void clear_done(WaveHeader* h) { h->flags &= ~kWaveHeaderDone; }

// The movie's whole sound in bytes: bytes/s x frames x denominator / numerator, exact in 64 bits.
uint32_t whole_sound_bytes(uint32_t per_second, const SoundLength* m) {
  if (!m || !m->rate_num || !m->rate_den) return kNoLimit;
  const uint64_t q = uint64_t(m->frame_count) * m->rate_den;
  const uint64_t whole = q / m->rate_num * per_second + (q % m->rate_num) * per_second / m->rate_num;
  return whole > kNoLimit ? kNoLimit : uint32_t(whole);
}

void close_device(SoundOutput* o) {
  WaveOutState* s = state_of(o);
  if (s->device) {
    s->ops->reset(s->device);
    for (uint32_t i = 0; i < kWaveBuffers; ++i) {
      WaveHeader* h = s->headers[i];
      h->length = s->buffer_bytes;
      s->ops->unprepare(s->device, h);
      set_done(h);
    }
    s->ops->close(s->device);
    s->device = nullptr;
  }
  aligned_free32(s->memory);
  s->memory = nullptr;
  s->headers = nullptr;
}

bool open_device(SoundOutput* o) {
  WaveOutState* s = state_of(o);
  waveout_sizes(o->rate, o->bits, o->channels, &s->buffer_bytes, &s->start_bytes);
  if (!s->buffer_bytes) return false;
  if (s->start_bytes > s->total_bytes) s->start_bytes = s->total_bytes;
  s->current = s->last = -1;
  s->playing = 0;
  s->queued = 0;
  s->queued_buffers = 0;

  s->memory = static_cast<uint8_t*>(aligned_alloc32(waveout_memory_bytes(s->buffer_bytes)));
  if (!s->memory) return false;
  uint8_t* pointers = s->memory + size_t(kWaveBuffers) * s->buffer_bytes;
  s->headers = reinterpret_cast<WaveHeader**>(pointers);
  WaveHeader* first = reinterpret_cast<WaveHeader*>(pointers + kWaveBuffers * sizeof(WaveHeader*));
  for (uint32_t i = 0; i < kWaveBuffers; ++i) {
    WaveHeader* h = first + i;
    std::memset(static_cast<void*>(h), 0, sizeof *h);
    h->data = s->memory + size_t(i) * s->buffer_bytes;
    s->headers[i] = h;
  }
  std::memset(s->memory, o->bits == 16 ? 0x00 : 0x80, size_t(kWaveBuffers) * s->buffer_bytes);

  s->device = s->ops->open(o->rate, o->bits, o->channels);
  if (!s->device) {
    aligned_free32(s->memory);
    s->memory = nullptr;
    s->headers = nullptr;
    return false;
  }
  for (uint32_t i = 0; i < kWaveBuffers; ++i) {
    WaveHeader* h = s->headers[i];
    h->length = s->buffer_bytes;
    s->ops->prepare(s->device, h);
    set_done(h);  // every buffer starts free
  }
  return true;
}

void apply_volume(SoundOutput* o) {
  WaveOutState* s = state_of(o);
  uint32_t left = s->volume, right = s->volume;
  if (s->pan > 32767) left = uint32_t(uint64_t(s->volume) * (65536 - s->pan) / 32769);
  else right = uint32_t(uint64_t(s->volume) * s->pan / 32767);
  if (s->device) s->ops->set_volume(s->device, (left & 0xffffu) | (right & 0xffffu) << 16);
}

uint32_t op_ready(SoundOutput* o) {
  WaveOutState* s = state_of(o);
  if (s->paused || !o->output_on || !s->headers) return 0;
  if (s->playing) {
    uint32_t done = 0;
    for (uint32_t i = 0; i < kWaveBuffers; ++i) done += is_done(s->headers[i]) ? 1 : 0;
    if (done == kWaveBuffers) {
      // The device ran dry: queue afresh.
      o->underrun = 1;
      s->playing = 0;
      s->queued = 0;
      s->queued_buffers = 0;
      s->current = s->last = -1;
    }
  }
  const int32_t candidate = (s->last + 1) % int32_t(kWaveBuffers);
  if (is_done(s->headers[candidate])) {
    s->current = candidate;
    return 1;
  }
  // While queuing, buffers are filled in order from 0 and none is written, so only the next in
  // order is ever free; a buffer found done out of order is one the device has played.
  if (!s->playing) return 0;
  for (uint32_t i = 0; i < kWaveBuffers; ++i) {
    if (is_done(s->headers[i])) {
      s->current = int32_t(i);
      return 1;
    }
  }
  return 0;
}

uint32_t op_get_buffer(SoundOutput* o, uint8_t** buffer, uint32_t* size) {
  WaveOutState* s = state_of(o);
  if (s->current < 0 || !s->memory) return 0;
  *buffer = s->memory + size_t(s->current) * s->buffer_bytes;
  *size = s->buffer_bytes;
  return 1;
}

void op_commit(SoundOutput* o, uint32_t bytes) {
  WaveOutState* s = state_of(o);
  if (s->current < 0 || !s->headers) return;
  if (bytes > s->buffer_bytes) bytes = s->buffer_bytes;
  s->last = s->current;
  s->current = -1;
  s->queued += bytes;
  WaveHeader* h = s->headers[s->last];
  h->length = bytes;  // a short last piece plays only what was written
  if (s->playing) {
    clear_done(h);
    s->ops->write(s->device, h);
    return;
  }
  ++s->queued_buffers;
  if (s->queued >= s->start_bytes || s->queued_buffers == kWaveBuffers) {
    s->playing = 1;
    for (int32_t i = 0; i <= s->last; ++i) {
      clear_done(s->headers[i]);
      s->ops->write(s->device, s->headers[i]);
    }
    s->queued_buffers = 0;
  }
}

void op_set_volume(SoundOutput* o, int32_t volume) {
  WaveOutState* s = state_of(o);
  const uint64_t v = volume < 0 ? 1 : volume < 65536 ? uint64_t(volume) + 1 : 65536;
  s->volume = uint32_t(v * 32767 / 65536);
  apply_volume(o);
}

void op_set_pan(SoundOutput* o, uint32_t pan) {
  state_of(o)->pan = pan < 65536 ? pan : 65536;
  apply_volume(o);
}

uint32_t op_pause(SoundOutput* o, uint32_t pause) {
  WaveOutState* s = state_of(o);
  if (pause) {
    if (s->device) s->ops->pause(s->device);
    s->paused = 1;
  } else {
    if (s->device) s->ops->restart(s->device);
    s->paused = 0;
  }
  return s->paused;
}

uint32_t op_on_off(SoundOutput* o, uint32_t on) {
  if (on && !o->output_on) {
    if (open_device(o)) o->output_on = 1;
  } else if (!on && o->output_on) {
    close_device(o);
    o->output_on = 0;
    return 0;
  }
  return o->output_on;
}

void op_close(SoundOutput* o) {
  close_device(o);
  o->output_on = 0;
}

}  // namespace

void waveout_sizes(uint32_t rate, uint32_t bits, uint32_t channels, uint32_t* buffer_bytes,
                   uint32_t* start_bytes) {
  // Bytes per 1000 seconds.
  const uint64_t b = uint64_t(rate) * bits * channels / 8 * 1000;
  *buffer_bytes = b / 16000 ? round_up32(b / 16000) : 0;
  *start_bytes = round_up32(b / 2000);
}

uint32_t waveout_memory_bytes(uint32_t buffer_bytes) {
  return kWaveBuffers * (buffer_bytes + uint32_t(sizeof(WaveHeader*)) + uint32_t(sizeof(WaveHeader)));
}

constexpr SoundOperations kOperations = {
    op_ready, op_get_buffer, op_commit, op_set_volume, op_set_pan, op_pause, op_on_off, op_close,
    nullptr, nullptr};

uint32_t waveout_open(SoundOutput* out, const WaveOutDevice* device, uint32_t rate,
                      uint32_t bits, uint32_t channels, const SoundLength* length) {
  if (!out) return 0;
  std::memset(static_cast<void*>(out), 0, sizeof *out);
  if (!device || (bits != 8 && bits != 16) || (channels != 1 && channels != 2)) return 0;
  uint32_t buffer_bytes = 0, start_bytes = 0;
  waveout_sizes(rate, bits, channels, &buffer_bytes, &start_bytes);
  if (!buffer_bytes || buffer_bytes > (64u << 20)) return 0;

  WaveOutState* s = state_of(out);
  s->ops = device;
  out->underrun = 0;
  out->rate = rate;
  out->bits = bits;
  out->channels = channels;
  s->total_bytes = whole_sound_bytes(rate * (bits / 8) * channels, length);
  s->volume = 32767;
  s->pan = 32767;
  s->paused = 0;
  out->output_on = 1;
  sound_set_operations(out, kOperations);
  if (!open_device(out)) {
    std::memset(static_cast<void*>(out), 0, sizeof *out);
    return 0;
  }
  out->backend_bytes = bits == 16 ? s->buffer_bytes : 2 * s->buffer_bytes;
  out->latency_ms = 0;
  return 1;
}

WaveOutState* waveout_state(SoundOutput* out) {
  return out && out->sound_ready == op_ready ? state_of(out) : nullptr;
}
