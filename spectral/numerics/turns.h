// The cosine and sine of whole turns: cos and sin of 2 pi x for x in
// [0, 1), for the loops that take one of each of many points or
// frequencies (the phases of a non-uniform transform's points, a model
// curve over a band).
#pragma once

#include <cmath>
#include <cstdint>
#include <span>

namespace quorvane::spectral {

// re[j] (x in [0, 1)) becomes cos(2 pi x) and im[j] sin(2 pi x), to some
// 1e-15, the same values on every processor; re and im of one size.
void turns(std::span<double> re, std::span<double> im);

// floor(x), exactly, without the library call a processor with no rounding
// instruction needs: beyond 2^52 every double is a whole number.
inline double whole_floor(double x) {
  if (!(std::fabs(x) < 0x1p52)) return x;
  const double t = static_cast<double>(static_cast<std::int64_t>(x));
  return t > x ? t - 1.0 : t;
}

// The fractional part of x, in [0, 1): the part of a turn that x turns is.
inline double fraction(double x) {
  const double f = x - whole_floor(x);
  return f < 1.0 ? f : 0.0;
}

}  // namespace quorvane::spectral
