// Transform and residue blocks: coefficient and residue readers (bit-plane set partitioning),
// the dequantisation tables and the fixed-point 8 × 8 inverse transform.
#pragma once
#include <cstddef>
#include <cstdint>

#include "video/bit_reader.h"

// Block position k = 8 × row + column → coding index.
extern const uint8_t kCoefficientOrder[64];

// Dequantisation factors with 16 fractional bits, [quantiser index 0..15][block position].
extern const int32_t IntraQuant[16][64];
extern const int32_t InterQuant[16][64];

// Both readers trust nothing: bits past the plane's data read as zero (BitReader), and the set
// list is a fixed local array sized for the structural maxima (60 or 64 deferred singles at the
// front, 9 split quads at the end); an insertion that would not fit is dropped, so no bit
// sequence can make a reader store outside its arrays. Neither allocates.

// Reads positions 1 to 63 of `block`; the caller has set position 0 (the DC).
void read_coefficients(BitReader* r, int16_t block[64]);

// Reads a residue block with event limit `limit` (0..127) and writes prediction + residue
// (modulo 256) into the 8 × 8 block at `dst`. `prediction` is a local 8 × 8 array, row by row.
void read_residue(BitReader* r, uint32_t limit, const uint8_t prediction[64], uint8_t* dst,
                  ptrdiff_t stride);

// The plain forms of the two readers, one bit at a time. read_coefficients and read_residue
// give exactly their results, bits consumed and reader state; the tests compare the two.
void read_coefficients_plain(BitReader* r, int16_t block[64]);
void read_residue_plain(BitReader* r, uint32_t limit, const uint8_t prediction[64], uint8_t* dst,
                        ptrdiff_t stride);

// Dequantise with `quant` (one row of IntraQuant / InterQuant), inverse-transform, and store
// 8 × 8 samples (low 8 bits, no clamping).
void idct_put(const int16_t block[64], const int32_t quant[64], uint8_t* dst, ptrdiff_t stride);
// The same, each sample stored as a 2 × 2 square of the 16 × 16 area at `dst`.
void idct_put_scaled(const int16_t block[64], const int32_t quant[64], uint8_t* dst,
                     ptrdiff_t stride);
// The same, added (modulo 256) to the 8 × 8 `prediction` array.
void idct_add(const int16_t block[64], const int32_t quant[64], const uint8_t prediction[64],
              uint8_t* dst, ptrdiff_t stride);

// The plain forms of the three, one column and row at a time; the functions above give exactly
// their results (the tests compare them).
void idct_put_plain(const int16_t block[64], const int32_t quant[64], uint8_t* dst,
                    ptrdiff_t stride);
void idct_put_scaled_plain(const int16_t block[64], const int32_t quant[64], uint8_t* dst,
                           ptrdiff_t stride);
void idct_add_plain(const int16_t block[64], const int32_t quant[64],
                    const uint8_t prediction[64], uint8_t* dst, ptrdiff_t stride);

// The three as the decoder calls them, a table per decoder (FramePlanes) filled once: the plain
// initialiser puts the plain forms in, the SSE2 one (where the build has SSE2) the fast forms
// on the SSE2 kernel, the AVX2 one the same forms on the AVX2 kernel; idct_fill goes as far as
// `level` (cpu_level(): the processor and KORVA_CPU) allows.
struct IdctFunctions {
  void (*put)(const int16_t block[64], const int32_t quant[64], uint8_t* dst, ptrdiff_t stride);
  void (*put_scaled)(const int16_t block[64], const int32_t quant[64], uint8_t* dst, ptrdiff_t stride);
  void (*add)(const int16_t block[64], const int32_t quant[64], const uint8_t prediction[64], uint8_t* dst,
              ptrdiff_t stride);
};
void idct_init_plain(IdctFunctions* f);
bool idct_init_sse2(IdctFunctions* f);  // false when the build has no SSE2 forms
bool idct_init_avx2(IdctFunctions* f);  // false when the build has no AVX2 kernel
void idct_fill(IdctFunctions* f, uint32_t level);
// The kernel a table's forms run on: kCpuPlain, kCpuSse2 or kCpuAvx2.
uint32_t idct_kernel_of(const IdctFunctions* f);

#if (defined(__i386__) || defined(__x86_64__)) && (defined(__GNUC__) || defined(__clang__)) && \
    defined(__SSE2__)
#define KORVA_VIDEO_AVX2 1
// Only on a processor with AVX2: the kernel, and the fast forms on it.
void idct_samples_avx2(const int16_t block[64], const int32_t quant[64], uint8_t s[64]);
void idct_put_avx2(const int16_t block[64], const int32_t quant[64], uint8_t* dst, ptrdiff_t stride);
void idct_put_scaled_avx2(const int16_t block[64], const int32_t quant[64], uint8_t* dst, ptrdiff_t stride);
void idct_add_avx2(const int16_t block[64], const int32_t quant[64], const uint8_t prediction[64], uint8_t* dst,
                   ptrdiff_t stride);
#endif
