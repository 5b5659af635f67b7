// PNG pictures for krvenc, through libpng where the build has it.
#include "tools/krvenc/krvenc.h"

#include <csetjmp>
#include <cstdio>

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

// Everything that may end in a jump back to setjmp happens here; what it fills lives in the
// caller, so nothing of this frame is used after a jump.
const char* read_rows(png_structp png, png_infop info, std::FILE* f, std::vector<uint8_t>* pixels,
                      std::vector<png_bytep>* rows, uint32_t* width, uint32_t* height, uint32_t* bytes_per_pixel) {
  if (setjmp(png_jmpbuf(png))) return "cannot read the PNG file (damaged?)";
  png_init_io(png, f);
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
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::vector<png_bytep> rows;
  const char* error = png && info ? read_rows(png, info, f, pixels, &rows, width, height, bytes_per_pixel)
                                  : "out of memory";
  png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr);
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
