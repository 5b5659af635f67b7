// The instruction-set families the fast paths may use. The processor says what it has; the
// environment variable KORVA_CPU (plain, sse2, avx2), read once, or cpu_set_limit (a tool's
// --cpu, the tests) limits it. Function tables (a movie's converters, an audio decoder's
// functions, a video decoder's inverse transforms) are filled from cpu_level() when their owner
// is made; a later limit applies to the tables filled after it.
#pragma once
#include <cstdint>

enum CpuLevel : uint32_t { kCpuPlain = 0, kCpuSse2 = 1, kCpuAvx2 = 2 };

// What the processor (and the build) can run.
uint32_t cpu_detected_level();
// min(detected, limit).
uint32_t cpu_level();
// Sets the limit (kCpuAvx2 or above: no limit) for the function tables filled from now on.
void cpu_set_limit(uint32_t level);
// "plain", "sse2" or "avx2" to a level; false for anything else.
bool cpu_parse_level(const char* text, uint32_t* level);
const char* cpu_level_name(uint32_t level);
