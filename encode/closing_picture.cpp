#include "encode/closing_picture.h"

#include <cmath>
#include <cstring>

#include "encode/container_writer.h"
#include "encode/video_plane_writer.h"
#include "video/video_decoder.h"

namespace {

constexpr int kW = kClosingPictureWidth, kH = kClosingPictureHeight;

// The name, 5 × 7 cells a letter, one bit a cell (bit 4 the leftmost).
const uint8_t kLetters[5][7] = {
    {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11},  // K
    {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},  // O
    {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11},  // R
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04},  // V
    {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11},  // A
};

struct Rgb {
  double r, g, b;
};

// The colour at a point of the picture (x, y in pixels, fractions allowed).
Rgb shade(double x, double y) {
  // Background: a dark blue that deepens downwards, flat within each 8-row band.
  const double band = std::floor(y / 8) * 8 / kH;
  Rgb c = {6 + 10 * (1 - band), 10 + 14 * (1 - band), 34 + 30 * (1 - band)};
  // The mark: a ring whose colour turns from teal to violet around it, a play triangle inside.
  const double cx = 112, cy = 96, dx = x - cx, dy = y - cy;
  const double d = std::sqrt(dx * dx + dy * dy);
  if (d >= 50 && d <= 64) {
    const double t = (std::atan2(dy, dx) + 3.14159265358979) / (2 * 3.14159265358979);
    c = {40 + 180 * t, 200 - 120 * t, 190 + 50 * t};
  } else if (d < 50) {
    // Triangle pointing right: vertices (-18, -26), (-18, 26), (30, 0) around the centre.
    const bool inside = dx >= -18 && std::fabs(dy) <= 26 * (30 - dx) / 48;
    if (inside) c = {250, 200, 60};
    else c = {18, 28, 70};
  }
  // The name under the mark, in cells of 6 × 6 pixels.
  const int cell = 6, letter_w = 5 * cell, gap = 8;
  const int text_w = 5 * letter_w + 4 * gap, left = (kW - text_w) / 2, top = 186;
  const int px = int(std::floor(x)) - left, py = int(std::floor(y)) - top;
  if (px >= 0 && py >= 0 && px < text_w && py < 7 * cell) {
    const int letter = px / (letter_w + gap), within = px % (letter_w + gap);
    if (within < letter_w && (kLetters[letter][py / cell] >> (4 - within / cell) & 1)) c = {235, 235, 245};
  }
  return c;
}

uint8_t clamp8(double v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : std::lround(v)); }

// One plane coded block by block: a fill where the block is flat, a pattern where it holds two
// values, the raw samples otherwise.
bool write_plane(const std::vector<uint8_t>& samples, uint32_t w, uint32_t h, uint32_t scale, uint32_t stride,
                 std::vector<uint8_t>* out) {
  VideoPlaneDesc d;
  d.width = w;
  d.height = h;
  d.scale = scale;
  for (uint32_t by = 0; by < h; by += 8) {
    std::vector<VideoBlock> row;
    for (uint32_t bx = 0; bx < w; bx += 8) {
      uint8_t s[64];
      for (uint32_t y = 0; y < 8; ++y) std::memcpy(s + 8 * y, &samples[(by + y) * w + bx], 8);
      uint8_t a = s[0], b = s[0];
      bool two = true;
      for (uint8_t v : s) {
        if (v == a) continue;
        if (b == a) b = v;
        else if (v != b) two = false;
      }
      if (a == b) {
        row.push_back(video_fill(a));
      } else if (two) {
        uint8_t rows[8];
        for (uint32_t y = 0; y < 8; ++y) {
          rows[y] = 0;
          for (uint32_t x = 0; x < 8; ++x) rows[y] |= uint8_t((s[8 * y + x] == b) << x);
        }
        row.push_back(video_pattern(a, b, rows));
      } else {
        row.push_back(video_raw(s));
      }
    }
    d.rows.push_back(row);
  }
  VideoPlaneOptions o;
  o.buffer_stride = stride;
  return video_write_plane(d, 0, o, out);
}

}  // namespace

std::vector<uint8_t> closing_picture_rgb() {
  std::vector<uint8_t> rgb(size_t(kW) * kH * 3);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      // Four samples a pixel smooth the ring's and the triangle's edges.
      Rgb sum = {0, 0, 0};
      for (int k = 0; k < 4; ++k) {
        const Rgb c = shade(x + 0.25 + 0.5 * (k & 1), y + 0.25 + 0.5 * (k >> 1));
        sum.r += c.r / 4;
        sum.g += c.g / 4;
        sum.b += c.b / 4;
      }
      uint8_t* p = &rgb[(size_t(y) * kW + x) * 3];
      p[0] = clamp8(sum.r);
      p[1] = clamp8(sum.g);
      p[2] = clamp8(sum.b);
    }
  return rgb;
}

std::vector<uint8_t> closing_picture_write() {
  VideoFrameSizes vs;
  if (!video_frame_sizes(kW, kH, &vs)) return {};
  const std::vector<uint8_t> rgb = closing_picture_rgb();
  // Studio-range Y, Cb, Cr; the rows past the picture repeat its last row.
  const uint32_t lw = vs.luma_width, lh = vs.luma_rows;
  const uint32_t cw = (lw / 2 + 7) / 8 * 8, ch = (lh / 2 + 7) / 8 * 8;
  std::vector<uint8_t> luma(size_t(lw) * lh), cr(size_t(cw) * ch, 128), cb(size_t(cw) * ch, 128);
  auto pixel = [&](uint32_t x, uint32_t y) {
    x = x < uint32_t(kW) ? x : kW - 1;
    y = y < uint32_t(kH) ? y : kH - 1;
    return &rgb[(size_t(y) * kW + x) * 3];
  };
  for (uint32_t y = 0; y < lh; ++y)
    for (uint32_t x = 0; x < lw; ++x) {
      const uint8_t* p = pixel(x, y);
      luma[y * lw + x] = clamp8(16 + (65.738 * p[0] + 129.057 * p[1] + 25.064 * p[2]) / 256);
    }
  for (uint32_t y = 0; y < ch; ++y)
    for (uint32_t x = 0; x < cw; ++x) {
      double r = 0, g = 0, b = 0;
      for (uint32_t k = 0; k < 4; ++k) {
        const uint8_t* p = pixel(2 * x + (k & 1), 2 * y + (k >> 1));
        r += p[0] / 4.0;
        g += p[1] / 4.0;
        b += p[2] / 4.0;
      }
      cb[y * cw + x] = clamp8(128 + (-37.945 * r - 74.494 * g + 112.439 * b) / 256);
      cr[y * cw + x] = clamp8(128 + (112.439 * r - 94.154 * g - 18.285 * b) / 256);
    }
  VideoPacketPlanes planes;
  // The first chroma plane holds Cr, the second Cb.
  if (!write_plane(luma, lw, lh, 1, vs.luma_stride, &planes.luma) ||
      !write_plane(cr, cw, ch, 2, vs.luma_stride, &planes.chroma1) ||
      !write_plane(cb, cw, ch, 2, vs.luma_stride, &planes.chroma2))
    return {};
  MovieDescription d;
  d.width = kW;
  d.height = kH;
  d.rate_num = 10;
  d.rate_den = 1;
  WriterFrame f;
  f.key = true;
  f.video = video_write_packet(planes, 0);
  d.frames.push_back(f);
  return container_write(d);
}
