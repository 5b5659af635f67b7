// The surface layer's platform-free part: the automatic order and error texts of surface_open,
// lock and unlock bookkeeping, blit rectangles, clearing, placement and the output size.
#include "display/surface.h"

#include <cstring>

#include "base/alloc.h"
#include "convert/convert.h"
#include "display/surface_flags.h"

namespace {

// Characters, not pointers: a table that needs no relocation stays in read-only memory.
const char kDescriptions[kSurfaceStyles + 1][44] = {
    "",
    "DirectDraw primary surface",
    "DIB Section",
    "DirectDraw YV12 overlay",
    "DirectDraw YUY2 overlay",
    "DirectDraw UYVY overlay",
    "DirectDraw YV12 off-screen surface",
    "DirectDraw YUY2 off-screen surface",
    "DirectDraw UYVY off-screen surface",
    "DirectDraw RGB off-screen video surface",
    "DirectDraw RGB off-screen system surface",
};

// The order automatic mode tries: the screen itself, the DIB section, the overlays, the
// YUV off-screen surfaces and the RGB off-screen surfaces.
const uint8_t kAutomaticOrder[kSurfaceStyles] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

int32_t display_bits(const SurfaceSystem* sys) {
  int32_t w = 0, h = 0, bits = 0;
  if (sys->display && sys->display->screen_info) sys->display->screen_info(sys->context, &w, &h, &bits);
  return bits;
}

// x rounded up to a multiple of a (also for negative x).
int32_t round_up(int32_t x, int32_t a) { return x + ((a - x % a) % a); }

int32_t scale(int32_t v, int32_t num, uint32_t den) {
  return den ? int32_t(int64_t(v) * num / int64_t(den)) : v;
}

}  // namespace

uint32_t surface_depth_sequence(int32_t depth, int32_t out[3]) {
  static const int32_t kSequences[3][3] = {{16, 32, 24}, {32, 24, 16}, {32, 24, 0}};
  if (depth >= 1 && depth <= 3) {
    uint32_t n = 0;
    for (int32_t d : kSequences[depth - 1])
      if (d) out[n++] = d;
    return n;
  }
  out[0] = depth;
  return 1;
}

void surface_use_system(SurfaceSystem* sys, const DisplaySystem* display, void* context) {
  if (!sys) return;
  sys->display = display;
  sys->context = context;
}

const char* surface_last_error(const SurfaceSystem* sys) { return sys ? sys->error : ""; }
void surface_set_last_error(SurfaceSystem* sys, const char* text) {
  if (!sys) return;
  if (!text) text = "";
  std::strncpy(sys->error, text, sizeof sys->error - 1);
  sys->error[sizeof sys->error - 1] = 0;
}

const char* surface_style_description(uint32_t style) { return style <= kSurfaceStyles ? kDescriptions[style] : ""; }
const char* surface_description(const Surface* s) { return s ? surface_style_description(s->style) : ""; }

Surface* surface_open(SurfaceSystem* sys, void* window, uint32_t width, uint32_t height, uint32_t flags) {
  if (!sys || !width || !height) return nullptr;
  surface_set_last_error(sys, nullptr);
  const DisplaySystem* display = sys->display;
  const uint32_t style = flags & 0x1F;  // the style field; larger values are no style
  const uint32_t stretch = flags & kStretchMask;
  const bool change_mode = flags & kSurfaceSetDisplayMode;
  Surface* s = static_cast<Surface*>(aligned_alloc32(sizeof(Surface)));
  if (!s) {
    surface_set_last_error(sys, "Out of memory.");
    return nullptr;
  }
  std::memset(static_cast<void*>(s), 0, sizeof *s);
  s->system = sys;
  s->window = window;
  s->width = width;
  s->height = height;

  const uint8_t* order = style ? nullptr : kAutomaticOrder;
  const uint32_t tries = style ? 1 : kSurfaceStyles;
  bool opened = false;
  if (display && style <= kSurfaceStyles) {
    for (uint32_t k = 0; k < tries && !opened; ++k) {
      const uint32_t st = order ? order[k] : style;
      if (order) surface_set_last_error(sys, nullptr);  // only the final text of automatic mode stays
      std::memset(&s->kind, 0, sizeof s->kind);
      const int32_t r = display->open_style(s, st, stretch, change_mode);
      if (r == kStyleOpened) {
        s->style = st;
        opened = true;
      } else if (r == kStyleUnavailable && !order) {
        surface_set_last_error(sys, "DirectDraw is not available");
      }
    }
  }
  if (!opened) {
    if (!sys->error[0]) {
      const int32_t bits = display_bits(sys);
      surface_set_last_error(sys, bits >= 1 && bits <= 8 ? "256 color mode not supported."
                                                         : "No capable blitting style available.");
    }
    if (display && display->open_finished) display->open_finished(sys->context);
    aligned_free32(s);
    return nullptr;
  }
  if (display->open_finished) display->open_finished(sys->context);
  // The converters of the copies into this surface: their tuning follows its memory.
  s->convert = convert_context_create(width);
  if (!s->convert) {
    if (s->kind.close) s->kind.close(s);
    aligned_free32(s);
    surface_set_last_error(sys, "Out of memory.");
    return nullptr;
  }
  s->is_primary = s->style == kStyleScreen;
  s->is_overlay = surface_style_is_overlay(s->style);
  s->is_offscreen = surface_style_is_offscreen(s->style);
  if (display->window_geometry)
    display->window_geometry(sys->context, window, &s->client_x, &s->client_y, &s->frame_width, &s->frame_height);
  s->output_width = int32_t(width);
  s->output_height = int32_t(height);
  surface_set_position(0, s, 0);
  surface_set_output_size(int32_t(width), s, int32_t(height));
  return s;
}

void surface_close(Surface* s) {
  if (!s) return;
  if (s->kind.close) s->kind.close(s);
  convert_context_destroy(s->convert);
  std::memset(static_cast<void*>(s), 0, sizeof *s);
  aligned_free32(s);
}

uint32_t surface_lock(Surface* s) {
  if (!s) return 0;
  uint8_t* buffer = nullptr;
  int32_t pitch = 0;
  s->part = MovieRect{0, 0, int32_t(s->width), int32_t(s->height)};
  if (!s->kind.lock || !s->kind.lock(s, &buffer, &pitch)) {
    s->flags |= kSurfaceCopyWhole;
    return 0;
  }
  s->buffer = buffer;
  s->pitch = pitch;
  return 1;
}

uint32_t surface_unlock(Surface* s) {
  if (!s) return 0;
  if (s->buffer && s->kind.unlock) s->kind.unlock(s);
  s->buffer = nullptr;
  s->pitch = 0;
  s->flags &= ~kSurfaceCopyWhole;
  return 1;
}

bool surface_copy_area(const Surface* s, uint32_t doubling_mode, SurfaceCopyArea* out) {
  *out = SurfaceCopyArea{nullptr, MovieRect{0, 0, 0, 0}};
  if (!s || !s->buffer) return false;
  const int32_t x_step = int32_t(convert_width_factor(doubling_mode));
  const int32_t y_step = doubling_mode == kDoubleField ? 2 : int32_t(convert_row_factor(doubling_mode));
  const MovieRect& p = s->part;
  const int32_t dx = (x_step - p.left % x_step) % x_step, dy = (y_step - p.top % y_step) % y_step;
  if (p.width <= dx || p.height <= dy) return false;
  const uint32_t bytes = convert_bytes_per_pixel(s->flags & kSurfaceFormatMask);
  out->buffer = s->buffer + int64_t(dx) * bytes + int64_t(dy) * s->pitch;
  out->rect = MovieRect{p.left + dx, p.top + dy, p.width - dx, p.height - dy};
  return true;
}

void surface_blit(Surface* s, const MovieRect* rects, uint32_t count) {
  if (!s || !count || !s->kind.blit) return;
  SurfaceBlitRect out[kMaxChangedRects];
  if (!rects) {
    out[0].src = {0, 0, int32_t(s->width), int32_t(s->height)};
    out[0].dst = {s->picture_x, s->picture_y, s->output_width, s->output_height};
    s->kind.blit(s, out, 1, true);
    return;
  }
  // The rectangles go to the output size: positions and sizes scaled by output / picture.
  while (count) {
    const uint32_t n = count < kMaxChangedRects ? count : kMaxChangedRects;
    for (uint32_t i = 0; i < n; ++i) {
      const MovieRect& r = rects[i];
      out[i].src = r;
      out[i].dst.left = s->picture_x + scale(r.left, s->output_width, s->width);
      out[i].dst.top = s->picture_y + scale(r.top, s->output_height, s->height);
      out[i].dst.width = scale(r.width, s->output_width, s->width);
      out[i].dst.height = scale(r.height, s->output_height, s->height);
    }
    s->kind.blit(s, out, n, false);
    rects += n;
    count -= n;
  }
}

void surface_fill_black(uint8_t* buffer, int32_t pitch, uint32_t width, uint32_t rows, uint32_t code,
                        uint32_t bytes_per_pixel) {
  if (!buffer) return;
  code &= kSurfaceFormatMask;
  if (code == kFormatYv12) {
    for (uint32_t y = 0; y < rows; ++y) std::memset(buffer + int64_t(y) * pitch, 16, width);
    // Two chroma planes of rows / 2 rows each, at half the pitch, directly after the luma rows:
    // the layout the memory surface allocates and the YV12 copy writes (an odd last luma row
    // has no chroma row of its own).
    const uint32_t chroma_rows = 2 * (rows / 2);
    uint8_t* chroma = buffer + int64_t(rows) * pitch;
    for (uint32_t y = 0; y < chroma_rows; ++y) std::memset(chroma + int64_t(y) * (pitch / 2), 128, width / 2);
    return;
  }
  if (code == kFormatYuy2 || code == kFormatUyvy) {
    const uint8_t pair[4] = {uint8_t(code == kFormatYuy2 ? 0x00 : 0x80), uint8_t(code == kFormatYuy2 ? 0x80 : 0x00),
                             uint8_t(code == kFormatYuy2 ? 0x00 : 0x80), uint8_t(code == kFormatYuy2 ? 0x80 : 0x00)};
    for (uint32_t y = 0; y < rows; ++y) {
      uint8_t* row = buffer + int64_t(y) * pitch;
      for (uint32_t x = 0; x < width / 2; ++x) std::memcpy(row + 4 * x, pair, 4);
      if (width & 1) std::memcpy(row + 4 * (width / 2), pair, 2);  // the odd pixel's 16-bit black
    }
    return;
  }
  const uint32_t bytes = code ? convert_bytes_per_pixel(code) : bytes_per_pixel;
  for (uint32_t y = 0; y < rows; ++y) std::memset(buffer + int64_t(y) * pitch, 0, size_t(width) * bytes);
}

uint32_t surface_clear(Surface* s) {
  if (!surface_lock(s)) return 0;
  // Only what the lock reaches: on the screen itself, the part of the picture on the screen.
  surface_fill_black(s->buffer, s->pitch, uint32_t(s->part.width), uint32_t(s->part.height),
                     s->flags & kSurfaceFormatMask, s->bytes_per_pixel);
  surface_unlock(s);
  return 1;
}

uint32_t surface_set_position(int32_t x, Surface* s, int32_t y) {
  if (!s) return 0;
  int32_t ox = 0, oy = 0;
  const SurfaceSystem* sys = s->system;
  if (sys && sys->display && sys->display->client_origin) sys->display->client_origin(sys->context, s->window, &ox, &oy);
  s->picture_screen_x = ox + x;
  s->picture_screen_y = oy + y;
  s->picture_x = x;
  s->picture_y = y;
  s->flags |= kSurfaceCopyWhole;
  if (s->kind.moved) s->kind.moved(s);
  return 1;
}

void surface_fit_position(int32_t* x, Surface* s, int32_t* y) {
  if (!s) return;
  if (x) {
    int32_t sx = *x + s->client_x;
    if (s->is_primary) {
      if (sx + int32_t(s->width) > s->screen_width) sx = s->screen_width - int32_t(s->width);
      if (sx < 0) sx = 0;
    }
    // Window positions keep the display's alignment: 2 pixels at 4 bytes a pixel, 8 at 3, else 4.
    const int32_t align = s->bytes_per_pixel == 4 ? 2 : s->bytes_per_pixel == 3 ? 8 : 4;
    sx = round_up(sx, align);
    *x = sx - s->client_x;
  }
  if (y) {
    int32_t sy = *y + s->client_y;
    if (s->is_primary) {
      if (sy + int32_t(s->height) > s->screen_height) sy = s->screen_height - int32_t(s->height);
      if (sy < 0) sy = 0;
    }
    *y = sy - s->client_y;
  }
}

uint32_t surface_needed_width_stretch(int32_t w, uint32_t width) {
  if (w == int32_t(width) || !width || w <= 0) return 0;
  if (uint32_t(w) % width == 0) return kStretchWidthIntUp;
  if (width % uint32_t(w) == 0) return kStretchWidthIntDown;
  return uint32_t(w) > width ? kStretchWidthUp : kStretchWidthDown;
}

uint32_t surface_needed_height_stretch(int32_t h, uint32_t height) {
  if (h == int32_t(height) || !height || h <= 0) return 0;
  if (uint32_t(h) % height == 0) return kStretchHeightIntUp;
  if (height % uint32_t(h) == 0) return kStretchHeightIntDown;
  return uint32_t(h) > height ? kStretchHeightUp : kStretchHeightDown;
}

uint32_t surface_set_output_size(int32_t width, Surface* s, int32_t height) {
  if (!s) return 0;
  if (width == 0) width = s->screen_width;
  if (height == 0) height = s->screen_height;
  uint32_t result = 1;
  const uint32_t need_w = surface_needed_width_stretch(width, s->width);
  if (width > 0 && (s->abilities & need_w) == need_w) s->output_width = width;
  else result = 0;
  const uint32_t need_h = surface_needed_height_stretch(height, s->height);
  if (height > 0 && (s->abilities & need_h) == need_h) s->output_height = height;
  else result = 0;
  s->window_width = s->frame_width + s->output_width;
  s->window_height = s->frame_height + s->output_height;
  if (s->kind.moved) s->kind.moved(s);
  return result;
}
