// Aligned and grouped allocation.
//
// Every buffer of a movie is 32-byte aligned and carries a small tag below its pointer: the
// byte just below holds the distance to the raw block (33 to 64), the byte below that 3 when an
// installed allocator supplied the memory (its free function is then stored 16 bytes below the
// pointer) and 0 for the C heap. A movie's buffers come in a few groups: a list of pending
// buffers is recorded, then allocated as one block.
#pragma once
#include <cstddef>
#include <cstdint>

// An embedding program's allocator pair. `allocate` may return null or (void*)-1 to refuse.
using movie_alloc_fn = void* (*)(size_t bytes);
using movie_free_fn = void (*)(void* block);
// Installs (or, with nulls, removes) the allocator pair used by later allocations.
void movie_set_allocator(movie_alloc_fn allocate, movie_free_fn release);

// n bytes, 32-byte aligned; null for 0 or SIZE_MAX bytes, or when memory runs out.
void* aligned_alloc32(size_t n);
void aligned_free32(void* p);

struct PendingBuffer {
  void** where;  // receives the buffer's address
  size_t size;
};

struct PendingList {
  PendingBuffer* items;
  uint32_t count, capacity;
  size_t bytes;  // padded bytes pending so far
  bool failed;   // the list itself could not grow
};

void pending_init(PendingList* l);
// Records a buffer; its size is rounded up to 32 bytes and padded so that successive buffers
// start at staggered positions across 1024-byte boundaries.
void pending_add(PendingList* l, void** where, size_t size);
// Allocates `head` bytes (rounded up to 32; its address in *head_out, may be null when head is
// 0) and every pending buffer as one zero-filled block, hands out the pointers, adds the block's
// size to *total and empties the list. Returns the block (free it with aligned_free32), or null.
void* pending_allocate(PendingList* l, size_t head, void** head_out, uint32_t* total);
void pending_free(PendingList* l);
