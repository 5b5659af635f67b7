// SoundOutput: one played sound track. A table of operations filled by the back end's open,
// the ring of decoded 16-bit PCM shared with the playback engine, and the back end's state.
#pragma once
#include <cstdint>

struct AudioDecoder;
struct SoundOutput;

// How long the whole sound of a track lasts, for back ends that size their first fill by it:
// frame_count frames at rate_num / rate_den frames a second (rate_num 0: unknown).
struct SoundLength {
  uint32_t frame_count;
  uint32_t rate_num, rate_den;
};

using sound_ready_fn = uint32_t (*)(SoundOutput*);
// Offers a buffer: its address and size in output bytes; non-zero on success.
using sound_get_buffer_fn = uint32_t (*)(SoundOutput*, uint8_t** buffer, uint32_t* size);
// Hands over `bytes` output bytes written into the offered buffer.
using sound_commit_fn = void (*)(SoundOutput*, uint32_t bytes);
using sound_set_volume_fn = void (*)(SoundOutput*, int32_t volume);
using sound_set_pan_fn = void (*)(SoundOutput*, uint32_t pan);  // 0..65536, 32768 the centre
using sound_pause_fn = uint32_t (*)(SoundOutput*, uint32_t pause);  // returns the paused state
using sound_on_off_fn = uint32_t (*)(SoundOutput*, uint32_t on);    // returns whether it is on
using sound_close_fn = void (*)(SoundOutput*);
using sound_set_speakers_fn = void (*)(SoundOutput*, uint32_t speakers);
using sound_set_speaker_volumes_fn = void (*)(SoundOutput*, int32_t front, int32_t rear);

// A back end's open: clears the record, fills the operations and back-end fields, opens the
// device; non-zero on success.
using sound_open_fn = uint32_t (*)(SoundOutput*, uint32_t rate, uint32_t bits, uint32_t channels,
                                   uint32_t open_flags, const SoundLength* length);
// A sound provider: given its opaque argument, the back end's open function (or null).
using sound_provider_fn = sound_open_fn (*)(void* arg);

// A back end's operations in slot order (the last two only where a back end has them); the
// back end's open puts them into the record with sound_set_operations.
struct SoundOperations {
  sound_ready_fn ready;
  sound_get_buffer_fn get_buffer;
  sound_commit_fn commit;
  sound_set_volume_fn set_volume;
  sound_set_pan_fn set_pan;
  sound_pause_fn pause;
  sound_on_off_fn on_off;
  sound_close_fn close;
  sound_set_speakers_fn set_speakers;
  sound_set_speaker_volumes_fn set_speaker_volumes;
};

constexpr uint32_t kSoundBackendStateBytes = 256;

struct SoundOutput {
  sound_ready_fn sound_ready;
  sound_get_buffer_fn sound_get_buffer;
  sound_commit_fn sound_commit;
  sound_set_volume_fn sound_set_volume;
  sound_set_pan_fn sound_set_pan;
  sound_pause_fn sound_pause;
  sound_on_off_fn sound_on_off;
  sound_close_fn sound_close;
  sound_set_speakers_fn sound_set_speakers;
  sound_set_speaker_volumes_fn sound_set_speaker_volumes;

  uint32_t ring_size;
  uint8_t* ring_start;
  uint8_t* ring_end;
  uint8_t* write_pos;
  uint8_t* read_pos;
  AudioDecoder* decoder;
  uint32_t fill;
  uint32_t to_8bit;
  uint32_t flush_frame;
  uint32_t prime_bytes;
  uint32_t backend_bytes;  // one back-end buffer, in ring bytes
  uint32_t align_mask;
  uint32_t underrun;
  uint32_t output_on;
  uint32_t latency_ms;
  uint32_t time_scale;     // 16.16, always 1.0
  uint32_t rate, bits, channels;

  // The back end's private state (a back end may keep a pointer to more here).
  alignas(8) uint8_t backend[kSoundBackendStateBytes];
};

inline void sound_set_operations(SoundOutput* out, const SoundOperations& ops) {
  out->sound_ready = ops.ready;
  out->sound_get_buffer = ops.get_buffer;
  out->sound_commit = ops.commit;
  out->sound_set_volume = ops.set_volume;
  out->sound_set_pan = ops.set_pan;
  out->sound_pause = ops.pause;
  out->sound_on_off = ops.on_off;
  out->sound_close = ops.close;
  out->sound_set_speakers = ops.set_speakers;
  out->sound_set_speaker_volumes = ops.set_speaker_volumes;
}
