#include "encode/bit_writer.h"

void bit_writer_append(BitWriter* w, uint32_t value, uint32_t n) {
  if (n == 0) return;
  if (n < 32) value &= (1u << n) - 1;
  w->acc |= uint64_t(value) << w->count;
  w->count += n;
  while (w->count >= 8) {
    w->bytes.push_back(uint8_t(w->acc));
    w->acc >>= 8;
    w->count -= 8;
  }
}

uint64_t bit_writer_position(const BitWriter* w) { return uint64_t(w->bytes.size()) * 8 + w->count + w->counted; }

void bit_writer_align_word(BitWriter* w) {
  uint32_t rem = uint32_t(bit_writer_position(w) % 32);
  if (rem) write_bits(w, 0, 32 - rem);
}

std::vector<uint8_t> bit_writer_finish(BitWriter* w) {
  bit_writer_align_word(w);
  std::vector<uint8_t> out;
  out.swap(w->bytes);
  w->acc = 0;
  w->count = 0;
  return out;
}
