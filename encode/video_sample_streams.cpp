#include "encode/video_sample_streams.h"

#include "video/video_decoder.h"

namespace {

VideoBlock intra_block(std::mt19937& rng) {
  int16_t coef[64] = {};
  coef[0] = int16_t(512 + rng() % 1024);
  coef[1] = int16_t((rng() % 2 ? 1 : -1) * int(32 + rng() % 32));  // the top plane
  for (int i = 0; i < 11; ++i) {
    int k = 1 + int(rng() % 63);
    int mag = 1 + int(rng() % (k < 16 ? 31 : 8));
    coef[k] = int16_t(rng() % 2 ? mag : -mag);
  }
  VideoBlock b = video_intra(coef, uint8_t(rng() % 8));
  b.planes = 6;
  return b;
}

// A lighter intra block, as typical frames have them: a few low-frequency values, 4 planes.
VideoBlock light_intra_block(std::mt19937& rng) {
  int16_t coef[64] = {};
  coef[0] = int16_t(512 + rng() % 1024);
  coef[1 + rng() % 3] = int16_t(8 + rng() % 8);
  for (int i = 0; i < 5; ++i) coef[1 + rng() % 15] = int16_t(int(rng() % 9) - 4);
  VideoBlock b = video_intra(coef, uint8_t(rng() % 8));
  return b;
}

VideoBlock inter_block(std::mt19937& rng) {
  int16_t coef[64] = {};
  coef[0] = int16_t(int(rng() % 64) - 32);
  for (int i = 0; i < 5; ++i) coef[1 + rng() % 20] = int16_t(int(rng() % 15) - 7);
  return video_inter(int(rng() % 7) - 3, int(rng() % 7) - 3, coef, uint8_t(rng() % 8));
}

VideoBlock typical_block(std::mt19937& rng, bool key) {
  uint32_t r = rng() % 100;
  if (key) r = 60 + rng() % 40;  // a key frame has no skip or motion
  if (r < 40) return video_skip();
  if (r < 60) return video_motion(int(rng() % 9) - 4, int(rng() % 9) - 4);
  if (r < 75) return r < 68 && !key ? inter_block(rng) : light_intra_block(rng);
  if (r < 85) {
    int8_t res[64] = {};
    for (int i = 0; i < 6; ++i) res[rng() % 64] = int8_t(int(rng() % 9) - 4);
    if (!key) return video_residue(int(rng() % 5) - 2, int(rng() % 5) - 2, res, 40);
    return light_intra_block(rng);
  }
  uint8_t s[64];
  for (int i = 0; i < 64; ++i) s[i] = uint8_t(i < 20 ? 60 : i < 40 ? 90 : 120 + (i & 1));
  uint8_t rows[8] = {0x0f, 0x1e, 0x3c, 0x78, 0xf0, 0xe1, 0xc3, 0x87};
  if (r < 90) return video_fill(uint8_t(rng()));
  if (r < 95) return video_pattern(uint8_t(rng()), uint8_t(rng()), rows);
  return video_run_from_samples(uint8_t(rng() % 16), s);
}

}  // namespace

VideoPlaneDesc video_sample_plane(std::mt19937& rng, VideoSampleKind kind, uint32_t w, uint32_t h,
                                  uint32_t scale, bool key) {
  VideoPlaneDesc d;
  d.width = w;
  d.height = h;
  d.scale = scale;
  d.rows.resize(h / 8);
  uint8_t rows[8] = {0x01, 0x03, 0x07, 0x0f, 0x1f, 0x3f, 0x7f, 0xff};
  for (uint32_t r = 0; r < h / 8; ++r) {
    for (uint32_t x = 0; x < w / 8;) {
      if (kind == kSampleFlat && r % 2 == 0 && r + 1 < h / 8 && x + 1 < w / 8 && rng() % 2) {
        VideoBlock inner = rng() % 2 ? video_fill(uint8_t(rng())) : video_pattern(10, 240, rows);
        d.rows[r].push_back(video_scaled(inner));
        d.rows[r + 1].push_back(video_scaled_lower());
        x += 2;
        continue;
      }
      // Lower rows of flat planes: skip the columns the pairs above already hold.
      if (kind == kSampleFlat && r % 2 == 1) break;
      d.rows[r].push_back(kind == kSampleIntra ? intra_block(rng)
                          : kind == kSampleTypical ? typical_block(rng, key)
                                             : video_fill(uint8_t(rng())));
      ++x;
    }
  }
  if (kind == kSampleFlat) {
    // Rebuild the lower rows in column order: a scaled lower half under each pair, fills elsewhere.
    for (uint32_t r = 1; r < h / 8; r += 2) {
      std::vector<VideoBlock> upper = d.rows[r - 1], lower;
      for (const VideoBlock& b : upper)
        lower.push_back(b.kind == kBlockScaled ? video_scaled_lower() : video_fill(uint8_t(rng())));
      d.rows[r] = lower;
    }
  }
  return d;
}


std::vector<uint8_t> video_sample_packet(std::mt19937& rng, VideoSampleKind kind, uint32_t width,
                                         uint32_t height, bool key) {
  VideoFrameSizes z;
  if (!video_frame_sizes(width, height, &z)) return {};
  VideoPlaneOptions o;
  o.buffer_stride = z.luma_stride;
  VideoPacketPlanes p;
  video_write_plane(video_sample_plane(rng, kind, z.luma_width, z.luma_rows, 1, key), 0, o, &p.luma);
  video_write_plane(video_sample_plane(rng, kind, z.chroma_stride, z.chroma_height, 2, key), 0, o, &p.chroma1);
  video_write_plane(video_sample_plane(rng, kind, z.chroma_stride, z.chroma_height, 2, key), 0, o, &p.chroma2);
  return video_write_packet(p, 0);
}
