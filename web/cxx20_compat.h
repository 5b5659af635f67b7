// The browser toolchain's C++ library predates a few C++20 pieces that the core uses:
// std::atomic_ref on plain 32-bit fields (load, store, fetch_add, fetch_sub) and std::bit_cast.
// This gives them on the compiler's built-ins, only where the library has none. Included
// before every file of the web build.
#pragma once
#include <atomic>
#include <bit>

namespace std {

#if !defined(__cpp_lib_atomic_ref)
template <class T>
struct atomic_ref {
  explicit atomic_ref(T& v) : p(&v) {}
  T load(memory_order order = memory_order_seq_cst) const { return __atomic_load_n(p, int(order)); }
  void store(T x, memory_order order = memory_order_seq_cst) const { __atomic_store_n(p, x, int(order)); }
  T fetch_add(T x, memory_order order = memory_order_seq_cst) const { return __atomic_fetch_add(p, x, int(order)); }
  T fetch_sub(T x, memory_order order = memory_order_seq_cst) const { return __atomic_fetch_sub(p, x, int(order)); }
  T* p;
};
#endif

#if !defined(__cpp_lib_bit_cast)
template <class To, class From>
constexpr To bit_cast(const From& from) noexcept {
  static_assert(sizeof(To) == sizeof(From), "bit_cast keeps the size");
  return __builtin_bit_cast(To, from);
}
#endif

}  // namespace std
