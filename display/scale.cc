#include "display/scale.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>

namespace quorvane::display {

namespace {
// The rounded mantissas a tick step may take.
constexpr float UNIT[] = {1.0f, 1.2f, 1.6f, 2.0f, 2.5f, 3.0f, 4.0f, 5.0f, 6.0f, 8.0f, 10.0f};
// Relative range below which the data count as constant.
constexpr float TOL = 5.0e-6f;
// Slack for rounding when comparing mantissas and truncating the start.
constexpr float BIAS = 1.0e-4f;
}  // namespace

int scale(float smin, float smax, int ntick, float& sstart, float& sstep, float& send) {
  float lo = smin;
  float hi = smax;
  if (!(lo <= hi) || ntick < 2) return 1;  // also refuses NaN
  const int m = ntick - 1;

  const float a = hi == 0.0f ? 1.0f : std::fabs(hi);
  if ((hi - lo) / a <= TOL) {
    if (hi < 0.0f) {
      hi = 0.0f;
    } else if (hi == 0.0f) {
      hi = 1.0f;
    } else {
      lo = 0.0f;
    }
  }

  const float d = (hi - lo) / static_cast<float>(m);
  // An infinite range, or one so narrow that its step underflows to zero,
  // has no power of ten to round to (the mantissa loops would not end).
  if (!(d > 0.0f) || !std::isfinite(d)) return 1;
  float u = d;
  while (u < 1.0f) u *= 10.0f;
  while (u >= 10.0f) u /= 10.0f;
  float unit = UNIT[10];
  for (float candidate : UNIT) {
    if (u - BIAS <= candidate) {
      unit = candidate;
      break;
    }
  }

  const float step = d * unit / u;
  const float span = step * static_cast<float>(m);
  if (!std::isfinite(span)) return 1;
  const float q = ((hi + lo - span) / step + 1.0f) * 0.5f;
  int k = static_cast<int>(q - BIAS);
  if (q < 0.0f) k -= 1;
  float start = static_cast<float>(k) * step;
  if (lo >= 0.0f && span >= hi) start = 0.0f;
  float end = start + span;
  if (hi <= 0.0f && span >= -lo) {
    start = -span;
    end = 0.0f;
  }
  sstart = start;
  sstep = step;
  send = end;
  return 0;
}

bool one_digit_step(float step) {
  const double mantissa = step / std::pow(10.0, std::floor(std::log10(step)));
  return std::fabs(mantissa - std::round(mantissa)) < 1e-3;
}

int one_digit_scale(float smin, float smax, float& sstart, float& sstep, float& send) {
  float start = 0.0f, step = 0.0f, end = 0.0f;
  if (scale(smin, smax, 10, start, step, end) != 0) return 1;
  // A whole-number step on an axis PLplot labels without a power of ten
  // (its labels stay below 10^4) is labelled exactly whatever its digits:
  // 0, 25, 50, ... stays.
  const bool exact_labels =
      step == std::round(step) && std::max(std::fabs(start), std::fabs(end)) < 1e4f;
  if (!one_digit_step(step) && !exact_labels) {
    // Interval counts in order of nearness to nine; with the strict
    // comparison an equally narrow window keeps the nearer count.
    float best_span = std::numeric_limits<float>::infinity();
    for (int intervals : {10, 8, 11, 7, 12, 6}) {
      float s = 0.0f, t = 0.0f, e = 0.0f;
      if (scale(smin, smax, intervals + 1, s, t, e) != 0) continue;
      if (!one_digit_step(t)) continue;
      // scale's step carries single-precision rounding (99999.99 for
      // 100000), which PLplot would show as a further decimal in every label.
      const double exponent = std::pow(10.0, std::floor(std::log10(t) + 1e-4));
      const float exact = static_cast<float>(std::round(t / exponent) * exponent);
      s = static_cast<float>(std::round(s / t)) * exact;
      e = s + static_cast<float>(intervals) * exact;
      t = exact;
      if (s > smin || e < smax || !(e - s < best_span)) continue;
      best_span = e - s;
      start = s;
      step = t;
      end = e;
    }
  }
  sstart = start;
  sstep = step;
  send = end;
  return 0;
}

std::optional<LabelFormat> label_format(double lo, double hi, double step) {
  if (!(step > 0.0) || !std::isfinite(step) || !std::isfinite(lo) || !std::isfinite(hi))
    return std::nullopt;
  // PLplot's default most digits of a label, and the slack by which plwind
  // widens the window on both sides.
  constexpr int kDigits = 4;
  const double margin = (hi - lo) * 1.0e-5;
  const double vmin = std::min(lo, hi) - std::fabs(margin);
  const double vmax = std::max(lo, hi) + std::fabs(margin);
  const auto leading = [](double v) {
    return static_cast<int>(std::floor(std::log10(std::fabs(v))));
  };
  // The exponent as pldprec chooses it: from the bound of larger magnitude,
  // the width of its label (with a leading "0." below one, and a sign) and
  // the decimals that the step's leading digit needs.
  const bool top = std::fabs(vmax) >= std::fabs(vmin);
  const double chosen = top ? vmax : vmin;
  const double other = top ? vmin : vmax;
  const int msd = chosen != 0.0 ? leading(chosen) : 0;
  const int other_msd = other != 0.0 ? leading(other) : msd;
  int width = msd >= 0 ? msd + 1 : -msd + 2;
  if (chosen < 0.0 || (other < 0.0 && (other_msd == msd || msd <= 0))) ++width;
  const int step_msd = leading(step);
  const bool scaled = width > kDigits || (chosen != 0.0 && std::fabs(chosen) < 1.0 &&
                                          std::max(-step_msd, 0) > kDigits - 2);
  LabelFormat format;
  format.exponent = scaled ? msd : 0;
  // The further significant digits of the step, within the rounding of a
  // single-precision step (0.12f is 0.1199999973).
  const double mantissa = step / std::pow(10.0, step_msd);
  int further = 0;
  while (further < 3) {
    const double shift = std::pow(10.0, further);
    if (std::fabs(mantissa - std::round(mantissa * shift) / shift) < 1.0e-3) break;
    ++further;
  }
  format.decimals = std::max(format.exponent - (step_msd - further), 0);
  return format;
}

}  // namespace quorvane::display
