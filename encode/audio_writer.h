// Writers of the audio syntax: the exact inverse of audio_decode_block.
//
// A block is written from given codes (the two raw values, one quantiser code per band, and
// one signed integer per coefficient); the writer chooses the runs and widths (the fewest
// bits). audio_encode_block goes one step further and makes those codes from PCM samples, so
// that tests and tools can make tracks whose sound they know.
//
// Every function takes an open AudioDecoder for the track's layout (transform length, coded
// channels, bands); nothing here decodes.
#pragma once
#include <cstdint>
#include <vector>

#include "audio/audio_decoder.h"
#include "encode/bit_writer.h"

// The value a 29-bit float field written for `v` decodes to: v itself when it is
// mantissa × 2^(e − 23) with mantissa < 2^23 and e = 0 .. 23, else the nearest such value
// (magnitudes from 2^23 up are limited to 2^23 − 1).
float audio_float29_value(float v);
// Writes the field for audio_float29_value(v).
void audio_write_float29(BitWriter* w, float v);
// Smallest quantiser code whose quantiser is at least q (255 when none is).
uint32_t audio_quantiser_code_at_least(float q);

// The codes of one coded channel.
struct AudioChannelCodes {
  float x0 = 0, x1 = 0;                // the two raw spectral values
  uint8_t band_codes[kAudioMaxBands] = {};
  std::vector<int32_t> coefficients;   // N entries; 0 and 1 unused; |value| ≤ 32767
};

// Band of coefficient j (≥ 2) as the decoder assigns it.
uint32_t audio_band_of(const AudioDecoder* layout, uint32_t j);

// One coded channel: raw values, band codes, then runs of coefficients.
void audio_write_channel(BitWriter* w, const AudioDecoder* layout, const AudioChannelCodes& c);
// A whole block, word aligned: in DCT mode two leading bits (`lead_bits`, whose value the
// decoder ignores) then every coded channel.
std::vector<uint8_t> audio_write_block(const AudioDecoder* layout, const AudioChannelCodes* channels,
                                       uint32_t lead_bits = 0);
// The spectrum a block with these codes decodes to (before the transform), channel after
// channel: X[0], X[1], then coefficient × quantiser of its band.
std::vector<float> audio_codes_spectrum(const AudioDecoder* layout, const AudioChannelCodes* channels);

// The spectrum of coded channel c (0 or 1) of one whole decoded block (`samples` as below):
// the n = transform_length values X that the decoder's inverse transform and output scale turn
// back into these samples. `sizes` (audio_transform_sizes_entries(n) entries, entry 0 set to 0
// before the first call) and `table` (audio_dct_table_entries(n) entries) are the caller's.
void audio_forward_spectrum(const AudioDecoder* layout, const int16_t* samples, uint32_t c, float* spectrum,
                            int* sizes, float* table);

// From samples to codes. `samples` holds block_bytes / 2 values, channels interleaved: one
// whole decoded block. `peak_code` is the largest coefficient magnitude a band may use (1 to
// 32767): the band's quantiser is the smallest that keeps its largest coefficient within it,
// so it sets the precision (and the bit rate).
void audio_encode_codes(const AudioDecoder* layout, const int16_t* samples, uint32_t peak_code,
                        AudioChannelCodes* channels);
std::vector<uint8_t> audio_encode_block(const AudioDecoder* layout, const int16_t* samples,
                                        uint32_t peak_code);

// A signal of `frames` sample frames (channels interleaved) as consecutive blocks: block i
// covers frames [i × hop, i × hop + d), hop = d − d / 16, zero beyond the signal, so that the
// decoder's delivered pieces follow one another and its cross-fades join equal sounds.
// Returns one block per entry; the decoder delivers hop frames from each.
std::vector<std::vector<uint8_t>> audio_encode_signal(const AudioDecoder* layout, const int16_t* pcm,
                                                      uint32_t frames, uint32_t peak_code);

// A packet: the decoded-byte count, then the blocks back to back.
std::vector<uint8_t> audio_write_packet(uint32_t count, const std::vector<std::vector<uint8_t>>& blocks);
