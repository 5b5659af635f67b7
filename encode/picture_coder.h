// Pictures drawn in code, turned into a movie's planes and coded block by block: a fill where
// a block is flat, a pattern where it holds two values, the raw samples otherwise, and (between
// key frames) a skip where the block is as it was. Exact: the decoder gives back these samples.
#pragma once
#include <cstdint>
#include <vector>

struct PicturePlanes {
  uint32_t luma_width = 0, luma_rows = 0, chroma_width = 0, chroma_rows = 0, stride = 0;
  std::vector<uint8_t> luma, cr, cb;  // the first chroma plane is Cr, the second Cb
};

// Studio-range Y, Cb, Cr of an RGB picture (8-bit R, G, B rows); the rows and columns past the
// picture repeat its last ones. False for a size the format cannot hold.
bool picture_planes_from_rgb(const uint8_t* rgb, uint32_t width, uint32_t height, PicturePlanes* out);
// One frame's video packet; `previous` (same size) lets unchanged blocks be skipped.
std::vector<uint8_t> picture_write_packet(const PicturePlanes& p, const PicturePlanes* previous);

// A sound track's packets, one per frame: the PCM (interleaved 16-bit) coded in blocks and
// shared out so that the sound runs three quarters of a second ahead of the picture, as the
// player's sound output expects. *word receives the track's audio header word. Empty when the
// rate cannot be coded.
std::vector<std::vector<uint8_t>> picture_sound_packets(const std::vector<int16_t>& pcm, uint32_t rate,
                                                        uint32_t channels, bool dct, uint32_t frames,
                                                        uint32_t rate_num, uint32_t rate_den, uint32_t* word);
