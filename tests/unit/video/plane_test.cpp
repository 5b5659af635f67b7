#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "encode/video_plane_writer.h"
#include "video/plane.h"
#include "video/transform.h"

namespace {

constexpr uint8_t kUntouched = 0x55;

// A plane of width × height (stride = width rounded to 16, or the width for chroma), a
// reference with a known gradient, a destination filled with kUntouched, guard bytes around
// both, and the change map.
struct Plane {
  uint32_t width, height, stride, scale;
  std::vector<uint8_t> ref, dst, map;
  std::vector<uint8_t> buffers;
  StreamBuffers sb;
  static constexpr size_t kGuard = 64;
  Plane(uint32_t w, uint32_t h, uint32_t s = 1) : width(w), height(h), scale(s) {
    stride = s == 1 ? (w + 15) & ~15u : w;
    if (stride == 0) stride = 16;
    size_t n = size_t(stride) * h + 2 * kGuard;
    ref.assign(n, 0xab);
    dst.assign(n, 0xcd);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < stride; ++x) {
        ref[kGuard + y * stride + x] = uint8_t(x * 7 + y * 13);
        dst[kGuard + y * stride + x] = kUntouched;
      }
    uint32_t cols = s == 1 ? stride / 16 : stride / 8;
    uint32_t rows = s == 1 ? (h + 15) / 16 : h / 8;
    map.assign(size_t(cols) * rows + 1 + kGuard, 0);
    uint32_t luma_stride = s == 1 ? stride : 2 * stride;
    buffers.assign(stream_buffers_total_bytes(luma_stride), 0);
    stream_buffers_place(&sb, luma_stride, buffers.data());
  }
  uint8_t* d() { return dst.data() + kGuard; }
  uint8_t* r() { return ref.data() + kGuard; }
  uint8_t at(uint32_t x, uint32_t y) const { return dst[kGuard + y * stride + x]; }
  uint8_t ref_at(uint32_t x, uint32_t y) const { return ref[kGuard + y * stride + x]; }
  PlaneResult decode(const std::vector<uint8_t>& bits, uint32_t flags = 0) {
    data = bits;
    PlaneArgs a{data.data(), data.size(), d(), r(), width, height, stride, scale, map.data(), &sb, flags, nullptr};
    return decode_plane(a);
  }
  bool guards_intact() const {
    for (size_t i = 0; i < kGuard; ++i)
      if (dst[i] != 0xcd || dst[dst.size() - 1 - i] != 0xcd) return false;
    for (size_t i = map.size() - kGuard; i < map.size(); ++i)
      if (map[i]) return false;
    return true;
  }
  std::vector<uint8_t> data;
};

VideoPlaneDesc all_skip(uint32_t w, uint32_t h, uint32_t scale = 1) {
  VideoPlaneDesc d;
  d.width = w;
  d.height = h;
  d.scale = scale;
  d.rows.assign(h / 8, std::vector<VideoBlock>(w / 8, video_skip()));
  return d;
}

std::vector<uint8_t> write(const VideoPlaneDesc& d, uint32_t flags = 0,
                           VideoPlaneOptions o = VideoPlaneOptions()) {
  std::vector<uint8_t> out;
  const char* err = nullptr;
  EXPECT_TRUE(video_write_plane(d, flags, o, &out, &err)) << (err ? err : "");
  return out;
}

TEST(Plane, EachKindAtOneBlock) {
  uint8_t rows01[8] = {0x01, 0x80, 0xff, 0, 0x0f, 0xf0, 0xaa, 0x55};
  uint8_t raw[64];
  for (int i = 0; i < 64; ++i) raw[i] = uint8_t(3 * i + 1);
  struct Case {
    const char* what;
    VideoBlock block;
    bool marked;
    std::function<int(uint32_t c, uint32_t r, const Plane&)> want;  // sample (8 + c, r)
  } cases[] = {
      {"a fill block of 37", video_fill(37), true, [](uint32_t, uint32_t, const Plane&) { return 37; }},
      {"a motion copy of (-3, 2)", video_motion(-3, 2), true,
       [](uint32_t c, uint32_t r, const Plane& p) { return p.ref_at(5 + c, r + 2); }},
      {"a motion copy of (0, 0)", video_motion(0, 0), true,
       [](uint32_t c, uint32_t r, const Plane& p) { return p.ref_at(8 + c, r); }},
      {"a skip", video_skip(), false,
       [](uint32_t c, uint32_t r, const Plane& p) { return p.ref_at(8 + c, r); }},
      {"a pattern, bit 0 leftmost", video_pattern(10, 200, rows01), true,
       [&](uint32_t c, uint32_t r, const Plane&) { return (rows01[r] >> c) & 1 ? 200 : 10; }},
      {"raw samples row by row", video_raw(raw), true,
       [&](uint32_t c, uint32_t r, const Plane&) { return raw[8 * r + c]; }},
      {"four fill runs of 16 along scan 5", video_run(5, {{16, true}, {16, true}, {16, true}, {16, true}}, {1, 2, 3, 4}),
       true,
       [](uint32_t c, uint32_t r, const Plane&) {
         for (int i = 0; i < 64; ++i)
           if (kRunScans[5][i] == 8 * r + c) return 1 + i / 16;
         return -1;
       }},
      {"runs reaching 63 take one more colour", video_run(0, {{16, true}, {16, true}, {16, true}, {15, true}}, {1, 2, 3, 4, 99}),
       true,
       [](uint32_t c, uint32_t r, const Plane&) {
         for (int i = 0; i < 64; ++i)
           if (kRunScans[0][i] == 8 * r + c) return i == 63 ? 99 : 1 + i / 16;
         return -1;
       }},
      {"kind 10 writes nothing", [] { VideoBlock b; b.kind = 10; return b; }(), false,
       [](uint32_t, uint32_t, const Plane&) { return kUntouched; }},
      {"kind 11 writes nothing", [] { VideoBlock b; b.kind = 11; return b; }(), false,
       [](uint32_t, uint32_t, const Plane&) { return kUntouched; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (uint32_t flags : {0u, 0x8000u}) {
      Plane p(16, 16);
      VideoPlaneDesc d = all_skip(16, 16);
      d.rows[0][1] = c.block;
      PlaneResult res = p.decode(write(d, flags), flags);
      EXPECT_TRUE(res.complete);
      EXPECT_EQ(res.next, p.data.data() + p.data.size());
      for (uint32_t r = 0; r < 8; ++r)
        for (uint32_t x = 0; x < 8; ++x) {
          ASSERT_EQ(p.at(8 + x, r), c.want(x, r, p)) << x << "," << r;
          ASSERT_EQ(p.at(x, r), p.ref_at(x, r));
        }
      EXPECT_EQ(p.map[0], c.marked ? 1 : 0);
      EXPECT_TRUE(p.guards_intact());
    }
  }
}

TEST(Plane, KindsTwelveToFifteenComeOnlyInAllEqualChunks) {
  for (uint8_t kind = 12; kind < 16; ++kind) {
    Plane p(32, 8);
    VideoPlaneDesc d = all_skip(32, 8);
    for (VideoBlock& b : d.rows[0]) b.kind = kind;
    VideoPlaneOptions no_equal;
    no_equal.all_equal = false;
    std::vector<uint8_t> bits;
    EXPECT_FALSE(video_write_plane(d, 0, no_equal, &bits));
    PlaneResult res = p.decode(write(d));
    EXPECT_TRUE(res.complete);
    for (uint32_t x = 0; x < 32; ++x) EXPECT_EQ(p.at(x, 7), kUntouched);
    EXPECT_EQ(p.map[0] | p.map[1], 0);
  }
}

TEST(Plane, ChangeMapMarking) {
  // Luma: the two block rows of a 16-row band share a map row, two columns share a byte.
  {
    Plane p(48, 32);
    VideoPlaneDesc d = all_skip(48, 32);
    d.rows[1][3] = video_fill(1);  // (24, 8): map (1, 0)
    d.rows[2][0] = video_fill(1);  // (0, 16): map (0, 1)
    d.rows[3][4] = video_motion(0, 0);  // (32, 24): map (2, 1)
    p.decode(write(d));
    std::vector<uint8_t> want = {0, 1, 0, 1, 0, 1, 0};
    EXPECT_EQ(std::vector<uint8_t>(p.map.begin(), p.map.begin() + 7), want);
  }
  // Chroma: every 8 × 8 block has its own byte, the one of the 16 × 16 luma area it covers.
  {
    Plane p(24, 16, 2);
    VideoPlaneDesc d = all_skip(24, 16, 2);
    d.rows[0][1] = video_fill(1);
    d.rows[1][2] = video_fill(1);
    p.decode(write(d));
    std::vector<uint8_t> want = {0, 1, 0, 0, 0, 1, 0};
    EXPECT_EQ(std::vector<uint8_t>(p.map.begin(), p.map.begin() + 7), want);
  }
}

TEST(Plane, ScaledBlocks) {
  uint8_t rows[8] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80};
  uint8_t raw[64];
  for (int i = 0; i < 64; ++i) raw[i] = uint8_t(200 - i);
  VideoBlock subs[] = {video_fill(77), video_pattern(5, 250, rows), video_raw(raw),
                       video_run_from_samples(3, raw), [] { VideoBlock b; b.kind = 2; return b; }()};
  for (const VideoBlock& s : subs) {
    for (uint32_t scale : {1u, 2u}) {
      SCOPED_TRACE(int(s.kind));
      Plane p(32, 32, scale);
      VideoPlaneDesc d = all_skip(32, 32, scale);
      d.rows[0] = {video_skip(), video_scaled(s), video_skip()};
      d.rows[1] = {video_skip(), video_scaled_lower(), video_skip()};
      std::vector<uint8_t> bits = write(d);
      PlaneResult res = p.decode(bits);
      EXPECT_TRUE(res.complete);
      EXPECT_EQ(res.next, p.data.data() + p.data.size());
      for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 16; ++x) {
          uint32_t k = 8 * (y / 2) + x / 2;
          int want = s.kind == kBlockFill    ? 77
                     : s.kind == kBlockPattern ? ((rows[y / 2] >> (x / 2)) & 1 ? 250 : 5)
                     : s.kind == kBlockRaw || s.kind == kBlockRun ? raw[k]
                                                                  : kUntouched;
          ASSERT_EQ(p.at(8 + x, y), want) << x << "," << y;
        }
      EXPECT_EQ(p.at(0, 0), p.ref_at(0, 0));
      EXPECT_EQ(p.at(24, 8), p.ref_at(24, 8));
      if (scale == 1)
        EXPECT_EQ(p.map[0] + 2 * p.map[1], 3);  // columns 8..23 straddle both map bytes
      else
        EXPECT_EQ(p.map[1] + 2 * p.map[2] + 4 * p.map[5] + 8 * p.map[6], 15);
    }
  }
}

TEST(Plane, IntraBlocksFlatAtTheDequantisedDc) {
  struct Case {
    int16_t dc;
    int want;
  } cases[] = {{1024, 128}, {16, 2}};
  for (const Case& c : cases) {
    int16_t coef[64] = {};
    coef[0] = c.dc;
    Plane p(16, 16);
    VideoPlaneDesc d;
    d = all_skip(16, 16);
    d.rows[0] = {video_scaled(video_intra(coef, 0))};
    d.rows[1] = {video_scaled_lower()};
    std::vector<uint8_t> bits = write(d);
    PlaneResult res = p.decode(bits);
    EXPECT_TRUE(res.complete);
    for (uint32_t y = 0; y < 16; ++y)
      for (uint32_t x = 0; x < 16; ++x) ASSERT_EQ(p.at(x, y), c.want);
    Plane q(8, 8);
    VideoPlaneDesc e = all_skip(8, 8);
    e.rows[0][0] = video_intra(coef, 0);
    q.decode(write(e));
    for (uint32_t y = 0; y < 8; ++y)
      for (uint32_t x = 0; x < 8; ++x) ASSERT_EQ(q.at(x, y), c.want);
  }
}

TEST(Plane, EmptyPlanes) {
  // Height 0: the 23 tree descriptions (4 bits each for shape 0) and nothing else.
  VideoPlaneOptions plain;
  plain.tune_trees = false;
  Plane p(16, 0);
  VideoPlaneDesc d;
  d.width = 16;
  std::vector<uint8_t> bits = write(d, 0, plain);
  bits.resize(64, 0xff);
  PlaneResult res = p.decode(bits);
  EXPECT_TRUE(res.complete);
  EXPECT_EQ(res.next, p.data.data() + 12);  // 92 bits: three words loaded
  // Width 0: the chunk lengths of every row are still read (all finish at the first row).
  Plane q(0, 8);
  VideoPlaneDesc e;
  e.height = 8;
  e.rows.resize(1);
  bits = write(e, 0, plain);
  EXPECT_EQ(bits.size(), 24u);  // 92 + 9 × 9 bits
  res = q.decode(bits);
  EXPECT_TRUE(res.complete);
  EXPECT_EQ(res.next, q.data.data() + 24);
}

TEST(Plane, RandomBlockListsRoundTrip) {
  std::mt19937 rng(2024);
  for (int iter = 0; iter < 400; ++iter) {
    uint32_t scale = 1 + rng() % 2;
    uint32_t w = 8 * (rng() % 9), h = 8 * (1 + rng() % 8);
    if (scale == 2) w = 8 * (1 + rng() % 8);
    uint32_t flags = rng() % 2 ? 0x8000 : 0;
    Plane p(w, h, scale);
    VideoPlaneDesc d;
    d.width = w;
    d.height = h;
    d.scale = scale;
    d.rows.resize(h / 8);
    auto colour = [&] { return uint8_t(flags ? 1 + rng() % 255 : rng() % 256); };
    auto content = [&](uint32_t kind) {
      uint8_t s[64];
      s[0] = colour();
      for (uint8_t& v : s) v = rng() % 3 ? colour() : s[0];
      uint8_t pat[8];
      for (uint8_t& v : pat) v = uint8_t(rng());
      int16_t coef[64] = {};
      uint32_t nz = rng() % 12;
      for (uint32_t i = 0; i < nz; ++i) coef[rng() % 64] = int16_t(int(rng() % 127) - 63);
      coef[0] = int16_t(rng() % 2048);
      switch (kind) {
        case 3: return video_run_from_samples(uint8_t(rng() % 16), s);
        case 5: return video_intra(coef, uint8_t(rng() % 16));
        case 6: return video_fill(colour());
        case 8: return video_pattern(colour(), colour(), pat);
        case 9: return video_raw(s);
        default: { VideoBlock b; b.kind = uint8_t(kind); return b; }
      }
    };
    // Scaled pairs need two free block columns in a row pair: plan them per row pair.
    for (uint32_t r = 0; r < h / 8; r += 2) {
      std::vector<int> plan;  // per block column: 1 = scaled pair starts here
      for (uint32_t x = 0; x < w / 8;) {
        bool pair = r + 1 < h / 8 && x + 1 < w / 8 && rng() % 6 == 0;
        plan.push_back(pair);
        x += pair ? 2 : 1;
      }
      for (uint32_t rr = r; rr < r + 2 && rr < h / 8; ++rr) {
        uint32_t y = 8 * rr;
        for (int pair : plan) {
          if (pair) {
            d.rows[rr].push_back(rr == r ? video_scaled(content(std::vector<uint32_t>{3, 5, 6, 8, 9, 0, 11}[rng() % 7]))
                                         : video_scaled_lower());
            continue;
          }
          uint32_t kind = rng() % 12;
          int mx = int(rng() % 31) - 15, my = int(rng() % 31) - 15;
          int16_t coef[64] = {};
          for (int i = 0; i < 6; ++i) coef[rng() % 64] = int16_t(int(rng() % 255) - 127);
          coef[0] = int16_t(int(rng() % 2047) - 1023);
          int8_t res[64] = {};
          for (int i = 0; i < 10; ++i) res[rng() % 64] = int8_t(rng());
          (void)y;
          switch (kind) {
            case 0: d.rows[rr].push_back(video_skip()); break;
            case 2: d.rows[rr].push_back(video_motion(mx, my)); break;
            case 4: d.rows[rr].push_back(video_residue(mx, my, res, uint8_t(rng() % 128))); break;
            case 7: d.rows[rr].push_back(video_inter(mx, my, coef, uint8_t(rng() % 16))); break;
            case 1: d.rows[rr].push_back(content(10 + rng() % 2)); break;
            default: d.rows[rr].push_back(content(kind)); break;
          }
        }
      }
    }
    VideoPlaneOptions o;
    o.tune_trees = rng() % 4 != 0;
    o.pack_rows = rng() % 2;
    o.all_equal = rng() % 3 != 0;
    o.type_runs = rng() % 3 != 0;
    o.tree_form = std::vector<int>{-1, -1, 3, -2}[rng() % 4];
    o.plan_chunks = rng() % 2;
    std::vector<uint8_t> bits;
    const char* err = nullptr;
    if (!video_write_plane(d, flags, o, &bits, &err)) {
      // The explicit form cannot express every tuned map; any other failure is a fault.
      ASSERT_EQ(o.tree_form, -2) << err;
      continue;
    }
    if (o.plan_chunks && o.tree_form == -1 && o.type_runs) {
      // Planned chunks never take more than the rows' own chunks.
      VideoPlaneOptions plain = o;
      plain.plan_chunks = false;
      plain.all_equal = true;
      plain.pack_rows = false;
      std::vector<uint8_t> plain_bits;
      ASSERT_TRUE(video_write_plane(d, flags, plain, &plain_bits));
      EXPECT_LE(bits.size(), plain_bits.size()) << iter;
    }
    Plane model(w, h, scale);
    video_plane_model(d, model.r(), model.d(), model.stride, model.map.data());
    PlaneResult res = p.decode(bits, flags);
    ASSERT_TRUE(res.complete) << iter;
    ASSERT_EQ(res.next, p.data.data() + p.data.size()) << iter;
    ASSERT_EQ(p.dst, model.dst) << iter;
    ASSERT_EQ(p.map, model.map) << iter;
  }
}

// Hand-made faulty planes: each must stop, leave the rest of the plane as the reference and
// keep every write inside the plane.
TEST(Plane, BrokenLimitsStopThePlane) {
  struct Case {
    const char* what;
    std::function<void(BitWriter*, StreamCoder*)> rows;  // writes row 0's chunks and blocks
  } cases[] = {
      {"runs past position 64",
       [](BitWriter* w, StreamCoder* c) {
         int32_t kinds[1] = {3};
         write_stream_chunk(w, c, kStreamBlockTypes, kinds, 1);
         write_stream_finish(w, *c, kStreamSubblockTypes);
         int32_t col[8] = {1, 2, 3, 4, 5, 6, 7, 8};
         write_stream_chunk(w, c, kStreamColours, col, 8, kChunkEach);
         for (uint32_t s = kStreamPatterns; s <= kStreamInterDc; ++s) write_stream_finish(w, *c, s);
         int32_t runs[5] = {15, 15, 15, 13, 2};
         write_stream_chunk(w, c, kStreamRunLengths, runs, 5, kChunkEach);
         write_bits(w, 0, 4);
         write_bits(w, 0x1f, 5);  // five fill runs
       }},
      {"a colour from a finished stream",
       [](BitWriter* w, StreamCoder* c) {
         int32_t kinds[1] = {6};
         write_stream_chunk(w, c, kStreamBlockTypes, kinds, 1);
         for (uint32_t s = kStreamSubblockTypes; s < kStreamCount; ++s) write_stream_finish(w, *c, s);
       }},
      {"a scaled block without room for its 16 columns",
       [](BitWriter* w, StreamCoder* c) {
         int32_t kinds[1] = {1};
         write_stream_chunk(w, c, kStreamBlockTypes, kinds, 1);
         int32_t sub[1] = {6};
         write_stream_chunk(w, c, kStreamSubblockTypes, sub, 1);
         int32_t col[1] = {9};
         write_stream_chunk(w, c, kStreamColours, col, 1);
         for (uint32_t s = kStreamPatterns; s < kStreamCount; ++s) write_stream_finish(w, *c, s);
       }},
      {"a chunk longer than its buffer",
       [](BitWriter* w, StreamCoder* c) {
         write_bits(w, 1000, c->length_bits[kStreamBlockTypes]);
       }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Plane p(8, 16);
    StreamCoder c;
    stream_coder_init(&c, 8, 0);
    BitWriter w;
    write_plane_trees(&w, &c);
    k.rows(&w, &c);
    PlaneResult res = p.decode(bit_writer_finish(&w));
    EXPECT_FALSE(res.complete);
    for (uint32_t y = 0; y < 16; ++y)
      for (uint32_t x = 0; x < 8; ++x) ASSERT_EQ(p.at(x, y), p.ref_at(x, y));
    EXPECT_TRUE(p.guards_intact());
    // The next plane decodes normally.
    VideoPlaneDesc d = all_skip(8, 16);
    d.rows[1][0] = video_fill(42);
    res = p.decode(write(d));
    EXPECT_TRUE(res.complete);
    EXPECT_EQ(p.at(3, 12), 42);
  }
}

TEST(Plane, MotionSourcesAreClampedIntoThePlane) {
  Plane p(16, 16);
  VideoPlaneDesc d = all_skip(16, 16);
  d.rows[0][0] = video_motion(-15, -15);  // → (0, 0)
  d.rows[1][1] = video_motion(15, 15);    // → (8, 8): the last block that fits
  p.decode(write(d));
  for (uint32_t y = 0; y < 8; ++y)
    for (uint32_t x = 0; x < 8; ++x) {
      ASSERT_EQ(p.at(x, y), p.ref_at(x, y));
      ASSERT_EQ(p.at(8 + x, 8 + y), p.ref_at(8 + x, 8 + y));
    }
  EXPECT_TRUE(p.guards_intact());
}

TEST(Plane, TruncatedDataStopsWithoutReadingPastIt) {
  uint8_t raw[64];
  for (int i = 0; i < 64; ++i) raw[i] = uint8_t(i * 5);
  VideoPlaneDesc d = all_skip(32, 32);
  for (auto& row : d.rows)
    for (auto& b : row) b = video_raw(raw);
  std::vector<uint8_t> bits = write(d);
  for (size_t cut : {size_t(0), size_t(3), size_t(40), bits.size() / 2, bits.size() - 1}) {
    Plane p(32, 32);
    std::vector<uint8_t> part(bits.begin(), bits.begin() + cut);
    PlaneResult res = p.decode(part);
    EXPECT_FALSE(res.complete) << cut;
    EXPECT_TRUE(p.guards_intact());
  }
}

}  // namespace
