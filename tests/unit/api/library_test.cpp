// What the installed libkorva holds: the core and its public door, none of the player's own code.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <string>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KORVA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KORVA_SANITIZED 1
#endif
#endif

namespace {

// `nm` over the library (demangled, every symbol), or "" when it cannot be run.
std::string library_symbols() {
#ifdef KORVA_LIBRARY_FILE
  std::string command = std::string("nm -C '") + KORVA_LIBRARY_FILE + "' 2>/dev/null";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return "";
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  pclose(p);
  return out;
#else
  return "";
#endif
}

TEST(Library, HoldsNoPlayerCode) {
  const std::string symbols = library_symbols();
  if (symbols.empty()) GTEST_SKIP() << "no library file or no nm here";
  ASSERT_NE(symbols.find("korva_open_file"), std::string::npos);
  ASSERT_NE(symbols.find("resolve_movie_name"), std::string::npos);  // FILE|OFFSET, read by the input layer
  for (const char* player : {"player_main", "parse_options", "closing_picture_movie", "update_check", "help_box",
                             "options_build_text"})
    EXPECT_EQ(symbols.find(player), std::string::npos) << player;
}

// The library keeps per movie what belongs to a movie: what stays writable across the process is
// its truly shared state (the allocator pair, the processor level, the clock, the shared
// service threads and sound devices, a thread's failed-open text), at most ten symbols.
TEST(Library, KeepsLittleProcessWideState) {
#ifdef KORVA_SANITIZED
  GTEST_SKIP() << "the sanitizers add data of their own";
#endif
  const std::string symbols = library_symbols();
  if (symbols.empty()) GTEST_SKIP() << "no library file or no nm here";
  std::set<std::string> writable;
  std::istringstream lines(symbols);
  for (std::string line; std::getline(lines, line);) {
    // "<address> <type> <name>": data, bss and small data, local or global.
    if (line.size() < 20 || line[16] != ' ' || line[18] != ' ') continue;
    if (!std::strchr("bBdDsS", line[17])) continue;
    const std::string name = line.substr(19);
    if (name.find("guard variable") == std::string::npos) writable.insert(name);
  }
  std::string list;
  for (const std::string& n : writable) list += "\n  " + n;
  EXPECT_LE(writable.size(), 10u) << "writable symbols:" << list;
  for (const char* per_movie : {"g_convert", "g_families", "g_scratch", "g_open", "g_last_error", "g_track_ids",
                                "g_rate_num", "g_sound", "g_system", "g_config"})
    EXPECT_EQ((list + "\n").find(std::string("::") + per_movie + "\n"), std::string::npos) << per_movie;
}

}  // namespace
