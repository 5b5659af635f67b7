// Frame decoding speed: whole video packets (version "i", luma and both chroma planes) decoded
// with video_decode_next, single thread. Three kinds of stream, made by the writers:
//   intra: every block an intra transform block with 6 bit planes (about a dozen values),
//   typical: inter frames of about 60 % skip and motion, 25 % transform or residue (inter
//            blocks of a few small values, intra blocks of a few low-frequency values, residues
//            of six small values), the rest fill, pattern and run (the key frame that starts
//            the stream is decoded once, outside the timed loop),
//   flat: fill blocks and scaled (16 × 16) fill and pattern blocks.
// Counters: fps = frames per second, MPix/s = megapixels (W × H) per second.
//
//   cmake -B build/bench -DKORVA_BENCH=ON -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/bench --target bench_video && ./build/bench/tests/bench/bench_video
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "encode/video_plane_writer.h"
#include "video/video_decoder.h"

namespace {

enum Kind { kIntra = 0, kTypical = 1, kFlat = 2 };
constexpr int kFrames = 8;

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

VideoPlaneDesc plane(std::mt19937& rng, Kind kind, uint32_t w, uint32_t h, uint32_t scale,
                     bool key) {
  VideoPlaneDesc d;
  d.width = w;
  d.height = h;
  d.scale = scale;
  d.rows.resize(h / 8);
  uint8_t rows[8] = {0x01, 0x03, 0x07, 0x0f, 0x1f, 0x3f, 0x7f, 0xff};
  for (uint32_t r = 0; r < h / 8; ++r) {
    for (uint32_t x = 0; x < w / 8;) {
      if (kind == kFlat && r % 2 == 0 && r + 1 < h / 8 && x + 1 < w / 8 && rng() % 2) {
        VideoBlock inner = rng() % 2 ? video_fill(uint8_t(rng())) : video_pattern(10, 240, rows);
        d.rows[r].push_back(video_scaled(inner));
        d.rows[r + 1].push_back(video_scaled_lower());
        x += 2;
        continue;
      }
      // Lower rows of flat planes: skip the columns the pairs above already hold.
      if (kind == kFlat && r % 2 == 1) break;
      d.rows[r].push_back(kind == kIntra ? intra_block(rng)
                          : kind == kTypical ? typical_block(rng, key)
                                             : video_fill(uint8_t(rng())));
      ++x;
    }
  }
  if (kind == kFlat) {
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

struct Stream {
  uint32_t w, h;
  std::vector<std::vector<uint8_t>> packets;
};

const Stream& stream(Kind kind, uint32_t w, uint32_t h) {
  static std::vector<Stream*> cache[3];
  for (Stream* s : cache[kind])
    if (s->w == w && s->h == h) return *s;
  Stream* s = new Stream{w, h, {}};
  VideoFrameSizes z;
  video_frame_sizes(w, h, &z);
  std::mt19937 rng(1 + kind);
  VideoPlaneOptions o;
  o.buffer_stride = z.luma_stride;
  for (int f = 0; f < kFrames; ++f) {
    bool key = f == 0;
    VideoPacketPlanes p;
    video_write_plane(plane(rng, kind, z.luma_width, z.luma_rows, 1, key), 0, o, &p.luma);
    video_write_plane(plane(rng, kind, z.chroma_stride, z.chroma_height, 2, key), 0, o, &p.chroma1);
    video_write_plane(plane(rng, kind, z.chroma_stride, z.chroma_height, 2, key), 0, o, &p.chroma2);
    s->packets.push_back(video_write_packet(p, 0));
  }
  cache[kind].push_back(s);
  return *s;
}

void BM_DecodeFrame(benchmark::State& state) {
  Kind kind = Kind(state.range(0));
  uint32_t w = uint32_t(state.range(1)), h = uint32_t(state.range(2));
  const Stream& s = stream(kind, w, h);
  VideoStore st;
  if (!video_store_open(&st, w, h, false, false)) {
    state.SkipWithError("no memory");
    return;
  }
  // Frame 0 once so that every later frame has a real reference.
  video_decode_next(&st.planes, w, h, s.packets[0].data(), s.packets[0].size(), true, 0, 0);
  size_t i = 1, bytes = 0;
  bool ok = true;
  for (auto _ : state) {
    const std::vector<uint8_t>& p = s.packets[i];
    std::memset(st.planes.change_map, 0, st.planes.map_blocks);
    ok &= video_decode_next(&st.planes, w, h, p.data(), p.size(), kind != kTypical, 0, 0);
    bytes += p.size();
    i = i + 1 < s.packets.size() ? i + 1 : kind == kTypical ? 1 : 0;
  }
  if (!ok) state.SkipWithError("a packet did not decode completely");
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["MPix/s"] = benchmark::Counter(double(state.iterations()) * w * h / 1e6,
                                                benchmark::Counter::kIsRate);
  state.counters["KiB/frame"] = double(bytes) / 1024.0 / double(state.iterations());
  state.SetLabel(kind == kIntra ? "intra" : kind == kTypical ? "typical" : "flat");
  video_store_close(&st);
}

BENCHMARK(BM_DecodeFrame)
    ->ArgNames({"kind", "w", "h"})
    ->Args({kIntra, 640, 480})
    ->Args({kTypical, 640, 480})
    ->Args({kFlat, 640, 480})
    ->Args({kIntra, 1920, 1080})
    ->Args({kTypical, 1920, 1080})
    ->Args({kFlat, 1920, 1080})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
