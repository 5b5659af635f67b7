// The instruction-set families the fast paths may use. The processor says what it has; the
// environment variable KORVA_CPU (plain, sse2, avx2), read once, or cpu_set_limit (a tool's
// --cpu, the tests) limits it. Function tables (converters, audio transforms, the inverse
// transform of the video decoder) are filled from cpu_level() and filled again when the
// generation changes.
#pragma once
#include <cstdint>

enum CpuLevel : uint32_t { kCpuPlain = 0, kCpuSse2 = 1, kCpuAvx2 = 2 };

// What the processor (and the build) can run.
uint32_t cpu_detected_level();
// min(detected, limit).
uint32_t cpu_level();
// Sets the limit (kCpuAvx2 or above: no limit) and starts a new generation.
void cpu_set_limit(uint32_t level);
// Counts the changes of the limit, so that tables know when to fill themselves again.
uint32_t cpu_generation();
// "plain", "sse2" or "avx2" to a level; false for anything else.
bool cpu_parse_level(const char* text, uint32_t* level);
const char* cpu_level_name(uint32_t level);
