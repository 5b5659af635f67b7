// Writers of whole video planes (from a list of blocks) and whole video packets.
#pragma once
#include <cstdint>
#include <vector>

#include "encode/video_stream_writer.h"
#include "video/plane.h"

// One run of a run block: `length` (1 to 16) scan positions, one colour for all of them
// (`fill`) or one colour each.
struct VideoRun {
  uint8_t length;
  bool fill;
};

// One element of a plane's block-type stream and everything the decoder reads for it. Only the
// fields of the block's kind matter. A kind-1 block in a row with y mod 16 = 8 is the lower half
// of the scaled block above and carries nothing else.
struct VideoBlock {
  uint8_t kind = kBlockSkip;  // 0 to 15
  uint8_t sub_kind = 0;       // kind 1, upper row: the sub-kind (any value 0 to 15)
  int8_t mx = 0, my = 0;      // kinds 2, 4, 7: offsets -15 to 15
  // Kinds 3, 6, 8, 9 (and those sub-kinds): samples in the order the decoder takes them.
  std::vector<uint8_t> colours;
  uint8_t pattern[8] = {};    // kind 8: one byte per row, bit j = column j (1: second colour)
  uint8_t scan = 0;           // kind 3: scan order 0 to 15
  std::vector<VideoRun> runs; // kind 3: runs ending at position 63 (one colour more) or 64
  int16_t coefficients[64] = {};  // kinds 5, 7: block positions; [0] is the DC
  int planes = -1;                // kinds 5, 7: bit planes (-1: the fewest that fit)
  uint8_t quant = 0;              // kinds 5, 7: quantiser index 0 to 15
  int8_t residue[64] = {};        // kind 4: residue values in block positions
  int residue_planes = -1;        // kind 4: t (-1: the fewest that fit)
  uint8_t limit = 127;            // kind 4: event limit 0 to 127
};

// Readable constructors for tests.
VideoBlock video_skip();
VideoBlock video_motion(int mx, int my);
VideoBlock video_fill(uint8_t v);
VideoBlock video_pattern(uint8_t a, uint8_t b, const uint8_t rows[8]);
VideoBlock video_raw(const uint8_t samples[64]);  // row by row
VideoBlock video_run(uint8_t scan, std::vector<VideoRun> runs, std::vector<uint8_t> colours);
// Runs along `scan` that rebuild `samples` (row by row): repeats as fill runs, the rest as
// listed runs, each at most 16 long.
VideoBlock video_run_from_samples(uint8_t scan, const uint8_t samples[64]);
// The number of runs and colours that video_run_from_samples would give.
void video_run_counts(uint8_t scan, const uint8_t samples[64], uint32_t* runs, uint32_t* colours);
VideoBlock video_intra(const int16_t coefficients[64], uint8_t quant);
VideoBlock video_inter(int mx, int my, const int16_t coefficients[64], uint8_t quant);
VideoBlock video_residue(int mx, int my, const int8_t residue[64], uint8_t limit = 127);
// The upper half of a scaled block with the content of `inner` (kind 3, 5, 6, 8, 9, or any
// other value that writes nothing), and the lower half.
VideoBlock video_scaled(const VideoBlock& inner);
VideoBlock video_scaled_lower();

struct VideoPlaneDesc {
  uint32_t width = 0, height = 0;  // decoded size, multiples of 8
  uint32_t scale = 1;              // 1 luma/alpha, 2 chroma
  // One list per block row (height / 8 of them), in the order the decoder consumes
  // block-type elements (a kind-1 element covers two block columns).
  std::vector<std::vector<VideoBlock>> rows;
};

struct VideoPlaneOptions {
  bool tune_trees = true;  // shapes and maps chosen from the symbol counts (else shape 0)
  bool pack_rows = false;  // a chunk carries as many rows as fit (else the rows up to the
                           // first one that has elements of the stream)
  bool all_equal = true;   // all-equal chunks where possible
  bool type_runs = true;   // block-type repeat symbols
  int tree_form = -1;      // TreeSpec::form for every tree
  bool plan_chunks = false;  // chunk ends, and all-equal or listed chunks, chosen for the fewest
                             // bits, with trees from the symbols those chunks send (pack_rows
                             // and all_equal are then not used)
  uint32_t plan_passes = 2;  // plans made, each followed by trees from what it sends (1 is
                             // faster and a little larger)
  uint32_t buffer_stride = 0;  // the movie's luma stride that sizes the decoder's buffers
                               // (0: width rounded up to 16 for scale 1, 2 × width for 2)
};

// The plane's bit stream, padded to whole 32-bit words. False (with *error set) when the
// description cannot be coded: rows that do not match the plane, values out of range, runs
// that do not end at 63 or 64, colour counts that do not match the runs, a chunk that does not
// fit a buffer, a sample 0 in the sign-magnitude form.
bool video_write_plane(const VideoPlaneDesc& d, uint32_t flags, const VideoPlaneOptions& o,
                       std::vector<uint8_t>* out, const char** error = nullptr);

// The samples a correct decoder produces for `d` over the reference plane `ref` (same stride),
// written into `dst` (which the caller has filled, e.g. with a copy of the current contents),
// marking `map` like the decoder. Transform blocks use the committed transforms. The residue
// blocks honour their limit. Used by tests as the model of the bits.
void video_plane_model(const VideoPlaneDesc& d, const uint8_t* ref, uint8_t* dst, uint32_t stride,
                       uint8_t* map);

// Whole packets. `alpha_section` writes the alpha size and plane (which may be empty only when
// the section is skipped: the decoder then never reads it). Without flag 0x8000 the luma plane
// gets its size field, with `luma_padding` zero bytes (a multiple of 4) after its bits. The
// chroma planes follow when given.
struct VideoPacketPlanes {
  bool alpha_section = false;
  std::vector<uint8_t> alpha, luma, chroma1, chroma2;
  uint32_t luma_padding = 0;
};
std::vector<uint8_t> video_write_packet(const VideoPacketPlanes& p, uint32_t movie_flags);
