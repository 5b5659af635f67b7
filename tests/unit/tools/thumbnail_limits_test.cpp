// krvtool thumbnail on crafted movies, as a file manager runs it on whatever lands in a folder:
// each answers within its time and memory (run under `ulimit -v` and `timeout`), with a
// one-line refusal and no output file for a movie over a limit, and stops at its time limit.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/tool_test.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tools/crafted/crafted_movies.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

struct Answer {
  int code;
  double seconds;
  std::string error;  // what it printed on standard error
  bool picture;       // OUT.png exists
  bool part;          // OUT.png.part exists
};

bool exists(const std::string& name) {
  struct stat st;
  return stat(name.c_str(), &st) == 0;
}

// Runs the thumbnailer within 1 GiB of address space (not under a sanitizer, which reserves far
// more) and a hard time limit of 20 s.
Answer thumbnail(const std::string& movie, const std::string& options = "") {
  // Files of this test process alone: the tests of this file run side by side under ctest -j.
  const std::string stem = tmp("limits_thumb_" + std::to_string(getpid()));
  const std::string out = stem + ".png", err = stem + ".err";
  std::remove(out.c_str());
  std::remove((out + ".part").c_str());
  const std::string limit = kSanitized ? "" : "ulimit -v 1048576; ";
  const auto start = std::chrono::steady_clock::now();
  Answer a;
  a.code = run("bash -c '" + limit + "exec timeout 20 " + tool() + " thumbnail " + movie + " " + out + " " + options +
               "' > /dev/null 2> " + err);
  a.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  a.error = read_text(err);
  a.picture = exists(out);
  a.part = exists(out + ".part");
  return a;
}

std::string write_movie(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = tmp(name);
  EXPECT_TRUE(platform_file_write_all(path.c_str(), bytes.data(), bytes.size()));
  return path;
}

size_t lines(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

void expect_refused(const Answer& a, const char* why) {
  EXPECT_EQ(a.code, 1) << a.error;
  EXPECT_EQ(lines(a.error), 1u) << a.error;
  EXPECT_NE(a.error.find(why), std::string::npos) << a.error;
  EXPECT_FALSE(a.picture);
  EXPECT_FALSE(a.part);
  EXPECT_LT(a.seconds, 5.0);
}

}  // namespace

TEST(ThumbnailLimits, CraftedMoviesAnswerWithinTimeAndMemory) {
  // The largest picture a movie may declare, every frame a key frame, in a few hundred bytes.
  const std::string huge = write_movie("limits_huge.krv", crafted::huge());
  expect_refused(thumbnail(huge), "larger than the limit of 64 megapixels");
  // Within the area, a memory limit that it is over.
  expect_refused(thumbnail(huge, "--max-area 0 --max-memory 256"), "more than the limit of 256 MiB");

  // A frame index that claims millions of frames in a small file.
  expect_refused(thumbnail(write_movie("limits_many.krv", crafted::many())), "ends inside the movie's track tables");
  // The same with an index that holds them (12 MB of empty frames): no picture, a clear answer.
  {
    const Answer a = thumbnail(write_movie("limits_index.krv", crafted::frame_index()));
    EXPECT_EQ(a.code, 1) << a.error;
    EXPECT_EQ(lines(a.error), 1u) << a.error;
    EXPECT_FALSE(a.picture || a.part);
    EXPECT_LT(a.seconds, 5.0);
  }

  // A sound ring field at its largest: the thumbnailer has no use for sound and makes its picture.
  const Answer made = thumbnail(write_movie("limits_loud.krv", crafted::loud()));
  EXPECT_EQ(made.code, 0) << made.error;
  EXPECT_TRUE(made.picture);
  EXPECT_FALSE(made.part);

  // Every frame a key frame, as large as the limits let through: an answer (the picture, or a
  // refusal of the damaged packets, or the time limit) within the time, never a partial file.
  const Answer big = thumbnail(write_movie("limits_big.krv", crafted::big()));
  EXPECT_TRUE(big.code == 0 || big.code == 1) << big.error;
  EXPECT_EQ(big.picture, big.code == 0);
  EXPECT_FALSE(big.part);
  EXPECT_EQ(lines(big.error), big.code ? 1u : 0u) << big.error;
  EXPECT_LT(big.seconds, 7.0);
}

TEST(ThumbnailLimits, StopsAtItsTimeLimitWithoutAFile) {
  // A named pipe that nobody writes: opening it waits for ever, as a stalled network file would.
  const std::string pipe = tmp("limits_pipe.krv");
  std::remove(pipe.c_str());
  ASSERT_EQ(run("mkfifo " + pipe), 0);
  const Answer a = thumbnail(pipe, "--timeout 1");
  EXPECT_EQ(a.code, 1) << a.error;
  EXPECT_EQ(a.error, "krvtool: " + pipe + ": no thumbnail within 1 s (the time limit; --timeout changes it)\n");
  EXPECT_FALSE(a.picture || a.part);
  EXPECT_GT(a.seconds, 0.9);
  EXPECT_LT(a.seconds, 4.0);
  std::remove(pipe.c_str());

  // The limits' options take their ranges; 0 lifts a limit.
  const std::string movie = write_movie("limits_ok.krv", crafted::sample(4));
  EXPECT_EQ(thumbnail(movie, "--max-area 0 --max-memory 0 --timeout 0").code, 0);
  EXPECT_EQ(thumbnail(movie, "--max-area 257").code, 1);
  EXPECT_EQ(thumbnail(movie, "--timeout x").code, 1);
}
