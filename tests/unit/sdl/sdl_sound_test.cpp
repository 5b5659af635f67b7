// The SDL sound back end against SDL's disk driver, which writes what a device plays into a
// file at real-time speed (silence whenever the queue is empty): movies played through the
// engine come out as the decoder's bytes, levels and pan act as a mixing device's, pausing
// stops the device, a queue that runs dry is an underrun, and no device means no sound.
#include <gtest/gtest.h>

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "tests/unit/test_sound.h"
#include "audio/audio_decoder.h"
#include "container/container.h"
#include "playback/movie.h"
#include "encode/sample_movie.h"
#include "platform/platform.h"
#include "playback/engine.h"
#include "base/timer.h"
#include "sound/backends/sdl_sound.h"
#include "sound/sound.h"

namespace {

std::vector<uint8_t> read_file(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return bytes;
  uint8_t block[65536];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, f)) > 0) bytes.insert(bytes.end(), block, block + n);
  std::fclose(f);
  return bytes;
}

// Drops the leading run of `silence` bytes.
std::vector<uint8_t> after_silence(const std::vector<uint8_t>& v, uint8_t silence) {
  size_t i = 0;
  while (i < v.size() && v[i] == silence) ++i;
  return std::vector<uint8_t>(v.begin() + std::ptrdiff_t(i), v.end());
}

// Every byte that is not `silence`, in order.
std::vector<uint8_t> without_silence(const std::vector<uint8_t>& v, uint8_t silence) {
  std::vector<uint8_t> out;
  for (uint8_t b : v)
    if (b != silence) out.push_back(b);
  return out;
}

// The track's decoded 16-bit PCM, frame after frame: the bytes the engine puts into its ring.
std::vector<uint8_t> decoded_pcm(const std::vector<uint8_t>& movie) {
  std::vector<uint8_t> pcm;
  ContainerView v;
  if (container_open_view(movie.data(), movie.size(), &v)) return pcm;
  const uint32_t word = container_track_word(&v, 0);
  const bool dct = (word & kAudioWordDct) && !(word & kAudioWordRdft);
  AudioDecoder* d = audio_decoder_open(word & kAudioWordRateMask, (word & kAudioWordStereo) ? 2 : 1, dct);
  if (!d) return pcm;
  for (uint32_t i = 0; i < v.header.frame_count; ++i) {
    const uint8_t* frame = nullptr;
    uint32_t size = 0;
    bool key = false;
    const uint8_t* packet = nullptr;
    uint32_t packet_size = 0;
    if (!container_frame(&v, i, &frame, &size, &key) ||
        container_audio_packet(frame, size, v.header.track_count, 0, &packet, &packet_size)) {
      pcm.clear();
      break;
    }
    if (!packet_size) continue;
    AudioPacketCursor cur;
    audio_packet_begin(&cur, packet, packet_size);
    const int16_t* samples = nullptr;
    uint32_t bytes = 0;
    while (audio_packet_next(d, &cur, &samples, &bytes)) {
      const uint8_t* b = reinterpret_cast<const uint8_t*>(samples);
      pcm.insert(pcm.end(), b, b + bytes);
    }
  }
  audio_decoder_close(d);
  return pcm;
}

class SdlSound : public ::testing::Test {
 protected:
  void SetUp() override {
    // Another user of SDL audio would keep the subsystem (and its driver choice) alive.
    if (SDL_WasInit(SDL_INIT_AUDIO)) GTEST_SKIP() << "SDL audio is in use elsewhere in the process";
    path_ = std::string(KORVA_TEST_TMP) + "/sdl_sound_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".raw";
    std::remove(path_.c_str());
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path_.c_str(), 1);
    unsetenv("SDL_DISKAUDIODELAY");
    timer_install_sources(nullptr);
    test_sound_reset();
  }
  void TearDown() override {
    test_sound_reset();
    unsetenv("SDL_AUDIODRIVER");
    unsetenv("SDL_DISKAUDIOFILE");
  }

  // Polls until the device's queue is empty (at most `limit_ms`), then gives the device's
  // thread time to write its last period.
  static void drain(SoundOutput* o, uint32_t limit_ms = 3000) {
    for (uint32_t t = 0; t < limit_ms && sdl_sound_queued(o); t += 5) {
      o->sound_ready(o);
      platform_sleep_ms(5);
    }
    o->sound_ready(o);
    platform_sleep_ms(150);
  }

  // Commits `data` in whole offered buffers, waiting while the queue is full; false when the
  // back end takes nothing for a second.
  static bool feed(SoundOutput* o, const uint8_t* data, size_t n) {
    for (size_t at = 0; at < n;) {
      uint8_t* buffer = nullptr;
      uint32_t size = 0;
      for (int t = 0; t < 200 && !o->sound_ready(o); ++t) platform_sleep_ms(5);
      if (!o->sound_ready(o) || !o->sound_get_buffer(o, &buffer, &size) || !size) return false;
      const uint32_t k = uint32_t(n - at < size ? n - at : size);
      std::memcpy(buffer, data + at, k);
      o->sound_commit(o, k);
      at += k;
    }
    return true;
  }

  std::string path_;
};

// Movies made by the writers, played in real time through the engine: after the silence the
// device wrote before the sound began, the file holds the decoder's bytes (as unsigned 8-bit
// for 8-bit tracks) exactly, and then only silence.
TEST_F(SdlSound, EnginePlaysTheDecodedSoundByteForByte) {
  struct Case {
    bool sixteen;
    uint32_t channels;
    uint32_t rate;
  };
  const Case kCases[] = {{true, 2, 22050}, {true, 1, 11025}, {false, 2, 11025}, {false, 1, 22050}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << (c.sixteen ? 16 : 8) << "-bit, " << c.channels << " ch, " << c.rate);
    std::remove(path_.c_str());
    SampleMovieSpec sample;
    sample.frames = 8;  // 0.8 s at 10 frames a second
    sample.audio_rate = c.rate;
    sample.audio_channels = c.channels;
    sample.audio_16bit = c.sixteen;
    const std::vector<uint8_t> movie = sample_movie_write(sample);
    ASSERT_FALSE(movie.empty());
    std::vector<uint8_t> expected = decoded_pcm(movie);
    ASSERT_GT(expected.size(), c.rate / 2);
    if (!c.sixteen) {
      std::vector<uint8_t> narrow(expected.size() / 2);
      sound_to_8bit(narrow.data(), expected.data(), uint32_t(narrow.size()));
      expected.swap(narrow);
    }

    test_sound_reset();
    ASSERT_EQ(sound_use_system(&test_sound(), sdl_sound_provider, nullptr), 1u);
    MovieImage image{movie.data(), movie.size()};
    Movie* m = open_with(movie_open_image(&image, kOpenFromMemory));
    ASSERT_NE(m, nullptr) << movie_last_error();
    ASSERT_EQ(m->feed.count, 1u);
    SoundOutput* o = &m->feed.outputs[0];
    ASSERT_TRUE(sdl_sound_is_open(o));
    EXPECT_EQ(o->bits, c.sixteen ? 16u : 8u);
    for (;;) {
      while (movie_wait(m)) platform_sleep_ms(1);
      ASSERT_EQ(movie_do_frame(m), 0u);
      if (m->current_frame >= m->frame_count) break;
      movie_next_frame(m);
    }
    // The rest of the ring goes out, then the queue plays empty.
    for (int k = 0; k < 1000; ++k) {
      sound_pump(&m->feed);
      sound_lock(&m->feed);
      const bool done = o->fill == 0 && sdl_sound_queued(o) == 0;
      sound_unlock(&m->feed);
      if (done) break;
      platform_sleep_ms(5);
    }
    platform_sleep_ms(150);
    EXPECT_TRUE(sdl_sound_started(o));
    EXPECT_EQ(m->stats.sound_underruns, 0u);
    movie_close(m);
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);  // the last track closed: SDL audio stopped

    const uint8_t silence = c.sixteen ? 0x00 : 0x80;
    const std::vector<uint8_t> played = after_silence(read_file(path_), silence);
    const std::vector<uint8_t> sound = after_silence(expected, silence);
    ASSERT_GE(played.size(), sound.size());
    size_t first_difference = 0;
    while (first_difference < sound.size() && played[first_difference] == sound[first_difference]) ++first_difference;
    EXPECT_EQ(first_difference, sound.size()) << "of " << sound.size() << " bytes";
    for (size_t i = sound.size(); i < played.size(); ++i) {
      ASSERT_EQ(played[i], silence) << "byte " << i << " after the sound";
    }
  }
}

// Volume (0..32767) and pan (0..65536) as a mixing device applies them: full volume and a
// centre pan leave every byte as it was; otherwise each side is scaled by its level in
// hundredths of a decibel (volume 16384 is -1003; pan turns the other side down by up to
// -10000, which is silence). A mono device has no sides: pan leaves it alone.
TEST_F(SdlSound, VolumeAndPanAsAMixingDeviceAppliesThem) {
  struct Level {
    int32_t volume;
    uint32_t pan;
    double left, right, mono;  // expected gains (-1: exactly unchanged)
  };
  const double v16384 = std::pow(10.0, -1003 / 2000.0);
  const double pan_half = std::pow(10.0, -5000 / 2000.0);  // pan 49152 / 16384
  const Level kLevels[] = {
      {32767, 32768, -1, -1, -1},
      {32767, 32767, -1, -1, -1},  // truncated toward the centre
      {40000, 32768, -1, -1, -1},  // above full volume: full volume
      {16384, 32768, v16384, v16384, v16384},
      {0, 32768, 0, 0, 0},
      {32767, 0, -1, 0, -1},
      {32767, 65536, 0, -1, -1},
      {32767, 70000, 0, -1, -1},
      {32767, 49152, pan_half, -1, -1},
      {16384, 16384, v16384, v16384 * pan_half, v16384},
      {32767, 32768, -1, -1, -1},
  };
  struct Format {
    uint32_t bits, channels;
  };
  const Format kFormats[] = {{16, 2}, {8, 2}, {16, 1}};
  for (const Format& f : kFormats) {
    SCOPED_TRACE(testing::Message() << f.bits << "-bit, " << f.channels << " ch");
    std::remove(path_.c_str());
    SoundOutput o;
    ASSERT_EQ(sdl_sound_open(&o, 11025, f.bits, f.channels, 0, nullptr), 1u);
    const uint32_t chunk = o.backend_bytes >> (f.bits == 8);
    // A loud signal with no silent byte, different on the two sides.
    std::vector<uint8_t> pattern(chunk);
    const uint32_t sample_bytes = f.bits / 8;
    for (uint32_t i = 0; i < chunk / sample_bytes; ++i) {
      const int32_t side = f.channels == 2 ? int32_t(i % 2) : 0;
      const int32_t v = (side ? -1 : 1) * (3001 + int32_t(i % 97) * 211);
      if (f.bits == 16) {
        pattern[2 * i] = uint8_t(v | 1);
        pattern[2 * i + 1] = uint8_t(uint32_t(v) >> 8);
      } else {
        pattern[i] = uint8_t(128 + v / 256 + (v > 0 ? 1 : -1));
      }
    }
    for (const Level& l : kLevels) {
      o.sound_set_volume(&o, l.volume);
      o.sound_set_pan(&o, l.pan);
      ASSERT_TRUE(feed(&o, pattern.data(), pattern.size()));
    }
    drain(&o);
    o.sound_close(&o);

    const std::vector<uint8_t> played = after_silence(read_file(path_), f.bits == 16 ? 0x00 : 0x80);
    ASSERT_GE(played.size(), chunk * std::size(kLevels));
    for (size_t k = 0; k < std::size(kLevels); ++k) {
      const Level& l = kLevels[k];
      SCOPED_TRACE(testing::Message() << "volume " << l.volume << ", pan " << l.pan);
      const uint8_t* out = played.data() + k * chunk;
      for (uint32_t i = 0; i < chunk / sample_bytes; ++i) {
        const double g = f.channels == 1 ? l.mono : i % 2 ? l.right : l.left;
        const int32_t in = f.bits == 16 ? int16_t(pattern[2 * i] | pattern[2 * i + 1] << 8) : pattern[i] - 128;
        const int32_t got = f.bits == 16 ? int16_t(out[2 * i] | out[2 * i + 1] << 8) : out[i] - 128;
        if (g < 0) {
          ASSERT_EQ(got, in) << "sample " << i;
        } else {
          ASSERT_LE(std::abs(got - std::lround(in * g)), 1) << "sample " << i << " of " << in;
        }
      }
    }
  }
}

// Pausing stops the device (its queue keeps what it holds) and resuming plays on; a queue that
// runs dry while playing is one underrun; switching off empties the queue and a new fill
// starts. Everything committed before comes out in order.
TEST_F(SdlSound, PauseUnderrunAndSwitching) {
  SoundOutput o;
  ASSERT_EQ(sdl_sound_open(&o, 22050, 16, 1, 0, nullptr), 1u);
  EXPECT_EQ(o.output_on, 1u);
  EXPECT_FALSE(sdl_sound_started(&o));
  EXPECT_EQ(o.latency_ms, 0u);
  EXPECT_EQ(o.backend_bytes % 256, 0u);
  EXPECT_GE(o.backend_bytes, 22050u * 2 / 20);
  std::vector<uint8_t> data(10 * o.backend_bytes);  // half a second, no zero byte
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(1 + i % 251);

  // Paused before anything was queued: no buffer is taken, and resuming does not start the
  // device while nothing is queued.
  EXPECT_EQ(o.sound_pause(&o, 1), 1u);
  EXPECT_EQ(o.sound_ready(&o), 0u);
  EXPECT_EQ(o.sound_pause(&o, 0), 0u);
  EXPECT_FALSE(sdl_sound_started(&o));

  ASSERT_TRUE(feed(&o, data.data(), data.size()));
  EXPECT_TRUE(sdl_sound_started(&o));  // without a movie the first buffer is the first fill
  platform_sleep_ms(100);
  EXPECT_EQ(o.sound_pause(&o, 1), 1u);
  EXPECT_EQ(o.sound_ready(&o), 0u);
  const uint32_t held = sdl_sound_queued(&o);
  EXPECT_GT(held, 0u);
  EXPECT_LT(held, data.size());
  platform_sleep_ms(200);
  EXPECT_EQ(sdl_sound_queued(&o), held);  // nothing played while paused
  EXPECT_EQ(o.sound_pause(&o, 0), 0u);
  // Playing again: the device takes from the queue (within two seconds, on a busy machine).
  for (int waited = 0; waited < 2000 && sdl_sound_queued(&o) >= held; waited += 10) platform_sleep_ms(10);
  EXPECT_LT(sdl_sound_queued(&o), held);
  EXPECT_EQ(o.underrun, 0u);
  drain(&o);
  EXPECT_EQ(o.underrun, 1u);  // ran dry
  o.underrun = 0;
  EXPECT_EQ(o.sound_ready(&o), 1u);
  EXPECT_EQ(o.underrun, 0u);  // one dry spell, one underrun

  // Switching off drops what is queued and takes nothing; on again, a new fill starts.
  ASSERT_TRUE(feed(&o, data.data(), 4 * o.backend_bytes));
  EXPECT_EQ(o.sound_on_off(&o, 0), 0u);
  EXPECT_EQ(sdl_sound_queued(&o), 0u);
  EXPECT_FALSE(sdl_sound_started(&o));
  EXPECT_EQ(o.sound_ready(&o), 0u);
  uint8_t* buffer = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(o.sound_get_buffer(&o, &buffer, &size), 0u);
  EXPECT_EQ(o.sound_on_off(&o, 0), 0u);
  EXPECT_EQ(o.sound_on_off(&o, 1), 1u);
  EXPECT_EQ(o.sound_on_off(&o, 1), 1u);
  EXPECT_EQ(o.sound_ready(&o), 1u);
  EXPECT_EQ(o.underrun, 0u);  // an empty queue before the new start is no underrun
  o.sound_close(&o);
  EXPECT_FALSE(sdl_sound_is_open(&o));
  EXPECT_EQ(o.sound_ready(&o), 0u);  // a closed record answers nothing
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);

  const std::vector<uint8_t> played = without_silence(read_file(path_), 0x00);
  ASSERT_GE(played.size(), data.size());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), played.begin()));
}

// A movie shorter than the 600 ms first fill starts once its whole sound is queued; a track
// that stops short of the fill starts once the pump has handed over nothing for a while.
TEST_F(SdlSound, ShortSoundStillStarts) {
  SampleMovieSpec sample;
  sample.frames = 3;  // 300 ms
  const std::vector<uint8_t> movie = sample_movie_write(sample);
  ASSERT_EQ(sound_use_system(&test_sound(), sdl_sound_provider, nullptr), 1u);
  MovieImage image{movie.data(), movie.size()};
  Movie* m = open_with(movie_open_image(&image, kOpenFromMemory | kOpenNoThread));
  ASSERT_NE(m, nullptr) << movie_last_error();
  ASSERT_EQ(m->feed.count, 1u);
  SoundOutput* s = &m->feed.outputs[0];
  // Less than the movie's 300 ms: the fill waits (until the pump stalls).
  std::vector<uint8_t> data(s->backend_bytes * 4, 0x11);
  sound_lock(&m->feed);
  ASSERT_TRUE(feed(s, data.data(), data.size()));
  EXPECT_FALSE(sdl_sound_started(s));
  EXPECT_EQ(s->sound_pause(s, 1), 1u);
  EXPECT_EQ(s->sound_pause(s, 0), 0u);
  EXPECT_FALSE(sdl_sound_started(s));  // resuming during the fill does not start it
  ASSERT_TRUE(feed(s, data.data(), s->backend_bytes * 2));
  EXPECT_TRUE(sdl_sound_started(s));   // 300 ms queued: the movie's whole sound
  sound_unlock(&m->feed);
  movie_close(m);

  SoundOutput o;
  ASSERT_EQ(sdl_sound_open(&o, 22050, 16, 1, 0, nullptr), 1u);
  ASSERT_TRUE(feed(&o, data.data(), 100));
  // The first fill is one buffer without a movie; 100 bytes are less.
  EXPECT_FALSE(sdl_sound_started(&o));
  o.sound_ready(&o);
  EXPECT_FALSE(sdl_sound_started(&o));
  platform_sleep_ms(120);
  o.sound_ready(&o);
  EXPECT_TRUE(sdl_sound_started(&o));
  o.sound_close(&o);
}

// No device: the open fails, the record stays empty, the movie plays without sound; formats
// the back end does not take are refused before SDL is touched.
TEST_F(SdlSound, NoDeviceMeansNoSound) {
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  SoundOutput o;
  std::memset(static_cast<void*>(&o), 0xab, sizeof o);
  EXPECT_EQ(sdl_sound_open(&o, 22050, 16, 2, 0, nullptr), 0u);
  EXPECT_EQ(o.sound_ready, nullptr);
  EXPECT_EQ(o.output_on, 0u);
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);

  SampleMovieSpec sample;
  sample.frames = 3;
  const std::vector<uint8_t> movie = sample_movie_write(sample);
  ASSERT_EQ(sound_use_system(&test_sound(), sdl_sound_provider, nullptr), 1u);
  MovieImage image{movie.data(), movie.size()};
  Movie* m = open_with(movie_open_image(&image, kOpenFromMemory));
  ASSERT_NE(m, nullptr) << movie_last_error();
  EXPECT_EQ(m->feed.count, 0u);
  EXPECT_EQ(movie_do_frame(m), 0u);
  movie_close(m);

  setenv("SDL_AUDIODRIVER", "disk", 1);
  struct Format {
    uint32_t rate, bits, channels;
  };
  const Format kRefused[] = {{0, 16, 2}, {22050, 12, 2}, {22050, 16, 3}, {22050, 16, 0}, {2000000, 16, 2},
                              {34, 16, 2}, {999, 8, 1}};
  for (const Format& f : kRefused) {
    EXPECT_EQ(sdl_sound_open(&o, f.rate, f.bits, f.channels, 0, nullptr), 0u) << f.rate << " " << f.bits;
    EXPECT_EQ(o.sound_ready, nullptr);
  }
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
  // Two tracks at once share the subsystem, which stops with the second close.
  SoundOutput a, b;
  ASSERT_EQ(sdl_sound_open(&a, 22050, 8, 1, 0, nullptr), 1u);
  ASSERT_EQ(sdl_sound_open(&b, 44100, 16, 2, 0, nullptr), 1u);
  EXPECT_NE(SDL_WasInit(SDL_INIT_AUDIO), 0u);
  a.sound_close(&a);
  a.sound_close(&a);  // a second close does nothing
  EXPECT_NE(SDL_WasInit(SDL_INIT_AUDIO), 0u);
  b.sound_close(&b);
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
}

}  // namespace
