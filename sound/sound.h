// Sound feeding: the sound system its owner holds, the per-track rings of decoded PCM and the
// pump that moves it to the back end. The ring and every call into a back end are guarded by
// the feed's sound lock (its sound node's mutex).
#pragma once
#include <atomic>
#include <cstdint>

#include "container/service.h"
#include "sound/sound_output.h"

// The sound of one movie: its played tracks' outputs, the sound clock and the service node.
// The movie fills it at open and the engine decodes into the outputs' rings.
struct SoundFeed {
  SoundOutput* outputs;            // one record per played track (at least one record)
  uint32_t count;                  // played tracks
  uint32_t clock;                  // the movie plays by its sound clock
  ServiceNode node;                // on the sound service thread; its mutex is the sound lock
  const uint32_t* current_frame;   // the movie's current frame (1-based), read across threads
  const uint32_t* last_decoded;    // the movie's last decoded frame
  // Called (with the lock held) when switching the sound on starts the sound clock.
  void (*clock_started)(void* context);
  void* context;
};

// A sound system: the back end whose open the played tracks of the movies opened with it take.
// Its owner holds it (the player one, the library one per movie) and hands it to movie_open;
// a zeroed record is a system without a back end (every track stays silent).
struct SoundSystem {
  sound_provider_fn provider;
  sound_open_fn open;
  std::atomic<uint32_t> tracks_opened;  // after the first, only the same provider may follow
};

// Installs a sound provider (see sound_output.h) into `s`. Refuses (0) a null provider, or a
// different provider once a track was opened. Returns 1 when an open function is installed.
uint32_t sound_use_system(SoundSystem* s, sound_provider_fn provider, void* arg);
// The installed open function (null for a null system or none installed).
sound_open_fn sound_installed_open(const SoundSystem* s);
// Counts a track opened (after that only the same provider may be installed again).
void sound_count_track_opened(SoundSystem* s);

// Writes one decoded piece into the ring; a piece larger than the free space drops the oldest
// bytes first. The sound lock is held by the caller.
void sound_ring_write(SoundOutput* o, const uint8_t* pcm, uint32_t n);
// Primes the ring with silence up to prime_bytes.
void sound_fill_silence(SoundOutput* o);

void sound_pump(SoundFeed* f);
// The feed's sound lock (re-entrant): it guards the rings and every call into a back end, so a
// caller that reads or drives a back end itself (a tool, the player) holds it meanwhile.
void sound_lock(SoundFeed* f);
void sound_unlock(SoundFeed* f);
uint32_t sound_switch(SoundFeed* f, uint32_t on);

// The sound node's operations (the sound service thread calls them).
uint32_t sound_service_due(ServiceNode* node, uint32_t pass);
void sound_service_work(ServiceNode* node, uint32_t pass);

// Converts 16-bit little-endian samples to unsigned 8-bit (n output bytes from 2n input bytes).
void sound_to_8bit(uint8_t* dst, const uint8_t* src, uint32_t n);
