// Limits for movies that open without anyone asking (a file manager's thumbnailer, a web page
// that takes whatever is dropped on it): a movie may legally declare a 16384 x 16384 picture and
// sound rings of 32 MiB a track, and a few hundred crafted bytes must not make a program try to
// honour that. What a movie needs is computed from its header, track tables and index before
// anything is allocated for it, and a movie over a limit is refused with a one-line reason.
//
//   MovieLimits limits;
//   movie_default_limits(&limits);
//   MovieNeeds needs;
//   movie_needs(&view.header, &view.info, view.track_buffer_bytes, kOpenFromMemory, &needs);
//   char text[kLimitTextBytes];
//   if (const char* refusal = movie_check_limits(&limits, &needs, text)) fail(refusal);
#pragma once
#include <cstddef>
#include <cstdint>

#include "container/container.h"

struct MovieLimits {
  uint64_t max_area;    // pixels of the coded picture (width x height); 0: no limit
  uint64_t max_memory;  // bytes the movie needs to be opened and played; 0: no limit
};

// The defaults of programs that open files by themselves: 64 megapixels (8192 x 8192) and 512 MiB.
constexpr uint64_t kDefaultMaxArea = 64ull << 20;
constexpr uint64_t kDefaultMaxMemory = 512ull << 20;
void movie_default_limits(MovieLimits* limits);

struct MovieNeeds {
  uint64_t area;    // coded width x height
  uint64_t memory;  // bytes: see movie_needs
};

// What a movie opened with `flags` (OpenFlags) needs: its picture planes (two sets, one when
// every frame is a key frame; alpha planes with kOpenAlpha), the decoder's buffers and change
// map; unless it lies in memory already (kOpenFromMemory), its track tables and index, and its
// largest frame with a second of read-ahead (the whole movie with kOpenPreload); and with
// `track_buffer_bytes` (the header's ring sizes), the sound rings of up to `played_tracks`
// tracks, the largest ones. `info` may be null before the index is read: then the index's
// figures are not counted yet. Sizes beyond what a movie can hold saturate.
void movie_needs(const ContainerHeader* h, const ContainerInfo* info, const uint8_t* track_buffer_bytes,
                 uint32_t played_tracks, uint32_t flags, MovieNeeds* needs);

// How many of the tracks asked for (`ids`) the movie has (`track_ids`, its T identifiers).
uint32_t movie_count_tracks(const uint8_t* track_ids, uint32_t track_count, const uint32_t* ids, uint32_t requested);

// Null when `needs` keep within `limits`, else the refusal ("The movie's picture of 16384 x 16384
// pixels is larger than the limit of 64 megapixels.") written into `text`.
constexpr size_t kLimitTextBytes = 160;
const char* movie_check_limits(const MovieLimits* limits, const ContainerHeader* h, const MovieNeeds* needs,
                               char text[kLimitTextBytes]);
