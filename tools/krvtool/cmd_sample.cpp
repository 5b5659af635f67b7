// krvtool sample: writes a small test movie made by our own writers.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "container/container.h"
#include "encode/container_writer.h"
#include "platform/platform.h"
#include "tools/krvtool/tool.h"

namespace {

const char kUsage[] =
    "usage: krvtool sample OUT.krv [--frames N]\n"
    "  Writes a small test movie (64 x 48, 10 frames a second, one sound track, a key frame\n"
    "  every ten frames; default 20 frames).\n";

}  // namespace

int cmd_sample(int argc, char** argv) {
  if (tool_wants_help(argc, argv)) { std::fputs(kUsage, stdout); return 0; }
  const char* out = nullptr;
  long frames = 20;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--frames") && i + 1 < argc) {
      char* end;
      frames = std::strtol(argv[++i], &end, 10);
      if (*end || frames < 1 || frames > 100000) return tool_fail("--frames wants a number from 1 to 100000");
    } else if (!out) {
      out = argv[i];
    } else {
      std::fputs(kUsage, stderr);
      return tool_fail("unexpected argument '%s'", argv[i]);
    }
  }
  if (!out) { std::fputs(kUsage, stderr); return 1; }

  MovieDescription d;
  d.width = 64;
  d.height = 48;
  d.rate_num = 10;
  d.rate_den = 1;
  d.tracks.push_back({0, 44100 | kAudioWordDct | kAudioWordStereo | kAudioWordSixteenBit, 0});
  for (long i = 0; i < frames; ++i) {
    WriterFrame f;
    f.key = i % 10 == 0;
    f.audio.resize(1);
    f.video.assign(64, 0);
    d.frames.push_back(f);
  }
  std::vector<uint8_t> bytes = container_write(d);
  if (!platform_file_write_all(out, bytes.data(), bytes.size())) return tool_fail("%s: cannot write the file", out);
  return 0;
}
