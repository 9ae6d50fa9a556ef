#include "spectral/significance/band_wide.h"

#include <algorithm>
#include <cmath>

namespace quorvane::spectral {

double independent_frequencies(double width, double bandwidth) {
  if (!(bandwidth > 0.0) || !(width > 0.0)) return 1.0;
  return std::max(1.0, width / bandwidth);
}

// For an even number of degrees of freedom 2K the chi-square survival
// function is a finite sum: exp(-x/2) * sum_{j<K} (x/2)^j / j!, here with
// x/2 = K * ratio.
double ratio_exceedance(double ratio, int tapers) {
  if (!(ratio > 0.0)) return 1.0;
  const double half = static_cast<double>(tapers) * ratio;
  double term = 1.0, sum = 1.0;
  for (int j = 1; j < tapers; ++j) {
    term *= half / static_cast<double>(j);
    sum += term;
  }
  return std::min(1.0, std::exp(-half) * sum);
}

// F with 2 and 2K - 2 degrees of freedom: (1 + f / (K - 1))^-(K - 1).
double f_exceedance(double f, int tapers) {
  if (!(f > 0.0)) return 1.0;
  const double k1 = static_cast<double>(std::max(tapers - 1, 1));
  return std::exp(-k1 * std::log1p(f / k1));
}

double band_wide_chance(double p, double m) {
  if (!(p > 0.0)) return 0.0;
  if (p >= 1.0) return 1.0;
  return -std::expm1(m * std::log1p(-p));
}

double band_wide_ratio(double alpha, double m, int tapers) {
  // The chance at one frequency whose band-wide chance is alpha.
  const double single = -std::expm1(std::log1p(-alpha) / m);
  double low = 0.0, high = 1.0;
  while (ratio_exceedance(high, tapers) > single) high *= 2.0;
  while (high - low > 1e-12 * high) {
    const double middle = 0.5 * (low + high);
    (ratio_exceedance(middle, tapers) > single ? low : high) = middle;
  }
  return high;
}

}  // namespace quorvane::spectral
