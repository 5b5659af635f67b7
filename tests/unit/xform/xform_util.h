// Helpers of the transform tests: bit strings in reading order and bit counts of a BitReader.
#pragma once
#include <cstdint>
#include <vector>

#include "encode/bit_writer.h"
#include "video/bit_reader.h"

// Appends the bits of `s` in reading order ('0' and '1'; anything else is skipped, so spaces
// may group them).
inline void put_bits(BitWriter* w, const char* s) {
  for (; *s; ++s)
    if (*s == '0' || *s == '1') write_bit(w, uint32_t(*s - '0'));
}

// Appends a field of n bits, least significant first, as the reader assembles it.
inline void put_field(BitWriter* w, uint32_t v, uint32_t n) { write_bits(w, v, n); }

// Finishes the writer and appends `tail_words` words of `tail` after the data, so that a reader
// that reads too far sees the tail rather than the end of the buffer.
inline std::vector<uint8_t> finish_with_tail(BitWriter* w, uint32_t tail, int tail_words = 8) {
  std::vector<uint8_t> out = bit_writer_finish(w);
  for (int i = 0; i < tail_words; ++i)
    for (int b = 0; b < 4; ++b) out.push_back(uint8_t(tail >> (8 * b)));
  return out;
}

// Bits the reader has consumed since it was initialised.
inline uint64_t consumed_bits(const BitReader& r) {
  return uint64_t(r.next - r.start) * 8 - r.count;
}
