// Transform and residue blocks: the coefficient and residue readers (bit-plane set
// partitioning) and the fixed-point 8 × 8 inverse transform. The dequantisation tables are in
// quant_tables.cpp.
//
// Nothing here allocates: the set list, the coding-order values and the transform workspace are
// local arrays. Bits past the plane's data read as zero through the BitReader, and every loop is
// bounded by the block structure (at most 15 planes, a list of at most kListSize entries), so
// any bit sequence, however corrupt, ends after a bounded number of reads.
//
// The two readers and the transform each come in two forms: the plain one (one bit, column or
// row at a time, the reference) and the fast one that the decoder calls. They give the same
// results bit for bit, including the bits consumed and the reader's state; the tests compare
// them on arbitrary input.
#include "video/transform.h"

#include <cstring>

#include "base/cpu.h"

const uint8_t kCoefficientOrder[64] = {
    0,  1,  4,  5,  8,  9,  12, 13,  //
    2,  3,  6,  7,  10, 11, 14, 15,  //
    24, 25, 44, 45, 16, 17, 20, 21,  //
    26, 27, 46, 47, 18, 19, 22, 23,  //
    28, 29, 32, 33, 48, 49, 52, 53,  //
    30, 31, 34, 35, 50, 51, 54, 55,  //
    36, 37, 40, 41, 56, 57, 60, 61,  //
    38, 39, 42, 43, 58, 59, 62, 63,  //
};

namespace {

// ---------------------------------------------------------------------------------------------
// The set list.
//
// Entries are single bytes, 4 × first + type (type 0 = 20 indices, 1 = 16, 2 = a quad, 3 = one
// index); 0 marks a removed entry (no live entry is 0: the type-0 sets start at 4, 24 and 44).
// The list is one local array: the starting entries are placed at kFrontRoom, deferred singles
// are inserted below them (the front moves down) and split sets are appended above them (the
// end moves up). Removed entries stay in place as 0, so positions never move.
//
// Bound policy. The limits follow from the block structure, whatever the bits: a quad is treated
// at most once (a type-2 entry is removed when it is treated, a type-0 entry becomes type 1 when
// its quad is), so each coding index is deferred at most once, which caps the front insertions at
// 60 for coefficients (indices 4 to 63) and 64 for residues (0 to 63); and each of the three
// 16-sets splits at most once, which caps the appends at 9. The array has exactly that room
// (64 below the start, 6 starting entries, 9 above). The insertion and the append still check
// their room and drop an entry that would not fit (its value then stays 0): this cannot happen,
// but it keeps every store inside the array even if the reasoning above were ever broken by a
// change to the list mechanics.
constexpr uint32_t kFrontRoom = 64;
constexpr uint32_t kStartRoom = 6;
constexpr uint32_t kEndRoom = 9;
constexpr uint32_t kListSize = kFrontRoom + kStartRoom + kEndRoom;

constexpr uint8_t kSet20 = 0;
constexpr uint8_t kSet16 = 1;
constexpr uint8_t kQuad = 2;
constexpr uint8_t kSingle = 3;

constexpr uint8_t list_entry(uint32_t first, uint8_t type) { return uint8_t(4 * first + type); }

struct SetList {
  uint8_t entry[kListSize];
  uint32_t front;  // first live position
  uint32_t end;    // one past the last position
};

inline void list_start(SetList* l, const uint8_t* start, uint32_t n) {
  l->front = kFrontRoom;
  l->end = kFrontRoom + n;
  std::memcpy(l->entry + kFrontRoom, start, n);
}

inline void list_insert_front(SetList* l, uint8_t e) {
  if (l->front > 0) l->entry[--l->front] = e;
}

inline void list_append(SetList* l, uint8_t e) {
  if (l->end < kListSize) l->entry[l->end++] = e;
}

// Treats the four indices of a quad starting at i: per index one bit; 1 defers it as a single at
// the front of the list, 0 makes it significant now (`significant` reads its value). Returns
// false as soon as `significant` asks to stop.
template <class Significant>
inline bool treat_quad(BitReader* br, SetList* l, uint32_t i, Significant& significant) {
  for (uint32_t j = i; j < i + 4; ++j) {
    if (read_bit(br)) {
      list_insert_front(l, list_entry(j, kSingle));
    } else if (!significant(j)) {
      return false;
    }
  }
  return true;
}

// One set pass of plane p over the list, from the front it has at the start of the pass to its
// end (which moves while sets are appended). `significant(j)` is called for each coding index
// that becomes significant and returns false to stop the whole decode at once (residue event
// limit); the pass then returns false.
template <class Significant>
inline bool set_pass(BitReader* br, SetList* l, Significant& significant) {
  for (uint32_t pos = l->front; pos < l->end; ++pos) {
    uint32_t e = l->entry[pos];
    while (e != 0) {
      if (!read_bit(br)) break;
      const uint32_t i = e >> 2;
      switch (e & 3) {
        case kSingle:
          l->entry[pos] = 0;
          e = 0;
          if (!significant(i)) return false;
          break;
        case kQuad:
          l->entry[pos] = 0;
          e = 0;
          if (!treat_quad(br, l, i, significant)) return false;
          break;
        case kSet16:
          // Becomes the quad at i; the other three quads go to the end. Visited again at once.
          e = list_entry(i, kQuad);
          l->entry[pos] = uint8_t(e);
          list_append(l, list_entry(i + 4, kQuad));
          list_append(l, list_entry(i + 8, kQuad));
          list_append(l, list_entry(i + 12, kQuad));
          break;
        default:  // kSet20: the four singles i..i+3 are treated as a quad; the rest is a 16-set.
          e = list_entry(i + 4, kSet16);
          l->entry[pos] = uint8_t(e);
          if (!treat_quad(br, l, i, significant)) return false;
          break;
      }
    }
  }
  return true;
}

const uint8_t kCoefficientStart[6] = {
    list_entry(4, kSet20),  list_entry(24, kSet20), list_entry(44, kSet20),
    list_entry(1, kSingle), list_entry(2, kSingle), list_entry(3, kSingle),
};

const uint8_t kResidueStart[4] = {
    list_entry(4, kSet20),
    list_entry(24, kSet20),
    list_entry(44, kSet20),
    list_entry(0, kQuad),
};

}  // namespace

void read_coefficients_plain(BitReader* r, int16_t block[64]) {
  BitReader br = *r;  // the reader's fields live in locals for the call
  const uint32_t n = read_bits(&br, 4);
  if (n == 0) {
    std::memset(block + 1, 0, 63 * sizeof(int16_t));
    *r = br;
    return;
  }

  int16_t value[64];  // coding order; index 0 (the DC) is not used
  std::memset(value, 0, sizeof(value));
  SetList list;
  list_start(&list, kCoefficientStart, 6);

  for (uint32_t p = n; p-- > 0;) {
    const uint32_t m = 1u << p;
    // A value becoming significant at plane p: p bits r, then the sign bit; value ±(M + r).
    // Both fields are read as one (p + 1)-bit field (LSB first, so the sign is bit p).
    auto significant = [&](uint32_t j) {
      const uint32_t v = read_bits(&br, p + 1);
      const int32_t mag = int32_t(m | (v & (m - 1)));
      value[j] = int16_t((v >> p) ? -mag : mag);
      return true;
    };
    set_pass(&br, &list, significant);
  }

  for (uint32_t k = 1; k < 64; ++k) block[k] = value[kCoefficientOrder[k]];
  *r = br;
}

void read_residue_plain(BitReader* r, uint32_t limit, const uint8_t prediction[64],
                        uint8_t* dst, ptrdiff_t stride) {
  BitReader br = *r;
  uint8_t value[64];  // coding order, signed 8-bit values kept modulo 256
  std::memset(value, 0, sizeof(value));
  uint8_t order[64];  // coding indices in the order they became significant
  uint32_t significant_count = 0;
  uint32_t events = 0;

  // Counting an event: stop once e has reached the limit, else count it.
  auto event = [&]() {
    if (events == limit) return false;
    ++events;
    return true;
  };

  const uint32_t t = read_bits(&br, 3);
  SetList list;
  list_start(&list, kResidueStart, 4);

  for (uint32_t p = t + 1; p-- > 0;) {
    const uint32_t m = 1u << p;
    // Refinement of the values significant before this plane.
    const uint32_t refine = significant_count;
    for (uint32_t s = 0; s < refine; ++s) {
      if (!read_bit(&br)) continue;
      uint8_t& v = value[order[s]];
      v = int8_t(v) >= 0 ? uint8_t(v + m) : uint8_t(v - m);
      if (!event()) goto done;
    }
    {
      auto significant = [&](uint32_t j) {
        value[j] = read_bit(&br) ? uint8_t(0u - m) : uint8_t(m);
        if (significant_count < 64) order[significant_count++] = uint8_t(j);
        return event();
      };
      if (!set_pass(&br, &list, significant)) goto done;
    }
  }

done:
  for (uint32_t row = 0; row < 8; ++row) {
    uint8_t* d = dst + ptrdiff_t(row) * stride;
    const uint8_t* pr = prediction + 8 * row;
    const uint8_t* co = kCoefficientOrder + 8 * row;
    for (uint32_t col = 0; col < 8; ++col) d[col] = uint8_t(pr[col] + value[co[col]]);
  }
  *r = br;
}

// ---------------------------------------------------------------------------------------------
// The readers' fast forms. They decode exactly what the plain forms above decode; they differ in
// how they get there:
// - The reader's state lives in a 64-bit buffer (FastBits) that is refilled with a whole word
//   whenever fewer than 32 bits are left, so a step of up to 32 bits needs one test. Words may
//   be loaded ahead of the plain reader; at the end a word still whole in the buffer is given
//   back, which leaves the BitReader exactly as the plain reader leaves it. A refill loads only
//   a word lying wholly before the data's end; when it would need one that does not, it shifts
//   in zeros and marks the decode as spilled, and the block is decoded again by the plain form
//   from the saved state. The end of the data (padding, `overrun`, `next` staying put) is
//   therefore always handled by the plain reader.
// - The deferred singles are kept apart from the other entries, and both parts stay packed.
//   Every entry that stays as it is reads one 0 bit, so a run of them is passed over at once by
//   counting the zero bits ahead in the buffer.
// - A coefficient quad is treated without branches on the data: the bit selects the width
//   consumed, the value stored and whether the index is deferred.

namespace {

struct FastBits {
  uint64_t buf;  // `cnt` valid bits, the next at bit 0; the bits above them are zero
  uint32_t cnt;  // 0 to 63
  const uint8_t* next;
  const uint8_t* end;
  bool spilled;  // a word at or past `end` was needed
};

inline FastBits fast_begin(const BitReader* r) {
  return FastBits{r->bits, r->count, r->next, r->end, false};
}

// Makes at least 32 bits available.
inline void fast_refill(FastBits* f) {
  if (f->cnt >= 32) return;
  if (f->end - f->next >= 4) {
    f->buf |= uint64_t(load_le32(f->next)) << f->cnt;
    f->next += 4;
  } else {
    f->spilled = true;  // zeros; the caller redoes the block with the plain reader
  }
  f->cnt += 32;
}

inline void fast_skip(FastBits* f, uint32_t n) {
  f->buf >>= n;
  f->cnt -= n;
}

// n ≤ 31.
inline uint32_t fast_bits(FastBits* f, uint32_t n) {
  fast_refill(f);
  const uint32_t v = uint32_t(f->buf) & ((1u << n) - 1);
  fast_skip(f, n);
  return v;
}

inline uint32_t fast_bit(FastBits* f) {
  fast_refill(f);
  const uint32_t v = uint32_t(f->buf) & 1;
  fast_skip(f, 1);
  return v;
}

// Writes the state back as the plain reader has it: at most 31 buffered bits, so a whole word
// still in the buffer is given back.
inline void fast_end(const FastBits* f, BitReader* r) {
  uint32_t cnt = f->cnt;
  const uint8_t* next = f->next;
  if (cnt >= 32) {
    cnt -= 32;
    next -= 4;
  }
  r->bits = uint32_t(f->buf & ((uint64_t(1) << cnt) - 1));
  r->count = cnt;
  r->next = next;
}

// The set list split in two, both parts packed: the deferred singles (coding indices, newest
// first, live in [front, end)) and the other entries (the starting entries and the split sets,
// as in SetList, live in [0, sets); a removed one is taken out). The rooms and the drop rules
// are those of SetList: front insertions stop at position 0, and appends stop once the starting
// entries and the appends made so far (`used`, removed ones included) fill kStartRoom +
// kEndRoom places.
//
// The singles live in one of two arrays (`single`); a pass that skips runs copies the kept ones
// to the other (`spare`) in whole 32-byte pieces and swaps the two. Each array has a spare place
// after kFrontRoom for the stores of a full front, and room for a piece started at any place.
constexpr uint32_t kSingleRoom = kFrontRoom + 1 + 32;

struct FastList {
  uint8_t room[2][kSingleRoom];
  uint8_t* single;
  uint8_t* spare;
  uint32_t front;
  uint32_t end;
  uint8_t set[32];  // kStartRoom + kEndRoom places, and room to move 16 bytes from any of them
  uint32_t sets;
  uint32_t used;
};

static_assert(kStartRoom + kEndRoom + 16 <= sizeof(FastList::set), "room for the 16-byte move");

inline void fast_list_start(FastList* l, const uint8_t* start, uint32_t n) {
  l->single = l->room[0];
  l->spare = l->room[1];
  l->front = kFrontRoom;
  l->end = kFrontRoom;
  l->sets = n;
  l->used = n;
  for (uint32_t i = 0; i < n; ++i) l->set[i] = start[i];
}

inline void fast_insert_single(FastList* l, uint32_t j) {
  if (l->front > 0) l->single[--l->front] = uint8_t(j);
}

inline void fast_append(FastList* l, uint8_t e) {
  if (l->used < kStartRoom + kEndRoom) {
    l->set[l->sets++] = e;
    ++l->used;
  }
}

inline void fast_remove_set(FastList* l, uint32_t pos) {
  // One 16-byte move (the list has at most 15 entries); what lands past the end is not used.
  uint8_t rest[16];
  std::memcpy(rest, l->set + pos + 1, 16);
  std::memcpy(l->set + pos, rest, 16);
  --l->sets;
}

// Leading zeros of the stream: the number of 0 bits before the next 1, at most 32 (at least 32
// bits are buffered when it is called, and the bits above `cnt` are zero).
inline uint32_t fast_zeros(const FastBits* f) {
  return uint32_t(__builtin_ctzll(f->buf | (uint64_t(1) << 32)));
}

// The singles part of a set pass: a run of singles reading 0 bits is skipped (and kept) at once
// by counting zeros; `significant(j)` reads the fields of a single whose bit is 1 and returns
// false to stop the decode.
template <class Significant>
inline bool fast_singles_runs(FastBits* f, FastList* l, Significant& significant) {
  const uint8_t* src = l->single;
  uint8_t* dst = l->spare;
  const uint32_t end = l->end;
  uint32_t s = l->front;
  uint32_t kept = l->front;
  bool go = true;
  while (s < end) {
    fast_refill(f);
    const uint32_t left = end - s;
    const uint32_t zeros = fast_zeros(f);
    const uint32_t run = zeros < left ? zeros : left;
    std::memcpy(dst + kept, src + s, 32);  // s, kept < kFrontRoom: inside the room
    fast_skip(f, run);
    kept += run;
    s += run;
    if (s >= end) break;
    if (zeros == 32) continue;  // 32 zeros and more singles: no 1 bit seen yet
    fast_skip(f, 1);
    if (!significant(src[s])) {
      go = false;
      break;
    }
    ++s;
  }
  l->spare = l->single;
  l->single = dst;
  l->end = kept;
  return go;
}

template <class Significant>
inline bool fast_treat_quad(FastBits* f, FastList* l, uint32_t i, Significant& significant) {
  for (uint32_t j = i; j < i + 4; ++j) {
    if (fast_bit(f)) {
      fast_insert_single(l, j);
    } else if (!significant(j)) {
      return false;
    }
  }
  return true;
}

// The part of a set pass after the singles: the other entries, as in set_pass. An entry that is
// not split reads a single 0 bit, so a run of them is skipped at once by counting zeros.
// `quad(i)` treats the quad at i as fast_treat_quad does.
template <class Significant, class Quad>
inline bool fast_sets_pass(FastBits* f, FastList* l, Significant& significant, Quad& quad) {
  uint32_t pos = 0;
  for (;;) {
    fast_refill(f);
    const uint32_t left = l->sets - pos;
    const uint32_t zeros = fast_zeros(f);
    const uint32_t skip = zeros < left ? zeros : left;
    fast_skip(f, skip);
    pos += skip;
    if (pos >= l->sets) return true;
    fast_skip(f, 1);  // the entry at pos is split (its bit is 1)
    const uint32_t e = l->set[pos];
    const uint32_t i = e >> 2;
    switch (e & 3) {
      case kSingle:
        fast_remove_set(l, pos);
        if (!significant(i)) return false;
        break;
      case kQuad:
        fast_remove_set(l, pos);
        if (!quad(i)) return false;
        break;
      case kSet16:
        // Becomes the quad at i; the other three quads go to the end. Visited again at once.
        l->set[pos] = list_entry(i, kQuad);
        fast_append(l, list_entry(i + 4, kQuad));
        fast_append(l, list_entry(i + 8, kQuad));
        fast_append(l, list_entry(i + 12, kQuad));
        break;
      default:  // kSet20
        l->set[pos] = list_entry(i + 4, kSet16);
        if (!quad(i)) return false;
        break;
    }
  }
}

// Coding index → block position (the inverse of kCoefficientOrder).
struct PositionTable {
  uint8_t at[64];
};
// kCoefficientOrder again, for the constant expression below.
constexpr uint8_t kOrderValues[64] = {
    0,  1,  4,  5,  8,  9,  12, 13,  //
    2,  3,  6,  7,  10, 11, 14, 15,  //
    24, 25, 44, 45, 16, 17, 20, 21,  //
    26, 27, 46, 47, 18, 19, 22, 23,  //
    28, 29, 32, 33, 48, 49, 52, 53,  //
    30, 31, 34, 35, 50, 51, 54, 55,  //
    36, 37, 40, 41, 56, 57, 60, 61,  //
    38, 39, 42, 43, 58, 59, 62, 63,  //
};
constexpr PositionTable position_table() {
  PositionTable t{};
  for (uint32_t k = 0; k < 64; ++k) t.at[kOrderValues[k]] = uint8_t(k);
  return t;
}
constexpr PositionTable kPositionOf = position_table();

// Coefficient value of the (p + 1)-bit field v read at plane p: ±(2^p + low p bits), negative
// when bit p is set.
inline int32_t coefficient_value(uint32_t v, uint32_t p) {
  const uint32_t m = 1u << p;
  const int32_t mag = int32_t(m | (v & (m - 1)));
  const int32_t neg = -int32_t(v >> p);
  return (mag ^ neg) - neg;
}

// False when the block needs the plain reader (a word at or past the end); nothing is written
// then.
bool read_coefficients_fast(BitReader* r, int16_t block[64]) {
  FastBits f = fast_begin(r);
  const uint32_t n = fast_bits(&f, 4);
  if (f.spilled) return false;
  if (n == 0) {
    std::memset(block + 1, 0, 63 * sizeof(int16_t));
    fast_end(&f, r);
    return true;
  }

  // The values go straight to their block positions: the block is all written here, and when
  // the plain form takes over it writes the whole block again.
  std::memset(block + 1, 0, 63 * sizeof(int16_t));
  const uint8_t* at = kPositionOf.at;
  FastList list;
  fast_list_start(&list, kCoefficientStart, 6);

  for (uint32_t p = n; p-- > 0;) {
    const uint32_t width = p + 1;
    const uint32_t field = (2u << p) - 1;
    auto significant = [&](uint32_t j) {
      block[at[j]] = int16_t(coefficient_value(fast_bits(&f, width), p));
      return true;
    };
    fast_singles_runs(&f, &list, significant);
    // A quad without branches on the data: per index 1 bit, 1 defers it (the store goes to the
    // place below the front, or to the spare last place when the front is full and the single
    // is dropped), 0 reads its value field (an index still in a quad has the value 0).
    auto quad = [&](uint32_t i) {
      for (uint32_t j = i; j < i + 4; ++j) {
        fast_refill(&f);
        const uint32_t x = uint32_t(f.buf);
        const uint32_t b = x & 1;
        block[at[j]] = int16_t(coefficient_value((x >> 1) & field, p) & (int32_t(b) - 1));
        fast_skip(&f, 1 + (width & (b - 1)));
        const uint32_t room = uint32_t(list.front > 0);
        list.single[room ? list.front - 1 : kFrontRoom] = uint8_t(j);
        list.front -= b & room;
      }
      return true;
    };
    fast_sets_pass(&f, &list, significant, quad);
  }
  if (f.spilled) return false;

  fast_end(&f, r);
  return true;
}

bool read_residue_fast(BitReader* r, uint32_t limit, const uint8_t prediction[64], uint8_t* dst,
                       ptrdiff_t stride) {
  FastBits f = fast_begin(r);
  // Signed 8-bit values kept modulo 256, at their block positions (not in coding order as in
  // the plain form), and the positions in the order they became significant.
  const uint8_t* at = kPositionOf.at;
  uint8_t value[64];
  std::memset(value, 0, sizeof(value));
  uint8_t order[64];
  uint32_t significant_count = 0;
  uint32_t events = 0;

  auto event = [&]() {
    if (events == limit) return false;
    ++events;
    return true;
  };

  const uint32_t t = fast_bits(&f, 3);
  FastList list;
  fast_list_start(&list, kResidueStart, 4);

  for (uint32_t p = t + 1; p-- > 0;) {
    const uint32_t m = 1u << p;
    // Refinement: 1 bit per value significant before this plane; 1 moves it away from zero by
    // 2^p. The event that reaches the limit is applied, then the decode stops.
    const uint32_t refine = significant_count;
    for (uint32_t s = 0; s < refine; ++s) {
      fast_refill(&f);
      const uint32_t b = uint32_t(f.buf) & 1;
      fast_skip(&f, 1);
      uint8_t& v = value[order[s]];
      const uint32_t step = int8_t(v) >= 0 ? m : 0u - m;
      v = uint8_t(v + (step & (0u - b)));
      if (b & uint32_t(events == limit)) goto done;
      events += b;
    }
    {
      auto significant = [&](uint32_t j) {
        value[at[j]] = fast_bit(&f) ? uint8_t(0u - m) : uint8_t(m);
        if (significant_count < 64) order[significant_count++] = at[j];
        return event();
      };
      if (!fast_singles_runs(&f, &list, significant)) goto done;
      auto quad = [&](uint32_t i) { return fast_treat_quad(&f, &list, i, significant); };
      if (!fast_sets_pass(&f, &list, significant, quad)) goto done;
    }
  }

done:
  if (f.spilled) return false;
  for (uint32_t row = 0; row < 8; ++row) {
    uint8_t* d = dst + ptrdiff_t(row) * stride;
    const uint8_t* pr = prediction + 8 * row;
    const uint8_t* va = value + 8 * row;
    for (uint32_t col = 0; col < 8; ++col) d[col] = uint8_t(pr[col] + va[col]);
  }
  fast_end(&f, r);
  return true;
}

}  // namespace

void read_coefficients(BitReader* r, int16_t block[64]) {
  if (r->count >= 4 && (r->bits & 15) == 0) {
    // No planes, with the 4 bits already buffered: the AC values are all zero.
    read_bits(r, 4);
    std::memset(block + 1, 0, 63 * sizeof(int16_t));
    return;
  }
  if (!read_coefficients_fast(r, block)) read_coefficients_plain(r, block);
}

void read_residue(BitReader* r, uint32_t limit, const uint8_t prediction[64], uint8_t* dst,
                  ptrdiff_t stride) {
  if (!read_residue_fast(r, limit, prediction, dst, stride)) {
    read_residue_plain(r, limit, prediction, dst, stride);
  }
}

// ---------------------------------------------------------------------------------------------
// Inverse transform. All arithmetic is signed 32-bit with wrap-around; it is done on uint32_t
// (where wrapping is defined) and turned into int32_t only for the arithmetic right shifts
// (C++20 defines both the conversion, modulo 2^32, and the shift of negative values).

namespace {

constexpr int32_t K1 = 2896;   // √2
constexpr int32_t K2 = 3784;   // 1.847759065
constexpr int32_t K3 = 2217;   // 1.082392200
constexpr int32_t K4 = -5352;  // -2.613125930

inline uint32_t sar(uint32_t x, int s) { return uint32_t(int32_t(x) >> s); }
// MUL(x, K): the 32-bit (wrapping) product shifted right arithmetically by 11.
inline uint32_t mul(uint32_t x, int32_t k) { return sar(x * uint32_t(k), 11); }
inline uint32_t dequant(int16_t c, int32_t q) { return sar(uint32_t(int32_t(c)) * uint32_t(q), 11); }

// The one-dimensional transform (even and odd parts); outputs in row order.
inline void idct8(const uint32_t x[8], uint32_t out[8]) {
  const uint32_t a = x[0] + x[4];
  const uint32_t b = x[0] - x[4];
  const uint32_t g = x[2] + x[6];
  const uint32_t d = mul(x[2] - x[6], K1) - g;
  const uint32_t e0 = a + g, e3 = a - g, e1 = b + d, e2 = b - d;

  const uint32_t z13 = x[5] + x[3];
  const uint32_t z10 = x[5] - x[3];
  const uint32_t z11 = x[1] + x[7];
  const uint32_t z12 = x[1] - x[7];
  const uint32_t o7 = z11 + z13;
  const uint32_t o11 = mul(z11 - z13, K1);
  const uint32_t z5 = mul(z10 + z12, K2);
  const uint32_t o10 = mul(z12, K3) - z5;
  const uint32_t o12 = mul(z10, K4) + z5;
  const uint32_t o6 = o12 - o7;
  const uint32_t o5 = o11 - o6;
  const uint32_t o4 = o10 + o5;

  out[0] = e0 + o7;
  out[1] = e1 + o6;
  out[2] = e2 + o5;
  out[3] = e3 - o4;
  out[4] = e3 + o4;
  out[5] = e2 - o5;
  out[6] = e1 - o6;
  out[7] = e0 - o7;
}

// Dequantises and transforms `block`; calls store(v, s[8]) with the eight descaled samples of
// each output row v (low 8 bits significant).
template <class Store>
inline void idct_rows(const int16_t block[64], const int32_t quant[64], Store store) {
  uint32_t ws[64];  // column-pass outputs, row by row

  for (uint32_t u = 0; u < 8; ++u) {
    const int16_t* c = block + u;
    const int32_t* q = quant + u;
    const uint32_t x0 = dequant(c[0], q[0]);
    if ((c[8] | c[16] | c[24] | c[32] | c[40] | c[48] | c[56]) == 0) {
      // Rows 1 to 7 are zero: every output of the column is x0 (what the butterflies give).
      for (uint32_t v = 0; v < 8; ++v) ws[8 * v + u] = x0;
      continue;
    }
    uint32_t x[8], o[8];
    x[0] = x0;
    for (uint32_t v = 1; v < 8; ++v) x[v] = dequant(c[8 * v], q[8 * v]);
    idct8(x, o);
    for (uint32_t v = 0; v < 8; ++v) ws[8 * v + u] = o[v];
  }

  for (uint32_t v = 0; v < 8; ++v) {
    const uint32_t* x = ws + 8 * v;
    uint8_t s[8];
    if ((x[1] | x[2] | x[3] | x[4] | x[5] | x[6] | x[7]) == 0) {
      // The same shortcut along the row: all eight outputs equal x0.
      const uint8_t dc = uint8_t(sar(x[0] + 127, 8));
      std::memset(s, dc, 8);
    } else {
      uint32_t t[8];
      idct8(x, t);
      for (uint32_t u = 0; u < 8; ++u) s[u] = uint8_t(sar(t[u] + 127, 8));
    }
    store(v, s);
  }
}

}  // namespace

// The plain forms.

void idct_put_plain(const int16_t block[64], const int32_t quant[64], uint8_t* dst,
                    ptrdiff_t stride) {
  idct_rows(block, quant, [&](uint32_t v, const uint8_t s[8]) {
    std::memcpy(dst + ptrdiff_t(v) * stride, s, 8);
  });
}

void idct_put_scaled_plain(const int16_t block[64], const int32_t quant[64], uint8_t* dst,
                           ptrdiff_t stride) {
  idct_rows(block, quant, [&](uint32_t v, const uint8_t s[8]) {
    uint8_t wide[16];
    for (uint32_t u = 0; u < 8; ++u) wide[2 * u] = wide[2 * u + 1] = s[u];
    uint8_t* d = dst + ptrdiff_t(2 * v) * stride;
    std::memcpy(d, wide, 16);
    std::memcpy(d + stride, wide, 16);
  });
}

void idct_add_plain(const int16_t block[64], const int32_t quant[64],
                    const uint8_t prediction[64], uint8_t* dst, ptrdiff_t stride) {
  idct_rows(block, quant, [&](uint32_t v, const uint8_t s[8]) {
    const uint8_t* p = prediction + 8 * v;
    uint8_t out[8];
    for (uint32_t u = 0; u < 8; ++u) out[u] = uint8_t(p[u] + s[u]);
    std::memcpy(dst + ptrdiff_t(v) * stride, out, 8);
  });
}

void idct_init_plain(IdctFunctions* f) {
  f->put = idct_put_plain;
  f->put_scaled = idct_put_scaled_plain;
  f->add = idct_add_plain;
}

void idct_fill(IdctFunctions* f, uint32_t level) {
  idct_init_plain(f);
  if (level >= kCpuSse2 && idct_init_sse2(f) && level >= kCpuAvx2) idct_init_avx2(f);
}

uint32_t idct_kernel_of(const IdctFunctions* f) {
  if (f->put == idct_put_plain) return kCpuPlain;
#if defined(KORVA_VIDEO_AVX2)
  if (f->put == idct_put_avx2) return kCpuAvx2;
#endif
  return kCpuSse2;
}
