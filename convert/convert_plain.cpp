// The integer converters of every family: lone-row, run and group converters for plain,
// 2× width, duplicated-row and 2× width duplicated-row output, colour and grey.
//
// One template writes all of them. A span walks `n` pixels of one or two rows (sharing one
// chroma row) from source x: the chroma position advances after every pixel at an odd x, so
// pixels 2k and 2k + 1 share chroma sample k. The arithmetic is a parameter too, so that the
// same code also gives the tests a plain model of the SIMD converters' arithmetic.
#include <cstring>

#include "convert/convert_internal.h"

namespace {

struct Terms {
  int bt, gt, rt;
};

inline Terms terms_of(uint8_t cb, uint8_t cr) {
  const ColorTables& t = kColor;
  return {t.blue_cb[cb], t.green_cr[cr] + t.green_cb[cb], t.red_cr[cr]};
}

// The integer converters' arithmetic: table lookups.
struct TableMath {
  static int luma(uint8_t y) { return kColor.luma[y]; }
  static uint8_t grey8(uint8_t y) { return kColor.grey[y]; }
  static uint16_t grey16(const PackingTables* p, uint8_t y) { return p->grey16[y]; }
};

// The SIMD converters' arithmetic: the luma term has no upper limit, grey comes from it.
struct SimdMath {
  static int luma(uint8_t y) { return (y > 16 ? y - 16 : 0) * 4 * 19077 >> 16; }
  static uint8_t grey8(uint8_t y) { return color_clamp(luma(y)); }
  static uint16_t grey16(const PackingTables* p, uint8_t y) {
    uint32_t level = (uint32_t(y > 16 ? y - 16 : 0) * p->simd_grey_scale) >> 16;
    uint32_t top = p->simd_grey_clamp == 0x7FF0 ? 15 : 31;
    if (level > top) level = top;
    return uint16_t(level * p->simd_grey_unit);
  }
};

enum Layout { kL32, kL32R, kL24, kL24R, kL16 };
enum AlphaKind { kNoAlpha, kAlphaByte, kAlphaNibble, kAlphaBit };

template <Layout L, AlphaKind A>
struct Rgb {
  static constexpr uint32_t kBpp = L == kL16 ? 2 : (L == kL24 || L == kL24R) ? 3 : 4;
  static constexpr bool kAlpha = A != kNoAlpha;
  static constexpr bool kPairs = false;

  static void put16(uint8_t* p, uint16_t v, uint8_t a) {
    if (A == kAlphaNibble) v = uint16_t(v | ((a & 0xF0) << 8));
    if (A == kAlphaBit) v = uint16_t(v | ((a & 0x80) << 8));
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
  }
  static void put3(uint8_t* p, uint8_t b, uint8_t g, uint8_t r, uint8_t a) {
    if (L == kL32 || L == kL24) { p[0] = b; p[1] = g; p[2] = r; }
    else { p[0] = r; p[1] = g; p[2] = b; }
    if (L == kL32 || L == kL32R) p[3] = A == kAlphaByte ? a : 0;
  }
  template <class M>
  static void color(const PackingTables* pk, uint8_t* p, int lum, Terms t, uint8_t a) {
    if (L == kL16) {
      put16(p, uint16_t(color_field(pk, 2, lum + t.rt) | color_field(pk, 1, lum + t.gt) |
                        color_field(pk, 0, lum + t.bt)), a);
    } else {
      put3(p, color_clamp(lum + t.bt), color_clamp(lum + t.gt), color_clamp(lum + t.rt), a);
    }
  }
  template <class M>
  static void grey(const PackingTables* pk, uint8_t* p, uint8_t y, uint8_t a) {
    if (L == kL16) put16(p, M::grey16(pk, y), a);
    else {
      uint8_t g = M::grey8(y);
      put3(p, g, g, g, a);
    }
  }
};

// One pixel, written kW times side by side, and again one row below when kDup.
template <class F, class M, bool kGrey, uint32_t kW, bool kDup>
inline void put_pixel(const PackingTables* pk, uint8_t* d, int32_t pitch, uint8_t y, Terms t, uint8_t a) {
  uint8_t px[4];
  if (kGrey) F::template grey<M>(pk, px, y, a);
  else F::template color<M>(pk, px, M::luma(y), t, a);
  for (uint32_t k = 0; k < kW; ++k) {
    std::memcpy(d + k * F::kBpp, px, F::kBpp);
    if (kDup) std::memcpy(d + pitch + k * F::kBpp, px, F::kBpp);
  }
}

// n RGB pixels from source x on row 0 (and row 1 when kTwo); advances the cursor.
template <class F, class M, bool kGrey, uint32_t kW, bool kDup, bool kTwo>
void rgb_span(ConvertCursor* c, uint32_t x, uint32_t n) {
  constexpr uint32_t kStep = F::kBpp * kW;
  uint8_t* d0 = c->dst0;
  uint8_t* d1 = c->dst1;
  const uint8_t* y0 = c->y0;
  const uint8_t* y1 = c->y1;
  const uint8_t* a0 = c->a0;
  const uint8_t* a1 = c->a1;
  const uint8_t* cb = c->cb;
  const uint8_t* cr = c->cr;
  const int32_t pitch = c->pitch;
  const PackingTables* pk = c->pack;
  uint32_t i = 0;
  auto one = [&](uint32_t k, Terms t) {
    put_pixel<F, M, kGrey, kW, kDup>(pk, d0 + k * kStep, pitch, y0[k], t, F::kAlpha ? a0[k] : 0);
    if (kTwo) put_pixel<F, M, kGrey, kW, kDup>(pk, d1 + k * kStep, pitch, y1[k], t, F::kAlpha ? a1[k] : 0);
  };
  if ((x & 1) && n) {  // an odd first pixel has its chroma sample to itself
    one(0, kGrey ? Terms{} : terms_of(cb[0], cr[0]));
    ++cb; ++cr;
    i = 1;
  }
  for (; i + 1 < n; i += 2) {
    Terms t = kGrey ? Terms{} : terms_of(*cb, *cr);
    one(i, t);
    one(i + 1, t);
    ++cb; ++cr;
  }
  if (i < n) one(i, kGrey ? Terms{} : terms_of(*cb, *cr));  // even last pixel: no advance
  c->dst0 = d0 + n * kStep;
  c->y0 = y0 + n;
  if (F::kAlpha) c->a0 = a0 + n;
  if (kTwo) {
    c->dst1 = d1 + n * kStep;
    c->y1 = y1 + n;
    if (F::kAlpha) c->a1 = a1 + n;
  }
  c->cb = cb;
  c->cr = cr;
}

// Packed YUV pixels: Y0, Cb, Y1, Cr (YUY2) or Cb, Y0, Cr, Y1 (UYVY) per pair.
template <bool kUyvy>
struct Yuv {
  static constexpr uint32_t kBpp = 2;
  static constexpr bool kAlpha = false;
  static constexpr bool kPairs = true;
  static void pair(uint8_t* p, uint8_t ya, uint8_t yb, uint8_t u, uint8_t v) {
    if (kUyvy) { p[0] = u; p[1] = ya; p[2] = v; p[3] = yb; }
    else { p[0] = ya; p[1] = u; p[2] = yb; p[3] = v; }
  }
  static void half(uint8_t* p, uint8_t ya, uint8_t u) {  // the first pixel of a pair only
    if (kUyvy) { p[0] = u; p[1] = ya; }
    else { p[0] = ya; p[1] = u; }
  }
};

enum SpanKind { kLoneRow, kRun, kGroups };

inline void put4(uint8_t* d, int32_t pitch, const uint8_t* px, bool dup) {
  std::memcpy(d, px, 4);
  if (dup) std::memcpy(d + pitch, px, 4);
}

// n packed YUV pixels. Plain width goes by pairs with the chroma of the pair's first pixel; an
// odd last pixel is dropped by a lone row, and written by a run as a whole pair (its luma
// repeated) where the row has room for it, else as the pixel's own half of the pair. 2× width
// makes every source pixel a whole pair.
template <class F, bool kGrey, uint32_t kW, bool kDup, bool kTwo, SpanKind kKind>
void yuv_span(ConvertCursor* c, uint32_t x, uint32_t n) {
  uint8_t* d0 = c->dst0;
  uint8_t* d1 = c->dst1;
  const uint8_t* y0 = c->y0;
  const uint8_t* y1 = c->y1;
  const uint8_t* cb = c->cb;
  const uint8_t* cr = c->cr;
  const int32_t pitch = c->pitch;
  uint8_t px[4];
  if (kW == 2) {
    for (uint32_t i = 0; i < n; ++i) {
      uint8_t u = kGrey ? 0x80 : *cb, v = kGrey ? 0x80 : *cr;
      F::pair(px, y0[i], y0[i], u, v);
      put4(d0 + 4 * i, pitch, px, kDup);
      if (kTwo) {
        F::pair(px, y1[i], y1[i], u, v);
        put4(d1 + 4 * i, pitch, px, kDup);
      }
      if ((x + i) & 1) { ++cb; ++cr; }
    }
  } else {
    uint32_t i = 0;
    for (; i + 1 < n; i += 2) {
      uint8_t u = kGrey ? 0x80 : *cb, v = kGrey ? 0x80 : *cr;
      F::pair(px, y0[i], y0[i + 1], u, v);
      put4(d0 + 2 * i, pitch, px, kDup);
      if (kTwo) {
        F::pair(px, y1[i], y1[i + 1], u, v);
        put4(d1 + 2 * i, pitch, px, kDup);
      }
      ++cb; ++cr;
    }
    if (i < n && kKind == kRun) {
      uint8_t u = kGrey ? 0x80 : *cb, v = kGrey ? 0x80 : *cr;
      if (c->pair_overhang) {
        F::pair(px, y0[i], y0[i], u, v);
        put4(d0 + 2 * i, pitch, px, kDup);
        if (kTwo) {
          F::pair(px, y1[i], y1[i], u, v);
          put4(d1 + 2 * i, pitch, px, kDup);
        }
      } else {
        F::half(d0 + 2 * i, y0[i], u);
        if (kDup) F::half(d0 + pitch + 2 * i, y0[i], u);
        if (kTwo) {
          F::half(d1 + 2 * i, y1[i], u);
          if (kDup) F::half(d1 + pitch + 2 * i, y1[i], u);
        }
      }
    }
    if (i < n && ((x + i) & 1)) { ++cb; ++cr; }
  }
  c->dst0 = d0 + n * 2 * kW;
  c->y0 = y0 + n;
  if (kTwo) {
    c->dst1 = d1 + n * 2 * kW;
    c->y1 = y1 + n;
  }
  c->cb = cb;
  c->cr = cr;
}

template <class F, class M, bool kGrey, uint32_t kW, bool kDup, bool kTwo, SpanKind kKind>
inline void span(ConvertCursor* c, uint32_t x, uint32_t n) {
  if constexpr (F::kPairs) yuv_span<F, kGrey, kW, kDup, kTwo, kKind>(c, x, n);
  else rgb_span<F, M, kGrey, kW, kDup, kTwo>(c, x, n);
}

template <class F, bool kGrey, uint32_t kW, bool kDup>
void row_fn(ConvertCursor* c, uint32_t x, uint32_t n) {
  span<F, TableMath, kGrey, kW, kDup, false, kLoneRow>(c, x, n);
}
template <class F, bool kGrey, uint32_t kW, bool kDup>
uint32_t run_fn(ConvertCursor* c, uint32_t n, uint32_t x) {
  span<F, TableMath, kGrey, kW, kDup, true, kRun>(c, x, n);
  return x + n;
}
template <class F, class M, bool kGrey, uint32_t kW, bool kOdd>
void groups_fn(ConvertCursor* c, uint32_t units) {
  span<F, M, kGrey, kW, false, true, kGroups>(c, kOdd ? 1 : 0, 4 * units);
}

template <class F>
void fill_family(ConversionFamily* f) {
  f->bytes_per_pixel = F::kBpp;
  f->pairs = F::kPairs;
  const GroupConverter g[6] = {
      {2, groups_fn<F, TableMath, false, 1, false>, nullptr}, {2, groups_fn<F, TableMath, false, 1, true>, nullptr},
      {2, groups_fn<F, TableMath, true, 1, false>, nullptr},  {2, groups_fn<F, TableMath, false, 2, false>, nullptr},
      {2, groups_fn<F, TableMath, false, 2, true>, nullptr},  {2, groups_fn<F, TableMath, true, 2, false>, nullptr},
  };
  for (int i = 0; i < 6; ++i) f->groups[i] = f->groups[i + kGroupSimd] = g[i];
  const RowConverters r[8] = {
      {row_fn<F, false, 1, false>, run_fn<F, false, 1, false>},
      {row_fn<F, true, 1, false>, run_fn<F, true, 1, false>},
      {row_fn<F, false, 2, false>, run_fn<F, false, 2, false>},
      {row_fn<F, true, 2, false>, run_fn<F, true, 2, false>},
      {row_fn<F, false, 1, true>, run_fn<F, false, 1, true>},
      {row_fn<F, true, 1, true>, run_fn<F, true, 1, true>},
      {row_fn<F, false, 2, true>, run_fn<F, false, 2, true>},
      {row_fn<F, true, 2, true>, run_fn<F, true, 2, true>},
  };
  for (int i = 0; i < 8; ++i) f->rows[i] = r[i];
}

template <class F>
void fill_reference(GroupConverter out[6]) {
  // Group sizes of the SIMD set: RGB 4 colour / 8 grey, packed YUV 8 colour / 4 grey.
  const uint32_t sc = F::kPairs ? 3 : 2, sg = F::kPairs ? 2 : 3;
  out[0] = {sc, groups_fn<F, SimdMath, false, 1, false>, nullptr};
  out[1] = {sc, groups_fn<F, SimdMath, false, 1, true>, nullptr};
  out[2] = {sg, groups_fn<F, SimdMath, true, 1, false>, nullptr};
  out[3] = {sc, groups_fn<F, SimdMath, false, 2, false>, nullptr};
  out[4] = {sc, groups_fn<F, SimdMath, false, 2, true>, nullptr};
  out[5] = {sg, groups_fn<F, SimdMath, true, 2, false>, nullptr};
}

using Bgr32 = Rgb<kL32, kNoAlpha>;
using Rgb32 = Rgb<kL32R, kNoAlpha>;
using Bgra32 = Rgb<kL32, kAlphaByte>;
using Rgba32 = Rgb<kL32R, kAlphaByte>;
using Bgr24 = Rgb<kL24, kNoAlpha>;
using Rgb24 = Rgb<kL24R, kNoAlpha>;
using Pack16 = Rgb<kL16, kNoAlpha>;
using Pack4444 = Rgb<kL16, kAlphaNibble>;
using Pack5551 = Rgb<kL16, kAlphaBit>;

}  // namespace

void convert_init_plain(ConversionFamily* f) {
  fill_family<Bgr32>(&f[kFamilyBgr32]);
  fill_family<Rgb32>(&f[kFamilyRgb32]);
  fill_family<Bgra32>(&f[kFamilyBgra32]);
  fill_family<Rgba32>(&f[kFamilyRgba32]);
  fill_family<Bgr24>(&f[kFamilyBgr24]);
  fill_family<Rgb24>(&f[kFamilyRgb24]);
  fill_family<Pack16>(&f[kFamily16]);
  fill_family<Pack4444>(&f[kFamily4444]);
  fill_family<Pack5551>(&f[kFamily5551]);
  fill_family<Yuv<false>>(&f[kFamilyYuy2]);
  fill_family<Yuv<true>>(&f[kFamilyUyvy]);
}

void convert_reference_simd_groups(uint32_t family, GroupConverter out[6]) {
  switch (family) {
    case kFamilyBgr32: fill_reference<Bgr32>(out); break;
    case kFamilyRgb32: fill_reference<Rgb32>(out); break;
    case kFamilyBgra32: fill_reference<Bgra32>(out); break;
    case kFamilyRgba32: fill_reference<Rgba32>(out); break;
    case kFamilyBgr24: fill_reference<Bgr24>(out); break;
    case kFamilyRgb24: fill_reference<Rgb24>(out); break;
    case kFamily16: fill_reference<Pack16>(out); break;
    case kFamily4444: fill_reference<Pack4444>(out); break;
    case kFamily5551: fill_reference<Pack5551>(out); break;
    case kFamilyYuy2: fill_reference<Yuv<false>>(out); break;
    default: fill_reference<Yuv<true>>(out); break;
  }
}
