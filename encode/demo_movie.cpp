#include "encode/demo_movie.h"

#include <cmath>
#include <cstring>

#include "encode/bit_writer.h"
#include "encode/container_writer.h"
#include "encode/picture_coder.h"
#include "encode/video_plane_writer.h"
#include "encode/video_transform_writer.h"
#include "video/transform.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------------------------------------
// The picture

// The colour field drifts by a whole even number of samples a frame (so that both the luma and
// the half-size chroma planes move by whole samples and motion copies rebuild it exactly); its
// direction turns by an eighth of a circle every second.
const int kDrift[8][2] = {{2, 0}, {2, 2}, {0, 2}, {-2, 2}, {-2, 0}, {-2, -2}, {0, -2}, {2, -2}};

void drift_of_frame(const DemoMovieSpec& s, uint32_t i, int* dx, int* dy) {
  const uint32_t second = i / (s.rate ? s.rate : 1);
  *dx = i ? kDrift[second % 8][0] : 0;
  *dy = i ? kDrift[second % 8][1] : 0;
}

// Where the colour field stands at frame i: the sum of the drifts so far.
void field_offset(const DemoMovieSpec& s, uint32_t i, int* ox, int* oy) {
  *ox = *oy = 0;
  for (uint32_t k = 1; k <= i; ++k) {
    int dx, dy;
    drift_of_frame(s, k, &dx, &dy);
    *ox += dx;
    *oy += dy;
  }
}

// The colour field at a whole sample position of its own plane: sums of waves through a
// rainbow palette, kept a little dark so that the shapes stand out.
void field_colour(int fx, int fy, double out[3]) {
  const double x = fx, y = fy;
  const double v = std::sin(x * 0.031 + 0.5) + std::sin(y * 0.043) + std::sin((x + y) * 0.022 + 1.2) +
                   std::sin(std::sqrt((x - 100) * (x - 100) + (y - 60) * (y - 60)) * 0.05);
  // A ring of four colours, smoothly joined: navy, teal, violet, rose.
  static const double kStops[4][3] = {{18, 30, 84}, {16, 112, 132}, {96, 48, 150}, {176, 64, 112}};
  double p = std::fmod(v * 0.45 + 8, 4.0);
  const int a = int(p) % 4, b = (a + 1) % 4;
  const double w = 0.5 - 0.5 * std::cos((p - int(p)) * kPi);
  for (int c = 0; c < 3; ++c) out[c] = kStops[a][c] * (1 - w) + kStops[b][c] * w;
}

// A coordinate bouncing between lo and hi, in whole samples.
int bounce_whole(int start, int speed, uint32_t i, int lo, int hi) {
  const int64_t span = hi - lo;
  if (span <= 0) return lo;
  int64_t p = (int64_t(start) - lo + int64_t(speed) * i) % (2 * span);
  if (p < 0) p += 2 * span;
  return int(lo + (p < span ? p : 2 * span - p));
}
double bounce(double start, double speed, double t, double lo, double hi) {
  const double span = hi - lo;
  if (span <= 0) return lo;
  double p = std::fmod(start - lo + speed * t, 2 * span);
  if (p < 0) p += 2 * span;
  return lo + (p < span ? p : 2 * span - p);
}

double clamp01(double v) { return v < 0 ? 0 : v > 1 ? 1 : v; }

void blend(double c[3], const double over[3], double cover) {
  for (int j = 0; j < 3; ++j) c[j] = c[j] * (1 - cover) + over[j] * cover;
}

// The balls move a whole even number of samples a frame, so that their insides are motion
// copies of the frame before.
struct Ball {
  int x0, y0, vx, vy, radius;
  double colour[3];
};
const Ball kBalls[3] = {
    {70, 60, 4, 2, 24, {255, 84, 60}},
    {230, 170, -2, 4, 19, {60, 190, 255}},
    {150, 90, 2, -4, 14, {255, 220, 50}},
};

struct Spinner {
  double x0, y0, vx, vy, half, spin;  // per second
  double colour[3], rim[3];
};
const Spinner kSpinners[2] = {
    {60, 170, 70, -55, 19, 1.7, {150, 80, 255}, {225, 200, 255}},
    {250, 60, -60, 75, 15, -2.3, {60, 215, 110}, {200, 255, 210}},
};

void ball_position(const DemoMovieSpec& s, const Ball& b, uint32_t i, int* x, int* y) {
  *x = bounce_whole(b.x0, b.vx, i, b.radius, int(s.width) - b.radius);
  *y = bounce_whole(b.y0, b.vy, i, b.radius, int(s.height) - b.radius);
}

// R, G, B of hue h (degrees) at full saturation and value.
void hue(double h, double out[3]) {
  for (int c = 0; c < 3; ++c) out[c] = 255 * (0.5 + 0.5 * std::cos((h / 360 - c / 3.0) * 2 * kPi));
}

// The mark's size over time: it springs into place in the first second.
double mark_scale(double t) {
  const double u = clamp01((t - 0.15) / 0.7);
  const double c = 1.9;  // overshoot
  const double w = u - 1;
  return u <= 0 ? 0 : 1 + (c + 1) * w * w * w + c * w * w;
}

// ---------------------------------------------------------------------------------------------
// The coder

// Samples of an 8 × 8 block of a plane (row pitch `pitch`).
void block_load(const uint8_t* plane, uint32_t pitch, uint32_t x, uint32_t y, uint8_t out[64]) {
  for (uint32_t r = 0; r < 8; ++r) std::memcpy(out + 8 * r, plane + size_t(y + r) * pitch + x, 8);
}
void block_store(uint8_t* plane, uint32_t pitch, uint32_t x, uint32_t y, const uint8_t in[64]) {
  for (uint32_t r = 0; r < 8; ++r) std::memcpy(plane + size_t(y + r) * pitch + x, in + 8 * r, 8);
}
uint32_t block_error(const uint8_t a[64], const uint8_t b[64]) {
  uint32_t e = 0;
  for (int k = 0; k < 64; ++k) {
    const uint32_t d = a[k] > b[k] ? a[k] - b[k] : b[k] - a[k];
    e = d > e ? d : e;
  }
  return e;
}

// Whether `a` can stand for `target`: no sample further off than `tol`, and off by at most
// half a step on average. A block that is off by the same amount all over shows as a square
// next to one that is off the other way, in a smooth area and in a fade most of all; errors
// scattered inside a block do not.
bool block_fits(const uint8_t a[64], const uint8_t target[64], uint32_t tol) {
  int sum = 0;
  for (int k = 0; k < 64; ++k) sum += int(a[k]) - int(target[k]);
  return (sum < 0 ? -sum : sum) <= 32 && block_error(a, target) <= tol;
}

// The scale of each transform position in the decoder's dequantisation factors.
struct DctTables {
  double aan[8];
};
const DctTables& dct_tables() {
  static const DctTables t = [] {
    DctTables d;
    for (int u = 0; u < 8; ++u) d.aan[u] = transform_position_scale(u);
    return d;
  }();
  return t;
}

// Rough costs in bits of the block forms, to choose between them.
constexpr uint32_t kSkipBits = 2, kMotionBits = 12, kFillBits = 10, kPatternBits = 90, kRawBits = 64 * 6;

struct Candidate {
  VideoBlock block;
  uint8_t samples[64];  // what the decoder rebuilds
  uint32_t bits = ~0u;
};

// The cheapest transform block within `tol` of `target`: the coarsest quantiser that keeps every
// sample close enough (the decoder stores the low 8 bits, so a block that would overflow fails
// the test and is left to the other forms).
bool try_intra(const uint8_t target[64], uint32_t tol, Candidate* best) {
  const DctTables& t = dct_tables();
  int16_t samples[64];
  for (int k = 0; k < 64; ++k) samples[k] = target[k];
  double f[64];
  transform_forward_dct(samples, f);
  for (int q = 15; q >= 0; --q) {
    int16_t c[64];
    for (int k = 0; k < 64; ++k) {
      // The decoder multiplies a value by IntraQuant (16 fractional bits, with the transform's
      // scale of the position) and its transform divides that scale out again.
      const double step = IntraQuant[q][k] / (65536.0 * t.aan[k / 8] * t.aan[k % 8]);
      const double v = std::lround(f[k] / step);
      c[k] = int16_t(v > 32767 ? 32767 : v < -32767 ? -32767 : v);
    }
    uint8_t rebuilt[64];
    idct_put(c, IntraQuant[q], rebuilt, 8);
    if (!block_fits(rebuilt, target, tol)) continue;
    BitWriter w;
    if (!write_coefficients(&w, c)) continue;
    const uint32_t bits = uint32_t(bit_writer_position(&w)) + 4 + 10;
    if (bits < best->bits) {
      best->block = video_intra(c, uint8_t(q));
      std::memcpy(best->samples, rebuilt, 64);
      best->bits = bits;
    }
    return true;
  }
  return false;
}

// A fill or a two-colour pattern that fits `target` (block_fits).
void try_flat(const uint8_t target[64], uint32_t tol, Candidate* best) {
  uint8_t lo = 255, hi = 0;
  for (int k = 0; k < 64; ++k) {
    lo = target[k] < lo ? target[k] : lo;
    hi = target[k] > hi ? target[k] : hi;
  }
  if (uint32_t(hi - lo) <= 2 * tol) {
    uint32_t sum = 0;
    for (int k = 0; k < 64; ++k) sum += target[k];
    const uint8_t v = uint8_t((sum + 32) / 64);
    uint8_t samples[64];
    std::memset(samples, v, 64);
    if (block_fits(samples, target, tol)) {
      if (kFillBits < best->bits) {
        best->block = video_fill(v);
        std::memset(best->samples, v, 64);
        best->bits = kFillBits;
      }
      return;
    }
  }
  if (kPatternBits >= best->bits) return;
  // Two groups split at the middle value, each shown by its mean.
  const uint32_t middle = (lo + hi) / 2;
  uint32_t sum[2] = {}, n[2] = {};
  for (int k = 0; k < 64; ++k) {
    const int g = target[k] > middle;
    sum[g] += target[k];
    n[g] += 1;
  }
  const uint8_t a = uint8_t((sum[0] + n[0] / 2) / n[0]), b = uint8_t((sum[1] + n[1] / 2) / n[1]);
  uint8_t rows[8] = {}, samples[64];
  for (int k = 0; k < 64; ++k) {
    const bool second = target[k] > middle;
    samples[k] = second ? b : a;
    rows[k / 8] |= uint8_t(second << (k % 8));
  }
  if (!block_fits(samples, target, tol)) return;
  best->block = video_pattern(a, b, rows);
  std::memcpy(best->samples, samples, 64);
  best->bits = kPatternBits;
}

// One plane of one frame. `target` is what was drawn, `ref` what the decoder holds from the frame
// before (null on a key frame); `rebuilt` receives what it will hold after this frame.
struct PlaneJob {
  const uint8_t* target;
  const uint8_t* ref;
  uint8_t* rebuilt;
  uint32_t width, height, scale;
  // Motion offsets worth trying (in this plane's samples), besides staying in place.
  int offsets[8][2];
  uint32_t offset_count;
};

bool code_plane(const PlaneJob& j, uint32_t tol, uint32_t stride, std::vector<uint8_t>* out,
                DemoMovieStats* stats) {
  VideoPlaneDesc d;
  d.width = j.width;
  d.height = j.height;
  d.scale = j.scale;
  for (uint32_t y = 0; y < j.height; y += 8) {
    std::vector<VideoBlock> row;
    for (uint32_t x = 0; x < j.width; x += 8) {
      uint8_t target[64];
      block_load(j.target, j.width, x, y, target);
      Candidate best;
      if (j.ref) {
        // What is already there, moved or not.
        for (uint32_t k = 0; k <= j.offset_count && best.bits == ~0u; ++k) {
          const int mx = k ? j.offsets[k - 1][0] : 0, my = k ? j.offsets[k - 1][1] : 0;
          if (k && !mx && !my) continue;
          const int sx = int(x) + mx, sy = int(y) + my;
          if (sx < 0 || sy < 0 || sx + 8 > int(j.width) || sy + 8 > int(j.height)) continue;
          uint8_t moved[64];
          block_load(j.ref, j.width, uint32_t(sx), uint32_t(sy), moved);
          if (!block_fits(moved, target, tol)) continue;
          best.block = k ? video_motion(mx, my) : video_skip();
          std::memcpy(best.samples, moved, 64);
          best.bits = k ? kMotionBits : kSkipBits;
        }
      }
      if (best.bits > kFillBits) try_flat(target, tol, &best);
      if (best.bits > kMotionBits) try_intra(target, tol, &best);
      if (kRawBits < best.bits) {
        best.block = video_raw(target);
        std::memcpy(best.samples, target, 64);
        best.bits = kRawBits;
      }
      block_store(j.rebuilt, j.width, x, y, best.samples);
      if (stats && best.block.kind < 10) stats->blocks[best.block.kind] += 1;
      row.push_back(std::move(best.block));
    }
    d.rows.push_back(std::move(row));
  }
  VideoPlaneOptions o;
  o.buffer_stride = stride;
  return video_write_plane(d, 0, o, out);
}

}  // namespace

std::vector<uint8_t> demo_movie_rgb(const DemoMovieSpec& s, uint32_t i) {
  const double t = double(i) / (s.rate ? s.rate : 1);
  const int w = int(s.width), h = int(s.height);
  std::vector<uint8_t> rgb(size_t(w) * h * 3);
  int ox, oy;
  field_offset(s, i, &ox, &oy);
  int bx[3], by[3];
  for (int k = 0; k < 3; ++k) ball_position(s, kBalls[k], i, &bx[k], &by[k]);
  double sx[2], sy[2], sc[2], ss[2];
  for (int k = 0; k < 2; ++k) {
    const Spinner& p = kSpinners[k];
    const double margin = p.half * 1.42;
    sx[k] = bounce(p.x0, p.vx, t, margin, w - margin);
    sy[k] = bounce(p.y0, p.vy, t, margin, h - margin);
    sc[k] = std::cos(p.spin * t);
    ss[k] = std::sin(p.spin * t);
  }
  const double cx = w / 2.0, cy = h / 2.0;
  const double bar_angle = t * 1.1, bar_c = std::cos(bar_angle), bar_s = std::sin(bar_angle);
  const double mark = 34 * mark_scale(t);
  // The whole picture fades in over the first 0.4 s and out over the last.
  const double frames_left = double(s.frames) - 1 - i;
  const double fade_frames = 0.4 * (s.rate ? s.rate : 1);
  const double fade = clamp01(std::fmin((i + 1) / fade_frames, (frames_left + 1) / fade_frames));
  const double light = fade * fade * (3 - 2 * fade);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double c[3];
      field_colour(x + ox, y + oy, c);
      const double px = x + 0.5, py = y + 0.5;
      // The bar turning about the centre, its colours running along it.
      {
        const double u = (px - cx) * bar_c + (py - cy) * bar_s, v = -(px - cx) * bar_s + (py - cy) * bar_c;
        const double dist = std::fmax(std::fabs(u) - 100, std::fabs(v) - 6);
        const double cover = clamp01(0.5 - dist);
        if (cover > 0) {
          // Light colours running along it, inside a dark edge.
          double bar[3];
          hue(u * 1.2 + t * 90, bar);
          for (double& b : bar) b = 110 + b * 0.57;
          const double edge[3] = {20, 16, 40};
          blend(c, edge, cover);
          blend(c, bar, clamp01(-1.5 - dist));
        }
      }
      // The mark: a dark disc in a light ring, a play sign inside.
      if (mark > 0) {
        const double dx = px - cx, dy = py - cy, r = std::sqrt(dx * dx + dy * dy);
        const double disc = clamp01(mark - r + 0.5);
        if (disc > 0) {
          const double ink[3] = {22, 24, 52}, ring[3] = {240, 240, 248}, play[3] = {255, 150, 40};
          blend(c, ink, disc);
          blend(c, ring, disc * clamp01(r - (mark - 5.5) + 0.5));
          // The play sign: a triangle pointing right, inside three edges.
          const double ax = -0.32 * mark, ay = 0.46 * mark, tip = 0.52 * mark;
          const double e1 = ax - dx;  // left edge
          const double nl = std::sqrt(ay * ay + (tip - ax) * (tip - ax));
          const double e2 = ((dx - ax) * ay + (dy - ay) * (tip - ax)) / nl;   // lower edge
          const double e3 = ((dx - ax) * ay - (dy + ay) * (tip - ax)) / nl;   // upper edge
          blend(c, play, clamp01(0.5 - std::fmax(e1, std::fmax(e2, e3))));
        }
      }
      // The spinning squares, each with a light rim.
      for (int k = 0; k < 2; ++k) {
        const Spinner& p = kSpinners[k];
        const double dx = px - sx[k], dy = py - sy[k];
        const double u = dx * sc[k] + dy * ss[k], v = -dx * ss[k] + dy * sc[k];
        const double dist = std::fmax(std::fabs(u), std::fabs(v)) - p.half;
        const double cover = clamp01(0.5 - dist);
        if (cover <= 0) continue;
        blend(c, p.colour, cover);
        blend(c, p.rim, cover * clamp01(dist + 3.5));
      }
      // The balls, lit from the upper left.
      for (int k = 0; k < 3; ++k) {
        const Ball& b = kBalls[k];
        const double dx = px - bx[k], dy = py - by[k];
        const double r = std::sqrt(dx * dx + dy * dy);
        const double cover = clamp01(b.radius - r + 0.5);
        if (cover <= 0) continue;
        const double nx = dx / b.radius, ny = dy / b.radius;
        const double nz = std::sqrt(std::fmax(0.0, 1 - nx * nx - ny * ny));
        const double lx = -0.45, ly = -0.55, lz = 0.70;  // the light, about unit length
        const double diffuse = std::fmax(0.0, nx * lx + ny * ly + nz * lz);
        const double hx = lx, hy = ly, hz = lz + 1, hn = std::sqrt(hx * hx + hy * hy + hz * hz);
        const double shine = std::pow(std::fmax(0.0, (nx * hx + ny * hy + nz * hz) / hn), 40);
        double ball[3];
        for (int j = 0; j < 3; ++j) ball[j] = b.colour[j] * (0.2 + 0.8 * diffuse) + 255 * 0.6 * shine;
        blend(c, ball, cover);
      }
      uint8_t* out = &rgb[(size_t(y) * w + x) * 3];
      for (int j = 0; j < 3; ++j) {
        const double v = c[j] * light;
        out[j] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : std::lround(v));
      }
    }
  return rgb;
}

namespace {

// The tune: eighth notes of a quarter second, three bars of four beats, then again.
struct Note {
  int midi;
  int start, length;  // in eighths
};
const Note kMelody[] = {
    {76, 0, 1},  {79, 1, 1},  {81, 2, 1},  {79, 3, 1},  {76, 4, 1},  {74, 5, 1},  {72, 6, 2},
    {76, 8, 1},  {79, 9, 1},  {81, 10, 1}, {84, 11, 1}, {81, 12, 1}, {79, 13, 1}, {76, 14, 2},
    {81, 16, 1}, {79, 17, 1}, {76, 18, 1}, {74, 19, 1}, {72, 20, 4},
};
const Note kBass[] = {
    {48, 0, 2},  {55, 2, 2},  {45, 4, 2},  {52, 6, 2},  {41, 8, 2},  {48, 10, 2},
    {43, 12, 2}, {50, 14, 2}, {48, 16, 2}, {55, 18, 2}, {48, 20, 4},
};
// One chord a second: C, A minor, F, G, C, C.
const int kChords[6][3] = {{60, 64, 67}, {57, 60, 64}, {53, 57, 60}, {55, 59, 62}, {60, 64, 67}, {60, 64, 67}};
constexpr int kTuneEighths = 24;
constexpr double kEighth = 0.25;

double note_hz(int midi) { return 440 * std::pow(2.0, (midi - 69) / 12.0); }

// A struck note: a quick rise, a decay, a short release after its end. `nt` is the time since
// its start, `len` its length in seconds.
double strike(double nt, double len, double decay) {
  if (nt < 0 || nt > len + 0.06) return 0;
  const double release = nt > len ? 1 - (nt - len) / 0.06 : 1;
  return std::fmin(1.0, nt / 0.006) * std::exp(-decay * nt) * release;
}

}  // namespace

std::vector<int16_t> demo_movie_tune(const DemoMovieSpec& s) {
  const uint32_t rate = s.audio_rate;
  if (!rate || !s.rate) return {};
  const uint64_t n = uint64_t(s.frames) * rate / s.rate;
  const double total = double(n) / rate;
  std::vector<int16_t> pcm(size_t(n) * 2);
  const double loop = kTuneEighths * kEighth;
  for (uint64_t k = 0; k < n; ++k) {
    const double t = double(k) / rate;
    const double tt = std::fmod(t, loop);
    double melody = 0, bass = 0, pad = 0;
    for (const Note& m : kMelody) {
      const double nt = tt - m.start * kEighth;
      const double e = strike(nt, m.length * kEighth, 3.0);
      if (e <= 0) continue;
      const double ph = 2 * kPi * note_hz(m.midi) * nt;
      melody += e * (std::sin(ph) + 0.35 * std::sin(2 * ph) + 0.12 * std::sin(3 * ph));
    }
    for (const Note& b : kBass) {
      const double nt = tt - b.start * kEighth;
      const double e = strike(nt, b.length * kEighth, 1.6);
      if (e <= 0) continue;
      const double ph = 2 * kPi * note_hz(b.midi) * nt;
      bass += e * (std::sin(ph) + 0.25 * std::sin(2 * ph));
    }
    {
      // The chords: two slightly detuned sines a tone, swelling in and out over their second.
      const int chord = int(tt / (4 * kEighth)) % 6;
      const double ct = tt - chord * 4 * kEighth;
      const double e = std::fmin(1.0, ct / 0.12) * std::fmin(1.0, (1.0 - ct) / 0.15);
      for (int v = 0; v < 3; ++v) {
        const double f = note_hz(kChords[chord][v]);
        pad += e * (std::sin(2 * kPi * f * t) + std::sin(2 * kPi * f * 1.003 * t));
      }
    }
    // The whole tune fades in over 10 ms and out over the last 0.4 s.
    const double level = std::fmin(1.0, std::fmin(t / 0.01, (total - t) / 0.4));
    const double left = level * (5600 * melody + 8000 * bass + 1500 * pad);
    const double right = level * (7000 * melody + 8000 * bass + 1050 * pad);
    pcm[2 * k] = int16_t(left > 32767 ? 32767 : left < -32767 ? -32767 : std::lround(left));
    pcm[2 * k + 1] = int16_t(right > 32767 ? 32767 : right < -32767 ? -32767 : std::lround(right));
  }
  return pcm;
}

std::vector<uint8_t> demo_movie_write(const DemoMovieSpec& s, DemoMovieStats* stats) {
  if (!s.rate || !s.frames || !s.audio_rate) return {};
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
  PicturePlanes held;  // what the decoder holds after the frame before
  for (uint32_t i = 0; i < s.frames; ++i) {
    PicturePlanes drawn;
    const std::vector<uint8_t> rgb = demo_movie_rgb(s, i);
    if (!picture_planes_from_rgb(rgb.data(), s.width, s.height, &drawn)) return {};
    const bool key = s.key_every <= 1 || i % s.key_every == 0;
    // The motion worth trying: the colour field's drift and each ball's step.
    int offsets[4][2];
    uint32_t count = 0;
    drift_of_frame(s, i, &offsets[0][0], &offsets[0][1]);
    count = 1;
    for (const Ball& b : kBalls) {
      int x0, y0, x1, y1;
      ball_position(s, b, i ? i - 1 : 0, &x0, &y0);
      ball_position(s, b, i, &x1, &y1);
      offsets[count][0] = x0 - x1;
      offsets[count][1] = y0 - y1;
      ++count;
    }
    PicturePlanes next = drawn;
    const uint8_t* planes_drawn[3] = {drawn.luma.data(), drawn.cr.data(), drawn.cb.data()};
    const uint8_t* planes_held[3] = {held.luma.data(), held.cr.data(), held.cb.data()};
    uint8_t* planes_next[3] = {next.luma.data(), next.cr.data(), next.cb.data()};
    VideoPacketPlanes packet;
    std::vector<uint8_t>* outs[3] = {&packet.luma, &packet.chroma1, &packet.chroma2};
    for (int p = 0; p < 3; ++p) {
      PlaneJob j;
      j.target = planes_drawn[p];
      j.ref = key ? nullptr : planes_held[p];
      j.rebuilt = planes_next[p];
      j.scale = p ? 2 : 1;
      j.width = p ? drawn.chroma_width : drawn.luma_width;
      j.height = p ? drawn.chroma_rows : drawn.luma_rows;
      j.offset_count = 0;
      for (uint32_t k = 0; k < count; ++k) {
        // The chroma planes move half as far; an odd step has no whole-sample copy there.
        if (p && (offsets[k][0] % 2 || offsets[k][1] % 2)) continue;
        j.offsets[j.offset_count][0] = offsets[k][0] / int(j.scale);
        j.offsets[j.offset_count][1] = offsets[k][1] / int(j.scale);
        ++j.offset_count;
      }
      if (!code_plane(j, s.max_error, drawn.stride, outs[p], stats)) return {};
    }
    WriterFrame f;
    f.key = key;
    f.video = video_write_packet(packet, 0);
    if (f.video.empty()) return {};
    if (stats) {
      stats->video_bytes += f.video.size();
      stats->audio_bytes += sound[i].size();
    }
    f.audio.push_back(sound[i]);
    d.frames.push_back(std::move(f));
    held = std::move(next);
  }
  return container_write(d);
}
