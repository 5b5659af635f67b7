// Video packets for random picture sizes up to 256 × 256, every version and flag. The first
// five bytes pick the width, the height and the flag words; the rest is the packet, copied into
// a heap block of exactly its size so that any read past it is caught. Two frames are decoded
// (the second over the first), and the map terminator and plane padding are checked.
//
// With bit 7 of the third byte the input instead seeds a valid two-frame stream made by the
// writers (every block kind, small pictures); the bytes after the seed corrupt it at chosen
// places. Without corruption the decoded planes must equal the writers' model exactly.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "encode/video_plane_writer.h"
#include "video/video_decoder.h"

namespace {

VideoBlock random_content(std::mt19937& rng, uint32_t kind, bool sign_magnitude) {
  auto colour = [&] { return uint8_t(sign_magnitude ? 1 + rng() % 255 : rng() % 256); };
  uint8_t s[64];
  s[0] = colour();
  for (uint8_t& v : s) v = rng() % 3 ? colour() : s[0];
  uint8_t pat[8];
  for (uint8_t& v : pat) v = uint8_t(rng());
  int16_t coef[64] = {};
  for (uint32_t i = 0, n = rng() % 10; i < n; ++i) coef[1 + rng() % 63] = int16_t(int(rng() % 255) - 127);
  coef[0] = int16_t(rng() % 2048);
  switch (kind) {
    case 3: return video_run_from_samples(uint8_t(rng() % 16), s);
    case 5: return video_intra(coef, uint8_t(rng() % 16));
    case 6: return video_fill(colour());
    case 8: return video_pattern(colour(), colour(), pat);
    case 9: return video_raw(s);
    default: {
      VideoBlock b;
      b.kind = uint8_t(kind);
      return b;
    }
  }
}

VideoPlaneDesc random_plane(std::mt19937& rng, uint32_t w, uint32_t h, uint32_t scale,
                            bool sign_magnitude) {
  VideoPlaneDesc d;
  d.width = w;
  d.height = h;
  d.scale = scale;
  d.rows.resize(h / 8);
  for (uint32_t r = 0; r < h / 8; r += 2) {
    std::vector<int> plan;
    for (uint32_t x = 0; x < w / 8;) {
      bool pair = r + 1 < h / 8 && x + 1 < w / 8 && rng() % 6 == 0;
      plan.push_back(pair);
      x += pair ? 2 : 1;
    }
    for (uint32_t rr = r; rr < r + 2 && rr < h / 8; ++rr)
      for (int pair : plan) {
        if (pair) {
          static const uint8_t kSub[] = {3, 5, 6, 8, 9, 0, 11};
          d.rows[rr].push_back(rr == r ? video_scaled(random_content(rng, kSub[rng() % 7], sign_magnitude))
                                       : video_scaled_lower());
          continue;
        }
        int mx = int(rng() % 31) - 15, my = int(rng() % 31) - 15;
        int16_t coef[64] = {};
        for (int i = 0; i < 4; ++i) coef[rng() % 64] = int16_t(int(rng() % 255) - 127);
        coef[0] = int16_t(int(rng() % 2047) - 1023);
        int8_t res[64] = {};
        for (int i = 0; i < 8; ++i) res[rng() % 64] = int8_t(rng());
        switch (uint32_t kind = rng() % 12) {
          case 0: d.rows[rr].push_back(video_skip()); break;
          case 2: d.rows[rr].push_back(video_motion(mx, my)); break;
          case 4: d.rows[rr].push_back(video_residue(mx, my, res, uint8_t(rng() % 128))); break;
          case 7: d.rows[rr].push_back(video_inter(mx, my, coef, uint8_t(rng() % 16))); break;
          case 1: d.rows[rr].push_back(random_content(rng, 10 + rng() % 2, sign_magnitude)); break;
          default: d.rows[rr].push_back(random_content(rng, kind, sign_magnitude)); break;
        }
      }
  }
  return d;
}

void check_frame(const VideoStore& st) {
  const FramePlanes& p = st.planes;
  const VideoFrameSizes& z = st.sizes;
  if (p.change_map[p.map_blocks] != 0) __builtin_trap();
  for (uint32_t i = 0; i < p.map_blocks; ++i)
    if (p.change_map[i] > 1) __builtin_trap();
  const uint8_t* luma = p.plane_sets[p.current_set];
  for (uint32_t y = 0; y < z.luma_height; ++y)
    for (uint32_t x = 0; x < z.luma_stride; ++x)
      if ((x >= z.luma_width || y >= z.luma_rows) && luma[size_t(y) * z.luma_stride + x])
        __builtin_trap();
}

int structured(const uint8_t* data, size_t size) {
  uint32_t seed = 0;
  for (size_t i = 0; i < size && i < 8; ++i) seed = seed * 131 + data[i];
  std::mt19937 rng(seed);
  uint32_t w = 1 + rng() % 40, h = 1 + rng() % 40;
  uint32_t movie_flags = rng() % 2 ? 0x8000 : 0;
  uint32_t header_flags = rng() % 3 == 0 ? 0x100000 : 0;
  if (header_flags && rng() % 2) movie_flags |= 0x100000;
  if (rng() % 5 == 0) movie_flags |= 0x20000;
  VideoStore st, model;
  bool alpha = movie_flags & 0x100000;
  if (!video_store_open(&st, w, h, alpha, false) || !video_store_open(&model, w, h, alpha, false))
    __builtin_trap();
  const VideoFrameSizes& z = st.sizes;
  VideoPlaneOptions o;
  o.buffer_stride = z.luma_stride;
  o.pack_rows = rng() % 2;
  o.tune_trees = rng() % 2;
  bool sm = movie_flags & 0x8000;
  for (int frame = 0; frame < 2; ++frame) {
    VideoPlaneDesc d[4] = {random_plane(rng, z.luma_width, z.luma_rows, 1, sm),
                           random_plane(rng, z.luma_width, z.luma_rows, 1, sm),
                           random_plane(rng, z.chroma_stride, z.chroma_height, 2, sm),
                           random_plane(rng, z.chroma_stride, z.chroma_height, 2, sm)};
    VideoPacketPlanes pp;
    pp.alpha_section = header_flags != 0;
    std::vector<uint8_t>* out[4] = {&pp.alpha, &pp.luma, &pp.chroma1, &pp.chroma2};
    for (int i = 0; i < 4; ++i)
      if (!video_write_plane(d[i], movie_flags, o, out[i])) __builtin_trap();
    std::vector<uint8_t> bytes = video_write_packet(pp, movie_flags);
    // Corruptions: pairs of (position, xor) from the input after the seed.
    bool corrupt = false;
    size_t base = 8 + 6 * size_t(frame);  // two corruptions per frame
    for (size_t i = base; i + 2 < size && i < base + 6; i += 3) {
      if (bytes.empty()) break;
      size_t at = (size_t(data[i]) << 8 | data[i + 1]) % bytes.size();
      bytes[at] ^= data[i + 2];
      corrupt |= data[i + 2] != 0;
    }
    if (size > 20 + size_t(frame) && data[20 + frame] & 1) {
      bytes.resize(bytes.size() * data[20 + frame] / 256);
      corrupt = true;
    }
    std::unique_ptr<uint8_t[]> packet(new uint8_t[bytes.size() ? bytes.size() : 1]);
    if (!bytes.empty()) std::memcpy(packet.get(), bytes.data(), bytes.size());
    // The model: the same planes over the same reference.
    FramePlanes& m = model.planes;
    uint32_t cur = m.current_set;
    size_t luma = size_t(z.luma_stride) * z.luma_height, chroma = size_t(z.chroma_stride) * z.chroma_height;
    std::memcpy(m.plane_sets[1 - cur], st.planes.plane_sets[1 - st.planes.current_set], z.set_bytes);
    std::memcpy(m.plane_sets[cur], st.planes.plane_sets[st.planes.current_set], z.set_bytes);
    std::memset(m.change_map, 0, m.map_blocks);
    uint8_t* md = m.plane_sets[1 - cur];
    const uint8_t* mr = m.plane_sets[cur];
    video_plane_model(d[1], mr, md, z.luma_stride, m.change_map);
    if (!(movie_flags & 0x20000)) {
      video_plane_model(d[2], mr + luma, md + luma, z.chroma_stride, m.change_map);
      video_plane_model(d[3], mr + luma + chroma, md + luma + chroma, z.chroma_stride, m.change_map);
    }
    if (alpha) {
      std::memcpy(m.alpha_planes[1 - cur], st.planes.alpha_planes[1 - st.planes.current_set], z.alpha_bytes);
      video_plane_model(d[0], st.planes.alpha_planes[st.planes.current_set], m.alpha_planes[1 - cur],
                        z.luma_stride, m.change_map);
    }
    m.current_set = 1 - cur;

    std::memset(st.planes.change_map, 0, st.planes.map_blocks);
    bool ok = video_decode_next(&st.planes, w, h, packet.get(), bytes.size(), frame == 0,
                                movie_flags, header_flags);
    check_frame(st);
    if (!corrupt) {
      if (!ok) __builtin_trap();
      if (std::memcmp(st.planes.plane_sets[st.planes.current_set], m.plane_sets[m.current_set], z.set_bytes) ||
          std::memcmp(st.planes.change_map, m.change_map, m.map_blocks))
        __builtin_trap();
      if (alpha && std::memcmp(st.planes.alpha_planes[st.planes.current_set],
                               m.alpha_planes[m.current_set], z.alpha_bytes))
        __builtin_trap();
    } else {
      // Keep both in step for the next frame: the model takes what was decoded.
      std::memcpy(m.plane_sets[m.current_set], st.planes.plane_sets[st.planes.current_set], z.set_bytes);
      if (alpha)
        std::memcpy(m.alpha_planes[m.current_set], st.planes.alpha_planes[st.planes.current_set],
                    z.alpha_bytes);
    }
  }
  video_store_close(&st);
  video_store_close(&model);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  if (data[2] & 128) return structured(data, size);
  uint32_t width = 1 + data[0], height = 1 + data[1];
  uint8_t pick = data[2];
  uint32_t movie_flags = 0, header_flags = 0;
  if (pick & 1) movie_flags |= 0x8000;   // versions "f", "g", "h"
  if (pick & 2) movie_flags |= 0x10000;  // "f", "g": chroma order only
  if (pick & 4) movie_flags |= 0x20000;  // grey
  if (pick & 8) header_flags |= 0x100000;
  if (pick & 16) movie_flags |= 0x100000;
  bool single = pick & 32;
  bool key = pick & 64;
  size_t split = size_t(data[3]) | size_t(data[4]) << 8;  // first packet's length
  const uint8_t* rest = data + 5;
  size_t n = size - 5;
  if (split > n) split = n;

  VideoStore st;
  if (!video_store_open(&st, width, height, (movie_flags & 0x100000) != 0, single)) return 0;
  for (int frame = 0; frame < 2; ++frame) {
    size_t len = frame == 0 ? split : n - split;
    const uint8_t* src = frame == 0 ? rest : rest + split;
    std::unique_ptr<uint8_t[]> packet(new uint8_t[len ? len : 1]);
    if (len) std::memcpy(packet.get(), src, len);
    std::memset(st.planes.change_map, 0, st.planes.map_blocks);
    video_decode_next(&st.planes, width, height, packet.get(), len, key, movie_flags,
                      header_flags);
    check_frame(st);
  }
  video_store_close(&st);
  return 0;
}
