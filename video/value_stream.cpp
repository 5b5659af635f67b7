#include "video/value_stream.h"

const uint8_t kBlockTypeRuns[4] = {4, 8, 12, 32};

uint32_t stream_buffer_bytes(uint32_t luma_stride, uint32_t stream) {
  uint32_t s = luma_stride, b = luma_stride / 8;
  switch (stream) {
    case kStreamBlockTypes:
    case kStreamXOffsets:
    case kStreamYOffsets: return (b + 515) & ~3u;
    case kStreamSubblockTypes: return (s / 16 + 515) & ~3u;
    case kStreamColours: return b * 64 + 512;
    case kStreamPatterns: return b * 8 + 512;
    case kStreamIntraDc:
    case kStreamInterDc: return (2 * b + 1027) & ~3u;
    case kStreamRunLengths: return b * 48 + 512;
  }
  return 0;
}

static size_t align32(size_t n) { return (n + 31) & ~size_t(31); }

size_t stream_buffers_total_bytes(uint32_t luma_stride) {
  size_t total = 0;
  for (uint32_t i = 0; i < kStreamCount; ++i) total += align32(stream_buffer_bytes(luma_stride, i));
  return total;
}

void stream_buffers_place(StreamBuffers* b, uint32_t luma_stride, uint8_t* block) {
  size_t at = 0;
  for (uint32_t i = 0; i < kStreamCount; ++i) {
    uint32_t bytes = stream_buffer_bytes(luma_stride, i);
    b->data[i] = block + at;
    b->capacity[i] = bytes / stream_element_bytes(i);
    at += align32(bytes);
  }
}

uint32_t stream_row_maximum(uint32_t width, uint32_t stream) {
  uint32_t blocks = width / 8;
  switch (stream) {
    case kStreamSubblockTypes: return width / 16;
    case kStreamColours: return blocks * 64;
    case kStreamPatterns: return blocks * 8;
    case kStreamRunLengths: return blocks * 48;
    default: return blocks;
  }
}

uint32_t stream_length_bits(uint32_t width, uint32_t stream) {
  uint64_t v = uint64_t(stream_row_maximum(width, stream)) + 511;
  uint32_t bits = 0;
  while (v) {
    ++bits;
    v >>= 1;
  }
  return bits > 15 ? 15 : bits;
}

void plane_streams_init(PlaneStreams* ps, const StreamBuffers* buffers, uint32_t width,
                        uint32_t flags) {
  for (uint32_t i = 0; i < kStreamCount; ++i) {
    ValueStream* s = &ps->s[i];
    s->read = nullptr;
    s->end = nullptr;
    s->buffer = buffers->data[i];
    s->capacity = buffers->capacity[i];
    s->length_bits = stream_length_bits(width, i);
    s->tree.shape = 0;
    s->tree.max_bits = kTreeMaxBits[0];
    s->tree.lookup = kTreeTables.lookup[0];
    for (uint32_t k = 0; k < 16; ++k) s->tree.symbols[k] = uint8_t(k);
    code_tree_fill_codes(&s->tree);
  }
  for (uint32_t h = 0; h < 16; ++h) ps->colour_context[h] = ps->s[kStreamColours].tree;
  ps->last_high = 0;
  ps->sign_magnitude = (flags & kVideoFlagSignMagnitude) != 0;
  ps->broken = false;
}

bool plane_streams_read_trees(BitReader* r, PlaneStreams* ps) {
  bool ok = read_code_tree(r, &ps->s[kStreamBlockTypes].tree);
  ok &= read_code_tree(r, &ps->s[kStreamSubblockTypes].tree);
  for (uint32_t i = 0; i < 16; ++i) ok &= read_code_tree(r, &ps->colour_context[i]);
  ok &= read_code_tree(r, &ps->s[kStreamColours].tree);
  ok &= read_code_tree(r, &ps->s[kStreamPatterns].tree);
  ok &= read_code_tree(r, &ps->s[kStreamXOffsets].tree);
  ok &= read_code_tree(r, &ps->s[kStreamYOffsets].tree);
  ok &= read_code_tree(r, &ps->s[kStreamRunLengths].tree);
  ps->last_high = 0;
  if (!ok) ps->broken = true;
  return ok;
}

namespace {

// The chunk bodies are written once over a reader type with three operations: bits(n) (n ≤ 16),
// bit() and symbol(tree). PlainBits is the BitReader itself; ChunkBits (below) is the fast one.
struct PlainBits {
  BitReader* r;
  uint32_t bits(uint32_t n) { return read_bits(r, n); }
  uint32_t bit() { return read_bit(r); }
  uint32_t symbol(const CodeTree* t) { return decode_symbol(r, t); }
  uint32_t bit_if(bool c) { return c ? read_bit(r) : 0; }  // a bit when c, else 0 and none read
  void refill() {}
};

// The fast reader: a 64-bit buffer refilled 8 bytes at a time without a branch on the bit count
// (the stream is little-endian words read from bit 0 up, which is the same as little-endian
// bytes read from bit 0 up). Each element of a chunk calls refill() once, which leaves at least
// 56 bits, enough for the widest element field read before the next refill (a colour: two codes
// of at most 7 bits; a DC difference: 4 + 15 + 1 bits). A refill that would load a byte at or
// past the end loads zeros instead and marks the chunk as spilled: the chunk is then read again
// by the plain reader from the saved state, which alone handles the end of the data.
struct ChunkBits {
  uint64_t buf;  // the next bit is bit 0; `cnt` of them are valid
  uint32_t cnt;
  const uint8_t* next;  // next byte not yet in the buffer
  const uint8_t* end;
  bool spilled;

  void refill() {
    if (end - next >= 8) {
      const uint64_t w = uint64_t(load_le32(next)) | uint64_t(load_le32(next + 4)) << 32;
      buf |= w << cnt;  // bits past 64 are loaded again by the next refill
      next += (63 - cnt) >> 3;
      cnt |= 56;
    } else {
      spilled = true;
      cnt = 63;  // zeros
    }
  }
  uint32_t bits(uint32_t n) {
    const uint32_t v = uint32_t(buf) & ((1u << n) - 1);
    buf >>= n;
    cnt -= n;
    return v;
  }
  uint32_t bit() { return bits(1); }
  uint32_t bit_if(bool c) {
    const uint32_t n = uint32_t(c);
    const uint32_t v = uint32_t(buf) & n;
    buf >>= n;
    cnt -= n;
    return v;
  }
  uint32_t symbol(const CodeTree* t) {
    const uint32_t e = t->codes[uint32_t(buf) & 127];
    bits(e >> 4);
    return e & 15;
  }
};

// Starts the fast reader where the plain one stands: the buffered bits of the current word.
inline ChunkBits chunk_begin(const BitReader* r) {
  return ChunkBits{r->bits, r->count, r->next, r->end, false};
}

// Ends the fast reader: the state the plain reader would have after the same bits, or false when
// that state needs a word not wholly inside the data (the plain reader then does the chunk).
inline bool chunk_end(const ChunkBits* f, BitReader* r) {
  if (f->spilled) return false;
  // Bits consumed since the reader's word-aligned `next`, which is where the plain one loads.
  const uint64_t loaded = uint64_t(f->next - r->next) * 8 + r->count;
  const uint64_t used = loaded - f->cnt;  // bits consumed past the old buffered ones' start
  const uint32_t old = r->count;
  if (used <= old) {  // still inside the word already buffered
    const uint32_t n = uint32_t(used);
    r->bits = n < 32 ? r->bits >> n : 0;
    r->count = old - n;
    return true;
  }
  const uint64_t past = used - old;  // bits taken from the words at and after r->next
  const uint64_t words = (past + 31) / 32;
  if (uint64_t(r->end - r->next) < 4 * words) return false;
  const uint8_t* last = r->next + 4 * (words - 1);
  const uint32_t taken = uint32_t(past - 32 * (words - 1));  // 1 to 32 bits of the last word
  r->next = last + 4;
  r->count = 32 - taken;
  r->bits = taken < 32 ? load_le32(last) >> taken : 0;
  return true;
}

// One colour: the high nibble coded by the tree of the previous high nibble, then the low one.
template <class Bits>
inline uint32_t decode_colour(Bits* r, const PlaneStreams* ps, uint32_t* last_high) {
  const uint32_t high = r->symbol(&ps->colour_context[*last_high]);
  const uint32_t low = r->symbol(&ps->s[kStreamColours].tree);
  *last_high = high;
  return high * 16 + low;
}

// The colour byte of the coded value c: itself, or from the sign-magnitude form.
inline uint8_t colour_byte(uint32_t c, bool sign_magnitude) {
  if (!sign_magnitude) return uint8_t(c);
  const uint32_t m = c & 127;
  return uint8_t(c < 128 ? 128 + m : 128 - m);
}

template <class Bits>
void fill_colours(Bits* reader, PlaneStreams* ps, ValueStream* s, uint32_t n) {
  Bits b = *reader;  // in locals for the loop
  Bits* r = &b;
  uint32_t last_high = ps->last_high;
  const bool sm = ps->sign_magnitude;
  r->refill();
  if (r->bit()) {
    std::memset(s->buffer, colour_byte(decode_colour(r, ps, &last_high), sm), n);
  } else {
    uint8_t* out = s->buffer;
    for (uint32_t k = 0; k < n; ++k) {
      r->refill();
      out[k] = colour_byte(decode_colour(r, ps, &last_high), sm);
    }
  }
  ps->last_high = last_high;
  *reader = b;
}

template <class Bits>
void fill_patterns(Bits* reader, ValueStream* s, uint32_t n) {
  Bits b = *reader;
  Bits* r = &b;
  const CodeTree* tree = &s->tree;
  uint8_t* out = s->buffer;
  for (uint32_t k = 0; k < n; ++k) {
    r->refill();
    const uint32_t lo = r->symbol(tree);
    const uint32_t hi = r->symbol(tree);
    out[k] = uint8_t(lo | hi << 4);
  }
  *reader = b;
}

// Block and sub-block kinds: one all-equal value, or symbols with runs of the previous value.
template <class Bits>
bool fill_types_body(Bits* r, ValueStream* s, uint32_t n) {
  uint8_t* out = s->buffer;
  r->refill();
  if (r->bit()) {
    std::memset(out, int(r->bits(4)), n);
    return true;
  }
  uint32_t prev = 0, k = 0;
  while (k < n) {
    r->refill();
    uint32_t sym = r->symbol(&s->tree);
    if (sym < 12) {
      out[k++] = uint8_t(sym);
      prev = sym;
      continue;
    }
    uint32_t run = kBlockTypeRuns[sym - 12];
    if (run > n - k) {  // a run past the chunk's length
      std::memset(out + k, int(prev), n - k);
      return false;
    }
    std::memset(out + k, int(prev), run);
    k += run;
  }
  return true;
}

template <class Bits>
bool fill_types(Bits* reader, ValueStream* s, uint32_t n) {
  Bits b = *reader;
  const bool ok = fill_types_body(&b, s, n);
  *reader = b;
  return ok;
}

template <class Bits>
void fill_offsets(Bits* reader, ValueStream* s, uint32_t n, bool sign) {
  Bits b = *reader;
  Bits* r = &b;
  uint8_t* out = s->buffer;
  r->refill();
  if (r->bit()) {
    int32_t v = int32_t(r->bits(4));
    if (sign && v && r->bit()) v = -v;
    std::memset(out, int(uint8_t(v)), n);
  } else {
    const CodeTree* tree = &s->tree;
    for (uint32_t k = 0; k < n; ++k) {
      r->refill();
      const uint32_t v = r->symbol(tree);
      // A sign bit follows a value other than 0 (signed streams only); 1 negates.
      const uint32_t neg = 0u - r->bit_if(sign && v != 0);
      out[k] = uint8_t((v ^ neg) - neg);
    }
  }
  *reader = b;
}

template <class Bits>
void fill_dc(Bits* reader, ValueStream* s, uint32_t n, bool intra) {
  Bits b = *reader;
  Bits* r = &b;
  uint8_t* out = s->buffer;
  uint16_t cur;
  r->refill();
  if (intra) {
    cur = uint16_t(r->bits(11));
  } else {
    uint32_t v = r->bits(10);
    cur = uint16_t(v && r->bit() ? 0u - v : v);
  }
  std::memcpy(out, &cur, 2);
  for (uint32_t k = 1; k < n;) {
    uint32_t group = n - k < 8 ? n - k : 8;
    r->refill();
    uint32_t w = r->bits(4);
    for (uint32_t g = 0; g < group; ++g, ++k) {
      if (w) {
        r->refill();
        uint32_t d = r->bits(w);
        if (d && r->bit()) d = 0u - d;
        cur = uint16_t(cur + d);
      }
      std::memcpy(out + 2 * k, &cur, 2);
    }
  }
  *reader = b;
}

template <class Bits>
bool read_chunk_body(Bits* r, PlaneStreams* ps, ValueStream* s, uint32_t stream) {
  r->refill();
  uint32_t n = r->bits(s->length_bits);
  if (n == 0) {  // finished for the rest of the plane: read and end never meet again
    s->read = s->buffer + 4;
    s->end = s->buffer;
    return true;
  }
  if (n > s->capacity) {
    s->read = s->buffer + 4;
    s->end = s->buffer;
    ps->broken = true;
    return false;
  }
  uint32_t eb = stream_element_bytes(stream);
  s->read = s->buffer;
  s->end = s->buffer + size_t(n) * eb;
  bool ok = true;
  switch (stream) {
    case kStreamBlockTypes:
    case kStreamSubblockTypes: ok = fill_types(r, s, n); break;
    case kStreamColours: fill_colours(r, ps, s, n); break;
    case kStreamPatterns: fill_patterns(r, s, n); break;
    case kStreamXOffsets:
    case kStreamYOffsets: fill_offsets(r, s, n, true); break;
    case kStreamRunLengths: fill_offsets(r, s, n, false); break;
    case kStreamIntraDc: fill_dc(r, s, n, true); break;
    case kStreamInterDc: fill_dc(r, s, n, false); break;
  }
  if (!ok) ps->broken = true;
  return ok;
}

}  // namespace

bool read_stream_chunk_plain(BitReader* reader, PlaneStreams* ps, uint32_t stream) {
  ValueStream* s = &ps->s[stream];
  if (s->read != s->end) return true;
  // The reader's fields live in locals for the length of the chunk.
  BitReader local = *reader;
  PlainBits r{&local};
  bool ok = read_chunk_body(&r, ps, s, stream);
  *reader = local;
  return ok;
}

bool read_stream_chunk(BitReader* reader, PlaneStreams* ps, uint32_t stream) {
  ValueStream* s = &ps->s[stream];
  if (s->read != s->end) return true;
  // What the chunk may change, kept for the plain reader in case the fast one cannot finish.
  uint8_t* const read = s->read;
  uint8_t* const end = s->end;
  const uint32_t last_high = ps->last_high;
  const bool broken = ps->broken;
  ChunkBits f = chunk_begin(reader);
  bool ok = read_chunk_body(&f, ps, s, stream);
  if (chunk_end(&f, reader)) return ok;
  s->read = read;
  s->end = end;
  ps->last_high = last_high;
  ps->broken = broken;
  return read_stream_chunk_plain(reader, ps, stream);
}
