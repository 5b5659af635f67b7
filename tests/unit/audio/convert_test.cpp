// The SSE2 and AVX2 conversions to 16 bits against the plain one, bit for bit, and all against the
// rule on the cases that matter (ties, clamping).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "audio/audio_convert.h"
#include "base/cpu.h"

TEST(AudioConvert, RoundsHalfToEvenAndClamps) {
  // scale 1/16 is exact: these values land on ties and beyond the 16-bit range.
  const float in[16] = {40, 56, -40, -56, 8, 24, -24, 524280, -524296, 8388607, -8388607, 1e30f, -1e30f, 0, -0.0f, 17};
  const int16_t want[16] = {2, 4, -2, -4, 0, 2, -2, 32767, -32768, 32767, -32768, 32767, -32768, 0, 0, 1};
  std::vector<int16_t> out(16);
  audio_to_pcm_plain(in, nullptr, 16, 0.0625, out.data());
  EXPECT_EQ(out, std::vector<int16_t>(want, want + 16));
  audio_to_pcm(in, nullptr, 16, 0.0625, out.data());
  EXPECT_EQ(out, std::vector<int16_t>(want, want + 16));
}

TEST(AudioConvert, FastPathMatchesPlainOnRandomInput) {
#if defined(AUDIO_HAVE_SSE2)
  std::mt19937 rng(31);
  std::uniform_real_distribution<float> wide(-2e6f, 2e6f), narrow(-40000.0f, 40000.0f);
  const double scales[] = {2 / std::sqrt(512.0), 2 / std::sqrt(2048.0), 1.0 / 32, 0.0625};
  for (double scale : scales) {
    for (uint32_t n = 8; n <= 4096; n *= 2) {
      std::vector<float> a(n), b(n);
      for (uint32_t i = 0; i < n; ++i) {
        a[i] = (i & 1) ? wide(rng) : narrow(rng);
        b[i] = (i % 3) ? float(std::nearbyint(narrow(rng)) + 0.5) / float(scale) : narrow(rng) / float(scale);
      }
      for (int stereo = 0; stereo < 2; ++stereo) {
        const size_t count = size_t(n) * (stereo ? 2 : 1);
        std::vector<int16_t> p(count + 8, 0x5555), f(count + 8, 0x5555);  // guard values after
        audio_to_pcm_plain(a.data(), stereo ? b.data() : nullptr, n, float(scale), p.data());
        audio_to_pcm_sse2(a.data(), stereo ? b.data() : nullptr, n, float(scale), f.data());
        ASSERT_EQ(p, f) << "n=" << n << " stereo=" << stereo << " scale=" << scale;
        for (size_t i = count; i < count + 8; ++i) ASSERT_EQ(f[i], 0x5555);
#if defined(AUDIO_HAVE_AVX2)
        if (cpu_detected_level() >= kCpuAvx2) {
          std::vector<int16_t> v(count + 8, 0x5555);
          audio_to_pcm_avx2(a.data(), stereo ? b.data() : nullptr, n, float(scale), v.data());
          ASSERT_EQ(p, v) << "avx2 n=" << n << " stereo=" << stereo << " scale=" << scale;
        }
#endif
      }
    }
  }
#else
  GTEST_SKIP() << "no SSE2 in this build";
#endif
}
