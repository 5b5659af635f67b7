// The instruction-set limit: the level is the smaller of what the processor has and the limit,
// and names parse exactly.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/cpu.h"

namespace {

TEST(Cpu, LevelIsTheSmallerOfProcessorAndLimit) {
  const uint32_t detected = cpu_detected_level();
  ASSERT_LE(detected, uint32_t(kCpuAvx2));
#if defined(__x86_64__)
  EXPECT_GE(detected, uint32_t(kCpuSse2));  // every 64-bit x86 processor has SSE2
#endif
  struct Case {
    uint32_t limit, level_if_unlimited;
  };
  // A limit above the top level means none.
  const Case cases[] = {{kCpuPlain, kCpuPlain}, {kCpuSse2, kCpuSse2}, {kCpuAvx2, kCpuAvx2}, {7, kCpuAvx2}};
  for (const Case& c : cases) {
    cpu_set_limit(c.limit);
    EXPECT_EQ(cpu_level(), std::min(c.level_if_unlimited, detected)) << c.limit;
  }
  cpu_set_limit(kCpuAvx2);
}

TEST(Cpu, NamesParseExactly) {
  struct Case {
    const char* text;
    bool ok;
    uint32_t level;
  };
  const Case cases[] = {{"plain", true, kCpuPlain}, {"sse2", true, kCpuSse2}, {"avx2", true, kCpuAvx2},
                        {"", false, 0},           {"AVX2", false, 0},       {"sse", false, 0},
                        {"avx2 ", false, 0},      {"avx512", false, 0},     {nullptr, false, 0}};
  for (const Case& c : cases) {
    uint32_t level = 99;
    EXPECT_EQ(cpu_parse_level(c.text, &level), c.ok) << (c.text ? c.text : "(null)");
    EXPECT_EQ(level, c.ok ? c.level : 99u) << (c.text ? c.text : "(null)");
    if (c.ok) {
      EXPECT_STREQ(cpu_level_name(c.level), c.text);
    }
  }
}

}  // namespace
