// BitReader: the video decoder's bit reader. A plane's data is a sequence of 32-bit
// little-endian words; bits are consumed from the least significant end of each word and a
// multi-bit field is assembled least significant bit first.
//
// The reader knows where its data ends: a word loaded at or past `end` reads as zero (a last
// partial word is zero-padded) and sets `overrun`; callers check the flag once per block row.
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/bytes.h"

struct BitReader {
  const uint8_t* next;   // next word to load
  const uint8_t* start;  // first word of the plane's data
  const uint8_t* end;    // one past the last byte that may be read
  uint32_t bits;         // buffered bits not yet consumed; the next bit is bit 0
  uint32_t count;        // valid bits in `bits`, 0 to 31
  bool overrun;          // a word past `end` was asked for
};

inline void bit_reader_init(BitReader* r, const uint8_t* data, size_t size) {
  r->next = data;
  r->start = data;
  r->end = data + size;
  r->bits = 0;
  r->count = 0;
  r->overrun = false;
}

// Loads the next word; past the end it is zero (a partial last word is padded with zeros).
inline uint32_t bit_reader_load_word(BitReader* r) {
  const uint8_t* p = r->next;
  if (r->end - p >= 4) {
    r->next = p + 4;
    return load_le32(p);
  }
  uint32_t w = 0;
  for (ptrdiff_t i = 0; i < r->end - p; ++i) w |= uint32_t(p[i]) << (8 * i);
  // Past a partial last word; once exhausted `next` stays put, so it never runs away (and an
  // empty reader over no buffer at all never moves a null pointer).
  r->next = p < r->end ? p + 4 : p;
  r->overrun = true;
  return w;
}

// Reads n bits (0 to 15 in every caller; up to 31 works), least significant first.
inline uint32_t read_bits(BitReader* r, uint32_t n) {
  if (r->count >= n) {
    uint32_t v = r->bits & ((1u << n) - 1);
    r->bits = n < 32 ? r->bits >> n : 0;
    r->count -= n;
    return v;
  }
  uint32_t w = bit_reader_load_word(r);
  uint32_t c = r->count;
  uint32_t v = (r->bits | (w << c)) & ((1u << n) - 1);  // c < n ≤ 31, so the shift is defined
  r->bits = w >> (n - c);
  r->count = c + 32 - n;
  return v;
}

inline uint32_t read_bit(BitReader* r) {
  if (r->count == 0) {
    uint32_t w = bit_reader_load_word(r);
    r->bits = w >> 1;
    r->count = 31;
    return w & 1;
  }
  uint32_t v = r->bits & 1;
  r->bits >>= 1;
  r->count -= 1;
  return v;
}
