// Rate control over two passes: an analysis pass codes the clip at one quality and records each
// frame's size; the coding pass then picks each frame's quality so that the whole clip comes out
// at the target size. The model is the analysis pass's sizes scaled by exp(slope × (quality −
// analysis quality)), corrected by the ratio of what the coded frames actually took to what the
// model said they would; the quality of the frames left is the one whose modelled size fits the
// budget left, changed by at most a few steps a frame so that the picture does not pulse.
#pragma once
#include <cstdint>
#include <vector>

struct RateControl {
  std::vector<double> analysis_bits;  // each frame's bits at `analysis_quality`
  std::vector<double> rest_bits;      // sums of analysis_bits from frame i to the end
  double analysis_quality = 50;
  double slope = 0.07;        // d ln(bits) / d quality
  double target_bits = 0;     // the whole clip's budget
  double spent = 0;           // bits of the frames coded so far
  double modelled = 0;        // what the model gave for those frames
  double recent_spent = 0, recent_modelled = 0;  // the same, each frame's weight falling by
  double memory = 0.7;                           // this factor with every frame after it
  double quality = 50;        // the quality of the frame about to be coded
  double lowest = -100, highest = 100;
  double max_step = 6;        // quality change a frame, at most
  uint32_t next = 0;          // the frame about to be coded
};

// Starts the coding pass. False when there are no frames or the target is not positive.
bool rate_control_start(RateControl* rc, const std::vector<double>& analysis_bits, double analysis_quality,
                        double target_bits);
// The quality for the next frame.
double rate_control_quality(const RateControl* rc);
// Records the bits the next frame took and moves on.
void rate_control_coded(RateControl* rc, double bits);

// The quality at which a clip whose frames took `bits` bits at `quality` is expected to take
// `target` bits (the model's slope; clamped to the controller's range).
double rate_control_guess(double bits, double quality, double target, double slope = 0.07);
