// Movie: one open movie. movie_open reads and checks the header and index, allocates every
// buffer the movie needs in a few grouped, 32-byte aligned blocks, decides how the file is read
// (whole-movie preload or a read-ahead ring), opens the played sound tracks, registers the
// movie with the service threads and loads frame 1. movie_close undoes all of it.
//
//   MovieOpen o = movie_open_name("intro.krv", flags);
//   o.sound = &sound_system;             // where the played tracks go (null: silent)
//   Movie* m = movie_open(&o);
//   if (!m) show(movie_last_error());    // this thread's last failed open
//   ... movie_wait / movie_do_frame / copy / movie_next_frame (playback/engine.h) ...
//   movie_close(m);
#pragma once
#include <cstddef>
#include <cstdint>

#include "container/container.h"
#include "container/open_flags.h"
#include "container/reader.h"
#include "platform/platform.h"
#include "playback/stats.h"
#include "sound/sound.h"
#include "video/video_decoder.h"

constexpr uint32_t kMaxRequestedTracks = 16;
// The largest sound ring a track gets (32 MiB: minutes of 16-bit stereo sound).
constexpr uint32_t kMaxSoundRing = 32u << 20;
// The statistics history: frame start, audio, video, blit, foreground, idle, background.
constexpr uint32_t kHistoryArrays = 7;

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
  bool video_enabled;
  uint32_t total_memory;
  uint32_t video_ms, audio_ms, blit_ms;
  uint32_t open_ms;
  uint32_t header_rate_num, header_rate_den;
  uint32_t stats_window;     // frames per second, rounded, at least 1
  uint32_t history_shift;    // bytes moved when the history arrays shift
  uint32_t* history[kHistoryArrays];
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

// A movie image in memory: its bytes and how many there are.
struct MovieImage {
  const uint8_t* data;
  size_t size;
};

// Where a movie comes from.
enum class MovieSourceKind : uint8_t {
  kName,   // a file by name
  kFile,   // an open file positioned at the movie (it stays the caller's)
  kImage,  // a complete movie image in memory (frames are addressed in place)
};
struct MovieSource {
  MovieSourceKind kind;
  const char* name;    // kName
  PlatformFile* file;  // kFile
  MovieImage image;    // kImage
};

// A reader opener used instead of the file reader with kOpenUseOpener (name and file sources).
using reader_opener_fn = bool (*)(InputReader* reader, const MovieSource* source, uint32_t flags);

// Everything one open is given. The flag word's kOpenFromHandle and kOpenFromMemory follow the
// source; the values below are used only with their flag (-1: not given, the header's value).
struct MovieOpen {
  MovieSource source;
  uint32_t flags;            // OpenFlags
  int32_t rate_num, rate_den;  // kOpenRateOverride; num or den <= 0: as fast as possible
  int32_t buffer_size;       // kOpenBufferSize: read-ahead bytes
  int32_t read_speed;        // kOpenReadSpeed: simulated bytes a second
  uint32_t track_count;      // kOpenTrackList: the identifiers of the tracks to play, in order;
  uint32_t track_ids[kMaxRequestedTracks];  // without it, the track of identifier 0
  reader_opener_fn opener;   // kOpenUseOpener
  SoundSystem* sound;        // the played tracks' back end (null: the movie plays silently)
};
// An open record with nothing given beyond the source and the flag word.
MovieOpen movie_open_name(const char* name, uint32_t flags);
MovieOpen movie_open_file(PlatformFile* file, uint32_t flags);
MovieOpen movie_open_image(const MovieImage* image, uint32_t flags);

// Returns null on failure, with movie_last_error() set for this thread.
Movie* movie_open(const MovieOpen* o);
void movie_close(Movie* m);
// Sets this thread's failed-open text unless one is set (a reader opener may set its own).
void movie_set_last_error(const char* text);
// The text of this thread's last failed open ("" after a successful one).
const char* movie_last_error();

// Index entry i (as stored) and frame offsets.
uint32_t movie_index_entry(const Movie* m, uint32_t i);
