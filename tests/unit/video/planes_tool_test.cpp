// krvtool planes on movies made by the writers: the raw output holds each frame's decoded
// areas in order and --maps prints the change maps.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "encode/container_writer.h"
#include "encode/video_plane_writer.h"
#include "video/video_decoder.h"

namespace {

std::string tool() { return std::string(KORVA_TEST_TMP) + "/../krvtool"; }

std::vector<uint8_t> read_all(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

VideoPlaneDesc filled(uint32_t w, uint32_t h, uint32_t scale, uint8_t base, int changed_column) {
  VideoPlaneDesc d;
  d.width = w;
  d.height = h;
  d.scale = scale;
  d.rows.resize(h / 8);
  for (uint32_t r = 0; r < h / 8; ++r)
    for (uint32_t x = 0; x < w / 8; ++x)
      d.rows[r].push_back(changed_column < 0 || int(x) == changed_column
                              ? video_fill(uint8_t(base + 3 * x + 5 * r))
                              : video_skip());
  return d;
}

struct Movie {
  std::vector<uint8_t> bytes;
  std::vector<std::vector<uint8_t>> packets;
};

Movie make_movie(uint8_t version, uint32_t w, uint32_t h, bool alpha) {
  VideoFrameSizes s;
  video_frame_sizes(w, h, &s);
  uint32_t flags = version == 'i' ? 0 : 0x8000;
  MovieDescription d;
  d.version = version;
  d.width = w;
  d.height = h;
  d.flags = alpha ? 0x100000 : 0;
  Movie m;
  VideoPlaneOptions o;
  o.buffer_stride = s.luma_stride;
  for (int f = 0; f < 3; ++f) {
    int col = f == 0 ? -1 : f;  // frame 0 fills everything, later frames one block column
    VideoPacketPlanes p;
    p.alpha_section = alpha;
    video_write_plane(filled(s.luma_width, s.luma_rows, 1, uint8_t(200 + f), col), flags, o, &p.alpha);
    video_write_plane(filled(s.luma_width, s.luma_rows, 1, uint8_t(10 + 40 * f), col), flags, o, &p.luma);
    video_write_plane(filled(s.chroma_stride, s.chroma_height, 2, uint8_t(100 + f), col), flags, o, &p.chroma1);
    video_write_plane(filled(s.chroma_stride, s.chroma_height, 2, uint8_t(150 + f), col), flags, o, &p.chroma2);
    WriterFrame fr;
    fr.video = video_write_packet(p, flags);
    fr.key = f == 0;
    m.packets.push_back(fr.video);
    d.frames.push_back(fr);
  }
  m.bytes = container_write(d);
  return m;
}

TEST(PlanesTool, WritesEveryFrameDecodedAreaInOrder) {
  struct stat sb;
  if (stat(tool().c_str(), &sb) != 0) GTEST_SKIP() << "krvtool is not built";
  struct Case {
    uint8_t version;
    uint32_t w, h;
    bool alpha, ask_alpha;
  } cases[] = {{'i', 100, 50, true, true}, {'i', 40, 24, true, false}, {'h', 33, 17, false, true},
               {'f', 64, 32, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    Movie m = make_movie(c.version, c.w, c.h, c.alpha);
    std::string dir = KORVA_TEST_TMP;
    std::string movie = dir + "/planes_tool.krv", out = dir + "/planes_tool.raw",
                maps = dir + "/planes_tool.txt";
    std::ofstream(movie, std::ios::binary).write(reinterpret_cast<const char*>(m.bytes.data()),
                                                 std::streamsize(m.bytes.size()));
    std::string cmd = tool() + " planes " + movie + " " + out + (c.ask_alpha ? " --alpha" : "") +
                      " --maps > " + maps;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

    // The same frames through the decoder directly.
    uint32_t flags = (c.version == 'i' ? 0 : 0x8000) | (c.alpha && c.ask_alpha ? 0x100000 : 0);
    VideoStore st;
    ASSERT_TRUE(video_store_open(&st, c.w, c.h, c.alpha && c.ask_alpha, false));
    const FramePlanes& p = st.planes;
    const VideoFrameSizes& z = st.sizes;
    std::vector<uint8_t> want;
    std::string want_maps;
    for (size_t f = 0; f < m.packets.size(); ++f) {
      std::memset(p.change_map, 0, p.map_blocks);
      ASSERT_TRUE(video_decode_next(&st.planes, c.w, c.h, m.packets[f].data(), m.packets[f].size(),
                                    f == 0, flags, c.alpha ? 0x100000 : 0));
      const uint8_t* set = p.plane_sets[p.current_set];
      auto rows = [&](const uint8_t* q, uint32_t stride, uint32_t width, uint32_t n) {
        for (uint32_t y = 0; y < n; ++y) want.insert(want.end(), q + y * stride, q + y * stride + width);
      };
      rows(set, p.luma_stride, z.luma_width, z.luma_rows);
      rows(set + z.alpha_bytes, p.chroma_stride, p.chroma_stride, p.chroma_height);
      rows(set + z.alpha_bytes + size_t(p.chroma_stride) * p.chroma_height, p.chroma_stride,
           p.chroma_stride, p.chroma_height);
      if (c.alpha && c.ask_alpha) rows(p.alpha_planes[p.current_set], p.luma_stride, z.luma_width, z.luma_rows);
      want_maps += "frame " + std::to_string(f) + ":";
      for (uint32_t r = 0; r < p.luma_height / 16; ++r) {
        want_maps += ' ';
        for (uint32_t k = 0; k < p.map_columns; ++k) {
          char hex[3];
          std::snprintf(hex, sizeof hex, "%02x", p.change_map[r * p.map_columns + k]);
          want_maps += hex;
        }
      }
      want_maps += '\n';
    }
    std::vector<uint8_t> got = read_all(out);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
    std::vector<uint8_t> text = read_all(maps);
    EXPECT_EQ(std::string(text.begin(), text.end()), want_maps);
    // Frame 0 filled the luma area: its first sample is the fill of block (0, 0).
    EXPECT_EQ(got[0], 10);
    video_store_close(&st);
  }
}

TEST(PlanesTool, BadArgumentsAndFilesFailWithOneLine) {
  struct stat sb;
  if (stat(tool().c_str(), &sb) != 0) GTEST_SKIP() << "krvtool is not built";
  std::string dir = KORVA_TEST_TMP;
  std::string junk = dir + "/planes_junk.krv";
  std::ofstream(junk) << "not a movie";
  for (std::string args : {std::string(""), std::string(" ") + junk, " /nonexistent.krv " + dir + "/x.raw",
                           " " + junk + " " + dir + "/x.raw", " " + junk + " " + dir + "/x.raw --bogus"}) {
    std::string cmd = tool() + " planes" + args + " > /dev/null 2>&1";
    int rc = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 1) << cmd;
  }
}

}  // namespace
