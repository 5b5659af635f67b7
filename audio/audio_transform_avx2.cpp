// The audio transforms' AVX2 forms: the splitting stages and the real steps four positions a
// step, lane for lane the SSE2 forms' operations (so the same bits); the kernels and whatever
// the wider steps leave are the SSE2 ones.
#include "audio/audio_transform.h"

#if defined(AUDIO_HAVE_TRANSFORM_AVX2)
#include <immintrin.h>

#include "audio/audio_transform_sse2.h"

#define AUDIO_AVX2 __attribute__((target("avx2")))

namespace audio_xform {
namespace {

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

struct Avx2Ops : Sse2Ops {
  static void split_stage(float* a, int m, const float* w, float w4) { split_stage_avx2(a, m, w, w4); }
  template <bool Conj>
  static void first_stage_lanes(float* a, int q, int f, const float* w, float w4, float hr, float h3, int& k,
                                float* t0) {
    first_stage_wide<Conj>(a, q, f, w, w4, hr, h3, k, t0);
    Sse2Ops::first_stage_lanes<Conj>(a, q, f, w, w4, hr, h3, k, t0);
  }
  template <bool Forward>
  static void real_step_lanes(int n, float* a, int nc, const float* c, int ks, int& j, int& kk) {
    real_step_wide<Forward>(n, a, nc, c, ks, j, kk);
    Sse2Ops::real_step_lanes<Forward>(n, a, nc, c, ks, j, kk);
  }
  static void cosine_step_lanes(int n, float* a, int nc, const float* c, int ks, int& j, int& kk) {
    if (ks == 1) cosine_step_wide(n, a, nc, c, j);
    Sse2Ops::cosine_step_lanes(n, a, nc, c, ks, j, kk);
  }
  static void dct_unpack_lanes(int n, float* a, int& j) {
    dct_unpack_wide(n, a, j);
    Sse2Ops::dct_unpack_lanes(n, a, j);
  }
};

}  // namespace
}  // namespace audio_xform

void audio_rdft_avx2(int n, int direction, float* a, int* sizes, float* table) {
  audio_xform::rdft<audio_xform::Avx2Ops>(n, direction, a, sizes, table);
}
void audio_dct_avx2(int n, int direction, float* a, int* sizes, float* table) {
  audio_xform::dct<audio_xform::Avx2Ops>(n, direction, a, sizes, table);
}

#endif
