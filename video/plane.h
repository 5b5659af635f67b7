// Plane decoding: one plane's bit stream → 8-bit samples, block by block, marking the change
// map. The same routine serves the luma, alpha and both chroma planes.
#pragma once
#include <cstddef>
#include <cstdint>

#include "video/value_stream.h"

// Block kinds (elements of the block-type stream).
enum VideoBlockKind : uint32_t {
  kBlockSkip = 0,
  kBlockScaled = 1,
  kBlockMotion = 2,
  kBlockRun = 3,
  kBlockResidue = 4,
  kBlockIntra = 5,
  kBlockFill = 6,
  kBlockInter = 7,
  kBlockPattern = 8,
  kBlockRaw = 9,
};

// Sixteen scan orders of the run blocks, each a permutation of the 64 block positions.
extern const uint8_t kRunScans[16][64];

struct IdctFunctions;

struct PlaneArgs {
  const uint8_t* data;  // first byte of the plane's bit stream
  size_t size;          // bytes that may be read from `data` on (to the end of the packet)
  uint8_t* dst;         // top-left sample of the plane being written
  const uint8_t* ref;   // top-left sample of the same plane of the previous frame
  uint32_t width;       // decoded width, a multiple of 8, at most `stride`
  uint32_t height;      // decoded height, a multiple of 8
  uint32_t stride;      // row pitch of dst and ref
  uint32_t scale;       // 1 (luma, alpha) or 2 (chroma)
  // One byte per 16 × 16 luma area: (stride / 16 for scale 1, stride / 8 for scale 2) bytes per
  // map row, one map row per 16 rows (scale 1) or 8 rows (scale 2).
  uint8_t* change_map;
  const StreamBuffers* buffers;
  uint32_t flags;  // the movie's flag word (only 0x8000 is read here)
  const IdctFunctions* idct;  // the decoder's inverse transforms; null: the plain forms
};

struct PlaneResult {
  const uint8_t* next;  // the first 32-bit word the plane's reader did not load
  bool complete;        // false when the plane stopped early (see below)
};

// Decodes one plane. Corrupt data never makes it read outside [data, data + size), write
// outside the decoded area of dst, or index outside a table:
// - bits past `size` read as zero; a plane whose reader ran past the end stops at the next
//   block row (or after its last row), and so does a plane that breaks a limit of the format
//   (a chunk over its buffer's capacity, a block-type run past its chunk, a repeated symbol in a
//   tree description, an element taken from an exhausted chunk, runs past position 64, or a
//   scaled block that is misplaced or does not fit the plane). The rows from the one where it
//   stopped to the bottom are then copied from `ref`, so the plane shows the blocks decoded so
//   far over the previous frame; marks already made stay. `complete` is false.
// - a motion source outside the reference plane is clamped into it (columns 0 to stride - 8,
//   rows 0 to height - 8).
// Arguments that do not fit together (width not a multiple of 8 or above stride, height not a
// multiple of 8, a scale other than 1 or 2) decode nothing and return {data, false}.
PlaneResult decode_plane(const PlaneArgs& a);
