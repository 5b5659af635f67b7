#include "display/backends/ddraw_logic.h"

#include <algorithm>

#include "convert/convert.h"
#include "display/surface.h"

namespace {

struct AbilityBit {
  uint32_t fx, adds;
};

// What each effects capability adds to the stretch word: any factor implies the integer one.
const AbilityBit kOverlayAbilities[] = {
    {kFxOverlayStretchX, kStretchWidthUp | kStretchWidthIntUp},
    {kFxOverlayStretchXN, kStretchWidthIntUp},
    {kFxOverlayShrinkX, kStretchWidthDown | kStretchWidthIntDown},
    {kFxOverlayShrinkXN, kStretchWidthIntDown},
    {kFxOverlayStretchY, kStretchHeightUp | kStretchHeightIntUp},
    {kFxOverlayStretchYN, kStretchHeightIntUp},
    {kFxOverlayShrinkY, kStretchHeightDown | kStretchHeightIntDown},
    {kFxOverlayShrinkYN, kStretchHeightIntDown},
};
const AbilityBit kBlitAbilities[] = {
    {kFxBltStretchX, kStretchWidthUp | kStretchWidthIntUp},
    {kFxBltStretchXN, kStretchWidthIntUp},
    {kFxBltShrinkX, kStretchWidthDown | kStretchWidthIntDown},
    {kFxBltShrinkXN, kStretchWidthIntDown},
    {kFxBltStretchY, kStretchHeightUp | kStretchHeightIntUp},
    {kFxBltStretchYN, kStretchHeightIntUp},
    {kFxBltShrinkY, kStretchHeightDown | kStretchHeightIntDown},
    {kFxBltShrinkYN, kStretchHeightIntDown},
};

bool rgb_is(const DdPixelFormat& pf, uint32_t r, uint32_t g, uint32_t b) {
  return pf.red == r && pf.green == g && pf.blue == b;
}

int32_t scale_down(int32_t v, uint32_t num, int32_t den) { return den > 0 ? int32_t(int64_t(v) * num / den) : v; }

}  // namespace

int32_t ddraw_copy_format(const DdPixelFormat& pf) {
  if (pf.flags & kDdpfFourCC) {
    if (pf.fourcc == kFourCCUyvy) return kFormatUyvy;
    if (pf.fourcc == kFourCCYv12) return kFormatYv12;
    if (pf.fourcc == kFourCCYuy2) return kFormatYuy2;
    return -1;
  }
  const uint32_t alpha = (pf.flags & kDdpfAlphaPixels) ? pf.alpha : 0;
  switch (pf.bits) {
    case 8:
      return 0;
    case 24:
      return pf.red == 0xFF0000 ? kFormatBgr24 : kFormatRgb24;
    case 32:
      if (pf.red == 0xFF0000) return alpha ? kFormatBgra32 : kFormatBgr32;
      return alpha ? kFormatRgba32 : kFormatRgb32;
    case 16:
      if (rgb_is(pf, 0xF800, 0x07E0, 0x001F)) return kFormat565;
      if (alpha == 0x8000 && pf.red == 0x7C00) return rgb_is(pf, 0x7C00, 0x03E0, 0x001F) ? int32_t(kFormat5551) : -1;
      if (rgb_is(pf, 0x7C00, 0x03E0, 0x001F)) return kFormat555;
      if (rgb_is(pf, 0xFC00, 0x03E0, 0x001F)) return kFormat655;
      if (rgb_is(pf, 0xFC00, 0x03F0, 0x000F)) return kFormat664;
      if (alpha == 0xF000 && rgb_is(pf, 0x0F00, 0x00F0, 0x000F)) return kFormat4444;
      return -1;
    default:
      return -1;
  }
}

void ddraw_map_abilities(uint32_t fx_caps, uint32_t* overlay, uint32_t* blit) {
  for (const AbilityBit& a : kOverlayAbilities)
    if (fx_caps & a.fx) *overlay |= a.adds;
  for (const AbilityBit& a : kBlitAbilities)
    if (fx_caps & a.fx) *blit |= a.adds;
}

uint32_t ddraw_key_colour(uint32_t display_bits, uint32_t red_mask, uint32_t blue_mask) {
  if (display_bits == 8) return 253;
  return (red_mask & (0u - red_mask)) + (blue_mask & (0u - blue_mask));
}

uint32_t dib_block_width(uint32_t width, uint32_t bytes_per_pixel) {
  if (!bytes_per_pixel) return width;
  return ((width * bytes_per_pixel + 31) & ~31u) / bytes_per_pixel;
}

uint32_t dib_row_bytes(uint32_t block_width, uint32_t bytes_per_pixel) {
  return (block_width * bytes_per_pixel + 3) & ~3u;
}

uint32_t dib_masks(uint32_t bytes_per_pixel, uint32_t display_red_mask, uint32_t masks[3]) {
  if (bytes_per_pixel > 2) {
    masks[0] = 0xFF0000;
    masks[1] = 0x00FF00;
    masks[2] = 0x0000FF;
    return bytes_per_pixel == 3 ? kFormatBgr24 : kFormatBgr32;
  }
  if (display_red_mask == 0xF800) {
    masks[0] = 0xF800;
    masks[1] = 0x07E0;
    masks[2] = 0x001F;
    return kFormat565;
  }
  masks[0] = 0x7C00;
  masks[1] = 0x03E0;
  masks[2] = 0x001F;
  return kFormat555;
}

int64_t ddraw_primary_part(int32_t x, int32_t y, uint32_t width, uint32_t height, int32_t screen_width,
                           int32_t screen_height, uint32_t bytes_per_pixel, int32_t pitch, DdRect* part) {
  // Picture pixels [left, right) × [top, bottom) are on the screen [0, screen_width) × [0, screen_height).
  const int64_t left = x < 0 ? -int64_t(x) : 0, top = y < 0 ? -int64_t(y) : 0;
  const int64_t right = std::min<int64_t>(width, int64_t(screen_width) - x);
  const int64_t bottom = std::min<int64_t>(height, int64_t(screen_height) - y);
  if (left >= right || top >= bottom) {
    *part = DdRect{0, 0, 0, 0};
    return -1;
  }
  *part = DdRect{int32_t(left), int32_t(top), int32_t(right), int32_t(bottom)};
  return (x + left) * bytes_per_pixel + (y + top) * int64_t(pitch);
}

bool ddraw_rects_overlap(int32_t ax, int32_t ay, int32_t aw, int32_t ah, int32_t bx, int32_t by, int32_t bw,
                         int32_t bh) {
  return int64_t(ax) < int64_t(bx) + bw && int64_t(bx) < int64_t(ax) + aw && int64_t(ay) < int64_t(by) + bh &&
         int64_t(by) < int64_t(ay) + ah;
}

bool ddraw_overlay_rects(int32_t x, int32_t y, int32_t output_width, int32_t output_height, uint32_t width,
                         uint32_t height, int32_t screen_width, int32_t screen_height, DdRect* src, DdRect* dst) {
  *src = DdRect{0, 0, int32_t(width), int32_t(height)};
  *dst = DdRect{x, y, x + output_width, y + output_height};
  // Each cut of the destination moves the source edge in by the same share of the picture.
  if (dst->left < 0) {
    src->left += scale_down(-dst->left, width, output_width);
    dst->left = 0;
  }
  if (dst->top < 0) {
    src->top += scale_down(-dst->top, height, output_height);
    dst->top = 0;
  }
  if (dst->right > screen_width) {
    src->right -= scale_down(dst->right - screen_width, width, output_width);
    dst->right = screen_width;
  }
  if (dst->bottom > screen_height) {
    src->bottom -= scale_down(dst->bottom - screen_height, height, output_height);
    dst->bottom = screen_height;
  }
  return src->right > src->left && src->bottom > src->top && dst->right > dst->left && dst->bottom > dst->top;
}

int32_t ddraw_lock_restoring(const DdSurfaceOps* ops, void* surface, int32_t restores, DdLocked* out,
                             bool* restored) {
  *restored = false;
  int32_t r = ops->lock(surface, out);
  for (int32_t i = 0; r == kDdErrSurfaceLost && i < restores; ++i) {
    if (ops->restore(surface) < 0) break;
    *restored = true;
    r = ops->lock(surface, out);
  }
  return r;
}

bool ddraw_lock_kind(const DdSurfaceOps* ops, void* surface, Surface* s, uint8_t** buffer, int32_t* pitch,
                     void** locked) {
  DdLocked d = {};
  bool restored = false;
  if (ddraw_lock_restoring(ops, surface, 1, &d, &restored) < 0) return false;
  if (restored) s->flags |= kSurfaceCopyWhole;
  uint8_t* at = d.memory;
  if (s->is_primary) {
    // Screen memory: only the part of the picture on the screen may be written.
    DdRect part;
    const int64_t offset = ddraw_primary_part(s->picture_screen_x, s->picture_screen_y, s->width, s->height,
                                              int32_t(d.width), int32_t(d.height), s->bytes_per_pixel, d.pitch,
                                              &part);
    if (offset < 0) {
      ops->unlock(surface, d.memory);
      return false;
    }
    at += offset;
    s->part = MovieRect{part.left, part.top, part.right - part.left, part.bottom - part.top};
  }
  *buffer = at;
  *pitch = d.pitch;
  *locked = d.memory;
  return true;
}

namespace {

// The byte of screen position (x, y) in a locked surface, or null when it is off the surface.
uint8_t* screen_byte(const DdLocked& d, int32_t x, int32_t y) {
  if (x < 0 || y < 0 || uint32_t(x) >= d.width || uint32_t(y) >= d.height || !d.memory) return nullptr;
  return d.memory + int64_t(d.pitch) * y + int64_t(x) * d.bits / 8;
}

}  // namespace

int32_t ddraw_cursor_probe(const DdSurfaceOps* ops, void* primary, int32_t restores, int32_t x, int32_t y,
                           uint32_t first_colour, uint32_t (*look)(void* context), void* context) {
  DdLocked d = {};
  bool restored = false;
  if (ddraw_lock_restoring(ops, primary, restores, &d, &restored) < 0) return -1;
  const uint8_t probe = first_colour == 0 ? 0xFF : 0;
  uint8_t old = 0;
  uint8_t* at = screen_byte(d, x, y);
  if (at) {
    old = *at;
    *at = probe;
  }
  ops->unlock(primary, d.memory);
  const bool software = look(context) == first_colour;
  // The undo, unless a software cursor already painted the old value back over the write.
  if (at && ddraw_lock_restoring(ops, primary, restores, &d, &restored) >= 0) {
    if (uint8_t* again = screen_byte(d, x, y)) {
      if (*again == probe) *again = old;
    }
    ops->unlock(primary, d.memory);
  }
  return software ? 1 : 0;
}
