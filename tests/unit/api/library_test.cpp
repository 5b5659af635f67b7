// What the installed libkorva holds: the core and its public door, none of the player's own code.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

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

}  // namespace
