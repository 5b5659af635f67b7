// The closing picture the player carries is the one encode/closing_picture.cpp draws, and it
// is a real one-frame movie of 224 × 252 pixels with more than a flat colour.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "tests/unit/test_sound.h"
#include "app/player.h"
#include "playback/movie.h"
#include "encode/closing_picture.h"
#include "playback/engine.h"

namespace {

// Writes the carried bytes as a source file.
bool regenerate(const std::vector<uint8_t>& bytes) {
  const std::string path = std::string(KORVA_SOURCE_DIR) + "/app/closing_picture_data.cpp";
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  std::fprintf(f,
               "// Made by the tests from encode/closing_picture.cpp (KORVA_REGENERATE=1); do not edit.\n"
               "#include \"app/player.h\"\n\nnamespace {\nconst uint8_t kClosingPicture[%zu] = {\n",
               bytes.size());
  for (size_t i = 0; i < bytes.size(); i += 16) {
    std::fprintf(f, "   ");
    for (size_t k = i; k < i + 16 && k < bytes.size(); ++k) std::fprintf(f, " %u,", bytes[k]);
    std::fprintf(f, "\n");
  }
  std::fprintf(f,
               "};\n}  // namespace\n\nconst uint8_t* closing_picture_movie(size_t* size) {\n"
               "  *size = sizeof kClosingPicture;\n  return kClosingPicture;\n}\n");
  return std::fclose(f) == 0;
}

TEST(ClosingPicture, CarriedBytesAreTheDrawnMovie) {
  const std::vector<uint8_t> made = closing_picture_write();
  ASSERT_FALSE(made.empty());
  if (std::getenv("KORVA_REGENERATE")) {
    ASSERT_TRUE(regenerate(made));
    GTEST_SKIP() << "app/closing_picture_data.cpp written; build again";
  }
  size_t size = 0;
  const uint8_t* carried = closing_picture_movie(&size);
  ASSERT_EQ(size, made.size()) << "run the tests with KORVA_REGENERATE=1 to make the carried bytes again";
  EXPECT_EQ(std::vector<uint8_t>(carried, carried + size), made);
  EXPECT_LT(size, 64u * 1024);

  MovieImage image{carried, size};
  Movie* m = open_with(movie_open_image(&image, kOpenFromMemory));
  ASSERT_NE(m, nullptr) << movie_last_error();
  EXPECT_EQ(m->width, 224u);
  EXPECT_EQ(m->height, 252u);
  EXPECT_EQ(m->frame_count, 1u);
  EXPECT_EQ(m->rate_num, 10u);
  EXPECT_EQ(m->rate_den, 1u);
  EXPECT_EQ(m->tracks.count, 0u);
  ASSERT_EQ(movie_do_frame(m), 0u);
  // The decoded luma follows the drawing: the ring, the triangle, the name, the background.
  const uint8_t* luma = m->planes.plane_sets[m->planes.current_set];
  std::set<uint8_t> values;
  for (uint32_t y = 0; y < 252; ++y)
    for (uint32_t x = 0; x < 224; ++x) values.insert(luma[y * m->planes.luma_stride + x]);
  EXPECT_GT(values.size(), 20u);
  const std::vector<uint8_t> rgb = closing_picture_rgb();
  auto luma_of = [&](uint32_t x, uint32_t y) {
    const uint8_t* p = &rgb[(y * 224 + x) * 3];
    return 16 + (65.738 * p[0] + 129.057 * p[1] + 25.064 * p[2]) / 256;
  };
  for (uint32_t y = 0; y < 252; y += 7)
    for (uint32_t x = 0; x < 224; x += 5)
      ASSERT_NEAR(luma[y * m->planes.luma_stride + x], luma_of(x, y), 1.0) << x << ", " << y;
  movie_close(m);
}

}  // namespace
