// Camera-like test clips for the encoder figures: a detailed picture (a generated scene, or a
// binary PPM picture given on the command line) filmed by a camera that pans by fractions of a
// pixel per frame and slowly pushes in, each frame resampled from the picture with a Lanczos
// filter of three lobes (widened when the picture is larger than the frame, so that it is also
// low-passed), with light, fresh grain on every frame. Writes 8-bit 4:2:0 YUV4MPEG2 at 25 frames a
// second, limited range (16-235), 601 colours; the same arguments always give the same bytes.
//
//   y4m_camera WIDTH HEIGHT FRAMES OUT.y4m [--picture FILE.ppm] [--motion pan|push] [--seed N]
//
// Motions: "pan" drifts 0.37 pixels right and 0.19 down a frame while zooming in by 0.08 % a
// frame; "push" is a slow push-in (0.15 % a frame) toward a point off the centre, with a little
// sway. The grain is Gaussian, 1.2 levels of luma and 0.6 of chroma.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

uint32_t cam_hash(int32_t x, int32_t y, uint32_t seed) {
  uint32_t h = uint32_t(x) * 0x9e3779b1u ^ uint32_t(y) * 0x85ebca77u ^ seed * 0xc2b2ae3du;
  h ^= h >> 16;
  h *= 0x7feb352du;
  h ^= h >> 15;
  h *= 0x846ca68bu;
  h ^= h >> 16;
  return h;
}

float cam_noise(float x, float y, uint32_t seed) {
  const float fx = std::floor(x), fy = std::floor(y);
  const int32_t ix = int32_t(fx), iy = int32_t(fy);
  float tx = x - fx, ty = y - fy;
  tx = tx * tx * (3 - 2 * tx);
  ty = ty * ty * (3 - 2 * ty);
  const float k = 1.0f / 4294967296.0f;
  const float a = float(cam_hash(ix, iy, seed)) * k, b = float(cam_hash(ix + 1, iy, seed)) * k;
  const float c = float(cam_hash(ix, iy + 1, seed)) * k, d = float(cam_hash(ix + 1, iy + 1, seed)) * k;
  const float top = a + (b - a) * tx, bottom = c + (d - c) * tx;
  return top + (bottom - top) * ty;
}

// Octaves from `period` pixels down to 2 pixels, each `persistence` times the one before.
float cam_fractal(float x, float y, float period, float persistence, uint32_t seed) {
  float sum = 0, amp = 1, norm = 0;
  for (int o = 0; period >= 2 && o < 12; ++o, period /= 2.1f, amp *= persistence) {
    sum += amp * cam_noise(x / period + 31.7f * o, y / period - 11.3f * o, seed + uint32_t(o) * 7919u);
    norm += amp;
  }
  return norm > 0 ? sum / norm : 0.5f;
}

float cam_clamp(float v, float lo, float hi) { return v < lo ? lo : v > hi ? hi : v; }
float cam_step(float e0, float e1, float v) {
  const float t = cam_clamp((v - e0) / (e1 - e0), 0, 1);
  return t * t * (3 - 2 * t);
}

struct Picture {
  int w = 0, h = 0;
  std::vector<float> rgb;  // 0 to 255, row by row
};

// A generated scene of about the detail a photograph holds: soft light, coloured regions with
// fine texture (foliage, stone, fabric), hard edges and thin lines.
Picture cam_scene(int w, int h, uint32_t seed) {
  Picture p;
  p.w = w;
  p.h = h;
  p.rgb.resize(size_t(w) * h * 3);
  struct Disc { float x, y, r, cr, cg, cb; };
  std::vector<Disc> discs;
  for (int i = 0; i < 14; ++i) {
    auto u = [&](int k) { return float(cam_hash(i, k, seed + 99) % 10000) / 10000.0f; };
    discs.push_back({u(0) * w, u(1) * h, 8 + u(2) * 60, 40 + 200 * u(3), 40 + 200 * u(4), 40 + 200 * u(5)});
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const float fx = float(x), fy = float(y);
      const float light = 0.55f + 0.45f * cam_fractal(fx, fy, 400, 0.5f, seed);
      const float region = cam_fractal(fx, fy, 180, 0.45f, seed + 1);
      const float fine = cam_fractal(fx, fy, 24, 0.7f, seed + 2);
      const float grainy = cam_fractal(fx, fy, 6, 0.8f, seed + 3);
      // Three materials blended by the region value: foliage, stone, sky-like smooth.
      const float foliage = cam_step(0.55f, 0.6f, region), sky = cam_step(0.42f, 0.38f, region);
      const float stone = 1 - foliage - sky < 0 ? 0 : 1 - foliage - sky;
      float r = foliage * (50 + 120 * fine * grainy) + stone * (110 + 90 * fine + 30 * grainy) + sky * (150 + 60 * fine);
      float g = foliage * (80 + 150 * fine * grainy) + stone * (100 + 85 * fine + 30 * grainy) + sky * (170 + 50 * fine);
      float b = foliage * (30 + 60 * grainy) + stone * (90 + 80 * fine + 25 * grainy) + sky * (200 + 40 * fine);
      // Bricks in the stone: thin dark mortar lines.
      const float bx = std::fmod(fx + (int(fy / 18) % 2) * 20, 40.0f), by = std::fmod(fy, 18.0f);
      const float mortar = stone * (1 - cam_step(0.8f, 1.8f, bx < by * 40 / 18 ? bx : by));
      r -= 60 * mortar;
      g -= 60 * mortar;
      b -= 55 * mortar;
      for (const Disc& d : discs) {
        const float dist = std::sqrt((fx - d.x) * (fx - d.x) + (fy - d.y) * (fy - d.y));
        const float in = 1 - cam_step(d.r - 0.8f, d.r + 0.8f, dist);
        if (in <= 0) continue;
        const float shade = 0.75f + 0.5f * cam_fractal(fx, fy, 10, 0.6f, seed + 5) - 0.2f * dist / d.r;
        r += in * (d.cr * shade - r);
        g += in * (d.cg * shade - g);
        b += in * (d.cb * shade - b);
      }
      float* o = &p.rgb[(size_t(y) * w + x) * 3];
      o[0] = cam_clamp(r * light, 0, 255);
      o[1] = cam_clamp(g * light, 0, 255);
      o[2] = cam_clamp(b * light, 0, 255);
    }
  return p;
}

// A binary PPM (P6, maxval up to 255).
bool cam_read_ppm(const char* path, Picture* p) {
  FILE* f = std::fopen(path, "rb");
  if (!f) {
    std::perror(path);
    return false;
  }
  auto token = [&](int* v) {
    int c = std::fgetc(f);
    while (c == '#' || c == ' ' || c == '\n' || c == '\r' || c == '\t') {
      if (c == '#')
        while (c != '\n' && c != EOF) c = std::fgetc(f);
      c = std::fgetc(f);
    }
    if (c < '0' || c > '9') return false;
    *v = 0;
    while (c >= '0' && c <= '9') {
      *v = *v * 10 + (c - '0');
      if (*v > 100000) return false;
      c = std::fgetc(f);
    }
    return true;
  };
  char magic[2];
  int maxval = 0;
  const bool ok = std::fread(magic, 1, 2, f) == 2 && magic[0] == 'P' && magic[1] == '6' && token(&p->w) &&
                  token(&p->h) && token(&maxval) && p->w > 0 && p->h > 0 && maxval > 0 && maxval < 256;
  if (!ok) {
    std::fprintf(stderr, "%s: not a binary PPM picture (P6, 8 bits)\n", path);
    std::fclose(f);
    return false;
  }
  std::vector<uint8_t> bytes(size_t(p->w) * p->h * 3);
  if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    std::fprintf(stderr, "%s: the picture is cut short\n", path);
    std::fclose(f);
    return false;
  }
  std::fclose(f);
  p->rgb.resize(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) p->rgb[i] = bytes[i] * 255.0f / float(maxval);
  return true;
}

double cam_sinc(double x) {
  if (std::fabs(x) < 1e-9) return 1;
  const double a = M_PI * x;
  return std::sin(a) / a;
}

// Weights of the Lanczos-3 filter at source position `pos`, `scale` source pixels per output
// pixel (above 1 the filter widens to low-pass). Taps from *first, normalised to sum 1.
void cam_taps(double pos, double scale, int limit, int* first, std::vector<double>* w) {
  const double s = scale > 1 ? scale : 1, support = 3 * s;
  const int lo = int(std::floor(pos - support)) + 1, hi = int(std::floor(pos + support));
  w->clear();
  double sum = 0;
  for (int i = lo; i <= hi; ++i) {
    const double d = (i - pos) / s;
    const double v = std::fabs(d) < 3 ? cam_sinc(d) * cam_sinc(d / 3) : 0;
    w->push_back(v);
    sum += v;
  }
  for (double& v : *w) v /= sum;
  *first = lo;
  (void)limit;
}

int cam_clampi(int v, int hi) { return v < 0 ? 0 : v > hi ? hi : v; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    std::fprintf(argc < 5 ? stderr : stdout,
                 "usage: y4m_camera WIDTH HEIGHT FRAMES OUT.y4m [--picture FILE.ppm] [--motion pan|push] [--seed N]\n");
    return argc < 5 ? 1 : 0;
  }
  const int width = std::atoi(argv[1]), height = std::atoi(argv[2]), frames = std::atoi(argv[3]);
  if (width < 16 || height < 16 || width > 8192 || height > 8192 || width % 2 || height % 2 || frames < 1) {
    std::fprintf(stderr, "y4m_camera: bad size or frame count (even sizes 16 to 8192, frames from 1)\n");
    return 1;
  }
  const char* out_path = argv[4];
  const char* picture = nullptr;
  std::string motion = "pan";
  uint32_t seed = 1;
  for (int i = 5; i < argc; ++i) {
    if (i + 1 >= argc) {
      std::fprintf(stderr, "y4m_camera: %s wants a value\n", argv[i]);
      return 1;
    }
    if (!std::strcmp(argv[i], "--picture")) picture = argv[++i];
    else if (!std::strcmp(argv[i], "--motion")) motion = argv[++i];
    else if (!std::strcmp(argv[i], "--seed")) seed = uint32_t(std::strtoul(argv[++i], nullptr, 10));
    else {
      std::fprintf(stderr, "y4m_camera: unknown option %s\n", argv[i]);
      return 1;
    }
  }
  if (motion != "pan" && motion != "push") {
    std::fprintf(stderr, "y4m_camera: --motion is pan or push\n");
    return 1;
  }
  // The picture: a given one, or a scene with room for the pan.
  Picture pic;
  if (picture) {
    if (!cam_read_ppm(picture, &pic)) return 1;
  } else {
    pic = cam_scene(width + width / 4, height + height / 4, seed);
  }
  // The camera at frame t: the picture position of the frame's centre and source pixels per output
  // pixel. A given picture is first fitted to cover the frame with the pan's margin.
  const double fit = std::min(double(pic.w) / (width * 1.2), double(pic.h) / (height * 1.2));
  auto camera = [&](int t, double* cx, double* cy, double* scale) {
    if (motion == "pan") {
      *cx = pic.w / 2.0 - 0.37 * fit * frames / 2 + 0.37 * fit * t;
      *cy = pic.h / 2.0 - 0.19 * fit * frames / 2 + 0.19 * fit * t;
      *scale = fit / std::pow(1.0008, t);
    } else {
      *scale = fit / std::pow(1.0015, t);
      *cx = pic.w / 2.0 + 0.1 * width * fit * (1 - *scale / fit) + 0.6 * fit * std::sin(t * 0.11);
      *cy = pic.h / 2.0 - 0.08 * height * fit * (1 - *scale / fit) + 0.4 * fit * std::sin(t * 0.07 + 1);
    }
  };
  FILE* f = std::fopen(out_path, "wb");
  if (!f) {
    std::perror(out_path);
    return 1;
  }
  std::fprintf(f, "YUV4MPEG2 W%d H%d F25:1 Ip A1:1 C420jpeg\n", width, height);
  const int cw = width / 2, ch = height / 2;
  std::vector<float> row_pass(size_t(pic.h) * width * 3), rgb(size_t(width) * height * 3);
  std::vector<uint8_t> y(size_t(width) * height), cb(size_t(cw) * ch), cr(size_t(cw) * ch);
  std::vector<double> w;
  uint32_t grain_state = seed * 2654435761u + 12345;
  auto uniform = [&] {
    grain_state = grain_state * 1664525u + 1013904223u;
    return (grain_state >> 8) * (1.0 / 16777216.0) + 1e-9;
  };
  auto gauss = [&] { return std::sqrt(-2 * std::log(uniform())) * std::cos(2 * M_PI * uniform()); };
  for (int t = 0; t < frames; ++t) {
    double cx, cy, scale;
    camera(t, &cx, &cy, &scale);
    // Horizontal pass over every picture row, then vertical.
    for (int x = 0; x < width; ++x) {
      const double pos = cx + (x + 0.5 - width / 2.0) * scale - 0.5;
      int first;
      cam_taps(pos, scale, pic.w, &first, &w);
      for (int r = 0; r < pic.h; ++r) {
        double s[3] = {};
        const float* src = &pic.rgb[size_t(r) * pic.w * 3];
        for (size_t k = 0; k < w.size(); ++k) {
          const float* px = src + size_t(cam_clampi(first + int(k), pic.w - 1)) * 3;
          s[0] += w[k] * px[0];
          s[1] += w[k] * px[1];
          s[2] += w[k] * px[2];
        }
        float* o = &row_pass[(size_t(r) * width + x) * 3];
        o[0] = float(s[0]);
        o[1] = float(s[1]);
        o[2] = float(s[2]);
      }
    }
    for (int yy = 0; yy < height; ++yy) {
      const double pos = cy + (yy + 0.5 - height / 2.0) * scale - 0.5;
      int first;
      cam_taps(pos, scale, pic.h, &first, &w);
      for (int x = 0; x < width; ++x) {
        double s[3] = {};
        for (size_t k = 0; k < w.size(); ++k) {
          const float* px = &row_pass[(size_t(cam_clampi(first + int(k), pic.h - 1)) * width + x) * 3];
          s[0] += w[k] * px[0];
          s[1] += w[k] * px[1];
          s[2] += w[k] * px[2];
        }
        float* o = &rgb[(size_t(yy) * width + x) * 3];
        o[0] = float(s[0]);
        o[1] = float(s[1]);
        o[2] = float(s[2]);
      }
    }
    // 601 limited range, grain added in Y'CbCr.
    std::vector<float> fcb(size_t(width) * height), fcr(size_t(width) * height);
    for (size_t i = 0; i < size_t(width) * height; ++i) {
      const float r = cam_clamp(rgb[i * 3], 0, 255) / 255, g = cam_clamp(rgb[i * 3 + 1], 0, 255) / 255,
                  b = cam_clamp(rgb[i * 3 + 2], 0, 255) / 255;
      const float luma = 0.299f * r + 0.587f * g + 0.114f * b;
      y[i] = uint8_t(cam_clamp(16 + 219 * luma + 1.2f * float(gauss()) + 0.5f, 0, 255));
      fcb[i] = 128 + 224 * (b - luma) / 1.772f;
      fcr[i] = 128 + 224 * (r - luma) / 1.402f;
    }
    for (int yy = 0; yy < ch; ++yy)
      for (int x = 0; x < cw; ++x) {
        const size_t a = size_t(2 * yy) * width + 2 * x, b = a + width;
        const float u = (fcb[a] + fcb[a + 1] + fcb[b] + fcb[b + 1]) / 4 + 0.6f * float(gauss());
        const float v = (fcr[a] + fcr[a + 1] + fcr[b] + fcr[b + 1]) / 4 + 0.6f * float(gauss());
        cb[size_t(yy) * cw + x] = uint8_t(cam_clamp(u + 0.5f, 0, 255));
        cr[size_t(yy) * cw + x] = uint8_t(cam_clamp(v + 0.5f, 0, 255));
      }
    std::fputs("FRAME\n", f);
    std::fwrite(y.data(), 1, y.size(), f);
    std::fwrite(cb.data(), 1, cb.size(), f);
    std::fwrite(cr.data(), 1, cr.size(), f);
  }
  if (std::fclose(f) != 0) {
    std::perror(out_path);
    return 1;
  }
  return 0;
}
