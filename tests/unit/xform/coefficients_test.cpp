// read_coefficients on hand-built bit strings and on arbitrary (corrupt) data.
#include <gtest/gtest.h>

#include <random>

#include "video/transform.h"
#include "xform_util.h"

namespace {

// Block position of coding index j.
int position_of(int j) {
  for (int k = 0; k < 64; ++k)
    if (kCoefficientOrder[k] == j) return k;
  return -1;
}

void fill(int16_t block[64], int16_t v) {
  for (int k = 0; k < 64; ++k) block[k] = v;
}

TEST(Coefficients, ZeroPlanesReadsExactlyFourBits) {
  BitWriter w;
  put_field(&w, 0, 4);
  put_bits(&w, "1111 1111 1111");
  std::vector<uint8_t> data = finish_with_tail(&w, 0xFFFFFFFFu);
  BitReader r;
  bit_reader_init(&r, data.data(), data.size());
  int16_t block[64];
  fill(block, 77);
  block[0] = 1024;
  read_coefficients(&r, block);
  EXPECT_EQ(consumed_bits(r), 4u);
  EXPECT_EQ(block[0], 1024);  // the DC is the caller's
  for (int k = 1; k < 64; ++k) EXPECT_EQ(block[k], 0) << k;
}

TEST(Coefficients, OnePlaneGivesPlusMinusOne) {
  std::mt19937 rng(11);
  int nonzero = 0;
  for (int iter = 0; iter < 500; ++iter) {
    BitWriter w;
    put_field(&w, 1, 4);
    for (int i = 0; i < 200; ++i) write_bit(&w, rng() & 1);
    std::vector<uint8_t> data = bit_writer_finish(&w);
    BitReader r;
    bit_reader_init(&r, data.data(), data.size());
    int16_t block[64];
    read_coefficients(&r, block);
    EXPECT_FALSE(r.overrun);
    for (int k = 1; k < 64; ++k) {
      EXPECT_TRUE(block[k] == -1 || block[k] == 0 || block[k] == 1) << block[k];
      nonzero += block[k] != 0;
    }
  }
  EXPECT_GT(nonzero, 0);
}

TEST(Coefficients, SingleValueFieldsLeastSignificantFirst) {
  // n = 3: plane 2 (M = 4): the three 20-sets insignificant, single 1 significant with
  // r = 1 (2 bits, LSB first: "10") and sign 1: -(4 + 1) = -5. Singles 2 and 3 insignificant.
  // Planes 1 and 0: five live entries each, all 0 (the removed entry reads nothing).
  BitWriter w;
  put_field(&w, 3, 4);
  put_bits(&w, "000 1 10 1 00");
  put_bits(&w, "00000");
  put_bits(&w, "00000");
  const uint64_t bits = bit_writer_position(&w);
  EXPECT_EQ(bits, 23u);
  std::vector<uint8_t> data = finish_with_tail(&w, 0xFFFFFFFFu);
  BitReader r;
  bit_reader_init(&r, data.data(), data.size());
  int16_t block[64];
  read_coefficients(&r, block);
  EXPECT_EQ(consumed_bits(r), bits);
  for (int k = 1; k < 64; ++k) EXPECT_EQ(block[k], k == 1 ? -5 : 0) << k;
}

TEST(Coefficients, QuadOfFourOnesDefersFourSingles) {
  // n = 1: the 20-set at 4 is significant; its quad 4..7 reads four 1 bits (all deferred,
  // nothing written); then the 16-set at 8 reads its own bit (0); the other entries read 0.
  // In the last plane the deferred values stay 0.
  {
    BitWriter w;
    put_field(&w, 1, 4);
    put_bits(&w, "1 1111 0  0 0  0 0 0");
    const uint64_t bits = bit_writer_position(&w);
    std::vector<uint8_t> data = finish_with_tail(&w, 0xFFFFFFFFu);
    BitReader r;
    bit_reader_init(&r, data.data(), data.size());
    int16_t block[64];
    fill(block, 5);
    read_coefficients(&r, block);
    EXPECT_EQ(consumed_bits(r), bits);
    for (int k = 1; k < 64; ++k) EXPECT_EQ(block[k], 0) << k;
  }
  // n = 2: the same in plane 1; in plane 0 the list starts with the four singles at the front,
  // newest first (7, 6, 5, 4), then the 16-set at 8, the 20-sets at 24 and 44, singles 1 to 3.
  {
    BitWriter w;
    put_field(&w, 2, 4);
    put_bits(&w, "1 1111 0  0 0  0 0 0");
    // Plane 0 (p = 0: no r bits, just the sign): 7 → +1, 6 → -1, 5 stays 0, 4 → +1.
    put_bits(&w, "10 11 0 10  0 0 0  0 0 0");
    const uint64_t bits = bit_writer_position(&w);
    std::vector<uint8_t> data = finish_with_tail(&w, 0xFFFFFFFFu);
    BitReader r;
    bit_reader_init(&r, data.data(), data.size());
    int16_t block[64];
    read_coefficients(&r, block);
    EXPECT_EQ(consumed_bits(r), bits);
    for (int k = 1; k < 64; ++k) {
      int want = 0;
      if (k == position_of(7)) want = 1;
      if (k == position_of(6)) want = -1;
      if (k == position_of(4)) want = 1;
      EXPECT_EQ(block[k], want) << k;
    }
  }
}

TEST(Coefficients, SixteenSetSplitsIntoQuadsAtTheEnd) {
  // n = 1. 20-set at 4: 1; quad 4..7: "0 0" for 4 (sign +), then 5, 6, 7 deferred "1 1 1";
  // its 16-set at 8: 1 → quad at 8 (visited again at once): 1 → treat 8..11: 8 → "0 1" (−1),
  // 9, 10, 11 deferred. Then the 20-sets at 24 and 44: 0, singles 1..3: 0; then the appended
  // quads at 12, 16, 20: 0, 0, then 20 → 1 and 20..23: 20, 21, 22 deferred, 23 → "0 0" (+1).
  BitWriter w;
  put_field(&w, 1, 4);
  put_bits(&w, "1 00 1 1 1");
  put_bits(&w, "1 1 01 1 1 1");
  put_bits(&w, "0 0 0 0 0");
  put_bits(&w, "0 0 1 1 1 1 00");
  const uint64_t bits = bit_writer_position(&w);
  std::vector<uint8_t> data = finish_with_tail(&w, 0xFFFFFFFFu);
  BitReader r;
  bit_reader_init(&r, data.data(), data.size());
  int16_t block[64];
  read_coefficients(&r, block);
  EXPECT_EQ(consumed_bits(r), bits);
  for (int k = 1; k < 64; ++k) {
    int want = 0;
    if (k == position_of(4)) want = 1;
    if (k == position_of(8)) want = -1;
    if (k == position_of(23)) want = 1;
    EXPECT_EQ(block[k], want) << k;
  }
}

TEST(Coefficients, ArbitraryDataStaysInBounds) {
  // All-ones data, short data and random data: whatever the bits, the reader ends, stays in its
  // arrays (ASan and UBSan builds check) and reads zeros past the end.
  std::mt19937 rng(5);
  for (int iter = 0; iter < 2000; ++iter) {
    std::vector<uint8_t> data(size_t(rng() % 64));
    const bool ones = iter % 3 == 0;
    for (auto& b : data) b = ones ? 0xFF : uint8_t(rng());
    BitReader r;
    // An exactly sized heap block (ASan sees any over-read); never a null pointer.
    static const uint8_t kNone = 0;
    bit_reader_init(&r, data.empty() ? &kNone : data.data(), data.size());
    int16_t block[64];
    for (int b = 0; b < 4; ++b) read_coefficients(&r, block);
    EXPECT_LE(r.next, r.end + 4);
  }
}

}  // namespace
