// Option parsing and movie names from arbitrary text.
#include <cstdint>
#include <cstring>

#include "app/options.h"

namespace {
size_t profile(void* ctx, char* out, size_t cap) {
  const char* p = static_cast<const char*>(ctx);
  size_t n = std::strlen(p) < cap - 1 ? std::strlen(p) : cap - 1;
  std::memcpy(out, p, n);
  out[n] = 0;
  return n;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  // Text before the first NUL byte is the stored default, the rest the command line.
  static char text[4097];
  std::memcpy(text, data, size);
  text[size] = 0;
  const char* defaults = text;
  const char* line = text + std::strlen(text) + (std::strlen(text) < size ? 1 : 0);
  char store[kDefaultOptionsStore + 1];
  static OptionsText t;
  const char* stored = options_make_store(store, defaults) ? store : nullptr;
  if (!options_build_text(&t, stored, line)) return 0;
  OptionsEnv env{profile, nullptr, const_cast<char*>("/q /L2 x.krv /-q")};
  PlayerOptions o;
  parse_options(&t, &env, &o);
  (void)options_wants_help(&t, &o);
  char name[300];
  while (next_movie_name(&t, name, sizeof name)) {
    ResolvedName r;
    const char* error;
    (void)resolve_movie_name(name, &r, &error);
  }
  uint32_t flags = 0;
  (void)fit_output_size(o.out_w_num, 0x10000000, &flags, o.out_w_den, 640, 1920);
  (void)fit_output_size(o.out_h_num, 0x1000000, &flags, o.out_h_den, 480, 1080);
  return 0;
}
