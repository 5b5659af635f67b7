// The inverse transform's SSE2 kernel and the fast forms built on it.
//
// The same transform four lanes at a time: the column pass on the two halves of the block, the
// row pass on two groups of four rows after a transpose. It computes every column and row in
// full; the shortcuts of the plain form give the same values (a column or row whose entries 1 to
// 7 are zero transforms to its entry 0 everywhere), so the results are equal bit for bit.
// Products keep their low 32 bits, as in the plain form.
#include "video/transform_fast.h"

#if defined(__SSE2__)

namespace {


// Low 32 bits of the lane products.
inline __m128i mul_lo32(__m128i a, __m128i b) {
  const __m128i even = _mm_mul_epu32(a, b);
  const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
  return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                            _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

inline __m128i mul_v(__m128i x, int32_t k) {
  return _mm_srai_epi32(mul_lo32(x, _mm_set1_epi32(k)), 11);
}

inline void idct8_v(const __m128i x[8], __m128i out[8]) {
  const __m128i a = _mm_add_epi32(x[0], x[4]);
  const __m128i b = _mm_sub_epi32(x[0], x[4]);
  const __m128i g = _mm_add_epi32(x[2], x[6]);
  const __m128i d = _mm_sub_epi32(mul_v(_mm_sub_epi32(x[2], x[6]), kIdctK1), g);
  const __m128i e0 = _mm_add_epi32(a, g), e3 = _mm_sub_epi32(a, g);
  const __m128i e1 = _mm_add_epi32(b, d), e2 = _mm_sub_epi32(b, d);

  const __m128i z13 = _mm_add_epi32(x[5], x[3]);
  const __m128i z10 = _mm_sub_epi32(x[5], x[3]);
  const __m128i z11 = _mm_add_epi32(x[1], x[7]);
  const __m128i z12 = _mm_sub_epi32(x[1], x[7]);
  const __m128i o7 = _mm_add_epi32(z11, z13);
  const __m128i o11 = mul_v(_mm_sub_epi32(z11, z13), kIdctK1);
  const __m128i z5 = mul_v(_mm_add_epi32(z10, z12), kIdctK2);
  const __m128i o10 = _mm_sub_epi32(mul_v(z12, kIdctK3), z5);
  const __m128i o12 = _mm_add_epi32(mul_v(z10, kIdctK4), z5);
  const __m128i o6 = _mm_sub_epi32(o12, o7);
  const __m128i o5 = _mm_sub_epi32(o11, o6);
  const __m128i o4 = _mm_add_epi32(o10, o5);

  out[0] = _mm_add_epi32(e0, o7);
  out[1] = _mm_add_epi32(e1, o6);
  out[2] = _mm_add_epi32(e2, o5);
  out[3] = _mm_sub_epi32(e3, o4);
  out[4] = _mm_add_epi32(e3, o4);
  out[5] = _mm_sub_epi32(e2, o5);
  out[6] = _mm_sub_epi32(e1, o6);
  out[7] = _mm_sub_epi32(e0, o7);
}

inline void transpose4(__m128i& r0, __m128i& r1, __m128i& r2, __m128i& r3) {
  const __m128i t0 = _mm_unpacklo_epi32(r0, r1);
  const __m128i t1 = _mm_unpacklo_epi32(r2, r3);
  const __m128i t2 = _mm_unpackhi_epi32(r0, r1);
  const __m128i t3 = _mm_unpackhi_epi32(r2, r3);
  r0 = _mm_unpacklo_epi64(t0, t1);
  r1 = _mm_unpackhi_epi64(t0, t1);
  r2 = _mm_unpacklo_epi64(t2, t3);
  r3 = _mm_unpackhi_epi64(t2, t3);
}

// The 64 samples (low 8 bits), row by row.
void idct_samples_sse2(const int16_t block[64], const int32_t quant[64], uint8_t s[64]) {
  __m128i ws[8][2];  // column-pass outputs: row v, columns 4h to 4h + 3
  for (int h = 0; h < 2; ++h) {
    __m128i x[8], o[8];
    for (int v = 0; v < 8; ++v) {
      __m128i c;
      std::memcpy(&c, block + 8 * v + 4 * h, 8);  // four 16-bit values in the low half
      c = _mm_srai_epi32(_mm_unpacklo_epi16(c, c), 16);
      __m128i q;
      std::memcpy(&q, quant + 8 * v + 4 * h, 16);
      x[v] = _mm_srai_epi32(mul_lo32(c, q), 11);
    }
    idct8_v(x, o);
    for (int v = 0; v < 8; ++v) ws[v][h] = o[v];
  }

  const __m128i bias = _mm_set1_epi32(127);
  const __m128i low8 = _mm_set1_epi32(0xFF);
  for (int g = 0; g < 2; ++g) {
    __m128i t[8], o[8];
    for (int h = 0; h < 2; ++h) {
      t[4 * h + 0] = ws[4 * g + 0][h];
      t[4 * h + 1] = ws[4 * g + 1][h];
      t[4 * h + 2] = ws[4 * g + 2][h];
      t[4 * h + 3] = ws[4 * g + 3][h];
      transpose4(t[4 * h + 0], t[4 * h + 1], t[4 * h + 2], t[4 * h + 3]);
    }
    idct8_v(t, o);  // o[u]: column u of rows 4g to 4g + 3
    for (int u = 0; u < 8; ++u) {
      o[u] = _mm_and_si128(_mm_srai_epi32(_mm_add_epi32(o[u], bias), 8), low8);
    }
    transpose4(o[0], o[1], o[2], o[3]);  // o[i]: row 4g + i, columns 0 to 3
    transpose4(o[4], o[5], o[6], o[7]);  // o[4 + i]: row 4g + i, columns 4 to 7
    // Every value is 0 to 255 now, so the saturating packs keep it.
    const __m128i r0 = _mm_packs_epi32(o[0], o[4]), r1 = _mm_packs_epi32(o[1], o[5]);
    const __m128i r2 = _mm_packs_epi32(o[2], o[6]), r3 = _mm_packs_epi32(o[3], o[7]);
    const __m128i r01 = _mm_packus_epi16(r0, r1);
    const __m128i r23 = _mm_packus_epi16(r2, r3);
    std::memcpy(s + 32 * g, &r01, 16);
    std::memcpy(s + 32 * g + 16, &r23, 16);
  }
}



}  // namespace

void idct_put(const int16_t block[64], const int32_t quant[64], uint8_t* dst, ptrdiff_t stride) {
  idct_put_fast<idct_samples_sse2>(block, quant, dst, stride);
}
void idct_put_scaled(const int16_t block[64], const int32_t quant[64], uint8_t* dst, ptrdiff_t stride) {
  idct_put_scaled_fast<idct_samples_sse2>(block, quant, dst, stride);
}
void idct_add(const int16_t block[64], const int32_t quant[64], const uint8_t prediction[64], uint8_t* dst,
              ptrdiff_t stride) {
  idct_add_fast<idct_samples_sse2>(block, quant, prediction, dst, stride);
}

bool idct_init_sse2(IdctFunctions* f) {
  f->put = idct_put;
  f->put_scaled = idct_put_scaled;
  f->add = idct_add;
  return true;
}

#else

bool idct_init_sse2(IdctFunctions*) { return false; }

#endif
