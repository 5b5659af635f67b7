// krvenc's PNG sequence input from arbitrary bytes: one picture read through libpng (its
// errors come back through its jump) and made into the encoder's 4:2:0 picture with alpha.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <zlib.h>

#include "tools/krvenc/krvenc.h"

namespace {
uint32_t big_endian(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
// Chunk checksums are made right, so that the fuzzer's changes reach the reader's work instead
// of stopping at libpng's checksum test.
void mend_checksums(uint8_t* p, size_t size) {
  for (size_t at = 8; at + 12 <= size;) {
    const uint32_t n = big_endian(p + at);
    if (n > size - at - 12) break;
    const uint32_t crc = uint32_t(crc32(0, p + at + 4, uInt(n + 4)));
    p[at + 8 + n] = uint8_t(crc >> 24);
    p[at + 9 + n] = uint8_t(crc >> 16);
    p[at + 10 + n] = uint8_t(crc >> 8);
    p[at + 11 + n] = uint8_t(crc);
    at += 12 + size_t(n);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Keep the fuzzer on reading, not on huge pictures: the size of the first chunk (the header,
  // when the file is well formed) is capped here.
  if (size >= 24 && uint64_t(big_endian(data + 16)) * big_endian(data + 20) > (1u << 18)) return 0;
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(size ? size : 1));
  if (size) std::memcpy(copy, data, size);
  // An odd last byte leaves the checksums as they are, so that libpng's own refusal is fuzzed too.
  if (size && !(data[size - 1] & 1)) mend_checksums(copy, size);
  std::vector<uint8_t> pixels;
  uint32_t w = 0, h = 0, bpp = 0;
  if (!krvenc_read_png_memory(copy, size, &pixels, &w, &h, &bpp)) {
    if ((bpp != 3 && bpp != 4) || pixels.size() != size_t(w) * h * bpp) std::abort();
    Picture420 p;
    krvenc_png_picture(pixels, w, h, bpp, size & 1, &p);
    if (p.y.size() != size_t(w) * h || p.cb.size() != size_t((w + 1) / 2) * ((h + 1) / 2)) std::abort();
  }
  std::free(copy);
  return 0;
}
