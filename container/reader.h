// InputReader: delivers a movie's bytes. It reads ahead of need into a ring in whole 8192-byte
// chunks (on the input service thread, or in the engine's idle moments), can throttle itself to
// a chosen speed, and reads straight from the file when the ring runs dry. Positions are byte
// offsets within the movie, counted from its header, wherever that lies in the file.
#pragma once
#include <cstdint>

#include "container/shared_field.h"

#include "container/service.h"

struct PlatformFile;
struct InputReader;

constexpr uint32_t kReaderChunk = 8192;
constexpr uint32_t kReaderNoOffset = 0xffffffffu;  // "-1": continue at the current position

using reader_read_fn = uint32_t (*)(InputReader*, uint32_t offset, void* dst, uint32_t size);
using reader_round_fn = uint32_t (*)(InputReader*, uint32_t size);
using reader_set_buffer_fn = void (*)(InputReader*, uint8_t* buffer, uint32_t size, uint32_t movie_size,
                                      uint32_t speed);
using reader_fill_fn = int32_t (*)(InputReader*);
using reader_close_fn = void (*)(InputReader*);
using reader_lock_fn = void (*)(InputReader*);
using reader_try_lock_fn = bool (*)(InputReader*);

struct InputReader {
  // Operations, filled by reader_open (or an installed opener).
  reader_read_fn read_at;          // direct read, bypassing the ring
  reader_read_fn read_frame;       // read through the ring; returns the bytes delivered
  reader_round_fn round_buffer_size;
  reader_set_buffer_fn set_buffer;
  reader_fill_fn background_fill;  // one chunk: bytes read, 0 nothing to do, -1 lock busy
  reader_close_fn close;

  void* movie;
  uint32_t at_end;       // a read came back short; the file is not read again (the ring still delivers)
  uint32_t reading_now;  // inside background_fill's file read
  uint32_t total_bytes;
  uint32_t engine_busy;  // the engine decodes or copies a frame
  uint32_t read_ms, foreground_ms, idle_ms, background_ms;
  uint32_t buffer_size;  // ring size, a multiple of 8192 (0: no ring)
  uint32_t max_buffered;
  uint32_t wanted;       // the fill worth having
  uint32_t buffered;     // bytes in the ring (atomic add and subtract)
  PlatformFile* file;
  uint32_t file_pos;     // next movie byte to go into the ring
  uint32_t consumer_pos; // next movie byte read_frame delivers
  uint8_t* read_ptr;
  uint8_t* write_ptr;
  uint32_t free_bytes;   // atomic add and subtract
  uint8_t* ring_base;
  uint8_t* ring_end;
  uint32_t handle_given; // the file belongs to the caller
  uint64_t start_offset; // where the movie's header lies in the file
  uint32_t movie_size;
  uint32_t speed;        // simulated bytes a second, 0 = off
  int32_t speed_debt;    // milliseconds owed to the throttle

  reader_lock_fn lock;
  reader_try_lock_fn try_lock;
  reader_lock_fn unlock;
  reader_lock_fn idle;

  ServiceNode node;      // its mutex is the reader lock
};

// Opens `file`, positioned at the movie (never closed here), or when it is null the file called
// `name`. Clears the record first. False when the file cannot be opened.
bool reader_open(InputReader* r, const char* name, PlatformFile* file);
// Installs the four lock operations (on the node's mutex; without one they always succeed).
void reader_install_locks(InputReader* r);
// (buffered + 1) × 100 / (wanted + 1): how full the ring is against what is worth having.
uint32_t reader_fill_percent(const InputReader* r);
// The input node's priority and work (the input service thread calls them).
uint32_t reader_service_due(ServiceNode* node, uint32_t pass);
void reader_service_work(ServiceNode* node, uint32_t pass);
