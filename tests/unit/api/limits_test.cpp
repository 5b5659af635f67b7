// Limits for movies that open by themselves: what a movie needs, counted from its header and
// index before anything is allocated, and the refusals of the library's open (from memory, with
// and without the library's copy, and from a file) for crafted movies that declare far more than
// their bytes hold.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "container/open_flags.h"
#include "encode/container_writer.h"
#include "encode/sample_movie.h"
#include "include/korva/korva.h"
#include "playback/limits.h"
#include "playback/movie.h"

namespace {

// A movie of `frames` key frames of a few bytes each at the given size (not decodable pictures:
// what matters is what the header declares).
std::vector<uint8_t> declared_movie(uint32_t width, uint32_t height, uint32_t frames, bool key = true) {
  MovieDescription d;
  d.width = width;
  d.height = height;
  for (uint32_t i = 0; i < frames; ++i) d.frames.push_back({{}, {1, 2, 3, 4}, key || i == 0});
  return container_write(d);
}

std::vector<uint8_t> small_movie() {
  SampleMovieSpec s;
  s.width = 32;
  s.height = 16;
  s.frames = 4;
  return sample_movie_write(s);
}

korva_open_options limited(uint32_t sound = KORVA_SOUND_NONE) {
  korva_open_options o;
  korva_default_options(&o);
  o.max_area = KORVA_LIMIT_AREA;
  o.max_memory = KORVA_LIMIT_MEMORY;
  o.sound = sound;
  return o;
}

std::string write_temp(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = std::string(KORVA_TEST_TMP) + "/" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  return path;
}

}  // namespace

TEST(Limits, NeedsCountPlanesTablesReadAheadAndSound) {
  const std::vector<uint8_t> bytes = declared_movie(1024, 512, 3, false);
  ContainerView v;
  ASSERT_EQ(container_open_view(bytes.data(), bytes.size(), &v), nullptr);
  MovieNeeds memory, file, one_set;
  movie_needs(&v.header, &v.info, nullptr, 0, kOpenFromMemory, &memory);
  EXPECT_EQ(memory.area, 1024u * 512u);
  // Two plane sets of luma and two quarter-size chroma planes, and a little more.
  EXPECT_GE(memory.memory, 2ull * 1024 * 512 * 3 / 2);
  EXPECT_LT(memory.memory, 2ull * 1024 * 512 * 3 / 2 + (1u << 20));
  // From a file the index and the frame buffers count too.
  movie_needs(&v.header, &v.info, nullptr, 0, 0, &file);
  EXPECT_GT(file.memory, memory.memory + container_tables_bytes(&v.header));
  // Every frame a key frame: one set.
  const std::vector<uint8_t> keys = declared_movie(1024, 512, 3);
  ASSERT_EQ(container_open_view(keys.data(), keys.size(), &v), nullptr);
  movie_needs(&v.header, &v.info, nullptr, 0, kOpenFromMemory, &one_set);
  EXPECT_LT(one_set.memory, memory.memory - 1024 * 512);

  // Sound rings: the header's size, at most kMaxSoundRing, for the played tracks only.
  std::vector<uint8_t> loud = small_movie();
  store_le32(loud.data() + 44, 0xffffffffu);
  ASSERT_EQ(container_open_view(loud.data(), loud.size(), &v), nullptr);
  MovieNeeds silent, played;
  movie_needs(&v.header, &v.info, nullptr, 0, kOpenFromMemory, &silent);
  movie_needs(&v.header, &v.info, v.track_buffer_bytes, 4, kOpenFromMemory, &played);
  EXPECT_EQ(played.memory - silent.memory, uint64_t(kMaxSoundRing) * v.header.track_count);

  char text[kLimitTextBytes];
  MovieLimits limits;
  movie_default_limits(&limits);
  EXPECT_EQ(movie_check_limits(&limits, &v.header, &played, text), nullptr);
  limits.max_memory = played.memory - 1;
  ASSERT_NE(movie_check_limits(&limits, &v.header, &played, text), nullptr);
  EXPECT_NE(std::string(text).find("more than the limit of"), std::string::npos) << text;
  limits = MovieLimits{0, 0};  // no limits at all
  EXPECT_EQ(movie_check_limits(&limits, &v.header, &played, text), nullptr);
}

TEST(Limits, CraftedMoviesAreRefusedBeforeAnAttempt) {
  // The largest picture a movie may declare, every frame a key frame: a few hundred bytes.
  const std::vector<uint8_t> huge = declared_movie(16384, 16384, 4);
  ASSERT_LT(huge.size(), 400u);
  korva_open_options o = limited();
  EXPECT_EQ(korva_open_memory(huge.data(), huge.size(), 0, &o), nullptr);
  EXPECT_STREQ(korva_last_error(nullptr),
               "The movie's picture of 16384 x 16384 pixels is larger than the limit of 64 megapixels.");
  EXPECT_EQ(korva_open_memory(huge.data(), huge.size(), 1, &o), nullptr);
  EXPECT_NE(std::strstr(korva_last_error(nullptr), "64 megapixels"), nullptr);
  const std::string path = write_temp("limits_huge.krv", huge);
  EXPECT_EQ(korva_open_file(path.c_str(), &o), nullptr);
  EXPECT_NE(std::strstr(korva_last_error(nullptr), "64 megapixels"), nullptr);

  // Within the area, over the memory: 8000 x 8000 with inter frames wants two plane sets.
  const std::vector<uint8_t> wide = declared_movie(8000, 8000, 3, false);
  o.max_memory = 64u << 20;
  EXPECT_EQ(korva_open_memory(wide.data(), wide.size(), 0, &o), nullptr);
  EXPECT_NE(std::strstr(korva_last_error(nullptr), "more than the limit of 64 MiB"), nullptr) << korva_last_error(nullptr);

  // A frame index that claims a billion frames in a small file: refused from the header alone,
  // before the index (4 GB) is allocated.
  std::vector<uint8_t> many = small_movie();
  store_le32(many.data() + 4, 0xfffffff0u);  // the size field
  store_le32(many.data() + 8, 1000000000u);  // the frame count
  const std::string many_path = write_temp("limits_many.krv", many);
  o = limited();
  EXPECT_EQ(korva_open_file(many_path.c_str(), &o), nullptr);
  EXPECT_NE(std::strstr(korva_last_error(nullptr), "more than the limit of 512 MiB"), nullptr) << korva_last_error(nullptr);
  // In memory the image must hold its index.
  EXPECT_EQ(korva_open_memory(many.data(), many.size(), 0, &o), nullptr);

  // A sound ring field at its largest: the ring stays at 32 MiB, within the default limits, and
  // a smaller memory limit refuses the movie when its sound is played, not when it is not.
  std::vector<uint8_t> loud = small_movie();
  store_le32(loud.data() + 44, 0xffffffffu);
  o = limited(KORVA_SOUND_PULL);
  korva_movie* m = korva_open_memory(loud.data(), loud.size(), 0, &o);
  ASSERT_NE(m, nullptr) << korva_last_error(nullptr);
  korva_close(m);
  o.max_memory = 16u << 20;
  EXPECT_EQ(korva_open_memory(loud.data(), loud.size(), 0, &o), nullptr);
  o.sound = KORVA_SOUND_NONE;
  m = korva_open_memory(loud.data(), loud.size(), 0, &o);
  ASSERT_NE(m, nullptr) << korva_last_error(nullptr);
  korva_close(m);

  // Limits are one-shot: the next open without them opens what was refused.
  o.max_memory = 0;
  o.sound = KORVA_SOUND_PULL;
  m = korva_open_memory(loud.data(), loud.size(), 0, &o);
  ASSERT_NE(m, nullptr) << korva_last_error(nullptr);
  korva_close(m);
}

TEST(Limits, PulledSoundKeepsItsQueueSmallWhateverTheRate) {
  // A rate override against a crafted frame rate of 10 / 65537 would play the track at about
  // 3.7e9 Hz: its two-second queue would take gigabytes. The track stays silent instead.
  std::vector<uint8_t> movie = small_movie();
  store_le32(movie.data() + 28, 10);
  store_le32(movie.data() + 32, 65537);
  korva_open_options o = limited(KORVA_SOUND_PULL);
  o.flags = KORVA_OPEN_RATE;
  o.rate_num = 25;
  o.rate_den = 1;
  korva_movie* m = korva_open_memory(movie.data(), movie.size(), 0, &o);
  ASSERT_NE(m, nullptr) << korva_last_error(nullptr);
  korva_info info;
  ASSERT_EQ(korva_get_info(m, &info), 0);
  EXPECT_EQ(info.played_track_count, 0u);
  korva_track_info track;
  ASSERT_EQ(korva_get_track_info(m, 0, &track), 0);
  EXPECT_EQ(track.played, -1);
  EXPECT_EQ(korva_decode(m), 0);
  korva_close(m);
  // At the movie's own rate the track plays.
  o.flags = 0;
  store_le32(movie.data() + 32, 1);
  m = korva_open_memory(movie.data(), movie.size(), 0, &o);
  ASSERT_NE(m, nullptr) << korva_last_error(nullptr);
  ASSERT_EQ(korva_get_info(m, &info), 0);
  EXPECT_EQ(info.played_track_count, 1u);
  korva_close(m);
}
