// The sound encoder at a bit rate: the rate it reaches, the sound the project's decoder gives
// back, silence, and the krvenc option that drives it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "base/bytes.h"
#include "container/container.h"
#include "encode/audio_encoder.h"
#include "encode/audio_writer.h"
#include "krvenc_test.h"

namespace {

// Two seconds of something like music: a chord whose notes come and go, a bass line, and
// hiss that falls off with frequency; the second channel is a shifted mix of the first.
std::vector<int16_t> music(uint32_t rate, uint32_t channels, double seconds = 2) {
  const uint32_t frames = uint32_t(rate * seconds);
  std::vector<int16_t> pcm(size_t(frames) * channels);
  uint32_t seed = 12345;
  double lp1 = 0, lp2 = 0;
  for (uint32_t i = 0; i < frames; ++i) {
    const double t = double(i) / rate;
    seed = seed * 1103515245u + 12345u;
    const double white = double(int32_t(seed >> 8 & 0xffff) - 32768) / 32768;
    lp1 += 0.3 * (white - lp1);
    lp2 += 0.3 * (lp1 - lp2);
    const double env = 0.6 + 0.4 * std::sin(2 * M_PI * 1.5 * t);
    for (uint32_t c = 0; c < channels; ++c) {
      double v = 5000 * env * std::sin(2 * M_PI * 220 * t + c) + 3000 * std::sin(2 * M_PI * 277.2 * t) +
                 2000 * (1 - env) * std::sin(2 * M_PI * 1318.5 * t + 0.5 * c) +
                 4000 * std::sin(2 * M_PI * (55 + 27.5 * (i * 4 / rate % 2)) * t) + 1500 * (c ? lp1 : lp2) +
                 300 * white;
      pcm[size_t(i) * channels + c] = int16_t(std::lround(std::clamp(v, -32768.0, 32767.0)));
    }
  }
  return pcm;
}

struct Layout {
  uint32_t rate, channels;
  bool dct;
};

const Layout kLayouts[] = {{44100, 2, true}, {44100, 2, false}, {44100, 1, true}, {44100, 1, false},
                           {22050, 2, true}, {22050, 2, false}, {22050, 1, true}, {22050, 1, false}};

std::string name(const Layout& l) {
  return std::to_string(l.rate) + (l.channels == 2 ? " stereo " : " mono ") + (l.dct ? "dct" : "rdft");
}

}  // namespace

// For every layout, three rates in proportion to the sample count (64, 128 and 192 kbps for
// 44.1 kHz stereo): the track's rate lands within 10 % of the aim and the decoded sound gets
// better with every step up (measured: within 1.5 % of the aim; 2.6 to 5 dB a step; the lowest
// SNR, 19 dB, is 22.05 kHz stereo DCT at 32 kbps, hence the floor of 17 dB).
TEST(AudioEncoder, RateAndQualityFollowTheAim) {
  for (const Layout& l : kLayouts) {
    SCOPED_TRACE(name(l));
    const std::vector<int16_t> pcm = music(l.rate, l.channels);
    const uint32_t frames = 50;  // two seconds at 25 fps
    double last_snr = -100;
    for (double step : {1.0, 2.0, 3.0}) {
      const double kbps = step * 64 * l.rate * l.channels / 88200;
      uint32_t word = 0;
      const std::vector<std::vector<uint8_t>> packets =
          audio_track_packets(pcm, l.rate, l.channels, l.dct, kbps, frames, 25, 1, &word);
      ASSERT_EQ(packets.size(), frames);
      AudioTrackQuality q;
      ASSERT_TRUE(audio_track_quality(pcm, l.rate, l.channels, l.dct, packets, &q));
      std::printf("  %-18s aim %6.1f kbps: %6.1f kbps, SNR %5.2f dB\n", name(l).c_str(), kbps, q.kbps, q.snr_db);
      EXPECT_NEAR(q.kbps, kbps, 0.1 * kbps);
      EXPECT_GT(q.snr_db, last_snr + 2);
      EXPECT_GT(q.snr_db, 17);
      last_snr = q.snr_db;
    }
  }
}

// Silence codes to silence at any rate, in blocks of little more than their fixed fields; a
// single block stays within its budget from a tight one to a generous one, and a larger budget
// never gives worse sound.
TEST(AudioEncoder, SilenceAndBlockBudgets) {
  for (const Layout& l : kLayouts) {
    SCOPED_TRACE(name(l));
    const std::vector<int16_t> quiet(size_t(l.rate) * l.channels, 0);
    uint32_t word = 0;
    const std::vector<std::vector<uint8_t>> packets =
        audio_track_packets(quiet, l.rate, l.channels, l.dct, 128, 25, 25, 1, &word);
    AudioTrackQuality q;
    ASSERT_TRUE(audio_track_quality(quiet, l.rate, l.channels, l.dct, packets, &q));
    EXPECT_EQ(q.snr_db, 99);  // every decoded value is 0
    EXPECT_LT(q.kbps, 20);

    AudioDecoder* layout = audio_decoder_open(l.rate, l.channels, l.dct);
    ASSERT_NE(layout, nullptr);
    const std::vector<int16_t> pcm = music(l.rate, l.channels, 0.25);
    double last = -100;
    for (uint32_t budget : {1500u, 3000u, 6000u, 12000u, 24000u}) {
      const std::vector<uint8_t> block = audio_encode_block_budget(layout, pcm.data() + 2000 * l.channels, budget);
      EXPECT_LE(block.size() * 8, budget);
      EXPECT_EQ(block.size() % 4, 0u);
      // What the decoder makes of it (a first block: no cross-fade).
      AudioDecoder* dec = audio_decoder_open(l.rate, l.channels, l.dct);
      const int16_t* out;
      ASSERT_TRUE(audio_decode_block(dec, block.data(), block.size(), &out, nullptr, nullptr));
      const double snr = audio_snr_db(pcm.data() + 2000 * l.channels, out, layout->block_bytes / 2);
      audio_decoder_close(dec);
      EXPECT_GE(snr, last - 0.1) << budget;
      last = snr;
    }
    audio_decoder_close(layout);
  }
}

// Without a rate the track is coded at the fixed precision, exactly as before; the option picks
// the rate per track and the movie's sound follows it.
TEST(AudioEncoder, KrvencAudioBitrate) {
  std::vector<Picture420> frames;
  for (uint32_t i = 0; i < 50; ++i) frames.push_back(test_clip_frame(32, 16, i));
  const std::string in = test_tmp("abr.y4m"), out = test_tmp("abr.krv");
  ASSERT_TRUE(test_write(in, test_y4m(frames, "420")));
  const std::vector<int16_t> stereo = music(44100, 2), mono = music(22050, 1);
  ASSERT_TRUE(test_write(test_tmp("abr_s.wav"), test_wav(stereo, 44100, 2, 16)));
  ASSERT_TRUE(test_write(test_tmp("abr_m.wav"), test_wav(mono, 22050, 1, 16)));
  ASSERT_EQ(test_krvenc(in + " -o " + out + " --audio-bitrate 96 --audio-coding rdft --audio " + test_tmp("abr_s.wav") +
                        " --audio-bitrate 0 --audio " + test_tmp("abr_m.wav") + " --audio " + test_tmp("abr_s.wav")),
            0);
  const std::vector<uint8_t> movie = test_read(out);
  ContainerView v;
  ASSERT_EQ(container_open_view(movie.data(), movie.size(), &v), nullptr);
  ASSERT_EQ(v.header.track_count, 3u);
  // Track bytes over the sound's two seconds.
  auto track_kbps = [&](uint32_t t) {
    uint64_t bytes = 0;
    for (uint32_t i = 0; i < v.header.frame_count; ++i) {
      const uint8_t* frame;
      uint32_t size;
      bool key;
      const uint8_t* packet;
      uint32_t packet_size;
      if (container_frame(&v, i, &frame, &size, &key) &&
          container_audio_packet(frame, size, 3, t, &packet, &packet_size) == nullptr)
        bytes += packet_size;
    }
    return double(bytes) * 8 / 1000 / 2;
  };
  EXPECT_NEAR(track_kbps(0), 96, 9.6);
  // Track 2 is coded as the first, with the fixed precision of a movie made without the option.
  uint32_t word;
  const std::vector<std::vector<uint8_t>> fixed = audio_track_packets(stereo, 44100, 2, false, 0, 50, 25, 1, &word);
  AudioTrackQuality fq;
  ASSERT_TRUE(audio_track_quality(stereo, 44100, 2, false, fixed, &fq));
  EXPECT_NEAR(track_kbps(2), fq.kbps, 0.5);
  EXPECT_GT(fq.kbps, 200);
  std::vector<int16_t> got;
  ASSERT_TRUE(test_decode_track(movie, 0, &got));
  got.resize(stereo.size());
  const double snr96 = audio_snr_db(stereo.data(), got.data(), stereo.size());
  got.clear();
  ASSERT_TRUE(test_decode_track(movie, 2, &got));
  got.resize(stereo.size());
  EXPECT_GT(audio_snr_db(stereo.data(), got.data(), stereo.size()), snr96 + 3);
  got.clear();
  ASSERT_TRUE(test_decode_track(movie, 1, &got));
  got.resize(mono.size());
  EXPECT_GT(audio_snr_db(mono.data(), got.data(), mono.size()), 25);

  for (const char* bad : {"-5", "2", "fast", "20000"})
    EXPECT_EQ(test_krvenc(in + " -o " + out + " --audio-bitrate " + bad + " --audio " + test_tmp("abr_m.wav")), 1) << bad;
}
