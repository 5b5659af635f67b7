// Real DFT and cosine transform on one complex FFT of n / 2 points.
//
// The complex FFT is a decimation in frequency that splits every block of M points into one
// half (M / 2 points) and two quarters (M / 4 points each):
//   x0 = Q0 + Q2, x1 = Q0 − Q2, x2 = Q1 + Q3, x3 = Q1 − Q3,
//   half = (x0, x2), Q2 = (x1 + i·x3)·e^(+iθp), Q3 = (x1 − i·x3)·e^(+3iθp), θ = 2π / M,
// then transforms the half and the quarters the same way, down to written-out eight- and
// sixteen-point kernels. The outputs land in bit-reversed order; one permutation at the end
// puts them in place. The backward form (e^(−i)) is the forward form on the conjugated input,
// conjugated again while permuting.
//
// Twiddle table layout (nw entries; built by make_twiddles): a level of h entries holds, for
// a step δ = (π/4) / h, w[0] = 1, w[1] = cos(π/4), w[2] = 0.5 / cos(2δ), w[3] = 0.5 / cos(6δ)
// and, for j = 4, 8, ... < h, cos(jδ), sin(jδ), cos(3jδ), sin(3jδ). The top level has
// h = nw / 2; each following level halves h and doubles δ. The level of h entries starts 2h
// entries before the end of the table, so every size finds its own level by counting back
// from the end, whatever larger size the table was built for:
//   the first stage over n floats (M = n / 2 points) reads the level n / 4 before the end and
//   has only every other position stored: the positions between are formed by the half-angle
//   rule, (w_before + w_after) × w[2] (and × w[3] for the 3θ twiddles);
//   a later block of M points reads the level M before the end, one stored entry a position;
//   the sixteen-point kernel derives cos(π/8) and sin(π/8) from the level 8 before the end.
//
// Where the build has SSE2, the splitting stages, the kernels and the real steps handle two
// positions a step in registers, lane for lane the same operations as the plain code (so the
// same bits); audio_rdft_plain and audio_dct_plain keep the plain code for the tests. The AVX2
// forms (audio_rdft_avx2, audio_dct_avx2) take four positions a step in the splitting stages
// and the real steps, again lane for lane; the kernels stay SSE2.
#include "audio/audio_transform.h"

#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(AUDIO_HAVE_TRANSFORM_AVX2)
#include <immintrin.h>
#define AUDIO_TRANSFORM_AVX2 1
#define AUDIO_AVX2 __attribute__((target("avx2")))
#endif

namespace {

// ---- tables ------------------------------------------------------------------------------

void make_twiddles(int nw, int* sizes, float* w) {
  sizes[0] = nw;
  sizes[1] = 1;  // the cosine table must be rebuilt after the twiddles
  if (nw <= 2) return;
  int h = nw >> 1;
  const double delta = float(std::atan(1.0) / h);
  const float w4 = float(std::cos(delta * h));
  w[0] = 1;
  w[1] = w4;
  if (h >= 4) {
    w[2] = float(0.5 / std::cos(delta * 2));
    w[3] = float(0.5 / std::cos(delta * 6));
  }
  for (int j = 4; j < h; j += 4) {
    const double x = delta * j;
    const double x3 = x * 3;
    w[j] = float(std::cos(x));
    w[j + 1] = float(std::sin(x));
    w[j + 2] = float(std::cos(x3));
    w[j + 3] = float(std::sin(x3));
  }
  int base = 0;
  while (h > 2) {
    const int next = base + h;
    h >>= 1;
    w[next] = 1;
    w[next + 1] = w4;
    if (h >= 4) {
      w[next + 2] = float(0.5 / double(w[base + 4]));
      w[next + 3] = float(0.5 / double(w[base + 6]));
      for (int j = 4; j < h; j += 4) {
        w[next + j] = w[base + 2 * j];
        w[next + j + 1] = w[base + 2 * j + 1];
        w[next + j + 2] = w[base + 2 * j + 2];
        w[next + j + 3] = w[base + 2 * j + 3];
      }
    }
    base = next;
  }
}

void make_cosines(int nc, int* sizes, float* c) {
  sizes[1] = nc;
  if (nc <= 1) return;
  const int h = nc >> 1;
  const double delta = float(std::atan(1.0) / h);
  const double ch = std::cos(delta * h);
  c[0] = float(ch);
  c[h] = float(0.5 * ch);
  for (int j = 1; j < h; ++j) {
    c[j] = float(0.5 * std::cos(delta * j));
    c[nc - j] = float(0.5 * std::sin(delta * j));
  }
}

// ---- complex FFT -------------------------------------------------------------------------

// One split of positions p of Q0 .. Q3 (quarters q complex points apart), twiddle 1.
template <bool Conj>
inline void split0(float* a, int p, int q) {
  float* z0 = a + 2 * p;
  float* z1 = z0 + 2 * q;
  float* z2 = z1 + 2 * q;
  float* z3 = z2 + 2 * q;
  const float i0 = Conj ? -z0[1] : z0[1], i1 = Conj ? -z1[1] : z1[1];
  const float i2 = Conj ? -z2[1] : z2[1], i3 = Conj ? -z3[1] : z3[1];
  const float x0r = z0[0] + z2[0], x0i = i0 + i2;
  const float x1r = z0[0] - z2[0], x1i = i0 - i2;
  const float x2r = z1[0] + z3[0], x2i = i1 + i3;
  const float x3r = z1[0] - z3[0], x3i = i1 - i3;
  z0[0] = x0r;
  z0[1] = x0i;
  z1[0] = x2r;
  z1[1] = x2i;
  z2[0] = x1r - x3i;
  z2[1] = x1i + x3r;
  z3[0] = x1r + x3i;
  z3[1] = x1i - x3r;
}

// The same with twiddles (wr, wi) for Q2 and (vr, vi) for Q3.
template <bool Conj>
inline void split1(float* a, int p, int q, float wr, float wi, float vr, float vi) {
  float* z0 = a + 2 * p;
  float* z1 = z0 + 2 * q;
  float* z2 = z1 + 2 * q;
  float* z3 = z2 + 2 * q;
  const float i0 = Conj ? -z0[1] : z0[1], i1 = Conj ? -z1[1] : z1[1];
  const float i2 = Conj ? -z2[1] : z2[1], i3 = Conj ? -z3[1] : z3[1];
  const float x0r = z0[0] + z2[0], x0i = i0 + i2;
  const float x1r = z0[0] - z2[0], x1i = i0 - i2;
  const float x2r = z1[0] + z3[0], x2i = i1 + i3;
  const float x3r = z1[0] - z3[0], x3i = i1 - i3;
  z0[0] = x0r;
  z0[1] = x0i;
  z1[0] = x2r;
  z1[1] = x2i;
  float yr = x1r - x3i, yi = x1i + x3r;
  z2[0] = wr * yr - wi * yi;
  z2[1] = wr * yi + wi * yr;
  yr = x1r + x3i;
  yi = x1i - x3r;
  z3[0] = vr * yr - vi * yi;
  z3[1] = vr * yi + vi * yr;
}

#if defined(__SSE2__)
// split1 on positions p and p + 1 at once, lane for lane the same operations (so the same
// bits): each register holds two complex values, (re, im) of p then of p + 1. The twiddle
// registers hold each position's value twice: (w_p, w_p, w_p+1, w_p+1).
inline __m128 sign_mask(float lo, float hi) { return _mm_set_ps(hi, lo, hi, lo); }

inline __m128 cmul(__m128 y, __m128 wr, __m128 wi, __m128 neg_re) {
  const __m128 ys = _mm_shuffle_ps(y, y, _MM_SHUFFLE(2, 3, 0, 1));  // (yi, yr)
  // (wr·yr + (−wi·yi), wr·yi + wi·yr), identical to wr·yr − wi·yi and wr·yi + wi·yr
  return _mm_add_ps(_mm_mul_ps(wr, y), _mm_xor_ps(_mm_mul_ps(wi, ys), neg_re));
}

template <bool Conj>
inline void split1x2(float* a, int p, int q, __m128 wr, __m128 wi, __m128 vr, __m128 vi) {
  float* z0 = a + 2 * p;
  float* z1 = z0 + 2 * q;
  float* z2 = z1 + 2 * q;
  float* z3 = z2 + 2 * q;
  const __m128 neg_re = sign_mask(-0.0f, 0.0f), neg_im = sign_mask(0.0f, -0.0f);
  __m128 a0 = _mm_loadu_ps(z0), a1 = _mm_loadu_ps(z1), a2 = _mm_loadu_ps(z2), a3 = _mm_loadu_ps(z3);
  if (Conj) {
    a0 = _mm_xor_ps(a0, neg_im);
    a1 = _mm_xor_ps(a1, neg_im);
    a2 = _mm_xor_ps(a2, neg_im);
    a3 = _mm_xor_ps(a3, neg_im);
  }
  const __m128 x0 = _mm_add_ps(a0, a2), x1 = _mm_sub_ps(a0, a2);
  const __m128 x2 = _mm_add_ps(a1, a3), x3 = _mm_sub_ps(a1, a3);
  _mm_storeu_ps(z0, x0);
  _mm_storeu_ps(z1, x2);
  const __m128 x3s = _mm_shuffle_ps(x3, x3, _MM_SHUFFLE(2, 3, 0, 1));  // (x3i, x3r)
  // x1 + i·x3 = (x1r − x3i, x1i + x3r); x1 − i·x3 = (x1r + x3i, x1i − x3r)
  _mm_storeu_ps(z2, cmul(_mm_add_ps(x1, _mm_xor_ps(x3s, neg_re)), wr, wi, neg_re));
  _mm_storeu_ps(z3, cmul(_mm_add_ps(x1, _mm_xor_ps(x3s, neg_im)), vr, vi, neg_re));
}

inline __m128 pair(float p0, float p1) { return _mm_set_ps(p1, p1, p0, p0); }
#endif

inline void dft2(float* z) {
  const float r = z[0] - z[2], i = z[1] - z[3];
  z[0] += z[2];
  z[1] += z[3];
  z[2] = r;
  z[3] = i;
}

// Kernels: the split applied down to single points, outputs in bit-reversed order.
inline void kernel4(float* a) {
  split0<false>(a, 0, 1);
  dft2(a);
}

inline void kernel8(float* a, float w4) {
  split0<false>(a, 0, 2);
  split1<false>(a, 1, 2, w4, w4, -w4, w4);
  kernel4(a);
  dft2(a + 8);
  dft2(a + 12);
}

struct KernelConsts {
  float w4, c1, s1;  // cos(π/4), cos(π/8), sin(π/8)
};

inline void kernel16(float* a, const KernelConsts& k) {
  split0<false>(a, 0, 4);
  split1<false>(a, 1, 4, k.c1, k.s1, k.s1, k.c1);
  split1<false>(a, 2, 4, k.w4, k.w4, -k.w4, k.w4);
  split1<false>(a, 3, 4, k.s1, k.c1, -k.c1, -k.s1);
  kernel8(a, k.w4);
  kernel4(a + 16);
  kernel4(a + 24);
}

#if defined(__SSE2__)
// The kernels in registers, two complex points a register, lane for lane the plain kernels'
// operations. split1 on two register-held positions; with `first_plain` the first lane is
// split0's (no twiddle product), as in the plain kernels.
inline void split_regs(__m128& a0, __m128& a1, __m128& a2, __m128& a3, __m128 wr, __m128 wi, __m128 vr,
                       __m128 vi, bool first_plain) {
  const __m128 neg_re = sign_mask(-0.0f, 0.0f), neg_im = sign_mask(0.0f, -0.0f);
  const __m128 x0 = _mm_add_ps(a0, a2), x1 = _mm_sub_ps(a0, a2);
  const __m128 x2 = _mm_add_ps(a1, a3), x3 = _mm_sub_ps(a1, a3);
  const __m128 x3s = _mm_shuffle_ps(x3, x3, _MM_SHUFFLE(2, 3, 0, 1));
  const __m128 y = _mm_add_ps(x1, _mm_xor_ps(x3s, neg_re));
  const __m128 u = _mm_add_ps(x1, _mm_xor_ps(x3s, neg_im));
  __m128 r2 = cmul(y, wr, wi, neg_re), r3 = cmul(u, vr, vi, neg_re);
  if (first_plain) {
    const __m128 low = _mm_castsi128_ps(_mm_set_epi32(0, 0, -1, -1));
    r2 = _mm_or_ps(_mm_and_ps(low, y), _mm_andnot_ps(low, r2));
    r3 = _mm_or_ps(_mm_and_ps(low, u), _mm_andnot_ps(low, r3));
  }
  a0 = x0;
  a1 = x2;
  a2 = r2;
  a3 = r3;
}

// dft2 of the two points of one register: (u + v, u − v).
inline __m128 dft2_reg(__m128 r) {
  const __m128 u = _mm_shuffle_ps(r, r, _MM_SHUFFLE(1, 0, 1, 0));
  const __m128 v = _mm_shuffle_ps(r, r, _MM_SHUFFLE(3, 2, 3, 2));
  return _mm_add_ps(u, _mm_xor_ps(v, _mm_set_ps(-0.0f, -0.0f, 0.0f, 0.0f)));
}

// kernel4 on (p0, p1) in a and (p2, p3) in b.
inline void kernel4_regs(__m128& a, __m128& b) {
  const __m128 s = _mm_add_ps(a, b);  // (x0, x2)
  const __m128 d = _mm_sub_ps(a, b);  // (x1, x3)
  const __m128 x1 = _mm_shuffle_ps(d, d, _MM_SHUFFLE(1, 0, 1, 0));
  const __m128 x3 = _mm_shuffle_ps(d, d, _MM_SHUFFLE(2, 3, 2, 3));  // (x3i, x3r, x3i, x3r)
  a = dft2_reg(s);
  b = _mm_add_ps(x1, _mm_xor_ps(x3, _mm_set_ps(-0.0f, 0.0f, 0.0f, -0.0f)));  // x1 ± i·x3
}

inline void kernel8_regs(__m128* z, float w4) {
  split_regs(z[0], z[1], z[2], z[3], _mm_set_ps(w4, w4, 1, 1), _mm_set_ps(w4, w4, 0, 0),
             _mm_set_ps(-w4, -w4, 1, 1), _mm_set_ps(w4, w4, 0, 0), true);
  kernel4_regs(z[0], z[1]);
  z[2] = dft2_reg(z[2]);
  z[3] = dft2_reg(z[3]);
}

inline void kernel8_sse2(float* a, float w4) {
  __m128 z[4];
  for (int i = 0; i < 4; ++i) z[i] = _mm_loadu_ps(a + 4 * i);
  kernel8_regs(z, w4);
  for (int i = 0; i < 4; ++i) _mm_storeu_ps(a + 4 * i, z[i]);
}

inline void kernel16_sse2(float* a, const KernelConsts& k) {
  __m128 z[8];
  for (int i = 0; i < 8; ++i) z[i] = _mm_loadu_ps(a + 4 * i);
  const float w4 = k.w4, c1 = k.c1, s1 = k.s1;
  split_regs(z[0], z[2], z[4], z[6], pair(1, c1), pair(0, s1), pair(1, s1), pair(0, c1), true);
  split_regs(z[1], z[3], z[5], z[7], pair(w4, s1), pair(w4, c1), pair(-w4, -c1), pair(w4, -s1), false);
  kernel8_regs(z, w4);
  kernel4_regs(z[4], z[5]);
  kernel4_regs(z[6], z[7]);
  for (int i = 0; i < 8; ++i) _mm_storeu_ps(a + 4 * i, z[i]);
}
#endif

template <bool Simd>
inline void kernel16_any(float* a, const KernelConsts& k) {
#if defined(__SSE2__)
  if (Simd) { kernel16_sse2(a, k); return; }
#endif
  kernel16(a, k);
}

template <bool Simd>
inline void kernel8_any(float* a, float w4) {
#if defined(__SSE2__)
  if (Simd) { kernel8_sse2(a, w4); return; }
#endif
  kernel8(a, w4);
}

// Positions k .. e - 1 of a split stage one at a time with their mirrors, then the middle one.
inline void split_rest(float* a, int k, int e, int q, const float* w, float w4) {
  for (; k < e; ++k) {
    const float c = w[4 * k], s = w[4 * k + 1], c3 = w[4 * k + 2], s3 = w[4 * k + 3];
    split1<false>(a, k, q, c, s, c3, s3);
    split1<false>(a, q - k, q, s, c, -s3, -c3);
  }
  split1<false>(a, e, q, w4, w4, -w4, w4);
}

#if defined(__SSE2__)
// Positions k and k + 1 of a split stage and their mirrors, two at a time.
inline void split_pair(float* a, int k, int q, const float* w) {
  // (c, s, c3, s3) of each in one register.
  const __m128 t0 = _mm_loadu_ps(w + 4 * k), t1 = _mm_loadu_ps(w + 4 * k + 4);
  const __m128 neg = _mm_set1_ps(-0.0f);
  split1x2<false>(a, k, q, _mm_shuffle_ps(t0, t1, _MM_SHUFFLE(0, 0, 0, 0)),
                  _mm_shuffle_ps(t0, t1, _MM_SHUFFLE(1, 1, 1, 1)),
                  _mm_shuffle_ps(t0, t1, _MM_SHUFFLE(2, 2, 2, 2)),
                  _mm_shuffle_ps(t0, t1, _MM_SHUFFLE(3, 3, 3, 3)));
  // their mirrors q − k − 1 and q − k: (s, c, −s3, −c3) of k + 1, then of k
  split1x2<false>(a, q - k - 1, q, _mm_shuffle_ps(t1, t0, _MM_SHUFFLE(1, 1, 1, 1)),
                  _mm_shuffle_ps(t1, t0, _MM_SHUFFLE(0, 0, 0, 0)),
                  _mm_xor_ps(_mm_shuffle_ps(t1, t0, _MM_SHUFFLE(3, 3, 3, 3)), neg),
                  _mm_xor_ps(_mm_shuffle_ps(t1, t0, _MM_SHUFFLE(2, 2, 2, 2)), neg));
}
#endif

// A middle stage on a block of m points (m ≥ 32) with its own twiddle level w.
template <bool Simd>
void split_stage(float* a, int m, const float* w, float w4) {
  const int q = m >> 2, e = m >> 3;
  split0<false>(a, 0, q);
  int k = 1;
#if defined(__SSE2__)
  if (Simd) {
    for (; k + 1 < e; k += 2) {
      split_pair(a, k, q, w);
    }
  }
#endif
  split_rest(a, k, e, q, w, w4);
}

#if defined(AUDIO_TRANSFORM_AVX2)
// split1x2 on positions p .. p + 3 at once, lane for lane the same operations; the twiddle
// registers hold each position's value twice.
AUDIO_AVX2 inline __m256 cmul4(__m256 y, __m256 wr, __m256 wi, __m256 neg_re) {
  const __m256 ys = _mm256_shuffle_ps(y, y, _MM_SHUFFLE(2, 3, 0, 1));
  return _mm256_add_ps(_mm256_mul_ps(wr, y), _mm256_xor_ps(_mm256_mul_ps(wi, ys), neg_re));
}

template <bool Conj = false>
AUDIO_AVX2 inline void split1x4(float* a, int p, int q, __m256 wr, __m256 wi, __m256 vr, __m256 vi) {
  float* z0 = a + 2 * p;
  float* z1 = z0 + 2 * q;
  float* z2 = z1 + 2 * q;
  float* z3 = z2 + 2 * q;
  const __m256 neg_re = _mm256_setr_ps(-0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f);
  const __m256 neg_im = _mm256_setr_ps(0.0f, -0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f, -0.0f);
  __m256 a0 = _mm256_loadu_ps(z0), a1 = _mm256_loadu_ps(z1);
  __m256 a2 = _mm256_loadu_ps(z2), a3 = _mm256_loadu_ps(z3);
  if (Conj) {
    a0 = _mm256_xor_ps(a0, neg_im);
    a1 = _mm256_xor_ps(a1, neg_im);
    a2 = _mm256_xor_ps(a2, neg_im);
    a3 = _mm256_xor_ps(a3, neg_im);
  }
  const __m256 x0 = _mm256_add_ps(a0, a2), x1 = _mm256_sub_ps(a0, a2);
  const __m256 x2 = _mm256_add_ps(a1, a3), x3 = _mm256_sub_ps(a1, a3);
  _mm256_storeu_ps(z0, x0);
  _mm256_storeu_ps(z1, x2);
  const __m256 x3s = _mm256_shuffle_ps(x3, x3, _MM_SHUFFLE(2, 3, 0, 1));
  _mm256_storeu_ps(z2, cmul4(_mm256_add_ps(x1, _mm256_xor_ps(x3s, neg_re)), wr, wi, neg_re));
  _mm256_storeu_ps(z3, cmul4(_mm256_add_ps(x1, _mm256_xor_ps(x3s, neg_im)), vr, vi, neg_re));
}

// split_stage with four positions (and their four mirrors) a step; the rest as the SSE2 form.
AUDIO_AVX2 void split_stage_avx2(float* a, int m, const float* w, float w4) {
  const int q = m >> 2, e = m >> 3;
  split0<false>(a, 0, q);
  int k = 1;
  const __m256 neg = _mm256_set1_ps(-0.0f);
  for (; k + 3 < e; k += 4) {
    // (c, s, c3, s3) of k .. k + 3: t01 = (t0, t1), t23 = (t2, t3).
    const __m256 t01 = _mm256_loadu_ps(w + 4 * k), t23 = _mm256_loadu_ps(w + 4 * k + 8);
    const __m256 lo = _mm256_permute2f128_ps(t01, t23, 0x20);   // (t0, t2)
    const __m256 hi = _mm256_permute2f128_ps(t01, t23, 0x31);   // (t1, t3)
    split1x4(a, k, q, _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(0, 0, 0, 0)),
             _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(1, 1, 1, 1)),
             _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 2, 2, 2)),
             _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 3, 3, 3)));
    // the mirrors q − k − 3 .. q − k: (s, c, −s3, −c3) of k + 3, k + 2, k + 1, k
    const __m256 rc = _mm256_permute2f128_ps(t01, t23, 0x13);  // (t3, t1)
    const __m256 rd = _mm256_permute2f128_ps(t01, t23, 0x02);  // (t2, t0)
    split1x4(a, q - k - 3, q, _mm256_shuffle_ps(rc, rd, _MM_SHUFFLE(1, 1, 1, 1)),
             _mm256_shuffle_ps(rc, rd, _MM_SHUFFLE(0, 0, 0, 0)),
             _mm256_xor_ps(_mm256_shuffle_ps(rc, rd, _MM_SHUFFLE(3, 3, 3, 3)), neg),
             _mm256_xor_ps(_mm256_shuffle_ps(rc, rd, _MM_SHUFFLE(2, 2, 2, 2)), neg));
  }
  for (; k + 1 < e; k += 2) split_pair(a, k, q, w);
  split_rest(a, k, e, q, w, w4);
}
#endif

// Stored twiddles of the first stage: e^(2ikθ) and e^(6ikθ) for k = 0 .. m / 16.
inline void first_twiddle(const float* w, int k, int f, float w4, float* t) {
  if (k == 0) {
    t[0] = 1; t[1] = 0; t[2] = 1; t[3] = 0;
  } else if (k == f) {
    t[0] = w4; t[1] = w4; t[2] = -w4; t[3] = w4;
  } else {
    t[0] = w[4 * k]; t[1] = w[4 * k + 1]; t[2] = w[4 * k + 2]; t[3] = w[4 * k + 3];
  }
}

#if defined(AUDIO_TRANSFORM_AVX2)
// first_stage's steps k and k + 1 together while k + 2 < f: positions 2k + 1 .. 2k + 4 and
// their mirrors, the odd positions' twiddles formed as there; t0 holds step k's stored twiddle
// and is left holding the next one's.
template <bool Conj>
AUDIO_AVX2 void first_stage_wide(float* a, int q, int f, const float* w, float w4, float hr, float h3,
                                 int& k, float* t0) {
  for (; k + 2 < f; k += 2) {
    float t1[4], t2[4];
    first_twiddle(w, k + 1, f, w4, t1);
    first_twiddle(w, k + 2, f, w4, t2);
    const float c = (t0[0] + t1[0]) * hr, s = (t0[1] + t1[1]) * hr;
    const float c3 = (t0[2] + t1[2]) * h3, s3 = (t0[3] + t1[3]) * h3;
    const float d = (t1[0] + t2[0]) * hr, u = (t1[1] + t2[1]) * hr;
    const float d3 = (t1[2] + t2[2]) * h3, u3 = (t1[3] + t2[3]) * h3;
    const int p = 2 * k + 1;
    split1x4<Conj>(a, p, q, _mm256_setr_ps(c, c, t1[0], t1[0], d, d, t2[0], t2[0]),
                   _mm256_setr_ps(s, s, t1[1], t1[1], u, u, t2[1], t2[1]),
                   _mm256_setr_ps(c3, c3, t1[2], t1[2], d3, d3, t2[2], t2[2]),
                   _mm256_setr_ps(s3, s3, t1[3], t1[3], u3, u3, t2[3], t2[3]));
    // mirrors q − p − 3 .. q − p: (s, c, −s3, −c3) of positions p + 3, p + 2, p + 1, p
    split1x4<Conj>(a, q - p - 3, q, _mm256_setr_ps(t2[1], t2[1], u, u, t1[1], t1[1], s, s),
                   _mm256_setr_ps(t2[0], t2[0], d, d, t1[0], t1[0], c, c),
                   _mm256_setr_ps(-t2[3], -t2[3], -u3, -u3, -t1[3], -t1[3], -s3, -s3),
                   _mm256_setr_ps(-t2[2], -t2[2], -d3, -d3, -t1[2], -t1[2], -c3, -c3));
    t0[0] = t2[0]; t0[1] = t2[1]; t0[2] = t2[2]; t0[3] = t2[3];
  }
}
#endif

// The first stage on the whole array (m = n / 2 points, m ≥ 32), every other twiddle stored.
template <bool Conj, bool Simd, bool Wide>
void first_stage(float* a, int m, const float* w, float w4) {
  const int q = m >> 2, e = m >> 3, f = m >> 4;
  const float hr = w[2], h3 = w[3];
  float t0[4], t1[4];
  first_twiddle(w, 0, f, w4, t0);
  split0<Conj>(a, 0, q);
  int k = 0;
#if defined(AUDIO_TRANSFORM_AVX2)
  if (Wide) first_stage_wide<Conj>(a, q, f, w, w4, hr, h3, k, t0);
#endif
  for (; k < f; ++k) {
    first_twiddle(w, k + 1, f, w4, t1);
    // Odd position 2k + 1 from its neighbours by the half-angle rule.
    const float c = (t0[0] + t1[0]) * hr, s = (t0[1] + t1[1]) * hr;
    const float c3 = (t0[2] + t1[2]) * h3, s3 = (t0[3] + t1[3]) * h3;
    const int p = 2 * k + 1;
#if defined(__SSE2__)
    if (Simd && k + 1 < f) {
      // Positions p, p + 1 and their mirrors q − p − 1, q − p together.
      split1x2<Conj>(a, p, q, pair(c, t1[0]), pair(s, t1[1]), pair(c3, t1[2]), pair(s3, t1[3]));
      split1x2<Conj>(a, q - p - 1, q, pair(t1[1], s), pair(t1[0], c), pair(-t1[3], -s3), pair(-t1[2], -c3));
      t0[0] = t1[0]; t0[1] = t1[1]; t0[2] = t1[2]; t0[3] = t1[3];
      continue;
    }
#endif
    split1<Conj>(a, p, q, c, s, c3, s3);
    split1<Conj>(a, q - p, q, s, c, -s3, -c3);
    if (k + 1 < f) {
      const int p2 = p + 1;
      split1<Conj>(a, p2, q, t1[0], t1[1], t1[2], t1[3]);
      split1<Conj>(a, q - p2, q, t1[1], t1[0], -t1[3], -t1[2]);
    }
    t0[0] = t1[0]; t0[1] = t1[1]; t0[2] = t1[2]; t0[3] = t1[3];
  }
  split1<Conj>(a, e, q, w4, w4, -w4, w4);
}

// Wide: the AVX2 split stages (the kernels stay SSE2).
template <bool Simd, bool Wide>
void sub_transform(float* a, int m, const float* wend, const KernelConsts& k) {
  if (m == 16) { kernel16_any<Simd>(a, k); return; }
  if (m == 8) { kernel8_any<Simd>(a, k.w4); return; }
#if defined(AUDIO_TRANSFORM_AVX2)
  if (Wide) split_stage_avx2(a, m, wend - m, k.w4);
  else
#endif
    split_stage<Simd>(a, m, wend - m, k.w4);
  sub_transform<Simd, Wide>(a, m >> 1, wend, k);
  sub_transform<Simd, Wide>(a + m, m >> 2, wend, k);
  sub_transform<Simd, Wide>(a + m + (m >> 1), m >> 2, wend, k);
}

// Bit-reversal permutation of m complex points (m ≥ 8). An index splits into a high part x,
// a middle bit c (odd bit counts only) and a low part y of q bits each; its reverse is
// (rev y, c, rev x), which is larger exactly when x < rev y, so each pair is visited once
// without a test. The table of reversed parts is built in `scratch` (at least
// round(sqrt(m)) entries).
void bit_reverse(float* a, int m, int* scratch) {
  int bits = 0;
  while ((1 << bits) < m) ++bits;
  const int q = bits >> 1, r = 1 << q;
  const int mid = (bits & 1) ? 2 : 1;  // an odd bit count has one middle bit
  int* rev = scratch;
  rev[0] = 0;
  for (int k = 1; k < r; ++k) rev[k] = (rev[k >> 1] >> 1) | ((k & 1) << (q - 1));
  const int hi = r * mid;  // weight of the high part
  uint8_t* base = reinterpret_cast<uint8_t*>(a);  // a complex value moves as one 8-byte word
  for (int y = 0; y < r; ++y) {
    const int ry = rev[y];
    for (int x = 0; x < ry; ++x) {
      for (int c = 0; c < mid; ++c) {
        const size_t j = size_t(x * hi + c * r + y), rj = size_t(ry * hi + c * r + rev[x]);
        uint64_t u, v;
        std::memcpy(&u, base + 8 * j, 8);
        std::memcpy(&v, base + 8 * rj, 8);
        std::memcpy(base + 8 * j, &v, 8);
        std::memcpy(base + 8 * rj, &u, 8);
      }
    }
  }
}

// Negates every imaginary part of n floats (n a multiple of 4).
template <bool Simd>
void conjugate(float* a, int n) {
#if defined(__SSE2__)
  if (Simd) {
    const __m128 neg_im = sign_mask(0.0f, -0.0f);
    for (int j = 0; j < n; j += 4) _mm_storeu_ps(a + j, _mm_xor_ps(_mm_loadu_ps(a + j), neg_im));
    return;
  }
#endif
  for (int j = 1; j < n; j += 2) a[j] = -a[j];
}

KernelConsts kernel_consts(int n, const float* w, int nw) {
  KernelConsts k;
  k.w4 = nw > 2 ? w[1] : 0.70710678f;
  k.c1 = k.s1 = 0;
  if (n >= 32) {
    const float* l = w + nw - 8;  // the level of 4 entries: 0.5 / cos(π/8), 0.5 / cos(3π/8)
    k.c1 = float(0.5 / double(l[2]));
    k.s1 = float(0.5 / double(l[3]));
  }
  return k;
}

// X[k] = Σ z[j] e^(±2πijk/(n/2)), sign + when forward.
template <bool Simd, bool Wide>
void complex_fft(int n, bool forward, float* a, int* sizes, const float* w, int nw) {
  if (n == 4) {
    dft2(a);
    return;
  }
  if (n == 8) {
    const float s = forward ? 1.0f : -1.0f;
    const float x0r = a[0] + a[4], x0i = a[1] + a[5];
    const float x1r = a[0] - a[4], x1i = a[1] - a[5];
    const float x2r = a[2] + a[6], x2i = a[3] + a[7];
    const float x3r = a[2] - a[6], x3i = a[3] - a[7];
    a[0] = x0r + x2r;
    a[1] = x0i + x2i;
    a[4] = x0r - x2r;
    a[5] = x0i - x2i;
    // X1 = x1 + (±i)·x3, X3 = x1 − (±i)·x3
    a[2] = x1r - s * x3i;
    a[3] = x1i + s * x3r;
    a[6] = x1r + s * x3i;
    a[7] = x1i - s * x3r;
    return;
  }
  const int m = n >> 1;
  const KernelConsts k = kernel_consts(n, w, nw);
  if (n <= 32) {
    if (!forward) conjugate<Simd>(a, n);
    if (n == 16) kernel8_any<Simd>(a, k.w4);
    else kernel16_any<Simd>(a, k);
  } else {
    const float* wend = w + nw;
    const float* top = wend - (n >> 2);
    if (forward) first_stage<false, Simd, Wide>(a, m, top, k.w4);
    else first_stage<true, Simd, Wide>(a, m, top, k.w4);
    sub_transform<Simd, Wide>(a, m >> 1, wend, k);
    sub_transform<Simd, Wide>(a + m, m >> 2, wend, k);
    sub_transform<Simd, Wide>(a + m + (m >> 1), m >> 2, wend, k);
  }
  bit_reverse(a, m, sizes + 2);
  if (!forward) conjugate<Simd>(a, n);
}

// ---- real steps --------------------------------------------------------------------------

#if defined(AUDIO_TRANSFORM_AVX2)
// The AVX2 forms of the real steps below: the same lanes as their SSE2 loops, twice as many a
// step. Each advances j (and kk) over what it did; the caller's loops finish the rest.
AUDIO_AVX2 inline __m256 reverse_pairs(__m256 v) {  // complex values in reverse order
  const __m256 s = _mm256_permute2f128_ps(v, v, 0x01);
  return _mm256_shuffle_ps(s, s, _MM_SHUFFLE(1, 0, 3, 2));
}

template <bool Forward>
AUDIO_AVX2 void real_step_wide(int n, float* a, int nc, const float* c, int ks, int& j, int& kk) {
  const int m = n >> 1;
  const __m256 neg_re = _mm256_setr_ps(-0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f);
  const __m256 neg_im = _mm256_setr_ps(0.0f, -0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f, -0.0f);
  for (; j + 6 < m; j += 8) {
    const int k = n - j;
    const int k0 = kk + ks, k1 = kk + 2 * ks, k2 = kk + 3 * ks, k3 = kk + 4 * ks;
    kk = k3;
    const float r0 = 0.5f - c[nc - k0], r1 = 0.5f - c[nc - k1];
    const float r2 = 0.5f - c[nc - k2], r3 = 0.5f - c[nc - k3];
    const __m256 wr = _mm256_setr_ps(r0, r0, r1, r1, r2, r2, r3, r3);
    const __m256 wi = _mm256_setr_ps(c[k0], c[k0], c[k1], c[k1], c[k2], c[k2], c[k3], c[k3]);
    const __m256 va = _mm256_loadu_ps(a + j);
    const __m256 b = reverse_pairs(_mm256_loadu_ps(a + k - 6));  // a[k], a[k − 2], ...
    const __m256 x = _mm256_add_ps(va, _mm256_xor_ps(b, neg_re));
    const __m256 xs = _mm256_shuffle_ps(x, x, _MM_SHUFFLE(2, 3, 0, 1));
    const __m256 wx = _mm256_mul_ps(wi, xs);
    const __m256 y = _mm256_add_ps(_mm256_mul_ps(wr, x), _mm256_xor_ps(wx, Forward ? neg_re : neg_im));
    _mm256_storeu_ps(a + j, _mm256_sub_ps(va, y));
    _mm256_storeu_ps(a + k - 6, reverse_pairs(_mm256_add_ps(b, _mm256_xor_ps(y, neg_im))));
  }
}

AUDIO_AVX2 void cosine_step_wide(int n, float* a, int nc, const float* c, int& j) {
  const int m = n >> 1;
  for (; j + 7 < m; j += 8) {
    const int k = n - j;
    const __m256 lo = _mm256_loadu_ps(c + j);
    const __m256 hi_r = _mm256_loadu_ps(c + nc - j - 7);
    const __m256 hs = _mm256_permute2f128_ps(hi_r, hi_r, 0x01);
    const __m256 hi = _mm256_shuffle_ps(hs, hs, _MM_SHUFFLE(0, 1, 2, 3));
    const __m256 wr = _mm256_sub_ps(lo, hi), wi = _mm256_add_ps(lo, hi);
    const __m256 aj = _mm256_loadu_ps(a + j);
    const __m256 ak_r = _mm256_loadu_ps(a + k - 7);
    const __m256 aks = _mm256_permute2f128_ps(ak_r, ak_r, 0x01);
    const __m256 ak = _mm256_shuffle_ps(aks, aks, _MM_SHUFFLE(0, 1, 2, 3));
    const __m256 xr = _mm256_sub_ps(_mm256_mul_ps(wi, aj), _mm256_mul_ps(wr, ak));
    _mm256_storeu_ps(a + j, _mm256_add_ps(_mm256_mul_ps(wr, aj), _mm256_mul_ps(wi, ak)));
    const __m256 xs = _mm256_permute2f128_ps(xr, xr, 0x01);
    _mm256_storeu_ps(a + k - 7, _mm256_shuffle_ps(xs, xs, _MM_SHUFFLE(0, 1, 2, 3)));
  }
}

AUDIO_AVX2 void dct_unpack_wide(int n, float* a, int& j) {
  for (; j + 7 < n; j += 8) {
    const __m256 v = _mm256_loadu_ps(a + j);
    const __m256 e = _mm256_shuffle_ps(v, v, _MM_SHUFFLE(2, 0, 2, 0));
    const __m256 o = _mm256_shuffle_ps(v, v, _MM_SHUFFLE(3, 1, 3, 1));
    _mm256_storeu_ps(a + j - 1, _mm256_unpacklo_ps(_mm256_sub_ps(e, o), _mm256_add_ps(e, o)));
  }
}
#endif

// Forward: y = w·x; backward: y = conj(w)·x, with w = (0.5 − c[nc − kk], c[kk]) and
// x = (a[j] − a[k], a[j+1] + a[k+1]); then a[j] −= yr, a[j+1] −= yi, a[k] += yr, a[k+1] −= yi.
template <bool Forward, bool Simd, bool Wide = false>
void real_step(int n, float* a, int nc, const float* c) {
  const int m = n >> 1, ks = 2 * nc / m;
  int kk = 0;
  int j = 2;
#if defined(AUDIO_TRANSFORM_AVX2)
  if (Wide) real_step_wide<Forward>(n, a, nc, c, ks, j, kk);
#endif
#if defined(__SSE2__)
  if (Simd) {
    // Positions j, j + 2 with their partners k = n − j, n − j − 2 (loaded as one register
    // and swapped into the same order).
    const __m128 neg_re = sign_mask(-0.0f, 0.0f), neg_im = sign_mask(0.0f, -0.0f);
    for (; j + 2 < m; j += 4) {
      const int k = n - j;
      const int k0 = kk + ks, k1 = kk + 2 * ks;
      kk = k1;
      const __m128 wr = pair(0.5f - c[nc - k0], 0.5f - c[nc - k1]);
      const __m128 wi = pair(c[k0], c[k1]);
      const __m128 va = _mm_loadu_ps(a + j);
      const __m128 vb = _mm_loadu_ps(a + k - 2);
      const __m128 b = _mm_shuffle_ps(vb, vb, _MM_SHUFFLE(1, 0, 3, 2));  // (a[k], a[k+1], a[k-2], a[k-1])
      const __m128 x = _mm_add_ps(va, _mm_xor_ps(b, neg_re));           // (xr, xi)
      const __m128 xs = _mm_shuffle_ps(x, x, _MM_SHUFFLE(2, 3, 0, 1));    // (xi, xr)
      const __m128 y = _mm_add_ps(_mm_mul_ps(wr, x), _mm_xor_ps(_mm_mul_ps(wi, xs), Forward ? neg_re : neg_im));
      _mm_storeu_ps(a + j, _mm_sub_ps(va, y));
      const __m128 nb = _mm_add_ps(b, _mm_xor_ps(y, neg_im));
      _mm_storeu_ps(a + k - 2, _mm_shuffle_ps(nb, nb, _MM_SHUFFLE(1, 0, 3, 2)));
    }
  }
#endif
  for (; j < m; j += 2) {
    const int k = n - j;
    kk += ks;
    const float wr = 0.5f - c[nc - kk], wi = c[kk];
    const float xr = a[j] - a[k], xi = a[j + 1] + a[k + 1];
    const float yr = Forward ? wr * xr - wi * xi : wr * xr + wi * xi;
    const float yi = Forward ? wr * xi + wi * xr : wr * xi - wi * xr;
    a[j] -= yr;
    a[j + 1] -= yi;
    a[k] += yr;
    a[k + 1] -= yi;
  }
}

template <bool Simd, bool Wide = false>
void cosine_step(int n, float* a, int nc, const float* c) {
  const int m = n >> 1, ks = nc / n;
  int kk = 0;
  int j = 1;
#if defined(AUDIO_TRANSFORM_AVX2)
  if (Wide && ks == 1) cosine_step_wide(n, a, nc, c, j);
#endif
#if defined(__SSE2__)
  if (Simd && ks == 1) {
    // Positions j .. j + 3 with their partners n − j .. n − j − 3 (loaded as one register and
    // reversed), the cosines c[j ..] and c[nc − j ..] likewise: lane for lane the plain steps.
    for (; j + 3 < m; j += 4) {
      const int k = n - j;
      const __m128 lo = _mm_loadu_ps(c + j);
      const __m128 hi_r = _mm_loadu_ps(c + nc - j - 3);
      const __m128 hi = _mm_shuffle_ps(hi_r, hi_r, _MM_SHUFFLE(0, 1, 2, 3));
      const __m128 wr = _mm_sub_ps(lo, hi), wi = _mm_add_ps(lo, hi);
      const __m128 aj = _mm_loadu_ps(a + j);
      const __m128 ak_r = _mm_loadu_ps(a + k - 3);
      const __m128 ak = _mm_shuffle_ps(ak_r, ak_r, _MM_SHUFFLE(0, 1, 2, 3));
      const __m128 xr = _mm_sub_ps(_mm_mul_ps(wi, aj), _mm_mul_ps(wr, ak));
      _mm_storeu_ps(a + j, _mm_add_ps(_mm_mul_ps(wr, aj), _mm_mul_ps(wi, ak)));
      _mm_storeu_ps(a + k - 3, _mm_shuffle_ps(xr, xr, _MM_SHUFFLE(0, 1, 2, 3)));
    }
    kk = j - 1;
  }
#endif
  for (; j < m; ++j) {
    const int k = n - j;
    kk += ks;
    const float wr = c[kk] - c[nc - kk], wi = c[kk] + c[nc - kk];
    const float xr = wi * a[j] - wr * a[k];
    a[j] = wr * a[j] + wi * a[k];
    a[k] = xr;
  }
  a[m] *= c[0];
}

// After the forward cosine transform's real DFT: a[j − 1] = a[j] − a[j + 1], a[j] += a[j + 1]
// for even j from 2 (each pair reads only values not yet written), a[n − 1] = a[0] − a[1].
template <bool Simd, bool Wide = false>
void dct_unpack(int n, float* a) {
  const float x = a[0] - a[1];
  a[0] += a[1];
  int j = 2;
#if defined(AUDIO_TRANSFORM_AVX2)
  if (Wide) dct_unpack_wide(n, a, j);
#endif
#if defined(__SSE2__)
  if (Simd) {
    for (; j + 3 < n; j += 4) {
      const __m128 v = _mm_loadu_ps(a + j);
      const __m128 e = _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 0, 2, 0));
      const __m128 o = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 1, 3, 1));
      _mm_storeu_ps(a + j - 1, _mm_unpacklo_ps(_mm_sub_ps(e, o), _mm_add_ps(e, o)));
    }
  }
#endif
  for (; j < n; j += 2) {
    a[j - 1] = a[j] - a[j + 1];
    a[j] += a[j + 1];
  }
  a[n - 1] = x;
}

template <bool Simd, bool Wide>
void rdft(int n, int direction, float* a, int* sizes, float* table) {
  int nw = sizes[0];
  if (n > 4 * nw) {
    nw = n >> 2;
    make_twiddles(nw, sizes, table);
  }
  int nc = sizes[1];
  if (n > 4 * nc) {
    nc = n >> 2;
    make_cosines(nc, sizes, table + nw);
  }
  const float* c = table + nw;
  if (direction >= 0) {
    complex_fft<Simd, Wide>(n, true, a, sizes, table, nw);
    if (n > 4) real_step<true, Simd, Wide>(n, a, nc, c);
    const float x = a[0] - a[1];
    a[0] += a[1];
    a[1] = x;
  } else {
    a[1] = 0.5f * (a[0] - a[1]);
    a[0] -= a[1];
    if (n > 4) real_step<false, Simd, Wide>(n, a, nc, c);
    complex_fft<Simd, Wide>(n, false, a, sizes, table, nw);
  }
}

template <bool Simd, bool Wide>
void dct(int n, int direction, float* a, int* sizes, float* table) {
  int nw = sizes[0];
  if (n > 4 * nw) {
    nw = n >> 2;
    make_twiddles(nw, sizes, table);
  }
  int nc = sizes[1];
  if (n > nc) {
    nc = n;
    make_cosines(nc, sizes, table + nw);
  }
  const float* c = table + nw;
  if (direction >= 0) {
    cosine_step<Simd, Wide>(n, a, nc, c);
    complex_fft<Simd, Wide>(n, true, a, sizes, table, nw);
    if (n > 4) real_step<true, Simd, Wide>(n, a, nc, c);
    dct_unpack<Simd, Wide>(n, a);
  } else {
    const float x = a[n - 1];
    for (int j = n - 2; j >= 2; j -= 2) {
      a[j + 1] = a[j] - a[j - 1];
      a[j] += a[j - 1];
    }
    a[1] = a[0] - x;
    a[0] += x;
    if (n > 4) real_step<false, Simd, Wide>(n, a, nc, c);
    complex_fft<Simd, Wide>(n, false, a, sizes, table, nw);
    cosine_step<Simd, Wide>(n, a, nc, c);
  }
}

}  // namespace

uint32_t audio_transform_sizes_entries(uint32_t n) {
  return 2 + uint32_t(std::nearbyint(std::sqrt(double(n / 2))));
}

void audio_rdft(int n, int direction, float* a, int* sizes, float* table) {
  rdft<true, false>(n, direction, a, sizes, table);
}
void audio_dct(int n, int direction, float* a, int* sizes, float* table) {
  dct<true, false>(n, direction, a, sizes, table);
}
void audio_rdft_plain(int n, int direction, float* a, int* sizes, float* table) {
  rdft<false, false>(n, direction, a, sizes, table);
}
void audio_dct_plain(int n, int direction, float* a, int* sizes, float* table) {
  dct<false, false>(n, direction, a, sizes, table);
}
#if defined(AUDIO_TRANSFORM_AVX2)
void audio_rdft_avx2(int n, int direction, float* a, int* sizes, float* table) {
  rdft<true, true>(n, direction, a, sizes, table);
}
void audio_dct_avx2(int n, int direction, float* a, int* sizes, float* table) {
  dct<true, true>(n, direction, a, sizes, table);
}
#endif
