// The late-frame rule (see late_frame.h).
#include "playback/late_frame.h"

#include "convert/convert.h"
#include "playback/movie.h"

void late_frame_position(const Movie* m, uint32_t now, uint32_t* due, int32_t* elapsed) {
  const uint64_t frames = uint32_t(m->frames_decoded - m->clock_start_frame);
  const uint32_t q = uint32_t(frames * 1000 * m->rate_den / m->rate_num);
  *due = uint32_t(uint64_t(q) * m->feed.outputs[0].time_scale / 65536);
  *elapsed = int32_t(now - uint32_t(m->late_debt) - m->clock_start);
}

uint32_t late_frame_check(Movie* m, uint32_t now, uint32_t flags) {
  uint32_t due;
  int32_t elapsed;
  late_frame_position(m, now, &due, &elapsed);
  // A debt larger than the time run means early.
  if (elapsed - int32_t(due) <= int32_t(m->late_threshold)) {
    if (elapsed >= int32_t(due)) m->consecutive_skips = 0;
    m->skip_flag = 0;
    return kCopyOnTime;
  }
  m->consecutive_skips += 1;
  if (m->consecutive_skips > 3) {
    // The fourth late frame in a row is shown: it is copied and blitted, and the next frame's
    // change map starts afresh.
    m->consecutive_skips = 0;
    m->skip_flag = 0;
    return kCopyLate;
  }
  if ((flags | m->flags) & kCopyNeverSkip) {
    m->skip_flag = 0;
    return kCopyLate;
  }
  m->skip_flag = 1;
  m->skipped_blits += 1;
  return kCopyLateSkip;
}
