// A natural-looking test clip for the encoder figures: a slow camera pan and zoom over a
// procedurally made landscape (multi-octave value noise for texture, soft gradients and blobs
// for light, a few hard-edged shapes), with a little fresh grain in every frame. The scene is
// the same at every size (its features scale with the width), so clips of different sizes are
// comparable. Writes 8-bit 4:2:0 YUV4MPEG2, limited range (16-235), 601 colours, 25 frames a
// second; the same arguments always give the same bytes.
//
//   y4m_pan WIDTH HEIGHT FRAMES OUT.y4m [SEED]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

uint32_t pan_hash(int32_t x, int32_t y, uint32_t seed) {
  uint32_t h = uint32_t(x) * 0x8da6b343u ^ uint32_t(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
  h ^= h >> 15;
  h *= 0x2c1b3c6du;
  h ^= h >> 12;
  h *= 0x297a2d39u;
  h ^= h >> 15;
  return h;
}

// Value noise in [0, 1): random values on the integer lattice, smoothly interpolated.
float pan_value_noise(float x, float y, uint32_t seed) {
  const float fx = std::floor(x), fy = std::floor(y);
  const int32_t ix = int32_t(fx), iy = int32_t(fy);
  float tx = x - fx, ty = y - fy;
  tx = tx * tx * (3 - 2 * tx);
  ty = ty * ty * (3 - 2 * ty);
  const float k = 1.0f / 4294967296.0f;
  const float a = float(pan_hash(ix, iy, seed)) * k, b = float(pan_hash(ix + 1, iy, seed)) * k;
  const float c = float(pan_hash(ix, iy + 1, seed)) * k, d = float(pan_hash(ix + 1, iy + 1, seed)) * k;
  return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

// Fractal noise in about [0, 1): octaves from `base` cycles per unit up to about 2.5 pixels a cycle.
float pan_fractal(float x, float y, float base, float px_per_unit, uint32_t seed, float persistence) {
  float sum = 0, amp = 1, norm = 0, f = base;
  for (int o = 0; o < 12 && px_per_unit / f >= 2.5f; ++o, f *= 2.03f, amp *= persistence) {
    sum += amp * pan_value_noise(x * f + 17.3f * o, y * f - 9.1f * o, seed + uint32_t(o));
    norm += amp;
  }
  return norm > 0 ? sum / norm : 0.5f;
}

float pan_clamp01(float v) { return v < 0 ? 0 : v > 1 ? 1 : v; }
float pan_smooth(float e0, float e1, float v) {
  const float t = pan_clamp01((v - e0) / (e1 - e0));
  return t * t * (3 - 2 * t);
}

struct Rgb { float r, g, b; };
Rgb pan_mix(Rgb a, Rgb b, float t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

// The scene at (u, v), in units of the picture width; `ppu` = texture pixels per unit, for the
// finest octave and for anti-aliasing the hard edges over one pixel.
Rgb pan_scene(float u, float v, float ppu, uint32_t seed) {
  const float aa = 1.0f / ppu;
  // Sky above a wavy horizon, landscape below.
  const float horizon = 0.28f + 0.08f * pan_fractal(u, 0, 1.5f, ppu, seed + 100, 0.5f);
  const float clouds = pan_fractal(u * 0.7f, v * 1.6f, 2.0f, ppu, seed + 200, 0.55f);
  Rgb sky = pan_mix(Rgb{0.35f, 0.55f, 0.85f}, Rgb{0.80f, 0.86f, 0.93f}, pan_clamp01(v / 0.35f));
  sky = pan_mix(sky, Rgb{0.97f, 0.97f, 0.96f}, pan_smooth(0.50f, 0.75f, clouds));
  const float t = pan_fractal(u, v, 3.0f, ppu, seed + 300, 0.58f);
  const float detail = pan_fractal(u, v, 24.0f, ppu, seed + 400, 0.6f);
  Rgb ground = pan_mix(Rgb{0.22f, 0.36f, 0.14f}, Rgb{0.55f, 0.50f, 0.30f}, pan_smooth(0.35f, 0.65f, t));
  ground = pan_mix(ground, Rgb{0.45f, 0.42f, 0.40f}, pan_smooth(0.6f, 0.75f, t));  // rock
  const float shade = 0.70f + 0.6f * (detail - 0.5f) + 0.25f * (v - 0.6f);
  ground = {ground.r * shade, ground.g * shade, ground.b * shade};
  Rgb c = pan_mix(sky, ground, pan_smooth(horizon - aa, horizon + aa, v));

  // Hard-edged things: a few "buildings" (rectangles with windows) and round stones.
  for (int i = 0; i < 7; ++i) {
    const uint32_t h = pan_hash(i, 7, seed);
    const float x0 = 0.1f + 1.6f * float(h & 0xffff) / 65536.0f, w = 0.05f + 0.10f * float((h >> 16) & 0xff) / 256.0f;
    const float top = horizon - 0.04f - 0.12f * float(h >> 24) / 256.0f;
    if (u < x0 - aa || u > x0 + w + aa || v < top - aa || v > horizon + 0.05f) continue;
    const float inside = pan_smooth(-aa, aa, u - x0) * pan_smooth(-aa, aa, x0 + w - u) * pan_smooth(-aa, aa, v - top);
    const float tone = 0.45f + 0.35f * float(h % 97) / 97.0f;
    Rgb wall{tone, tone * 0.92f, tone * 0.85f};
    const float grain = 0.9f + 0.2f * pan_fractal(u, v, 40.0f, ppu, seed + 500 + uint32_t(i), 0.5f);
    wall = {wall.r * grain, wall.g * grain, wall.b * grain};
    const float gx = (u - x0) * 90.0f, gy = (v - top) * 70.0f;  // window grid
    const float win = pan_smooth(0.25f - aa * 90, 0.25f + aa * 90, gx - std::floor(gx)) *
                      pan_smooth(0.3f - aa * 70, 0.3f + aa * 70, gy - std::floor(gy));
    wall = pan_mix(wall, Rgb{0.15f, 0.17f, 0.22f}, win * 0.8f);
    c = pan_mix(c, wall, inside);
  }
  for (int i = 0; i < 12; ++i) {
    const uint32_t h = pan_hash(i, 11, seed);
    const float cx = 0.05f + 1.7f * float(h & 0xffff) / 65536.0f, cy = 0.55f + 0.9f * float(h >> 16) / 65536.0f;
    const float r = 0.02f + 0.04f * float(h % 101) / 101.0f;
    const float d = std::sqrt((u - cx) * (u - cx) + (v - cy) * (v - cy));
    if (d > r + aa) continue;
    const float lit = 0.55f + 0.45f * pan_clamp01(((cx - u) + (cy - v)) / r * 0.7f + 0.3f);
    const Rgb stone{0.52f * lit, 0.48f * lit, 0.45f * lit};
    c = pan_mix(c, stone, pan_smooth(aa, -aa, d - r));
  }
  // Soft light: a broad warm glow and a vignette-like falloff.
  const float glow = std::exp(-((u - 0.9f) * (u - 0.9f) + (v - 0.2f) * (v - 0.2f)) * 3.0f);
  c = {c.r + 0.12f * glow, c.g + 0.08f * glow, c.b + 0.02f * glow};
  return c;
}

uint32_t g_rng = 0x9e3779b9u;
float pan_grain() {  // about normal, standard deviation 1
  float s = 0;
  for (int i = 0; i < 4; ++i) {
    g_rng ^= g_rng << 13;
    g_rng ^= g_rng >> 17;
    g_rng ^= g_rng << 5;
    s += float(g_rng) / 4294967296.0f;
  }
  return (s - 2.0f) * 1.7320508f;
}

uint8_t pan_byte(float v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : int(v + 0.5f)); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: y4m_pan WIDTH HEIGHT FRAMES OUT.y4m [SEED]\n");
    return 2;
  }
  const int w = std::atoi(argv[1]), h = std::atoi(argv[2]), frames = std::atoi(argv[3]);
  const uint32_t seed = argc > 5 ? uint32_t(std::strtoul(argv[5], nullptr, 10)) : 1;
  if (w < 16 || h < 16 || w > 8192 || h > 8192 || (w | h) & 1 || frames < 1) {
    std::fprintf(stderr, "y4m_pan: even sizes from 16 to 8192 and at least one frame\n");
    return 2;
  }
  FILE* out = std::fopen(argv[4], "wb");
  if (!out) {
    std::perror(argv[4]);
    return 1;
  }
  // Camera path, in picture-width units: the view starts 1 unit wide at (0.2, 0.1), pans right
  // and a little down by 1/400 of a width a frame and zooms in by 0.15 % a frame (the view
  // narrows). The texture covers everything the path sees, with a margin for interpolation.
  const float aspect = float(h) / float(w);
  const float pan_u = 1.0f / 400, pan_v = 1.0f / 1200, zoom = 0.0015f;
  const float u0 = 0.2f, v0 = 0.1f;
  const float ppu = float(w) * 1.25f;  // texture pixels per unit: a little finer than the output
  const float span_u = 1.0f + pan_u * float(frames) + 0.05f, span_v = aspect + pan_v * float(frames) + 0.05f;
  const int tw = int(span_u * ppu) + 2, th = int(span_v * ppu) + 2;
  std::vector<float> tex(size_t(tw) * size_t(th) * 3);
  for (int y = 0; y < th; ++y)
    for (int x = 0; x < tw; ++x) {
      const Rgb c = pan_scene(u0 + float(x) / ppu, v0 + float(y) / ppu, ppu, seed);
      float* p = &tex[(size_t(y) * size_t(tw) + size_t(x)) * 3];
      p[0] = c.r, p[1] = c.g, p[2] = c.b;
    }

  std::fprintf(out, "YUV4MPEG2 W%d H%d F25:1 Ip A1:1 C420jpeg\n", w, h);
  std::vector<float> yf(size_t(w) * size_t(h)), uf(yf.size()), vf(yf.size());
  std::vector<uint8_t> plane(size_t(w) * size_t(h) * 3 / 2);
  for (int f = 0; f < frames; ++f) {
    const float scale = 1.0f / (1.0f + zoom * float(f));  // view width in units
    const float cu = 0.5f + pan_u * float(f), cv = aspect * 0.5f + pan_v * float(f);  // view centre, from u0, v0
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const float tu = (cu + (float(x) + 0.5f - float(w) * 0.5f) / float(w) * scale) * ppu - 0.5f;
        const float tv = (cv + (float(y) + 0.5f - float(h) * 0.5f) / float(w) * scale) * ppu - 0.5f;
        int ix = int(tu), iy = int(tv);
        if (ix < 0) ix = 0;
        if (iy < 0) iy = 0;
        if (ix > tw - 2) ix = tw - 2;
        if (iy > th - 2) iy = th - 2;
        const float ax = tu - float(ix), ay = tv - float(iy);
        float rgb[3];
        for (int k = 0; k < 3; ++k) {
          const float* p = &tex[(size_t(iy) * size_t(tw) + size_t(ix)) * 3 + size_t(k)];
          const float top = p[0] + (p[3] - p[0]) * ax, bottom = p[size_t(tw) * 3] + (p[size_t(tw) * 3 + 3] - p[size_t(tw) * 3]) * ax;
          rgb[k] = pan_clamp01(top + (bottom - top) * ay);
        }
        const size_t i = size_t(y) * size_t(w) + size_t(x);
        yf[i] = 16 + 219 * (0.299f * rgb[0] + 0.587f * rgb[1] + 0.114f * rgb[2]);
        uf[i] = 128 + 224 * (-0.168736f * rgb[0] - 0.331264f * rgb[1] + 0.5f * rgb[2]);
        vf[i] = 128 + 224 * (0.5f * rgb[0] - 0.418688f * rgb[1] - 0.081312f * rgb[2]);
      }
    uint8_t* py = plane.data();
    for (size_t i = 0; i < yf.size(); ++i) py[i] = pan_byte(yf[i] + 1.6f * pan_grain());
    uint8_t* pu = py + yf.size();
    uint8_t* pv = pu + yf.size() / 4;
    for (int y = 0; y < h / 2; ++y)
      for (int x = 0; x < w / 2; ++x) {
        const size_t a = size_t(2 * y) * size_t(w) + size_t(2 * x), b = a + size_t(w);
        pu[size_t(y) * size_t(w / 2) + size_t(x)] = pan_byte((uf[a] + uf[a + 1] + uf[b] + uf[b + 1]) * 0.25f + 0.8f * pan_grain());
        pv[size_t(y) * size_t(w / 2) + size_t(x)] = pan_byte((vf[a] + vf[a + 1] + vf[b] + vf[b + 1]) * 0.25f + 0.8f * pan_grain());
      }
    std::fputs("FRAME\n", out);
    if (std::fwrite(plane.data(), 1, plane.size(), out) != plane.size()) {
      std::perror(argv[4]);
      return 1;
    }
  }
  if (std::fclose(out) != 0) {
    std::perror(argv[4]);
    return 1;
  }
  return 0;
}
