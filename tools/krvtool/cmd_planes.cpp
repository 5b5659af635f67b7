// krvtool planes: the decoded planes of every frame of a movie, in order, as raw bytes.
#include <cstdio>
#include <cstring>
#include <vector>

#include "container/container.h"
#include "platform/platform.h"
#include "tools/krvtool/tool.h"
#include "video/video_decoder.h"

namespace {

const char kUsage[] =
    "usage: krvtool planes MOVIE OUT.raw [--alpha] [--maps]\n"
    "  Writes the decoded planes of every frame, in order: luma (width and height rounded up\n"
    "  to 8), first chroma, second chroma (chroma stride x chroma height each), then alpha when\n"
    "  --alpha is given and the movie has it. Planes start zero-filled. --maps prints each\n"
    "  frame's change map in hex, one map row per group. MOVIE may be FILE|OFFSET.\n"
    "  --cpu plain|sse2|avx2 limits the SIMD code used (as KORVA_CPU does); plain gives the\n"
    "  reference arithmetic.\n";

bool write_rows(FILE* out, const uint8_t* p, uint32_t stride, uint32_t width, uint32_t rows) {
  for (uint32_t y = 0; y < rows; ++y)
    if (std::fwrite(p + size_t(y) * stride, 1, width, out) != width) return false;
  return true;
}

}  // namespace

int cmd_planes(int argc, char** argv) {
  if (tool_wants_help(argc, argv)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const char* name = nullptr;
  const char* out_name = nullptr;
  bool alpha = false, maps = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--alpha")) alpha = true;
    else if (!std::strcmp(argv[i], "--maps")) maps = true;
    else if (argv[i][0] == '-' && argv[i][1] == '-') {
      std::fputs(kUsage, stderr);
      return tool_fail("unknown option '%s'", argv[i]);
    } else if (!name) name = argv[i];
    else if (!out_name) out_name = argv[i];
    else {
      std::fputs(kUsage, stderr);
      return tool_fail("unexpected argument '%s'", argv[i]);
    }
  }
  if (!name || !out_name) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  std::vector<uint8_t> file;
  ContainerView v;
  if (!tool_load_movie(name, &file, &v)) return 1;
  const ContainerHeader& h = v.header;
  uint32_t header_flags = h.flags;
  uint32_t movie_flags = 0;
  if (h.version != 'i') movie_flags |= 0x8000;
  if (h.version == 'f' || h.version == 'g') movie_flags |= kVideoFlagChromaSwap;
  if (header_flags & kVideoFlagGrey) movie_flags |= kVideoFlagGrey;
  bool with_alpha = alpha && (header_flags & kVideoFlagAlpha);
  if (with_alpha) movie_flags |= kVideoFlagAlpha;

  VideoStore st;
  if (!video_store_open(&st, h.width, h.height, with_alpha, v.info.all_key_frames))
    return tool_fail("%s: cannot hold a %u x %u picture", name, h.width, h.height);
  FILE* out = std::fopen(out_name, "wb");
  if (!out) {
    video_store_close(&st);
    return tool_fail("%s: cannot create the file", out_name);
  }
  const VideoFrameSizes& z = st.sizes;
  FramePlanes& p = st.planes;
  bool progress = platform_stderr_is_terminal();
  uint32_t damaged = 0, first_damaged = 0, error_frame = 0;
  const char* error = nullptr;
  for (uint32_t i = 0; i < h.frame_count && !error; ++i) {
    error_frame = i;
    bool bad = false;
    if ((error = tool_decode_video_frame(&v, i, &p, movie_flags, &bad))) break;
    if (bad && !damaged++) first_damaged = i;
    const uint8_t* set = p.plane_sets[p.current_set];
    size_t luma = size_t(p.luma_stride) * p.luma_height;
    size_t chroma = size_t(p.chroma_stride) * p.chroma_height;
    bool ok = write_rows(out, set, p.luma_stride, z.luma_width, z.luma_rows) &&
              write_rows(out, set + luma, p.chroma_stride, p.chroma_stride, p.chroma_height) &&
              write_rows(out, set + luma + chroma, p.chroma_stride, p.chroma_stride, p.chroma_height);
    if (ok && with_alpha)
      ok = write_rows(out, p.alpha_planes[p.current_set], p.luma_stride, z.luma_width, z.luma_rows);
    if (!ok) {
      error = "cannot write the output file";
      break;
    }
    if (maps) {
      std::printf("frame %u:", i);
      for (uint32_t r = 0; r < p.luma_height / 16; ++r) {
        std::putchar(' ');
        for (uint32_t c = 0; c < p.map_columns; ++c)
          std::printf("%02x", p.change_map[r * p.map_columns + c]);
      }
      std::putchar('\n');
    }
    if (progress && (i % 16 == 15 || i + 1 == h.frame_count))
      std::fprintf(stderr, "\rframe %u of %u", i + 1, h.frame_count);
  }
  if (progress) std::fputc('\n', stderr);
  bool closed = std::fclose(out) == 0;
  video_store_close(&st);
  if (error) return tool_fail("%s: frame %u: %s", name, error_frame, error);
  if (!closed) return tool_fail("%s: cannot write the file", out_name);
  if (damaged)
    return tool_fail("%s: %u frame(s) with a damaged video packet, the first is frame %u", name,
                     damaged, first_damaged);
  return 0;
}
