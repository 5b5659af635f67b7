// The movie encoder's picture coder: one 4:2:0 picture in, one version "i" video packet out.
//
// Each 8 × 8 block of every plane takes the form that costs least, counting its squared error
// plus lambda times an estimate of its bits: a skip, a motion copy (found by a small search
// around the offsets of the neighbouring blocks), a fill, a two-colour pattern, an intra or inter
// transform block at the block's quantiser, or its raw samples. Key frames use no block of the
// previous frame.
//
// The encoder keeps its reference pictures by decoding each packet it wrote with the project's
// own video decoder, so what it predicts from is exactly what a player holds: encoder and
// decoder never drift apart. It also models every block while choosing it; the blocks where the
// model and the decoder disagree are counted (always 0 unless something is broken).
#pragma once
#include <cstdint>
#include <vector>

#include "video/video_decoder.h"

struct EncoderSettings {
  uint32_t width = 0, height = 0;  // picture size, 1 to 16384
  bool grey = false;               // luma only: the movie carries the grey-scale flag
  double quality = 75;             // 0 (smallest) to 100 (exact)
  uint32_t keyint = 250;           // a key frame at least every N frames (0: only the first)
  uint32_t speed = 2;              // 0 (thorough) to 4 (fast)
  bool scene_cuts = true;          // a key frame where the picture changes completely
  uint32_t header_flags = 0;       // the movie's header flag word (grey bit added when grey)
};

// One picture: Y (width × height), Cb and Cr ((width + 1) / 2 × (height + 1) / 2), each with
// its row pitch. Cb and Cr are not read for a grey movie.
struct EncoderPicture {
  const uint8_t* plane[3];  // Y, Cb, Cr
  uint32_t pitch[3];
};

struct EncoderFrameStats {
  bool key = false;
  double sse[3] = {};      // squared error of the decoded picture, over the visible area: Y, Cb, Cr
  uint64_t samples[3] = {};
  uint64_t blocks[10] = {};  // chosen block kinds 0 to 9, all planes
  uint32_t model_mismatches = 0;  // blocks where the decoder's result differed from the model
  uint32_t quant = 0;             // the frame's base quantiser index
};

struct Encoder;

// Null when the size is invalid or memory runs out.
Encoder* encoder_open(const EncoderSettings& s);
void encoder_close(Encoder* e);
// Codes the next picture into *packet. `force_key` asks for a key frame.
// False only when the writers refuse the frame (which would be a fault of the encoder).
bool encoder_encode(Encoder* e, const EncoderPicture& picture, bool force_key, std::vector<uint8_t>* packet,
                    EncoderFrameStats* stats);
// The decoder's planes after the last frame: the current set is what a player shows.
const FramePlanes* encoder_planes(const Encoder* e);
// The movie flag word the encoder decodes with (kVideoFlagGrey for a grey movie).
uint32_t encoder_movie_flags(const Encoder* e);

// The base quantiser index and lambda of a quality (exposed for tests and rate control).
double encoder_quant_of_quality(double quality);

// PSNR in dB of a squared error over `samples` samples (99 when exact).
double encoder_psnr(double sse, uint64_t samples);
