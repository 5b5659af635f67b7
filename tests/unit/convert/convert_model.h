// A plain model of the conversion arithmetic, written from the rules and not from the
// converters: one destination pixel (or pixel pair) at a time.
#pragma once
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "convert/convert.h"
#include "convert/convert_internal.h"

namespace model {

// A converter context for the length of a test.
struct Context {
  ConvertContext* cx;
  explicit Context(uint32_t max_width = 256) : cx(convert_context_create(max_width)) {}
  ~Context() { convert_context_destroy(cx); }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  operator ConvertContext*() const { return cx; }
  ConvertContext* operator->() const { return cx; }
};

// The record of one rectangle copy.
inline PlaneCopy plane_copy(ConversionFamily* f, uint8_t* dest, uint32_t dest_x, uint32_t dest_y, int32_t pitch,
                            const uint8_t* planes, uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t P,
                            uint32_t H, uint32_t flags, const uint8_t* alpha) {
  PlaneCopy pc;
  pc.family = f;
  pc.dest = dest;
  pc.dest_pitch = pitch;
  pc.dest_x = dest_x;
  pc.dest_y = dest_y;
  pc.planes = planes;
  pc.alpha = alpha;
  pc.P = P;
  pc.H = H;
  pc.x = x;
  pc.y = y;
  pc.w = w;
  pc.h = h;
  pc.flags = flags;
  return pc;
}

inline int clamp8(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }
inline int luma(int y, bool simd) {
  int t = y > 16 ? y - 16 : 0;
  if (simd) return t * 76308 >> 16;
  return (t > 219 ? 219 : t) * 38154 / 32768;
}
inline int term(int k, int c) { return k * (c - 128) / 32768; }
inline int grey(int y) { return y <= 16 ? 0 : y >= 235 ? 255 : 255 * (y - 16) / 219; }

struct Pack { int bits[3], pos[3], precision; };  // blue, green, red
inline Pack packing(uint32_t code) {
  switch (code) {
    case 7: return {{4, 4, 4}, {0, 4, 8}, 4};
    case 8: case 9: return {{5, 5, 5}, {0, 5, 10}, 5};
    case 10: return {{5, 6, 5}, {0, 5, 11}, 5};
    case 11: return {{5, 5, 6}, {0, 5, 10}, 5};
    default: return {{4, 6, 6}, {0, 4, 10}, 4};
  }
}

struct Target {
  uint32_t family;  // kFamily...
  uint32_t code;    // format code (16-bit packing)
  bool simd;        // the SIMD arithmetic
  bool grey;
};

inline uint32_t bytes_per_pixel(uint32_t family) {
  switch (family) {
    case kFamilyBgr24: case kFamilyRgb24: return 3;
    case kFamily16: case kFamily4444: case kFamily5551: case kFamilyYuy2: case kFamilyUyvy: return 2;
    default: return 4;
  }
}
inline bool is_pairs(uint32_t family) { return family == kFamilyYuy2 || family == kFamilyUyvy; }
inline bool has_alpha(uint32_t family) {
  return family == kFamilyBgra32 || family == kFamilyRgba32 || family == kFamily4444 ||
         family == kFamily5551;
}

// One RGB-family pixel.
inline void rgb_pixel(const Target& t, int y, int cb, int cr, int a, uint8_t* out) {
  int b, g, r;
  const int l = luma(y, t.simd);
  if (t.grey) {
    b = g = r = t.simd ? clamp8(l) : grey(y);
  } else {
    b = clamp8(l + term(66101, cb));
    g = clamp8(l + term(-26639, cr) + term(-12837, cb));
    r = clamp8(l + term(52299, cr));
  }
  switch (t.family) {
    case kFamilyBgr32: case kFamilyBgra32:
      out[0] = uint8_t(b); out[1] = uint8_t(g); out[2] = uint8_t(r);
      out[3] = t.family == kFamilyBgra32 ? uint8_t(a) : 0;
      return;
    case kFamilyRgb32: case kFamilyRgba32:
      out[0] = uint8_t(r); out[1] = uint8_t(g); out[2] = uint8_t(b);
      out[3] = t.family == kFamilyRgba32 ? uint8_t(a) : 0;
      return;
    case kFamilyBgr24: out[0] = uint8_t(b); out[1] = uint8_t(g); out[2] = uint8_t(r); return;
    case kFamilyRgb24: out[0] = uint8_t(r); out[1] = uint8_t(g); out[2] = uint8_t(b); return;
    default: break;
  }
  const Pack p = packing(t.code);
  uint32_t v = 0;
  if (t.grey && t.simd) {
    int level = (y > 16 ? y - 16 : 0) * (p.precision == 4 ? 0x12A1 : 0x2542) >> 16;
    int top = p.precision == 4 ? 15 : 31;
    if (level > top) level = top;
    uint32_t unit = 0;
    for (int k = 0; k < 3; ++k) unit |= 1u << (p.pos[k] + p.bits[k] - p.precision);
    v = uint32_t(level) * unit;
  } else {
    const int comp[3] = {b, g, r};
    for (int k = 0; k < 3; ++k) v |= uint32_t(comp[k] >> (8 - p.bits[k])) << p.pos[k];
  }
  if (t.family == kFamily4444) v |= uint32_t(a & 0xF0) << 8;
  if (t.family == kFamily5551) v |= uint32_t(a & 0x80) << 8;
  out[0] = uint8_t(v);
  out[1] = uint8_t(v >> 8);
}

inline void yuv_pair(const Target& t, int y0, int y1, int cb, int cr, uint8_t* out) {
  if (t.grey) cb = cr = 0x80;
  if (t.family == kFamilyYuy2) { out[0] = uint8_t(y0); out[1] = uint8_t(cb); out[2] = uint8_t(y1); out[3] = uint8_t(cr); }
  else { out[0] = uint8_t(cb); out[1] = uint8_t(y0); out[2] = uint8_t(cr); out[3] = uint8_t(y1); }
}

enum SpanKind { kLoneRow, kRun, kGroups };

// The bytes of a span of n pixels from source x (chroma pointers at the cursor's position),
// written kW times per pixel, into `out` (which keeps what it had where nothing is written).
inline void span(const Target& t, uint32_t kw, SpanKind kind, bool overhang, uint32_t x,
                 uint32_t n, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                 const uint8_t* a, uint8_t* out) {
  const uint32_t b = bytes_per_pixel(t.family);
  if (!is_pairs(t.family)) {
    for (uint32_t j = 0; j < n; ++j) {
      const uint32_t c = (j + (x & 1)) / 2;
      uint8_t px[4];
      rgb_pixel(t, y[j], cb[c], cr[c], a ? a[j] : 0, px);
      for (uint32_t k = 0; k < kw; ++k) std::memcpy(out + (j * kw + k) * b, px, b);
    }
    return;
  }
  if (kw == 2) {
    for (uint32_t j = 0; j < n; ++j) {
      const uint32_t c = (j + (x & 1)) / 2;
      yuv_pair(t, y[j], y[j], cb[c], cr[c], out + 4 * j);
    }
    return;
  }
  uint32_t j = 0;
  for (; j + 1 < n; j += 2) yuv_pair(t, y[j], y[j + 1], cb[j / 2], cr[j / 2], out + 2 * j);
  if (j < n && kind == kRun) {
    uint8_t px[4];
    yuv_pair(t, y[j], y[j], cb[j / 2], cr[j / 2], px);
    std::memcpy(out + 2 * j, px, overhang ? 4 : 2);
  }
}

inline void fill_random(std::mt19937& rng, uint8_t* p, size_t n, int top = 255) {
  std::uniform_int_distribution<int> d(0, 255);
  for (size_t i = 0; i < n; ++i) {
    int v = d(rng);
    // Plenty of the values where the rules have their corners.
    if ((v & 15) == 0) v = (v >> 4) & 1 ? 255 : 16;
    if ((v & 15) == 1) v = 235;
    if (v > top) v = top;
    p[i] = uint8_t(v);
  }
}

}  // namespace model
