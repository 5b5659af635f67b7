#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sound/backends/capture.h"

namespace {

struct FakeClock {
  uint32_t now = 5000;
};
uint32_t fake_ms(void* ctx) { return static_cast<FakeClock*>(ctx)->now; }

struct Closed {
  std::vector<uint8_t> log;
  uint32_t dropped = 0;
  int calls = 0;
};
void on_close(void* ctx, const SoundOutput*, const uint8_t* log, uint32_t n, uint32_t dropped) {
  Closed* c = static_cast<Closed*>(ctx);
  c->log.assign(log, log + n);
  c->dropped = dropped;
  ++c->calls;
}

CaptureConfig config(uint32_t buffer_bytes, uint32_t realtime, FakeClock* clock,
                     uint32_t queue_buffers = 3) {
  CaptureConfig c;
  capture_default_config(&c);
  c.buffer_bytes = buffer_bytes;
  c.realtime = realtime;
  c.queue_buffers = queue_buffers;
  c.clock_ms = fake_ms;
  c.clock_ctx = clock;
  return c;
}

// One pump step: take a buffer, fill it with `value`, commit `bytes` of it (all when 0).
bool feed(SoundOutput* out, uint8_t value, uint32_t bytes = 0) {
  if (!out->sound_ready(out)) return false;
  uint8_t* buffer = nullptr;
  uint32_t size = 0;
  if (!out->sound_get_buffer(out, &buffer, &size)) return false;
  if (!bytes || bytes > size) bytes = size;
  std::memset(buffer, value, bytes);
  out->sound_commit(out, bytes);
  return true;
}

CaptureCounts counts_of(SoundOutput* out) {
  CaptureCounts c{};
  EXPECT_TRUE(capture_counts(out, &c));
  return c;
}

struct Capture : ::testing::Test {
  FakeClock clock;
  SoundOutput out{};
  void TearDown() override {
    if (capture_is_open(&out)) out.sound_close(&out);
    capture_configure(nullptr);
  }
};

TEST_F(Capture, CommittedBytesAreRecordedInOrder) {
  CaptureConfig c = config(256, 0, &clock);
  ASSERT_EQ(capture_provider(&c), &capture_open);
  ASSERT_TRUE(capture_open(&out, 44100, 16, 2, 0, nullptr));
  EXPECT_TRUE(out.sound_ready && out.sound_get_buffer && out.sound_commit && out.sound_set_volume &&
              out.sound_set_pan && out.sound_pause && out.sound_on_off && out.sound_close);
  EXPECT_FALSE(out.sound_set_speakers || out.sound_set_speaker_volumes);
  EXPECT_EQ(out.output_on, 1u);
  std::vector<uint8_t> want;
  for (uint8_t i = 1; i <= 20; ++i) {
    uint32_t bytes = i % 3 ? 256 : 100;  // some short buffers, as after the flush frame
    ASSERT_TRUE(feed(&out, i, bytes));
    want.insert(want.end(), bytes, i);
  }
  out.sound_commit(&out, 256);  // no buffer offered: ignored
  uint32_t n = 0;
  const uint8_t* log = capture_log(&out, &n);
  ASSERT_EQ(n, want.size());
  EXPECT_EQ(std::vector<uint8_t>(log, log + n), want);
  CaptureCounts k = counts_of(&out);
  EXPECT_EQ(k.commits, 20u);
  EXPECT_EQ(k.committed, want.size());
  EXPECT_EQ(k.consumed, want.size());  // at once: nothing waits
  EXPECT_EQ(k.queued, 0u);
  EXPECT_EQ(out.underrun, 0u);
}

TEST_F(Capture, AtOnceIsAlwaysReadyWhileOnAndPlaying) {
  CaptureConfig c = config(512, 0, &clock);
  capture_configure(&c);
  ASSERT_TRUE(capture_open(&out, 22050, 16, 1, 0, nullptr));
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(feed(&out, uint8_t(i)));
  EXPECT_EQ(out.sound_pause(&out, 1), 1u);
  EXPECT_EQ(out.sound_ready(&out), 0u);
  EXPECT_EQ(out.sound_pause(&out, 0), 0u);
  EXPECT_EQ(out.sound_ready(&out), 1u);
  EXPECT_EQ(out.sound_on_off(&out, 0), 0u);
  EXPECT_EQ(out.sound_ready(&out), 0u);
  EXPECT_EQ(out.sound_on_off(&out, 1), 1u);
  EXPECT_EQ(out.sound_ready(&out), 1u);
  // On request it runs dry, in this mode too.
  capture_run_dry(&out);
  EXPECT_EQ(out.underrun, 1u);
}

TEST_F(Capture, RealTimeDrainsAtTheRateAndRunsDry) {
  // 1000 Hz, 16-bit mono: 2000 bytes a second, 2 a millisecond; buffers of 400, at most 3.
  CaptureConfig c = config(400, 1, &clock, 3);
  capture_configure(&c);
  ASSERT_TRUE(capture_open(&out, 1000, 16, 1, 0, nullptr));
  clock.now += 1000;  // nothing drains before the first commit
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(feed(&out, 7));
  EXPECT_FALSE(feed(&out, 7));
  struct Step {
    uint32_t at_ms;  // after the first commit
    uint32_t queued, ready;
  } const steps[] = {{0, 1200, 0}, {100, 1000, 0}, {199, 802, 0}, {200, 800, 1}, {600, 0, 1}};
  uint32_t start = clock.now;
  for (const Step& s : steps) {
    clock.now = start + s.at_ms;
    EXPECT_EQ(out.sound_ready(&out), s.ready) << s.at_ms;
    EXPECT_EQ(counts_of(&out).queued, s.queued) << s.at_ms;
    EXPECT_EQ(out.underrun, 0u) << s.at_ms;
  }
  clock.now = start + 601;  // the queue ran out exactly at 600
  capture_update(&out);
  EXPECT_EQ(out.underrun, 1u);
  CaptureCounts k = counts_of(&out);
  EXPECT_EQ(k.underruns, 1u);
  EXPECT_EQ(k.consumed, 1200u);
  // After the engine clears the flag, the next commit starts the clock afresh.
  out.underrun = 0;
  clock.now += 5000;
  ASSERT_TRUE(feed(&out, 8));
  clock.now += 100;
  EXPECT_EQ(counts_of(&out).queued, 200u);
  EXPECT_EQ(out.underrun, 0u);
}

TEST_F(Capture, PauseStopsDrainingAndOffDiscards) {
  CaptureConfig c = config(400, 1, &clock, 3);
  capture_configure(&c);
  ASSERT_TRUE(capture_open(&out, 1000, 16, 1, 0, nullptr));
  ASSERT_TRUE(feed(&out, 1));
  ASSERT_TRUE(feed(&out, 2));
  clock.now += 100;  // 200 drained
  EXPECT_EQ(out.sound_pause(&out, 1), 1u);
  clock.now += 60000;
  EXPECT_EQ(out.sound_ready(&out), 0u);
  uint8_t* buffer = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(out.sound_get_buffer(&out, &buffer, &size), 0u);
  EXPECT_EQ(counts_of(&out).queued, 600u);
  EXPECT_EQ(out.underrun, 0u);
  EXPECT_EQ(out.sound_pause(&out, 0), 0u);
  clock.now += 50;
  EXPECT_EQ(counts_of(&out).queued, 500u);
  EXPECT_EQ(out.sound_on_off(&out, 0), 0u);
  CaptureCounts k = counts_of(&out);
  EXPECT_EQ(k.queued, 0u);
  EXPECT_EQ(k.discarded, 500u);
  EXPECT_EQ(k.consumed, 300u);
  clock.now += 10000;
  EXPECT_EQ(out.sound_on_off(&out, 1), 1u);
  EXPECT_EQ(out.underrun, 0u);  // switched off, it did not run dry
  ASSERT_TRUE(feed(&out, 3));
  EXPECT_EQ(counts_of(&out).queued, 400u);
}

TEST_F(Capture, BufferSizesInOutputAndRingBytes) {
  struct Case {
    uint32_t asked, bits, channels, size, backend_bytes;
  } const cases[] = {
      {4096, 16, 2, 4096, 4096}, {4096, 8, 1, 4096, 8192}, {4096, 8, 2, 4096, 8192},
      {1001, 16, 1, 1000, 1000}, {0, 16, 2, 4, 4},
  };
  for (const Case& k : cases) {
    CaptureConfig c = config(k.asked, 0, &clock);
    capture_configure(&c);
    ASSERT_TRUE(capture_open(&out, 11025, k.bits, k.channels, 0, nullptr));
    EXPECT_EQ(out.backend_bytes, k.backend_bytes) << k.asked << " " << k.bits;
    uint8_t* buffer = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(out.sound_get_buffer(&out, &buffer, &size));
    EXPECT_EQ(size, k.size);
    std::memset(buffer, 0x80, size);  // the whole offered buffer is writable
    out.sound_commit(&out, size + 100);  // more than offered: cut to the buffer
    EXPECT_EQ(counts_of(&out).committed, k.size);
    out.sound_close(&out);
    EXPECT_FALSE(capture_is_open(&out));
    EXPECT_EQ(out.sound_ready(&out), 0u);  // a closed record is inert
  }
}

TEST_F(Capture, RefusesOddFormats) {
  capture_configure(nullptr);
  const uint32_t formats[][3] = {{0, 16, 2}, {44100, 24, 2}, {44100, 16, 3}, {44100, 16, 0}};
  for (const auto& f : formats) EXPECT_EQ(capture_open(&out, f[0], f[1], f[2], 0, nullptr), 0u);
  EXPECT_FALSE(capture_is_open(&out));
}

TEST_F(Capture, LogCapAndCloseHook) {
  Closed closed;
  CaptureConfig c = config(400, 0, &clock);
  c.log_cap = 1000;
  c.on_close = on_close;
  c.close_ctx = &closed;
  capture_configure(&c);
  ASSERT_TRUE(capture_open(&out, 8000, 8, 1, 0, nullptr));
  for (uint8_t i = 0; i < 3; ++i) ASSERT_TRUE(feed(&out, i));
  CaptureCounts k = counts_of(&out);
  EXPECT_EQ(k.log_bytes, 1000u);
  EXPECT_EQ(k.dropped_bytes, 200u);
  EXPECT_EQ(k.committed, 1200u);
  out.sound_close(&out);
  ASSERT_EQ(closed.calls, 1);
  ASSERT_EQ(closed.log.size(), 1000u);
  EXPECT_EQ(closed.log[399], 0);
  EXPECT_EQ(closed.log[400], 1);
  EXPECT_EQ(closed.log[999], 2);
  EXPECT_EQ(closed.dropped, 200u);
}

TEST_F(Capture, RecordsAreIndependent) {
  CaptureConfig fast = config(64, 0, &clock);
  capture_configure(&fast);
  SoundOutput second{};
  ASSERT_TRUE(capture_open(&out, 8000, 16, 1, 0, nullptr));
  CaptureConfig slow = config(128, 1, &clock, 1);
  capture_configure(&slow);
  ASSERT_TRUE(capture_open(&second, 8000, 16, 2, 0, nullptr));
  ASSERT_TRUE(feed(&out, 1));
  ASSERT_TRUE(feed(&second, 2));
  EXPECT_FALSE(feed(&second, 2));  // one buffer queued in real time
  ASSERT_TRUE(feed(&out, 3));       // the first still takes everything at once
  out.sound_set_volume(&out, 1000);
  second.sound_set_pan(&second, 70000);
  uint32_t n1 = 0, n2 = 0;
  const uint8_t* a = capture_log(&out, &n1);
  const uint8_t* b = capture_log(&second, &n2);
  ASSERT_EQ(n1, 128u);
  ASSERT_EQ(n2, 128u);
  EXPECT_EQ(a[0], 1);
  EXPECT_EQ(a[127], 3);
  EXPECT_EQ(b[127], 2);
  EXPECT_EQ(counts_of(&out).volume, 1000);
  EXPECT_EQ(counts_of(&out).pan, 32768u);
  EXPECT_EQ(counts_of(&second).pan, 65536u);
  capture_set_realtime(&second, 0);  // the queue counts as played
  EXPECT_EQ(counts_of(&second).queued, 0u);
  EXPECT_TRUE(feed(&second, 4));
  second.sound_close(&second);
}

}  // namespace
