// The public library through its header alone: every way of opening gives the same movie,
// seeking lands on exactly the frame that plain stepping reaches, changed-block copies equal
// whole ones, pulled sound arrives, every documented failure answers as documented, and two
// movies played at once from two threads come out as each does alone.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "long_path.h"
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "encode/sample_movie.h"
#include "include/korva/korva.h"

namespace {

std::vector<uint8_t> make_movie(uint32_t content, uint32_t tone, uint32_t frames = 24) {
  SampleMovieSpec s;
  s.width = 96;
  s.height = 64;
  s.frames = frames;
  s.key_every = 8;
  s.content = content;
  s.tone_hz = tone;
  s.rate_num = 25;
  return sample_movie_write(s);
}

std::string write_temp(const std::string& name, const std::vector<uint8_t>& bytes, size_t offset = 0) {
  const std::string path = std::string(KORVA_TEST_TMP) + "/" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::vector<uint8_t> pad(offset, 0x5A);
  if (f) {
    std::fwrite(pad.data(), 1, pad.size(), f);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  return path;
}

korva_open_options fast_options(uint32_t sound) {
  korva_open_options o;
  korva_default_options(&o);
  o.flags = KORVA_OPEN_RATE;  // 0 / 0: every frame when asked
  o.sound = sound;
  return o;
}

// Every frame as RGBA, and the sound pulled on the way.
struct Played {
  std::vector<std::vector<uint8_t>> frames;
  std::vector<uint8_t> pcm;
};

Played play(korva_movie* m) {
  Played p;
  korva_info info;
  if (korva_get_info(m, &info) != 0) return p;
  std::vector<uint8_t> rgba(size_t(info.width) * info.height * 4);
  uint8_t buf[4096];
  for (uint32_t i = 0; i < info.frame_count; ++i) {
    if (korva_decode(m) != 0) break;
    korva_copy(m, rgba.data(), int32_t(info.width * 4), info.height, KORVA_FORMAT_RGBA32, KORVA_COPY_WHOLE, nullptr);
    p.frames.push_back(rgba);
    for (int32_t got; info.played_track_count && (got = korva_read_pcm(m, 0, buf, sizeof buf)) > 0;)
      p.pcm.insert(p.pcm.end(), buf, buf + got);
    korva_next(m);
  }
  return p;
}

TEST(Api, VersionAndOpenForms) {
  EXPECT_EQ(std::string(korva_version()), std::to_string(KORVA_VERSION_MAJOR) + "." +
                                              std::to_string(KORVA_VERSION_MINOR) + "." +
                                              std::to_string(KORVA_VERSION_PATCH));
  const std::vector<uint8_t> bytes = make_movie(1, 440);
  ASSERT_FALSE(bytes.empty());
  const korva_open_options o = fast_options(KORVA_SOUND_NONE);
  korva_movie* reference = korva_open_memory(bytes.data(), bytes.size(), 0, &o);
  ASSERT_NE(reference, nullptr) << korva_last_error(nullptr);
  korva_info info;
  ASSERT_EQ(korva_get_info(reference, &info), 0);
  EXPECT_EQ(info.width, 96u);
  EXPECT_EQ(info.height, 64u);
  EXPECT_EQ(info.frame_count, 24u);
  EXPECT_EQ(info.movie_rate_num, 25u);
  EXPECT_EQ(info.track_count, 1u);
  EXPECT_EQ(info.played_track_count, 0u);
  uint32_t keys[8];
  EXPECT_EQ(korva_get_key_frames(reference, keys, 8), 3u);
  EXPECT_EQ(keys[0], 1u);
  EXPECT_EQ(keys[1], 9u);
  const Played want = play(reference);
  korva_close(reference);
  ASSERT_EQ(want.frames.size(), 24u);

  const std::string plain = write_temp("api_plain.krv", bytes);
  const std::string inside = write_temp("api_inside.bin", bytes, 1000);
  std::vector<uint8_t> copy = bytes;
  const int fd = ::open(inside.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  korva_movie* opened[] = {
      korva_open_file(plain.c_str(), &o),
      korva_open_file((inside + "|1000").c_str(), &o),
      korva_open_os_file(fd, 1000, &o),
      korva_open_memory(copy.data(), copy.size(), 1, &o),
  };
  ::close(fd);  // the library reads through a file of its own
  std::fill(copy.begin(), copy.end(), 0);  // and from its own copy of the image
  for (korva_movie* m : opened) {
    ASSERT_NE(m, nullptr) << korva_last_error(nullptr);
    EXPECT_EQ(play(m).frames, want.frames);
    korva_close(m);
  }
}

TEST(Api, NamesUpTo2048CharactersOpenLongerOnesAreRefused) {
  const std::vector<uint8_t> bytes = make_movie(1, 440, 2);
  struct Case {
    size_t length;
    const char* form;  // "%s" or "%s|0"
    bool opens;
  };
  const Case kCases[] = {
      {2000, "%s", true}, {2048, "%s", true}, {2049, "%s", false}, {3000, "%s", false},
      {2046, "%s|0", true}, {2047, "%s|0", false},  // the name includes "|0"
  };
  for (const Case& c : kCases) {
    const std::string path = long_movie_path(std::string(KORVA_TEST_TMP) + "/long_api", c.length);
    ASSERT_EQ(path.size(), c.length);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    char name[8192];
    std::snprintf(name, sizeof name, c.form, path.c_str());
    korva_movie* m = korva_open_file(name, nullptr);
    EXPECT_EQ(m != nullptr, c.opens) << std::strlen(name) << " characters: " << korva_last_error(nullptr);
    if (!c.opens) {
      EXPECT_STREQ(korva_last_error(nullptr), "The movie's name is longer than 2048 characters.");
    }
    korva_close(m);
  }
}

TEST(Api, SeekLandsOnTheFrameThatSteppingReaches) {
  const std::vector<uint8_t> bytes = make_movie(1, 440);
  const korva_open_options o = fast_options(KORVA_SOUND_PULL);
  korva_movie* m = korva_open_memory(bytes.data(), bytes.size(), 0, &o);
  ASSERT_NE(m, nullptr) << korva_last_error(nullptr);
  const Played want = play(m);
  korva_info info;
  korva_get_info(m, &info);
  std::vector<uint8_t> rgba(size_t(info.width) * info.height * 4);
  for (uint32_t frame : {20u, 1u, 8u, 9u, 24u, 13u, 0u}) {
    ASSERT_EQ(korva_seek(m, frame), 0);
    ASSERT_EQ(korva_decode(m), 0);
    const uint32_t expect = frame ? frame : 1;
    EXPECT_EQ(korva_current_frame(m), expect);
    korva_copy(m, rgba.data(), int32_t(info.width * 4), info.height, KORVA_FORMAT_RGBA32, KORVA_COPY_WHOLE, nullptr);
    EXPECT_EQ(rgba, want.frames[expect - 1]) << "frame " << frame;
  }
  // The planes hold the same picture that the copies convert.
  korva_planes planes;
  ASSERT_EQ(korva_get_planes(m, &planes), 0);
  EXPECT_EQ(planes.width, 96u);
  EXPECT_GE(planes.y_stride, 96u);
  EXPECT_NE(planes.cb, planes.cr);
  EXPECT_EQ(planes.alpha, nullptr);
  korva_close(m);
}

TEST(Api, ChangedBlockCopiesEqualWholeOnesAndSoundArrives) {
  const std::vector<uint8_t> bytes = make_movie(1, 440);
  korva_open_options o = fast_options(KORVA_SOUND_PULL);
  korva_movie* m = korva_open_memory(bytes.data(), bytes.size(), 0, &o);
  ASSERT_NE(m, nullptr) << korva_last_error(nullptr);
  korva_info info;
  korva_get_info(m, &info);
  ASSERT_EQ(info.played_track_count, 1u);
  korva_track_info t;
  ASSERT_EQ(korva_get_track_info(m, 0, &t), 0);
  EXPECT_EQ(t.played, 0);
  EXPECT_EQ(t.rate, 22050u);
  EXPECT_EQ(t.coding, uint32_t(KORVA_CODING_DCT));
  const size_t pitch = info.width * 2 + 6;  // 5-6-5, a pitch wider than the row
  std::vector<uint8_t> changed(pitch * info.height, 0), whole = changed;
  uint64_t pcm = 0;
  uint8_t buf[4096];
  for (uint32_t i = 0; i < info.frame_count; ++i) {
    ASSERT_EQ(korva_decode(m), 0);
    korva_changes ch;
    ASSERT_EQ(korva_copy(m, changed.data(), int32_t(pitch), info.height, KORVA_FORMAT_RGB565, i ? 0 : KORVA_COPY_WHOLE,
                         &ch), 0);
    std::vector<uint8_t> before = whole;
    korva_copy(m, whole.data(), int32_t(pitch), info.height, KORVA_FORMAT_RGB565, KORVA_COPY_WHOLE, nullptr);
    ASSERT_EQ(changed, whole) << "frame " << i + 1;
    // Every pixel that changed lies in a reported rectangle.
    for (uint32_t y = 0; y < info.height; ++y)
      for (uint32_t x = 0; x < info.width; ++x) {
        if (!std::memcmp(&before[y * pitch + 2 * x], &whole[y * pitch + 2 * x], 2) || i == 0) continue;
        bool inside = false;
        for (uint32_t r = 0; r < ch.count; ++r)
          inside |= int32_t(x) >= ch.rects[r].left && int32_t(x) < ch.rects[r].left + ch.rects[r].width &&
                    int32_t(y) >= ch.rects[r].top && int32_t(y) < ch.rects[r].top + ch.rects[r].height;
        ASSERT_TRUE(inside) << "frame " << i + 1 << " pixel " << x << "," << y;
      }
    for (int32_t got; (got = korva_read_pcm(m, 0, buf, sizeof buf)) > 0;) pcm += uint32_t(got);
    korva_next(m);
  }
  // 24 frames at 25 a second, with the sound running 0.75 s ahead: about 1.7 s of 16-bit mono.
  EXPECT_GT(pcm, 22050u * 2);
  korva_stats st;
  ASSERT_EQ(korva_get_stats(m, &st), 0);
  EXPECT_EQ(st.frames_played, 24u);
  korva_close(m);
}

TEST(Api, FailuresAnswerAsDocumented) {
  EXPECT_EQ(korva_open_file((std::string(KORVA_TEST_TMP) + "/no such movie.krv").c_str(), nullptr), nullptr);
  EXPECT_STREQ(korva_last_error(nullptr), "Error opening file.");
  EXPECT_EQ(korva_open_file(nullptr, nullptr), nullptr);
  EXPECT_STRNE(korva_last_error(nullptr), "");
  std::vector<uint8_t> junk(4096, 0x41);
  EXPECT_EQ(korva_open_memory(junk.data(), junk.size(), 0, nullptr), nullptr);
  EXPECT_STRNE(korva_last_error(nullptr), "");
  const std::string not_movie = write_temp("api_junk.krv", junk);
  EXPECT_EQ(korva_open_file(not_movie.c_str(), nullptr), nullptr);
  EXPECT_STREQ(korva_last_error(nullptr), "Not a Korva file.");
  EXPECT_EQ(korva_open_os_file(-1, 0, nullptr), nullptr);
  EXPECT_STREQ(korva_last_error(nullptr), "Error opening file.");

  // A movie cut short opens (a memory image must be whole) and fails at the frame it lacks.
  const std::vector<uint8_t> bytes = make_movie(1, 440);
  EXPECT_EQ(korva_open_memory(bytes.data(), bytes.size() / 2, 0, nullptr), nullptr);
  std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + bytes.size() / 2);
  const std::string cut_path = write_temp("api_cut.krv", cut);
  korva_open_options o = fast_options(KORVA_SOUND_NONE);
  korva_movie* m = korva_open_file(cut_path.c_str(), &o);
  ASSERT_NE(m, nullptr) << korva_last_error(nullptr);
  EXPECT_STREQ(korva_last_error(m), "");
  int status = 0;
  for (uint32_t i = 0; i < 24 && (status = korva_decode(m)) == 0; ++i) korva_next(m);
  EXPECT_EQ(status, -1);
  EXPECT_NE(std::string(korva_last_error(m)).find("ends early"), std::string::npos);
  korva_close(m);

  o.sound = 7;
  EXPECT_EQ(korva_open_memory(bytes.data(), bytes.size(), 0, &o), nullptr);
  o.sound = KORVA_SOUND_NONE;
  m = korva_open_memory(bytes.data(), bytes.size(), 0, &o);
  ASSERT_NE(m, nullptr);
  uint8_t pixels[96 * 64 * 4];
  EXPECT_EQ(korva_copy(m, pixels, 96 * 4, 64, KORVA_FORMAT_RGBA32, KORVA_COPY_WHOLE, nullptr), -1);  // nothing decoded
  ASSERT_EQ(korva_decode(m), 0);
  EXPECT_EQ(korva_copy(m, pixels, 96 * 4, 64, 99, KORVA_COPY_WHOLE, nullptr), -1);
  EXPECT_EQ(korva_copy(m, pixels, 95 * 4, 64, KORVA_FORMAT_RGBA32, KORVA_COPY_WHOLE, nullptr), -1);
  EXPECT_NE(std::string(korva_last_error(m)).find("pitch"), std::string::npos);
  EXPECT_EQ(korva_copy(m, pixels, 96 * 4, 63, KORVA_FORMAT_RGBA32, KORVA_COPY_WHOLE, nullptr), -1);
  EXPECT_EQ(korva_copy(m, nullptr, 96 * 4, 64, KORVA_FORMAT_RGBA32, KORVA_COPY_WHOLE, nullptr), -1);
  uint8_t flipped[96 * 64 * 4];
  EXPECT_EQ(korva_copy(m, pixels, 96 * 4, 64, KORVA_FORMAT_RGBA32, KORVA_COPY_WHOLE, nullptr), 0);
  EXPECT_EQ(korva_copy(m, flipped, -96 * 4, 64, KORVA_FORMAT_RGBA32, KORVA_COPY_WHOLE, nullptr), 0);
  EXPECT_EQ(std::memcmp(pixels, flipped + 96 * 4 * 63, 96 * 4), 0);  // bottom-up: the top row last
  EXPECT_EQ(korva_read_pcm(m, 0, pixels, 16), -1);  // opened without pulled sound
  korva_track_info t;
  EXPECT_EQ(korva_get_track_info(m, 1, &t), -1);
  EXPECT_EQ(korva_get_info(m, nullptr), -1);
  korva_close(m);

  // A null movie is refused everywhere, and closing it is allowed.
  EXPECT_EQ(korva_decode(nullptr), -1);
  EXPECT_EQ(korva_seek(nullptr, 1), -1);
  EXPECT_EQ(korva_copy(nullptr, pixels, 4, 1, 3, 0, nullptr), -1);
  EXPECT_EQ(korva_read_pcm(nullptr, 0, pixels, 4), -1);
  EXPECT_EQ(korva_get_stats(nullptr, nullptr), -1);
  EXPECT_EQ(korva_current_frame(nullptr), 0u);
  korva_close(nullptr);
}

// The device back end (SDL's disk driver here): the tracks open on it and the movie plays.
TEST(Api, TracksPlayOnTheSoundDevice) {
  setenv("SDL_AUDIODRIVER", "disk", 1);
  const std::string sink = std::string(KORVA_TEST_TMP) + "/api_device.raw";
  setenv("SDL_DISKAUDIOFILE", sink.c_str(), 1);
  setenv("SDL_DISKAUDIODELAY", "0", 1);
  const std::vector<uint8_t> bytes = make_movie(1, 440);
  korva_open_options o = fast_options(KORVA_SOUND_DEVICE);
  korva_movie* m = korva_open_memory(bytes.data(), bytes.size(), 0, &o);
  if (!m && std::string(korva_last_error(nullptr)) == "This library has no sound device back end.")
    GTEST_SKIP() << "built without a sound device back end";
  ASSERT_NE(m, nullptr) << korva_last_error(nullptr);
  korva_info info;
  korva_get_info(m, &info);
  EXPECT_EQ(info.played_track_count, 1u);
  uint8_t buf[16];
  EXPECT_EQ(korva_read_pcm(m, 0, buf, sizeof buf), -1);  // the device takes it, not the caller
  for (uint32_t i = 0; i < info.frame_count; ++i) {
    ASSERT_EQ(korva_decode(m), 0);
    korva_next(m);
  }
  korva_close(m);
}

// Two movies played at once, each on its own thread, give what each gives alone.
TEST(Api, TwoMoviesInTwoThreadsPlayIndependently) {
  const std::vector<uint8_t> a = make_movie(1, 440, 32), b = make_movie(2, 660, 32);
  const korva_open_options o = fast_options(KORVA_SOUND_PULL);
  auto alone = [&](const std::vector<uint8_t>& bytes) {
    korva_movie* m = korva_open_memory(bytes.data(), bytes.size(), 0, &o);
    Played p = m ? play(m) : Played{};
    korva_close(m);
    return p;
  };
  const Played want_a = alone(a), want_b = alone(b);
  ASSERT_EQ(want_a.frames.size(), 32u);
  ASSERT_EQ(want_b.frames.size(), 32u);
  ASSERT_NE(want_a.frames.back(), want_b.frames.back());
  for (int round = 0; round < 3; ++round) {
    Played got_a, got_b;
    std::thread ta([&] { got_a = alone(a); });
    std::thread tb([&] { got_b = alone(b); });
    ta.join();
    tb.join();
    EXPECT_EQ(got_a.frames, want_a.frames);
    EXPECT_EQ(got_b.frames, want_b.frames);
    EXPECT_EQ(got_a.pcm.size() > 0, want_a.pcm.size() > 0);
  }
}

// Four movies at once, each on its own thread, copying by changed blocks into formats of their
// own (two of them 16-bit with different packings) and pulling their sound: each gives byte for
// byte what it gives alone. The copies run side by side, each through its movie's converters.
TEST(Api, FourMoviesInFourThreadsCopyByChangedBlocks) {
  const uint32_t kFormats[4] = {KORVA_FORMAT_RGBA32, KORVA_FORMAT_RGB565, KORVA_FORMAT_RGB555, KORVA_FORMAT_YUY2};
  std::vector<uint8_t> movies[4];
  for (uint32_t i = 0; i < 4; ++i) movies[i] = make_movie(1 + i % 3, 330 + 110 * i, 40);
  const korva_open_options o = fast_options(KORVA_SOUND_PULL);
  auto alone = [&](uint32_t i) {
    Played p;
    korva_movie* m = korva_open_memory(movies[i].data(), movies[i].size(), 0, &o);
    korva_info info;
    if (!m || korva_get_info(m, &info) != 0) return p;
    const uint32_t bytes = kFormats[i] == KORVA_FORMAT_RGBA32 ? 4 : 2;
    std::vector<uint8_t> picture(size_t(info.width) * info.height * bytes);
    uint8_t buf[4096];
    for (uint32_t f = 0; f < info.frame_count; ++f) {
      if (korva_decode(m) != 0) break;
      korva_copy(m, picture.data(), int32_t(info.width * bytes), info.height, kFormats[i], f ? 0 : KORVA_COPY_WHOLE,
                 nullptr);
      p.frames.push_back(picture);
      for (int32_t got; (got = korva_read_pcm(m, 0, buf, sizeof buf)) > 0;) p.pcm.insert(p.pcm.end(), buf, buf + got);
      korva_next(m);
    }
    korva_close(m);
    return p;
  };
  Played want[4];
  for (uint32_t i = 0; i < 4; ++i) {
    want[i] = alone(i);
    ASSERT_EQ(want[i].frames.size(), 40u) << i;
    ASSERT_FALSE(want[i].pcm.empty()) << i;
  }
  for (int round = 0; round < 2; ++round) {
    Played got[4];
    std::vector<std::thread> threads;
    for (uint32_t i = 0; i < 4; ++i) threads.emplace_back([&, i] { got[i] = alone(i); });
    for (std::thread& t : threads) t.join();
    for (uint32_t i = 0; i < 4; ++i) {
      EXPECT_TRUE(got[i].frames == want[i].frames) << "movie " << i << " round " << round;
      EXPECT_TRUE(got[i].pcm == want[i].pcm) << "movie " << i << " round " << round;
    }
  }
}

}  // namespace
