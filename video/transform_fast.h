// Inside the inverse transform: what the fast forms of every instruction set share. A fast form
// takes the 64 samples of a block from its set's kernel, after the plain form's DC shortcut;
// transform_sse2.cpp and transform_avx2.cpp instantiate the forms with their kernels.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "video/transform.h"

#if defined(__SSE2__)
#include <emmintrin.h>

// The transform's fixed-point factors.
constexpr int32_t kIdctK1 = 2896;   // √2
constexpr int32_t kIdctK2 = 3784;   // 1.847759065
constexpr int32_t kIdctK3 = 2217;   // 1.082392200
constexpr int32_t kIdctK4 = -5352;  // -2.613125930

// The 64 samples (low 8 bits) of a block, row by row.
using IdctKernel = void (*)(const int16_t block[64], const int32_t quant[64], uint8_t s[64]);

// Calls store(v, samples of row v) for the eight rows. A block with only its DC gives one value
// everywhere (the plain form's shortcuts, taken in every column and row).
template <IdctKernel kKernel, class Store>
inline void idct_rows_fast(const int16_t block[64], const int32_t quant[64], Store store) {
  __m128i any;
  std::memcpy(&any, block, 16);
  any = _mm_and_si128(any, _mm_setr_epi16(0, -1, -1, -1, -1, -1, -1, -1));
  for (int v = 1; v < 8; ++v) {
    __m128i row;
    std::memcpy(&row, block + 8 * v, 16);
    any = _mm_or_si128(any, row);
  }
  uint8_t s[64];
  if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF) {
    const int32_t dc = int32_t(uint32_t(int32_t(block[0])) * uint32_t(quant[0])) >> 11;
    std::memset(s, uint8_t(int32_t(uint32_t(dc) + 127) >> 8), 64);
  } else {
    kKernel(block, quant, s);
  }
  for (uint32_t v = 0; v < 8; ++v) store(v, s + 8 * v);
}

template <IdctKernel kKernel>
void idct_put_fast(const int16_t block[64], const int32_t quant[64], uint8_t* dst, ptrdiff_t stride) {
  idct_rows_fast<kKernel>(block, quant, [&](uint32_t v, const uint8_t s[8]) {
    std::memcpy(dst + ptrdiff_t(v) * stride, s, 8);
  });
}

template <IdctKernel kKernel>
void idct_put_scaled_fast(const int16_t block[64], const int32_t quant[64], uint8_t* dst, ptrdiff_t stride) {
  idct_rows_fast<kKernel>(block, quant, [&](uint32_t v, const uint8_t s[8]) {
    uint8_t wide[16];
    for (uint32_t u = 0; u < 8; ++u) wide[2 * u] = wide[2 * u + 1] = s[u];
    uint8_t* d = dst + ptrdiff_t(2 * v) * stride;
    std::memcpy(d, wide, 16);
    std::memcpy(d + stride, wide, 16);
  });
}

template <IdctKernel kKernel>
void idct_add_fast(const int16_t block[64], const int32_t quant[64], const uint8_t prediction[64], uint8_t* dst,
                   ptrdiff_t stride) {
  idct_rows_fast<kKernel>(block, quant, [&](uint32_t v, const uint8_t s[8]) {
    const uint8_t* p = prediction + 8 * v;
    uint8_t out[8];
    for (uint32_t u = 0; u < 8; ++u) out[u] = uint8_t(p[u] + s[u]);
    std::memcpy(dst + ptrdiff_t(v) * stride, out, 8);
  });
}

#endif
