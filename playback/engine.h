// Frame stepping and timing: the playback engine moves a Movie through its frames at its rate.
//
//   while (movie_wait(m)) idle();          // 1 while the next frame is not yet due
//   if (movie_do_frame(m)) input failed;   // sound into the rings, video into the planes
//   copy to the surface, blit the changed rectangles
//   movie_next_frame(m);                   // loads the next frame (after the last: frame 1)
#pragma once
#include <cstdint>

#include "playback/stats.h"

struct Movie;

uint32_t movie_wait(Movie* m);
uint32_t movie_do_frame(Movie* m);
void movie_next_frame(Movie* m);
// Loads frame n (1-based; 0 counts as 1; past the last counts as 1).
void movie_goto(Movie* m, uint32_t n);
uint32_t movie_pause(Movie* m, uint32_t pause);
// Starts the clock if it is not running.
void movie_clock_check(Movie* m);
// The copy step: converts the current picture into destination memory (a locked surface) in
// the pixel format of `flags` (CopyFlags, convert/convert.h), whole or by changed blocks. When
// the movie plays late against its sound the copy is skipped (at most three in a row; never
// with 0x80000 in the movie's or the copy's flags). Returns 1 when the frame was late.
uint32_t movie_copy_to_surface(Movie* m, uint8_t* dest, int32_t dest_pitch, uint32_t dest_height, uint32_t dest_x,
                               uint32_t dest_y, uint32_t src_x, uint32_t src_y, uint32_t src_w, uint32_t src_h,
                               uint32_t flags);
struct CopySource;
// Fills a CopySource from the movie (memory surfaces and tools copy through it).
void movie_copy_source(Movie* m, CopySource* s);
// The read-ahead top-up done before decoding and before copying: one chunk when the ring is
// below 75 % and its lock is free.
void movie_top_up(Movie* m);

// Statistics (statistics.cpp).
void movie_realtime_stats(uint32_t frames, Movie* m, RealtimeStats* out);
void movie_summary(PlaybackSummary* out, Movie* m);
uint32_t movie_changed_rects(uint32_t surface_flags, Movie* m);
void movie_update_slowest(Movie* m);
// Adds the time since the last decode ended to blit_ms (once).
void movie_account_blit(Movie* m, uint32_t now);
