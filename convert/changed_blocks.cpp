// The changed-block copy: only the 16 × 16 blocks that the change map marks are converted, a
// run of adjacent changed blocks in one converter call per row pair; strips that do not fill a
// block go through the whole-rectangle path.
#include "convert/convert.h"
#include "convert/convert_internal.h"

namespace {

// Runs gathered per band before they are converted; a band with more is converted in parts.
constexpr uint32_t kMaxRuns = 128;

// The walk through the cursor, for converters without a band form (the integer set and the
// duplicate-row methods).
void walk_band_through_cursor(ConvertContext* cx, const BlockBand* band) {
  ConvertCursor* c = &cx->cursor;
  const convert_groups_fn groups = cx->groups_even;
  convert_walk_band(band, [c, groups](CursorPositions& k, uint32_t units) {
    cursor_set_positions(c, k);
    groups(c, units);
  });
}

void convert_runs(ConvertContext* cx, const BlockBand* band) {
  if (!band->run_count) return;
  if (cx->band) cx->band(band);
  else walk_band_through_cursor(cx, band);
}

}  // namespace

void copy_rect_changed(ConvertContext* cx, const PlaneCopy* pc, const ChangeMap* changes) {
  ConversionFamily* f = pc->family;
  uint8_t* const dest = pc->dest;
  const uint32_t dest_x = pc->dest_x, dest_y = pc->dest_y, flags = pc->flags;
  const int32_t dest_pitch = pc->dest_pitch;
  const uint8_t* const planes = pc->planes;
  const uint8_t* const alpha = pc->alpha;
  const uint8_t* const map = changes->blocks;
  uint32_t map_pitch = changes->pitch;
  uint32_t x = pc->x, y = pc->y, w = pc->w, h = pc->h, P = pc->P, H = pc->H;
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

  const uint32_t hmul = convert_width_factor(mode);
  const uint32_t bands = h / 16, blocks = w / 16;

  if (bands && blocks) {
    // Runs of adjacent changed blocks go to the converter in one call per row pair, so the
    // scratch rows of the duplicate-row methods are made as wide as the widest run.
    int32_t skip;
    select_converters(cx, f, flags, 16 * blocks, h, &row_step, &skip);

    BlockBand band;
    band.origin.dst0 = dest + ptrdiff_t(dest_y) * dest_pitch + ptrdiff_t(dest_x) * b;
    band.origin.dst1 = band.origin.dst0 + row_step;
    band.origin.y0 = planes + size_t(y) * P + x;
    band.origin.y1 = band.origin.y0 + P;
    band.origin.a0 = alpha ? alpha + size_t(y) * P + x : nullptr;
    band.origin.a1 = alpha ? band.origin.a0 + P : nullptr;
    const uint8_t* first = planes + luma_bytes;
    const uint8_t* second = first + luma_bytes / 4;
    const bool swap = flags & kCopyChromaSwap;
    const size_t chroma_at = size_t(y / 2) * (P / 2) + x / 2;
    band.origin.cr = (swap ? second : first) + chroma_at;
    band.origin.cb = (swap ? first : second) + chroma_at;
    band.luma_pitch = P;
    band.row_step = row_step;
    band.block_bytes = b * hmul * 16;
    uint16_t runs[2 * kMaxRuns];
    band.runs = runs;
    band.pack = cx->cursor.pack;
    const uint8_t* band_map = map + size_t(y / 16) * map_pitch + x / 16;

    for (uint32_t row = 0; row < bands; ++row) {
      const uint8_t* m = band_map;
      band.run_count = 0;
      for (uint32_t i = 0; i < blocks;) {
        if (!m[i] && !(second_map_row && m[i + second_map_row])) {
          ++i;
          continue;
        }
        uint32_t end = i + 1;
        while (end < blocks && (m[end] || (second_map_row && m[end + second_map_row]))) ++end;
        if (band.run_count == kMaxRuns) {
          convert_runs(cx, &band);
          band.run_count = 0;
        }
        runs[2 * band.run_count] = uint16_t(i);
        runs[2 * band.run_count + 1] = uint16_t(end - i);
        ++band.run_count;
        i = end;
      }
      convert_runs(cx, &band);
      band.origin.dst0 += ptrdiff_t(16) * row_step;
      band.origin.dst1 += ptrdiff_t(16) * row_step;
      band.origin.y0 += size_t(16) * P;
      band.origin.y1 += size_t(16) * P;
      if (band.origin.a0) {
        band.origin.a0 += size_t(16) * P;
        band.origin.a1 += size_t(16) * P;
      }
      band.origin.cb += size_t(8) * (P / 2);
      band.origin.cr += size_t(8) * (P / 2);
      band_map += map_pitch;
    }
  }

  // Leftover strips, in the coordinates as given.
  const uint32_t w16 = orig_w & ~15u;
  const uint32_t covered_w = orig_w >= 16 ? w16 : 0;
  if (orig_w & 15) {
    PlaneCopy strip = *pc;
    strip.dest_x = dest_x + covered_w * hmul;
    strip.x = orig_x + covered_w;
    strip.w = orig_w - covered_w;
    copy_rect_full(cx, &strip);
  }
  const uint32_t rows_done = (covered_w ? bands * 16 : 0) * (mode == 6 ? 2 : 1);
  if (rows_done < orig_h && covered_w) {
    PlaneCopy strip = *pc;
    strip.dest_y = dest_y + rows_done * convert_row_factor(mode);
    strip.y = orig_y + rows_done;
    strip.w = covered_w;
    strip.h = orig_h - rows_done;
    copy_rect_full(cx, &strip);
  }
}
