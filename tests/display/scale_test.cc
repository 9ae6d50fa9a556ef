#include "display/scale.h"

#include <gtest/gtest.h>

#include <limits>

namespace quorvane::display {
namespace {

TEST(Scale, RoundsTheRangeToNineStepsOfARoundNumberOrRefusesIt) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // A refused range (ierr 1) leaves the results at their start values 7, 8, 9.
  const struct { float lo, hi; int ntick, ierr; float start, step, end; } cases[] = {
      {0.37f, 123.4f, 10, 0, 0.0f, 16.0f, 144.0f},  // starts at zero once the span reaches the top
      {-7.0f, 12.0f, 10, 0, -10.0f, 2.5f, 12.5f},   // across zero
      {95.0f, 105.0f, 10, 0, 94.8f, 1.2f, 105.6f},  // narrow, far from zero
      {5.0f, 5.0f, 10, 0, 0.0f, 0.6f, 5.4f},        // constant: widened down to zero
      {0.0f, 0.0f, 10, 0, 0.0f, 0.12f, 1.08f},      // all zeros: the unit range
      {1.1f, 2.9f, 10, 0, 1.0f, 0.2f, 2.8f},  // no whole step fits 1.1: the top is lost
      {2.0f, 1.0f, 10, 1, 7.0f, 8.0f, 9.0f},  // reversed
      {1.0e6f, -1.0e6f, 10, 1, 7.0f, 8.0f, 9.0f},  // the empty extrema of a plot without points
      {1.0f, 2.0f, 1, 1, 7.0f, 8.0f, 9.0f},        // fewer than two ticks
      {0.0f, inf, 10, 1, 7.0f, 8.0f, 9.0f},        // no finite step: the rounding would never end
      {nan, 1.0f, 10, 1, 7.0f, 8.0f, 9.0f},
      {-3.0e38f, 3.0e38f, 10, 1, 7.0f, 8.0f, 9.0f},  // the span overflows
      {1.0e-45f, 2.8e-45f, 10, 1, 7.0f, 8.0f, 9.0f},  // the step underflows to zero
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.lo << " to " << c.hi << ", " << c.ntick << " ticks");
    float start = 7.0f, step = 8.0f, end = 9.0f;
    EXPECT_EQ(scale(c.lo, c.hi, c.ntick, start, step, end), c.ierr);
    EXPECT_FLOAT_EQ(start, c.start);
    EXPECT_FLOAT_EQ(step, c.step);
    EXPECT_FLOAT_EQ(end, c.end);
  }
}

// Axes for tick labels that show their ticks' true values: a step of one
// significant digit, exact, over a window that still covers the data.
TEST(OneDigitScale, KeepsAOneDigitStepAndOtherwiseTakesTheNarrowestOneDigitAxis) {
  const struct { float lo, hi; int ierr; float start, step, end; } cases[] = {
      {0.0f, 308.0f, 0, 0.0f, 40.0f, 360.0f},     // nine intervals of 40, as scale gives
      {0.0f, 999999.0f, 0, 0.0f, 1.0e5f, 1.0e6f},  // not nine of 120000 (nor 99999.99)
      {0.0f, 199.0f, 0, 0.0f, 25.0f, 225.0f},      // nine of 25: whole labels, kept
      {0.0f, 130.0f, 0, 0.0f, 20.0f, 140.0f},      // seven intervals: narrower than 0 to 160
      {0.0f, 0.0f, 0, 0.0f, 0.1f, 1.0f},           // the unit range: not by 0.12
      {95.0f, 105.0f, 0, 95.0f, 1.0f, 105.0f},     // away from zero: not 94.8 to 105.6 by 1.2
      {2.0f, 1.0f, 1, 7.0f, 8.0f, 9.0f},           // refused as by scale
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.lo << " to " << c.hi);
    float start = 7.0f, step = 8.0f, end = 9.0f;
    EXPECT_EQ(one_digit_scale(c.lo, c.hi, start, step, end), c.ierr);
    EXPECT_EQ(start, c.start);
    EXPECT_EQ(step, c.step);
    EXPECT_EQ(end, c.end);
  }
}

// The labels' exponent is PLplot's; their decimals are those of the whole
// step, where PLplot alone would write as many as its leading digit needs.
TEST(LabelFormat, KeepsPlplotsExponentAndShowsEveryDigitOfTheStep) {
  const float inf = std::numeric_limits<float>::infinity();
  const struct { double lo, hi, step; int exponent, decimals; } cases[] = {
      {0.0, 2.25, 0.25f, 0, 2},        // 0.25, 0.50, not 0.3, 0.5, 0.8
      {0.0, 1.08, 0.12f, 0, 2},        // as rounded in single precision
      {0.0, 0.5, 0.1f, 0, 1},          // one digit: as PLplot
      {-10.0, 12.5, 2.5, 0, 1},        // -7.5, not -7
      {0.0, 225.0, 25.0, 0, 0},
      {0.0, 9999.0, 1000.0, 0, 0},     // four digits fit
      {0.0, 1.6e4, 1600.0, 4, 2},      // 0.16 times 10^4
      {0.0, 2.5e-3, 2.5e-4f, -3, 2},   // too many leading zeros: 0.25 times 10^-3
      {0.0, 0.144, 0.016, 0, 3},
      {999.0, 1000.0, 0.1, 0, 1},      // PLplot alone writes 999, 999, ... 1000
      {0.0, 1.0, 0.1234567, 0, 4},     // at most four digits of a typed step
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.lo << " to " << c.hi << " by " << c.step);
    const auto format = label_format(c.lo, c.hi, c.step);
    ASSERT_TRUE(format.has_value());
    EXPECT_EQ(format->exponent, c.exponent);
    EXPECT_EQ(format->decimals, c.decimals);
  }
  EXPECT_FALSE(label_format(0.0, 1.0, 0.0));  // PLplot's own ticks
  EXPECT_FALSE(label_format(0.0, inf, 0.1));
}

}  // namespace
}  // namespace quorvane::display
