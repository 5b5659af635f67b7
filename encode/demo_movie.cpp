#include "encode/demo_movie.h"

#include <cmath>

#include "encode/container_writer.h"
#include "encode/picture_coder.h"

namespace {

constexpr double kPi = 3.14159265358979;

struct Ball {
  double x0, y0, vx, vy, radius;
  uint8_t r, g, b;
};
const Ball kBalls[3] = {
    {60, 50, 95, 70, 26, 255, 96, 64},
    {220, 150, -120, 85, 20, 80, 205, 255},
    {160, 90, 70, -110, 15, 250, 222, 70},
};

// A coordinate bouncing between lo and hi.
double bounce(double start, double speed, double t, double lo, double hi) {
  const double span = hi - lo;
  double p = std::fmod(start - lo + speed * t, 2 * span);
  if (p < 0) p += 2 * span;
  return lo + (p < span ? p : 2 * span - p);
}

// HSV (hue in degrees) to R, G, B.
void hsv(double h, double s, double v, double out[3]) {
  h = std::fmod(h, 360);
  if (h < 0) h += 360;
  const double c = v * s, x = c * (1 - std::fabs(std::fmod(h / 60, 2) - 1)), m = v - c;
  const int k = int(h / 60) % 6;
  const double rgb[6][3] = {{c, x, 0}, {x, c, 0}, {0, c, x}, {0, x, c}, {x, 0, c}, {c, 0, x}};
  for (int i = 0; i < 3; ++i) out[i] = 255 * (rgb[k][i] + m);
}

uint8_t to8(double v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : std::lround(v)); }

}  // namespace

std::vector<uint8_t> demo_movie_rgb(const DemoMovieSpec& s, uint32_t i) {
  const double t = double(i) / s.rate;
  const int w = int(s.width), h = int(s.height);
  std::vector<uint8_t> rgb(size_t(w) * h * 3);
  // Where the balls and the bar stand now.
  double bx[3], by[3];
  for (int k = 0; k < 3; ++k) {
    const Ball& b = kBalls[k];
    bx[k] = bounce(b.x0, b.vx, t, b.radius, w - b.radius);
    by[k] = bounce(b.y0, b.vy, t, b.radius, h - b.radius);
  }
  const double angle = t * 1.3, ca = std::cos(angle), sa = std::sin(angle);
  const double cx = w / 2.0, cy = h / 2.0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      // The mosaic: 16 × 16 cells whose colours flow across the picture.
      double c[3];
      hsv((x / 16) * 18.0 + (y / 16) * 11.0 + t * 60, 0.55, 0.32 + 0.08 * std::sin(t * 2 + (x / 16) * 0.7), c);
      // The bar turning about the centre, behind the balls.
      const double u = (x + 0.5 - cx) * ca + (y + 0.5 - cy) * sa, v = -(x + 0.5 - cx) * sa + (y + 0.5 - cy) * ca;
      const double bar = std::fmin(std::fmin(1.0, 70 - std::fabs(u)), std::fmin(1.0, 5 - std::fabs(v)));
      if (bar > 0)
        for (double& ch : c) ch = ch * (1 - bar) + 235 * bar;
      // The balls, their edges smoothed over one pixel.
      for (int k = 0; k < 3; ++k) {
        const double dx = x + 0.5 - bx[k], dy = y + 0.5 - by[k];
        const double cover = std::fmin(1.0, std::fmax(0.0, kBalls[k].radius - std::sqrt(dx * dx + dy * dy) + 0.5));
        if (cover <= 0) continue;
        const double ball[3] = {double(kBalls[k].r), double(kBalls[k].g), double(kBalls[k].b)};
        for (int j = 0; j < 3; ++j) c[j] = c[j] * (1 - cover) + ball[j] * cover;
      }
      uint8_t* p = &rgb[(size_t(y) * w + x) * 3];
      for (int j = 0; j < 3; ++j) p[j] = to8(c[j]);
    }
  return rgb;
}

std::vector<int16_t> demo_movie_tune(const DemoMovieSpec& s) {
  const uint32_t rate = s.audio_rate;
  const uint64_t n = uint64_t(s.frames) * rate / s.rate;
  std::vector<int16_t> pcm(size_t(n) * 2);
  // A melody on the major pentatonic scale, a note every quarter second, over a bass line that
  // changes every second; each note a sine with its octave, struck and fading.
  static const double kScale[5] = {523.25, 587.33, 659.26, 783.99, 880.0};
  static const int kMelody[16] = {0, 2, 4, 3, 2, 4, 1, 0, 2, 3, 4, 4, 3, 1, 2, 0};
  static const double kBass[4] = {130.81, 110.0, 146.83, 98.0};
  for (uint64_t k = 0; k < n; ++k) {
    const double t = double(k) / rate;
    const int note = int(t * 4);
    const double nt = t - note / 4.0;
    const double f = kScale[kMelody[note % 16]];
    const double melody = std::exp(-nt * 7) * std::fmin(1.0, nt * 200) *
                          (std::sin(2 * kPi * f * nt) + 0.3 * std::sin(4 * kPi * f * nt));
    const int bass_note = int(t);
    const double bt = t - bass_note;
    const double fb = kBass[bass_note % 4];
    const double bass = std::exp(-bt * 2.5) * std::fmin(1.0, bt * 100) * std::sin(2 * kPi * fb * bt);
    pcm[2 * k] = int16_t(std::lround(6500 * melody * 0.7 + 9000 * bass));
    pcm[2 * k + 1] = int16_t(std::lround(6500 * melody + 9000 * bass * 0.7));
  }
  return pcm;
}

std::vector<uint8_t> demo_movie_write(const DemoMovieSpec& s) {
  if (!s.rate || !s.frames) return {};
  MovieDescription d;
  d.width = s.width;
  d.height = s.height;
  d.rate_num = s.rate;
  d.rate_den = 1;
  uint32_t word = 0;
  const std::vector<std::vector<uint8_t>> sound =
      picture_sound_packets(demo_movie_tune(s), s.audio_rate, 2, true, s.frames, s.rate, 1, &word);
  if (sound.size() != s.frames) return {};
  d.tracks.push_back({s.audio_rate * 2 * 2, word, 0});  // a ring of a second
  PicturePlanes previous;
  for (uint32_t i = 0; i < s.frames; ++i) {
    PicturePlanes planes;
    const std::vector<uint8_t> rgb = demo_movie_rgb(s, i);
    if (!picture_planes_from_rgb(rgb.data(), s.width, s.height, &planes)) return {};
    WriterFrame f;
    f.key = s.key_every <= 1 || i % s.key_every == 0;
    f.video = picture_write_packet(planes, f.key ? nullptr : &previous);
    if (f.video.empty()) return {};
    f.audio.push_back(sound[i]);
    d.frames.push_back(f);
    previous = std::move(planes);
  }
  return container_write(d);
}
