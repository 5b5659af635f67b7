// Movie names as long as the player takes them: krvtool reads and plays a movie whose path has
// up to 2048 characters, and refuses a longer name with its own error instead of cutting it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace {

std::string tmp(const std::string& name) { return std::string(KORVA_TEST_TMP) + "/" + name; }
std::string tool() { return tmp("../krvtool"); }

int run(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string read_text(const std::string& name) {
  std::ifstream f(name);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// A path of exactly `length` characters under `base`: directories of 200 characters, then a
// movie file name ending in ".krv". The directories are made.
std::string long_movie_path(const std::string& base, size_t length) {
  std::string dir = base;
  while (length - dir.size() > 250) dir += "/" + std::string(200, 'd');
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return dir + "/" + std::string(length - dir.size() - 1 - 4, 'm') + ".krv";
}

TEST(LongNames, ToolsTakeNamesUpTo2048Characters) {
  struct Case {
    size_t length;
    bool taken;
  };
  const Case kCases[] = {{2000, true}, {2048, true}, {2049, false}, {3000, false}};
  const std::string err = tmp("long_names_err.txt");
  for (const Case& c : kCases) {
    const std::string path = long_movie_path(tmp("long_tools"), c.length);
    ASSERT_EQ(path.size(), c.length);
    ASSERT_EQ(run(tool() + " sample '" + path + "' --frames 3 --size 32x16 > /dev/null"), 0) << c.length;
    const std::string kLines[] = {
        tool() + " info '" + path + "'",
        tool() + " pcm '" + path + "' 0 " + tmp("long_names.raw"),
        tool() + " play '" + path + "' /F",
    };
    for (const std::string& line : kLines) {
      SCOPED_TRACE(line.substr(tool().size() + 1, 4) + ", " + std::to_string(c.length) + " characters");
      EXPECT_EQ(run(line + " > /dev/null 2> " + err), c.taken ? 0 : 1);
      const std::string text = read_text(err);
      if (c.taken) {
        EXPECT_EQ(text, "");
      } else {
        EXPECT_NE(text.find("The movie's name is longer than 2048 characters."), std::string::npos) << text;
      }
    }
  }
}

}  // namespace
