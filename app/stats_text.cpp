#include "app/stats_text.h"

const char kStatsSampleText[] =
    "Fre: 2000, FPS: 100.0, Buf: 100%, Vid: 55%, Aud: 55%, Blit: 55%, Read: 55%, Back: 55%, "
    "Rate: 1000000";
const char kSummaryTitle[] = "Korva Playback Summary";

static_assert(sizeof kStatsSampleText - 1 == kStatsSampleChars, "the sample is measured whole");

namespace {

// Appends to a caller's buffer, cutting what does not fit; always NUL-terminated.
struct TextOut {
  char* out;
  size_t cap;
  size_t len;
};

TextOut text_begin(char* out, size_t cap) {
  if (cap) out[0] = 0;
  return TextOut{out, cap, 0};
}

void put(TextOut* t, const char* s) {
  if (!t->cap) return;
  while (*s && t->len + 1 < t->cap) t->out[t->len++] = *s++;
  t->out[t->len] = 0;
}

void put_u(TextOut* t, uint64_t v) {
  char digits[24];
  size_t n = 0;
  do {
    digits[n++] = char('0' + v % 10);
    v /= 10;
  } while (v);
  char s[24];
  for (size_t i = 0; i < n; ++i) s[i] = digits[n - 1 - i];
  s[n] = 0;
  put(t, s);
}

void put_tenths(TextOut* t, uint64_t v) {
  put_u(t, v / 10);
  put(t, ".");
  put_u(t, v % 10);
}

uint64_t at_least_1(uint32_t v) { return v ? v : 1; }

// num / den, 0 when den is 0.
uint64_t quotient(uint64_t num, uint64_t den) { return den ? num / den : 0; }

void put_line(TextOut* t, const char* label, uint64_t v) {
  put(t, label);
  put_u(t, v);
  put(t, "\n");
}

}  // namespace

size_t tenths_text(uint64_t v, char* out, size_t cap) {
  TextOut t = text_begin(out, cap);
  put_tenths(&t, v);
  return t.len;
}

size_t time_text(uint32_t ms, char* out, size_t cap) {
  TextOut t = text_begin(out, cap);
  if (ms <= 999) {
    put_u(&t, ms);
    put(&t, ms == 1 ? " millisecond" : " milliseconds");
  } else if (ms <= 59999) {
    uint32_t s = ms / 1000;
    put_u(&t, s);
    put(&t, s == 1 ? " second" : " seconds");
  } else if (ms <= 3599999) {
    uint32_t m = ms / 60000, s = ms % 60000 / 1000;
    put_u(&t, m);
    put(&t, m == 1 ? " minute " : " minutes ");
    put_u(&t, s);
    put(&t, s == 1 ? " second" : " seconds");
  } else {
    uint32_t h = ms / 3600000, m = ms % 3600000 / 60000;
    put_u(&t, h);
    put(&t, h == 1 ? " hour " : " hours ");
    put_u(&t, m);
    put(&t, m == 1 ? " minute" : " minutes");
  }
  return t.len;
}

size_t stats_line_text(const RealtimeStats* s, char* out, size_t cap) {
  TextOut t = text_begin(out, cap);
  if (!s) return 0;
  uint64_t window = at_least_1(s->window_ms);
  auto percent = [window](uint64_t ms) { return ms * 100 / window; };
  put(&t, "Fr: ");
  put_u(&t, s->frame);
  put(&t, ", FPS: ");
  put_tenths(&t, uint64_t(s->frames) * 10000 / window);
  put(&t, ", Buf: ");
  put_u(&t, ((uint64_t(s->buffered) + 1) * 1000 / (uint64_t(s->wanted) + 1) + 5) / 10);
  put(&t, "%, Vid: ");
  put_u(&t, percent(s->video_ms));
  put(&t, "%, Aud: ");
  put_u(&t, percent(s->audio_ms));
  put(&t, "%, Blit: ");
  put_u(&t, percent(s->blit_ms));
  put(&t, "%, Read: ");
  put_u(&t, percent(uint64_t(s->read_ms) + s->idle_read_ms));
  put(&t, "%, Back: ");
  put_u(&t, percent(s->back_read_ms));
  put(&t, "%, Rate: ");
  put_u(&t, s->data_rate);
  return t.len;
}

bool summary_text(const PlaybackSummary* s, const char* blit_style, uint32_t screen_width,
                  uint32_t screen_height, uint32_t screen_bits, char* out, size_t cap) {
  TextOut t = text_begin(out, cap);
  if (!s || s->frames_played == 0) return false;
  uint64_t playback = at_least_1(s->playback_ms);
  auto per_mille = [playback](uint32_t ms) { return uint64_t(ms) * 1000 / playback; };
  char time[48];

  put(&t, "Video: ");
  put_u(&t, s->width);
  put(&t, " x ");
  put_u(&t, s->height);
  put(&t, " at ");
  put_tenths(&t, quotient(uint64_t(s->header_rate_num) * 10, s->header_rate_den));
  put(&t, " frames/sec\n");
  put_line(&t, "Total frames: ", s->frame_count);
  put(&t, "\n");
  put_line(&t, "Total frames played: ", s->frames_played);
  put(&t, "Frame rate played: ");
  if (s->rate_num && s->rate_den) {
    put_tenths(&t, uint64_t(s->rate_num) * 10 / s->rate_den);
    put(&t, " frames/sec\n");
  } else {
    put(&t, "As fast as possible\n");
  }
  put(&t, "Frame rate obtained: ");
  put_tenths(&t, uint64_t(s->frames_played) * 10000 / playback);
  put(&t, " frames/sec\n");
  put_line(&t, "Skipped frames: ", s->skipped_frames);
  put_line(&t, "Skipped blits: ", s->skipped_blits);
  put_line(&t, "Sound skips: ", s->sound_skips);
  put(&t, "\n");

  struct Share {
    const char* label;
    uint32_t ms;
  };
  const Share shares[6] = {
      {"Percentage spent decompressing video: ", s->video_ms},
      {"Percentage spent decompressing audio: ", s->audio_ms},
      {"Percentage spent blitting: ", s->blit_ms},
      {"Percentage spent reading: ", s->read_ms},
      {"Percentage spent reading while idle: ", s->idle_read_ms},
      {"Percentage spent reading in background: ", s->back_read_ms},
  };
  for (const Share& share : shares) {
    put(&t, share.label);
    put_tenths(&t, per_mille(share.ms));
    put(&t, "\n");
  }
  put(&t, "Speed of playback device: ");
  put_u(&t, s->device_speed);
  put(&t, " bytes/sec\n\n");

  put(&t, "Total playback time: ");
  time_text(s->playback_ms, time, sizeof time);
  put(&t, time);
  put(&t, "\nTotal open time: ");
  time_text(s->open_ms, time, sizeof time);
  put(&t, time);
  put(&t, "\nSlowest frame: ");
  put_u(&t, s->slowest_frame);
  put(&t, " (");
  put_tenths(&t, 10000 / at_least_1(s->slowest_ms));
  put(&t, " frames/sec)\n");
  if (s->frames_played >= 2) {
    put(&t, "Second slowest frame: ");
    put_u(&t, s->second_frame);
    put(&t, " (");
    put_tenths(&t, 10000 / at_least_1(s->second_ms));
    put(&t, " frames/sec)\n");
  }
  put(&t, "\n");  // the second-slowest row: its text (with its own break) or nothing, then a break
  put_line(&t, "Average data rate: ", s->avg_data_rate);
  put_line(&t, "Average frame size: ", s->avg_frame_size);
  put(&t, "Peak data rate: ");
  put_u(&t, s->peak_rate);
  put(&t, " bytes/sec (frame: ");
  put_u(&t, s->peak_frame);
  put(&t, ")\n\n");

  put_line(&t, "Total memory used: ", s->total_memory);
  put_line(&t, "Total input memory: ", s->input_memory);
  put_line(&t, "Highest input memory used: ", s->peak_input_memory);
  put(&t, "\n");
  put(&t, "Blitting style: ");
  put(&t, blit_style ? blit_style : "");
  put(&t, "\nVideo mode: ");
  put_u(&t, screen_width);
  put(&t, " x ");
  put_u(&t, screen_height);
  put(&t, " at ");
  put_u(&t, screen_bits);
  put(&t, " bits\n");
  return true;
}
