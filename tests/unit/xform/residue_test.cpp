// read_residue on hand-built bit strings: event limit, refinement, output modulo 256.
#include <gtest/gtest.h>

#include <random>

#include "video/transform.h"
#include "xform_util.h"

namespace {

int position_of(int j) {
  for (int k = 0; k < 64; ++k)
    if (kCoefficientOrder[k] == j) return k;
  return -1;
}

struct Result {
  uint8_t out[64];
  uint64_t bits;
};

// Runs read_residue over `w`'s bits followed by all-ones words, with a prediction of `pred`.
Result run(BitWriter* w, uint32_t limit, const uint8_t pred[64], ptrdiff_t stride = 8) {
  std::vector<uint8_t> data = finish_with_tail(w, 0xFFFFFFFFu);
  BitReader r;
  bit_reader_init(&r, data.data(), data.size());
  std::vector<uint8_t> dst(size_t(stride) * 8, 0xEE);
  read_residue(&r, limit, pred, dst.data(), stride);
  Result res;
  for (int k = 0; k < 64; ++k) res.out[k] = dst[size_t((k / 8) * stride + k % 8)];
  res.bits = consumed_bits(r);
  return res;
}

void ramp(uint8_t pred[64]) {
  for (int k = 0; k < 64; ++k) pred[k] = uint8_t(3 * k + 7);
}

TEST(Residue, T0Limit0StopsAfterOneEventMidQuad) {
  // t = 0; the 20-set at 4 is significant; index 4 deferred, index 5 significant with sign 1:
  // -1 is the first event, which reaches the limit 0: nothing more is read (the tail is all 1s,
  // which would make more values significant).
  BitWriter w;
  put_field(&w, 0, 3);
  put_bits(&w, "1 1 0 1");
  uint8_t pred[64];
  ramp(pred);
  Result r = run(&w, 0, pred);
  EXPECT_EQ(r.bits, 7u);
  for (int k = 0; k < 64; ++k)
    EXPECT_EQ(r.out[k], uint8_t(pred[k] - (k == position_of(5) ? 1 : 0))) << k;
}

TEST(Residue, AllZeroBitsReadOnePass) {
  // t = 0, four insignificant sets: 3 + 4 bits, output = prediction.
  BitWriter w;
  put_field(&w, 0, 3);
  put_bits(&w, "0000");
  uint8_t pred[64];
  ramp(pred);
  Result r = run(&w, 127, pred);
  EXPECT_EQ(r.bits, 7u);
  for (int k = 0; k < 64; ++k) EXPECT_EQ(r.out[k], pred[k]);
}

TEST(Residue, Limit127WithFewerEventsEndsNormally) {
  // t = 1. Plane 1: three 20-sets 0, quad at 0 significant: index 0 "0" sign "0" → +2 (event),
  // 1..3 deferred. Plane 0: refinement of index 0: 1 → 3 (event); singles 3, 2, 1 and the
  // three 20-sets: 0. Two events, far below the limit: the decode ends after the last plane.
  const char* plane1 = "0 0 0 1 0 0 1 1 1";
  const char* plane0 = "1 000 000";
  uint8_t pred[64];
  ramp(pred);
  {
    BitWriter w;
    put_field(&w, 1, 3);
    put_bits(&w, plane1);
    put_bits(&w, plane0);
    Result r = run(&w, 127, pred);
    EXPECT_EQ(r.bits, 3u + 9 + 7);
    for (int k = 0; k < 64; ++k) EXPECT_EQ(r.out[k], uint8_t(pred[k] + (k == 0 ? 3 : 0)));
  }
  // Limit 1: the refinement is event 2 = limit + 1, the last one decoded.
  {
    BitWriter w;
    put_field(&w, 1, 3);
    put_bits(&w, plane1);
    put_bits(&w, plane0);
    Result r = run(&w, 1, pred);
    EXPECT_EQ(r.bits, 3u + 9 + 1);
    EXPECT_EQ(r.out[0], uint8_t(pred[0] + 3));
  }
  // Limit 0: only the +2, in the middle of the quad.
  {
    BitWriter w;
    put_field(&w, 1, 3);
    put_bits(&w, plane1);
    put_bits(&w, plane0);
    Result r = run(&w, 0, pred);
    EXPECT_EQ(r.bits, 3u + 6);
    for (int k = 0; k < 64; ++k) EXPECT_EQ(r.out[k], uint8_t(pred[k] + (k == 0 ? 2 : 0)));
  }
}

TEST(Residue, RefinementFollowsTheSigned8BitValue) {
  // t = 7: index 0 becomes +128, which as a signed 8-bit number is -128; a refinement bit in
  // plane 6 then subtracts 64, giving 0x40. Limit 1 stops right after that refinement.
  BitWriter w;
  put_field(&w, 7, 3);
  put_bits(&w, "0 0 0 1 0 0 1 1 1");
  put_bits(&w, "1");
  uint8_t pred[64] = {};
  Result r = run(&w, 1, pred);
  EXPECT_EQ(r.bits, 3u + 9 + 1);
  EXPECT_EQ(r.out[0], 0x40);
  for (int k = 1; k < 64; ++k) EXPECT_EQ(r.out[k], 0);
}

TEST(Residue, OutputWrapsModulo256AndHonoursStride) {
  // t = 0: quad at 0 significant, index 0 +1, index 1 -1, indices 2, 3 deferred; prediction 255
  // at position 0 and 0 at position 1 give 0 and 255.
  BitWriter w;
  put_field(&w, 0, 3);
  put_bits(&w, "0 0 0 1 00 01 1 1");
  put_bits(&w, "");
  uint8_t pred[64] = {};
  pred[0] = 255;
  Result r = run(&w, 127, pred, 24);
  EXPECT_EQ(r.bits, 3u + 10);
  EXPECT_EQ(r.out[0], 0);
  EXPECT_EQ(r.out[1], 255);
  for (int k = 2; k < 64; ++k) EXPECT_EQ(r.out[k], 0) << k;
}

TEST(Residue, ArbitraryDataStaysInBounds) {
  std::mt19937 rng(9);
  for (int iter = 0; iter < 2000; ++iter) {
    std::vector<uint8_t> data(size_t(rng() % 96));
    const bool ones = iter % 3 == 0;
    for (auto& b : data) b = ones ? 0xFF : uint8_t(rng());
    BitReader r;
    // An exactly sized heap block (ASan sees any over-read); never a null pointer.
    static const uint8_t kNone = 0;
    bit_reader_init(&r, data.empty() ? &kNone : data.data(), data.size());
    uint8_t pred[64] = {}, dst[64];
    for (int b = 0; b < 4; ++b) read_residue(&r, rng() % 128, pred, dst, 8);
    EXPECT_LE(r.next, r.end + 4);
  }
}

}  // namespace
