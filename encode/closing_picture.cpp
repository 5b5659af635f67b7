#include "encode/closing_picture.h"

#include <cmath>
#include <cstring>

#include "encode/container_writer.h"
#include "encode/picture_coder.h"

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
  const std::vector<uint8_t> rgb = closing_picture_rgb();
  PicturePlanes planes;
  if (!picture_planes_from_rgb(rgb.data(), kW, kH, &planes)) return {};
  MovieDescription d;
  d.width = kW;
  d.height = kH;
  d.rate_num = 10;
  d.rate_den = 1;
  WriterFrame f;
  f.key = true;
  f.video = picture_write_packet(planes, nullptr);
  if (f.video.empty()) return {};
  d.frames.push_back(f);
  return container_write(d);
}
