#include "sound/sound.h"

#include <cstring>
#include <mutex>

#include "container/shared_field.h"

namespace {

// The feed's sound lock: the sound node's mutex (none before the node is added).
bool try_lock_sound(SoundFeed* f) { return f->node.mutex ? f->node.mutex->try_lock() : true; }

// Copies n ring bytes from read_pos (wrapping) to dst, converting to 8-bit when asked.
void take(SoundOutput* o, uint8_t* dst, uint32_t n) {
  uint32_t first = uint32_t(o->ring_end - o->read_pos);
  if (first > n) first = n;
  const uint32_t shift = o->to_8bit;
  if (shift) sound_to_8bit(dst, o->read_pos, first / 2);
  else std::memcpy(dst, o->read_pos, first);
  if (first < n) {
    if (shift) sound_to_8bit(dst + first / 2, o->ring_start, (n - first) / 2);
    else std::memcpy(dst + first, o->ring_start, n - first);
    o->read_pos = o->ring_start + (n - first);
  } else {
    o->read_pos += first;
  }
}

}  // namespace

uint32_t sound_use_system(SoundSystem* s, sound_provider_fn provider, void* arg) {
  if (!s || !provider) return 0;
  if (s->provider && provider != s->provider && s->tracks_opened.load()) return 0;
  s->provider = provider;
  sound_open_fn open = provider(arg);
  if (open) s->open = open;
  return s->open ? 1 : 0;
}

sound_open_fn sound_installed_open(const SoundSystem* s) { return s ? s->open : nullptr; }
void sound_count_track_opened(SoundSystem* s) {
  if (s) s->tracks_opened.fetch_add(1);
}

void sound_to_8bit(uint8_t* dst, const uint8_t* src, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) dst[i] = uint8_t(src[2 * i + 1] + 128);
}

void sound_ring_write(SoundOutput* o, const uint8_t* pcm, uint32_t n) {
  if (!o->ring_start || !o->ring_size || !n) return;
  if (n > o->ring_size) {
    // A piece larger than the whole ring: only its newest ring_size bytes can be kept.
    pcm += n - o->ring_size;
    n = o->ring_size;
  }
  if (o->ring_size - o->fill < n) {
    // Overflow: drop the oldest bytes.
    uint32_t drop = n + o->fill - o->ring_size;
    uint32_t ahead = uint32_t(o->ring_end - o->read_pos);
    o->read_pos = drop < ahead ? o->read_pos + drop : o->ring_start + (drop - ahead);
    o->fill -= drop;
  }
  o->fill += n;
  if (o->write_pos == o->ring_end) o->write_pos = o->ring_start;
  uint32_t first = uint32_t(o->ring_end - o->write_pos);
  if (first >= n) {
    std::memcpy(o->write_pos, pcm, n);
    o->write_pos += n;
  } else {
    std::memcpy(o->write_pos, pcm, first);
    std::memcpy(o->ring_start, pcm + first, n - first);
    o->write_pos = o->ring_start + (n - first);
  }
}

void sound_fill_silence(SoundOutput* o) {
  if (!o->ring_start || o->fill >= o->prime_bytes) return;
  uint32_t missing = o->prime_bytes - o->fill;
  uint32_t behind = uint32_t(o->read_pos - o->ring_start);
  if (missing <= behind) {
    o->read_pos -= missing;
    std::memset(o->read_pos, 0, missing);
  } else {
    std::memset(o->ring_start, 0, behind);
    uint32_t rest = missing - behind;
    o->read_pos = o->ring_end - rest;
    std::memset(o->read_pos, 0, rest);
  }
  o->fill = o->prime_bytes;
}

void sound_pump(SoundFeed* f) {
  if (!f || !f->count || !f->outputs[f->count - 1].sound_ready) return;
  if (!try_lock_sound(f)) return;
  for (uint32_t k = 0; k < f->count; ++k) {
    SoundOutput* o = &f->outputs[k];
    const bool before_end = shared_get(*f->current_frame) <= o->flush_frame;
    while (o->sound_ready && o->sound_ready(o)) {
      if (o->fill <= o->backend_bytes && (before_end || o->fill == 0)) break;
      uint8_t* buffer = nullptr;
      uint32_t size = 0;
      if (!o->sound_get_buffer(o, &buffer, &size) || !buffer || !size) break;
      uint32_t amount = size << o->to_8bit;
      if (amount > o->fill) amount = o->fill;
      if (before_end) amount &= o->align_mask << o->to_8bit;
      if (o->to_8bit) amount &= ~1u;  // whole 16-bit samples become whole bytes
      if (!amount) break;
      o->fill -= amount;
      take(o, buffer, amount);
      o->sound_commit(o, amount >> o->to_8bit);
    }
  }
  sound_unlock(f);
}

void sound_lock(SoundFeed* f) {
  if (f && f->node.mutex) f->node.mutex->lock();
}
void sound_unlock(SoundFeed* f) {
  if (f && f->node.mutex) f->node.mutex->unlock();
}

uint32_t sound_switch(SoundFeed* f, uint32_t on) {
  if (!f) return 0;
  bool any = false;
  for (uint32_t k = 0; k < f->count; ++k) any = any || f->outputs[k].sound_on_off;
  if (!any) return 0;
  sound_lock(f);
  uint32_t result = 0;
  for (uint32_t k = 0; k < f->count; ++k) {
    SoundOutput* o = &f->outputs[k];
    if (!o->sound_on_off) continue;
    if (o->sound_on_off(o, on)) {
      result = 1;
      if (!f->clock) {
        f->clock = 1;
        if (f->clock_started) f->clock_started(f->context);
      }
    } else if (f->clock) {
      o->write_pos = o->read_pos = o->ring_start;
      o->fill = 0;
      if (!(*f->current_frame == 1 && *f->last_decoded != 1)) sound_fill_silence(o);
    }
  }
  // The sound clock stops once every output is off (after each has been emptied).
  if (!result && f->clock) f->clock = 0;
  sound_unlock(f);
  return result;
}

uint32_t sound_service_due(ServiceNode* node, uint32_t pass) {
  if (node->last_pass == pass) return 0;
  return 0xffffffffu - node->last_pass;
}

void sound_service_work(ServiceNode* node, uint32_t pass) {
  SoundFeed* f = static_cast<SoundFeed*>(node->owner);
  if (f->count) sound_pump(f);
  node->last_pass = pass;
}
