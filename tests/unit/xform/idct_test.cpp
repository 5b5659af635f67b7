// The inverse transform: edge cases of the format and the fast transform against a plain
// reference (no shortcuts, 64-bit arithmetic truncated to 32 bits after every operation).
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "video/transform.h"

namespace {

// ---- Reference ------------------------------------------------------------------------------

int32_t w32(int64_t v) { return int32_t(uint32_t(uint64_t(v))); }  // wrap to 32 bits
int32_t ref_mul(int32_t x, int32_t k) { return w32(int64_t(x) * k) >> 11; }

void ref_idct8(const int32_t x[8], int32_t out[8]) {
  int32_t a = w32(int64_t(x[0]) + x[4]);
  int32_t b = w32(int64_t(x[0]) - x[4]);
  int32_t g = w32(int64_t(x[2]) + x[6]);
  int32_t d = w32(int64_t(ref_mul(w32(int64_t(x[2]) - x[6]), 2896)) - g);
  int32_t e0 = w32(int64_t(a) + g), e3 = w32(int64_t(a) - g);
  int32_t e1 = w32(int64_t(b) + d), e2 = w32(int64_t(b) - d);
  int32_t z13 = w32(int64_t(x[5]) + x[3]);
  int32_t z10 = w32(int64_t(x[5]) - x[3]);
  int32_t z11 = w32(int64_t(x[1]) + x[7]);
  int32_t z12 = w32(int64_t(x[1]) - x[7]);
  int32_t o7 = w32(int64_t(z11) + z13);
  int32_t o11 = ref_mul(w32(int64_t(z11) - z13), 2896);
  int32_t z5 = ref_mul(w32(int64_t(z10) + z12), 3784);
  int32_t o10 = w32(int64_t(ref_mul(z12, 2217)) - z5);
  int32_t o12 = w32(int64_t(ref_mul(z10, -5352)) + z5);
  int32_t o6 = w32(int64_t(o12) - o7);
  int32_t o5 = w32(int64_t(o11) - o6);
  int32_t o4 = w32(int64_t(o10) + o5);
  out[0] = w32(int64_t(e0) + o7);
  out[1] = w32(int64_t(e1) + o6);
  out[2] = w32(int64_t(e2) + o5);
  out[3] = w32(int64_t(e3) - o4);
  out[4] = w32(int64_t(e3) + o4);
  out[5] = w32(int64_t(e2) - o5);
  out[6] = w32(int64_t(e1) - o6);
  out[7] = w32(int64_t(e0) - o7);
}

// Descaled values (before taking the low 8 bits), row by row.
void ref_idct(const int16_t block[64], const int32_t quant[64], int32_t out[64]) {
  int32_t mid[64];
  for (int u = 0; u < 8; ++u) {
    int32_t x[8], o[8];
    for (int v = 0; v < 8; ++v) x[v] = w32(int64_t(block[8 * v + u]) * quant[8 * v + u]) >> 11;
    ref_idct8(x, o);
    for (int v = 0; v < 8; ++v) mid[8 * v + u] = o[v];
  }
  for (int v = 0; v < 8; ++v) {
    int32_t t[8];
    ref_idct8(mid + 8 * v, t);
    for (int u = 0; u < 8; ++u) out[8 * v + u] = w32(int64_t(t[u]) + 127) >> 8;
  }
}

// ---- Edge cases -----------------------------------------------------------------------------

void flat_block(int16_t block[64], int16_t dc) {
  std::memset(block, 0, 64 * sizeof(int16_t));
  block[0] = dc;
}

TEST(Idct, FlatDc1024Is128AndDc16Is2) {
  int16_t block[64];
  uint8_t out[64];
  flat_block(block, 1024);
  idct_put(block, IntraQuant[0], out, 8);
  for (int k = 0; k < 64; ++k) EXPECT_EQ(out[k], 128) << k;
  flat_block(block, 16);
  idct_put(block, IntraQuant[0], out, 8);
  for (int k = 0; k < 64; ++k) EXPECT_EQ(out[k], 2) << k;
}

TEST(Idct, Intra256StoresZero) {
  // DC 2048: 2048 × 65536 >> 11 = 65536; (65536 + 127) >> 8 = 256 → low 8 bits 0.
  int16_t block[64];
  uint8_t out[64];
  flat_block(block, 2048);
  int32_t ref[64];
  ref_idct(block, IntraQuant[0], ref);
  EXPECT_EQ(ref[0], 256);
  idct_put(block, IntraQuant[0], out, 8);
  for (int k = 0; k < 64; ++k) EXPECT_EQ(out[k], 0) << k;
}

TEST(Idct, Inter250Plus10Stores4) {
  // DC 80: 80 × 65536 >> 11 = 2560; (2560 + 127) >> 8 = 10; 250 + 10 = 260 → 4.
  int16_t block[64];
  uint8_t pred[64], out[64];
  flat_block(block, 80);
  std::memset(pred, 250, 64);
  idct_add(block, InterQuant[0], pred, out, 8);
  for (int k = 0; k < 64; ++k) EXPECT_EQ(out[k], 4) << k;
}

TEST(Idct, PutHonoursStrideAndLeavesTheRest) {
  std::mt19937 rng(3);
  int16_t block[64];
  for (auto& c : block) c = int16_t(int(rng() % 201) - 100);
  uint8_t plain[64];
  idct_put(block, IntraQuant[4], plain, 8);
  uint8_t area[40 * 10];
  std::memset(area, 0xAB, sizeof(area));
  idct_put(block, IntraQuant[4], area + 40 + 3, 40);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 40; ++x) {
      const bool inside = y >= 1 && y < 9 && x >= 3 && x < 11;
      EXPECT_EQ(area[40 * y + x], inside ? plain[8 * (y - 1) + x - 3] : 0xAB) << y << "," << x;
    }
}

// ---- Random blocks against the reference ----------------------------------------------------

enum class Kind { kSparse, kDense, kHuge, kColumnsOnly };

void random_block(std::mt19937& rng, Kind kind, int16_t block[64]) {
  std::memset(block, 0, 64 * sizeof(int16_t));
  switch (kind) {
    case Kind::kSparse: {
      block[0] = int16_t(rng() % 2048);
      const int n = int(rng() % 6);
      for (int i = 0; i < n; ++i) block[rng() % 64] = int16_t(int(rng() % 61) - 30);
      break;
    }
    case Kind::kDense:
      for (int k = 0; k < 64; ++k) block[k] = int16_t(int(rng() % 513) - 256);
      break;
    case Kind::kHuge:  // full 16-bit range: products and sums wrap
      for (int k = 0; k < 64; ++k) block[k] = int16_t(uint16_t(rng()));
      break;
    case Kind::kColumnsOnly:  // only row 0 set: every column takes the shortcut
      for (int u = 0; u < 8; ++u) block[u] = int16_t(uint16_t(rng()));
      break;
  }
}

TEST(Idct, FastEqualsReferenceOnRandomBlocks) {
  std::mt19937 rng(2024);
  const Kind kinds[] = {Kind::kSparse, Kind::kDense, Kind::kHuge, Kind::kColumnsOnly};
  for (int iter = 0; iter < 4000; ++iter) {
    const Kind kind = kinds[iter % 4];
    int16_t block[64];
    random_block(rng, kind, block);
    const int q = int(rng() % 16);
    const int32_t* quant = (iter / 4) % 2 ? InterQuant[q] : IntraQuant[q];
    int32_t ref[64];
    ref_idct(block, quant, ref);

    uint8_t put[64];
    idct_put(block, quant, put, 8);
    uint8_t pred[64], add[64];
    for (auto& p : pred) p = uint8_t(rng());
    idct_add(block, quant, pred, add, 8);
    for (int k = 0; k < 64; ++k) {
      ASSERT_EQ(put[k], uint8_t(ref[k])) << "iter " << iter << " k " << k;
      ASSERT_EQ(add[k], uint8_t(pred[k] + ref[k])) << "iter " << iter << " k " << k;
    }
  }
}

TEST(Idct, ExtremeValuesEqualReference) {
  const int16_t extremes[] = {INT16_MIN, INT16_MAX, -1, 1, 0};
  std::mt19937 rng(77);
  for (int iter = 0; iter < 500; ++iter) {
    int16_t block[64];
    for (auto& c : block) c = extremes[rng() % 5];
    const int32_t* quant = IntraQuant[15];
    int32_t ref[64];
    ref_idct(block, quant, ref);
    uint8_t put[64];
    idct_put(block, quant, put, 8);
    for (int k = 0; k < 64; ++k) ASSERT_EQ(put[k], uint8_t(ref[k])) << k;
  }
}

TEST(Idct, ScaledEqualsPutUpsampled2x2) {
  std::mt19937 rng(8);
  for (int iter = 0; iter < 500; ++iter) {
    int16_t block[64];
    random_block(rng, iter % 2 ? Kind::kDense : Kind::kSparse, block);
    const int32_t* quant = IntraQuant[rng() % 16];
    uint8_t put[64];
    idct_put(block, quant, put, 8);
    uint8_t area[20 * 18];
    std::memset(area, 0x5A, sizeof(area));
    idct_put_scaled(block, quant, area + 20 + 2, 20);
    for (int y = 0; y < 18; ++y)
      for (int x = 0; x < 20; ++x) {
        const bool inside = y >= 1 && y < 17 && x >= 2 && x < 18;
        const uint8_t want = inside ? put[8 * ((y - 1) / 2) + (x - 2) / 2] : 0x5A;
        ASSERT_EQ(area[20 * y + x], want) << y << "," << x;
      }
  }
}

}  // namespace
