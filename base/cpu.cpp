#include "base/cpu.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define KORVA_X86 1
#endif

namespace {

// The processor's level, asked once, and the limit KORVA_CPU (read once) or cpu_set_limit puts
// on it; all ones: not known yet.
struct CpuState {
  std::atomic<uint32_t> detected{0xFFFFFFFFu};
  std::atomic<uint32_t> limit{0xFFFFFFFFu};
};
CpuState g_cpu;

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
  uint32_t l = g_cpu.limit.load(std::memory_order_relaxed);
  if (l == 0xFFFFFFFFu) {
    // KORVA_CPU, read once; an unknown value limits nothing.
    uint32_t parsed = kCpuAvx2;
    const char* text = std::getenv("KORVA_CPU");
    if (!text || !cpu_parse_level(text, &parsed)) parsed = kCpuAvx2;
    uint32_t expected = 0xFFFFFFFFu;
    g_cpu.limit.compare_exchange_strong(expected, parsed);
    l = g_cpu.limit.load(std::memory_order_relaxed);
  }
  return l;
}

}  // namespace

uint32_t cpu_detected_level() {
  uint32_t d = g_cpu.detected.load(std::memory_order_relaxed);
  if (d == 0xFFFFFFFFu) {
    d = detect();
    g_cpu.detected.store(d, std::memory_order_relaxed);
  }
  return d;
}

uint32_t cpu_level() {
  const uint32_t d = cpu_detected_level(), l = limit();
  return l < d ? l : d;
}

void cpu_set_limit(uint32_t level) {
  g_cpu.limit.store(level > kCpuAvx2 ? kCpuAvx2 : level, std::memory_order_relaxed);
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
