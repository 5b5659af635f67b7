// The copy step of a frame: the movie's side of the pixel conversion. It hands the converters
// the current picture, the late-check inputs and counters, and hooks into its reader.
#include "playback/movie.h"
#include "convert/convert.h"
#include "playback/engine.h"
#include "base/timer.h"

namespace {

void set_busy(void* context, bool busy) { shared_put(static_cast<Movie*>(context)->input.reader.engine_busy, busy ? 1 : 0); }
void foreground_fill(void* context) { movie_top_up(static_cast<Movie*>(context)); }

}  // namespace

void movie_copy_source(Movie* m, CopySource* s) {
  s->planes = &m->planes;
  s->width = m->width;
  s->height = m->height;
  s->coded_width = m->coded_width;
  s->coded_height = m->coded_height;
  s->movie_flags = m->flags;
  // Blits are skipped only while the movie keeps time with its sound.
  s->late_check = m->feed.count && m->rate_num && !m->clock.paused;
  if (s->late_check) movie_clock_check(m);
  s->now_ms = ms_timer();
  s->frames_decoded = m->stats.frames_decoded;
  s->rate_num = m->rate_num;
  s->rate_den = m->rate_den;
  s->time_scale = m->feed.outputs[0].time_scale ? m->feed.outputs[0].time_scale : 0x10000;
  s->late_debt = uint32_t(m->clock.late_debt);
  s->late_threshold = m->clock.late_threshold;
  s->clock_start = m->clock.clock_start;
  s->clock_start_frame = m->clock.clock_start_frame;
  s->skip_flag = &m->clock.skip_flag;
  s->consecutive_skips = &m->clock.consecutive_skips;
  s->skipped_blits = &m->stats.skipped_blits;
  s->last_copy_flags = &m->last_copy_flags;
  s->hook_context = m;
  s->set_busy = m->input.has_reader ? set_busy : nullptr;
  s->foreground_fill = m->input.in_memory ? nullptr : foreground_fill;
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
