#include "video/code_tree.h"

namespace {

constexpr char kCodeText[kTreeShapeCount][128] = {
    "0000 1000 0100 1100 0010 1010 0110 1110 0001 1001 0101 1101 0011 1011 0111 1111",
    "0 1000 11000 10100 11100 10010 11010 10110 11110 11001 10101 11101 10011 11011 10111 11111",
    "00 01 1000 1001 10100 10101 10110 10111 11000 11001 11010 11011 11100 11101 11110 11111",
    "00 010 011 1000 1001 1010 10110 10111 11000 11001 11010 11011 11100 11101 11110 11111",
    "000 001 010 011 1000 1001 1010 1011 11000 11001 11010 11011 11100 11101 11110 11111",
    "000 001 0100 0101 0110 0111 1000 1001 1010 1011 1100 1101 11100 11101 11110 11111",
    "00 0100 0101 0110 0111 1000 1001 1010 1011 1100 11010 11011 11100 11101 11110 11111",
    "0 100 101 11000 11001 11010 110110 110111 111000 111001 111010 111011 111100 111101 111110 111111",
    "0 10 11000 11001 110100 110101 110110 110111 111000 111001 111010 111011 111100 111101 111110 111111",
    "0 100 1010 1011 11000 11001 11010 11011 111000 111001 111010 111011 111100 111101 111110 111111",
    "00 01 100 1010 1011 11000 11001 11010 11011 11100 111010 111011 111100 111101 111110 111111",
    "0 1000 1001 1010 1011 11000 11001 11010 11011 11100 111010 111011 111100 111101 111110 111111",
    "00 01 10 11000 11001 11010 110110 110111 111000 111001 111010 111011 111100 111101 111110 111111",
    "0 100 101 110 111000 111001 111010 111011 1111000 1111001 1111010 1111011 1111100 1111101 1111110 1111111",
    "0 100 101 110 11100 111010 1110110 1110111 1111000 1111001 1111010 1111011 1111100 1111101 1111110 1111111",
    "00 01 100 101 110 111000 111001 111010 111011 111100 1111010 1111011 1111100 1111101 1111110 1111111",
};

constexpr TreeTables build_tables() {
  TreeTables t{};
  const uint8_t max_bits[kTreeShapeCount] = {4, 5, 5, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 7, 7, 7};
  for (uint32_t s = 0; s < kTreeShapeCount; ++s) {
    const char* p = kCodeText[s];
    for (uint32_t leaf = 0; leaf < 16; ++leaf) {
      uint32_t v = 0, n = 0;
      while (*p == '0' || *p == '1') {
        if (*p == '1') v |= 1u << n;
        ++n;
        ++p;
      }
      if (*p == ' ') ++p;
      t.value[s][leaf] = uint8_t(v);
      t.length[s][leaf] = uint8_t(n);
    }
    for (uint32_t i = 0; i < (1u << max_bits[s]); ++i)
      for (uint32_t leaf = 0; leaf < 16; ++leaf) {
        uint32_t len = t.length[s][leaf];
        if ((i & ((1u << len) - 1)) == t.value[s][leaf]) t.lookup[s][i] = uint8_t(len * 16 + leaf);
      }
  }
  return t;
}

}  // namespace

constexpr TreeTables kTreeTables = build_tables();

const uint8_t kTreeMaxBits[kTreeShapeCount] = {4, 5, 5, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 7, 7, 7};
const char* code_tree_text(uint32_t shape) { return kCodeText[shape < kTreeShapeCount ? shape : 0]; }


void code_tree_fill_codes(CodeTree* t) {
  const uint32_t mask = (1u << t->max_bits) - 1;
  for (uint32_t i = 0; i < 128; ++i) {
    const uint32_t e = t->lookup[i & mask];
    t->codes[i] = uint8_t((e & 0xf0) | t->symbols[e & 15]);
  }
}

static bool read_code_tree_map(BitReader* r, CodeTree* t);

bool read_code_tree(BitReader* r, CodeTree* t) {
  const bool ok = read_code_tree_map(r, t);
  code_tree_fill_codes(t);
  return ok;
}

// The shape and the symbol map.
static bool read_code_tree_map(BitReader* r, CodeTree* t) {
  uint32_t shape = read_bits(r, 4);
  t->shape = shape;
  t->max_bits = kTreeMaxBits[shape];
  t->lookup = kTreeTables.lookup[shape];
  if (shape == 0) {
    for (uint32_t i = 0; i < 16; ++i) t->symbols[i] = uint8_t(i);
    return true;
  }
  if (read_bit(r)) {
    // Explicit list of n + 1 symbols, then the unlisted ones in increasing order.
    uint32_t n = read_bits(r, 3) + 1;
    uint32_t used = 0;
    bool distinct = true;
    uint32_t k = 0;
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t s = read_bits(r, 4);
      if (used & (1u << s)) {
        distinct = false;  // a repeat takes no place in the map
        continue;
      }
      used |= 1u << s;
      t->symbols[k++] = uint8_t(s);
    }
    for (uint32_t s = 0; s < 16; ++s)
      if (!(used & (1u << s))) t->symbols[k++] = uint8_t(s);
    return distinct;
  }
  // Merge form: eight ordered pairs, then `depth` levels of two-way merges.
  uint32_t depth = read_bits(r, 2);
  uint8_t a[16], b[16];
  for (uint32_t i = 0; i < 8; ++i) {
    bool swap = read_bit(r);
    a[2 * i] = uint8_t(swap ? 2 * i + 1 : 2 * i);
    a[2 * i + 1] = uint8_t(swap ? 2 * i : 2 * i + 1);
  }
  uint8_t* cur = a;
  uint8_t* out = b;
  for (uint32_t level = 0, len = 2; level < depth; ++level, len *= 2) {
    for (uint32_t base = 0; base < 16; base += 2 * len) {
      uint32_t i = base, j = base + len, o = base;
      while (i < base + len && j < base + 2 * len) out[o++] = read_bit(r) ? cur[j++] : cur[i++];
      while (i < base + len) out[o++] = cur[i++];
      while (j < base + 2 * len) out[o++] = cur[j++];
    }
    uint8_t* tmp = cur;
    cur = out;
    out = tmp;
  }
  for (uint32_t i = 0; i < 16; ++i) t->symbols[i] = cur[i];
  return true;
}
