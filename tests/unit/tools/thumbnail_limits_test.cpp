// krvtool thumbnail on crafted movies, as a file manager runs it on whatever lands in a folder:
// each answers within its time and memory (run under `ulimit -v` and `timeout`), with a
// one-line refusal and no output file for a movie over a limit, and stops at its time limit.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tools/tool_test.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "encode/container_writer.h"
#include "encode/sample_movie.h"
#include "platform/platform.h"

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
  const std::string out = tmp("limits_thumb.png"), err = tmp("limits_thumb.err");
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

// Key frames of a few bytes each (not decodable pictures) at the given size.
std::vector<uint8_t> key_frames(uint32_t width, uint32_t height, uint32_t frames) {
  MovieDescription d;
  d.width = width;
  d.height = height;
  for (uint32_t i = 0; i < frames; ++i) d.frames.push_back({{}, {0x5a, 0x11, 0x7f, 0x03, 0x90, 0x21}, true});
  return container_write(d);
}

std::vector<uint8_t> sample(uint32_t frames) {
  SampleMovieSpec s;
  s.frames = frames;
  return sample_movie_write(s);
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
  const std::string huge = write_movie("limits_huge.krv", key_frames(16384, 16384, 64));
  expect_refused(thumbnail(huge), "larger than the limit of 64 megapixels");
  // Within the area, a memory limit that it is over.
  expect_refused(thumbnail(huge, "--max-area 0 --max-memory 256"), "more than the limit of 256 MiB");

  // A frame index that claims millions of frames in a small file.
  std::vector<uint8_t> many = sample(3);
  store_le32(many.data() + 4, 0xfffffff0u);
  store_le32(many.data() + 8, 3000000u);
  expect_refused(thumbnail(write_movie("limits_many.krv", many)), "ends inside the movie's track tables");
  // The same with an index that holds them (12 MB of empty frames): no picture, a clear answer.
  {
    std::vector<uint8_t> bytes(44 + 4ull * 3000001, 0);
    std::memcpy(bytes.data(), "KRVi", 4);
    store_le32(bytes.data() + 4, uint32_t(bytes.size() - 8));
    store_le32(bytes.data() + 8, 3000000);
    store_le32(bytes.data() + 20, 64);
    store_le32(bytes.data() + 24, 48);
    store_le32(bytes.data() + 28, 25);
    store_le32(bytes.data() + 32, 1);
    for (uint32_t i = 0; i <= 3000000; ++i) store_le32(bytes.data() + 44 + 4ull * i, uint32_t(bytes.size()) | (i == 0));
    const Answer a = thumbnail(write_movie("limits_index.krv", bytes));
    EXPECT_EQ(a.code, 1) << a.error;
    EXPECT_EQ(lines(a.error), 1u) << a.error;
    EXPECT_FALSE(a.picture || a.part);
    EXPECT_LT(a.seconds, 5.0);
  }

  // A sound ring field at its largest: the thumbnailer has no use for sound and makes its picture.
  std::vector<uint8_t> loud = sample(12);
  store_le32(loud.data() + 44, 0xffffffffu);
  const Answer made = thumbnail(write_movie("limits_loud.krv", loud));
  EXPECT_EQ(made.code, 0) << made.error;
  EXPECT_TRUE(made.picture);
  EXPECT_FALSE(made.part);

  // Every frame a key frame, as large as the limits let through: an answer (the picture, or a
  // refusal of the damaged packets, or the time limit) within the time, never a partial file.
  const Answer big = thumbnail(write_movie("limits_big.krv", key_frames(8192, 4096, 16)));
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
  const std::string movie = write_movie("limits_ok.krv", sample(4));
  EXPECT_EQ(thumbnail(movie, "--max-area 0 --max-memory 0 --timeout 0").code, 0);
  EXPECT_EQ(thumbnail(movie, "--max-area 257").code, 1);
  EXPECT_EQ(thumbnail(movie, "--timeout x").code, 1);
}
