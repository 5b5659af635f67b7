// The SDL sound back end of the Linux player. Every track opens an SDL audio device of its own
// in the track's format (rate, unsigned 8-bit or signed 16-bit little-endian, channels), with no
// callback: the sound pump polls it like the other back ends and hands it whole buffers, which
// go to the device's queue (SDL_QueueAudio). SDL's audio subsystem is started with the first
// open and stopped when the last track closes.
//
//   sound_use_system(sdl_sound_provider, nullptr);
//   ... movie_open: each played track opens a device ...
//
// Behaviour, as the engine expects of a device it polls:
// - One buffer is 50 ms of sound (rounded up to 256 bytes); the queue is kept at about 600 ms:
//   `sound_ready` answers non-zero while another buffer fits, the output is on and not paused.
// - The device opens stopped and starts once the queue holds the first 600 ms (or the movie's
//   whole sound, when shorter), or when the pump stops handing over sound before that.
//   Resuming before then does not start it.
// - A queue found empty by `sound_ready` after it played is an underrun: `underrun` is set
//   once per dry spell (the engine clears it). The device plays silence meanwhile.
// - Volume is 0..32767 (32767 at open: full) and pan 0..65536 (32768 the centre), the units of
//   the other back ends; they become hundredths of a decibel as a mixing device takes them
//   (volume 16384 is about -10 dB, 0 is silence; pan 0 silences the right side, 65536 the
//   left) and are applied to the samples. At full volume and centre pan every byte is queued
//   exactly as decoded.
// - Switching off clears the queue and stops the device; switching on starts a new fill.
// - Every call runs under the movie's sound lock; SDL's queue calls are safe against the
//   device's own thread.
// - When SDL audio cannot start or no device opens, the open fails: the track plays silent.
#pragma once
#include <cstdint>

#include "sound/sound_output.h"

// For `sound_use_system` (the argument is unused): returns sdl_sound_open.
sound_open_fn sdl_sound_provider(void* arg);
// The back end's open (a `sound_open_fn`): clears the record and fills it. Fails for a format
// other than 8 or 16 bits, 1 or 2 channels and a rate of 1..1000000, when SDL audio cannot
// start or when memory runs out. The sound's length, when given, bounds the first fill.
uint32_t sdl_sound_open(SoundOutput* out, uint32_t rate, uint32_t bits, uint32_t channels,
                        uint32_t open_flags, const SoundLength* length);

// True when the record is open on this back end.
bool sdl_sound_is_open(const SoundOutput* out);
// Output bytes waiting in the device's queue (0 for a record not open here); a caller that
// lets the sound play out before closing polls it, under the sound lock.
uint32_t sdl_sound_queued(const SoundOutput* out);
// True once the device was started (it opens stopped and fills first).
bool sdl_sound_started(const SoundOutput* out);
