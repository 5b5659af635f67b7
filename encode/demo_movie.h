// The demo movie: a few seconds of colour and motion with a tune, drawn and composed in code
// and coded with the writers (every picture exact: fills, patterns and raw blocks, skips where
// nothing moved). A flowing mosaic of colours, three bouncing balls and a turning bar; a
// pentatonic melody over a bass line, in stereo.
#pragma once
#include <cstdint>
#include <vector>

struct DemoMovieSpec {
  uint32_t width = 320, height = 240;
  uint32_t frames = 150;      // six seconds
  uint32_t rate = 25;         // frames a second
  uint32_t audio_rate = 22050;
  uint32_t key_every = 50;
};

// The picture of frame i as 8-bit R, G, B rows.
std::vector<uint8_t> demo_movie_rgb(const DemoMovieSpec& s, uint32_t i);
// The tune, interleaved stereo 16-bit, as long as the movie.
std::vector<int16_t> demo_movie_tune(const DemoMovieSpec& s);
// The movie's bytes; empty when the description cannot be coded.
std::vector<uint8_t> demo_movie_write(const DemoMovieSpec& s);
