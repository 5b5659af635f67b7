// The SSE2 group converters: 16-bit lanes, up to 16 pixels per step.
//
// Their arithmetic: luma term = (max(Y − 16, 0) × 4 × 19077) >> 16 with no upper limit; each
// component = luma term + chroma term; clamp by adding 0x7F00 with signed saturation and
// subtracting it with unsigned saturation. The chroma terms are the table values
// trunc(k × (C − 128) / 32768), computed here from |C − 128| with unsigned high products
// (exact for every C) and the sign put back. Grey: the luma term clamped, or for 16-bit the
// coarse level times the packing's unit. The tests hold every converter to a plain model of
// exactly this arithmetic.
#include "convert/convert_internal.h"

#if defined(__i386__) || defined(__x86_64__)
#if defined(__GNUC__) && !defined(__clang__) && !defined(__SSE2__)
#pragma GCC target("sse2")
#endif
#include <emmintrin.h>

#include <cstring>
#include <type_traits>
#include <utility>

// The spans are inlined into both their cursor form and their band form.
#define KORVA_SPAN inline __attribute__((always_inline))

namespace {

inline __m128i load_exact(const uint8_t* p, uint32_t n) {  // n ≤ 16 bytes, the rest zero
  alignas(16) uint8_t buf[16] = {};
  std::memcpy(buf, p, n);
  return _mm_load_si128(reinterpret_cast<const __m128i*>(buf));
}

inline __m128i apply_sign(__m128i mag, __m128i sign) {
  return _mm_sub_epi16(_mm_xor_si128(mag, sign), sign);
}

struct Terms {
  __m128i bt, gt, rt;  // per chroma sample, 16-bit lanes
};

// Chroma terms of 8 samples (bytes in the low half of cb8 / cr8).
inline Terms chroma_terms(__m128i cb8, __m128i cr8) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i k128 = _mm_set1_epi16(128);
  __m128i db = _mm_sub_epi16(_mm_unpacklo_epi8(cb8, zero), k128);
  __m128i dr = _mm_sub_epi16(_mm_unpacklo_epi8(cr8, zero), k128);
  __m128i sb = _mm_srai_epi16(db, 15), sr = _mm_srai_epi16(dr, 15);
  __m128i mb = apply_sign(db, sb), mr = apply_sign(dr, sr);  // |d|
  Terms t;
  // 66101 = 2 × 32768 + 565; 52299 = 32768 + 19531.
  t.bt = apply_sign(_mm_add_epi16(_mm_slli_epi16(mb, 1), _mm_mulhi_epu16(mb, _mm_set1_epi16(1130))), sb);
  t.rt = apply_sign(_mm_add_epi16(mr, _mm_mulhi_epu16(mr, _mm_set1_epi16(int16_t(39062)))), sr);
  __m128i g_cr = apply_sign(_mm_mulhi_epu16(mr, _mm_set1_epi16(int16_t(53278))), sr);
  __m128i g_cb = apply_sign(_mm_mulhi_epu16(mb, _mm_set1_epi16(25674)), sb);
  t.gt = _mm_sub_epi16(zero, _mm_add_epi16(g_cr, g_cb));
  return t;
}

inline __m128i luma_term(__m128i y16) {
  __m128i t = _mm_subs_epu16(y16, _mm_set1_epi16(16));
  return _mm_mulhi_epu16(_mm_slli_epi16(t, 2), _mm_set1_epi16(19077));
}

inline __m128i clamp255(__m128i v) {
  const __m128i k = _mm_set1_epi16(0x7F00);
  return _mm_subs_epu16(_mm_adds_epi16(v, k), k);
}

enum Layout { kL32, kL32R, kL24, kL24R, kL16 };
enum AlphaKind { kNoAlpha, kAlphaByte, kAlphaNibble, kAlphaBit };

template <Layout L>
inline __m128i clamp_for(__m128i v) {
  if constexpr (L == kL16) return clamp255(v);
  return v;
}

struct Pixels {  // 16 pixels, 16-bit lanes: [0] pixels 0..7, [1] pixels 8..15
  __m128i b[2], g[2], r[2];
};

struct Packing16 {
  __m128i sb, sg, sr;  // right shifts (8 − bits)
  __m128i pb, pg, pr;  // left shifts (positions)
};

inline Packing16 packing16(const PackingTables* pack) {
  const PackingTables& t = *pack;
  return {_mm_cvtsi32_si128(int(8 - t.bits[0])), _mm_cvtsi32_si128(int(8 - t.bits[1])),
          _mm_cvtsi32_si128(int(8 - t.bits[2])), _mm_cvtsi32_si128(int(t.shift[0])),
          _mm_cvtsi32_si128(int(t.shift[1])), _mm_cvtsi32_si128(int(t.shift[2]))};
}

template <uint32_t kBytes>
inline void store_chunks(uint8_t* d, const __m128i* v) {
  for (uint32_t i = 0; i < kBytes / 16; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16 * i), v[i]);
  if constexpr (kBytes % 16 != 0) _mm_storel_epi64(reinterpret_cast<__m128i*>(d + kBytes / 16 * 16), v[kBytes / 16]);
}

// Writes n (4, 8 or 16) pixels, each kW times. `alpha` holds the 16 alpha bytes.
template <Layout L, AlphaKind A, int kW, uint32_t n>
inline void store_rgb(uint8_t* d, const Pixels& p, __m128i alpha, const Packing16& pk) {
  __m128i out[8];
  if (L == kL16) {
    const __m128i zero = _mm_setzero_si128();
    for (int h = 0; h < 2; ++h) {
      __m128i v = _mm_or_si128(
          _mm_or_si128(_mm_sll_epi16(_mm_srl_epi16(p.b[h], pk.sb), pk.pb),
                       _mm_sll_epi16(_mm_srl_epi16(p.g[h], pk.sg), pk.pg)),
          _mm_sll_epi16(_mm_srl_epi16(p.r[h], pk.sr), pk.pr));
      if (A != kNoAlpha) {
        __m128i a16 = h ? _mm_unpackhi_epi8(alpha, zero) : _mm_unpacklo_epi8(alpha, zero);
        a16 = _mm_and_si128(a16, _mm_set1_epi16(A == kAlphaNibble ? 0xF0 : 0x80));
        v = _mm_or_si128(v, _mm_slli_epi16(a16, 8));
      }
      if (kW == 1) {
        out[h] = v;
      } else {
        out[2 * h] = _mm_unpacklo_epi16(v, v);
        out[2 * h + 1] = _mm_unpackhi_epi16(v, v);
      }
    }
    store_chunks<n * 2 * kW>(d, out);
    return;
  }
  const bool rgb_order = L == kL32R || L == kL24R;
  __m128i b8 = _mm_packus_epi16(p.b[0], p.b[1]);
  __m128i g8 = _mm_packus_epi16(p.g[0], p.g[1]);
  __m128i r8 = _mm_packus_epi16(p.r[0], p.r[1]);
  if (rgb_order) std::swap(b8, r8);
  __m128i a8 = A == kAlphaByte ? alpha : _mm_setzero_si128();
  __m128i lo = _mm_unpacklo_epi8(b8, g8), hi = _mm_unpackhi_epi8(b8, g8);
  __m128i ra_lo = _mm_unpacklo_epi8(r8, a8), ra_hi = _mm_unpackhi_epi8(r8, a8);
  __m128i px[4] = {_mm_unpacklo_epi16(lo, ra_lo), _mm_unpackhi_epi16(lo, ra_lo),
                   _mm_unpacklo_epi16(hi, ra_hi), _mm_unpackhi_epi16(hi, ra_hi)};
  if (kW == 1) {
    for (int i = 0; i < 4; ++i) out[i] = px[i];
  } else {
    for (int i = 0; i < 4; ++i) {
      out[2 * i] = _mm_unpacklo_epi32(px[i], px[i]);
      out[2 * i + 1] = _mm_unpackhi_epi32(px[i], px[i]);
    }
  }
  if (L == kL32 || L == kL32R) {
    store_chunks<n * 4 * kW>(d, out);
    return;
  }
  alignas(16) uint8_t buf[128];
  for (uint32_t i = 0; i < n * kW / 4; ++i) _mm_store_si128(reinterpret_cast<__m128i*>(buf + 16 * i), out[i]);
  for (uint32_t i = 0; i < n * kW; ++i) {
    d[3 * i] = buf[4 * i];
    d[3 * i + 1] = buf[4 * i + 1];
    d[3 * i + 2] = buf[4 * i + 2];
  }
}

template <Layout L, AlphaKind A, bool kGrey, int kW, bool kOdd>
KORVA_SPAN void rgb_span(CursorPositions& k, uint32_t units, const PackingTables* pack) {
  constexpr uint32_t kBpp = L == kL16 ? 2 : (L == kL24 || L == kL24R) ? 3 : 4;
  const __m128i zero = _mm_setzero_si128();
  const Packing16 pk = L == kL16 ? packing16(pack) : Packing16{};
  const __m128i grey_scale = _mm_set1_epi16(int16_t(pack->simd_grey_scale));
  const __m128i grey_clamp = _mm_set1_epi16(int16_t(pack->simd_grey_clamp));
  const __m128i grey_unit = _mm_set1_epi16(int16_t(pack->simd_grey_unit));
  auto step = [&](auto size) {
    constexpr uint32_t n = decltype(size)::value;
    __m128i tb[2], tg[2], tr[2];
    if (!kGrey) {
      const uint32_t samples = n / 2 + (kOdd ? 1 : 0);
      __m128i cb8, cr8;
      if (n == 16) {
        cb8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k.cb));
        cr8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k.cr));
      } else {
        cb8 = load_exact(k.cb, samples > 8 ? 8 : samples);
        cr8 = load_exact(k.cr, samples > 8 ? 8 : samples);
      }
      Terms t = chroma_terms(cb8, cr8);
      if (!kOdd) {
        tb[0] = _mm_unpacklo_epi16(t.bt, t.bt); tb[1] = _mm_unpackhi_epi16(t.bt, t.bt);
        tg[0] = _mm_unpacklo_epi16(t.gt, t.gt); tg[1] = _mm_unpackhi_epi16(t.gt, t.gt);
        tr[0] = _mm_unpacklo_epi16(t.rt, t.rt); tr[1] = _mm_unpackhi_epi16(t.rt, t.rt);
      } else {
        // Pixel j uses sample (j + 1) / 2: interleave the terms of samples k and k + 1.
        __m128i cb1, cr1;
        if (n == 16) {
          cb1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k.cb + 1));
          cr1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k.cr + 1));
        } else {
          cb1 = load_exact(k.cb + 1, samples - 1);
          cr1 = load_exact(k.cr + 1, samples - 1);
        }
        Terms u = chroma_terms(cb1, cr1);
        tb[0] = _mm_unpacklo_epi16(t.bt, u.bt); tb[1] = _mm_unpackhi_epi16(t.bt, u.bt);
        tg[0] = _mm_unpacklo_epi16(t.gt, u.gt); tg[1] = _mm_unpackhi_epi16(t.gt, u.gt);
        tr[0] = _mm_unpacklo_epi16(t.rt, u.rt); tr[1] = _mm_unpackhi_epi16(t.rt, u.rt);
      }
    }
    for (int row = 0; row < 2; ++row) {
      const uint8_t* yp = row ? k.y1 : k.y0;
      const uint8_t* ap = row ? k.a1 : k.a0;
      __m128i y8 = n == 16 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(yp)) : load_exact(yp, n);
      __m128i a8 = zero;
      if (A != kNoAlpha)
        a8 = n == 16 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(ap)) : load_exact(ap, n);
      Pixels p;
      for (int h = 0; h < 2; ++h) {
        __m128i y16 = h ? _mm_unpackhi_epi8(y8, zero) : _mm_unpacklo_epi8(y8, zero);
        if (kGrey && L == kL16) {
          __m128i level = _mm_mulhi_epu16(_mm_subs_epu16(y16, _mm_set1_epi16(16)), grey_scale);
          level = _mm_subs_epu16(_mm_adds_epi16(level, grey_clamp), grey_clamp);
          p.b[h] = _mm_mullo_epi16(level, grey_unit);
          continue;
        }
        __m128i lum = luma_term(y16);
        // The 24- and 32-bit stores pack with unsigned saturation, which is the same clamp
        // to 0..255 for every sum that occurs; the 16-bit fields need it done here.
        if (kGrey) {
          p.b[h] = p.g[h] = p.r[h] = clamp_for<L>(lum);
        } else {
          p.b[h] = clamp_for<L>(_mm_add_epi16(lum, tb[h]));
          p.g[h] = clamp_for<L>(_mm_add_epi16(lum, tg[h]));
          p.r[h] = clamp_for<L>(_mm_add_epi16(lum, tr[h]));
        }
      }
      uint8_t* d = row ? k.dst1 : k.dst0;
      if (kGrey && L == kL16) {
        // The grey word is complete: store it with the alpha bits.
        __m128i out[4];
        for (int h = 0; h < 2; ++h) {
          __m128i v = p.b[h];
          if (A != kNoAlpha) {
            __m128i a16 = h ? _mm_unpackhi_epi8(a8, zero) : _mm_unpacklo_epi8(a8, zero);
            a16 = _mm_and_si128(a16, _mm_set1_epi16(A == kAlphaNibble ? 0xF0 : 0x80));
            v = _mm_or_si128(v, _mm_slli_epi16(a16, 8));
          }
          if (kW == 1) out[h] = v;
          else { out[2 * h] = _mm_unpacklo_epi16(v, v); out[2 * h + 1] = _mm_unpackhi_epi16(v, v); }
        }
        store_chunks<n * 2 * kW>(d, out);
      } else {
        store_rgb<L, A, kW, n>(d, p, a8, pk);
      }
    }
    k.y0 += n;
    k.y1 += n;
    if (A != kNoAlpha) {
      k.a0 += n;
      k.a1 += n;
    }
    k.cb += n / 2;
    k.cr += n / 2;
    k.dst0 += n * kBpp * kW;
    k.dst1 += n * kBpp * kW;
  };
  uint32_t left = 4 * units;
  for (; left >= 16; left -= 16) step(std::integral_constant<uint32_t, 16>{});
  if (left >= 8) {
    step(std::integral_constant<uint32_t, 8>{});
    left -= 8;
  }
  if (left >= 4) step(std::integral_constant<uint32_t, 4>{});
}

template <Layout L, AlphaKind A, bool kGrey, int kW, bool kOdd>
void rgb_groups(ConvertCursor* c, uint32_t units) {
  // The cursor in a local: stores through the destination cannot change it.
  CursorPositions k = cursor_positions(c);
  rgb_span<L, A, kGrey, kW, kOdd>(k, units, c->pack);
  cursor_set_positions(c, k);
}

template <Layout L, AlphaKind A, bool kGrey, int kW>
void rgb_band(const BlockBand* band) {
  const PackingTables* pack = band->pack;
  convert_walk_band(band, [pack](CursorPositions& k, uint32_t units) { rgb_span<L, A, kGrey, kW, false>(k, units, pack); });
}

// Packed YUV: a pair (Y0, Y1) takes the chroma sample under its first pixel, in either phase.
template <bool kUyvy, bool kGrey, int kW, bool kOdd>
KORVA_SPAN void yuv_span(CursorPositions& k, uint32_t units) {
  const __m128i grey = _mm_set1_epi8(int8_t(0x80));
  auto step = [&](auto size) {
    constexpr uint32_t n = decltype(size)::value;
    __m128i cb = grey, cr = grey;
    if (!kGrey) {
      const uint32_t samples = kW == 2 && kOdd ? n / 2 + 1 : n / 2;
      cb = n == 16 ? _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k.cb)) : load_exact(k.cb, samples > 8 ? 8 : samples);
      cr = n == 16 ? _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k.cr)) : load_exact(k.cr, samples > 8 ? 8 : samples);
      if (kW == 2) {
        // Every source pixel gets its own chroma sample: (j + phase) / 2.
        if (kOdd) {
          __m128i cb1 = n == 16 ? _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k.cb + 1)) : load_exact(k.cb + 1, samples - 1);
          __m128i cr1 = n == 16 ? _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k.cr + 1)) : load_exact(k.cr + 1, samples - 1);
          cb = _mm_unpacklo_epi8(cb, cb1);
          cr = _mm_unpacklo_epi8(cr, cr1);
        } else {
          cb = _mm_unpacklo_epi8(cb, cb);
          cr = _mm_unpacklo_epi8(cr, cr);
        }
      }
    }
    for (int row = 0; row < 2; ++row) {
      const uint8_t* yp = row ? k.y1 : k.y0;
      __m128i y8 = n == 16 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(yp)) : load_exact(yp, n);
      __m128i out[4];
      if (kW == 1) {
        __m128i uv = _mm_unpacklo_epi8(cb, cr);
        out[0] = kUyvy ? _mm_unpacklo_epi8(uv, y8) : _mm_unpacklo_epi8(y8, uv);
        out[1] = kUyvy ? _mm_unpackhi_epi8(uv, y8) : _mm_unpackhi_epi8(y8, uv);
      } else {
        __m128i cbe = kGrey ? grey : cb, cre = kGrey ? grey : cr;
        for (int h = 0; h < 2; ++h) {
          __m128i a = h ? (kUyvy ? _mm_unpackhi_epi8(cbe, y8) : _mm_unpackhi_epi8(y8, cbe))
                        : (kUyvy ? _mm_unpacklo_epi8(cbe, y8) : _mm_unpacklo_epi8(y8, cbe));
          __m128i b = h ? (kUyvy ? _mm_unpackhi_epi8(cre, y8) : _mm_unpackhi_epi8(y8, cre))
                        : (kUyvy ? _mm_unpacklo_epi8(cre, y8) : _mm_unpacklo_epi8(y8, cre));
          out[2 * h] = _mm_unpacklo_epi16(a, b);
          out[2 * h + 1] = _mm_unpackhi_epi16(a, b);
        }
      }
      store_chunks<n * 2 * kW>(row ? k.dst1 : k.dst0, out);
    }
    k.y0 += n;
    k.y1 += n;
    k.cb += n / 2;
    k.cr += n / 2;
    k.dst0 += n * 2 * kW;
    k.dst1 += n * 2 * kW;
  };
  uint32_t left = 4 * units;
  for (; left >= 16; left -= 16) step(std::integral_constant<uint32_t, 16>{});
  if (left >= 8) {
    step(std::integral_constant<uint32_t, 8>{});
    left -= 8;
  }
  if (left >= 4) step(std::integral_constant<uint32_t, 4>{});
}

template <bool kUyvy, bool kGrey, int kW, bool kOdd>
void yuv_groups(ConvertCursor* c, uint32_t units) {
  CursorPositions k = cursor_positions(c);
  yuv_span<kUyvy, kGrey, kW, kOdd>(k, units);
  cursor_set_positions(c, k);
}

template <bool kUyvy, bool kGrey, int kW>
void yuv_band(const BlockBand* band) {
  convert_walk_band(band, [](CursorPositions& k, uint32_t units) { yuv_span<kUyvy, kGrey, kW, false>(k, units); });
}

template <Layout L, AlphaKind A>
void fill_rgb(ConversionFamily* f) {
  GroupConverter* g = f->groups + kGroupSimd;
  g[kGroupColorEven] = {2, rgb_groups<L, A, false, 1, false>, rgb_band<L, A, false, 1>};
  g[kGroupColorOdd] = {2, rgb_groups<L, A, false, 1, true>, nullptr};
  g[kGroupGrey] = {3, rgb_groups<L, A, true, 1, false>, rgb_band<L, A, true, 1>};
  g[kGroupWideColorEven] = {2, rgb_groups<L, A, false, 2, false>, rgb_band<L, A, false, 2>};
  g[kGroupWideColorOdd] = {2, rgb_groups<L, A, false, 2, true>, nullptr};
  g[kGroupWideGrey] = {3, rgb_groups<L, A, true, 2, false>, rgb_band<L, A, true, 2>};
}

template <bool kUyvy>
void fill_yuv(ConversionFamily* f) {
  GroupConverter* g = f->groups + kGroupSimd;
  g[kGroupColorEven] = {3, yuv_groups<kUyvy, false, 1, false>, yuv_band<kUyvy, false, 1>};
  g[kGroupColorOdd] = {3, yuv_groups<kUyvy, false, 1, true>, nullptr};
  g[kGroupGrey] = {2, yuv_groups<kUyvy, true, 1, false>, yuv_band<kUyvy, true, 1>};
  g[kGroupWideColorEven] = {3, yuv_groups<kUyvy, false, 2, false>, yuv_band<kUyvy, false, 2>};
  g[kGroupWideColorOdd] = {3, yuv_groups<kUyvy, false, 2, true>, nullptr};
  g[kGroupWideGrey] = {2, yuv_groups<kUyvy, true, 2, false>, yuv_band<kUyvy, true, 2>};
}

template <Layout L, AlphaKind A>
GroupConverter rgb_color(bool odd) {
  if (odd) return {2, rgb_groups<L, A, false, 1, true>, nullptr};
  return {2, rgb_groups<L, A, false, 1, false>, rgb_band<L, A, false, 1>};
}
template <bool kUyvy>
GroupConverter yuv_color(bool odd) {
  if (odd) return {3, yuv_groups<kUyvy, false, 1, true>, nullptr};
  return {3, yuv_groups<kUyvy, false, 1, false>, yuv_band<kUyvy, false, 1>};
}

}  // namespace

GroupConverter convert_sse2_color(uint32_t family, bool odd) {
  switch (family) {
    case kFamilyBgr32: return rgb_color<kL32, kNoAlpha>(odd);
    case kFamilyRgb32: return rgb_color<kL32R, kNoAlpha>(odd);
    case kFamilyBgra32: return rgb_color<kL32, kAlphaByte>(odd);
    case kFamilyRgba32: return rgb_color<kL32R, kAlphaByte>(odd);
    case kFamilyBgr24: return rgb_color<kL24, kNoAlpha>(odd);
    case kFamilyRgb24: return rgb_color<kL24R, kNoAlpha>(odd);
    case kFamily16: return rgb_color<kL16, kNoAlpha>(odd);
    case kFamily4444: return rgb_color<kL16, kAlphaNibble>(odd);
    case kFamily5551: return rgb_color<kL16, kAlphaBit>(odd);
    case kFamilyYuy2: return yuv_color<false>(odd);
    case kFamilyUyvy: return yuv_color<true>(odd);
    default: return {0, nullptr, nullptr};
  }
}

bool convert_init_sse2(ConversionFamily* f) {
  fill_rgb<kL32, kNoAlpha>(&f[kFamilyBgr32]);
  fill_rgb<kL32R, kNoAlpha>(&f[kFamilyRgb32]);
  fill_rgb<kL32, kAlphaByte>(&f[kFamilyBgra32]);
  fill_rgb<kL32R, kAlphaByte>(&f[kFamilyRgba32]);
  fill_rgb<kL24, kNoAlpha>(&f[kFamilyBgr24]);
  fill_rgb<kL24R, kNoAlpha>(&f[kFamilyRgb24]);
  fill_rgb<kL16, kNoAlpha>(&f[kFamily16]);
  fill_rgb<kL16, kAlphaNibble>(&f[kFamily4444]);
  fill_rgb<kL16, kAlphaBit>(&f[kFamily5551]);
  fill_yuv<false>(&f[kFamilyYuy2]);
  fill_yuv<true>(&f[kFamilyUyvy]);
  return true;
}

#else

bool convert_init_sse2(ConversionFamily*) { return false; }
GroupConverter convert_sse2_color(uint32_t, bool) { return {0, nullptr, nullptr}; }

#endif
