// The colour tables: every multiplication of the integer converters is a lookup here. All of
// them are built by the compiler and only read at run time.
#include "convert/convert_internal.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <x86intrin.h>
#define KORVA_X86 1
#endif

namespace {

constexpr ColorTables make_color_tables() {
  ColorTables t{};
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
    const int v = s + kSumLow;
    t.clamp_store[s] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
  }
  return t;
}

struct Packing {
  uint32_t bits[3], shift[3];  // blue, green, red
  uint16_t scale, clamp;       // SIMD grey
  uint32_t precision;          // 4 or 5
};

// Packings of the 16-bit codes 7..12 (blue is the low field).
constexpr Packing kPackings[6] = {
    {{4, 4, 4}, {0, 4, 8}, 0x12A1, 0x7FF0, 4},    // 7: 4-4-4 (alpha in 12..15)
    {{5, 5, 5}, {0, 5, 10}, 0x2542, 0x7FE0, 5},   // 8: 5-5-5 (alpha in 15)
    {{5, 5, 5}, {0, 5, 10}, 0x2542, 0x7FE0, 5},   // 9: 5-5-5
    {{5, 6, 5}, {0, 5, 11}, 0x2542, 0x7FE0, 5},   // 10: 5-6-5
    {{5, 5, 6}, {0, 5, 10}, 0x2542, 0x7FE0, 5},   // 11: 6-5-5
    {{4, 6, 6}, {0, 4, 10}, 0x12A1, 0x7FF0, 4},   // 12: 6-6-4
};

// Entry 0: no packing (every other code); entries 1..6: codes 7..12.
constexpr PackingTables make_packing(uint32_t index) {
  PackingTables t{};
  if (!index) return t;
  const Packing& p = kPackings[index - 1];
  const ColorTables c = make_color_tables();
  t.format = index + 6;
  for (int k = 0; k < 3; ++k) {
    t.bits[k] = p.bits[k];
    t.shift[k] = p.shift[k];
    for (int s = 0; s < kSumCount; ++s)
      t.field_store[k][s] = uint16_t((c.clamp_store[s] >> (8 - p.bits[k])) << p.shift[k]);
  }
  for (int i = 0; i < 256; ++i) {
    uint16_t v = 0;
    for (int k = 0; k < 3; ++k) v = uint16_t(v | ((c.grey[i] >> (8 - p.bits[k])) << p.shift[k]));
    t.grey16[i] = v;
  }
  t.simd_grey_scale = p.scale;
  t.simd_grey_clamp = p.clamp;
  t.simd_grey_unit = color_grey_unit(p.bits, p.shift, p.precision);
  return t;
}

constexpr PackingTables kPackingTables[7] = {make_packing(0), make_packing(1), make_packing(2), make_packing(3),
                                             make_packing(4), make_packing(5), make_packing(6)};

}  // namespace

constexpr ColorTables kColor = make_color_tables();

const PackingTables* color_packing(uint32_t format) {
  return &kPackingTables[format >= 7 && format <= 12 ? format - 6 : 0];
}

uint64_t convert_cycles() {
#if KORVA_X86
  return __rdtsc();
#else
  return 0;
#endif
}

bool convert_has_cycle_counter() {
#if KORVA_X86
  unsigned a, b, c, d;
  // The time-stamp counter is feature bit 4 of leaf 1; without it the read would fault.
  return __get_cpuid(1, &a, &b, &c, &d) && (d & 0x10);
#else
  return false;
#endif
}
