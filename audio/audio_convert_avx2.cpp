// The AVX2 forms of the decoder's functions: the PCM conversion (four values a step) here, the
// transforms' AVX2 splitting stages in audio_transform.cpp; audio_init_avx2 puts them into a
// decoder's table over the SSE2 ones.
#include "audio/audio_convert.h"

#include "audio/audio_decoder.h"
#include "audio/audio_transform.h"

#if defined(AUDIO_HAVE_AVX2)
#include <immintrin.h>

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

bool audio_init_avx2(AudioFunctions* f) {
#if defined(AUDIO_HAVE_TRANSFORM_AVX2)
  f->rdft = audio_rdft_avx2;
  f->dct = audio_dct_avx2;
#endif
  f->to_pcm = audio_to_pcm_avx2;
  return true;
}

#else

bool audio_init_avx2(AudioFunctions*) { return false; }

#endif
