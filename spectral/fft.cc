#include "spectral/fft.h"

#include <cmath>
#include <cstddef>
#include <utility>

namespace quorvane::spectral {

void fft2(std::span<double> xr, std::span<double> xi) {
  const std::size_t nn = xr.size();
  if (nn < 2) return;

  // Bit-reversal permutation. i and j count from 1 as in the classic
  // formulation; element i lives at index i - 1.
  std::size_t j = 1;
  for (std::size_t i = 1; i < nn; ++i) {
    if (i < j) {
      std::swap(xr[i - 1], xr[j - 1]);
      std::swap(xi[i - 1], xi[j - 1]);
    }
    std::size_t k = nn / 2;
    while (k < j) {
      j -= k;
      k /= 2;
    }
    j += k;
  }

  // The stage count uses 0.693147, a little below ln 2, so the quotient sits
  // just above the exact count for every power of two and truncates to it.
  const int stages = static_cast<int>(std::log(static_cast<double>(nn)) / 0.693147);
  constexpr double pi = 3.14159265358979;
  for (int l = 1; l <= stages; ++l) {
    const std::size_t le = std::size_t{1} << l;
    const std::size_t le1 = le / 2;
    double ur = 1.0;
    double ui = 0.0;
    const double wr = std::cos(pi / static_cast<double>(le1));
    const double wi = std::sin(pi / static_cast<double>(le1));
    for (std::size_t jj = 0; jj < le1; ++jj) {
      for (std::size_t i = jj; i < nn; i += le) {
        const std::size_t ip = i + le1;
        const double tr = xr[ip] * ur - xi[ip] * ui;
        const double ti = xr[ip] * ui + xi[ip] * ur;
        xr[ip] = xr[i] - tr;
        xi[ip] = xi[i] - ti;
        xr[i] += tr;
        xi[i] += ti;
      }
      // The twiddle advances by a rotation recurrence (from the old values),
      // not from a table: its accumulated rounding is part of the result.
      const double ur_old = ur;
      ur = ur_old * wr - ui * wi;
      ui = ur_old * wi + ui * wr;
    }
  }
}

}  // namespace quorvane::spectral
