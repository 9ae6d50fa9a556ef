// Rounded value-axis scaling for the result plots.
#pragma once

namespace quorvane::display {

// Chooses a rounded axis for the data range smin..smax with `ntick` tick
// marks: a start value `sstart`, a tick step `sstep` (1, 1.2, 1.6, 2, 2.5, 3,
// 4, 5, 6, 8 or 10 times a power of ten) and `send` = sstart + (ntick-1)*sstep,
// so that the axis covers the data. A range that does not start below zero
// starts at zero whenever the span reaches its top; a range that does not end
// above zero likewise ends at zero. A (nearly) constant range is widened to
// reach zero (or to 0..1 for all zeros).
//
// Returns 0 on success. With smin > smax or ntick < 2 returns 1 and leaves
// sstart, sstep and send untouched; so does a range that has no finite,
// non-zero step (a bound that is NaN or infinite, a span that overflows, or
// one so narrow that the step underflows to zero). All arithmetic is single
// precision.
int scale(float smin, float smax, int ntick, float& sstart, float& sstep, float& send);

}  // namespace quorvane::display
