#include "base/cpu.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define KORVA_X86 1
#endif

namespace {

std::atomic<uint32_t> g_limit{0xFFFFFFFFu};  // all ones: not read from the environment yet

uint32_t detect() {
#if KORVA_X86
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(d & (1u << 26))) return kCpuPlain;
  return __builtin_cpu_supports("avx2") ? kCpuAvx2 : kCpuSse2;
#else
  return kCpuPlain;
#endif
}

uint32_t limit() {
  uint32_t l = g_limit.load(std::memory_order_relaxed);
  if (l == 0xFFFFFFFFu) {
    // KORVA_CPU, read once; an unknown value limits nothing.
    uint32_t parsed = kCpuAvx2;
    const char* text = std::getenv("KORVA_CPU");
    if (!text || !cpu_parse_level(text, &parsed)) parsed = kCpuAvx2;
    uint32_t expected = 0xFFFFFFFFu;
    g_limit.compare_exchange_strong(expected, parsed);
    l = g_limit.load(std::memory_order_relaxed);
  }
  return l;
}

}  // namespace

uint32_t cpu_detected_level() {
  static const uint32_t detected = detect();
  return detected;
}

uint32_t cpu_level() {
  const uint32_t d = cpu_detected_level(), l = limit();
  return l < d ? l : d;
}

void cpu_set_limit(uint32_t level) {
  g_limit.store(level > kCpuAvx2 ? kCpuAvx2 : level, std::memory_order_relaxed);
}

constexpr char kLevelNames[3][6] = {"plain", "sse2", "avx2"};

bool cpu_parse_level(const char* text, uint32_t* level) {
  for (uint32_t i = 0; i < 3; ++i)
    if (text && !std::strcmp(text, kLevelNames[i])) {
      *level = i;
      return true;
    }
  return false;
}

const char* cpu_level_name(uint32_t level) { return kLevelNames[level < 3 ? level : 2]; }
