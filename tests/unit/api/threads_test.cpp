// A movie opened with two threads decodes its colour planes on a second thread and converts the
// lower part of each large copy there: every picture must equal the one-thread picture byte for
// byte, for every kind of movie, doubling mode and pixel format, and for damaged frames too.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "convert/convert.h"
#include "encode/sample_movie.h"
#include "include/korva/korva.h"
#include "playback/engine.h"
#include "playback/movie.h"

namespace {

struct Case {
  const char* name;
  SampleMovieSpec shape;
};

std::vector<Case> cases() {
  std::vector<Case> v;
  SampleMovieSpec typical;
  typical.width = 320;
  typical.height = 240;
  typical.frames = 12;
  typical.key_every = 6;
  typical.content = 1;
  typical.audio_rate = 0;
  v.push_back({"typical", typical});
  SampleMovieSpec odd = typical;  // chroma planes of odd size, a last block row of 8
  odd.width = 250;
  odd.height = 198;
  odd.content = 2;
  v.push_back({"intra-heavy, odd size", odd});
  SampleMovieSpec keys = typical;  // one plane set: decoded with one thread, copied with two
  keys.key_every = 1;
  keys.content = 3;
  v.push_back({"key frames only", keys});
  SampleMovieSpec old = typical;  // no luma size field: the planes are chained
  old.version = 'h';
  old.content = 0;
  v.push_back({"version h", old});
  return v;
}

// Every frame of the movie copied into `format` (the first whole, then by changed blocks).
std::vector<std::vector<uint8_t>> pictures(const std::vector<uint8_t>& bytes, uint32_t threads, uint32_t format,
                                           uint32_t doubling, uint32_t open_flags = 0) {
  std::vector<std::vector<uint8_t>> out;
  korva_open_options o;
  korva_default_options(&o);
  o.flags = KORVA_OPEN_RATE | open_flags;
  o.doubling = doubling;
  o.threads = threads;
  korva_movie* m = korva_open_memory(bytes.data(), bytes.size(), 0, &o);
  if (!m) return out;
  korva_info info;
  korva_get_info(m, &info);
  const uint32_t bpp = format == KORVA_FORMAT_RGBA32 ? 4 : format == KORVA_FORMAT_RGB24 ? 3 : 2;
  const uint32_t pitch = (info.width * bpp + 7) & ~7u;
  std::vector<uint8_t> picture(size_t(pitch) * info.height, 0x5a);
  for (uint32_t f = 0; f < info.frame_count; ++f) {
    if (korva_decode(m) != 0) break;
    korva_copy(m, picture.data(), int32_t(pitch), info.height, format, f ? 0 : KORVA_COPY_WHOLE, nullptr);
    out.push_back(picture);
    korva_next(m);
  }
  korva_close(m);
  return out;
}

TEST(Threads, TwoThreadsGiveTheOneThreadPictures) {
  const uint32_t kFormats[] = {KORVA_FORMAT_RGBA32, KORVA_FORMAT_RGB24, KORVA_FORMAT_RGB565, KORVA_FORMAT_YUY2};
  for (const Case& c : cases()) {
    const std::vector<uint8_t> bytes = sample_movie_write(c.shape);
    ASSERT_FALSE(bytes.empty()) << c.name;
    for (uint32_t doubling = 1; doubling <= 7; ++doubling)
      for (uint32_t format : kFormats) {
        if (doubling > 1 && doubling < 7 && format != KORVA_FORMAT_RGB565) continue;  // modes in one format
        const auto one = pictures(bytes, 1, format, doubling);
        ASSERT_EQ(one.size(), c.shape.frames) << c.name;
        EXPECT_TRUE(pictures(bytes, 2, format, doubling) == one)
            << c.name << ", doubling " << doubling << ", format " << format;
      }
    EXPECT_TRUE(pictures(bytes, 2, KORVA_FORMAT_RGBA32, 7, KORVA_OPEN_GREY) ==
                pictures(bytes, 1, KORVA_FORMAT_RGBA32, 7, KORVA_OPEN_GREY))
        << c.name << ", grey";
  }
}

// Damaged frames: wherever a plane stops, the planes after it show the reference frame, whether
// the colour planes were decoded beside the luma plane or after it.
TEST(Threads, DamagedFramesGiveTheOneThreadPictures) {
  SampleMovieSpec shape = cases()[0].shape;
  shape.frames = 16;
  const std::vector<uint8_t> clean = sample_movie_write(shape);
  ASSERT_FALSE(clean.empty());
  const size_t body = clean.size() / 3;  // past the header and index: inside the frames
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    std::vector<uint8_t> bytes = clean;
    uint32_t x = seed * 2654435761u;
    for (int i = 0; i < 12; ++i) {
      x = x * 1664525u + 1013904223u;
      bytes[body + x % (bytes.size() - body)] ^= uint8_t(1u << (x >> 29));
    }
    const auto one = pictures(bytes, 1, KORVA_FORMAT_RGBA32, 7);
    EXPECT_TRUE(pictures(bytes, 2, KORVA_FORMAT_RGBA32, 7) == one) << "seed " << seed;
  }
}

// A copy of a part of the picture, at rows that do not start on a block row, through the engine.
TEST(Threads, PartialCopiesGiveTheOneThreadPictures) {
  const std::vector<uint8_t> bytes = sample_movie_write(cases()[0].shape);
  auto copies = [&](uint32_t threads) {
    MovieOpen open = movie_open_image(nullptr, 0);
    open.source.image = MovieImage{bytes.data(), bytes.size()};
    open.threads = threads;
    Movie* m = movie_open(&open);
    std::vector<uint8_t> out;
    if (!m) return out;
    std::vector<uint8_t> picture(320 * 4 * 240, 0);
    for (uint32_t f = 0; f < m->frame_count; ++f) {
      movie_do_frame(m);
      movie_copy_to_surface(m, picture.data(), 320 * 4, 240, 3, 5, 7, 3, 300, 230, kCopyWhole | 6);
      out.insert(out.end(), picture.begin(), picture.end());
      movie_next_frame(m);
    }
    movie_close(m);
    return out;
  };
  const std::vector<uint8_t> one = copies(1);
  ASSERT_FALSE(one.empty());
  EXPECT_TRUE(copies(2) == one);
}

}  // namespace
