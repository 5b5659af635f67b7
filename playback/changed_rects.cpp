#include "playback/changed_rects.h"

#include <cstddef>

#include "convert/convert.h"

namespace {

// A rectangle in whole blocks: columns [c0, c1), rows [r0, r1); empty when c0 >= c1.
struct BlockRect {
  uint32_t c0, r0, c1, r1;
};

struct ChangeMap {
  const uint8_t* cells;
  uint32_t stride;  // bytes per row
  uint32_t columns, rows;
};

bool block_rect_empty(const BlockRect& r) { return r.c0 >= r.c1 || r.r0 >= r.r1; }

// Area in pixels (16 x 16 per block).
uint64_t block_rect_area(const BlockRect& r) {
  return block_rect_empty(r) ? 0 : uint64_t(r.c1 - r.c0) * (r.r1 - r.r0) * 256;
}

bool row_has_change(const ChangeMap& m, uint32_t row, uint32_t c0, uint32_t c1) {
  const uint8_t* cells = m.cells + size_t(row) * m.stride;
  for (uint32_t c = c0; c < c1; ++c)
    if (cells[c]) return true;
  return false;
}

bool column_has_change(const ChangeMap& m, uint32_t column, uint32_t r0, uint32_t r1) {
  for (uint32_t r = r0; r < r1; ++r)
    if (m.cells[size_t(r) * m.stride + column]) return true;
  return false;
}

// The bounding box of the changed blocks inside a region: the first changed row from the top,
// the last one from the bottom, then the first and last changed columns within those rows.
BlockRect bounding_box(const ChangeMap& m, const BlockRect& region) {
  BlockRect box{0, 0, 0, 0};
  if (block_rect_empty(region)) return box;
  uint32_t top = region.r0;
  while (top < region.r1 && !row_has_change(m, top, region.c0, region.c1)) ++top;
  if (top == region.r1) return box;
  uint32_t bottom = region.r1;
  while (!row_has_change(m, bottom - 1, region.c0, region.c1)) --bottom;
  uint32_t left = region.c0;
  while (!column_has_change(m, left, top, bottom)) ++left;
  uint32_t right = region.c1;
  while (!column_has_change(m, right - 1, top, bottom)) --right;
  return BlockRect{left, top, right, bottom};
}

// Where a side of `blocks` blocks is split: (pixels / 2 + 15) rounded down to 16, in blocks.
uint32_t split_at(uint32_t blocks) { return (blocks * 16 / 2 + 15) / 16; }

struct Candidate {
  BlockRect box;
  BlockRect first, second;  // the two parts of its best split, each shrunk to its changes
  uint64_t saving;          // area the split saves, 0 for none
};

void best_split(const ChangeMap& m, Candidate* c) {
  const BlockRect& r = c->box;
  uint64_t area = block_rect_area(r);
  c->saving = 0;
  if (r.c1 - r.c0 >= 2) {
    uint32_t mid = r.c0 + split_at(r.c1 - r.c0);
    BlockRect a = bounding_box(m, BlockRect{r.c0, r.r0, mid, r.r1});
    BlockRect b = bounding_box(m, BlockRect{mid, r.r0, r.c1, r.r1});
    c->first = a;
    c->second = b;
    c->saving = area - block_rect_area(a) - block_rect_area(b);
  }
  if (r.r1 - r.r0 >= 2) {
    uint32_t mid = r.r0 + split_at(r.r1 - r.r0);
    BlockRect a = bounding_box(m, BlockRect{r.c0, r.r0, r.c1, mid});
    BlockRect b = bounding_box(m, BlockRect{r.c0, mid, r.c1, r.r1});
    uint64_t saving = area - block_rect_area(a) - block_rect_area(b);
    if (saving > c->saving) {
      c->first = a;
      c->second = b;
      c->saving = saving;
    }
  }
}

// Splits candidates until none saves any area or there are kMaxChangedRects of them.
uint32_t refine(const ChangeMap& m, Candidate* list) {
  uint32_t n = 1;
  best_split(m, &list[0]);
  for (;;) {
    uint32_t best = n;
    for (uint32_t i = 0; i < n; ++i)
      if (list[i].saving > 0 && (best == n || list[i].saving > list[best].saving)) best = i;
    if (best == n) break;
    BlockRect first = list[best].first, second = list[best].second;
    // Both parts of a bounding box hold changes; an empty one is never kept all the same.
    if (block_rect_empty(first)) {
      first = second;
      second = BlockRect{0, 0, 0, 0};
    }
    list[best].box = first;
    best_split(m, &list[best]);
    if (!block_rect_empty(second)) {
      list[n].box = second;
      ++n;
      if (n == kMaxChangedRects) break;
      best_split(m, &list[n - 1]);
    }
  }
  return n;
}

}  // namespace

uint32_t changed_rects_find(const uint8_t* change_map, uint32_t map_columns, uint32_t luma_stride,
                            uint32_t luma_height, bool stretched, uint32_t doubling_mode,
                            int32_t display_width, int32_t display_height,
                            MovieRect out[kMaxChangedRects]) {
  if (!change_map || !out) return 0;
  uint32_t columns = luma_stride / 16;
  if (columns > map_columns) columns = map_columns;
  ChangeMap m{change_map, map_columns, columns, luma_height / 16};

  Candidate list[kMaxChangedRects];
  list[0].box = bounding_box(m, BlockRect{0, 0, m.columns, m.rows});
  if (block_rect_empty(list[0].box)) return 0;
  uint32_t n = stretched ? 1 : refine(m, list);

  // Top, then left: insertion sort on top * 65536 + left (in pixels, 64-bit).
  struct PixelRect {
    int64_t left, top, width, height;
  };
  PixelRect rects[kMaxChangedRects];
  for (uint32_t i = 0; i < n; ++i) {
    const BlockRect& b = list[i].box;
    PixelRect r{int64_t(b.c0) * 16, int64_t(b.r0) * 16, int64_t(b.c1 - b.c0) * 16,
                int64_t(b.r1 - b.r0) * 16};
    uint32_t j = i;
    for (; j > 0 && rects[j - 1].top * 65536 + rects[j - 1].left > r.top * 65536 + r.left; --j)
      rects[j] = rects[j - 1];
    rects[j] = r;
  }

  uint32_t mode = doubling_mode & 7;
  bool double_rows = convert_row_factor(mode) == 2;
  bool double_columns = convert_width_factor(mode) == 2;
  uint32_t count = 0;
  for (uint32_t i = 0; i < n; ++i) {
    PixelRect r = rects[i];
    if (double_rows) {
      r.top *= 2;
      r.height *= 2;
    }
    if (double_columns) {
      r.left *= 2;
      r.width *= 2;
    }
    if (r.width > display_width - r.left) r.width = display_width - r.left;
    if (r.height > display_height - r.top) r.height = display_height - r.top;
    if (r.width <= 0 || r.height <= 0) continue;  // nothing of it is on the display
    // Now 0 <= left < display_width and width <= display_width - left: all fit 32 bits.
    out[count++] = MovieRect{int32_t(r.left), int32_t(r.top), int32_t(r.width), int32_t(r.height)};
  }
  return count;
}
