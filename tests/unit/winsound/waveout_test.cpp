#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sound/sound_output.h"
#include "sound/backends/waveout_core.h"

namespace {

// A fake wave device: it records every call; a written buffer plays when the test says so.
struct WaveLog {
  bool fail_open = false;
  int opens = 0, closes = 0, resets = 0, pauses = 0, restarts = 0;
  int prepared = 0, unprepared = 0;
  std::vector<uint32_t> writes;    // header indexes, in order
  std::vector<uint32_t> lengths;   // their lengths when written
  std::vector<uint32_t> volumes;
  WaveHeader* first = nullptr;     // header 0 (to turn header pointers into indexes)
};
WaveLog g;
int g_handle;

uint32_t index_of(const WaveHeader* h) { return uint32_t(h - g.first); }

void* f_open(uint32_t, uint32_t, uint32_t) {
  ++g.opens;
  return g.fail_open ? nullptr : &g_handle;
}
void f_prepare(void*, WaveHeader* h) {
  if (!g.first || h < g.first) g.first = h;
  h->flags |= 0x2;  // prepared
  ++g.prepared;
}
void f_write(void*, WaveHeader* h) {
  g.writes.push_back(index_of(h));
  g.lengths.push_back(h->length);
}
void f_pause(void*) { ++g.pauses; }
void f_restart(void*) { ++g.restarts; }
void f_reset(void*) { ++g.resets; }
void f_unprepare(void*, WaveHeader*) { ++g.unprepared; }
void f_close(void*) { ++g.closes; }
void f_volume(void*, uint32_t v) { g.volumes.push_back(v); }

constexpr WaveOutDevice kFake = {f_open,   f_prepare, f_write,     f_pause, f_restart,
                                 f_reset,  f_unprepare, f_close, f_volume};

struct WaveOut : ::testing::Test {
  SoundOutput out{};
  std::unique_ptr<SoundLength> movie{new SoundLength{}};
  void SetUp() override { g = WaveLog{}; }
  void TearDown() override {
    if (out.sound_close) out.sound_close(&out);
  }
  bool open(uint32_t rate = 44100, uint32_t bits = 16, uint32_t channels = 2, const SoundLength* m = nullptr) {
    return waveout_open(&out, &kFake, rate, bits, channels, m) != 0;
  }
  WaveOutState* st() { return waveout_state(&out); }
  // One pump step: a buffer filled with `value`, `bytes` of it committed (all when 0).
  bool feed(uint8_t value = 1, uint32_t bytes = 0) {
    if (!out.sound_ready(&out)) return false;
    uint8_t* b = nullptr;
    uint32_t n = 0;
    if (!out.sound_get_buffer(&out, &b, &n)) return false;
    if (!bytes) bytes = n;
    std::memset(b, value, bytes);
    out.sound_commit(&out, bytes);
    return true;
  }
  void finish(uint32_t i) { st()->headers[i]->flags |= kWaveHeaderDone; }
};

TEST_F(WaveOut, SizesLayoutAndOpen) {
  uint32_t buffer = 0, start = 0;
  waveout_sizes(44100, 16, 2, &buffer, &start);
  EXPECT_EQ(buffer, 11040u);
  EXPECT_EQ(start, 88224u);
  EXPECT_EQ(waveout_memory_bytes(buffer), 16 * (11040 + sizeof(void*) + sizeof(WaveHeader)));
  if (sizeof(void*) == 4) {
    EXPECT_EQ(waveout_memory_bytes(buffer), 16u * (11040 + 36));
  }

  ASSERT_TRUE(open());
  WaveOutState* s = st();
  EXPECT_EQ(s->buffer_bytes, 11040u);
  EXPECT_EQ(s->start_bytes, 88224u);
  EXPECT_EQ(out.backend_bytes, 11040u);
  EXPECT_EQ(out.latency_ms, 0u);
  EXPECT_EQ(out.output_on, 1u);
  EXPECT_FALSE(out.sound_set_speakers || out.sound_set_speaker_volumes);
  // Buffers, then the sixteen header pointers, then the headers.
  uint8_t* pointers = s->memory + 16 * 11040;
  EXPECT_EQ(reinterpret_cast<uint8_t*>(s->headers), pointers);
  for (uint32_t i = 0; i < 16; ++i) {
    EXPECT_EQ(reinterpret_cast<uint8_t*>(s->headers[i]),
              pointers + 16 * sizeof(WaveHeader*) + i * sizeof(WaveHeader));
    EXPECT_EQ(s->headers[i]->data, s->memory + i * 11040);
    EXPECT_EQ(s->headers[i]->flags, 0x3u);  // prepared and free
    EXPECT_EQ(s->headers[i]->length, 11040u);
  }
  EXPECT_EQ(g.prepared, 16);
  for (uint32_t i = 0; i < 16 * 11040; ++i) ASSERT_EQ(s->memory[i], 0);
}

TEST_F(WaveOut, RejectsFormatsAndFailedDevice) {
  EXPECT_FALSE(open(44100, 12, 2));
  EXPECT_FALSE(open(44100, 16, 3));
  EXPECT_FALSE(open(0, 16, 2));
  g.fail_open = true;
  EXPECT_FALSE(open());
  EXPECT_EQ(out.sound_ready, nullptr);
}

TEST_F(WaveOut, QueuesHalfASecondThenWritesAtOnce) {
  ASSERT_TRUE(open());
  for (int i = 0; i < 7; ++i) ASSERT_TRUE(feed());
  EXPECT_TRUE(g.writes.empty());
  EXPECT_EQ(st()->queued, 7u * 11040);
  ASSERT_TRUE(feed());  // 8 x 11040 = 88320 >= 88224
  EXPECT_EQ(g.writes, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7}));
  for (uint32_t n : g.lengths) EXPECT_EQ(n, 11040u);
  EXPECT_EQ(st()->playing, 1u);
  ASSERT_TRUE(feed(9, 4000));
  EXPECT_EQ(g.writes.back(), 8u);
  EXPECT_EQ(g.lengths.back(), 4000u);
  EXPECT_EQ(st()->headers[8]->flags & kWaveHeaderDone, 0u);
}

TEST_F(WaveOut, RunningDryIsAnUnderrunAndQueuesAfresh) {
  ASSERT_TRUE(open());
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(feed());
  ASSERT_EQ(g.writes.size(), 10u);
  for (uint32_t i = 0; i < 16; ++i) finish(i);
  EXPECT_EQ(out.sound_ready(&out), 1u);
  EXPECT_EQ(out.underrun, 1u);
  EXPECT_EQ(st()->playing, 0u);
  EXPECT_EQ(st()->queued, 0u);
  EXPECT_EQ(st()->current, 0);
  out.underrun = 0;
  for (int i = 0; i < 7; ++i) ASSERT_TRUE(feed());
  EXPECT_EQ(g.writes.size(), 10u);  // queuing again
  ASSERT_TRUE(feed());
  EXPECT_EQ(g.writes.size(), 18u);
  EXPECT_EQ(g.writes[10], 0u);
  EXPECT_EQ(out.underrun, 0u);
}

TEST_F(WaveOut, OffersLowestDoneBufferWhenNextIsBusy) {
  ASSERT_TRUE(open());
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(feed());
  EXPECT_EQ(out.sound_ready(&out), 0u);  // all sixteen with the device
  finish(5);
  finish(3);
  ASSERT_EQ(out.sound_ready(&out), 1u);
  EXPECT_EQ(st()->current, 3);
  ASSERT_TRUE(feed());
  EXPECT_EQ(g.writes.back(), 3u);
  finish(0);  // the next after 3 (4) is busy: the lowest done of 0 and 5
  ASSERT_EQ(out.sound_ready(&out), 1u);
  EXPECT_EQ(st()->current, 0);
}

TEST_F(WaveOut, ShortMovieStartsWhenAllOfItIsQueued) {
  movie->frame_count = 3;
  movie->rate_num = 10;
  movie->rate_den = 1;  // 0.3 s: 52920 bytes
  ASSERT_TRUE(open(44100, 16, 2, movie.get()));
  EXPECT_EQ(st()->total_bytes, 52920u);
  EXPECT_EQ(st()->start_bytes, 52920u);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(feed());
  EXPECT_TRUE(g.writes.empty());
  ASSERT_TRUE(feed(1, 52920 - 4 * 11040));
  EXPECT_EQ(g.writes, (std::vector<uint32_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(g.lengths.back(), 52920u - 4 * 11040);  // the short piece plays only its bytes
}

TEST_F(WaveOut, SixteenShortPiecesStartPlaying) {
  ASSERT_TRUE(open());
  for (int i = 0; i < 15; ++i) ASSERT_TRUE(feed(1, 400));
  EXPECT_TRUE(g.writes.empty());
  ASSERT_TRUE(feed(1, 400));  // every buffer holds sound: nothing may be overwritten
  ASSERT_EQ(g.writes.size(), 16u);
  EXPECT_EQ(g.writes.front(), 0u);
  EXPECT_EQ(g.writes.back(), 15u);
}

TEST_F(WaveOut, EightBitSilenceAndBufferSize) {
  ASSERT_TRUE(open(22050, 8, 1));
  EXPECT_EQ(st()->buffer_bytes, 1408u);  // 1378 rounded up to 32
  EXPECT_EQ(out.backend_bytes, 2u * 1408);
  for (uint32_t i = 0; i < 16 * 1408; ++i) ASSERT_EQ(st()->memory[i], 0x80);
}

TEST_F(WaveOut, VolumeAndPan) {
  ASSERT_TRUE(open());
  out.sound_set_pan(&out, 32767);
  ASSERT_EQ(g.volumes.size(), 1u);
  EXPECT_EQ(g.volumes.back(), 0x7fff7fffu);  // 32767 both sides
  out.sound_set_pan(&out, 65536);
  EXPECT_EQ(g.volumes.back(), 0x7fff0000u);  // left 0
  out.sound_set_pan(&out, 70000);
  EXPECT_EQ(st()->pan, 65536u);
  out.sound_set_pan(&out, 0);
  EXPECT_EQ(g.volumes.back(), 0x00007fffu);  // right 0
  out.sound_set_pan(&out, 49152);
  EXPECT_EQ(g.volumes.back(), 0x7fffu * 0x10000 + uint32_t(uint64_t(32767) * 16384 / 32769));
  out.sound_set_volume(&out, 32767);
  EXPECT_EQ(st()->volume, 16383u);
  out.sound_set_volume(&out, 65535);
  EXPECT_EQ(st()->volume, 32767u);
  out.sound_set_volume(&out, 100000);
  EXPECT_EQ(st()->volume, 32767u);
  out.sound_set_volume(&out, 0);
  EXPECT_EQ(st()->volume, 0u);
}

TEST_F(WaveOut, PauseAndSwitching) {
  ASSERT_TRUE(open());
  EXPECT_EQ(out.sound_pause(&out, 1), 1u);
  EXPECT_EQ(g.pauses, 1);
  EXPECT_EQ(out.sound_ready(&out), 0u);
  EXPECT_EQ(out.sound_pause(&out, 0), 0u);
  EXPECT_EQ(g.restarts, 1);
  for (int i = 0; i < 9; ++i) ASSERT_TRUE(feed());

  EXPECT_EQ(out.sound_on_off(&out, 0), 0u);
  EXPECT_EQ(g.resets, 1);
  EXPECT_EQ(g.unprepared, 16);
  EXPECT_EQ(g.closes, 1);
  EXPECT_EQ(st()->memory, nullptr);
  EXPECT_EQ(out.sound_ready(&out), 0u);
  EXPECT_EQ(out.sound_on_off(&out, 0), 0u);
  EXPECT_EQ(g.closes, 1);

  g.fail_open = true;
  EXPECT_EQ(out.sound_on_off(&out, 1), 0u);  // a failed reopen leaves the output off
  EXPECT_EQ(out.sound_ready(&out), 0u);
  g.fail_open = false;
  g.first = nullptr;
  EXPECT_EQ(out.sound_on_off(&out, 1), 1u);
  EXPECT_EQ(g.opens, 3);
  EXPECT_EQ(st()->queued, 0u);
  EXPECT_EQ(st()->playing, 0u);
  EXPECT_EQ(out.sound_ready(&out), 1u);
  EXPECT_EQ(st()->current, 0);
}

}  // namespace
