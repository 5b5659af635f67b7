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
#include "tools/krvtool/bundle_store.h"
#include "tools/krvtool/tool.h"

namespace {

const char kUsage[] =
    "usage: krvtool bundle PLAYER MOVIE OUT [SWITCHES...]\n"
    "  Writes OUT: the player executable PLAYER (korvaplay, or korvaplay.exe for Windows) with\n"
    "  the movie MOVIE appended and its default options set to the movie (\":OFFSET\") and the\n"
    "  SWITCHES (as the player takes them, e.g. /L2 /S). OUT, started with no arguments, plays\n"
    "  the movie; arguments given to it add to the defaults. OUT keeps PLAYER's executable\n"
    "  permissions. The defaults hold at most 511 characters and no '~'.\n";

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
  for (const ExecutableKind& k : kExecutableKinds) {
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
