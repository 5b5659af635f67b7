// krvtool sample: writes a small test movie made by our own writers.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "encode/demo_movie.h"
#include "encode/sample_movie.h"
#include "platform/platform.h"
#include "tools/krvtool/tool.h"

namespace {

const char kUsage[] =
    "usage: krvtool sample OUT.krv [--frames N] [--size WxH] [--rate N] [--no-sound] [--stereo]\n"
    "                              [--rdft] [--tracks 1|2] [--audio-rate HZ] [--version f|g|h|i]\n"
    "                              [--content flat|typical|intra]\n"
    "       krvtool sample OUT.krv --demo [--frames N] [--size WxH] [--rate N] [--audio-rate HZ]\n"
    "  Writes a test movie made by our own writers: flat colours changing every frame, a moving\n"
    "  block on inter frames, a key frame every ten frames and a 440 Hz tone on one sound track\n"
    "  (22050 Hz mono by default; --tracks 2 adds a second track, id 1, a fifth higher).\n"
    "  Defaults: 20 frames of 64 x 48 at 10 frames a second. --content typical or intra codes\n"
    "  synthetic pictures with every block kind instead (a typical mix, or mostly transform\n"
    "  blocks; version i only), as the benchmarks use.\n"
    "  --demo writes the demo movie instead: six seconds of 320 x 240 at 25 frames a second (or\n"
    "  the --frames, --size and --rate given), a drifting colour field, bouncing balls, spinning\n"
    "  squares and a turning bar behind the Korva mark, with a tune in stereo (22050 Hz, or\n"
    "  --audio-rate); a key frame every second, only what changed in between. It prints the\n"
    "  size and how the blocks were coded.\n";

bool number(const char* s, long lo, long hi, long* out) {
  char* end;
  long v = std::strtol(s, &end, 10);
  if (*end || v < lo || v > hi) return false;
  *out = v;
  return true;
}

}  // namespace

int cmd_sample(int argc, char** argv) {
  if (tool_wants_help(argc, argv)) { std::fputs(kUsage, stdout); return 0; }
  const char* out = nullptr;
  SampleMovieSpec s;
  DemoMovieSpec ds;
  bool demo = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    long v;
    if (!std::strcmp(a, "--frames") && i + 1 < argc) {
      if (!number(argv[++i], 1, 100000, &v)) return tool_fail("--frames wants a number from 1 to 100000");
      s.frames = ds.frames = uint32_t(v);
    } else if (!std::strcmp(a, "--rate") && i + 1 < argc) {
      if (!number(argv[++i], 1, 1000, &v)) return tool_fail("--rate wants a number from 1 to 1000");
      s.rate_num = ds.rate = uint32_t(v);
    } else if (!std::strcmp(a, "--size") && i + 1 < argc) {
      unsigned w, h;
      char tail;
      if (std::sscanf(argv[++i], "%ux%u%c", &w, &h, &tail) != 2 || !w || !h || w > 4096 || h > 4096)
        return tool_fail("--size wants WxH, each from 1 to 4096");
      s.width = ds.width = w;
      s.height = ds.height = h;
    } else if (!std::strcmp(a, "--demo")) {
      demo = true;
    } else if (!std::strcmp(a, "--no-sound")) {
      s.audio_rate = 0;
    } else if (!std::strcmp(a, "--stereo")) {
      s.audio_channels = 2;
    } else if (!std::strcmp(a, "--audio-rate") && i + 1 < argc) {
      if (!number(argv[++i], 4000, 48000, &v)) return tool_fail("--audio-rate wants a rate from 4000 to 48000");
      s.audio_rate = ds.audio_rate = uint32_t(v);
    } else if (!std::strcmp(a, "--content") && i + 1 < argc) {
      const char* c = argv[++i];
      if (!std::strcmp(c, "flat")) s.content = 0;
      else if (!std::strcmp(c, "typical")) s.content = 1;
      else if (!std::strcmp(c, "intra")) s.content = 2;
      else return tool_fail("--content wants flat, typical or intra");
    } else if (!std::strcmp(a, "--tracks") && i + 1 < argc) {
      if (!number(argv[++i], 1, 2, &v)) return tool_fail("--tracks wants 1 or 2");
      s.tracks = uint32_t(v);
    } else if (!std::strcmp(a, "--rdft")) {
      s.audio_dct = false;
    } else if (!std::strcmp(a, "--version") && i + 1 < argc) {
      const char* v2 = argv[++i];
      if (std::strlen(v2) != 1 || v2[0] < 'f' || v2[0] > 'i') return tool_fail("--version wants f, g, h or i");
      s.version = uint8_t(v2[0]);
    } else if (!out && a[0] != '-') {
      out = a;
    } else {
      std::fputs(kUsage, stderr);
      return tool_fail("unexpected argument '%s'", a);
    }
  }
  if (!out) { std::fputs(kUsage, stderr); return 1; }
  DemoMovieStats stats;
  std::vector<uint8_t> bytes = demo ? demo_movie_write(ds, &stats) : sample_movie_write(s);
  if (bytes.empty()) return tool_fail("cannot make a movie of that description");
  if (!platform_file_write_all(out, bytes.data(), bytes.size())) return tool_fail("%s: cannot write the file", out);
  if (demo) {
    static const char* const kKinds[10] = {"skip", "scaled", "motion", "run",  "residue",
                                           "intra", "fill", "inter", "pattern", "raw"};
    std::printf("%s: %zu bytes (%llu of pictures, %llu of sound), %u frames of %u x %u\n", out, bytes.size(),
                (unsigned long long)stats.video_bytes, (unsigned long long)stats.audio_bytes, ds.frames, ds.width,
                ds.height);
    std::printf("blocks:");
    for (int k = 0; k < 10; ++k)
      if (stats.blocks[k]) std::printf(" %s %llu", kKinds[k], (unsigned long long)stats.blocks[k]);
    std::printf("\n");
  }
  return 0;
}
