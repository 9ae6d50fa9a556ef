#include "spectral/fft.h"

#include <cmath>
#include <algorithm>
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
  // The twiddles of a stage are generated in order by the recurrence, a
  // chunk at a time, and each chunk is applied to every block of the stage.
  // The butterflies of a stage are independent, so this order, which walks
  // memory sequentially, gives exactly the values of the classic loop nest
  // (twiddle outer, blocks inner) with the same twiddle values.
  constexpr std::size_t chunk = 256;
  double twr[chunk], twi[chunk];
  for (int l = 1; l <= stages; ++l) {
    const std::size_t le = std::size_t{1} << l;
    const std::size_t le1 = le / 2;
    double ur = 1.0;
    double ui = 0.0;
    const double wr = std::cos(pi / static_cast<double>(le1));
    const double wi = std::sin(pi / static_cast<double>(le1));
    for (std::size_t j0 = 0; j0 < le1; j0 += chunk) {
      const std::size_t count = std::min(chunk, le1 - j0);
      for (std::size_t c = 0; c < count; ++c) {
        twr[c] = ur;
        twi[c] = ui;
        // The twiddle advances by the rotation recurrence (from the old
        // values), not from cosines taken one by one: its accumulated
        // rounding is part of the result.
        const double ur_old = ur;
        ur = ur_old * wr - ui * wi;
        ui = ur_old * wi + ui * wr;
      }
      for (std::size_t start = j0; start < nn; start += le) {
        double* ar = xr.data() + start;
        double* ai = xi.data() + start;
        double* br = ar + le1;
        double* bi = ai + le1;
        for (std::size_t c = 0; c < count; ++c) {
          const double tr = br[c] * twr[c] - bi[c] * twi[c];
          const double ti = br[c] * twi[c] + bi[c] * twr[c];
          br[c] = ar[c] - tr;
          bi[c] = ai[c] - ti;
          ar[c] += tr;
          ai[c] += ti;
        }
      }
    }
  }
}

}  // namespace quorvane::spectral
