// krvtool bundle: the player with a movie appended and its defaults naming it, runnable with no
// arguments; and the refusals that leave no output behind.
#include <gtest/gtest.h>

#include "tools/tool_test.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

#include "encode/sample_movie.h"
#include "platform/platform.h"

namespace {

std::string probe() { return tmp("../tests/unit/options_store_probe"); }

TEST(BundleTool, PlayerWithItsMovie) {
  SampleMovieSpec s;
  s.frames = 3;
  const std::vector<uint8_t> movie = sample_movie_write(s);
  const std::string m = tmp("bundle.krv"), out = tmp("bundled_probe");
  ASSERT_TRUE(platform_file_write_all(m.c_str(), movie.data(), movie.size()));
  const size_t player_size = read_all(probe()).size();
  ASSERT_GT(player_size, 0u);
  std::remove(out.c_str());
  ASSERT_EQ(run(tool() + " bundle " + probe() + " " + m + " " + out + " /L2 /S > /dev/null"), 0);
  // The program says its defaults: the movie right after the player, then the switches.
  ASSERT_EQ(run(out + " > " + tmp("bundled.txt")), 0);
  std::ifstream said(tmp("bundled.txt"));
  std::string line;
  std::getline(said, line);
  EXPECT_EQ(line, ":" + std::to_string(player_size) + " /L2 /S");
  const std::vector<uint8_t> bytes = read_all(out);
  ASSERT_EQ(bytes.size(), player_size + movie.size());
  EXPECT_TRUE(std::equal(movie.begin(), movie.end(), bytes.begin() + long(player_size)));
  struct stat st;
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  // The unbundled probe has empty defaults.
  ASSERT_EQ(run(probe() + " > " + tmp("plain.txt")), 0);
  std::ifstream plain(tmp("plain.txt"));
  std::getline(plain, line);
  EXPECT_EQ(line, "");
}

TEST(BundleTool, RefusalsLeaveNothingBehind) {
  SampleMovieSpec s;
  s.frames = 2;
  const std::vector<uint8_t> movie = sample_movie_write(s);
  const std::string m = tmp("bundle2.krv"), out = tmp("refused_out");
  ASSERT_TRUE(platform_file_write_all(m.c_str(), movie.data(), movie.size()));
  const std::string long_switches(520, 'x');
  const std::string cases[] = {
      tool() + " bundle " + tool() + " " + m + " " + out,               // a program without a store
      tool() + " bundle " + probe() + " " + probe() + " " + out,        // a movie that is not one
      tool() + " bundle " + probe() + " " + m + " " + out + " /" + long_switches,  // too long
      tool() + " bundle " + probe() + " " + m + " " + out + " /L~",     // a '~' in the defaults
      tool() + " bundle " + probe() + " " + m + " /nonexistent/dir/out",
  };
  for (const std::string& c : cases) {
    std::remove(out.c_str());
    EXPECT_EQ(run(c + " 2> /dev/null"), 1) << c;
    EXPECT_FALSE(platform_file_exists(out.c_str())) << c;
    EXPECT_FALSE(platform_file_exists((out + ".part").c_str())) << c;
  }
}

// A Windows player keeps its defaults as string resource 1 (16-bit length, 16-bit characters);
// the store is found in place and rewritten there, the rest of the program untouched.
TEST(BundleTool, WindowsStringResource) {
  SampleMovieSpec s;
  s.frames = 2;
  const std::vector<uint8_t> movie = sample_movie_write(s);
  const std::string m = tmp("bundle3.krv"), exe = tmp("fake_player.exe"), out = tmp("fake_bundled.exe");
  ASSERT_TRUE(platform_file_write_all(m.c_str(), movie.data(), movie.size()));
  std::vector<uint8_t> player(3000, 0x5A);
  const size_t at = 1001;  // the length field; odd on purpose
  player[at] = 0x00;
  player[at + 1] = 0x02;
  for (size_t k = 0; k < 512; ++k) {
    player[at + 2 + 2 * k] = '~';
    player[at + 3 + 2 * k] = 0;
  }
  ASSERT_TRUE(platform_file_write_all(exe.c_str(), player.data(), player.size()));
  ASSERT_EQ(run(tool() + " bundle " + exe + " " + m + " " + out + " /L /C > /dev/null"), 0);
  const std::vector<uint8_t> bytes = read_all(out);
  ASSERT_EQ(bytes.size(), player.size() + movie.size());
  const std::string expect = ":" + std::to_string(player.size()) + " /L /C";
  std::string got;
  for (size_t k = 0; k < 512; ++k) {
    EXPECT_EQ(bytes[at + 3 + 2 * k], 0) << k;
    got += char(bytes[at + 2 + 2 * k]);
  }
  EXPECT_EQ(got, expect + std::string(512 - expect.size(), '~'));
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + long(at + 2), player.begin()));
  EXPECT_TRUE(std::equal(bytes.begin() + long(at + 2 + 1024), bytes.begin() + long(player.size()),
                         player.begin() + long(at + 2 + 1024)));
  EXPECT_TRUE(std::equal(movie.begin(), movie.end(), bytes.begin() + long(player.size())));
  // A bundled player holds no fresh store any more.
  EXPECT_EQ(run(tool() + " bundle " + out + " " + m + " " + tmp("twice.exe") + " 2> /dev/null"), 1);
}

}  // namespace
