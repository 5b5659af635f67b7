// The copy driver: argument handling, the late check, the walk over the whole rectangle, the
// choice of converters and the duplicate-row methods, and the YV12 copy.
#include <cstdlib>
#include <cstring>

#include "base/alloc.h"
#include "base/cpu.h"
#include "convert/convert.h"
#include "convert/convert_internal.h"
#include "video/video_decoder.h"

namespace {

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
  // The scratch rows were made for the widest picture of the context; a wider call (or a
  // context made without them) falls back to converting twice.
  const ConvertContext* cx = c->context;
  return c->scratch0 && size_t(units) * 4 * cx->hmul * cx->bytes_per_pixel <= c->scratch_capacity / 2;
}

void reconvert_even(ConvertCursor* c, uint32_t u) { dup_reconvert(c, u, c->context->inner_even); }
void reconvert_odd(ConvertCursor* c, uint32_t u) { dup_reconvert(c, u, c->context->inner_odd); }
void scratch_even(ConvertCursor* c, uint32_t u) {
  if (scratch_fits(c, u)) dup_scratch(c, u, c->context->inner_even);
  else dup_reconvert(c, u, c->context->inner_even);
}
void scratch_odd(ConvertCursor* c, uint32_t u) {
  if (scratch_fits(c, u)) dup_scratch(c, u, c->context->inner_odd);
  else dup_reconvert(c, u, c->context->inner_odd);
}

void install_dup_method(ConvertContext* cx, bool scratch) {
  cx->groups_even = scratch ? scratch_even : reconvert_even;
  cx->groups_odd = scratch ? scratch_odd : reconvert_odd;
}

// The timing wrapper of the duplicate-row tuning: times the method under test (Reconvert when
// bit 1 of the word is set, else Scratch) and settles after enough comparisons.
void timed_dup(ConvertCursor* c, uint32_t units, convert_groups_fn inner) {
  ConvertContext* cx = c->context;
  uint32_t& s = *cx->dup_state;
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
      cx->dup_measuring = false;
      install_dup_method(cx, true);
    } else {
      s = ((q - 1) << 2) | 2;
    }
  } else if (q == 63) {
    s = 1;
    cx->dup_measuring = false;
    install_dup_method(cx, false);
  } else {
    s = (((q + 1) << 2) & 0xFC) | 2;
  }
}
void timed_even(ConvertCursor* c, uint32_t u) { timed_dup(c, u, c->context->inner_even); }
void timed_odd(ConvertCursor* c, uint32_t u) { timed_dup(c, u, c->context->inner_odd); }

// Chooses Scratch or Reconvert for a duplicated-row copy of h rows.
void choose_dup_method(ConvertContext* cx, uint32_t* s, uint32_t h) {
  cx->dup_state = s;
  cx->dup_measuring = false;
  if (cx->force_dup) return install_dup_method(cx, cx->force_dup == 2);
  if (cx->has_cycle_counter != 1) return install_dup_method(cx, true);
  if ((*s & 1) && *s <= 0x2000) {
    *s += 4 * h;
    return install_dup_method(cx, *s & 2);
  }
  *s = 0x82;
  cx->dup_measuring = true;
  cx->groups_even = timed_even;
  cx->groups_odd = timed_odd;
}

inline const uint8_t* offset_or_null(const uint8_t* p, size_t n) { return p ? p + n : nullptr; }

}  // namespace

// ---- Families, contexts and converter selection --------------------------------------------

bool convert_fill_families(ConversionFamily* families, uint32_t level) {
  std::memset(families, 0, sizeof(ConversionFamily) * kFamilyCount);
  convert_init_plain(families);
  const bool simd = level >= kCpuSse2 && convert_init_sse2(families);
  if (simd && level >= kCpuAvx2) convert_init_avx2(families);
  return simd;
}

ConvertContext* convert_context_create(uint32_t max_width) {
  ConvertContext* cx = static_cast<ConvertContext*>(aligned_alloc32(sizeof(ConvertContext)));
  if (!cx) return nullptr;
  std::memset(static_cast<void*>(cx), 0, sizeof *cx);
  cx->cursor.context = cx;
  cx->cursor.pack = color_packing(0);
  cx->cpu = cpu_level();
  cx->simd_supported = convert_fill_families(cx->families, cx->cpu);
  cx->has_cycle_counter = convert_has_cycle_counter() ? 1 : -1;
  // The widest duplicated row: 2× width at 4 bytes a pixel. Without the rows the duplicate-row
  // converters convert twice, so a failure here costs speed, not the copy.
  if (max_width) reserve_scratch_rows(cx, size_t(max_width) * 2 * 4);
  return cx;
}

void convert_context_destroy(ConvertContext* cx) {
  if (!cx) return;
  aligned_free32(cx->scratch_block);
  aligned_free32(cx);
}

ConversionFamily* convert_family_for(ConvertContext* cx, uint32_t format, bool has_alpha) {
  static constexpr int8_t kFamilyOf[16] = {-1, kFamilyBgr24, kFamilyRgb24, kFamilyBgr32, kFamilyRgb32,
                                           kFamilyBgra32, kFamilyRgba32, kFamily4444, kFamily5551,
                                           kFamily16, kFamily16, kFamily16, kFamily16, kFamilyYuy2,
                                           kFamilyUyvy, -1};
  static constexpr int8_t kWithoutAlpha[16] = {-1, -1, -1, -1, -1, kFamilyBgr32, kFamilyRgb32,
                                               kFamily16, kFamily16, -1, -1, -1, -1, -1, -1, -1};
  format &= 15;
  int f = kFamilyOf[format];
  if (!has_alpha && kWithoutAlpha[format] >= 0) f = kWithoutAlpha[format];
  return f < 0 ? nullptr : &cx->families[f];
}

bool reserve_scratch_rows(ConvertContext* cx, size_t bytes) {
  ConvertCursor& c = cx->cursor;
  size_t n = (bytes + 31) & ~size_t(31);
  if (2 * n <= c.scratch_capacity) return true;
  aligned_free32(cx->scratch_block);
  cx->scratch_block = aligned_alloc32(2 * n);
  if (!cx->scratch_block) {
    c.scratch0 = c.scratch1 = nullptr;
    c.scratch_capacity = 0;
    return false;
  }
  c.scratch0 = static_cast<uint8_t*>(cx->scratch_block);
  c.scratch1 = c.scratch0 + n;
  c.scratch_capacity = 2 * n;
  return true;
}

void select_converters(ConvertContext* cx, ConversionFamily* f, uint32_t flags, uint32_t w, uint32_t h,
                       int32_t* row_step, int32_t* row_skip) {
  cx->has_simd = cx->simd_supported && !(flags & kCopyNoSimd);
  const uint32_t set = cx->has_simd ? uint32_t(kGroupSimd) : 0u;
  const uint32_t b = f->bytes_per_pixel;
  const bool grey = flags & kCopyGrey;
  const uint32_t mode = (flags & kCopyDoublingMask) >> kCopyDoublingShift;
  const bool wide = mode == 3 || mode == 4 || mode == 5;
  const bool dup = mode == 1 || mode == 4;
  cx->cursor.pitch = *row_step;
  cx->cursor.pack = color_packing(flags & kCopyFormatMask);
  cx->hmul = wide ? 2 : 1;
  cx->bytes_per_pixel = b;
  cx->pairs = f->pairs;

  const uint32_t g0 = set + (wide ? kGroupWideColorEven : kGroupColorEven);
  const GroupConverter& even = f->groups[grey ? g0 + 2 : g0];
  const GroupConverter& odd = f->groups[grey ? g0 + 2 : g0 + 1];
  cx->group_shift = even.shift > odd.shift ? even.shift : odd.shift;
  cx->group_mask = (1u << cx->group_shift) - 1;
  const RowConverters& rows = f->rows[(dup ? 4 : 0) + (wide ? 2 : 0) + (grey ? 1 : 0)];
  cx->row = rows.row;
  cx->run = rows.run;
  cx->split_state = &f->split_tuning[(set ? 4 : 0) + (wide ? 2 : 0) + (grey ? 1 : 0)];
  cx->dup_measuring = false;

  const int32_t row_bytes = int32_t(b * w * cx->hmul);
  if (dup) {
    *row_step *= 2;
    cx->inner_even = even.run;
    cx->inner_odd = odd.run;
    choose_dup_method(cx, &f->dup_tuning[(set ? 4 : 0) + (mode == 4 ? 2 : 0) + (grey ? 1 : 0)], h);
    cx->band = nullptr;  // the duplicate-row methods go through the cursor
  } else {
    cx->groups_even = even.run;
    cx->groups_odd = odd.run;
    cx->band = even.band;
  }
  *row_skip = *row_step - row_bytes;
}

// ---- Whole rectangle -----------------------------------------------------------------------

void copy_rect_full(ConvertContext* cx, const PlaneCopy* pc) {
  ConversionFamily* f = pc->family;
  uint8_t* const dest = pc->dest;
  const uint32_t dest_x = pc->dest_x, dest_y = pc->dest_y, flags = pc->flags;
  const int32_t dest_pitch = pc->dest_pitch;
  const uint8_t* const planes = pc->planes;
  const uint8_t* const alpha = pc->alpha;
  uint32_t x = pc->x, y = pc->y, w = pc->w, h = pc->h, P = pc->P, H = pc->H;
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

  ConvertCursor& c = cx->cursor;
  c.dst0 = dest + ptrdiff_t(dest_x) * b + ptrdiff_t(dest_y) * dest_pitch;
  int32_t row_skip;
  select_converters(cx, f, flags, w, h, &row_step, &row_skip);
  // A packed-YUV run of odd length may write its whole last pair only where the row, with the
  // width rounded up to whole pairs, fits the pitch.
  const uint32_t abs_pitch = dest_pitch < 0 ? uint32_t(-int64_t(dest_pitch)) : uint32_t(dest_pitch);
  c.pair_overhang = uint64_t(dest_x + ((w + 1) & ~1u)) * b * cx->hmul <= abs_pitch;

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
    cx->row(&c, x, w);
    next_rows(false);
    ++row;
  }

  // Row-split tuning word of this variant.
  uint32_t& s = *cx->split_state;
  if (s & 1) s = s > 0x2000 ? 0x80 : s + 4 * h;
  if (s == 0) s = 0x80;
  const bool timing_possible = cx->has_cycle_counter == 1 && !cx->force_split;

  for (; row < last; row += 2) {
    uint32_t lead_d = (4 - (aligned_x & 3)) & 3;
    uint32_t lead_s = x & 1;
    if (cx->pairs && cx->hmul == 1) {
      // Pairs must start at the rectangle's first pixel: an even lead only.
      lead_d &= ~1u;
      lead_s = 0;
    }
    if (lead_d > w) lead_d = w;
    if (lead_s > w) lead_s = w;
    bool timed = false;
    uint64_t t0 = 0;
    uint32_t lead = lead_d;
    if (cx->force_split) {
      lead = cx->force_split == 2 ? lead_s : lead_d;
    } else if (timing_possible) {
      if (!cx->dup_measuring && lead_s != lead_d && !(s & 1)) {
        timed = true;
        t0 = convert_cycles();
      }
      lead = (s & 2) ? lead_s : lead_d;
    }
    uint32_t xx = x;
    if (lead) xx = cx->run(&c, lead, x);
    const uint32_t rest = w - lead;
    const uint32_t units = (rest >> 2) & ~(cx->group_mask >> 2);
    const uint32_t tail = rest - 4 * units;
    if (units) ((xx & 1) ? cx->groups_odd : cx->groups_even)(&c, units);
    if (tail) cx->run(&c, tail, xx + 4 * units);
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
  if (row == last) cx->row(&c, x, w);
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

bool writes_alpha(uint32_t format) {
  return format == kFormatBgra32 || format == kFormatRgba32 || format == kFormat4444 || format == kFormat5551;
}

void copy_planes(ConvertContext* cx, const FramePlanes* fp, uint8_t* dest, int32_t dest_pitch,
                 uint32_t dest_height, uint32_t dest_x, uint32_t dest_y, uint32_t x, uint32_t y, uint32_t w,
                 uint32_t h, uint32_t flags) {
  const uint32_t format = flags & kCopyFormatMask;
  const uint8_t* planes = fp->plane_sets[fp->current_set];
  const uint32_t P = fp->luma_stride, H = fp->luma_height;
  if (format == kFormatYv12) {
    // The chroma planes follow the luma rows downward in memory: no bottom-up YV12.
    if (dest_pitch < 0) return;
    copy_yv12(dest, dest_x, dest_y, dest_pitch, dest_height, planes, x, y, w, h, P, H, flags);
    return;
  }
  const bool has_alpha = fp->alpha_planes[0] != nullptr;
  ConversionFamily* f = convert_family_for(cx, format, has_alpha);
  if (!f || !f->groups[0].run) return;
  PlaneCopy pc;
  pc.family = f;
  pc.dest = dest;
  pc.dest_pitch = dest_pitch;
  pc.dest_x = dest_x;
  pc.dest_y = dest_y;
  pc.planes = planes;
  // Codes 5..8 write alpha only with their alpha families, that is when the movie has alpha.
  pc.alpha = has_alpha && writes_alpha(format) ? fp->alpha_planes[fp->current_set] : nullptr;
  pc.P = P;
  pc.H = H;
  pc.x = x;
  pc.y = y;
  pc.w = w;
  pc.h = h;
  pc.flags = flags;
  bool changed_path = false;
  if (!(flags & kCopyWhole) && fp->change_map && fp->map_blocks) {
    changed_path = std::memchr(fp->change_map, 0, fp->map_blocks) != nullptr;
    // Blocks line up with the bands only when the origin is on a block boundary.
    const uint32_t mode = (flags & kCopyDoublingMask) >> kCopyDoublingShift;
    if ((x & 15) || (y & (mode == 6 ? 31 : 15))) changed_path = false;
  }
  if (changed_path) {
    const ChangeMap map{fp->change_map, fp->map_columns};
    copy_rect_changed(cx, &pc, &map);
  } else {
    copy_rect_full(cx, &pc);
  }
}

}  // namespace

uint32_t convert_copy_to_surface(CopySource* s, uint8_t* dest, int32_t dest_pitch,
                                 uint32_t dest_height, uint32_t dest_x, uint32_t dest_y,
                                 uint32_t src_x, uint32_t src_y, uint32_t src_w, uint32_t src_h,
                                 uint32_t flags) {
  if (!s || !s->context || !dest || !s->planes || !s->width || !s->height) return 0;
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
  if (s->set_busy) s->set_busy(s->hook_context, true);
  if (dest_pitch < 0) {
    dest += (int64_t(dest_height) - dest_y - 1) * -int64_t(dest_pitch);
    dest_y = 0;
  }
  // Stored on every copy that gets this far, skipped or not (the blit rectangles read the
  // doubling mode from it).
  if (s->last_copy_flags) *s->last_copy_flags = flags;
  const uint32_t late = s->late_check ? s->late_check(s->hook_context, flags) : kCopyOnTime;
  if (late == kCopyLateSkip) {
    if (s->set_busy) s->set_busy(s->hook_context, false);
    return 1;
  }
  if (s->foreground_fill) s->foreground_fill(s->hook_context);
  copy_planes(s->context, s->planes, dest, dest_pitch, dest_height, dest_x, dest_y, x, y, w, h, flags);
  if (s->set_busy) s->set_busy(s->hook_context, false);
  return late == kCopyOnTime ? 0 : 1;
}

void convert_copy_planes(ConvertContext* cx, const FramePlanes* planes, uint32_t coded_width,
                         uint32_t coded_height, uint8_t* dest, int32_t dest_pitch, uint32_t dest_height,
                         uint32_t flags) {
  if (!cx || !planes || !dest || !coded_width || !coded_height) return;
  uint32_t dest_y = 0;
  if (dest_pitch < 0) dest += (int64_t(dest_height) - 1) * -int64_t(dest_pitch);
  copy_planes(cx, planes, dest, dest_pitch, dest_height, 0, dest_y, 0, 0, coded_width, coded_height, flags);
}
