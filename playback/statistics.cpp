// Playback statistics: the slowest frames, the running record, the summary and the changed
// rectangles of the last decoded frame.
#include <cstring>

#include "playback/movie.h"
#include "playback/changed_rects.h"
#include "playback/engine.h"
#include "base/timer.h"

namespace {

uint32_t div_or_zero(uint64_t a, uint64_t b) { return b ? uint32_t(a / b) : 0; }

}  // namespace

void movie_update_slowest(Movie* m) {
  if (!m->clock.slow_pending) return;
  const uint32_t e = ms_timer() - m->clock.slow_start;
  m->clock.slow_pending = false;
  if (e > m->stats.slowest_ms) {
    m->stats.second_ms = m->stats.slowest_ms;
    m->stats.second_frame = m->stats.slowest_frame;
    m->stats.slowest_ms = e;
    m->stats.slowest_frame = m->current_frame;
  } else if (e > m->stats.second_ms) {
    m->stats.second_ms = e;
    m->stats.second_frame = m->current_frame;
  }
}

void movie_realtime_stats(uint32_t frames, Movie* m, RealtimeStats* out) {
  if (!m || !out) return;
  movie_account_blit(m, ms_timer());
  movie_update_slowest(m);
  const uint32_t n = m->stats.stats_window;
  uint32_t a = frames;
  if (a == 0 || a >= n) a = n - 1;
  if (m->current_frame < a) a = m->current_frame > 1 ? m->current_frame - 1 : 1;
  const uint32_t at = a < n ? a : n - 1;  // the history holds n entries
  uint32_t* const* h = m->stats.history;
  std::memset(out, 0, sizeof *out);
  out->frame = m->previous_frame;
  out->rate_num = m->rate_num;
  out->rate_den = m->rate_den;
  out->frames = a;
  out->window_ms = h[0][0] - h[0][at];
  if (!out->window_ms) out->window_ms = 1;
  out->audio_ms = h[1][0] - h[1][at];
  out->video_ms = h[2][0] - h[2][at];
  out->blit_ms = h[3][0] - h[3][at];
  out->read_ms = h[4][0] - h[4][at];
  out->idle_read_ms = h[5][0] - h[5][at];
  out->back_read_ms = h[6][0] - h[6][at];
  out->wanted = shared_get(m->input.reader.wanted);
  out->buffered = shared_get(m->input.reader.buffered);  // the input thread adds to it meanwhile
  // The bytes of the a frames up to the current one, from the raw index entries.
  const uint32_t cur = m->current_frame <= m->frame_count ? m->current_frame : m->frame_count;
  const uint32_t older = cur >= a ? cur - a : 0;
  uint64_t bytes = uint32_t(movie_index_entry(m, cur) - movie_index_entry(m, older));
  out->data_rate = div_or_zero(bytes * m->header_rate_num, uint64_t(m->header_rate_den) * out->frames);
}

void movie_summary(PlaybackSummary* out, Movie* m) {
  if (!out || !m) return;
  const uint32_t now = ms_timer();
  movie_account_blit(m, now);
  movie_update_slowest(m);
  std::memset(out, 0, sizeof *out);
  const InputReader* r = &m->input.reader;
  out->width = m->width;
  out->height = m->height;
  // Before the first decode the time counts from the timer's start.
  out->playback_ms = m->clock.playback_started ? now - m->clock.playback_start : now;
  out->header_rate_num = m->header_rate_num;
  out->header_rate_den = m->header_rate_den;
  out->rate_num = m->rate_num;
  out->rate_den = m->rate_den;
  out->open_ms = m->stats.open_ms;
  out->frame_count = m->frame_count;
  out->frames_played = m->stats.frames_decoded;
  out->skipped_frames = 0;
  out->skipped_blits = m->stats.skipped_blits;
  out->sound_skips = m->stats.sound_underruns;
  out->blit_ms = m->stats.blit_ms;
  out->read_ms = shared_get(r->foreground_ms);
  out->video_ms = m->stats.video_ms;
  out->audio_ms = m->stats.audio_ms;
  out->idle_read_ms = shared_get(r->idle_ms);
  out->back_read_ms = shared_get(r->background_ms);
  out->device_speed =
      uint32_t(uint64_t(shared_get(r->total_bytes)) * 1000 / (uint64_t(shared_get(r->read_ms)) + 1));
  out->slowest_ms = m->stats.slowest_ms;
  out->second_ms = m->stats.second_ms;
  out->slowest_frame = m->stats.slowest_frame;
  out->second_frame = m->stats.second_frame;
  const uint32_t data = m->input.size_field > m->input.first_frame ? m->input.size_field - m->input.first_frame : 0;
  out->avg_data_rate = div_or_zero(uint64_t(data) * m->header_rate_num, uint64_t(m->frame_count) * m->header_rate_den);
  out->avg_frame_size = div_or_zero(data, m->frame_count);
  out->total_memory = m->stats.total_memory;
  out->input_memory = r->buffer_size;
  out->peak_input_memory = shared_get(r->max_buffered);
  out->peak_rate = m->stats.peak_second_bytes;
  out->peak_frame = m->stats.peak_second_frame + 1;
}

uint32_t movie_changed_rects(uint32_t surface_flags, Movie* m) {
  if (surface_flags & 0x4000000) return 0;  // the pixels are on screen without a blit
  if (m->clock.skip_flag && !((surface_flags | m->flags) & kOpenNeverSkip)) return 0;
  if (m->rect_count != -1) return uint32_t(m->rect_count);
  const FramePlanes* p = &m->planes;
  const uint32_t mode = (m->last_copy_flags & kOpenDoublingMask) >> kOpenDoublingShift;
  uint32_t n = changed_rects_find(p->change_map, p->map_columns, p->luma_stride, p->luma_height,
                                  (surface_flags & 0x8000000) != 0, mode, int32_t(m->width), int32_t(m->height),
                                  m->rects);
  m->rect_count = int32_t(n);
  return n;
}
