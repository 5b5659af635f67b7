#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "sound/sound_output.h"
#include "sound/backends/dsound_core.h"

namespace {

// A fake DirectSound: buffers are byte arrays with cursors the test moves; every call counted.
struct FakeBuffer {
  uint32_t flags = 0, bytes = 0;
  std::vector<uint8_t> data;
  uint32_t play = 0, write = 0;
  bool playing = false;
  int plays = 0, stops = 0, unlocks = 0, restores = 0, released = 0;
  int lost_locks = 0;  // the next so many Locks answer "lost"
  int lost_plays = 0;
  uint32_t format_rate = 0;
  int32_t volume = 1, pan = 1;
  uint32_t frequency = 0;
  std::deque<std::pair<uint32_t, uint32_t>> script;  // cursor readings to give first
  std::vector<std::pair<uint32_t, uint32_t>> locks;  // offset, bytes
  std::vector<uint32_t> unlocked;                    // first + second bytes of each Unlock
};

struct DsLog {
  bool fail_create = false, fail_cooperate = false, fail_buffer = false;
  int creates = 0, cooperates = 0, object_releases = 0, sleeps = 0;
  uint32_t now = 1000;
  uint32_t tick = 0;  // the clock advances this much per reading
  std::vector<std::unique_ptr<FakeBuffer>> buffers;
};
DsLog g;
int g_object;

FakeBuffer* fb(void* b) { return static_cast<FakeBuffer*>(b); }

void* f_create_object() {
  ++g.creates;
  return g.fail_create ? nullptr : &g_object;
}
uint32_t f_cooperate(void*) {
  ++g.cooperates;
  return g.fail_cooperate ? 0 : 1;
}
void f_release_object(void*) { ++g.object_releases; }
void* f_create_buffer(void*, uint32_t flags, uint32_t bytes, const DsoundFormat* f) {
  if (g.fail_buffer && !(flags & kDsoundPrimaryFlags)) return nullptr;
  auto b = std::make_unique<FakeBuffer>();
  b->flags = flags;
  b->bytes = bytes;
  b->data.assign(bytes, 0x55);
  if (f) b->format_rate = f->rate;
  g.buffers.push_back(std::move(b));
  return g.buffers.back().get();
}
void f_release_buffer(void* b) { ++fb(b)->released; }
int32_t f_get_position(void* b, uint32_t* play, uint32_t* write) {
  FakeBuffer* x = fb(b);
  if (!x->script.empty()) {
    *play = x->script.front().first;
    *write = x->script.front().second;
    x->script.pop_front();
    return 0;
  }
  *play = x->play;
  *write = x->write;
  return 0;
}
int32_t f_get_status(void* b, uint32_t* status) {
  *status = fb(b)->playing ? 1 : 0;
  return 0;
}
int32_t f_lock(void* b, uint32_t offset, uint32_t bytes, uint8_t** p1, uint32_t* n1, uint8_t** p2, uint32_t* n2) {
  FakeBuffer* x = fb(b);
  if (x->lost_locks > 0) {
    --x->lost_locks;
    return kDsoundBufferLost;
  }
  if (!bytes || bytes > x->bytes || offset >= x->bytes) return -1;
  x->locks.push_back({offset, bytes});
  *p1 = x->data.data() + offset;
  *n1 = bytes < x->bytes - offset ? bytes : x->bytes - offset;
  *p2 = *n1 < bytes ? x->data.data() : nullptr;
  *n2 = bytes - *n1;
  return 0;
}
int32_t f_unlock(void* b, uint8_t*, uint32_t n1, uint8_t*, uint32_t n2) {
  ++fb(b)->unlocks;
  fb(b)->unlocked.push_back(n1 + n2);
  return 0;
}
int32_t f_play(void* b, uint32_t flags) {
  FakeBuffer* x = fb(b);
  if (x->lost_plays > 0) {
    --x->lost_plays;
    return kDsoundBufferLost;
  }
  EXPECT_EQ(flags, kDsoundPlayLooping);
  x->playing = true;
  ++x->plays;
  return 0;
}
int32_t f_stop(void* b) {
  fb(b)->playing = false;
  ++fb(b)->stops;
  return 0;
}
int32_t f_set_position(void* b, uint32_t pos) {
  fb(b)->play = fb(b)->write = pos;
  return 0;
}
int32_t f_set_format(void* b, const DsoundFormat* f) {
  fb(b)->format_rate = f->rate;
  return 0;
}
int32_t f_set_volume(void* b, int32_t v) {
  fb(b)->volume = v;
  return 0;
}
int32_t f_set_pan(void* b, int32_t p) {
  fb(b)->pan = p;
  return 0;
}
int32_t f_set_frequency(void* b, uint32_t hz) {
  fb(b)->frequency = hz;
  return 0;
}
int32_t f_restore(void* b) {
  ++fb(b)->restores;
  return 0;
}
uint32_t f_clock() { return g.now += g.tick; }
void f_sleep(uint32_t ms) {
  g.sleeps += ms == 10 ? 1 : 0;
  g.now += ms;
}

constexpr DsoundDevice kFake = {f_create_object, f_cooperate,    f_release_object, f_create_buffer,
                                f_release_buffer, f_get_position, f_get_status,     f_lock,
                                f_unlock,         f_play,         f_stop,           f_set_position,
                                f_set_format,     f_set_volume,   f_set_pan,        f_set_frequency,
                                f_restore,        f_clock,        f_sleep};

constexpr uint32_t kBuffer = 106496, kChunk = 8960, kLate = 95846;

struct Dsound : ::testing::Test {
  SoundOutput out{};
  std::unique_ptr<SoundLength> movie{new SoundLength{}};
  void SetUp() override {
    g = DsLog{};
    dsound_core_reset();
    dsound_core_install(&kFake, nullptr);
    movie->frame_count = 100;  // 4 s at 25 frames a second: the prefill is the whole buffer
    movie->rate_num = 25;
    movie->rate_den = 1;
  }
  void TearDown() override {
    if (out.sound_close) out.sound_close(&out);
  }
  bool open(uint32_t rate = 44100, uint32_t bits = 16, uint32_t channels = 2, const SoundLength* m = nullptr,
            SoundOutput* o = nullptr) {
    return dsound_core_open(o ? o : &out, rate, bits, channels, 0, m) != 0;
  }
  DsoundState* st() { return dsound_state(&out); }
  FakeBuffer* track() { return fb(st()->buffer); }
  // One pump step: offered bytes filled with `value` and all committed; returns the size.
  uint32_t feed(uint8_t value = 7) {
    if (!out.sound_ready(&out)) return 0;
    uint8_t* b = nullptr;
    uint32_t n = 0;
    if (!out.sound_get_buffer(&out, &b, &n)) return 0;
    std::fill(b, b + n, value);
    out.sound_commit(&out, n);
    return n;
  }
  // Prefilled with the whole buffer and playing from 0.
  void open_playing() {
    ASSERT_TRUE(open(44100, 16, 2, movie.get()));
    ASSERT_EQ(feed(), kBuffer);
    ASSERT_EQ(st()->playing, 1u);
  }
  // The cursors moved on and the next poll comes `ms` later.
  void cursors(uint32_t play, uint32_t write, uint32_t ms = 50) {
    track()->play = play;
    track()->write = write;
    g.now += ms;
  }
};

TEST_F(Dsound, SizesBuffersAndObjectLifetime) {
  DsoundSizes z;
  dsound_sizes(44100, 16, 2, &z);
  EXPECT_EQ(z.buffer_bytes, kBuffer);
  EXPECT_EQ(z.chunk_bytes, kChunk);
  EXPECT_EQ(z.late_bytes, kLate);
  EXPECT_EQ(z.guard_bytes, 1024u);
  EXPECT_EQ(z.queue_bytes, kBuffer);

  // The provider's trial creates the object, gives it the priority level and releases it.
  ASSERT_EQ(dsound_core_trial(), 1u);
  EXPECT_EQ(g.creates, 1);
  EXPECT_EQ(g.object_releases, 1);
  EXPECT_EQ(dsound_core_system()->users, 0u);
  EXPECT_EQ(dsound_core_system()->object, dsound_no_object());

  ASSERT_TRUE(open());
  EXPECT_EQ(g.creates, 2);
  EXPECT_EQ(g.cooperates, 2);
  ASSERT_EQ(g.buffers.size(), 2u);
  FakeBuffer* primary = g.buffers[0].get();
  EXPECT_EQ(primary->flags, kDsoundPrimaryFlags);
  EXPECT_EQ(primary->bytes, 0u);
  EXPECT_EQ(primary->format_rate, 44100u);
  EXPECT_TRUE(primary->playing);
  EXPECT_EQ(track()->flags, 0x180E0u);
  EXPECT_EQ(track()->bytes, kBuffer);
  EXPECT_EQ(out.backend_bytes, kChunk);
  EXPECT_EQ(st()->late_bytes, kLate);
  EXPECT_EQ(st()->guard_bytes, 1024u);
  EXPECT_EQ(st()->prefill_bytes, kChunk);  // no movie: one chunk
  EXPECT_EQ(st()->poll_gap_ms, 540u);
  EXPECT_EQ(out.latency_ms, 0u);
  // Frequency, centre pan, full volume; the whole buffer silent.
  EXPECT_EQ(track()->frequency, 44100u);
  EXPECT_EQ(track()->pan, 0);
  EXPECT_EQ(track()->volume, 0);
  for (uint8_t b : track()->data) ASSERT_EQ(b, 0);
  EXPECT_TRUE(out.sound_set_speakers && out.sound_set_speaker_volumes);

  // A second track shares the object and makes no primary buffer.
  SoundOutput second{};
  ASSERT_TRUE(open(22050, 8, 1, nullptr, &second));
  EXPECT_EQ(g.creates, 2);
  EXPECT_EQ(g.buffers.size(), 3u);
  EXPECT_EQ(second.backend_bytes, 2 * dsound_state(&second)->chunk_bytes);
  for (uint8_t b : fb(dsound_state(&second)->buffer)->data) ASSERT_EQ(b, 0x80);
  EXPECT_EQ(dsound_core_system()->users, 2u);
  second.sound_close(&second);
  EXPECT_EQ(g.object_releases, 1);
  FakeBuffer* first = track();
  out.sound_close(&out);
  EXPECT_EQ(first->released, 1);
  EXPECT_EQ(first->stops, 1);
  EXPECT_EQ(primary->released, 1);  // with the object
  EXPECT_EQ(g.object_releases, 2);
  EXPECT_EQ(dsound_core_system()->users, 0u);
  EXPECT_EQ(dsound_core_system()->object, dsound_no_object());
}

// Tracks of low rate: a 600 ms buffer under DirectSound's least size here (4 KiB: the 1024
// guard bytes and 100 ms of silence must fit well inside) is made 4 KiB, and the space beyond
// 600 ms is kept clear with the guard, so that no more than 600 ms are queued, as in any other
// buffer (the poll gap of 540 ms and the prefill keep their meaning).
TEST_F(Dsound, LowRateTracksGetTheLeastBuffer) {
  struct Case {
    uint32_t rate, bits, channels;
    DsoundSizes sizes;  // buffer, chunk, late, guard, queue
  };
  const Case kCases[] = {
      {44100, 16, 2, {kBuffer, kChunk, kLate, 1024, kBuffer}},
      {11025, 8, 1, {7168, 768, 6451, 1024, 7168}},    // under 10 KiB but 4 KiB or more: as designed
      {6830, 8, 1, {5120, 512, 4608, 1024, 5120}},
      {6826, 8, 1, {4096, 512, 3686, 1024, 4096}},     // 4095 bytes: rounds up to 4096 by itself
      {5120, 8, 1, {4096, 256, 2816, 1024, 3072}},     // 3072 bytes: enlarged, 600 ms queued at most
      {4000, 8, 1, {4096, 256, 2144, 1696, 2400}},
      {2000, 16, 1, {4096, 256, 2144, 1696, 2400}},
      {2000, 8, 1, {4096, 256, 944, 2896, 1200}},
      {1280, 8, 1, {4096, 256, 512, 3328, 768}},       // the least: 600 ms hold 3 chunks
      {1279, 8, 1, {0, 0, 0, 0, 0}},                   // a chunk would be more than 200 ms
      {0, 8, 1, {0, 0, 0, 0, 0}},
      {0xFFFFFFFFu, 16, 2, {0, 0, 0, 0, 0}},          // over 64 MiB, without wrapping round
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz " << c.bits << " bits " << c.channels);
    DsoundSizes z;
    dsound_sizes(c.rate, c.bits, c.channels, &z);
    EXPECT_EQ(z.buffer_bytes, c.sizes.buffer_bytes);
    EXPECT_EQ(z.chunk_bytes, c.sizes.chunk_bytes);
    EXPECT_EQ(z.late_bytes, c.sizes.late_bytes);
    EXPECT_EQ(z.guard_bytes, c.sizes.guard_bytes);
    EXPECT_EQ(z.queue_bytes, c.sizes.queue_bytes);
    SoundOutput o{};
    ASSERT_EQ(open(c.rate, c.bits, c.channels, movie.get(), &o), c.sizes.buffer_bytes != 0);
    if (!c.sizes.buffer_bytes) continue;
    FakeBuffer* b = fb(dsound_state(&o)->buffer);
    EXPECT_EQ(b->bytes, c.sizes.buffer_bytes);  // what DirectSound is asked for
    EXPECT_EQ(dsound_state(&o)->prefill_bytes, c.sizes.queue_bytes);  // the movie lasts 4 s
    o.sound_close(&o);
  }
}

TEST_F(Dsound, LowRateTrackPlaysThroughItsRingWithWrap) {
  // 8-bit mono at 4000 Hz: 4096 bytes of buffer, 2400 (600 ms) queued at most, 1696 kept clear.
  constexpr uint32_t kN = 4096, kQ = 2400, kGuard = kN - kQ;
  ASSERT_TRUE(open(4000, 8, 1, movie.get()));
  for (uint8_t v : track()->data) ASSERT_EQ(v, 0x80);  // 8-bit silence
  EXPECT_EQ(out.backend_bytes, 2u * 256);
  EXPECT_EQ(st()->poll_gap_ms, 540u);
  // The prefill is 600 ms; its commit starts the buffer.
  ASSERT_EQ(feed(1), kQ);
  ASSERT_EQ(st()->playing, 1u);
  EXPECT_EQ(st()->write_pos, kQ);
  // Every step: what is offered keeps at most 600 ms ahead of the play cursor, all the way
  // round the buffer (the region offered wraps at 4096, not at 600 ms).
  uint32_t play = 0;
  uint8_t value = 2;
  for (int step = 0; step < 40; ++step) {
    SCOPED_TRACE(step);
    play = (play + 332) % kN;  // 83 ms of sound a poll
    cursors(play, (play + 40) % kN);
    const uint32_t before = st()->write_pos;
    const uint32_t queued = (before + kN - play) % kN;
    ASSERT_EQ(out.sound_ready(&out), 1u);
    ASSERT_EQ(out.underrun, 0u);
    EXPECT_EQ(st()->writable, kQ - queued);
    uint32_t n = 0;
    while (st()->writable) {  // up to the end of the buffer, then from its start
      uint8_t* b = nullptr;
      uint32_t got = 0;
      ASSERT_EQ(out.sound_get_buffer(&out, &b, &got), 1u);
      ASSERT_EQ(b, track()->data.data() + st()->write_pos);
      ASSERT_LE(st()->write_pos + got, kN);
      std::fill(b, b + got, value);
      out.sound_commit(&out, got);
      n += got;
    }
    EXPECT_EQ(n, kQ - queued);
    EXPECT_EQ(st()->write_pos, (before + n) % kN);
    EXPECT_EQ((st()->write_pos + kN - play) % kN, kQ);  // 600 ms queued
    // What lies between the write position and the play cursor is the guard: not written.
    for (uint32_t i = 0; i < kGuard; ++i) ASSERT_NE(track()->data[(st()->write_pos + i) % kN], value) << i;
    ++value;
  }

  // The play cursor catching up (less than a chunk queued): 100 ms of silence at the write cursor.
  const uint32_t at = (st()->write_pos + kN - 100) % kN;
  cursors(at, (at + 40) % kN);
  ASSERT_EQ(out.sound_ready(&out), 1u);
  EXPECT_EQ(out.underrun, 1u);
  EXPECT_EQ(st()->write_pos, (at + 40 + 512) % kN);
  for (uint32_t i = 0; i < 512; ++i) ASSERT_EQ(track()->data[(at + 40 + i) % kN], 0x80) << i;
  EXPECT_EQ(st()->writable, kQ - (40 + 512));
  out.underrun = 0;
  const uint32_t to_end = kN - st()->write_pos;  // the first part offered ends at the buffer's end
  ASSERT_EQ(feed(9), std::min(kQ - (40 + 512), to_end));

  // Half a chunk's worth more than a chunk queued is no underrun yet.
  uint32_t w = st()->write_pos;
  if (st()->writable) w = (w + feed(9)) % kN;
  const uint32_t near = (w + kN - 300) % kN;
  cursors(near, (near + 40) % kN);
  ASSERT_EQ(out.sound_ready(&out), 1u);
  EXPECT_EQ(out.underrun, 0u);
  EXPECT_EQ(st()->writable, kQ - 300);

  // A polling gap of 540 ms is an underrun here too.
  feed(9);
  const uint32_t later = (near + 200) % kN;
  cursors(later, (later + 40) % kN, 540);
  ASSERT_EQ(out.sound_ready(&out), 1u);
  EXPECT_EQ(out.underrun, 1u);
}

TEST_F(Dsound, FailuresAndSuppliedObject) {
  g.fail_create = true;
  EXPECT_EQ(dsound_core_trial(), 0u);
  EXPECT_FALSE(open());
  EXPECT_EQ(dsound_core_system()->users, 0u);
  g.fail_create = false;

  // No priority level: no primary buffer, the track plays anyway.
  g.fail_cooperate = true;
  ASSERT_TRUE(open());
  EXPECT_EQ(g.buffers.size(), 1u);
  out.sound_close(&out);

  // A secondary buffer that cannot be made fails the open and gives the object back.
  g.fail_buffer = true;
  EXPECT_FALSE(open());
  EXPECT_EQ(dsound_core_system()->users, 0u);
  EXPECT_EQ(dsound_core_system()->object, dsound_no_object());
  g.fail_buffer = false;

  // A supplied object is neither created nor released.
  dsound_core_reset();
  int supplied = 0;
  dsound_core_install(&kFake, &supplied);
  const int creates = g.creates, releases = g.object_releases;
  ASSERT_EQ(dsound_core_trial(), 1u);
  ASSERT_TRUE(open());
  out.sound_close(&out);
  EXPECT_EQ(g.creates, creates);
  EXPECT_EQ(g.object_releases, releases);
  EXPECT_EQ(dsound_core_system()->object, &supplied);
}

TEST_F(Dsound, PrefillStartsOnTheCompletingCommit) {
  // 0.3 s of sound: 52920 bytes, shorter than the buffer.
  movie->frame_count = 3;
  movie->rate_num = 10;
  ASSERT_TRUE(open(44100, 16, 2, movie.get()));
  EXPECT_EQ(st()->prefill_bytes, 52920u);
  // Resuming while prefilling does not start the buffer.
  EXPECT_EQ(out.sound_pause(&out, 1), 1u);
  EXPECT_EQ(out.sound_ready(&out), 0u);
  EXPECT_EQ(out.sound_pause(&out, 0), 0u);
  EXPECT_EQ(track()->plays, 0);
  EXPECT_EQ(out.sound_ready(&out), 1u);  // prefilling: always ready
  uint8_t* b = nullptr;
  uint32_t n = 0;
  ASSERT_EQ(out.sound_get_buffer(&out, &b, &n), 1u);
  EXPECT_EQ(n, 52920u);
  EXPECT_EQ(b, track()->data.data());
  out.sound_commit(&out, 20000);
  EXPECT_EQ(st()->playing, 0u);
  EXPECT_EQ(feed(3), 32920u);
  EXPECT_EQ(st()->playing, 1u);
  EXPECT_EQ(track()->plays, 1);
  EXPECT_EQ(st()->write_pos, 52920u);
  EXPECT_EQ(track()->unlocked, (std::vector<uint32_t>{kBuffer, 52920, 32920}));

  // A movie longer than the buffer prefills the buffer; an odd length stays whole samples.
  SoundOutput other{};
  movie->frame_count = 1;
  movie->rate_num = 7;  // 176400 / 7 = 25200
  ASSERT_TRUE(open(44100, 16, 2, movie.get(), &other));
  EXPECT_EQ(dsound_state(&other)->prefill_bytes, 25200u);
  other.sound_close(&other);
  movie->rate_num = 13;  // 13569.2: 13568
  ASSERT_TRUE(open(44100, 16, 2, movie.get(), &other));
  EXPECT_EQ(dsound_state(&other)->prefill_bytes, 13568u);
  other.sound_close(&other);
}

TEST_F(Dsound, WritesBehindThePlayCursorWithWrap) {
  open_playing();
  EXPECT_EQ(st()->write_pos, 0u);
  // Play cursor at 50000: 48976 bytes free (1024 kept clear).
  cursors(50000, 51764);
  ASSERT_EQ(out.sound_ready(&out), 1u);
  EXPECT_EQ(st()->writable, 48976u);
  EXPECT_EQ(feed(1), 48976u);
  EXPECT_EQ(st()->write_pos, 48976u);
  EXPECT_EQ(out.underrun, 0u);
  // Less than 1024 free offers nothing; 1024 + 4n + r offers 4n.
  cursors(48976 + 1023, 48976 + 1023 + 1764);
  EXPECT_EQ(out.sound_ready(&out), 0u);
  cursors(48976 + 1024 + 9000 + 3, 48976 + 1024 + 9000 + 3 + 1764);
  ASSERT_EQ(out.sound_ready(&out), 1u);
  EXPECT_EQ(st()->writable, 9000u);
  EXPECT_EQ(feed(2), 9000u);
  // Wrap: write_pos 57976 -> play at 20000 past the end.
  cursors(100000, 101764);
  ASSERT_EQ(feed(3), 100000u - 57976 - 1024);
  ASSERT_EQ(st()->write_pos, 100000u - 1024);
  cursors(20000, 21764);
  ASSERT_EQ(out.sound_ready(&out), 1u);
  EXPECT_EQ(st()->writable, 20000u + kBuffer - (100000 - 1024) - 1024);
  uint8_t* b = nullptr;
  uint32_t n = 0;
  ASSERT_EQ(out.sound_get_buffer(&out, &b, &n), 1u);
  EXPECT_EQ(n, kBuffer - (100000 - 1024));  // the part before the end
  EXPECT_EQ(b, track()->data.data() + 100000 - 1024);
  out.sound_commit(&out, n);
  EXPECT_EQ(st()->write_pos, 0u);
  EXPECT_EQ(track()->unlocked.back(), 20000u + kBuffer - (100000 - 1024) - 1024);  // both parts
  EXPECT_EQ(st()->writable, 20000u - 1024);
  EXPECT_EQ(out.underrun, 0u);
}

TEST_F(Dsound, UnderrunByPollGapAndByPlayCursor) {
  open_playing();
  cursors(20000, 21764, 539);
  ASSERT_EQ(out.sound_ready(&out), 1u);
  EXPECT_EQ(out.underrun, 0u);
  EXPECT_EQ(feed(9), 20000u - 1024);

  // A gap of 540 ms: 100 ms of silence at the write cursor.
  cursors(30000, 31764, 540);
  ASSERT_EQ(out.sound_ready(&out), 1u);
  EXPECT_EQ(out.underrun, 1u);
  EXPECT_EQ(st()->write_pos, 31764u + 2 * kChunk);
  for (uint32_t i = 31764; i < 31764 + 2 * kChunk; ++i) ASSERT_EQ(track()->data[i], 0) << i;
  EXPECT_EQ(track()->data[31763], 7);
  EXPECT_EQ(track()->data[31764 + 2 * kChunk], 7);
  EXPECT_EQ(st()->writable, 30000u + kBuffer - (31764 + 2 * kChunk) - 1024);
  out.underrun = 0;

  // The play cursor catching up: free space at or above 90 % of the buffer.
  ASSERT_EQ(feed(5), kBuffer - 49684);  // up to the end of the buffer
  ASSERT_EQ(feed(5), 85788u - (kBuffer - 49684));
  EXPECT_EQ(st()->write_pos, 28976u);
  cursors(22480, 24244);  // 100000 bytes free
  ASSERT_EQ(out.sound_ready(&out), 1u);
  EXPECT_EQ(out.underrun, 1u);
  EXPECT_EQ(st()->write_pos, 24244u + 2 * kChunk);
  EXPECT_EQ(st()->writable, 22480u + kBuffer - (24244 + 2 * kChunk) - 1024);
  for (uint32_t i = 24244; i < 24244 + 2 * kChunk; ++i) ASSERT_EQ(track()->data[i], 0) << i;
}

TEST_F(Dsound, UntrustedReadingsAndCursorAgreement) {
  open_playing();
  cursors(10000, 11764);
  ASSERT_EQ(out.sound_ready(&out), 1u);
  // The write cursor jumped far from the play cursor: the reading is ignored.
  cursors(12000, 70000);
  EXPECT_EQ(out.sound_ready(&out), 0u);
  EXPECT_EQ(st()->last_play, 10000u);
  EXPECT_EQ(out.underrun, 0u);
  // Three readings: the third counts only when both cursors lie within 1024 bytes of the
  // first's; otherwise all three are read again.
  track()->script = {{14000, 15764}, {14100, 15864}, {15500, 17264},
                     {16000, 17764}, {16100, 17864}, {16200, 17964}};
  cursors(40000, 41764);  // the fallback after the script
  ASSERT_EQ(out.sound_ready(&out), 1u);
  EXPECT_EQ(st()->last_play, 16200u);
  EXPECT_EQ(st()->last_write, 17964u);
  EXPECT_TRUE(track()->script.empty());
}

TEST_F(Dsound, LostBufferIsRestoredAndRetried) {
  open_playing();
  cursors(30000, 31764);
  ASSERT_EQ(out.sound_ready(&out), 1u);
  track()->lost_locks = 3;
  uint8_t* b = nullptr;
  uint32_t n = 0;
  ASSERT_EQ(out.sound_get_buffer(&out, &b, &n), 1u);
  EXPECT_EQ(n, 30000u - 1024);
  EXPECT_EQ(g.sleeps, 3);
  EXPECT_EQ(track()->restores, 3);
  out.sound_commit(&out, n);

  // Play too, when resuming (in mid-buffer: the start waits for the cursor on the clock).
  g.tick = 1;
  out.sound_pause(&out, 1);
  track()->lost_plays = 2;
  out.sound_pause(&out, 0);
  EXPECT_EQ(track()->restores, 5);
  EXPECT_TRUE(track()->playing);

  // A buffer that stays lost silences the track instead of holding the player.
  track()->lost_locks = 1000;
  cursors(40000, 41764);
  EXPECT_EQ(out.sound_ready(&out), 1u);
  EXPECT_EQ(out.sound_get_buffer(&out, &b, &n), 0u);
  EXPECT_EQ(st()->lost, 1u);
  EXPECT_EQ(out.sound_ready(&out), 0u);
}

TEST_F(Dsound, VolumeAndPanInHundredths) {
  EXPECT_EQ(dsound_pan_hundredths(32768), 0);
  EXPECT_EQ(dsound_pan_hundredths(32767), 0);
  EXPECT_EQ(dsound_pan_hundredths(0), -10000);
  EXPECT_EQ(dsound_pan_hundredths(65536), 10000);
  EXPECT_EQ(dsound_volume_hundredths(32767), 0);
  EXPECT_EQ(dsound_volume_hundredths(16384), -1003);
  EXPECT_EQ(dsound_volume_hundredths(0), -10000);
  EXPECT_EQ(dsound_volume_hundredths(1), -10000);

  ASSERT_TRUE(open());
  out.sound_set_pan(&out, 65536);
  EXPECT_EQ(track()->pan, 10000);
  out.sound_set_pan(&out, 90000);
  EXPECT_EQ(st()->pan, 65536u);
  out.sound_set_volume(&out, 16384);
  EXPECT_EQ(track()->volume, -1003);
  out.sound_set_volume(&out, 40000);
  EXPECT_EQ(track()->volume, 0);
  EXPECT_EQ(st()->volume, 32767u);
  out.sound_set_volume(&out, 0);
  EXPECT_EQ(track()->volume, -10000);
  // The speaker slots only record, then apply the settings again.
  track()->frequency = 0;
  out.sound_set_speakers(&out, 4);
  out.sound_set_speaker_volumes(&out, -100, -200);
  EXPECT_EQ(st()->speaker_count, 1u);
  EXPECT_EQ(st()->speakers[0], 4u);
  EXPECT_EQ(st()->speaker_volume_count, 2u);
  EXPECT_EQ(st()->speaker_volumes[1], -200);
  EXPECT_EQ(track()->frequency, 44100u);
}

TEST_F(Dsound, SwitchingOffRewindsAndSwitchingOnPrefillsAgain) {
  open_playing();
  cursors(30000, 31764);
  ASSERT_EQ(feed(), 30000u - 1024);
  EXPECT_EQ(out.sound_on_off(&out, 0), 0u);
  EXPECT_FALSE(track()->playing);
  EXPECT_EQ(track()->play, 0u);
  for (uint8_t b : track()->data) ASSERT_EQ(b, 0);
  EXPECT_EQ(out.sound_ready(&out), 0u);
  // Resuming while off does not start the silent buffer.
  out.sound_pause(&out, 1);
  const int plays = track()->plays;
  out.sound_pause(&out, 0);
  EXPECT_EQ(track()->plays, plays);

  EXPECT_EQ(out.sound_on_off(&out, 1), 1u);
  EXPECT_EQ(st()->playing, 0u);
  EXPECT_EQ(st()->write_pos, 0u);
  EXPECT_EQ(st()->writable, kBuffer);
  EXPECT_EQ(out.sound_ready(&out), 1u);
  EXPECT_EQ(feed(), kBuffer);
  EXPECT_EQ(track()->plays, plays + 1);
}

TEST_F(Dsound, StartingInMidBufferIsBounded) {
  open_playing();
  out.sound_pause(&out, 1);
  // A cursor standing still in mid-buffer: Play again every 50 ms, give up after a while.
  track()->play = track()->write = 60000;
  g.tick = 1;
  const int plays = track()->plays;
  out.sound_pause(&out, 0);
  EXPECT_GE(track()->plays, plays + 3);
  EXPECT_LE(track()->plays, plays + 6);
  EXPECT_EQ(st()->paused, 0u);
  EXPECT_EQ(st()->playing, 1u);
}

}  // namespace
