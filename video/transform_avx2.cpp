// The inverse transform's AVX2 kernel: the whole 8 × 8 block in eight vectors of eight 32-bit
// lanes. The column pass takes the block row by row (lane = column), a transpose turns it for
// the row pass, and a second transpose puts the samples back in row order. The arithmetic is the
// plain form's: 32-bit products keeping their low 32 bits (one multiply per lane here),
// arithmetic shifts, wrap-around sums; so the samples are equal bit for bit.
#include "video/transform_fast.h"

#if defined(KORVA_VIDEO_AVX2)
#include <immintrin.h>

#include <cstring>

#define KORVA_AVX2_SPAN inline __attribute__((target("avx2"), always_inline))

namespace {

constexpr int32_t K1 = 2896;
constexpr int32_t K2 = 3784;
constexpr int32_t K3 = 2217;
constexpr int32_t K4 = -5352;

KORVA_AVX2_SPAN __m256i mul_k(__m256i x, int32_t k) {
  return _mm256_srai_epi32(_mm256_mullo_epi32(x, _mm256_set1_epi32(k)), 11);
}

KORVA_AVX2_SPAN void idct8_v8(const __m256i x[8], __m256i out[8]) {
  const __m256i a = _mm256_add_epi32(x[0], x[4]);
  const __m256i b = _mm256_sub_epi32(x[0], x[4]);
  const __m256i g = _mm256_add_epi32(x[2], x[6]);
  const __m256i d = _mm256_sub_epi32(mul_k(_mm256_sub_epi32(x[2], x[6]), K1), g);
  const __m256i e0 = _mm256_add_epi32(a, g), e3 = _mm256_sub_epi32(a, g);
  const __m256i e1 = _mm256_add_epi32(b, d), e2 = _mm256_sub_epi32(b, d);

  const __m256i z13 = _mm256_add_epi32(x[5], x[3]);
  const __m256i z10 = _mm256_sub_epi32(x[5], x[3]);
  const __m256i z11 = _mm256_add_epi32(x[1], x[7]);
  const __m256i z12 = _mm256_sub_epi32(x[1], x[7]);
  const __m256i o7 = _mm256_add_epi32(z11, z13);
  const __m256i o11 = mul_k(_mm256_sub_epi32(z11, z13), K1);
  const __m256i z5 = mul_k(_mm256_add_epi32(z10, z12), K2);
  const __m256i o10 = _mm256_sub_epi32(mul_k(z12, K3), z5);
  const __m256i o12 = _mm256_add_epi32(mul_k(z10, K4), z5);
  const __m256i o6 = _mm256_sub_epi32(o12, o7);
  const __m256i o5 = _mm256_sub_epi32(o11, o6);
  const __m256i o4 = _mm256_add_epi32(o10, o5);

  out[0] = _mm256_add_epi32(e0, o7);
  out[1] = _mm256_add_epi32(e1, o6);
  out[2] = _mm256_add_epi32(e2, o5);
  out[3] = _mm256_sub_epi32(e3, o4);
  out[4] = _mm256_add_epi32(e3, o4);
  out[5] = _mm256_sub_epi32(e2, o5);
  out[6] = _mm256_sub_epi32(e1, o6);
  out[7] = _mm256_sub_epi32(e0, o7);
}

// r[i] lane j ← r[j] lane i.
KORVA_AVX2_SPAN void transpose8(__m256i r[8]) {
  __m256i t[8], u[8];
  for (int i = 0; i < 8; i += 2) {
    t[i] = _mm256_unpacklo_epi32(r[i], r[i + 1]);
    t[i + 1] = _mm256_unpackhi_epi32(r[i], r[i + 1]);
  }
  for (int i = 0; i < 8; i += 4) {
    u[i + 0] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
    u[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
    u[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
    u[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
  }
  for (int i = 0; i < 4; ++i) {
    r[i] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x20);
    r[i + 4] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x31);
  }
}

}  // namespace

__attribute__((target("avx2"))) void idct_samples_avx2(const int16_t block[64],
                                                        const int32_t quant[64], uint8_t s[64]) {
  __m256i x[8], o[8];
  for (int v = 0; v < 8; ++v) {
    __m128i c;
    std::memcpy(&c, block + 8 * v, 16);
    __m256i q;
    std::memcpy(&q, quant + 8 * v, 32);
    x[v] = _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_cvtepi16_epi32(c), q), 11);
  }
  idct8_v8(x, o);  // o[v]: row v after the column pass, lane = column
  transpose8(o);   // o[u]: column u, lane = row
  idct8_v8(o, x);  // x[u]: output u of every row, lane = row
  const __m256i bias = _mm256_set1_epi32(127);
  const __m256i low8 = _mm256_set1_epi32(0xFF);
  for (int u = 0; u < 8; ++u)
    x[u] = _mm256_and_si256(_mm256_srai_epi32(_mm256_add_epi32(x[u], bias), 8), low8);
  transpose8(x);  // x[v]: row v, lane = column
  // Every value is 0 to 255, so the saturating packs keep it. The packs work in 128-bit halves:
  // bytes come out as 4-byte pieces (row 0 low, row 1 low, ..., row 0 high, ...), put back in
  // row order by one permutation.
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  for (int g = 0; g < 2; ++g) {
    const __m256i p01 = _mm256_packs_epi32(x[4 * g + 0], x[4 * g + 1]);
    const __m256i p23 = _mm256_packs_epi32(x[4 * g + 2], x[4 * g + 3]);
    const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(p01, p23), order);
    std::memcpy(s + 32 * g, &bytes, 32);
  }
}


// The fast forms on this kernel. The DC shortcut and the stores are SSE2; only the kernel needs
// the processor's AVX2.
void idct_put_avx2(const int16_t block[64], const int32_t quant[64], uint8_t* dst, ptrdiff_t stride) {
  idct_put_fast<idct_samples_avx2>(block, quant, dst, stride);
}
void idct_put_scaled_avx2(const int16_t block[64], const int32_t quant[64], uint8_t* dst, ptrdiff_t stride) {
  idct_put_scaled_fast<idct_samples_avx2>(block, quant, dst, stride);
}
void idct_add_avx2(const int16_t block[64], const int32_t quant[64], const uint8_t prediction[64], uint8_t* dst,
                   ptrdiff_t stride) {
  idct_add_fast<idct_samples_avx2>(block, quant, prediction, dst, stride);
}

bool idct_init_avx2(IdctFunctions* f) {
  f->put = idct_put_avx2;
  f->put_scaled = idct_put_scaled_avx2;
  f->add = idct_add_avx2;
  return true;
}

#else

bool idct_init_avx2(IdctFunctions*) { return false; }

#endif
