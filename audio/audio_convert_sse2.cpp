// The SSE2 forms of the decoder's functions: the PCM conversion (two values a lane pair) here,
// the transforms in audio_transform.cpp; audio_init_sse2 puts them into a decoder's table.
#include "audio/audio_convert.h"

#include "audio/audio_bits.h"
#include "audio/audio_decoder.h"
#include "audio/audio_transform.h"

#if defined(AUDIO_HAVE_SSE2)
#include <emmintrin.h>

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

bool audio_init_sse2(AudioFunctions* f) {
  f->rdft = audio_rdft;
  f->dct = audio_dct;
  // The word-at-a-time coefficient reader goes with the SIMD forms (the plain one stays the
  // reference of the tests).
  f->coefficients = audio_decode_coefficients_fast;
  f->to_pcm = audio_to_pcm_sse2;
  return true;
}

#else

bool audio_init_sse2(AudioFunctions*) { return false; }

#endif
