// The sampling class of a record's times, and the two ways onto a grid.
#include "spectral/sampling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace quorvane::spectral {
namespace {

struct ClassCase {
  std::vector<double> time;
  SamplingClass kind;
  double median;
  std::int64_t missing;
  bool reversed;
  std::size_t refused_at = 0;  // the first offending value of a refusal
};

// Monthly dates in days (steps of 28 to 31 days) and weekly dates as
// decimal years (7/365 of a year, 7/366 in leap years) with a 19-week gap
// in a leap year.
std::vector<double> monthly_days() {
  std::vector<double> t = {0.0};
  for (int m = 0; m < 48; ++m) {
    const int days[] = {31, m / 12 == 2 ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    t.push_back(t.back() + days[m % 12]);
  }
  return t;
}
std::vector<double> weekly_years() {
  std::vector<double> t;
  for (int w = 0; w < 104; ++w) {
    const int day = 7 * w;  // from 1 January 1999
    if (w < 60 || w >= 79) t.push_back(day < 365 ? 1999 + day / 365.0 : 2000 + (day - 365) / 366.0);
  }
  return t;
}

// A core whose step shrinks from 1 to 0.9 over 201 samples: no step lies
// more than 0.06 from the median, but the middle times lie 2.5 steps off
// the grid from the first time to the last.
std::vector<double> shrinking() {
  std::vector<double> t = {0.0};
  for (int j = 0; j < 200; ++j) t.push_back(t.back() + 1.0 - 0.1 * j / 199.0);
  return t;
}

TEST(Sampling, StepsWithinATenthOfAStepOfAWholeNumberOfMedianStepsDecideTheClass) {
  const auto even = SamplingClass::even, gaps = SamplingClass::gaps;
  const std::vector<ClassCase> cases = {
      {{1, 2, 3, 4}, even, 1, 0, false},
      {{1, 2.004, 3, 3.997}, even, 0.997, 0, false},
      {monthly_days(), even, 31, 0, false},
      {weekly_years(), gaps, 7.0 / 365, 19, false},
      {{0, 1, 2, 5, 6, 7}, gaps, 1, 2, false},
      {{0, 1, 2, 4.09, 5}, gaps, 1, 1, false},
      // The lower middle step of an even count: as many gaps as steps stay gaps.
      {{0, 1, 2, 4, 6}, gaps, 1, 2, false},
      {{0, 1, 2.5, 3.5, 4.5}, SamplingClass::uneven, 1, 0, false},
      {{0, 1, 2, 4.12, 5}, SamplingClass::uneven, 1, 0, false},
      // Steps each within the tolerance that drift off the record's grid.
      {shrinking(), SamplingClass::uneven, 0.9497487437185868, 0, false},
      {{0, 1, 2.11, 3.11}, SamplingClass::uneven, 1, 0, false},
      {{10, 8, 6, 4}, even, 2, 0, true},
      {{9, 8, 5, 4}, gaps, 1, 2, true},
      // Repeated times, and times that turn back, whichever way they run.
      {{1, 2, 2, 3}, even, -1, 0, false, 2},
      {{1, 2, 3, 2.5}, even, -1, 0, false, 3},
      {{5, 4, 6}, even, -1, 0, false, 2},
  };
  for (const ClassCase& c : cases) {
    SCOPED_TRACE(c.time[2]);
    Sampling s;
    s.median_step = -1;  // a refusal leaves it
    std::size_t offending = 0;
    const Status status = sampling_of(c.time, s, &offending);
    EXPECT_EQ(!status, c.refused_at > 0) << status.message;
    EXPECT_EQ(offending, c.refused_at);
    EXPECT_EQ(s.kind, c.kind);
    EXPECT_NEAR(s.median_step, c.median, 1e-12);
    EXPECT_EQ(s.missing, c.missing);
    EXPECT_EQ(s.reversed, c.reversed);
    // The offset that decided: within the tolerance exactly when on the grid.
    if (c.refused_at == 0) {
      EXPECT_EQ(s.largest_offset <= kStepTolerance, c.kind != SamplingClass::uneven);
    }
  }
  Sampling s;
  ASSERT_TRUE(sampling_of(weekly_years(), s).ok);
  EXPECT_NEAR(s.largest_offset, 20 * (1 - 365.0 / 366), 1e-9);  // the step over the gap
}

TEST(Sampling, GridPositionsAndInterpolationFollowTheTimes) {
  std::vector<std::int64_t> grid;
  grid_positions(std::vector<double>{0, 1.004, 2, 4.99, 6}, 1.0, grid);
  EXPECT_EQ(grid, (std::vector<std::int64_t>{0, 1, 2, 5, 6}));

  // A straight line is interpolated exactly; grid times past the last time
  // keep the last value.
  std::vector<float> out;
  interpolate_to_step(std::vector<double>{0, 0.5, 3}, std::vector<float>{1, 2, 7}, 1.0, out);
  EXPECT_EQ(out, (std::vector<float>{1, 3, 5, 7}));
  interpolate_to_step(std::vector<double>{0, 1, 2.6}, std::vector<float>{0, 2, 4}, 1.0, out);
  EXPECT_EQ(out, (std::vector<float>{0, 2, 3.25f, 4}));
}

}  // namespace
}  // namespace quorvane::spectral
