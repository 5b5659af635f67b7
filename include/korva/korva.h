/* libkorva: play .krv movies inside your own program.
 *
 * One header, callable from C (C99 and later) and C++. Plain records, no exceptions; every
 * function reports failure by its return value, and the text of the last failure is kept per
 * movie (korva_last_error) and, for an open that failed, per thread.
 *
 *   korva_movie* m = korva_open_file("intro.krv", NULL);
 *   if (!m) { fprintf(stderr, "%s\n", korva_last_error(NULL)); return 1; }
 *   korva_info info;
 *   korva_get_info(m, &info);
 *   for (;;) {
 *     while (korva_wait(m)) sleep_a_millisecond();   (or skip the wait: as fast as you like)
 *     if (korva_decode(m) != 0) break;               (the movie's data ends early)
 *     korva_copy(m, pixels, pitch, info.height, KORVA_FORMAT_RGBA32, KORVA_COPY_WHOLE, NULL);
 *     show(pixels);
 *     if (korva_current_frame(m) == info.frame_count) break;
 *     korva_next(m);
 *   }
 *   korva_close(m);
 *
 * Threads: a movie belongs to one thread at a time (calls on one movie must not overlap), but
 * any number of movies may be open and played at once, each from its own thread. The library
 * reads ahead and feeds sound on two background threads of its own, shared by all movies.
 * The few process-wide settings (korva_set_allocator) are made before the first open.
 *
 * Ownership: the library owns every korva_movie and every pointer it hands out (planes, texts);
 * they stay valid until the next call on the same movie or its close, unless said otherwise.
 * The caller owns every buffer it passes in.
 */
#ifndef KORVA_KORVA_H
#define KORVA_KORVA_H

#include <stddef.h>
#include <stdint.h>

#define KORVA_VERSION_MAJOR 1
#define KORVA_VERSION_MINOR 0
#define KORVA_VERSION_PATCH 0

#if defined(KORVA_STATIC_DEFINE)
#define KORVA_API
#elif defined(_WIN32)
#if defined(KORVA_BUILDING)
#define KORVA_API __declspec(dllexport)
#else
#define KORVA_API __declspec(dllimport)
#endif
#else
#define KORVA_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* An open movie. */
typedef struct korva_movie korva_movie;

/* The library's version as text, "MAJOR.MINOR.PATCH" (the library's, which may be newer than
 * this header's KORVA_VERSION_*). Any thread. */
KORVA_API const char* korva_version(void);

/* ---- Opening ---------------------------------------------------------------------------- */

/* korva_open_options.flags */
#define KORVA_OPEN_RATE        0x00001000u /* play at rate_num / rate_den instead of the movie's;
                                            * 0 / 0 plays every frame as soon as it is asked for */
#define KORVA_OPEN_PRELOAD     0x00002000u /* read the whole movie into memory at open */
#define KORVA_OPEN_GREY        0x00020000u /* grey scale: only the luma plane is decoded */
#define KORVA_OPEN_NO_SIMD     0x00040000u /* plain integer routines only (same pictures) */
#define KORVA_OPEN_NEVER_SKIP  0x00080000u /* korva_copy never skips a late frame */
#define KORVA_OPEN_ALPHA       0x00100000u /* decode the alpha plane when the movie has one */
#define KORVA_OPEN_NO_THREAD   0x08000000u /* no background reading for this movie */

/* korva_open_options.sound */
#define KORVA_SOUND_NONE 0u  /* no sound is decoded */
#define KORVA_SOUND_PULL 1u  /* the tracks' PCM is decoded and pulled with korva_read_pcm */
#define KORVA_SOUND_DEVICE 2u /* the tracks play on the system's sound device (SDL2 on Linux,
                               * waveOut on Windows), kept in step with the movie's clock;
                               * korva_open_* fails where the library has no device back end */

typedef struct korva_open_options {
  uint32_t flags;            /* KORVA_OPEN_* */
  uint32_t doubling;         /* 0: the movie's doubling mode; 1..6 a mode; 7: none */
  int32_t rate_num, rate_den; /* with KORVA_OPEN_RATE */
  uint32_t buffer_bytes;     /* read-ahead size in bytes; 0: one second of the movie's peak rate */
  uint32_t sound;            /* KORVA_SOUND_* */
  uint32_t track_count;      /* how many of track_ids to play; 0: the track with identifier 0 */
  const uint32_t* track_ids; /* identifiers of the tracks to play (at most 16) */
  /* Limits for files that nobody chose to open (a page that takes whatever is dropped on it, a
   * thumbnailer): a movie whose coded picture has more pixels, or that needs more memory to be
   * opened and played (its pictures, buffers, read-ahead and sound), is refused before anything
   * is allocated for it, with the reason in korva_last_error. 0: no limit. */
  uint64_t max_area;         /* pixels, e.g. KORVA_LIMIT_AREA */
  uint64_t max_memory;       /* bytes, e.g. KORVA_LIMIT_MEMORY */
} korva_open_options;

/* Limits for files that open by themselves: 64 megapixels (8192 x 8192) and 512 MiB. */
#define KORVA_LIMIT_AREA   ((uint64_t)64 << 20)
#define KORVA_LIMIT_MEMORY ((uint64_t)512 << 20)

/* Fills the defaults: no flags, the movie's own doubling and rate, no sound, no limits. */
KORVA_API void korva_default_options(korva_open_options* options);

/* Opens the movie in the file `name`. "FILE|OFFSET" opens the movie that starts OFFSET bytes
 * into FILE (a movie bundled into another file). Names of up to 2048 characters are taken; a
 * longer one fails with "The movie's name is longer than 2048 characters.". options may be
 * NULL (the defaults). Returns NULL on failure, with the reason in korva_last_error(NULL) of
 * the calling thread. Any thread. */
KORVA_API korva_movie* korva_open_file(const char* name, const korva_open_options* options);

/* Opens the movie that starts `offset` bytes into an open file: a file descriptor on POSIX
 * systems, a HANDLE (cast to intptr_t) on Windows. The library reads through a duplicate of
 * it; the caller keeps its own and may close it at once. NULL on failure, as above. */
KORVA_API korva_movie* korva_open_os_file(intptr_t file, uint64_t offset, const korva_open_options* options);

/* Opens a whole movie image in memory, `size` bytes. With `copy` non-zero the library copies
 * it first; with 0 it is borrowed: the bytes must stay unchanged until korva_close. NULL on
 * failure, as above. */
KORVA_API korva_movie* korva_open_memory(const void* data, size_t size, int copy,
                                         const korva_open_options* options);

/* Closes a movie and frees everything it holds. NULL is allowed. */
KORVA_API void korva_close(korva_movie* movie);

/* The text of the last failure: of the movie's last failed call, or, with NULL, of the calling
 * thread's last failed open. "" when there was none. Valid until the next call on the same
 * movie (or the next open on the same thread). */
KORVA_API const char* korva_last_error(const korva_movie* movie);

/* ---- What the movie holds --------------------------------------------------------------- */

typedef struct korva_info {
  uint32_t width, height;               /* the picture as displayed (after doubling) */
  uint32_t coded_width, coded_height;   /* the picture as coded (the planes' size) */
  uint32_t doubling;                    /* the doubling mode in effect, 0..6 */
  uint32_t rate_num, rate_den;          /* the playing rate (frames per second = num / den) */
  uint32_t movie_rate_num, movie_rate_den; /* the rate stored in the movie */
  uint32_t frame_count;
  uint32_t key_frame_count;
  uint32_t has_alpha;                   /* 1: an alpha plane is decoded */
  uint32_t grey;                        /* 1: grey scale */
  uint32_t track_count;                 /* sound tracks in the movie */
  uint32_t played_track_count;          /* of those, played (pulled or on the device) */
} korva_info;

/* korva_track_info.coding */
#define KORVA_CODING_NONE 0u
#define KORVA_CODING_DCT 1u
#define KORVA_CODING_RDFT 2u

typedef struct korva_track_info {
  uint32_t id;          /* the track's identifier */
  uint32_t rate;        /* samples a second (per channel) */
  uint32_t channels;    /* 1 or 2 */
  uint32_t bits;        /* 8 or 16: the PCM that korva_read_pcm hands out */
  uint32_t coding;      /* KORVA_CODING_* */
  int32_t played;       /* its index among the played tracks (for korva_read_pcm), or -1 */
} korva_track_info;

/* 0 on success, -1 for a bad argument (the text in korva_last_error(movie)). */
KORVA_API int korva_get_info(korva_movie* movie, korva_info* info);
/* Track `index` (0 .. track_count - 1) of the movie. 0 on success, -1 for a bad argument. */
KORVA_API int korva_get_track_info(korva_movie* movie, uint32_t index, korva_track_info* info);
/* Frame numbers (1-based) of the key frames: writes at most `cap` of them, returns how many
 * the movie has. */
KORVA_API uint32_t korva_get_key_frames(korva_movie* movie, uint32_t* frames, uint32_t cap);

/* ---- Stepping --------------------------------------------------------------------------- */

/* The movie's clock: 1 while the current frame is not yet due, 0 when it is (the clock starts
 * at the first call). A caller that plays as fast as it wants never calls it. */
KORVA_API int korva_wait(korva_movie* movie);
/* Decodes the current frame: its picture into the planes and its sound into the tracks'
 * buffers. 0 on success; -1 when the movie's data ends early (a cut-off file), with the text. */
KORVA_API int korva_decode(korva_movie* movie);
/* Loads the next frame (after the last one, frame 1 again). */
KORVA_API void korva_next(korva_movie* movie);
/* Loads frame `frame` (1-based; 0 or past the end: frame 1) and decodes it from the key frame
 * before it, so that the next korva_decode shows exactly that frame. 0, or -1 with the text. */
KORVA_API int korva_seek(korva_movie* movie, uint32_t frame);
/* The number (1-based) of the frame that korva_decode decodes next or decoded last. */
KORVA_API uint32_t korva_current_frame(korva_movie* movie);
/* Pauses (non-zero) or resumes (0) the clock and the sound; returns the paused state. */
KORVA_API int korva_pause(korva_movie* movie, int pause);

/* ---- The picture ------------------------------------------------------------------------ */

typedef struct korva_planes {
  const uint8_t* y;      /* coded_width x coded_height luma samples, y_stride bytes a row */
  const uint8_t* cb;     /* (coded_width + 1) / 2 x (coded_height + 1) / 2, c_stride a row */
  const uint8_t* cr;
  const uint8_t* alpha;  /* like y, or NULL when the movie has no decoded alpha plane */
  uint32_t y_stride, c_stride;
  uint32_t width, height; /* coded size */
} korva_planes;

/* The decoded picture of the last korva_decode, as planes (the samples stay valid until the
 * next korva_decode, korva_seek or korva_close). 0, or -1 with the text. */
KORVA_API int korva_get_planes(korva_movie* movie, korva_planes* planes);

/* Pixel formats of korva_copy (bytes a pixel in brackets). */
#define KORVA_FORMAT_BGR24 1u   /* B, G, R (3) */
#define KORVA_FORMAT_RGB24 2u   /* R, G, B (3) */
#define KORVA_FORMAT_BGRX32 3u  /* B, G, R, 0 (4) */
#define KORVA_FORMAT_RGBX32 4u  /* R, G, B, 0 (4) */
#define KORVA_FORMAT_BGRA32 5u  /* B, G, R, A (4); A = 0 without an alpha plane */
#define KORVA_FORMAT_RGBA32 6u  /* R, G, B, A (4); A = 0 without an alpha plane */
#define KORVA_FORMAT_ARGB4444 7u /* 16-bit words (2) */
#define KORVA_FORMAT_ARGB1555 8u /* (2) */
#define KORVA_FORMAT_RGB555 9u  /* (2) */
#define KORVA_FORMAT_RGB565 10u /* (2) */
#define KORVA_FORMAT_RGB655 11u /* (2) */
#define KORVA_FORMAT_RGB664 12u /* (2) */
#define KORVA_FORMAT_YUY2 13u   /* Y0, Cb, Y1, Cr (2) */
#define KORVA_FORMAT_UYVY 14u   /* Cb, Y0, Cr, Y1 (2) */
#define KORVA_FORMAT_YV12 15u   /* luma, then Cr, then Cb planes (1; pitch of the luma rows) */

/* korva_copy flags */
#define KORVA_COPY_WHOLE 0x80000000u /* convert the whole picture (else only the blocks that
                                      * changed since the last copy into the same memory) */
#define KORVA_COPY_NO_SIMD 0x00040000u

/* A rectangle of the picture, in display pixels. */
typedef struct korva_rect {
  int32_t left, top, width, height;
} korva_rect;

typedef struct korva_changes {
  uint32_t count;        /* 0 .. 8 rectangles that hold every changed pixel */
  korva_rect rects[8];
} korva_changes;

/* Converts the picture of the last korva_decode into caller memory: `dest` is the memory's
 * first byte, |pitch| bytes from one row to the next, room for `rows` rows; the picture
 * (korva_info width x height) goes to the top left corner. A negative pitch means bottom-up
 * memory: the picture's top row is the memory's last row. Without KORVA_COPY_WHOLE
 * only the changed blocks are converted, so `dest` must hold the previous copy of this movie.
 * `changes`, when not NULL, receives the rectangles that changed. Returns 0 when copied, 1 when
 * the frame was late against the clock and the copy was skipped (only while playing by the
 * clock, at most three in a row, never with KORVA_OPEN_NEVER_SKIP), -1 for a bad argument. */
KORVA_API int korva_copy(korva_movie* movie, void* dest, int32_t pitch, uint32_t rows, uint32_t format,
                         uint32_t flags, korva_changes* changes);

/* ---- Sound ------------------------------------------------------------------------------ */

/* Takes up to `bytes` bytes of the played track `played` (0 .. played_track_count - 1) that
 * korva_decode has produced: interleaved little-endian 16-bit samples, or unsigned 8-bit ones
 * (korva_track_info.bits). Returns how many bytes it wrote (0 when none are waiting), or -1
 * for a bad argument. The sound runs three quarters of a second ahead of the picture, as the
 * movie stores it. Only with KORVA_SOUND_PULL. */
KORVA_API int32_t korva_read_pcm(korva_movie* movie, uint32_t played, void* dest, uint32_t bytes);

/* ---- Statistics ------------------------------------------------------------------------- */

typedef struct korva_stats {
  uint32_t frames_played;   /* frames decoded */
  uint32_t skipped_copies;  /* late copies skipped */
  uint32_t playback_ms;
  uint32_t open_ms;
  uint32_t video_ms, audio_ms, copy_ms, read_ms; /* time spent decoding, copying, reading */
  uint32_t slowest_ms, slowest_frame;
  uint32_t total_memory;    /* bytes the movie holds */
  uint32_t peak_rate, peak_frame; /* bytes in the busiest second and where it starts */
} korva_stats;

/* 0, or -1 for a bad argument. */
KORVA_API int korva_get_stats(korva_movie* movie, korva_stats* stats);

/* ---- Memory ----------------------------------------------------------------------------- */

/* Installs an allocator pair used for the movies' buffers (NULL, NULL: the C heap again).
 * `allocate` may return NULL to refuse. Call it before the first open, from one thread. */
KORVA_API void korva_set_allocator(void* (*allocate)(size_t bytes), void (*release)(void* block));

#ifdef __cplusplus
}
#endif

#endif /* KORVA_KORVA_H */
