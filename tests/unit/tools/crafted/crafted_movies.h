// Crafted movies, as a hostile download or a page visitor might hand over: sizes at their largest,
// a frame index claiming millions of frames, a sound ring field at its maximum. The thumbnailer's
// tests and the web page's tests (through the program make_crafted_movies) use the same ones.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/bytes.h"
#include "encode/container_writer.h"
#include "encode/sample_movie.h"

namespace crafted {

// Key frames of a few bytes each (not decodable pictures) at the given size.
inline std::vector<uint8_t> key_frames(uint32_t width, uint32_t height, uint32_t frames) {
  MovieDescription d;
  d.width = width;
  d.height = height;
  for (uint32_t i = 0; i < frames; ++i) d.frames.push_back({{}, {0x5a, 0x11, 0x7f, 0x03, 0x90, 0x21}, true});
  return container_write(d);
}

inline std::vector<uint8_t> sample(uint32_t frames) {
  SampleMovieSpec s;
  s.frames = frames;
  return sample_movie_write(s);
}

// The largest picture a movie may declare, every frame a key frame, in a few hundred bytes.
inline std::vector<uint8_t> huge() { return key_frames(16384, 16384, 64); }

// A frame count of three million and a size field near 4 GiB, in a small file.
inline std::vector<uint8_t> many() {
  std::vector<uint8_t> b = sample(3);
  store_le32(b.data() + 4, 0xfffffff0u);
  store_le32(b.data() + 8, 3000000u);
  return b;
}

// The same with an index that holds them: 12 MB of empty frames, 64 x 48.
inline std::vector<uint8_t> frame_index() {
  std::vector<uint8_t> b(44 + 4ull * 3000001, 0);
  std::memcpy(b.data(), "KRVi", 4);
  store_le32(b.data() + 4, uint32_t(b.size() - 8));
  store_le32(b.data() + 8, 3000000);
  store_le32(b.data() + 20, 64);
  store_le32(b.data() + 24, 48);
  store_le32(b.data() + 28, 25);
  store_le32(b.data() + 32, 1);
  for (uint32_t i = 0; i <= 3000000; ++i) store_le32(b.data() + 44 + 4ull * i, uint32_t(b.size()) | (i == 0));
  return b;
}

// A playable movie with sound whose sound ring field is at its largest.
inline std::vector<uint8_t> loud() {
  std::vector<uint8_t> b = sample(12);
  store_le32(b.data() + 44, 0xffffffffu);
  return b;
}

// Every frame a key frame, as large as the default limits let through.
inline std::vector<uint8_t> big() { return key_frames(8192, 4096, 16); }

struct Movie {
  const char* name;
  std::vector<uint8_t> (*make)();
};

inline constexpr Movie kMovies[] = {
    {"huge.krv", huge}, {"many.krv", many}, {"index.krv", frame_index}, {"loud.krv", loud}, {"big.krv", big},
};

}  // namespace crafted
