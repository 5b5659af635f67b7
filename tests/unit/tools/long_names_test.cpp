// Movie names as long as the player takes them: krvtool reads and plays a movie whose path has
// up to 2048 characters, and refuses a longer name with its own error instead of cutting it.
#include <gtest/gtest.h>

#include "tools/tool_test.h"

#include "long_path.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace {

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
