// PSNR of a decoded 8-bit 4:2:0 YUV4MPEG2 file against its source, the same measure for every
// encoder in encoder_figures.sh. For each plane the squared error is summed over a frame and
// divided by the plane's samples (the frame's MSE), the frames' MSEs are averaged, and
// PSNR = 10 log10(255² / MSE). "overall" does the same with the frame's MSE over all its samples,
// i.e. Y, U and V weighted 4:1:1. Frames are compared in order; a missing frame is an error.
// DECODED may also be a stream of grey-map pictures (the MPEG-1 peer's decoder writes one P5
// picture a frame: the luma rows, then each chroma row pair as U and V side by side).
//
//   y4m_psnr SOURCE.y4m DECODED.y4m      prints "Y 38.06 U 38.05 V 36.46 overall 37.74 frames 60"
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Y4m {
  FILE* f;
  int w, h;
  bool pgm;  // a stream of P5 pictures, one a frame (w x h * 3 / 2)
};

// A number of a P5 header after blanks and comments; -1 when there is none.
int pgm_number(FILE* f) {
  int c = std::fgetc(f);
  while (c == '#' || c == ' ' || c == '\n' || c == '\r' || c == '\t') {
    if (c == '#')
      while (c != '\n' && c != EOF) c = std::fgetc(f);
    c = std::fgetc(f);
  }
  if (c < '0' || c > '9') return -1;
  int v = 0;
  while (c >= '0' && c <= '9' && v < 100000) {
    v = v * 10 + (c - '0');
    c = std::fgetc(f);
  }
  return v;
}

// Reads the stream header; accepts only 4:2:0 (any siting) and no interlacing flags beyond 'p'.
bool psnr_open(Y4m* y, const char* path) {
  y->f = std::fopen(path, "rb");
  if (!y->f) {
    std::perror(path);
    return false;
  }
  y->pgm = false;
  const int first = std::fgetc(y->f);
  std::ungetc(first, y->f);
  if (first == 'P') {  // the size comes with every picture
    y->pgm = true;
    y->w = y->h = -1;
    return true;
  }
  char line[512];
  if (!std::fgets(line, sizeof line, y->f) || std::strncmp(line, "YUV4MPEG2 ", 10) != 0) {
    std::fprintf(stderr, "%s: not a YUV4MPEG2 file\n", path);
    return false;
  }
  y->w = y->h = 0;
  for (char* t = std::strtok(line + 10, " \n"); t; t = std::strtok(nullptr, " \n")) {
    if (t[0] == 'W') y->w = std::atoi(t + 1);
    if (t[0] == 'H') y->h = std::atoi(t + 1);
    if (t[0] == 'C' && std::strncmp(t + 1, "420", 3) != 0) {
      std::fprintf(stderr, "%s: colour space %s, only 4:2:0 is measured\n", path, t + 1);
      return false;
    }
  }
  if (y->w <= 0 || y->h <= 0 || y->w > 16384 || y->h > 16384) {
    std::fprintf(stderr, "%s: bad picture size\n", path);
    return false;
  }
  return true;
}

// One frame into `buf` (Y, then U, then V); false at the end of the file or on a short frame.
bool psnr_frame(Y4m* y, std::vector<uint8_t>* buf, int w, int h) {
  int c;
  if (y->pgm) {
    char magic[2];
    if (std::fread(magic, 1, 2, y->f) != 2 || magic[0] != 'P' || magic[1] != '5') return false;
    const int pw = pgm_number(y->f), ph = pgm_number(y->f), maxval = pgm_number(y->f);
    // One blank ends the header (pgm_number consumed it).
    if (pw != w || ph != h + (h + 1) / 2 || maxval != 255 || w % 2) return false;
    const size_t ys = size_t(w) * h, cw = size_t(w) / 2, ch = size_t(h + 1) / 2;
    if (std::fread(buf->data(), 1, ys, y->f) != ys) return false;
    std::vector<uint8_t> row(static_cast<size_t>(w));
    for (size_t r = 0; r < ch; ++r) {
      if (std::fread(row.data(), 1, row.size(), y->f) != row.size()) return false;
      std::memcpy(buf->data() + ys + r * cw, row.data(), cw);
      std::memcpy(buf->data() + ys + cw * ch + r * cw, row.data() + cw, cw);
    }
    return true;
  }
  char tag[6];
  if (std::fread(tag, 1, 5, y->f) != 5 || std::memcmp(tag, "FRAME", 5) != 0) return false;
  while ((c = std::fgetc(y->f)) != EOF && c != '\n') {
  }
  return c == '\n' && std::fread(buf->data(), 1, buf->size(), y->f) == buf->size();
}

double psnr_db(double mse) { return mse <= 0 ? 99.99 : 10.0 * std::log10(255.0 * 255.0 / mse); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: y4m_psnr SOURCE.y4m DECODED.y4m|DECODED.pgm\n");
    return 2;
  }
  Y4m a, b;
  if (!psnr_open(&a, argv[1]) || !psnr_open(&b, argv[2])) return 1;
  if (a.pgm) {
    std::fprintf(stderr, "y4m_psnr: the source must be YUV4MPEG2\n");
    return 1;
  }
  if (b.pgm) {
    b.w = a.w;
    b.h = a.h;
  }
  if (a.w != b.w || a.h != b.h) {
    std::fprintf(stderr, "y4m_psnr: %dx%d against %dx%d\n", a.w, a.h, b.w, b.h);
    return 1;
  }
  const size_t ys = size_t(a.w) * size_t(a.h), cw = size_t(a.w + 1) / 2, ch = size_t(a.h + 1) / 2;
  const size_t cs = cw * ch;
  std::vector<uint8_t> fa(ys + 2 * cs), fb(fa.size());
  double sum[4] = {0, 0, 0, 0};
  long frames = 0;
  for (;;) {
    const bool got_a = psnr_frame(&a, &fa, a.w, a.h);
    const bool got_b = psnr_frame(&b, &fb, a.w, a.h);
    if (!got_a && !got_b) break;
    if (got_a != got_b) {
      std::fprintf(stderr, "y4m_psnr: %s has fewer frames (%ld)\n", got_a ? argv[2] : argv[1], frames);
      return 1;
    }
    uint64_t se[3] = {0, 0, 0};
    for (size_t i = 0; i < fa.size(); ++i) {
      const int d = int(fa[i]) - int(fb[i]);
      se[i < ys ? 0 : i < ys + cs ? 1 : 2] += uint64_t(d * d);
    }
    sum[0] += double(se[0]) / double(ys);
    sum[1] += double(se[1]) / double(cs);
    sum[2] += double(se[2]) / double(cs);
    sum[3] += double(se[0] + se[1] + se[2]) / double(ys + 2 * cs);
    ++frames;
  }
  if (frames == 0) {
    std::fprintf(stderr, "y4m_psnr: no frames\n");
    return 1;
  }
  std::printf("Y %.2f U %.2f V %.2f overall %.2f frames %ld\n", psnr_db(sum[0] / double(frames)),
              psnr_db(sum[1] / double(frames)), psnr_db(sum[2] / double(frames)),
              psnr_db(sum[3] / double(frames)), frames);
  return 0;
}
