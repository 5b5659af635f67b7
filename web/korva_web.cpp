// The page's door into the library: a handful of calls its script makes, each a thin step over
// the public header. One WebPlayer holds an open movie, the picture in RGBA as the canvas takes
// it, and a buffer for the sound that the page hands to its audio worklet.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "include/korva/korva.h"

namespace {

// What web_info fills, in this order (the page reads it as 32-bit words).
enum InfoWord : uint32_t {
  kInfoWidth,
  kInfoHeight,
  kInfoFrames,
  kInfoRateNum,
  kInfoRateDen,
  kInfoAlpha,
  kInfoDoubling,
  kInfoKeyFrames,
  kInfoTracks,         // tracks in the movie
  kInfoPlayedTracks,   // of those, played
  kInfoTrackRate,      // of the first played track: samples a second,
  kInfoTrackChannels,  // channels,
  kInfoTrackBits,      // and bits of the PCM it hands out (8 or 16)
  kInfoWords
};

constexpr uint32_t kPcmBytes = 1u << 16;

}  // namespace

struct WebPlayer {
  korva_movie* movie;
  void* image;  // the movie's bytes, given by the page, freed at close
  korva_info info;
  uint8_t* pixels;  // width × height RGBA, what the canvas shows
  korva_changes changes;
  uint32_t words[kInfoWords];
  uint8_t pcm[kPcmBytes];
  korva_stats stats;
};

namespace {

char g_error[256];

void set_error(const char* text) { std::snprintf(g_error, sizeof g_error, "%s", text); }

// Without an alpha plane the converters leave the fourth byte 0, which a canvas takes for
// transparent: the changed rectangles get an opaque one.
void make_opaque(WebPlayer* p, bool whole) {
  const uint32_t w = p->info.width, h = p->info.height;
  korva_rect all{0, 0, int32_t(w), int32_t(h)};
  const uint32_t n = whole ? 1 : p->changes.count;
  for (uint32_t i = 0; i < n; ++i) {
    const korva_rect& r = whole ? all : p->changes.rects[i];
    for (int32_t y = r.top; y < r.top + r.height; ++y) {
      uint8_t* row = p->pixels + (size_t(y) * w + uint32_t(r.left)) * 4;
      for (int32_t x = 0; x < r.width; ++x) row[4 * x + 3] = 255;
    }
  }
}

}  // namespace

extern "C" {

// Opens the movie of `size` bytes at `data` (from the page's malloc; the player owns it from
// now, also when the open fails). `doubling` as korva_open_options; `sound` non-zero pulls the
// first track's PCM. Null on failure, with the text in web_error(null).
EMSCRIPTEN_KEEPALIVE WebPlayer* web_open(uint8_t* data, uint32_t size, uint32_t doubling, uint32_t sound) {
  g_error[0] = 0;
  WebPlayer* p = static_cast<WebPlayer*>(std::calloc(1, sizeof(WebPlayer)));
  if (!p) {
    std::free(data);
    set_error("Out of memory.");
    return nullptr;
  }
  korva_open_options o;
  korva_default_options(&o);
  // The page decodes the alpha plane where there is one; the browser has no SIMD routines of ours.
  o.flags = KORVA_OPEN_ALPHA | KORVA_OPEN_NO_THREAD;
  o.doubling = doubling <= 7 ? doubling : 0;
  o.sound = sound ? KORVA_SOUND_PULL : KORVA_SOUND_NONE;
  // Whatever a visitor drops on the page opens by itself: refuse a movie that would take more
  // than the library's limits for such files, before anything is allocated for it.
  o.max_area = KORVA_LIMIT_AREA;
  o.max_memory = KORVA_LIMIT_MEMORY;
  p->image = data;
  p->movie = data ? korva_open_memory(data, size, 0, &o) : nullptr;
  if (p->movie && o.sound) {
    // A movie without a track 0 plays without sound.
    korva_info i;
    korva_get_info(p->movie, &i);
    if (!i.played_track_count) {
      korva_close(p->movie);
      o.sound = KORVA_SOUND_NONE;
      p->movie = korva_open_memory(data, size, 0, &o);
    }
  }
  if (!p->movie) {
    set_error(data ? korva_last_error(nullptr) : "Out of memory.");
    std::free(data);
    std::free(p);
    return nullptr;
  }
  korva_get_info(p->movie, &p->info);
  p->pixels = static_cast<uint8_t*>(std::calloc(size_t(p->info.width) * p->info.height, 4));
  if (!p->pixels) {
    korva_close(p->movie);
    std::free(data);
    std::free(p);
    set_error("Out of memory.");
    return nullptr;
  }
  uint32_t* w = p->words;
  w[kInfoWidth] = p->info.width;
  w[kInfoHeight] = p->info.height;
  w[kInfoFrames] = p->info.frame_count;
  w[kInfoRateNum] = p->info.rate_num;
  w[kInfoRateDen] = p->info.rate_den;
  w[kInfoAlpha] = p->info.has_alpha;
  w[kInfoDoubling] = p->info.doubling;
  w[kInfoKeyFrames] = p->info.key_frame_count;
  w[kInfoTracks] = p->info.track_count;
  w[kInfoPlayedTracks] = p->info.played_track_count;
  for (uint32_t t = 0; t < p->info.track_count; ++t) {
    korva_track_info ti;
    if (korva_get_track_info(p->movie, t, &ti) == 0 && ti.played == 0) {
      w[kInfoTrackRate] = ti.rate;
      w[kInfoTrackChannels] = ti.channels;
      w[kInfoTrackBits] = ti.bits;
    }
  }
  return p;
}

EMSCRIPTEN_KEEPALIVE void web_close(WebPlayer* p) {
  if (!p) return;
  korva_close(p->movie);
  std::free(p->image);
  std::free(p->pixels);
  std::free(p);
}

// The text of the player's last failure, or with null of the last failed open.
EMSCRIPTEN_KEEPALIVE const char* web_error(WebPlayer* p) { return p ? korva_last_error(p->movie) : g_error; }

EMSCRIPTEN_KEEPALIVE const uint32_t* web_info(WebPlayer* p) { return p->words; }
EMSCRIPTEN_KEEPALIVE uint8_t* web_pixels(WebPlayer* p) { return p->pixels; }
EMSCRIPTEN_KEEPALIVE const korva_changes* web_changes(WebPlayer* p) { return &p->changes; }

EMSCRIPTEN_KEEPALIVE int web_wait(WebPlayer* p) { return korva_wait(p->movie); }
EMSCRIPTEN_KEEPALIVE int web_decode(WebPlayer* p) { return korva_decode(p->movie); }
EMSCRIPTEN_KEEPALIVE void web_next(WebPlayer* p) { korva_next(p->movie); }
EMSCRIPTEN_KEEPALIVE int web_seek(WebPlayer* p, uint32_t frame) { return korva_seek(p->movie, frame); }
EMSCRIPTEN_KEEPALIVE uint32_t web_current_frame(WebPlayer* p) { return korva_current_frame(p->movie); }
EMSCRIPTEN_KEEPALIVE int web_pause(WebPlayer* p, int pause) { return korva_pause(p->movie, pause); }

// Converts the last decoded picture into the RGBA pixels, only its changed blocks unless
// `whole`; the changed rectangles are in web_changes (all of the picture when whole). Returns
// korva_copy's answer: 0 copied, 1 skipped as late, -1 failed.
EMSCRIPTEN_KEEPALIVE int web_copy(WebPlayer* p, int whole) {
  const uint32_t w = p->info.width, h = p->info.height;
  const int r = korva_copy(p->movie, p->pixels, int32_t(w * 4), h, KORVA_FORMAT_RGBA32, whole ? KORVA_COPY_WHOLE : 0,
                           &p->changes);
  if (r == 0 && whole) {
    p->changes.count = 1;
    p->changes.rects[0] = korva_rect{0, 0, int32_t(w), int32_t(h)};
  }
  if (r == 0 && !p->info.has_alpha) make_opaque(p, whole != 0);
  return r;
}

// Takes the first played track's waiting PCM (at most the buffer's size) into web_pcm; returns
// the byte count.
EMSCRIPTEN_KEEPALIVE int32_t web_read_pcm(WebPlayer* p) {
  if (!p->info.played_track_count) return 0;
  return korva_read_pcm(p->movie, 0, p->pcm, kPcmBytes);
}
EMSCRIPTEN_KEEPALIVE const uint8_t* web_pcm(WebPlayer* p) { return p->pcm; }

// The playback statistics (korva_stats, 32-bit words in its order).
EMSCRIPTEN_KEEPALIVE const korva_stats* web_stats(WebPlayer* p) {
  korva_get_stats(p->movie, &p->stats);
  return &p->stats;
}

}  // extern "C"
