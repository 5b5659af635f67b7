// krvenc's YUV4MPEG2 input from arbitrary bytes: the header line, the frame lines and the
// frames' samples, read as a file of those bytes, then once more after a rewind.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tools/krvenc/krvenc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool once = [] {
    krvenc_set_quiet(true);
    return true;
  }();
  (void)once;
  // Keep the fuzzer on reading, not on huge pictures: the header's sizes are capped here.
  const uint8_t* newline = static_cast<const uint8_t*>(std::memchr(data, '\n', size));
  Y4mInfo info;
  if (newline && !y4m_parse_header(reinterpret_cast<const char*>(data), size_t(newline - data), &info) &&
      y4m_frame_bytes(info) > (1u << 18))
    return 0;
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(size ? size : 1));
  if (size) std::memcpy(copy, data, size);
  FrameSource* s = source_open_memory("fuzz.y4m", copy, size, size > 0 ? 1 + copy[size - 1] % 8 : 0);
  if (s) {
    Picture420 p;
    (void)source_count_hint(s);
    for (int pass = 0; pass < 2; ++pass) {
      while (source_next(s, &p) == 1) {
        const Y4mInfo& i = source_info(s);
        if (p.width != i.width || p.height != i.height || p.y.size() != size_t(i.width) * i.height) std::abort();
      }
      if (!source_rewind(s)) break;
    }
    source_close(s);
  }
  std::free(copy);
  return 0;
}
