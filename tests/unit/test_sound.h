// The sound system that the tests' movies play into, and an open through it.
#pragma once
#include "playback/movie.h"
#include "sound/sound.h"

inline SoundSystem& test_sound() {
  static SoundSystem s;
  return s;
}
// Forgets the test system's back end and its open count.
inline void test_sound_reset() {
  SoundSystem& s = test_sound();
  s.provider = nullptr;
  s.open = nullptr;
  s.tracks_opened = 0;
}
// Opens `o` with the test system (or `sound`) for its played tracks.
inline Movie* open_with(MovieOpen o, SoundSystem* sound = &test_sound()) {
  o.sound = sound;
  return movie_open(&o);
}
