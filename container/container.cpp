#include "container/container.h"

namespace {

constexpr uint32_t kMaxTracks = 0xffff;  // far above any real movie; keeps table sizes sane

}  // namespace

const char* container_parse_header(const uint8_t* p, size_t n, ContainerHeader* h) {
  if (n < kContainerHeaderBytes) {
    if (n >= 3 && (p[0] != 'K' || p[1] != 'R' || p[2] != 'V')) return "Not a Korva file.";
    return "The file is too short to hold a Korva header.";
  }
  if (p[0] != 'K' || p[1] != 'R' || p[2] != 'V' || p[3] < 'f' || p[3] > 'i') return "Not a Korva file.";
  h->version = p[3];
  h->size_field = load_le32(p + 4);
  h->frame_count = load_le32(p + 8);
  h->largest_frame = load_le32(p + 12);
  h->index_frames = load_le32(p + 16);
  h->width = load_le32(p + 20);
  h->height = load_le32(p + 24);
  h->rate_num = load_le32(p + 28);
  h->rate_den = load_le32(p + 32);
  h->flags = load_le32(p + 36);
  h->track_count = load_le32(p + 40);
  if (h->frame_count == 0) return "The file doesn't contain any compressed frames yet.";
  if (h->rate_den == 0) return "The movie's frame rate has a zero denominator.";
  if (h->width == 0 || h->height == 0) return "The movie's picture has no pixels.";
  if (h->width > kContainerMaxSide || h->height > kContainerMaxSide)
    return "The movie's picture is larger than 16384 x 16384 pixels.";
  if (h->track_count > kMaxTracks) return "The movie claims more sound tracks than it can hold.";
  if (h->size_field > 0xffffffffu - 8) return "The movie's size field is invalid.";
  uint64_t tables_end = 44 + 12ull * h->track_count + 4ull * (uint64_t(h->frame_count) + 1);
  if (tables_end > uint64_t(h->size_field) + 8)
    return "The movie's track tables and frame index run past its end.";
  return nullptr;
}

uint32_t container_index_entry(const uint8_t* index, uint32_t i) { return load_le32(index + 4ull * i); }

const char* container_check_index(const ContainerHeader* h, const uint8_t* index, uint64_t available,
                                  ContainerInfo* info) {
  const uint32_t frames = h->frame_count;
  const uint32_t first = container_index_offset(h) + 4 * (frames + 1);  // fits: checked by the header
  const uint32_t movie_bytes = h->size_field + 8;
  (void)available;  // frames past the bytes present are refused frame by frame, not here

  uint32_t prev = container_index_entry(index, 0) & ~1u;
  if (prev < first) return "The frame index points into the movie's header.";
  bool all_key = true;
  uint32_t largest = 0;
  for (uint32_t i = 0; i < frames; ++i) {
    uint32_t e = container_index_entry(index, i);
    all_key = all_key && (e & 1);
    uint32_t next = container_index_entry(index, i + 1) & ~1u;
    if (next < prev) return "The frame index goes backwards.";
    if (next > movie_bytes) return "The frame index points past the end of the movie.";
    if (next - prev > largest) largest = next - prev;
    prev = next;
  }

  info->first_frame = first;
  info->movie_bytes = movie_bytes;
  info->frame_ms = h->rate_num ? uint32_t(1000ull * h->rate_den / h->rate_num) : 0;
  uint32_t fps = uint32_t((uint64_t(h->rate_num) + h->rate_den / 2) / h->rate_den);
  info->fps_rounded = fps ? fps : 1;
  info->data_bytes = h->size_field - first;  // may wrap for a size field below the first frame
  if (h->size_field < first) info->data_bytes = 0;
  info->preload_bytes = movie_bytes - first;
  info->largest_frame = largest > h->largest_frame ? largest : h->largest_frame;
  info->all_key_frames = all_key;

  // Peak one-second data: the most bytes any n consecutive frames take (n = rounded fps).
  const uint32_t n = info->fps_rounded;
  uint32_t peak = 0, peak_frame = 0;
  if (frames > n) {
    for (uint32_t i = 0; i + n < frames; ++i) {
      uint32_t d = (container_index_entry(index, i + n) & ~1u) - (container_index_entry(index, i) & ~1u);
      if (d > peak) { peak = d; peak_frame = i; }
    }
  }
  if (frames <= n || peak == 0) {
    uint64_t total = (container_index_entry(index, frames) & ~1u) - (container_index_entry(index, 0) & ~1u);
    uint64_t v = total * n / frames;
    peak = v > 0xffffffffu ? 0xffffffffu : uint32_t(v);
    peak_frame = 0;
  }
  info->peak_second_bytes = peak;
  info->peak_second_frame = peak_frame;
  return nullptr;
}

const char* container_open_view(const uint8_t* data, size_t size, ContainerView* v) {
  *v = ContainerView{};
  const char* err = container_parse_header(data, size, &v->header);
  if (err) return err;
  const ContainerHeader* h = &v->header;
  uint64_t tables_end = 44 + uint64_t(container_tables_bytes(h));
  if (tables_end > size) return "The file ends inside the movie's track tables or frame index.";
  v->data = data;
  v->size = size;
  v->track_buffer_bytes = data + 44;
  v->track_words = data + 44 + 4 * h->track_count;
  v->track_ids = data + 44 + 8 * h->track_count;
  v->index = data + container_index_offset(h);
  return container_check_index(h, v->index, size, &v->info);
}

bool container_frame(const ContainerView* v, uint32_t i, const uint8_t** bytes, uint32_t* size, bool* key) {
  if (i >= v->header.frame_count) return false;
  uint32_t e = container_index_entry(v->index, i);
  uint32_t a = e & ~1u, b = container_index_entry(v->index, i + 1) & ~1u;
  if (b > v->size) return false;  // the file was cut short before this frame ends
  *bytes = v->data + a;
  *size = b - a;
  if (key) *key = e & 1;
  return true;
}

namespace {

// Walks the sound packets of a frame (a length word, then the packet, for each track) up to
// track `stop` (all of them when stop ≥ track_count); *pos is where the walk stopped.
const char* walk_sound_packets(const uint8_t* frame, uint32_t frame_size, uint32_t track_count, uint32_t stop,
                               uint32_t* pos, uint32_t* len) {
  uint32_t at = 0;
  for (uint32_t k = 0; k < track_count; ++k) {
    if (frame_size - at < 4) return "A frame ends inside its sound packet lengths.";
    uint32_t n = load_le32(frame + at);
    at += 4;
    if (n > frame_size - at) return "A sound packet runs past the end of its frame.";
    if (k == stop) {
      *pos = at;
      *len = n;
      return nullptr;
    }
    at += n;
  }
  *pos = at;
  *len = frame_size - at;
  return nullptr;
}

}  // namespace

const char* container_audio_packet(const uint8_t* frame, uint32_t frame_size, uint32_t track_count, uint32_t t,
                                   const uint8_t** packet, uint32_t* packet_size) {
  if (t >= track_count) return "No such sound track.";
  uint32_t pos, len;
  if (const char* e = walk_sound_packets(frame, frame_size, track_count, t, &pos, &len)) return e;
  *packet = frame + pos;
  *packet_size = len;
  return nullptr;
}

const char* container_video_packet(const uint8_t* frame, uint32_t frame_size, uint32_t track_count,
                                   const uint8_t** packet, uint32_t* packet_size) {
  uint32_t pos, len;
  if (const char* e = walk_sound_packets(frame, frame_size, track_count, track_count, &pos, &len)) return e;
  *packet = frame + pos;
  *packet_size = len;
  return nullptr;
}
