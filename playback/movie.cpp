#include "playback/movie.h"

#include <cstring>
#include <mutex>

#include "audio/audio_decoder.h"
#include "base/alloc.h"
#include "base/bytes.h"
#include "base/worker.h"
#include "convert/convert.h"
#include "playback/engine.h"
#include "playback/limits.h"
#include "base/timer.h"
#include "sound/sound.h"

namespace {

// The text of this thread's last failed open: cleared at each open, set by its first failure.
thread_local char t_last_error[256];

// Everything open has made so far, undone in reverse (used by failures and by close).
void release(Movie* m) {
  if (!m) return;
  for (uint32_t i = 0; i < m->feed.count; ++i) {
    SoundOutput* o = &m->feed.outputs[i];
    if (o->sound_close) o->sound_close(o);
    audio_decoder_close(o->decoder);
    aligned_free32(o->ring_start);
  }
  if (m->input.has_reader && m->input.reader.close) m->input.reader.close(&m->input.reader);
  worker_destroy(m->threads.worker);
  convert_context_destroy(m->threads.convert);
  aligned_free32(m->threads.block);
  convert_context_destroy(m->convert);
  aligned_free32(m->blocks.frame_block);
  if (m->input.preload) aligned_free32(m->input.preload);
  aligned_free32(m->blocks.plane_block);
  void* block = m->blocks.record_block;
  std::memset(static_cast<void*>(m), 0, sizeof *m);
  aligned_free32(block);
}

// What open works out before the record exists, and hands on to the steps after it.
struct OpenPlan {
  const MovieOpen* request;
  bool image;                   // the source is a memory image
  const MovieImage* img;
  InputReader reader;           // until the record takes it over
  bool reader_open;
  ContainerHeader header;
  VideoFrameSizes sizes;
  uint32_t flags;               // the movie's flag word
  uint32_t width, height;       // the display size
  uint32_t rate_num, rate_den;  // the playing rate
  uint32_t window;              // the statistics window (frames)
  uint32_t track_count;         // the requested track identifiers
  uint32_t track_ids[kMaxRequestedTracks];
  uint8_t* tables;              // the track arrays and index, read from the file
  ContainerInfo info;
  uint32_t start;               // ms_timer at the start of the open
  char refusal[kLimitTextBytes];  // why the request's limits refuse the movie
};

// A failed open: gives back what was made (the record, or else the reader) and keeps the text.
Movie* fail(OpenPlan* plan, Movie* m, const char* text) {
  movie_set_last_error(text);
  if (m) {
    release(m);
  } else if (plan->reader_open && plan->reader.close) {
    plan->reader.close(&plan->reader);
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
  m->clock.clock_running = false;
  m->clock.late_debt = 0;
}

// Sound: opens the played tracks on the request's sound system. Tracks that cannot be opened
// are dropped.
void open_sound(Movie* m, const OpenPlan* plan) {
  const uint32_t requested = plan->track_count;
  const uint32_t* ids = plan->track_ids;
  SoundSystem* system = plan->request->sound;
  m->feed.current_frame = &m->current_frame;
  m->feed.last_decoded = &m->clock.last_decoded;
  m->feed.clock_started = sound_clock_started;
  m->feed.context = m;
  m->feed.outputs[0].time_scale = 0x10000;
  uint32_t count = 0;
  for (uint32_t k = 0; k < requested; ++k)
    for (uint32_t t = 0; t < m->tracks.count; ++t)
      if (load_le32(m->tracks.ids + 4 * t) == ids[k]) {
        m->tracks.played[count++] = t;
        break;
      }
  sound_open_fn open = sound_installed_open(system);
  uint32_t kept = 0;
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t t = m->tracks.played[k];
    const uint32_t word = load_le32(m->tracks.words + 4 * t);
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
    const uint64_t wanted_ring = (uint64_t(load_le32(m->tracks.buffer_bytes + 4 * t)) + 255) / 256 * 256;
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
    sound_count_track_opened(system);
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
    m->tracks.played[kept++] = t;
  }
  m->feed.count = kept;
  if (!m->feed.outputs[0].time_scale) m->feed.outputs[0].time_scale = 0x10000;
}

// Header: the track request, the source and the 44 header bytes, checked.
const char* read_header(OpenPlan* plan) {
  const MovieOpen* o = plan->request;
  plan->track_count = 1;
  plan->track_ids[0] = 0;
  if ((o->flags & kOpenTrackList) && o->track_count) {
    plan->track_count = o->track_count < kMaxRequestedTracks ? o->track_count : kMaxRequestedTracks;
    std::memcpy(plan->track_ids, o->track_ids, 4 * plan->track_count);
  }
  uint8_t head[kContainerHeaderBytes] = {0};
  size_t head_bytes = 0;
  if (plan->image) {
    if (!plan->img->data) return "Error opening file.";
    head_bytes = plan->img->size < sizeof head ? plan->img->size : sizeof head;
    std::memcpy(head, plan->img->data, head_bytes);
  } else {
    const MovieSource& src = o->source;
    PlatformFile* file = src.kind == MovieSourceKind::kFile ? src.file : nullptr;
    if (src.kind == MovieSourceKind::kFile && !file) return "Error opening file.";
    plan->reader_open = (o->flags & kOpenUseOpener) && o->opener ? o->opener(&plan->reader, &src, plan->flags)
                                                                : reader_open(&plan->reader, src.name, file);
    if (!plan->reader_open) return "Error opening file.";
    head_bytes = plan->reader.read_at(&plan->reader, 0, head, sizeof head);
  }
  // The header's checks, and the ones that keep the rest of open inside its buffers.
  if (const char* e = container_parse_header(head, head_bytes, &plan->header)) return e;
  if (plan->image && container_index_offset(&plan->header) + 4ull * (plan->header.frame_count + 1) > plan->img->size)
    return "The file ends inside the movie's track tables or frame index.";
  if (!video_frame_sizes(plan->header.width, plan->header.height, &plan->sizes))
    return "The movie's picture size is invalid.";
  if (o->limits) {
    // What the header alone says the movie needs, before anything is allocated for it.
    const uint32_t flags = plan->header.flags & kMovieFlagAlpha ? plan->flags : plan->flags & ~kOpenAlpha;
    MovieNeeds needs;
    movie_needs(&plan->header, nullptr, nullptr, 0, flags, &needs);
    if (const char* e = movie_check_limits(o->limits, &plan->header, &needs, plan->refusal)) return e;
  }
  return nullptr;
}

// Flags: the movie's flag word, the doubled display size, the playing rate and the statistics
// window.
void settle_flags(OpenPlan* plan) {
  const ContainerHeader& h = plan->header;
  const MovieOpen* o = plan->request;
  uint32_t f = plan->flags & ~kOpenDoublingMask;
  if (!(h.flags & kMovieFlagAlpha)) f &= ~kOpenAlpha;
  f |= h.flags & kOpenGrey;
  plan->width = h.width;
  plan->height = h.height;
  const uint32_t caller_mode = (plan->flags & kOpenDoublingMask) >> kOpenDoublingShift;
  if (caller_mode != kOpenDoublingNone) {
    const uint32_t mode = caller_mode ? caller_mode : (h.flags & kMovieFlagDoublingMask) >> 28;
    f |= mode << kOpenDoublingShift;
    plan->width *= convert_width_factor(mode);
    plan->height *= convert_row_factor(mode);
  }
  if (h.version == 'f' || h.version == 'g') f |= kOpenOldColours | kOpenSwapChroma;
  else if (h.version == 'h') f |= kOpenOldColours;
  plan->flags = f;

  plan->rate_num = h.rate_num;
  plan->rate_den = h.rate_den;
  if ((o->flags & kOpenRateOverride) && o->rate_num != -1 && o->rate_den != -1) {
    // A negative or zero-denominator override means "as fast as possible" rather than a
    // division by it later.
    const bool given = o->rate_num > 0 && o->rate_den > 0;
    plan->rate_num = given ? uint32_t(o->rate_num) : 0;
    plan->rate_den = given ? uint32_t(o->rate_den) : 0;
  }
  uint32_t window = uint32_t((uint64_t(h.rate_num) + h.rate_den / 2) / h.rate_den);
  if (!window) window = 1;
  if (window > 1000) window = 1000;  // a silly rate must not size the history arrays
  plan->window = window;
}

// Allocation: the record with the change map, the history arrays, the sound records, the
// stream buffers and (read from a file) the track arrays and index, as one block.
Movie* allocate_record(OpenPlan* plan) {
  const ContainerHeader& h = plan->header;
  const VideoFrameSizes& vs = plan->sizes;
  const uint32_t requested = plan->track_count ? plan->track_count : 1;
  PendingList pending;
  pending_init(&pending);
  uint8_t* change_map = nullptr;
  uint32_t* history[kHistoryArrays];
  SoundOutput* sound = nullptr;
  uint32_t* played = nullptr;
  uint8_t* streams = nullptr;
  pending_add(&pending, reinterpret_cast<void**>(&change_map), vs.map_blocks + 16);
  for (auto& a : history) pending_add(&pending, reinterpret_cast<void**>(&a), 4ull * plan->window);
  pending_add(&pending, reinterpret_cast<void**>(&sound), sizeof(SoundOutput) * requested);
  pending_add(&pending, reinterpret_cast<void**>(&played), 4ull * requested);
  pending_add(&pending, reinterpret_cast<void**>(&streams), vs.stream_bytes);
  if (!plan->image) pending_add(&pending, reinterpret_cast<void**>(&plan->tables), container_tables_bytes(&h));
  uint32_t total = 0;
  void* head_out = nullptr;
  void* block = pending_allocate(&pending, sizeof(Movie), &head_out, &total);
  pending_free(&pending);
  if (!block) return nullptr;
  Movie* m = static_cast<Movie*>(head_out);
  m->blocks.record_block = block;
  m->stats.total_memory = total;
  if (!plan->image) {
    m->input.reader = plan->reader;
    m->input.has_reader = true;
    plan->reader_open = false;  // the record holds it now
  }
  m->input.image = plan->image;
  m->width = plan->width;
  m->height = plan->height;
  m->coded_width = h.width;
  m->coded_height = h.height;
  m->frame_count = h.frame_count;
  m->rate_num = plan->rate_num;
  m->rate_den = plan->rate_den;
  m->header_rate_num = h.rate_num;
  m->header_rate_den = h.rate_den;
  m->flags = plan->flags;
  m->header_flags = h.flags;
  m->input.size_field = h.size_field;
  m->input.index_entries = h.frame_count + 1;
  m->tracks.count = h.track_count;
  m->stats.stats_window = plan->window;
  m->stats.history_shift = 4 * (plan->window - 1);
  for (uint32_t i = 0; i < kHistoryArrays; ++i) m->stats.history[i] = history[i];
  m->feed.outputs = sound;
  m->tracks.played = played;
  m->planes.change_map = change_map;
  frame_planes_set_sizes(&m->planes, &vs);
  stream_buffers_place(&m->planes.stream_buffers, vs.luma_stride, streams);
  return m;
}

// Index: the track arrays and the frame index (read, or in the image), checked; the real
// largest frame, the peak second and whether every frame is a key frame.
const char* read_index(Movie* m, OpenPlan* plan) {
  const ContainerHeader& h = plan->header;
  if (plan->image) {
    m->tracks.buffer_bytes = plan->img->data + kContainerHeaderBytes;
  } else {
    m->input.reader.read_at(&m->input.reader, kReaderNoOffset, plan->tables, uint32_t(container_tables_bytes(&h)));
    m->tracks.buffer_bytes = plan->tables;
  }
  m->tracks.words = m->tracks.buffer_bytes + 4 * h.track_count;
  m->tracks.ids = m->tracks.words + 4 * h.track_count;
  m->input.index = m->tracks.ids + 4 * h.track_count;
  const uint64_t available = plan->image ? plan->img->size : uint64_t(h.size_field) + 8;
  if (!plan->image && m->input.reader.at_end) return "The file ends inside the movie's track tables or frame index.";
  if (const char* e = container_check_index(&h, m->input.index, available, &plan->info)) return e;
  if (plan->image && (movie_index_entry(m, h.frame_count) & ~1u) > plan->img->size)
    return "The frame index points past the end of the movie image.";
  if (const MovieLimits* limits = plan->request->limits) {
    // Now with the index's figures and the sound rings of the tracks that will play.
    const uint32_t rings = sound_installed_open(plan->request->sound)
                               ? movie_count_tracks(m->tracks.ids, h.track_count, plan->track_ids, plan->track_count)
                               : 0;
    MovieNeeds needs;
    movie_needs(&h, &plan->info, m->tracks.buffer_bytes, rings, m->flags, &needs);
    if (const char* e = movie_check_limits(limits, &h, &needs, plan->refusal)) return e;
  }
  m->input.largest_frame = plan->info.largest_frame;
  m->stats.peak_second_bytes = plan->info.peak_second_bytes;
  m->stats.peak_second_frame = plan->info.peak_second_frame;
  return nullptr;
}

// Planes: the second group. A movie of key frames only has one plane set (and one alpha plane).
const char* allocate_planes(Movie* m, const OpenPlan* plan) {
  const VideoFrameSizes& vs = plan->sizes;
  const bool all_key = plan->info.all_key_frames;
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
  m->blocks.plane_block = pending_allocate(&planes, 0, nullptr, &m->stats.total_memory);
  pending_free(&planes);
  if (!m->blocks.plane_block) return "Out of memory.";
  m->convert = convert_context_create(m->coded_width);
  if (!m->convert) return "Out of memory.";
  if (all_key) {
    sets[1] = sets[0];
    alpha[1] = alpha[0];
  }
  m->planes.plane_sets[0] = sets[0];
  m->planes.plane_sets[1] = sets[1];
  m->planes.alpha_planes[0] = alpha[0];
  m->planes.alpha_planes[1] = alpha[1];
  m->planes.current_set = 0;
  return nullptr;
}

// Threads: a second thread with its own stream buffers, change map and converters. A movie
// that cannot have one plays with one thread.
void start_helper(Movie* m, const OpenPlan* plan) {
  m->threads.count = 1;
  if (plan->request->threads < 2) return;
  const VideoFrameSizes& vs = plan->sizes;
  const size_t map_at = (vs.stream_bytes + 31) & ~size_t(31);
  uint8_t* block = static_cast<uint8_t*>(aligned_alloc32(map_at + vs.map_bytes));
  ConvertContext* convert = block ? convert_context_create(m->coded_width) : nullptr;
  Worker* worker = convert ? worker_create() : nullptr;
  if (!worker) {
    convert_context_destroy(convert);
    aligned_free32(block);
    return;
  }
  m->stats.total_memory += uint32_t(map_at + vs.map_bytes);
  stream_buffers_place(&m->threads.video.stream_buffers, vs.luma_stride, block);
  m->threads.video.change_map = block + map_at;
  m->threads.video.worker = worker;
  m->threads.worker = worker;
  m->threads.convert = convert;
  m->threads.block = block;
  m->threads.count = 2;
  m->planes.helper = &m->threads.video;
}

// Read mode: a memory image in place, the whole movie preloaded (asked for, or when the
// read-ahead would hold 90 % of it anyway), or the frame buffer and the read-ahead ring.
const char* choose_read_mode(Movie* m, const OpenPlan* plan) {
  const MovieOpen* o = plan->request;
  const ContainerInfo& info = plan->info;
  m->input.first_frame = info.first_frame;
  m->input.reader.movie = m;
  if (plan->image) {
    m->input.in_memory = true;
    m->input.image_data = plan->img->data;
    return nullptr;
  }
  uint32_t ahead = m->stats.peak_second_bytes;
  if ((o->flags & kOpenBufferSize) && o->buffer_size != -1) ahead = o->buffer_size > 0 ? uint32_t(o->buffer_size) : 0;
  uint32_t speed = 0;
  if ((o->flags & kOpenReadSpeed) && o->read_speed != -1) speed = o->read_speed > 0 ? uint32_t(o->read_speed) : 0;
  ahead = m->input.reader.round_buffer_size(&m->input.reader, ahead);
  if (uint64_t(ahead) * 10 >= uint64_t(m->input.size_field) * 9) m->flags |= kOpenPreload;
  if (m->flags & kOpenPreload) {
    m->input.preload = static_cast<uint8_t*>(aligned_alloc32(info.preload_bytes));
    if (!m->input.preload) return "Out of memory.";
    m->stats.total_memory += info.preload_bytes;
    m->input.reader.set_buffer(&m->input.reader, nullptr, 0, info.movie_bytes, speed);
    uint32_t got = m->input.reader.read_frame(&m->input.reader, info.first_frame, m->input.preload, info.preload_bytes);
    if (got < info.preload_bytes) std::memset(m->input.preload + got, 0, info.preload_bytes - got);
    m->input.preload_read = got;
    m->input.reader.close(&m->input.reader);
    shared_put(m->input.reader.foreground_ms, 0);
    m->input.in_memory = true;
    return nullptr;
  }
  PendingList fb;
  pending_init(&fb);
  const uint32_t frame_bytes = m->input.largest_frame ? m->input.largest_frame : 1;
  pending_add(&fb, reinterpret_cast<void**>(&m->input.frame_buffer), frame_bytes);
  if (ahead) pending_add(&fb, reinterpret_cast<void**>(&m->input.ring), ahead);
  m->blocks.frame_block = pending_allocate(&fb, 0, nullptr, &m->stats.total_memory);
  if (!m->blocks.frame_block && ahead) {
    // No room for the ring: read straight from the file, with a frame buffer alone.
    ahead = 0;
    m->input.ring = nullptr;
    pending_add(&fb, reinterpret_cast<void**>(&m->input.frame_buffer), frame_bytes);
    m->blocks.frame_block = pending_allocate(&fb, 0, nullptr, &m->stats.total_memory);
  }
  pending_free(&fb);
  if (!m->blocks.frame_block) return "Out of memory.";
  m->input.ring_size = ahead;
  m->input.reader.set_buffer(&m->input.reader, m->input.ring, ahead, info.movie_bytes, speed);
  return nullptr;
}

// The first frame: the change map's terminator, the lateness threshold, frame 1 loaded.
void load_first_frame(Movie* m, const OpenPlan* plan) {
  m->planes.change_map[m->planes.map_blocks] = 0;
  m->current_frame = 0xffffffffu;
  m->clock.late_threshold = m->rate_num ? uint32_t(2000ull * m->rate_den / m->rate_num) : 2000;
  m->video_enabled = true;
  m->rect_count = -1;
  movie_goto(m, 1);
  m->stats.open_ms = ms_timer() - plan->start;
}

// Services: the movie's sound node on the sound service thread and its reader's node on the
// input service thread (each thread started by the first movie that needs it).
void start_services(Movie* m) {
  // The reader's locks are in place before its node is handed to the input thread.
  if (m->input.has_reader) reader_install_locks(&m->input.reader);
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
  if (!(m->flags & kOpenNoThread) && !m->input.in_memory) {
    ServiceThread** t = service_input_thread();
    if (!*t) {
      *t = service_thread_create(5);
      service_thread_start(*t);
    }
    m->input.reader.node.owner = &m->input.reader;
    service_node_add(&m->input.reader.node, reader_service_due, reader_service_work, *t);
  }
}

}  // namespace

const char* movie_last_error() { return t_last_error; }
void movie_replace_last_error(const char* text) {
  std::snprintf(t_last_error, sizeof t_last_error, "%s", text ? text : "");
}
void movie_set_last_error(const char* text) {
  if (!t_last_error[0] && text) std::snprintf(t_last_error, sizeof t_last_error, "%s", text);
}

MovieOpen movie_open_name(const char* name, uint32_t flags) {
  MovieOpen o{};
  o.source.kind = MovieSourceKind::kName;
  o.source.name = name;
  o.flags = flags;
  o.rate_num = o.rate_den = o.buffer_size = o.read_speed = -1;
  return o;
}

MovieOpen movie_open_file(PlatformFile* file, uint32_t flags) {
  MovieOpen o = movie_open_name(nullptr, flags);
  o.source.kind = MovieSourceKind::kFile;
  o.source.file = file;
  return o;
}

MovieOpen movie_open_image(const MovieImage* image, uint32_t flags) {
  MovieOpen o = movie_open_name(nullptr, flags);
  o.source.kind = MovieSourceKind::kImage;
  if (image) o.source.image = *image;
  return o;
}

uint32_t movie_index_entry(const Movie* m, uint32_t i) { return load_le32(m->input.index + 4ull * i); }

Movie* movie_open(const MovieOpen* o) {
  t_last_error[0] = 0;
  if (!o) {
    movie_set_last_error("Error opening file.");
    return nullptr;
  }
  OpenPlan plan;
  std::memset(static_cast<void*>(&plan), 0, sizeof plan);
  plan.request = o;
  plan.start = ms_timer();
  plan.image = o->source.kind == MovieSourceKind::kImage;
  plan.img = &o->source.image;
  // The source decides how the movie is read, whatever the flag word says.
  plan.flags = o->flags & ~(kOpenFromHandle | kOpenFromMemory);
  if (o->source.kind == MovieSourceKind::kFile) plan.flags |= kOpenFromHandle;
  if (plan.image) plan.flags |= kOpenFromMemory;

  if (const char* e = read_header(&plan)) return fail(&plan, nullptr, e);
  settle_flags(&plan);
  Movie* m = allocate_record(&plan);
  if (!m) return fail(&plan, nullptr, "Out of memory.");
  const char* e = read_index(m, &plan);
  if (!e) e = allocate_planes(m, &plan);
  if (!e) e = choose_read_mode(m, &plan);
  if (e) return fail(&plan, m, e);
  start_helper(m, &plan);
  load_first_frame(m, &plan);
  open_sound(m, &plan);
  start_services(m);
  if (!m->input.in_memory && !(m->flags & kOpenNoInitialFill))
    while (m->input.reader.background_fill(&m->input.reader) != 0) {
    }
  return m;
}

void movie_close(Movie* m) {
  if (!m) return;
  movie_pause(m, 1);
  {
    std::lock_guard<std::mutex> hold(service_threads_lock());
    ServiceNode* sound_node = m->feed.node.mutex || m->feed.count ? &m->feed.node : nullptr;
    ServiceNode* reader_node = m->input.reader.node.mutex ? &m->input.reader.node : nullptr;
    service_node_remove(sound_node, service_sound_thread(), reader_node, service_input_thread());
  }
  // Without the node mutexes the reader's locks become no-ops for the rest of the close.
  release(m);
}
