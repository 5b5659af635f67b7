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
  const uint8_t* start; // first byte of the block
  const uint8_t* next;  // next word to load
  const uint8_t* end;   // one past the last readable byte
  uint64_t bits;        // buffered bits, the next at bit 0
  uint32_t count;       // buffered bit count
  uint32_t loaded;      // words loaded (zero words past the end included)
};

inline void audio_bits_init(AudioBitReader* r, const uint8_t* data, size_t size) {
  r->start = data;
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

// Moves the reader to `pos` bits from the start, as if the bits before had been read.
inline void audio_bits_seek(AudioBitReader* r, uint64_t pos) {
  const uint64_t words = pos / 32;
  r->loaded = uint32_t(words);
  r->next = words <= uint64_t(r->end - r->start) / 4 ? r->start + 4 * words : r->end;
  r->bits = 0;
  r->count = 0;
  if (pos % 32) {
    audio_bits_refill(r);
    audio_bits_skip(r, uint32_t(pos % 32));
  }
}

// A 29-bit float field: exponent (5 bits), mantissa (23 bits), sign (1 bit), first read
// first. The value is mantissa × 2^(exponent − 23), exact in single precision; exponents
// 24 to 31 lie outside the scale table and read as zero (of the field's sign).
float audio_read_float29(AudioBitReader* r);

// The coefficients X[2 .. n−1] of one coded channel, after its band codes: runs of a 1- or
// 5-bit length code and a 4-bit width, then per coefficient the magnitude (width bits) and,
// when it is not 0, a sign bit; band b's quantiser quant[b] applies from coefficient
// 2 × edges[b] on (edges[band_count] = n / 2).
//
// The plain form reads through the word buffer; the fast form reads 64-bit windows straight
// from the block's bytes and finds where each coefficient starts from a mask of the window's
// all-zero magnitudes, so the next position costs one bit test and an add. Both leave x and
// the reader's position the same (tested on random and truncated input).
using AudioCoefficientsFn = void (*)(AudioBitReader* r, float* x, uint32_t n, const uint32_t* edges,
                                     const float* quant);
void audio_decode_coefficients_plain(AudioBitReader* r, float* x, uint32_t n, const uint32_t* edges,
                                     const float* quant);
void audio_decode_coefficients_fast(AudioBitReader* r, float* x, uint32_t n, const uint32_t* edges,
                                    const float* quant);
