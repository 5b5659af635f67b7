// The audio decoder: from one audio packet to 16-bit PCM.
//
// A track is a sequence of blocks. One block decodes into block_bytes of 16-bit PCM (channels
// interleaved), of which all but the last sixteenth are delivered (pcm_bytes); the held-back
// sixteenth is cross-faded into the start of the next block. A block carries, per coded
// channel, two raw spectral values (29-bit float fields), one 8-bit quantiser code per band and
// the remaining coefficients as runs of fixed-width integers; the cosine transform (DCT tracks,
// one transform per channel) or the inverse real DFT (real-DFT tracks, the channels interleaved
// in one transform) turns the spectrum into samples.
//
// An audio packet is a 32-bit count of the PCM bytes it yields, then its blocks back to back.
// Walk it with audio_packet_begin / audio_packet_next, which decode block after block and hand
// out min(pcm_bytes, count remaining) bytes of each.
//
// Bounds: the decoder is given the bytes left in the packet and never reads past them; bits
// past the end read as zero. A walk also stops when a block has used the last byte of the
// packet, so a packet whose count promises more than its blocks hold delivers what its bytes
// decode to and no endless silence. Exponents 24 to 31 of a 29-bit field (which no writer
// produces) read as zero; runs are cut at the transform length.
//
// Threads: a decoder is used by one thread at a time; decoders share only read-only tables.
#pragma once
#include <cstddef>
#include <cstdint>

struct AudioBitReader;

// Coefficient run lengths in units of 8 coefficients, by 4-bit code.
extern const uint8_t kAudioRunLengths[16];
// Start frequency of each band in Hz.
extern const uint16_t kAudioBandHz[25];
// 2^(e − 23) for the exponent e = 0 .. 23 of a 29-bit float field.
extern const double kAudioExponentScale[24];

constexpr uint32_t kAudioMaxBands = 25;
constexpr uint32_t kAudioMaxTransform = 4096;  // 2048 per channel, two channels
constexpr uint32_t kAudioFlagDct = 0x1;

// The decoder's functions, one table per decoder: the plain initialiser fills it with the plain
// forms (audio_convert.cpp), the SSE2 and AVX2 ones (audio_convert_sse2.cpp,
// audio_convert_avx2.cpp) override what their instruction set does faster; audio_fill_functions
// goes as far as `level` (cpu_level()) allows.
struct AudioFunctions {
  void (*rdft)(int n, int direction, float* a, int* sizes, float* table);
  void (*dct)(int n, int direction, float* a, int* sizes, float* table);
  void (*coefficients)(AudioBitReader* r, float* x, uint32_t n, const uint32_t* edges, const float* quant);
  void (*to_pcm)(const float* ch0, const float* ch1, uint32_t n, double scale, int16_t* out);
};
void audio_init_plain(AudioFunctions* f);
bool audio_init_sse2(AudioFunctions* f);  // false when the build has no SSE2 forms
bool audio_init_avx2(AudioFunctions* f);  // false when the build has no AVX2 forms
void audio_fill_functions(AudioFunctions* f, uint32_t level);

struct AudioDecoder {
  uint32_t transform_length;  // N: d in DCT mode, d × channels in real-DFT mode
  float output_scale;         // 2 / sqrt(N), single precision
  uint32_t block_bytes;       // d × channels × 2
  uint32_t overlap_bytes;     // block_bytes / 16, held back for the cross-fade
  uint32_t coded_channels;    // channels in DCT mode, 1 in real-DFT mode
  int16_t* pcm;               // the decoded block, block_bytes bytes
  uint32_t first_block;       // 1 until the first block is decoded
  uint32_t band_count;        // 0 .. 25
  uint32_t* band_edges;       // band_count + 1 entries, in complex bins; the last is N / 2
  int* transform_sizes;       // work array of the transform; entry 0 = 0 at open
  float* transform_table;     // table of the transform (5N/4 or N/2 entries)
  int16_t* overlap;           // the held-back tail of the previous block
  uint32_t flags;             // kAudioFlagDct
  uint32_t channels;          // 1 or 2
  uint32_t sample_rate;
  // The coefficient reader, the transforms and the PCM conversion, taken at open for the
  // instruction sets the processor has and KORVA_CPU allows (every form gives the same bits),
  // and the transform of this decoder's mode (fn.dct or fn.rdft).
  AudioFunctions fn;
  void (*transform)(int n, int direction, float* a, int* sizes, float* table);
};

// Opens a decoder for a track: one 32-byte aligned allocation holds the record and its arrays.
// Returns null when memory runs out, when `channels` is not 1 or 2, or when the sample rate is
// below 2 Hz (such a track is treated as not playable and stays silent).
AudioDecoder* audio_decoder_open(uint32_t sample_rate, uint32_t channels, bool use_dct);
void audio_decoder_close(AudioDecoder* d);

// Decodes the block at `block`, of which `size` bytes may be read (the bytes left in the
// packet). Any result may be declined by passing null:
//   *pcm        the decoder's pcm array, valid until the next call;
//   *pcm_bytes  block_bytes − overlap_bytes, always;
//   *next_block where the next block begins: the block start plus 4 × the words the block's
//               bits occupy, but never beyond block + size.
// Returns true when the block's bits lay wholly inside `size` bytes.
bool audio_decode_block(AudioDecoder* d, const uint8_t* block, size_t size, const int16_t** pcm,
                        uint32_t* pcm_bytes, const uint8_t** next_block);

// Walking one packet (after its 4-byte length in the frame).
struct AudioPacketCursor {
  const uint8_t* next;  // next block
  const uint8_t* end;   // end of the packet
  uint32_t remaining;   // PCM bytes still to deliver
};

// Reads the count; a packet shorter than 4 bytes yields nothing.
void audio_packet_begin(AudioPacketCursor* c, const uint8_t* packet, size_t size);
// Decodes the next block and gives the piece to deliver (min(pcm_bytes, remaining) bytes).
// Returns false, with nothing decoded, when the count is used up or no bytes are left.
bool audio_packet_next(AudioDecoder* d, AudioPacketCursor* c, const int16_t** pcm, uint32_t* bytes);

// Internal pieces, exposed for the writers and the tests.
uint32_t audio_block_length(uint32_t sample_rate);  // d: 2048, 1024 or 512
float audio_quantiser(uint32_t code);               // 10^(code × 0.0664), code 0 .. 255
