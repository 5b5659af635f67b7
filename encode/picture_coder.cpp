#include "encode/picture_coder.h"

#include <cmath>
#include <cstring>

#include "audio/audio_decoder.h"
#include "container/container.h"
#include "encode/audio_encoder.h"
#include "encode/video_plane_writer.h"
#include "video/video_decoder.h"

namespace {

uint8_t clamp8(double v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : std::lround(v)); }

bool write_plane(const std::vector<uint8_t>& samples, const std::vector<uint8_t>* previous, uint32_t w, uint32_t h,
                 uint32_t scale, uint32_t stride, std::vector<uint8_t>* out) {
  VideoPlaneDesc d;
  d.width = w;
  d.height = h;
  d.scale = scale;
  for (uint32_t by = 0; by < h; by += 8) {
    std::vector<VideoBlock> row;
    for (uint32_t bx = 0; bx < w; bx += 8) {
      uint8_t s[64];
      bool same = previous != nullptr;
      for (uint32_t y = 0; y < 8; ++y) {
        const size_t at = size_t(by + y) * w + bx;
        std::memcpy(s + 8 * y, &samples[at], 8);
        if (same && std::memcmp(s + 8 * y, &(*previous)[at], 8) != 0) same = false;
      }
      if (same) {
        row.push_back(video_skip());
        continue;
      }
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

bool picture_planes_from_rgb(const uint8_t* rgb, uint32_t width, uint32_t height, PicturePlanes* out) {
  VideoFrameSizes vs;
  if (!video_frame_sizes(width, height, &vs)) return false;
  PicturePlanes& p = *out;
  p.luma_width = vs.luma_width;
  p.luma_rows = vs.luma_rows;
  p.chroma_width = (vs.luma_width / 2 + 7) / 8 * 8;
  p.chroma_rows = (vs.luma_rows / 2 + 7) / 8 * 8;
  p.stride = vs.luma_stride;
  p.luma.assign(size_t(p.luma_width) * p.luma_rows, 16);
  p.cr.assign(size_t(p.chroma_width) * p.chroma_rows, 128);
  p.cb.assign(p.cr.size(), 128);
  auto pixel = [&](uint32_t x, uint32_t y) {
    x = x < width ? x : width - 1;
    y = y < height ? y : height - 1;
    return rgb + (size_t(y) * width + x) * 3;
  };
  for (uint32_t y = 0; y < p.luma_rows; ++y)
    for (uint32_t x = 0; x < p.luma_width; ++x) {
      const uint8_t* c = pixel(x, y);
      p.luma[size_t(y) * p.luma_width + x] = clamp8(16 + (65.738 * c[0] + 129.057 * c[1] + 25.064 * c[2]) / 256);
    }
  for (uint32_t y = 0; y < p.chroma_rows; ++y)
    for (uint32_t x = 0; x < p.chroma_width; ++x) {
      double r = 0, g = 0, b = 0;
      for (uint32_t k = 0; k < 4; ++k) {
        const uint8_t* c = pixel(2 * x + (k & 1), 2 * y + (k >> 1));
        r += c[0] / 4.0;
        g += c[1] / 4.0;
        b += c[2] / 4.0;
      }
      p.cb[size_t(y) * p.chroma_width + x] = clamp8(128 + (-37.945 * r - 74.494 * g + 112.439 * b) / 256);
      p.cr[size_t(y) * p.chroma_width + x] = clamp8(128 + (112.439 * r - 94.154 * g - 18.285 * b) / 256);
    }
  return true;
}

std::vector<uint8_t> picture_write_packet(const PicturePlanes& p, const PicturePlanes* previous) {
  VideoPacketPlanes planes;
  if (!write_plane(p.luma, previous ? &previous->luma : nullptr, p.luma_width, p.luma_rows, 1, p.stride,
                   &planes.luma) ||
      !write_plane(p.cr, previous ? &previous->cr : nullptr, p.chroma_width, p.chroma_rows, 2, p.stride,
                   &planes.chroma1) ||
      !write_plane(p.cb, previous ? &previous->cb : nullptr, p.chroma_width, p.chroma_rows, 2, p.stride,
                   &planes.chroma2))
    return {};
  return video_write_packet(planes, 0);
}

std::vector<std::vector<uint8_t>> picture_sound_packets(const std::vector<int16_t>& pcm, uint32_t rate,
                                                        uint32_t channels, bool dct, uint32_t frames,
                                                        uint32_t rate_num, uint32_t rate_den, uint32_t* word) {
  return audio_track_packets(pcm, rate, channels, dct, 0, frames, rate_num, rate_den, word);
}
