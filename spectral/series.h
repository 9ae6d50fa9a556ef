// The values of one record as every estimator takes them: checked, less
// their mean, and their sums of squares, all formed in the same precision
// and order wherever a spectrum is taken.
#pragma once

#include <cstddef>
#include <span>

#include "common/status.h"

namespace quorvane::spectral {

// How many values a run may be given: at least the count it analyses (the
// rest is ignored), or exactly that many.
enum class SeriesLength { at_least, exactly };

// Refuses values that are fewer than count (or, with exactly, of another
// number) and a value among the first count that is not a finite number.
// The message names the numbers or the 1-based place of the value.
Status check_series(std::span<const float> y, std::size_t count, SeriesLength length);

// The mean of the values, summed in order in single precision and divided
// by their number. Requires at least one value.
float series_mean(std::span<const float> y);

// out[t] = y[t] - series_mean(y), in single precision; out must hold
// y.size() values.
void demean(std::span<const float> y, std::span<float> out);

// The sum of the squares of the values, each square in single precision,
// their sum in double (the variance scale of the adaptive estimate).
double sum_of_squares(std::span<const float> x);

// The variance of demeaned values: their squares summed in order in single
// precision and divided by count (the number of values the zeros of a grid
// position without a sample do not count towards).
float series_variance(std::span<const float> x, std::size_t count);

}  // namespace quorvane::spectral
