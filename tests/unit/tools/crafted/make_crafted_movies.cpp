// Writes the crafted movies into a folder, for the tests that run outside the test programs
// (the web page's):  make_crafted_movies DIR
#include <cstdio>
#include <iterator>
#include <string>

#include "platform/platform.h"
#include "tools/crafted/crafted_movies.h"

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '-') {
    const bool help = argc == 2 && std::string(argv[1]) == "--help";
    std::fprintf(help ? stdout : stderr,
                 "usage: make_crafted_movies DIR\n  writes %zu crafted movies into the folder DIR\n",
                 std::size(crafted::kMovies));
    return help ? 0 : 1;
  }
  for (const crafted::Movie& m : crafted::kMovies) {
    const std::vector<uint8_t> bytes = m.make();
    const std::string path = std::string(argv[1]) + "/" + m.name;
    if (!platform_file_write_all(path.c_str(), bytes.data(), bytes.size())) {
      std::fprintf(stderr, "make_crafted_movies: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
