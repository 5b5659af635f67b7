// The waveOut back end's logic: sixteen fixed buffers polled through their done flags, written
// against a small table of device operations. win32_waveout.cpp fills the table with the real
// waveOut calls; the tests fill it with a fake device.
//
//   uint32_t my_open(SoundOutput* o, uint32_t rate, uint32_t bits, uint32_t channels,
//                    uint32_t flags, const SoundLength* length) {
//     return waveout_open(o, &kMyWaveDevice, rate, bits, channels, length);
//   }
//
// Behaviour:
// - One buffer is a sixteenth of a second (rounded up to 32 bytes). Committed buffers queue up
//   without reaching the device until half a second (or the movie's whole sound, when shorter)
//   is queued, or all sixteen buffers hold sound; then they are written in the order they were
//   filled, and from then on every commit is written at once.
// - The device has no callback: `sound_ready` reads the headers' done flags. All sixteen done
//   while playing means the device ran dry: `underrun` is set and queuing starts afresh.
// - Volume 0..65535 becomes 0..32767 per channel; the pan (0..65536, 32768 the centre) turns
//   one channel down. Switching off closes the device (all queued sound is dropped); switching
//   on reopens it. No operation runs on its own: all run under the movie's sound lock.
#pragma once
#include <cstdint>

#include "sound/sound_output.h"

constexpr uint32_t kWaveBuffers = 16;
constexpr uint32_t kWaveHeaderDone = 0x1;  // set by the device when a written buffer has played

// Laid out like the platform's wave header record (32 bytes in a 32-bit build), so that the
// device operations can hand it to the system as it is.
struct WaveHeader {
  uint8_t* data;
  uint32_t length;
  uint32_t recorded;
  uintptr_t user;
  uint32_t flags;
  uint32_t loops;
  WaveHeader* next;
  uintptr_t reserved;
};
static_assert(sizeof(void*) != 4 || sizeof(WaveHeader) == 32, "a wave header is 32 bytes");

// The device operations. `open` opens the default wave output for 16- or 8-bit PCM without a
// callback and returns its handle, or null. Results of the other calls are not used.
struct WaveOutDevice {
  void* (*open)(uint32_t rate, uint32_t bits, uint32_t channels);
  void (*prepare)(void* device, WaveHeader* header);
  void (*write)(void* device, WaveHeader* header);
  void (*pause)(void* device);
  void (*restart)(void* device);
  void (*reset)(void* device);
  void (*unprepare)(void* device, WaveHeader* header);
  void (*close)(void* device);
  void (*set_volume)(void* device, uint32_t left_right);  // left in the low 16 bits
};

// The back end's state, kept in the record's back-end bytes.
struct WaveOutState {
  const WaveOutDevice* ops;
  uint32_t volume;   // 0..32767
  uint32_t pan;      // 0..65536
  uint32_t playing;  // the queued buffers were handed to the device
  uint32_t paused;
  int32_t current;   // buffer offered by sound_get_buffer, -1 if none
  int32_t last;      // buffer committed last, -1 if none
  uint32_t queued;   // bytes committed since playing was last cleared
  uint32_t start_bytes;
  uint32_t total_bytes;   // the movie's whole sound (all ones when unknown)
  uint32_t buffer_bytes;
  uint32_t queued_buffers;  // buffers committed while not playing
  void* device;             // null when closed
  WaveHeader** headers;     // kWaveBuffers pointers inside `memory`
  uint8_t* memory;          // buffers, then the header pointers, then the headers
};
static_assert(sizeof(WaveOutState) <= kSoundBackendStateBytes, "state fits the record");

// Buffer and start sizes for a format (0 for a format that cannot be played).
void waveout_sizes(uint32_t rate, uint32_t bits, uint32_t channels, uint32_t* buffer_bytes,
                   uint32_t* start_bytes);
// Bytes in the block holding the sixteen buffers, header pointers and headers.
uint32_t waveout_memory_bytes(uint32_t buffer_bytes);

// Clears the record, fills its operations and opens the device; non-zero on success. The sound's length,
// when given, bounds the start by its whole sound. Fails for a format other than 8 or 16 bits,
// 1 or 2 channels and a rate that gives buffers of at least 32 bytes.
uint32_t waveout_open(SoundOutput* out, const WaveOutDevice* device, uint32_t rate,
                      uint32_t bits, uint32_t channels, const SoundLength* length);
// The state of a record opened by waveout_open (tests and diagnostics).
WaveOutState* waveout_state(SoundOutput* out);
