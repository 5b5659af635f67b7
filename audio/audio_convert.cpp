#include "audio/audio_convert.h"

#include <algorithm>

#if defined(AUDIO_HAVE_AVX2)
#include <immintrin.h>
#elif defined(AUDIO_HAVE_SSE2)
#include <emmintrin.h>
#endif

namespace {

// Adding and subtracting 1.5 × 2^52 rounds a double of magnitude below 2^51 to an integer
// with the current (nearest-even) rounding.
inline int16_t to_pcm(float x, double scale) {
  const double p = std::min(std::max(double(x) * scale, -32768.0), 32767.0);
  const double magic = 6755399441055744.0;
  return int16_t(int32_t((p + magic) - magic));
}

}  // namespace

void audio_to_pcm_plain(const float* ch0, const float* ch1, uint32_t n, double scale, int16_t* out) {
  if (!ch1) {
    for (uint32_t k = 0; k < n; ++k) out[k] = to_pcm(ch0[k], scale);
    return;
  }
  for (uint32_t k = 0; k < n; ++k) {
    out[2 * k] = to_pcm(ch0[k], scale);
    out[2 * k + 1] = to_pcm(ch1[k], scale);
  }
}

#if defined(AUDIO_HAVE_SSE2)
namespace {

// Four values to four rounded 32-bit integers: widened, scaled (exact), clamped, converted
// with the current rounding (nearest even).
inline __m128i round4(const float* x, __m128d scale) {
  const __m128 v = _mm_loadu_ps(x);
  const __m128d lo = _mm_cvtps_pd(v);
  const __m128d hi = _mm_cvtps_pd(_mm_movehl_ps(v, v));
  const __m128d top = _mm_set1_pd(32767.0), bottom = _mm_set1_pd(-32768.0);
  const __m128d a = _mm_min_pd(_mm_max_pd(_mm_mul_pd(lo, scale), bottom), top);
  const __m128d b = _mm_min_pd(_mm_max_pd(_mm_mul_pd(hi, scale), bottom), top);
  return _mm_unpacklo_epi64(_mm_cvtpd_epi32(a), _mm_cvtpd_epi32(b));
}

}  // namespace

void audio_to_pcm_sse2(const float* ch0, const float* ch1, uint32_t n, double scale, int16_t* out) {
  const __m128d s = _mm_set1_pd(scale);
  if (!ch1) {
    for (uint32_t k = 0; k < n; k += 8) {
      const __m128i a = round4(ch0 + k, s), b = round4(ch0 + k + 4, s);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_packs_epi32(a, b));
    }
    return;
  }
  for (uint32_t k = 0; k < n; k += 4) {
    const __m128i l = round4(ch0 + k, s), r = round4(ch1 + k, s);
    const __m128i lo = _mm_unpacklo_epi32(l, r), hi = _mm_unpackhi_epi32(l, r);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k), _mm_packs_epi32(lo, hi));
  }
}
#endif

#if defined(AUDIO_HAVE_AVX2)
namespace {

#define AUDIO_AVX2 __attribute__((target("avx2")))

// round4 with the four values widened into one register.
AUDIO_AVX2 inline __m128i round4_avx2(const float* x, __m256d scale) {
  const __m256d v = _mm256_cvtps_pd(_mm_loadu_ps(x));
  const __m256d top = _mm256_set1_pd(32767.0), bottom = _mm256_set1_pd(-32768.0);
  return _mm256_cvtpd_epi32(_mm256_min_pd(_mm256_max_pd(_mm256_mul_pd(v, scale), bottom), top));
}

}  // namespace

AUDIO_AVX2 void audio_to_pcm_avx2(const float* ch0, const float* ch1, uint32_t n, double scale,
                                  int16_t* out) {
  const __m256d s = _mm256_set1_pd(scale);
  if (!ch1) {
    for (uint32_t k = 0; k < n; k += 8) {
      const __m128i a = round4_avx2(ch0 + k, s), b = round4_avx2(ch0 + k + 4, s);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_packs_epi32(a, b));
    }
    return;
  }
  for (uint32_t k = 0; k < n; k += 4) {
    const __m128i l = round4_avx2(ch0 + k, s), r = round4_avx2(ch1 + k, s);
    const __m128i lo = _mm_unpacklo_epi32(l, r), hi = _mm_unpackhi_epi32(l, r);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k), _mm_packs_epi32(lo, hi));
  }
}
#endif
