#include "sound/backends/sdl_sound.h"

#include <SDL.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "sound/sound_output.h"

namespace {

// Rates the device is opened at. Below the lowest, a device period of 256 samples lasts seconds
// (SDL's dummy and disk drivers sleep that long, and closing the device waits for it): a track
// of a few hertz is no sound anyway, and stays silent.
constexpr uint32_t kMinRate = 1000;
constexpr uint32_t kMaxRate = 1000000;
constexpr uint32_t kChunkMs = 50;       // one buffer handed over by the pump
constexpr uint32_t kQueueMs = 600;      // what the device keeps queued
constexpr uint32_t kStallMs = 100;      // no buffer for this long: start with what is queued
constexpr int32_t kSilentHundredths = -10000;
constexpr int32_t kUnityGain = 0x10000;  // 16.16
// The single-precision value nearest 1/32767: volume 32767 is exactly 0 dB.
constexpr double kVolumeStep = 3.0518509447574615e-05;

struct SdlSound {
  SDL_AudioDeviceID device;
  uint32_t chunk_bytes;    // output bytes of one buffer
  uint32_t queue_bytes;    // output bytes kept queued
  uint32_t prefill_bytes;  // output bytes queued before the device starts
  uint32_t last_commit_ms;
  bool started;            // the device plays (it opens stopped)
  bool paused;
  bool fed;                // something was queued since the start or the last underrun
  bool neutral;            // full volume, centre pan: bytes go out untouched
  uint32_t volume;         // 0..32767
  uint32_t pan;            // 0..65536, 32768 the centre
  int32_t gain[2];         // 16.16, left and right (mono uses the left)
  uint8_t* staging;        // chunk_bytes, allocated with the state
};

std::mutex g_audio_mutex;
uint32_t g_audio_users = 0;

bool audio_acquire() {
  std::lock_guard<std::mutex> hold(g_audio_mutex);
  if (g_audio_users == 0 && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  ++g_audio_users;
  return true;
}

void audio_release() {
  std::lock_guard<std::mutex> hold(g_audio_mutex);
  if (g_audio_users && --g_audio_users == 0) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

SdlSound* state_of(const SoundOutput* o) {
  SdlSound* s = nullptr;
  if (o) std::memcpy(&s, o->backend, sizeof s);
  return s;
}

uint32_t round_up(uint64_t n, uint32_t to) { return uint32_t((n + to - 1) / to * to); }

// Volume 0..32767 in hundredths of a decibel, as a mixing device takes it.
int32_t volume_hundredths(uint32_t volume) {
  if (volume == 0) return kSilentHundredths;
  const long h = std::lround(3333.3333333333335 * std::log10(volume * kVolumeStep));
  return h < kSilentHundredths ? kSilentHundredths : int32_t(h);
}

int32_t gain_of(int32_t hundredths) {
  if (hundredths <= kSilentHundredths) return 0;
  if (hundredths >= 0) return kUnityGain;
  return int32_t(std::lround(kUnityGain * std::pow(10.0, hundredths / 2000.0)));
}

// The per-side gains of the current volume and pan: the pan turns one side down by its
// hundredths of a decibel (truncated toward zero: pan 32767 is the centre too).
void update_gains(const SoundOutput* o, SdlSound* s) {
  const int32_t level = volume_hundredths(s->volume);
  int32_t pan = int32_t((int64_t(s->pan) - 32768) * 10000 / 32768);
  if (o->channels != 2) pan = 0;  // a mono device has no sides to turn
  s->gain[0] = gain_of(level - (pan > 0 ? pan : 0));
  s->gain[1] = gain_of(level + (pan < 0 ? pan : 0));
  s->neutral = s->gain[0] == kUnityGain && s->gain[1] == kUnityGain;
}

void apply_gains(const SoundOutput* o, const SdlSound* s, uint8_t* data, uint32_t bytes) {
  const uint32_t sides = o->channels == 2 ? 2 : 1;
  if (o->bits == 16) {
    for (uint32_t i = 0, k = 0; i + 1 < bytes; i += 2, k = (k + 1) % sides) {
      const int32_t v = int16_t(uint16_t(data[i] | data[i + 1] << 8));
      const int32_t w = int32_t((int64_t(v) * s->gain[k] + 0x8000) >> 16);
      data[i] = uint8_t(w);
      data[i + 1] = uint8_t(uint32_t(w) >> 8);
    }
  } else {
    for (uint32_t i = 0, k = 0; i < bytes; ++i, k = (k + 1) % sides) {
      const int32_t v = int32_t(data[i]) - 128;
      data[i] = uint8_t(128 + ((int64_t(v) * s->gain[k] + 0x8000) >> 16));
    }
  }
}

void start(SdlSound* s) {
  SDL_PauseAudioDevice(s->device, 0);
  s->started = true;
}

uint32_t op_ready(SoundOutput* o) {
  SdlSound* s = state_of(o);
  if (!s || !o->output_on || s->paused) return 0;
  const uint32_t queued = SDL_GetQueuedAudioSize(s->device);
  if (!s->started) {
    // Filling: start once the first fill is queued, or when the pump has handed over
    // nothing for a while (a track whose sound ends before the fill is complete).
    if (queued && (queued >= s->prefill_bytes || SDL_GetTicks() - s->last_commit_ms >= kStallMs)) start(s);
  } else if (queued == 0 && s->fed) {
    o->underrun = 1;  // ran dry while playing; the engine clears the flag
    s->fed = false;
  }
  return uint64_t(queued) + s->chunk_bytes <= s->queue_bytes ? 1 : 0;
}

uint32_t op_get_buffer(SoundOutput* o, uint8_t** buffer, uint32_t* size) {
  SdlSound* s = state_of(o);
  if (!s || !buffer || !size || !o->output_on) return 0;
  *buffer = s->staging;
  *size = s->chunk_bytes;
  return 1;
}

void op_commit(SoundOutput* o, uint32_t bytes) {
  SdlSound* s = state_of(o);
  if (!s || !o->output_on || !bytes) return;
  if (bytes > s->chunk_bytes) bytes = s->chunk_bytes;
  if (!s->neutral) apply_gains(o, s, s->staging, bytes);
  if (SDL_QueueAudio(s->device, s->staging, bytes) != 0) return;
  s->fed = true;
  s->last_commit_ms = SDL_GetTicks();
  if (!s->started && !s->paused && SDL_GetQueuedAudioSize(s->device) >= s->prefill_bytes) start(s);
}

void op_set_volume(SoundOutput* o, int32_t volume) {
  SdlSound* s = state_of(o);
  if (!s) return;
  s->volume = uint32_t(volume) < 32768 ? uint32_t(volume) : 32767;
  update_gains(o, s);
}

void op_set_pan(SoundOutput* o, uint32_t pan) {
  SdlSound* s = state_of(o);
  if (!s) return;
  s->pan = pan < 65536 ? pan : 65536;
  update_gains(o, s);
}

uint32_t op_pause(SoundOutput* o, uint32_t pause) {
  SdlSound* s = state_of(o);
  if (!s) return 0;
  s->paused = pause != 0;
  if (s->started) {
    SDL_PauseAudioDevice(s->device, s->paused ? 1 : 0);
  } else if (!s->paused && o->output_on) {
    // Resuming starts the device only when its first fill is complete.
    const uint32_t queued = SDL_GetQueuedAudioSize(s->device);
    if (queued && queued >= s->prefill_bytes) start(s);
  }
  return s->paused ? 1 : 0;
}

uint32_t op_on_off(SoundOutput* o, uint32_t on) {
  SdlSound* s = state_of(o);
  if (!s) return 0;
  if (!on && o->output_on) {
    SDL_PauseAudioDevice(s->device, 1);
    SDL_ClearQueuedAudio(s->device);
    s->started = false;
    s->fed = false;
    o->output_on = 0;
  } else if (on && !o->output_on) {
    o->output_on = 1;  // a new fill starts with the next buffer
    s->last_commit_ms = SDL_GetTicks();
  }
  return o->output_on;
}

void op_close(SoundOutput* o) {
  SdlSound* s = state_of(o);
  if (!s) return;
  SDL_CloseAudioDevice(s->device);
  std::free(s);
  std::memset(o->backend, 0, sizeof s);
  o->output_on = 0;
  audio_release();
}

}  // namespace

sound_open_fn sdl_sound_provider(void*) { return sdl_sound_open; }

constexpr SoundOperations kOperations = {
    op_ready, op_get_buffer, op_commit, op_set_volume, op_set_pan, op_pause, op_on_off, op_close,
    nullptr, nullptr};

uint32_t sdl_sound_open(SoundOutput* out, uint32_t rate, uint32_t bits, uint32_t channels, uint32_t /*open_flags*/,
                        const SoundLength* length) {
  if (!out) return 0;
  std::memset(static_cast<void*>(out), 0, sizeof *out);
  if (rate < kMinRate || rate > kMaxRate || (bits != 8 && bits != 16) || (channels != 1 && channels != 2)) return 0;
  if (!audio_acquire()) return 0;

  // The device in the track's own format; SDL converts when the hardware differs.
  SDL_AudioSpec want;
  SDL_zero(want);
  want.freq = int(rate);
  want.format = bits == 16 ? AUDIO_S16LSB : AUDIO_U8;
  want.channels = uint8_t(channels);
  want.samples = 256;  // about 20 ms per device period
  while (want.samples < 4096 && want.samples * 50u < rate) want.samples = uint16_t(want.samples * 2);
  want.callback = nullptr;  // queued: the pump feeds it
  SDL_AudioSpec have;
  SDL_zero(have);
  const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (device == 0) {
    audio_release();
    return 0;
  }
  if (have.freq != want.freq || have.format != want.format || have.channels != want.channels) {
    SDL_CloseAudioDevice(device);
    audio_release();
    return 0;
  }

  const uint32_t frame = channels * bits / 8;
  const uint64_t per_second = uint64_t(rate) * frame;
  const uint32_t chunk = round_up(per_second * kChunkMs / 1000, 256);
  const uint32_t queue = round_up(per_second * kQueueMs / 1000, 1024);
  SdlSound* s = static_cast<SdlSound*>(std::calloc(1, sizeof(SdlSound) + chunk));
  if (!s) {
    SDL_CloseAudioDevice(device);
    audio_release();
    return 0;
  }
  s->device = device;
  s->chunk_bytes = chunk;
  s->queue_bytes = queue;
  s->staging = reinterpret_cast<uint8_t*>(s + 1);
  // The first fill: 600 ms, or the movie's whole sound when shorter (one buffer when the movie
  // has no frame rate). Bounded so that the pump can always reach it before the queue is full.
  uint64_t prefill = chunk;
  if (length && length->rate_num && length->rate_den)
    prefill = uint64_t(length->frame_count) * length->rate_den * per_second / length->rate_num;
  if (prefill > queue - chunk) prefill = queue - chunk;
  if (prefill < frame) prefill = frame;
  s->prefill_bytes = uint32_t(prefill);
  s->last_commit_ms = SDL_GetTicks();
  s->volume = 32767;
  s->pan = 32768;
  std::memcpy(out->backend, &s, sizeof s);

  sound_set_operations(out, kOperations);
  out->rate = rate;
  out->bits = bits;
  out->channels = channels;
  update_gains(out, s);
  out->backend_bytes = bits == 16 ? chunk : 2 * chunk;
  out->align_mask = ~(frame - 1);  // whole sample frames, in output bytes
  out->underrun = 0;
  out->output_on = 1;
  out->latency_ms = 0;
  out->time_scale = 0x10000;
  return 1;
}

bool sdl_sound_is_open(const SoundOutput* out) { return out && out->sound_ready == op_ready && state_of(out); }

uint32_t sdl_sound_queued(const SoundOutput* out) {
  return sdl_sound_is_open(out) ? SDL_GetQueuedAudioSize(state_of(out)->device) : 0;
}

bool sdl_sound_started(const SoundOutput* out) { return sdl_sound_is_open(out) && state_of(out)->started; }
