// The audio decoder's two transforms: a real DFT and a cosine transform, in place, on
// single-precision arrays whose length n is a power of two (at least 4).
//
// Both rest on one complex FFT of n / 2 points (split in one half and two quarters per stage,
// outputs left in bit-reversed order and permuted at the end) plus short real pre- and
// post-steps. Their tables are built lazily by the transforms in arrays the caller owns:
//
//   sizes  int array of at least audio_transform_sizes_entries(n) entries; sizes[0] is the
//          number of twiddle entries built, sizes[1] the number of cosine entries; the rest
//          is scratch for the permutation. Set sizes[0] = 0 before the first call.
//   table  float array of audio_rdft_table_entries(n) or audio_dct_table_entries(n) entries:
//          the twiddles first, the cosine table after them.
//
// A later call with a larger n rebuilds the tables in the same arrays (which must then be sized
// for the larger n); the same n builds nothing. No call allocates, none scales its output.
//
// Definitions (sums over j; R, I packed as a[2k] = R[k] for 0 ≤ k < n/2, a[2k+1] = I[k] for
// 0 < k < n/2, a[1] = R[n/2]):
//   audio_rdft, direction ≥ 0: R[k] = Σ x[j] cos(2πjk/n), I[k] = Σ x[j] sin(2πjk/n).
//   audio_rdft, direction < 0: a[k] = (R[0] + R[n/2] cos(πk)) / 2
//                                     + Σ_{j=1}^{n/2-1} (R[j] cos(2πjk/n) + I[j] sin(2πjk/n)).
//   audio_dct,  direction ≥ 0: C[k] = Σ_{j=0}^{n-1} a[j] cos(πj(k + 1/2)/n)  (a[0] weight 1).
//   audio_dct,  direction < 0: C[k] = Σ_{j=0}^{n-1} a[j] cos(π(j + 1/2)k/n).
// A forward audio_rdft followed by the inverse returns the input times n / 2.
#pragma once
#include <cstdint>

void audio_rdft(int n, int direction, float* a, int* sizes, float* table);
void audio_dct(int n, int direction, float* a, int* sizes, float* table);
// The same without SSE2 stages: the reference the SSE2 build is tested against (same bits).
void audio_rdft_plain(int n, int direction, float* a, int* sizes, float* table);
void audio_dct_plain(int n, int direction, float* a, int* sizes, float* table);
// The same with AVX2 splitting stages (x86 builds with GCC or Clang; for processors with AVX2),
// tested against the plain forms likewise.
#if defined(__SSE2__) && (defined(__i386__) || defined(__x86_64__)) && \
    (defined(__GNUC__) || defined(__clang__))
#define AUDIO_HAVE_TRANSFORM_AVX2 1
void audio_rdft_avx2(int n, int direction, float* a, int* sizes, float* table);
void audio_dct_avx2(int n, int direction, float* a, int* sizes, float* table);
#endif

// Array sizes for length n (a power of two, at least 4).
uint32_t audio_transform_sizes_entries(uint32_t n);  // 2 + round(sqrt(n / 2))
inline uint32_t audio_rdft_table_entries(uint32_t n) { return n / 2; }
inline uint32_t audio_dct_table_entries(uint32_t n) { return n * 5 / 4; }
