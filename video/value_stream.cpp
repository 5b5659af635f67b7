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

inline uint8_t decode_colour(BitReader* r, PlaneStreams* ps) {
  uint32_t high = decode_symbol(r, &ps->colour_context[ps->last_high]);
  uint32_t low = decode_symbol(r, &ps->s[kStreamColours].tree);
  ps->last_high = high;
  uint32_t c = high * 16 + low;
  if (!ps->sign_magnitude) return uint8_t(c);
  uint32_t m = c & 127;
  return uint8_t(c < 128 ? 128 + m : 128 - m);
}

// Block and sub-block kinds: one all-equal value, or symbols with runs of the previous value.
bool fill_types(BitReader* r, ValueStream* s, uint32_t n) {
  uint8_t* out = s->buffer;
  if (read_bit(r)) {
    std::memset(out, int(read_bits(r, 4)), n);
    return true;
  }
  uint32_t prev = 0, k = 0;
  while (k < n) {
    uint32_t sym = decode_symbol(r, &s->tree);
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

void fill_offsets(BitReader* r, ValueStream* s, uint32_t n, bool sign) {
  uint8_t* out = s->buffer;
  if (read_bit(r)) {
    int32_t v = int32_t(read_bits(r, 4));
    if (sign && v && read_bit(r)) v = -v;
    std::memset(out, int(uint8_t(v)), n);
    return;
  }
  for (uint32_t k = 0; k < n; ++k) {
    int32_t v = int32_t(decode_symbol(r, &s->tree));
    if (sign && v && read_bit(r)) v = -v;
    out[k] = uint8_t(v);
  }
}

void fill_dc(BitReader* r, ValueStream* s, uint32_t n, bool intra) {
  uint8_t* out = s->buffer;
  uint16_t cur;
  if (intra) {
    cur = uint16_t(read_bits(r, 11));
  } else {
    uint32_t v = read_bits(r, 10);
    cur = uint16_t(v && read_bit(r) ? 0u - v : v);
  }
  std::memcpy(out, &cur, 2);
  for (uint32_t k = 1; k < n;) {
    uint32_t group = n - k < 8 ? n - k : 8;
    uint32_t w = read_bits(r, 4);
    for (uint32_t g = 0; g < group; ++g, ++k) {
      if (w) {
        uint32_t d = read_bits(r, w);
        if (d && read_bit(r)) d = 0u - d;
        cur = uint16_t(cur + d);
      }
      std::memcpy(out + 2 * k, &cur, 2);
    }
  }
}

}  // namespace

static bool read_chunk_body(BitReader* r, PlaneStreams* ps, ValueStream* s, uint32_t stream);

bool read_stream_chunk(BitReader* reader, PlaneStreams* ps, uint32_t stream) {
  ValueStream* s = &ps->s[stream];
  if (s->read != s->end) return true;
  // The reader's fields live in locals for the length of the chunk.
  BitReader local = *reader;
  BitReader* r = &local;
  bool ok = read_chunk_body(r, ps, s, stream);
  *reader = local;
  return ok;
}

static bool read_chunk_body(BitReader* r, PlaneStreams* ps, ValueStream* s, uint32_t stream) {
  uint32_t n = read_bits(r, s->length_bits);
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
    case kStreamColours:
      if (read_bit(r)) {
        std::memset(s->buffer, decode_colour(r, ps), n);
      } else {
        for (uint32_t k = 0; k < n; ++k) s->buffer[k] = decode_colour(r, ps);
      }
      break;
    case kStreamPatterns:
      for (uint32_t k = 0; k < n; ++k) {
        uint32_t lo = decode_symbol(r, &s->tree);
        uint32_t hi = decode_symbol(r, &s->tree);
        s->buffer[k] = uint8_t(lo | hi << 4);
      }
      break;
    case kStreamXOffsets:
    case kStreamYOffsets: fill_offsets(r, s, n, true); break;
    case kStreamRunLengths: fill_offsets(r, s, n, false); break;
    case kStreamIntraDc: fill_dc(r, s, n, true); break;
    case kStreamInterDc: fill_dc(r, s, n, false); break;
  }
  if (!ok) ps->broken = true;
  return ok;
}
