// The memory surface.
#include "display/backends/memory_surface.h"

#include <cstdlib>
#include <cstring>

#include "convert/convert.h"
#include "convert/convert_internal.h"

namespace {

struct Fields16 {
  uint8_t bits[3], shift[3];  // blue, green, red
};
// Packings of codes 7..12 as a viewer reads them back.
const Fields16 kFields16[6] = {
    {{4, 4, 4}, {0, 4, 8}},  {{5, 5, 5}, {0, 5, 10}}, {{5, 5, 5}, {0, 5, 10}},
    {{5, 6, 5}, {0, 5, 11}}, {{5, 5, 6}, {0, 5, 10}}, {{4, 6, 6}, {0, 4, 10}},
};

inline uint8_t expand(uint32_t v, uint32_t bits) {
  v &= (1u << bits) - 1;
  uint32_t x = v << (8 - bits);
  return uint8_t(x | (x >> bits) | (x >> (2 * bits)));
}

void yuv_to_rgb(uint8_t y, uint8_t cb, uint8_t cr, uint8_t* out) {
  const ColorTables& t = kColor;
  int l = t.luma[y];
  out[0] = color_clamp(l + t.red_cr[cr]);
  out[1] = color_clamp(l + t.green_cr[cr] + t.green_cb[cb]);
  out[2] = color_clamp(l + t.blue_cb[cb]);
}

}  // namespace

MemorySurface* memory_surface_open(uint32_t format, uint32_t width, uint32_t height, int32_t pitch,
                                   uint32_t picture_x, uint32_t picture_y) {
  if (format < 1 || format > 15 || !width || !height || width > 32768 || height > 32768) return nullptr;
  const uint64_t row = uint64_t(width) * convert_bytes_per_pixel(format);
  uint64_t abs_pitch = pitch < 0 ? uint64_t(-int64_t(pitch)) : uint64_t(pitch);
  if (!pitch) abs_pitch = (row + 3) & ~uint64_t(3);
  if (abs_pitch < row) return nullptr;
  if (format == kFormatYv12 && (pitch < 0 || (abs_pitch & 1) || (height & 1) || (width & 1))) return nullptr;
  uint64_t bytes = abs_pitch * height;
  if (format == kFormatYv12) bytes += abs_pitch / 2 * height;  // two planes of pitch/2 × height/2
  if (bytes > (uint64_t(1) << 31)) return nullptr;
  MemorySurface* s = static_cast<MemorySurface*>(std::calloc(1, sizeof(MemorySurface)));
  if (!s) return nullptr;
  s->memory = static_cast<uint8_t*>(std::calloc(1, size_t(bytes)));
  if (!s->memory) {
    std::free(s);
    return nullptr;
  }
  s->format = format;
  s->width = width;
  s->height = height;
  s->pitch = pitch ? pitch : int32_t(abs_pitch);
  s->picture_x = picture_x;
  s->picture_y = picture_y;
  s->bytes = size_t(bytes);
  if (format == kFormatYv12) {
    std::memset(s->memory + abs_pitch * height, 128, size_t(bytes - abs_pitch * height));
  } else if (format == kFormatYuy2 || format == kFormatUyvy) {
    for (size_t i = format == kFormatYuy2 ? 1 : 0; i < s->bytes; i += 2) s->memory[i] = 128;
  }
  return s;
}

void memory_surface_close(MemorySurface* s) {
  if (!s) return;
  std::free(s->memory);
  std::free(s);
}

uint8_t* memory_surface_row(const MemorySurface* s, uint32_t y) {
  if (s->pitch >= 0) return s->memory + size_t(y) * uint32_t(s->pitch);
  return s->memory + size_t(s->height - 1 - y) * uint32_t(-s->pitch);
}

uint32_t memory_surface_copy(MemorySurface* s, CopySource* src, uint32_t flags) {
  if (!s || !src || s->picture_x >= s->width || s->picture_y >= s->height) return 0;
  uint32_t w = src->width, h = src->height;
  if (w > s->width - s->picture_x) w = s->width - s->picture_x;
  if (h > s->height - s->picture_y) h = s->height - s->picture_y;
  return convert_copy_to_surface(src, s->memory, s->pitch, s->height, s->picture_x, s->picture_y, 0,
                                 0, w, h, (flags & ~kCopyFormatMask) | s->format);
}

void memory_surface_to_rgb(const MemorySurface* s, uint8_t* rgb) {
  const uint32_t f = s->format;
  for (uint32_t y = 0; y < s->height; ++y) {
    const uint8_t* row = memory_surface_row(s, y);
    uint8_t* out = rgb + size_t(y) * s->width * 3;
    for (uint32_t x = 0; x < s->width; ++x, out += 3) {
      if (f <= 6) {
        const uint8_t* p = row + x * convert_bytes_per_pixel(f);
        const bool bgr = f == 1 || f == 3 || f == 5;
        out[0] = bgr ? p[2] : p[0];
        out[1] = p[1];
        out[2] = bgr ? p[0] : p[2];
      } else if (f <= 12) {
        const uint32_t v = row[2 * x] | uint32_t(row[2 * x + 1]) << 8;
        const Fields16& k = kFields16[f - 7];
        out[0] = expand(v >> k.shift[2], k.bits[2]);
        out[1] = expand(v >> k.shift[1], k.bits[1]);
        out[2] = expand(v >> k.shift[0], k.bits[0]);
      } else if (f <= 14) {
        const uint8_t* p = row + 4 * (x / 2);
        const bool yuy2 = f == kFormatYuy2;
        const uint64_t abs_pitch = s->pitch < 0 ? uint64_t(-int64_t(s->pitch)) : uint64_t(s->pitch);
        const bool whole_pair = uint64_t(4) * (x / 2 + 1) <= abs_pitch;  // else only a half pair
        uint8_t luma = (x & 1) ? p[yuy2 ? 2 : 3] : p[yuy2 ? 0 : 1];
        uint8_t cb = yuy2 ? p[1] : p[0];
        uint8_t cr = whole_pair ? (yuy2 ? p[3] : p[2]) : 128;
        yuv_to_rgb(luma, cb, cr, out);
      } else {
        const uint32_t pitch = uint32_t(s->pitch);
        const uint8_t* v_plane = s->memory + size_t(pitch) * s->height;
        const uint8_t* u_plane = v_plane + size_t(pitch / 2) * (s->height / 2);
        const size_t c = size_t(y / 2) * (pitch / 2) + x / 2;
        yuv_to_rgb(row[x], u_plane[c], v_plane[c], out);
      }
    }
  }
}
