#include "encode/rate_control.h"

#include <cmath>

#include "encode/encoder.h"

namespace {

double rc_clamp(double v, double lo, double hi) { return v < lo ? lo : v > hi ? hi : v; }

constexpr double kTop = 99.8;  // lambda stops falling here; 100 is exact

// The modelled size of frame f at the quality whose scale is a.
double rc_model(const RateFrame& f, double a) {
  return (f.bits > 1 ? f.bits : 1) * std::exp(f.slope * (a - rate_control_scale(f.quality)));
}

// The modelled size at quality q of the frames left (or, with `all`, of the whole clip).
double rc_rest(const RateControl* rc, double q, bool all = false) {
  const double a = rate_control_scale(q);
  double sum = 0;
  for (size_t i = all ? 0 : rc->next; i < rc->frames.size(); ++i) sum += rc_model(rc->frames[i], a);
  return sum;
}

// The quality at which the frames left fit the budget left; *miss receives by how much (a share
// of the target) the clip would miss it at the present quality.
double rc_solve(const RateControl* rc, double* miss = nullptr) {
  const double left = rc->target_bits - rc->spent;
  // The model's recent error, taken with a prior that the model is right (a tenth of the clip,
  // from one to 25 average frames), so that a few odd frames do not swing the rest.
  const double n = double(rc->frames.size());
  const double prior = rc_rest(rc, rc->quality, true) / n * rc_clamp(0.1 * n, 1, 25);
  const double ratio = (rc->recent_spent + prior) / (rc->recent_modelled + prior);
  const double now = ratio * rc_rest(rc, rc->quality);
  if (miss) *miss = (rc->spent + now - rc->target_bits) / rc->target_bits;
  // Near the end, a share of the clip that is not there yet, as costly as the frames left.
  const double horizon = rc->horizon * ratio * rc_rest(rc, rc->quality, true);
  const double extra = horizon > now ? horizon - now : 0;
  const double budget = left + extra;
  const double scale = now > 0 ? 1 + extra / now : 1;
  if (budget <= 0) return rc->lowest;
  auto cost = [&](double q) { return ratio * rc_rest(rc, q) * scale; };
  if (cost(rc->lowest) >= budget) return rc->lowest;
  if (cost(rc->highest) <= budget) return rc->highest;
  double lo = rc->lowest, hi = rc->highest;
  for (int i = 0; i < 40; ++i) {
    const double mid = 0.5 * (lo + hi);
    (cost(mid) > budget ? hi : lo) = mid;
  }
  return lo;
}

}  // namespace

double rate_control_scale(double quality) {
  return -std::log(encoder_lambda_of_quality(quality < kTop ? quality : kTop)) + (quality >= 100 ? 1.4 : 0);
}

double rate_control_quality_at(double a) {
  if (a >= rate_control_scale(100)) return 100;
  if (a >= rate_control_scale(kTop)) return kTop;
  double lo = kEncoderLowestQuality, hi = kTop;
  if (a <= rate_control_scale(lo)) return lo;
  for (int i = 0; i < 40; ++i) {
    const double mid = 0.5 * (lo + hi);
    (rate_control_scale(mid) < a ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

double rate_control_secant(double q1, double bits1, double q2, double bits2, double fallback) {
  const double da = rate_control_scale(q2) - rate_control_scale(q1);
  if (!(bits1 > 0) || !(bits2 > 0) || std::fabs(da) < 0.05) return fallback;
  return rc_clamp(std::log(bits2 / bits1) / da, kRateSlopeLowest, kRateSlopeHighest);
}

double rate_control_guess(double bits, double quality, double target, double slope) {
  if (bits <= 0 || target <= 0) return quality;
  return rate_control_quality_at(rate_control_scale(quality) + std::log(target / bits) / slope);
}

bool rate_control_start(RateControl* rc, const std::vector<RateFrame>& frames, double target_bits) {
  if (frames.empty() || !(target_bits > 0)) return false;
  rc->frames = frames;
  rc->target_bits = target_bits;
  rc->spent = rc->recent_spent = rc->recent_modelled = 0;
  rc->next = 0;
  rc->quality = rc_clamp(rc_solve(rc), rc->lowest, rc->highest);
  return true;
}

double rate_control_quality(const RateControl* rc) { return rc->quality; }

void rate_control_coded(RateControl* rc, double bits) {
  if (rc->next >= rc->frames.size()) return;
  const double m = rc_model(rc->frames[rc->next], rate_control_scale(rc->quality));
  rc->spent += bits;
  rc->recent_spent = rc->recent_spent * rc->memory + bits;
  rc->recent_modelled = rc->recent_modelled * rc->memory + m;
  rc->next += 1;
  if (rc->next >= rc->frames.size() || rc->next < rc->hold_until) return;
  // Long clips are solved again only every so many frames (each solve goes over all of them).
  const uint32_t every = uint32_t(rc->frames.size() / 2000) + 1;
  if (rc->next % every) return;
  double miss;
  const double want = rc_solve(rc, &miss);
  // The band widens towards the end, where what is left can mend a miss only by a large change.
  const double done = double(rc->next) / double(rc->frames.size());
  if (miss > -rc->dead_band_under * (1 + done) && miss < rc->dead_band * (1 + done)) return;
  const double step = rc_clamp(want - rc->quality, -rc->max_step, rc->max_step);
  rc->quality = rc_clamp(rc->quality + step, rc->lowest, rc->highest);
}

uint32_t rate_forecast_frames(const double* analysis, const uint8_t* kinds, uint32_t n) {
  double all = 0, of[kRateKinds] = {};
  for (uint32_t i = 0; i < n; ++i) {
    all += analysis[i];
    of[kinds[i] < kRateKinds ? int(kinds[i]) : int(kRateInter)] += analysis[i];
  }
  double upto = 0, upto_of[kRateKinds] = {};
  uint32_t at = 0;
  auto enough = [&] {
    if (upto < all / 6) return false;
    for (int k = 0; k < kRateKinds; ++k)
      if (of[k] >= all / 4 && upto_of[k] < of[k] / 6) return false;
    return true;
  };
  while (at < n && !enough()) {
    upto += analysis[at];
    upto_of[kinds[at] < kRateKinds ? int(kinds[at]) : int(kRateInter)] += analysis[at];
    ++at;
  }
  return at < 3 ? (n < 3 ? n : 3) : at;
}

bool rate_forecast(const double* analysis, const uint8_t* kinds, uint32_t n, const double* now, uint32_t done,
                   RateForecast* out) {
  *out = RateForecast();
  if (!n || !done || done > n) return false;
  double of[kRateKinds] = {}, before[kRateKinds] = {}, after[kRateKinds] = {};
  double before_all = 0, after_all = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const int k = kinds[i] < kRateKinds ? int(kinds[i]) : int(kRateInter);
    of[k] += analysis[i];
    if (i < done) {
      before[k] += analysis[i];
      after[k] += now[i];
    }
  }
  for (int k = 0; k < kRateKinds; ++k) {
    before_all += before[k];
    after_all += after[k];
  }
  if (!(before_all > 0) || !(after_all > 0)) return false;
  const double pooled = after_all / before_all;
  for (int k = 0; k < kRateKinds; ++k) {
    // A tenth of the kind's bits (or a sixth of what was checked) is enough to tell.
    const bool told = before[k] > 0 && after[k] > 0 && (before[k] >= of[k] / 10 || before[k] >= before_all / 6);
    out->kind[k] = of[k] * (told ? after[k] / before[k] : pooled);
    out->total += out->kind[k];
  }
  return true;
}
