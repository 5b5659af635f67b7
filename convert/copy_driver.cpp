// The copy driver: argument handling, the late check, the walk over the whole rectangle, the
// choice of converters and the duplicate-row methods, and the YV12 copy.
#include <cstdlib>
#include <cstring>

#include "base/cpu.h"
#include "convert/convert.h"
#include "convert/convert_internal.h"
#include "video/video_decoder.h"


ConversionFamily g_families[kFamilyCount];
ConvertState g_convert;

namespace {

void* g_scratch_block;  // from std::malloc; the rows are 32-byte aligned inside it

// ---- Duplicate-row methods ------------------------------------------------------------------

// Reconvert: the inner converter runs twice, the second time one row lower.
void dup_reconvert(ConvertCursor* c, uint32_t units, convert_groups_fn inner) {
  ConvertCursor start = *c;
  inner(c, units);
  ConvertCursor done = *c;
  *c = start;
  c->dst0 = start.dst0 + start.pitch;
  c->dst1 = start.dst1 + start.pitch;
  inner(c, units);
  *c = done;
}

// Scratch: the inner converter writes into the scratch rows, which are then copied to both
// destination rows of each row of the pair.
void dup_scratch(ConvertCursor* c, uint32_t units, convert_groups_fn inner) {
  uint8_t* d0 = c->dst0;
  uint8_t* d1 = c->dst1;
  c->dst0 = c->scratch0;
  c->dst1 = c->scratch1;
  inner(c, units);
  size_t n = size_t(c->dst0 - c->scratch0);
  std::memcpy(d0, c->scratch0, n);
  std::memcpy(d0 + c->pitch, c->scratch0, n);
  std::memcpy(d1, c->scratch1, n);
  std::memcpy(d1 + c->pitch, c->scratch1, n);
  c->dst0 = d0 + n;
  c->dst1 = d1 + n;
}

bool scratch_fits(const ConvertCursor* c, uint32_t units) {
  // The scratch rows were reserved for the widest call of this copy; a failed reservation
  // leaves them short or null and the method falls back to converting twice.
  return c->scratch0 &&
         size_t(units) * 4 * g_convert.hmul * g_convert.bytes_per_pixel <= c->scratch_capacity / 2;
}

void reconvert_even(ConvertCursor* c, uint32_t u) { dup_reconvert(c, u, g_convert.inner_even); }
void reconvert_odd(ConvertCursor* c, uint32_t u) { dup_reconvert(c, u, g_convert.inner_odd); }
void scratch_even(ConvertCursor* c, uint32_t u) {
  if (scratch_fits(c, u)) dup_scratch(c, u, g_convert.inner_even);
  else dup_reconvert(c, u, g_convert.inner_even);
}
void scratch_odd(ConvertCursor* c, uint32_t u) {
  if (scratch_fits(c, u)) dup_scratch(c, u, g_convert.inner_odd);
  else dup_reconvert(c, u, g_convert.inner_odd);
}

void install_dup_method(bool scratch) {
  g_convert.groups_even = scratch ? scratch_even : reconvert_even;
  g_convert.groups_odd = scratch ? scratch_odd : reconvert_odd;
}

// The timing wrapper of the duplicate-row tuning: times the method under test (Reconvert when
// bit 1 of the word is set, else Scratch) and settles after enough comparisons.
void timed_dup(ConvertCursor* c, uint32_t units, convert_groups_fn inner) {
  uint32_t& s = *g_convert.dup_state;
  bool reconvert = s & 2;
  uint64_t t0 = convert_cycles();
  if (reconvert || !scratch_fits(c, units)) dup_reconvert(c, units, inner);
  else dup_scratch(c, units, inner);
  uint32_t e = uint32_t(convert_cycles() - t0);
  if (reconvert) {
    s = (s & 0xFD) | (e << 8);
    return;
  }
  uint32_t q = (s >> 2) & 63, t = s >> 8;
  if ((e & 0xFFFFFF) < t) {
    if (q == 0) {
      s = 3;
      g_convert.dup_measuring = false;
      install_dup_method(true);
    } else {
      s = ((q - 1) << 2) | 2;
    }
  } else if (q == 63) {
    s = 1;
    g_convert.dup_measuring = false;
    install_dup_method(false);
  } else {
    s = (((q + 1) << 2) & 0xFC) | 2;
  }
}
void timed_even(ConvertCursor* c, uint32_t u) { timed_dup(c, u, g_convert.inner_even); }
void timed_odd(ConvertCursor* c, uint32_t u) { timed_dup(c, u, g_convert.inner_odd); }

// Chooses Scratch or Reconvert for a duplicated-row copy of h rows.
void choose_dup_method(uint32_t* s, uint32_t h) {
  g_convert.dup_state = s;
  g_convert.dup_measuring = false;
  if (g_convert.force_dup) return install_dup_method(g_convert.force_dup == 2);
  if (g_convert.has_cycle_counter != 1) return install_dup_method(true);
  if ((*s & 1) && *s <= 0x2000) {
    *s += 4 * h;
    return install_dup_method(*s & 2);
  }
  *s = 0x82;
  g_convert.dup_measuring = true;
  g_convert.groups_even = timed_even;
  g_convert.groups_odd = timed_odd;
}

inline const uint8_t* offset_or_null(const uint8_t* p, size_t n) { return p ? p + n : nullptr; }

}  // namespace

// ---- Families and converter selection ------------------------------------------------------

// The families, filled from the instruction sets the processor has and KORVA_CPU allows; filled
// again when that limit changes.
void convert_init_families() {
  const uint32_t generation = cpu_generation();
  if (g_convert.tables_ready && g_convert.cpu_generation == generation) return;
  std::memset(g_families, 0, sizeof g_families);
  convert_init_plain(g_families);
  const uint32_t level = cpu_level();
  g_convert.simd_supported = level >= kCpuSse2 && convert_init_sse2(g_families) ? 1 : -1;
  if (g_convert.simd_supported == 1 && level >= kCpuAvx2) convert_init_avx2(g_families);
  g_convert.cpu_generation = generation;
  g_convert.tables_ready = true;
}

ConversionFamily* convert_family_for(uint32_t format, bool has_alpha) {
  static const int8_t kFamilyOf[16] = {-1, kFamilyBgr24, kFamilyRgb24, kFamilyBgr32, kFamilyRgb32,
                                       kFamilyBgra32, kFamilyRgba32, kFamily4444, kFamily5551,
                                       kFamily16, kFamily16, kFamily16, kFamily16, kFamilyYuy2,
                                       kFamilyUyvy, -1};
  static const int8_t kWithoutAlpha[16] = {-1, -1, -1, -1, -1, kFamilyBgr32, kFamilyRgb32,
                                           kFamily16, kFamily16, -1, -1, -1, -1, -1, -1, -1};
  format &= 15;
  int f = kFamilyOf[format];
  if (!has_alpha && kWithoutAlpha[format] >= 0) f = kWithoutAlpha[format];
  return f < 0 ? nullptr : &g_families[f];
}

bool reserve_scratch_rows(size_t bytes) {
  ConvertCursor& c = g_convert.cursor;
  size_t n = (bytes + 31) & ~size_t(31);
  if (2 * n <= c.scratch_capacity) return true;
  std::free(g_scratch_block);
  g_scratch_block = std::malloc(2 * n + 32);
  if (!g_scratch_block) {
    c.scratch0 = c.scratch1 = nullptr;
    c.scratch_capacity = 0;
    return false;
  }
  uint8_t* base = static_cast<uint8_t*>(g_scratch_block);
  base += (32 - (reinterpret_cast<uintptr_t>(base) & 31)) & 31;
  c.scratch0 = base;
  c.scratch1 = base + n;
  c.scratch_capacity = 2 * n;
  return true;
}

void convert_release() {
  std::free(g_scratch_block);
  g_scratch_block = nullptr;
  ConvertCursor& c = g_convert.cursor;
  c.scratch0 = c.scratch1 = nullptr;
  c.scratch_capacity = 0;
}

void select_converters(ConversionFamily* f, uint32_t flags, uint32_t w, uint32_t h,
                       int32_t* row_step, int32_t* row_skip) {
  convert_init_families();
  g_convert.has_simd = g_convert.simd_supported == 1 && !(flags & kCopyNoSimd);
  const uint32_t set = g_convert.has_simd ? uint32_t(kGroupSimd) : 0u;
  const uint32_t b = f->bytes_per_pixel;
  const bool grey = flags & kCopyGrey;
  const uint32_t mode = (flags & kCopyDoublingMask) >> kCopyDoublingShift;
  const bool wide = mode == 3 || mode == 4 || mode == 5;
  const bool dup = mode == 1 || mode == 4;
  g_convert.cursor.pitch = *row_step;
  g_convert.hmul = wide ? 2 : 1;
  g_convert.bytes_per_pixel = b;
  g_convert.pairs = f->pairs;

  const uint32_t g0 = set + (wide ? kGroupWideColorEven : kGroupColorEven);
  const GroupConverter& even = f->groups[grey ? g0 + 2 : g0];
  const GroupConverter& odd = f->groups[grey ? g0 + 2 : g0 + 1];
  g_convert.group_shift = even.shift > odd.shift ? even.shift : odd.shift;
  g_convert.group_mask = (1u << g_convert.group_shift) - 1;
  const RowConverters& rows = f->rows[(dup ? 4 : 0) + (wide ? 2 : 0) + (grey ? 1 : 0)];
  g_convert.row = rows.row;
  g_convert.run = rows.run;
  g_convert.split_state = &f->split_tuning[(set ? 4 : 0) + (wide ? 2 : 0) + (grey ? 1 : 0)];
  g_convert.dup_measuring = false;

  const int32_t row_bytes = int32_t(b * w * g_convert.hmul);
  if (dup) {
    reserve_scratch_rows(size_t(row_bytes));
    *row_step *= 2;
    g_convert.inner_even = even.run;
    g_convert.inner_odd = odd.run;
    choose_dup_method(&f->dup_tuning[(set ? 4 : 0) + (mode == 4 ? 2 : 0) + (grey ? 1 : 0)], h);
    g_convert.band = nullptr;  // the duplicate-row methods go through the cursor
  } else {
    g_convert.groups_even = even.run;
    g_convert.groups_odd = odd.run;
    g_convert.band = even.band;
  }
  *row_skip = *row_step - row_bytes;
}

// ---- Whole rectangle -----------------------------------------------------------------------

void copy_rect_full(ConversionFamily* f, uint8_t* dest, uint32_t dest_x, uint32_t dest_y,
                    int32_t dest_pitch, const uint8_t* planes, uint32_t x, uint32_t y, uint32_t w,
                    uint32_t h, uint32_t P, uint32_t H, uint32_t flags, const uint8_t* alpha) {
  const uint32_t mode = (flags & kCopyDoublingMask) >> kCopyDoublingShift;
  const uint32_t b = f->bytes_per_pixel;
  const uint32_t luma_bytes = P * H;  // the plane offsets do not change in mode 6
  int32_t row_step = dest_pitch;
  if (mode == 6) {
    y /= 2;
    h /= 2;
    H /= 2;
    P *= 2;
  }
  if (mode == 2 || mode == 5 || mode == 6) row_step *= 2;
  if (!w || !h) return;

  // dest_x counted from a 4-byte aligned base; the first pixel's address does not change.
  const uint32_t misalign = uint32_t(reinterpret_cast<uintptr_t>(dest) & 3);
  uint32_t aligned_x = dest_x;
  if (b == 2 && misalign == 2) aligned_x += 1;
  if (b == 3 && misalign) aligned_x += 4 - misalign;

  ConvertCursor& c = g_convert.cursor;
  c.dst0 = dest + ptrdiff_t(dest_x) * b + ptrdiff_t(dest_y) * dest_pitch;
  int32_t row_skip;
  select_converters(f, flags, w, h, &row_step, &row_skip);
  // A packed-YUV run of odd length may write its whole last pair only where the row, with the
  // width rounded up to whole pairs, fits the pitch.
  const uint32_t abs_pitch = dest_pitch < 0 ? uint32_t(-int64_t(dest_pitch)) : uint32_t(dest_pitch);
  g_convert.pair_overhang = uint64_t(dest_x + ((w + 1) & ~1u)) * b * g_convert.hmul <= abs_pitch;

  c.dst1 = c.dst0 + row_step;
  c.y0 = planes + size_t(y) * P + x;
  c.y1 = c.y0 + P;
  c.a0 = offset_or_null(alpha, size_t(y) * P + x);
  c.a1 = offset_or_null(c.a0, P);
  const uint32_t luma_skip = P - w;
  const uint32_t chroma_skip = P / 2 - w / 2 - ((w & x & 1) ? 1 : 0);
  const uint8_t* first = planes + luma_bytes;
  const uint8_t* second = first + luma_bytes / 4;
  const size_t chroma_at = size_t(y / 2) * (P / 2) + x / 2;
  const bool swap = flags & kCopyChromaSwap;
  c.cr = (swap ? second : first) + chroma_at;
  c.cb = (swap ? first : second) + chroma_at;

  auto next_rows = [&](bool from_second) {
    c.y0 = (from_second ? c.y1 : c.y0) + luma_skip;
    c.y1 = c.y0 + P;
    if (c.a0) {
      c.a0 = (from_second ? c.a1 : c.a0) + luma_skip;
      c.a1 = c.a0 + P;
    }
    c.cb += chroma_skip;
    c.cr += chroma_skip;
    c.dst0 = (from_second ? c.dst1 : c.dst0) + row_skip;
    c.dst1 = c.dst0 + row_step;
  };

  uint32_t row = y;
  const uint32_t last = y + h - 1;
  if (row & 1) {
    g_convert.row(&c, x, w);
    next_rows(false);
    ++row;
  }

  // Row-split tuning word of this variant.
  uint32_t& s = *g_convert.split_state;
  if (s & 1) s = s > 0x2000 ? 0x80 : s + 4 * h;
  if (s == 0) s = 0x80;
  const bool timing_possible = g_convert.has_cycle_counter == 1 && !g_convert.force_split;

  for (; row < last; row += 2) {
    uint32_t lead_d = (4 - (aligned_x & 3)) & 3;
    uint32_t lead_s = x & 1;
    if (g_convert.pairs && g_convert.hmul == 1) {
      // Pairs must start at the rectangle's first pixel: an even lead only.
      lead_d &= ~1u;
      lead_s = 0;
    }
    if (lead_d > w) lead_d = w;
    if (lead_s > w) lead_s = w;
    bool timed = false;
    uint64_t t0 = 0;
    uint32_t lead = lead_d;
    if (g_convert.force_split) {
      lead = g_convert.force_split == 2 ? lead_s : lead_d;
    } else if (timing_possible) {
      if (!g_convert.dup_measuring && lead_s != lead_d && !(s & 1)) {
        timed = true;
        t0 = convert_cycles();
      }
      lead = (s & 2) ? lead_s : lead_d;
    }
    uint32_t xx = x;
    if (lead) xx = g_convert.run(&c, lead, x);
    const uint32_t rest = w - lead;
    const uint32_t units = (rest >> 2) & ~(g_convert.group_mask >> 2);
    const uint32_t tail = rest - 4 * units;
    if (units) ((xx & 1) ? g_convert.groups_odd : g_convert.groups_even)(&c, units);
    if (tail) g_convert.run(&c, tail, xx + 4 * units);
    if (timed) {
      uint32_t e = uint32_t(convert_cycles() - t0) & 0xFFFFFF;
      if (s & 2) {
        uint32_t q = (s >> 3) & 31, t = s >> 8;
        if (e < t) s = q == 0 ? 3 : (q - 1) << 3;
        else s = q == 31 ? 1 : ((q + 1) << 3) & 0xF8;
      } else {
        s = (e << 8) | (s & 0xF9) | 2;
      }
    }
    next_rows(true);
  }
  if (row == last) g_convert.row(&c, x, w);
  // The SSE2 converters leave no state behind that floating point would see.
}

// ---- YV12 ----------------------------------------------------------------------------------

void copy_yv12(uint8_t* dest, uint32_t dest_x, uint32_t dest_y, int32_t dest_pitch,
               uint32_t dest_height, const uint8_t* planes, uint32_t x, uint32_t y, uint32_t w,
               uint32_t h, uint32_t P, uint32_t H, uint32_t flags) {
  if ((y | dest_y) & 1) h = h ? h - 1 : 0;
  if ((x | dest_x) & 1) w = w ? w - 1 : 0;
  x = (x + 1) & ~1u;
  y = (y + 1) & ~1u;
  dest_x = (dest_x + 1) & ~1u;
  dest_y = (dest_y + 1) & ~1u;
  h &= ~1u;
  w &= ~1u;
  if (!w || !h) return;
  for (uint32_t r = 0; r < h; ++r)
    std::memcpy(dest + (ptrdiff_t(dest_y) + r) * dest_pitch + dest_x, planes + size_t(y + r) * P + x, w);
  const int32_t cp = dest_pitch / 2;
  uint8_t* v_plane = dest + ptrdiff_t(dest_pitch) * ptrdiff_t(dest_height);
  uint8_t* u_plane = v_plane + ptrdiff_t(cp) * ptrdiff_t(dest_height / 2);
  const uint8_t* first = planes + size_t(P) * H;
  const uint8_t* second = first + size_t(P / 2) * (H / 2);
  const bool swap = flags & kCopyChromaSwap;
  const uint8_t* v_src = swap ? second : first;
  const uint8_t* u_src = swap ? first : second;
  for (uint32_t r = 0; r < h / 2; ++r) {
    const ptrdiff_t d = (ptrdiff_t(dest_y / 2) + r) * cp + dest_x / 2;
    const size_t sofs = size_t(y / 2 + r) * (P / 2) + x / 2;
    if (flags & kCopyGrey) {
      std::memset(v_plane + d, 128, w / 2);
      std::memset(u_plane + d, 128, w / 2);
    } else {
      std::memcpy(v_plane + d, v_src + sofs, w / 2);
      std::memcpy(u_plane + d, u_src + sofs, w / 2);
    }
  }
}

// ---- The copy ------------------------------------------------------------------------------

uint32_t convert_bytes_per_pixel(uint32_t format) {
  static const uint8_t kBytes[16] = {0, 3, 3, 4, 4, 4, 4, 2, 2, 2, 2, 2, 2, 2, 2, 1};
  return kBytes[format & 15];
}
uint32_t convert_row_factor(uint32_t mode) {
  return mode == 1 || mode == 2 || mode == 4 || mode == 5 ? 2 : 1;
}
uint32_t convert_width_factor(uint32_t mode) { return mode == 3 || mode == 4 || mode == 5 ? 2 : 1; }

namespace {

// The late check: true when the frame is late; *skip when its copy is to be skipped.
bool late_check(CopySource* s, uint32_t flags, bool* skip) {
  *skip = false;
  uint64_t frames = uint32_t(s->frames_decoded - s->clock_start_frame);
  uint32_t due = uint32_t(frames * 1000u * s->rate_den / s->rate_num);
  due = uint32_t((uint64_t(due) * s->time_scale) >> 16);
  // Signed, as the engine's wait computes it: a debt larger than the time run means early.
  const int32_t elapsed = int32_t(s->now_ms - s->late_debt - s->clock_start);
  if (elapsed < int32_t(due)) {
    *s->skip_flag = 0;
    return false;
  }
  if (elapsed - int32_t(due) <= int32_t(s->late_threshold)) {
    *s->consecutive_skips = 0;
    *s->skip_flag = 0;
    return false;
  }
  *s->consecutive_skips += 1;
  if (*s->consecutive_skips > 3) {
    // The fourth late frame in a row is shown: it is copied and blitted, and the next frame's
    // change map starts afresh.
    *s->consecutive_skips = 0;
    *s->skip_flag = 0;
    return true;
  }
  if ((flags | s->movie_flags) & kCopyNeverSkip) {
    *s->skip_flag = 0;
    return true;
  }
  *s->skip_flag = 1;
  *s->skipped_blits += 1;
  *skip = true;
  return true;
}

void copy_planes(const FramePlanes* fp, uint8_t* dest, int32_t dest_pitch, uint32_t dest_height,
                 uint32_t dest_x, uint32_t dest_y, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                 uint32_t flags) {
  const uint32_t format = flags & kCopyFormatMask;
  const uint8_t* planes = fp->plane_sets[fp->current_set];
  const uint8_t* alpha = fp->alpha_planes[fp->current_set];
  const uint32_t P = fp->luma_stride, H = fp->luma_height;
  if (format == kFormatYv12) {
    // The chroma planes follow the luma rows downward in memory: no bottom-up YV12.
    if (dest_pitch < 0) return;
    copy_yv12(dest, dest_x, dest_y, dest_pitch, dest_height, planes, x, y, w, h, P, H, flags);
    return;
  }
  ConversionFamily* f = convert_family_for(format, fp->alpha_planes[0] != nullptr);
  if (!f) return;
  if (!f->groups[0].run) return;
  const uint8_t* family_alpha =
      (f == &g_families[kFamilyBgra32] || f == &g_families[kFamilyRgba32] ||
       f == &g_families[kFamily4444] || f == &g_families[kFamily5551]) ? alpha : nullptr;
  bool changed_path = false;
  if (!(flags & kCopyWhole) && fp->change_map && fp->map_blocks) {
    changed_path = std::memchr(fp->change_map, 0, fp->map_blocks) != nullptr;
    // Blocks line up with the bands only when the origin is on a block boundary.
    const uint32_t mode = (flags & kCopyDoublingMask) >> kCopyDoublingShift;
    if ((x & 15) || (y & (mode == 6 ? 31 : 15))) changed_path = false;
  }
  if (changed_path)
    copy_rect_changed(f, dest, dest_x, dest_y, dest_pitch, fp->change_map, fp->map_columns, planes,
                      x, y, w, h, P, H, flags, family_alpha);
  else
    copy_rect_full(f, dest, dest_x, dest_y, dest_pitch, planes, x, y, w, h, P, H, flags,
                   family_alpha);
}

}  // namespace

uint32_t convert_copy_to_surface(CopySource* s, uint8_t* dest, int32_t dest_pitch,
                                 uint32_t dest_height, uint32_t dest_x, uint32_t dest_y,
                                 uint32_t src_x, uint32_t src_y, uint32_t src_w, uint32_t src_h,
                                 uint32_t flags) {
  if (!s || !dest || !s->planes || !s->width || !s->height) return 0;
  const uint32_t cw = s->coded_width, ch = s->coded_height;
  uint32_t x = uint32_t(uint64_t(src_x) * cw / s->width);
  uint32_t w = uint32_t(uint64_t(src_w) * cw / s->width);
  uint32_t y = uint32_t(uint64_t(src_y) * ch / s->height);
  uint32_t h = uint32_t(uint64_t(src_h) * ch / s->height);
  if (x > cw) x = cw;
  if (y > ch) y = ch;
  if (uint64_t(x) + w > cw) w = cw - x;
  if (uint64_t(y) + h > ch) h = ch - y;
  if (!w || !h) return 0;

  flags |= s->movie_flags & kCopyMovieBits;
  const uint32_t format = flags & kCopyFormatMask;
  if (s->set_busy) s->set_busy(s->hook_context, true);
  convert_init_families();
  build_color_tables(format);
  if (dest_pitch < 0) {
    dest += (int64_t(dest_height) - dest_y - 1) * -int64_t(dest_pitch);
    dest_y = 0;
  }
  // Stored on every copy that gets this far, skipped or not (the blit rectangles read the
  // doubling mode from it).
  if (s->last_copy_flags) *s->last_copy_flags = flags;
  bool late = false, skip = false;
  if (s->late_check && s->rate_num) late = late_check(s, flags, &skip);
  if (skip) {
    if (s->set_busy) s->set_busy(s->hook_context, false);
    return 1;
  }
  if (s->foreground_fill) s->foreground_fill(s->hook_context);
  copy_planes(s->planes, dest, dest_pitch, dest_height, dest_x, dest_y, x, y, w, h, flags);
  if (s->set_busy) s->set_busy(s->hook_context, false);
  return late ? 1 : 0;
}

void convert_copy_planes(const FramePlanes* planes, uint32_t coded_width, uint32_t coded_height,
                         uint8_t* dest, int32_t dest_pitch, uint32_t dest_height, uint32_t flags) {
  if (!planes || !dest || !coded_width || !coded_height) return;
  convert_init_families();
  build_color_tables(flags & kCopyFormatMask);
  uint32_t dest_y = 0;
  if (dest_pitch < 0) dest += (int64_t(dest_height) - 1) * -int64_t(dest_pitch);
  copy_planes(planes, dest, dest_pitch, dest_height, 0, dest_y, 0, 0, coded_width, coded_height,
              flags);
}
