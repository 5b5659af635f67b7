// Header, track tables, frame index and frame layout from arbitrary bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "container/container.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exactly sized copy, so that any read past the end is caught.
  uint8_t* movie = static_cast<uint8_t*>(std::malloc(size ? size : 1));
  if (size) std::memcpy(movie, data, size);
  ContainerView v;
  if (!container_open_view(movie, size, &v)) {
    volatile uint32_t sum = 0;
    for (uint32_t t = 0; t < v.header.track_count; ++t)
      sum = sum + container_track_word(&v, t) + container_track_id(&v, t) + container_track_buffer_bytes(&v, t);
    for (uint32_t i = 0; i < v.header.frame_count; ++i) {
      const uint8_t* f;
      uint32_t n;
      bool key;
      if (!container_frame(&v, i, &f, &n, &key)) continue;
      for (uint32_t t = 0; t < v.header.track_count && t < 4; ++t) {
        const uint8_t* p;
        uint32_t pn;
        if (!container_audio_packet(f, n, v.header.track_count, t, &p, &pn) && pn) sum = sum + p[0] + p[pn - 1];
      }
      const uint8_t* p;
      uint32_t pn;
      if (!container_video_packet(f, n, v.header.track_count, &p, &pn) && pn) sum = sum + p[0] + p[pn - 1];
    }
  }
  std::free(movie);
  return 0;
}
