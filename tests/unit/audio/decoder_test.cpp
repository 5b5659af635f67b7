// The audio decoder: set-ups, fields, bit-level block syntax, conversion, cross-fade and
// packet walking, on blocks made by the writers or bit by bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "audio/audio_bits.h"
#include "audio/audio_decoder.h"
#include "audio/audio_transform.h"
#include "audio/audio_convert.h"
#include "base/cpu.h"
#include "encode/audio_writer.h"

namespace {

struct DecoderDeleter {
  void operator()(AudioDecoder* d) const { audio_decoder_close(d); }
};
using DecoderPtr = std::unique_ptr<AudioDecoder, DecoderDeleter>;

DecoderPtr open(uint32_t rate, uint32_t channels, bool dct) {
  return DecoderPtr(audio_decoder_open(rate, channels, dct));
}

// Decodes `bytes` from an exactly sized heap copy, so the sanitizer sees any read past it.
std::vector<int16_t> decode(AudioDecoder* d, const std::vector<uint8_t>& bytes, size_t* used = nullptr) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
  if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
  const int16_t* pcm = nullptr;
  uint32_t n = 0;
  const uint8_t* next = nullptr;
  audio_decode_block(d, copy.get(), bytes.size(), &pcm, &n, &next);
  if (used) *used = size_t(next - copy.get());
  return std::vector<int16_t>(pcm, pcm + d->block_bytes / 2);
}

// What the decoder must produce for a spectrum: the transform, scaled, rounded, interleaved.
std::vector<int16_t> expected_pcm(AudioDecoder* d, std::vector<float> x) {
  const uint32_t n = d->transform_length;
  std::vector<int> sizes(audio_transform_sizes_entries(n), 0);
  std::vector<float> table(audio_dct_table_entries(n));
  std::vector<int16_t> out(d->block_bytes / 2);
  for (uint32_t c = 0; c < d->coded_channels; ++c) {
    float* s = x.data() + size_t(c) * n;
    sizes[0] = 0;
    if (d->flags & kAudioFlagDct) audio_dct(int(n), 1, s, sizes.data(), table.data());
    else audio_rdft(int(n), -1, s, sizes.data(), table.data());
    for (uint32_t k = 0; k < n; ++k) {
      double v = std::nearbyint(double(s[k]) * d->output_scale);
      v = std::min(32767.0, std::max(-32768.0, v));
      out[size_t(k) * d->coded_channels + c] = int16_t(v);
    }
  }
  return out;
}

// A block whose every output sample is round(v × scale): DCT with only X[0] = v.
std::vector<uint8_t> constant_block(AudioDecoder* d, float v) {
  AudioChannelCodes ch[2];
  for (AudioChannelCodes& c : ch) {
    c.x0 = v;
    c.coefficients.assign(d->transform_length, 0);
  }
  return audio_write_block(d, ch);
}

}  // namespace

TEST(AudioDecoder, SetUpsByRateChannelsAndTransform) {
  struct Case {
    uint32_t rate, channels;
    bool dct;
    uint32_t n, coded, bands, block_bytes;
    std::vector<uint32_t> first_edges;
  };
  const Case cases[] = {
      {44100, 2, true, 2048, 2, 25, 8192, {1, 4, 9, 13, 18}},
      {44100, 2, false, 4096, 1, 25, 8192, {1, 4, 9, 13, 18}},  // nyquist 44100, half 2048
      {44100, 1, false, 2048, 1, 25, 4096, {1, 4, 9, 13, 18}},
      {48000, 1, true, 2048, 1, 25, 4096, {1, 4, 8, 12, 17}},
      {22050, 1, true, 1024, 1, 23, 2048, {1, 4, 9, 13, 18}},
      {22049, 1, true, 512, 1, 23, 1024, {1, 2, 4, 6, 9}},
      {11025, 2, false, 1024, 1, 23, 2048, {1, 4, 9, 13, 18}},
      {8000, 1, true, 512, 1, 18, 1024, {1, 6, 12, 19, 25}},
      {2, 1, true, 512, 1, 1, 1024, {1}},
  };
  for (const Case& c : cases) {
    DecoderPtr d = open(c.rate, c.channels, c.dct);
    ASSERT_TRUE(d) << c.rate;
    EXPECT_EQ(d->transform_length, c.n) << c.rate;
    EXPECT_EQ(d->coded_channels, c.coded) << c.rate;
    EXPECT_EQ(d->band_count, c.bands) << c.rate;
    EXPECT_EQ(d->block_bytes, c.block_bytes) << c.rate;
    EXPECT_EQ(d->overlap_bytes, c.block_bytes / 16) << c.rate;
    EXPECT_EQ(d->output_scale, float(2.0 / std::sqrt(double(c.n)))) << c.rate;
    EXPECT_EQ(d->band_edges[d->band_count], c.n / 2) << c.rate;
    for (size_t i = 0; i < c.first_edges.size(); ++i) EXPECT_EQ(d->band_edges[i], c.first_edges[i]) << c.rate << " " << i;
    for (uint32_t b = 0; b < d->band_count; ++b) EXPECT_LT(d->band_edges[b], d->band_edges[b + 1]) << c.rate;
    EXPECT_EQ(uintptr_t(d.get()) % 32, 0u);
    EXPECT_EQ(uintptr_t(d->pcm) % 32, 0u);
    EXPECT_EQ(uintptr_t(d->transform_table) % 32, 0u);
    EXPECT_EQ(d->first_block, 1u);
    EXPECT_EQ(d->transform_sizes[0], 0);
  }
  EXPECT_EQ(audio_block_length(44100), 2048u);
  EXPECT_EQ(audio_block_length(22050), 1024u);
  EXPECT_EQ(audio_block_length(22049), 512u);
  // Unplayable set-ups are refused rather than decoded.
  EXPECT_FALSE(open(0, 1, true));
  EXPECT_FALSE(open(1, 2, false));
  EXPECT_FALSE(open(44100, 0, true));
  EXPECT_FALSE(open(44100, 3, false));
}

TEST(AudioDecoder, FloatFieldsAndQuantisers) {
  struct Case {
    uint32_t exponent, mantissa, sign;
    float value;
  };
  const Case cases[] = {
      {23, 1, 0, 1.0f},           {0, 1, 0, 1.1920928955078125e-07f}, {0, 0, 1, -0.0f},
      {23, 0x7FFFFF, 1, -8388607.0f}, {10, 3, 0, 3 * std::ldexp(1.0f, -13)},
      {24, 5, 0, 0.0f},           {31, 0x7FFFFF, 1, -0.0f},  // outside the scale table
  };
  for (const Case& c : cases) {
    BitWriter w;
    write_bits(&w, 0x1, 1);  // a leading bit, so the field straddles nothing special
    write_bits(&w, c.exponent | c.mantissa << 5 | c.sign << 28, 29);
    write_bits(&w, 0x5, 3);
    std::vector<uint8_t> b = bit_writer_finish(&w);
    AudioBitReader r;
    audio_bits_init(&r, b.data(), b.size());
    EXPECT_EQ(audio_read_bits(&r, 1), 1u);
    const float v = audio_read_float29(&r);
    EXPECT_EQ(v, c.value) << c.exponent << " " << c.mantissa;
    EXPECT_EQ(std::signbit(v), std::signbit(c.value)) << c.exponent;
    EXPECT_EQ(audio_read_bits(&r, 3), 5u);
    if (c.exponent < 24) {
      EXPECT_EQ(audio_float29_value(c.value), c.value);
    }
  }
  EXPECT_EQ(audio_quantiser(0), 1.0f);
  uint32_t bits;
  const float q1 = audio_quantiser(1);
  std::memcpy(&bits, &q1, 4);
  EXPECT_EQ(bits, 0x3F95253Bu);
  EXPECT_FLOAT_EQ(audio_quantiser(10), 4.6131759f);
  EXPECT_NEAR(audio_quantiser(255) / 8.5506623e16, 1.0, 1e-7);
  // Every entry of the written-out table follows its rule: the power taken in double, rounded
  // to single.
  const uint32_t constant_bits = 0x3D87FCB9;
  float constant;
  std::memcpy(&constant, &constant_bits, 4);
  for (uint32_t v = 0; v < 256; ++v)
    EXPECT_EQ(audio_quantiser(v), float(std::pow(10.0, double(v) * double(constant)))) << v;
}

// Syntax details, bit by bit, on 44100 Hz mono real-DFT (bands start at coefficients 2, 8,
// 18, 26, 36, ...) and 44100 Hz stereo DCT.
TEST(AudioDecoder, BlockSyntax) {
  DecoderPtr d = open(44100, 1, false);
  const float q[3] = {audio_quantiser(0), audio_quantiser(10), audio_quantiser(1)};
  BitWriter w;
  write_bits(&w, 23 | 3 << 5, 29);         // X[0] = 3
  write_bits(&w, 22 | 5 << 5 | 1 << 28, 29);  // X[1] = -2.5
  const uint8_t codes[3] = {0, 10, 1};
  for (uint32_t b = 0; b < d->band_count; ++b) write_bits(&w, b < 3 ? codes[b] : 0, 8);
  std::vector<float> x(2048, 0.0f);
  x[0] = 3;
  x[1] = -2.5f;
  // Run of 8 (positions 2..9), width 0: no sign bits; band 1 starts at 8 inside it.
  write_bit(&w, 0);
  write_bits(&w, 0, 4);
  // Run of 8 (10..17), width 3, band 1's quantiser; magnitude 0 reads no sign bit.
  write_bit(&w, 0);
  write_bits(&w, 3, 4);
  const int mags[8] = {5, 0, -7, 1, 0, 0, -3, 2};
  for (int i = 0; i < 8; ++i) {
    write_bits(&w, uint32_t(std::abs(mags[i])), 3);
    if (mags[i]) write_bit(&w, mags[i] < 0);
    x[10 + i] = float(mags[i]) * q[1];
  }
  // Run of 16 (18..33), width 2: band 2 (from 18) then band 3 (from 26, code 0).
  write_bit(&w, 1);
  write_bits(&w, 0, 4);
  write_bits(&w, 2, 4);
  for (int i = 0; i < 16; ++i) {
    write_bits(&w, 3, 2);
    write_bit(&w, i & 1);
    x[18 + i] = float((i & 1) ? -3 : 3) * (18 + i < 26 ? q[2] : q[0]);
  }
  // Zero runs of 512 to the end: the last is cut at N (34 + 4 × 512 > 2048).
  for (int r = 0; r < 4; ++r) {
    write_bit(&w, 1);
    write_bits(&w, 15, 4);
    write_bits(&w, 0, 4);
  }
  const uint64_t bits_used = bit_writer_position(&w);
  std::vector<uint8_t> block = bit_writer_finish(&w);
  block.resize(block.size() + 8, 0xFF);  // the next block's bytes
  size_t used = 0;
  EXPECT_EQ(decode(d.get(), block, &used), expected_pcm(d.get(), x));
  EXPECT_EQ(used, (bits_used + 31) / 32 * 4);

  // Real-DFT mode reads the first bits as data: flipping bit 0 changes X[0]'s exponent.
  block[0] ^= 1;
  DecoderPtr d2 = open(44100, 1, false);
  EXPECT_NE(decode(d2.get(), block), expected_pcm(d2.get(), x));

  // DCT mode skips two leading bits whatever they hold; a run cut at N leaves the next
  // channel's bits in place.
  DecoderPtr s = open(44100, 2, true);
  std::mt19937 rng(7);
  AudioChannelCodes ch[2];
  for (AudioChannelCodes& c : ch) {
    c.x0 = 1000;
    c.x1 = -20.5f;
    for (uint32_t b = 0; b < s->band_count; ++b) c.band_codes[b] = uint8_t(rng() % 60);
    c.coefficients.assign(2048, 0);
    for (uint32_t j = 2; j < 2048; ++j) c.coefficients[j] = int32_t(rng() % 9) - 4;
  }
  const std::vector<int16_t> want = expected_pcm(s.get(), audio_codes_spectrum(s.get(), ch));
  for (uint32_t lead = 0; lead < 4; ++lead) {
    DecoderPtr t = open(44100, 2, true);
    std::vector<uint8_t> b = audio_write_block(t.get(), ch, lead);
    ASSERT_EQ(b[0] & 3, lead);
    size_t u = 0;
    EXPECT_EQ(decode(t.get(), b, &u), want) << lead;
    EXPECT_EQ(u, b.size());
    EXPECT_EQ(u % 4, 0u);
  }
}

// Written from random codes, every set-up decodes to the transform of its spectrum.
TEST(AudioDecoder, BlocksDecodeToTheTransformOfTheirCodes) {
  std::mt19937 rng(99);
  const uint32_t rates[] = {8000, 22050, 32000, 44100, 48000};
  for (uint32_t rate : rates)
    for (uint32_t channels = 1; channels <= 2; ++channels)
      for (int dct = 0; dct < 2; ++dct) {
        DecoderPtr d = open(rate, channels, dct);
        ASSERT_TRUE(d);
        AudioChannelCodes ch[2];
        for (uint32_t c = 0; c < d->coded_channels; ++c) {
          ch[c].x0 = float(int(rng() % 20001) - 10000) / 4;
          ch[c].x1 = float(int(rng() % 2001) - 1000) / 8;
          for (uint32_t b = 0; b < d->band_count; ++b) ch[c].band_codes[b] = uint8_t(rng() % 80);
          ch[c].coefficients.assign(d->transform_length, 0);
          // Sparse, with bursts of large values and long silent stretches.
          for (uint32_t j = 2; j < d->transform_length; ++j) {
            const uint32_t r = rng() % 100;
            if (j > d->transform_length / 2 && r < 90) continue;
            ch[c].coefficients[j] = r < 60 ? 0 : r < 95 ? int32_t(rng() % 31) - 15 : int32_t(rng() % 65535) - 32767;
          }
        }
        std::vector<uint8_t> block = audio_write_block(d.get(), ch);
        const std::vector<int16_t> want = expected_pcm(d.get(), audio_codes_spectrum(d.get(), ch));
        size_t used = 0;
        EXPECT_EQ(decode(d.get(), block, &used), want) << rate << " " << channels << " " << dct;
        EXPECT_EQ(used, block.size());
      }
}

// Every instruction-set level the processor has decodes the same bits (random blocks, so the
// cross-fade of each block with the one before is compared too), and the decoder takes the
// transform and the conversion that the level allows.
TEST(AudioDecoder, EveryLevelDecodesTheSameBits) {
  struct SetUp {
    uint32_t rate, channels;
    bool dct;
  };
  const SetUp setups[] = {{22050, 1, true}, {44100, 2, true}, {44100, 2, false}, {8000, 1, false}};
  for (const SetUp& s : setups) {
    std::mt19937 rng(s.rate + s.channels);
    std::vector<std::vector<uint8_t>> blocks;
    {
      DecoderPtr layout = open(s.rate, s.channels, s.dct);
      ASSERT_TRUE(layout);
      for (int i = 0; i < 3; ++i) {
        AudioChannelCodes ch[2];
        for (uint32_t c = 0; c < layout->coded_channels; ++c) {
          ch[c].x0 = float(int(rng() % 20001) - 10000) / 4;
          ch[c].x1 = float(int(rng() % 2001) - 1000) / 8;
          for (uint32_t b = 0; b < layout->band_count; ++b) ch[c].band_codes[b] = uint8_t(rng() % 80);
          ch[c].coefficients.assign(layout->transform_length, 0);
          for (uint32_t j = 2; j < layout->transform_length; ++j)
            ch[c].coefficients[j] = rng() % 4 ? 0 : int32_t(rng() % 4001) - 2000;
        }
        blocks.push_back(audio_write_block(layout.get(), ch));
      }
    }
    std::vector<int16_t> reference;
    for (uint32_t level = kCpuPlain; level <= cpu_detected_level(); ++level) {
      cpu_set_limit(level);
      DecoderPtr d = open(s.rate, s.channels, s.dct);
      ASSERT_TRUE(d);
#if defined(AUDIO_HAVE_AVX2)
      const auto to_pcm = level >= kCpuAvx2   ? audio_to_pcm_avx2
                          : level >= kCpuSse2 ? audio_to_pcm_sse2
                                              : audio_to_pcm_plain;
#elif defined(AUDIO_HAVE_SSE2)
      const auto to_pcm = level >= kCpuSse2 ? audio_to_pcm_sse2 : audio_to_pcm_plain;
#else
      const auto to_pcm = audio_to_pcm_plain;
#endif
      EXPECT_TRUE(d->fn.to_pcm == to_pcm) << cpu_level_name(level);
      EXPECT_TRUE(d->fn.coefficients ==
                  (level >= kCpuSse2 ? audio_decode_coefficients_fast : audio_decode_coefficients_plain))
          << cpu_level_name(level);
      auto transform = s.dct ? (level >= kCpuSse2 ? audio_dct : audio_dct_plain)
                             : (level >= kCpuSse2 ? audio_rdft : audio_rdft_plain);
#if defined(AUDIO_HAVE_TRANSFORM_AVX2)
      if (level >= kCpuAvx2) transform = s.dct ? audio_dct_avx2 : audio_rdft_avx2;
#endif
      EXPECT_TRUE(d->transform == transform) << cpu_level_name(level);
      std::vector<int16_t> pcm;
      for (const std::vector<uint8_t>& b : blocks) {
        const std::vector<int16_t> one = decode(d.get(), b);
        pcm.insert(pcm.end(), one.begin(), one.end());
      }
      if (level == kCpuPlain) reference = pcm;
      EXPECT_EQ(pcm, reference) << s.rate << " " << s.channels << " " << s.dct << " at " << cpu_level_name(level);
    }
    cpu_set_limit(kCpuAvx2);
  }
}

TEST(AudioDecoder, RoundingClampAndCrossFade) {
  // 22050 Hz mono DCT: N = 1024, scale exactly 1/16, L = 64 values of cross-fade.
  struct Case {
    float x0;
    int16_t out;
  };
  const Case cases[] = {{40, 2},   {56, 4},        {-40, -2},      {8, 0},
                        {24, 2},   {-24, -2},      {524280, 32767}, {8388607, 32767},
                        {-524296, -32768}, {-8388607, -32768}, {16, 1}};
  for (const Case& c : cases) {
    DecoderPtr d = open(22050, 1, true);
    ASSERT_EQ(d->output_scale, 0.0625f);
    std::vector<int16_t> pcm = decode(d.get(), constant_block(d.get(), c.x0));
    for (size_t i = 0; i < pcm.size(); ++i) ASSERT_EQ(pcm[i], c.out) << c.x0 << " at " << i;
  }
  struct Fade {
    float from, to;  // X[0] of two blocks
  };
  const Fade fades[] = {{-16, 0}, {1600, -1600}, {-1600, 800}, {0, 16}};
  for (const Fade& f : fades) {
    DecoderPtr d = open(22050, 1, true);
    const int32_t a = int32_t(f.from / 16), b = int32_t(f.to / 16), l = 64;
    std::vector<int16_t> first = decode(d.get(), constant_block(d.get(), f.from));
    EXPECT_EQ(first[0], a);  // the first block after open is not faded
    std::vector<int16_t> second = decode(d.get(), constant_block(d.get(), f.to));
    for (int32_t i = 0; i < l; ++i) {
      const int32_t num = a * (l - i) + b * i;
      const int32_t want = num >= 0 ? num / l : -((-num + l - 1) / l);  // floor
      ASSERT_EQ(second[i], want) << f.from << " -> " << f.to << " at " << i;
    }
    EXPECT_EQ(second[l], b);
    if (a == -1 && b == 0) {
      EXPECT_EQ(second[l / 2], -1);  // the midpoint of -1 and 0 is -1
    }
  }
}

TEST(AudioDecoder, PacketWalk) {
  DecoderPtr d = open(44100, 2, true);
  ASSERT_EQ(d->block_bytes - d->overlap_bytes, 7680u);
  std::vector<std::vector<uint8_t>> blocks;
  for (int i = 0; i < 18; ++i) blocks.push_back(constant_block(d.get(), float(100 * i)));
  struct Case {
    uint32_t count, blocks, truncate;  // truncate: bytes cut from the end
    std::vector<uint32_t> pieces;
  };
  const Case cases[] = {
      {7680, 1, 0, {7680}},
      {138240, 18, 0, std::vector<uint32_t>(18, 7680)},
      {1000, 1, 0, {1000}},
      {7681, 2, 0, {7680, 1}},
      {3 * 7680, 2, 0, {7680, 7680}},  // the count promises more than the bytes hold
      {2 * 7680, 2, 6, {7680, 7680}},  // the second block lacks its last bytes: zeros
      {0, 1, 0, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::vector<uint8_t>> bs(blocks.begin(), blocks.begin() + c.blocks);
    std::vector<uint8_t> p = audio_write_packet(c.count, bs);
    p.resize(p.size() - c.truncate);
    std::unique_ptr<uint8_t[]> copy(new uint8_t[p.size()]);
    std::memcpy(copy.get(), p.data(), p.size());
    AudioPacketCursor cur;
    audio_packet_begin(&cur, copy.get(), p.size());
    std::vector<uint32_t> pieces;
    const int16_t* pcm;
    uint32_t bytes;
    DecoderPtr t = open(44100, 2, true);
    while (audio_packet_next(t.get(), &cur, &pcm, &bytes)) pieces.push_back(bytes);
    EXPECT_EQ(pieces, c.pieces) << c.count;
    if (c.truncate == 0 && c.count == c.blocks * 7680) {
      EXPECT_EQ(cur.next, copy.get() + p.size());
    }
  }
  AudioPacketCursor cur;
  const uint8_t tiny[3] = {1, 2, 3};
  audio_packet_begin(&cur, tiny, 3);
  EXPECT_FALSE(audio_packet_next(d.get(), &cur, nullptr, nullptr));
}

// A block cut short at every length reads nothing past its bytes (the copy is exact), reports
// the overrun, and points next_block at the end.
TEST(AudioDecoder, TruncatedBlocksStayInside) {
  for (int dct = 0; dct < 2; ++dct) {
    DecoderPtr d = open(22050, 2, dct);
    AudioChannelCodes ch[2];
    for (AudioChannelCodes& c : ch) {
      c.x0 = 5;
      c.coefficients.assign(d->transform_length, 0);
      for (uint32_t j = 2; j < d->transform_length; j += 3) c.coefficients[j] = int32_t(j % 17) - 8;
    }
    const std::vector<uint8_t> block = audio_write_block(d.get(), ch);
    for (size_t size = 0; size <= block.size(); size += (size < 64 ? 1 : 97)) {
      std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
      std::memcpy(copy.get(), block.data(), size);
      const uint8_t* next = nullptr;
      const bool inside = audio_decode_block(d.get(), copy.get(), size, nullptr, nullptr, &next);
      EXPECT_EQ(inside, size == block.size()) << size;
      EXPECT_EQ(next, copy.get() + size) << size;
    }
  }
}
