#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "encode/video_plane_writer.h"
#include "video/plane.h"
#include "video/video_decoder.h"

namespace {

TEST(FramePlanes, SizesOfTheListedPictures) {
  struct Case {
    uint32_t w, h;
    uint32_t chroma_stride, chroma_height, luma_stride, luma_height, map_columns, map_blocks;
    uint32_t luma_width, luma_rows;
  } cases[] = {
      {640, 427, 320, 216, 640, 432, 40, 1080, 640, 432},
      {100, 50, 56, 32, 112, 64, 7, 28, 104, 56},
      {1, 1, 8, 8, 16, 16, 1, 1, 8, 8},
      {1920, 1080, 960, 544, 1920, 1088, 120, 8160, 1920, 1080},
  };
  for (const Case& c : cases) {
    VideoFrameSizes s;
    ASSERT_TRUE(video_frame_sizes(c.w, c.h, &s));
    EXPECT_EQ(s.chroma_stride, c.chroma_stride);
    EXPECT_EQ(s.chroma_height, c.chroma_height);
    EXPECT_EQ(s.luma_stride, c.luma_stride);
    EXPECT_EQ(s.luma_height, c.luma_height);
    EXPECT_EQ(s.map_columns, c.map_columns);
    EXPECT_EQ(s.map_blocks, c.map_blocks);
    EXPECT_EQ(s.luma_width, c.luma_width);
    EXPECT_EQ(s.luma_rows, c.luma_rows);
    EXPECT_EQ(s.set_bytes, size_t(c.luma_stride) * c.luma_height +
                               2 * size_t(c.chroma_stride) * c.chroma_height);
    EXPECT_EQ(s.map_bytes, size_t(c.map_blocks) + 1);
  }
  VideoFrameSizes s;
  EXPECT_FALSE(video_frame_sizes(0, 10, &s));
  EXPECT_FALSE(video_frame_sizes(16385, 10, &s));
}

// One frame's planes: descriptions, their bits, and what they decode to over a reference.
struct Frame {
  VideoPlaneDesc desc[4];  // alpha, luma, chroma 1, chroma 2
  std::vector<uint8_t> bits[4];
};

VideoPlaneDesc random_plane(std::mt19937& rng, uint32_t w, uint32_t h, uint32_t scale,
                            bool key) {
  VideoPlaneDesc d;
  d.width = w;
  d.height = h;
  d.scale = scale;
  d.rows.resize(h / 8);
  for (uint32_t r = 0; r < h / 8; ++r)
    for (uint32_t x = 0; x < w / 8; ++x) {
      uint32_t k = rng() % (key ? 3 : 5);
      uint8_t rows[8];
      for (uint8_t& b : rows) b = uint8_t(rng());
      if (k == 0) d.rows[r].push_back(video_fill(uint8_t(1 + rng() % 255)));
      if (k == 1) d.rows[r].push_back(video_pattern(uint8_t(1 + rng() % 255), 200, rows));
      if (k == 2) d.rows[r].push_back(video_fill(uint8_t(128 + r)));
      if (k == 3) d.rows[r].push_back(video_skip());
      if (k == 4) d.rows[r].push_back(video_motion(int(rng() % 7) - 3, int(rng() % 7) - 3));
    }
  return d;
}

Frame make_frame(std::mt19937& rng, const VideoFrameSizes& s, bool key, uint32_t flags) {
  Frame f;
  f.desc[0] = random_plane(rng, s.luma_width, s.luma_rows, 1, key);
  f.desc[1] = random_plane(rng, s.luma_width, s.luma_rows, 1, key);
  f.desc[2] = random_plane(rng, s.chroma_stride, s.chroma_height, 2, key);
  f.desc[3] = random_plane(rng, s.chroma_stride, s.chroma_height, 2, key);
  VideoPlaneOptions o;
  o.buffer_stride = s.luma_stride;
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(video_write_plane(f.desc[i], flags, o, &f.bits[i]));
  return f;
}

std::vector<uint8_t> packet_of(const Frame& f, uint32_t flags, bool alpha_section, bool grey,
                               uint32_t luma_padding = 0) {
  VideoPacketPlanes p;
  p.alpha_section = alpha_section;
  if (alpha_section) p.alpha = f.bits[0];
  p.luma = f.bits[1];
  p.luma_padding = luma_padding;
  if (!grey) {
    p.chroma1 = f.bits[2];
    p.chroma2 = f.bits[3];
  }
  return video_write_packet(p, flags);
}

// What the frame decodes to: the model applied over the reference set and alpha plane.
struct Expected {
  std::vector<uint8_t> set, alpha, map;
};
Expected model(const Frame& f, const VideoStore& st, bool alpha, bool with_chroma) {
  const FramePlanes& p = st.planes;
  const VideoFrameSizes& s = st.sizes;
  Expected e;
  uint32_t cur = p.current_set;
  e.set.assign(p.plane_sets[1 - cur], p.plane_sets[1 - cur] + s.set_bytes);
  e.map.assign(p.change_map, p.change_map + s.map_bytes);
  const uint8_t* ref = p.plane_sets[cur];
  size_t luma = size_t(s.luma_stride) * s.luma_height;
  size_t chroma = size_t(s.chroma_stride) * s.chroma_height;
  video_plane_model(f.desc[1], ref, e.set.data(), s.luma_stride, e.map.data());
  if (with_chroma) {
    video_plane_model(f.desc[2], ref + luma, e.set.data() + luma, s.chroma_stride, e.map.data());
    video_plane_model(f.desc[3], ref + luma + chroma, e.set.data() + luma + chroma,
                      s.chroma_stride, e.map.data());
  }
  if (alpha && p.alpha_planes[0]) {
    e.alpha.assign(p.alpha_planes[1 - cur], p.alpha_planes[1 - cur] + s.alpha_bytes);
    video_plane_model(f.desc[0], p.alpha_planes[cur], e.alpha.data(), s.luma_stride, e.map.data());
  }
  return e;
}

void check(const VideoStore& st, const Expected& e) {
  const FramePlanes& p = st.planes;
  uint32_t cur = p.current_set;  // after the flip: the set just written
  ASSERT_EQ(std::vector<uint8_t>(p.plane_sets[cur], p.plane_sets[cur] + st.sizes.set_bytes), e.set);
  ASSERT_EQ(std::vector<uint8_t>(p.change_map, p.change_map + st.sizes.map_bytes), e.map);
  if (!e.alpha.empty()) {
    ASSERT_EQ(std::vector<uint8_t>(p.alpha_planes[cur], p.alpha_planes[cur] + st.sizes.alpha_bytes),
              e.alpha);
  }
  EXPECT_EQ(p.change_map[p.map_blocks], 0);
}

struct Version {
  const char* name;
  uint32_t movie_flags, header_flags;
  bool alpha_section, grey;
};

TEST(VideoFrame, EveryVersionAndFlagCombination) {
  const Version versions[] = {
      {"i", 0, 0, false, false},
      {"i with alpha decoded", 0x100000, 0x100000, true, false},
      {"i with alpha skipped", 0, 0x100000, true, false},
      {"i grey", 0x20000, 0x20000, false, true},
      {"i opened grey, chroma present", 0x20000, 0, false, false},
      {"h", 0x8000, 0, false, false},
      {"g", 0x18000, 0, false, false},
      {"h with alpha decoded", 0x108000, 0x100000, true, false},
      {"h with alpha skipped", 0x8000, 0x100000, true, false},
      {"f grey", 0x38000, 0x20000, false, true},
  };
  struct Size {
    uint32_t w, h;
  } sizes[] = {{100, 50}, {16, 16}, {33, 17}, {64, 48}};
  std::mt19937 rng(5);
  for (const Version& v : versions)
    for (const Size& z : sizes)
      for (bool single : {false, true}) {
        SCOPED_TRACE(v.name);
        SCOPED_TRACE(z.w * 1000 + z.h);
        VideoStore st;
        ASSERT_TRUE(video_store_open(&st, z.w, z.h, (v.movie_flags & 0x100000) != 0, single));
        for (int frame = 0; frame < 3; ++frame) {
          bool key = single || frame == 0;
          Frame f = make_frame(rng, st.sizes, key, v.movie_flags);
          std::vector<uint8_t> packet = packet_of(f, v.movie_flags, v.alpha_section, v.grey);
          std::memset(st.planes.change_map, 0, st.planes.map_blocks);
          Expected e = model(f, st, (v.movie_flags & 0x100000) != 0, !(v.movie_flags & 0x20000));
          ASSERT_TRUE(video_decode_next(&st.planes, z.w, z.h, packet.data(), packet.size(), key,
                                        v.movie_flags, v.header_flags));
          check(st, e);
        }
        if (single) {
          EXPECT_EQ(st.planes.plane_sets[0], st.planes.plane_sets[1]);
        }
        video_store_close(&st);
      }
}

TEST(VideoFrame, ValidPacketsAreConsumedExactly) {
  std::mt19937 rng(9);
  VideoStore st;
  ASSERT_TRUE(video_store_open(&st, 100, 50, true, false));
  for (uint32_t flags : {0u, 0x8000u}) {
    Frame f = make_frame(rng, st.sizes, true, flags);
    std::vector<uint8_t> packet = packet_of(f, flags, true, false);
    const FramePlanes& p = st.planes;
    uint8_t* set = p.plane_sets[0];
    size_t luma = size_t(p.luma_stride) * p.luma_height;
    const uint8_t* end = packet.data() + packet.size();
    uint32_t sa = packet[0] | packet[1] << 8 | packet[2] << 16 | uint32_t(packet[3]) << 24;
    const uint8_t* pos = packet.data() + sa;
    PlaneArgs a{pos, size_t(end - pos), set, set, 104, 56, p.luma_stride, 1, p.change_map,
                &p.stream_buffers, flags, &p.idct};
    const uint8_t* luma_end;
    if (!flags) {
      uint32_t sy = pos[0] | pos[1] << 8 | pos[2] << 16 | uint32_t(pos[3]) << 24;
      a.data = pos + 4;
      a.size = sy - 4;
      PlaneResult r = decode_plane(a);
      ASSERT_TRUE(r.complete);
      EXPECT_EQ(r.next, pos + sy);
      luma_end = pos + sy;
    } else {
      PlaneResult r = decode_plane(a);
      ASSERT_TRUE(r.complete);
      luma_end = r.next;
      EXPECT_EQ(luma_end, pos + f.bits[1].size());
    }
    PlaneArgs c{luma_end, size_t(end - luma_end), set + luma, set + luma, 56, 32, 56, 2,
                p.change_map, &p.stream_buffers, flags, &p.idct};
    PlaneResult r1 = decode_plane(c);
    c.data = r1.next;
    c.size = size_t(end - r1.next);
    PlaneResult r2 = decode_plane(c);
    EXPECT_TRUE(r1.complete && r2.complete);
    EXPECT_EQ(r2.next, end);
  }
  video_store_close(&st);
}

TEST(VideoFrame, LumaSizeFieldLargerThanItsBits) {
  std::mt19937 rng(3);
  VideoStore st;
  ASSERT_TRUE(video_store_open(&st, 40, 24, false, false));
  Frame f = make_frame(rng, st.sizes, true, 0);
  std::vector<uint8_t> packet = packet_of(f, 0, false, false, 12);
  Expected e = model(f, st, false, true);
  ASSERT_TRUE(video_decode_next(&st.planes, 40, 24, packet.data(), packet.size(), true, 0, 0));
  check(st, e);
  video_store_close(&st);
}

TEST(VideoFrame, MarksAccumulateWhenTheMapIsNotCleared) {
  VideoStore st;
  ASSERT_TRUE(video_store_open(&st, 32, 16, false, false));
  auto one_block = [&](uint32_t column) {
    VideoPlaneDesc d;
    d.width = 32;
    d.height = 16;
    d.rows.assign(2, std::vector<VideoBlock>(4, video_skip()));
    d.rows[0][column] = video_fill(3);
    VideoPacketPlanes p;
    VideoPlaneOptions o;
    video_write_plane(d, 0, o, &p.luma);
    VideoPlaneDesc c;
    c.width = 16;
    c.height = 8;
    c.scale = 2;
    c.rows.assign(1, std::vector<VideoBlock>(2, video_skip()));
    video_write_plane(c, 0, o, &p.chroma1);
    p.chroma2 = p.chroma1;
    return video_write_packet(p, 0);
  };
  std::vector<uint8_t> a = one_block(0), b = one_block(3);
  std::memset(st.planes.change_map, 0, st.planes.map_blocks);
  ASSERT_TRUE(video_decode_next(&st.planes, 32, 16, a.data(), a.size(), true, 0, 0));
  EXPECT_EQ(st.planes.change_map[0], 1);
  EXPECT_EQ(st.planes.change_map[1], 0);
  ASSERT_TRUE(video_decode_next(&st.planes, 32, 16, b.data(), b.size(), false, 0, 0));
  EXPECT_EQ(st.planes.change_map[0], 1);  // kept
  EXPECT_EQ(st.planes.change_map[1], 1);
  EXPECT_EQ(st.planes.change_map[2], 0);  // terminator
  video_store_close(&st);
}

TEST(VideoFrame, ShortOrCorruptPacketsLeaveADefinedFrame) {
  std::mt19937 rng(17);
  for (uint32_t flags : {0u, 0x8000u, 0x100000u}) {
    uint32_t header = flags & 0x100000;
    VideoStore st;
    ASSERT_TRUE(video_store_open(&st, 48, 32, header != 0, false));
    Frame f0 = make_frame(rng, st.sizes, true, flags);
    std::vector<uint8_t> p0 = packet_of(f0, flags, header != 0, false);
    ASSERT_TRUE(video_decode_next(&st.planes, 48, 32, p0.data(), p0.size(), true, flags, header));
    std::vector<uint8_t> good(st.planes.plane_sets[st.planes.current_set],
                              st.planes.plane_sets[st.planes.current_set] + st.sizes.set_bytes);
    Frame f1 = make_frame(rng, st.sizes, false, flags);
    std::vector<uint8_t> p1 = packet_of(f1, flags, header != 0, false);
    std::vector<std::vector<uint8_t>> bad;
    for (size_t cut : {size_t(0), size_t(2), size_t(5), p1.size() / 3, p1.size() - 4})
      bad.emplace_back(p1.begin(), p1.begin() + cut);
    std::vector<uint8_t> big = p1;
    big[0] = 0xff;
    big[3] = 0x7f;  // the first size field points far outside
    if (!(flags & 0x8000)) bad.push_back(big);
    for (const std::vector<uint8_t>& b : bad) {
      // Each exactly sized, so the sanitizer sees any read past it.
      std::vector<uint8_t> exact(b);
      uint32_t before = st.planes.current_set;
      EXPECT_FALSE(video_decode_next(&st.planes, 48, 32, exact.data(), exact.size(), false,
                                     flags, header));
      EXPECT_NE(st.planes.current_set, before);
      // A corrupt frame is decoded over the reference: what it did not reach shows frame 0.
      st.planes.current_set = before;  // keep frame 0 as the reference for the next try
      // Untouched chroma of the faulty frame equals the reference.
      uint8_t* out = st.planes.plane_sets[1 - before];
      size_t tail = 2 * size_t(st.sizes.chroma_stride) * st.sizes.chroma_height;
      if (b.size() < 8) {
        EXPECT_EQ(std::vector<uint8_t>(out + st.sizes.set_bytes - tail, out + st.sizes.set_bytes),
                  std::vector<uint8_t>(good.end() - tail, good.end()));
      }
    }
    // The next good frame decodes normally.
    std::memset(st.planes.change_map, 0, st.planes.map_blocks);
    Expected e = model(f1, st, header != 0, true);
    ASSERT_TRUE(video_decode_next(&st.planes, 48, 32, p1.data(), p1.size(), false, flags, header));
    check(st, e);
    video_store_close(&st);
  }
}

}  // namespace
