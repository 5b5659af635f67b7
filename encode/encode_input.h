// The encoder's input formats, parsed from bytes the caller has read: the header line and
// frames of a YUV4MPEG2 stream, and a WAV file of PCM sound. Every refusal comes with a one-line
// reason.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum Y4mChroma : uint32_t { kY4m420 = 0, kY4m422 = 1, kY4m444 = 2, kY4mMono = 3 };

struct Y4mInfo {
  uint32_t width = 0, height = 0;
  uint32_t rate_num = 0, rate_den = 0;  // 0/0 when the header gives no rate
  Y4mChroma chroma = kY4m420;
  char colour_tag[16] = "420jpeg";      // the C tag as written (for the notes)
};

// Parses the header line (without its newline). Null on success, else the reason.
const char* y4m_parse_header(const char* line, size_t n, Y4mInfo* info);
// Bytes of one frame's samples (after its FRAME line).
size_t y4m_frame_bytes(const Y4mInfo& info);

// One picture in 4:2:0: Y is width × height, Cb and Cr (width + 1) / 2 × (height + 1) / 2.
// `a`, when not empty, is the picture's alpha plane (width × height, 255 opaque).
struct Picture420 {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> y, cb, cr;
  std::vector<uint8_t> a;
};
// Converts one frame's samples (y4m_frame_bytes of them): 4:2:2 and 4:4:4 chroma are averaged
// down, mono gets neutral chroma.
void y4m_to_420(const Y4mInfo& info, const uint8_t* data, Picture420* out);

// Converts an RGB (3 bytes a pixel) or RGBA (4, alpha not used) picture: chroma from the mean
// colour of each 2 × 2 square, and each luma sample the one whose colour, through the players'
// integer YCbCr-to-RGB arithmetic, comes closest to the pixel.
void rgb_to_420(const uint8_t* pixels, uint32_t bytes_per_pixel, uint32_t width, uint32_t height, Picture420* out);

// The file name of frame n of a numbered sequence such as "shots/frame_%04d.png": the pattern
// must hold exactly one %d, %Nd or %0Nd (and may hold %% for a percent sign). False when it
// does not.
bool sequence_name(const char* pattern, uint32_t n, std::string* out);

struct WavAudio {
  uint32_t rate = 0, channels = 0, bits = 0;
  std::vector<int16_t> pcm;  // interleaved 16-bit samples
};
// Parses a whole WAV file: PCM, 8 or 16 bits, mono or stereo, 4000 to 65535 Hz. Null on
// success, else the reason.
const char* wav_parse(const uint8_t* data, size_t n, WavAudio* out);
