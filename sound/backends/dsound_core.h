// The DirectSound back end's logic: one looping secondary buffer of 600 ms per track, fed
// behind the play cursor, written against a small table of device operations. win32_dsound.cpp
// fills the table with the real COM calls; the tests fill it with a fake device.
//
//   dsound_core_install(&kMyDevice, nullptr);   // null: the back end creates its own object
//   if (dsound_core_trial()) sound_use_system(..., returns dsound_core_open ...);
//
// Behaviour:
// - The process-wide object is shared by all tracks (counted users); when the back end owns it,
//   it is created with the first user, given the priority level, and released with the last.
//   The first track after each successful priority call makes (and starts) the primary buffer.
// - A track prefills its buffer with the movie's whole sound, at most the buffer (one 50 ms
//   chunk when the movie has no frame rate); the commit that completes the prefill starts it.
// - While playing, `sound_ready` reads the cursors and offers the free space behind the play
//   cursor (less the guard of 1024 bytes, whole 4-byte units). A polling gap of poll_gap_ms or
//   more, or free space at or above 90 % of the buffer, is an underrun: `underrun` is set and
//   100 ms of silence go in at the write cursor.
// - Tracks of low rate, whose 600 ms are under kDsoundMinBufferBytes, get a buffer of that size;
//   the guard then takes the space beyond 600 ms, so that no more than 600 ms are queued, and
//   the play cursor has caught up when less than one chunk is left.
// - Lock and Play retry after 10 ms and Restore while the buffer is lost; a buffer that stays
//   lost for kDsoundLostRetries tries silences the track for good.
// - Volume 0..32767 and pan 0..65536 (32768 the centre) become hundredths of a decibel.
// All operations run under the movie's sound lock.
#pragma once
#include <cstdint>

#include "sound/sound_output.h"

constexpr int32_t kDsoundBufferLost = int32_t(0x88780096u);
constexpr uint32_t kDsoundPrimaryFlags = 0x1;      // the primary buffer
constexpr uint32_t kDsoundTrackFlags = 0x180E0;    // frequency, pan, volume, global focus, exact cursor
constexpr uint32_t kDsoundPlayLooping = 0x1;
constexpr uint32_t kDsoundPollGapMs = 540;
constexpr uint32_t kDsoundLostRetries = 100;       // 10 ms each
constexpr uint32_t kDsoundMaxSpeakers = 8;
constexpr uint32_t kDsoundGuardBytes = 1024;       // never written right behind the play cursor
// The least buffer the back end makes: the guard and 100 ms of silence must fit well inside.
// (DirectSound itself takes 4 bytes and more, DSBSIZE_MIN.)
constexpr uint32_t kDsoundMinBufferBytes = 4 * kDsoundGuardBytes;

struct DsoundFormat {
  uint32_t rate, bits, channels;
};

// The device operations. Results are the system's (negative on failure). create_buffer makes
// the primary buffer when `flags` has kDsoundPrimaryFlags (no size, no format).
struct DsoundDevice {
  void* (*create_object)();                // the default device's object, or null
  uint32_t (*cooperate)(void* object);     // priority level for the owner window; non-zero: done
  void (*release_object)(void* object);
  void* (*create_buffer)(void* object, uint32_t flags, uint32_t bytes, const DsoundFormat* format);
  void (*release_buffer)(void* buffer);
  int32_t (*get_position)(void* buffer, uint32_t* play, uint32_t* write);
  int32_t (*get_status)(void* buffer, uint32_t* status);
  int32_t (*lock)(void* buffer, uint32_t offset, uint32_t bytes, uint8_t** first,
                  uint32_t* first_bytes, uint8_t** second, uint32_t* second_bytes);
  int32_t (*unlock)(void* buffer, uint8_t* first, uint32_t first_bytes, uint8_t* second,
                    uint32_t second_bytes);
  int32_t (*play)(void* buffer, uint32_t flags);
  int32_t (*stop)(void* buffer);
  int32_t (*set_position)(void* buffer, uint32_t offset);
  int32_t (*set_format)(void* buffer, const DsoundFormat* format);
  int32_t (*set_volume)(void* buffer, int32_t hundredths);  // -10000..0
  int32_t (*set_pan)(void* buffer, int32_t pan);            // -10000..10000
  int32_t (*set_frequency)(void* buffer, uint32_t hz);
  int32_t (*restore)(void* buffer);
  uint32_t (*clock_ms)();
  void (*sleep_ms)(uint32_t ms);
};

// The back end's per-track state, kept in the record's back-end bytes.
struct DsoundState {
  const DsoundDevice* ops;
  void* buffer;            // the secondary buffer, null when closed
  uint32_t buffer_bytes;   // 600 ms, a multiple of 1024; at least kDsoundMinBufferBytes
  uint32_t chunk_bytes;    // 50 ms, a multiple of 256
  uint32_t rate, bits, channels;
  uint32_t volume;         // 0..32767
  uint32_t pan;            // 0..65536
  uint32_t playing;
  uint32_t paused;
  uint32_t write_pos;      // where the next data goes
  uint32_t writable;       // bytes that may be written at write_pos now
  uint32_t prefill_bytes;
  uint32_t last_write, last_play;
  uint32_t late_bytes;     // 90 % of the buffer (DsoundSizes)
  uint32_t guard_bytes;    // kept clear behind the play cursor (DsoundSizes)
  uint32_t last_poll;
  uint32_t poll_gap_ms;
  uint32_t lost;           // the buffer stayed lost: the track is silent for good
  uint8_t* lock_first;
  uint32_t lock_first_bytes;
  uint8_t* lock_second;
  uint32_t lock_second_bytes;
  uint32_t speaker_count;
  uint32_t speakers[kDsoundMaxSpeakers];
  uint32_t speaker_volume_count;
  int32_t speaker_volumes[kDsoundMaxSpeakers];
};
static_assert(sizeof(DsoundState) <= kSoundBackendStateBytes, "state fits the record");

// The process-wide side.
struct DsoundSystem {
  const DsoundDevice* ops;
  void* object;             // dsound_no_object() when none
  uint32_t own;             // the back end creates and releases the object
  uint32_t users;           // the trial and every open track
  uint32_t primary_pending; // the next open makes the primary buffer
  void* primary;
};

void* dsound_no_object();
// The provider's first steps: the device table and the object supplied by the caller (null:
// the back end creates its own). While the object has users, the one in use is kept.
void dsound_core_install(const DsoundDevice* device, void* object);
// The provider's trial: acquires the object and releases it again; non-zero when it could.
uint32_t dsound_core_trial();
// The back end's open (a sound_open_fn) on the installed device; non-zero on success.
uint32_t dsound_core_open(SoundOutput* out, uint32_t rate, uint32_t bits, uint32_t channels,
                          uint32_t open_flags, const SoundLength* length);
// The sizes of a track's buffer for a format; all 0 when it cannot be played (no bytes, more
// than 64 MiB, or fewer than 1280 bytes a second: a chunk is then more than 200 ms).
struct DsoundSizes {
  uint32_t buffer_bytes;  // 600 ms rounded up to 1024 bytes, at least kDsoundMinBufferBytes
  uint32_t chunk_bytes;   // 50 ms rounded up to 256 bytes
  // Free space at or above late_bytes (once the guard is taken off) means that the play cursor
  // caught up with the data: 90 % of the buffer; in an enlarged buffer, less than one chunk left.
  uint32_t late_bytes;
  // Kept clear behind the play cursor: kDsoundGuardBytes; in an enlarged buffer, the space
  // beyond 600 ms (whole 4-byte units), so that at most 600 ms are queued.
  uint32_t guard_bytes;
  uint32_t queue_bytes;   // the most the prefill takes: the buffer; in an enlarged one, 600 ms
};
void dsound_sizes(uint32_t rate, uint32_t bits, uint32_t channels, DsoundSizes* out);
// Volume 0..32767 in hundredths of a decibel (-10000 for 0), and pan 0..65536 in -10000..10000.
int32_t dsound_volume_hundredths(uint32_t volume);
int32_t dsound_pan_hundredths(uint32_t pan);

// The process-wide state and a record's state (tests and diagnostics).
const DsoundSystem* dsound_core_system();
DsoundState* dsound_state(SoundOutput* out);
// Forgets the installed device and the object without releasing anything (tests only).
void dsound_core_reset();
