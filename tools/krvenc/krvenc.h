// Pieces of krvenc that live in their own files.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "encode/encode_input.h"

// Whether this build reads PNG pictures.
bool krvenc_have_png();
// Reads a PNG picture as 8-bit RGB (3 bytes a pixel) or RGBA (4). Null on success, else the reason.
const char* krvenc_read_png(const char* name, std::vector<uint8_t>* pixels, uint32_t* width, uint32_t* height,
                            uint32_t* bytes_per_pixel);
// The same from the `size` bytes of a PNG file in memory.
const char* krvenc_read_png_memory(const uint8_t* data, size_t size, std::vector<uint8_t>* pixels, uint32_t* width,
                                   uint32_t* height, uint32_t* bytes_per_pixel);
// One picture of a PNG sequence as the encoder takes it: `pixels` (3 or 4 bytes a pixel) in
// 4:2:0, with an alpha plane when `alpha` (opaque where the picture has no alpha channel).
void krvenc_png_picture(const std::vector<uint8_t>& pixels, uint32_t width, uint32_t height, uint32_t bytes_per_pixel,
                        bool alpha, Picture420* out);


// "krvenc: <message>" on standard error; returns 1. Quiet: nothing is printed (the fuzz targets).
void krvenc_set_quiet(bool quiet);
int krvenc_fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// "krvenc: note: <message>" on standard error.
void krvenc_note(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The pictures of the input, read one at a time: a YUV4MPEG2 file, standard input ("-"), or a
// numbered PNG sequence (a name with %d). Errors are printed where they are found.
struct FrameSource;
// Null (the error printed) when the input cannot be opened or its header is bad.
FrameSource* source_open(const char* name, uint32_t max_frames);
// A YUV4MPEG2 stream held in memory (`size` bytes, borrowed until source_close), read exactly
// as a file of those bytes would be; `name` is used in the messages.
FrameSource* source_open_memory(const char* name, const uint8_t* data, size_t size, uint32_t max_frames);
void source_close(FrameSource* s);
// Size, rate and chroma of the pictures (for PNG: 4:2:0 after conversion, no rate).
const Y4mInfo& source_info(const FrameSource* s);
// Whether the pictures carry an alpha plane (a PNG sequence whose first picture has an alpha
// channel): then every picture comes with one, opaque for pictures that lack the channel.
bool source_has_alpha(const FrameSource* s);
// The number of frames, when known before reading them (0: unknown, as for a pipe).
uint32_t source_count_hint(const FrameSource* s);
// The next picture: 1, or 0 at the end, or -1 after an error (printed).
int source_next(FrameSource* s, Picture420* out);
// Starts again from the first picture. A pipe is read whole into memory on the first call.
bool source_rewind(FrameSource* s);
