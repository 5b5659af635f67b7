// Pictures out of krvtool: the movie's flag word as the player forms it, PNG files, and the
// picture scaled down to fit a box (thumbnails, `frames --fit`).
#include <cstdio>
#include <cstring>
#include <vector>

#ifdef KORVA_HAVE_PNG
#include <png.h>
#endif

#include "container/container.h"
#include "convert/convert.h"
#include "tools/krvtool/tool.h"
#include "video/video_decoder.h"

uint32_t tool_movie_flags(const ContainerHeader& h, bool grey, bool has_mode, uint32_t mode) {
  uint32_t flags = 0;
  if (h.version != 'i') flags |= 0x8000;
  if (h.version == 'f' || h.version == 'g') flags |= kVideoFlagChromaSwap;
  if (h.flags & kVideoFlagGrey) flags |= kVideoFlagGrey;
  if (h.flags & kVideoFlagAlpha) flags |= kVideoFlagAlpha;
  if (grey) flags |= kCopyGrey;
  if (!has_mode) mode = (h.flags & kCopyDoublingMask) >> kCopyDoublingShift;
  return (flags & ~kCopyDoublingMask) | (mode << kCopyDoublingShift);
}

#ifdef KORVA_HAVE_PNG
bool tool_write_png(const char* name, const uint8_t* rgb, uint32_t w, uint32_t h) {
  FILE* f = std::fopen(name, "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = false;
  if (png && info && !setjmp(png_jmpbuf(png))) {
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 3);
    png_write_info(png, info);
    for (uint32_t y = 0; y < h; ++y) png_write_row(png, const_cast<uint8_t*>(rgb + size_t(y) * w * 3));
    png_write_end(png, info);
    ok = true;
  }
  png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
  return std::fclose(f) == 0 && ok;
}
#else
bool tool_write_png(const char*, const uint8_t*, uint32_t, uint32_t) { return false; }
#endif

void tool_fit_size(uint32_t w, uint32_t h, uint32_t box, uint32_t* out_w, uint32_t* out_h) {
  if (w <= box && h <= box) {
    *out_w = w;
    *out_h = h;
  } else if (w >= h) {
    *out_w = box;
    *out_h = uint32_t((uint64_t(h) * box + w / 2) / w);
  } else {
    *out_h = box;
    *out_w = uint32_t((uint64_t(w) * box + h / 2) / h);
  }
  if (!*out_w) *out_w = 1;
  if (!*out_h) *out_h = 1;
}

namespace {

// The source pixels that output pixel i of `out` covers when `in` pixels shrink to `out`, with
// each one's share: output pixel i spans [i × in, (i + 1) × in) and source pixel j spans
// [j × out, (j + 1) × out) on a common axis, so the shares of one output pixel add up to `in`.
struct Span {
  uint32_t first, count;
  uint32_t share[2];  // of the first and the last source pixel; those between have `out`
};

Span fit_span(uint32_t i, uint32_t in, uint32_t out) {
  const uint64_t lo = uint64_t(i) * in, hi = uint64_t(i + 1) * in;
  Span s;
  s.first = uint32_t(lo / out);
  const uint32_t last = uint32_t((hi - 1) / out);
  s.count = last - s.first + 1;
  if (s.count == 1) {
    s.share[0] = s.share[1] = in;
  } else {
    s.share[0] = uint32_t((uint64_t(s.first) + 1) * out - lo);
    s.share[1] = uint32_t(hi - uint64_t(last) * out);
  }
  return s;
}

uint32_t span_share(const Span& s, uint32_t k, uint32_t out) {
  if (k == 0) return s.share[0];
  if (k + 1 == s.count) return s.share[1];
  return out;
}

}  // namespace

bool tool_scale_rgb(const uint8_t* rgb, uint32_t w, uint32_t h, uint8_t* out, uint32_t ow, uint32_t oh) {
  if (!w || !h || !ow || !oh || ow > w || oh > h) return false;
  // Each output pixel is the exact average of the source area it covers, rounded once: rows
  // are first summed across (weights add up to w), then those sums down (weights add up to h).
  std::vector<uint32_t> across(size_t(ow) * h * 3);
  for (uint32_t x = 0; x < ow; ++x) {
    const Span s = fit_span(x, w, ow);
    for (uint32_t y = 0; y < h; ++y) {
      const uint8_t* row = rgb + size_t(y) * w * 3;
      uint32_t sum[3] = {0, 0, 0};
      for (uint32_t k = 0; k < s.count; ++k) {
        const uint32_t weight = span_share(s, k, ow);
        for (uint32_t c = 0; c < 3; ++c) sum[c] += row[(s.first + k) * 3 + c] * weight;
      }
      std::memcpy(&across[(size_t(y) * ow + x) * 3], sum, sizeof sum);
    }
  }
  const uint64_t total = uint64_t(w) * h;
  for (uint32_t y = 0; y < oh; ++y) {
    const Span s = fit_span(y, h, oh);
    for (uint32_t x = 0; x < ow; ++x) {
      uint64_t sum[3] = {0, 0, 0};
      for (uint32_t k = 0; k < s.count; ++k) {
        const uint64_t weight = span_share(s, k, oh);
        for (uint32_t c = 0; c < 3; ++c) sum[c] += across[((size_t(s.first) + k) * ow + x) * 3 + c] * weight;
      }
      for (uint32_t c = 0; c < 3; ++c) out[(size_t(y) * ow + x) * 3 + c] = uint8_t((sum[c] + total / 2) / total);
    }
  }
  return true;
}
