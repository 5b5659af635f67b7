// The AVX2 group converters of the 32-bit families (colour, plain width): the same arithmetic
// as the SSE2 ones, 32 pixels per step; what is left of a call goes to the SSE2 converter.
//
// Every unpack works inside each 128-bit half, so the halves hold pixels 0..15 and 16..31 of
// the step until the stores put the four quarter rows back in order.
#include "container/cpu.h"
#include "convert/convert_internal.h"

#if (defined(__i386__) || defined(__x86_64__)) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#include <utility>

#define KORVA_AVX2 __attribute__((target("avx2")))

namespace {

convert_groups_fn g_sse2_rest[4][2];  // [family 0..3][odd]: the SSE2 converter for the rest

KORVA_AVX2 inline __m256i apply_sign(__m256i mag, __m256i sign) {
  return _mm256_sub_epi16(_mm256_xor_si256(mag, sign), sign);
}

struct Terms {
  __m256i bt, gt, rt;
};

// Chroma terms of 16 samples, exactly the table values (see the SSE2 converters).
KORVA_AVX2 inline Terms chroma_terms(__m128i cb16, __m128i cr16) {
  const __m256i k128 = _mm256_set1_epi16(128);
  __m256i db = _mm256_sub_epi16(_mm256_cvtepu8_epi16(cb16), k128);
  __m256i dr = _mm256_sub_epi16(_mm256_cvtepu8_epi16(cr16), k128);
  __m256i sb = _mm256_srai_epi16(db, 15), sr = _mm256_srai_epi16(dr, 15);
  __m256i mb = apply_sign(db, sb), mr = apply_sign(dr, sr);
  Terms t;
  t.bt = apply_sign(_mm256_add_epi16(_mm256_slli_epi16(mb, 1), _mm256_mulhi_epu16(mb, _mm256_set1_epi16(1130))), sb);
  t.rt = apply_sign(_mm256_add_epi16(mr, _mm256_mulhi_epu16(mr, _mm256_set1_epi16(int16_t(39062)))), sr);
  __m256i g_cr = apply_sign(_mm256_mulhi_epu16(mr, _mm256_set1_epi16(int16_t(53278))), sr);
  __m256i g_cb = apply_sign(_mm256_mulhi_epu16(mb, _mm256_set1_epi16(25674)), sb);
  t.gt = _mm256_sub_epi16(_mm256_setzero_si256(), _mm256_add_epi16(g_cr, g_cb));
  return t;
}

KORVA_AVX2 inline __m256i luma_term(__m256i y16) {
  __m256i t = _mm256_subs_epu16(y16, _mm256_set1_epi16(16));
  return _mm256_mulhi_epu16(_mm256_slli_epi16(t, 2), _mm256_set1_epi16(19077));
}

template <bool kRgbOrder, bool kAlpha>
KORVA_AVX2 inline void store_row(uint8_t* d, const uint8_t* y, const uint8_t* a, const __m256i tb[2],
                                 const __m256i tg[2], const __m256i tr[2]) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i y8 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
  __m256i lum[2] = {luma_term(_mm256_unpacklo_epi8(y8, zero)), luma_term(_mm256_unpackhi_epi8(y8, zero))};
  // Unsigned saturation packs the sums to 0..255, the same clamp as the saturating pair.
  __m256i b8 = _mm256_packus_epi16(_mm256_add_epi16(lum[0], tb[0]), _mm256_add_epi16(lum[1], tb[1]));
  __m256i g8 = _mm256_packus_epi16(_mm256_add_epi16(lum[0], tg[0]), _mm256_add_epi16(lum[1], tg[1]));
  __m256i r8 = _mm256_packus_epi16(_mm256_add_epi16(lum[0], tr[0]), _mm256_add_epi16(lum[1], tr[1]));
  if (kRgbOrder) std::swap(b8, r8);
  __m256i a8 = kAlpha ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a)) : zero;
  __m256i lo = _mm256_unpacklo_epi8(b8, g8), hi = _mm256_unpackhi_epi8(b8, g8);
  __m256i ra_lo = _mm256_unpacklo_epi8(r8, a8), ra_hi = _mm256_unpackhi_epi8(r8, a8);
  __m256i p0 = _mm256_unpacklo_epi16(lo, ra_lo), p1 = _mm256_unpackhi_epi16(lo, ra_lo);
  __m256i p2 = _mm256_unpacklo_epi16(hi, ra_hi), p3 = _mm256_unpackhi_epi16(hi, ra_hi);
  __m256i* out = reinterpret_cast<__m256i*>(d);
  _mm256_storeu_si256(out, _mm256_permute2x128_si256(p0, p1, 0x20));
  _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(p2, p3, 0x20));
  _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(p0, p1, 0x31));
  _mm256_storeu_si256(out + 3, _mm256_permute2x128_si256(p2, p3, 0x31));
}

template <uint32_t kFamily, bool kOdd>
KORVA_AVX2 void groups32(ConvertCursor* c, uint32_t units) {
  constexpr bool kRgbOrder = kFamily == kFamilyRgb32 || kFamily == kFamilyRgba32;
  constexpr bool kAlpha = kFamily == kFamilyBgra32 || kFamily == kFamilyRgba32;
  CursorPositions k = cursor_positions(c);  // a local cursor: the stores cannot change it
  uint32_t left = 4 * units;
  for (; left >= 32; left -= 32) {
    __m128i cb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(k.cb));
    __m128i cr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(k.cr));
    Terms t = chroma_terms(cb, cr);
    __m256i tb[2], tg[2], tr[2];
    if (!kOdd) {
      tb[0] = _mm256_unpacklo_epi16(t.bt, t.bt); tb[1] = _mm256_unpackhi_epi16(t.bt, t.bt);
      tg[0] = _mm256_unpacklo_epi16(t.gt, t.gt); tg[1] = _mm256_unpackhi_epi16(t.gt, t.gt);
      tr[0] = _mm256_unpacklo_epi16(t.rt, t.rt); tr[1] = _mm256_unpackhi_epi16(t.rt, t.rt);
    } else {
      // Pixel j uses sample (j + 1) / 2: 17 samples, the terms of k and k + 1 interleaved.
      Terms u = chroma_terms(_mm_loadu_si128(reinterpret_cast<const __m128i*>(k.cb + 1)),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(k.cr + 1)));
      tb[0] = _mm256_unpacklo_epi16(t.bt, u.bt); tb[1] = _mm256_unpackhi_epi16(t.bt, u.bt);
      tg[0] = _mm256_unpacklo_epi16(t.gt, u.gt); tg[1] = _mm256_unpackhi_epi16(t.gt, u.gt);
      tr[0] = _mm256_unpacklo_epi16(t.rt, u.rt); tr[1] = _mm256_unpackhi_epi16(t.rt, u.rt);
    }
    store_row<kRgbOrder, kAlpha>(k.dst0, k.y0, k.a0, tb, tg, tr);
    store_row<kRgbOrder, kAlpha>(k.dst1, k.y1, k.a1, tb, tg, tr);
    k.y0 += 32;
    k.y1 += 32;
    if (kAlpha) {
      k.a0 += 32;
      k.a1 += 32;
    }
    k.cb += 16;
    k.cr += 16;
    k.dst0 += 128;
    k.dst1 += 128;
  }
  cursor_set_positions(c, k);
  if (left) g_sse2_rest[kFamily][kOdd](c, left / 4);
}

}  // namespace

bool convert_init_avx2(ConversionFamily* f) {
  if (cpu_level() < kCpuAvx2) return false;  // the processor lacks it, or KORVA_CPU forbids it
  const convert_groups_fn even[4] = {groups32<0, false>, groups32<1, false>, groups32<2, false>, groups32<3, false>};
  const convert_groups_fn odd[4] = {groups32<0, true>, groups32<1, true>, groups32<2, true>, groups32<3, true>};
  static_assert(kFamilyBgr32 == 0 && kFamilyRgb32 == 1 && kFamilyBgra32 == 2 && kFamilyRgba32 == 3);
  for (int i = 0; i < 4; ++i) {
    GroupConverter* g = f[i].groups + kGroupSimd;
    g_sse2_rest[i][0] = g[kGroupColorEven].run;
    g_sse2_rest[i][1] = g[kGroupColorOdd].run;
    g[kGroupColorEven].run = even[i];
    g[kGroupColorOdd].run = odd[i];
  }
  return true;
}

#else

bool convert_init_avx2(ConversionFamily*) { return false; }

#endif
