#include "container/reader.h"

#include <atomic>
#include <cstring>
#include <thread>

#include "container/open_flags.h"
#include "platform/platform.h"
#include "base/timer.h"

namespace {

void atomic_add(uint32_t* v, uint32_t n) { std::atomic_ref<uint32_t>(*v).fetch_add(n); }
void atomic_sub(uint32_t* v, uint32_t n) { std::atomic_ref<uint32_t>(*v).fetch_sub(n); }
uint32_t atomic_get(const uint32_t* v) { return std::atomic_ref<uint32_t>(*const_cast<uint32_t*>(v)).load(); }

void lock_node(InputReader* r) { if (r->node.mutex) r->node.mutex->lock(); }
bool try_lock_node(InputReader* r) { return r->node.mutex ? r->node.mutex->try_lock() : true; }
void unlock_node(InputReader* r) { if (r->node.mutex) r->node.mutex->unlock(); }
void idle_node(InputReader*) { std::this_thread::yield(); }

void recompute_wanted(InputReader* r) {
  uint32_t left = r->movie_size > r->consumer_pos ? r->movie_size - r->consumer_pos : 0;
  uint32_t w = r->buffer_size < left ? r->buffer_size : left;
  uint32_t b = atomic_get(&r->buffered);
  if (uint64_t(w) < uint64_t(b) + kReaderChunk) w = b;
  shared_put(r->wanted, w);
}

// Reads from the file at file_pos; a short read sets at_end.
uint32_t file_read(InputReader* r, void* dst, uint32_t size) {
  if (!r->file || size == 0) {
    if (size) shared_put(r->at_end, 1);
    return 0;
  }
  int64_t n = platform_file_read(r->file, dst, size);
  if (n < 0) n = 0;
  if (uint32_t(n) < size) shared_put(r->at_end, 1);
  return uint32_t(n);
}

void file_seek(InputReader* r, uint32_t offset) {
  if (r->file && !platform_file_seek(r->file, r->start_offset + offset)) shared_put(r->at_end, 1);
  r->file_pos = offset;
}

// After a read of n bytes that began at t0: wait until the simulated device would have
// delivered them; a slow read leaves credit for the next.
void throttle(InputReader* r, uint32_t n, uint32_t t0) {
  if (!r->speed) return;
  r->speed_debt += int32_t(uint64_t(n) * 1000 / r->speed) - int32_t(ms_timer() - t0);
  while (r->speed_debt > 0) {
    uint32_t start = ms_timer();
    uint32_t e;
    while ((e = ms_timer() - start) < uint32_t(r->speed_debt)) std::this_thread::yield();
    r->speed_debt -= int32_t(e);
  }
}

uint32_t op_read_at(InputReader* r, uint32_t offset, void* dst, uint32_t size) {
  r->lock(r);
  if (offset != kReaderNoOffset && offset != r->file_pos) file_seek(r, offset);
  uint32_t t0 = ms_timer();
  uint32_t n = file_read(r, dst, size);
  shared_add(r->read_ms, ms_timer() - t0);
  r->file_pos += n;
  r->consumer_pos = r->file_pos;
  recompute_wanted(r);
  r->unlock(r);
  return n;
}

// Copies up to `size` buffered bytes out of the ring (no lock: the consumer owns read_ptr).
uint32_t take_from_ring(InputReader* r, uint8_t* dst, uint32_t size) {
  uint32_t n = atomic_get(&r->buffered);
  if (n > size) n = size;
  uint32_t done = 0;
  while (done < n) {
    uint32_t piece = uint32_t(r->ring_end - r->read_ptr);
    if (piece > n - done) piece = n - done;
    std::memcpy(dst + done, r->read_ptr, piece);
    r->read_ptr += piece;
    if (r->read_ptr == r->ring_end) r->read_ptr = r->ring_base;
    atomic_sub(&r->buffered, piece);
    atomic_add(&r->free_bytes, piece);
    done += piece;
  }
  r->consumer_pos += n;
  return n;
}

// Once the file has come back short (at_end) it is not read again, but what the ring already
// holds is still delivered: the read-ahead meets the end of a cut file well before playback does.
uint32_t op_read_frame(InputReader* r, uint32_t offset, void* dst_void, uint32_t size) {
  uint8_t* dst = static_cast<uint8_t*>(dst_void);
  const uint32_t t0 = ms_timer();
  bool held = false;
  if (offset != kReaderNoOffset && offset != r->consumer_pos) {
    r->lock(r);
    held = true;
    if (r->consumer_pos < offset && offset <= r->file_pos) {
      // Already in the ring: skip forward.
      uint32_t d = offset - r->consumer_pos;
      r->consumer_pos = offset;
      uint32_t ahead = uint32_t(r->ring_end - r->read_ptr);
      r->read_ptr = d < ahead ? r->read_ptr + d : r->ring_base + (d - ahead);
      atomic_sub(&r->buffered, d);
      atomic_add(&r->free_bytes, d);
    } else {
      // Anywhere else: flush the ring and seek.
      file_seek(r, offset);
      r->consumer_pos = offset;
      // The input thread reads the counts for its priorities without the lock.
      shared_put(r->free_bytes, r->buffer_size);
      shared_put(r->buffered, 0);
      r->read_ptr = r->write_ptr = r->ring_base;
    }
  }
  uint32_t delivered = 0;
  for (;;) {
    delivered += take_from_ring(r, dst + delivered, size - delivered);
    if (delivered == size) break;
    if (held) {
      // The ring is dry and the file is ours: read the rest straight into the destination.
      if (shared_get(r->at_end)) break;
      uint32_t t = ms_timer();
      uint32_t n = file_read(r, dst + delivered, size - delivered);
      r->file_pos += n;
      r->consumer_pos += n;
      shared_add(r->total_bytes, n);
      delivered += n;
      throttle(r, n, t);
      shared_add(r->read_ms, ms_timer() - t);
      break;
    }
    r->lock(r);  // the background fill may have added data meanwhile
    held = true;
  }
  shared_add(r->foreground_ms, ms_timer() - t0);
  recompute_wanted(r);
  if (held) r->unlock(r);
  return delivered;
}

uint32_t op_round_buffer_size(InputReader*, uint32_t size) {
  uint64_t rounded = (uint64_t(size) + kReaderChunk - 1) / kReaderChunk * kReaderChunk;
  return rounded > 0xffffe000u ? 0xffffe000u : uint32_t(rounded);
}

void op_set_buffer(InputReader* r, uint8_t* buffer, uint32_t size, uint32_t movie_size, uint32_t speed) {
  r->lock(r);
  size = buffer ? size / kReaderChunk * kReaderChunk : 0;
  r->ring_base = r->read_ptr = r->write_ptr = buffer;
  r->ring_end = buffer ? buffer + size : buffer;
  r->buffer_size = size;
  shared_put(r->free_bytes, size);
  shared_put(r->buffered, 0);
  r->movie_size = movie_size;
  r->speed = speed;
  recompute_wanted(r);
  r->unlock(r);
}

int32_t op_background_fill(InputReader* r) {
  const uint32_t busy_before = shared_get(r->engine_busy);
  if (shared_get(r->at_end)) return 0;
  if (!r->try_lock(r)) {
    r->idle(r);
    return -1;
  }
  uint32_t left = r->movie_size > r->file_pos ? r->movie_size - r->file_pos : 0;
  if (atomic_get(&r->free_bytes) < kReaderChunk || left < kReaderChunk || !r->ring_base) {
    // Nothing worth reading ahead; the last partial chunk is read by read_frame directly.
    shared_put(r->wanted, atomic_get(&r->buffered));
    r->unlock(r);
    return 0;
  }
  const uint32_t t0 = ms_timer();
  shared_put(r->reading_now, 1);
  uint32_t n = file_read(r, r->write_ptr, kReaderChunk);
  shared_put(r->reading_now, 0);
  shared_add(r->total_bytes, n);
  r->file_pos += n;
  r->write_ptr += n;
  if (r->write_ptr >= r->ring_end) r->write_ptr = r->ring_base;
  atomic_sub(&r->free_bytes, n);
  atomic_add(&r->buffered, n);
  uint32_t b = atomic_get(&r->buffered);
  if (b > shared_get(r->max_buffered)) shared_put(r->max_buffered, b);
  throttle(r, n, t0);
  uint32_t dt = ms_timer() - t0;
  shared_add(r->read_ms, dt);
  if (!busy_before && !shared_get(r->engine_busy)) shared_add(r->idle_ms, dt);
  else shared_add(r->background_ms, dt);
  r->unlock(r);
  return int32_t(n);
}

void op_close(InputReader* r) {
  r->lock(r);
  if (r->file && !r->handle_given) platform_file_close(r->file);
  r->file = nullptr;
  r->unlock(r);
}

}  // namespace

void reader_install_locks(InputReader* r) {
  r->lock = lock_node;
  r->try_lock = try_lock_node;
  r->unlock = unlock_node;
  r->idle = idle_node;
}

bool reader_open(InputReader* r, const char* name, PlatformFile* file) {
  std::memset(static_cast<void*>(r), 0, sizeof *r);
  if (file) {
    r->file = file;
    r->handle_given = 1;
    int64_t pos = platform_file_tell(r->file);
    r->start_offset = pos > 0 ? uint64_t(pos) : 0;
  } else {
    r->file = name ? platform_file_open(name) : nullptr;
    if (!r->file) return false;
  }
  r->read_at = op_read_at;
  r->read_frame = op_read_frame;
  r->round_buffer_size = op_round_buffer_size;
  r->set_buffer = op_set_buffer;
  r->background_fill = op_background_fill;
  r->close = op_close;
  reader_install_locks(r);
  r->movie_size = 0xffffffffu;
  r->node.owner = r;
  return true;
}

uint32_t reader_fill_percent(const InputReader* r) {
  return uint32_t((uint64_t(atomic_get(&r->buffered)) + 1) * 100 / (uint64_t(shared_get(r->wanted)) + 1));
}

uint32_t reader_service_due(ServiceNode* node, uint32_t pass) {
  InputReader* r = static_cast<InputReader*>(node->owner);
  if (shared_get(r->at_end)) return 0;  // nothing more will come: never urgent again
  uint32_t p = reader_fill_percent(r);
  if (p < 50) return 0xffffffffu - p;
  if (node->last_pass == pass) return 0;
  return 0x80000000u - node->last_pass;
}

void reader_service_work(ServiceNode* node, uint32_t pass) {
  InputReader* r = static_cast<InputReader*>(node->owner);
  r->background_fill(r);
  node->last_pass = pass;
}
