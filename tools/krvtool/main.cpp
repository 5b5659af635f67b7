// krvtool: inspection and export of .krv movies.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "container/container.h"
#include "base/cpu.h"
#include "platform/platform.h"
#include "video/video_decoder.h"
#include "tools/krvtool/tool.h"

namespace {

struct ToolCommand {
  const char* name;
  tool_command_fn run;
  const char* summary;
};

const ToolCommand kCommands[] = {
    {"info", cmd_info, "info MOVIE [--frames]           header, tracks, index, key frames, peak rate"},
    {"options", cmd_options, "options \"TEXT\" [--defaults \"TEXT\"] [--profile \"TEXT\"]  what a command line means"},
    {"planes", cmd_planes, "planes MOVIE OUT.raw [--alpha] [--maps]  decoded planes of every frame"},
    {"pcm", cmd_pcm, "pcm MOVIE TRACK OUT.raw         16-bit PCM of one track"},
    {"wav", cmd_wav, "wav MOVIE TRACK OUT.wav         one track as a WAV file"},
    {"frames", cmd_frames, "frames MOVIE OUTDIR --format CODE [--double M] [--grey] [--every N] [--raw] [--y4m FILE]  converted pictures"},
    {"play", cmd_play, "play MOVIE [SWITCHES]            headless playback through the engine (/Q, /S, /F ...)"},
    {"sample", cmd_sample, "sample OUT.krv [--frames N]     write a small test movie"},
    {"thumbnail", cmd_thumbnail, "thumbnail MOVIE OUT.png [--size N]  a picture that stands for the movie (file managers)"},
    {"bundle", cmd_bundle, "bundle PLAYER MOVIE OUT [SWITCHES]  a self-running movie: the player with the movie"},
};

void usage(FILE* out) {
  std::fprintf(out, "usage: krvtool COMMAND [ARGS]   (krvtool COMMAND --help for details)\n\ncommands:\n");
  for (const ToolCommand& c : kCommands) std::fprintf(out, "  %s\n", c.summary);
  std::fprintf(out, "\nwith any command: --cpu plain|sse2|avx2  limits the SIMD code used (as KORVA_CPU does)\n");
}

}  // namespace

int tool_fail(const char* fmt, ...) {
  std::fputs("krvtool: ", stderr);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fputc('\n', stderr);
  return 1;
}

bool tool_wants_help(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) return true;
  return false;
}

bool tool_read_file(const char* name, std::vector<uint8_t>* out, const char** error) {
  PlatformFile* f = platform_file_open(name);
  if (!f) { *error = "cannot open the file"; return false; }
  int64_t size = platform_file_size(f);
  if (size < 0 || size > int64_t(0x7fffffff)) {
    platform_file_close(f);
    *error = size < 0 ? "cannot read the file's size" : "the file is larger than 2 GiB";
    return false;
  }
  out->resize(size_t(size));
  int64_t got = size ? platform_file_read(f, out->data(), uint32_t(size)) : 0;
  platform_file_close(f);
  if (got != size) { *error = "cannot read the file"; return false; }
  return true;
}

const char* tool_decode_video_frame(const ContainerView* v, uint32_t i, FramePlanes* planes, uint32_t movie_flags,
                                    bool* damaged) {
  const uint8_t* frame;
  uint32_t frame_size;
  bool key;
  if (!container_frame(v, i, &frame, &frame_size, &key)) return "a frame lies outside the file";
  const uint8_t* packet;
  uint32_t packet_size;
  if (const char* e = container_video_packet(frame, frame_size, v->header.track_count, &packet, &packet_size)) return e;
  std::memset(planes->change_map, 0, planes->map_blocks);
  *damaged = !video_decode_next(planes, v->header.width, v->header.height, packet, packet_size, key, movie_flags,
                                v->header.flags);
  return nullptr;
}

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    usage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 1 : 0;
  }
  // The library ignores a KORVA_CPU it does not know (no limit); say so here, where a person reads.
  const char* env_cpu = std::getenv("KORVA_CPU");
  uint32_t env_level;
  if (env_cpu && *env_cpu && !cpu_parse_level(env_cpu, &env_level))
    std::fprintf(stderr, "krvtool: KORVA_CPU='%s' is not plain, sse2 or avx2; ignored\n", env_cpu);
  // --cpu LEVEL, wherever it stands, limits the SIMD code of every command (as KORVA_CPU does).
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--cpu")) {
      uint32_t level;
      if (i + 1 >= argc) return tool_fail("--cpu wants a level: plain, sse2 or avx2");
      if (!cpu_parse_level(argv[i + 1], &level))
        return tool_fail("--cpu wants plain, sse2 or avx2, not '%s'", argv[i + 1]);
      cpu_set_limit(level);
      ++i;
      continue;
    }
    argv[kept++] = argv[i];
  }
  argc = kept;
  argv[argc] = nullptr;
  if (argc < 2) {
    usage(stderr);
    return 1;
  }
  for (const ToolCommand& c : kCommands)
    if (!std::strcmp(argv[1], c.name)) return c.run(argc - 1, argv + 1);
  tool_fail("unknown command '%s'", argv[1]);
  usage(stderr);
  return 1;
}
