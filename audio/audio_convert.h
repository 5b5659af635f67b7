// Spectrum-domain samples to 16-bit PCM: round(x × scale) to the nearest, ties to even (the
// product exact in double), clamped to −32768 .. 32767. Mono writes out[k] from ch0[k]; stereo
// (ch1 not null) interleaves out[2k] from ch0[k] and out[2k + 1] from ch1[k]. n is a multiple
// of 8. Every input is finite (the decoder's values are bounded far below infinity).
//
// audio_to_pcm_avx2 (x86 builds with GCC or Clang, for processors with AVX2) converts four
// values a step instead of two, with the same operations in each lane.
//
// audio_to_pcm is the routine the decoder calls: the SSE2 version where the build has SSE2,
// else the plain one; both give the same bits (tested on random input).
#pragma once
#include <cstdint>

void audio_to_pcm_plain(const float* ch0, const float* ch1, uint32_t n, double scale, int16_t* out);
#if defined(__SSE2__)
#define AUDIO_HAVE_SSE2 1
void audio_to_pcm_sse2(const float* ch0, const float* ch1, uint32_t n, double scale, int16_t* out);
#if (defined(__i386__) || defined(__x86_64__)) && (defined(__GNUC__) || defined(__clang__))
#define AUDIO_HAVE_AVX2 1
void audio_to_pcm_avx2(const float* ch0, const float* ch1, uint32_t n, double scale, int16_t* out);
#endif
#endif

inline void audio_to_pcm(const float* ch0, const float* ch1, uint32_t n, double scale, int16_t* out) {
#if defined(AUDIO_HAVE_SSE2)
  audio_to_pcm_sse2(ch0, ch1, n, scale, out);
#else
  audio_to_pcm_plain(ch0, ch1, n, scale, out);
#endif
}
