// Inside the audio transforms: the plain code and the driver templates that every instruction
// set shares. A set is a record of static operations (Ops): the kernels, the middle splitting
// stage, the conjugation, and the vector lanes of the first stage and of the real steps, which
// advance their position over what they do and leave the rest to the plain loops here.
// audio_transform.cpp holds the plain set, audio_transform_sse2.h/.cpp the SSE2 one,
// audio_transform_avx2.cpp the AVX2 one. See audio_transform.cpp for the method.
#pragma once
#include <cstdint>
#include <cstring>

namespace audio_xform {

// ---- tables (audio_transform.cpp) ----------------------------------------------------------

void make_twiddles(int nw, int* sizes, float* w);
void make_cosines(int nc, int* sizes, float* c);
// Bit-reversal permutation of m complex points (m ≥ 8); `scratch` holds round(sqrt(m)) entries.
void bit_reverse(float* a, int m, int* scratch);

// ---- plain pieces --------------------------------------------------------------------------

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

KernelConsts kernel_consts(int n, const float* w, int nw);

// Positions k .. e - 1 of a split stage one at a time with their mirrors, then the middle one.
inline void split_rest(float* a, int k, int e, int q, const float* w, float w4) {
  for (; k < e; ++k) {
    const float c = w[4 * k], s = w[4 * k + 1], c3 = w[4 * k + 2], s3 = w[4 * k + 3];
    split1<false>(a, k, q, c, s, c3, s3);
    split1<false>(a, q - k, q, s, c, -s3, -c3);
  }
  split1<false>(a, e, q, w4, w4, -w4, w4);
}

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

// The plain set: the plain kernels and stage, no vector lanes.
struct PlainOps {
  static void kernel16(float* a, const KernelConsts& k) { audio_xform::kernel16(a, k); }
  static void kernel8(float* a, float w4) { audio_xform::kernel8(a, w4); }
  // A middle stage on a block of m points (m ≥ 32) with its own twiddle level w.
  static void split_stage(float* a, int m, const float* w, float w4) {
    const int q = m >> 2, e = m >> 3;
    split0<false>(a, 0, q);
    split_rest(a, 1, e, q, w, w4);
  }
  // Negates every imaginary part of n floats (n a multiple of 4).
  static void conjugate(float* a, int n) {
    for (int j = 1; j < n; j += 2) a[j] = -a[j];
  }
  template <bool Conj>
  static void first_stage_lanes(float*, int, int, const float*, float, float, float, int&, float*) {}
  template <bool Forward>
  static void real_step_lanes(int, float*, int, const float*, int, int&, int&) {}
  static void cosine_step_lanes(int, float*, int, const float*, int, int&, int&) {}
  static void dct_unpack_lanes(int, float*, int&) {}
};

// ---- the driver ----------------------------------------------------------------------------

// The first stage on the whole array (m = n / 2 points, m ≥ 32), every other twiddle stored.
template <class Ops, bool Conj>
void first_stage(float* a, int m, const float* w, float w4) {
  const int q = m >> 2, e = m >> 3, f = m >> 4;
  const float hr = w[2], h3 = w[3];
  float t0[4], t1[4];
  first_twiddle(w, 0, f, w4, t0);
  split0<Conj>(a, 0, q);
  int k = 0;
  Ops::template first_stage_lanes<Conj>(a, q, f, w, w4, hr, h3, k, t0);
  for (; k < f; ++k) {
    first_twiddle(w, k + 1, f, w4, t1);
    // Odd position 2k + 1 from its neighbours by the half-angle rule.
    const float c = (t0[0] + t1[0]) * hr, s = (t0[1] + t1[1]) * hr;
    const float c3 = (t0[2] + t1[2]) * h3, s3 = (t0[3] + t1[3]) * h3;
    const int p = 2 * k + 1;
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

template <class Ops>
void sub_transform(float* a, int m, const float* wend, const KernelConsts& k) {
  if (m == 16) { Ops::kernel16(a, k); return; }
  if (m == 8) { Ops::kernel8(a, k.w4); return; }
  Ops::split_stage(a, m, wend - m, k.w4);
  sub_transform<Ops>(a, m >> 1, wend, k);
  sub_transform<Ops>(a + m, m >> 2, wend, k);
  sub_transform<Ops>(a + m + (m >> 1), m >> 2, wend, k);
}

// X[k] = Σ z[j] e^(±2πijk/(n/2)), sign + when forward.
template <class Ops>
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
    if (!forward) Ops::conjugate(a, n);
    if (n == 16) Ops::kernel8(a, k.w4);
    else Ops::kernel16(a, k);
  } else {
    const float* wend = w + nw;
    const float* top = wend - (n >> 2);
    if (forward) first_stage<Ops, false>(a, m, top, k.w4);
    else first_stage<Ops, true>(a, m, top, k.w4);
    sub_transform<Ops>(a, m >> 1, wend, k);
    sub_transform<Ops>(a + m, m >> 2, wend, k);
    sub_transform<Ops>(a + m + (m >> 1), m >> 2, wend, k);
  }
  bit_reverse(a, m, sizes + 2);
  if (!forward) Ops::conjugate(a, n);
}

// Forward: y = w·x; backward: y = conj(w)·x, with w = (0.5 − c[nc − kk], c[kk]) and
// x = (a[j] − a[k], a[j+1] + a[k+1]); then a[j] −= yr, a[j+1] −= yi, a[k] += yr, a[k+1] −= yi.
template <class Ops, bool Forward>
void real_step(int n, float* a, int nc, const float* c) {
  const int m = n >> 1, ks = 2 * nc / m;
  int kk = 0;
  int j = 2;
  Ops::template real_step_lanes<Forward>(n, a, nc, c, ks, j, kk);
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

template <class Ops>
void cosine_step(int n, float* a, int nc, const float* c) {
  const int m = n >> 1, ks = nc / n;
  int kk = 0;
  int j = 1;
  Ops::cosine_step_lanes(n, a, nc, c, ks, j, kk);
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
template <class Ops>
void dct_unpack(int n, float* a) {
  const float x = a[0] - a[1];
  a[0] += a[1];
  int j = 2;
  Ops::dct_unpack_lanes(n, a, j);
  for (; j < n; j += 2) {
    a[j - 1] = a[j] - a[j + 1];
    a[j] += a[j + 1];
  }
  a[n - 1] = x;
}

template <class Ops>
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
    complex_fft<Ops>(n, true, a, sizes, table, nw);
    if (n > 4) real_step<Ops, true>(n, a, nc, c);
    const float x = a[0] - a[1];
    a[0] += a[1];
    a[1] = x;
  } else {
    a[1] = 0.5f * (a[0] - a[1]);
    a[0] -= a[1];
    if (n > 4) real_step<Ops, false>(n, a, nc, c);
    complex_fft<Ops>(n, false, a, sizes, table, nw);
  }
}

template <class Ops>
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
    cosine_step<Ops>(n, a, nc, c);
    complex_fft<Ops>(n, true, a, sizes, table, nw);
    if (n > 4) real_step<Ops, true>(n, a, nc, c);
    dct_unpack<Ops>(n, a);
  } else {
    const float x = a[n - 1];
    for (int j = n - 2; j >= 2; j -= 2) {
      a[j + 1] = a[j] - a[j - 1];
      a[j] += a[j - 1];
    }
    a[1] = a[0] - x;
    a[0] += x;
    if (n > 4) real_step<Ops, false>(n, a, nc, c);
    complex_fft<Ops>(n, false, a, sizes, table, nw);
    cosine_step<Ops>(n, a, nc, c);
  }
}

}  // namespace audio_xform
