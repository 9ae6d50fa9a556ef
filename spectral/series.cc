#include "spectral/series.h"

#include <cmath>
#include <string>

namespace quorvane::spectral {

Status check_series(std::span<const float> y, std::size_t count, SeriesLength length) {
  if (y.size() < count || (length == SeriesLength::exactly && y.size() != count)) {
    return Status::failure("The series holds " + std::to_string(y.size()) + " values, not " +
                           std::to_string(count) + ".");
  }
  for (std::size_t t = 0; t < count; ++t) {
    if (!std::isfinite(y[t])) {
      return Status::failure("Value " + std::to_string(t + 1) +
                             " of the series is not a finite number.");
    }
  }
  return Status::success();
}

float series_mean(std::span<const float> y) {
  float total = 0.0f;
  for (float value : y) total += value;
  return total / static_cast<float>(y.size());
}

void demean(std::span<const float> y, std::span<float> out) {
  const float mean = series_mean(y);
  for (std::size_t t = 0; t < y.size(); ++t) out[t] = y[t] - mean;
}

double sum_of_squares(std::span<const float> x) {
  double total = 0.0;
  for (float value : x) total += static_cast<double>(value * value);
  return total;
}

float series_variance(std::span<const float> x, std::size_t count) {
  float total = 0.0f;
  for (float value : x) total += value * value;
  return total / static_cast<float>(count);
}

}  // namespace quorvane::spectral
