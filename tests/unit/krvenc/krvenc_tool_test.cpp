// The krvenc program: Y4M and WAV in, a movie out that the project's decoders play back close to
// its input; and the inputs it refuses, with exit code 1 and no file left behind.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "container/container.h"
#include "krvenc_test.h"
#include "platform/platform.h"
#include "video/video_decoder.h"

namespace {

std::vector<Picture420> clip(uint32_t w, uint32_t h, uint32_t n) {
  std::vector<Picture420> f;
  for (uint32_t i = 0; i < n; ++i) f.push_back(test_clip_frame(w, h, i));
  return f;
}

TEST(KrvencTool, Y4mToMovie) {
  const std::vector<Picture420> frames = clip(45, 31, 12);
  const std::string in = test_tmp("odd.y4m"), out = test_tmp("odd.krv");
  ASSERT_TRUE(test_write(in, test_y4m(frames, "420mpeg2", "30000:1001")));
  std::remove(out.c_str());
  ASSERT_EQ(test_krvenc(in + " -o " + out + " --quality 70 --keyint 5 --no-scene-cuts"), 0);
  DecodedMovie d;
  ASSERT_TRUE(test_decode_movie(test_read(out), &d));
  EXPECT_EQ(d.header.width, 45u);
  EXPECT_EQ(d.header.height, 31u);
  EXPECT_EQ(d.header.rate_num, 30000u);
  EXPECT_EQ(d.header.rate_den, 1001u);
  EXPECT_EQ(d.header.version, 'i');
  EXPECT_EQ(d.header.track_count, 0u);
  EXPECT_TRUE(d.whole);
  ASSERT_EQ(d.frames.size(), 12u);
  for (size_t i = 0; i < 12; ++i) {
    EXPECT_EQ(d.key[i], i % 5 == 0) << i;
    EXPECT_GT(test_psnr(d.frames[i].y, frames[i].y), 36) << i;
    EXPECT_GT(test_psnr(d.frames[i].cb, frames[i].cb), 36) << i;
    EXPECT_GT(test_psnr(d.frames[i].cr, frames[i].cr), 36) << i;
  }
  EXPECT_FALSE(platform_file_exists((out + ".part").c_str()));

  // --rate overrides the header, --frames cuts the clip, --double lands in the flags.
  ASSERT_EQ(test_krvenc(in + " -o " + out + " --rate 12/1 --frames 3 --double 3"), 0);
  DecodedMovie e;
  ASSERT_TRUE(test_decode_movie(test_read(out), &e));
  EXPECT_EQ(e.header.rate_num, 12u);
  EXPECT_EQ(e.header.rate_den, 1u);
  EXPECT_EQ(e.frames.size(), 3u);
  EXPECT_EQ(e.header.flags, 0x30000000u);
}

TEST(KrvencTool, ChromaFormats) {
  // 4:2:2 and 4:4:4 inputs whose chroma repeats the 4:2:0 samples average back to them: the
  // movies are the same bytes.
  const std::vector<Picture420> frames = clip(33, 18, 4);
  std::vector<uint8_t> movies[3];
  const char* tags[3] = {"420jpeg", "422", "444"};
  for (int k = 0; k < 3; ++k) {
    const std::string in = test_tmp(std::string("c") + tags[k] + ".y4m"), out = test_tmp("c.krv");
    ASSERT_TRUE(test_write(in, test_y4m(frames, tags[k])));
    ASSERT_EQ(test_krvenc(in + " -o " + out), 0) << tags[k];
    movies[k] = test_read(out);
  }
  EXPECT_EQ(movies[0], movies[1]);
  EXPECT_EQ(movies[0], movies[2]);

  // Mono: a grey movie from standard input.
  const std::string in = test_tmp("mono.y4m"), out = test_tmp("mono.krv");
  ASSERT_TRUE(test_write(in, test_y4m(frames, "mono")));
  ASSERT_EQ(test_krvenc("- -o " + out + " < " + in), 0);
  DecodedMovie d;
  ASSERT_TRUE(test_decode_movie(test_read(out), &d));
  EXPECT_EQ(d.header.flags & 0x20000u, 0x20000u);
  ASSERT_EQ(d.frames.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_GT(test_psnr(d.frames[i].y, frames[i].y), 38) << i;
}

double snr_db(const std::vector<int16_t>& ref, const std::vector<int16_t>& got) {
  double sig = 0, err = 0;
  for (size_t i = 0; i < ref.size() && i < got.size(); ++i) {
    sig += double(ref[i]) * ref[i];
    err += (double(ref[i]) - got[i]) * (double(ref[i]) - got[i]);
  }
  return err > 0 ? 10 * std::log10(sig / err) : 99;
}

TEST(KrvencTool, SoundTracks) {
  const std::vector<Picture420> frames = clip(32, 16, 25);  // one second at 25 fps
  const std::string in = test_tmp("snd.y4m"), out = test_tmp("snd.krv");
  ASSERT_TRUE(test_write(in, test_y4m(frames, "420")));
  // Stereo 16-bit at 22050 Hz and mono 8-bit at 11025 Hz, both a second of two tones.
  std::vector<int16_t> stereo, mono;
  for (uint32_t i = 0; i < 22050; ++i)
    for (uint32_t c = 0; c < 2; ++c)
      stereo.push_back(int16_t(6000 * std::sin(2 * M_PI * 440 * i / 22050.0 + c) + 3000 * std::sin(2 * M_PI * 1250 * i / 22050.0)));
  for (uint32_t i = 0; i < 11025; ++i) mono.push_back(int16_t(12000 * std::sin(2 * M_PI * 330 * i / 11025.0)) & ~0xff);
  ASSERT_TRUE(test_write(test_tmp("s16.wav"), test_wav(stereo, 22050, 2, 16)));
  ASSERT_TRUE(test_write(test_tmp("m8.wav"), test_wav(mono, 11025, 1, 8)));
  ASSERT_EQ(test_krvenc(in + " -o " + out + " --audio " + test_tmp("s16.wav") + " --audio-coding rdft --track-id 7 --audio " +
                        test_tmp("m8.wav")),
            0);
  const std::vector<uint8_t> movie = test_read(out);
  ContainerView v;
  ASSERT_EQ(container_open_view(movie.data(), movie.size(), &v), nullptr);
  ASSERT_EQ(v.header.track_count, 2u);
  EXPECT_EQ(container_track_word(&v, 0), 22050u | kAudioWordDct | kAudioWordStereo | kAudioWordSixteenBit);
  EXPECT_EQ(container_track_word(&v, 1), 11025u | kAudioWordRdft | kAudioWordSixteenBit);
  EXPECT_EQ(container_track_id(&v, 0), 0u);
  EXPECT_EQ(container_track_id(&v, 1), 7u);
  // The first frame carries the sound up to three quarters of a second past its own end.
  const uint8_t* frame;
  uint32_t size;
  bool key;
  ASSERT_TRUE(container_frame(&v, 0, &frame, &size, &key));
  const uint8_t* packet;
  uint32_t packet_size;
  ASSERT_EQ(container_audio_packet(frame, size, 2, 0, &packet, &packet_size), nullptr);
  ASSERT_GE(packet_size, 4u);
  const double lead = double(load_le32(packet)) / 4 / 22050;
  EXPECT_GT(lead, 0.75);
  EXPECT_LT(lead, 0.75 + 0.04 + 0.1);

  std::vector<int16_t> got;
  ASSERT_TRUE(test_decode_track(movie, 0, &got));
  EXPECT_GE(got.size(), stereo.size());
  EXPECT_GT(snr_db(stereo, got), 25);
  got.clear();
  ASSERT_TRUE(test_decode_track(movie, 1, &got));
  EXPECT_GE(got.size(), mono.size());
  EXPECT_GT(snr_db(mono, got), 25);
}

TEST(KrvencTool, BitrateAim) {
  const std::vector<Picture420> frames = clip(128, 96, 30);
  const std::string in = test_tmp("rate.y4m"), out = test_tmp("rate.krv");
  ASSERT_TRUE(test_write(in, test_y4m(frames, "420")));
  for (double kbps : {150.0, 400.0}) {
    ASSERT_EQ(test_krvenc(in + " -o " + out + " --bitrate " + std::to_string(int(kbps))), 0);
    const std::vector<uint8_t> movie = test_read(out);
    const double got = double(movie.size()) * 8 / 1000 / (30 / 25.0);
    EXPECT_NEAR(got, kbps, kbps * 0.1) << kbps;
  }
  // From a pipe, which is kept in memory to be read more than once.
  ASSERT_EQ(test_krvenc("- -o " + out + " --bitrate 250 < " + in), 0);
  const double got = double(test_read(out).size()) * 8 / 1000 / (30 / 25.0);
  EXPECT_NEAR(got, 250, 25);
}

TEST(KrvencTool, RefusalsLeaveNothingBehind) {
  const std::vector<Picture420> frames = clip(16, 16, 2);
  const std::string good = test_tmp("good.y4m");
  ASSERT_TRUE(test_write(good, test_y4m(frames, "420")));
  std::string cut = test_y4m(frames, "420");
  cut.resize(cut.size() - 10);
  ASSERT_TRUE(test_write(test_tmp("cut.y4m"), cut));
  std::string deep = test_y4m(frames, "420");
  deep.replace(deep.find("C420"), 4, "C420p10");
  ASSERT_TRUE(test_write(test_tmp("deep.y4m"), deep));
  ASSERT_TRUE(test_write(test_tmp("noframes.y4m"), "YUV4MPEG2 W16 H16 F25:1\n"));
  ASSERT_TRUE(test_write(test_tmp("notwav.wav"), "this is not a wav file"));
  ASSERT_TRUE(test_write(test_tmp("w24.wav"), test_wav({0, 1, 2, 3}, 22050, 2, 24)));
  ASSERT_TRUE(test_write(test_tmp("w96.wav"), test_wav({0, 1, 2, 3}, 96000, 2, 16)));
  const std::string out = test_tmp("refused.krv");
  const std::string cases[] = {
      test_tmp("missing.y4m") + " -o " + out,
      test_tmp("notwav.wav") + " -o " + out,
      test_tmp("cut.y4m") + " -o " + out,
      test_tmp("deep.y4m") + " -o " + out,
      test_tmp("noframes.y4m") + " -o " + out,
      good + " -o " + out + " --audio " + test_tmp("notwav.wav"),
      good + " -o " + out + " --audio " + test_tmp("w24.wav"),
      good + " -o " + out + " --audio " + test_tmp("w96.wav"),
      good + " -o " + out + " --audio " + test_tmp("missing.wav"),
      good + " -o " + out + " --quality 101",
      good + " -o " + out + " --speed 5",
      good + " -o " + out + " --keyint x",
      good + " -o " + out + " --rate 0/1",
      good + " -o " + out + " --double 8",
      good + " -o " + out + " --version q",
      good + " -o " + out + " --audio-coding mp",
      good + " -o " + out + " --unknown",
      good + " -o",
      good,
      "-o " + out,
      good + " -o /nonexistent/dir/out.krv",
  };
  for (const std::string& c : cases) {
    std::remove(out.c_str());
    EXPECT_EQ(test_krvenc(c), 1) << c;
    EXPECT_FALSE(platform_file_exists(out.c_str())) << c;
    EXPECT_FALSE(platform_file_exists((out + ".part").c_str())) << c;
  }
  EXPECT_EQ(test_krvenc("--help"), 0);
}

}  // namespace

namespace {

TEST(KrvencTool, PngSequence) {
  // Frames 1 to 5 of RGB pictures (frame 0 missing: the sequence starts at 1), the sixth RGBA.
  const uint32_t w = 27, h = 14;
  std::vector<std::vector<uint8_t>> pictures;
  for (uint32_t i = 0; i < 6; ++i) {
    const uint32_t ch = i == 5 ? 4 : 3;
    std::vector<uint8_t> px(size_t(w) * h * ch);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        uint8_t* p = &px[(size_t(y) * w + x) * ch];
        p[0] = uint8_t(8 * x + 3 * i);
        p[1] = uint8_t(12 * y);
        p[2] = uint8_t(200 - 5 * x);
        if (ch == 4) p[3] = 255;
      }
    ASSERT_TRUE(test_write(test_tmp("seq_" + std::to_string(1000 + i + 1).substr(1) + ".png"), test_png(px, w, h, ch)));
    pictures.push_back(px);
  }
  std::remove(test_tmp("seq_007.png").c_str());
  const std::string out = test_tmp("seq.krv");
  std::remove(out.c_str());
  const int code = test_krvenc(test_tmp("seq_%03d.png") + " -o " + out + " --quality 100 --rate 10");
  if (code == 1 && !platform_file_exists(out.c_str())) GTEST_SKIP() << "no PNG input in this build";
  ASSERT_EQ(code, 0);
  DecodedMovie d;
  ASSERT_TRUE(test_decode_movie(test_read(out), &d));
  ASSERT_EQ(d.frames.size(), 6u);
  EXPECT_EQ(d.header.width, w);
  EXPECT_EQ(d.header.height, h);
  // Quality 100 codes the converted planes exactly.
  for (uint32_t i = 0; i < 6; ++i) {
    Picture420 p;
    rgb_to_420(pictures[i].data(), i == 5 ? 4 : 3, w, h, &p);
    EXPECT_EQ(d.frames[i].y, p.y) << i;
    EXPECT_EQ(d.frames[i].cb, p.cb) << i;
    EXPECT_EQ(d.frames[i].cr, p.cr) << i;
  }
  // A pattern without a number, and a picture of another size, are refused.
  EXPECT_EQ(test_krvenc(test_tmp("seq_%s.png") + " -o " + out), 1);
  std::vector<uint8_t> small(3 * 4 * 4, 0);
  ASSERT_TRUE(test_write(test_tmp("seq_007.png"), test_png(small, 4, 4, 3)));
  std::remove(out.c_str());
  EXPECT_EQ(test_krvenc(test_tmp("seq_%03d.png") + " -o " + out), 1);
  EXPECT_FALSE(platform_file_exists(out.c_str()));
  // A damaged picture: a line that says what libpng found (and no line of libpng's own).
  std::string cut = test_png(small, 4, 4, 3);
  cut.resize(cut.size() - 20);
  ASSERT_TRUE(test_write(test_tmp("seq_007.png"), cut));
  std::string text;
  EXPECT_EQ(test_krvenc_said(test_tmp("seq_%03d.png") + " -o " + out, &text), 1);
  EXPECT_NE(text.find("\nkrvenc: " + test_tmp("seq_007.png") + ": cannot read the PNG file (Read Error)\n"),
            std::string::npos) << text;
  EXPECT_EQ(text.find("libpng"), std::string::npos) << text;
  EXPECT_FALSE(platform_file_exists(out.c_str()));
  std::remove(test_tmp("seq_007.png").c_str());
}

}  // namespace

namespace {

// RGBA pictures give the movie an alpha plane: it decodes to the alpha given (exactly at quality
// 100, closely below), and a 32-bit surface with alpha shows it.
TEST(KrvencTool, PngAlphaPlane) {
  const uint32_t w = 30, h = 18, n = 4;
  std::vector<std::vector<uint8_t>> alphas;
  for (uint32_t i = 0; i < n; ++i) {
    std::vector<uint8_t> px(size_t(w) * h * 4), a(size_t(w) * h);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        uint8_t* p = &px[(size_t(y) * w + x) * 4];
        p[0] = uint8_t(7 * x + 9 * i);
        p[1] = uint8_t(100 + 5 * y);
        p[2] = uint8_t(60 + 3 * x);
        const int dx = int(x) - int(8 + 3 * i), dy = int(y) - 9;
        a[size_t(y) * w + x] = p[3] = uint8_t(dx * dx + dy * dy < 36 ? 255 : x > 24 ? 128 : 4 * y);
      }
    ASSERT_TRUE(test_write(test_tmp("alpha_" + std::to_string(i) + ".png"), test_png(px, w, h, 4)));
    alphas.push_back(a);
  }
  std::remove(test_tmp("alpha_" + std::to_string(n) + ".png").c_str());
  const std::string out = test_tmp("alpha.krv");
  for (const char* quality : {"100", "70"}) {
    std::remove(out.c_str());
    const int code = test_krvenc(test_tmp("alpha_%d.png") + " -o " + out + " --quality " + quality);
    if (code == 1 && !platform_file_exists(out.c_str())) GTEST_SKIP() << "no PNG input in this build";
    ASSERT_EQ(code, 0) << quality;
    DecodedMovie d;
    ASSERT_TRUE(test_decode_movie(test_read(out), &d));
    EXPECT_TRUE(d.whole);
    EXPECT_TRUE(d.header.flags & kVideoFlagAlpha);
    ASSERT_EQ(d.frames.size(), n);
    for (uint32_t i = 0; i < n; ++i) {
      if (!std::strcmp(quality, "100")) {
        EXPECT_EQ(d.frames[i].a, alphas[i]) << i;
      } else {
        EXPECT_GT(test_psnr(d.frames[i].a, alphas[i]), 36) << i;
      }
    }
    if (std::strcmp(quality, "100")) continue;
    // krvtool frames --format 5: B, G, R, A per pixel.
    const std::string dir = test_tmp("alpha_frames");
    const std::string command = "rm -rf " + dir + " && mkdir -p " + dir + " && " + KORVA_TEST_TMP +
                                "/../krvtool frames " + out + " " + dir + " --format 5 --raw > /dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (uint32_t i = 0; i < n; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "/frame_%06u.raw", i);
      const std::vector<uint8_t> raw = test_read(dir + name);
      ASSERT_EQ(raw.size(), size_t(w) * h * 4) << i;
      std::vector<uint8_t> a(size_t(w) * h);
      for (size_t k = 0; k < a.size(); ++k) a[k] = raw[4 * k + 3];
      EXPECT_EQ(a, alphas[i]) << i;
    }
  }
  // An RGB movie carries no alpha plane.
  std::vector<uint8_t> rgb(size_t(w) * h * 3, 90);
  ASSERT_TRUE(test_write(test_tmp("opaque_0.png"), test_png(rgb, w, h, 3)));
  std::remove(test_tmp("opaque_1.png").c_str());
  ASSERT_EQ(test_krvenc(test_tmp("opaque_%d.png") + " -o " + out), 0);
  DecodedMovie d;
  ASSERT_TRUE(test_decode_movie(test_read(out), &d));
  EXPECT_FALSE(d.header.flags & kVideoFlagAlpha);
  EXPECT_TRUE(d.frames[0].a.empty());
}

}  // namespace

namespace {

// The older versions: the same pictures come back (exactly at quality 100 when no sample is 0),
// the player's own reading (krvtool frames --y4m) agrees on the chroma order, and the sample 0,
// which their colours cannot carry, comes back within 1.
TEST(KrvencTool, OlderVersions) {
  std::vector<Picture420> frames = clip(40, 24, 5);
  for (Picture420& p : frames)
    for (std::vector<uint8_t>* plane : {&p.y, &p.cb, &p.cr})
      for (uint8_t& v : *plane) v = v ? v : 1;
  const std::string in = test_tmp("older.y4m"), out = test_tmp("older.krv"), y4m = test_tmp("older_out.y4m");
  ASSERT_TRUE(test_write(in, test_y4m(frames, "420jpeg")));
  for (const char* version : {"f", "g", "h"}) {
    std::remove(out.c_str());
    ASSERT_EQ(test_krvenc(in + " -o " + out + " --quality 100 --version " + version), 0) << version;
    DecodedMovie d;
    ASSERT_TRUE(test_decode_movie(test_read(out), &d)) << version;
    EXPECT_EQ(d.header.version, version[0]);
    EXPECT_TRUE(d.whole) << version;
    ASSERT_EQ(d.frames.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(d.frames[i].y, frames[i].y) << version << " " << i;
      EXPECT_EQ(d.frames[i].cb, frames[i].cb) << version << " " << i;
      EXPECT_EQ(d.frames[i].cr, frames[i].cr) << version << " " << i;
    }
    // krvtool writes Y, Cb, Cr planes per frame after a FRAME line.
    const std::string command = std::string(KORVA_TEST_TMP) + "/../krvtool frames " + out + " --y4m " + y4m +
                                " > /dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << version;
    const std::vector<uint8_t> got = test_read(y4m);
    const std::vector<uint8_t> want = test_read(in);
    const size_t frame_bytes = 6 + 40 * 24 + 2 * 20 * 12;
    ASSERT_GE(got.size(), frames.size() * frame_bytes);
    ASSERT_GE(want.size(), frames.size() * frame_bytes);
    EXPECT_TRUE(std::equal(got.end() - frames.size() * frame_bytes, got.end(), want.end() - frames.size() * frame_bytes))
        << version;
  }
  // Samples of 0 come back as 1 at worst.
  for (Picture420& p : frames) std::fill(p.y.begin(), p.y.begin() + 40 * 8, 0);
  ASSERT_TRUE(test_write(in, test_y4m(frames, "420jpeg")));
  ASSERT_EQ(test_krvenc(in + " -o " + out + " --quality 100 --version h"), 0);
  DecodedMovie d;
  ASSERT_TRUE(test_decode_movie(test_read(out), &d));
  for (size_t i = 0; i < frames.size(); ++i)
    for (size_t k = 0; k < frames[i].y.size(); ++k) {
      ASSERT_LE(std::abs(int(d.frames[i].y[k]) - int(frames[i].y[k])), 1) << i << " " << k;
    }
  EXPECT_EQ(test_krvenc(in + " -o " + out + " --version j"), 1);
}

}  // namespace
