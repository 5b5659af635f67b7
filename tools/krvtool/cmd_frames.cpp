// krvtool frames: every frame of a movie as a surface of a given copy format would show it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "container/container.h"
#include "playback/movie.h"
#include "convert/convert.h"
#include "display/backends/memory_surface.h"
#include "platform/platform.h"
#include "tools/krvtool/tool.h"
#include "video/video_decoder.h"

namespace {

const char kUsage[] =
    "usage: krvtool frames MOVIE OUTDIR --format CODE [--double MODE] [--grey] [--every N] [--raw]\n"
    "                      [--fit N]\n"
    "       krvtool frames MOVIE [OUTDIR --format CODE ...] --y4m FILE\n"
    "  Decodes every frame, copies it into a memory surface of copy format CODE (1..15: 1/2\n"
    "  24-bit BGR/RGB, 3/4 32-bit, 5/6 32-bit with alpha, 7 4-4-4-4, 8 5-5-5-1, 9 5-5-5,\n"
    "  10 5-6-5, 11 6-5-5, 12 6-6-4, 13 YUY2, 14 UYVY, 15 YV12) the way the player does (changed\n"
    "  blocks after the first frame), and writes OUTDIR/frame_NNNNNN.png: what the surface\n"
    "  shows, turned back into RGB. --raw writes the surface bytes instead (.raw, top row\n"
    "  first). --double MODE (0..7) overrides the movie's doubling mode, --grey adds grey scale,\n"
    "  --every N writes every Nth frame only. --fit N shrinks each PNG to fit N x N, its aspect\n"
    "  kept, as `krvtool thumbnail` does (pictures that fit already stay as they are). --y4m FILE also writes the decoded pictures as a\n"
    "  Y4M stream (4:2:0). MOVIE may be FILE|OFFSET.\n"
    "  Rows or columns that a doubling mode never writes hold black for the surface's format, as a\n"
    "  new surface does: zero bytes for RGB, luma 0 and chroma 128 for YUY2 and UYVY, luma 0 and\n"
    "  chroma 128 for YV12.\n"
    "  --cpu plain|sse2|avx2 limits the SIMD code used (as KORVA_CPU does): plain gives the\n"
    "  integer converters' surfaces; the SIMD converters differ from them only where luma is\n"
    "  above 235.\n";

bool parse_number(const char* s, uint32_t low, uint32_t high, uint32_t* out) {
  if (!s || !*s) return false;
  char* end = nullptr;
  unsigned long v = std::strtoul(s, &end, 10);
  if (*end || v < low || v > high) return false;
  *out = uint32_t(v);
  return true;
}

bool write_y4m_frame(FILE* out, const FramePlanes& p, uint32_t w, uint32_t h, bool grey, bool swap) {
  const uint8_t* set = p.plane_sets[p.current_set];
  const uint8_t* first = set + size_t(p.luma_stride) * p.luma_height;
  const uint8_t* second = first + size_t(p.chroma_stride) * p.chroma_height;
  const uint8_t* cb = swap ? first : second;
  const uint8_t* cr = swap ? second : first;
  const uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
  if (std::fputs("FRAME\n", out) < 0) return false;
  for (uint32_t y = 0; y < h; ++y)
    if (std::fwrite(set + size_t(y) * p.luma_stride, 1, w, out) != w) return false;
  std::vector<uint8_t> flat(cw, 128);
  for (const uint8_t* plane : {cb, cr})
    for (uint32_t y = 0; y < ch; ++y)
      if (std::fwrite(grey ? flat.data() : plane + size_t(y) * p.chroma_stride, 1, cw, out) != cw) return false;
  return true;
}


}  // namespace

int cmd_frames(int argc, char** argv) {
  if (tool_wants_help(argc, argv)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const char* name = nullptr;
  const char* out_dir = nullptr;
  const char* y4m_name = nullptr;
  uint32_t format = 0, every = 1, mode = 0, fit = 0;
  bool has_mode = false, grey = false, raw = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const bool has_value = i + 1 < argc;
    if (!std::strcmp(a, "--format")) {
      if (!has_value || !parse_number(argv[++i], 1, 15, &format))
        return tool_fail("--format needs a copy format code from 1 to 15");
    } else if (!std::strcmp(a, "--double")) {
      if (!has_value || !parse_number(argv[++i], 0, 7, &mode))
        return tool_fail("--double needs a doubling mode from 0 to 7");
      has_mode = true;
    } else if (!std::strcmp(a, "--every")) {
      if (!has_value || !parse_number(argv[++i], 1, 0x7FFFFFFF, &every))
        return tool_fail("--every needs a positive count");
    } else if (!std::strcmp(a, "--fit")) {
      if (!has_value || !parse_number(argv[++i], 1, 16384, &fit))
        return tool_fail("--fit needs a size from 1 to 16384");
    } else if (!std::strcmp(a, "--y4m")) {
      if (!has_value) return tool_fail("--y4m needs a file name");
      y4m_name = argv[++i];
    } else if (!std::strcmp(a, "--grey")) {
      grey = true;
    } else if (!std::strcmp(a, "--raw")) {
      raw = true;
    } else if (a[0] == '-' && a[1] == '-') {
      std::fputs(kUsage, stderr);
      return tool_fail("unknown option '%s'", a);
    } else if (!name) {
      name = a;
    } else if (!out_dir) {
      out_dir = a;
    } else {
      std::fputs(kUsage, stderr);
      return tool_fail("unexpected argument '%s'", a);
    }
  }
  if (!name || (!out_dir && !y4m_name)) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  if (fit && raw) return tool_fail("--fit shrinks PNG pictures; --raw writes the surface bytes as they are");
  if (out_dir && !format) return tool_fail("--format CODE is needed to write frames to %s", out_dir);
#ifndef KORVA_HAVE_PNG
  if (out_dir && !raw) return tool_fail("PNG output not available in this build");
#endif

  std::vector<uint8_t> file;
  ContainerView v;
  if (!tool_load_movie(name, &file, &v)) return 1;
  const ContainerHeader& h = v.header;
  const uint32_t movie_flags = tool_movie_flags(h, grey, has_mode, mode);
  const bool alpha = h.flags & kVideoFlagAlpha;
  mode = (movie_flags & kCopyDoublingMask) >> kCopyDoublingShift;

  VideoStore st;
  if (!video_store_open(&st, h.width, h.height, alpha, v.info.all_key_frames))
    return tool_fail("%s: cannot hold a %u x %u picture", name, h.width, h.height);
  FramePlanes& p = st.planes;

  // The surface has the movie's display size, the doubling included.
  const uint32_t display_w = h.width * convert_width_factor(mode);
  const uint32_t display_h = h.height * convert_row_factor(mode);
  MemorySurface* surface = nullptr;
  std::vector<uint8_t> rgb, fitted;
  if (out_dir) {
    uint32_t sw = display_w, sh = display_h;
    if (format == kFormatYv12) { sw = (sw + 1) & ~1u; sh = (sh + 1) & ~1u; }
    surface = memory_surface_open(format, sw, sh, 0, 0, 0);
    if (!surface) {
      video_store_close(&st);
      return tool_fail("%s: cannot hold a surface of %u x %u", name, sw, sh);
    }
    rgb.resize(size_t(sw) * sh * 3);
  }
  FILE* y4m = nullptr;
  if (y4m_name) {
    y4m = std::fopen(y4m_name, "wb");
    if (!y4m) {
      memory_surface_close(surface);
      video_store_close(&st);
      return tool_fail("%s: cannot create the file", y4m_name);
    }
    std::fprintf(y4m, "YUV4MPEG2 W%u H%u F%u:%u Ip A1:1 C420jpeg\n", h.width, h.height,
                 h.rate_num ? h.rate_num : 25, h.rate_num ? h.rate_den : 1);
  }

  ConvertContext* converters = convert_context_create(h.width);
  if (!converters) {
    memory_surface_close(surface);
    video_store_close(&st);
    if (y4m) std::fclose(y4m);
    return tool_fail("%s: out of memory", name);
  }
  CopySource src{};
  src.context = converters;
  src.planes = &p;
  src.width = display_w;
  src.height = display_h;
  src.coded_width = h.width;
  src.coded_height = h.height;
  src.movie_flags = movie_flags;

  const bool progress = platform_stderr_is_terminal();
  uint32_t damaged = 0, first_damaged = 0, error_frame = 0;
  const char* error = nullptr;
  for (uint32_t i = 0; i < h.frame_count && !error; ++i) {
    error_frame = i;
    bool bad = false;
    if ((error = tool_decode_video_frame(&v, i, &p, movie_flags, &bad))) break;
    if (bad && !damaged++) first_damaged = i;
    if (surface) memory_surface_copy(surface, &src, i == 0 ? kCopyWhole : 0);
    if (y4m && !write_y4m_frame(y4m, p, h.width, h.height, movie_flags & kCopyGrey,
                                movie_flags & kCopyChromaSwap)) {
      error = "cannot write the Y4M file";
      break;
    }
    if (surface && i % every == 0) {
      char out_name[4096];
      std::snprintf(out_name, sizeof out_name, "%s/frame_%06u.%s", out_dir, i, raw ? "raw" : "png");
      bool ok = false;
      if (raw) {
        FILE* f = std::fopen(out_name, "wb");
        if (f) {
          ok = true;
          const uint32_t row = surface->width * convert_bytes_per_pixel(format);
          for (uint32_t y = 0; y < surface->height && ok; ++y)
            ok = std::fwrite(memory_surface_row(surface, y), 1, row, f) == row;
          if (format == kFormatYv12 && ok) {  // the V and U planes after the luma rows
            const uint8_t* chroma = surface->memory + size_t(surface->pitch) * surface->height;
            const uint32_t cp = uint32_t(surface->pitch) / 2;
            for (uint32_t y = 0; y < surface->height && ok; ++y)
              ok = std::fwrite(chroma + size_t(y) * cp, 1, surface->width / 2, f) == surface->width / 2;
          }
          ok = std::fclose(f) == 0 && ok;
        }
      } else {
        memory_surface_to_rgb(surface, rgb.data());
        uint32_t fw = surface->width, fh = surface->height;
        if (fit) tool_fit_size(surface->width, surface->height, fit, &fw, &fh);
        if (fw == surface->width && fh == surface->height) {
          ok = tool_write_png(out_name, rgb.data(), fw, fh);
        } else {
          fitted.resize(size_t(fw) * fh * 3);
          ok = tool_scale_rgb(rgb.data(), surface->width, surface->height, fitted.data(), fw, fh) &&
               tool_write_png(out_name, fitted.data(), fw, fh);
        }
      }
      if (!ok) {
        memory_surface_close(surface);
        video_store_close(&st);
        convert_context_destroy(converters);
        if (y4m) std::fclose(y4m);
        return tool_fail("%s: cannot write the file", out_name);
      }
    }
    if (progress && (i % 16 == 15 || i + 1 == h.frame_count))
      std::fprintf(stderr, "\rframe %u of %u", i + 1, h.frame_count);
  }
  if (progress) std::fputc('\n', stderr);
  bool closed = !y4m || std::fclose(y4m) == 0;
  memory_surface_close(surface);
  video_store_close(&st);
  convert_context_destroy(converters);
  if (error) return tool_fail("%s: frame %u: %s", name, error_frame, error);
  if (!closed) return tool_fail("%s: cannot write the file", y4m_name);
  if (damaged)
    return tool_fail("%s: %u frame(s) with a damaged video packet, the first is frame %u", name,
                     damaged, first_damaged);
  return 0;
}
