// Rate control. A clip coded at one quality gives the most for its bits, so --bitrate looks for
// the one quality whose clip fits the target, by passes over the clip, each at one quality:
//  - the analysis pass codes the clip at a first guess and records each frame's size;
//  - the coding pass codes it at the quality that the clip's size model gives for the target.
//    The model is the analysis pass's sizes scaled by exp(slope × (A(Q) − A(analysis quality))),
//    A being the log of the inverse of the quality's lambda (sizes follow a power of lambda far
//    more closely than they follow the quality, whose lambda falls fifty-fold between 90 and 100).
//    After a share of the clip, the coding pass compares what its frames took with what the
//    same frames took in the analysis pass, key frames and inter frames apart (rate_forecast):
//    when that foretells a clip off by more than a few per cent, each kind's slope is refitted
//    to the two passes (a secant through their sizes) and the coding
//    pass starts again at the quality that gives (at most twice, so that the whole stays within
//    a few passes' time). The analysis pass is kept as the movie when it already fits.
//  - within the coding pass the quality holds while the clip is expected within a dead band;
//    beyond it, the model's recent error corrects the rest, the quality moving at most a few
//    steps a frame, and near the end a miss is spread as if a share of the clip were still to
//    come.
#pragma once
#include <cstdint>
#include <vector>

struct RateFrame {
  double bits = 0;      // what the frame took in the analysis pass
  double quality = 50;  // at this quality
  double slope = 0.5;   // d ln(bits) / d A(quality), for the whole clip
};

constexpr double kRateSlopeLowest = 0.05, kRateSlopeHighest = 2;

struct RateControl {
  std::vector<RateFrame> frames;
  double target_bits = 0;     // the whole clip's budget
  double spent = 0;           // bits of the frames coded so far
  double recent_spent = 0, recent_modelled = 0;  // spent and modelled, each frame's weight
  double memory = 0.97;                          // falling by this factor with every frame after it
  double dead_band = 0.04;    // the quality holds while the clip is expected within this share
  double dead_band_under = 0.015;  // above the target, or this share below it (both twice that
                                   // near the end): a budget is there to be spent
  double horizon = 0.4;       // a miss is spread over at least this share of the clip
  uint32_t hold_until = 0;    // the quality holds until this frame, whatever the model says
  double quality = 50;        // the quality of the frame about to be coded
  double lowest = -100, highest = 100;
  double max_step = 6;        // quality change a frame, at most
  uint32_t next = 0;          // the frame about to be coded
};

// Starts the coding pass. False when there are no frames or the target is not positive.
bool rate_control_start(RateControl* rc, const std::vector<RateFrame>& frames, double target_bits);
// The quality for the next frame.
double rate_control_quality(const RateControl* rc);
// Records the bits the next frame took and moves on.
void rate_control_coded(RateControl* rc, double bits);

// The model's scale: A(quality) = −ln(lambda), with quality 100 (exact) a step above 99.8.
double rate_control_scale(double quality);
// The quality whose scale is a (clamped to the controller's range).
double rate_control_quality_at(double a);
// The slope of a secant: the clip took bits1 at quality q1 and bits2 at q2 (the fallback when the
// qualities are too close to tell; kept within the range above).
double rate_control_secant(double q1, double bits1, double q2, double bits2, double fallback);

// The quality at which a clip whose frames took `bits` bits at `quality` is expected to take
// `target` bits, along the model's scale with the given slope.
double rate_control_guess(double bits, double quality, double target, double slope = RateFrame().slope);

// Forecasts from the first frames of a pass. Key frames and inter frames grow differently with
// the quality (a fade coded as key frames grows far less than the moving frames after it), so
// each kind is foretold from its own frames: kind k's share of the analysis pass, scaled by what
// its frames took in this pass against the same frames in the analysis pass. A kind whose
// checked frames took too little of its share to tell borrows the ratio of all the checked frames.
constexpr uint8_t kRateInter = 0, kRateKey = 1;
constexpr int kRateKinds = 2;
struct RateForecast {
  double total = 0;                // the clip, foretold
  double kind[kRateKinds] = {};    // each kind of frame, foretold
};

// The number of frames a pass must code before its forecast is worth making: those that took a
// sixth of the analysis pass's bits, and a sixth of the bits of every kind that took a quarter of
// them or more (at least 3 frames; at most all of them).
uint32_t rate_forecast_frames(const double* analysis, const uint8_t* kinds, uint32_t n);
// The forecast after `done` frames took `now[0..done)` bits; `analysis` and `kinds` hold all n
// frames of the analysis pass. False when nothing can be told (no frames, or none took bits).
bool rate_forecast(const double* analysis, const uint8_t* kinds, uint32_t n, const double* now, uint32_t done,
                   RateForecast* out);
