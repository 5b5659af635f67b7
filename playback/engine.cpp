#include "playback/engine.h"

#include <cstring>
#include <mutex>
#include <thread>

#include "audio/audio_decoder.h"
#include "playback/movie.h"
#include "playback/late_frame.h"
#include "base/timer.h"
#include "sound/sound.h"

namespace {

void start_clock(Movie* m, uint32_t now) {
  m->clock_start = now;
  m->clock_start_frame = m->frames_decoded - 1;
  m->clock_running = true;
}


int32_t played_slot(const Movie* m, uint32_t track) {
  for (uint32_t k = 0; k < m->feed.count; ++k)
    if (m->played[k] == track) return int32_t(k);
  return -1;
}

// Walks the frame's sound packets (in header order) into the played tracks' rings and returns
// where the video packet starts. A packet length that runs past the frame ends the walk there.
uint32_t decode_sound(Movie* m) {
  const uint8_t* f = m->frame;
  const uint32_t size = m->frame_size;
  uint32_t pos = 0;
  bool locked = false;
  for (uint32_t t = 0; t < m->track_count; ++t) {
    if (size - pos < 4) { pos = size; break; }
    uint32_t len = load_le32(f + pos);
    pos += 4;
    if (len > size - pos) { pos = size; break; }
    int32_t slot = played_slot(m, t);
    if (slot >= 0 && len) {
      if (!locked) { sound_lock(&m->feed); locked = true; }
      SoundOutput* o = &m->feed.outputs[slot];
      AudioPacketCursor c;
      audio_packet_begin(&c, f + pos, len);
      const int16_t* pcm;
      uint32_t bytes;
      while (audio_packet_next(o->decoder, &c, &pcm, &bytes))
        sound_ring_write(o, reinterpret_cast<const uint8_t*>(pcm), bytes);
    }
    pos += len;
  }
  if (locked) sound_unlock(&m->feed);
  return pos;
}

}  // namespace

void movie_top_up(Movie* m) {
  if (m->in_memory || !m->has_reader) return;
  InputReader* r = &m->reader;
  if (shared_get(r->reading_now) || reader_fill_percent(r) >= 75) return;
  if (r->try_lock(r)) {
    r->background_fill(r);
    r->unlock(r);
  } else if (r->node.mutex) {
    std::this_thread::yield();
  }
}

void movie_clock_check(Movie* m) {
  if (!m->clock_running) start_clock(m, ms_timer());
}

void movie_account_blit(Movie* m, uint32_t now) {
  if (m->blit_pending) {
    m->blit_ms += now - m->decode_end;
    m->blit_pending = false;
  }
}

void movie_goto(Movie* m, uint32_t n) {
  uint32_t i = n ? n - 1 : 0;
  if (i >= m->frame_count) i = 0;
  if (m->feed.count) sound_pump(&m->feed);
  m->previous_frame = m->current_frame;
  if (i == 0) {
    const uint32_t t = ms_timer();
    if (!m->frame1_seen) {
      m->frame1_visit = t;
      m->frame1_seen = true;
    }
    if (t - m->frame1_visit > 300000) {
      m->frame1_visit = t;
      m->resync = 1;
    }
  }
  const uint32_t offset = movie_index_entry(m, i) & ~1u;
  const uint32_t size = (movie_index_entry(m, i + 1) & ~1u) - offset;
  // A frame plays only when all of its bytes are there: a file cut short plays every frame that
  // lies whole in it, wherever the read-ahead has got to.
  m->frame_incomplete = false;
  if (m->image_data) {
    m->frame = m->image_data + offset;
  } else if (m->preload) {
    m->frame = m->preload + (offset - m->first_frame);
    m->frame_incomplete = uint64_t(offset - m->first_frame) + size > m->preload_read;
  } else {
    uint32_t got = m->reader.read_frame(&m->reader, offset, m->frame_buffer, size);
    if (got < size) std::memset(m->frame_buffer + got, 0, size - got);  // never stale bytes
    m->frame = m->frame_buffer;
    m->frame_incomplete = got < size;
  }
  m->frame_size = size;
  if (m->feed.count) sound_pump(&m->feed);
  shared_put(m->current_frame, i + 1);  // the sound thread's pump reads it
}

uint32_t movie_do_frame(Movie* m) {
  if (!m || m->last_decoded == m->current_frame) return 0;
  if (m->resync) {
    m->resync = 0;
    if (m->feed.clock) {
      sound_switch(&m->feed, 0);
      sound_switch(&m->feed, 1);
    }
    m->clock_running = false;
    m->late_debt = 0;
  }
  InputReader* r = &m->reader;
  shared_put(r->engine_busy, 1);
  const uint32_t t0 = ms_timer();
  m->frame_start = t0;

  const uint32_t totals[7] = {t0, m->audio_ms, m->video_ms, m->blit_ms, shared_get(r->foreground_ms),
                               shared_get(r->idle_ms), shared_get(r->background_ms)};
  for (int k = 0; k < 7; ++k) {
    if (m->history_shift) std::memmove(m->history[k] + 1, m->history[k], m->history_shift);
    m->history[k][0] = totals[k];
  }
  if (!m->playback_started) {
    if (m->stats_window > 1 && m->header_rate_num)
      m->history[0][1] = t0 - uint32_t(1000ull * m->header_rate_den / m->header_rate_num);
    shared_put(r->idle_ms, 0);
    shared_put(r->background_ms, 0);
    m->playback_start = t0;
    m->playback_started = true;
  } else if (m->feed.count) {
    sound_pump(&m->feed);
  }
  m->slow_start = t0;
  m->slow_pending = true;
  if (m->frame_incomplete) m->read_failed = 1;  // a file cut short before this frame's end
  if (m->read_failed) {
    shared_put(r->engine_busy, 0);
    return 1;
  }

  const uint32_t video_at = decode_sound(m);
  const uint32_t t1 = ms_timer();

  if (m->video_enabled) {
    FramePlanes* p = &m->planes;
    if (!m->skip_flag) std::memset(p->change_map, 0, p->map_blocks);
    movie_top_up(m);
    const bool key = movie_index_entry(m, m->current_frame - 1) & 1;
    video_decode_next(p, m->coded_width, m->coded_height, m->frame + video_at, m->frame_size - video_at, key,
                      m->flags, m->header_flags);
  }
  if (m->feed.count) sound_pump(&m->feed);

  m->rect_count = -1;
  m->frames_decoded += 1;
  if (!m->clock_running) start_clock(m, ms_timer());
  const uint32_t t2 = ms_timer();
  m->decode_end = t2;
  m->blit_pending = true;
  m->audio_ms += t1 - t0;
  m->video_ms += t2 - t1;
  m->last_decoded = m->previous_frame = m->current_frame;
  shared_put(r->engine_busy, 0);
  return 0;
}

uint32_t movie_wait(Movie* m) {
  if (!m || (!m->frames_decoded && !m->paused) || m->read_failed) return 0;
  if (!m->clock_running) {
    start_clock(m, ms_timer());
    if (m->feed.count) sound_pump(&m->feed);
  }
  const uint32_t now = ms_timer();
  movie_account_blit(m, now);
  movie_update_slowest(m);
  if (!m->paused && (!m->feed.count || m->feed.clock)) {
    if (!m->rate_num) return 0;
    uint32_t due;
    int32_t elapsed;
    late_frame_position(m, now, &due, &elapsed);
    if (elapsed >= int32_t(due)) {
      int32_t late = elapsed - int32_t(due);
      if (late > int32_t(m->late_threshold)) {
        if (!m->feed.count) {
          start_clock(m, now);  // no sound to keep in step with: drop the lateness
        } else {
          m->late_debt = late;
          m->late_repay = int32_t(int64_t(late) * m->rate_den / m->rate_num);
        }
      }
      if (m->late_debt < m->late_repay) m->late_debt = 0;
      else m->late_debt -= m->late_repay;
      return 0;
    }
  }
  if (!m->in_memory && m->has_reader) {
    InputReader* r = &m->reader;
    if (r->try_lock(r)) {
      r->background_fill(r);
      r->unlock(r);
    }
  }
  return 1;
}

void movie_next_frame(Movie* m) {
  if (!m) return;
  bool underrun = false;
  if (m->feed.count) {
    sound_lock(&m->feed);  // the back ends set the flag with the lock held
    for (uint32_t k = 0; k < m->feed.count; ++k) {
      SoundOutput* o = &m->feed.outputs[k];
      if (o->underrun) {
        o->underrun = 0;
        if (m->current_frame > 1 && o->flush_frame >= m->current_frame) underrun = true;
      }
    }
    sound_unlock(&m->feed);
  }
  InputReader* r = &m->reader;
  if (underrun) {
    m->sound_underruns += 1;
    std::recursive_mutex* a = m->feed.node.mutex;
    std::recursive_mutex* b = m->has_reader ? r->node.mutex : nullptr;
    if (a && b) std::lock(*a, *b);
    else if (a) a->lock();
    else if (b) b->lock();
    sound_switch(&m->feed, 0);
    if (!m->in_memory && m->has_reader)
      while (reader_fill_percent(r) < 90 && r->background_fill(r) != 0) {
      }
    m->clock_running = false;
    m->late_debt = 0;
    sound_switch(&m->feed, 1);
    if (b) b->unlock();
    if (a) a->unlock();
  }
  shared_put(r->engine_busy, 1);
  if (m->feed.count) sound_pump(&m->feed);
  movie_account_blit(m, ms_timer());
  const bool wraps = m->current_frame >= m->frame_count;
  // Back at frame 1 the movie shows its first frame anew: it is decoded (and timed) again even
  // when it was the last one decoded, as in a one-frame movie, which would otherwise always be
  // due and keep the player busy.
  if (wraps) m->last_decoded = 0;
  movie_goto(m, wraps ? 1 : m->current_frame + 1);
  shared_put(r->engine_busy, 0);
}

uint32_t movie_pause(Movie* m, uint32_t pause) {
  if (!m) return 0;
  movie_account_blit(m, ms_timer());
  movie_update_slowest(m);
  if (m->paused && !pause) {
    m->clock_running = false;
    m->late_debt = 0;
  }
  m->paused = pause ? 1 : 0;
  if (m->feed.count) {
    sound_lock(&m->feed);  // every call into a back end holds the sound lock
    for (uint32_t k = 0; k < m->feed.count; ++k)
      if (m->feed.outputs[k].sound_pause) m->feed.outputs[k].sound_pause(&m->feed.outputs[k], m->paused);
    sound_unlock(&m->feed);
  }
  if (m->frames_decoded && m->feed.count) sound_pump(&m->feed);
  return m->paused;
}
