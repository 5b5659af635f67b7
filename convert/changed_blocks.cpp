// The changed-block copy: only the 16 × 16 blocks that the change map marks are converted,
// in whole 32-pixel pairs where it can; strips that do not fill a block go through the
// whole-rectangle path.
#include "convert/convert.h"
#include "convert/convert_internal.h"

namespace {

// Converts `units` × 4 pixels on the 8 row pairs of one band, from the cursor's position,
// and leaves the cursor where it was.
void convert_block_rows(ConvertCursor* c, uint32_t units, uint32_t P, int32_t row_step,
                        int32_t skip) {
  const CursorPositions start = cursor_positions(c);
  for (int pair = 0; pair < 8; ++pair) {
    g_convert.groups_even(c, units);
    c->y0 = c->y1 + (P - 4 * units);
    c->y1 = c->y0 + P;
    if (c->a0) {
      c->a0 = c->a1 + (P - 4 * units);
      c->a1 = c->a0 + P;
    }
    c->cb += P / 2 - 2 * units;
    c->cr += P / 2 - 2 * units;
    c->dst0 = c->dst1 + skip;
    c->dst1 = c->dst0 + row_step;
  }
  cursor_set_positions(c, start);
}

void advance(ConvertCursor* c, uint32_t pixels, uint32_t dest_bytes) {
  c->y0 += pixels;
  c->y1 += pixels;
  if (c->a0) {
    c->a0 += pixels;
    c->a1 += pixels;
  }
  c->cb += pixels / 2;
  c->cr += pixels / 2;
  c->dst0 += dest_bytes;
  c->dst1 += dest_bytes;
}

}  // namespace

void copy_rect_changed(ConversionFamily* f, uint8_t* dest, uint32_t dest_x, uint32_t dest_y,
                       int32_t dest_pitch, const uint8_t* map, uint32_t map_pitch,
                       const uint8_t* planes, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                       uint32_t P, uint32_t H, uint32_t flags, const uint8_t* alpha) {
  const uint32_t mode = (flags & kCopyDoublingMask) >> kCopyDoublingShift;
  const uint32_t b = f->bytes_per_pixel;
  const uint32_t luma_bytes = P * H;
  const uint32_t orig_x = x, orig_y = y, orig_w = w, orig_h = h;
  int32_t row_step = dest_pitch;
  uint32_t second_map_row = 0;  // mode 6: a band covers two rows of the map
  if (mode == 6) {
    y /= 2;
    h /= 2;
    H /= 2;
    P *= 2;
    second_map_row = map_pitch;
    map_pitch *= 2;
  }
  if (mode == 2 || mode == 5 || mode == 6) row_step *= 2;

  ConvertCursor& c = g_convert.cursor;
  const uint32_t hmul = convert_width_factor(mode);
  const uint32_t block_bytes = b * hmul * 16;
  const uint32_t bands = h / 16, pairs = w / 32;
  const bool single = (w / 16) & 1;

  if (bands && w >= 16) {
    // Both calls start from the same row step; the second one's converters stay installed.
    int32_t step16 = row_step, skip16, skip32;
    select_converters(f, flags, 16, h, &step16, &skip16);
    int32_t step32 = row_step;
    select_converters(f, flags, 32, h, &step32, &skip32);
    row_step = step32;

    uint8_t* band_dst = dest + ptrdiff_t(dest_y) * dest_pitch + ptrdiff_t(dest_x) * b;
    const uint8_t* band_y = planes + size_t(y) * P + x;
    const uint8_t* band_a = alpha ? alpha + size_t(y) * P + x : nullptr;
    const uint8_t* first = planes + luma_bytes;
    const uint8_t* second = first + luma_bytes / 4;
    const bool swap = flags & kCopyChromaSwap;
    const size_t chroma_at = size_t(y / 2) * (P / 2) + x / 2;
    const uint8_t* band_cr = (swap ? second : first) + chroma_at;
    const uint8_t* band_cb = (swap ? first : second) + chroma_at;
    const uint8_t* band_map = map + size_t(y / 16) * map_pitch + x / 16;

    for (uint32_t band = 0; band < bands; ++band) {
      c.dst0 = band_dst;
      c.dst1 = band_dst + row_step;
      c.y0 = band_y;
      c.y1 = band_y + P;
      c.a0 = band_a;
      c.a1 = band_a ? band_a + P : nullptr;
      c.cb = band_cb;
      c.cr = band_cr;
      const uint8_t* m = band_map;
      auto changed = [&](uint32_t k) {
        return m[k] || (second_map_row && m[k + second_map_row]);
      };
      for (uint32_t p = 0; p < pairs; ++p) {
        const uint32_t code = (changed(0) ? 1 : 0) + (changed(1) ? 2 : 0);
        if (code == 3) {
          convert_block_rows(&c, 8, P, row_step, skip32);
        } else if (code == 2) {
          const CursorPositions keep = cursor_positions(&c);
          advance(&c, 16, block_bytes);
          convert_block_rows(&c, 4, P, row_step, skip16);
          cursor_set_positions(&c, keep);
        } else if (code == 1) {
          convert_block_rows(&c, 4, P, row_step, skip16);
        }
        advance(&c, 32, 2 * block_bytes);
        m += 2;
      }
      if (single && changed(0)) convert_block_rows(&c, 4, P, row_step, skip16);
      band_dst += ptrdiff_t(16) * row_step;
      band_y += size_t(16) * P;
      if (band_a) band_a += size_t(16) * P;
      band_cb += size_t(8) * (P / 2);
      band_cr += size_t(8) * (P / 2);
      band_map += map_pitch;
    }
  }

  // Leftover strips, in the coordinates as given.
  const uint32_t w16 = orig_w & ~15u;
  const uint32_t covered_w = orig_w >= 16 ? w16 : 0;
  if (orig_w & 15)
    copy_rect_full(f, dest, dest_x + covered_w * hmul, dest_y, dest_pitch, planes, orig_x + covered_w,
                   orig_y, orig_w - covered_w, orig_h, P / (mode == 6 ? 2 : 1), H * (mode == 6 ? 2 : 1),
                   flags, alpha);
  const uint32_t rows_done = (covered_w ? bands * 16 : 0) * (mode == 6 ? 2 : 1);
  if (rows_done < orig_h && covered_w)
    copy_rect_full(f, dest, dest_x, dest_y + rows_done * convert_row_factor(mode), dest_pitch,
                   planes, orig_x, orig_y + rows_done, covered_w, orig_h - rows_done,
                   P / (mode == 6 ? 2 : 1), H * (mode == 6 ? 2 : 1), flags, alpha);
}
