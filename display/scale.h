// Rounded value-axis scaling for the result plots.
#pragma once

#include <optional>

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

// Whether a tick step is one significant digit times a power of ten (1, 2,
// 3, 4, 5, 6, 8 or 10 times one), within the rounding of scale's single
// precision step.
bool one_digit_step(float step);

// The axis of scale with ten tick marks (nine intervals) where its step has
// one significant digit; otherwise, of the axes of scale with six to twelve
// intervals whose step has one significant digit and which cover smin..smax,
// the narrowest (of equal ones, the one nearest nine intervals), with its
// step and bounds recomputed from the exact one-digit step. PLplot
// labels ticks with only the decimals that the step's leading digit needs,
// so a step of 1.2 would be labelled 0, 1, 2, 4, 5 and one of 0.12e6 (a
// record of a million values) 0.1, 0.2, 0.4: every label is the tick's true
// value only with a one-digit step.
//
// A whole-number step on an axis whose values stay below 10^4 is kept as
// scale gives it (PLplot writes such labels in full, 0, 25, 50, ...).
// Returns and refuses exactly as scale(smin, smax, 10, ...) does; where no
// interval count gives a one-digit step (none is known for a range that
// starts at zero, as elapsed times do), the nine-interval axis is returned.
int one_digit_scale(float smin, float smax, float& sstart, float& sstep, float& send);

// How PLplot writes the numeric labels of an axis over the window lo..hi
// with major ticks `step` apart: the labels are the tick values divided by
// 10^exponent (PLplot writes "(x10^exponent)" beside an axis whose labels
// would take more than four digits, or too many leading zeros), with
// `decimals` digits after the point. The exponent is PLplot's own choice
// (pldprec, for its default of four digits); PLplot's decimals come from the
// step's leading digit alone, so that a step of 0.25 would be labelled 0.3,
// 0.5, 0.8 and one of 1.2 labelled 1, 2, 4. These decimals are those the
// whole step needs, up to four significant digits of it: 0.25 gives 0.25,
// 0.50, 0.75. A step of one significant digit keeps PLplot's decimals.
// Returns nothing for a step that is not finite and above zero (PLplot
// chooses the ticks and their labels) or a window that is not finite.
struct LabelFormat {
  int exponent = 0;
  int decimals = 0;
};
std::optional<LabelFormat> label_format(double lo, double hi, double step);

}  // namespace quorvane::display
