#include "display/scale.h"

#include <gtest/gtest.h>

#include <limits>

namespace quorvane::display {
namespace {

struct Example {
  float lo, hi, start, step, end;
};

TEST(Scale, RoundsTheRangeToNineStepsOfARoundNumber) {
  const Example examples[] = {
      {0.37f, 123.4f, 0.0f, 16.0f, 144.0f},   // starts at zero once the span reaches the top
      {-7.0f, 12.0f, -10.0f, 2.5f, 12.5f},    // across zero
      {95.0f, 105.0f, 94.8f, 1.2f, 105.6f},   // narrow, far from zero
      {5.0f, 5.0f, 0.0f, 0.6f, 5.4f},         // constant: widened down to zero
      {0.0f, 0.0f, 0.0f, 0.12f, 1.08f},       // all zeros: the unit range
      {-5.0f, -5.0f, -5.4f, 0.6f, 0.0f},      // constant negative: up to zero
      {-123.4f, -0.37f, -144.0f, 16.0f, 0.0f},  // ends at zero
      {0.0f, 3.0e-7f, 0.0f, 4.0e-8f, 3.6e-7f},
      {1.1f, 2.9f, 1.0f, 0.2f, 2.8f},  // no whole step fits 1.1: the top is lost
  };
  for (const Example& e : examples) {
    float start = -1.0f, step = -1.0f, end = -1.0f;
    ASSERT_EQ(scale(e.lo, e.hi, 10, start, step, end), 0) << e.lo << " " << e.hi;
    EXPECT_FLOAT_EQ(start, e.start) << e.lo << " " << e.hi;
    EXPECT_FLOAT_EQ(step, e.step) << e.lo << " " << e.hi;
    EXPECT_FLOAT_EQ(end, e.end) << e.lo << " " << e.hi;
  }
}

TEST(Scale, RefusesRangesItCannotScaleAndLeavesTheResultsAlone) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float refused[][2] = {
      {2.0f, 1.0f},               // reversed
      {1000000.0f, -1000000.0f},  // the empty running extrema of a plot without points
      {0.0f, inf}, {nan, 1.0f},   // no finite step (the rounding would never end)
      {-3.0e38f, 3.0e38f},        // the span overflows
      {1.0e-45f, 2.8e-45f},       // the step underflows to zero
  };
  float start = 7.0f, step = 8.0f, end = 9.0f;
  for (const auto& r : refused) EXPECT_EQ(scale(r[0], r[1], 10, start, step, end), 1) << r[0];
  EXPECT_EQ(scale(1.0f, 2.0f, 1, start, step, end), 1);  // fewer than two ticks
  EXPECT_EQ(start, 7.0f);
  EXPECT_EQ(step, 8.0f);
  EXPECT_EQ(end, 9.0f);
}

}  // namespace
}  // namespace quorvane::display
