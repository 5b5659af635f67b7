// The engine's pieces on their own: allocation, the timer, the reader's throttle, the sound
// ring and pump.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/alloc.h"
#include "playback/movie.h"
#include "encode/sample_movie.h"
#include "platform/platform.h"
#include "playback/engine.h"
#include "playback/late_frame.h"
#include "convert/convert.h"
#include "base/timer.h"
#include "sound/sound.h"

namespace {

int g_allocs = 0;
int g_refuse_after = 1 << 30;
void* counting_alloc(size_t n) {
  if (g_allocs++ >= g_refuse_after) return reinterpret_cast<void*>(intptr_t(-1));
  return std::malloc(n);
}
void counting_free(void* p) { std::free(p); }

TEST(Alloc, AlignmentTagsAndInstalledAllocator) {
  for (size_t n : {1, 31, 32, 1000, 65536}) {
    uint8_t* p = static_cast<uint8_t*>(aligned_alloc32(n));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 32, 0u);
    EXPECT_GE(p[-1], 33);
    EXPECT_LE(p[-1], 64);
    EXPECT_EQ(p[-2], 0);  // from the C heap
    std::memset(p, 0xab, n);
    aligned_free32(p);
  }
  EXPECT_EQ(aligned_alloc32(0), nullptr);
  EXPECT_EQ(aligned_alloc32(SIZE_MAX), nullptr);
  movie_set_allocator(counting_alloc, counting_free);
  g_allocs = 0;
  g_refuse_after = 1;
  uint8_t* p = static_cast<uint8_t*>(aligned_alloc32(100));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[-2], 3);  // from the installed allocator, freed through it
  EXPECT_EQ(aligned_alloc32(100), nullptr);  // refused
  aligned_free32(p);
  movie_set_allocator(nullptr, nullptr);
}

TEST(Alloc, GroupsStaggerTheirBuffers) {
  PendingList l;
  pending_init(&l);
  void* a = nullptr;
  void* b = nullptr;
  void* c = nullptr;
  pending_add(&l, &a, 1024);  // (0 − 32 + 1) mod 32 = 1 unit of padding
  pending_add(&l, &b, 100);   // rounded to 128; (33 − 4 + 1) mod 32 = 30 units
  pending_add(&l, &c, 10);
  uint32_t total = 0;
  void* head = nullptr;
  void* block = pending_allocate(&l, 64, &head, &total);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(head, block);
  EXPECT_EQ(static_cast<uint8_t*>(a) - static_cast<uint8_t*>(head), 64);
  EXPECT_EQ(static_cast<uint8_t*>(b) - static_cast<uint8_t*>(a), 1024 + 32);
  EXPECT_EQ(static_cast<uint8_t*>(c) - static_cast<uint8_t*>(b), 128 + 30 * 32);
  EXPECT_GT(total, 64u + 1056 + 1088);
  EXPECT_EQ(static_cast<uint8_t*>(c)[0], 0);  // zero-filled
  aligned_free32(block);
  pending_free(&l);
}

TEST(Alloc, EveryAllocationFailureOfOpenIsClean) {
  SampleMovieSpec s;
  s.frames = 30;
  std::vector<uint8_t> bytes = sample_movie_write(s);
  MovieImage img{bytes.data(), bytes.size()};
  movie_set_allocator(counting_alloc, counting_free);
  for (int refuse = 0; refuse < 2; ++refuse) {  // the record group, then the planes
    g_allocs = 0;
    g_refuse_after = refuse;
    Movie* m = movie_open(&img, kOpenFromMemory);
    EXPECT_EQ(m, nullptr) << refuse;
    EXPECT_STREQ(movie_last_error(), "Out of memory.") << refuse;
  }
  g_refuse_after = 1 << 30;
  Movie* m = movie_open(&img, kOpenFromMemory);
  EXPECT_NE(m, nullptr);
  movie_close(m);
  movie_set_allocator(nullptr, nullptr);
}

uint64_t g_counter = 0;
uint32_t g_coarse = 0;
bool freq(uint64_t* f) { *f = 1000000; return true; }  // microseconds
uint64_t counter() { return g_counter; }
uint32_t coarse() { return g_coarse; }

TEST(Timer, FollowsTheCounterAndNeverRunsBackwards) {
  const TimerSources src = {freq, counter, coarse};
  g_counter = 5000000;
  g_coarse = 777;
  timer_install_sources(&src);
  EXPECT_EQ(ms_timer(), 0u);
  g_counter += 150000;  // 150 ms
  g_coarse += 150;
  EXPECT_EQ(ms_timer(), 150u);
  // The counter jumps ahead by ten seconds while the coarse clock moves 20 ms: the coarse
  // clock's value is taken and the jump becomes a correction.
  g_counter += 10000000;
  g_coarse += 20;
  EXPECT_EQ(ms_timer(), 170u);
  g_counter += 30000;
  g_coarse += 30;
  EXPECT_EQ(ms_timer(), 200u);
  // The counter goes back a little (less than the 200 ms cross-check): the last value stays.
  g_counter -= 100000;
  EXPECT_EQ(ms_timer(), 200u);
  g_counter += 200000;
  g_coarse += 100;
  EXPECT_EQ(ms_timer(), 300u);

  // Without a counter the coarse clock is used, also counted from 0 and never backwards.
  const TimerSources coarse_only = {[](uint64_t*) { return false; }, counter, coarse};
  g_coarse = 0xFFFFFF00u;  // it wraps soon after the start
  timer_install_sources(&coarse_only);
  EXPECT_EQ(ms_timer(), 0u);
  g_coarse += 0x180;
  EXPECT_EQ(ms_timer(), 0x180u);
  g_coarse -= 0x80;  // the coarse clock steps back
  EXPECT_EQ(ms_timer(), 0x180u);
  g_coarse += 0x100;
  EXPECT_EQ(ms_timer(), 0x200u);
  timer_install_sources(nullptr);
}

TEST(Reader, ThrottleHoldsTheSimulatedSpeed) {
  SampleMovieSpec s;
  s.frames = 200;
  s.audio_rate = 0;
  std::vector<uint8_t> bytes = sample_movie_write(s);
  std::string path = std::string(KORVA_TEST_TMP) + "/throttle.krv";
  ASSERT_TRUE(platform_file_write_all(path.c_str(), bytes.data(), bytes.size()));
  InputReader r;
  ASSERT_TRUE(reader_open(&r, path.c_str(), 0));
  std::vector<uint8_t> buf(8192);
  r.set_buffer(&r, nullptr, 0, uint32_t(bytes.size()), 150000);
  const uint32_t t0 = ms_timer();
  EXPECT_EQ(r.read_frame(&r, 0, buf.data(), 8192), 8192u);
  EXPECT_GE(ms_timer() - t0, 53u);  // 8192 bytes at 150000 bytes a second: about 54.6 ms
  EXPECT_EQ(0, std::memcmp(buf.data(), bytes.data(), 8192));
  // A ring smaller than a chunk: no read-ahead, plain reads.
  std::vector<uint8_t> small(4096);
  r.set_buffer(&r, small.data(), 4096, uint32_t(bytes.size()), 0);
  EXPECT_EQ(r.buffer_size, 0u);
  EXPECT_EQ(r.background_fill(&r), 0);
  EXPECT_EQ(r.read_frame(&r, 100, buf.data(), 50), 50u);
  EXPECT_EQ(0, std::memcmp(buf.data(), bytes.data() + 100, 50));
  // The last partial chunk is read by read_frame itself.
  std::vector<uint8_t> ring(16384);
  r.set_buffer(&r, ring.data(), 16384, uint32_t(bytes.size()), 0);
  const uint32_t tail = uint32_t(bytes.size()) - 3000;
  EXPECT_EQ(r.read_frame(&r, tail, buf.data(), 10), 10u);
  EXPECT_EQ(r.background_fill(&r), 0);  // fewer than 8192 bytes remain
  EXPECT_EQ(r.read_frame(&r, kReaderNoOffset, buf.data(), 2990), 2990u);
  EXPECT_EQ(0, std::memcmp(buf.data(), bytes.data() + tail + 10, 2990));
  EXPECT_EQ(r.at_end, 0u);
  EXPECT_EQ(r.read_frame(&r, kReaderNoOffset, buf.data(), 10), 0u);  // past the end
  EXPECT_EQ(r.at_end, 1u);
  EXPECT_EQ(r.read_frame(&r, 0, buf.data(), 10), 0u);  // and from then on nothing
  r.close(&r);
}

// A ring of 1024 bytes with a fake back end that takes 256-byte buffers.
struct FakeBackend {
  std::vector<uint8_t> out;
  uint32_t buffer = 256;
  uint8_t scratch[1024];
};
FakeBackend* g_backend;
uint32_t fake_ready(SoundOutput*) { return 1; }
uint32_t fake_get(SoundOutput*, uint8_t** b, uint32_t* n) {
  *b = g_backend->scratch;
  *n = g_backend->buffer;
  return 1;
}
void fake_commit(SoundOutput*, uint32_t n) { g_backend->out.insert(g_backend->out.end(), g_backend->scratch, g_backend->scratch + n); }

TEST(Sound, RingOverflowPumpAndEightBitOutput) {
  std::vector<uint8_t> ring(1024);
  SoundOutput o{};
  o.ring_size = 1024;
  o.ring_start = o.write_pos = o.read_pos = ring.data();
  o.ring_end = ring.data() + 1024;
  o.align_mask = 0xffffffff;
  std::vector<uint8_t> pcm(1500);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = uint8_t(i);
  sound_ring_write(&o, pcm.data(), 1000);
  EXPECT_EQ(o.fill, 1000u);
  sound_ring_write(&o, pcm.data() + 1000, 100);  // 76 bytes too many: the oldest go
  EXPECT_EQ(o.fill, 1024u);
  EXPECT_EQ(o.read_pos, ring.data() + 76);
  EXPECT_EQ(o.write_pos, ring.data() + 76);
  // A write ending exactly at the ring's end leaves write_pos there.
  SoundOutput e = o;
  e.fill = 0;
  e.read_pos = e.write_pos = ring.data() + 1000;
  sound_ring_write(&e, pcm.data(), 24);
  EXPECT_EQ(e.write_pos, e.ring_end);
  sound_ring_write(&e, pcm.data(), 8);
  EXPECT_EQ(e.write_pos, ring.data() + 8);
  // A piece larger than the whole ring keeps its newest bytes.
  sound_ring_write(&e, pcm.data(), 1500);
  EXPECT_EQ(e.fill, 1024u);

  // The pump: whole back-end buffers before the flush frame, every byte after it.
  static uint8_t record_block[sizeof(Movie)];
  Movie* m = reinterpret_cast<Movie*>(record_block);
  std::memset(record_block, 0, sizeof record_block);
  FakeBackend be;
  g_backend = &be;
  SoundOutput s{};
  s.sound_ready = fake_ready;
  s.sound_get_buffer = fake_get;
  s.sound_commit = fake_commit;
  s.ring_size = 1024;
  s.ring_start = s.read_pos = s.write_pos = ring.data();
  s.ring_end = ring.data() + 1024;
  s.align_mask = 0xffffffff;
  s.backend_bytes = 256;
  s.flush_frame = 10;
  uint32_t played = 0;
  m->feed.outputs = &s;
  m->played = &played;
  m->feed.count = 1;
  m->feed.current_frame = &m->current_frame;
  m->feed.last_decoded = &m->last_decoded;
  m->current_frame = 5;
  sound_ring_write(&s, pcm.data(), 600);
  sound_pump(&m->feed);
  EXPECT_EQ(be.out.size(), 512u);  // 88 bytes wait for a whole buffer
  EXPECT_EQ(s.fill, 88u);
  m->current_frame = 11;
  sound_pump(&m->feed);
  EXPECT_EQ(be.out.size(), 600u);
  EXPECT_EQ(0, std::memcmp(be.out.data(), pcm.data(), 600));

  // 8-bit output: the high byte plus 128; a buffer of 256 output bytes takes 512 ring bytes.
  be.out.clear();
  s.to_8bit = 1;
  s.backend_bytes = 512;
  const int16_t samples[4] = {int16_t(0x8000), 0x7fff, 0, 0x1234};
  sound_ring_write(&s, reinterpret_cast<const uint8_t*>(samples), 8);
  sound_pump(&m->feed);
  ASSERT_EQ(be.out.size(), 4u);
  EXPECT_EQ(be.out[0], 0x00);
  EXPECT_EQ(be.out[1], 0xff);
  EXPECT_EQ(be.out[2], 0x80);
  EXPECT_EQ(be.out[3], 0x92);

  // Priming with silence: the queued sound is preceded by zeros up to prime_bytes.
  s.to_8bit = 0;
  s.fill = 0;
  s.read_pos = s.write_pos = ring.data() + 100;
  s.prime_bytes = 300;
  std::memset(ring.data(), 0x55, ring.size());
  sound_ring_write(&s, pcm.data(), 40);
  sound_fill_silence(&s);
  EXPECT_EQ(s.fill, 300u);
  EXPECT_EQ(s.read_pos, ring.data() + 1024 - 160);
  EXPECT_EQ(ring[1023], 0);
  EXPECT_EQ(ring[0], 0);
  EXPECT_EQ(ring[100], pcm[0]);
}

sound_open_fn provider_a(void*) { return [](SoundOutput*, uint32_t, uint32_t, uint32_t, uint32_t, const SoundLength*) -> uint32_t { return 0; }; }
sound_open_fn provider_b(void*) { return nullptr; }

TEST(Sound, ProviderRules) {
  sound_reset_system();
  EXPECT_EQ(sound_use_system(nullptr, nullptr), 0u);
  EXPECT_EQ(sound_use_system(provider_b, nullptr), 0u);  // no open function
  EXPECT_EQ(sound_use_system(provider_a, nullptr), 1u);
  EXPECT_EQ(sound_use_system(provider_b, nullptr), 1u);  // a null result keeps the open function
  sound_count_track_opened();
  EXPECT_EQ(sound_use_system(provider_a, nullptr), 0u);  // another provider once a track opened
  EXPECT_EQ(sound_use_system(provider_b, nullptr), 1u);  // the same one is fine
  sound_reset_system();
}

}  // namespace

// The late-frame rule of the copy: past the threshold a copy is skipped, at most three in a
// row (the fourth late frame is shown), never with 0x80000; on time the skip flag clears.
TEST(LateFrame, SkipsAtMostThreeInARow) {
  Movie m{};
  SoundOutput out{};
  out.time_scale = 0x10000;
  m.feed.outputs = &out;
  m.rate_num = 25;
  m.rate_den = 1;
  m.late_threshold = 10;
  m.clock_start = 1000;  // 4 s of clock at 5000 ms; frame 2 was due at 80 ms
  m.clock_start_frame = 0;
  m.frames_decoded = 2;
  uint32_t due;
  int32_t elapsed;
  late_frame_position(&m, 5000, &due, &elapsed);
  EXPECT_EQ(due, 80u);
  EXPECT_EQ(elapsed, 4000);
  struct Step { uint32_t flags, result, skipped; };
  const Step kSteps[] = {
      {3, kCopyLateSkip, 1}, {3, kCopyLateSkip, 2}, {3, kCopyLateSkip, 3},
      {3, kCopyLate, 3},                       // the fourth late frame is copied, the count restarts
      {3, kCopyLateSkip, 4},
      {3 | kCopyNeverSkip, kCopyLate, 4},      // never skip: copied, still late
  };
  for (const Step& st : kSteps) {
    EXPECT_EQ(late_frame_check(&m, 5000, st.flags), st.result);
    EXPECT_EQ(m.skipped_blits, st.skipped);
    EXPECT_EQ(m.skip_flag, st.result == kCopyLateSkip ? 1u : 0u);
  }
  // The movie's own flag word forbids skipping as well.
  m.flags = kCopyNeverSkip;
  EXPECT_EQ(late_frame_check(&m, 5000, 3), kCopyLate);
  m.flags = 0;
  // Late within the threshold counts as on time and restarts the count; early too, and a debt
  // held back makes a late clock early.
  m.consecutive_skips = 2;
  EXPECT_EQ(late_frame_check(&m, 1000 + 85, 3), kCopyOnTime);
  EXPECT_EQ(m.consecutive_skips, 0u);
  EXPECT_EQ(late_frame_check(&m, 1050, 3), kCopyOnTime);
  m.late_debt = 4000;
  EXPECT_EQ(late_frame_check(&m, 5000, 3), kCopyOnTime);
  EXPECT_EQ(m.skip_flag, 0u);
}
