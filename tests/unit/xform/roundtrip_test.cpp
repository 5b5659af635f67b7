// Writers → readers: random coefficient and residue blocks come back exactly, and the reader
// consumes exactly the bits the writer wrote.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "encode/video_transform_writer.h"
#include "video/transform.h"
#include "xform_util.h"

namespace {

// A random block of AC values: `count` non-zero values of magnitude below 2^bits.
void random_coefficients(std::mt19937& rng, int16_t block[64], int count, int bits) {
  std::memset(block, 0, 64 * sizeof(int16_t));
  block[0] = int16_t(rng());
  for (int i = 0; i < count; ++i) {
    const int k = 1 + int(rng() % 63);
    const int32_t mag = int32_t(rng() % (1u << bits));
    block[k] = int16_t(rng() & 1 ? -mag : mag);
  }
}

TEST(RoundTrip, CoefficientsManyRandomBlocks) {
  std::mt19937 rng(1);
  for (int iter = 0; iter < 20000; ++iter) {
    int16_t block[64];
    const int count = iter % 7 == 0 ? 63 : int(rng() % 20);
    const int bits = 1 + int(rng() % 15);
    random_coefficients(rng, block, count, bits);
    int planes = kAutoPlanes;
    const int need = coefficient_planes(block);
    ASSERT_GE(need, 0);
    ASSERT_LE(need, bits);
    if (iter % 3 == 0) planes = need + int(rng() % (16 - need));  // more planes than needed

    BitWriter w;
    put_field(&w, rng() & 0x1F, 5);  // an unaligned start
    const uint64_t start = bit_writer_position(&w);
    ASSERT_TRUE(write_coefficients(&w, block, planes));
    const uint64_t written = bit_writer_position(&w) - start;
    std::vector<uint8_t> data = finish_with_tail(&w, uint32_t(rng()));

    BitReader r;
    bit_reader_init(&r, data.data(), data.size());
    read_bits(&r, 5);
    int16_t got[64];
    got[0] = block[0];
    read_coefficients(&r, got);
    ASSERT_EQ(consumed_bits(r) - 5, written) << "iter " << iter;
    for (int k = 0; k < 64; ++k) ASSERT_EQ(got[k], block[k]) << "iter " << iter << " k " << k;
  }
}

TEST(RoundTrip, CoefficientBitCountMatchesTheWriter) {
  // The encoder's count without the set list against the writer's bits, on random blocks of
  // every density and depth, sparse ones with values in every corner of the coding order, and
  // the blocks the writer refuses.
  std::mt19937 rng(7);
  for (int iter = 0; iter < 50000; ++iter) {
    int16_t block[64];
    const int count = iter % 5 == 0 ? 63 : int(rng() % (iter % 2 ? 4 : 24));
    random_coefficients(rng, block, count, 1 + int(rng() % 15));
    BitWriter w;
    w.count_only = true;
    ASSERT_TRUE(write_coefficients(&w, block));
    ASSERT_EQ(coefficient_bit_count(block), bit_writer_position(&w)) << "iter " << iter;
  }
  int16_t block[64] = {};
  EXPECT_EQ(coefficient_bit_count(block), 4u);
  block[63] = INT16_MIN;
  EXPECT_EQ(coefficient_bit_count(block), 0xffffffffu);
  block[63] = INT16_MAX;
  BitWriter w;
  w.count_only = true;
  ASSERT_TRUE(write_coefficients(&w, block));
  EXPECT_EQ(coefficient_bit_count(block), bit_writer_position(&w));
}

TEST(RoundTrip, CoefficientsSeveralBlocksBackToBack) {
  std::mt19937 rng(2);
  int16_t blocks[50][64];
  BitWriter w;
  for (auto& b : blocks) {
    random_coefficients(rng, b, int(rng() % 64), 1 + int(rng() % 15));
    ASSERT_TRUE(write_coefficients(&w, b));
  }
  std::vector<uint8_t> data = bit_writer_finish(&w);
  BitReader r;
  bit_reader_init(&r, data.data(), data.size());
  for (auto& b : blocks) {
    int16_t got[64];
    got[0] = b[0];
    read_coefficients(&r, got);
    for (int k = 0; k < 64; ++k) ASSERT_EQ(got[k], b[k]);
  }
  EXPECT_FALSE(r.overrun);
}

TEST(RoundTrip, CoefficientExtremesAndRejections) {
  int16_t block[64] = {};
  for (int k = 1; k < 64; ++k) block[k] = int16_t(k % 2 ? 32767 : -32767);
  EXPECT_EQ(coefficient_planes(block), 15);
  BitWriter w;
  ASSERT_TRUE(write_coefficients(&w, block));
  std::vector<uint8_t> data = bit_writer_finish(&w);
  BitReader r;
  bit_reader_init(&r, data.data(), data.size());
  int16_t got[64];
  read_coefficients(&r, got);
  for (int k = 1; k < 64; ++k) EXPECT_EQ(got[k], block[k]);

  // All zero: n = 0, four bits.
  int16_t zero[64] = {};
  zero[0] = 123;  // the DC does not count
  EXPECT_EQ(coefficient_planes(zero), 0);
  BitWriter wz;
  ASSERT_TRUE(write_coefficients(&wz, zero));
  EXPECT_EQ(bit_writer_position(&wz), 4u);

  // Too few planes, -32768, or more than 15 planes: nothing written.
  int16_t big[64] = {};
  big[5] = 8;
  BitWriter wr;
  EXPECT_FALSE(write_coefficients(&wr, big, 3));
  EXPECT_FALSE(write_coefficients(&wr, big, 16));
  big[6] = INT16_MIN;
  EXPECT_EQ(coefficient_planes(big), -1);
  EXPECT_FALSE(write_coefficients(&wr, big));
  EXPECT_EQ(bit_writer_position(&wr), 0u);
}

// A random residue block: `count` non-zero values below 2^bits in magnitude (bits up to 8,
// where -128 may appear).
void random_residue(std::mt19937& rng, int8_t res[64], int count, int bits) {
  std::memset(res, 0, 64);
  for (int i = 0; i < count; ++i) {
    const int32_t mag = int32_t(rng() % (1u << bits));
    res[rng() % 64] = int8_t(rng() & 1 ? -mag : (mag > 127 ? -128 : mag));
  }
}

TEST(RoundTrip, ResiduesManyRandomBlocks) {
  std::mt19937 rng(3);
  int exact = 0, truncated = 0;
  for (int iter = 0; iter < 20000; ++iter) {
    int8_t res[64];
    random_residue(rng, res, iter % 9 == 0 ? 64 : int(rng() % 24), 1 + int(rng() % 8));
    const int need = residue_planes(res);
    ASSERT_GE(need, 0);
    ASSERT_LE(need, 7);
    int t = kAutoPlanes;
    if (iter % 3 == 0) t = need + int(rng() % (8 - need));
    const uint32_t events = residue_events(res);
    // Limits around the number of events, and some at random.
    uint32_t limit;
    switch (iter % 4) {
      case 0: limit = 127; break;
      case 1: limit = events == 0 ? 0 : std::min<uint32_t>(events - 1, 127); break;  // just fits
      case 2: limit = events >= 2 ? std::min<uint32_t>(events - 2, 127) : 0; break;  // one short
      default: limit = rng() % 128; break;
    }

    BitWriter w;
    put_field(&w, rng() & 0x7, 3);
    const uint64_t start = bit_writer_position(&w);
    int8_t decoded[64];
    ASSERT_TRUE(write_residue(&w, res, t, limit, decoded));
    const uint64_t written = bit_writer_position(&w) - start;
    std::vector<uint8_t> data = finish_with_tail(&w, uint32_t(rng()));

    uint8_t pred[64];
    for (auto& p : pred) p = uint8_t(rng());
    BitReader r;
    bit_reader_init(&r, data.data(), data.size());
    read_bits(&r, 3);
    uint8_t dst[16 * 8];
    read_residue(&r, limit, pred, dst, 16);
    ASSERT_EQ(consumed_bits(r) - 3, written) << "iter " << iter;

    const bool whole = events <= limit + 1;
    (whole ? exact : truncated) += 1;
    for (int k = 0; k < 64; ++k) {
      const uint8_t got = dst[16 * (k / 8) + k % 8];
      ASSERT_EQ(got, uint8_t(pred[k] + decoded[k])) << "iter " << iter << " k " << k;
      if (whole) {
        ASSERT_EQ(decoded[k], res[k]) << "iter " << iter << " k " << k;
      }
    }
  }
  EXPECT_GT(exact, 1000);
  EXPECT_GT(truncated, 1000);
}

TEST(RoundTrip, ResidueEveryByteDifference) {
  // Every difference 0..255 (as int8) is codable: eight of them per block (at most 64 events,
  // within limit 127), spread over the block.
  for (int base = 0; base < 256; base += 8) {
    int8_t res[64] = {};
    for (int i = 0; i < 8; ++i) res[9 * i % 64] = int8_t(uint8_t(base + i));
    ASSERT_LE(residue_events(res), 128u);
    BitWriter w;
    ASSERT_TRUE(write_residue(&w, res, kAutoPlanes, 127));
    std::vector<uint8_t> data = bit_writer_finish(&w);
    uint8_t pred[64], dst[64];
    for (int k = 0; k < 64; ++k) pred[k] = uint8_t(k * 37);
    BitReader r;
    bit_reader_init(&r, data.data(), data.size());
    read_residue(&r, 127, pred, dst, 8);
    for (int k = 0; k < 64; ++k) {
      ASSERT_EQ(dst[k], uint8_t(pred[k] + res[k])) << base << " " << k;
    }
  }
}

TEST(RoundTrip, ResidueRejections) {
  int8_t res[64] = {};
  res[3] = 5;  // needs t = 2
  EXPECT_EQ(residue_planes(res), 2);
  EXPECT_EQ(residue_events(res), 2u);
  BitWriter w;
  EXPECT_FALSE(write_residue(&w, res, 1, 127));
  EXPECT_FALSE(write_residue(&w, res, 8, 127));
  EXPECT_EQ(bit_writer_position(&w), 0u);
  res[3] = -128;
  EXPECT_EQ(residue_planes(res), 7);
  EXPECT_EQ(residue_events(res), 1u);
}

}  // namespace
