// Where the players keep their default options string, found in the bytes of the executable.
#include "tools/krvtool/bundle_store.h"

#include <cstring>

#include "app/options.h"

namespace {

// The Linux player: a marker, then the 512 characters and a NUL, in the program's data.
constexpr char kMarker[] = "KorvaOptionStore";
constexpr size_t kMarkerBytes = 16;

int64_t find_marked_store(const std::vector<uint8_t>& image, const char** error) {
  int64_t found = -1;
  uint32_t count = 0;
  const size_t need = kMarkerBytes + kDefaultOptionsStore + 1;
  for (size_t i = 0; i + need <= image.size(); ++i) {
    if (image[i] != 'K' || std::memcmp(&image[i], kMarker, kMarkerBytes) != 0) continue;
    // A store is 511 characters without a NUL, then the NUL (other copies of the marker's
    // text, such as debugging names, are followed by something else).
    const uint8_t* s = &image[i + kMarkerBytes];
    if (std::memchr(s, 0, kDefaultOptionsStore) || s[kDefaultOptionsStore] != 0) continue;
    found = int64_t(i + kMarkerBytes);
    ++count;
  }
  if (count == 0) *error = "the player holds no options store (is it korvaplay?)";
  if (count > 1) *error = "the player holds more than one options store";
  return count == 1 ? found : -1;
}

void write_plain_store(std::vector<uint8_t>* image, int64_t at, const char* store) {
  std::memcpy(image->data() + at, store, kDefaultOptionsStore);
}

// The Windows player: string resource 1 of its string table, 512 characters that are all '~'
// in a fresh player, stored as a 16-bit length and 16-bit characters (little-endian).
int64_t find_string_resource(const std::vector<uint8_t>& image, const char** error) {
  int64_t found = -1;
  uint32_t count = 0;
  const size_t need = 2 + 2 * kDefaultOptionsStore;
  for (size_t i = 0; i + need <= image.size(); ++i) {
    if (image[i] != (kDefaultOptionsStore & 0xFF) || image[i + 1] != (kDefaultOptionsStore >> 8)) continue;
    const uint8_t* s = &image[i + 2];
    size_t k = 0;
    while (k < kDefaultOptionsStore && s[2 * k] == '~' && s[2 * k + 1] == 0) ++k;
    if (k != kDefaultOptionsStore) continue;
    found = int64_t(i + 2);
    ++count;
    i += need - 1;
  }
  if (count == 0) *error = "the player holds no options store (is it korvaplay or korvaplay.exe, not yet bundled?)";
  if (count > 1) *error = "the player holds more than one options store";
  return count == 1 ? found : -1;
}

void write_string_resource(std::vector<uint8_t>* image, int64_t at, const char* store) {
  for (size_t k = 0; k < kDefaultOptionsStore; ++k) {
    (*image)[size_t(at) + 2 * k] = uint8_t(store[k]);
    (*image)[size_t(at) + 2 * k + 1] = 0;
  }
}

}  // namespace

const ExecutableKind kExecutableKinds[2] = {
    {"options store after a marker", find_marked_store, write_plain_store},
    {"string resource 1", find_string_resource, write_string_resource},
};

