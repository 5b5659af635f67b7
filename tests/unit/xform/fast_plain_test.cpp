// The readers against their plain forms: the same blocks, the same bits consumed and the same
// reader state (bits, count, next, overrun), block after block, on arbitrary data of every
// length (so that blocks run into and past the end of the data) and on written blocks cut short.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "base/cpu.h"
#include "encode/video_transform_writer.h"
#include "video/transform.h"
#include "video/video_decoder.h"
#include "xform_util.h"

namespace {

// Random bytes whose bits are 1 with probability about `ones` / 8.
std::vector<uint8_t> random_data(std::mt19937& rng, size_t size, uint32_t ones) {
  std::vector<uint8_t> data(size);
  data.reserve(1);  // a real address even when empty, as the decoder always passes
  for (uint8_t& b : data) {
    uint32_t v = 0;
    for (int i = 0; i < 8; ++i) v |= uint32_t(rng() % 8 < ones) << i;
    b = uint8_t(v);
  }
  return data;
}

void expect_same_reader(const BitReader& a, const BitReader& b, int block) {
  EXPECT_EQ(a.next, b.next) << "block " << block;
  EXPECT_EQ(a.bits, b.bits) << "block " << block;
  EXPECT_EQ(a.count, b.count) << "block " << block;
  EXPECT_EQ(a.overrun, b.overrun) << "block " << block;
}

// Reads coefficient blocks with both forms from the same data until the data is used up (or
// `blocks` blocks), comparing after each block.
void compare_coefficients(const std::vector<uint8_t>& data, uint32_t skip, int blocks) {
  BitReader fast, plain;
  bit_reader_init(&fast, data.data(), data.size());
  read_bits(&fast, skip);
  plain = fast;
  for (int b = 0; b < blocks; ++b) {
    int16_t x[64], y[64];
    std::memset(x, 0x5A, sizeof(x));
    std::memset(y, 0x5A, sizeof(y));
    read_coefficients(&fast, x);
    read_coefficients_plain(&plain, y);
    ASSERT_EQ(std::memcmp(x, y, sizeof(x)), 0) << "block " << b;
    expect_same_reader(fast, plain, b);
    if (plain.overrun || ::testing::Test::HasFailure()) return;
  }
}

void compare_residues(std::mt19937& rng, const std::vector<uint8_t>& data, uint32_t skip,
                      int blocks) {
  BitReader fast, plain;
  bit_reader_init(&fast, data.data(), data.size());
  read_bits(&fast, skip);
  plain = fast;
  for (int b = 0; b < blocks; ++b) {
    uint8_t pred[64];
    for (uint8_t& v : pred) v = uint8_t(rng());
    const uint32_t limit = b % 5 == 0 ? 127 : rng() % 128;
    const ptrdiff_t stride = 8 + ptrdiff_t(rng() % 3) * 8;
    std::vector<uint8_t> x(size_t(stride) * 8, 0xEE), y(size_t(stride) * 8, 0xEE);
    read_residue(&fast, limit, pred, x.data(), stride);
    read_residue_plain(&plain, limit, pred, y.data(), stride);
    ASSERT_EQ(x, y) << "block " << b << " limit " << limit;
    expect_same_reader(fast, plain, b);
    if (plain.overrun || ::testing::Test::HasFailure()) return;
  }
}

TEST(FastPlain, CoefficientsOnArbitraryData) {
  std::mt19937 rng(101);
  for (int iter = 0; iter < 4000; ++iter) {
    const uint32_t ones = 1 + uint32_t(iter % 7);  // from mostly zeros to mostly ones
    const size_t size = iter % 4 == 0 ? rng() % 16 : rng() % 900;
    std::vector<uint8_t> data = random_data(rng, size, ones);
    compare_coefficients(data, rng() % 32, 64);
    if (HasFailure()) return;
  }
}

TEST(FastPlain, ResiduesOnArbitraryData) {
  std::mt19937 rng(202);
  for (int iter = 0; iter < 4000; ++iter) {
    const uint32_t ones = 1 + uint32_t(iter % 7);
    const size_t size = iter % 4 == 0 ? rng() % 16 : rng() % 600;
    std::vector<uint8_t> data = random_data(rng, size, ones);
    compare_residues(rng, data, rng() % 32, 64);
    if (HasFailure()) return;
  }
}

// Written blocks (dense and sparse, up to 15 planes) cut at every kind of length: the last
// blocks run into the end of the data, where the fast form hands over to the plain one.
TEST(FastPlain, WrittenCoefficientsCutShort) {
  std::mt19937 rng(303);
  for (int iter = 0; iter < 600; ++iter) {
    BitWriter w;
    const int blocks = 1 + int(rng() % 12);
    for (int b = 0; b < blocks; ++b) {
      int16_t block[64] = {};
      const int count = b % 3 == 0 ? 63 : int(rng() % 20);
      const int bits = 1 + int(rng() % 15);
      for (int i = 0; i < count; ++i) {
        const int32_t mag = int32_t(rng() % (1u << bits));
        block[1 + rng() % 63] = int16_t(rng() & 1 ? -mag : mag);
      }
      ASSERT_TRUE(write_coefficients(&w, block));
    }
    std::vector<uint8_t> data = bit_writer_finish(&w);
    const size_t cut = data.empty() ? 0 : rng() % (data.size() + 1);
    data.resize(iter % 2 == 0 ? cut : data.size());
    data.reserve(1);
    compare_coefficients(data, 0, blocks + 2);
    if (HasFailure()) return;
  }
}

TEST(FastPlain, WrittenResiduesCutShort) {
  std::mt19937 rng(404);
  for (int iter = 0; iter < 600; ++iter) {
    BitWriter w;
    const int blocks = 1 + int(rng() % 12);
    for (int b = 0; b < blocks; ++b) {
      int8_t res[64] = {};
      const int count = b % 3 == 0 ? 64 : int(rng() % 20);
      for (int i = 0; i < count; ++i) res[rng() % 64] = int8_t(rng());
      ASSERT_TRUE(write_residue(&w, res, kAutoPlanes, 127));
    }
    std::vector<uint8_t> data = bit_writer_finish(&w);
    const size_t cut = data.empty() ? 0 : rng() % (data.size() + 1);
    data.resize(iter % 2 == 0 ? cut : data.size());
    data.reserve(1);
    compare_residues(rng, data, 0, blocks + 2);
    if (HasFailure()) return;
  }
}

}  // namespace

namespace {

// The three transforms against their plain forms on random blocks: small values, values of any
// 16-bit size with random factors (products wrap), and blocks with only some rows or columns
// set (where the plain form takes its shortcuts).
TEST(FastPlain, TransformsOnRandomBlocks) {
  std::mt19937 rng(505);
  for (int iter = 0; iter < 20000; ++iter) {
    int16_t block[64] = {};
    int32_t quant[64];
    const int kind = iter % 5;
    for (int k = 0; k < 64; ++k) {
      const bool on = kind == 0 || (kind == 1 && k % 8 == 0) || (kind == 2 && k < 8) ||
                      (kind == 3 && rng() % 8 == 0) || (kind == 4 && k == 0);
      if (on) block[k] = int16_t(iter % 2 ? rng() : int(rng() % 512) - 256);
      quant[k] = iter % 3 == 0 ? int32_t(rng()) : int32_t(rng() % 200000);
    }
    if (iter % 7 == 0) quant[0] = int32_t(IntraQuant[iter % 16][0]);
    uint8_t pred[64];
    for (uint8_t& v : pred) v = uint8_t(rng());
    const ptrdiff_t stride = 24;
    std::vector<uint8_t> a(16 * 24, 0x11), b(16 * 24, 0x11);
    idct_put(block, quant, a.data(), stride);
    idct_put_plain(block, quant, b.data(), stride);
    ASSERT_EQ(a, b) << "put, iteration " << iter;
    idct_add(block, quant, pred, a.data() + 8, stride);
    idct_add_plain(block, quant, pred, b.data() + 8, stride);
    ASSERT_EQ(a, b) << "add, iteration " << iter;
    std::vector<uint8_t> c(16 * 24, 0x22), d(16 * 24, 0x22);
    idct_put_scaled(block, quant, c.data(), stride);
    idct_put_scaled_plain(block, quant, d.data(), stride);
    ASSERT_EQ(c, d) << "scaled, iteration " << iter;
  }
}

// A decoder's table of transforms follows the instruction-set level it is filled for: the
// plain forms at plain, the fast forms from sse2 up where the build has them (on the AVX2 kernel
// at avx2 where the build has that); a new limit applies to tables filled afterwards.
TEST(FastPlain, TransformTableFollowsTheLimit) {
  for (uint32_t limit : {kCpuAvx2, kCpuPlain, kCpuSse2, kCpuPlain, kCpuAvx2}) {
    cpu_set_limit(limit);
#if defined(__SSE2__)
    const bool fast = cpu_level() >= kCpuSse2;
#else
    const bool fast = false;
#endif
    IdctFunctions f;
    idct_fill(&f, cpu_level());
    EXPECT_EQ(f.put == idct_put_plain, !fast) << cpu_level_name(limit);
    EXPECT_EQ(f.put_scaled == idct_put_scaled_plain, !fast) << cpu_level_name(limit);
    EXPECT_EQ(f.add == idct_add_plain, !fast) << cpu_level_name(limit);
    if (fast && cpu_level() == kCpuSse2) {
      EXPECT_TRUE(f.put == idct_put && f.put_scaled == idct_put_scaled && f.add == idct_add);
    }
    // A FramePlanes takes its table when its sizes are set.
    VideoFrameSizes sizes;
    ASSERT_TRUE(video_frame_sizes(16, 16, &sizes));
    FramePlanes planes{};
    frame_planes_set_sizes(&planes, &sizes);
    EXPECT_TRUE(planes.idct.put == f.put && planes.idct.add == f.add);
  }
  cpu_set_limit(kCpuAvx2);
}

}  // namespace
