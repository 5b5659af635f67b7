// The sound encoder: PCM in, a track's blocks and packets out, at a given bit rate.
//
// Each block is turned into its spectrum by the forward transform that the decoder's inverse
// transform undoes (audio_forward_spectrum). Every band then gets a quantiser from a masking-like
// rule: the noise a band may carry follows its spread energy (its own, plus a share of its
// neighbours') raised to kAudioMaskExponent, so loud bands get fine quantisers and quiet bands
// coarse ones, and bands far below their neighbours drop out first. One global offset of the
// quantiser codes scales that noise for the whole block; a bisection finds the finest offset
// whose written block fits the block's bit budget. A small reservoir carries the bits a block
// leaves unused (or overspends) to the next few blocks, so the track's average meets the rate.
//
// Blocks follow one another as audio_encode_signal lays them out (block i covers frames
// i × hop .. i × hop + d, hop = d − d / 16), so the decoder's delivered pieces join up.
//
// Encoders are tools, not per-frame paths: the functions here allocate as they go.
#pragma once
#include <cstdint>
#include <vector>

#include "audio/audio_decoder.h"

// Noise allowed in a band grows with its spread energy to this power: 0 would spread the noise
// evenly (the best signal-to-noise ratio), 1 would keep every band's noise-to-energy ratio equal
// (each band coded to the same relative precision however quiet it is). In between, the noise
// follows the spectrum's shape in part, as a masking threshold does, for a small cost in SNR
// (on music-like test sound at 64 to 192 kbps stereo: about 2 dB at 0.3, 8 dB at 0.6).
constexpr double kAudioMaskExponent = 0.3;
// The fixed precision used when no bit rate is given: the largest coefficient magnitude of a band.
constexpr uint32_t kAudioDefaultPeakCode = 2000;

// Bits one block may take on average at `kbps` kilobits a second: the rate times the time the
// block delivers (d − d / 16 frames).
uint32_t audio_block_budget(const AudioDecoder* layout, double kbps);

// One block (block_bytes / 2 values, channels interleaved) in at most `budget_bits` bits where
// that is possible (a block of only the fixed fields is the least any block takes).
std::vector<uint8_t> audio_encode_block_budget(const AudioDecoder* layout, const int16_t* samples,
                                               uint32_t budget_bits);

// A signal of `frames` sample frames as consecutive blocks at `kbps` (blocks laid out as by
// audio_encode_signal); kbps ≤ 0 gives audio_encode_signal at kAudioDefaultPeakCode.
std::vector<std::vector<uint8_t>> audio_encode_signal_kbps(const AudioDecoder* layout, const int16_t* pcm,
                                                           uint32_t frames, double kbps);

// Shares a track's blocks out over `frames` picture frames (rate_num / rate_den a second) so
// that the sound runs three quarters of a second ahead of the picture, as the player's sound
// output expects: each frame takes the blocks that carry the sound up to its end plus 0.75 s,
// the last frame takes the rest. One packet per frame (empty when a frame takes no block).
std::vector<std::vector<uint8_t>> audio_share_packets(const AudioDecoder* layout,
                                                      const std::vector<std::vector<uint8_t>>& blocks,
                                                      uint32_t frames, uint32_t rate_num, uint32_t rate_den);

// A whole track (interleaved 16-bit PCM) as one packet per frame, at `kbps` (≤ 0: the fixed
// precision). *word receives the track's audio header word. Empty when the track cannot be coded
// (a channel count other than 1 or 2, a rate below 2 Hz, no frame rate).
std::vector<std::vector<uint8_t>> audio_track_packets(const std::vector<int16_t>& pcm, uint32_t rate,
                                                      uint32_t channels, bool dct, double kbps, uint32_t frames,
                                                      uint32_t rate_num, uint32_t rate_den, uint32_t* word);

// What a coded track gives back: its packets decoded with the project's audio decoder and set
// against the input. kbps counts every packet byte (their counts included) over the input's length.
struct AudioTrackQuality {
  double kbps = 0;
  double snr_db = 0;  // 99 when the decoded sound equals the input; -99 when the input is silent and the output not
};
bool audio_track_quality(const std::vector<int16_t>& pcm, uint32_t rate, uint32_t channels, bool dct,
                         const std::vector<std::vector<uint8_t>>& packets, AudioTrackQuality* out);

// Signal-to-noise ratio of `got` against `ref` over the first `count` values, in dB (99 when equal).
double audio_snr_db(const int16_t* ref, const int16_t* got, size_t count);
