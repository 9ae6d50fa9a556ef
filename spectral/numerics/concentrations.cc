#include "spectral/numerics/concentrations.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "spectral/numerics/fft.h"

namespace quorvane::spectral {

void taper_concentrations(int n, int nwin, float npi, std::span<const float> v,
                          std::span<double> el) {
  constexpr double pi = 3.14159265358979323846;
  const std::size_t un = static_cast<std::size_t>(n);
  // The same half-bandwidth as the tapers' own matrix.
  const double w = static_cast<double>(npi) / n;

  // Band-limiting kernel of lag m: 2 sin(2 pi W m) / (pi m) counts lags +m
  // and -m together; lag 0 counts once.
  std::vector<double> kernel(un);
  kernel[0] = 2.0 * w;
  for (std::size_t m = 1; m < un; ++m) {
    const double lag = static_cast<double>(m);
    kernel[m] = 2.0 * std::sin(2.0 * pi * w * lag) / (pi * lag);
  }

  // Zero padding to at least 2n keeps the circular autocorrelation free of
  // wrap-around.
  std::size_t length = 1;
  while (length < 2 * un) length *= 2;
  std::vector<double> re(length), im(length);
  for (int k = 0; k < nwin; ++k) {
    const float* taper = v.data() + static_cast<std::size_t>(k) * un;
    std::fill(re.begin(), re.end(), 0.0);
    std::fill(im.begin(), im.end(), 0.0);
    for (std::size_t t = 0; t < un; ++t) re[t] = static_cast<double>(taper[t]);
    fft2(re, im);
    // |X|^2 is real and even, so transforming it again with the same sign
    // gives length times the autocorrelation.
    for (std::size_t j = 0; j < length; ++j) {
      re[j] = re[j] * re[j] + im[j] * im[j];
      im[j] = 0.0;
    }
    fft2(re, im);
    double inside = 0.0;
    for (std::size_t m = 0; m < un; ++m) inside += kernel[m] * re[m];
    el[static_cast<std::size_t>(k)] = re[0] > 0.0 ? inside / re[0] : 0.0;
  }
}

}  // namespace quorvane::spectral
