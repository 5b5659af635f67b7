// The copy step of a frame: the movie's side of the pixel conversion. It hands the converters
// the current picture, the late-check inputs and counters, and hooks into its reader.
#include "playback/movie.h"
#include "convert/convert.h"
#include "playback/engine.h"
#include "playback/late_frame.h"
#include "base/timer.h"

namespace {

void set_busy(void* context, bool busy) { shared_put(static_cast<Movie*>(context)->reader.engine_busy, busy ? 1 : 0); }
void foreground_fill(void* context) { movie_top_up(static_cast<Movie*>(context)); }

// Blits are skipped only while the movie keeps time with its sound.
uint32_t late_check(void* context, uint32_t flags) {
  Movie* m = static_cast<Movie*>(context);
  if (!m->feed.count || !m->rate_num || m->paused) return kCopyOnTime;
  movie_clock_check(m);
  return late_frame_check(m, ms_timer(), flags);
}

}  // namespace

void movie_copy_source(Movie* m, CopySource* s) {
  s->context = m->convert;
  s->planes = &m->planes;
  s->width = m->width;
  s->height = m->height;
  s->coded_width = m->coded_width;
  s->coded_height = m->coded_height;
  s->movie_flags = m->flags;
  s->last_copy_flags = &m->last_copy_flags;
  s->hook_context = m;
  s->set_busy = m->has_reader ? set_busy : nullptr;
  s->late_check = late_check;
  s->foreground_fill = m->in_memory ? nullptr : foreground_fill;
}

uint32_t movie_copy_to_surface(Movie* m, uint8_t* dest, int32_t dest_pitch, uint32_t dest_height, uint32_t dest_x,
                               uint32_t dest_y, uint32_t src_x, uint32_t src_y, uint32_t src_w, uint32_t src_h,
                               uint32_t flags) {
  if (!m || !dest) return 0;
  CopySource s;
  movie_copy_source(m, &s);
  return convert_copy_to_surface(&s, dest, dest_pitch, dest_height, dest_x, dest_y, src_x, src_y, src_w, src_h,
                                 flags);
}
