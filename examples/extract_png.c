/* Writes frames of a movie as PNG pictures (RGBA; alpha from the movie's alpha plane, else opaque).
 *   extract_png MOVIE.krv OUT_PREFIX [FIRST [COUNT]]
 * writes OUT_PREFIX0001.png ... numbered by frame; FIRST (1-based, default 1) is reached by
 * decoding from the key frame before it. */
#include <korva/korva.h>
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int write_png(const char* name, const uint8_t* rgba, uint32_t w, uint32_t h) {
  FILE* f = fopen(name, "wb");
  if (!f) return 0;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
  png_infop info = png ? png_create_info_struct(png) : NULL;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : NULL);
    fclose(f);
    return 0;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (uint32_t y = 0; y < h; ++y) png_write_row(png, (png_const_bytep)(rgba + (size_t)y * w * 4));
  png_write_end(png, NULL);
  png_destroy_write_struct(&png, &info);
  return fclose(f) == 0;
}

int main(int argc, char** argv) {
  if (argc < 3 || !strcmp(argv[1], "--help")) {
    fprintf(stderr, "usage: extract_png MOVIE.krv OUT_PREFIX [FIRST [COUNT]]\n");
    return argc < 3 ? 1 : 0;
  }
  korva_open_options options;
  korva_default_options(&options);
  options.flags = KORVA_OPEN_ALPHA;
  korva_movie* movie = korva_open_file(argv[1], &options);
  if (!movie) {
    fprintf(stderr, "extract_png: %s: %s\n", argv[1], korva_last_error(NULL));
    return 1;
  }
  korva_info info;
  korva_get_info(movie, &info);
  uint32_t first = argc > 3 ? (uint32_t)strtoul(argv[3], NULL, 10) : 1;
  uint32_t count = argc > 4 ? (uint32_t)strtoul(argv[4], NULL, 10) : info.frame_count;
  if (first < 1 || first > info.frame_count) {
    fprintf(stderr, "extract_png: the movie has frames 1 to %u\n", info.frame_count);
    return 1;
  }
  if (count > info.frame_count - first + 1) count = info.frame_count - first + 1;
  uint8_t* rgba = malloc((size_t)info.width * info.height * 4);
  int status = rgba ? 0 : 1;
  if (!status && korva_seek(movie, first) != 0) status = 1;
  for (uint32_t i = 0; !status && i < count; ++i) {
    if (korva_decode(movie) != 0) {
      status = 1;
      break;
    }
    korva_copy(movie, rgba, (int32_t)info.width * 4, info.height, KORVA_FORMAT_RGBA32, KORVA_COPY_WHOLE, NULL);
    if (!info.has_alpha)
      for (size_t p = 3; p < (size_t)info.width * info.height * 4; p += 4) rgba[p] = 255;
    char name[4096];
    snprintf(name, sizeof name, "%s%04u.png", argv[2], korva_current_frame(movie));
    if (!write_png(name, rgba, info.width, info.height)) {
      fprintf(stderr, "extract_png: cannot write %s\n", name);
      status = 1;
    }
    korva_next(movie);
  }
  if (status && korva_last_error(movie)[0]) fprintf(stderr, "extract_png: %s\n", korva_last_error(movie));
  if (!status) printf("%u frames of %ux%u written\n", count, info.width, info.height);
  free(rgba);
  korva_close(movie);
  return status;
}
