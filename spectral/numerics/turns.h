// The cosine and sine of whole turns: cos and sin of 2 pi x for x in
// [0, 1), for the loops that take one of each of many points or
// frequencies (the phases of a non-uniform transform's points, a model
// curve over a band).
#pragma once

#include <span>

namespace quorvane::spectral {

// re[j] (x in [0, 1)) becomes cos(2 pi x) and im[j] sin(2 pi x), to some
// 1e-15, the same values on every processor; re and im of one size.
void turns(std::span<double> re, std::span<double> im);

}  // namespace quorvane::spectral
