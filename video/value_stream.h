// Value streams: the nine streams that carry the parameters of a plane's 8 × 8 blocks. Each is
// read in chunks, interleaved with the block data, at the start of every row of blocks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "video/bit_reader.h"
#include "video/code_tree.h"

// The nine streams, in the order they are refilled at every block row.
enum VideoStream : uint32_t {
  kStreamBlockTypes = 0,
  kStreamSubblockTypes = 1,
  kStreamColours = 2,
  kStreamPatterns = 3,
  kStreamXOffsets = 4,
  kStreamYOffsets = 5,
  kStreamIntraDc = 6,
  kStreamInterDc = 7,
  kStreamRunLengths = 8,
  kStreamCount = 9,
};

// Repeat counts of block-type symbols 12 to 15.
extern const uint8_t kBlockTypeRuns[4];

// Movie flag word bit: colours use the sign-magnitude form (versions "f", "g", "h").
constexpr uint32_t kVideoFlagSignMagnitude = 0x8000;

// The element buffers of the nine streams, owned by the movie and reused by every plane of
// every frame. `capacity` counts elements (the two DC streams have 2-byte elements).
struct StreamBuffers {
  uint8_t* data[kStreamCount];
  uint32_t capacity[kStreamCount];
};

// Bytes of element buffer `stream` for a movie whose padded luma width is `luma_stride`.
uint32_t stream_buffer_bytes(uint32_t luma_stride, uint32_t stream);
// Bytes of one block holding all nine buffers, each starting 32-byte aligned in it.
size_t stream_buffers_total_bytes(uint32_t luma_stride);
// Points `b` at the nine buffers inside `block` (32-byte aligned, stream_buffers_total_bytes).
void stream_buffers_place(StreamBuffers* b, uint32_t luma_stride, uint8_t* block);

// Element size in bytes (1, or 2 for the DC streams).
inline uint32_t stream_element_bytes(uint32_t stream) {
  return stream == kStreamIntraDc || stream == kStreamInterDc ? 2 : 1;
}
// Most elements one block row of a plane of decoded width `width` takes from `stream`.
uint32_t stream_row_maximum(uint32_t width, uint32_t stream);
// Width of the chunk-length field: significant bits of (row maximum + 511), at most 15.
uint32_t stream_length_bits(uint32_t width, uint32_t stream);

struct ValueStream {
  uint8_t* read;  // next element for a block
  uint8_t* end;   // one past the last element of the current chunk
  uint8_t* buffer;
  uint32_t capacity;     // elements the buffer holds
  uint32_t length_bits;  // 9 to 15
  CodeTree tree;
};

// All the stream state of one plane decode.
struct PlaneStreams {
  ValueStream s[kStreamCount];
  CodeTree colour_context[16];  // by the previous colour's high nibble
  uint32_t last_high;
  bool sign_magnitude;  // movie flag 0x8000
  bool broken;          // a limit of the format was broken: the plane stops
};

// Starts every stream exhausted on `buffers`, for a plane of decoded width `width`.
void plane_streams_init(PlaneStreams* ps, const StreamBuffers* buffers, uint32_t width,
                        uint32_t flags);
// Reads the seven tree descriptions in their order. Returns false (and sets `broken`) when one
// repeats an explicit symbol.
bool plane_streams_read_trees(BitReader* r, PlaneStreams* ps);
// Refills stream `stream` if it is exhausted; does nothing otherwise. Returns false (and sets
// `broken`) when the chunk breaks a limit: a length over the buffer's capacity, or a run of
// block types past the chunk's length. Nothing is ever written outside the buffer.
bool read_stream_chunk(BitReader* r, PlaneStreams* ps, uint32_t stream);
// The plain form of read_stream_chunk, through the BitReader one field at a time.
// read_stream_chunk gives exactly its results (elements, flags, bits consumed and reader state):
// it reads through a 64-bit buffer and hands a chunk that reaches the end of the data to this
// form. The tests compare the two.
bool read_stream_chunk_plain(BitReader* r, PlaneStreams* ps, uint32_t stream);

// Consumers: the next element, or 0 (and `broken` set) when the chunk holds no more.
inline uint32_t stream_take(PlaneStreams* ps, uint32_t stream) {
  ValueStream* s = &ps->s[stream];
  if (s->read < s->end) return *s->read++;
  ps->broken = true;
  return 0;
}
inline int32_t stream_take_signed(PlaneStreams* ps, uint32_t stream) {
  return int8_t(uint8_t(stream_take(ps, stream)));
}
inline uint16_t stream_take16(PlaneStreams* ps, uint32_t stream) {
  ValueStream* s = &ps->s[stream];
  if (s->read < s->end) {
    uint16_t v;
    std::memcpy(&v, s->read, 2);
    s->read += 2;
    return v;
  }
  ps->broken = true;
  return 0;
}
// The n next byte elements (n ≤ 64), or null (and `broken` set) when fewer are left.
inline const uint8_t* stream_take_bytes(PlaneStreams* ps, uint32_t stream, uint32_t n) {
  ValueStream* s = &ps->s[stream];
  if (s->read < s->end && uint32_t(s->end - s->read) >= n) {
    const uint8_t* p = s->read;
    s->read += n;
    return p;
  }
  ps->broken = true;
  return nullptr;
}
