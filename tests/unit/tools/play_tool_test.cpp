// krvtool play as a user runs it: loops inside one open, a summary whose shares stay within the
// playback time, and Ctrl-C ending the play cleanly.
#include <gtest/gtest.h>

#include "tools/tool_test.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace {

// The number after `label` in a summary text (-1 when the line is missing).
double value_after(const std::string& text, const char* label) {
  const size_t at = text.find(label);
  return at == std::string::npos ? -1 : std::strtod(text.c_str() + at + std::strlen(label), nullptr);
}

void expect_sane_summary(const std::string& text) {
  const char* kShares[] = {"decompressing video: ", "decompressing audio: ", "blitting: ", "spent reading: ",
                           "reading while idle: ", "reading in background: "};
  for (const char* share : kShares) {
    const double v = value_after(text, share);
    EXPECT_GE(v, 0.0) << share;
    EXPECT_LE(v, 100.0) << share;
  }
  EXPECT_LE(value_after(text, "decompressing video: ") + value_after(text, "decompressing audio: ") +
                value_after(text, "blitting: "),
            100.5);
}

// Each test writes a movie of its own: ctest runs the tests as separate processes at once.
class PlayTool : public ::testing::Test {
 protected:
  static std::string movie(const char* name) {
    const std::string path = tmp(name);
    EXPECT_EQ(run(tool() + " sample " + path + " --frames 24 --size 64x48 > /dev/null"), 0);
    return path;
  }
};

TEST_F(PlayTool, LoopsCountEveryPassInOneSummary) {
  const std::string out = tmp("play_l2.txt"), m = movie("play24_loops.krv");
  for (const char* fast : {"/F", ""}) {
    SCOPED_TRACE(fast);
    ASSERT_EQ(run(tool() + " play " + m + " " + fast + " /L2 /S > " + out), 0);
    const std::string text = read_text(out);
    EXPECT_EQ(value_after(text, "Total frames played: "), 48);
    expect_sane_summary(text);
    if (*fast == 0) {
      EXPECT_GE(value_after(text, "Total playback time: "), 4.0);  // 48 frames at 10 a second
    }
  }
}

TEST_F(PlayTool, InterruptEndsAnEndlessPlayWithItsSummary) {
  const std::string out = tmp("play_int.txt"), m = movie("play24_interrupt.krv");
  // /L alone plays until stopped; SIGINT after a second stops it with exit code 0.
  ASSERT_EQ(run("timeout --preserve-status -s INT 1 " + tool() + " play " + m + " /F /L /S > " + out),
            0);
  const std::string text = read_text(out);
  EXPECT_GT(value_after(text, "Total frames played: "), 48);
  expect_sane_summary(text);
}

}  // namespace
