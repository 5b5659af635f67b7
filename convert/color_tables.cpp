// The colour tables: every multiplication of the integer converters is a lookup here.
#include <cstring>

#include "convert/convert_internal.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <x86intrin.h>
#define KORVA_X86 1
#endif

ColorTables g_color = [] {
  ColorTables t{};
  t.format = 0xFFFFFFFFu;
  return t;
}();

namespace {

struct Packing {
  uint32_t bits[3], shift[3];  // blue, green, red
  uint16_t scale, clamp;       // SIMD grey
  uint32_t precision;          // 4 or 5
};

// Packings of the 16-bit codes 7..12 (blue is the low field).
const Packing kPackings[6] = {
    {{4, 4, 4}, {0, 4, 8}, 0x12A1, 0x7FF0, 4},    // 7: 4-4-4 (alpha in 12..15)
    {{5, 5, 5}, {0, 5, 10}, 0x2542, 0x7FE0, 5},   // 8: 5-5-5 (alpha in 15)
    {{5, 5, 5}, {0, 5, 10}, 0x2542, 0x7FE0, 5},   // 9: 5-5-5
    {{5, 6, 5}, {0, 5, 11}, 0x2542, 0x7FE0, 5},   // 10: 5-6-5
    {{5, 5, 6}, {0, 5, 10}, 0x2542, 0x7FE0, 5},   // 11: 6-5-5
    {{4, 6, 6}, {0, 4, 10}, 0x12A1, 0x7FF0, 4},   // 12: 6-6-4
};

void probe_cycle_counter() {
  g_convert.has_cycle_counter = -1;
#if KORVA_X86
  unsigned a, b, c, d;
  // The time-stamp counter is feature bit 4 of leaf 1; without it the read would fault.
  if (__get_cpuid(1, &a, &b, &c, &d) && (d & 0x10)) g_convert.has_cycle_counter = 1;
#endif
}

}  // namespace

uint64_t convert_cycles() {
#if KORVA_X86
  return __rdtsc();
#else
  return 0;
#endif
}

int32_t color_luma_rule(int y) {
  int v = y - 16;
  if (v < 0) v = 0;
  if (v > 219) v = 219;
  return v * 38154 / 32768;
}

int32_t color_chroma_rule(int32_t factor, int c) {
  return factor * (c - 128) / 32768;  // C++ division truncates toward zero
}

uint8_t color_grey_rule(int y) {
  if (y <= 16) return 0;
  if (y >= 235) return 255;
  return uint8_t(255 * (y - 16) / 219);
}

uint16_t color_grey_unit(const uint32_t bits[3], const uint32_t shift[3], uint32_t precision) {
  uint16_t unit = 0;
  for (int k = 0; k < 3; ++k) unit |= uint16_t(1u << (shift[k] + bits[k] - precision));
  return unit;
}

void build_color_tables(uint32_t format) {
  ColorTables& t = g_color;
  if (!t.built) {
    probe_cycle_counter();
    for (int i = 0; i < 256; ++i) {
      t.luma[i] = color_luma_rule(i);
      t.blue_cb[i] = color_chroma_rule(66101, i);
      t.green_cr[i] = color_chroma_rule(-26639, i);
      t.green_cb[i] = color_chroma_rule(-12837, i);
      t.red_cr[i] = color_chroma_rule(52299, i);
      t.grey[i] = color_grey_rule(i);
      t.grey32[i] = t.grey[i] * 0x010101u;
      t.alpha_nibble[i] = uint16_t((i & 0xF0) << 8);
    }
    for (int s = 0; s < kSumCount; ++s) {
      int v = s + kSumLow;
      t.clamp_store[s] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
    }
    t.built = true;
  }
  if (format == 0xFFFFFFFFu || format == t.format) return;
  t.format = format;
  if (format < 7 || format > 12) {
    std::memset(t.bits, 0, sizeof t.bits);
    std::memset(t.shift, 0, sizeof t.shift);
    std::memset(t.field_store, 0, sizeof t.field_store);
    std::memset(t.grey16, 0, sizeof t.grey16);
    return;
  }
  const Packing& p = kPackings[format - 7];
  for (int k = 0; k < 3; ++k) {
    t.bits[k] = p.bits[k];
    t.shift[k] = p.shift[k];
    for (int s = 0; s < kSumCount; ++s)
      t.field_store[k][s] = uint16_t((t.clamp_store[s] >> (8 - p.bits[k])) << p.shift[k]);
  }
  for (int i = 0; i < 256; ++i) {
    uint16_t v = 0;
    for (int k = 0; k < 3; ++k) v |= uint16_t((t.grey[i] >> (8 - p.bits[k])) << p.shift[k]);
    t.grey16[i] = v;
  }
  t.simd_grey_scale = p.scale;
  t.simd_grey_clamp = p.clamp;
  t.simd_grey_unit = color_grey_unit(p.bits, p.shift, p.precision);
}
