// Fields that two threads touch without a common lock (the reader's counters, times and flags,
// `wanted`, the movie's current frame) are read and written whole, atomically, through these.
// Everything else shared is guarded by the movie's reader or sound lock, or owned by one side.
#pragma once
#include <atomic>
#include <cstdint>

inline uint32_t shared_get(const uint32_t& v) {
  return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(v)).load(std::memory_order_relaxed);
}
inline void shared_put(uint32_t& v, uint32_t x) { std::atomic_ref<uint32_t>(v).store(x, std::memory_order_relaxed); }
inline void shared_add(uint32_t& v, uint32_t x) {
  std::atomic_ref<uint32_t>(v).fetch_add(x, std::memory_order_relaxed);
}
