// The library's public door (include/korva/korva.h) over the core's Movie and engine.
//
// The core keeps a few things process-wide that the public functions must not let two movies
// fight over: the one-shot open parameters and the last error text of an open (both taken
// under the open lock, the text copied out per thread or per movie). Decoding, stepping,
// copying (each movie has its own converter context) and sound run per movie without a lock.
#include "include/korva/korva.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "app/options.h"
#include "base/alloc.h"
#include "base/bytes.h"
#include "container/container.h"
#include "playback/limits.h"
#include "playback/movie.h"
#include "convert/convert.h"
#include "platform/platform.h"
#include "playback/engine.h"
#include "sound/sound.h"
#if defined(KORVA_DEVICE_SDL)
#include "sound/backends/sdl_sound.h"
#elif defined(KORVA_DEVICE_WAVEOUT)
#include "sound/backends/win32_sound.h"
#endif

struct korva_movie {
  Movie* movie;
  PlatformFile* file;      // the duplicate of a caller's file, closed after the movie
  void* image;             // the library's copy of a memory image
  bool pull;               // the played tracks go to the pull back end
  bool sound;              // tracks are played (pulled or on the device)
  char error[256];
};

namespace {

constexpr char kVersionText[] = "1.0.0";
static_assert(KORVA_LIMIT_AREA == kDefaultMaxArea && KORVA_LIMIT_MEMORY == kDefaultMaxMemory,
              "the header's limits are the core's defaults");
static_assert(KORVA_VERSION_MAJOR == 1 && KORVA_VERSION_MINOR == 0 && KORVA_VERSION_PATCH == 0,
              "kVersionText follows the header's version");

std::mutex g_open_lock;
thread_local char t_open_error[256];

void set_text(char* out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(out, 256, format, args);
  va_end(args);
}

int fail(korva_movie* km, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(km->error, sizeof km->error, format, args);
  va_end(args);
  return -1;
}

// ---- The pull back end: each played track's output bytes wait in a queue of their own until
// the caller takes them. The queue holds two seconds; when the caller does not take them, the
// engine's ring holds on to what follows, as with a device that stopped draining.

struct PullQueue {
  uint8_t* bytes;
  uint32_t capacity, head, count;  // a ring: `count` bytes from `head`
  uint32_t offer;                  // bytes of the buffer offered by get_buffer
  uint32_t paused;
};

PullQueue* queue_of(SoundOutput* out) {
  PullQueue* q;
  std::memcpy(&q, out->backend, sizeof q);
  return q;
}

constexpr uint32_t kPullBufferBytes = 4096;
// The highest rate a pulled track plays at (as the SDL device's): two seconds of it are 8 MB.
constexpr uint32_t kMaxPullRate = 1000000;

uint32_t pull_ready(SoundOutput* out) {
  PullQueue* q = queue_of(out);
  return q && out->output_on && !q->paused && q->capacity - q->count >= kPullBufferBytes;
}

uint32_t pull_get_buffer(SoundOutput* out, uint8_t** buffer, uint32_t* size) {
  PullQueue* q = queue_of(out);
  if (!q || !buffer || !size || !pull_ready(out)) return 0;
  // The free space after the tail, up to the ring's end (a commit never wraps).
  const uint32_t tail = (q->head + q->count) % q->capacity;
  uint32_t room = tail >= q->head && q->count < q->capacity ? q->capacity - tail : q->head - tail;
  if (room > kPullBufferBytes) room = kPullBufferBytes;
  if (room < 4) return 0;
  q->offer = room & ~3u;
  *buffer = q->bytes + tail;
  *size = q->offer;
  return 1;
}

void pull_commit(SoundOutput* out, uint32_t bytes) {
  PullQueue* q = queue_of(out);
  if (!q || !q->offer) return;
  q->count += bytes < q->offer ? bytes : q->offer;
  q->offer = 0;
}

void pull_set_volume(SoundOutput*, int32_t) {}
void pull_set_pan(SoundOutput*, uint32_t) {}

uint32_t pull_pause(SoundOutput* out, uint32_t pause) {
  PullQueue* q = queue_of(out);
  if (!q) return 0;
  q->paused = pause ? 1 : 0;
  return q->paused;
}

uint32_t pull_on_off(SoundOutput* out, uint32_t on) {
  PullQueue* q = queue_of(out);
  if (!q) return 0;
  if (!on && out->output_on) q->head = q->count = q->offer = 0;
  out->output_on = on ? 1 : 0;
  return out->output_on;
}

void pull_close(SoundOutput* out) {
  PullQueue* q = queue_of(out);
  if (!q) return;
  std::free(q->bytes);
  std::free(q);
  std::memset(out->backend, 0, sizeof q);
  out->output_on = 0;
}

constexpr SoundOperations kPullOperations = {pull_ready, pull_get_buffer, pull_commit, pull_set_volume,
                                             pull_set_pan, pull_pause, pull_on_off, pull_close, nullptr, nullptr};

uint32_t pull_open(SoundOutput* out, uint32_t rate, uint32_t bits, uint32_t channels, uint32_t, const SoundLength*) {
  if (!out) return 0;
  std::memset(out, 0, sizeof *out);
  // The rate is the track's, rescaled by a rate override against the movie's own frame rate: a
  // crafted frame rate makes it anything up to 2^32, and the queue must not follow it there.
  if (rate == 0 || rate > kMaxPullRate || (bits != 8 && bits != 16) || (channels != 1 && channels != 2)) return 0;
  PullQueue* q = static_cast<PullQueue*>(std::calloc(1, sizeof(PullQueue)));
  const uint32_t capacity = (2 * rate * channels * (bits / 8) + kPullBufferBytes + 3) & ~3u;
  uint8_t* bytes = q ? static_cast<uint8_t*>(std::malloc(capacity)) : nullptr;
  if (!bytes) {
    std::free(q);
    return 0;
  }
  q->bytes = bytes;
  q->capacity = capacity;
  std::memcpy(out->backend, &q, sizeof q);
  sound_set_operations(out, kPullOperations);
  out->rate = rate;
  out->bits = bits;
  out->channels = channels;
  out->backend_bytes = bits == 16 ? kPullBufferBytes : 2 * kPullBufferBytes;
  out->output_on = 1;
  out->latency_ms = 0;
  return 1;
}

// The library's one sound system: each open says which back end its tracks take.
thread_local uint32_t t_sound_mode = KORVA_SOUND_NONE;

sound_open_fn device_open() {
#if defined(KORVA_DEVICE_SDL)
  return sdl_sound_provider(nullptr);
#elif defined(KORVA_DEVICE_WAVEOUT)
  return win32_waveout_provider(nullptr);
#else
  return nullptr;
#endif
}

uint32_t api_sound_open(SoundOutput* out, uint32_t rate, uint32_t bits, uint32_t channels, uint32_t flags,
                        const SoundLength* length) {
  if (t_sound_mode == KORVA_SOUND_PULL) return pull_open(out, rate, bits, channels, flags, length);
  sound_open_fn device = device_open();
  return t_sound_mode == KORVA_SOUND_DEVICE && device ? device(out, rate, bits, channels, flags, length) : 0;
}

sound_open_fn api_provider(void*) { return api_sound_open; }

// ---- Opening

uint32_t open_flags(const korva_open_options& o) {
  constexpr uint32_t kAllowed = KORVA_OPEN_RATE | KORVA_OPEN_PRELOAD | KORVA_OPEN_GREY | KORVA_OPEN_NO_SIMD |
                                KORVA_OPEN_NEVER_SKIP | KORVA_OPEN_ALPHA | KORVA_OPEN_NO_THREAD;
  uint32_t flags = (o.flags & kAllowed) | kOpenTrackList;
  if (o.buffer_bytes) flags |= kOpenBufferSize;
  flags |= (o.doubling & 7) << kOpenDoublingShift;
  return flags;
}

// Opens `source` with `flags` (plus the options' own), the one-shot parameters set right
// before, all under the open lock. Takes over `file` and `image` (freed on failure).
korva_movie* open_movie(const void* source, uint32_t flags, const korva_open_options* options, PlatformFile* file,
                        void* image) {
  korva_open_options o;
  korva_default_options(&o);
  if (options) o = *options;
  t_open_error[0] = 0;
  korva_movie* km = static_cast<korva_movie*>(std::calloc(1, sizeof(korva_movie)));
  if (!km || o.track_count > kMaxRequestedTracks || (o.track_count && !o.track_ids) || o.sound > KORVA_SOUND_DEVICE) {
    set_text(t_open_error, km ? "Bad open options." : "Out of memory.");
    std::free(km);
    platform_file_close(file);
    std::free(image);
    return nullptr;
  }
  const uint32_t zero = 0;
  {
    std::lock_guard<std::mutex> lock(g_open_lock);
    if (o.sound != KORVA_SOUND_NONE && !sound_use_system(api_provider, nullptr)) {
      set_text(t_open_error, "Another sound system is in use in this program.");
    } else if (o.sound == KORVA_SOUND_DEVICE && !device_open()) {
      set_text(t_open_error, "This library has no sound device back end.");
    } else {
      t_sound_mode = o.sound;
      if (o.flags & KORVA_OPEN_RATE) movie_set_rate_override(o.rate_num, o.rate_den);
      if (o.buffer_bytes) movie_set_buffer_size(int32_t(o.buffer_bytes > 0x7fffffffu ? 0x7fffffffu : o.buffer_bytes));
      // Without pull sound no track is asked for (an identifier that no track has).
      const uint32_t none = 0xffffffffu;
      if (o.sound == KORVA_SOUND_NONE) movie_set_tracks(1, &none);
      else if (o.track_count) movie_set_tracks(o.track_count, o.track_ids);
      else movie_set_tracks(1, &zero);
      const MovieLimits limits{o.max_area, o.max_memory};
      movie_set_limits(&limits);
      km->movie = movie_open(source, flags | open_flags(o));
      if (!km->movie) set_text(t_open_error, "%s", movie_last_error()[0] ? movie_last_error() : "Error opening file.");
      // Parameters that this open did not consume must not reach the next one.
      movie_set_rate_override(-1, -1);
      movie_set_buffer_size(-1);
      t_sound_mode = KORVA_SOUND_NONE;
    }
  }
  if (!km->movie) {
    std::free(km);
    platform_file_close(file);
    std::free(image);
    return nullptr;
  }
  km->file = file;
  km->image = image;
  km->pull = o.sound == KORVA_SOUND_PULL;
  km->sound = o.sound != KORVA_SOUND_NONE;
  return km;
}

}  // namespace

extern "C" {

const char* korva_version(void) { return kVersionText; }

void korva_default_options(korva_open_options* options) {
  if (options) std::memset(options, 0, sizeof *options);
}

korva_movie* korva_open_file(const char* name, const korva_open_options* options) {
  if (!name || !*name) {
    set_text(t_open_error, "No file name.");
    return nullptr;
  }
  if (std::strlen(name) > kMovieNameMax) {
    set_text(t_open_error, "%s", kMovieNameTooLong);
    return nullptr;
  }
  if (!std::strchr(name, '|')) return open_movie(name, 0, options, nullptr, nullptr);
  ResolvedName r;
  const char* error = nullptr;
  if (!resolve_movie_name(name, &r, &error) || r.kind != kNameFileAtOffset) {
    set_text(t_open_error, "%s", error ? error : "Error opening file.");
    return nullptr;
  }
  PlatformFile* f = platform_file_open(r.file);
  if (!f || !platform_file_seek(f, r.offset)) {
    platform_file_close(f);
    set_text(t_open_error, "Error opening file.");
    return nullptr;
  }
  return open_movie(f, kOpenFromHandle, options, f, nullptr);
}

korva_movie* korva_open_os_file(intptr_t file, uint64_t offset, const korva_open_options* options) {
  PlatformFile* f = platform_file_duplicate(file);
  if (!f || !platform_file_seek(f, offset)) {
    platform_file_close(f);
    set_text(t_open_error, "Error opening file.");
    return nullptr;
  }
  return open_movie(f, kOpenFromHandle, options, f, nullptr);
}

korva_movie* korva_open_memory(const void* data, size_t size, int copy, const korva_open_options* options) {
  if (!data || size < kContainerHeaderBytes) {
    set_text(t_open_error, "Not a Korva file.");
    return nullptr;
  }
  // The image must hold the whole movie that its header describes.
  ContainerView view;
  if (const char* e = container_open_view(static_cast<const uint8_t*>(data), size, &view)) {
    set_text(t_open_error, "%s", e);
    return nullptr;
  }
  // A movie over the caller's limits is refused before the library copies it.
  if (copy && options && (options->max_area || options->max_memory)) {
    const MovieLimits limits{options->max_area, options->max_memory};
    MovieNeeds needs;
    movie_needs(&view.header, &view.info, nullptr, 0, kOpenFromMemory, &needs);
    needs.memory += size;
    char refusal[kLimitTextBytes];
    if (movie_check_limits(&limits, &view.header, &needs, refusal)) {
      set_text(t_open_error, "%s", refusal);
      return nullptr;
    }
  }
  void* image = nullptr;
  if (copy) {
    image = std::malloc(size);
    if (!image) {
      set_text(t_open_error, "Out of memory.");
      return nullptr;
    }
    std::memcpy(image, data, size);
    data = image;
  }
  MovieImage mi{static_cast<const uint8_t*>(data), size};
  return open_movie(&mi, kOpenFromMemory, options, nullptr, image);
}

void korva_close(korva_movie* km) {
  if (!km) return;
  movie_close(km->movie);
  platform_file_close(km->file);
  std::free(km->image);
  std::free(km);
}

const char* korva_last_error(const korva_movie* km) { return km ? km->error : t_open_error; }

int korva_get_info(korva_movie* km, korva_info* info) {
  if (!km) return -1;
  if (!info) return fail(km, "No record to fill.");
  const Movie* m = km->movie;
  std::memset(info, 0, sizeof *info);
  info->width = m->width;
  info->height = m->height;
  info->coded_width = m->coded_width;
  info->coded_height = m->coded_height;
  info->doubling = (m->flags & kOpenDoublingMask) >> kOpenDoublingShift;
  if (info->doubling == 7) info->doubling = 0;
  info->rate_num = m->rate_num;
  info->rate_den = m->rate_den;
  info->movie_rate_num = m->header_rate_num;
  info->movie_rate_den = m->header_rate_den;
  info->frame_count = m->frame_count;
  info->key_frame_count = korva_get_key_frames(km, nullptr, 0);
  info->has_alpha = m->planes.alpha_planes[0] != nullptr;
  info->grey = (m->flags & kOpenGrey) != 0;
  info->track_count = m->track_count;
  info->played_track_count = km->sound ? m->feed.count : 0;
  return 0;
}

int korva_get_track_info(korva_movie* km, uint32_t index, korva_track_info* info) {
  if (!km) return -1;
  const Movie* m = km->movie;
  if (!info) return fail(km, "No record to fill.");
  if (index >= m->track_count) return fail(km, "The movie has no track %u.", index);
  const uint32_t word = load_le32(m->track_words + 4 * index);
  info->id = load_le32(m->track_ids + 4 * index);
  info->rate = word & kAudioWordRateMask;
  info->channels = word & kAudioWordStereo ? 2 : 1;
  info->bits = word & kAudioWordSixteenBit ? 16 : 8;
  info->coding = (word & kAudioWordRdft) ? KORVA_CODING_RDFT : (word & kAudioWordDct) ? KORVA_CODING_DCT
                                                                                      : KORVA_CODING_NONE;
  info->played = -1;
  if (km->sound)
    for (uint32_t k = 0; k < m->feed.count; ++k)
      if (m->played[k] == index) {
        info->played = int32_t(k);
        info->rate = m->feed.outputs[k].rate;  // the rate it plays at (a rate override rescales it)
      }
  return 0;
}

uint32_t korva_get_key_frames(korva_movie* km, uint32_t* frames, uint32_t cap) {
  if (!km) return 0;
  const Movie* m = km->movie;
  uint32_t n = 0;
  for (uint32_t i = 0; i < m->frame_count; ++i) {
    if (!(movie_index_entry(m, i) & 1)) continue;
    if (frames && n < cap) frames[n] = i + 1;
    ++n;
  }
  return n;
}

int korva_wait(korva_movie* km) { return km && movie_wait(km->movie) ? 1 : 0; }

int korva_decode(korva_movie* km) {
  if (!km) return -1;
  if (movie_do_frame(km->movie))
    return fail(km, "The movie's data ends early (frame %u of %u).", km->movie->current_frame,
                km->movie->frame_count);
  return 0;
}

void korva_next(korva_movie* km) {
  if (km) movie_next_frame(km->movie);
}

int korva_seek(korva_movie* km, uint32_t frame) {
  if (!km) return -1;
  Movie* m = km->movie;
  if (frame == 0 || frame > m->frame_count) frame = 1;
  uint32_t key = frame;
  while (key > 1 && !(movie_index_entry(m, key - 1) & 1)) --key;
  // Decode from the key frame up to the frame before the one asked for; their sound is let go.
  for (uint32_t n = key; n < frame; ++n) {
    movie_goto(m, n);
    if (movie_do_frame(m)) return fail(km, "The movie's data ends early (frame %u of %u).", n, m->frame_count);
  }
  movie_goto(m, frame);
  m->last_decoded = 0;
  if (km->sound) {
    // The sound decoded on the way is dropped: the tracks go on from the frame asked for.
    sound_lock(&m->feed);
    for (uint32_t k = 0; k < m->feed.count; ++k) {
      SoundOutput* o = &m->feed.outputs[k];
      o->read_pos = o->write_pos = o->ring_start;
      o->fill = 0;
      if (km->pull)
        if (PullQueue* q = queue_of(o)) q->head = q->count = 0;
    }
    sound_unlock(&m->feed);
  }
  return 0;
}

uint32_t korva_current_frame(korva_movie* km) { return km ? km->movie->current_frame : 0; }

int korva_pause(korva_movie* km, int pause) { return km && movie_pause(km->movie, pause ? 1 : 0) ? 1 : 0; }

int korva_get_planes(korva_movie* km, korva_planes* out) {
  if (!km) return -1;
  if (!out) return fail(km, "No record to fill.");
  const Movie* m = km->movie;
  const FramePlanes& p = m->planes;
  const uint8_t* set = p.plane_sets[p.current_set];
  const size_t luma = size_t(p.luma_stride) * p.luma_height, chroma = size_t(p.chroma_stride) * p.chroma_height;
  // The first chroma plane is Cr unless the movie's variant stores Cb first.
  const bool cb_first = m->flags & kOpenSwapChroma;
  out->y = set;
  out->cr = cb_first ? set + luma + chroma : set + luma;
  out->cb = cb_first ? set + luma : set + luma + chroma;
  out->alpha = p.alpha_planes[p.current_set];
  out->y_stride = p.luma_stride;
  out->c_stride = p.chroma_stride;
  out->width = m->coded_width;
  out->height = m->coded_height;
  return 0;
}

int korva_copy(korva_movie* km, void* dest, int32_t pitch, uint32_t rows, uint32_t format, uint32_t flags,
               korva_changes* changes) {
  if (!km) return -1;
  Movie* m = km->movie;
  if (!dest) return fail(km, "No destination.");
  if (format < KORVA_FORMAT_BGR24 || format > KORVA_FORMAT_YV12) return fail(km, "Unknown pixel format %u.", format);
  const uint64_t row_bytes = uint64_t(m->width) * convert_bytes_per_pixel(format);
  const uint64_t magnitude = pitch < 0 ? uint64_t(-int64_t(pitch)) : uint64_t(pitch);
  if (magnitude < row_bytes) return fail(km, "A pitch of %d bytes is too small for %u pixels.", pitch, m->width);
  if (rows < m->height) return fail(km, "%u rows are too few for a picture of %u.", rows, m->height);
  if (!m->frames_decoded) return fail(km, "No frame has been decoded yet.");
  const uint32_t copy_flags = format | (flags & (KORVA_COPY_WHOLE | KORVA_COPY_NO_SIMD));
  const uint32_t late = movie_copy_to_surface(m, static_cast<uint8_t*>(dest), pitch, rows, 0, 0, 0, 0, m->width,
                                              m->height, copy_flags);
  if (changes) {
    const uint32_t n = movie_changed_rects(0, m);
    changes->count = n > 8 ? 8 : n;
    for (uint32_t i = 0; i < changes->count; ++i) {
      changes->rects[i].left = m->rects[i].left;
      changes->rects[i].top = m->rects[i].top;
      changes->rects[i].width = m->rects[i].width;
      changes->rects[i].height = m->rects[i].height;
    }
  }
  return late && m->skip_flag ? 1 : 0;
}

int32_t korva_read_pcm(korva_movie* km, uint32_t played, void* dest, uint32_t bytes) {
  if (!km) return -1;
  Movie* m = km->movie;
  if (!km->pull) return fail(km, "The movie was opened without pulled sound.");
  if (played >= m->feed.count) return fail(km, "No played track %u.", played);
  if (!dest && bytes) return fail(km, "No destination.");
  sound_pump(&m->feed);  // what the engine has decoded, into the queue
  sound_lock(&m->feed);
  PullQueue* q = queue_of(&m->feed.outputs[played]);
  uint32_t n = 0;
  if (q) {
    uint8_t* d = static_cast<uint8_t*>(dest);
    while (n < bytes && q->count) {
      uint32_t run = q->capacity - q->head;
      if (run > q->count) run = q->count;
      if (run > bytes - n) run = bytes - n;
      std::memcpy(d + n, q->bytes + q->head, run);
      q->head = (q->head + run) % q->capacity;
      q->count -= run;
      n += run;
    }
  }
  sound_unlock(&m->feed);
  return int32_t(n);
}

int korva_get_stats(korva_movie* km, korva_stats* out) {
  if (!km) return -1;
  if (!out) return fail(km, "No record to fill.");
  PlaybackSummary s;
  movie_summary(&s, km->movie);
  std::memset(out, 0, sizeof *out);
  out->frames_played = s.frames_played;
  out->skipped_copies = s.skipped_blits;
  out->playback_ms = s.playback_ms;
  out->open_ms = s.open_ms;
  out->video_ms = s.video_ms;
  out->audio_ms = s.audio_ms;
  out->copy_ms = s.blit_ms;
  out->read_ms = s.read_ms;
  out->slowest_ms = s.slowest_ms;
  out->slowest_frame = s.slowest_frame;
  out->total_memory = s.total_memory;
  out->peak_rate = s.peak_rate;
  out->peak_frame = s.peak_frame;
  return 0;
}

void korva_set_allocator(void* (*allocate)(size_t bytes), void (*release)(void* block)) {
  movie_set_allocator(allocate, release);
}

}  // extern "C"
