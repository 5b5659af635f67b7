// Movies side by side through the public header: frames a second of one movie decoding and
// copying every frame whole into RGBA, against two such movies in two threads at once (each
// with its own movie and memory). The movie is what `krvtool sample --frames 1000 --size
// 640x480` writes: flat pictures, where the copy is most of the work, so the figure shows
// whether copies of different movies still wait for each other. A second case does the same on
// a 1920 x 1080 typical stream, where decoding dominates.
//
//   bench_movies [--frames N] [--rounds R]   prints each case's median and the ratios
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "encode/sample_movie.h"
#include "include/korva/korva.h"

namespace {

using Clock = std::chrono::steady_clock;

// Plays every frame as fast as it can and returns how many it copied.
uint32_t play(const std::vector<uint8_t>& bytes) {
  korva_open_options o;
  korva_default_options(&o);
  o.flags = KORVA_OPEN_RATE;  // 0 / 0: every frame when asked
  korva_movie* m = korva_open_memory(bytes.data(), bytes.size(), 0, &o);
  if (!m) {
    std::fprintf(stderr, "bench_movies: %s\n", korva_last_error(nullptr));
    std::exit(1);
  }
  korva_info info;
  korva_get_info(m, &info);
  std::vector<uint8_t> rgba(size_t(info.width) * info.height * 4);
  uint32_t frames = 0;
  for (uint32_t i = 0; i < info.frame_count; ++i) {
    if (korva_decode(m) != 0) break;
    korva_copy(m, rgba.data(), int32_t(info.width * 4), info.height, KORVA_FORMAT_RGBA32, KORVA_COPY_WHOLE, nullptr);
    korva_next(m);
    ++frames;
  }
  korva_close(m);
  return frames;
}

// Frames a second of `movies` threads, each playing its own copy of the movie, together; adds
// the processor seconds and wall seconds of the run to *cpu and *wall.
double together(const std::vector<uint8_t>& bytes, uint32_t movies, double* cpu, double* wall) {
  std::vector<std::vector<uint8_t>> copies(movies, bytes);
  std::vector<uint32_t> frames(movies, 0);
  const auto t0 = Clock::now();
  const std::clock_t c0 = std::clock();
  std::vector<std::thread> threads;
  for (uint32_t i = 0; i < movies; ++i) threads.emplace_back([&, i] { frames[i] = play(copies[i]); });
  for (std::thread& t : threads) t.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  *cpu += double(std::clock() - c0) / CLOCKS_PER_SEC;
  *wall += seconds;
  uint32_t total = 0;
  for (uint32_t f : frames) total += f;
  return total / seconds;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void run_case(const char* name, const SampleMovieSpec& shape, uint32_t rounds) {
  const std::vector<uint8_t> bytes = sample_movie_write(shape);
  if (bytes.empty()) {
    std::fprintf(stderr, "bench_movies: cannot write the %s movie\n", name);
    std::exit(1);
  }
  std::vector<double> one, two;
  double cpu1 = 0, wall1 = 0, cpu2 = 0, wall2 = 0;
  for (uint32_t r = 0; r < rounds; ++r) {  // interleaved, so that a busy moment hits both
    one.push_back(together(bytes, 1, &cpu1, &wall1));
    two.push_back(together(bytes, 2, &cpu2, &wall2));
  }
  const double a = median(one), b = median(two);
  std::printf("%-34s one movie %8.1f fps   two movies in two threads %8.1f fps   ratio %.2f\n", name, a, b,
              b / a);
  // On a machine busy with other work the threads do not get their cores, and the ratio says
  // nothing about the library: the processor time the runs got shows it.
  std::printf("%-34s processors used: one movie %.2f, two movies %.2f\n", "", cpu1 / wall1, cpu2 / wall2);
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t frames = 1000, rounds = 5;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--frames") && i + 1 < argc) frames = uint32_t(std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) rounds = uint32_t(std::atoi(argv[++i]));
    else {
      std::printf("usage: bench_movies [--frames N] [--rounds R]\n");
      return std::strcmp(argv[i], "--help") ? 1 : 0;
    }
  }
  if (!frames || !rounds) return 1;
  SampleMovieSpec flat;  // krvtool sample's defaults but the size and length
  flat.width = 640;
  flat.height = 480;
  flat.frames = frames;
  run_case("640 x 480 flat, RGBA copies", flat, rounds);
  SampleMovieSpec typical = flat;
  typical.width = 1920;
  typical.height = 1080;
  typical.content = 1;
  typical.frames = frames / 10 > 20 ? frames / 10 : 20;
  run_case("1920 x 1080 typical, RGBA copies", typical, rounds);
  return 0;
}
