#include "spectral/sampling.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include "common/text.h"

namespace quorvane::spectral {

namespace {

// The shortest text that reads back as exactly `value`.
std::string shortest(double value) {
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : std::string("?");
}

}  // namespace

Status sampling_of(std::span<const double> time, Sampling& out, std::size_t* offending) {
  const std::size_t n = time.size();
  if (n < 2) return Status::failure("A series needs at least 2 times.");
  for (std::size_t j = 0; j < n; ++j) {
    if (!std::isfinite(time[j]))
      return Status::failure("Value " + std::to_string(j + 1) + " has the time " +
                             shortest(time[j]) + ", which is not a number.");
  }
  const bool decreasing = time[1] < time[0];
  const auto step_before = [&](std::size_t j) {
    return decreasing ? time[j - 1] - time[j] : time[j] - time[j - 1];
  };
  // The steps are held once, for the median; the class is then decided from
  // the times again.
  std::vector<double> steps(n - 1);
  for (std::size_t j = 1; j < n; ++j) {
    const double step = step_before(j);
    if (!(step > 0.0)) {
      if (offending != nullptr) *offending = j;
      const std::string which = "Value " + std::to_string(j + 1) + " has the time " +
                                shortest(time[j]) + " after " + shortest(time[j - 1]);
      return Status::failure(which + (step == 0.0 ? " (a repeated time)" : "") +
                             "; times must increase or decrease throughout.");
    }
    steps[j - 1] = step;
  }
  const auto middle = steps.begin() + static_cast<std::ptrdiff_t>((steps.size() - 1) / 2);
  std::nth_element(steps.begin(), middle, steps.end());
  const double median = *middle;
  steps = {};

  const double tolerance = kStepTolerance * median;
  bool even = true;
  bool on_grid = true;
  double largest_offset = 0.0;
  std::int64_t positions = 1;
  for (std::size_t j = 1; j < n; ++j) {
    const double step = step_before(j);
    const double multiple = std::max(1.0, std::round(step / median));
    const double offset = std::fabs(step - multiple * median);
    largest_offset = std::max(largest_offset, offset / median);
    if (std::fabs(step - median) > tolerance) even = false;
    // A grid beyond 2^53 positions could not be counted exactly, let alone
    // held: such steps are uneven.
    if (multiple > 0x1p53 || offset > tolerance ||
        static_cast<double>(positions) + multiple > 0x1p53)
      on_grid = false;
    if (on_grid) positions += static_cast<std::int64_t>(multiple);
  }
  // Steps that each lie within the tolerance can still add up: a record
  // whose step shrinks slowly down a core drifts off any one grid, and its
  // values would be analysed at places they were not taken. Every time must
  // lie within kDriftTolerance grid steps of its position on the grid from
  // the first time to the last; where one does not, the drift (in grid
  // steps) is the offset that decided.
  if ((even || on_grid) && positions > 1) {
    const double span = std::fabs(time[n - 1] - time[0]);
    const double grid_step = span / static_cast<double>(positions - 1);
    std::int64_t position = 0;
    double largest_drift = 0.0;
    for (std::size_t j = 1; j < n; ++j) {
      position += static_cast<std::int64_t>(std::max(1.0, std::round(step_before(j) / median)));
      const double expected = static_cast<double>(position) * grid_step;
      largest_drift =
          std::max(largest_drift, std::fabs(std::fabs(time[j] - time[0]) - expected) / grid_step);
    }
    if (largest_drift > kDriftTolerance) {
      even = false;
      on_grid = false;
      largest_offset = std::max(largest_offset, largest_drift);
    }
  }
  Sampling sampling;
  sampling.median_step = median;
  sampling.largest_offset = largest_offset;
  sampling.reversed = decreasing;
  if (even) {
    sampling.kind = SamplingClass::even;
  } else if (on_grid) {
    sampling.kind = SamplingClass::gaps;
    sampling.missing = positions - static_cast<std::int64_t>(n);
  } else {
    sampling.kind = SamplingClass::uneven;
  }
  out = sampling;
  return Status::success();
}

void grid_positions(std::span<const double> time, double step, std::vector<std::int64_t>& out) {
  out.resize(time.size());
  if (time.empty()) return;
  out[0] = 0;
  for (std::size_t j = 1; j < time.size(); ++j) {
    const double multiple = std::round((time[j] - time[j - 1]) / step);
    out[j] = out[j - 1] + std::max<std::int64_t>(1, static_cast<std::int64_t>(multiple));
  }
}

std::size_t interpolated_length(std::span<const double> time, double step) {
  if (time.size() < 2) return time.size();
  return static_cast<std::size_t>(std::llround((time.back() - time.front()) / step)) + 1;
}

void interpolate_to_step(std::span<const double> time, std::span<const float> y, double step,
                         std::vector<float>& out) {
  const std::size_t m = interpolated_length(time, step);
  out.resize(m);
  const std::size_t n = time.size();
  std::size_t k = 0;  // time[k] <= t < time[k + 1]
  for (std::size_t j = 0; j < m; ++j) {
    const double t = time.front() + static_cast<double>(j) * step;
    while (k + 2 < n && time[k + 1] <= t) ++k;
    if (t >= time[n - 1]) {
      out[j] = y[n - 1];
      continue;
    }
    const double w = (t - time[k]) / (time[k + 1] - time[k]);
    out[j] = static_cast<float>(static_cast<double>(y[k]) +
                                w * (static_cast<double>(y[k + 1]) - static_cast<double>(y[k])));
  }
}

void interpolate_at(std::span<const double> time, std::span<const float> y, double start,
                    double step, std::size_t m, std::vector<float>& out) {
  out.resize(m);
  const std::size_t n = time.size();
  std::size_t k = 0;  // time[k] <= t < time[k + 1]
  for (std::size_t j = 0; j < m; ++j) {
    const double t = start + static_cast<double>(j) * step;
    while (k + 2 < n && time[k + 1] <= t) ++k;
    const double w = std::clamp((t - time[k]) / (time[k + 1] - time[k]), 0.0, 1.0);
    out[j] = static_cast<float>(static_cast<double>(y[k]) +
                                w * (static_cast<double>(y[k + 1]) - static_cast<double>(y[k])));
  }
}

}  // namespace quorvane::spectral
