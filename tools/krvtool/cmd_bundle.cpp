// krvtool bundle: the self-running form of a movie. The player is copied, the movie appended,
// and the player's default options string set to ":OFFSET" (the movie's place in the new file)
// and the switches, so that the program plays its movie when started with no arguments.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/options.h"
#include "container/container.h"
#include "platform/platform.h"
#include "tools/krvtool/tool.h"

namespace {

const char kUsage[] =
    "usage: krvtool bundle PLAYER MOVIE OUT [SWITCHES...]\n"
    "  Writes OUT: the player executable PLAYER (korvaplay, or korvaplay.exe for Windows) with\n"
    "  the movie MOVIE appended and its default options set to the movie (\":OFFSET\") and the\n"
    "  SWITCHES (as the player takes them, e.g. /L2 /S). OUT, started with no arguments, plays\n"
    "  the movie; arguments given to it add to the defaults. OUT keeps PLAYER's executable\n"
    "  permissions. The defaults hold at most 511 characters and no '~'.\n";

// Where an executable of one kind keeps its default options string. `find` returns the byte
// offset of the 512 stored characters, or -1 with an error text.
struct ExecutableKind {
  const char* name;
  int64_t (*find)(const std::vector<uint8_t>& image, const char** error);
  // Writes the store (kDefaultOptionsStore characters) at the offset.
  void (*write)(std::vector<uint8_t>* image, int64_t at, const char* store);
};

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

// The executable kinds known.
const ExecutableKind kKinds[] = {
    {"options store after a marker", find_marked_store, write_plain_store},
    {"string resource 1", find_string_resource, write_string_resource},
};

}  // namespace

int cmd_bundle(int argc, char** argv) {
  if (tool_wants_help(argc, argv)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc < 4) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  const char* player_name = argv[1];
  const char* movie_name = argv[2];
  const char* out_name = argv[3];
  std::vector<uint8_t> player, movie;
  const char* error = nullptr;
  if (!tool_read_file(player_name, &player, &error)) return tool_fail("%s: %s", player_name, error);
  if (!tool_read_file(movie_name, &movie, &error)) return tool_fail("%s: %s", movie_name, error);
  ContainerHeader header;
  if (const char* e = container_parse_header(movie.data(), movie.size(), &header))
    return tool_fail("%s: %s", movie_name, e);

  int64_t at = -1;
  const ExecutableKind* kind = nullptr;
  for (const ExecutableKind& k : kKinds) {
    const char* e = nullptr;
    at = k.find(player, &e);
    if (at >= 0) {
      kind = &k;
      break;
    }
    error = e;
  }
  if (!kind) return tool_fail("%s: %s", player_name, error ? error : "unknown executable");

  // The defaults: the movie right after the player, then the switches.
  std::string defaults = ":" + std::to_string(player.size());
  for (int i = 4; i < argc; ++i) {
    defaults += ' ';
    defaults += argv[i];
  }
  char store[kDefaultOptionsStore + 1];
  if (!options_make_store(store, defaults.c_str()))
    return tool_fail("the default options \"%.40s...\" are longer than 511 characters or hold a '~'",
                     defaults.c_str());
  kind->write(&player, at, store);
  player.insert(player.end(), movie.begin(), movie.end());

  // Written beside OUT first, so that a failure never leaves a partial OUT that looks whole.
  const std::string part = std::string(out_name) + ".part";
  if (!platform_file_write_all(part.c_str(), player.data(), player.size())) {
    platform_remove(part.c_str());
    return tool_fail("%s: cannot write the file", part.c_str());
  }
  if (!platform_copy_mode(player_name, part.c_str()) || !platform_rename(part.c_str(), out_name)) {
    platform_remove(part.c_str());
    return tool_fail("%s: cannot write the file", out_name);
  }
  std::printf("%s: the player with %s at byte %zu, defaults \"%s\"\n", out_name, movie_name,
              player.size() - movie.size(), defaults.c_str());
  return 0;
}
