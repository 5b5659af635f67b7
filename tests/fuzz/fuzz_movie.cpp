// Whole movies from arbitrary bytes: opened from memory and played through the engine (sound
// to the capture back end at once, every frame copied into a small memory surface).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tests/unit/test_sound.h"
#include "playback/movie.h"
#include "convert/convert.h"
#include "display/backends/memory_surface.h"
#include "playback/engine.h"
#include "sound/backends/capture.h"
#include "sound/sound.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool once = [] {
    CaptureConfig c;
    capture_default_config(&c);
    c.log_cap = 1 << 16;
    sound_use_system(&test_sound(), capture_provider, &c);
    return true;
  }();
  (void)once;
  // Keep the fuzzer on decoding, not on huge pictures.
  if (size >= 28 && (data[21] | data[22] | data[23] | data[25] | data[26] | data[27])) return 0;
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(size ? size : 1));
  if (size) std::memcpy(copy, data, size);
  MovieImage img{copy, size};
  Movie* m = open_with(movie_open_image(&img, kOpenFromMemory));
  if (m) {
    MemorySurface* s = memory_surface_open(kFormatBgr32, m->width, m->height, int32_t(4 * m->width), 0, 0);
    const uint32_t frames = m->frame_count < 64 ? m->frame_count : 64;
    for (uint32_t i = 0; i < frames; ++i) {
      if (movie_do_frame(m)) break;
      if (s) {
        CopySource src;
        movie_copy_source(m, &src);
        memory_surface_copy(s, &src, 0);
      }
      movie_changed_rects(0, m);
      movie_next_frame(m);
    }
    memory_surface_close(s);
    movie_close(m);
  }
  std::free(copy);
  return 0;
}
