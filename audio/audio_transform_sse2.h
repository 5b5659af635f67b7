// Inside the audio transforms: the SSE2 set, two positions a step in registers, lane for lane
// the plain operations. Used by audio_transform_sse2.cpp, and by audio_transform_avx2.cpp for
// its kernels and for what its wider steps leave.
#pragma once
#include "audio/audio_transform_impl.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace audio_xform {

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

struct Sse2Ops {
  static void kernel16(float* a, const KernelConsts& k) { kernel16_sse2(a, k); }
  static void kernel8(float* a, float w4) { kernel8_sse2(a, w4); }
  static void split_stage(float* a, int m, const float* w, float w4) {
    const int q = m >> 2, e = m >> 3;
    split0<false>(a, 0, q);
    int k = 1;
    for (; k + 1 < e; k += 2) split_pair(a, k, q, w);
    split_rest(a, k, e, q, w, w4);
  }
  static void conjugate(float* a, int n) {
    const __m128 neg_im = sign_mask(0.0f, -0.0f);
    for (int j = 0; j < n; j += 4) _mm_storeu_ps(a + j, _mm_xor_ps(_mm_loadu_ps(a + j), neg_im));
  }
  // First-stage steps k while k + 1 < f: positions p = 2k + 1, p + 1 and their mirrors
  // q − p − 1, q − p together; t0 holds step k's stored twiddle and is left holding the next.
  template <bool Conj>
  static void first_stage_lanes(float* a, int q, int f, const float* w, float w4, float hr, float h3, int& k,
                                float* t0) {
    for (; k + 1 < f; ++k) {
      float t1[4];
      first_twiddle(w, k + 1, f, w4, t1);
      const float c = (t0[0] + t1[0]) * hr, s = (t0[1] + t1[1]) * hr;
      const float c3 = (t0[2] + t1[2]) * h3, s3 = (t0[3] + t1[3]) * h3;
      const int p = 2 * k + 1;
      split1x2<Conj>(a, p, q, pair(c, t1[0]), pair(s, t1[1]), pair(c3, t1[2]), pair(s3, t1[3]));
      split1x2<Conj>(a, q - p - 1, q, pair(t1[1], s), pair(t1[0], c), pair(-t1[3], -s3), pair(-t1[2], -c3));
      t0[0] = t1[0]; t0[1] = t1[1]; t0[2] = t1[2]; t0[3] = t1[3];
    }
  }
  // Positions j, j + 2 with their partners k = n − j, n − j − 2 (loaded as one register and
  // swapped into the same order).
  template <bool Forward>
  static void real_step_lanes(int n, float* a, int nc, const float* c, int ks, int& j, int& kk) {
    const int m = n >> 1;
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
  // Positions j .. j + 3 with their partners n − j .. n − j − 3 (loaded as one register and
  // reversed), the cosines c[j ..] and c[nc − j ..] likewise: lane for lane the plain steps.
  static void cosine_step_lanes(int n, float* a, int nc, const float* c, int ks, int& j, int& kk) {
    if (ks != 1) return;
    const int m = n >> 1;
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
  static void dct_unpack_lanes(int n, float* a, int& j) {
    for (; j + 3 < n; j += 4) {
      const __m128 v = _mm_loadu_ps(a + j);
      const __m128 e = _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 0, 2, 0));
      const __m128 o = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 1, 3, 1));
      _mm_storeu_ps(a + j - 1, _mm_unpacklo_ps(_mm_sub_ps(e, o), _mm_add_ps(e, o)));
    }
  }
};

}  // namespace audio_xform

#endif
