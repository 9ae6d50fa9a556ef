#include "display/scale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quorvane::display {
namespace {

struct Axis {
  float start, step, end;
};

Axis scaled(float lo, float hi) {
  Axis a{-1.0f, -1.0f, -1.0f};
  EXPECT_EQ(scale(lo, hi, 10, a.start, a.step, a.end), 0);
  return a;
}

TEST(Scale, PositiveRangeStartsAtZeroWhenTheSpanReachesItsTop) {
  const Axis a = scaled(0.37f, 123.4f);
  EXPECT_FLOAT_EQ(a.start, 0.0f);
  EXPECT_FLOAT_EQ(a.step, 16.0f);
  EXPECT_FLOAT_EQ(a.end, 144.0f);
}

TEST(Scale, RangeAcrossZeroIsRoundedToWholeSteps) {
  const Axis a = scaled(-7.0f, 12.0f);
  EXPECT_FLOAT_EQ(a.start, -10.0f);
  EXPECT_FLOAT_EQ(a.step, 2.5f);
  EXPECT_FLOAT_EQ(a.end, 12.5f);
}

TEST(Scale, NarrowRangeFarFromZeroHugsTheData) {
  const Axis a = scaled(95.0f, 105.0f);
  EXPECT_FLOAT_EQ(a.start, 94.8f);
  EXPECT_FLOAT_EQ(a.step, 1.2f);
  EXPECT_FLOAT_EQ(a.end, 105.6f);
}

TEST(Scale, ConstantDataReachDownToZero) {
  const Axis a = scaled(5.0f, 5.0f);
  EXPECT_FLOAT_EQ(a.start, 0.0f);
  EXPECT_FLOAT_EQ(a.step, 0.6f);
  EXPECT_FLOAT_EQ(a.end, 5.4f);
}

TEST(Scale, AllZerosGetTheUnitRange) {
  const Axis a = scaled(0.0f, 0.0f);
  EXPECT_FLOAT_EQ(a.start, 0.0f);
  EXPECT_FLOAT_EQ(a.step, 0.12f);
  EXPECT_FLOAT_EQ(a.end, 1.08f);
}

TEST(Scale, ConstantNegativeDataReachUpToZero) {
  const Axis a = scaled(-5.0f, -5.0f);
  EXPECT_FLOAT_EQ(a.start, -5.4f);
  EXPECT_FLOAT_EQ(a.step, 0.6f);
  EXPECT_FLOAT_EQ(a.end, 0.0f);
}

TEST(Scale, NegativeRangeEndsAtZeroWhenTheSpanReachesItsBottom) {
  const Axis a = scaled(-123.4f, -0.37f);
  EXPECT_FLOAT_EQ(a.start, -144.0f);
  EXPECT_FLOAT_EQ(a.step, 16.0f);
  EXPECT_FLOAT_EQ(a.end, 0.0f);
}

TEST(Scale, TinyAndHugeRangesKeepTheirPowerOfTen) {
  Axis a = scaled(0.0f, 3.0e-7f);
  EXPECT_FLOAT_EQ(a.step, 4.0e-8f);
  EXPECT_FLOAT_EQ(a.start, 0.0f);
  a = scaled(1.0e20f, 3.0e20f);
  EXPECT_FLOAT_EQ(a.step, 2.5e19f);
  EXPECT_FLOAT_EQ(a.start, 7.5e19f);
}

TEST(Scale, AxesStartOnAWholeStepAndSpanNineSteps) {
  const float ranges[][2] = {{0.0f, 1.0f},   {-1.0f, 1.0f},  {3.3f, 3.31f}, {-0.02f, 7.7f},
                             {1e-3f, 9e-3f}, {-8e5f, -7e5f}, {12.5f, 99.9f}, {1.1f, 2.9f}};
  for (const auto& r : ranges) {
    const Axis a = scaled(r[0], r[1]);
    const float steps = a.start / a.step;
    EXPECT_NEAR(steps, std::round(steps), 1e-3f) << r[0] << " " << r[1];
    EXPECT_NEAR(a.end - a.start, 9.0f * a.step, 1e-4f * std::abs(a.end - a.start));
    EXPECT_LE(a.start, r[0]) << r[0] << " " << r[1];
  }
}

TEST(Scale, ARangeFillingItsNineStepsExactlyMayLoseItsTopStep) {
  // 1.1 to 2.9 needs the step 0.2 nine times from 1.1, which is no whole
  // step; the axis keeps the step and starts at 1.0, so the top is clipped.
  const Axis a = scaled(1.1f, 2.9f);
  EXPECT_FLOAT_EQ(a.start, 1.0f);
  EXPECT_FLOAT_EQ(a.step, 0.2f);
  EXPECT_FLOAT_EQ(a.end, 2.8f);
}

TEST(Scale, RefusesReversedRangesAndTooFewTicksLeavingTheResultsAlone) {
  float start = 7.0f, step = 8.0f, end = 9.0f;
  EXPECT_EQ(scale(2.0f, 1.0f, 10, start, step, end), 1);
  EXPECT_EQ(scale(1.0f, 2.0f, 1, start, step, end), 1);
  // The empty running extrema of a plot without points.
  EXPECT_EQ(scale(1000000.0f, -1000000.0f, 10, start, step, end), 1);
  EXPECT_EQ(start, 7.0f);
  EXPECT_EQ(step, 8.0f);
  EXPECT_EQ(end, 9.0f);
}

TEST(Scale, RefusesRangesWithoutAFiniteStepInsteadOfLoopingForever) {
  float start = 7.0f, step = 8.0f, end = 9.0f;
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(scale(0.0f, inf, 10, start, step, end), 1);
  EXPECT_EQ(scale(-3.0e38f, 3.0e38f, 10, start, step, end), 1);
  EXPECT_EQ(scale(nan, 1.0f, 10, start, step, end), 1);
  EXPECT_EQ(scale(1.0e-45f, 2.8e-45f, 10, start, step, end), 1);
  EXPECT_EQ(step, 8.0f);
}

}  // namespace
}  // namespace quorvane::display
