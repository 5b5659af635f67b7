// The demo movie plays: every frame decodes to exactly the planes drawn, the picture moves, and
// the tune is in the sound track.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "container/movie.h"
#include "encode/demo_movie.h"
#include "encode/picture_coder.h"
#include "playback/engine.h"
#include "sound/backends/capture.h"
#include "sound/sound.h"

namespace {

TEST(DemoMovie, DecodesToTheDrawingWithItsTune) {
  DemoMovieSpec s;
  s.frames = 60;  // a shorter cut: two key frames and the frames between them
  const std::vector<uint8_t> bytes = demo_movie_write(s);
  ASSERT_FALSE(bytes.empty());
  sound_reset_system();
  CaptureConfig c;
  capture_default_config(&c);
  ASSERT_EQ(sound_use_system(capture_provider, &c), 1u);
  MovieImage img{bytes.data(), bytes.size()};
  Movie* m = movie_open(&img, kOpenFromMemory);
  ASSERT_NE(m, nullptr) << movie_last_error();
  EXPECT_EQ(m->width, s.width);
  EXPECT_EQ(m->frame_count, s.frames);
  ASSERT_EQ(m->played_tracks, 1u);
  std::vector<uint8_t> last;
  for (uint32_t i = 0; i < s.frames; ++i) {
    ASSERT_EQ(movie_do_frame(m), 0u) << i;
    const FramePlanes& p = m->planes;
    const uint8_t* luma = p.plane_sets[p.current_set];
    std::vector<uint8_t> decoded(size_t(s.width) * s.height);
    for (uint32_t y = 0; y < s.height; ++y) std::memcpy(&decoded[y * s.width], luma + y * p.luma_stride, s.width);
    if (i % 7 == 0) {
      PicturePlanes drawn;
      const std::vector<uint8_t> rgb = demo_movie_rgb(s, i);
      ASSERT_TRUE(picture_planes_from_rgb(rgb.data(), s.width, s.height, &drawn));
      for (uint32_t y = 0; y < s.height; ++y)
        ASSERT_EQ(0, std::memcmp(&decoded[y * s.width], &drawn.luma[y * drawn.luma_width], s.width))
            << "frame " << i << " row " << y;
    }
    if (i) {
      EXPECT_NE(decoded, last) << "frame " << i << " does not move";
    }
    last = decoded;
    movie_next_frame(m);
  }
  uint32_t logged = 0;
  const uint8_t* log = capture_log(&m->sound[0], &logged);
  ASSERT_GT(logged, 44100u);  // more than a quarter second of stereo sound
  int peak = 0;
  for (uint32_t k = 0; k + 1 < logged; k += 2) {
    const int v = int16_t(log[k] | log[k + 1] << 8);
    peak = v > peak ? v : -v > peak ? -v : peak;
  }
  EXPECT_GT(peak, 3000);
  movie_close(m);
  sound_reset_system();
}

}  // namespace
