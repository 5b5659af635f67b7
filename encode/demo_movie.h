// The demo movie: a few seconds of colour and motion with a tune, drawn in code and coded with
// the writers like a real encoder would. A smooth colour field drifting across the picture,
// three shaded balls and two spinning squares bouncing off the edges, a turning bar behind the
// Korva mark (a play sign in a ring); it fades in from black and back out, so that it loops.
// The tune: a pentatonic melody over a bass line and soft chords, in stereo.
//
// Coding: a key frame every second; between them each 8 × 8 block takes the cheapest form that
// stays within `max_error` of the drawing: a skip, a motion copy (the colour field's drift or a
// ball's step), a fill, a two-colour pattern, a transform block, or its raw samples. The coder
// follows what the decoder rebuilds, so errors never pile up from frame to frame.
#pragma once
#include <cstdint>
#include <vector>

struct DemoMovieSpec {
  uint32_t width = 320, height = 240;
  uint32_t frames = 150;  // six seconds
  uint32_t rate = 25;     // frames a second
  uint32_t audio_rate = 22050;
  uint32_t key_every = 25;
  uint32_t max_error = 2;  // largest difference of a decoded sample from the drawing (Y, Cb, Cr)
};

// The picture of frame i as 8-bit R, G, B rows.
std::vector<uint8_t> demo_movie_rgb(const DemoMovieSpec& s, uint32_t i);
// The tune, interleaved stereo 16-bit, as long as the movie.
std::vector<int16_t> demo_movie_tune(const DemoMovieSpec& s);

// How the frames were coded: block counts by kind (the block-type values 0 to 9, every plane),
// for the tests and for tuning.
struct DemoMovieStats {
  uint64_t blocks[10] = {};
  uint64_t video_bytes = 0, audio_bytes = 0;
};
// The movie's bytes; empty when the description cannot be coded.
std::vector<uint8_t> demo_movie_write(const DemoMovieSpec& s, DemoMovieStats* stats = nullptr);
