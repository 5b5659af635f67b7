#include "encode/rate_control.h"

#include <cmath>

namespace {

double rc_clamp(double v, double lo, double hi) { return v < lo ? lo : v > hi ? hi : v; }

// The quality whose modelled size of frames `from` to the end fits the budget left.
double rc_solve(const RateControl* rc, uint32_t from) {
  const double left = rc->target_bits - rc->spent;
  const double rest = rc->rest_bits[from];
  if (left <= 0) return rc->lowest;
  if (rest <= 0) return rc->highest;
  // The model's recent error (the frames coded lately count most, since the clip's nature moves
  // on), taken with a prior of one average frame that the model is right, so that one odd frame
  // does not swing the rest.
  const double prior = rc->rest_bits[0] / double(rc->analysis_bits.size());
  const double ratio = (rc->recent_spent + prior) / (rc->recent_modelled + prior);
  return rc->analysis_quality + std::log(left / (ratio * rest)) / rc->slope;
}

}  // namespace

double rate_control_guess(double bits, double quality, double target, double slope) {
  if (bits <= 0 || target <= 0) return quality;
  return rc_clamp(quality + std::log(target / bits) / slope, -100, 100);
}

bool rate_control_start(RateControl* rc, const std::vector<double>& analysis_bits, double analysis_quality,
                        double target_bits) {
  if (analysis_bits.empty() || !(target_bits > 0)) return false;
  rc->analysis_bits = analysis_bits;
  rc->rest_bits.assign(analysis_bits.size() + 1, 0);
  for (size_t i = analysis_bits.size(); i-- > 0;)
    rc->rest_bits[i] = rc->rest_bits[i + 1] + (analysis_bits[i] > 1 ? analysis_bits[i] : 1);
  rc->analysis_quality = analysis_quality;
  rc->target_bits = target_bits;
  rc->spent = rc->modelled = rc->recent_spent = rc->recent_modelled = 0;
  rc->next = 0;
  rc->quality = rc_clamp(rc_solve(rc, 0), rc->lowest, rc->highest);
  return true;
}

double rate_control_quality(const RateControl* rc) { return rc->quality; }

void rate_control_coded(RateControl* rc, double bits) {
  if (rc->next >= rc->analysis_bits.size()) return;
  const double a = rc->analysis_bits[rc->next] > 1 ? rc->analysis_bits[rc->next] : 1;
  const double m = a * std::exp(rc->slope * (rc->quality - rc->analysis_quality));
  rc->spent += bits;
  rc->modelled += m;
  rc->recent_spent = rc->recent_spent * rc->memory + bits;
  rc->recent_modelled = rc->recent_modelled * rc->memory + m;
  rc->next += 1;
  if (rc->next >= rc->analysis_bits.size()) return;
  const double want = rc_solve(rc, rc->next);
  const double step = rc_clamp(want - rc->quality, -rc->max_step, rc->max_step);
  rc->quality = rc_clamp(rc->quality + step, rc->lowest, rc->highest);
}
