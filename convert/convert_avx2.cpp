// The AVX2 group converters: the 32-bit families, the 5-6-5 packing of the 16-bit family and
// packed YUV, colour at plain width. The same arithmetic as the SSE2 converters, 32 pixels of a
// row per step; 16 pixels of both rows of a pair in one step (row 0 in the low 128-bit half,
// row 1 in the high one); what is left of a call goes to the SSE2 converter.
//
// Every unpack works inside each 128-bit half, so in a 32-pixel step the halves hold pixels
// 0..15 and 16..31 until the stores put the quarter rows back in order.
#include "convert/convert.h"
#include "convert/convert_internal.h"

#if (defined(__i386__) || defined(__x86_64__)) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#include <utility>

#define KORVA_AVX2 __attribute__((target("avx2")))
#define KORVA_AVX2_SPAN inline __attribute__((target("avx2"), always_inline))

namespace {

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

KORVA_AVX2 inline __m128i load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
KORVA_AVX2 inline __m128i load8(const uint8_t* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
KORVA_AVX2 inline __m256i load32(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
// 16 bytes of each row of a pair: row 0 in the low half, row 1 in the high half.
KORVA_AVX2 inline __m256i load_pair(const uint8_t* p0, const uint8_t* p1) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(load16(p0)), load16(p1), 1);
}
KORVA_AVX2 inline void store32(uint8_t* d, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), v); }

// The chroma terms per pixel, for the two 16-bit halves of a step ([0]: pixels 0..7 of each
// 128-bit half, [1]: pixels 8..15).
struct PixelTerms {
  __m256i b[2], g[2], r[2];
};

KORVA_AVX2 inline PixelTerms spread(const Terms& t, const Terms& u) {
  PixelTerms p;
  p.b[0] = _mm256_unpacklo_epi16(t.bt, u.bt); p.b[1] = _mm256_unpackhi_epi16(t.bt, u.bt);
  p.g[0] = _mm256_unpacklo_epi16(t.gt, u.gt); p.g[1] = _mm256_unpackhi_epi16(t.gt, u.gt);
  p.r[0] = _mm256_unpacklo_epi16(t.rt, u.rt); p.r[1] = _mm256_unpackhi_epi16(t.rt, u.rt);
  return p;
}

// RGB: terms of 32 pixels of a row (16 samples; pixel j uses sample (j + phase) / 2), or of 16
// pixels of a pair (8 samples in both halves).
template <bool kOdd>
KORVA_AVX2 inline PixelTerms rgb_terms32(const CursorPositions& k) {
  Terms t = chroma_terms(load16(k.cb), load16(k.cr));
  if (!kOdd) return spread(t, t);
  return spread(t, chroma_terms(load16(k.cb + 1), load16(k.cr + 1)));
}
template <bool kOdd>
KORVA_AVX2 inline PixelTerms rgb_terms16(const CursorPositions& k) {
  __m128i cb = load8(k.cb), cr = load8(k.cr);
  Terms t = chroma_terms(_mm_unpacklo_epi64(cb, cb), _mm_unpacklo_epi64(cr, cr));
  if (!kOdd) return spread(t, t);
  __m128i cb1 = load8(k.cb + 1), cr1 = load8(k.cr + 1);
  return spread(t, chroma_terms(_mm_unpacklo_epi64(cb1, cb1), _mm_unpacklo_epi64(cr1, cr1)));
}

// The components of 32 pixels as bytes (unsigned saturation: the clamp to 0..255, the same as
// the saturating pair for every sum that occurs), in pixel order within each 128-bit half.
KORVA_AVX2 inline void rgb_bytes(__m256i y8, const PixelTerms& t, __m256i* b8, __m256i* g8, __m256i* r8) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i l0 = luma_term(_mm256_unpacklo_epi8(y8, zero)), l1 = luma_term(_mm256_unpackhi_epi8(y8, zero));
  *b8 = _mm256_packus_epi16(_mm256_add_epi16(l0, t.b[0]), _mm256_add_epi16(l1, t.b[1]));
  *g8 = _mm256_packus_epi16(_mm256_add_epi16(l0, t.g[0]), _mm256_add_epi16(l1, t.g[1]));
  *r8 = _mm256_packus_epi16(_mm256_add_epi16(l0, t.r[0]), _mm256_add_epi16(l1, t.r[1]));
}

// Moves the positions of both rows of a pair on by `pixels` source pixels and `dest_bytes`.
template <bool kAlpha>
inline void advance(CursorPositions& k, uint32_t pixels, uint32_t dest_bytes) {
  k.y0 += pixels;
  k.y1 += pixels;
  if (kAlpha) {
    k.a0 += pixels;
    k.a1 += pixels;
  }
  k.cb += pixels / 2;
  k.cr += pixels / 2;
  k.dst0 += dest_bytes;
  k.dst1 += dest_bytes;
}

// The output of 32 pixels as n vectors whose 128-bit halves, taken in pairs, are: low halves
// of (v[0], v[1]), (v[2], v[3]) the first 16 pixels, high halves the next 16.
template <uint32_t n>
struct Out {
  __m256i v[n];
};

// Stores the first 16 pixels at d0 and the next 16 at d1.
template <uint32_t n>
KORVA_AVX2 inline void store_halves(uint8_t* d0, uint8_t* d1, const Out<n>& o) {
  for (uint32_t i = 0; i < n; i += 2) {
    store32(d0 + 16 * i, _mm256_permute2x128_si256(o.v[i], o.v[i + 1], 0x20));
    store32(d1 + 16 * i, _mm256_permute2x128_si256(o.v[i], o.v[i + 1], 0x31));
  }
}

// 32-bit families: B, G, R, 0 (A) or R, G, B, 0 (A).
template <uint32_t kFamily>
struct Pixels32 {
  static constexpr uint32_t kVectors = 4;
  static constexpr bool kAlpha = kFamily == kFamilyBgra32 || kFamily == kFamilyRgba32;
  static constexpr uint32_t kBytes = 4;
  template <bool kOdd>
  KORVA_AVX2_SPAN static PixelTerms terms32(const CursorPositions& k) { return rgb_terms32<kOdd>(k); }
  template <bool kOdd>
  KORVA_AVX2_SPAN static PixelTerms terms16(const CursorPositions& k) { return rgb_terms16<kOdd>(k); }
  KORVA_AVX2_SPAN static Out<4> pixels(__m256i y8, __m256i a8, const PixelTerms& t) {
    __m256i b8, g8, r8;
    rgb_bytes(y8, t, &b8, &g8, &r8);
    if (kFamily == kFamilyRgb32 || kFamily == kFamilyRgba32) std::swap(b8, r8);
    if (!kAlpha) a8 = _mm256_setzero_si256();
    __m256i lo = _mm256_unpacklo_epi8(b8, g8), hi = _mm256_unpackhi_epi8(b8, g8);
    __m256i ra_lo = _mm256_unpacklo_epi8(r8, a8), ra_hi = _mm256_unpackhi_epi8(r8, a8);
    return {{_mm256_unpacklo_epi16(lo, ra_lo), _mm256_unpackhi_epi16(lo, ra_lo),
             _mm256_unpacklo_epi16(hi, ra_hi), _mm256_unpackhi_epi16(hi, ra_hi)}};
  }
};

// The 16-bit family with the 5-6-5 packing: the fields cut from the component bytes.
struct Pixels565 {
  static constexpr uint32_t kVectors = 2;
  static constexpr bool kAlpha = false;
  static constexpr uint32_t kBytes = 2;
  template <bool kOdd>
  KORVA_AVX2_SPAN static PixelTerms terms32(const CursorPositions& k) { return rgb_terms32<kOdd>(k); }
  template <bool kOdd>
  KORVA_AVX2_SPAN static PixelTerms terms16(const CursorPositions& k) { return rgb_terms16<kOdd>(k); }
  KORVA_AVX2_SPAN static Out<2> pixels(__m256i y8, __m256i, const PixelTerms& t) {
    __m256i b8, g8, r8;
    rgb_bytes(y8, t, &b8, &g8, &r8);
    // High byte: red's top 5 bits, green's top 3; low byte: green's next 3, blue's top 5.
    const __m256i hi = _mm256_or_si256(_mm256_and_si256(r8, _mm256_set1_epi8(int8_t(0xF8))),
                                       _mm256_and_si256(_mm256_srli_epi16(g8, 5), _mm256_set1_epi8(0x07)));
    const __m256i lo = _mm256_or_si256(_mm256_and_si256(_mm256_slli_epi16(g8, 3), _mm256_set1_epi8(int8_t(0xE0))),
                                       _mm256_and_si256(_mm256_srli_epi16(b8, 3), _mm256_set1_epi8(0x1F)));
    return {{_mm256_unpacklo_epi8(lo, hi), _mm256_unpackhi_epi8(lo, hi)}};
  }
};

// Packed YUV: a pair (Y0, Y1) takes the chroma sample under its first pixel, in either phase.
// The "terms" are the interleaved chroma bytes.
template <bool kUyvy>
struct PixelsYuv {
  static constexpr uint32_t kVectors = 2;
  static constexpr bool kAlpha = false;
  static constexpr uint32_t kBytes = 2;
  template <bool>
  KORVA_AVX2_SPAN static __m256i terms32(const CursorPositions& k) {
    __m128i cb = load16(k.cb), cr = load16(k.cr);
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi8(cb, cr)), _mm_unpackhi_epi8(cb, cr), 1);
  }
  template <bool>
  KORVA_AVX2_SPAN static __m256i terms16(const CursorPositions& k) {
    __m128i uv = _mm_unpacklo_epi8(load8(k.cb), load8(k.cr));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(uv), uv, 1);
  }
  KORVA_AVX2_SPAN static Out<2> pixels(__m256i y8, __m256i, __m256i uv) {
    if (kUyvy) return {{_mm256_unpacklo_epi8(uv, y8), _mm256_unpackhi_epi8(uv, y8)}};
    return {{_mm256_unpacklo_epi8(y8, uv), _mm256_unpackhi_epi8(y8, uv)}};
  }
};

template <class F, uint32_t kFamily, bool kOdd>
KORVA_AVX2_SPAN void span(CursorPositions& k, uint32_t units, const PackingTables* pack) {
  constexpr uint32_t kRow = 16 * F::kBytes;  // destination bytes of 16 pixels
  constexpr bool kRowwise = !F::kAlpha && F::kVectors == 2 && kFamily >= kFamilyYuy2;
  uint32_t left = 4 * units;
  if (kRowwise && left >= 64) {
    const uint32_t steps = left / 32;
    const __m256i zero = _mm256_setzero_si256();
    for (int row = 0; row < 2; ++row) {
      const uint8_t* y = row ? k.y1 : k.y0;
      uint8_t* d = row ? k.dst1 : k.dst0;
      for (uint32_t i = 0; i < steps; ++i) {
        CursorPositions at;
        at.cb = k.cb + 16 * i;
        at.cr = k.cr + 16 * i;
        const auto t = F::template terms32<kOdd>(at);
        const Out<F::kVectors> o = F::pixels(load32(y + 32 * i), zero, t);
        store_halves(d + 2 * kRow * i, d + 2 * kRow * i + kRow, o);
      }
    }
    advance<false>(k, 32 * steps, 2 * kRow * steps);
    left -= 32 * steps;
  }
  for (; left >= 32; left -= 32) {
    const auto t = F::template terms32<kOdd>(k);
    const __m256i zero = _mm256_setzero_si256();
    const Out<F::kVectors> o0 = F::pixels(load32(k.y0), F::kAlpha ? load32(k.a0) : zero, t);
    store_halves(k.dst0, k.dst0 + kRow, o0);
    const Out<F::kVectors> o1 = F::pixels(load32(k.y1), F::kAlpha ? load32(k.a1) : zero, t);
    store_halves(k.dst1, k.dst1 + kRow, o1);
    advance<F::kAlpha>(k, 32, 2 * kRow);
  }
  if (left >= 16) {
    const auto t = F::template terms16<kOdd>(k);
    const Out<F::kVectors> o = F::pixels(load_pair(k.y0, k.y1),
                                         F::kAlpha ? load_pair(k.a0, k.a1) : _mm256_setzero_si256(), t);
    store_halves(k.dst0, k.dst1, o);
    advance<F::kAlpha>(k, 16, kRow);
    left -= 16;
  }
  if (left) {
    ConvertCursor c{};
    cursor_set_positions(&c, k);
    c.pack = pack;
    convert_sse2_color(kFamily, kOdd).run(&c, left / 4);
    k = cursor_positions(&c);
  }
}

template <class F, uint32_t kFamily, bool kOdd>
KORVA_AVX2 void groups(ConvertCursor* c, uint32_t units) {
  CursorPositions k = cursor_positions(c);  // a local cursor: the stores cannot change it
  span<F, kFamily, kOdd>(k, units, c->pack);
  cursor_set_positions(c, k);
}

template <class F, uint32_t kFamily>
KORVA_AVX2 void band(const BlockBand* b) {
  for (uint32_t pair = 0; pair < 8; ++pair)
    for (uint32_t i = 0; i < b->run_count; ++i) {
      CursorPositions k = band_positions(*b, pair, i);
      band_prefetch_next_pair(k, b->luma_pitch);
      span<F, kFamily, false>(k, 4 * b->runs[2 * i + 1], b->pack);
    }
}

// The 16-bit family: the 5-6-5 packing here, the others by the SSE2 converters.
template <bool kOdd>
void groups16(ConvertCursor* c, uint32_t units) {
  if (c->pack->format == kFormat565) groups<Pixels565, kFamily16, kOdd>(c, units);
  else convert_sse2_color(kFamily16, kOdd).run(c, units);
}
void band16(const BlockBand* b) {
  if (b->pack->format == kFormat565) band<Pixels565, kFamily16>(b);
  else convert_sse2_color(kFamily16, false).band(b);
}

template <class F, uint32_t kFamily>
void install(ConversionFamily* f, convert_groups_fn even, convert_groups_fn odd, convert_band_fn bands) {
  GroupConverter* g = f[kFamily].groups + kGroupSimd;
  g[kGroupColorEven].run = even;
  g[kGroupColorOdd].run = odd;
  g[kGroupColorEven].band = bands;
}

template <class F, uint32_t kFamily>
void install(ConversionFamily* f) {
  install<F, kFamily>(f, groups<F, kFamily, false>, groups<F, kFamily, true>, band<F, kFamily>);
}

}  // namespace

bool convert_init_avx2(ConversionFamily* f) {
  install<Pixels32<kFamilyBgr32>, kFamilyBgr32>(f);
  install<Pixels32<kFamilyRgb32>, kFamilyRgb32>(f);
  install<Pixels32<kFamilyBgra32>, kFamilyBgra32>(f);
  install<Pixels32<kFamilyRgba32>, kFamilyRgba32>(f);
  install<PixelsYuv<false>, kFamilyYuy2>(f);
  install<PixelsYuv<true>, kFamilyUyvy>(f);
  install<Pixels565, kFamily16>(f, groups16<false>, groups16<true>, band16);
  return true;
}

#else

bool convert_init_avx2(ConversionFamily*) { return false; }

#endif
