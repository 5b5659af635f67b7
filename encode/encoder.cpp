#include "encode/encoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "encode/bit_writer.h"
#include "encode/video_plane_writer.h"
#include "encode/video_transform_writer.h"
#include "video/plane.h"
#include "video/transform.h"

namespace {


// Estimated bits of each block form besides its transform bits (the trees adapt to the frame,
// so these are typical figures, good enough to rank the forms).
constexpr double kSkipBits = 1, kKindBits = 3, kFillBits = kKindBits + 6, kPatternBits = kKindBits + 12 + 56,
                 kRawBits = kKindBits + 64 * 5.5, kIntraExtraBits = kKindBits + 6 + 4, kInterExtraBits = kKindBits + 4 + 4;
constexpr double kSubKindBits = 2;  // a scaled block's sub-kind
// A scaled block's error counts double: its blur carries into every frame that predicts from it
// (measured: weight 1 loses at higher qualities, 2 gains or breaks even everywhere).
constexpr double kScaledErrorWeight = 2;
// Scene cuts: luma blocks looked at (at most), and how much more than an inter frame a key frame
// may cost there (measured: cuts come at 1.0 to 1.1, moving pictures at 1.25 and up).
constexpr uint32_t kCutBlocks = 1024;
constexpr double kCutExtra = 1.15;
// Transform values are trimmed (rdo_trim) in every trial at this speed and below, which takes
// 40 % more time at the default speed; at the speed above, only where a block is taken (see
// trim_taken).
constexpr uint32_t kTrimSpeed = 1;
// Key frames other than scene cuts are coded this many quality steps finer (less when key frames
// come more often than every kKeyBoostFrames frames): on the camera clips 0.3 dB more at the
// same rate from 500 to 1000 kbit/s and 0.15 at 2000, 0.6 on the push-in; a pan over a flat
// landscape loses up to 0.08. Scene cuts are left alone: the demo's fades are runs of them.
constexpr double kKeyBoost = 16, kKeyBoostFrames = 50;
// Where the picture moves by fractions of a pixel, a transform block's correction lasts one
// picture: the next one moves on and the copy of the corrected block misses by about as much as
// before. Where it moves by whole pixels (or not at all), the copies carry the correction on. So
// against a transform (or residue) block, the error of the skip or motion copy it corrects counts
// for less where the source pictures themselves do not match at the copy's offsets: fully at a
// mean squared difference (the blocks' means aside, which copies never fix) up to kCopyExact,
// down to copy_weight_floor(quality) from kCopyMoving up: 0.45 at quality 0, rising slowly as
// the corrections get finer (a floor of 1 by quality 65 gives up to 0.1 dB of it back on the
// camera clips; one lower than 0.45 loses on the pan). Fills and the other forms are weighed as
// before (discounting the copy against them too loses up to 0.1 dB on the demo at 500 kbit/s).
// Measured through --bitrate against plain errors: camera clips +0.5 to 0.6 dB at 500 kbit/s,
// +0.3 to 0.4 at 1000, +0.1 to 0.2 at 2000; the demo and the pan within ±0.1 dB.
constexpr double kCopyExact = 3, kCopyMoving = 20;
double copy_weight_floor(double quality) { return std::clamp(0.45 + quality / 200, 0.3, 1.0); }

struct DctTables {
  double aan[8];
  // Quantiser steps of each index and position, in the units of transform_forward_dct.
  double intra_step[16][64], inter_step[16][64];
  double intra_inv[16][64], inter_inv[16][64];  // their reciprocals
};

const DctTables& dct_tables() {
  static const DctTables t = [] {
    DctTables d;
    for (int u = 0; u < 8; ++u) d.aan[u] = transform_position_scale(u);
    for (int q = 0; q < 16; ++q)
      for (int k = 0; k < 64; ++k) {
        const double a = 65536.0 * d.aan[k / 8] * d.aan[k % 8];
        d.intra_step[q][k] = IntraQuant[q][k] / a;
        d.inter_step[q][k] = InterQuant[q][k] / a;
        d.intra_inv[q][k] = 1 / d.intra_step[q][k];
        d.inter_inv[q][k] = 1 / d.inter_step[q][k];
      }
    return d;
  }();
  return t;
}

// v over the step (given as its reciprocal), rounded toward zero after adding `rounding`.
inline int16_t quantise(double v, double inv_step, double rounding) {
  const double a = std::fabs(v) * inv_step + rounding;
  const int32_t m = a > 32767 ? 32767 : int32_t(a);
  return int16_t(v < 0 ? -m : m);
}

// The intra transform values of a block at quantiser q (the DC kept within 0..2047).
// `f` (optional) receives the transform values.
void quantise_intra(const uint8_t samples[64], uint32_t q, int16_t c[64], double* f_out = nullptr) {
  const DctTables& t = dct_tables();
  int16_t s[64];
  for (int k = 0; k < 64; ++k) s[k] = samples[k];
  double own[64];
  double* f = f_out ? f_out : own;
  transform_forward_dct(s, f);
  const double dc = std::floor(f[0] / t.intra_step[q][0] + 0.5);
  c[0] = int16_t(dc < 0 ? 0 : dc > 2047 ? 2047 : dc);
  for (int k = 1; k < 64; ++k) c[k] = quantise(f[k], t.intra_inv[q][k], 0.4);
}

uint32_t block_sse(const uint8_t a[64], const uint8_t b[64]) {
  uint32_t e = 0;
  for (int k = 0; k < 64; ++k) {
    const int d = int(a[k]) - int(b[k]);
    e += uint32_t(d * d);
  }
  return e;
}

uint32_t block_sad(const uint8_t* a, uint32_t apitch, const uint8_t* b, uint32_t bpitch, uint32_t stop) {
  uint32_t e = 0;
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 8; ++c) e += uint32_t(std::abs(int(a[r * apitch + c]) - int(b[r * bpitch + c])));
    if (e >= stop) return e;
  }
  return e;
}

void block_load(const uint8_t* plane, uint32_t pitch, int x, int y, uint8_t out[64]) {
  for (int r = 0; r < 8; ++r) std::memcpy(out + 8 * r, plane + size_t(y + r) * pitch + x, 8);
}

double offset_bits(int v) { return v == 0 ? 1.5 : 3.5 + std::log2(double(std::abs(v))); }

struct PlaneInfo {
  size_t offset;        // in a plane set
  uint32_t stride;      // row pitch
  uint32_t width, height;          // decoded area (multiples of 8)
  uint32_t vis_width, vis_height;  // the picture's own samples
  uint32_t scale;
};

constexpr uint32_t kAlphaPlane = 3;

struct Candidate {
  VideoBlock block;
  uint8_t samples[64];
  double cost = 1e300;
};

}  // namespace

struct Encoder {
  EncoderSettings s;
  VideoStore store;
  uint32_t movie_flags, header_flags;
  uint32_t plane_count;           // Y and chroma planes coded (1 for grey, else 3)
  bool alpha;
  PlaneInfo plane[4];             // Y, Cr, Cb in packet order, then alpha (kAlphaPlane)
  std::vector<uint8_t> source;   // the padded picture, laid out like a plane set
  std::vector<uint8_t> prev_source;  // the picture before it (see kCopyExact)
  bool have_prev_source = false;
  std::vector<uint8_t> model;    // what the blocks were modelled to decode to
  std::vector<uint8_t> source_alpha, model_alpha;  // the same for the alpha plane
  std::vector<int8_t> mv[4];     // per block offsets (x, y) of this frame
  std::vector<int8_t> prev_mv[4];
  uint32_t frames = 0, since_key = 0;
  BitWriter scratch;
};

double encoder_quant_of_quality(double quality) {
  if (quality < 0) quality = 0;
  if (quality > 100) quality = 100;
  return 15.0 * (100.0 - quality) / 100.0;
}

double encoder_psnr(double sse, uint64_t samples) {
  if (!samples) return 0;
  if (sse <= 0) return 99;
  const double p = 10 * std::log10(255.0 * 255.0 * double(samples) / sse);
  return p > 99 ? 99 : p;
}

Encoder* encoder_open(const EncoderSettings& s) {
  Encoder* e = new Encoder;
  e->s = s;
  if (s.version < 'f' || s.version > 'i') {
    delete e;
    return nullptr;
  }
  e->alpha = s.alpha;
  e->movie_flags = (s.grey ? kVideoFlagGrey : 0) | (s.alpha ? kVideoFlagAlpha : 0) |
                   (s.version != 'i' ? kVideoFlagSignMagnitude : 0) | (s.version <= 'g' ? kVideoFlagChromaSwap : 0);
  e->header_flags = (s.header_flags & ~kVideoFlagAlpha) | (s.grey ? kVideoFlagGrey : 0) | (s.alpha ? kVideoFlagAlpha : 0);
  if (!video_store_open(&e->store, s.width, s.height, s.alpha, false)) {
    delete e;
    return nullptr;
  }
  const VideoFrameSizes& z = e->store.sizes;
  e->plane_count = s.grey ? 1 : 3;
  e->plane[0] = {0, z.luma_stride, z.luma_width, z.luma_rows, s.width, s.height, 1};
  const size_t chroma = size_t(z.chroma_stride) * z.chroma_height;
  const uint32_t cw = (s.width + 1) / 2, ch = (s.height + 1) / 2;
  e->plane[1] = {size_t(z.luma_stride) * z.luma_height, z.chroma_stride, z.chroma_stride, z.chroma_height, cw, ch, 2};
  e->plane[2] = {e->plane[1].offset + chroma, z.chroma_stride, z.chroma_stride, z.chroma_height, cw, ch, 2};
  e->plane[kAlphaPlane] = {0, z.luma_stride, z.luma_width, z.luma_rows, s.width, s.height, 1};
  e->source.assign(z.set_bytes, 0);
  e->prev_source.assign(z.set_bytes, 0);
  e->model.assign(z.set_bytes, 0);
  if (s.alpha) {
    e->source_alpha.assign(z.alpha_bytes, 0);
    e->model_alpha.assign(z.alpha_bytes, 0);
  }
  for (uint32_t p = 0; p < 4; ++p) {
    const size_t n = size_t(e->plane[p].width / 8) * (e->plane[p].height / 8) * 2;
    e->mv[p].assign(n, 0);
    e->prev_mv[p].assign(n, 0);
  }
  dct_tables();
  return e;
}

void encoder_close(Encoder* e) {
  if (!e) return;
  video_store_close(&e->store);
  delete e;
}

const FramePlanes* encoder_planes(const Encoder* e) { return &e->store.planes; }

void encoder_set_quality(Encoder* e, double quality) {
  e->s.quality = quality < kEncoderLowestQuality ? kEncoderLowestQuality : quality > 100 ? 100 : quality;
}
uint32_t encoder_movie_flags(const Encoder* e) { return e->movie_flags; }

namespace {

// The picture plane (0 Y, 1 Cb, 2 Cr) that plane p of the packet carries: Y, Cr, Cb, or Y, Cb, Cr
// in versions "f" and "g".
uint32_t chroma_source(const Encoder* e, uint32_t p) {
  if (p == 0) return 0;
  return (e->movie_flags & kVideoFlagChromaSwap) ? p : 3 - p;
}

// Copies the picture into the padded source set (and alpha plane), repeating the last column and
// row. A missing alpha plane is opaque.
void load_source(Encoder* e, const EncoderPicture& pic) {
  for (uint32_t p = 0; p < 4; ++p) {
    if (p == kAlphaPlane ? !e->alpha : p >= e->plane_count) continue;
    const PlaneInfo& pi = e->plane[p];
    uint8_t* dst = (p == kAlphaPlane ? e->source_alpha.data() : e->source.data()) + pi.offset;
    if (p == kAlphaPlane && !pic.alpha) {
      std::memset(dst, 255, e->source_alpha.size());
      continue;
    }
    const uint32_t from = chroma_source(e, p);
    const uint8_t* base = p == kAlphaPlane ? pic.alpha : pic.plane[from];
    const uint32_t pitch = p == kAlphaPlane ? pic.alpha_pitch : pic.pitch[from];
    for (uint32_t y = 0; y < pi.height; ++y) {
      const uint32_t sy = y < pi.vis_height ? y : pi.vis_height - 1;
      const uint8_t* src = base + size_t(sy) * pitch;
      uint8_t* row = dst + size_t(y) * pi.stride;
      std::memcpy(row, src, pi.vis_width);
      for (uint32_t x = pi.vis_width; x < pi.width; ++x) row[x] = src[pi.vis_width - 1];
    }
  }
}

struct PlaneJob {
  Encoder* e;
  uint32_t p;
  bool key;
  double qf;      // fractional quantiser index
  double lambda;  // per bit, in squared sample errors
  const uint8_t* src;
  const uint8_t* ref;
  const uint8_t* prev_src;  // the previous picture's same plane (null when there is none)
  uint8_t* model;
  EncoderFrameStats* stats;
  bool no_zero;  // the older colour coding: colours cannot be 0
};

// A colour the plane can carry: in the older colour coding 0 becomes 1.
inline uint8_t colour_of(const PlaneJob& j, uint32_t v) { return uint8_t(j.no_zero && v == 0 ? 1 : v); }

// The samples that colour blocks show for `target`.
void colour_target(const PlaneJob& j, const uint8_t target[64], uint8_t out[64]) {
  for (int k = 0; k < 64; ++k) out[k] = colour_of(j, target[k]);
}

// The quantiser of block (bx, by): the fractional index dithered over the blocks.
uint32_t block_quant(double qf, uint32_t bx, uint32_t by) {
  const uint32_t base = uint32_t(qf);
  const double frac = qf - base;
  static const uint8_t kDither[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  const double t = (kDither[by & 3][bx & 3] + 0.5) / 16;
  const uint32_t q = base + (frac > t ? 1 : 0);
  return q > 15 ? 15 : q;
}

uint32_t coefficient_bits(Encoder*, const int16_t c[64]) {
  const uint32_t bits = coefficient_bit_count(c);
  return bits == 0xffffffffu ? 100000 : bits;
}

// Rate-distortion optimised quantisation: values of magnitude 1 whose bits cost more than the
// error they remove are zeroed. `f` holds the transform values, `step` their quantiser steps: the
// transform keeps energy, so zeroing position k turns an error of (f - c step)² into f². A value
// of magnitude 1 costs its sign and its own significance bit, about 3 bits, and about 5 when it
// is the only value of its quad (whose set bits go too); counting each trial exactly costs as
// much as the rest of the block's choice, so the estimate decides and *bits is counted once after.
// True when a value was zeroed.
bool rdo_trim(Encoder* e, int16_t c[64], const double f[64], const double step[64], double lambda, uint32_t* bits) {
  static const struct Positions {
    uint8_t of[64];
    Positions() {
      for (int k = 0; k < 64; ++k) of[kCoefficientOrder[k]] = uint8_t(k);
    }
  } kAt;
  bool changed = false;
  for (int i = 63; i >= 1; --i) {
    const int k = kAt.of[i];
    if (c[k] != 1 && c[k] != -1) continue;
    const double rest = f[k] - c[k] * step[k];
    const double added = f[k] * f[k] - rest * rest;
    const int quad = i & ~3;
    bool alone = true;
    for (int m = quad; m < quad + 4; ++m)
      if (m != i && m != 0 && c[kAt.of[m]] != 0) alone = false;
    if (added < lambda * (alone ? 5 : 3)) {
      c[k] = 0;
      changed = true;
    }
  }
  if (changed) *bits = coefficient_bits(e, c);
  return changed;
}

// At the default speed only a transform block that would be taken is trimmed, and kept trimmed
// when that costs less: on the camera clips about half the gain of trimming every trial (+0.05
// dB at 2000 and 4000 kbit/s, against +0.1 to 0.15) for a tenth of its time. `rebuild` makes
// the samples of values. Updates c, rec and *cost when the trimmed block is better.
template <typename Rebuild>
void trim_taken(const PlaneJob& j, const uint8_t target[64], int16_t c[64], const double f[64], const double step[64],
                double extra_bits, uint8_t rec[64], double* cost, Rebuild rebuild) {
  if (j.e->s.speed != kTrimSpeed + 1) return;
  int16_t t[64];
  std::memcpy(t, c, sizeof t);
  uint32_t bits = 0;
  if (!rdo_trim(j.e, t, f, step, j.lambda, &bits)) return;
  uint8_t got[64];
  rebuild(t, got);
  const double trimmed = block_sse(got, target) + j.lambda * (extra_bits + bits);
  if (trimmed >= *cost) return;
  std::memcpy(c, t, sizeof t);
  std::memcpy(rec, got, 64);
  *cost = trimmed;
}

void try_intra(const PlaneJob& j, const uint8_t target[64], uint32_t q, Candidate* best) {
  int16_t c[64];
  double f[64];
  quantise_intra(target, q, c, f);
  uint32_t bits = coefficient_bits(j.e, c);
  if (j.e->s.speed <= kTrimSpeed) rdo_trim(j.e, c, f, dct_tables().intra_step[q], j.lambda, &bits);
  uint8_t rec[64];
  idct_put(c, IntraQuant[q], rec, 8);
  double cost = block_sse(rec, target) + j.lambda * (kIntraExtraBits + bits);
  if (cost < best->cost) {
    trim_taken(j, target, c, f, dct_tables().intra_step[q], kIntraExtraBits, rec, &cost,
               [&](const int16_t* v, uint8_t* out) { idct_put(v, IntraQuant[q], out, 8); });
    best->block = video_intra(c, uint8_t(q));
    std::memcpy(best->samples, rec, 64);
    best->cost = cost;
  }
}

void try_inter(const PlaneJob& j, const uint8_t target[64], const uint8_t pred[64], int mx, int my, uint32_t q,
               Candidate* best) {
  const DctTables& t = dct_tables();
  int16_t r[64];
  for (int k = 0; k < 64; ++k) r[k] = int16_t(target[k] - pred[k]);
  double f[64];
  transform_forward_dct(r, f);
  int16_t c[64];
  const double dc = std::floor(std::fabs(f[0]) / t.inter_step[q][0] + 0.5);
  const double dm = dc > 1023 ? 1023 : dc;
  c[0] = int16_t(f[0] < 0 ? -dm : dm);
  for (int k = 1; k < 64; ++k) c[k] = quantise(f[k], t.inter_inv[q][k], 0.3);
  uint32_t cbits = coefficient_bits(j.e, c);
  if (j.e->s.speed <= kTrimSpeed) rdo_trim(j.e, c, f, t.inter_step[q], j.lambda, &cbits);
  uint8_t rec[64];
  idct_add(c, InterQuant[q], pred, rec, 8);
  const double extra = kInterExtraBits + offset_bits(mx) + offset_bits(my);
  double cost = block_sse(rec, target) + j.lambda * (extra + cbits);
  if (cost < best->cost) {
    trim_taken(j, target, c, f, t.inter_step[q], extra, rec, &cost,
               [&](const int16_t* v, uint8_t* out) { idct_add(v, InterQuant[q], pred, out, 8); });
    best->block = video_inter(mx, my, c, uint8_t(q));
    std::memcpy(best->samples, rec, 64);
    best->cost = cost;
  }
}

// Exact runs along a few scan orders (rows, columns, and both as snakes).
void try_runs(const PlaneJob& j, const uint8_t target[64], Candidate* best) {
  // Runs pay only where neighbours repeat.
  uint32_t repeats = 0;
  for (int k = 0; k < 56; ++k) repeats += target[k] == target[k + 8];
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 7; ++c) repeats += target[8 * r + c] == target[8 * r + c + 1];
  if (repeats < 48) return;
  uint8_t shown[64];
  colour_target(j, target, shown);
  const double error = block_sse(shown, target);
  static const uint8_t kScans[4] = {0, 7, 5, 15};
  int chosen = -1;
  for (uint8_t scan : kScans) {
    uint32_t runs, colours;
    video_run_counts(scan, shown, &runs, &colours);
    const double cost = error + j.lambda * (kKindBits + 4 + 4.0 * runs + 5.5 * colours);
    if (cost < best->cost) {
      chosen = scan;
      best->cost = cost;
    }
  }
  if (chosen >= 0) {
    best->block = video_run_from_samples(uint8_t(chosen), shown);
    std::memcpy(best->samples, shown, 64);
  }
}

// A motion copy plus exact small corrections (and, lossy, the same without the ±1 ones).
void try_residue(const PlaneJob& j, const uint8_t target[64], const uint8_t pred[64], int mx, int my,
                 Candidate* best) {
  int8_t r[64];
  uint32_t events = 0;
  for (int k = 0; k < 64; ++k) {
    r[k] = int8_t(uint8_t(target[k] - pred[k]));
    const int a = r[k] < 0 ? -r[k] : r[k];
    if (a > 8) return;  // larger corrections are the transform's job
    events += a ? 1 : 0;
  }
  // Each correction takes a few bits: no use trying when that alone costs more than the best.
  if (events > 64 || best->cost <= j.lambda * (kKindBits + 10 + 3.0 * events)) return;
  for (int variant = 0; variant < 2; ++variant) {
    if (variant) {
      bool changed = false;
      for (int8_t& v : r)
        if (v == 1 || v == -1) {
          v = 0;
          changed = true;
        }
      if (!changed) return;
    }
    if (residue_events(r) > 128) continue;
    BitWriter& w = j.e->scratch;
    w.count_only = true;
    w.counted = 0;
    if (!write_residue(&w, r, kAutoPlanes, 127)) continue;
    uint8_t rec[64];
    for (int k = 0; k < 64; ++k) rec[k] = uint8_t(pred[k] + r[k]);
    const double bits = kKindBits + 7 + offset_bits(mx) + offset_bits(my) + double(bit_writer_position(&w));
    const double cost = block_sse(rec, target) + j.lambda * bits;
    if (cost < best->cost) {
      best->block = video_residue(mx, my, r, 127);
      std::memcpy(best->samples, rec, 64);
      best->cost = cost;
    }
  }
}

void try_flat(const PlaneJob& j, const uint8_t target[64], bool pattern, Candidate* best) {
  uint32_t sum = 0;
  for (int k = 0; k < 64; ++k) sum += target[k];
  const uint8_t v = colour_of(j, (sum + 32) / 64);
  uint8_t samples[64];
  std::memset(samples, v, 64);
  double cost = block_sse(samples, target) + j.lambda * kFillBits;
  if (cost < best->cost) {
    best->block = video_fill(v);
    std::memcpy(best->samples, samples, 64);
    best->cost = cost;
  }
  if (!pattern) return;
  // Two groups split at the mean, each shown by its own mean.
  uint32_t above_sum = 0, above = 0;  // written to vectorise: sums of the samples above v
  for (int k = 0; k < 64; ++k) {
    const uint32_t g = target[k] > v;
    above_sum += g * target[k];
    above += g;
  }
  const uint32_t gs[2] = {sum - above_sum, above_sum}, gn[2] = {64 - above, above};
  if (!gn[0] || !gn[1]) return;
  const uint8_t a = colour_of(j, (gs[0] + gn[0] / 2) / gn[0]), b = colour_of(j, (gs[1] + gn[1] / 2) / gn[1]);
  uint8_t rows[8] = {};
  for (int k = 0; k < 64; ++k) {
    const bool second = target[k] > v;
    samples[k] = second ? b : a;
    rows[k / 8] |= uint8_t(second << (k % 8));
  }
  cost = block_sse(samples, target) + j.lambda * kPatternBits;
  if (cost < best->cost) {
    best->block = video_pattern(a, b, rows);
    std::memcpy(best->samples, samples, 64);
    best->cost = cost;
  }
}

// A 16 × 16 area coded as one scaled block: its description (the upper half's element) and
// the samples it gives.
struct ScaledCandidate {
  VideoBlock block;
  uint8_t samples[256];
  double cost = 1e300;
  bool chosen = false;
};

// Scaled forms of the 16 × 16 area at (x, y) (a fill, a two-colour pattern when `colours`, and an
// intra transform, all at half resolution). Takes the first that costs less than best->cost;
// true when one did.
bool try_scaled(const PlaneJob& j, uint32_t x, uint32_t y, uint32_t q, bool colours, ScaledCandidate* best) {
  const PlaneInfo& pi = j.e->plane[j.p];
  uint8_t target[256];
  for (int r = 0; r < 16; ++r) std::memcpy(target + 16 * r, j.src + size_t(y + r) * pi.stride + x, 16);
  // Every scaled form repeats each sample over a 2 × 2 square, so no form comes closer than the
  // squares' means.
  uint8_t half[64];
  uint32_t sum = 0;
  for (int k = 0; k < 64; ++k) {
    const int r = 2 * (k / 8), c = 2 * (k % 8);
    const uint32_t s4 = target[16 * r + c] + target[16 * r + c + 1] + target[16 * r + 16 + c] + target[16 * r + 17 + c];
    half[k] = uint8_t((s4 + 2) / 4);
    sum += s4;
  }
  auto sse16 = [&](const uint8_t* got) {
    uint32_t e = 0;
    for (int k = 0; k < 256; ++k) {
      const int d = int(got[k]) - int(target[k]);
      e += uint32_t(d * d);
    }
    return double(e) * kScaledErrorWeight;
  };
  auto upsample = [](const uint8_t in[64], uint8_t out[256]) {
    for (int k = 0; k < 256; ++k) out[k] = in[8 * (k / 32) + (k % 16) / 2];
  };
  uint8_t samples[256];
  upsample(half, samples);
  const double shared_bits = 2 * kKindBits + kSubKindBits;
  if (sse16(samples) + j.lambda * (shared_bits + 6) >= best->cost) return false;
  bool found = false;
  auto take = [&](VideoBlock&& inner, const uint8_t* got, double cost) {
    if (cost >= best->cost) return;
    best->block = video_scaled(inner);
    std::memcpy(best->samples, got, 256);
    best->cost = cost;
    best->chosen = found = true;
  };
  if (colours) {
    const uint8_t v = colour_of(j, (sum + 128) / 256);
    std::memset(samples, v, 256);
    take(video_fill(v), samples, sse16(samples) + j.lambda * (shared_bits + kFillBits - kKindBits));
    // Two groups of squares split at the mean, each shown by its own mean.
    uint32_t gs[2] = {}, gn[2] = {};
    for (int k = 0; k < 64; ++k) {
      const int g = half[k] > v;
      gs[g] += half[k];
      gn[g] += 1;
    }
    if (gn[0] && gn[1]) {
      const uint8_t a = colour_of(j, (gs[0] + gn[0] / 2) / gn[0]), b = colour_of(j, (gs[1] + gn[1] / 2) / gn[1]);
      uint8_t rows[8] = {}, small[64];
      for (int k = 0; k < 64; ++k) {
        const bool second = half[k] > v;
        small[k] = second ? b : a;
        rows[k / 8] |= uint8_t(second << (k % 8));
      }
      upsample(small, samples);
      take(video_pattern(a, b, rows), samples, sse16(samples) + j.lambda * (shared_bits + kPatternBits - kKindBits));
    }
  }
  int16_t c[64];
  quantise_intra(half, q, c);
  idct_put_scaled(c, IntraQuant[q], samples, 16);
  take(video_intra(c, uint8_t(q)), samples,
       sse16(samples) + j.lambda * (shared_bits + kIntraExtraBits - kKindBits + coefficient_bits(j.e, c)));
  return found;
}

struct MotionSearch {
  const uint8_t* src;  // target block in the source plane
  const uint8_t* ref;  // reference plane
  uint32_t stride;
  int x, y, max_x, max_y;
  double mv_weight;
  int best_x = 0, best_y = 0;
  double best = 1e300;

  bool valid(int mx, int my) const {
    const int sx = x + mx, sy = y + my;
    return mx >= -15 && mx <= 15 && my >= -15 && my <= 15 && sx >= 0 && sy >= 0 && sx <= max_x && sy <= max_y;
  }
  bool test(int mx, int my) {
    if (!valid(mx, my)) return false;
    const double penalty = mv_weight * (offset_bits(mx) + offset_bits(my));
    if (penalty >= best) return false;
    const uint32_t stop = best - penalty > 1e9 ? 0xffffffffu : uint32_t(best - penalty) + 1;
    const double c = block_sad(src, stride, ref + size_t(y + my) * stride + size_t(x + mx), stride, stop) + penalty;
    if (c < best) {
      best = c;
      best_x = mx;
      best_y = my;
      return true;
    }
    return false;
  }
};

// The error of the motion copy `moved` of block (x, y) at offsets (mx, my), whose squared error
// is `sse`, as it counts against a transform block (see kCopyExact).
double copy_error(const PlaneJob& j, int x, int y, int mx, int my, const uint8_t target[64], const uint8_t moved[64],
                  double sse) {
  if (!j.prev_src) return sse;
  const double floor = copy_weight_floor(j.e->s.quality);
  if (floor >= 1) return sse;
  // The part of an error that is the blocks' difference of means (64 d², d the mean difference).
  auto mean_part = [&](const uint8_t* a) {
    int d = 0;
    for (int k = 0; k < 64; ++k) d += int(target[k]) - int(a[k]);
    return double(d) * d / 64;
  };
  uint8_t was[64];
  block_load(j.prev_src, j.e->plane[j.p].stride, x + mx, y + my, was);
  const double moving = (block_sse(was, target) - mean_part(was)) / 64;
  if (moving <= kCopyExact) return sse;
  const double t = moving >= kCopyMoving ? 1 : (moving - kCopyExact) / (kCopyMoving - kCopyExact);
  const double weight = 1 - t * (1 - floor);
  const double mean = mean_part(moved);
  return weight * (sse - mean) + mean;
}

void code_plane(const PlaneJob& j, VideoPlaneDesc* d) {
  Encoder* e = j.e;
  const PlaneInfo& pi = e->plane[j.p];
  const uint32_t speed = e->s.speed;
  const uint32_t cols = pi.width / 8, rows = pi.height / 8;
  d->width = pi.width;
  d->height = pi.height;
  d->scale = pi.scale;
  d->rows.assign(rows, {});
  int8_t* mv = e->mv[j.p].data();
  const int8_t* prev = e->prev_mv[j.p].data();
  std::memset(mv, 0, e->mv[j.p].size());
  // A row's colours and run lengths must fit one chunk (its length field and the decoder's
  // buffer); past that, blocks take a transform instead (only very wide exact pictures get there).
  auto chunk_cap = [&](uint32_t stream) {
    const uint32_t cap = stream_buffer_bytes(e->store.planes.luma_stride, stream) / stream_element_bytes(stream);
    return cap < 32767 ? cap : 32767u;
  };
  const uint32_t colour_cap = chunk_cap(kStreamColours), run_cap = chunk_cap(kStreamRunLengths);
  // The best form of each 8 × 8 block (its offsets recorded for the neighbours' searches).
  auto choose = [&](uint32_t bx, uint32_t by) {
    const int x = int(bx * 8), y = int(by * 8);
    const uint8_t* src = j.src + size_t(y) * pi.stride + x;
    uint8_t target[64];
    block_load(j.src, pi.stride, x, y, target);
    const uint32_t q = block_quant(j.qf, bx, by);
    Candidate best;
    double copy_weighted = 1e300;  // the best copy's cost as a transform block must beat it (see kCopyExact)
    int copy_x = 0, copy_y = 0;
    if (!j.key) {
      uint8_t pred[64];
      block_load(j.ref, pi.stride, x, y, pred);
      best.block = video_skip();
      std::memcpy(best.samples, pred, 64);
      const double skip_sse = block_sse(pred, target);
      best.cost = skip_sse + j.lambda * kSkipBits;
      copy_weighted = copy_error(j, x, y, 0, 0, target, pred, skip_sse) + j.lambda * kSkipBits;
      // Motion: the neighbours' offsets (and the luma's for chroma), then a search around the best.
      MotionSearch m{src, j.ref, pi.stride, x, y, int(pi.width) - 8, int(pi.height) - 8, std::sqrt(j.lambda)};
      m.test(0, 0);
      auto predictor = [&](const int8_t* field, uint32_t cx, uint32_t cy, int div) {
        const size_t i = (size_t(cy) * cols + cx) * 2;
        m.test(field[i] / div, field[i + 1] / div);
      };
      if (bx) predictor(mv, bx - 1, by, 1);
      if (by) predictor(mv, bx, by - 1, 1);
      if (by && bx + 1 < cols) predictor(mv, bx + 1, by - 1, 1);
      predictor(prev, bx, by, 1);
      if (j.p == kAlphaPlane) {
        predictor(e->mv[0].data(), bx, by, 1);  // the luma's grid
      } else if (j.p) {
        const PlaneInfo& lp = e->plane[0];
        const uint32_t lx = 2 * bx < lp.width / 8 ? 2 * bx : lp.width / 8 - 1;
        const uint32_t ly = 2 * by < lp.height / 8 ? 2 * by : lp.height / 8 - 1;
        const size_t i = (size_t(ly) * (lp.width / 8) + lx) * 2;
        m.test(e->mv[0][i] / 2, e->mv[0][i + 1] / 2);
      }
      if (speed <= 1) {
        const int r = speed == 0 ? 8 : 4;
        const int cx = m.best_x, cy = m.best_y;
        for (int dy = -r; dy <= r; ++dy)
          for (int dx = -r; dx <= r; ++dx) m.test(cx + dx, cy + dy);
      } else if (speed <= 3) {
        // Steps to the best neighbour while one is better (one ring only at speed 3).
        for (int iter = 0; iter < (speed == 2 ? 16 : 1); ++iter) {
          const int cx = m.best_x, cy = m.best_y;
          bool moved = false;
          static const int kRing[8][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {-1, -1}, {1, -1}, {-1, 1}};
          for (const auto& s : kRing) moved |= m.test(cx + s[0], cy + s[1]);
          if (!moved) break;
        }
      }
      uint8_t moved[64];
      block_load(j.ref, pi.stride, x + m.best_x, y + m.best_y, moved);
      if (m.best_x || m.best_y) {
        const double bits = j.lambda * (kKindBits + offset_bits(m.best_x) + offset_bits(m.best_y));
        const double sse = block_sse(moved, target);
        const double w = copy_error(j, x, y, m.best_x, m.best_y, target, moved, sse) + bits;
        if (w < copy_weighted) {
          copy_weighted = w;
          copy_x = m.best_x;
          copy_y = m.best_y;
        }
        const double cost = sse + bits;
        if (cost < best.cost) {
          best.block = video_motion(m.best_x, m.best_y);
          std::memcpy(best.samples, moved, 64);
          best.cost = cost;
        }
      }
      // A residual transform on the best prediction (unless the copy is already nearly free).
      if (best.cost > j.lambda * 12) {
        try_inter(j, target, moved, m.best_x, m.best_y, q, &best);
        if (speed == 0 && (m.best_x || m.best_y)) try_inter(j, target, pred, 0, 0, q, &best);
        // Exact corrections win only near the top qualities (measured: none below 90).
        if (speed < 2 || (speed < 4 && e->s.quality >= 90)) try_residue(j, target, moved, m.best_x, m.best_y, &best);
      }
      const size_t i = (size_t(by) * cols + bx) * 2;
      mv[i] = int8_t(best.block.kind == kBlockSkip ? 0 : best.block.mx);
      mv[i + 1] = int8_t(best.block.kind == kBlockSkip ? 0 : best.block.my);
    }
    if (best.cost > j.lambda * kFillBits) try_flat(j, target, speed < 4 || j.key, &best);
    if (best.cost > j.lambda * (kIntraExtraBits + 4)) try_intra(j, target, q, &best);
    // Each transform block carries its own quantiser: an inter block (and, at the slow speeds,
    // an intra block) also tries the next coarser one, and at the slow speeds the next finer
    // one. Measured on camera clips at the default speed: 0.1 to 0.2 dB at the same rate from
    // 1000 kbit/s up, for about 5 % of the time (both neighbours on every block cost half).
    if (best.block.kind == kBlockInter || (best.block.kind == kBlockIntra && speed <= kTrimSpeed)) {
      const bool inter = best.block.kind == kBlockInter;
      const int mx = best.block.mx, my = best.block.my;
      uint8_t pred[64];
      if (inter) block_load(j.ref, pi.stride, x + mx, y + my, pred);
      for (const uint32_t other : {q + 1, speed <= kTrimSpeed ? q - 1 : 16u}) {
        if (other > 15) continue;  // past the coarsest (or below 0, which wraps)
        if (inter) {
          try_inter(j, target, pred, mx, my, other, &best);
        } else {
          try_intra(j, target, other, &best);
        }
      }
    }
    if (copy_weighted < best.cost &&
        (best.block.kind == kBlockInter || best.block.kind == kBlockIntra || best.block.kind == kBlockResidue)) {
      best.block = copy_x || copy_y ? video_motion(copy_x, copy_y) : video_skip();
      block_load(j.ref, pi.stride, x + copy_x, y + copy_y, best.samples);
      best.cost = copy_weighted;
      const size_t i = (size_t(by) * cols + bx) * 2;
      mv[i] = int8_t(copy_x);
      mv[i + 1] = int8_t(copy_y);
    }
    if (speed < 4 && best.cost > j.lambda * (kKindBits + 4 + 4 + 5.5)) try_runs(j, target, &best);
    if (best.cost > j.lambda * kRawBits) {
      uint8_t shown[64];
      colour_target(j, target, shown);
      const double cost = block_sse(shown, target) + j.lambda * kRawBits;
      if (cost < best.cost) {
        best.block = video_raw(shown);
        std::memcpy(best.samples, shown, 64);
        best.cost = cost;
      }
    }
    return best;
  };
  // Block rows go in pairs, so that a 16 × 16 area can weigh a scaled block against its four
  // blocks.
  std::vector<Candidate> chosen[2];
  chosen[0].resize(cols);
  chosen[1].resize(cols);
  std::vector<ScaledCandidate> scaled(cols / 2 + 1);
  for (uint32_t pair = 0; pair < rows; pair += 2) {
    const uint32_t pair_rows = rows - pair < 2 ? rows - pair : 2;
    for (uint32_t r = 0; r < pair_rows; ++r)
      for (uint32_t bx = 0; bx < cols; ++bx) chosen[r][bx] = choose(bx, pair + r);
    for (uint32_t k = 0; k < cols / 2; ++k) {
      scaled[k] = ScaledCandidate();
      if (pair_rows < 2 || speed >= 4) continue;
      const uint32_t bx = 2 * k;
      scaled[k].cost = chosen[0][bx].cost + chosen[0][bx + 1].cost + chosen[1][bx].cost + chosen[1][bx + 1].cost;
      const bool beaten = try_scaled(j, bx * 8, pair * 8, block_quant(j.qf, bx, pair), true, &scaled[k]);
      if (!beaten) continue;
      for (uint32_t r = 0; r < 2; ++r) {
        const size_t i = (size_t(pair + r) * cols + bx) * 2;
        std::memset(mv + i, 0, 4);
      }
    }
    for (uint32_t r = 0; r < pair_rows; ++r) {
      const uint32_t by = pair + r;
      std::vector<VideoBlock>& row = d->rows[by];
      row.reserve(cols);
      uint32_t colours = 0, runs = 0;
      for (uint32_t bx = 0; bx < cols; ++bx) {
        const int x = int(bx * 8), y = int(by * 8);
        ScaledCandidate& sc = scaled[bx / 2];
        if (bx % 2 == 0 && sc.chosen) {
          if (r == 0 && colours + sc.block.colours.size() > colour_cap) {
            // Too many colours for the row's chunk: the area's transform instead.
            sc.chosen = false;
            sc.cost = 1e300;
            try_scaled(j, bx * 8, pair * 8, block_quant(j.qf, bx, pair), false, &sc);
          }
          if (r == 0) colours += uint32_t(sc.block.colours.size());
          for (int k = 0; k < 8; ++k)
            std::memcpy(j.model + size_t(y + k) * pi.stride + x, sc.samples + 16 * (8 * r + k), 16);
          if (j.stats) j.stats->blocks[kBlockScaled] += 2;
          row.push_back(r == 0 ? sc.block : video_scaled_lower());
          ++bx;
          continue;
        }
        Candidate& best = chosen[r][bx];
        if (colours + best.block.colours.size() > colour_cap || runs + best.block.runs.size() > run_cap) {
          uint8_t target[64];
          block_load(j.src, pi.stride, x, y, target);
          best = Candidate();
          try_intra(j, target, block_quant(j.qf, bx, by), &best);
        }
        colours += uint32_t(best.block.colours.size());
        runs += uint32_t(best.block.runs.size());
        for (int k = 0; k < 8; ++k) std::memcpy(j.model + size_t(y + k) * pi.stride + x, best.samples + 8 * k, 8);
        if (j.stats && best.block.kind < 10) j.stats->blocks[best.block.kind] += 1;
        row.push_back(std::move(best.block));
      }
    }
  }
}

// Whether the picture starts a new scene: on a grid of luma blocks, coding them alone (fill, intra
// transform) costs little more than the best of that and coding them from the reference (skip,
// motion copy, inter transform), so that a key frame there is nearly free. `lambda` weighs bits
// against errors as for a quality of 90 or below, so that the decision does not follow the
// exactness of the highest qualities; below quality 0 it grows as the coding lambda does, so that
// a picture left to drift at the lowest rates does not look like a new scene.
bool scene_cut(Encoder* e, const uint8_t* ref, double qf, double lambda) {
  const PlaneInfo& pi = e->plane[0];
  PlaneJob j{e, 0, false, qf, lambda, e->source.data(), ref, nullptr, nullptr, nullptr, false};
  const uint32_t cols = pi.width / 8, rows = pi.height / 8;
  uint32_t step = 1;
  while (uint64_t((cols + step - 1) / step) * ((rows + step - 1) / step) > kCutBlocks) ++step;
  const int8_t* prev = e->prev_mv[0].data();
  double intra = 0, inter = 0;
  for (uint32_t by = 0; by < rows; by += step)
    for (uint32_t bx = 0; bx < cols; bx += step) {
      const int x = int(bx * 8), y = int(by * 8);
      uint8_t target[64], pred[64], moved[64];
      block_load(j.src, pi.stride, x, y, target);
      const uint32_t q = block_quant(qf, bx, by);
      Candidate alone;
      try_flat(j, target, false, &alone);
      try_intra(j, target, q, &alone);
      intra += alone.cost;
      Candidate from_ref;
      block_load(ref, pi.stride, x, y, pred);
      from_ref.cost = block_sse(pred, target) + lambda * kSkipBits;
      MotionSearch m{j.src + size_t(y) * pi.stride + x, ref, pi.stride, x, y, int(pi.width) - 8, int(pi.height) - 8,
                     std::sqrt(lambda)};
      m.test(0, 0);
      const size_t i = (size_t(by) * cols + bx) * 2;
      m.test(prev[i], prev[i + 1]);
      for (int iter = 0; iter < 8; ++iter) {
        const int cx = m.best_x, cy = m.best_y;
        bool better = false;
        static const int kRing[8][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {-1, -1}, {1, -1}, {-1, 1}};
        for (const auto& r : kRing) better |= m.test(cx + 2 * r[0], cy + 2 * r[1]);
        for (const auto& r : kRing) better |= m.test(m.best_x + r[0], m.best_y + r[1]);
        if (!better) break;
      }
      block_load(ref, pi.stride, x + m.best_x, y + m.best_y, moved);
      const double motion = block_sse(moved, target) +
                            lambda * (kKindBits + offset_bits(m.best_x) + offset_bits(m.best_y));
      if (motion < from_ref.cost) from_ref.cost = motion;
      try_inter(j, target, moved, m.best_x, m.best_y, q, &from_ref);
      inter += from_ref.cost < alone.cost ? from_ref.cost : alone.cost;
    }
  return intra <= kCutExtra * inter;
}

// The intra DC step of a fractional quantiser index.
double dc_step_of(double f) {
  const uint32_t q0 = uint32_t(f), q1 = q0 < 15 ? q0 + 1 : 15;
  const double frac = f - q0;
  return (IntraQuant[q0][0] * (1 - frac) + IntraQuant[q1][0] * frac) / 65536.0;
}

// Below quality 0 the quantiser stays at its coarsest and lambda grows instead (doubling every
// 4 steps), so that ever more blocks keep what the previous frame shows: far enough down,
// frames where nothing moves much are all skips.
double below_zero_factor(double quality) { return quality < 0 ? std::pow(2.0, -quality / 4) : 1; }

// Codes every plane of the loaded picture at the encoder's quality into *packet (the model
// planes and this frame's offsets are written; the reference is not touched).
bool code_frame(Encoder* e, bool key, std::vector<uint8_t>* packet, EncoderFrameStats* st) {
  FramePlanes* fp = &e->store.planes;
  const uint8_t* ref = fp->plane_sets[fp->current_set];
  const double qf = encoder_quant_of_quality(e->s.quality);
  const double lambda = encoder_lambda_of_quality(e->s.quality);
  st->quant = uint32_t(std::lround(qf));
  st->key = key;

  // The planes in coding order: luma first, so that the chroma and alpha planes can start their
  // motion search from its offsets.
  uint32_t order[4], planes_coded = 0;
  for (uint32_t p = 0; p < e->plane_count; ++p) order[planes_coded++] = p;
  if (e->alpha) order[planes_coded++] = kAlphaPlane;
  const uint8_t* ref_alpha = fp->alpha_planes[fp->current_set];

  VideoPacketPlanes planes;
  planes.alpha_section = e->alpha;
  std::vector<uint8_t>* outs[4] = {&planes.luma, &planes.chroma1, &planes.chroma2, &planes.alpha};
  for (uint32_t i = 0; i < planes_coded; ++i) {
    const uint32_t p = order[i];
    const PlaneInfo& pi = e->plane[p];
    const bool a = p == kAlphaPlane;
    PlaneJob j{e, p, key, qf, lambda, (a ? e->source_alpha.data() : e->source.data()) + pi.offset,
               (a ? ref_alpha : ref) + pi.offset,
               a || !e->have_prev_source ? nullptr : e->prev_source.data() + pi.offset,
               (a ? e->model_alpha.data() : e->model.data()) + pi.offset, st,
               (e->movie_flags & kVideoFlagSignMagnitude) != 0};
    VideoPlaneDesc d;
    code_plane(j, &d);
    VideoPlaneOptions o;
    o.buffer_stride = fp->luma_stride;
    // Planned chunks and trees: two rounds at the slow speeds, one at the default, none faster.
    o.plan_chunks = e->s.speed <= 2;
    o.plan_passes = e->s.speed <= 1 ? 2 : 1;
    if (!video_write_plane(d, e->movie_flags & kVideoFlagSignMagnitude, o, outs[p])) return false;
  }
  *packet = video_write_packet(planes, e->movie_flags);
  return true;
}

}  // namespace

double encoder_lambda_of_quality(double quality) {
  if (quality >= 100) return 1e-6;  // exact: any error costs more than a raw block's bits
  const double dc_step = dc_step_of(encoder_quant_of_quality(quality));
  // Above quality 90 lambda falls further, to a fiftieth just below 100.
  const double top = (100 - quality) / 10;
  // 0.2 × the DC step squared: measured against 0.5, the same bitrates give 0.4 to 0.8 dB more
  // from 500 kbit/s up on 320 x 240 clips, and the same at 250.
  return 0.2 * dc_step * dc_step * (top > 1 ? 1 : top < 0.02 ? 0.02 : top) * below_zero_factor(quality);
}

bool encoder_encode(Encoder* e, const EncoderPicture& picture, bool force_key, std::vector<uint8_t>* packet,
                    EncoderFrameStats* stats) {
  EncoderFrameStats local;
  EncoderFrameStats* st = stats ? stats : &local;
  *st = EncoderFrameStats();
  load_source(e, picture);
  FramePlanes* fp = &e->store.planes;
  const uint8_t* ref = fp->plane_sets[fp->current_set];
  bool key = force_key || e->frames == 0 || (e->s.keyint && e->since_key >= e->s.keyint);
  const double qf = encoder_quant_of_quality(e->s.quality);
  bool cut = false;
  if (!key && e->s.scene_cuts &&
      scene_cut(e, ref, qf, 0.5 * dc_step_of(qf) * dc_step_of(qf) * below_zero_factor(e->s.quality)))
    key = cut = true;
  // The first picture and the periodic key frames are coded finer: every skip and copy of the
  // frames after them shows their detail again (see kKeyBoost).
  const double kept = e->s.quality;
  if (key && !cut && e->s.key_boost && kept < 99) {
    const double interval = e->s.keyint ? double(e->s.keyint) : 1e9;
    e->s.quality = std::min(99.0, kept + kKeyBoost * std::min(1.0, interval / kKeyBoostFrames));
  }
  const bool coded = code_frame(e, key, packet, st);
  e->s.quality = kept;
  if (!coded) return false;

  // The reference for the next frame is what the decoder makes of the packet.
  uint32_t order[4], planes_coded = 0;
  for (uint32_t p = 0; p < e->plane_count; ++p) order[planes_coded++] = p;
  if (e->alpha) order[planes_coded++] = kAlphaPlane;
  std::memset(fp->change_map, 0, fp->map_blocks);
  const bool whole = video_decode_next(fp, e->s.width, e->s.height, packet->data(), packet->size(), key,
                                       e->movie_flags, e->header_flags);
  for (uint32_t i = 0; i < planes_coded; ++i) {
    const uint32_t p = order[i];
    const PlaneInfo& pi = e->plane[p];
    const bool alpha = p == kAlphaPlane;
    const uint8_t* got = alpha ? fp->alpha_planes[fp->current_set] : fp->plane_sets[fp->current_set];
    const uint8_t* model = alpha ? e->model_alpha.data() : e->model.data();
    const uint8_t* source = alpha ? e->source_alpha.data() : e->source.data();
    for (uint32_t by = 0; by < pi.height; by += 8)
      for (uint32_t bx = 0; bx < pi.width; bx += 8) {
        bool same = true;
        for (uint32_t r = 0; r < 8 && same; ++r) {
          const size_t at = pi.offset + size_t(by + r) * pi.stride + bx;
          same = std::memcmp(got + at, model + at, 8) == 0;
        }
        if (!same) st->model_mismatches += 1;
      }
    double sse = 0;
    for (uint32_t y = 0; y < pi.vis_height; ++y) {
      const uint8_t* a = got + pi.offset + size_t(y) * pi.stride;
      const uint8_t* b = source + pi.offset + size_t(y) * pi.stride;
      uint64_t row = 0;
      for (uint32_t x = 0; x < pi.vis_width; ++x) {
        const int dd = int(a[x]) - int(b[x]);
        row += uint32_t(dd * dd);
      }
      sse += double(row);
    }
    if (alpha) {
      st->alpha_sse = sse;
      st->alpha_samples = uint64_t(pi.vis_width) * pi.vis_height;
      continue;
    }
    // The statistics are in Y, Cb, Cr order.
    const uint32_t at = chroma_source(e, p);
    st->sse[at] = sse;
    st->samples[at] = uint64_t(pi.vis_width) * pi.vis_height;
  }
  if (!whole) st->model_mismatches += 1;
  for (uint32_t p = 0; p < 4; ++p) e->prev_mv[p].swap(e->mv[p]);
  e->prev_source.swap(e->source);  // the next picture is loaded over the old one
  e->have_prev_source = true;
  e->since_key = key ? 1 : e->since_key + 1;
  e->frames += 1;
  return true;
}
