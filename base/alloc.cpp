#include "base/alloc.h"

#include <cstdlib>
#include <cstring>

namespace {

// The program's allocator pair (both null: the C library's).
struct Allocator {
  movie_alloc_fn allocate;
  movie_free_fn release;
};
Allocator g_allocator = {nullptr, nullptr};

size_t round32(size_t n) { return (n + 31) & ~size_t(31); }

}  // namespace

void movie_set_allocator(movie_alloc_fn allocate, movie_free_fn release) {
  g_allocator.allocate = allocate && release ? allocate : nullptr;
  g_allocator.release = allocate && release ? release : nullptr;
}

void* aligned_alloc32(size_t n) {
  if (n == 0 || n == SIZE_MAX || n > SIZE_MAX - 64) return nullptr;
  const movie_alloc_fn allocate = g_allocator.allocate;
  const movie_free_fn release = g_allocator.release;
  void* raw = allocate ? allocate(n + 64) : std::malloc(n + 64);
  if (!raw || raw == reinterpret_cast<void*>(intptr_t(-1))) return nullptr;
  uint8_t* base = static_cast<uint8_t*>(raw);
  size_t distance = 64 - (reinterpret_cast<uintptr_t>(base) % 32);  // 33 to 64
  uint8_t* user = base + distance;
  user[-1] = uint8_t(distance);
  user[-2] = allocate ? 3 : 0;
  if (allocate) std::memcpy(user - 16, &release, sizeof release);
  return user;
}

void aligned_free32(void* p) {
  if (!p) return;
  uint8_t* user = static_cast<uint8_t*>(p);
  uint8_t* raw = user - user[-1];
  if (user[-2] == 3) {
    movie_free_fn release;
    std::memcpy(&release, user - 16, sizeof release);
    release(raw);
  } else {
    std::free(raw);
  }
}

void pending_init(PendingList* l) { *l = PendingList{}; }

void pending_add(PendingList* l, void** where, size_t size) {
  if (l->count == l->capacity) {
    uint32_t cap = l->capacity ? l->capacity * 2 : 16;
    void* grown = std::realloc(l->items, cap * sizeof(PendingBuffer));
    if (!grown) { l->failed = true; return; }
    l->items = static_cast<PendingBuffer*>(grown);
    l->capacity = cap;
  }
  size_t rounded = round32(size);
  // Stagger: ((pending so far / 32) − (rounded / 32) + 1) mod 32 units of 32 bytes.
  uint32_t units = uint32_t(uint32_t(l->bytes / 32) - uint32_t(rounded / 32) + 1) % 32;
  size_t padded = rounded + 32 * size_t(units);
  l->items[l->count++] = PendingBuffer{where, padded};
  l->bytes += padded;
}

void* pending_allocate(PendingList* l, size_t head, void** head_out, uint32_t* total) {
  size_t head_bytes = round32(head);
  size_t bytes = head_bytes + l->bytes;
  void* block = l->failed ? nullptr : aligned_alloc32(bytes);
  if (block) {
    std::memset(block, 0, bytes);
    uint8_t* p = static_cast<uint8_t*>(block);
    if (head_out) *head_out = head ? p : nullptr;
    p += head_bytes;
    for (uint32_t i = 0; i < l->count; ++i) {
      *l->items[i].where = p;
      p += l->items[i].size;
    }
    if (total) *total += uint32_t(bytes);
  }
  l->count = 0;
  l->bytes = 0;
  l->failed = false;
  return block;
}

void pending_free(PendingList* l) {
  std::free(l->items);
  *l = PendingList{};
}
