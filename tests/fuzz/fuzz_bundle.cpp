// krvtool bundle's searches for the default options string in a player executable, from
// arbitrary bytes: the Linux player's marked store and the Windows player's string resource.
// Where a kind finds its store, the bundled options are written there and found again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/options.h"
#include "tools/krvtool/bundle_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> image(data, data + size);
  image.shrink_to_fit();
  char store[kDefaultOptionsStore + 1];
  if (!options_make_store(store, ":123456 /L2 /S")) std::abort();
  for (const ExecutableKind& kind : kExecutableKinds) {
    const char* error = nullptr;
    const int64_t at = kind.find(image, &error);
    if (at < 0) {
      if (!error) std::abort();
      continue;
    }
    if (uint64_t(at) >= size) std::abort();
    std::vector<uint8_t> bundled = image;
    kind.write(&bundled, at, store);
    // The marked store stays a store after the write; the string resource holds the options.
    const int64_t again = kind.find(bundled, &error);
    if (&kind == &kExecutableKinds[0] && again != at) std::abort();
  }
  return 0;
}
