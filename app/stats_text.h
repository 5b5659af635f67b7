// Texts of the statistics line (/Q, after every frame) and of the playback summary (/S, at the
// end), built from the engine's records. Pure functions: no state, no allocation.
//
//   char line[kStatsLineCap];
//   stats_line_text(&realtime, line, sizeof line);
//   char text[kSummaryTextCap];
//   if (summary_text(&summary, surface_description, screen_w, screen_h, screen_bits,
//                    text, sizeof text))
//     show text in a box titled kSummaryTitle;
//
// Every number is printed in decimal without padding. Every quotient is an unsigned division
// with 64-bit intermediates, and no input divides by zero:
// - a `window_ms` or `playback_ms` of 0 counts as 1 (the engine reports at least 1 anyway);
// - a `header_rate_den` of 0 gives a header rate of "0.0";
// - a `rate_num` or `rate_den` of 0 plays "As fast as possible";
// - a `slowest_ms` or `second_ms` of 0 counts as 1.
// Texts that do not fit are cut at cap - 1 characters; the result is always NUL-terminated
// when cap > 0.
#pragma once
#include <cstddef>
#include <cstdint>

#include "playback/stats.h"

// The line the statistics area is measured with (its first kStatsSampleChars characters).
extern const char kStatsSampleText[];
constexpr size_t kStatsSampleChars = 100;
// Room for the longest statistics line (ten 32-bit numbers and the labels).
constexpr size_t kStatsLineCap = 192;
// The player's name buffer, reused for the summary; the longest summary fits in it.
constexpr size_t kSummaryTextCap = 2048;
extern const char kSummaryTitle[];  // "Korva Playback Summary"

// v tenths as "<v / 10>.<v mod 10>". Returns the length written.
size_t tenths_text(uint64_t v, char* out, size_t cap);
// t milliseconds as "1 millisecond", "2 seconds", "1 minute 1 second", "2 hours 1 minute", ...
size_t time_text(uint32_t ms, char* out, size_t cap);
// "Fr: ..., FPS: ..., Buf: ...%, Vid: ...%, Aud: ...%, Blit: ...%, Read: ...%, Back: ...%,
// Rate: ..." from a record. Returns the length written.
size_t stats_line_text(const RealtimeStats* s, char* out, size_t cap);
// The whole summary, one "\n" after every line. False (and out set to "") when nothing was
// played (frames_played 0) or a record is missing. `blit_style` is the surface's description
// text (null reads as "").
bool summary_text(const PlaybackSummary* s, const char* blit_style, uint32_t screen_width,
                  uint32_t screen_height, uint32_t screen_bits, char* out, size_t cap);
