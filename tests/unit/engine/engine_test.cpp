// The engine end to end: movies made by the writers, opened from memory and from files, stepped
// with an injected clock, their sound fed to the capture back end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/stats_text.h"
#include "audio/audio_decoder.h"
#include "base/bytes.h"
#include "container/container.h"
#include "playback/movie.h"
#include "convert/convert.h"
#include "display/backends/memory_surface.h"
#include "encode/container_writer.h"
#include "encode/sample_movie.h"
#include "platform/platform.h"
#include "playback/engine.h"
#include "base/timer.h"
#include "sound/backends/capture.h"
#include "sound/sound.h"
#include "tests/unit/test_sound.h"

namespace {

// A clock the test moves by hand.
uint64_t g_fake_ms = 0;
bool fake_frequency(uint64_t* f) { *f = 1000; return true; }
uint64_t fake_counter() { return g_fake_ms; }
uint32_t fake_coarse() { return uint32_t(g_fake_ms); }
const TimerSources kFakeClock = {fake_frequency, fake_counter, fake_coarse};

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake_ms = 0;
    timer_install_sources(&kFakeClock);
    ms_timer();  // time 0
    g_fake_ms = 10;
    test_sound_reset();
    CaptureConfig c;
    capture_default_config(&c);
    capture_configure(&c);
    ASSERT_EQ(sound_use_system(&test_sound(), capture_provider, nullptr), 1u);
  }
  void TearDown() override {
    timer_install_sources(nullptr);
    test_sound_reset();
  }
  static std::string write_file(const char* name, const std::vector<uint8_t>& bytes) {
    std::string path = std::string(KORVA_TEST_TMP) + "/" + name;
    EXPECT_TRUE(platform_file_write_all(path.c_str(), bytes.data(), bytes.size()));
    return path;
  }
  static uint8_t luma0(const Movie* m) { return m->planes.plane_sets[m->planes.current_set][0]; }
};

// The copy step into a memory surface; true when it skipped the frame as late.
bool copy_skipped(Movie* m, uint32_t flags = 0) {
  MemorySurface* surface = memory_surface_open(kFormatBgr32, m->width, m->height, int32_t(4 * m->width), 0, 0);
  const uint32_t before = m->stats.skipped_blits;
  CopySource src;
  movie_copy_source(m, &src);
  memory_surface_copy(surface, &src, flags);
  memory_surface_close(surface);
  return m->stats.skipped_blits > before;
}

// The sample movie's luma colour of a key frame.
uint8_t key_value(uint32_t i) { return uint8_t(16 + (i * 37) % 224); }

TEST_F(Engine, MemoryImageWithOneKeyFrame) {
  SampleMovieSpec s;
  s.width = 224;
  s.height = 252;
  s.frames = 1;
  s.audio_rate = 0;
  std::vector<uint8_t> bytes = sample_movie_write(s);
  ASSERT_FALSE(bytes.empty());
  MovieImage img{bytes.data(), bytes.size()};
  Movie* m = open_with(movie_open_image(&img, kOpenFromMemory));
  ASSERT_NE(m, nullptr) << movie_last_error();
  EXPECT_FALSE(m->input.has_reader);
  EXPECT_EQ(*service_input_thread(), nullptr);
  EXPECT_EQ(*service_sound_thread(), nullptr);
  EXPECT_EQ(m->planes.plane_sets[0], m->planes.plane_sets[1]);  // one plane set
  EXPECT_EQ(m->current_frame, 1u);
  EXPECT_EQ(luma0(m), 0);  // planes start zero-filled
  EXPECT_EQ(movie_do_frame(m), 0u);
  EXPECT_EQ(luma0(m), key_value(0));
  EXPECT_EQ(movie_do_frame(m), 0u);  // the same frame again does nothing
  EXPECT_EQ(m->stats.frames_decoded, 1u);
  movie_close(m);

  // An image shorter than its index says is refused, not read past.
  MovieImage cut{bytes.data(), 60};
  EXPECT_EQ(open_with(movie_open_image(&cut, kOpenFromMemory)), nullptr);
  EXPECT_STREQ(movie_last_error(), "The frame index points past the end of the movie image.");
}

TEST_F(Engine, OpenFailures) {
  EXPECT_EQ(open_with(movie_open_name("/nonexistent/x.krv", 0)), nullptr);
  EXPECT_STREQ(movie_last_error(), "Error opening file.");
  std::vector<uint8_t> junk(100, 'x');
  std::string path = write_file("junk.krv", junk);
  EXPECT_EQ(open_with(movie_open_name(path.c_str(), 0)), nullptr);
  EXPECT_STREQ(movie_last_error(), "Not a Korva file.");
  SampleMovieSpec s;
  s.audio_rate = 0;
  std::vector<uint8_t> b = sample_movie_write(s);
  store_le32(&b[8], 0);
  path = write_file("empty.krv", b);
  EXPECT_EQ(open_with(movie_open_name(path.c_str(), 0)), nullptr);
  EXPECT_STREQ(movie_last_error(), "The file doesn't contain any compressed frames yet.");
}

TEST_F(Engine, ReadAheadRingSkipsForwardAndFlushesBack) {
  SampleMovieSpec s;
  s.frames = 300;
  s.audio_rate = 0;
  std::string path = write_file("long.krv", sample_movie_write(s));
  Movie* m = open_with(movie_open_name(path.c_str(), kOpenNoThread));
  ASSERT_NE(m, nullptr) << movie_last_error();
  EXPECT_FALSE(m->input.in_memory);
  EXPECT_EQ(m->input.ring_size, 8192u);
  EXPECT_EQ(m->input.reader.node.mutex, nullptr);  // no thread, no reader lock
  EXPECT_EQ(m->input.reader.buffered + m->input.reader.consumer_pos, m->input.reader.file_pos);
  for (uint32_t i = 0; i < s.frames; ++i) {
    ASSERT_EQ(movie_do_frame(m), 0u);
    if (i % s.key_every == 0) {
      ASSERT_EQ(luma0(m), key_value(i)) << i;
    }
    movie_next_frame(m);
  }
  EXPECT_EQ(m->current_frame, 1u);  // after the last frame comes frame 1 again
  EXPECT_EQ(m->input.reader.consumer_pos, (movie_index_entry(m, 1) & ~1u));  // flushed and re-read

  // Forward within what is buffered: a skip, the file is not touched.
  while (m->input.reader.background_fill(&m->input.reader) > 0) {
  }
  uint32_t file_pos = m->input.reader.file_pos;
  movie_goto(m, 5);
  EXPECT_EQ(m->input.reader.file_pos, file_pos);
  EXPECT_EQ(m->input.reader.consumer_pos, movie_index_entry(m, 5) & ~1u);
  // Backwards: a flush and a seek.
  movie_goto(m, 2);
  EXPECT_EQ(m->input.reader.buffered, 0u);
  EXPECT_EQ(m->input.reader.file_pos, movie_index_entry(m, 2) & ~1u);
  movie_close(m);
}

TEST_F(Engine, MovieInsideAnotherFileThroughAGivenHandle) {
  SampleMovieSpec s;
  s.frames = 40;
  std::vector<uint8_t> movie = sample_movie_write(s);
  std::vector<uint8_t> file(5000 + movie.size(), 0xee);
  std::memcpy(file.data() + 5000, movie.data(), movie.size());
  std::string path = write_file("bundle.bin", file);
  PlatformFile* f = platform_file_open(path.c_str());
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(platform_file_seek(f, 5000));
  Movie* m = open_with(movie_open_file(f, kOpenFromHandle | kOpenNoThread));
  ASSERT_NE(m, nullptr) << movie_last_error();
  EXPECT_EQ(m->input.reader.start_offset, 5000u);
  for (uint32_t i = 0; i < s.frames; ++i) {
    ASSERT_EQ(movie_do_frame(m), 0u);
    if (i % 10 == 0) {
      ASSERT_EQ(luma0(m), key_value(i));
    }
    movie_next_frame(m);
  }
  movie_close(m);
  // The handle was the caller's: still open.
  EXPECT_TRUE(platform_file_seek(f, 0));
  uint8_t b = 0;
  EXPECT_EQ(platform_file_read(f, &b, 1), 1);
  EXPECT_EQ(b, 0xee);
  platform_file_close(f);
}

// A file cut short plays every frame that lies whole in it, however it is read, and fails at
// the first frame whose bytes are not all there.
TEST_F(Engine, CutFilePlaysEveryWholeFrame) {
  SampleMovieSpec s;
  s.frames = 400;
  s.audio_rate = 0;
  const std::vector<uint8_t> full = sample_movie_write(s);
  ContainerView v;
  ASSERT_EQ(container_open_view(full.data(), full.size(), &v), nullptr);
  std::vector<uint32_t> ends;  // end offset of every frame
  for (uint32_t i = 0; i < s.frames; ++i) {
    const uint8_t* f;
    uint32_t size;
    bool key;
    ASSERT_TRUE(container_frame(&v, i, &f, &size, &key));
    ends.push_back(uint32_t(f - full.data()) + size);
  }
  const size_t cuts[] = {ends[0] - 1, ends[0], full.size() / 2, ends[s.frames - 2] + 3, full.size() - 1};
  const uint32_t kModes[] = {kOpenNoThread | kOpenNoInitialFill, kOpenNoThread, 0, kOpenPreload};
  for (size_t cut : cuts) {
    const uint32_t whole = uint32_t(std::upper_bound(ends.begin(), ends.end(), uint32_t(cut)) - ends.begin());
    std::vector<uint8_t> b(full.begin(), full.begin() + cut);
    std::string path = write_file("cut.krv", b);
    for (uint32_t mode : kModes) {
      SCOPED_TRACE(testing::Message() << "cut at " << cut << ", flags " << std::hex << mode);
      Movie* m = open_with(movie_open_name(path.c_str(), mode));
      ASSERT_NE(m, nullptr) << movie_last_error();
      uint32_t decoded = 0;
      while (decoded < s.frames && movie_do_frame(m) == 0) {
        if (decoded % 10 == 0) {
          EXPECT_EQ(luma0(m), key_value(decoded));
        }
        ++decoded;
        movie_next_frame(m);
        if (mode == 0 && decoded % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(250));
      }
      EXPECT_EQ(decoded, whole);
      EXPECT_EQ(m->input.read_failed, 1u);
      EXPECT_EQ(movie_wait(m), 0u);      // nothing to wait for
      EXPECT_EQ(movie_do_frame(m), 1u);  // and it stays failed
      movie_close(m);
    }
  }
}

TEST_F(Engine, PreloadByRuleAndBySwitch) {
  SampleMovieSpec s;
  s.frames = 10;  // one second: its peak second is the whole movie
  s.audio_rate = 0;
  std::string path = write_file("second.krv", sample_movie_write(s));
  Movie* m = open_with(movie_open_name(path.c_str(), 0));
  ASSERT_NE(m, nullptr);
  EXPECT_NE(m->input.preload, nullptr);
  EXPECT_TRUE(m->flags & kOpenPreload);
  EXPECT_EQ(m->input.reader.file, nullptr);  // closed during open
  EXPECT_EQ(*service_input_thread(), nullptr);
  ASSERT_EQ(movie_do_frame(m), 0u);
  EXPECT_EQ(luma0(m), key_value(0));
  movie_close(m);

  s.frames = 300;
  path = write_file("long2.krv", sample_movie_write(s));
  m = open_with(movie_open_name(path.c_str(), kOpenPreload));
  ASSERT_NE(m, nullptr);
  EXPECT_NE(m->input.preload, nullptr);
  for (uint32_t i = 0; i < 25; ++i) {
    ASSERT_EQ(movie_do_frame(m), 0u);
    if (i % 10 == 0) {
      EXPECT_EQ(luma0(m), key_value(i));
    }
    movie_next_frame(m);
  }
  movie_close(m);
}

TEST_F(Engine, RateOverride) {
  SampleMovieSpec s;
  s.audio_rate = 0;
  std::string path = write_file("rate.krv", sample_movie_write(s));
  MovieOpen o = movie_open_name(path.c_str(), kOpenRateOverride | kOpenNoThread);
  o.rate_num = 25;
  o.rate_den = 1;
  Movie* m = open_with(o);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->rate_num, 25u);
  EXPECT_EQ(m->header_rate_num, 10u);
  movie_close(m);
  o.flags = kOpenNoThread;  // the values alone, without their flag, change nothing
  m = open_with(o);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->rate_num, 10u);
  movie_close(m);
  m = open_with(movie_open_name(path.c_str(), kOpenRateOverride | kOpenNoThread));  // the flag, no values
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->rate_num, 10u);
  movie_close(m);
}

// Each open takes only its own record: two movies open at once keep their own rates, doubling,
// tracks and sound systems.
TEST_F(Engine, TwoMoviesWithTheirOwnOpenRecords) {
  SampleMovieSpec s;
  s.track_id = 7;
  std::vector<uint8_t> bytes = sample_movie_write(s);
  const MovieImage img{bytes.data(), bytes.size()};
  SoundSystem other{};
  ASSERT_EQ(sound_use_system(&other, capture_provider, nullptr), 1u);
  MovieOpen a = movie_open_image(&img, kOpenRateOverride | kOpenTrackList | (3u << kOpenDoublingShift));
  a.rate_num = 25;
  a.rate_den = 1;
  a.track_count = 1;
  a.track_ids[0] = 7;
  MovieOpen b = movie_open_image(&img, kOpenDoublingNone << kOpenDoublingShift);
  Movie* ma = open_with(a, &other);
  Movie* mb = open_with(b);
  ASSERT_NE(ma, nullptr);
  ASSERT_NE(mb, nullptr);
  EXPECT_EQ(ma->rate_num, 25u);
  EXPECT_EQ(mb->rate_num, 10u);
  EXPECT_EQ(ma->width, 2 * mb->width);
  EXPECT_EQ(ma->feed.count, 1u);
  EXPECT_EQ(mb->feed.count, 0u);  // identifier 0: no such track
  EXPECT_EQ(other.tracks_opened.load(), 1u);
  EXPECT_EQ(test_sound().tracks_opened.load(), 0u);
  movie_close(ma);
  movie_close(mb);
}

// A failed open's text belongs to the thread that tried it.
TEST_F(Engine, FailedOpenTextIsPerThread) {
  EXPECT_EQ(open_with(movie_open_name("/nonexistent/x.krv", 0)), nullptr);
  char other_text[64] = "unset";
  std::thread t([&] {
    std::snprintf(other_text, sizeof other_text, "%s", movie_last_error());  // nothing failed here
    std::vector<uint8_t> junk(100, 'x');
    const MovieImage img{junk.data(), junk.size()};
    MovieOpen o = movie_open_image(&img, 0);
    EXPECT_EQ(movie_open(&o), nullptr);
    EXPECT_STREQ(movie_last_error(), "Not a Korva file.");
  });
  t.join();
  EXPECT_STREQ(other_text, "");
  EXPECT_STREQ(movie_last_error(), "Error opening file.");
  MovieOpen none = movie_open_file(nullptr, 0);  // a file source without a file
  EXPECT_EQ(movie_open(&none), nullptr);
  EXPECT_STREQ(movie_last_error(), "Error opening file.");
}

TEST_F(Engine, TrackSelection) {
  SampleMovieSpec s;
  s.track_id = 7;
  std::string path = write_file("track7.krv", sample_movie_write(s));
  MovieOpen o = movie_open_name(path.c_str(), kOpenTrackList | kOpenNoThread);
  o.track_count = 1;
  o.track_ids[0] = 3;
  Movie* m = open_with(o);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->feed.count, 0u);  // no track 3: silent
  EXPECT_EQ(m->feed.clock, 0u);
  movie_close(m);
  o.track_ids[0] = 7;
  m = open_with(o);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->feed.count, 1u);
  EXPECT_EQ(m->feed.clock, 1u);
  EXPECT_NE(*service_sound_thread(), nullptr);
  movie_close(m);
  EXPECT_EQ(*service_sound_thread(), nullptr);  // its last node is gone
  o.flags = kOpenNoThread;  // without the flag: identifier 0
  m = open_with(o);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->feed.count, 0u);
  movie_close(m);
  o.flags |= kOpenTrackList;
  m = open_with(o, nullptr);  // no sound system: every track stays silent
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->feed.count, 0u);
  movie_close(m);
}

// Every byte the engine decodes reaches the back end, in order.
TEST_F(Engine, SoundReachesTheBackEndExactly) {
  for (bool stereo : {false, true}) {
    SampleMovieSpec s;
    s.frames = 30;
    s.audio_channels = stereo ? 2 : 1;
    s.audio_dct = !stereo;
    std::vector<uint8_t> bytes = sample_movie_write(s);
    ASSERT_FALSE(bytes.empty());
    // The reference: every packet decoded in order.
    ContainerView v;
    ASSERT_EQ(container_open_view(bytes.data(), bytes.size(), &v), nullptr);
    AudioDecoder* d = audio_decoder_open(s.audio_rate, s.audio_channels, s.audio_dct);
    std::vector<uint8_t> expected;
    for (uint32_t i = 0; i < s.frames; ++i) {
      const uint8_t *f, *p;
      uint32_t n, pn;
      ASSERT_TRUE(container_frame(&v, i, &f, &n, nullptr));
      ASSERT_EQ(container_audio_packet(f, n, 1, 0, &p, &pn), nullptr);
      AudioPacketCursor c;
      audio_packet_begin(&c, p, pn);
      const int16_t* pcm;
      uint32_t got;
      while (audio_packet_next(d, &c, &pcm, &got))
        expected.insert(expected.end(), reinterpret_cast<const uint8_t*>(pcm), reinterpret_cast<const uint8_t*>(pcm) + got);
    }
    audio_decoder_close(d);

    MovieImage img{bytes.data(), bytes.size()};
    Movie* m = open_with(movie_open_image(&img, kOpenFromMemory));
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->feed.count, 1u);
    for (uint32_t i = 0; i < s.frames; ++i) {
      ASSERT_EQ(movie_do_frame(m), 0u);
      if (i + 1 < s.frames) movie_next_frame(m);
    }
    sound_pump(&m->feed);
    sound_lock(&m->feed);  // the sound thread's pump may still be committing
    uint32_t log_bytes = 0;
    const uint8_t* log = capture_log(&m->feed.outputs[0], &log_bytes);
    const bool same = log_bytes == expected.size() && std::memcmp(log, expected.data(), log_bytes) == 0;
    sound_unlock(&m->feed);
    EXPECT_EQ(log_bytes, expected.size());
    EXPECT_TRUE(same);
    movie_close(m);
  }
}

TEST_F(Engine, ClockWithoutSound) {
  SampleMovieSpec s;
  s.audio_rate = 0;
  std::vector<uint8_t> bytes = sample_movie_write(s);
  MovieImage img{bytes.data(), bytes.size()};
  Movie* m = open_with(movie_open_image(&img, kOpenFromMemory));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(movie_wait(m), 0u);  // nothing decoded yet: due
  g_fake_ms = 1000;
  movie_do_frame(m);
  movie_next_frame(m);
  EXPECT_EQ(m->clock.clock_start, 1000u);
  g_fake_ms = 1050;
  EXPECT_EQ(movie_wait(m), 1u);  // 100 ms a frame
  g_fake_ms = 1100;
  EXPECT_EQ(movie_wait(m), 0u);
  movie_do_frame(m);
  movie_next_frame(m);
  // Far behind (more than two frame durations): the clock restarts instead of rushing.
  g_fake_ms = 2000;
  EXPECT_EQ(movie_wait(m), 0u);
  EXPECT_EQ(m->clock.clock_start, 2000u);
  EXPECT_EQ(m->clock.late_debt, 0);
  movie_do_frame(m);
  movie_next_frame(m);
  g_fake_ms = 2050;
  EXPECT_EQ(movie_wait(m), 1u);
  EXPECT_FALSE(copy_skipped(m));  // without sound no blit is skipped

  // Pause and resume restart the clock, so the movie does not rush to catch up.
  movie_pause(m, 1);
  g_fake_ms = 9000;
  EXPECT_EQ(movie_wait(m), 1u);  // paused
  movie_pause(m, 0);
  EXPECT_FALSE(m->clock.clock_running);
  EXPECT_EQ(movie_wait(m), 1u);  // the clock starts again now
  EXPECT_EQ(m->clock.clock_start, 9000u);
  movie_close(m);
}

TEST_F(Engine, AsFastAsPossible) {
  SampleMovieSpec s;
  s.audio_rate = 0;
  std::vector<uint8_t> bytes = sample_movie_write(s);
  MovieImage img{bytes.data(), bytes.size()};
  MovieOpen o = movie_open_image(&img, kOpenRateOverride);
  o.rate_num = o.rate_den = 0;
  Movie* m = open_with(o);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->rate_num, 0u);
  EXPECT_EQ(m->clock.late_threshold, 2000u);
  movie_do_frame(m);
  movie_next_frame(m);
  EXPECT_EQ(movie_wait(m), 0u);
  movie_close(m);
}

TEST_F(Engine, LatenessWithSoundSkipsAtMostThreeBlits) {
  SampleMovieSpec s;
  s.frames = 40;
  std::vector<uint8_t> bytes = sample_movie_write(s);
  MovieImage img{bytes.data(), bytes.size()};
  Movie* m = open_with(movie_open_image(&img, kOpenFromMemory));
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->feed.count, 1u);
  g_fake_ms = 1000;
  movie_do_frame(m);
  movie_next_frame(m);
  // 500 ms late: with sound the lateness becomes a debt repaid over about a second of frames.
  g_fake_ms = 1600;
  EXPECT_EQ(movie_wait(m), 0u);
  EXPECT_EQ(m->clock.late_debt, 500 - 50);  // 500 ms late, less the first repayment
  EXPECT_EQ(m->clock.late_repay, 50);
  // The copy step skips blits while late, never more than three in a row.
  int skipped = 0, copied = 0;
  for (int k = 0; k < 8; ++k) {
    movie_do_frame(m);
    g_fake_ms += 1000;  // keep falling behind
    if (copy_skipped(m)) {
      ++skipped;
    } else {
      ++copied;
      EXPECT_EQ(m->clock.skip_flag, 0u);  // the frame that is copied is blitted too
    }
    movie_next_frame(m);
  }
  EXPECT_EQ(skipped, 6);  // skip, skip, skip, copy, skip, skip, skip, copy
  EXPECT_EQ(copied, 2);
  EXPECT_EQ(m->stats.skipped_blits, 6u);
  // A debt larger than the time run is not lateness.
  m->clock.late_debt = 100000;
  movie_do_frame(m);
  EXPECT_FALSE(copy_skipped(m));
  m->clock.late_debt = 0;
  movie_next_frame(m);
  // The never-skip bit copies every frame.
  m->clock.consecutive_skips = 0;
  movie_do_frame(m);
  g_fake_ms += 1000;
  EXPECT_FALSE(copy_skipped(m, kCopyNeverSkip));
  movie_close(m);
}

TEST_F(Engine, UnderrunRecoveryExceptNearTheEnd) {
  SampleMovieSpec s;
  s.frames = 30;  // flush frame = 30 − 7 = 23
  std::vector<uint8_t> bytes = sample_movie_write(s);
  std::string path = write_file("underrun.krv", bytes);
  Movie* m = open_with(movie_open_name(path.c_str(), kOpenNoThread));
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->feed.count, 1u);
  EXPECT_EQ(m->feed.outputs[0].flush_frame, 23u);
  for (uint32_t i = 0; i < 5; ++i) {
    movie_do_frame(m);
    movie_next_frame(m);
  }
  sound_lock(&m->feed);  // back-end calls and the underrun flag are the sound lock's
  capture_run_dry(&m->feed.outputs[0]);
  const uint32_t dry = m->feed.outputs[0].underrun;
  sound_unlock(&m->feed);
  ASSERT_EQ(dry, 1u);
  movie_do_frame(m);
  movie_next_frame(m);
  EXPECT_EQ(m->stats.sound_underruns, 1u);
  EXPECT_EQ(m->feed.outputs[0].underrun, 0u);
  EXPECT_FALSE(m->clock.clock_running);  // restarted after the refill
  while (m->current_frame < 25) {
    movie_do_frame(m);
    movie_next_frame(m);
  }
  sound_lock(&m->feed);
  capture_run_dry(&m->feed.outputs[0]);
  sound_unlock(&m->feed);
  movie_do_frame(m);
  movie_next_frame(m);
  EXPECT_EQ(m->stats.sound_underruns, 1u);  // past the flush frame: only cleared
  EXPECT_EQ(m->feed.outputs[0].underrun, 0u);
  movie_close(m);
}

TEST_F(Engine, BackgroundThreadFillsTheRing) {
  timer_install_sources(nullptr);  // real time: the input thread runs every 200 ms
  SampleMovieSpec s;
  s.frames = 600;
  s.audio_rate = 0;
  std::string path = write_file("threaded.krv", sample_movie_write(s));
  Movie* m = open_with(movie_open_name(path.c_str(), kOpenNoInitialFill));
  ASSERT_NE(m, nullptr);
  ASSERT_NE(*service_input_thread(), nullptr);
  ASSERT_NE(m->input.reader.node.mutex, nullptr);
  for (uint32_t i = 0; i < s.frames; ++i) {
    ASSERT_EQ(movie_do_frame(m), 0u);
    if (i % 10 == 0) {
      ASSERT_EQ(luma0(m), key_value(i)) << i;
    }
    movie_next_frame(m);
    if (i % 100 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  movie_close(m);
  EXPECT_EQ(*service_input_thread(), nullptr);
}

}  // namespace

namespace {

TEST_F(Engine, StatisticsAndChangedRectangles) {
  SampleMovieSpec s;
  s.audio_rate = 0;
  s.width = 64;
  s.height = 64;
  std::vector<uint8_t> bytes = sample_movie_write(s);
  MovieImage img{bytes.data(), bytes.size()};
  Movie* m = open_with(movie_open_image(&img, kOpenFromMemory));
  ASSERT_NE(m, nullptr);
  g_fake_ms = 100;
  movie_do_frame(m);
  RealtimeStats rs;
  movie_realtime_stats(0, m, &rs);
  EXPECT_EQ(rs.frames, 1u);  // the first frame: a window of one frame
  EXPECT_EQ(rs.frame, 1u);
  // A key frame changes everything: one rectangle over the picture.
  EXPECT_EQ(movie_changed_rects(0, m), 1u);
  EXPECT_EQ(m->rects[0].width, 64);
  EXPECT_EQ(m->rects[0].height, 64);
  EXPECT_EQ(movie_changed_rects(0x4000000, m), 0u);  // on screen without a blit
  movie_next_frame(m);
  g_fake_ms = 200;
  movie_do_frame(m);
  // Frame 2 changes luma block 1 (map cell 0) and chroma block 1 (map cell 1).
  ASSERT_EQ(movie_changed_rects(0, m), 1u);
  EXPECT_EQ(m->rects[0].left, 0);
  EXPECT_EQ(m->rects[0].width, 32);
  EXPECT_EQ(m->rects[0].height, 16);
  m->clock.skip_flag = 1;
  m->rect_count = -1;
  EXPECT_EQ(movie_changed_rects(0, m), 0u);  // a skipped frame is not blitted
  EXPECT_EQ(movie_changed_rects(kOpenNeverSkip, m), 1u);
  PlaybackSummary sum;
  g_fake_ms = 300;
  movie_summary(&sum, m);
  EXPECT_EQ(sum.frames_played, 2u);
  EXPECT_EQ(sum.playback_ms, 200u);
  EXPECT_EQ(sum.frame_count, 20u);
  EXPECT_EQ(sum.peak_frame, m->stats.peak_second_frame + 1);
  EXPECT_EQ(sum.skipped_frames, 0u);
  movie_close(m);
}

}  // namespace

namespace {

// A clock that moves by `g_tick` at every reading (0: it stands still).
uint64_t g_tick = 0;
uint64_t ticking_counter() {
  const uint64_t t = g_fake_ms;
  g_fake_ms += g_tick;
  return t;
}
uint32_t ticking_coarse() { return uint32_t(g_fake_ms); }
const TimerSources kTickingClock = {fake_frequency, ticking_counter, ticking_coarse};

// Every time of the summary is a difference of two readings of one clock: a clock that reads 0
// for its first frames, or one that moves at every reading, never makes a share wrap or exceed
// the playback time.
TEST_F(Engine, PlaybackTimesNeverWrap) {
  SampleMovieSpec s;
  s.frames = 24;
  s.width = 64;
  s.height = 48;
  std::vector<uint8_t> bytes = sample_movie_write(s);
  struct Case { uint64_t tick; uint32_t still_frames; };
  const Case kCases[] = {{0, 24}, {0, 6}, {1, 0}, {3, 2}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << "tick " << c.tick << ", still for " << c.still_frames);
    g_fake_ms = 0;
    g_tick = 0;
    timer_install_sources(&kTickingClock);
    ms_timer();  // time 0
    MovieImage img{bytes.data(), bytes.size()};
    MovieOpen o = movie_open_image(&img, kOpenRateOverride);
    o.rate_num = o.rate_den = 0;  // as fast as possible
    Movie* m = open_with(o);
    ASSERT_NE(m, nullptr);
    MemorySurface* surface = memory_surface_open(kFormatBgr32, m->width, m->height, int32_t(4 * m->width), 0, 0);
    for (uint32_t f = 1; f <= s.frames; ++f) {
      if (f > c.still_frames) g_tick = c.tick ? c.tick : 1;
      while (movie_wait(m)) {
      }
      ASSERT_EQ(movie_do_frame(m), 0u);
      CopySource src;
      movie_copy_source(m, &src);
      memory_surface_copy(surface, &src, f == 1 ? kCopyWhole : 0);
      movie_changed_rects(0, m);
      RealtimeStats rs;
      movie_realtime_stats(0, m, &rs);
      EXPECT_LE(uint64_t(rs.video_ms) + rs.audio_ms + rs.blit_ms, rs.window_ms + 1000ull);
      if (f < s.frames) movie_next_frame(m);
    }
    PlaybackSummary sum;
    movie_summary(&sum, m);
    EXPECT_EQ(sum.frames_played, s.frames);
    EXPECT_GE(uint64_t(sum.playback_ms), uint64_t(sum.video_ms) + sum.audio_ms + sum.blit_ms);
    EXPECT_LE(sum.slowest_ms, sum.playback_ms);
    EXPECT_LE(sum.second_ms, sum.slowest_ms);
    EXPECT_LE(sum.read_ms, sum.playback_ms);
    if (c.still_frames >= s.frames) {
      EXPECT_EQ(sum.playback_ms, 0u);
      EXPECT_EQ(sum.video_ms + sum.audio_ms + sum.blit_ms + sum.slowest_ms, 0u);
    }
    char text[kSummaryTextCap];
    ASSERT_TRUE(summary_text(&sum, "memory", 0, 0, 32, text, sizeof text));
    // Every percentage of the text lies within 0.0 .. 100.0.
    int shares = 0;
    for (const char* p = std::strstr(text, "Percentage"); p; p = std::strstr(p + 1, "Percentage")) {
      const char* colon = std::strchr(p, ':');
      ASSERT_NE(colon, nullptr);
      const double v = std::strtod(colon + 1, nullptr);
      EXPECT_GE(v, 0.0) << p;
      EXPECT_LE(v, 100.0) << p;
      ++shares;
    }
    EXPECT_EQ(shares, 6);
    memory_surface_close(surface);
    movie_close(m);
  }
  g_tick = 0;
}

}  // namespace

namespace {

// A one-frame movie that loops shows its frame anew at its rate: after each step the next one
// is not due at once.
TEST_F(Engine, OneFrameMovieLoopsAtItsRate) {
  SampleMovieSpec s;
  s.frames = 1;
  s.audio_rate = 0;
  std::vector<uint8_t> bytes = sample_movie_write(s);
  MovieImage img{bytes.data(), bytes.size()};
  Movie* m = open_with(movie_open_image(&img, kOpenFromMemory));
  ASSERT_NE(m, nullptr);
  for (uint32_t k = 1; k <= 3; ++k) {
    ASSERT_EQ(movie_do_frame(m), 0u);
    EXPECT_EQ(m->stats.frames_decoded, k);
    movie_next_frame(m);
    EXPECT_EQ(m->current_frame, 1u);
    EXPECT_EQ(movie_wait(m), 1u);  // the next showing is a frame duration away
    g_fake_ms += 100;
    EXPECT_EQ(movie_wait(m), 0u);
  }
  movie_close(m);
}

}  // namespace

namespace {

// A header asking for a gigantic sound ring gets the largest ring there is, not an allocation
// of gigabytes, and the movie plays with its sound.
TEST_F(Engine, SoundRingIsBounded) {
  SampleMovieSpec s;
  s.frames = 5;
  std::vector<uint8_t> bytes = sample_movie_write(s);
  ContainerHeader h;
  ASSERT_EQ(container_parse_header(bytes.data(), bytes.size(), &h), nullptr);
  store_le32(&bytes[44], 0xFFFFFF00u);  // the first track's buffer size
  MovieImage img{bytes.data(), bytes.size()};
  Movie* m = open_with(movie_open_image(&img, kOpenFromMemory));
  ASSERT_NE(m, nullptr) << movie_last_error();
  ASSERT_EQ(m->feed.count, 1u);
  EXPECT_EQ(m->feed.outputs[0].ring_size, kMaxSoundRing);
  EXPECT_EQ(movie_do_frame(m), 0u);
  uint32_t played = 0;
  capture_log(&m->feed.outputs[0], &played);
  EXPECT_GT(played, 0u);
  movie_close(m);
}

}  // namespace
