// Code trees: sixteen fixed prefix-code shapes of sixteen leaves each, and a per-stream map
// from leaf to symbol. A tree description in the bit stream names the shape and the map.
#pragma once
#include <cstdint>

#include "video/bit_reader.h"

constexpr uint32_t kTreeShapeCount = 16;

// Longest code word of each shape (4 to 7 bits).
extern const uint8_t kTreeMaxBits[kTreeShapeCount];
// The code words of every shape as written in the format's table: leaf 0 to 15, each word in
// reading order (leftmost digit = first bit read), separated by single spaces.
const char* code_tree_text(uint32_t shape);

// Tables derived from those code words at compile time.
struct TreeTables {
  uint8_t value[kTreeShapeCount][16];   // each leaf's code word, bit 0 = the first bit read
  uint8_t length[kTreeShapeCount][16];  // each leaf's code length
  uint8_t lookup[kTreeShapeCount][128]; // 2^max_bits entries of (length × 16 + leaf)
};
extern const TreeTables kTreeTables;

struct CodeTree {
  uint32_t shape;         // 0 to 15
  uint32_t max_bits;      // kTreeMaxBits[shape]
  const uint8_t* lookup;  // kTreeTables.lookup[shape]
  uint8_t symbols[16];    // the symbol each leaf stands for
  // By the next 7 bits of the stream (bit 0 = the first bit read): length × 16 + symbol. Filled
  // by read_code_tree and code_tree_fill_codes; the fast value-stream reader decodes with it.
  uint8_t codes[128];
};

// Fills `codes` from the shape's table and the symbol map.
void code_tree_fill_codes(CodeTree* t);

// Reads one tree description (shape, then the symbol map in the explicit-list or the merge
// form). Returns false when an explicit list repeats a symbol: the map is then completed with
// the unused symbols so that it is still a permutation, and the caller stops the plane.
bool read_code_tree(BitReader* r, CodeTree* t);

// Looks at the next `max_bits` bits without consuming a word that the code does not need.
inline uint32_t bit_reader_peek(const BitReader* r, uint32_t n) {
  uint32_t mask = (1u << n) - 1;
  if (r->count >= n) return r->bits & mask;
  const uint8_t* p = r->next;
  uint32_t w;
  if (r->end - p >= 4) {
    w = load_le32(p);
  } else {
    w = 0;
    for (ptrdiff_t i = 0; i < r->end - p; ++i) w |= uint32_t(p[i]) << (8 * i);
  }
  return (r->bits | (w << r->count)) & mask;
}

// Decodes one symbol: one table lookup of at most 7 peeked bits, then exactly the code's bits
// are consumed.
inline uint32_t decode_symbol(BitReader* r, const CodeTree* t) {
  uint32_t e = t->lookup[bit_reader_peek(r, t->max_bits)];
  uint32_t len = e >> 4;
  if (r->count >= len) {
    r->bits >>= len;
    r->count -= len;
  } else {
    read_bits(r, len);
  }
  return t->symbols[e & 15];
}
