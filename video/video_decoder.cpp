#include "video/video_decoder.h"

#include "base/cpu.h"

#include <cstdlib>
#include <cstring>

#include "base/bytes.h"
#include "video/plane.h"

namespace {

inline uint32_t round8(uint32_t v) { return (v + 7) & ~7u; }
inline size_t align32(size_t n) { return (n + 31) & ~size_t(31); }

// What one plane decode needs beside its data.
struct PlaneTarget {
  uint8_t* dst;
  const uint8_t* ref;
  uint32_t width, height, stride, scale;
};

void restore(const PlaneTarget& t) {
  if (t.dst == t.ref) return;
  for (uint32_t row = 0; row < t.height; ++row)
    std::memcpy(t.dst + size_t(row) * t.stride, t.ref + size_t(row) * t.stride, t.width);
}

}  // namespace

bool video_frame_sizes(uint32_t width, uint32_t height, VideoFrameSizes* s) {
  if (width == 0 || height == 0 || width > 16384 || height > 16384) return false;
  s->chroma_stride = round8((width + 1) / 2);
  s->chroma_height = round8((height + 1) / 2);
  s->luma_stride = 2 * s->chroma_stride;
  s->luma_height = 2 * s->chroma_height;
  s->luma_width = round8(width);
  s->luma_rows = round8(height);
  s->map_columns = s->luma_stride / 16;
  s->map_blocks = s->map_columns * (s->luma_height / 16);
  s->alpha_bytes = size_t(s->luma_stride) * s->luma_height;
  s->set_bytes = s->alpha_bytes + 2 * size_t(s->chroma_stride) * s->chroma_height;
  s->map_bytes = size_t(s->map_blocks) + 1;
  s->stream_bytes = stream_buffers_total_bytes(s->luma_stride);
  return true;
}

void frame_planes_set_sizes(FramePlanes* p, const VideoFrameSizes* s) {
  p->luma_stride = s->luma_stride;
  p->luma_height = s->luma_height;
  p->chroma_stride = s->chroma_stride;
  p->chroma_height = s->chroma_height;
  p->map_columns = s->map_columns;
  p->map_blocks = s->map_blocks;
  idct_fill(&p->idct, cpu_level());
}

bool video_decode_frame(const FramePlanes* p, uint32_t width, uint32_t height, const VideoPacket* in) {
  const uint32_t cur = p->current_set, luma_stride = p->luma_stride, luma_height = p->luma_height;
  uint8_t* const dst_set = p->plane_sets[1 - cur];
  const uint8_t* const ref_set = p->plane_sets[cur];
  uint8_t* const dst_alpha = p->alpha_planes[1 - cur];
  const uint8_t* const ref_alpha = p->alpha_planes[cur];
  uint8_t* const change_map = p->change_map;
  const StreamBuffers* const buffers = &p->stream_buffers;
  const uint32_t movie_flags = in->movie_flags, header_flags = in->header_flags;
  const uint8_t* packet = in->data;
  size_t packet_size = in->size;
  VideoFrameSizes sz;
  if (!video_frame_sizes(width, height, &sz) || sz.luma_stride != luma_stride ||
      sz.luma_height != luma_height || !dst_set || !ref_set)
    return false;
  static const uint8_t kNoPacket[4] = {};
  if (!packet) {
    packet = kNoPacket;
    packet_size = 0;
  }
  const uint8_t* end = packet + packet_size;
  const uint8_t* pos = packet;
  bool decode_alpha = (header_flags & kVideoFlagAlpha) && (movie_flags & kVideoFlagAlpha) &&
                      dst_alpha && ref_alpha;
  bool chroma = !(movie_flags & kVideoFlagGrey);
  size_t chroma_bytes = size_t(sz.chroma_stride) * sz.chroma_height;
  size_t luma_bytes = size_t(luma_stride) * luma_height;
  // The planes in packet order; index 0 is alpha.
  PlaneTarget t[4] = {
      {dst_alpha, ref_alpha, sz.luma_width, sz.luma_rows, luma_stride, 1},
      {dst_set, ref_set, sz.luma_width, sz.luma_rows, luma_stride, 1},
      {dst_set + luma_bytes, ref_set + luma_bytes, sz.chroma_stride, sz.chroma_height,
       sz.chroma_stride, 2},
      {dst_set + luma_bytes + chroma_bytes, ref_set + luma_bytes + chroma_bytes,
       sz.chroma_stride, sz.chroma_height, sz.chroma_stride, 2},
  };
  uint32_t last = chroma ? 4 : 2;
  bool touched[4] = {!decode_alpha, false, false, false};  // alpha counts as done when unused
  auto decode = [&](uint32_t i, const uint8_t* data, size_t size) {
    PlaneArgs a{data, size, t[i].dst, t[i].ref, t[i].width, t[i].height, t[i].stride, t[i].scale,
                change_map, buffers, movie_flags, &p->idct};
    touched[i] = true;
    PlaneResult r = decode_plane(a);
    if (r.next > end) r.complete = false;
    return r;
  };

  bool ok = true;
  if (header_flags & kVideoFlagAlpha) {
    uint32_t s = end - pos >= 4 ? load_le32(pos) : 0;
    if (s < 4 || s > size_t(end - pos)) {
      ok = false;
    } else {
      if (decode_alpha) ok = decode(0, pos + 4, s - 4).complete;
      pos += s;
    }
  }
  if (ok) {
    if (!(movie_flags & kVideoFlagSignMagnitude)) {
      uint32_t s = end - pos >= 4 ? load_le32(pos) : 0;
      if (s < 4 || s > size_t(end - pos)) {
        ok = false;
      } else {
        ok = decode(1, pos + 4, s - 4).complete;
        pos += s;
      }
    } else {
      PlaneResult r = decode(1, pos, size_t(end - pos));
      ok = r.complete;
      pos = r.next;
    }
  }
  for (uint32_t i = 2; ok && i < last; ++i) {
    PlaneResult r = decode(i, pos, size_t(end - pos));
    ok = r.complete;
    pos = r.next;
  }
  if (ok) return true;
  // The planes that the frame did not reach show the reference frame.
  for (uint32_t i = 0; i < last; ++i)
    if (!touched[i]) restore(t[i]);
  return false;
}

bool video_decode_next(FramePlanes* p, uint32_t width, uint32_t height, const uint8_t* packet,
                       size_t packet_size, bool key, uint32_t movie_flags, uint32_t header_flags) {
  const VideoPacket in{packet, packet_size, key, movie_flags, header_flags};
  const bool ok = video_decode_frame(p, width, height, &in);
  p->current_set = 1 - p->current_set;
  return ok;
}

bool video_store_open(VideoStore* s, uint32_t width, uint32_t height, bool alpha, bool single_set) {
  std::memset(s, 0, sizeof *s);
  if (!video_frame_sizes(width, height, &s->sizes)) return false;
  const VideoFrameSizes& z = s->sizes;
  size_t sets = single_set ? 1 : 2;
  size_t total = sets * align32(z.set_bytes) + (alpha ? sets * align32(z.alpha_bytes) : 0) +
                 align32(z.map_bytes) + z.stream_bytes;
  void* raw = std::malloc(total + 32);
  if (!raw) return false;
  uint8_t* b = static_cast<uint8_t*>(raw) + (32 - reinterpret_cast<uintptr_t>(raw) % 32);
  std::memset(b, 0, total);
  s->block = raw;
  FramePlanes* p = &s->planes;
  frame_planes_set_sizes(p, &z);
  size_t at = 0;
  for (size_t i = 0; i < sets; ++i, at += align32(z.set_bytes)) p->plane_sets[i] = b + at;
  if (alpha)
    for (size_t i = 0; i < sets; ++i, at += align32(z.alpha_bytes)) p->alpha_planes[i] = b + at;
  if (single_set) {
    p->plane_sets[1] = p->plane_sets[0];
    p->alpha_planes[1] = p->alpha_planes[0];
  }
  p->change_map = b + at;
  at += align32(z.map_bytes);
  stream_buffers_place(&p->stream_buffers, z.luma_stride, b + at);
  p->current_set = 0;
  return true;
}

void video_store_close(VideoStore* s) {
  std::free(s->block);
  s->block = nullptr;
}
