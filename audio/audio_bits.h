// The audio decoder's bit reader, shared with the tests.
//
// A block is read as 32-bit little-endian words, each from its least significant bit; an
// n-bit field (n ≤ 29 in every caller, ≤ 32 works) is assembled least significant bit first.
// The reader buffers up to two words and knows where its bytes end: a word at or past `end`
// reads as zero (a partial last word is padded with zeros) and the position stays at `end`.
// The block's length in words is the number of bits consumed, rounded up to whole words,
// whatever the reader buffered ahead.
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/bytes.h"

struct AudioBitReader {
  const uint8_t* next;  // next word to load
  const uint8_t* end;   // one past the last readable byte
  uint64_t bits;        // buffered bits, the next at bit 0
  uint32_t count;       // buffered bit count
  uint32_t loaded;      // words loaded (zero words past the end included)
};

inline void audio_bits_init(AudioBitReader* r, const uint8_t* data, size_t size) {
  r->next = data;
  r->end = data + size;
  r->bits = 0;
  r->count = 0;
  r->loaded = 0;
}

inline uint32_t audio_bits_load_word(AudioBitReader* r) {
  const uint8_t* p = r->next;
  r->loaded += 1;
  if (r->end - p >= 4) {
    r->next = p + 4;
    return load_le32(p);
  }
  uint32_t w = 0;
  for (ptrdiff_t i = 0; i < r->end - p; ++i) w |= uint32_t(p[i]) << (8 * i);
  r->next = r->end;
  return w;
}

// Makes at least 32 bits available.
inline void audio_bits_refill(AudioBitReader* r) {
  if (r->count < 32) {
    r->bits |= uint64_t(audio_bits_load_word(r)) << r->count;
    r->count += 32;
  }
}

// The next n bits without consuming them; the caller has refilled and n ≤ count.
inline uint32_t audio_bits_peek(const AudioBitReader* r, uint32_t n) {
  return uint32_t(r->bits) & uint32_t((uint64_t(1) << n) - 1);
}
inline void audio_bits_skip(AudioBitReader* r, uint32_t n) {
  r->bits >>= n;
  r->count -= n;
}

inline uint32_t audio_read_bits(AudioBitReader* r, uint32_t n) {
  audio_bits_refill(r);
  const uint32_t v = audio_bits_peek(r, n);
  audio_bits_skip(r, n);
  return v;
}

// Bits consumed so far.
inline uint64_t audio_bits_consumed(const AudioBitReader* r) {
  return uint64_t(r->loaded) * 32 - r->count;
}

// A 29-bit float field: exponent (5 bits), mantissa (23 bits), sign (1 bit), first read
// first. The value is mantissa × 2^(exponent − 23), exact in single precision; exponents
// 24 to 31 lie outside the scale table and read as zero (of the field's sign).
float audio_read_float29(AudioBitReader* r);
