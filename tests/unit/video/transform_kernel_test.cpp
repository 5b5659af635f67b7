// The kernels behind the fast inverse transforms (SSE2, and AVX2 where the processor has it),
// each chosen through the instruction-set limit and compared with the plain forms.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "base/cpu.h"
#include "video/transform.h"

namespace {

// Random blocks of every shape the transform meets: full, one column, one row, sparse, DC only;
// small values and values of any 16-bit size with random factors (the products wrap).
void expect_table_matches_plain(const IdctFunctions* f, uint32_t seed) {
  std::mt19937 rng(seed);
  for (int iter = 0; iter < 6000; ++iter) {
    int16_t block[64] = {};
    int32_t quant[64];
    const int kind = iter % 5;
    for (int k = 0; k < 64; ++k) {
      const bool on = kind == 0 || (kind == 1 && k % 8 == 0) || (kind == 2 && k < 8) ||
                      (kind == 3 && rng() % 8 == 0) || (kind == 4 && k == 0);
      if (on) block[k] = int16_t(iter % 2 ? rng() : int(rng() % 512) - 256);
      quant[k] = iter % 3 == 0 ? int32_t(rng()) : iter % 3 == 1 ? int32_t(rng() % 200000)
                                                               : InterQuant[rng() % 16][k];
    }
    uint8_t pred[64];
    for (uint8_t& v : pred) v = uint8_t(rng());
    const ptrdiff_t stride = 40;
    // Blocks placed off alignment, with the bytes around them checked as well.
    std::vector<uint8_t> a(18 * 40, 0x5a), b(18 * 40, 0x5a);
    f->put(block, quant, a.data() + 3, stride);
    idct_put_plain(block, quant, b.data() + 3, stride);
    f->add(block, quant, pred, a.data() + 13, stride);
    idct_add_plain(block, quant, pred, b.data() + 13, stride);
    ASSERT_EQ(a, b) << "put / add, iteration " << iter;
    f->put_scaled(block, quant, a.data() + 1 + 40, stride);
    idct_put_scaled_plain(block, quant, b.data() + 1 + 40, stride);
    ASSERT_EQ(a, b) << "scaled, iteration " << iter;
  }
}

TEST(TransformKernel, EachLevelMatchesThePlainForms) {
  for (uint32_t limit : {kCpuSse2, kCpuAvx2}) {
    cpu_set_limit(limit);
    IdctFunctions f;
    idct_fill(&f, cpu_level());
    const uint32_t kernel = idct_kernel_of(&f);
    // The kernel follows the limit: AVX2 only when both the limit and the processor allow it.
#if defined(KORVA_VIDEO_AVX2)
    EXPECT_EQ(kernel, cpu_level() >= kCpuAvx2 ? uint32_t(kCpuAvx2) : uint32_t(kCpuSse2));
#elif defined(__SSE2__)
    EXPECT_EQ(kernel, uint32_t(kCpuSse2));
#else
    EXPECT_EQ(kernel, uint32_t(kCpuPlain));
#endif
    expect_table_matches_plain(&f, 91 + limit);
  }
  cpu_set_limit(kCpuAvx2);
}

#if defined(KORVA_VIDEO_AVX2)
// The AVX2 kernel's raw samples against the plain form, blocks of extreme values included.
TEST(TransformKernel, AvxKernelOnExtremeBlocks) {
  if (cpu_detected_level() < kCpuAvx2) GTEST_SKIP() << "no AVX2 here";
  std::mt19937 rng(7);
  for (int iter = 0; iter < 4000; ++iter) {
    int16_t block[64];
    int32_t quant[64];
    for (int k = 0; k < 64; ++k) {
      block[k] = int16_t(iter % 4 == 0 ? (rng() % 2 ? 32767 : -32768) : int(rng()));
      quant[k] = iter % 4 == 1 ? INT32_MIN + int32_t(rng() % 3) : int32_t(rng());
    }
    uint8_t want[64], got[64];
    idct_samples_avx2(block, quant, got);
    idct_put_plain(block, quant, want, 8);
    ASSERT_EQ(0, std::memcmp(want, got, 64)) << iter;
  }
}
#endif

}  // namespace
