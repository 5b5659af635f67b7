// Writers of the video decoder's code trees and value-stream chunks: the exact inverses of
// read_code_tree, decode_symbol and read_stream_chunk.
#pragma once
#include <cstdint>

#include "encode/bit_writer.h"
#include "video/value_stream.h"

// A tree description: the shape and the symbol of every leaf, written in one of two forms.
struct TreeSpec {
  uint32_t shape = 0;
  uint8_t symbols[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  // -1: the cheaper form that can express the map (the explicit list names at most eight
  // symbols and the rest follow in increasing order; the merge form of depth 3 expresses any
  // map). -2: the explicit list. 0 to 3: the merge form with that depth.
  int form = -1;
};

// Writes the description (for shape 0 only the 4 shape bits: its map is the identity).
// False, writing nothing, when the map is not a permutation of 0 to 15, shape 0 is given a map
// other than the identity, or the chosen form cannot express the map.
bool write_code_tree(BitWriter* w, const TreeSpec& t);
// Bits the description takes (as write_code_tree would write it), or 0 when it cannot.
uint32_t code_tree_bits(const TreeSpec& t);
// Writes the code word of `symbol` (0 to 15).
void write_tree_symbol(BitWriter* w, const TreeSpec& t, uint32_t symbol);
// Code length of `symbol` in `t`.
uint32_t tree_symbol_bits(const TreeSpec& t, uint32_t symbol);
// The shape and map that code symbols with these counts in the fewest bits (description
// included); symbols with higher counts get the shorter words. `compact_maps` also tries the map
// with the symbols of each code length in increasing order, which is often cheaper to describe.
TreeSpec tree_for_counts(const uint64_t counts[16], bool compact_maps = false);

// The writer's mirror of one plane's stream state.
struct StreamCoder {
  TreeSpec tree[kStreamCount];  // the two DC entries are unused
  TreeSpec colour_context[16];
  uint32_t length_bits[kStreamCount];
  uint32_t last_high = 0;
  bool sign_magnitude = false;
};
// Length fields for a plane of decoded width `width`; flag 0x8000 picks the colour form.
void stream_coder_init(StreamCoder* c, uint32_t width, uint32_t flags);
// The seven tree descriptions in the decoder's order; resets last_high. False when one fails.
bool write_plane_trees(BitWriter* w, StreamCoder* c);

// The coded colour (0 to 255) whose stored sample is `sample`; -1 when there is none (with
// 0x8000, sample 0 cannot be coded: the stored values are 1 to 255).
int colour_code(uint32_t sample, bool sign_magnitude);

enum ChunkForm : uint32_t {
  kChunkAuto = 0,      // all-equal when the stream has that form and the values allow it
  kChunkAllEqual = 1,  // one value for the whole chunk (false if they differ)
  kChunkEach = 2,      // every element coded
};

// Writes one chunk of n ≥ 1 elements, given as the decoder stores them: block kinds 0 to 15,
// sub-kinds, samples (colours), pattern bytes, offsets -15 to 15, DC values (intra 0 to 65535,
// inter -32768 to 32767, as 16-bit values), run lengths 0 to 15. Block-type chunks use the
// repeat symbols when `type_runs` is set. False, writing nothing, when a value cannot be coded
// (out of range, a kind of 12 to 15 outside an all-equal chunk, a first DC beyond 11 bits
// (intra) or ±1023 (inter), a DC step of -32768) or n does not fit the length field.
bool write_stream_chunk(BitWriter* w, StreamCoder* c, uint32_t stream, const int32_t* elements,
                        uint32_t n, ChunkForm form = kChunkAuto, bool type_runs = true);
// The zero-length chunk that finishes a stream for the rest of the plane.
void write_stream_finish(BitWriter* w, const StreamCoder& c, uint32_t stream);
