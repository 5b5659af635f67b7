// PNG pictures for krvenc, through libpng where the build has it.
#include "tools/krvenc/krvenc.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#ifdef KORVA_HAVE_PNG
#include <png.h>
#endif

bool krvenc_have_png() {
#ifdef KORVA_HAVE_PNG
  return true;
#else
  return false;
#endif
}

#ifdef KORVA_HAVE_PNG
namespace {

// libpng's complaint becomes the reason given (instead of its own line on standard error);
// its warnings are not shown.
thread_local char t_reason[160];

void png_failed(png_structp png, png_const_charp message) {
  std::snprintf(t_reason, sizeof t_reason, "cannot read the PNG file (%s)", message ? message : "damaged?");
  png_longjmp(png, 1);
}

void png_warned(png_structp, png_const_charp) {}

// Everything that may end in a jump back to setjmp happens here; what it fills lives in the
// caller, so nothing of this frame is used after a jump.
const char* read_rows(png_structp png, png_infop info, std::vector<uint8_t>* pixels, std::vector<png_bytep>* rows,
                      uint32_t* width, uint32_t* height, uint32_t* bytes_per_pixel) {
  if (setjmp(png_jmpbuf(png))) return t_reason;
  png_set_sig_bytes(png, 8);
  png_read_info(png, info);
  const uint32_t w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  if (!w || !h || w > 16384 || h > 16384) return "the picture size must be 1 to 16384 on each side";
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const uint32_t channels = png_get_channels(png, info);
  if (channels != 3 && channels != 4) return "unsupported PNG colour type";
  pixels->resize(size_t(w) * h * channels);
  rows->resize(h);
  for (uint32_t y = 0; y < h; ++y) (*rows)[y] = pixels->data() + size_t(y) * w * channels;
  png_read_image(png, rows->data());
  *width = w;
  *height = h;
  *bytes_per_pixel = channels;
  return nullptr;
}

// The bytes of a PNG file in memory, after its signature.
struct MemoryInput {
  const uint8_t* data;
  size_t size, at;
};

void read_memory(png_structp png, png_bytep out, png_size_t n) {
  MemoryInput* in = static_cast<MemoryInput*>(png_get_io_ptr(png));
  if (n > in->size - in->at) png_error(png, "the file ends early");
  std::memcpy(out, in->data + in->at, n);
  in->at += n;
}

// Reads the picture whose signature has been checked; `set_input` hands libpng its input.
template <typename SetInput>
const char* read_png(SetInput set_input, std::vector<uint8_t>* pixels, uint32_t* width, uint32_t* height,
                     uint32_t* bytes_per_pixel) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_failed, png_warned);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::vector<png_bytep> rows;
  const char* error = "out of memory";
  if (png && info) {
    set_input(png);
    error = read_rows(png, info, pixels, &rows, width, height, bytes_per_pixel);
  }
  png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr);
  return error;
}

}  // namespace
#endif

const char* krvenc_read_png(const char* name, std::vector<uint8_t>* pixels, uint32_t* width, uint32_t* height,
                            uint32_t* bytes_per_pixel) {
#ifdef KORVA_HAVE_PNG
  std::FILE* f = std::fopen(name, "rb");
  if (!f) return "cannot open the file";
  uint8_t magic[8];
  if (std::fread(magic, 1, 8, f) != 8 || png_sig_cmp(magic, 0, 8)) {
    std::fclose(f);
    return "not a PNG file";
  }
  const char* error = read_png([f](png_structp png) { png_init_io(png, f); }, pixels, width, height, bytes_per_pixel);
  std::fclose(f);
  return error;
#else
  (void)name;
  (void)pixels;
  (void)width;
  (void)height;
  (void)bytes_per_pixel;
  return "PNG input is not available in this build";
#endif
}

const char* krvenc_read_png_memory(const uint8_t* data, size_t size, std::vector<uint8_t>* pixels, uint32_t* width,
                                   uint32_t* height, uint32_t* bytes_per_pixel) {
#ifdef KORVA_HAVE_PNG
  if (size < 8 || png_sig_cmp(data, 0, 8)) return "not a PNG file";
  MemoryInput in{data, size, 8};
  return read_png([&in](png_structp png) { png_set_read_fn(png, &in, read_memory); }, pixels, width, height,
                  bytes_per_pixel);
#else
  (void)data;
  (void)size;
  (void)pixels;
  (void)width;
  (void)height;
  (void)bytes_per_pixel;
  return "PNG input is not available in this build";
#endif
}
