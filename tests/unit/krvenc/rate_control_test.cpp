// The rate controller against modelled encoders whose sizes follow the quality more or less
// steeply than the controller assumes, with frame-to-frame noise and costly key frames: the clip
// must come out within 10 % of its target.
#include <gtest/gtest.h>

#include <cmath>

#include "encode/rate_control.h"

namespace {

// Bits of frame i at quality q: the analysis sizes, scaled with the encoder's own slope.
struct ModelClip {
  std::vector<double> bits_at_50;
  double slope;
  double floor_bits;  // what a frame takes at the lowest quality at least
  double at(size_t i, double q) const {
    const double b = bits_at_50[i] * std::exp(slope * (q - 50));
    return b > floor_bits ? b : floor_bits;
  }
};

ModelClip model_clip(size_t n, double slope, uint32_t seed) {
  ModelClip c{{}, slope, 800};
  uint32_t s = seed;
  for (size_t i = 0; i < n; ++i) {
    s = s * 1664525u + 1013904223u;
    const double noise = 0.7 + 0.6 * double(s >> 8) / 16777216.0;
    c.bits_at_50.push_back((i % 50 == 0 ? 300000 : 40000) * noise * (i > n / 2 ? 2.5 : 1));
  }
  return c;
}

// Runs the coding pass over the clip; the bits it spent.
double code(const ModelClip& c, RateControl* rc) {
  double spent = 0;
  for (size_t i = 0; i < c.bits_at_50.size(); ++i) {
    const double b = c.at(i, rate_control_quality(rc));
    rate_control_coded(rc, b);
    spent += b;
  }
  return spent;
}

TEST(RateControl, LandsNearTheTargetWhateverTheSlope) {
  for (double slope : {0.03, 0.07, 0.12})
    for (double share : {0.1, 0.5, 1.0, 3.0}) {
      const ModelClip c = model_clip(120, slope, 7);
      double at_50 = 0;
      for (double b : c.bits_at_50) at_50 += b;
      // The analysis pass saw the clip at quality 40, with an encoder that was 30 % off.
      std::vector<double> analysis;
      for (size_t i = 0; i < c.bits_at_50.size(); ++i) analysis.push_back(1.3 * c.at(i, 40));
      RateControl rc;
      const double target = share * at_50;
      ASSERT_TRUE(rate_control_start(&rc, analysis, 40, target));
      const double spent = code(c, &rc);
      EXPECT_NEAR(spent, target, 0.1 * target) << "slope " << slope << " share " << share;
    }
}

TEST(RateControl, StopsAtTheEndsOfTheQualityScale) {
  const ModelClip c = model_clip(60, 0.07, 3);
  RateControl low;
  ASSERT_TRUE(rate_control_start(&low, c.bits_at_50, 50, 1000));  // below the floor of every frame
  code(c, &low);
  EXPECT_EQ(rate_control_quality(&low), low.lowest);
  RateControl high;
  ASSERT_TRUE(rate_control_start(&high, c.bits_at_50, 50, 1e15));
  code(c, &high);
  EXPECT_EQ(rate_control_quality(&high), high.highest);
  RateControl none;
  EXPECT_FALSE(rate_control_start(&none, {}, 50, 1000));
  EXPECT_FALSE(rate_control_start(&none, c.bits_at_50, 50, 0));
}

}  // namespace
