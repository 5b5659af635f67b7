#include <gtest/gtest.h>

#include "encode/bit_writer.h"

TEST(BitWriter, FieldsGoLeastSignificantBitFirstIntoWords) {
  BitWriter w;
  write_bits(&w, 0x5, 3);    // bits 0..2
  write_bits(&w, 0x1ff, 9);  // bits 3..11
  write_bit(&w, 1);          // bit 12
  write_bits(&w, 0xdeadbeef, 32);
  EXPECT_EQ(bit_writer_position(&w), 45u);
  std::vector<uint8_t> b = bit_writer_finish(&w);
  ASSERT_EQ(b.size(), 8u);  // padded to two words
  uint32_t w0 = b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24;
  uint32_t w1 = b[4] | b[5] << 8 | b[6] << 16 | uint32_t(b[7]) << 24;
  EXPECT_EQ(w0, 0x5u | 0x1ffu << 3 | 1u << 12 | (0xdeadbeefu << 13));
  EXPECT_EQ(w1, 0xdeadbeefu >> 19);
}
