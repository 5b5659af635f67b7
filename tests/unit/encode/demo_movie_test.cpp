// The demo movie plays through the engine: every frame decodes to the drawing within the coder's
// error bound (luma and chroma, key frames and the frames between them, so a coder that lost
// track of what the decoder holds would show), the picture moves, the frames between key frames
// are mostly copies, and the tune is in the sound track.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "tests/unit/test_sound.h"
#include "playback/movie.h"
#include "encode/demo_movie.h"
#include "encode/picture_coder.h"
#include "playback/engine.h"
#include "sound/backends/capture.h"
#include "sound/sound.h"
#include "video/plane.h"

namespace {

// Largest difference between a decoded plane (pitch `stride`) and a drawn one (pitch `pitch`)
// over the w × h samples that show.
uint32_t plane_error(const uint8_t* decoded, uint32_t stride, const uint8_t* drawn, uint32_t pitch, uint32_t w,
                     uint32_t h) {
  uint32_t e = 0;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const uint32_t d = uint32_t(std::abs(int(decoded[size_t(y) * stride + x]) - int(drawn[size_t(y) * pitch + x])));
      e = d > e ? d : e;
    }
  return e;
}

struct Cut {
  uint32_t width, height, frames;
};
void PrintTo(const Cut& c, std::ostream* os) { *os << c.width << "x" << c.height << ", " << c.frames << " frames"; }

class DemoMovie : public ::testing::TestWithParam<Cut> {
 protected:
  void SetUp() override {
    test_sound_reset();
    CaptureConfig c;
    capture_default_config(&c);
    ASSERT_EQ(sound_use_system(&test_sound(), capture_provider, &c), 1u);
  }
  void TearDown() override { test_sound_reset(); }
};

// The default size and two whose planes end inside a block or a 16 × 16 area.
INSTANTIATE_TEST_SUITE_P(Sizes, DemoMovie,
                         ::testing::Values(Cut{320, 240, 60}, Cut{100, 50, 30}, Cut{72, 44, 30}),
                         [](const ::testing::TestParamInfo<Cut>& i) {
                           return std::to_string(i.param.width) + "x" + std::to_string(i.param.height);
                         });

TEST_P(DemoMovie, DecodesToTheDrawingWithItsTune) {
  const Cut cut = GetParam();
  DemoMovieSpec s;
  s.width = cut.width;
  s.height = cut.height;
  s.frames = cut.frames;  // a shorter cut: key frames and the frames between them
  DemoMovieStats stats;
  const std::vector<uint8_t> bytes = demo_movie_write(s, &stats);
  ASSERT_FALSE(bytes.empty());
  if (cut.width == 320) {
    // Between key frames most blocks are kept or moved, not coded again (in the small cuts the
    // shapes and the fades fill most of the picture).
    EXPECT_GT(stats.blocks[kBlockSkip] + stats.blocks[kBlockMotion],
              stats.blocks[kBlockIntra] + stats.blocks[kBlockRaw]);
    EXPECT_GT(stats.blocks[kBlockMotion], 0u);
    // Far from raw samples everywhere (1.5 bytes a pixel a frame).
    EXPECT_LT(stats.video_bytes, uint64_t(s.width) * s.height * s.frames / 8);
  }

  MovieImage img{bytes.data(), bytes.size()};
  Movie* m = open_with(movie_open_image(&img, kOpenFromMemory));
  ASSERT_NE(m, nullptr) << movie_last_error();
  EXPECT_EQ(m->width, s.width);
  EXPECT_EQ(m->height, s.height);
  EXPECT_EQ(m->frame_count, s.frames);
  ASSERT_EQ(m->feed.count, 1u);
  const uint32_t cw = (s.width + 1) / 2, ch = (s.height + 1) / 2;
  std::vector<uint8_t> last;
  for (uint32_t i = 0; i < s.frames; ++i) {
    ASSERT_EQ(movie_do_frame(m), 0u) << i;
    const FramePlanes& p = m->planes;
    const uint8_t* luma = p.plane_sets[p.current_set];
    const uint8_t* cr = luma + size_t(p.luma_stride) * p.luma_height;
    const uint8_t* cb = cr + size_t(p.chroma_stride) * p.chroma_height;
    PicturePlanes drawn;
    const std::vector<uint8_t> rgb = demo_movie_rgb(s, i);
    ASSERT_TRUE(picture_planes_from_rgb(rgb.data(), s.width, s.height, &drawn));
    EXPECT_LE(plane_error(luma, p.luma_stride, drawn.luma.data(), drawn.luma_width, s.width, s.height), s.max_error)
        << "frame " << i;
    EXPECT_LE(plane_error(cr, p.chroma_stride, drawn.cr.data(), drawn.chroma_width, cw, ch), s.max_error)
        << "frame " << i;
    EXPECT_LE(plane_error(cb, p.chroma_stride, drawn.cb.data(), drawn.chroma_width, cw, ch), s.max_error)
        << "frame " << i;
    std::vector<uint8_t> decoded(size_t(s.width) * s.height);
    for (uint32_t y = 0; y < s.height; ++y) std::memcpy(&decoded[y * s.width], luma + y * p.luma_stride, s.width);
    if (i) {
      EXPECT_NE(decoded, last) << "frame " << i << " does not move";
    }
    last = std::move(decoded);
    movie_next_frame(m);
  }
  // The tune: loud enough and not a click (over a tenth of its samples well above silence).
  uint32_t logged = 0;
  const uint8_t* log = capture_log(&m->feed.outputs[0], &logged);
  ASSERT_GT(logged, 44100u);  // more than a quarter second of stereo sound
  int peak = 0;
  uint32_t loud = 0;
  for (uint32_t k = 0; k + 1 < logged; k += 2) {
    const int v = std::abs(int(int16_t(log[k] | log[k + 1] << 8)));
    peak = v > peak ? v : peak;
    loud += v > 1000;
  }
  EXPECT_GT(peak, 8000);
  EXPECT_GT(loud, logged / 2 / 10);
  movie_close(m);
}

}  // namespace
