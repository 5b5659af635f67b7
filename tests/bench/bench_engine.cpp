// The engine's own cost:
//   open: movie_open of a 10 000-frame movie from a file (header, tables, index, peak second),
//   decode_alone / engine_fast: a 1920 × 1080 "typical" movie with a 44100 Hz stereo track,
//     its packets decoded directly (audio packets walked into a scratch buffer, video packets
//     decoded frame after frame) against the same movie played by the engine as fast as
//     possible (/F: movie_do_frame and movie_next_frame, sound fed to the capture back end);
//     the ratio is the engine's overhead,
// and, after the benchmarks, the memory the movie holds while it plays against the peak
// resident memory the process grew by.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/unit/test_sound.h"
#include "audio/audio_decoder.h"
#include "container/container.h"
#include "playback/movie.h"
#include "encode/sample_movie.h"
#include "platform/platform.h"
#include "playback/engine.h"
#include "sound/backends/capture.h"
#include "sound/sound.h"
#include "video/video_decoder.h"

namespace {

constexpr uint32_t kHdFrames = 48;

const std::vector<uint8_t>& hd_movie() {
  static std::vector<uint8_t> bytes;
  if (bytes.empty()) {
    SampleMovieSpec s;
    s.width = 1920;
    s.height = 1080;
    s.frames = kHdFrames;
    s.rate_num = 24;
    s.key_every = 24;
    s.content = 1;  // typical
    s.audio_rate = 44100;
    s.audio_channels = 2;
    bytes = sample_movie_write(s);
  }
  return bytes;
}

std::string long_movie_file() {
  static std::string path;
  if (path.empty()) {
    SampleMovieSpec s;
    s.frames = 10000;
    s.rate_num = 25;
    s.audio_rate = 0;
    std::vector<uint8_t> bytes = sample_movie_write(s);
    path = "/tmp/korva_bench_10000.krv";
    platform_file_write_all(path.c_str(), bytes.data(), bytes.size());
  }
  return path;
}

void BM_Open10000Frames(benchmark::State& state) {
  const std::string path = long_movie_file();
  for (auto _ : state) {
    Movie* m = open_with(movie_open_name(path.c_str(), kOpenNoThread | kOpenNoInitialFill));
    if (!m) {
      state.SkipWithError(movie_last_error());
      return;
    }
    benchmark::DoNotOptimize(m->stats.peak_second_bytes);
    movie_close(m);
  }
}
BENCHMARK(BM_Open10000Frames)->Unit(benchmark::kMillisecond);

// Every packet of the movie decoded directly, without the engine.
void BM_DecodeAlone(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = hd_movie();
  ContainerView v;
  if (container_open_view(bytes.data(), bytes.size(), &v)) {
    state.SkipWithError("bad movie");
    return;
  }
  VideoStore st;
  video_store_open(&st, 1920, 1080, false, false);
  AudioDecoder* d = audio_decoder_open(44100, 2, true);
  std::vector<uint8_t> ring(1 << 20);
  uint32_t frame = 0;
  for (auto _ : state) {
    const uint8_t *f, *p;
    uint32_t n, pn;
    bool key;
    container_frame(&v, frame, &f, &n, &key);
    container_audio_packet(f, n, 1, 0, &p, &pn);
    AudioPacketCursor c;
    audio_packet_begin(&c, p, pn);
    const int16_t* pcm;
    uint32_t got, at = 0;
    while (audio_packet_next(d, &c, &pcm, &got)) {
      std::memcpy(ring.data() + at, pcm, got);
      at = (at + got) % (ring.size() / 2);
    }
    container_video_packet(f, n, 1, &p, &pn);
    std::memset(st.planes.change_map, 0, st.planes.map_blocks);
    video_decode_next(&st.planes, 1920, 1080, p, pn, key, 0, 0);
    frame = frame + 1 < kHdFrames ? frame + 1 : 0;
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  audio_decoder_close(d);
  video_store_close(&st);
}
BENCHMARK(BM_DecodeAlone)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_EngineFast(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = hd_movie();
  CaptureConfig c;
  capture_default_config(&c);
  sound_use_system(&test_sound(), capture_provider, &c);
  MovieImage img{bytes.data(), bytes.size()};
  MovieOpen o = movie_open_image(&img, kOpenRateOverride);
  o.rate_num = o.rate_den = 0;
  Movie* m = open_with(o);
  if (!m || m->feed.count != 1) {
    state.SkipWithError("cannot open the movie with its sound");
    return;
  }
  for (auto _ : state) {
    movie_wait(m);
    movie_do_frame(m);
    movie_changed_rects(0, m);
    movie_next_frame(m);
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  movie_close(m);
}
BENCHMARK(BM_EngineFast)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// Resident memory of the process in KiB (Linux), 0 when unknown.
uint64_t rss_kib() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  uint64_t kib = 0;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "VmRSS: %lu kB", reinterpret_cast<unsigned long*>(&kib)) == 1) break;
  std::fclose(f);
  return kib;
}

// Plays the movie from a file (read-ahead ring, background thread, sound) as fast as possible
// and compares what the resident memory grew by with the buffers the movie allocated.
void report_memory() {
  const std::vector<uint8_t>& bytes = hd_movie();
  const std::string path = "/tmp/korva_bench_hd.krv";
  platform_file_write_all(path.c_str(), bytes.data(), bytes.size());
  CaptureConfig c;
  capture_default_config(&c);
  c.log_cap = 0;  // keep nothing: only the movie's own buffers count
  sound_use_system(&test_sound(), capture_provider, &c);
  const uint64_t before = rss_kib();
  MovieOpen o = movie_open_name(path.c_str(), kOpenRateOverride);
  o.rate_num = o.rate_den = 0;
  Movie* m = open_with(o);
  if (!m) {
    std::printf("memory: cannot open: %s\n", movie_last_error());
    return;
  }
  for (uint32_t i = 0; i < kHdFrames; ++i) {
    movie_do_frame(m);
    movie_next_frame(m);
  }
  const uint64_t after = rss_kib();
  uint64_t decoder = 0;
  for (uint32_t t = 0; t < m->feed.count; ++t) decoder += m->feed.outputs[t].ring_size + 64 * 1024;
  std::printf("memory while playing 1920x1080 with sound: movie buffers %u KiB (+ %lu KiB rings and "
              "audio decoder), resident memory grew by %lu KiB\n",
              m->stats.total_memory / 1024, (unsigned long)(decoder / 1024), (unsigned long)(after - before));
  movie_close(m);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  report_memory();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
