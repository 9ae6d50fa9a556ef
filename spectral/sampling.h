// The sampling of a series: whether its times are evenly spaced, lie on a
// regular grid with samples missing, or are unevenly spaced; and the two
// ways of bringing a series onto a regular grid (its grid positions, and
// linear interpolation to its median step).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/status.h"

namespace quorvane::spectral {

enum class SamplingClass { even, gaps, uneven };

struct Sampling {
  SamplingClass kind = SamplingClass::even;
  double median_step = 0.0;  // median of the steps between neighbouring times (positive)
  std::int64_t missing = 0;  // gaps: samples missing on the grid of the median step
  bool reversed = false;     // the times decrease throughout (ages before present)
  // What the class was decided on: the largest distance of a step from the
  // nearest whole number (at least 1) of median steps, in median steps; or,
  // for a record whose times drift off their grid, the largest distance of
  // a time from its position on it, in grid steps.
  double largest_offset = 0.0;
};

// How far a step may lie from a whole number of median steps, in median
// steps, and still count as that many steps; the same for a gap of any
// length. Calendar dates need this much: months in days step by 28 to 31
// days (the median is 31, so February lies 0.097 steps off), and weeks as
// decimal years are 0.27 % longer in leap years, which a gap of n weeks
// gathers n times (0.05 steps for a 19-week gap). Jitter of this size moves
// no value by more than a tenth of its step, which changes a spectrum far
// less than treating the record as uneven would.
inline constexpr double kStepTolerance = 0.1;

// How far a time may lie from its position on the grid that runs from the
// first time to the last, in grid steps: a record whose steps drift further
// (a core whose sampling shrinks down-core) is uneven however small each
// step's offset. Calendar dates stay well inside it: dates as decimal years
// lie up to three quarters of a day off a grid of 365.25-day years, which a
// daily record sees as 0.75 steps and coarser records as less.
inline constexpr double kDriftTolerance = 1.0;

// The class of the times time[0..n-1] (n >= 2), in file order:
// - even: every step within kStepTolerance median steps of the median step;
// - gaps: every step within kStepTolerance median steps of a whole number
//   of them, some of them 2 or more (missing counts the grid positions
//   between that hold no time);
// - uneven: anything else, and any record one of whose times lies more
//   than kDriftTolerance steps from its position on the grid from the first
//   time to the last (steps that each pass can drift together).
// Steps are taken as their magnitudes, so times that decrease throughout
// are classed as their increasing order would be (reversed is then set).
// The median of an even number of steps is the lower of the two middle
// ones: an actual step, so that a record with as many gaps as steps keeps
// its step. Refused: fewer than 2 times, a time that is not finite, and
// times that do not increase or decrease throughout (a repeated time, or a
// step against the direction of the first one). The message names the
// first offending value and the two times, its own and the one before it;
// `offending` (when given) receives its 0-based index j, so that a reader
// can name the lines of time[j - 1] and time[j]. `out` is left as it was
// on refusal.
Status sampling_of(std::span<const double> time, Sampling& out,
                   std::size_t* offending = nullptr);

// The grid positions of increasing times classed even or gaps with step
// `step`: position 0 for time[0], then each step's whole multiple of `step`
// added (at least 1), so that positions strictly increase and the last one
// plus 1 is the number of grid positions of the span. out is resized to
// time.size().
void grid_positions(std::span<const double> time, double step, std::vector<std::int64_t>& out);

// Linear interpolation of y (at increasing times, y.size() == time.size()
// >= 2) to the times time[0] + j step, j = 0 .. m-1, where m - 1 is the
// span over the step rounded to the nearest whole number (so the last grid
// time is the last time within half a step). Grid times beyond the last
// time take the last value. Computed in double, stored in single precision
// in out (resized to m). Requires step > 0.
void interpolate_to_step(std::span<const double> time, std::span<const float> y, double step,
                         std::vector<float>& out);

// The number of grid times interpolate_to_step gives.
std::size_t interpolated_length(std::span<const double> time, double step);

// Linear interpolation of y (at increasing times, y.size() == time.size()
// >= 2) to the m times start + j step, j = 0 .. m-1, all within
// [time.front(), time.back()]: the values of two records on a grid they
// share. Computed in double, stored in single precision in out (resized to
// m). Requires step > 0.
void interpolate_at(std::span<const double> time, std::span<const float> y, double start,
                    double step, std::size_t m, std::vector<float>& out);

}  // namespace quorvane::spectral
