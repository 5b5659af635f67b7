#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "container/container.h"
#include "encode/container_writer.h"

namespace {

// A movie of `frames` frames of `video_bytes` bytes each (every `key_every` a key frame).
MovieDescription movie(uint32_t frames, uint32_t video_bytes, uint32_t key_every = 1, uint32_t tracks = 0) {
  MovieDescription d;
  d.width = 320;
  d.height = 240;
  d.rate_num = 25;
  d.rate_den = 1;
  for (uint32_t t = 0; t < tracks; ++t)
    d.tracks.push_back({0, 22050 | kAudioWordRdft | kAudioWordSixteenBit, 10 + t});
  for (uint32_t i = 0; i < frames; ++i) {
    WriterFrame f;
    f.key = i % key_every == 0;
    f.video.assign(video_bytes, uint8_t(i));
    for (uint32_t t = 0; t < tracks; ++t) {
      std::vector<uint8_t> p(8 + 4 * t, 0);
      store_le32(p.data(), 1000 + 4 * i);  // decoded-byte count
      f.audio.push_back(p);
    }
    d.frames.push_back(f);
  }
  return d;
}

const char* open_error(const std::vector<uint8_t>& bytes, ContainerView* v = nullptr) {
  ContainerView local;
  return container_open_view(bytes.data(), bytes.size(), v ? v : &local);
}

TEST(Container, ClosingPictureLayout) {
  // One key frame of 14796 bytes, no sound: the shape of the built-in closing picture.
  MovieDescription d;
  d.width = 224;
  d.height = 252;
  d.rate_num = 10;
  d.rate_den = 1;
  d.frames.push_back(WriterFrame{{}, std::vector<uint8_t>(14796, 7), true});
  std::vector<uint8_t> b = container_write(d);
  ASSERT_EQ(b.size(), 14848u);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "KRVi");
  EXPECT_EQ(load_le32(&b[4]), 14840u);
  EXPECT_EQ(load_le32(&b[12]), 14796u);
  EXPECT_EQ(load_le32(&b[44]), 53u);  // offset 52, key frame
  EXPECT_EQ(load_le32(&b[48]), 14848u);

  ContainerView v;
  ASSERT_EQ(open_error(b, &v), nullptr);
  EXPECT_EQ(v.info.first_frame, 52u);
  EXPECT_EQ(v.info.frame_ms, 100u);
  EXPECT_EQ(v.info.fps_rounded, 10u);
  EXPECT_EQ(v.info.data_bytes, 14840u - 52u);
  EXPECT_EQ(v.info.preload_bytes, 14796u);
  EXPECT_TRUE(v.info.all_key_frames);
  EXPECT_EQ(v.info.peak_second_bytes, 14796u * 10);  // fewer frames than a second: scaled average
  EXPECT_EQ(v.info.peak_second_frame, 0u);
  const uint8_t* f;
  uint32_t n;
  bool key;
  ASSERT_TRUE(container_frame(&v, 0, &f, &n, &key));
  EXPECT_EQ(n, 14796u);
  EXPECT_TRUE(key);
  EXPECT_FALSE(container_frame(&v, 1, &f, &n, &key));
}

TEST(Container, TracksPacketsAndDerivedValues) {
  MovieDescription d = movie(60, 100, 10, 2);
  d.frames[33].video.assign(5000, 1);  // a big frame inside the second starting at frame 9..33
  d.rate_num = 30000;
  d.rate_den = 1001;
  std::vector<uint8_t> b = container_write(d);
  ContainerView v;
  ASSERT_EQ(open_error(b, &v), nullptr);
  EXPECT_EQ(v.header.track_count, 2u);
  EXPECT_EQ(container_track_word(&v, 1), 22050u | kAudioWordRdft | kAudioWordSixteenBit);
  EXPECT_EQ(container_track_id(&v, 1), 11u);
  EXPECT_EQ(container_track_buffer_bytes(&v, 0), 1000u + 4 * 59);  // largest decoded count
  EXPECT_EQ(v.info.first_frame, 44u + 24 + 4 * 61);
  EXPECT_EQ(v.info.frame_ms, 33u);
  EXPECT_EQ(v.info.fps_rounded, 30u);
  EXPECT_FALSE(v.info.all_key_frames);
  // Frame sizes: 4 + 8 + 4 + 12 of sound, then the video.
  const uint32_t small = 28 + 100, big = 28 + 5000;
  EXPECT_EQ(v.info.largest_frame, big);
  EXPECT_EQ(v.info.peak_second_bytes, 29 * small + big);
  EXPECT_EQ(v.info.peak_second_frame, 4u);  // the first second that holds frame 33

  const uint8_t* f;
  uint32_t n;
  bool key;
  ASSERT_TRUE(container_frame(&v, 10, &f, &n, &key));
  EXPECT_TRUE(key);
  const uint8_t* p;
  uint32_t pn;
  ASSERT_EQ(container_audio_packet(f, n, 2, 1, &p, &pn), nullptr);
  EXPECT_EQ(pn, 12u);
  EXPECT_EQ(load_le32(p), 1040u);
  ASSERT_EQ(container_video_packet(f, n, 2, &p, &pn), nullptr);
  EXPECT_EQ(pn, 100u);
  EXPECT_EQ(p[0], 10);
  // A packet length that runs past its frame is an error, not a read outside it.
  EXPECT_NE(container_audio_packet(f, 10, 2, 1, &p, &pn), nullptr);
  EXPECT_NE(container_video_packet(f, 3, 2, &p, &pn), nullptr);
}

TEST(Container, AudioHeaderWords) {
  EXPECT_EQ(44100u | kAudioWordDct | kAudioWordStereo | kAudioWordSixteenBit, 0x7000AC44u);
  EXPECT_EQ(44100u | kAudioWordRdft | kAudioWordStereo | kAudioWordSixteenBit, 0xE000AC44u);
}

TEST(Container, SameBytesPlayAppended) {
  std::vector<uint8_t> b = container_write(movie(5, 40));
  std::vector<uint8_t> exe(1000, 0x90);
  exe.insert(exe.end(), b.begin(), b.end());
  ContainerView a, e;
  ASSERT_EQ(open_error(b, &a), nullptr);
  ASSERT_EQ(container_open_view(exe.data() + 1000, exe.size() - 1000, &e), nullptr);
  EXPECT_EQ(a.info.peak_second_bytes, e.info.peak_second_bytes);
  const uint8_t *fa, *fe;
  uint32_t na, ne;
  ASSERT_TRUE(container_frame(&a, 4, &fa, &na, nullptr));
  ASSERT_TRUE(container_frame(&e, 4, &fe, &ne, nullptr));
  EXPECT_EQ(na, ne);
  EXPECT_EQ(0, std::memcmp(fa, fe, na));
}

// Every damaged header or index gives its own error text.
TEST(Container, BadInputs) {
  const std::vector<uint8_t> good = container_write(movie(4, 16));
  struct Case {
    const char* what;
    size_t at;       // byte to patch (SIZE_MAX: cut the file to `value` bytes)
    uint32_t value;  // 32-bit value stored there
    const char* error;
  } cases[] = {
      {"magic", 0, 0x4956524b /* "KRVI" */, "Not a Korva file."},
      {"version", 0, 0x6556524b /* "KRVe" */, "Not a Korva file."},
      {"no frames", 8, 0, "The file doesn't contain any compressed frames yet."},
      {"zero denominator", 32, 0, "The movie's frame rate has a zero denominator."},
      {"zero width", 20, 0, "The movie's picture has no pixels."},
      {"zero height", 24, 0, "The movie's picture has no pixels."},
      {"huge width", 20, 16385, "The movie's picture is larger than 16384 x 16384 pixels."},
      {"huge height", 24, 0x80000000u, "The movie's picture is larger than 16384 x 16384 pixels."},
      {"frame count past the file", 8, 100000, "The movie's track tables and frame index run past its end."},
      {"tracks past the file", 40, 1000, "The movie's track tables and frame index run past its end."},
      {"size field", 4, 0xfffffffau, "The movie's size field is invalid."},
      {"index goes backwards", 44 + 8, 60, "The frame index goes backwards."},
      {"index into the header", 44, 20, "The frame index points into the movie's header."},
      {"index past the movie", 44 + 16, 100000, "The frame index points past the end of the movie."},
      {"short header", SIZE_MAX, 30, "The file is too short to hold a Korva header."},
      {"short index", SIZE_MAX, 50, "The file ends inside the movie's track tables or frame index."},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> b = good;
    if (c.at == SIZE_MAX) b.resize(c.value);
    else store_le32(&b[c.at], c.value);
    const char* e = open_error(b);
    ASSERT_NE(e, nullptr) << c.what;
    EXPECT_STREQ(e, c.error) << c.what;
  }
}

TEST(Container, ToleratedOddities) {
  const std::vector<uint8_t> good = container_write(movie(4, 16));
  ContainerView v;
  // A rate numerator of 0: no frame rate, no division by it.
  std::vector<uint8_t> b = good;
  store_le32(&b[28], 0);
  ASSERT_EQ(open_error(b, &v), nullptr);
  EXPECT_EQ(v.info.frame_ms, 0u);
  EXPECT_EQ(v.info.fps_rounded, 1u);
  // A stored largest frame that is too small: the index's real largest frame is used.
  b = good;
  store_le32(&b[12], 3);
  ASSERT_EQ(open_error(b, &v), nullptr);
  EXPECT_EQ(v.info.largest_frame, 16u);
  // A file cut short inside the frames opens; the missing frames are refused one by one.
  b = good;
  b.resize(b.size() - 10);
  ASSERT_EQ(open_error(b, &v), nullptr);
  const uint8_t* f;
  uint32_t n;
  EXPECT_TRUE(container_frame(&v, 2, &f, &n, nullptr));
  EXPECT_FALSE(container_frame(&v, 3, &f, &n, nullptr));
}

TEST(Container, RandomBytesNeverCrash) {
  std::mt19937 rng(1234);
  const std::vector<uint8_t> good = container_write(movie(6, 24, 2, 1));
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> b = good;
    int flips = 1 + int(rng() % 6);
    for (int k = 0; k < flips; ++k) b[rng() % b.size()] = uint8_t(rng());
    if (rng() % 4 == 0) b.resize(rng() % b.size());
    ContainerView v;
    if (container_open_view(b.data(), b.size(), &v)) continue;
    for (uint32_t i = 0; i < v.header.frame_count; ++i) {
      const uint8_t* f;
      uint32_t n;
      if (!container_frame(&v, i, &f, &n, nullptr)) continue;
      ASSERT_GE(f, b.data());
      ASSERT_LE(f + n, b.data() + b.size());
      const uint8_t* p;
      uint32_t pn;
      if (!container_video_packet(f, n, v.header.track_count, &p, &pn)) {
        ASSERT_LE(p + pn, f + n);
      }
    }
  }
}

}  // namespace
