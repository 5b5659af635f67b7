#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "encode/bit_writer.h"
#include "encode/video_stream_writer.h"
#include "video/value_stream.h"

namespace {

uint64_t consumed(const BitReader& r) { return uint64_t(r.next - r.start) * 8 - r.count; }

// Stream buffers for a movie of luma stride `stride`, with guard bytes after each buffer.
struct Buffers {
  std::vector<uint8_t> block;
  StreamBuffers b;
  explicit Buffers(uint32_t stride) {
    block.assign(stream_buffers_total_bytes(stride) + 64, 0xee);
    stream_buffers_place(&b, stride, block.data());
  }
};

// A plane's streams with identity trees (shape 0) on bits from the writer.
struct Harness {
  Buffers buf;
  std::vector<uint8_t> bytes;
  BitReader r;
  PlaneStreams ps;
  Harness(uint32_t width, uint32_t flags, BitWriter* w, uint32_t stride = 0)
      : buf(stride ? stride : width) {
    bytes = bit_writer_finish(w);
    bit_reader_init(&r, bytes.data(), bytes.size());
    plane_streams_init(&ps, &buf.b, width, flags);
  }
  std::vector<int> take(uint32_t s, uint32_t n) {
    std::vector<int> v;
    for (uint32_t i = 0; i < n; ++i)
      v.push_back(s == kStreamIntraDc ? int(stream_take16(&ps, s))
                  : s == kStreamInterDc ? int(int16_t(stream_take16(&ps, s)))
                  : s == kStreamXOffsets || s == kStreamYOffsets ? stream_take_signed(&ps, s)
                                                                  : int(stream_take(&ps, s)));
    return v;
  }
};

TEST(StreamBuffers, SizesFollowTheLumaStride) {
  struct Case {
    uint32_t stride;
    uint32_t bytes[9];
  } cases[] = {
      {640, {592, 552, 5632, 1152, 592, 592, 1184, 1184, 4352}},
      {112, {528, 520, 1408, 624, 528, 528, 1052, 1052, 1184}},
      {16, {516, 516, 640, 528, 516, 516, 1028, 1028, 608}},
  };
  for (const Case& c : cases)
    for (uint32_t s = 0; s < 9; ++s) EXPECT_EQ(stream_buffer_bytes(c.stride, s), c.bytes[s]) << s;
  Buffers b(640);
  for (uint32_t s = 0; s < 9; ++s) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b.b.data[s]) % 32,
              reinterpret_cast<uintptr_t>(b.block.data()) % 32);
    EXPECT_EQ(b.b.capacity[s], stream_buffer_bytes(640, s) / stream_element_bytes(s));
  }
}

TEST(StreamBuffers, LengthFieldWidths) {
  struct Case {
    uint32_t width, stream, bits;
  } cases[] = {
      {0, kStreamBlockTypes, 9},   {8, kStreamBlockTypes, 10},   {640, kStreamBlockTypes, 10},
      {8, kStreamSubblockTypes, 9}, {640, kStreamColours, 13},    {640, kStreamRunLengths, 13},
      {640, kStreamPatterns, 11},  {1920, kStreamColours, 14},   {4096, kStreamColours, 15},
      {16384, kStreamColours, 15}, {4096, kStreamIntraDc, 10}, {8192, kStreamIntraDc, 11},
  };
  for (const Case& c : cases) EXPECT_EQ(stream_length_bits(c.width, c.stream), c.bits);
}

TEST(ValueStream, BlockTypeRuns) {
  // Symbols 3, 13 (nine elements), then a chunk starting with 12 (four zeros).
  BitWriter w;
  uint32_t lb = stream_length_bits(64, kStreamBlockTypes);
  write_bits(&w, 9, lb);
  write_bit(&w, 0);
  write_bits(&w, 3, 4);
  write_bits(&w, 13, 4);
  write_bits(&w, 5, lb);
  write_bit(&w, 0);
  write_bits(&w, 12, 4);
  write_bits(&w, 7, 4);
  Harness h(64, 0, &w);
  ASSERT_TRUE(read_stream_chunk(&h.r, &h.ps, kStreamBlockTypes));
  EXPECT_EQ(h.take(kStreamBlockTypes, 9), std::vector<int>(9, 3));
  ASSERT_TRUE(read_stream_chunk(&h.r, &h.ps, kStreamBlockTypes));
  EXPECT_EQ(h.take(kStreamBlockTypes, 5), (std::vector<int>{0, 0, 0, 0, 7}));
  EXPECT_FALSE(h.ps.broken);
}

TEST(ValueStream, BlockTypeRunPastTheChunkIsRefused) {
  BitWriter w;
  uint32_t lb = stream_length_bits(64, kStreamBlockTypes);
  write_bits(&w, 6, lb);
  write_bit(&w, 0);
  write_bits(&w, 2, 4);
  write_bits(&w, 13, 4);  // eight more would make nine of six
  Harness h(64, 0, &w);
  EXPECT_FALSE(read_stream_chunk(&h.r, &h.ps, kStreamBlockTypes));
  EXPECT_TRUE(h.ps.broken);
  EXPECT_EQ(h.buf.b.data[kStreamBlockTypes][6], 0xee);  // nothing past n
}

TEST(ValueStream, ChunkOverCapacityIsRefused) {
  BitWriter w;
  uint32_t lb = stream_length_bits(64, kStreamColours);  // 10 bits: up to 1023
  write_bits(&w, 641, lb);
  write_bit(&w, 1);
  write_bits(&w, 0x12, 8);
  Harness h(64, 0, &w, 16);  // buffers of a 16-wide movie: 2 × 64 + 512 = 640 colours
  EXPECT_FALSE(read_stream_chunk(&h.r, &h.ps, kStreamColours));
  EXPECT_TRUE(h.ps.broken);
  EXPECT_EQ(h.take(kStreamColours, 1), std::vector<int>{0});
  EXPECT_EQ(h.buf.block[stream_buffers_total_bytes(16)], 0xee);
}

TEST(ValueStream, ZeroLengthFinishesAndPartialChunksCarry) {
  BitWriter w;
  uint32_t lb = stream_length_bits(64, kStreamXOffsets);
  write_bits(&w, 0, lb);  // x offsets finished
  write_bits(&w, 3, lb);  // y offsets: three, all equal to -2
  write_bit(&w, 1);
  write_bits(&w, 2, 4);
  write_bit(&w, 1);
  write_bits(&w, 0x5, 3);  // marker
  Harness h(64, 0, &w);
  ASSERT_TRUE(read_stream_chunk(&h.r, &h.ps, kStreamXOffsets));
  ASSERT_TRUE(read_stream_chunk(&h.r, &h.ps, kStreamYOffsets));
  EXPECT_EQ(h.take(kStreamYOffsets, 2), (std::vector<int>{-2, -2}));
  uint64_t at = consumed(h.r);
  // The next row: neither stream reads anything.
  ASSERT_TRUE(read_stream_chunk(&h.r, &h.ps, kStreamXOffsets));
  ASSERT_TRUE(read_stream_chunk(&h.r, &h.ps, kStreamYOffsets));
  EXPECT_EQ(consumed(h.r), at);
  EXPECT_EQ(h.take(kStreamYOffsets, 1), std::vector<int>{-2});
  EXPECT_FALSE(h.ps.broken);
  // Taking from the finished stream is refused (0), and it is still never refilled.
  EXPECT_EQ(h.take(kStreamXOffsets, 1), std::vector<int>{0});
  EXPECT_TRUE(h.ps.broken);
  ASSERT_TRUE(read_stream_chunk(&h.r, &h.ps, kStreamXOffsets));
  EXPECT_EQ(consumed(h.r), at);
  EXPECT_EQ(read_bits(&h.r, 3), 5u);
}

TEST(ValueStream, ColoursTwoLevelsAndVariants) {
  for (uint32_t flags : {0u, 0x8000u}) {
    // Contexts: context 0 → shape 0 identity; colour 200 = 0xc8, then 0x15 (context 12).
    BitWriter w;
    uint32_t lb = stream_length_bits(8, kStreamColours);
    write_bits(&w, 2, lb);
    write_bit(&w, 0);
    write_bits(&w, 0xc, 4);
    write_bits(&w, 0x8, 4);
    write_bits(&w, 0x1, 4);
    write_bits(&w, 0x5, 4);
    write_bits(&w, 1, lb);  // the next chunk: one colour for all (context 1 now)
    write_bit(&w, 1);
    write_bits(&w, 0x7, 4);
    write_bits(&w, 0xf, 4);
    Harness h(8, flags, &w);
    ASSERT_TRUE(read_stream_chunk(&h.r, &h.ps, kStreamColours));
    std::vector<int> want = flags ? std::vector<int>{56, 128 + 0x15} : std::vector<int>{200, 0x15};
    EXPECT_EQ(h.take(kStreamColours, 2), want);
    EXPECT_EQ(h.ps.last_high, 1u);
    ASSERT_TRUE(read_stream_chunk(&h.r, &h.ps, kStreamColours));
    EXPECT_EQ(h.take(kStreamColours, 1), std::vector<int>{flags ? 128 + 0x7f : 0x7f});
  }
  EXPECT_EQ(colour_code(56, true), 200);
  EXPECT_EQ(colour_code(200, false), 200);
  EXPECT_EQ(colour_code(0, true), -1);
  EXPECT_EQ(colour_code(128, true), 0);
}

TEST(ValueStream, ColourContextTreesAreUsedByPreviousHighNibble) {
  // Context 0's tree maps leaf 0 → symbol 9, so the first colour's high nibble bits 0000 → 9.
  StreamCoder c;
  stream_coder_init(&c, 8, 0);
  c.colour_context[0].shape = 1;
  std::swap(c.colour_context[0].symbols[0], c.colour_context[0].symbols[9]);
  c.colour_context[9].shape = 2;
  BitWriter w;
  ASSERT_TRUE(write_plane_trees(&w, &c));
  int32_t col[3] = {0x93, 0x9a, 0x01};
  ASSERT_TRUE(write_stream_chunk(&w, &c, kStreamColours, col, 3));
  Harness h(8, 0, &w);
  ASSERT_TRUE(plane_streams_read_trees(&h.r, &h.ps));
  ASSERT_TRUE(read_stream_chunk(&h.r, &h.ps, kStreamColours));
  EXPECT_EQ(h.take(kStreamColours, 3), (std::vector<int>{0x93, 0x9a, 0x01}));
  EXPECT_EQ(h.ps.colour_context[0].symbols[0], 9);
}

TEST(ValueStream, PatternsOffsetsRunsAndDc) {
  BitWriter w;
  auto lb = [](uint32_t s) { return stream_length_bits(16, s); };
  write_bits(&w, 2, lb(kStreamPatterns));
  write_bits(&w, 0x1, 4);  // low nibble first
  write_bits(&w, 0xa, 4);
  write_bits(&w, 0xf, 4);
  write_bits(&w, 0x0, 4);
  write_bits(&w, 3, lb(kStreamXOffsets));
  write_bit(&w, 0);
  write_bits(&w, 0, 4);  // 0: no sign bit
  write_bits(&w, 15, 4);
  write_bit(&w, 1);
  write_bits(&w, 4, 4);
  write_bit(&w, 0);
  write_bits(&w, 2, lb(kStreamRunLengths));
  write_bit(&w, 0);
  write_bits(&w, 9, 4);  // no sign for runs
  write_bits(&w, 15, 4);
  write_bits(&w, 3, lb(kStreamIntraDc));
  write_bits(&w, 2047, 11);
  write_bits(&w, 2, 4);  // group width 2
  write_bits(&w, 1, 2);
  write_bit(&w, 0);
  write_bits(&w, 3, 2);
  write_bit(&w, 1);
  write_bits(&w, 10, lb(kStreamInterDc));
  write_bits(&w, 0, 10);  // 0: no sign bit
  write_bits(&w, 0, 4);   // group of 8 repeats
  write_bits(&w, 1, 4);   // last group of one
  write_bits(&w, 1, 1);
  write_bit(&w, 1);
  uint64_t written = bit_writer_position(&w);
  Harness h(16, 0, &w);
  for (uint32_t s : {kStreamPatterns, kStreamXOffsets, kStreamRunLengths, kStreamIntraDc,
                     kStreamInterDc})
    ASSERT_TRUE(read_stream_chunk(&h.r, &h.ps, s));
  EXPECT_EQ(h.take(kStreamPatterns, 2), (std::vector<int>{0xa1, 0x0f}));
  EXPECT_EQ(h.take(kStreamXOffsets, 3), (std::vector<int>{0, -15, 4}));
  EXPECT_EQ(h.take(kStreamRunLengths, 2), (std::vector<int>{9, 15}));
  EXPECT_EQ(h.take(kStreamIntraDc, 3), (std::vector<int>{2047, 2048, 2045}));
  std::vector<int> inter(9, 0);
  inter.push_back(-1);
  EXPECT_EQ(h.take(kStreamInterDc, 10), inter);
  EXPECT_EQ(consumed(h.r), written);  // everything read, nothing more
  EXPECT_FALSE(h.ps.broken);
}

TEST(ValueStream, RandomChunksRoundTrip) {
  std::mt19937 rng(11);
  for (int iter = 0; iter < 200; ++iter) {
    uint32_t width = 8 * (1 + rng() % 80);
    uint32_t flags = rng() % 2 ? 0x8000 : 0;
    StreamCoder c;
    stream_coder_init(&c, width, flags);
    for (uint32_t s = 0; s < kStreamCount; ++s) {
      c.tree[s].shape = rng() % 16;
      if (c.tree[s].shape) std::shuffle(c.tree[s].symbols, c.tree[s].symbols + 16, rng);
    }
    for (TreeSpec& t : c.colour_context) {
      t.shape = rng() % 16;
      if (t.shape) std::shuffle(t.symbols, t.symbols + 16, rng);
    }
    BitWriter w;
    ASSERT_TRUE(write_plane_trees(&w, &c));
    std::vector<std::pair<uint32_t, std::vector<int32_t>>> chunks;
    for (int k = 0; k < 12; ++k) {
      uint32_t s = rng() % kStreamCount;
      uint32_t n = 1 + rng() % 40;
      std::vector<int32_t> e(n);
      bool equal = rng() % 4 == 0;
      int32_t prev = 0;
      for (uint32_t i = 0; i < n; ++i) {
        int32_t v;
        switch (s) {
          case kStreamBlockTypes:
          case kStreamSubblockTypes: v = rng() % 3 ? prev : int32_t(rng() % 12); break;
          case kStreamColours: v = int32_t(1 + rng() % 255); break;
          case kStreamPatterns: v = int32_t(rng() % 256); break;
          case kStreamXOffsets:
          case kStreamYOffsets: v = int32_t(rng() % 31) - 15; break;
          case kStreamRunLengths: v = int32_t(rng() % 16); break;
          case kStreamIntraDc: v = i ? int32_t((prev + rng() % 200) & 0xffff) : int32_t(rng() % 2048); break;
          default: v = i ? int32_t(int16_t(prev + int32_t(rng() % 401) - 200)) : int32_t(rng() % 2047) - 1023; break;
        }
        e[i] = equal && i ? e[0] : v;
        prev = e[i];
      }
      ASSERT_TRUE(write_stream_chunk(&w, &c, s, e.data(), n)) << s;
      chunks.push_back({s, e});
    }
    Harness h(width, flags, &w);
    ASSERT_TRUE(plane_streams_read_trees(&h.r, &h.ps));
    for (auto& [s, e] : chunks) {
      h.ps.s[s].read = h.ps.s[s].end;  // consumed: the next call refills
      ASSERT_TRUE(read_stream_chunk(&h.r, &h.ps, s));
      std::vector<int> got = h.take(s, uint32_t(e.size()));
      ASSERT_EQ(got, std::vector<int>(e.begin(), e.end())) << "stream " << s;
    }
    EXPECT_FALSE(h.ps.broken);
    EXPECT_FALSE(h.r.overrun);
  }
}

}  // namespace

namespace {

TEST(ValueStream, LastHighStartsAgainAtZeroWithEachPlanesTrees) {
  StreamCoder c;
  stream_coder_init(&c, 8, 0);
  c.colour_context[0].shape = 2;  // context 0 differs from context 7's identity shape 0
  BitWriter w;
  ASSERT_TRUE(write_plane_trees(&w, &c));
  int32_t col[1] = {0x3c};
  ASSERT_TRUE(write_stream_chunk(&w, &c, kStreamColours, col, 1, kChunkEach));
  Harness h(8, 0, &w);
  h.ps.last_high = 7;  // left over from an earlier plane
  ASSERT_TRUE(plane_streams_read_trees(&h.r, &h.ps));
  EXPECT_EQ(h.ps.last_high, 0u);
  ASSERT_TRUE(read_stream_chunk(&h.r, &h.ps, kStreamColours));
  EXPECT_EQ(h.take(kStreamColours, 1), std::vector<int>{0x3c});
  EXPECT_EQ(h.ps.last_high, 3u);
}

}  // namespace

namespace {

// The fast chunk reader against its plain twin: the same chunk sequence on two copies of the
// plane state, compared after every chunk (result, elements, flags, reader state) and checked
// for stores past each buffer (the guard bytes of Buffers).
void expect_chunk_readers_agree(const std::vector<uint8_t>& bytes, uint32_t width, uint32_t flags,
                                uint32_t skip_bits, const std::vector<uint32_t>& order) {
  Buffers fast_buf(width), plain_buf(width);
  BitReader rf, rp;
  bit_reader_init(&rf, bytes.data(), bytes.size());
  PlaneStreams pf, pp;
  plane_streams_init(&pf, &fast_buf.b, width, flags);
  for (uint32_t k = skip_bits; k > 0; k -= k < 15 ? k : 15) read_bits(&rf, k < 15 ? k : 15);
  plane_streams_read_trees(&rf, &pf);
  rp = rf;
  plane_streams_init(&pp, &plain_buf.b, width, flags);
  std::memcpy(pp.colour_context, pf.colour_context, sizeof(pf.colour_context));
  for (uint32_t s = 0; s < kStreamCount; ++s) pp.s[s].tree = pf.s[s].tree;
  pp.broken = pf.broken;
  pp.last_high = pf.last_high;
  for (size_t k = 0; k < order.size(); ++k) {
    const uint32_t s = order[k];
    pf.s[s].read = pf.s[s].end;
    pp.s[s].read = pp.s[s].end;
    const bool okf = read_stream_chunk(&rf, &pf, s);
    const bool okp = read_stream_chunk_plain(&rp, &pp, s);
    ASSERT_EQ(okf, okp) << "chunk " << k << " stream " << s;
    ASSERT_EQ(pf.broken, pp.broken) << k;
    ASSERT_EQ(pf.last_high, pp.last_high) << k;
    ASSERT_EQ(rf.next - rf.start, rp.next - rp.start) << k;
    ASSERT_EQ(rf.count, rp.count) << k;
    ASSERT_EQ(rf.bits, rp.bits) << k;
    ASSERT_EQ(rf.overrun, rp.overrun) << k;
    const ValueStream& a = pf.s[s];
    const ValueStream& b = pp.s[s];
    ASSERT_EQ(a.read - a.buffer, b.read - b.buffer) << k;
    ASSERT_EQ(a.end - a.buffer, b.end - b.buffer) << k;
    if (a.end > a.buffer) {
      ASSERT_EQ(0, std::memcmp(a.buffer, b.buffer, size_t(a.end - a.buffer))) << k;
    }
  }
  // Nothing past any buffer's capacity was written (the block was filled with 0xee).
  for (uint32_t s = 0; s < kStreamCount; ++s) {
    const size_t bytes_s = size_t(fast_buf.b.capacity[s]) * stream_element_bytes(s);
    const uint8_t* after = fast_buf.b.data[s] + bytes_s;
    const uint8_t* limit = fast_buf.block.data() + fast_buf.block.size();
    const uint8_t* next = s + 1 < kStreamCount ? fast_buf.b.data[s + 1] : limit;
    for (const uint8_t* q = after; q < next; ++q) ASSERT_EQ(*q, 0xee) << "stream " << s;
  }
}

std::vector<uint32_t> random_order(std::mt19937& rng, uint32_t n) {
  std::vector<uint32_t> order(n);
  for (uint32_t& s : order) s = rng() % kStreamCount;
  return order;
}

TEST(ValueStream, FastChunkReaderMatchesThePlainOne) {
  std::mt19937 rng(23);
  // Streams made by the writer, whole, cut at every kind of place and with flipped bits.
  for (int iter = 0; iter < 150; ++iter) {
    const uint32_t width = 8 * (1 + rng() % 120);
    const uint32_t flags = rng() % 2 ? 0x8000 : 0;
    StreamCoder c;
    stream_coder_init(&c, width, flags);
    for (uint32_t s = 0; s < kStreamCount; ++s) {
      c.tree[s].shape = rng() % 16;
      if (c.tree[s].shape) std::shuffle(c.tree[s].symbols, c.tree[s].symbols + 16, rng);
    }
    for (TreeSpec& t : c.colour_context) {
      t.shape = rng() % 16;
      if (t.shape) std::shuffle(t.symbols, t.symbols + 16, rng);
    }
    BitWriter w;
    ASSERT_TRUE(write_plane_trees(&w, &c));
    std::vector<uint32_t> order;
    for (int k = 0; k < 14; ++k) {
      const uint32_t s = rng() % kStreamCount;
      const uint32_t n = 1 + rng() % (width / 2);
      std::vector<int32_t> e(n);
      const bool equal = rng() % 4 == 0;
      int32_t prev = 0;
      for (uint32_t i = 0; i < n; ++i) {
        int32_t v;
        switch (s) {
          case kStreamBlockTypes:
          case kStreamSubblockTypes: v = rng() % 3 ? prev : int32_t(rng() % 12); break;
          case kStreamColours: v = int32_t(1 + rng() % 255); break;
          case kStreamPatterns: v = int32_t(rng() % 256); break;
          case kStreamXOffsets:
          case kStreamYOffsets: v = int32_t(rng() % 31) - 15; break;
          case kStreamRunLengths: v = int32_t(rng() % 16); break;
          case kStreamIntraDc: v = i ? int32_t((prev + rng() % 3000) & 0xffff) : int32_t(rng() % 2048); break;
          default: v = i ? int32_t(int16_t(prev + int32_t(rng() % 4001) - 2000)) : int32_t(rng() % 2047) - 1023; break;
        }
        e[i] = equal && i ? e[0] : v;
        prev = e[i];
      }
      ASSERT_TRUE(write_stream_chunk(&w, &c, s, e.data(), n)) << s;
      order.push_back(s);
    }
    const std::vector<uint8_t> whole = bit_writer_finish(&w);
    expect_chunk_readers_agree(whole, width, flags, 0, order);
    {
      // Cut just after the last bit the chunks use: the last word is then partial (the plain
      // reader marks the overrun), and the fast reader must not finish it by itself.
      Buffers b(width);
      BitReader r;
      bit_reader_init(&r, whole.data(), whole.size());
      PlaneStreams ps;
      plane_streams_init(&ps, &b.b, width, flags);
      plane_streams_read_trees(&r, &ps);
      for (uint32_t s : order) {
        ps.s[s].read = ps.s[s].end;
        read_stream_chunk_plain(&r, &ps, s);
      }
      const size_t used = size_t((consumed(r) + 7) / 8);
      for (size_t size = used; size < used + 8 && size <= whole.size(); ++size)
        expect_chunk_readers_agree(std::vector<uint8_t>(whole.begin(), whole.begin() + ptrdiff_t(size)),
                                   width, flags, 0, order);
    }
    for (int cut = 0; cut < 6; ++cut) {
      // Near the end the fast reader hands over to the plain one; any length must agree.
      const size_t size = cut < 3 ? whole.size() - std::min<size_t>(whole.size(), cut + rng() % 12)
                                  : rng() % (whole.size() + 1);
      expect_chunk_readers_agree(std::vector<uint8_t>(whole.begin(), whole.begin() + ptrdiff_t(size)),
                                 width, flags, 0, order);
    }
    std::vector<uint8_t> flipped = whole;
    for (int f = 0; f < 3; ++f) flipped[rng() % flipped.size()] ^= uint8_t(1u << (rng() % 8));
    expect_chunk_readers_agree(flipped, width, flags, 0, order);
  }
  // Arbitrary bytes, started at any bit, of every short length.
  for (int iter = 0; iter < 400; ++iter) {
    std::vector<uint8_t> bytes(rng() % (iter < 100 ? 24 : 600));
    for (uint8_t& b : bytes) b = uint8_t(rng());
    const uint32_t width = 8 * (1 + rng() % 40);
    const uint32_t skip = uint32_t(rng() % (8 * bytes.size() + 1));
    expect_chunk_readers_agree(bytes, width, rng() % 2 ? 0x8000 : 0, skip, random_order(rng, 20));
  }
}

}  // namespace
