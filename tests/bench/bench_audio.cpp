// Audio benchmarks.
//
// Transforms: our inverse real DFT and our cosine transform (direction +1) against the peer
// library's single-precision in-place plans of the same definitions (half-complex to real, and
// the cosine transform of the third kind), planned with its estimate and measure modes. The
// peer is linked here only; the product never uses it. At the end one table gives each of our
// times as a ratio to the peer's.
//
// Decoding: 44100 Hz stereo tracks (DCT and real-DFT) of a music-like signal, coded with band
// peaks of 7, 15 and 63 (the argument: the largest coefficient code of a band), decoded block
// by block; the counter "realtime" is the multiple of real time on one core, "kbps" the coded
// rate.
#include <benchmark/benchmark.h>
#if KORVA_HAVE_PEER_FFT
#include <fftw3.h>
#endif

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/audio_transform.h"
#include "encode/audio_writer.h"

namespace {

std::vector<float> random_input(int n) {
  std::mt19937 rng{uint32_t(n)};
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> v(static_cast<size_t>(n));
  for (float& x : v) x = dist(rng);
  return v;
}

void BM_OurRdftInverse(benchmark::State& state) {
  const int n = int(state.range(0));
  std::vector<float> in = random_input(n), a = in;
  std::vector<int> sizes(audio_transform_sizes_entries(uint32_t(n)), 0);
  std::vector<float> table(audio_rdft_table_entries(uint32_t(n)));
  audio_rdft(n, -1, a.data(), sizes.data(), table.data());  // builds the tables
  for (auto _ : state) {
    // The transform is linear: scaling back keeps the values in range without a copy.
    audio_rdft(n, -1, a.data(), sizes.data(), table.data());
    for (int i = 0; i < n; i += 64) a[size_t(i)] *= 1e-3f;
    benchmark::ClobberMemory();
  }
}

void BM_OurDctPlus(benchmark::State& state) {
  const int n = int(state.range(0));
  std::vector<float> a = random_input(n);
  std::vector<int> sizes(audio_transform_sizes_entries(uint32_t(n)), 0);
  std::vector<float> table(audio_dct_table_entries(uint32_t(n)));
  audio_dct(n, 1, a.data(), sizes.data(), table.data());
  for (auto _ : state) {
    audio_dct(n, 1, a.data(), sizes.data(), table.data());
    for (int i = 0; i < n; i += 64) a[size_t(i)] *= 1e-3f;
    benchmark::ClobberMemory();
  }
}

#if KORVA_HAVE_PEER_FFT
void peer(benchmark::State& state, fftwf_r2r_kind kind, unsigned flags) {
  const int n = int(state.range(0));
  float* a = fftwf_alloc_real(size_t(n));
  fftwf_plan p = fftwf_plan_r2r_1d(n, a, a, kind, flags);
  std::vector<float> in = random_input(n);
  std::copy(in.begin(), in.end(), a);  // measure mode overwrites the array while planning
  for (auto _ : state) {
    fftwf_execute(p);
    for (int i = 0; i < n; i += 64) a[i] *= 1e-3f;
    benchmark::ClobberMemory();
  }
  fftwf_destroy_plan(p);
  fftwf_free(a);
}

// The same inverse through the peer's complex-to-real interface (its faster path; in place,
// n + 2 floats), for a second view of the real DFT.
void peer_c2r(benchmark::State& state, unsigned flags) {
  const int n = int(state.range(0));
  float* a = fftwf_alloc_real(size_t(n) + 2);
  fftwf_plan p = fftwf_plan_dft_c2r_1d(n, reinterpret_cast<fftwf_complex*>(a), a, flags);
  std::vector<float> in = random_input(n + 2);
  std::copy(in.begin(), in.end(), a);
  for (auto _ : state) {
    fftwf_execute(p);
    for (int i = 0; i < n; i += 64) a[i] *= 1e-3f;
    benchmark::ClobberMemory();
  }
  fftwf_destroy_plan(p);
  fftwf_free(a);
}

void BM_PeerRdftC2rEstimate(benchmark::State& s) { peer_c2r(s, FFTW_ESTIMATE); }
void BM_PeerRdftC2rMeasure(benchmark::State& s) { peer_c2r(s, FFTW_MEASURE); }
void BM_PeerRdftInverseEstimate(benchmark::State& s) { peer(s, FFTW_HC2R, FFTW_ESTIMATE); }
void BM_PeerRdftInverseMeasure(benchmark::State& s) { peer(s, FFTW_HC2R, FFTW_MEASURE); }
void BM_PeerDctPlusEstimate(benchmark::State& s) { peer(s, FFTW_REDFT01, FFTW_ESTIMATE); }
void BM_PeerDctPlusMeasure(benchmark::State& s) { peer(s, FFTW_REDFT01, FFTW_MEASURE); }

#endif

BENCHMARK(BM_OurRdftInverse)->RangeMultiplier(2)->Range(512, 4096);
BENCHMARK(BM_OurDctPlus)->RangeMultiplier(2)->Range(512, 4096);
#if KORVA_HAVE_PEER_FFT
BENCHMARK(BM_PeerRdftInverseEstimate)->RangeMultiplier(2)->Range(512, 4096);
BENCHMARK(BM_PeerRdftInverseMeasure)->RangeMultiplier(2)->Range(512, 4096);
BENCHMARK(BM_PeerRdftC2rEstimate)->RangeMultiplier(2)->Range(512, 4096);
BENCHMARK(BM_PeerRdftC2rMeasure)->RangeMultiplier(2)->Range(512, 4096);
BENCHMARK(BM_PeerDctPlusEstimate)->RangeMultiplier(2)->Range(512, 4096);
BENCHMARK(BM_PeerDctPlusMeasure)->RangeMultiplier(2)->Range(512, 4096);
#endif

// One second of a music-like stereo signal: a few partials with vibrato, some noise.
std::vector<int16_t> music(uint32_t rate, uint32_t frames) {
  std::vector<int16_t> pcm(size_t(frames) * 2);
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0.0, 300.0);
  const double kPi = 3.14159265358979323846;
  for (uint32_t i = 0; i < frames; ++i) {
    const double t = double(i) / rate;
    for (uint32_t c = 0; c < 2; ++c) {
      double v = noise(rng);
      for (int h = 1; h <= 8; ++h)
        v += 6000.0 / h * std::sin(2 * kPi * (220.0 + 110 * c) * h * t + 0.3 * std::sin(2 * kPi * 5 * t));
      pcm[size_t(i) * 2 + c] = int16_t(std::lround(std::min(32767.0, std::max(-32768.0, v))));
    }
  }
  return pcm;
}

void decode_track(benchmark::State& state, bool dct) {
  const uint32_t rate = 44100, frames = rate;
  AudioDecoder* enc = audio_decoder_open(rate, 2, dct);
  AudioDecoder* dec = audio_decoder_open(rate, 2, dct);
  const std::vector<int16_t> pcm = music(rate, frames);
  const uint32_t peak = uint32_t(state.range(0));
  const std::vector<std::vector<uint8_t>> blocks = audio_encode_signal(enc, pcm.data(), frames, peak);
  size_t coded = 0;
  for (const auto& b : blocks) coded += b.size();
  const double seconds = double(blocks.size()) * (dec->block_bytes - dec->overlap_bytes) / 4 / rate;
  for (auto _ : state) {
    for (const auto& b : blocks) {
      const int16_t* out;
      uint32_t bytes;
      audio_decode_block(dec, b.data(), b.size(), &out, &bytes, nullptr);
      benchmark::DoNotOptimize(out[0]);
    }
  }
  state.counters["realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["kbps"] = coded * 8 / seconds / 1000;
  audio_decoder_close(enc);
  audio_decoder_close(dec);
}

void BM_DecodeDctStereo44100(benchmark::State& s) { decode_track(s, true); }
void BM_DecodeRdftStereo44100(benchmark::State& s) { decode_track(s, false); }
BENCHMARK(BM_DecodeDctStereo44100)->Arg(7)->Arg(15)->Arg(63)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeRdftStereo44100)->Arg(7)->Arg(15)->Arg(63)->Unit(benchmark::kMillisecond);

// Collects each run's time per iteration for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> ns;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.iterations > 0) ns[r.benchmark_name()] = r.GetAdjustedCPUTime() * (r.time_unit == benchmark::kMillisecond ? 1e6 : r.time_unit == benchmark::kMicrosecond ? 1e3 : 1.0);
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
#if KORVA_HAVE_PEER_FFT
  std::printf("\nours / peer (time ratio; below 1 is faster)\n%6s %14s %14s %14s %14s %14s %14s\n", "n",
              "rdft/estimate", "rdft/measure", "c2r/estimate", "c2r/measure", "dct/estimate", "dct/measure");
  for (int n = 512; n <= 4096; n *= 2) {
    auto get = [&](const char* name) {
      auto it = reporter.ns.find(std::string(name) + "/" + std::to_string(n));
      return it == reporter.ns.end() ? NAN : it->second;
    };
    std::printf("%6d %14.2f %14.2f %14.2f %14.2f %14.2f %14.2f\n", n,
                get("BM_OurRdftInverse") / get("BM_PeerRdftInverseEstimate"),
                get("BM_OurRdftInverse") / get("BM_PeerRdftInverseMeasure"),
                get("BM_OurRdftInverse") / get("BM_PeerRdftC2rEstimate"),
                get("BM_OurRdftInverse") / get("BM_PeerRdftC2rMeasure"),
                get("BM_OurDctPlus") / get("BM_PeerDctPlusEstimate"),
                get("BM_OurDctPlus") / get("BM_PeerDctPlusMeasure"));
  }
#else
  std::printf("\n(built without the peer library: no ratios)\n");
#endif
  benchmark::Shutdown();
  return 0;
}
