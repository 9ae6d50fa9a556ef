// Exact concentrations of computed Slepian tapers.
#pragma once

#include <span>

namespace quorvane::spectral {

// The concentration of each taper: the fraction of its energy inside the
// band |f| <= W, W = npi / n cycles per sample, as the Rayleigh quotient
//   lambda = v' A v / v' v,  A(s, t) = sin(2 pi W (s - t)) / (pi (s - t)),
//   A(t, t) = 2 W,
// of the concentration matrix A whose eigenvectors the tapers are.
// v holds nwin tapers of n values (taper k at v[k * n]); el receives nwin
// values in (0, 1]. Nothing is refused: requires n >= 1, 1 <= nwin,
// v.size() >= n * nwin, el.size() >= nwin.
//
// The quotient is evaluated in double precision from the autocorrelation of
// each taper (a zero-padded transform of length >= 2n), so the cost is
// O(n log n) per taper. Being a Rayleigh quotient it is stationary at an
// eigenvector: the single-precision rounding of the stored tapers moves it
// only by the square of that rounding, far below 1e-6.
void taper_concentrations(int n, int nwin, float npi, std::span<const float> v,
                          std::span<double> el);

}  // namespace quorvane::spectral
