// The fast coefficient reader against the plain one: the same values (bit for bit, signed
// zeros included) and the same reader position afterwards, on random bytes (every width,
// run length and sign pattern), on written blocks, and on both cut short at every length
// class, from every bit offset a channel can start at.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "audio/audio_bits.h"
#include "audio/audio_decoder.h"
#include "encode/audio_writer.h"

namespace {

struct Layout {
  uint32_t n;
  std::vector<uint32_t> edges;
};

Layout layout_of(uint32_t rate, uint32_t channels, bool dct) {
  AudioDecoder* d = audio_decoder_open(rate, channels, dct);
  Layout l{d->transform_length, std::vector<uint32_t>(d->band_edges, d->band_edges + d->band_count + 1)};
  audio_decoder_close(d);
  return l;
}

// Runs both readers over `bytes` (an exactly sized heap copy, so a sanitizer sees any read past
// it) from bit `skip` on; compares values, position, and the next field read after them.
void expect_same(const std::vector<uint8_t>& bytes, uint32_t skip, const Layout& l, const float* quant,
                 const char* what) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() + 1]);
  if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
  std::vector<float> a(l.n, 7.0f), b(l.n, -7.0f);
  AudioBitReader ra, rb;
  audio_bits_init(&ra, copy.get(), bytes.size());
  audio_bits_init(&rb, copy.get(), bytes.size());
  for (uint32_t left = skip; left; left -= left > 20 ? 20 : left) {
    audio_read_bits(&ra, left > 20 ? 20 : left);
    audio_read_bits(&rb, left > 20 ? 20 : left);
  }
  audio_decode_coefficients_plain(&ra, a.data(), l.n, l.edges.data(), quant);
  audio_decode_coefficients_fast(&rb, b.data(), l.n, l.edges.data(), quant);
  ASSERT_EQ(std::memcmp(a.data() + 2, b.data() + 2, 4 * (l.n - 2)), 0)
      << what << " n=" << l.n << " size=" << bytes.size() << " skip=" << skip;
  ASSERT_EQ(audio_bits_consumed(&ra), audio_bits_consumed(&rb)) << what << " size=" << bytes.size();
  ASSERT_EQ(audio_read_bits(&ra, 29), audio_read_bits(&rb, 29)) << what << " size=" << bytes.size();
  ASSERT_EQ(audio_bits_consumed(&ra), audio_bits_consumed(&rb)) << what;
}

TEST(AudioCoefficients, FastReaderMatchesPlainOnRandomBytes) {
  const Layout layouts[] = {layout_of(44100, 2, true), layout_of(44100, 2, false),
                            layout_of(22050, 1, true), layout_of(11025, 1, false),
                            layout_of(8000, 2, true)};
  std::mt19937 rng(77);
  std::vector<float> quant(kAudioMaxBands);
  for (const Layout& l : layouts) {
    for (int round = 0; round < 40; ++round) {
      for (float& q : quant) q = audio_quantiser(rng() % 256);
      if (round == 0) quant.assign(kAudioMaxBands, 0.0f);  // a zero quantiser keeps the signs
      // Skewed bytes too: mostly-zero data has many zero magnitudes and short codes.
      std::vector<uint8_t> bytes(size_t(l.n) * 2 + 64);
      const uint32_t density = round % 4;
      for (uint8_t& v : bytes) {
        v = uint8_t(rng());
        for (uint32_t k = 0; k < density; ++k) v &= uint8_t(rng());
      }
      expect_same(bytes, round % 32, l, quant.data(), "random");
      // Cut short: the tail reads as zeros.
      for (size_t size : {size_t(0), size_t(1), size_t(3), size_t(7), size_t(9), size_t(61),
                          bytes.size() / 5, bytes.size() / 3 + 1}) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + std::min(size, bytes.size()));
        expect_same(cut, round % 32, l, quant.data(), "truncated");
      }
    }
  }
}

TEST(AudioCoefficients, FastReaderMatchesPlainOnWrittenBlocks) {
  std::mt19937 rng(5);
  for (const bool dct : {true, false}) {
    AudioDecoder* d = audio_decoder_open(44100, 2, dct);
    const Layout l = layout_of(44100, 2, dct);
    for (int round = 0; round < 16; ++round) {
      AudioChannelCodes ch[2];
      const int32_t peak = int32_t(1) << (round % 16);  // every width from 1 to 15 bits
      for (uint32_t c = 0; c < d->coded_channels; ++c) {
        ch[c].x0 = 1.0f;
        ch[c].x1 = -2.0f;
        for (uint32_t b = 0; b < d->band_count; ++b) ch[c].band_codes[b] = uint8_t(rng() % 90);
        ch[c].coefficients.assign(d->transform_length, 0);
        for (uint32_t j = 2; j < d->transform_length; ++j)
          ch[c].coefficients[j] = rng() % 3 ? 0 : int32_t(rng() % uint32_t(2 * peak - 1)) - (peak - 1);
      }
      const std::vector<uint8_t> block = audio_write_block(d, ch);
      std::vector<float> quant(kAudioMaxBands);
      for (float& q : quant) q = audio_quantiser(rng() % 256);
      // The first channel's coefficients start after two floats and the band codes.
      const uint32_t start = (dct ? 2 : 0) + 58 + 8 * d->band_count;
      expect_same(block, start, l, quant.data(), "written");
      for (size_t size = 0; size < block.size(); size += 1 + block.size() / 37) {
        std::vector<uint8_t> cut(block.begin(), block.begin() + size);
        expect_same(cut, start, l, quant.data(), "written, truncated");
      }
    }
    audio_decoder_close(d);
  }
}

// Seeking lands where reading would: at every bit of a short block and past its end.
TEST(AudioCoefficients, SeekMatchesReading) {
  std::vector<uint8_t> bytes(11);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(0x9D * (i + 1));
  for (uint32_t pos = 0; pos < 8 * 16 + 5; ++pos) {
    AudioBitReader a, b;
    audio_bits_init(&a, bytes.data(), bytes.size());
    audio_bits_init(&b, bytes.data(), bytes.size());
    for (uint32_t left = pos; left; left -= left > 13 ? 13 : left)
      audio_read_bits(&a, left > 13 ? 13 : left);
    audio_bits_seek(&b, pos);
    EXPECT_EQ(audio_bits_consumed(&a), audio_bits_consumed(&b)) << pos;
    for (int k = 0; k < 3; ++k) EXPECT_EQ(audio_read_bits(&a, 23), audio_read_bits(&b, 23)) << pos;
  }
}

}  // namespace
