// Pixel conversion speed: a whole 1920 × 1080 frame to codes 3 (32-bit B, G, R, 0), 10 (5-6-5)
// and 13 (YUY2) with the integer and the SIMD converters, against libyuv (Debian libyuv-dev,
// used only here) doing the same job; and the changed-block path on a frame where 20 % of the
// blocks changed, against the whole-frame path. Single thread; the ratios print at the end.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "convert/convert.h"
#include "video/video_decoder.h"

#ifdef KORVA_HAVE_PEER_YUV
#include <libyuv.h>
#endif

namespace {

constexpr uint32_t kW = 1920, kH = 1080;

struct Frame {
  VideoStore store{};
  std::vector<uint8_t> dest;
  ConvertContext* converters = convert_context_create(kW);
  Frame() {
    video_store_open(&store, kW, kH, false, true);
    std::mt19937 rng(1);
    uint8_t* set = store.planes.plane_sets[0];
    for (size_t i = 0; i < store.sizes.set_bytes; ++i) set[i] = uint8_t(rng());
    dest.assign(size_t(kW) * 4 * kH, 0);
  }
  ~Frame() {
    video_store_close(&store);
    convert_context_destroy(converters);
  }
  const uint8_t* y() const { return store.planes.plane_sets[0]; }
  const uint8_t* v() const { return y() + size_t(store.planes.luma_stride) * store.planes.luma_height; }
  const uint8_t* u() const { return v() + size_t(store.planes.chroma_stride) * store.planes.chroma_height; }
};

Frame& frame() {
  static Frame f;
  return f;
}

void ours(benchmark::State& state, uint32_t code, bool simd) {
  Frame& f = frame();
  const int32_t pitch = int32_t(kW * convert_bytes_per_pixel(code));
  const uint32_t flags = code | kCopyWhole | (simd ? 0 : kCopyNoSimd);
  for (auto _ : state) {
    convert_copy_planes(f.converters, &f.store.planes, kW, kH, f.dest.data(), pitch, kH, flags);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kW * kH);
}

void BM_Ours32Integer(benchmark::State& s) { ours(s, 3, false); }
void BM_Ours32Simd(benchmark::State& s) { ours(s, 3, true); }
void BM_Ours565Integer(benchmark::State& s) { ours(s, 10, false); }
void BM_Ours565Simd(benchmark::State& s) { ours(s, 10, true); }
void BM_OursYuy2Integer(benchmark::State& s) { ours(s, 13, false); }
void BM_OursYuy2Simd(benchmark::State& s) { ours(s, 13, true); }
BENCHMARK(BM_Ours32Integer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours32Simd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours565Integer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours565Simd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursYuy2Integer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursYuy2Simd)->Unit(benchmark::kMillisecond);

#ifdef KORVA_HAVE_PEER_YUV
void BM_Peer32(benchmark::State& state) {
  Frame& f = frame();
  const int ps = int(f.store.planes.luma_stride), cs = int(f.store.planes.chroma_stride);
  for (auto _ : state) {
    libyuv::I420ToARGB(f.y(), ps, f.u(), cs, f.v(), cs, f.dest.data(), int(kW * 4), int(kW), int(kH));
    benchmark::ClobberMemory();
  }
}
void BM_Peer565(benchmark::State& state) {
  Frame& f = frame();
  const int ps = int(f.store.planes.luma_stride), cs = int(f.store.planes.chroma_stride);
  for (auto _ : state) {
    libyuv::I420ToRGB565(f.y(), ps, f.u(), cs, f.v(), cs, f.dest.data(), int(kW * 2), int(kW), int(kH));
    benchmark::ClobberMemory();
  }
}
void BM_PeerYuy2(benchmark::State& state) {
  Frame& f = frame();
  const int ps = int(f.store.planes.luma_stride), cs = int(f.store.planes.chroma_stride);
  for (auto _ : state) {
    libyuv::I420ToYUY2(f.y(), ps, f.u(), cs, f.v(), cs, f.dest.data(), int(kW * 2), int(kW), int(kH));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Peer32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Peer565)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerYuy2)->Unit(benchmark::kMillisecond);
#endif

// Code 3, whole frame against 20 % of the blocks changed, with either set of converters.
void changed(benchmark::State& state, bool whole, bool simd) {
  Frame& f = frame();
  FramePlanes& p = f.store.planes;
  std::mt19937 rng(2);
  for (uint32_t i = 0; i < p.map_blocks; ++i) p.change_map[i] = rng() % 5 == 0;
  const uint32_t flags = 3 | (whole ? kCopyWhole : 0) | (simd ? 0 : kCopyNoSimd);
  for (auto _ : state) {
    convert_copy_planes(f.converters, &p, kW, kH, f.dest.data(), int32_t(kW * 4), kH, flags);
    benchmark::ClobberMemory();
  }
}
void BM_WholeFrameSimd(benchmark::State& s) { changed(s, true, true); }
void BM_ChangedBlocks20Simd(benchmark::State& s) { changed(s, false, true); }
void BM_WholeFrameInteger(benchmark::State& s) { changed(s, true, false); }
void BM_ChangedBlocks20Integer(benchmark::State& s) { changed(s, false, false); }
BENCHMARK(BM_WholeFrameSimd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChangedBlocks20Simd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeFrameInteger)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChangedBlocks20Integer)->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> ns;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.iterations > 0) ns[r.benchmark_name()] = r.GetAdjustedCPUTime();  // the machine is shared
    ConsoleReporter::ReportRuns(runs);
  }
  double get(const char* name) const {
    auto it = ns.find(name);
    return it == ns.end() ? NAN : it->second;
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter r;
  benchmark::RunSpecifiedBenchmarks(&r);
  std::printf("\nours / peer (time ratio; below 1 is faster)\n%8s %10s %10s\n", "code", "integer", "SIMD");
  std::printf("%8s %10.2f %10.2f\n", "3", r.get("BM_Ours32Integer") / r.get("BM_Peer32"),
              r.get("BM_Ours32Simd") / r.get("BM_Peer32"));
  std::printf("%8s %10.2f %10.2f\n", "10", r.get("BM_Ours565Integer") / r.get("BM_Peer565"),
              r.get("BM_Ours565Simd") / r.get("BM_Peer565"));
  std::printf("%8s %10.2f %10.2f\n", "13", r.get("BM_OursYuy2Integer") / r.get("BM_PeerYuy2"),
              r.get("BM_OursYuy2Simd") / r.get("BM_PeerYuy2"));
  std::printf("changed blocks (20 %%) / whole frame, code 3: integer %.2f, SIMD %.2f\n",
              r.get("BM_ChangedBlocks20Integer") / r.get("BM_WholeFrameInteger"),
              r.get("BM_ChangedBlocks20Simd") / r.get("BM_WholeFrameSimd"));
  benchmark::Shutdown();
  return 0;
}
