// Playback statistics records handed to the player: a running record over the last second of
// frames (the statistics line) and a summary of the whole playback.
#pragma once
#include <cstdint>

struct RealtimeStats {
  uint32_t frame;          // previous_frame of the movie
  uint32_t rate_num, rate_den;  // playing rate
  uint32_t frames;         // a, frames in the window
  uint32_t window_ms;      // time between the newest decode's start and the one a frames earlier (≥ 1)
  uint32_t video_ms, audio_ms;
  uint32_t read_ms;        // reader foreground time
  uint32_t idle_read_ms, back_read_ms;
  uint32_t blit_ms;
  uint32_t wanted, buffered;  // the reader's fill now
  uint32_t data_rate;      // bytes per second over the window
};

struct PlaybackSummary {
  uint32_t width, height;
  uint32_t playback_ms;
  uint32_t header_rate_num, header_rate_den;
  uint32_t rate_num, rate_den;
  uint32_t open_ms;
  uint32_t frame_count;
  uint32_t frames_played;
  uint32_t skipped_frames;  // always 0: decoding is never skipped
  uint32_t skipped_blits;
  uint32_t sound_skips;
  uint32_t blit_ms, read_ms, video_ms, audio_ms, idle_read_ms, back_read_ms;
  uint32_t device_speed;    // bytes per second
  uint32_t slowest_ms, second_ms, slowest_frame, second_frame;
  uint32_t avg_data_rate, avg_frame_size;
  uint32_t total_memory, input_memory, peak_input_memory;
  uint32_t peak_rate, peak_frame;  // peak one-second data and its 1-based first frame
};
static_assert(sizeof(RealtimeStats) == 14 * 4, "RealtimeStats is 14 words");
static_assert(sizeof(PlaybackSummary) == 31 * 4, "PlaybackSummary is 31 words");

// A rectangle of the picture in display pixels.
struct MovieRect {
  int32_t left, top, width, height;
};
constexpr uint32_t kMaxChangedRects = 8;
