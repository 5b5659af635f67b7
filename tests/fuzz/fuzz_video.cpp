// Video packets for random picture sizes up to 256 × 256, every version and flag. The first
// five bytes pick the width, the height and the flag words; the rest is the packet, copied into
// a heap block of exactly its size so that any read past it is caught. Two frames are decoded
// (the second over the first), and the map terminator and plane padding are checked.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "video/video_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  uint32_t width = 1 + data[0], height = 1 + data[1];
  uint8_t pick = data[2];
  uint32_t movie_flags = 0, header_flags = 0;
  if (pick & 1) movie_flags |= 0x8000;   // versions "f", "g", "h"
  if (pick & 2) movie_flags |= 0x10000;  // "f", "g": chroma order only
  if (pick & 4) movie_flags |= 0x20000;  // grey
  if (pick & 8) header_flags |= 0x100000;
  if (pick & 16) movie_flags |= 0x100000;
  bool single = pick & 32;
  bool key = pick & 64;
  size_t split = size_t(data[3]) | size_t(data[4]) << 8;  // first packet's length
  const uint8_t* rest = data + 5;
  size_t n = size - 5;
  if (split > n) split = n;

  VideoStore st;
  if (!video_store_open(&st, width, height, (movie_flags & 0x100000) != 0, single)) return 0;
  // Padding beyond the decoded area must stay untouched (0 from the allocation).
  const VideoFrameSizes& z = st.sizes;
  for (int frame = 0; frame < 2; ++frame) {
    size_t len = frame == 0 ? split : n - split;
    const uint8_t* src = frame == 0 ? rest : rest + split;
    std::unique_ptr<uint8_t[]> packet(new uint8_t[len ? len : 1]);
    if (len) std::memcpy(packet.get(), src, len);
    std::memset(st.planes.change_map, 0, st.planes.map_blocks);
    video_decode_next(&st.planes, width, height, packet.get(), len, key, movie_flags,
                      header_flags);
    if (st.planes.change_map[st.planes.map_blocks] != 0) __builtin_trap();
    for (uint32_t i = 0; i < st.planes.map_blocks; ++i)
      if (st.planes.change_map[i] > 1) __builtin_trap();
    const uint8_t* luma = st.planes.plane_sets[st.planes.current_set];
    for (uint32_t y = 0; y < z.luma_height; ++y)
      for (uint32_t x = 0; x < z.luma_stride; ++x)
        if ((x >= z.luma_width || y >= z.luma_rows) && luma[size_t(y) * z.luma_stride + x])
          __builtin_trap();
  }
  video_store_close(&st);
  return 0;
}
