#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "encode/bit_writer.h"
#include "encode/video_stream_writer.h"
#include "video/code_tree.h"

namespace {

BitReader reader(const std::vector<uint8_t>& b) {
  BitReader r;
  bit_reader_init(&r, b.data(), b.size());
  return r;
}
uint64_t consumed(const BitReader& r) { return uint64_t(r.next - r.start) * 8 - r.count; }

TEST(CodeTree, TablesAreCompletePrefixCodesOfTheListedWords) {
  for (uint32_t s = 0; s < 16; ++s) {
    uint32_t mb = kTreeMaxBits[s];
    double kraft = 0;
    for (uint32_t leaf = 0; leaf < 16; ++leaf) {
      uint32_t len = kTreeTables.length[s][leaf];
      ASSERT_GE(len, 1u);
      ASSERT_LE(len, mb);
      kraft += 1.0 / double(1u << len);
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0) << "shape " << s;
    for (uint32_t v = 0; v < (1u << mb); ++v) {
      uint32_t e = kTreeTables.lookup[s][v], len = e >> 4, leaf = e & 15;
      ASSERT_EQ(len, kTreeTables.length[s][leaf]);
      EXPECT_EQ(v & ((1u << len) - 1), kTreeTables.value[s][leaf]) << s << " " << v;
    }
  }
  // Shape 0 is the plain 4-bit value read least significant bit first.
  for (uint32_t v = 0; v < 16; ++v) EXPECT_EQ(kTreeTables.lookup[0][v], 4 * 16 + v);
  // Shapes 2 to 15 are canonical in reading order.
  for (uint32_t s = 2; s < 16; ++s) {
    std::string prev;
    std::string text = code_tree_text(s);
    size_t at = 0;
    for (uint32_t leaf = 0; leaf < 16; ++leaf) {
      size_t sp = text.find(' ', at);
      std::string word = text.substr(at, sp == std::string::npos ? std::string::npos : sp - at);
      at = sp + 1;
      if (leaf == 0) {
        EXPECT_EQ(word, std::string(word.size(), '0'));
      } else {
        // previous word plus one, extended with zeros
        std::string inc = prev;
        int i = int(inc.size()) - 1;
        while (i >= 0 && inc[i] == '1') inc[i--] = '0';
        ASSERT_GE(i, 0);
        inc[i] = '1';
        inc.resize(word.size(), '0');
        EXPECT_EQ(word, inc) << "shape " << s << " leaf " << leaf;
      }
      prev = word;
    }
  }
  EXPECT_EQ(kTreeTables.length[1][0], 1u);
  EXPECT_EQ(kTreeTables.value[1][2], 0b00011);  // "11000" read left to right
}

TEST(CodeTree, ShapeZeroDescriptionTakesFourBits) {
  BitWriter w;
  write_bits(&w, 0, 4);
  write_bits(&w, 0xabc, 12);
  auto b = bit_writer_finish(&w);
  BitReader r = reader(b);
  CodeTree t;
  ASSERT_TRUE(read_code_tree(&r, &t));
  EXPECT_EQ(consumed(r), 4u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(t.symbols[i], i);
  EXPECT_EQ(t.max_bits, 4u);
}

TEST(CodeTree, ExplicitLists) {
  struct Case {
    std::vector<uint8_t> listed;
    std::vector<uint8_t> map;
  } cases[] = {
      {{5}, {5, 0, 1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
      {{15, 14, 13, 12, 11, 10, 9, 8}, {15, 14, 13, 12, 11, 10, 9, 8, 0, 1, 2, 3, 4, 5, 6, 7}},
      {{0, 2}, {0, 2, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
  };
  for (const Case& c : cases) {
    BitWriter w;
    write_bits(&w, 7, 4);
    write_bit(&w, 1);
    write_bits(&w, uint32_t(c.listed.size() - 1), 3);
    for (uint8_t s : c.listed) write_bits(&w, s, 4);
    auto b = bit_writer_finish(&w);
    BitReader r = reader(b);
    CodeTree t;
    ASSERT_TRUE(read_code_tree(&r, &t));
    EXPECT_EQ(consumed(r), 8u + 4 * c.listed.size());
    EXPECT_EQ(std::vector<uint8_t>(t.symbols, t.symbols + 16), c.map);
    EXPECT_EQ(t.max_bits, 6u);
  }
}

TEST(CodeTree, RepeatedExplicitSymbolIsRefusedButTheMapStaysAPermutation) {
  BitWriter w;
  write_bits(&w, 3, 4);
  write_bit(&w, 1);
  write_bits(&w, 7, 3);
  for (int i = 0; i < 8; ++i) write_bits(&w, 4, 4);
  auto b = bit_writer_finish(&w);
  BitReader r = reader(b);
  CodeTree t;
  EXPECT_FALSE(read_code_tree(&r, &t));
  std::vector<uint8_t> m(t.symbols, t.symbols + 16);
  std::sort(m.begin(), m.end());
  for (int i = 0; i < 16; ++i) EXPECT_EQ(m[i], i);
}

TEST(CodeTree, MergeForm) {
  // Depth 0: the eight pairs in order; pair i swapped when its bit is 1.
  BitWriter w;
  write_bits(&w, 2, 4);
  write_bit(&w, 0);
  write_bits(&w, 0, 2);
  write_bits(&w, 0b10000001, 8);
  auto b = bit_writer_finish(&w);
  BitReader r = reader(b);
  CodeTree t;
  ASSERT_TRUE(read_code_tree(&r, &t));
  EXPECT_EQ(consumed(r), 15u);
  std::vector<uint8_t> want = {1, 0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 14};
  EXPECT_EQ(std::vector<uint8_t>(t.symbols, t.symbols + 16), want);

  // Depth 1: pairs (0,1) and (2,3) merged with bits 1, 0, 1: 2, 0, 3, 1.
  BitWriter w2;
  write_bits(&w2, 2, 4);
  write_bit(&w2, 0);
  write_bits(&w2, 1, 2);
  write_bits(&w2, 0, 8);
  write_bit(&w2, 1);
  write_bit(&w2, 0);
  write_bit(&w2, 1);  // left list is out after this: 1 follows without a bit
  for (int i = 0; i < 3; ++i) write_bits(&w2, 0, 2);  // the other three merges: both 0
  auto b2 = bit_writer_finish(&w2);
  r = reader(b2);
  ASSERT_TRUE(read_code_tree(&r, &t));
  EXPECT_EQ(consumed(r), 4u + 1 + 2 + 8 + 3 + 6);
  EXPECT_EQ(t.symbols[0], 2);
  EXPECT_EQ(t.symbols[1], 0);
  EXPECT_EQ(t.symbols[2], 3);
  EXPECT_EQ(t.symbols[3], 1);
  EXPECT_EQ(t.symbols[4], 4);
}

TEST(CodeTree, WriterRoundTripsEveryFormAndSymbol) {
  std::mt19937 rng(7);
  for (int iter = 0; iter < 300; ++iter) {
    TreeSpec ts;
    ts.shape = 1 + rng() % 15;
    std::shuffle(ts.symbols, ts.symbols + 16, rng);
    if (iter % 3 == 1) {  // explicit list: a prefix, then increasing order
      uint8_t k = uint8_t(1 + rng() % 8);
      std::sort(ts.symbols + k, ts.symbols + 16);
      ts.form = -2;
    } else {
      ts.form = iter % 3 == 0 ? 3 : -1;
    }
    BitWriter w;
    ASSERT_TRUE(write_code_tree(&w, ts));
    uint32_t desc = uint32_t(bit_writer_position(&w));
    EXPECT_EQ(desc, code_tree_bits(ts));
    std::vector<uint32_t> syms;
    for (int i = 0; i < 40; ++i) {
      syms.push_back(rng() % 16);
      write_tree_symbol(&w, ts, syms.back());
    }
    auto b = bit_writer_finish(&w);
    BitReader r = reader(b);
    CodeTree t;
    ASSERT_TRUE(read_code_tree(&r, &t));
    ASSERT_EQ(consumed(r), desc);
    EXPECT_EQ(std::vector<uint8_t>(t.symbols, t.symbols + 16),
              std::vector<uint8_t>(ts.symbols, ts.symbols + 16));
    for (uint32_t s : syms) {
      uint64_t before = consumed(r);
      ASSERT_EQ(decode_symbol(&r, &t), s);
      EXPECT_EQ(consumed(r) - before, tree_symbol_bits(ts, s));
    }
    EXPECT_FALSE(r.overrun);
  }
}

TEST(CodeTree, PeekingPastTheLastWordNeitherLoadsNorOverruns) {
  // One word: a 1-bit code of shape 13 at its last bit; the 7-bit peek reaches past the end.
  TreeSpec ts;
  ts.shape = 13;
  BitWriter w;
  write_bits(&w, 0, 31);
  write_tree_symbol(&w, ts, 0);
  auto b = bit_writer_finish(&w);
  ASSERT_EQ(b.size(), 4u);
  BitReader r = reader(b);
  read_bits(&r, 31);
  CodeTree t;
  t.shape = 13;
  t.max_bits = 7;
  t.lookup = kTreeTables.lookup[13];
  for (int i = 0; i < 16; ++i) t.symbols[i] = uint8_t(i);
  EXPECT_EQ(decode_symbol(&r, &t), 0u);
  EXPECT_FALSE(r.overrun);
  EXPECT_EQ(r.next, b.data() + 4);
  EXPECT_EQ(r.count, 0u);
}

TEST(CodeTree, TunedTreeGivesFrequentSymbolsShortWords) {
  uint64_t counts[16] = {};
  counts[9] = 1000;
  counts[3] = 10;
  TreeSpec t = tree_for_counts(counts);
  EXPECT_NE(t.shape, 0u);
  EXPECT_EQ(tree_symbol_bits(t, 9), 1u);
  uint64_t flat[16];
  std::fill(flat, flat + 16, 5);
  EXPECT_EQ(tree_for_counts(flat).shape, 0u);
}

}  // namespace
