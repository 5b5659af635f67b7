// Writers of the transform and residue blocks: see video_transform_writer.h.
//
// The list mechanics are written out again here rather than shared with the reader, so the
// round-trip tests compare two independent renderings of the format. Where the reader reads a bit,
// the writer decides it from the values it knows and writes it; everything else is the same.
#include "encode/video_transform_writer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "video/transform.h"

namespace {

constexpr uint32_t kFrontRoom = 64;
constexpr uint32_t kListSize = kFrontRoom + 6 + 9;

enum : uint8_t { kSet20 = 0, kSet16 = 1, kQuad = 2, kSingle = 3 };

constexpr uint8_t entry_of(uint32_t first, uint8_t type) { return uint8_t(4 * first + type); }

// Number of coding indices covered by a set of each type.
constexpr uint32_t kSetSize[4] = {20, 16, 4, 1};

uint32_t magnitude16(int16_t v) { return v < 0 ? uint32_t(-int32_t(v)) : uint32_t(v); }
uint32_t magnitude8(int8_t v) { return v < 0 ? uint32_t(-int32_t(v)) : uint32_t(v); }

uint32_t bit_length(uint32_t v) {
  uint32_t n = 0;
  while (v) {
    ++n;
    v >>= 1;
  }
  return n;
}

// The writer's mirror of the reader's set list and of one set pass.
//
// `Coder` supplies:
//   uint32_t mag(j)            magnitude of coding index j
//   bool significant(j, p)     writes what the reader reads when j becomes significant in plane
//                              p (after the bit that made it so); false = the reader stops here
struct List {
  uint8_t entry[kListSize];
  uint32_t front = kFrontRoom;
  uint32_t end = kFrontRoom;

  void start(const uint8_t* e, uint32_t n) {
    std::memcpy(entry + kFrontRoom, e, n);
    end = kFrontRoom + n;
  }
  void insert_front(uint8_t e) {
    if (front > 0) entry[--front] = e;
  }
  void append(uint8_t e) {
    if (end < kListSize) entry[end++] = e;
  }
};

// The largest magnitude of each group of four coding indices (every set but a single starts at
// a multiple of four and covers whole groups).
struct QuadMax {
  uint32_t m[16];
  template <class Mag>
  void fill(const Mag& mag) {
    for (uint32_t q = 0; q < 16; ++q) {
      uint32_t a = 0;
      for (uint32_t j = 4 * q; j < 4 * q + 4; ++j) a = mag(j) > a ? mag(j) : a;
      m[q] = a;
    }
  }
};

template <class Coder>
bool set_significant(const Coder& c, uint32_t e, uint32_t m) {
  const uint32_t first = e >> 2;
  if ((e & 3) == kSingle) return c.mag(first) >= m;
  const uint32_t groups = kSetSize[e & 3] / 4;
  for (uint32_t g = first / 4; g < first / 4 + groups; ++g)
    if (c.quads.m[g] >= m) return true;
  return false;
}

template <class Coder>
bool write_quad(BitWriter* w, List* l, Coder& c, uint32_t i, uint32_t p) {
  const uint32_t m = 1u << p;
  for (uint32_t j = i; j < i + 4; ++j) {
    if (c.mag(j) < m) {
      write_bit(w, 1);  // not yet significant: deferred as a single at the front
      l->insert_front(entry_of(j, kSingle));
    } else {
      write_bit(w, 0);
      if (!c.significant(j, p)) return false;
    }
  }
  return true;
}

template <class Coder>
bool write_pass(BitWriter* w, List* l, Coder& c, uint32_t p) {
  const uint32_t m = 1u << p;
  for (uint32_t pos = l->front; pos < l->end; ++pos) {
    uint32_t e = l->entry[pos];
    while (e != 0) {
      const bool sig = set_significant(c, e, m);
      write_bit(w, sig);
      if (!sig) break;
      const uint32_t i = e >> 2;
      switch (e & 3) {
        case kSingle:
          l->entry[pos] = 0;
          e = 0;
          if (!c.significant(i, p)) return false;
          break;
        case kQuad:
          l->entry[pos] = 0;
          e = 0;
          if (!write_quad(w, l, c, i, p)) return false;
          break;
        case kSet16:
          e = entry_of(i, kQuad);
          l->entry[pos] = uint8_t(e);
          l->append(entry_of(i + 4, kQuad));
          l->append(entry_of(i + 8, kQuad));
          l->append(entry_of(i + 12, kQuad));
          break;
        default:  // kSet20
          e = entry_of(i + 4, kSet16);
          l->entry[pos] = uint8_t(e);
          if (!write_quad(w, l, c, i, p)) return false;
          break;
      }
    }
  }
  return true;
}

struct CoefficientCoder {
  int16_t value[64];  // coding order
  QuadMax quads;
  BitWriter* w;

  uint32_t mag(uint32_t j) const { return magnitude16(value[j]); }
  bool significant(uint32_t j, uint32_t p) {
    const uint32_t a = mag(j);
    write_bits(w, a - (1u << p), p);  // the p bits below the leading one
    write_bit(w, value[j] < 0);
    return true;
  }
};

struct ResidueCoder {
  uint32_t magnitude[64];  // coding order
  bool negative[64];
  uint8_t decoded[64];     // what the reader holds so far, modulo 256
  uint8_t order[64];       // indices in the order they became significant
  QuadMax quads;
  uint32_t count = 0;
  uint32_t events = 0;
  uint32_t limit = 0;
  BitWriter* w;

  uint32_t mag(uint32_t j) const { return magnitude[j]; }
  bool event() {
    if (events == limit) return false;
    ++events;
    return true;
  }
  bool significant(uint32_t j, uint32_t p) {
    const uint32_t m = 1u << p;
    write_bit(w, negative[j]);
    decoded[j] = negative[j] ? uint8_t(0u - m) : uint8_t(m);
    if (count < 64) order[count++] = uint8_t(j);
    return event();
  }
};

const uint8_t kCoefficientStart[6] = {
    entry_of(4, kSet20),  entry_of(24, kSet20), entry_of(44, kSet20),
    entry_of(1, kSingle), entry_of(2, kSingle), entry_of(3, kSingle),
};
const uint8_t kResidueStart[4] = {entry_of(4, kSet20), entry_of(24, kSet20), entry_of(44, kSet20),
                                  entry_of(0, kQuad)};

}  // namespace

int coefficient_planes(const int16_t block[64]) {
  uint32_t largest = 0;
  for (uint32_t k = 1; k < 64; ++k) {
    if (block[k] == INT16_MIN) return -1;
    const uint32_t a = magnitude16(block[k]);
    if (a > largest) largest = a;
  }
  return int(bit_length(largest));
}

bool write_coefficients(BitWriter* w, const int16_t block[64], int planes) {
  const int need = coefficient_planes(block);
  if (need < 0) return false;
  if (planes == kAutoPlanes) planes = need;
  if (planes < need || planes > 15) return false;

  CoefficientCoder c;
  c.w = w;
  c.value[0] = 0;
  for (uint32_t k = 1; k < 64; ++k) c.value[kCoefficientOrder[k]] = block[k];
  c.quads.fill([&](uint32_t j) { return c.mag(j); });

  write_bits(w, uint32_t(planes), 4);
  if (planes == 0) return true;
  List l;
  l.start(kCoefficientStart, 6);
  for (uint32_t p = uint32_t(planes); p-- > 0;) write_pass(w, &l, c, p);
  return true;
}

uint32_t coefficient_bit_count(const int16_t block[64]) {
  // top[j]: the plane where coding index j becomes significant (its magnitude's top bit), -1 for
  // 0; quad_top[g]: the highest of the quad of indices 4g to 4g + 3.
  int top[64];
  top[0] = -1;
  int planes = 0;
  for (uint32_t k = 1; k < 64; ++k) {
    if (block[k] == INT16_MIN) return 0xffffffffu;
    const int t = int(std::bit_width(magnitude16(block[k]))) - 1;
    top[kCoefficientOrder[k]] = t;
    planes = t + 1 > planes ? t + 1 : planes;
  }
  uint32_t bits = 4;
  if (planes == 0) return bits;
  int quad_top[16];
  for (uint32_t g = 0; g < 16; ++g) {
    const int a = top[4 * g] > top[4 * g + 1] ? top[4 * g] : top[4 * g + 1];
    const int b = top[4 * g + 2] > top[4 * g + 3] ? top[4 * g + 2] : top[4 * g + 3];
    quad_top[g] = a > b ? a : b;
  }
  // A set first tested in plane `from` is tested in every pass down to the plane where it
  // becomes significant (or down to plane 0).
  auto tests = [](int from, int at) { return uint32_t(at >= 0 ? from - at + 1 : from + 1); };
  // The values of a quad treated in plane p: a bit each; a value significant there takes its
  // bits below the top one and its sign; any other becomes a single tested from the next pass
  // (p passes down to plane 0, or p − top until it becomes significant, then top + 1 bits).
  auto quad = [&](uint32_t g, int p) {
    uint32_t b = 0;
    for (uint32_t j = 4 * g; j < 4 * g + 4; ++j) b += top[j] >= 0 ? uint32_t(p) + 2 : uint32_t(p) + 1;
    return b;
  };
  const int n = planes - 1;
  for (uint32_t g20 : {1u, 6u, 11u}) {  // the 20-sets at coding indices 4, 24 and 44
    const int p16 = std::max(std::max(quad_top[g20 + 1], quad_top[g20 + 2]),
                             std::max(quad_top[g20 + 3], quad_top[g20 + 4]));
    const int p20 = std::max(quad_top[g20], p16);
    bits += tests(n, p20);
    if (p20 < 0) continue;
    bits += quad(g20, p20);
    bits += tests(p20, p16);
    if (p16 < 0) continue;
    for (uint32_t g = g20 + 1; g < g20 + 5; ++g) {
      bits += tests(p16, quad_top[g]);
      if (quad_top[g] >= 0) bits += quad(g, quad_top[g]);
    }
  }
  for (uint32_t j = 1; j < 4; ++j) {
    bits += tests(n, top[j]);
    if (top[j] >= 0) bits += uint32_t(top[j]) + 1;
  }
  return bits;
}

int residue_planes(const int8_t residue[64]) {
  uint32_t largest = 0;
  for (uint32_t k = 0; k < 64; ++k) {
    const uint32_t a = magnitude8(residue[k]);
    if (a > largest) largest = a;
  }
  return largest <= 1 ? 0 : int(bit_length(largest)) - 1;
}

uint32_t residue_events(const int8_t residue[64]) {
  uint32_t events = 0;
  for (uint32_t k = 0; k < 64; ++k) events += uint32_t(std::popcount(magnitude8(residue[k])));
  return events;
}

bool write_residue(BitWriter* w, const int8_t residue[64], int t, uint32_t limit,
                   int8_t decoded[64]) {
  const int need = residue_planes(residue);
  if (t == kAutoPlanes) t = need;
  if (t < need || t > 7) return false;

  ResidueCoder c;
  c.w = w;
  c.limit = limit;
  for (uint32_t k = 0; k < 64; ++k) {
    const uint32_t j = kCoefficientOrder[k];
    c.magnitude[j] = magnitude8(residue[k]);
    c.negative[j] = residue[k] < 0;
    c.decoded[j] = 0;
  }
  c.quads.fill([&](uint32_t j) { return c.mag(j); });

  write_bits(w, uint32_t(t), 3);
  List l;
  l.start(kResidueStart, 4);
  for (uint32_t p = uint32_t(t) + 1; p-- > 0;) {
    const uint32_t m = 1u << p;
    // Refinement of the values significant before this plane: their bit p.
    const uint32_t refine = c.count;
    bool stopped = false;
    for (uint32_t s = 0; s < refine && !stopped; ++s) {
      const uint32_t j = c.order[s];
      const uint32_t bit = (c.magnitude[j] >> p) & 1;
      write_bit(w, bit);
      if (!bit) continue;
      uint8_t& v = c.decoded[j];
      v = int8_t(v) >= 0 ? uint8_t(v + m) : uint8_t(v - m);
      stopped = !c.event();
    }
    if (stopped || !write_pass(w, &l, c, p)) break;
  }

  if (decoded)
    for (uint32_t k = 0; k < 64; ++k) decoded[k] = int8_t(c.decoded[kCoefficientOrder[k]]);
  return true;
}

namespace {

constexpr double kTransformPi = 3.14159265358979323846;

// cos((2x + 1) u π / 16) as [x][u], and with the DC's 1/√2 and the factor 1/2 of each pass folded
// in as [y][v], so that the passes run along contiguous rows.
struct CosTable {
  float c[8][8];
};
const CosTable& cos_table() {
  static const CosTable t = [] {
    CosTable d;
    for (int u = 0; u < 8; ++u)
      for (int x = 0; x < 8; ++x)
        d.c[x][u] = float(0.5 * (u ? 1 : 1 / std::sqrt(2.0)) * std::cos((2 * x + 1) * u * kTransformPi / 16));
    return d;
  }();
  return t;
}

}  // namespace

void transform_forward_dct(const int16_t s[64], double f[64]) {
  // Single precision is ample here (the values stay below 2^15 and are rounded to quantiser
  // steps afterwards); eight lanes a row keep the passes vectorisable.
  const CosTable& t = cos_table();
  float rows[64];
  for (int y = 0; y < 8; ++y) {
    float a[8] = {};
    for (int x = 0; x < 8; ++x) {
      const float v = s[8 * y + x];
      for (int u = 0; u < 8; ++u) a[u] += v * t.c[x][u];
    }
    for (int u = 0; u < 8; ++u) rows[8 * y + u] = a[u];
  }
  for (int v = 0; v < 8; ++v) {
    float a[8] = {};
    for (int y = 0; y < 8; ++y) {
      const float c = t.c[y][v];
      for (int u = 0; u < 8; ++u) a[u] += rows[8 * y + u] * c;
    }
    for (int u = 0; u < 8; ++u) f[8 * v + u] = a[u];
  }
}

double transform_position_scale(int u) { return u ? std::sqrt(2.0) * std::cos(u * kTransformPi / 16) : 1; }
