#include "encode/video_plane_writer.h"

#include <cstring>

#include "base/bytes.h"
#include "encode/video_transform_writer.h"
#include "video/transform.h"

VideoBlock video_skip() { return VideoBlock(); }

VideoBlock video_motion(int mx, int my) {
  VideoBlock b;
  b.kind = kBlockMotion;
  b.mx = int8_t(mx);
  b.my = int8_t(my);
  return b;
}

VideoBlock video_fill(uint8_t v) {
  VideoBlock b;
  b.kind = kBlockFill;
  b.colours = {v};
  return b;
}

VideoBlock video_pattern(uint8_t a, uint8_t c, const uint8_t rows[8]) {
  VideoBlock b;
  b.kind = kBlockPattern;
  b.colours = {a, c};
  std::memcpy(b.pattern, rows, 8);
  return b;
}

VideoBlock video_raw(const uint8_t samples[64]) {
  VideoBlock b;
  b.kind = kBlockRaw;
  b.colours.assign(samples, samples + 64);
  return b;
}

VideoBlock video_run(uint8_t scan, std::vector<VideoRun> runs, std::vector<uint8_t> colours) {
  VideoBlock b;
  b.kind = kBlockRun;
  b.scan = scan;
  b.runs = std::move(runs);
  b.colours = std::move(colours);
  return b;
}

namespace {

// Walks `samples` along `scan` as video_run_from_samples codes them, counting the runs and
// colours, and filling `b` when given.
void run_walk(uint8_t scan, const uint8_t samples[64], VideoBlock* b, uint32_t* runs, uint32_t* colours) {
  const uint8_t* s = kRunScans[scan & 15];
  uint8_t v[64];
  for (int i = 0; i < 64; ++i) v[i] = samples[s[i]];
  uint32_t i = 0, nr = 0, nc = 0;
  while (i < 63) {  // a last position left alone takes its colour without a run
    uint32_t rep = 1;
    while (i + rep < 64 && rep < 16 && v[i + rep] == v[i]) ++rep;
    if (rep >= 2) {
      if (b) {
        b->runs.push_back({uint8_t(rep), true});
        b->colours.push_back(v[i]);
      }
      nr += 1;
      nc += 1;
      i += rep;
      continue;
    }
    uint32_t len = 1;  // listed run up to the next repeat
    while (i + len < 64 && len < 16 && !(i + len + 1 < 64 && v[i + len] == v[i + len + 1])) ++len;
    if (b) {
      b->runs.push_back({uint8_t(len), false});
      b->colours.insert(b->colours.end(), v + i, v + i + len);
    }
    nr += 1;
    nc += len;
    i += len;
  }
  if (i == 63) {
    if (b) b->colours.push_back(v[63]);
    nc += 1;
  }
  *runs = nr;
  *colours = nc;
}

}  // namespace

VideoBlock video_run_from_samples(uint8_t scan, const uint8_t samples[64]) {
  VideoBlock b;
  b.kind = kBlockRun;
  b.scan = scan;
  uint32_t runs, colours;
  run_walk(scan, samples, &b, &runs, &colours);
  return b;
}

void video_run_counts(uint8_t scan, const uint8_t samples[64], uint32_t* runs, uint32_t* colours) {
  run_walk(scan, samples, nullptr, runs, colours);
}

VideoBlock video_intra(const int16_t coefficients[64], uint8_t quant) {
  VideoBlock b;
  b.kind = kBlockIntra;
  std::memcpy(b.coefficients, coefficients, sizeof b.coefficients);
  b.quant = quant;
  return b;
}

VideoBlock video_inter(int mx, int my, const int16_t coefficients[64], uint8_t quant) {
  VideoBlock b = video_intra(coefficients, quant);
  b.kind = kBlockInter;
  b.mx = int8_t(mx);
  b.my = int8_t(my);
  return b;
}

VideoBlock video_residue(int mx, int my, const int8_t residue[64], uint8_t limit) {
  VideoBlock b;
  b.kind = kBlockResidue;
  b.mx = int8_t(mx);
  b.my = int8_t(my);
  std::memcpy(b.residue, residue, 64);
  b.limit = limit;
  return b;
}

VideoBlock video_scaled(const VideoBlock& inner) {
  VideoBlock b = inner;
  b.kind = kBlockScaled;
  b.sub_kind = inner.kind;
  return b;
}

VideoBlock video_scaled_lower() {
  VideoBlock b;
  b.kind = kBlockScaled;
  return b;
}

namespace {

// Elements of every stream that one block contributes, in order.
using StreamLists = std::vector<int32_t>[kStreamCount];

bool run_colour_count(const VideoBlock& b, uint32_t* count) {
  uint32_t i = 0, need = 0;
  for (const VideoRun& r : b.runs) {
    if (i >= 63 || r.length < 1 || r.length > 16 || i + r.length > 64) return false;
    need += r.fill ? 1 : r.length;
    i += r.length;
  }
  if (i != 63 && i != 64) return false;
  *count = need + (i == 63);
  return true;
}

// Collects the elements of `b` (content kind `kind`); false when it is not codable.
bool collect(const VideoBlock& b, uint32_t kind, StreamLists& s, const char** error) {
  auto offsets = [&] {
    s[kStreamXOffsets].push_back(b.mx);
    s[kStreamYOffsets].push_back(b.my);
  };
  auto colours = [&](uint32_t n) {
    if (b.colours.size() != n) {
      *error = "the number of colours does not match the block";
      return false;
    }
    for (uint8_t c : b.colours) s[kStreamColours].push_back(c);
    return true;
  };
  switch (kind) {
    case kBlockMotion:
    case kBlockResidue: offsets(); return true;
    case kBlockRun: {
      uint32_t need;
      if (b.scan > 15 || !run_colour_count(b, &need)) {
        *error = "the runs of a run block must end at position 63 or 64";
        return false;
      }
      for (const VideoRun& r : b.runs) s[kStreamRunLengths].push_back(r.length - 1);
      return colours(need);
    }
    case kBlockIntra: s[kStreamIntraDc].push_back(uint16_t(b.coefficients[0])); return true;
    case kBlockInter:
      offsets();
      s[kStreamInterDc].push_back(b.coefficients[0]);
      return true;
    case kBlockFill: return colours(1);
    case kBlockPattern:
      for (uint8_t p : b.pattern) s[kStreamPatterns].push_back(p);
      return colours(2);
    case kBlockRaw: return colours(64);
    default: return true;
  }
}

// The bits a block writes into the main stream between the chunks.
bool write_inline(BitWriter* w, const VideoBlock& b, uint32_t kind, const char** error) {
  switch (kind) {
    case kBlockRun:
      write_bits(w, b.scan, 4);
      for (const VideoRun& r : b.runs) write_bit(w, r.fill);
      return true;
    case kBlockResidue:
      if (b.limit > 127) break;
      write_bits(w, b.limit, 7);
      if (!write_residue(w, b.residue, b.residue_planes, b.limit)) break;
      return true;
    case kBlockIntra:
    case kBlockInter:
      if (b.quant > 15 || !write_coefficients(w, b.coefficients, b.planes)) break;
      write_bits(w, b.quant, 4);
      return true;
    default: return true;
  }
  *error = "a transform or residue block cannot be coded with its planes";
  return false;
}

// The content kind of a block at row y: its own kind, a scaled block's sub-kind, or none.
inline int content_kind(const VideoBlock& b, uint32_t y) {
  if (b.kind != kBlockScaled) return b.kind;
  if (y % 16) return -1;
  switch (b.sub_kind) {
    case kBlockRun:
    case kBlockIntra:
    case kBlockFill:
    case kBlockPattern:
    case kBlockRaw: return b.sub_kind;
    default: return -1;  // writes nothing
  }
}

// Counts the tree symbols that one chunk sends, as write_stream_chunk sends them (`equal`: the
// all-equal form, whose values go as plain bits except a colour's).
void count_chunk_symbols(uint32_t s, const int32_t* e, uint32_t n, bool equal, bool type_runs, bool sign_magnitude,
                         uint64_t counts[16], uint64_t ctx[16][16], uint32_t* last_high) {
  switch (s) {
    case kStreamBlockTypes:
    case kStreamSubblockTypes: {
      if (equal) return;
      int32_t prev = 0;
      for (uint32_t k = 0; k < n;) {
        uint32_t rep = 0;
        while (type_runs && k + rep < n && e[k + rep] == prev && rep < 32) ++rep;
        if (rep >= 4) {
          const uint32_t sym = rep >= 32 ? 15 : rep >= 12 ? 14 : rep >= 8 ? 13 : 12;
          counts[sym]++;
          k += kBlockTypeRuns[sym - 12];
          continue;
        }
        counts[e[k] & 15]++;
        prev = e[k];
        ++k;
      }
      return;
    }
    case kStreamColours:
      for (uint32_t k = 0; k < (equal ? 1 : n); ++k) {
        const int c = colour_code(uint32_t(e[k]), sign_magnitude);
        if (c < 0) continue;
        ctx[*last_high][c >> 4]++;
        counts[c & 15]++;
        *last_high = uint32_t(c) >> 4;
      }
      return;
    case kStreamPatterns:
      for (uint32_t k = 0; k < n; ++k) {
        counts[e[k] & 15]++;
        counts[(e[k] >> 4) & 15]++;
      }
      return;
    case kStreamXOffsets:
    case kStreamYOffsets:
    case kStreamRunLengths:
      if (equal) return;
      for (uint32_t k = 0; k < n; ++k) counts[(e[k] < 0 ? -e[k] : e[k]) & 15]++;
      return;
    default: return;
  }
}

// One stream's elements in plane order, and where each row's start.
struct FlatStream {
  std::vector<int32_t> e;
  std::vector<uint32_t> cum;        // rows + 1 entries: elements before each row
  std::vector<uint32_t> same_until;  // per element: one past the end of its run of equal values
  std::vector<uint64_t> bits;        // streams whose listed elements cost bits of their own:
                                     // the bits of the elements before each one (and the total)
};

// Whether a listed chunk of the stream costs the sum of its elements' bits (the block-type
// streams repeat symbols and the DC streams code differences in groups, so they do not).
bool additive_stream(uint32_t s) {
  return s == kStreamColours || s == kStreamPatterns || s == kStreamXOffsets || s == kStreamYOffsets ||
         s == kStreamRunLengths;
}

// The bits each element of an additive stream takes in a listed chunk, summed (a colour's
// context is the colour before it, in this chunk or the one before).
void element_bits(const StreamCoder& c, uint32_t s, FlatStream* f) {
  f->bits.assign(f->e.size() + 1, 0);
  uint32_t high = 0;
  for (size_t i = 0; i < f->e.size(); ++i) {
    const int32_t v = f->e[i];
    uint32_t b = 0;
    switch (s) {
      case kStreamColours: {
        const int code = colour_code(uint32_t(v), c.sign_magnitude);
        if (code >= 0) {
          b = tree_symbol_bits(c.colour_context[high], uint32_t(code) >> 4) +
              tree_symbol_bits(c.tree[s], uint32_t(code) & 15);
          high = uint32_t(code) >> 4;
        }
        break;
      }
      case kStreamPatterns:
        b = tree_symbol_bits(c.tree[s], uint32_t(v) & 15) + tree_symbol_bits(c.tree[s], (uint32_t(v) >> 4) & 15);
        break;
      case kStreamXOffsets:
      case kStreamYOffsets: b = tree_symbol_bits(c.tree[s], uint32_t(v < 0 ? -v : v) & 15) + (v != 0); break;
      default: b = tree_symbol_bits(c.tree[s], uint32_t(v) & 15); break;
    }
    f->bits[i + 1] = f->bits[i] + b;
  }
}

// The chunks of one stream: for every row where the stream may be refilled, the row that ends the
// chunk read there (0: the zero-length chunk that finishes the stream), and its form.
struct ChunkPlan {
  std::vector<uint32_t> end;
  std::vector<uint8_t> equal;
};

constexpr uint32_t kPlanMaxRows = 64;  // rows one chunk may span (bounds the search)

// Bits of one chunk written with `c` (a working copy: its last_high is set to `high`); ~0u when it
// cannot be written.
uint32_t chunk_bits(StreamCoder* c, uint32_t s, const int32_t* e, uint32_t n, ChunkForm form, bool type_runs,
                    uint32_t high, BitWriter* scratch) {
  c->last_high = high;
  scratch->count_only = true;
  scratch->counted = 0;
  if (!write_stream_chunk(scratch, c, s, e, n, form, type_runs)) return ~0u;
  return uint32_t(bit_writer_position(scratch));
}

// The chunk ends and forms that send the stream in the fewest bits with the coder's trees.
// False when some row's elements cannot be sent in any chunk.
bool plan_stream(const StreamCoder& c, uint32_t s, FlatStream& f, uint32_t rows, uint32_t cap, bool type_runs,
                 ChunkPlan* plan, BitWriter* scratch) {
  const bool additive = additive_stream(s);
  if (additive) element_bits(c, s, &f);
  StreamCoder work = c;
  plan->end.assign(rows + 1, 0);
  plan->equal.assign(rows + 1, 0);
  std::vector<uint64_t> best(rows + 1, 0);
  const bool has_equal = s != kStreamPatterns && s != kStreamIntraDc && s != kStreamInterDc;
  uint32_t first = rows;  // the first row at or after a that has elements
  for (uint32_t a = rows; a-- > 0;) {
    if (f.cum[a + 1] > f.cum[a]) first = a;
    if (first == rows) {
      best[a] = c.length_bits[s];
      continue;
    }
    uint32_t high = 0;
    if (s == kStreamColours && f.cum[a]) {
      const int code = colour_code(uint32_t(f.e[f.cum[a] - 1]), c.sign_magnitude);
      high = code < 0 ? 0 : uint32_t(code) >> 4;
    }
    best[a] = ~uint64_t(0);
    for (uint32_t b = first + 1; b <= rows && b - first <= kPlanMaxRows; ++b) {
      if (f.cum[b] == f.cum[b - 1]) continue;  // a chunk ends after a row that takes from it
      const uint32_t n = f.cum[b] - f.cum[a];
      if (n > cap) break;
      if (best[b] == ~uint64_t(0)) continue;
      const int32_t* e = f.e.data() + f.cum[a];
      for (int equal = 0; equal < 2; ++equal) {
        if (equal && (!has_equal || f.same_until[f.cum[a]] < f.cum[b])) continue;
        uint32_t bits;
        if (!additive) {
          bits = chunk_bits(&work, s, e, n, equal ? kChunkAllEqual : kChunkEach, type_runs, high, scratch);
        } else if (!equal) {
          bits = c.length_bits[s] + (has_equal ? 1 : 0) + uint32_t(f.bits[f.cum[b]] - f.bits[f.cum[a]]);
        } else {
          // One value: a colour through its trees, the others as 4 plain bits and a sign.
          bits = c.length_bits[s] + 1 +
                 (s == kStreamColours ? uint32_t(f.bits[f.cum[a] + 1] - f.bits[f.cum[a]])
                                      : 4 + (s != kStreamRunLengths && e[0] != 0 ? 1 : 0));
        }
        if (bits == ~0u || bits + best[b] >= best[a]) continue;
        best[a] = bits + best[b];
        plan->end[a] = b;
        plan->equal[a] = uint8_t(equal);
      }
    }
    if (best[a] == ~uint64_t(0)) {
      // Unreachable from here; only a problem when the writer gets here.
      plan->end[a] = ~0u;
    }
  }
  return true;
}

}  // namespace

bool video_write_plane(const VideoPlaneDesc& d, uint32_t flags, const VideoPlaneOptions& o,
                       std::vector<uint8_t>* out, const char** error) {
  const char* dummy;
  if (!error) error = &dummy;
  *error = nullptr;
  if (d.width % 8 || d.height % 8 || (d.scale != 1 && d.scale != 2) ||
      d.rows.size() != d.height / 8) {
    *error = "the rows do not match the plane's size";
    return false;
  }
  uint32_t rows = d.height / 8;
  std::vector<StreamLists> lists(rows);
  for (uint32_t r = 0; r < rows; ++r) {
    uint32_t y = 8 * r, x = 0;
    size_t used = 0;
    for (const VideoBlock& b : d.rows[r]) {
      if (x >= d.width) break;
      ++used;
      lists[r][kStreamBlockTypes].push_back(b.kind);
      if (b.kind > 15) {
        *error = "a block kind is above 15";
        return false;
      }
      if (b.kind == kBlockScaled) {
        if (y % 16 == 0) lists[r][kStreamSubblockTypes].push_back(b.sub_kind);
        x += 16;
      } else {
        x += 8;
      }
      int kind = content_kind(b, y);
      if (kind >= 0 && !collect(b, uint32_t(kind), lists[r], error)) return false;
    }
    if (used != d.rows[r].size() || (d.width && x < d.width)) {
      *error = "a row's blocks do not cover exactly the plane's width";
      return false;
    }
  }

  StreamCoder coder;
  stream_coder_init(&coder, d.width, flags);
  if (o.tune_trees) {
    uint64_t counts[kStreamCount][16] = {};
    uint64_t ctx[16][16] = {};
    uint32_t high = 0;
    for (uint32_t r = 0; r < rows; ++r)
      for (uint32_t s = 0; s < kStreamCount; ++s)
        for (int32_t v : lists[r][s]) {
          switch (s) {
            case kStreamColours: {
              int c = colour_code(uint32_t(v), coder.sign_magnitude);
              if (c < 0) continue;
              ctx[high][c >> 4]++;
              counts[s][c & 15]++;
              high = uint32_t(c) >> 4;
              break;
            }
            case kStreamPatterns:
              counts[s][v & 15]++;
              counts[s][(v >> 4) & 15]++;
              break;
            case kStreamXOffsets:
            case kStreamYOffsets: counts[s][(v < 0 ? -v : v) & 15]++; break;
            case kStreamIntraDc:
            case kStreamInterDc: break;
            default: counts[s][v & 15]++; break;
          }
        }
    for (uint32_t s = 0; s < kStreamCount; ++s) {
      if (s == kStreamIntraDc || s == kStreamInterDc) continue;
      coder.tree[s] = tree_for_counts(counts[s]);
      coder.tree[s].form = o.tree_form;
    }
    for (uint32_t h = 0; h < 16; ++h) {
      coder.colour_context[h] = tree_for_counts(ctx[h]);
      coder.colour_context[h].form = o.tree_form;
    }
  }

  uint32_t stride = o.buffer_stride ? o.buffer_stride
                                    : d.scale == 1 ? (d.width + 15) & ~15u : 2 * d.width;
  auto stream_cap = [&](uint32_t s) {
    uint32_t cap = stream_buffer_bytes(stride, s) / stream_element_bytes(s);
    const uint32_t field = (1u << coder.length_bits[s]) - 1;
    return field < cap ? field : cap;
  };
  FlatStream flat[kStreamCount];
  ChunkPlan plan[kStreamCount];
  if (o.plan_chunks) {
    for (uint32_t s = 0; s < kStreamCount; ++s) {
      FlatStream& f = flat[s];
      f.cum.assign(rows + 1, 0);
      for (uint32_t r = 0; r < rows; ++r) {
        f.e.insert(f.e.end(), lists[r][s].begin(), lists[r][s].end());
        f.cum[r + 1] = uint32_t(f.e.size());
      }
      f.same_until.assign(f.e.size(), 0);
      for (size_t i = f.e.size(); i-- > 0;)
        f.same_until[i] = i + 1 < f.e.size() && f.e[i + 1] == f.e[i] ? f.same_until[i + 1] : uint32_t(i + 1);
    }
    // Plan with the trees of the element counts, then plan_passes times: trees from the symbols
    // the plan sends, and (but the last time) a plan with those trees.
    BitWriter scratch;
    const uint32_t passes = o.tune_trees && o.plan_passes > 1 ? o.plan_passes : 1;
    for (uint32_t pass = 0; pass < passes; ++pass) {
      for (uint32_t s = 0; s < kStreamCount; ++s)
        plan_stream(coder, s, flat[s], rows, stream_cap(s), o.type_runs, &plan[s], &scratch);
      if (!o.tune_trees) break;
      uint64_t counts[kStreamCount][16] = {};
      uint64_t ctx[16][16] = {};
      uint32_t high = 0;
      for (uint32_t s = 0; s < kStreamCount; ++s)
        for (uint32_t a = 0; a < rows;) {
          const uint32_t b = plan[s].end[a];
          if (!b || b == ~0u) break;
          count_chunk_symbols(s, flat[s].e.data() + flat[s].cum[a], flat[s].cum[b] - flat[s].cum[a],
                              plan[s].equal[a] != 0, o.type_runs, coder.sign_magnitude, counts[s], ctx, &high);
          a = b;
        }
      for (uint32_t s = 0; s < kStreamCount; ++s) {
        if (s == kStreamIntraDc || s == kStreamInterDc) continue;
        coder.tree[s] = tree_for_counts(counts[s], true);
        coder.tree[s].form = o.tree_form;
      }
      for (uint32_t h = 0; h < 16; ++h) {
        coder.colour_context[h] = tree_for_counts(ctx[h], true);
        coder.colour_context[h].form = o.tree_form;
      }
    }
  }

  BitWriter w;
  if (!write_plane_trees(&w, &coder)) {
    *error = "a tree description cannot be written in the chosen form";
    return false;
  }
  // Decoder mirror: elements left in each stream's chunk; finished streams.
  uint64_t avail[kStreamCount] = {};
  bool finished[kStreamCount] = {};
  for (uint32_t r = 0; r < rows; ++r) {
    uint32_t y = 8 * r;
    for (uint32_t s = 0; s < kStreamCount; ++s) {
      if (finished[s] || avail[s]) continue;
      if (o.plan_chunks) {
        const FlatStream& f = flat[s];
        const uint32_t b = plan[s].end[r];
        if (b == ~0u) {
          *error = "a row has more elements of a stream than its buffer holds";
          return false;
        }
        if (!b) {
          write_stream_finish(&w, coder, s);
          finished[s] = true;
          continue;
        }
        const uint32_t n = f.cum[b] - f.cum[r];
        if (!write_stream_chunk(&w, &coder, s, f.e.data() + f.cum[r], n,
                                plan[s].equal[r] ? kChunkAllEqual : kChunkEach, o.type_runs)) {
          *error = "a stream value cannot be coded";
          return false;
        }
        avail[s] = n;
        continue;
      }
      uint32_t cap = stream_buffer_bytes(stride, s) / stream_element_bytes(s);
      uint32_t field = (1u << coder.length_bits[s]) - 1;
      if (field < cap) cap = field;
      uint32_t last = r;
      while (last < rows && lists[last][s].empty()) ++last;
      if (last == rows) {
        write_stream_finish(&w, coder, s);
        finished[s] = true;
        continue;
      }
      std::vector<int32_t> chunk;
      for (uint32_t k = r; k <= last; ++k)
        chunk.insert(chunk.end(), lists[k][s].begin(), lists[k][s].end());
      if (o.pack_rows)
        for (uint32_t k = last + 1; k < rows && chunk.size() + lists[k][s].size() <= cap; ++k)
          chunk.insert(chunk.end(), lists[k][s].begin(), lists[k][s].end());
      if (chunk.size() > cap) {
        *error = "a row has more elements of a stream than its buffer holds";
        return false;
      }
      if (!write_stream_chunk(&w, &coder, s, chunk.data(), uint32_t(chunk.size()),
                              o.all_equal ? kChunkAuto : kChunkEach, o.type_runs)) {
        *error = "a stream value cannot be coded";
        return false;
      }
      avail[s] = chunk.size();
    }
    for (uint32_t s = 0; s < kStreamCount; ++s)
      if (!finished[s]) avail[s] -= lists[r][s].size();
    uint32_t x = 0;
    for (const VideoBlock& b : d.rows[r]) {
      if (x >= d.width) break;
      x += b.kind == kBlockScaled ? 16 : 8;
      int kind = content_kind(b, y);
      if (kind >= 0 && !write_inline(&w, b, uint32_t(kind), error)) return false;
    }
  }
  *out = bit_writer_finish(&w);
  return true;
}

namespace {

void model_runs(const VideoBlock& b, uint8_t blk[64]) {
  const uint8_t* scan = kRunScans[b.scan & 15];
  uint32_t i = 0, c = 0;
  for (const VideoRun& r : b.runs) {
    for (uint32_t k = 0; k < r.length; ++k) blk[scan[i + k]] = b.colours[r.fill ? c : c + k];
    c += r.fill ? 1 : r.length;
    i += r.length;
  }
  if (i == 63) blk[scan[63]] = b.colours[c];
}

// The 8 × 8 content of a block of kind 3, 8 or 9 (from its description).
void model_samples(const VideoBlock& b, uint32_t kind, uint8_t blk[64]) {
  if (kind == kBlockRun) model_runs(b, blk);
  if (kind == kBlockRaw) std::memcpy(blk, b.colours.data(), 64);
  if (kind == kBlockPattern)
    for (int r = 0; r < 8; ++r)
      for (int j = 0; j < 8; ++j) blk[8 * r + j] = b.colours[(b.pattern[r] >> j) & 1];
  if (kind == kBlockFill) std::memset(blk, b.colours[0], 64);
}

}  // namespace

void video_plane_model(const VideoPlaneDesc& d, const uint8_t* ref, uint8_t* dst, uint32_t stride,
                       uint8_t* map) {
  uint8_t* map_row = map;
  for (uint32_t r = 0; r < d.rows.size(); ++r) {
    uint32_t y = 8 * r, x = 0, m = 0;
    for (const VideoBlock& b : d.rows[r]) {
      if (x >= d.width) break;
      uint8_t* out = dst + size_t(y) * stride + x;
      auto src = [&](int mx, int my) {
        int sx = int(x) + mx, sy = int(y) + my;
        sx = sx < 0 ? 0 : sx > int(stride) - 8 ? int(stride) - 8 : sx;
        sy = sy < 0 ? 0 : sy > int(d.height) - 8 ? int(d.height) - 8 : sy;
        return ref + size_t(sy) * stride + size_t(sx);
      };
      uint8_t blk[64], pred[64];
      bool mark = true;
      switch (b.kind) {
        case kBlockSkip:
          for (int k = 0; k < 8; ++k) std::memcpy(out + k * stride, src(0, 0) + k * stride, 8);
          mark = false;
          break;
        case kBlockMotion: {
          const uint8_t* s = src(b.mx, b.my);
          for (int k = 0; k < 8; ++k) std::memcpy(out + k * stride, s + k * stride, 8);
          break;
        }
        case kBlockRun:
        case kBlockFill:
        case kBlockPattern:
        case kBlockRaw:
          model_samples(b, b.kind, blk);
          for (int k = 0; k < 8; ++k) std::memcpy(out + k * stride, blk + 8 * k, 8);
          break;
        case kBlockResidue: {
          const uint8_t* s = src(b.mx, b.my);
          int8_t got[64];
          BitWriter scratch;
          write_residue(&scratch, b.residue, b.residue_planes, b.limit, got);
          for (int k = 0; k < 64; ++k)
            out[(k / 8) * stride + k % 8] = uint8_t(s[(k / 8) * stride + k % 8] + got[k]);
          break;
        }
        case kBlockIntra:
          idct_put(b.coefficients, IntraQuant[b.quant & 15], out, stride);
          break;
        case kBlockInter: {
          const uint8_t* s = src(b.mx, b.my);
          for (int k = 0; k < 8; ++k) std::memcpy(pred + 8 * k, s + k * stride, 8);
          idct_add(b.coefficients, InterQuant[b.quant & 15], pred, out, stride);
          break;
        }
        case kBlockScaled:
          if (y % 16 == 0) {
            uint32_t k = b.sub_kind;
            if (k == kBlockIntra) {
              idct_put_scaled(b.coefficients, IntraQuant[b.quant & 15], out, stride);
            } else if (k == kBlockRun || k == kBlockFill || k == kBlockPattern || k == kBlockRaw) {
              model_samples(b, k, blk);
              for (int i = 0; i < 256; ++i)
                out[(i / 16) * stride + i % 16] = blk[8 * (i / 32) + (i % 16) / 2];
            }
          }
          map_row[m / 2] = 1;
          map_row[(m + d.scale) / 2] = 1;
          m += 2 * d.scale;
          x += 16;
          continue;
        default: mark = false; break;
      }
      if (mark) map_row[m / 2] = 1;
      m += d.scale;
      x += 8;
    }
    if (d.scale == 1) {
      if (y % 16 == 8) map_row += stride / 16;
    } else {
      map_row += stride / 8;
    }
  }
}

std::vector<uint8_t> video_write_packet(const VideoPacketPlanes& p, uint32_t movie_flags) {
  bool luma_size = !(movie_flags & kVideoFlagSignMagnitude);
  size_t luma_bytes = p.luma.size() + (luma_size ? p.luma_padding : 0);
  size_t total = (p.alpha_section ? 4 + p.alpha.size() : 0) + (luma_size ? 4 : 0) + luma_bytes +
                 p.chroma1.size() + p.chroma2.size();
  std::vector<uint8_t> out(total, 0);
  size_t at = 0;
  auto put = [&](const std::vector<uint8_t>& v) {
    if (!v.empty()) std::memcpy(out.data() + at, v.data(), v.size());
    at += v.size();
  };
  if (p.alpha_section) {
    store_le32(out.data() + at, uint32_t(4 + p.alpha.size()));
    at += 4;
    put(p.alpha);
  }
  if (luma_size) {
    store_le32(out.data() + at, uint32_t(4 + luma_bytes));
    at += 4;
  }
  put(p.luma);
  if (luma_size) at += p.luma_padding;  // zero bytes
  put(p.chroma1);
  put(p.chroma2);
  return out;
}
