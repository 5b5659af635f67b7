// Small synthetic movies for the demo, the tools' tests and the engine's tests: flat colours
// that change from frame to frame (a moving square on inter frames, so that the change map has
// something to show) and, optionally, one sound track holding a tone.
#pragma once
#include <cstdint>
#include <vector>

struct SampleMovieSpec {
  uint32_t width = 64, height = 48;
  uint32_t frames = 20;
  uint32_t rate_num = 10, rate_den = 1;
  uint32_t key_every = 10;   // 1: every frame a key frame
  uint8_t version = 'i';
  // Picture content: 0 flat colours with a moving block (every version), or a synthetic stream
  // of encode/video_sample_streams.h (version "i"): 1 typical, 2 intra-heavy, 3 flat blocks.
  uint32_t content = 0;
  // Sound: rate 0 means no track.
  uint32_t audio_rate = 22050;
  uint32_t audio_channels = 1;
  bool audio_dct = true;     // else the real DFT
  bool audio_16bit = true;
  uint32_t tone_hz = 440;
  uint32_t track_id = 0;
  // Sound tracks (1 or 2); the second has the next identifier and a tone a fifth higher.
  uint32_t tracks = 1;
};

// The movie's bytes; empty when the description cannot be coded.
std::vector<uint8_t> sample_movie_write(const SampleMovieSpec& s);
