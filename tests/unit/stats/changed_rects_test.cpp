#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "playback/changed_rects.h"

namespace {

// A change map of columns x rows blocks with the given blocks marked, allocated to its exact size.
struct Map {
  uint32_t columns, rows;
  std::vector<uint8_t> cells;
  Map(uint32_t c, uint32_t r) : columns(c), rows(r), cells(size_t(c) * r, 0) {}
  void mark(uint32_t c, uint32_t r) { cells[size_t(r) * columns + c] = 1; }
};

std::vector<MovieRect> find(const Map& m, bool stretched = false, uint32_t mode = 0,
                            int32_t width = -1, int32_t height = -1) {
  if (width < 0) width = int32_t(m.columns * 16);
  if (height < 0) height = int32_t(m.rows * 16);
  MovieRect out[kMaxChangedRects + 1];
  out[kMaxChangedRects] = MovieRect{-7, -7, -7, -7};  // guard
  uint32_t n = changed_rects_find(m.cells.data(), m.columns, m.columns * 16, m.rows * 16,
                                  stretched, mode, width, height, out);
  EXPECT_LE(n, kMaxChangedRects);
  EXPECT_EQ(out[kMaxChangedRects].left, -7);
  return std::vector<MovieRect>(out, out + n);
}

bool same(const MovieRect& a, const MovieRect& b) {
  return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height;
}

void expect_rects(const std::vector<MovieRect>& got, std::vector<MovieRect> want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i)
    EXPECT_TRUE(same(got[i], want[i]))
        << i << ": " << got[i].left << "," << got[i].top << " " << got[i].width << "x"
        << got[i].height;
}

TEST(ChangedRects, NoChangeGivesNone) {
  Map m(40, 30);
  EXPECT_TRUE(find(m).empty());
  EXPECT_TRUE(find(m, true).empty());
}

TEST(ChangedRects, OneBlockScaledForEachDoublingMode) {
  Map m(8, 8);
  m.mark(2, 3);  // pixels (32, 48)
  struct Case {
    uint32_t mode;
    MovieRect want;
  } const cases[] = {
      {0, {32, 48, 16, 16}}, {1, {32, 96, 16, 32}}, {2, {32, 96, 16, 32}},
      {3, {64, 48, 32, 16}}, {4, {64, 96, 32, 32}}, {5, {64, 96, 32, 32}},
      {6, {32, 48, 16, 16}}, {7, {32, 48, 16, 16}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    expect_rects(find(m, false, c.mode, 256, 256), {c.want});
  }
}

TEST(ChangedRects, ClippedToTheDisplay) {
  // A 100 x 50 picture: padded to 112 x 64, a map of 7 x 4 blocks.
  Map m(7, 4);
  m.mark(6, 3);
  expect_rects(find(m, false, 0, 100, 50), {{96, 48, 4, 2}});
  expect_rects(find(m, false, 4, 200, 100), {{192, 96, 8, 4}});
  // Wholly outside the display: nothing is left to blit.
  EXPECT_TRUE(find(m, false, 0, 90, 50).empty());
  EXPECT_TRUE(find(m, false, 0, 100, 40).empty());
}

TEST(ChangedRects, FarCornersGiveTwoSmallRectangles) {
  Map m(40, 30);
  m.mark(0, 0);
  m.mark(39, 29);
  expect_rects(find(m), {{0, 0, 16, 16}, {624, 464, 16, 16}});
  // A stretching blit gets the bounding box only.
  expect_rects(find(m, true), {{0, 0, 640, 480}});
}

TEST(ChangedRects, SplitChoice) {
  struct Case {
    const char* what;
    std::vector<std::pair<uint32_t, uint32_t>> blocks;
    std::vector<MovieRect> want;
  } const cases[] = {
      // Both splits of the L save 256: left/right is kept.
      {"tie keeps left/right", {{0, 0}, {1, 0}, {0, 1}}, {{0, 0, 16, 32}, {16, 0, 16, 16}}},
      // Top/bottom saves 1280, left/right 512.
      {"top/bottom saves more", {{0, 0}, {1, 0}, {2, 0}, {0, 2}}, {{0, 0, 48, 16}, {0, 32, 16, 16}}},
      // A full block of changes saves nothing.
      {"solid", {{1, 1}, {2, 1}, {1, 2}, {2, 2}}, {{16, 16, 32, 32}}},
      // Width 48 splits after 32 pixels: (24 + 15) rounded down to 16.
      {"split point", {{0, 0}, {1, 0}, {2, 1}}, {{0, 0, 32, 16}, {32, 16, 16, 16}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Map m(6, 6);
    for (auto [col, row] : c.blocks) m.mark(col, row);
    expect_rects(find(m), c.want);
  }
}

TEST(ChangedRects, ReadsOnlyTheColumnsInsideThePicture) {
  // The map rows are wider than the picture: the extra cells are never looked at.
  std::vector<uint8_t> cells(10 * 2, 0xFF);
  for (uint32_t r = 0; r < 2; ++r)
    for (uint32_t c = 0; c < 4; ++c) cells[r * 10 + c] = 0;
  cells[1 * 10 + 1] = 1;
  MovieRect out[kMaxChangedRects];
  ASSERT_EQ(changed_rects_find(cells.data(), 10, 64, 32, false, 0, 64, 32, out), 1u);
  EXPECT_TRUE(same(out[0], MovieRect{16, 16, 16, 16}));
}

TEST(ChangedRects, RandomMapsAreCoveredByAtMostEightSortedRectangles) {
  std::mt19937 rng(12345);
  size_t many = 0;
  for (int iteration = 0; iteration < 3000; ++iteration) {
    uint32_t columns = 1 + rng() % 40, rows = 1 + rng() % 30;
    Map m(columns, rows);
    uint32_t density = rng() % 4 == 0 ? 50 : 1 + rng() % 8;  // percent
    uint32_t changed = 0;
    for (uint32_t r = 0; r < rows; ++r)
      for (uint32_t c = 0; c < columns; ++c)
        if (rng() % 100 < density) m.mark(c, r), ++changed;
    std::vector<MovieRect> rects = find(m);
    SCOPED_TRACE(iteration);
    ASSERT_EQ(rects.empty(), changed == 0);
    many += rects.size() == kMaxChangedRects;

    std::vector<int> cover(size_t(columns) * rows, 0);
    for (size_t i = 0; i < rects.size(); ++i) {
      const MovieRect& r = rects[i];
      ASSERT_TRUE(r.left % 16 == 0 && r.top % 16 == 0 && r.width % 16 == 0 && r.height % 16 == 0);
      ASSERT_TRUE(r.width > 0 && r.height > 0);
      ASSERT_LE(r.left + r.width, int32_t(columns * 16));
      ASSERT_LE(r.top + r.height, int32_t(rows * 16));
      if (i) {
        ASSERT_LT(int64_t(rects[i - 1].top) * 65536 + rects[i - 1].left,
                  int64_t(r.top) * 65536 + r.left);
      }
      bool holds_change = false;
      for (int32_t row = r.top / 16; row < (r.top + r.height) / 16; ++row)
        for (int32_t col = r.left / 16; col < (r.left + r.width) / 16; ++col) {
          ++cover[size_t(row) * columns + col];
          holds_change |= m.cells[size_t(row) * columns + col] != 0;
        }
      EXPECT_TRUE(holds_change);
    }
    for (size_t i = 0; i < cover.size(); ++i) {
      EXPECT_LE(cover[i], 1) << "rectangles overlap";
      if (m.cells[i]) {
        ASSERT_EQ(cover[i], 1) << "block " << i % columns << "," << i / columns;
      }
    }
  }
  EXPECT_GT(many, 100u);  // the cap of eight was reached often
}

}  // namespace
