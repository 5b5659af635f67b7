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

// The clock and timing of playback (times are ms_timer readings). A reading may be 0 (the
// timer's first millisecond), so "not set" is kept apart from the value in the flags below and
// never enters a difference.
struct MovieClock {
  uint32_t playback_start;     // the first frame's start
  uint32_t frame_start;        // the current frame's start
  uint32_t slow_start;         // a decode's start, for the slowest-frame times
  uint32_t decode_end;         // the end of the last decode, for the blit time
  uint32_t clock_start;        // the movie clock's start and the frame count then
  uint32_t clock_start_frame;
  uint32_t late_threshold;     // two frame durations: later than this restarts the clock
  bool playback_started;       // playback_start holds a reading
  bool slow_pending;           // slow_start: a decode's time still to be measured
  bool blit_pending;           // decode_end: blit time still to be accounted
  bool clock_running;          // clock_start, clock_start_frame
  bool frame1_seen;            // frame1_visit
  bool paused;
  bool resync;                 // frame 1 visited again: the sound restarts with it
  uint32_t frame1_visit;       // the last visit to frame 1
  uint32_t last_decoded;       // the last decoded frame (1-based)
  uint32_t skip_flag;          // 1: the frame is late, its copy may be skipped (the copy step's word)
  uint32_t consecutive_skips;
  int32_t late_debt;           // lateness still to be made up, and the part made up a frame
  int32_t late_repay;
};

// Statistics of playback, for the summary and the statistics line.
struct MovieStats {
  uint32_t frames_decoded;
  uint32_t slowest_ms, slowest_frame, second_ms, second_frame;
  uint32_t total_memory;       // every allocation of the movie
  uint32_t video_ms, audio_ms, blit_ms;
  uint32_t open_ms;
  uint32_t stats_window;       // frames per second, rounded, at least 1
  uint32_t history_shift;      // bytes moved when the history arrays shift
  uint32_t* history[kHistoryArrays];
  uint32_t sound_underruns;
  uint32_t skipped_blits;
  uint32_t peak_second_bytes;  // the peak one-second data and the 0-based frame it starts at
  uint32_t peak_second_frame;
};

// Where the frames' bytes come from: the reader with its read-ahead ring, the whole movie
// preloaded, or a memory image.
struct MovieInput {
  InputReader reader;
  bool has_reader;
  bool in_memory;              // the whole movie is in memory (preloaded or an image)
  bool image;                  // the source was a memory image
  bool read_failed;            // the input hit its end or a short read: no frame decodes
  bool frame_incomplete;       // the current frame's bytes could not all be read
  const uint8_t* frame;        // the current frame's bytes
  uint32_t frame_size;
  uint8_t* preload;            // the whole movie's frames, when preloaded from a file
  uint32_t preload_read;       // how many of them the file really held
  const uint8_t* image_data;   // a memory image's bytes (frames are addressed in place)
  const uint8_t* index;        // frame_count + 1 little-endian words
  uint32_t index_entries;
  uint32_t first_frame;        // offset of frame 0
  uint32_t largest_frame;      // the real largest frame of the index
  uint32_t size_field;         // the header's size field
  uint8_t* frame_buffer;       // largest_frame bytes (reading through the ring)
  uint8_t* ring;
  uint32_t ring_size;
};

// The sound tracks: the header's three track arrays and the played ones.
struct MovieTracks {
  uint32_t count;
  const uint8_t* buffer_bytes; // each track's sound ring size
  const uint8_t* words;        // each track's audio header word
  const uint8_t* ids;          // each track's identifier
  uint32_t* played;            // indices of the played tracks
};

// The allocation groups the movie owns.
struct MovieBlocks {
  void* record_block;          // this record with its tables
  void* plane_block;
  void* frame_block;           // the frame buffer and the read-ahead ring
};

struct ConvertContext;
struct MovieLimits;
struct Worker;

// The movie's second thread (threads = 2): it decodes the chroma planes beside the luma plane
// and converts the lower part of every large copy, with its own buffers and converters.
struct MovieThreads {
  uint32_t count;              // 1 or 2
  Worker* worker;
  VideoHelper video;
  ConvertContext* convert;
  void* block;                 // the helper's stream buffers and change map
};

struct Movie {
  // The picture: display size (after doubling) and coded size (as in the header).
  uint32_t width, height;
  uint32_t coded_width, coded_height;
  // Frames: current_frame is 1-based (-1 right after allocation).
  uint32_t frame_count;
  uint32_t current_frame;
  uint32_t previous_frame;
  // The playing rate, and the header's.
  uint32_t rate_num, rate_den;
  uint32_t header_rate_num, header_rate_den;
  // Flag words: the movie's (OpenFlags) and the header's.
  uint32_t flags;
  uint32_t header_flags;
  bool video_enabled;
  // Changed-area rectangles of the last decoded frame.
  MovieRect rects[kMaxChangedRects];
  int32_t rect_count;        // -1: not computed for this frame yet
  uint32_t last_copy_flags;  // the copy flags of the last copy (its doubling mode scales rects)
  ConvertContext* convert;   // the converters of this movie's copies, their tuning and scratch rows
  // Frame planes with the video decoder's stream buffers.
  FramePlanes planes;
  MovieInput input;
  MovieClock clock;
  MovieStats stats;
  MovieTracks tracks;
  // The sound feed: the played tracks' outputs, the sound clock, the sound node (its mutex is
  // the sound lock).
  SoundFeed feed;
  MovieBlocks blocks;
  MovieThreads threads;
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
  const MovieLimits* limits; // refuse a movie over them, with the reason as its error text (null: none)
  uint32_t threads;          // threads decoding and copying the movie: 0 or 1 one, 2 or more two
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
// Sets this thread's failed-open text, replacing any (the library's own refusals; "" clears it).
void movie_replace_last_error(const char* text);

// Index entry i (as stored) and frame offsets.
uint32_t movie_index_entry(const Movie* m, uint32_t i);
