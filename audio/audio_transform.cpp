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
// The SSE2 forms (audio_transform_sse2.cpp) handle two positions a step in registers in the
// splitting stages, the kernels and the real steps, lane for lane the same operations as the
// plain code here (so the same bits); audio_rdft_plain and audio_dct_plain are the plain code,
// the reference of the tests. The AVX2 forms (audio_transform_avx2.cpp) take four positions a
// step in the splitting stages and the real steps, again lane for lane; their kernels are the
// SSE2 ones. The three share the driver of audio_transform_impl.h.
#include "audio/audio_transform.h"

#include <cmath>
#include <cstring>

#include "audio/audio_transform_impl.h"

namespace audio_xform {

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

}  // namespace audio_xform

uint32_t audio_transform_sizes_entries(uint32_t n) {
  return 2 + uint32_t(std::nearbyint(std::sqrt(double(n / 2))));
}

void audio_rdft_plain(int n, int direction, float* a, int* sizes, float* table) {
  audio_xform::rdft<audio_xform::PlainOps>(n, direction, a, sizes, table);
}
void audio_dct_plain(int n, int direction, float* a, int* sizes, float* table) {
  audio_xform::dct<audio_xform::PlainOps>(n, direction, a, sizes, table);
}
