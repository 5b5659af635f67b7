// Shared pieces of the krvenc tests: generated clips and sounds, files, running the program,
// and decoding what it wrote with the project's own decoders.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "container/container.h"
#include "encode/encode_input.h"

// A moving picture: a drifting smooth field and a ball, chroma waves; frame i of a clip.
Picture420 test_clip_frame(uint32_t width, uint32_t height, uint32_t i, uint32_t seed = 0);
// Camera footage: fine detail panned by fractions of a pixel and slowly zoomed, with grain.
Picture420 test_camera_frame(uint32_t width, uint32_t height, uint32_t i, uint32_t seed = 0);
// A YUV4MPEG2 file of the frames with the given C tag ("420jpeg", "mono", "422", "444" ...):
// 4:2:2 and 4:4:4 repeat the 4:2:0 chroma; mono writes no chroma.
std::string test_y4m(const std::vector<Picture420>& frames, const char* colour_tag, const char* rate = "25:1");
// A PNG file of 8-bit RGB (3) or RGBA (4) pixels, stored without compression.
std::string test_png(const std::vector<uint8_t>& pixels, uint32_t w, uint32_t h, uint32_t channels);
std::string test_wav(const std::vector<int16_t>& pcm, uint32_t rate, uint32_t channels, uint32_t bits);

std::string test_tmp(const std::string& name);
bool test_write(const std::string& name, const std::string& bytes);
std::vector<uint8_t> test_read(const std::string& name);
// Runs krvenc with the arguments (output to /dev/null); its exit code.
int test_krvenc(const std::string& args);
// The same, with what it printed on standard error in *said.
int test_krvenc_said(const std::string& args, std::string* said);

// The decoded luma / chroma (and alpha, when the movie has it) of every frame of a movie,
// visible area only (Cb, Cr order, whatever the version's plane order), and the key flags of
// its index.
struct DecodedMovie {
  ContainerHeader header;
  std::vector<Picture420> frames;
  std::vector<bool> key;
  bool whole = true;  // every packet decoded completely
};
bool test_decode_movie(const std::vector<uint8_t>& file, DecodedMovie* out);
// The PCM of track t (interleaved 16-bit).
bool test_decode_track(const std::vector<uint8_t>& file, uint32_t t, std::vector<int16_t>* pcm);

// PSNR of plane a against b (same size), in dB (99 when equal).
double test_psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
