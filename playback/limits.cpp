#include "playback/limits.h"

#include <cstdio>

#include "base/bytes.h"
#include "container/open_flags.h"
#include "playback/movie.h"
#include "video/video_decoder.h"

void movie_default_limits(MovieLimits* limits) {
  limits->max_area = kDefaultMaxArea;
  limits->max_memory = kDefaultMaxMemory;
}

void movie_needs(const ContainerHeader* h, const ContainerInfo* info, const uint8_t* track_buffer_bytes,
                 uint32_t played_tracks, uint32_t flags, MovieNeeds* needs) {
  needs->area = uint64_t(h->width) * h->height;
  uint64_t bytes = 0;
  VideoFrameSizes vs;
  if (video_frame_sizes(h->width, h->height, &vs)) {
    const uint64_t sets = info && info->all_key_frames ? 1 : 2;
    bytes += sets * vs.set_bytes + vs.map_bytes + vs.stream_bytes;
    if (flags & kOpenAlpha) bytes += sets * vs.alpha_bytes;
  }
  if (!(flags & kOpenFromMemory)) {
    bytes += container_tables_bytes(h);
    if (info) {
      const uint64_t read_ahead = info->peak_second_bytes < info->preload_bytes ? info->peak_second_bytes
                                                                               : info->preload_bytes;
      bytes += flags & kOpenPreload ? info->preload_bytes : uint64_t(info->largest_frame) + read_ahead;
    }
  }
  if (track_buffer_bytes && played_tracks) {
    // Each played track gets a ring of the size its header asks for, up to kMaxSoundRing.
    uint64_t largest = 0;
    for (uint32_t t = 0; t < h->track_count; ++t) {
      const uint64_t ring = (uint64_t(load_le32(track_buffer_bytes + 4ull * t)) + 255) / 256 * 256;
      const uint64_t kept = ring < kMaxSoundRing ? ring : kMaxSoundRing;
      if (kept > largest) largest = kept;
    }
    const uint32_t n = played_tracks < h->track_count ? played_tracks : h->track_count;
    bytes += largest * n;
  }
  needs->memory = bytes;
}

uint32_t movie_count_tracks(const uint8_t* track_ids, uint32_t track_count, const uint32_t* ids, uint32_t requested) {
  uint32_t found = 0;
  for (uint32_t k = 0; k < requested; ++k)
    for (uint32_t t = 0; t < track_count; ++t)
      if (load_le32(track_ids + 4ull * t) == ids[k]) {
        ++found;
        break;
      }
  return found;
}

const char* movie_check_limits(const MovieLimits* limits, const ContainerHeader* h, const MovieNeeds* needs,
                               char text[kLimitTextBytes]) {
  if (limits->max_area && needs->area > limits->max_area) {
    std::snprintf(text, kLimitTextBytes, "The movie's picture of %u x %u pixels is larger than the limit of %g megapixels.",
                  h->width, h->height, double(limits->max_area) / (1 << 20));
    return text;
  }
  if (limits->max_memory && needs->memory > limits->max_memory) {
    std::snprintf(text, kLimitTextBytes, "The movie needs %.1f MiB of memory, more than the limit of %g MiB.",
                  double(needs->memory) / (1 << 20), double(limits->max_memory) / (1 << 20));
    return text;
  }
  return nullptr;
}
