// The surface layer on the memory display system: the automatic order and its error texts,
// output sizes and the stretch they need, window alignment, blit rectangles, clearing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "convert/convert.h"
#include "display/backends/memory_display.h"
#include "display/backends/memory_surface.h"
#include "display/surface.h"

namespace {

class SurfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    memory_display_default(&d);
    surface_use_system(&sys, &kMemoryDisplay, &d);
  }
  MemoryDisplay d;
  SurfaceSystem sys{};
};

TEST_F(SurfaceTest, AutomaticOrderAndErrorTexts) {
  struct Case {
    uint32_t styles, flags;
    int32_t bits;
    uint32_t style;  // 0: the open fails
    const char* error;
  };
  const Case kCases[] = {
      {0x7FE, 0, 32, 1, ""},
      {0x7FC, 0, 32, 2, ""},                        // no screen surface: the DIB section
      {0x7FE, 0x40000000, 32, 2, ""},               // a stretch skips the screen surface
      {0x400, 0, 32, 10, ""},
      {0x400, 9, 32, 0, "No capable blitting style available."},  // a requested style fails
      {0, 0, 32, 0, "No capable blitting style available."},
      {0, 0, 8, 0, "256 color mode not supported."},
      {0x7FE, 11, 32, 0, "No capable blitting style available."},  // no style 11
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.styles << " " << c.flags);
    d.styles = c.styles;
    d.screen_bits = c.bits;
    Surface* s = surface_open(&sys, nullptr, 64, 48, c.flags);
    EXPECT_EQ(s ? s->style : 0u, c.style);
    if (s) {
      EXPECT_STREQ(surface_description(s), surface_style_description(c.style));
      EXPECT_EQ(s->window_width, 64);
    } else {
      EXPECT_STREQ(surface_last_error(&sys), c.error);
    }
    surface_close(s);
  }
  EXPECT_EQ(surface_open(&sys, nullptr, 0, 48, 0), nullptr);
  EXPECT_STREQ(surface_style_description(2), "DIB Section");
  EXPECT_STREQ(surface_style_description(10), "DirectDraw RGB off-screen system surface");
}

TEST_F(SurfaceTest, OutputSizeNeedsTheMatchingAbility) {
  struct Case {
    uint32_t style, abilities;
    int32_t w, h;
    uint32_t result;
    int32_t out_w, out_h;
  };
  const Case kCases[] = {
      {1, 0, 0, 0, 0, 64, 48},                 // the screen size on the screen surface: refused
      {1, 0, 64, 48, 1, 64, 48},
      {2, 0, 128, 96, 1, 128, 96},             // the DIB section stretches anything
      {2, 0, 0, 0, 1, 1024, 768},
      {9, kStretchHeightIntUp, 64, 96, 1, 64, 96},  // exactly twice the height: integer enlargement
      {9, kStretchHeightUp, 64, 96, 0, 64, 48},
      {9, kStretchWidthIntDown | kStretchWidthDown, 32, 48, 1, 32, 48},
      {9, kStretchWidthDown, 32, 48, 0, 64, 48},
      {9, kStretchWidthDown, 40, 48, 1, 40, 48},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.style << " " << c.w << "x" << c.h);
    d.blit_abilities = c.abilities;
    d.frame_width = 8;
    d.frame_height = 30;
    Surface* s = surface_open(&sys, nullptr, 64, 48, c.style);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(surface_set_output_size(c.w, s, c.h), c.result);
    EXPECT_EQ(s->output_width, c.out_w);
    EXPECT_EQ(s->output_height, c.out_h);
    EXPECT_EQ(s->window_width, 8 + c.out_w);
    EXPECT_EQ(s->window_height, 30 + c.out_h);
    surface_close(s);
  }
}

TEST_F(SurfaceTest, PlacementAndBlitRectangles) {
  d.client_x = 0;
  d.window_x = 300;
  d.window_y = 200;
  for (int32_t bits : {32, 24, 16}) {
    d.screen_bits = bits;
    Surface* s = surface_open(&sys, nullptr, 64, 48, 2);
    ASSERT_NE(s, nullptr);
    int32_t x = 3, y = 7;
    surface_fit_position(&x, s, &y);
    EXPECT_EQ(x, bits == 24 ? 8 : 4) << bits;
    EXPECT_EQ(y, 7);
    x = -3;  // rounded up too
    surface_fit_position(&x, s, nullptr);
    EXPECT_EQ(x, bits == 32 ? -2 : 0);
    surface_close(s);
  }
  // The screen surface stays on the screen.
  d.screen_bits = 32;
  Surface* p = surface_open(&sys, nullptr, 64, 48, 1);
  int32_t x = 1000, y = 760;
  surface_fit_position(&x, p, &y);
  EXPECT_EQ(x, 1024 - 64);
  EXPECT_EQ(y, 768 - 48);
  surface_close(p);

  Surface* s = surface_open(&sys, nullptr, 64, 48, 2);
  surface_set_position(5, s, 6);
  EXPECT_EQ(s->picture_screen_x, 305);
  EXPECT_EQ(s->picture_screen_y, 206);
  EXPECT_TRUE(s->flags & kSurfaceCopyWhole);  // a move asks for a whole copy
  ASSERT_TRUE(surface_lock(s));
  EXPECT_TRUE(surface_unlock(s));
  EXPECT_FALSE(s->flags & kSurfaceCopyWhole);
  EXPECT_EQ(s->buffer, nullptr);
  // Shown at twice the size, a 10 x 10 rectangle at (8, 8) lands at (16, 16) + the picture's
  // position, 20 x 20.
  surface_set_output_size(128, s, 96);
  SurfaceBlitRect seen[8] = {};
  static SurfaceBlitRect* out;
  static uint32_t out_count;
  static bool out_whole;
  out = seen;
  s->kind.blit = [](Surface*, const SurfaceBlitRect* r, uint32_t n, bool whole) {
    std::memcpy(out, r, n * sizeof *r);
    out_count = n;
    out_whole = whole;
  };
  const MovieRect r = {8, 8, 10, 10};
  surface_blit(s, &r, 1);
  EXPECT_EQ(out_count, 1u);
  EXPECT_FALSE(out_whole);
  EXPECT_EQ(seen[0].dst.left, 5 + 16);
  EXPECT_EQ(seen[0].dst.top, 6 + 16);
  EXPECT_EQ(seen[0].dst.width, 20);
  EXPECT_EQ(seen[0].dst.height, 20);
  surface_blit(s, nullptr, 1);
  EXPECT_TRUE(out_whole);
  EXPECT_EQ(seen[0].dst.width, 128);
  out_count = 0;
  surface_blit(s, &r, 0);
  EXPECT_EQ(out_count, 0u);
  surface_close(s);
}

// A kind that reaches only a part of the picture (the screen itself, with the picture partly
// off it): the copy goes to that part, moved in to whole doubled pixels; a clear fills it alone.
MovieRect g_part;
uint8_t* g_part_memory;
TEST_F(SurfaceTest, CopyAreaIsTheLockedPartInWholeDoubledPixels) {
  Surface* s = surface_open(&sys, nullptr, 64, 48, 1);
  ASSERT_NE(s, nullptr);
  constexpr int32_t kPitch = 1000;
  std::vector<uint8_t> screen(size_t(kPitch) * 60, 0xCC);
  g_part_memory = screen.data();
  s->kind.lock = [](Surface* s, uint8_t** buffer, int32_t* pitch) {
    EXPECT_EQ(s->part.width, 64);  // the whole picture when the kind is asked
    EXPECT_EQ(s->part.height, 48);
    s->part = g_part;
    *buffer = g_part_memory + 100 + g_part.left * 4 + g_part.top * kPitch;
    *pitch = kPitch;
    return true;
  };
  struct Case {
    MovieRect part;
    uint32_t mode;
    bool some;
    MovieRect rect;
  };
  const Case kCases[] = {
      {{0, 0, 64, 48}, 0, true, {0, 0, 64, 48}},
      {{0, 0, 64, 48}, 4, true, {0, 0, 64, 48}},
      {{3, 5, 61, 43}, 0, true, {3, 5, 61, 43}},  // single pixels: cut anywhere
      {{3, 5, 61, 43}, 7, true, {3, 5, 61, 43}},
      {{3, 5, 61, 43}, 1, true, {3, 6, 61, 42}},  // doubled rows
      {{3, 5, 61, 43}, 2, true, {3, 6, 61, 42}},  // interlaced rows stay on their rows
      {{3, 5, 61, 43}, 3, true, {4, 5, 60, 43}},  // doubled pixels
      {{3, 5, 61, 43}, 4, true, {4, 6, 60, 42}},
      {{3, 5, 61, 43}, 5, true, {4, 6, 60, 42}},
      {{3, 5, 61, 43}, 6, true, {3, 6, 61, 42}},  // one field
      {{4, 6, 10, 10}, 5, true, {4, 6, 10, 10}},  // cuts already whole
      {{0, 0, 5, 3}, 5, true, {0, 0, 5, 3}},      // cut at the right and bottom: the copy rounds down
      {{63, 0, 1, 48}, 3, false, {0, 0, 0, 0}},   // half a doubled pixel is nothing
      {{0, 47, 64, 1}, 2, false, {0, 0, 0, 0}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.part.left << "," << c.part.top << " " << c.part.width << "x"
                                    << c.part.height << " mode " << c.mode);
    g_part = c.part;
    ASSERT_TRUE(surface_lock(s));
    SurfaceCopyArea a;
    EXPECT_EQ(surface_copy_area(s, c.mode, &a), c.some);
    if (c.some) {
      EXPECT_EQ(a.rect.left, c.rect.left);
      EXPECT_EQ(a.rect.top, c.rect.top);
      EXPECT_EQ(a.rect.width, c.rect.width);
      EXPECT_EQ(a.rect.height, c.rect.height);
      EXPECT_EQ(a.buffer, screen.data() + 100 + c.rect.left * 4 + c.rect.top * kPitch);
    }
    surface_unlock(s);
  }
  SurfaceCopyArea a;
  EXPECT_FALSE(surface_copy_area(s, 0, &a));  // not locked

  // The clear fills the part alone.
  g_part = {10, 4, 20, 6};
  ASSERT_TRUE(surface_clear(s));
  for (int32_t y = 0; y < 60; ++y)
    for (int32_t x = 0; x < kPitch; ++x) {
      const int32_t at = x - 100 - 10 * 4;
      const bool inside = y >= 4 && y < 10 && at >= 0 && at < 20 * 4;
      ASSERT_EQ(screen[size_t(y) * kPitch + size_t(x)], inside ? 0 : 0xCC) << x << "," << y;
    }
  surface_close(s);
}

TEST_F(SurfaceTest, BlackForEveryFormat) {
  struct Case {
    uint32_t code, width, rows;
    std::vector<uint8_t> row;  // the first row's bytes
  };
  const Case kCases[] = {
      {3, 2, 2, {0, 0, 0, 0, 0, 0, 0, 0}},
      {13, 5, 1, {0, 0x80, 0, 0x80, 0, 0x80, 0, 0x80, 0, 0x80}},  // two pairs and the odd 0x8000
      {14, 3, 1, {0x80, 0, 0x80, 0, 0x80, 0}},
      {15, 4, 2, {16, 16, 16, 16}},
  };
  for (const Case& c : kCases) {
    std::vector<uint8_t> mem(64, 0xCC);
    surface_fill_black(mem.data(), 16, c.width, c.rows, c.code, 4);
    EXPECT_EQ(std::vector<uint8_t>(mem.begin(), mem.begin() + c.row.size()), c.row) << c.code;
    EXPECT_EQ(mem[c.row.size()], 0xCC) << c.code;  // nothing past the row
    if (c.code == 15) {
      // Chroma directly after the luma rows: 2 planes of 1 row of 2 bytes, 8 apart.
      EXPECT_EQ(mem[32], 128);
      EXPECT_EQ(mem[33], 128);
      EXPECT_EQ(mem[34], 0xCC);
      EXPECT_EQ(mem[40], 128);
    }
  }
}

// Every copy format cleared at odd and even sizes writes exactly the surface's pixels: luma
// (or packed) rows up to the row's bytes, and for YV12 the two chroma planes of rows / 2 rows
// of width / 2 bytes at half the pitch, the way the memory surface and the copy lay them out.
// Nothing before, after or between them changes.
TEST_F(SurfaceTest, ClearStaysInsideTheSurfaceAtOddAndEvenSizes) {
  constexpr size_t kGuard = 32;
  constexpr uint8_t kUntouched = 0xCC;
  const uint32_t kWidths[] = {1, 2, 5, 6, 33};
  const uint32_t kRows[] = {1, 2, 3, 4, 7, 8};
  for (uint32_t code = 1; code <= 15; ++code) {
    for (uint32_t width : kWidths) {
      for (uint32_t rows : kRows) {
        const uint32_t row_bytes = width * convert_bytes_per_pixel(code);
        const int32_t pitch = int32_t((row_bytes + 3) & ~3u) + 4;  // room after each row
        const size_t luma = size_t(pitch) * rows;
        const size_t cp = size_t(pitch / 2), chroma_rows = rows / 2;
        const size_t bytes = luma + (code == kFormatYv12 ? 2 * cp * chroma_rows : 0);
        std::vector<uint8_t> mem(kGuard + bytes + kGuard, kUntouched);
        uint8_t* surface = mem.data() + kGuard;
        surface_fill_black(surface, pitch, width, rows, code, 4);

        auto black = [&](size_t i) -> int {  // the black byte at offset i, or -1: untouched
          if (i < luma) {
            const size_t x = i % size_t(pitch);
            if (x >= row_bytes) return -1;
            if (code == kFormatYv12) return 16;
            if (code == kFormatYuy2) return x & 1 ? 0x80 : 0;
            if (code == kFormatUyvy) return x & 1 ? 0 : 0x80;
            return 0;
          }
          return (i - luma) % cp < width / 2 ? 128 : -1;  // the V plane, then the U plane
        };
        const std::string where = "code " + std::to_string(code) + ", " + std::to_string(width) + " x " +
                                  std::to_string(rows) + ", pitch " + std::to_string(pitch);
        size_t wrong = 0, first_wrong = 0;
        for (size_t i = 0; i < mem.size(); ++i) {
          const bool inside = i >= kGuard && i < kGuard + bytes;
          const int want = inside ? black(i - kGuard) : -1;
          if (mem[i] != (want < 0 ? kUntouched : uint8_t(want)) && !wrong++) first_wrong = i;
        }
        EXPECT_EQ(wrong, 0u) << where << ": first wrong byte at offset " << int64_t(first_wrong) - int64_t(kGuard)
                             << " of " << bytes;
      }
    }
  }
}

TEST_F(SurfaceTest, DepthSequences) {
  int32_t seq[3];
  ASSERT_EQ(surface_depth_sequence(1, seq), 3u);
  EXPECT_EQ(seq[0], 16);
  EXPECT_EQ(seq[2], 24);
  ASSERT_EQ(surface_depth_sequence(3, seq), 2u);
  EXPECT_EQ(surface_depth_sequence(16, seq), 1u);
}

}  // namespace
