// BitWriter: the inverse of the decoders' bit readers. Both decoders read their bit streams
// least significant bit first out of 32-bit little-endian words, so a field of n bits is
// written with its bit 0 first and the stream is padded with zero bits to whole words.
// Writers are tools and tests, not per-frame paths: the buffer grows as needed.
#pragma once
#include <cstdint>
#include <vector>

struct BitWriter {
  std::vector<uint8_t> bytes;  // whole bytes written so far
  uint64_t acc = 0;            // pending bits, next bit at position `count`
  uint32_t count = 0;          // number of pending bits, 0 to 7 between calls
  // A counting writer keeps no bits, only their number (for cost estimates).
  bool count_only = false;
  uint64_t counted = 0;
};

void bit_writer_append(BitWriter* w, uint32_t value, uint32_t n);
// Appends the low `n` bits of `value` (n = 0 to 32), bit 0 first.
inline void write_bits(BitWriter* w, uint32_t value, uint32_t n) {
  if (w->count_only)
    w->counted += n;
  else
    bit_writer_append(w, value, n);
}
inline void write_bit(BitWriter* w, uint32_t bit) { write_bits(w, bit & 1, 1); }
// Number of bits written so far.
uint64_t bit_writer_position(const BitWriter* w);
// Pads with zero bits up to the next multiple of 32 bits (a no-op when already aligned).
void bit_writer_align_word(BitWriter* w);
// Aligns to a whole word and returns the bytes (the writer is left empty).
std::vector<uint8_t> bit_writer_finish(BitWriter* w);
