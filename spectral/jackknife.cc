#include "spectral/jackknife.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

namespace quorvane::spectral {

namespace {

// 97.5 % points of Student's t with 1..7 degrees of freedom.
constexpr double kStudent975[7] = {12.706204736, 4.302652730, 3.182446305, 2.776445105,
                                   2.570581836, 2.446911851, 2.364624252};

}  // namespace

void jackknife_interval(const Eigencoefficients& y, std::span<const double> el, bool adaptive,
                        double sig2, std::span<const float> estimate, std::span<float> lower,
                        std::span<float> upper) {
  const int nwin = y.nwin;
  const std::size_t count = static_cast<std::size_t>(y.count);
  const std::size_t rest = static_cast<std::size_t>(nwin - 1);

  // ln S_k for every deleted taper k, at logs[k * count + i]; a zero
  // estimate is marked by a NaN and skipped below.
  std::vector<double> logs(static_cast<std::size_t>(nwin) * count);
  Eigencoefficients subset;
  std::vector<double> subset_el(rest);
  std::vector<float> partial(count);
  for (int k = 0; k < nwin; ++k) {
    subset.resize(y.count, nwin - 1);
    std::size_t column = 0;
    for (int j = 0; j < nwin; ++j) {
      if (j == k) continue;
      subset_el[column] = el[static_cast<std::size_t>(j)];
      for (int i = 0; i < y.count; ++i) {
        subset.yr[subset.at(i, static_cast<int>(column))] = y.yr[y.at(i, j)];
        subset.yi[subset.at(i, static_cast<int>(column))] = y.yi[y.at(i, j)];
      }
      ++column;
    }
    if (adaptive) {
      adwait(subset, subset_el, sig2, partial);
    } else {
      hires(subset, subset_el, partial);
    }
    double* row = logs.data() + static_cast<std::size_t>(k) * count;
    for (std::size_t i = 0; i < count; ++i) {
      row[i] = partial[i] > 0.0f ? std::log(static_cast<double>(partial[i])) : std::nan("");
    }
  }

  const double t = kStudent975[rest - 1];
  const double scale = static_cast<double>(nwin - 1) / nwin;
  for (std::size_t i = 0; i < count; ++i) {
    double mean = 0.0;
    bool defined = estimate[i] > 0.0f;
    for (int k = 0; k < nwin && defined; ++k) {
      const double value = logs[static_cast<std::size_t>(k) * count + i];
      defined = !std::isnan(value);
      mean += value;
    }
    if (!defined) {
      lower[i] = upper[i] = estimate[i];
      continue;
    }
    mean /= nwin;
    double spread = 0.0;
    for (int k = 0; k < nwin; ++k) {
      const double d = logs[static_cast<std::size_t>(k) * count + i] - mean;
      spread += d * d;
    }
    const double half = t * std::sqrt(scale * spread);
    const double centre = std::log(static_cast<double>(estimate[i]));
    lower[i] = static_cast<float>(std::exp(centre - half));
    // An upper end beyond single precision is kept at its largest value.
    upper[i] = static_cast<float>(std::min(std::exp(centre + half),
                                           static_cast<double>(std::numeric_limits<float>::max())));
  }
}

}  // namespace quorvane::spectral
