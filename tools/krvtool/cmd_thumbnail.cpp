// krvtool thumbnail: one picture that stands for the movie, for file managers.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/options.h"
#include "container/container.h"
#include "container/open_flags.h"
#include "convert/convert.h"
#include "display/backends/memory_surface.h"
#include "platform/platform.h"
#include "playback/limits.h"
#include "tools/krvtool/tool.h"
#include "video/video_decoder.h"

namespace {

const char kUsage[] =
    "usage: krvtool thumbnail MOVIE OUT.png [--size N] [--max-area MP] [--max-memory MIB]\n"
    "                         [--timeout S]\n"
    "  Writes a picture that stands for the movie: the first of the frames at an eighth, a\n"
    "  quarter, three eighths and half of its length that is neither dark, bright nor faded (or\n"
    "  the liveliest of them), as the player shows it (doubling included), shrunk to fit\n"
    "  N x N pixels (default 256) with its aspect kept; a smaller picture keeps its size. Each\n"
    "  pixel is the exact average of the area it covers, as `krvtool frames --fit N` makes it.\n"
    "  OUT.png appears only when it is complete. Prints which frame it took.\n"
    "  File managers run it on every movie that lands in a folder, so it keeps within limits: a\n"
    "  movie whose picture has more than MP megapixels (default 64), or that needs more than MIB\n"
    "  MiB of memory (default 512, the file included), is refused with a one-line reason without\n"
    "  an attempt, and after S seconds (default 5) it stops with a message and no OUT.png. 0\n"
    "  lifts a limit.\n"
    "  File managers run it as: krvtool thumbnail %i %o --size %s\n";

// At most this many frames are decoded to reach the chosen ones: a thumbnail must come quickly,
// even for a long movie whose only key frame is its first.
constexpr uint32_t kDecodeBudget = 1500;
constexpr uint32_t kCandidates = 4;  // eighths of the movie

// How lively a picture is, from its luma: mean and spread over a grid of samples.
struct Liveliness {
  uint32_t mean;
  uint32_t spread;  // mean absolute difference from the mean
};

Liveliness frame_liveliness(const FramePlanes& p, uint32_t w, uint32_t h) {
  const uint8_t* luma = p.plane_sets[p.current_set];
  const uint32_t step_x = w / 64 + 1, step_y = h / 64 + 1;
  uint64_t sum = 0, n = 0;
  for (uint32_t y = 0; y < h; y += step_y)
    for (uint32_t x = 0; x < w; x += step_x, ++n) sum += luma[size_t(y) * p.luma_stride + x];
  Liveliness l{uint32_t(sum / n), 0};
  uint64_t diff = 0;
  for (uint32_t y = 0; y < h; y += step_y)
    for (uint32_t x = 0; x < w; x += step_x) {
      const int d = int(luma[size_t(y) * p.luma_stride + x]) - int(l.mean);
      diff += uint32_t(d < 0 ? -d : d);
    }
  l.spread = uint32_t(diff / n);
  return l;
}

bool is_lively(const Liveliness& l) { return l.mean >= 32 && l.mean <= 224 && l.spread >= 16; }

// The last key frame at or before frame i (frame 0 when none is marked).
uint32_t key_frame_before(const ContainerView* v, uint32_t i) {
  for (;; --i) {
    const uint8_t* bytes;
    uint32_t size;
    bool key;
    if (i == 0 || (container_frame(v, i, &bytes, &size, &key) && key)) return i;
  }
}

bool parse_number(const char* s, uint32_t low, uint32_t high, uint32_t* out) {
  if (!s || *s < '0' || *s > '9') return false;
  char* end = nullptr;
  unsigned long v = std::strtoul(s, &end, 10);
  if (*end || v < low || v > high) return false;
  *out = uint32_t(v);
  return true;
}

// Ends the program when the thumbnail is not written within its time. The write itself (the
// part file and its rename) runs under the lock and ends by setting `done`, so the watchdog
// never leaves a partial file: it either finds nothing written yet or the thumbnail complete.
struct Watchdog {
  std::mutex lock;
  std::condition_variable done_changed;
  bool done = false;
  std::thread thread;
};

void watchdog_start(Watchdog* w, uint32_t seconds, const char* name) {
  w->thread = std::thread([w, seconds, name] {
    std::unique_lock<std::mutex> hold(w->lock);
    if (w->done_changed.wait_for(hold, std::chrono::seconds(seconds), [w] { return w->done; })) return;
    tool_fail("%s: no thumbnail within %u s (the time limit; --timeout changes it)", name, seconds);
    std::fflush(stderr);
    std::_Exit(1);
  });
}

void watchdog_stop(Watchdog* w) {
  if (!w->thread.joinable()) return;
  {
    std::lock_guard<std::mutex> hold(w->lock);
    w->done = true;
  }
  w->done_changed.notify_all();
  w->thread.join();
}

// The file's size against the memory limit, before it is read whole.
bool file_within_limit(const char* arg, uint64_t max_memory) {
  if (!max_memory) return true;
  ResolvedName r;
  const char* error = nullptr;
  if (std::strchr(arg, '|') && !resolve_movie_name(arg, &r, &error)) return true;  // told when loading
  PlatformFile* f = platform_file_open(std::strchr(arg, '|') ? r.file : arg);
  if (!f) return true;
  const int64_t size = platform_file_size(f);
  platform_file_close(f);
  if (size < 0 || uint64_t(size) <= max_memory) return true;
  tool_fail("%s: the file of %.1f MiB is larger than the memory limit of %g MiB", arg, double(size) / (1 << 20),
            double(max_memory) / (1 << 20));
  return false;
}

int make_thumbnail(const char* name, const char* out_name, uint32_t box, const MovieLimits& limits, Watchdog* watchdog);

}  // namespace

int cmd_thumbnail(int argc, char** argv) {
  if (tool_wants_help(argc, argv)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const char* name = nullptr;
  const char* out_name = nullptr;
  uint32_t box = 256, megapixels = uint32_t(kDefaultMaxArea >> 20), mebibytes = uint32_t(kDefaultMaxMemory >> 20);
  uint32_t seconds = 5;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!std::strcmp(a, "--size")) {
      if (i + 1 >= argc || !parse_number(argv[++i], 1, 4096, &box))
        return tool_fail("--size needs a number of pixels from 1 to 4096");
    } else if (!std::strcmp(a, "--max-area")) {
      if (i + 1 >= argc || !parse_number(argv[++i], 0, 256, &megapixels))
        return tool_fail("--max-area needs megapixels from 0 (no limit) to 256");
    } else if (!std::strcmp(a, "--max-memory")) {
      if (i + 1 >= argc || !parse_number(argv[++i], 0, 1u << 20, &mebibytes))
        return tool_fail("--max-memory needs MiB from 0 (no limit) to 1048576");
    } else if (!std::strcmp(a, "--timeout")) {
      if (i + 1 >= argc || !parse_number(argv[++i], 0, 86400, &seconds))
        return tool_fail("--timeout needs seconds from 0 (no limit) to 86400");
    } else if (a[0] == '-' && a[1] == '-') {
      std::fputs(kUsage, stderr);
      return tool_fail("unknown option '%s'", a);
    } else if (!name) {
      name = a;
    } else if (!out_name) {
      out_name = a;
    } else {
      std::fputs(kUsage, stderr);
      return tool_fail("unexpected argument '%s'", a);
    }
  }
  if (!name || !out_name) {
    std::fputs(kUsage, stderr);
    return 1;
  }

#ifndef KORVA_HAVE_PNG
  return tool_fail("PNG output not available in this build");
#endif
  Watchdog watchdog;
  if (seconds) watchdog_start(&watchdog, seconds, name);
  const int result = make_thumbnail(name, out_name, box, MovieLimits{uint64_t(megapixels) << 20, uint64_t(mebibytes) << 20},
                                    &watchdog);
  watchdog_stop(&watchdog);
  return result;
}

namespace {

int make_thumbnail(const char* name, const char* out_name, uint32_t box, const MovieLimits& limits, Watchdog* watchdog) {
  if (!file_within_limit(name, limits.max_memory)) return 1;
  std::vector<uint8_t> file;
  ContainerView v;
  if (!tool_load_movie(name, &file, &v)) return 1;
  const ContainerHeader& h = v.header;
  const uint32_t movie_flags = tool_movie_flags(h, false, false, 0);
  const uint32_t mode = (movie_flags & kCopyDoublingMask) >> kCopyDoublingShift;
  // What the decoding takes, with the file and the pictures made of it: the display picture,
  // the chosen one and the shrunk one (RGB, 4 bytes a pixel at most).
  MovieNeeds needs;
  movie_needs(&h, &v.info, nullptr, 0, kOpenFromMemory, &needs);
  const uint64_t display_area = uint64_t(h.width) * convert_width_factor(mode) * h.height * convert_row_factor(mode);
  needs.memory += file.size() + 2 * 4 * display_area + 4ull * box * box;
  char refusal[kLimitTextBytes];
  if (movie_check_limits(&limits, &h, &needs, refusal)) return tool_fail("%s: %s", name, refusal);
  VideoStore st;
  if (!video_store_open(&st, h.width, h.height, movie_flags & kVideoFlagAlpha, v.info.all_key_frames))
    return tool_fail("%s: cannot hold a %u x %u picture", name, h.width, h.height);
  const uint32_t display_w = h.width * convert_width_factor(mode);
  const uint32_t display_h = h.height * convert_row_factor(mode);
  MemorySurface* surface = memory_surface_open(kFormatRgb24, display_w, display_h, 0, 0, 0);
  if (!surface) {
    video_store_close(&st);
    return tool_fail("%s: cannot hold a surface of %u x %u", name, display_w, display_h);
  }
  ConvertContext* converters = convert_context_create(h.width);
  if (!converters) {
    memory_surface_close(surface);
    video_store_close(&st);
    return tool_fail("%s: out of memory", name);
  }
  CopySource src{};
  src.context = converters;
  src.planes = &st.planes;
  src.width = display_w;
  src.height = display_h;
  src.coded_width = h.width;
  src.coded_height = h.height;
  src.movie_flags = movie_flags;

  // Candidates in order through the movie; decoding runs on from one to the next, or restarts
  // at a later key frame when that is nearer.
  std::vector<uint8_t> best(size_t(display_w) * display_h * 3);
  uint32_t best_frame = 0, best_spread = 0, decoded = 0, next = 0;
  bool have = false, found = false;
  const char* error = nullptr;
  for (uint32_t k = 1; k <= kCandidates && !found && !error; ++k) {
    uint32_t target = uint32_t(uint64_t(h.frame_count) * k / (2 * kCandidates));
    if (have && target < next) continue;  // a short movie: the same frame again
    const uint32_t key = key_frame_before(&v, target);
    if (key >= next) next = key;
    if (target + 1 - next > kDecodeBudget - decoded) {
      if (have) break;
      target = next + kDecodeBudget - 1;  // the first candidate, nearer its key frame
    }
    for (; next <= target; ++next, ++decoded) {
      bool damaged = false;
      error = tool_decode_video_frame(&v, next, &st.planes, movie_flags, &damaged);
      if (!error && damaged) error = "a damaged video packet";
      if (error) break;  // `next` names the frame
    }
    if (error) break;
    const Liveliness l = frame_liveliness(st.planes, h.width, h.height);
    found = is_lively(l);
    if (!have || found || l.spread > best_spread) {
      memory_surface_copy(surface, &src, kCopyWhole);
      memory_surface_to_rgb(surface, best.data());
      best_frame = target;
      best_spread = l.spread;
      have = true;
    }
  }
  memory_surface_close(surface);
  video_store_close(&st);
  convert_context_destroy(converters);
  if (!have) return tool_fail("%s: frame %u: %s", name, next, error ? error : "cannot be decoded");

  uint32_t ow, oh;
  tool_fit_size(display_w, display_h, box, &ow, &oh);
  std::vector<uint8_t> fitted;
  const uint8_t* picture = best.data();
  if (ow != display_w || oh != display_h) {
    fitted.resize(size_t(ow) * oh * 3);
    tool_scale_rgb(best.data(), display_w, display_h, fitted.data(), ow, oh);
    picture = fitted.data();
  }
  // Written beside OUT.png and renamed over it: a file manager never sees half a picture.
  const std::string part = std::string(out_name) + ".part";
  std::lock_guard<std::mutex> hold(watchdog->lock);
  if (!tool_write_png(part.c_str(), picture, ow, oh) || std::rename(part.c_str(), out_name) != 0) {
    std::remove(part.c_str());
    return tool_fail("%s: cannot write the file", out_name);
  }
  watchdog->done = true;  // complete: the time limit no longer applies
  std::printf("frame %u of %u, %u x %u\n", best_frame, h.frame_count, ow, oh);
  return 0;
}

}  // namespace
