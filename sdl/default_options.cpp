#include "sdl/default_options.h"

#include "app/options.h"

struct OptionsStore {
  char bytes[kOptionsStoreMarkerBytes + kDefaultOptionsStore + 1];
};

namespace {

constexpr OptionsStore make_store() {
  OptionsStore s{};
  for (unsigned i = 0; i < kOptionsStoreMarkerBytes; ++i) s.bytes[i] = kOptionsStoreMarker[i];
  for (unsigned i = 0; i < kDefaultOptionsStore; ++i) s.bytes[kOptionsStoreMarkerBytes + i] = '~';
  return s;
}

}  // namespace

// Kept whole in the executable's data and read at run time: a bundled copy has other bytes here.
extern "C" {
__attribute__((used)) volatile OptionsStore korva_options_store = make_store();
}

const char* default_options_store() {
  static char copy[kDefaultOptionsStore + 1];
  for (unsigned i = 0; i < kDefaultOptionsStore; ++i) copy[i] = korva_options_store.bytes[kOptionsStoreMarkerBytes + i];
  copy[kDefaultOptionsStore] = 0;
  return copy;
}
