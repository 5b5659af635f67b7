#include "encode/video_stream_writer.h"

#include <algorithm>
#include <vector>

#include "video/code_tree.h"

namespace {

bool is_permutation(const uint8_t s[16]) {
  uint32_t seen = 0;
  for (int i = 0; i < 16; ++i) {
    if (s[i] > 15 || (seen & (1u << s[i]))) return false;
    seen |= 1u << s[i];
  }
  return true;
}

bool is_identity(const uint8_t s[16]) {
  for (int i = 0; i < 16; ++i)
    if (s[i] != i) return false;
  return true;
}

// Symbols to list so that the rest, in increasing order, completes the map; 0 if more than 8.
uint32_t explicit_count(const uint8_t s[16]) {
  for (uint32_t k = 1; k <= 8; ++k) {
    uint32_t used = 0;
    for (uint32_t i = 0; i < k; ++i) used |= 1u << s[i];
    uint32_t at = k;
    bool ok = true;
    for (uint32_t v = 0; v < 16 && ok; ++v)
      if (!(used & (1u << v))) ok = s[at++] == v;
    if (ok) return k;
  }
  return 0;
}

// Runs the merge form with key = position in the target map; collects the bits. False when
// `depth` levels do not reach the target.
bool merge_bits(const uint8_t s[16], uint32_t depth, std::vector<uint8_t>* bits) {
  uint8_t key[16];
  for (uint32_t i = 0; i < 16; ++i) key[s[i]] = uint8_t(i);
  uint8_t a[16], b[16];
  for (uint32_t i = 0; i < 8; ++i) {
    bool swap = key[2 * i + 1] < key[2 * i];
    bits->push_back(swap);
    a[2 * i] = uint8_t(swap ? 2 * i + 1 : 2 * i);
    a[2 * i + 1] = uint8_t(swap ? 2 * i : 2 * i + 1);
  }
  uint8_t* cur = a;
  uint8_t* out = b;
  for (uint32_t level = 0, len = 2; level < depth; ++level, len *= 2) {
    for (uint32_t base = 0; base < 16; base += 2 * len) {
      uint32_t i = base, j = base + len, o = base;
      while (i < base + len && j < base + 2 * len) {
        bool right = key[cur[j]] < key[cur[i]];
        bits->push_back(right);
        out[o++] = right ? cur[j++] : cur[i++];
      }
      while (i < base + len) out[o++] = cur[i++];
      while (j < base + 2 * len) out[o++] = cur[j++];
    }
    std::swap(cur, out);
  }
  for (uint32_t i = 0; i < 16; ++i)
    if (cur[i] != s[i]) return false;
  return true;
}

// The form actually used: -2 explicit, 0..3 merge depth; -3 when none works.
int resolve_form(const TreeSpec& t, std::vector<uint8_t>* mbits) {
  uint32_t k = explicit_count(t.symbols);
  if (t.form == -2) return k ? -2 : -3;
  if (t.form >= 0 && t.form <= 3) return merge_bits(t.symbols, uint32_t(t.form), mbits) ? t.form : -3;
  if (t.form != -1) return -3;
  std::vector<uint8_t> best;
  int best_form = -3;
  uint32_t best_cost = ~0u;
  if (k) {
    best_form = -2;
    best_cost = 3 + 4 * k;
  }
  for (uint32_t d = 0; d <= 3; ++d) {
    std::vector<uint8_t> b;
    if (merge_bits(t.symbols, d, &b) && 2 + b.size() < best_cost) {
      best_cost = uint32_t(2 + b.size());
      best_form = int(d);
      best = b;
    }
  }
  *mbits = best;
  return best_form;
}

}  // namespace

uint32_t code_tree_bits(const TreeSpec& t) {
  if (t.shape > 15 || !is_permutation(t.symbols)) return 0;
  if (t.shape == 0) return is_identity(t.symbols) ? 4 : 0;
  std::vector<uint8_t> mbits;
  int form = resolve_form(t, &mbits);
  if (form == -3) return 0;
  if (form == -2) return 4 + 1 + 3 + 4 * explicit_count(t.symbols);
  return 4 + 1 + 2 + uint32_t(mbits.size());
}

bool write_code_tree(BitWriter* w, const TreeSpec& t) {
  if (!code_tree_bits(t)) return false;
  write_bits(w, t.shape, 4);
  if (t.shape == 0) return true;
  std::vector<uint8_t> mbits;
  int form = resolve_form(t, &mbits);
  if (form == -2) {
    uint32_t k = explicit_count(t.symbols);
    write_bit(w, 1);
    write_bits(w, k - 1, 3);
    for (uint32_t i = 0; i < k; ++i) write_bits(w, t.symbols[i], 4);
    return true;
  }
  write_bit(w, 0);
  write_bits(w, uint32_t(form), 2);
  for (uint8_t b : mbits) write_bit(w, b);
  return true;
}

static uint32_t leaf_of(const TreeSpec& t, uint32_t symbol) {
  for (uint32_t i = 0; i < 16; ++i)
    if (t.symbols[i] == symbol) return i;
  return 0;
}

void write_tree_symbol(BitWriter* w, const TreeSpec& t, uint32_t symbol) {
  uint32_t leaf = leaf_of(t, symbol & 15);
  write_bits(w, kTreeTables.value[t.shape][leaf], kTreeTables.length[t.shape][leaf]);
}

uint32_t tree_symbol_bits(const TreeSpec& t, uint32_t symbol) {
  return kTreeTables.length[t.shape][leaf_of(t, symbol & 15)];
}

TreeSpec tree_for_counts(const uint64_t counts[16], bool compact_maps) {
  uint8_t by_count[16];
  for (int i = 0; i < 16; ++i) by_count[i] = uint8_t(i);
  std::stable_sort(by_count, by_count + 16,
                   [&](uint8_t a, uint8_t b) { return counts[a] > counts[b]; });
  TreeSpec best;
  uint64_t best_cost = 4;
  for (int i = 0; i < 16; ++i) best_cost += 4 * counts[i];
  for (uint32_t s = 1; s < 16; ++s) {
    uint8_t leaves[16];
    for (int i = 0; i < 16; ++i) leaves[i] = uint8_t(i);
    std::stable_sort(leaves, leaves + 16, [&](uint8_t a, uint8_t b) {
      return kTreeTables.length[s][a] < kTreeTables.length[s][b];
    });
    TreeSpec t;
    t.shape = s;
    uint64_t cost = 0;
    for (int i = 0; i < 16; ++i) {
      t.symbols[leaves[i]] = by_count[i];
      cost += counts[by_count[i]] * kTreeTables.length[s][leaves[i]];
    }
    uint32_t desc = code_tree_bits(t);
    if (!compact_maps) {
      if (desc && cost + desc < best_cost) {
        best_cost = cost + desc;
        best = t;
      }
      continue;
    }
    // Leaves of one code length may hold their symbols in any order at the same cost: in
    // increasing order the map is often cheaper to describe.
    TreeSpec sorted = t;
    for (int i = 0; i < 16;) {
      int j = i;
      while (j < 16 && kTreeTables.length[s][leaves[j]] == kTreeTables.length[s][leaves[i]]) ++j;
      uint8_t group[16], slots[16];
      for (int k = i; k < j; ++k) {
        group[k - i] = by_count[k];
        slots[k - i] = leaves[k];
      }
      std::sort(group, group + (j - i));
      std::sort(slots, slots + (j - i));
      for (int k = 0; k < j - i; ++k) sorted.symbols[slots[k]] = group[k];
      i = j;
    }
    const uint32_t sorted_desc = code_tree_bits(sorted);
    if (sorted_desc && (!desc || sorted_desc < desc)) {
      t = sorted;
      desc = sorted_desc;
    }
    if (desc && cost + desc < best_cost) {
      best_cost = cost + desc;
      best = t;
    }
  }
  return best;
}

void stream_coder_init(StreamCoder* c, uint32_t width, uint32_t flags) {
  for (uint32_t i = 0; i < kStreamCount; ++i) {
    c->tree[i] = TreeSpec();
    c->length_bits[i] = stream_length_bits(width, i);
  }
  for (TreeSpec& t : c->colour_context) t = TreeSpec();
  c->last_high = 0;
  c->sign_magnitude = (flags & kVideoFlagSignMagnitude) != 0;
}

bool write_plane_trees(BitWriter* w, StreamCoder* c) {
  const TreeSpec* order[23];
  uint32_t k = 0;
  order[k++] = &c->tree[kStreamBlockTypes];
  order[k++] = &c->tree[kStreamSubblockTypes];
  for (const TreeSpec& t : c->colour_context) order[k++] = &t;
  order[k++] = &c->tree[kStreamColours];
  order[k++] = &c->tree[kStreamPatterns];
  order[k++] = &c->tree[kStreamXOffsets];
  order[k++] = &c->tree[kStreamYOffsets];
  order[k++] = &c->tree[kStreamRunLengths];
  for (uint32_t i = 0; i < k; ++i)
    if (!code_tree_bits(*order[i])) return false;
  for (uint32_t i = 0; i < k; ++i) write_code_tree(w, *order[i]);
  c->last_high = 0;
  return true;
}

int colour_code(uint32_t sample, bool sign_magnitude) {
  if (sample > 255) return -1;
  if (!sign_magnitude) return int(sample);
  if (sample >= 128) return int(sample - 128);  // codes 0..127 store 128 + m
  if (sample == 0) return -1;
  return int(128 + (128 - sample));  // codes 129..255 store 128 - m
}

namespace {

void write_colour(BitWriter* w, StreamCoder* c, uint32_t code) {
  uint32_t high = code >> 4, low = code & 15;
  write_tree_symbol(w, c->colour_context[c->last_high], high);
  write_tree_symbol(w, c->tree[kStreamColours], low);
  c->last_high = high;
}

bool all_equal(const int32_t* e, uint32_t n) {
  for (uint32_t i = 1; i < n; ++i)
    if (e[i] != e[0]) return false;
  return true;
}

uint32_t bit_length(uint32_t v) {
  uint32_t n = 0;
  while (v) {
    ++n;
    v >>= 1;
  }
  return n;
}

}  // namespace

bool write_stream_chunk(BitWriter* w, StreamCoder* c, uint32_t stream, const int32_t* e,
                        uint32_t n, ChunkForm form, bool type_runs) {
  if (stream >= kStreamCount || n == 0 || n >= (1u << c->length_bits[stream])) return false;
  bool equal = all_equal(e, n);
  bool has_equal_form = stream != kStreamPatterns && stream != kStreamIntraDc &&
                        stream != kStreamInterDc;
  if (form == kChunkAllEqual && (!equal || !has_equal_form)) return false;
  bool use_equal = has_equal_form && equal && form != kChunkEach;
  // Validate everything before writing a bit.
  for (uint32_t i = 0; i < n; ++i) {
    int32_t v = e[i];
    switch (stream) {
      case kStreamBlockTypes:
      case kStreamSubblockTypes:
        if (v < 0 || v > 15 || (!use_equal && v >= 12)) return false;
        break;
      case kStreamColours:
        if (colour_code(uint32_t(v), c->sign_magnitude) < 0 || v < 0) return false;
        break;
      case kStreamPatterns:
        if (v < 0 || v > 255) return false;
        break;
      case kStreamXOffsets:
      case kStreamYOffsets:
        if (v < -15 || v > 15) return false;
        break;
      case kStreamRunLengths:
        if (v < 0 || v > 15) return false;
        break;
      case kStreamIntraDc:
        if (v < 0 || v > 65535 || (i == 0 && v > 2047)) return false;
        break;
      case kStreamInterDc:
        if (v < -32768 || v > 32767 || (i == 0 && (v < -1023 || v > 1023))) return false;
        break;
    }
    if ((stream == kStreamIntraDc || stream == kStreamInterDc) && i > 0 &&
        int16_t(uint16_t(v - e[i - 1])) == -32768)
      return false;
  }
  write_bits(w, n, c->length_bits[stream]);
  const TreeSpec& tree = c->tree[stream];
  switch (stream) {
    case kStreamBlockTypes:
    case kStreamSubblockTypes: {
      write_bit(w, use_equal);
      if (use_equal) {
        write_bits(w, uint32_t(e[0]), 4);
        break;
      }
      int32_t prev = 0;
      for (uint32_t k = 0; k < n;) {
        uint32_t rep = 0;
        while (type_runs && k + rep < n && e[k + rep] == prev && rep < 32) ++rep;
        if (rep >= 4) {
          uint32_t sym = rep >= 32 ? 15 : rep >= 12 ? 14 : rep >= 8 ? 13 : 12;
          write_tree_symbol(w, tree, sym);
          k += kBlockTypeRuns[sym - 12];
          continue;
        }
        write_tree_symbol(w, tree, uint32_t(e[k]));
        prev = e[k];
        ++k;
      }
      break;
    }
    case kStreamColours:
      write_bit(w, use_equal);
      for (uint32_t k = 0; k < (use_equal ? 1 : n); ++k)
        write_colour(w, c, uint32_t(colour_code(uint32_t(e[k]), c->sign_magnitude)));
      break;
    case kStreamPatterns:
      for (uint32_t k = 0; k < n; ++k) {
        write_tree_symbol(w, tree, uint32_t(e[k]) & 15);
        write_tree_symbol(w, tree, uint32_t(e[k]) >> 4);
      }
      break;
    case kStreamXOffsets:
    case kStreamYOffsets:
    case kStreamRunLengths: {
      bool sign = stream != kStreamRunLengths;
      write_bit(w, use_equal);
      for (uint32_t k = 0; k < (use_equal ? 1 : n); ++k) {
        uint32_t mag = uint32_t(e[k] < 0 ? -e[k] : e[k]);
        if (use_equal)
          write_bits(w, mag, 4);
        else
          write_tree_symbol(w, tree, mag);
        if (sign && mag) write_bit(w, e[k] < 0);
      }
      break;
    }
    case kStreamIntraDc:
    case kStreamInterDc: {
      if (stream == kStreamIntraDc) {
        write_bits(w, uint32_t(e[0]), 11);
      } else {
        uint32_t mag = uint32_t(e[0] < 0 ? -e[0] : e[0]);
        write_bits(w, mag, 10);
        if (mag) write_bit(w, e[0] < 0);
      }
      for (uint32_t k = 1; k < n;) {
        uint32_t group = std::min(n - k, 8u);
        uint32_t width = 0;
        for (uint32_t g = 0; g < group; ++g) {
          int32_t d = int16_t(uint16_t(e[k + g] - e[k + g - 1]));
          width = std::max(width, bit_length(uint32_t(d < 0 ? -d : d)));
        }
        write_bits(w, width, 4);
        for (uint32_t g = 0; g < group; ++g) {
          if (!width) continue;
          int32_t d = int16_t(uint16_t(e[k + g] - e[k + g - 1]));
          uint32_t mag = uint32_t(d < 0 ? -d : d);
          write_bits(w, mag, width);
          if (mag) write_bit(w, d < 0);
        }
        k += group;
      }
      break;
    }
  }
  return true;
}

void write_stream_finish(BitWriter* w, const StreamCoder& c, uint32_t stream) {
  write_bits(w, 0, c.length_bits[stream]);
}
