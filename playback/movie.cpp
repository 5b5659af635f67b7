#include "playback/movie.h"

#include <cstring>
#include <mutex>

#include "audio/audio_decoder.h"
#include "base/alloc.h"
#include "base/bytes.h"
#include "convert/convert.h"
#include "playback/engine.h"
#include "playback/limits.h"
#include "base/timer.h"
#include "sound/sound.h"

namespace {

// Last error text, process-wide: cleared at each open, set by the first failure.
char g_last_error[256];

// One-shot parameters.
int32_t g_rate_num = -1, g_rate_den = -1;
int32_t g_buffer_size = -1;
int32_t g_read_speed = -1;
uint32_t g_track_count = 1;
uint32_t g_track_ids[kMaxRequestedTracks] = {0};
reader_opener_fn g_opener = nullptr;
MovieLimits g_limits = {0, 0};

void reset_track_request() {
  g_track_count = 1;
  g_track_ids[0] = 0;
}

// Everything open has made so far, undone in reverse (used by failures and by close).
void release(Movie* m) {
  if (!m) return;
  for (uint32_t i = 0; i < m->feed.count; ++i) {
    SoundOutput* o = &m->feed.outputs[i];
    if (o->sound_close) o->sound_close(o);
    audio_decoder_close(o->decoder);
    aligned_free32(o->ring_start);
  }
  if (m->has_reader && m->reader.close) m->reader.close(&m->reader);
  convert_context_destroy(m->convert);
  aligned_free32(m->frame_block);
  if (m->preload) aligned_free32(m->preload);
  aligned_free32(m->plane_block);
  void* block = m->record_block;
  std::memset(static_cast<void*>(m), 0, sizeof *m);
  aligned_free32(block);
}

Movie* fail(Movie* m, InputReader* reader, bool reader_open, const char* text) {
  movie_set_last_error(text);
  if (m) {
    release(m);
  } else if (reader_open && reader->close) {
    reader->close(reader);
  }
  return nullptr;
}

uint32_t rescaled_rate(uint32_t rate, const Movie* m) {
  if (!m->rate_num || !m->rate_den || !m->header_rate_num) return rate;
  uint64_t num = uint64_t(rate) * m->rate_num * m->header_rate_den;
  uint64_t den = uint64_t(m->rate_den) * m->header_rate_num;
  uint64_t r = (num + den / 2) / den;
  return r > 0xffffffffu ? 0xffffffffu : uint32_t(r);
}

// Switching the sound on started the sound clock: the movie's clock starts again from it.
void sound_clock_started(void* context) {
  Movie* m = static_cast<Movie*>(context);
  m->clock_running = false;
  m->late_debt = 0;
}

// Opens the played tracks (step 14). Tracks that cannot be opened are dropped.
void open_sound(Movie* m, uint32_t requested, const uint32_t* ids) {
  m->feed.current_frame = &m->current_frame;
  m->feed.last_decoded = &m->last_decoded;
  m->feed.clock_started = sound_clock_started;
  m->feed.context = m;
  m->feed.outputs[0].time_scale = 0x10000;
  uint32_t count = 0;
  for (uint32_t k = 0; k < requested; ++k)
    for (uint32_t t = 0; t < m->track_count; ++t)
      if (load_le32(m->track_ids + 4 * t) == ids[k]) {
        m->played[count++] = t;
        break;
      }
  sound_open_fn open = sound_installed_open();
  uint32_t kept = 0;
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t t = m->played[k];
    const uint32_t word = load_le32(m->track_words + 4 * t);
    SoundOutput* o = &m->feed.outputs[kept];
    if (!(word & (kAudioWordDct | kAudioWordRdft)) || !open) continue;
    const uint32_t file_rate = word & kAudioWordRateMask;
    const uint32_t rate = rescaled_rate(file_rate, m);
    const uint32_t bits = (word & kAudioWordSixteenBit) ? 16 : 8;
    const uint32_t channels = (word & kAudioWordStereo) ? 2 : 1;
    const uint32_t time_scale = o->time_scale;
    const SoundLength length = {m->frame_count, m->rate_num, m->rate_den};
    if (!open(o, rate, bits, channels, m->flags, &length)) {
      std::memset(static_cast<void*>(o), 0, sizeof *o);
      o->time_scale = time_scale;
      continue;
    }
    if (!o->align_mask) o->align_mask = 0xffffffffu;
    // The header's ring size, but never more than kMaxSoundRing: a file cannot make the player
    // ask for gigabytes (the ring holds a second or two of sound in real movies).
    const uint64_t wanted_ring = (uint64_t(load_le32(m->track_buffer_bytes + 4 * t)) + 255) / 256 * 256;
    const uint32_t ring = wanted_ring > kMaxSoundRing ? kMaxSoundRing : uint32_t(wanted_ring);
    o->ring_start = static_cast<uint8_t*>(aligned_alloc32(ring));
    const bool use_dct = (word & kAudioWordDct) && !(word & kAudioWordRdft);
    o->decoder = o->ring_start ? audio_decoder_open(file_rate, channels, use_dct) : nullptr;
    if (!o->ring_start || !o->decoder) {
      // No ring or no decoder (a rate the decoder cannot play): the track stays silent.
      if (o->sound_close) o->sound_close(o);
      aligned_free32(o->ring_start);
      audio_decoder_close(o->decoder);
      std::memset(static_cast<void*>(o), 0, sizeof *o);
      o->time_scale = time_scale;
      continue;
    }
    sound_count_track_opened();
    o->ring_size = ring;
    o->ring_end = o->ring_start + ring;
    o->write_pos = o->read_pos = o->ring_start;
    o->to_8bit = bits == 8;
    uint32_t latency = o->latency_ms < 750 ? o->latency_ms : 750;
    uint64_t prime = uint64_t(channels) * rate * 2 * (750 - latency) / 1000;
    prime &= ~uint64_t(3);
    o->prime_bytes = prime > ring ? ring : uint32_t(prime);
    // The frame three quarters of a second before the end (0 for a shorter movie).
    uint32_t tail = m->header_rate_den ? uint32_t(uint64_t(m->header_rate_num) * 3 / (uint64_t(m->header_rate_den) * 4)) : 0;
    o->flush_frame = m->frame_count > tail ? m->frame_count - tail : 0;
    o->fill = 0;
    if (!o->time_scale) o->time_scale = 0x10000;
    m->played[kept++] = t;
  }
  m->feed.count = kept;
  if (!m->feed.outputs[0].time_scale) m->feed.outputs[0].time_scale = 0x10000;
}

}  // namespace

const char* movie_last_error() { return g_last_error; }
void movie_set_last_error(const char* text) {
  if (!g_last_error[0] && text) std::snprintf(g_last_error, sizeof g_last_error, "%s", text);
}

void movie_set_rate_override(int32_t num, int32_t den) { g_rate_num = num; g_rate_den = den; }
void movie_set_buffer_size(int32_t bytes) { g_buffer_size = bytes; }
void movie_set_read_speed(int32_t bytes_per_second) { g_read_speed = bytes_per_second; }
void movie_set_tracks(uint32_t count, const uint32_t* ids) {
  if (count > kMaxRequestedTracks) count = kMaxRequestedTracks;
  g_track_count = count;
  for (uint32_t i = 0; i < count; ++i) g_track_ids[i] = ids[i];
}
void movie_set_reader_opener(reader_opener_fn opener) { g_opener = opener; }
void movie_set_limits(const MovieLimits* limits) { g_limits = limits ? *limits : MovieLimits{0, 0}; }

uint32_t movie_index_entry(const Movie* m, uint32_t i) { return load_le32(m->index + 4ull * i); }

Movie* movie_open(const void* source, uint32_t flags) {
  // 1.
  if (!(flags & kOpenTrackList)) reset_track_request();
  uint32_t requested = g_track_count;
  uint32_t ids[kMaxRequestedTracks];
  std::memcpy(ids, g_track_ids, sizeof ids);
  reset_track_request();
  const uint32_t start = ms_timer();
  g_last_error[0] = 0;
  reader_opener_fn opener = g_opener;
  g_opener = nullptr;
  const MovieLimits limits = g_limits;
  g_limits = MovieLimits{0, 0};
  char refusal[kLimitTextBytes];

  // 2. The header.
  const bool image = (flags & kOpenFromMemory) != 0;
  InputReader reader_tmp;
  std::memset(static_cast<void*>(&reader_tmp), 0, sizeof reader_tmp);
  uint8_t head[kContainerHeaderBytes] = {0};
  const MovieImage* img = static_cast<const MovieImage*>(source);
  size_t head_bytes = 0;
  if (image) {
    if (!img || !img->data) return fail(nullptr, nullptr, false, "Error opening file.");
    head_bytes = img->size < sizeof head ? img->size : sizeof head;
    std::memcpy(head, img->data, head_bytes);
  } else {
    bool ok = (flags & kOpenUseOpener) && opener ? opener(&reader_tmp, source, flags)
                                                 : reader_open(&reader_tmp, source, flags);
    if (!ok) return fail(nullptr, nullptr, false, "Error opening file.");
    head_bytes = reader_tmp.read_at(&reader_tmp, 0, head, sizeof head);
  }
  // 3. Header checks (and the checks that keep the rest of open inside its buffers).
  ContainerHeader h;
  if (const char* e = container_parse_header(head, head_bytes, &h)) return fail(nullptr, &reader_tmp, !image, e);
  if (image && container_index_offset(&h) + 4ull * (h.frame_count + 1) > img->size)
    return fail(nullptr, nullptr, false, "The file ends inside the movie's track tables or frame index.");
  MovieNeeds needs;
  movie_needs(&h, nullptr, nullptr, 0, h.flags & kMovieFlagAlpha ? flags : flags & ~kOpenAlpha, &needs);
  if (movie_check_limits(&limits, &h, &needs, refusal)) return fail(nullptr, &reader_tmp, !image, refusal);

  // 4. Sizes.
  VideoFrameSizes vs;
  if (!video_frame_sizes(h.width, h.height, &vs)) return fail(nullptr, &reader_tmp, !image, "The movie's picture size is invalid.");

  // 5. Flag word and doubling.
  uint32_t f = flags & ~kOpenDoublingMask;
  if (!(h.flags & kMovieFlagAlpha)) f &= ~kOpenAlpha;
  f |= h.flags & kOpenGrey;
  uint32_t width = h.width, height = h.height;
  const uint32_t caller_mode = (flags & kOpenDoublingMask) >> kOpenDoublingShift;
  if (caller_mode != 7) {
    uint32_t mode = caller_mode ? caller_mode : (h.flags & kMovieFlagDoublingMask) >> 28;
    f |= mode << kOpenDoublingShift;
    if (mode == 3 || mode == 4 || mode == 5) width *= 2;
    if (mode == 1 || mode == 2 || mode == 4 || mode == 5) height *= 2;
  }
  if (h.version == 'f' || h.version == 'g') f |= kOpenOldColours | kOpenSwapChroma;
  else if (h.version == 'h') f |= kOpenOldColours;

  // 6. Rate and statistics window.
  uint32_t rate_num = h.rate_num, rate_den = h.rate_den;
  if ((flags & kOpenRateOverride) && g_rate_num != -1 && g_rate_den != -1) {
    // A negative or zero-denominator override means "as fast as possible" rather than a
    // division by it later.
    rate_num = g_rate_num > 0 && g_rate_den > 0 ? uint32_t(g_rate_num) : 0;
    rate_den = g_rate_num > 0 && g_rate_den > 0 ? uint32_t(g_rate_den) : 0;
    g_rate_num = g_rate_den = -1;
  }
  uint32_t window = uint32_t((uint64_t(h.rate_num) + h.rate_den / 2) / h.rate_den);
  if (!window) window = 1;
  if (window > 1000) window = 1000;  // a silly rate must not size the history arrays

  // 7. The record and its buffers, one block.
  Movie* m = nullptr;
  PendingList pending;
  pending_init(&pending);
  uint8_t* change_map = nullptr;
  uint32_t* history[7];
  SoundOutput* sound = nullptr;
  uint32_t* played = nullptr;
  uint8_t* streams = nullptr;
  uint8_t* tables = nullptr;
  pending_add(&pending, reinterpret_cast<void**>(&change_map), vs.map_blocks + 16);
  for (auto& a : history) pending_add(&pending, reinterpret_cast<void**>(&a), 4ull * window);
  pending_add(&pending, reinterpret_cast<void**>(&sound), sizeof(SoundOutput) * (requested ? requested : 1));
  pending_add(&pending, reinterpret_cast<void**>(&played), 4ull * (requested ? requested : 1));
  pending_add(&pending, reinterpret_cast<void**>(&streams), vs.stream_bytes);
  const size_t tables_bytes = container_tables_bytes(&h);
  if (!image) pending_add(&pending, reinterpret_cast<void**>(&tables), tables_bytes);
  uint32_t total = 0;
  void* head_out = nullptr;
  void* block = pending_allocate(&pending, sizeof(Movie), &head_out, &total);
  pending_free(&pending);
  if (!block) return fail(nullptr, &reader_tmp, !image, "Out of memory.");
  m = static_cast<Movie*>(head_out);
  m->record_block = block;
  m->total_memory = total;
  if (!image) {
    m->reader = reader_tmp;
    m->has_reader = true;
  }
  m->image = image;
  m->width = width;
  m->height = height;
  m->coded_width = h.width;
  m->coded_height = h.height;
  m->frame_count = h.frame_count;
  m->rate_num = rate_num;
  m->rate_den = rate_den;
  m->header_rate_num = h.rate_num;
  m->header_rate_den = h.rate_den;
  m->flags = f;
  m->header_flags = h.flags;
  m->size_field = h.size_field;
  m->index_entries = h.frame_count + 1;
  m->track_count = h.track_count;
  m->stats_window = window;
  m->history_shift = 4 * (window - 1);
  for (int i = 0; i < 7; ++i) m->history[i] = history[i];
  m->feed.outputs = sound;
  m->played = played;
  m->planes.change_map = change_map;
  frame_planes_set_sizes(&m->planes, &vs);
  stream_buffers_place(&m->planes.stream_buffers, vs.luma_stride, streams);

  // 8. Track arrays and index.
  if (image) {
    m->track_buffer_bytes = img->data + 44;
  } else {
    m->reader.read_at(&m->reader, kReaderNoOffset, tables, uint32_t(tables_bytes));
    m->track_buffer_bytes = tables;
  }
  m->track_words = m->track_buffer_bytes + 4 * h.track_count;
  m->track_ids = m->track_words + 4 * h.track_count;
  m->index = m->track_ids + 4 * h.track_count;

  // 9. Index checks, the real largest frame, peak second, key frames.
  ContainerInfo info;
  const uint64_t available = image ? img->size : uint64_t(h.size_field) + 8;
  if (!image && m->reader.at_end)
    return fail(m, nullptr, false, "The file ends inside the movie's track tables or frame index.");
  if (const char* e = container_check_index(&h, m->index, available, &info)) return fail(m, nullptr, false, e);
  if (image && (movie_index_entry(m, h.frame_count) & ~1u) > img->size)
    return fail(m, nullptr, false, "The frame index points past the end of the movie image.");
  const uint32_t rings = sound_installed_open() ? movie_count_tracks(m->track_ids, h.track_count, ids, requested) : 0;
  movie_needs(&h, &info, m->track_buffer_bytes, rings, m->flags, &needs);
  if (movie_check_limits(&limits, &h, &needs, refusal)) return fail(m, nullptr, false, refusal);
  m->largest_frame = info.largest_frame;
  m->peak_second_bytes = info.peak_second_bytes;
  m->peak_second_frame = info.peak_second_frame;
  const bool all_key = info.all_key_frames;

  // 10. Planes: the second group.
  PendingList planes;
  pending_init(&planes);
  uint8_t* alpha[2] = {nullptr, nullptr};
  uint8_t* sets[2] = {nullptr, nullptr};
  if (m->flags & kOpenAlpha) {
    pending_add(&planes, reinterpret_cast<void**>(&alpha[0]), vs.alpha_bytes);
    if (!all_key) pending_add(&planes, reinterpret_cast<void**>(&alpha[1]), vs.alpha_bytes);
  }
  if (!all_key) pending_add(&planes, reinterpret_cast<void**>(&sets[1]), vs.set_bytes);
  pending_add(&planes, reinterpret_cast<void**>(&sets[0]), vs.set_bytes);
  m->plane_block = pending_allocate(&planes, 0, nullptr, &m->total_memory);
  pending_free(&planes);
  if (!m->plane_block) return fail(m, nullptr, false, "Out of memory.");
  m->convert = convert_context_create(m->coded_width);
  if (!m->convert) return fail(m, nullptr, false, "Out of memory.");
  if (all_key) {
    sets[1] = sets[0];
    alpha[1] = alpha[0];
  }
  m->planes.plane_sets[0] = sets[0];
  m->planes.plane_sets[1] = sets[1];
  m->planes.alpha_planes[0] = alpha[0];
  m->planes.alpha_planes[1] = alpha[1];
  m->planes.current_set = 0;

  // 11. Read-ahead size and simulated speed.
  uint32_t ahead = m->peak_second_bytes;
  if ((flags & kOpenBufferSize) && g_buffer_size != -1) {
    ahead = g_buffer_size > 0 ? uint32_t(g_buffer_size) : 0;
    g_buffer_size = -1;
  }
  uint32_t speed = 0;
  if ((flags & kOpenReadSpeed) && g_read_speed != -1) {
    speed = g_read_speed > 0 ? uint32_t(g_read_speed) : 0;
    g_read_speed = -1;
  }

  // 12. Preload, or the frame buffer and the read-ahead ring.
  if (image) {
    m->in_memory = true;
  } else {
    ahead = m->reader.round_buffer_size(&m->reader, ahead);
    if (uint64_t(ahead) * 10 >= uint64_t(m->size_field) * 9) m->flags |= kOpenPreload;
    if (m->flags & kOpenPreload) {
      m->preload = static_cast<uint8_t*>(aligned_alloc32(info.preload_bytes));
      if (!m->preload) return fail(m, nullptr, false, "Out of memory.");
      m->total_memory += info.preload_bytes;
      m->reader.set_buffer(&m->reader, nullptr, 0, info.movie_bytes, speed);
      uint32_t got = m->reader.read_frame(&m->reader, info.first_frame, m->preload, info.preload_bytes);
      if (got < info.preload_bytes) std::memset(m->preload + got, 0, info.preload_bytes - got);
      m->preload_read = got;
      m->reader.close(&m->reader);
      shared_put(m->reader.foreground_ms, 0);
      m->in_memory = true;
    } else {
      PendingList fb;
      pending_init(&fb);
      pending_add(&fb, reinterpret_cast<void**>(&m->frame_buffer), m->largest_frame ? m->largest_frame : 1);
      if (ahead) pending_add(&fb, reinterpret_cast<void**>(&m->ring), ahead);
      m->frame_block = pending_allocate(&fb, 0, nullptr, &m->total_memory);
      if (!m->frame_block && ahead) {
        // No room for the ring: read straight from the file, with a frame buffer alone.
        ahead = 0;
        m->ring = nullptr;
        pending_add(&fb, reinterpret_cast<void**>(&m->frame_buffer), m->largest_frame ? m->largest_frame : 1);
        m->frame_block = pending_allocate(&fb, 0, nullptr, &m->total_memory);
      }
      pending_free(&fb);
      if (!m->frame_block) return fail(m, nullptr, false, "Out of memory.");
      m->ring_size = ahead;
      m->reader.set_buffer(&m->reader, m->ring, ahead, info.movie_bytes, speed);
    }
  }
  if (image) m->frame = nullptr;
  m->reader.movie = m;

  // 13. Map terminator, threshold, load frame 1.
  m->planes.change_map[m->planes.map_blocks] = 0;
  m->current_frame = 0xffffffffu;
  m->late_threshold = m->rate_num ? uint32_t(2000ull * m->rate_den / m->rate_num) : 2000;
  m->video_enabled = 1;
  m->rect_count = -1;
  m->first_frame = info.first_frame;
  m->image_data = image ? img->data : nullptr;
  movie_goto(m, 1);
  m->open_ms = ms_timer() - start;

  // 14. Sound tracks.
  open_sound(m, requested, ids);

  // The reader's locks are in place before its node is handed to the input thread.
  if (m->has_reader) reader_install_locks(&m->reader);

  // 15., 16. Service threads.
  {
    std::lock_guard<std::mutex> hold(service_threads_lock());
    if (m->feed.count) {
      m->feed.clock = 1;
      ServiceThread** t = service_sound_thread();
      if (!*t) {
        *t = service_thread_create(20);
        service_thread_start(*t);
      }
      m->feed.node.owner = &m->feed;
      service_node_add(&m->feed.node, sound_service_due, sound_service_work, *t);
    }
    if (!(m->flags & kOpenNoThread) && !m->in_memory) {
      ServiceThread** t = service_input_thread();
      if (!*t) {
        *t = service_thread_create(5);
        service_thread_start(*t);
      }
      m->reader.node.owner = &m->reader;
      service_node_add(&m->reader.node, reader_service_due, reader_service_work, *t);
    }
  }
  // 17. Initial fill.
  if (!m->in_memory && !(m->flags & kOpenNoInitialFill))
    while (m->reader.background_fill(&m->reader) != 0) {
    }
  return m;
}

void movie_close(Movie* m) {
  if (!m) return;
  movie_pause(m, 1);
  {
    std::lock_guard<std::mutex> hold(service_threads_lock());
    ServiceNode* sound_node = m->feed.node.mutex || m->feed.count ? &m->feed.node : nullptr;
    ServiceNode* reader_node = m->reader.node.mutex ? &m->reader.node : nullptr;
    service_node_remove(sound_node, service_sound_thread(), reader_node, service_input_thread());
  }
  // Without the node mutexes the reader's locks become no-ops for the rest of the close.
  release(m);
}
