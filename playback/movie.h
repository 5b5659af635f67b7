// Movie: one open movie. movie_open reads and checks the header and index, allocates every
// buffer the movie needs in a few grouped, 32-byte aligned blocks, decides how the file is read
// (whole-movie preload or a read-ahead ring), opens the played sound tracks, registers the
// movie with the service threads and loads frame 1. movie_close undoes all of it.
//
//   movie_set_tracks(1, &id);            // one-shot parameters, consumed by the next open
//   Movie* m = movie_open("intro.krv", flags);
//   if (!m) show(movie_last_error());
//   ... movie_wait / movie_do_frame / copy / movie_next_frame (playback/engine.h) ...
//   movie_close(m);
#pragma once
#include <cstddef>
#include <cstdint>

#include "container/container.h"
#include "container/open_flags.h"
#include "container/reader.h"
#include "playback/stats.h"
#include "sound/sound.h"
#include "video/video_decoder.h"

constexpr uint32_t kMaxRequestedTracks = 16;
// The largest sound ring a track gets (32 MiB: minutes of 16-bit stereo sound).
constexpr uint32_t kMaxSoundRing = 32u << 20;

struct ConvertContext;

struct Movie {
  // 1. Display size (after doubling).
  uint32_t width, height;
  // 2. Frames (current_frame is 1-based; -1 right after allocation).
  uint32_t frame_count;
  uint32_t current_frame;
  uint32_t previous_frame;
  // 3. Playing rate.
  uint32_t rate_num, rate_den;
  // 4.
  uint32_t read_failed;
  // 5.
  uint32_t flags;
  uint32_t header_flags;
  uint32_t size_field;
  // 6. Changed-area rectangles of the last decoded frame.
  MovieRect rects[kMaxChangedRects];
  int32_t rect_count;  // -1: not computed for this frame yet
  // 7. Frame planes (with the video decoder's stream buffers).
  FramePlanes planes;
  // 8.
  uint32_t largest_frame;  // the real largest frame of the index
  uint32_t index_entries;
  uint32_t track_count;
  // 9. Peak one-second data.
  uint32_t peak_second_bytes;
  uint32_t peak_second_frame;
  // 10.
  uint32_t paused;
  const uint8_t* frame;      // the current frame's bytes
  uint32_t frame_size;
  uint8_t* preload;          // the whole movie's frames, when preloaded from a file
  uint32_t preload_read;     // how many of them the file really held
  const uint8_t* index;      // frame_count + 1 little-endian words
  // 11.
  InputReader reader;
  bool has_reader;
  // 12.
  uint8_t* frame_buffer;     // largest_frame bytes (reading through the ring)
  uint8_t* ring;
  uint32_t ring_size;
  uint32_t coded_width, coded_height;
  // 13. Sound.
  uint32_t* played;          // indices of the played tracks
  const uint8_t* track_buffer_bytes;
  const uint8_t* track_words;
  const uint8_t* track_ids;
  // 14. Timing and statistics.
  uint32_t frames_decoded;
  uint32_t playback_start;
  uint32_t frame_start;
  uint32_t slow_start;
  uint32_t decode_end;
  uint32_t clock_start;
  uint32_t clock_start_frame;
  uint32_t late_threshold;
  uint32_t slowest_ms, slowest_frame, second_ms, second_frame;
  uint32_t video_enabled;
  uint32_t total_memory;
  uint32_t video_ms, audio_ms, blit_ms;
  uint32_t open_ms;
  uint32_t header_rate_num, header_rate_den;
  uint32_t stats_window;     // frames per second, rounded, at least 1
  uint32_t history_shift;    // bytes moved when the history arrays shift
  uint32_t* history[7];      // frame start, audio, video, blit, foreground, idle, background
  // Which of the times above hold a reading. A reading of the ms timer may be 0 (its first
  // millisecond), so "not set" is kept apart from the value and never enters a difference.
  bool playback_started;     // playback_start
  bool slow_pending;         // slow_start: a decode's time still to be measured
  bool blit_pending;         // decode_end: blit time still to be accounted
  bool clock_running;        // clock_start, clock_start_frame
  bool frame1_seen;          // frame1_visit
  bool frame_incomplete;     // the current frame's bytes could not all be read
  uint32_t last_decoded;
  uint32_t frame1_visit;
  uint32_t resync;
  uint32_t sound_underruns;
  uint32_t skip_flag;
  uint32_t skipped_blits;
  uint32_t consecutive_skips;
  int32_t late_debt;
  int32_t late_repay;
  uint32_t last_copy_flags;  // the copy flags of the last copy (its doubling mode scales rects)
  ConvertContext* convert;   // the converters of this movie's copies, their tuning and scratch rows
  // 15. The video decoder's buffers live in `planes`.
  // 16. The sound: the played tracks' outputs, the sound clock, the sound node (its mutex is
  // the sound lock).
  SoundFeed feed;
  bool in_memory;            // the whole movie is in memory (preloaded or an image)
  bool image;                // the source was a memory image
  const uint8_t* image_data; // its bytes (frames are addressed in place)
  uint32_t first_frame;      // offset of frame 0
  void* record_block;        // the group holding this record
  void* plane_block;
  void* frame_block;
};

// A movie image in memory (flag kOpenFromMemory): its bytes and how many there are.
struct MovieImage {
  const uint8_t* data;
  size_t size;
};

// source: a file name, a PlatformFile* positioned at the movie (kOpenFromHandle) or a
// MovieImage* (kOpenFromMemory). Returns null with movie_last_error() set on failure.
Movie* movie_open(const void* source, uint32_t flags);
void movie_close(Movie* m);
const char* movie_last_error();
void movie_set_last_error(const char* text);  // the first failure's text stays

// One-shot parameters for the next open (each is consumed by the open that uses it).
void movie_set_rate_override(int32_t num, int32_t den);
void movie_set_buffer_size(int32_t bytes);
void movie_set_read_speed(int32_t bytes_per_second);
void movie_set_tracks(uint32_t count, const uint32_t* ids);
// A reader opener used instead of the file reader with kOpenUseOpener; forgotten after every open.
using reader_opener_fn = bool (*)(InputReader* reader, const void* source, uint32_t flags);
void movie_set_reader_opener(reader_opener_fn opener);
// Limits the next open applies (playback/limits.h): a movie over them is refused with the reason
// as its error text. Null: none.
struct MovieLimits;
void movie_set_limits(const MovieLimits* limits);

// Index entry i (as stored) and frame offsets.
uint32_t movie_index_entry(const Movie* m, uint32_t i);
