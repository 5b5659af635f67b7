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

#include "encode/video_sample_streams.h"
#include "video/video_decoder.h"

namespace {

using Kind = VideoSampleKind;
constexpr Kind kIntra = kSampleIntra, kTypical = kSampleTypical, kFlat = kSampleFlat;
constexpr int kFrames = 8;

struct Stream {
  uint32_t w, h;
  std::vector<std::vector<uint8_t>> packets;
};

const Stream& stream(Kind kind, uint32_t w, uint32_t h) {
  static std::vector<Stream*> cache[3];
  for (Stream* s : cache[kind])
    if (s->w == w && s->h == h) return *s;
  Stream* s = new Stream{w, h, {}};
  std::mt19937 rng(1 + kind);
  for (int f = 0; f < kFrames; ++f) s->packets.push_back(video_sample_packet(rng, kind, w, h, f == 0));
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
