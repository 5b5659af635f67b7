#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/stats_text.h"

namespace {

std::string time_of(uint32_t ms) {
  char buf[64];
  time_text(ms, buf, sizeof buf);
  return buf;
}

TEST(TimeText, UnitsAndPlurals) {
  struct Case {
    uint32_t ms;
    const char* text;
  } const cases[] = {
      {0, "0 milliseconds"},          {1, "1 millisecond"},
      {2, "2 milliseconds"},          {999, "999 milliseconds"},
      {1000, "1 second"},             {1999, "1 second"},
      {2500, "2 seconds"},            {59999, "59 seconds"},
      {60000, "1 minute 0 seconds"},  {61000, "1 minute 1 second"},
      {120000, "2 minutes 0 seconds"}, {3599999, "59 minutes 59 seconds"},
      {3600000, "1 hour 0 minutes"},  {3660000, "1 hour 1 minute"},
      {7260000, "2 hours 1 minute"},  {0xFFFFFFFFu, "1193 hours 2 minutes"},
  };
  for (const Case& c : cases) EXPECT_EQ(time_of(c.ms), c.text) << c.ms;
}

TEST(TimeText, CutToTheBuffer) {
  char buf[6];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(time_text(7260000, buf, sizeof buf), 5u);
  EXPECT_STREQ(buf, "2 hou");
  EXPECT_EQ(time_text(5, buf, 0), 0u);  // nothing written at all
  EXPECT_EQ(buf[0], '2');
}

TEST(TenthsText, Digits) {
  char buf[32];
  tenths_text(0, buf, sizeof buf);
  EXPECT_STREQ(buf, "0.0");
  tenths_text(299, buf, sizeof buf);
  EXPECT_STREQ(buf, "29.9");
  tenths_text(42949672950ull, buf, sizeof buf);  // past 32 bits: no wrap
  EXPECT_STREQ(buf, "4294967295.0");
}

TEST(StatsLine, KnownRecord) {
  RealtimeStats s{};
  s.frame = 150;
  s.frames = 30;
  s.window_ms = 1001;
  s.video_ms = 400;
  s.audio_ms = 100;
  s.read_ms = 30;
  s.idle_read_ms = 20;
  s.back_read_ms = 10;
  s.blit_ms = 250;
  s.wanted = 99999;
  s.buffered = 50000;
  s.data_rate = 123456;
  char buf[kStatsLineCap];
  stats_line_text(&s, buf, sizeof buf);
  // FPS 30 * 10000 / 1001 = 299 tenths; Buf (50001 * 1000 / 100000 + 5) / 10 = 50.
  EXPECT_STREQ(buf,
               "Fr: 150, FPS: 29.9, Buf: 50%, Vid: 39%, Aud: 9%, Blit: 24%, Read: 4%, Back: 0%, "
               "Rate: 123456");
}

TEST(StatsLine, ZeroWindowAndHugeValues) {
  RealtimeStats s{};
  s.frames = 1;  // window_ms 0 counts as 1
  s.video_ms = 0xFFFFFFFFu;
  s.wanted = 0xFFFFFFFFu;
  s.buffered = 0xFFFFFFFFu;
  char buf[kStatsLineCap];
  stats_line_text(&s, buf, sizeof buf);
  EXPECT_STREQ(buf,
               "Fr: 0, FPS: 1000.0, Buf: 100%, Vid: 429496729500%, Aud: 0%, Blit: 0%, Read: 0%, "
               "Back: 0%, Rate: 0");
  EXPECT_LT(std::strlen(buf), kStatsLineCap);
}

PlaybackSummary full_summary() {
  PlaybackSummary s{};
  s.width = 640;
  s.height = 480;
  s.playback_ms = 61000;
  s.header_rate_num = 30000;
  s.header_rate_den = 1001;
  s.rate_num = 25;
  s.rate_den = 1;
  s.open_ms = 250;
  s.frame_count = 1800;
  s.frames_played = 1525;
  s.skipped_blits = 12;
  s.sound_skips = 1;
  s.blit_ms = 6100;
  s.read_ms = 610;
  s.video_ms = 30500;
  s.audio_ms = 3050;
  s.idle_read_ms = 61;
  s.back_read_ms = 6;
  s.device_speed = 12345678;
  s.slowest_ms = 80;
  s.second_ms = 70;
  s.slowest_frame = 1;
  s.second_frame = 900;
  s.avg_data_rate = 150000;
  s.avg_frame_size = 5000;
  s.total_memory = 4000000;
  s.input_memory = 1048576;
  s.peak_input_memory = 1000000;
  s.peak_rate = 300000;
  s.peak_frame = 31;
  return s;
}

TEST(SummaryText, WholeText) {
  PlaybackSummary s = full_summary();
  char buf[kSummaryTextCap];
  ASSERT_TRUE(summary_text(&s, "Memory surface, 32-bit RGB", 1024, 768, 32, buf, sizeof buf));
  EXPECT_STREQ(buf,
               "Video: 640 x 480 at 29.9 frames/sec\n"
               "Total frames: 1800\n"
               "\n"
               "Total frames played: 1525\n"
               "Frame rate played: 25.0 frames/sec\n"
               "Frame rate obtained: 25.0 frames/sec\n"
               "Skipped frames: 0\n"
               "Skipped blits: 12\n"
               "Sound skips: 1\n"
               "\n"
               "Percentage spent decompressing video: 50.0\n"
               "Percentage spent decompressing audio: 5.0\n"
               "Percentage spent blitting: 10.0\n"
               "Percentage spent reading: 1.0\n"
               "Percentage spent reading while idle: 0.1\n"
               "Percentage spent reading in background: 0.0\n"
               "Speed of playback device: 12345678 bytes/sec\n"
               "\n"
               "Total playback time: 1 minute 1 second\n"
               "Total open time: 250 milliseconds\n"
               "Slowest frame: 1 (12.5 frames/sec)\n"
               "Second slowest frame: 900 (14.2 frames/sec)\n"
               "\n"
               "Average data rate: 150000\n"
               "Average frame size: 5000\n"
               "Peak data rate: 300000 bytes/sec (frame: 31)\n"
               "\n"
               "Total memory used: 4000000\n"
               "Total input memory: 1048576\n"
               "Highest input memory used: 1000000\n"
               "\n"
               "Blitting style: Memory surface, 32-bit RGB\n"
               "Video mode: 1024 x 768 at 32 bits\n");
  EXPECT_LT(std::strlen(buf), kSummaryTextCap);
  EXPECT_STREQ(kSummaryTitle, "Korva Playback Summary");
}

std::string summary_of(const PlaybackSummary& s) {
  char buf[kSummaryTextCap];
  EXPECT_TRUE(summary_text(&s, nullptr, 640, 480, 16, buf, sizeof buf));
  return buf;
}

bool contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

TEST(SummaryText, OneFrameHasAnEmptyLineForTheSecondSlowest) {
  PlaybackSummary s = full_summary();
  s.frames_played = 1;
  std::string text = summary_of(s);
  EXPECT_FALSE(contains(text, "Second slowest"));
  EXPECT_TRUE(contains(text, "Slowest frame: 1 (12.5 frames/sec)\n\nAverage data rate: 150000\n"));
  EXPECT_TRUE(contains(text, "Blitting style: \nVideo mode: 640 x 480 at 16 bits\n"));
}

TEST(SummaryText, RatesAndZeroDenominators) {
  struct Case {
    uint32_t rate_num, rate_den, header_den, playback_ms, slowest_ms, second_ms;
    const char* parts[4];
  } const cases[] = {
      {0, 0, 1001, 61000, 80, 70,
       {"Frame rate played: As fast as possible\n", "at 29.9 frames/sec", "", ""}},
      {25, 0, 1001, 61000, 80, 70, {"Frame rate played: As fast as possible\n", "", "", ""}},
      {0, 1, 1001, 61000, 80, 70, {"Frame rate played: As fast as possible\n", "", "", ""}},
      {30000, 1001, 0, 61000, 80, 70,
       {"Frame rate played: 29.9 frames/sec\n", "Video: 640 x 480 at 0.0 frames/sec\n", "", ""}},
      // playback_ms 0 counts as 1 millisecond; slowest and second 0 count as 1.
      {25, 1, 1001, 0, 0, 0,
       {"Frame rate obtained: 1525000.0 frames/sec\n", "Total playback time: 0 milliseconds\n",
        "Slowest frame: 1 (1000.0 frames/sec)\n", "Second slowest frame: 900 (1000.0 frames/sec)\n"}},
  };
  for (const Case& c : cases) {
    PlaybackSummary s = full_summary();
    s.rate_num = c.rate_num;
    s.rate_den = c.rate_den;
    s.header_rate_den = c.header_den;
    s.playback_ms = c.playback_ms;
    s.slowest_ms = c.slowest_ms;
    s.second_ms = c.second_ms;
    std::string text = summary_of(s);
    for (const char* part : c.parts) EXPECT_TRUE(contains(text, part)) << part << "\n" << text;
  }
}

TEST(SummaryText, NothingPlayedMakesNoText) {
  PlaybackSummary s = full_summary();
  s.frames_played = 0;
  char buf[64] = "old";
  EXPECT_FALSE(summary_text(&s, "x", 1, 1, 8, buf, sizeof buf));
  EXPECT_STREQ(buf, "");
  EXPECT_FALSE(summary_text(nullptr, "x", 1, 1, 8, buf, sizeof buf));
}

TEST(SummaryText, LargestValuesFitAndSmallBuffersAreCut) {
  PlaybackSummary s;
  std::memset(&s, 0xFF, sizeof s);
  s.playback_ms = 1;
  char style[160];
  std::memset(style, 'S', sizeof style - 1);
  style[sizeof style - 1] = 0;
  char buf[kSummaryTextCap];
  ASSERT_TRUE(summary_text(&s, style, 0xFFFFFFFFu, 0xFFFFFFFFu, 32, buf, sizeof buf));
  EXPECT_LT(std::strlen(buf), kSummaryTextCap - 1);  // not cut
  char small[40];
  ASSERT_TRUE(summary_text(&s, style, 1, 1, 1, small, sizeof small));
  EXPECT_EQ(std::strlen(small), sizeof small - 1);
}

}  // namespace
