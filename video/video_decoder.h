// The video decoder's public entry: one video packet → the planes of one frame.
//
// A movie keeps its decoded pictures in FramePlanes: two plane sets (the current frame and the
// one before it, which every skip, motion and prediction block refers to), optional alpha
// planes, the padded sizes, the change map and the nine value-stream buffers. The caller (the
// movie) allocates all of it once (video_frame_sizes gives every size); decoding a frame
// allocates nothing. Tools and tests can use video_store_open, which allocates one block.
//
// A frame is decoded into the spare set (plane_sets[1 - current_set]) with the current set as
// its reference; the caller then flips current_set. Before the call it clears the first
// map_blocks bytes of the change map unless the previous frame was not copied out, in which
// case the marks accumulate. The decoder only ever stores 1 into the map and never touches
// its zero terminator.
#pragma once
#include <cstddef>
#include <cstdint>

#include "video/transform.h"
#include "video/value_stream.h"

// Movie flag word bits that the video decoder reads.
constexpr uint32_t kVideoFlagChromaSwap = 0x10000;  // versions "f", "g": not read here
constexpr uint32_t kVideoFlagGrey = 0x20000;        // chroma planes are not decoded
constexpr uint32_t kVideoFlagNoSimd = 0x40000;      // not read here (the copy driver's switch)
constexpr uint32_t kVideoFlagAlpha = 0x100000;      // movie: decode alpha; header: section present

struct FramePlanes {
  uint32_t current_set;       // the set holding the last decoded frame
  uint8_t* plane_sets[2];     // luma, first chroma, second chroma back to back
  uint8_t* alpha_planes[2];   // null without alpha (or when alpha was not requested)
  uint32_t luma_stride;       // 2 × chroma_stride: luma and alpha row pitch
  uint32_t luma_height;       // 2 × chroma_height
  uint32_t chroma_stride;     // (W + 1) / 2 rounded up to 8
  uint32_t chroma_height;     // (H + 1) / 2 rounded up to 8
  uint8_t* change_map;        // map_blocks bytes, then a zero byte
  uint32_t map_columns;       // luma_stride / 16
  uint32_t map_blocks;        // map_columns × luma_height / 16
  StreamBuffers stream_buffers;
  IdctFunctions idct;         // the inverse transforms of this decoder (frame_planes_set_sizes)
};

// Every size derived from the coded picture size W × H.
struct VideoFrameSizes {
  uint32_t luma_stride, luma_height, chroma_stride, chroma_height;
  uint32_t luma_width, luma_rows;      // decoded luma and alpha area: W and H rounded up to 8
  uint32_t map_columns, map_blocks;
  size_t set_bytes;     // one plane set: luma + two chroma planes
  size_t alpha_bytes;   // one alpha plane: luma_stride × luma_height
  size_t map_bytes;     // map_blocks + 1 (the terminator)
  size_t stream_bytes;  // stream_buffers_total_bytes(luma_stride)
};
// False when W or H is 0 or above 16384.
bool video_frame_sizes(uint32_t width, uint32_t height, VideoFrameSizes* s);

// Fills the size fields of `p` from `s` (the pointers are left to the caller), and takes the
// inverse transforms for the instruction sets the processor has and KORVA_CPU allows now.
void frame_planes_set_sizes(FramePlanes* p, const VideoFrameSizes* s);

// Decodes one video packet of `packet_size` bytes. `key` does not change decoding. Returns true
// when every plane decoded completely; false when the packet was short or corrupt: the planes
// decoded so far are kept, the rest of the faulty plane shows the reference (see decode_plane),
// planes after it are copied from the reference set, and a size field that points outside the
// packet stops the frame at that plane in the same way. Nothing outside the packet, the planes,
// the map or the buffers is ever read or written.
//
// Layout (version "i", flag word without 0x8000): [alpha size s_a, alpha data] when the header
// flag word has 0x100000, then luma size s_y and luma data, then the first and the second chroma
// plane, each starting at the word after the last word its predecessor's reader loaded. With
// 0x8000 (versions "f", "g", "h") the luma size is absent and the luma plane is chained the same
// way. Sizes count from the first byte of their own field.
//
// `p` gives the planes (the spare set is written, the current one is the reference), the change
// map, the stream buffers and the inverse transforms; width and height are the coded size.
struct VideoPacket {
  const uint8_t* data;
  size_t size;
  bool key;
  uint32_t movie_flags;   // the movie's flag word
  uint32_t header_flags;  // the header's flag word
};
bool video_decode_frame(const FramePlanes* p, uint32_t width, uint32_t height, const VideoPacket* packet);

// The same on a FramePlanes: decodes into the spare set with the current one as reference and
// flips current_set. The change map is left to the caller, as above.
bool video_decode_next(FramePlanes* p, uint32_t width, uint32_t height, const uint8_t* packet,
                       size_t packet_size, bool key, uint32_t movie_flags, uint32_t header_flags);

// Tools and tests: FramePlanes with all its memory in one zero-filled, 32-byte aligned block.
// `single_set` (every frame a key frame) makes both entries of plane_sets (and alpha_planes)
// point to one set. Returns false when the size is invalid or memory runs out.
struct VideoStore {
  FramePlanes planes;
  VideoFrameSizes sizes;
  void* block;
};
bool video_store_open(VideoStore* s, uint32_t width, uint32_t height, bool alpha, bool single_set);
void video_store_close(VideoStore* s);
