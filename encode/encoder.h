// The movie encoder's picture coder: one 4:2:0 picture (and optionally its alpha plane) in, one
// video packet out, for container version "i" or one of the older "f", "g", "h". The older
// colour coding cannot carry the sample 0: fills, patterns, runs and raw blocks show it as 1, so
// those versions are exact at quality 100 only where the transform and motion blocks carry 0s.
//
// Each 8 × 8 block of every plane takes the form that costs least, counting its squared error
// plus lambda times an estimate of its bits: a skip, a motion copy (found by a small search
// around the offsets of the neighbouring blocks), a fill, a two-colour pattern, an intra or inter
// transform block at the block's quantiser, or its raw samples. Against a transform block, the
// error of the skip or copy it would correct counts for less where the source pictures move by
// fractions of a pixel: a correction there lasts one picture. Below speed 4, each 16 × 16 area
// of two block rows may instead take one scaled block (a fill, pattern or intra transform at half
// resolution) when that costs less than its four blocks. Key frames use no block of the previous
// frame; besides those asked for, a picture becomes one where coding it alone costs little more
// than coding it from the previous picture (a scene cut). The planes' chunks and code trees are
// chosen for the fewest bits (see VideoPlaneOptions::plan_chunks).
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
  double quality = 75;             // 0 (smallest) to 100 (exact); below 0 (down to
                                   // kEncoderLowestQuality) for rate control only: the
                                   // coarsest quantiser with ever larger lambda
  uint32_t keyint = 250;           // a key frame at least every N frames (0: only the first)
  uint32_t speed = 2;              // 0 (thorough) to 4 (fast)
  bool scene_cuts = true;          // a key frame where the picture changes completely
  bool key_boost = true;           // the first and periodic key frames coded finer than the rest
  bool alpha = false;              // the movie carries an alpha plane (alpha flag added)
  char version = 'i';              // container version: 'f', 'g', 'h' (older colour coding, no
                                   // luma size; 'f' and 'g' carry Cb before Cr) or 'i'
  uint32_t header_flags = 0;       // the movie's header flag word (grey bit added when grey)
};

// One picture: Y (width × height), Cb and Cr ((width + 1) / 2 × (height + 1) / 2), each with
// its row pitch. Cb and Cr are not read for a grey movie. The alpha plane (width × height) is
// read only when the movie carries one; null there means fully opaque (255).
struct EncoderPicture {
  const uint8_t* plane[3];  // Y, Cb, Cr
  uint32_t pitch[3];
  const uint8_t* alpha = nullptr;
  uint32_t alpha_pitch = 0;
};

struct EncoderFrameStats {
  bool key = false;
  double sse[3] = {};      // squared error of the decoded picture, over the visible area: Y, Cb, Cr
  uint64_t samples[3] = {};
  double alpha_sse = 0;      // the same for the alpha plane (0 samples without one)
  uint64_t alpha_samples = 0;
  uint64_t blocks[10] = {};  // chosen block kinds 0 to 9, all planes
  uint32_t model_mismatches = 0;  // blocks where the decoder's result differed from the model
  uint32_t quant = 0;             // the frame's base quantiser index
};

struct Encoder;

// Null when the size or version is invalid or memory runs out.
Encoder* encoder_open(const EncoderSettings& s);
void encoder_close(Encoder* e);
// Codes the next picture into *packet. `force_key` asks for a key frame.
// False only when the writers refuse the frame (which would be a fault of the encoder).
bool encoder_encode(Encoder* e, const EncoderPicture& picture, bool force_key, std::vector<uint8_t>* packet,
                    EncoderFrameStats* stats);
// The decoder's planes after the last frame: the current set is what a player shows.
const FramePlanes* encoder_planes(const Encoder* e);
// The lowest quality: lambda 2^25 times that of quality 0, where every block that can be is a skip.
constexpr double kEncoderLowestQuality = -100;
// The quality of the frames that follow (rate control changes it from frame to frame).
void encoder_set_quality(Encoder* e, double quality);
// The movie flag word the encoder decodes with (kVideoFlagGrey for a grey movie, kVideoFlagAlpha
// for one with alpha, and the version bits 0x8000 and 0x10000 of the older versions).
uint32_t encoder_movie_flags(const Encoder* e);

// The base quantiser index and lambda of a quality (exposed for tests and rate control).
double encoder_quant_of_quality(double quality);
// Lambda (squared sample error a bit is worth) of a quality: falls steadily with the quality,
// 1e-6 (exact) at 100.
double encoder_lambda_of_quality(double quality);

// PSNR in dB of a squared error over `samples` samples (99 when exact).
double encoder_psnr(double sse, uint64_t samples);
