// krvtool info: header, tracks, index, key frames and peak rate of a movie.
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/options.h"
#include "container/container.h"
#include "tools/krvtool/tool.h"

namespace {

const char kUsage[] =
    "usage: krvtool info MOVIE [--frames]\n"
    "  Prints the movie's header, its sound tracks, the derived values (frame duration, rate,\n"
    "  data sizes, peak one-second data) and its key frames; --frames adds one line a frame.\n"
    "  MOVIE may be FILE|OFFSET for a movie that starts OFFSET bytes into FILE.\n";

const char* transform_name(uint32_t word) {
  if (word & kAudioWordRdft) return "real-DFT";
  if (word & kAudioWordDct) return "DCT";
  return "none (not playable)";
}

}  // namespace

bool tool_load_movie(const char* arg, std::vector<uint8_t>* file, ContainerView* view) {
  ResolvedName r;
  const char* error = nullptr;
  if (std::strlen(arg) > kMovieNameMax) { tool_fail("%s", kMovieNameTooLong); return false; }
  if (std::strchr(arg, '|')) {
    if (!resolve_movie_name(arg, &r, &error)) { tool_fail("%s: %s", arg, error); return false; }
  } else {
    std::snprintf(r.file, sizeof r.file, "%s", arg);
    r.offset = 0;
  }
  if (!tool_read_file(r.file, file, &error)) { tool_fail("%s: %s", r.file, error); return false; }
  if (r.offset > file->size()) { tool_fail("%s: the offset lies past the end of the file", arg); return false; }
  error = container_open_view(file->data() + r.offset, file->size() - r.offset, view);
  if (error) { tool_fail("%s: %s", arg, error); return false; }
  return true;
}

int cmd_info(int argc, char** argv) {
  if (tool_wants_help(argc, argv)) { std::fputs(kUsage, stdout); return 0; }
  const char* name = nullptr;
  bool frames = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--frames")) frames = true;
    else if (!name) name = argv[i];
    else { std::fputs(kUsage, stderr); return tool_fail("unexpected argument '%s'", argv[i]); }
  }
  if (!name) { std::fputs(kUsage, stderr); return 1; }
  std::vector<uint8_t> file;
  ContainerView v;
  if (!tool_load_movie(name, &file, &v)) return 1;
  const ContainerHeader& h = v.header;
  const ContainerInfo& in = v.info;

  std::printf("version        %c\n", h.version);
  std::printf("size field     %u (movie %u bytes, %zu present)\n", h.size_field, in.movie_bytes, v.size);
  std::printf("frames         %u (index frames %u)\n", h.frame_count, h.index_frames);
  std::printf("picture        %u x %u\n", h.width, h.height);
  if (h.rate_num)
    std::printf("rate           %u/%u (%u fps rounded, %u ms a frame)\n", h.rate_num, h.rate_den, in.fps_rounded,
                in.frame_ms);
  else
    std::printf("rate           %u/%u (no frame rate)\n", h.rate_num, h.rate_den);
  std::printf("flags          0x%08x%s%s doubling %u\n", h.flags, (h.flags & kMovieFlagGrey) ? " grey" : "",
              (h.flags & kMovieFlagAlpha) ? " alpha" : "", (h.flags & kMovieFlagDoublingMask) >> 28);
  std::printf("largest frame  %u stored, %u in the index\n", h.largest_frame, in.largest_frame);
  std::printf("first frame    at %u\n", in.first_frame);
  std::printf("frame data     %u bytes (preload %u)\n", in.data_bytes, in.preload_bytes);
  std::printf("peak second    %u bytes from frame %u\n", in.peak_second_bytes, in.peak_second_frame);
  uint32_t keys = 0;
  for (uint32_t i = 0; i < h.frame_count; ++i) keys += container_index_entry(v.index, i) & 1;
  std::printf("key frames     %u of %u%s\n", keys, h.frame_count, in.all_key_frames ? " (all)" : "");
  std::printf("tracks         %u\n", h.track_count);
  for (uint32_t t = 0; t < h.track_count; ++t) {
    uint32_t w = container_track_word(&v, t);
    std::printf("  track %u: id %u, word 0x%08x, %u Hz, %s, %s, %s, buffer %u bytes\n", t, container_track_id(&v, t),
                w, w & kAudioWordRateMask, (w & kAudioWordStereo) ? "stereo" : "mono",
                (w & kAudioWordSixteenBit) ? "16-bit" : "8-bit", transform_name(w),
                container_track_buffer_bytes(&v, t));
  }
  if (frames) {
    for (uint32_t i = 0; i < h.frame_count; ++i) {
      const uint8_t* f;
      uint32_t size;
      bool key;
      uint32_t at = container_index_entry(v.index, i) & ~1u;
      if (!container_frame(&v, i, &f, &size, &key)) {
        std::printf("frame %u: at %u, past the end of the file\n", i, at);
        continue;
      }
      std::printf("frame %u: at %u, %u bytes%s", i, at, size, key ? ", key" : "");
      for (uint32_t t = 0; t < h.track_count; ++t) {
        const uint8_t* p;
        uint32_t n;
        const char* e = container_audio_packet(f, size, h.track_count, t, &p, &n);
        if (e) { std::printf(", %s", e); break; }
        std::printf(", audio %u", n);
      }
      const uint8_t* p;
      uint32_t n;
      if (!container_video_packet(f, size, h.track_count, &p, &n)) std::printf(", video %u", n);
      std::printf("\n");
    }
  }
  return 0;
}
