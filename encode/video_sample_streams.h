// Synthetic video content for benchmarks and test movies, made by the plane writer:
//   intra: every block an intra transform block with 6 bit planes (about a dozen values),
//   typical: inter frames of about 60 % skip and motion, 25 % transform or residue (inter
//            blocks of a few small values, intra blocks of a few low-frequency values, residues
//            of six small values), the rest fill, pattern and run; key frames have no skip or
//            motion,
//   flat: fill blocks and scaled (16 × 16) fill and pattern blocks.
#pragma once
#include <cstdint>
#include <random>
#include <vector>

#include "encode/video_plane_writer.h"

enum VideoSampleKind : uint32_t { kSampleIntra = 0, kSampleTypical = 1, kSampleFlat = 2 };

// One plane of w × h samples (multiples of 8; scale 2 for chroma).
VideoPlaneDesc video_sample_plane(std::mt19937& rng, VideoSampleKind kind, uint32_t w, uint32_t h,
                                  uint32_t scale, bool key);
// A whole version "i" packet (luma and both chroma planes, no alpha) for a W × H picture.
std::vector<uint8_t> video_sample_packet(std::mt19937& rng, VideoSampleKind kind, uint32_t width,
                                         uint32_t height, bool key);
