// Thinning of long curves for drawing: each pixel column keeps its lowest
// and highest point in curve order, and short curves are drawn as they are.
#include "display/thinning.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace quorvane::display {
namespace {

// A noisy curve on 0 <= x < 1 with narrow peaks and troughs one point wide.
struct Curve {
  explicit Curve(std::size_t n) : x(n), y(n) {
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < n; ++i) {
      state = state * 1664525u + 1013904223u;
      x[i] = static_cast<float>(i) / static_cast<float>(n);
      y[i] = static_cast<float>(state >> 8) / 16777216.0f + std::sin(0.0001f * static_cast<float>(i));
    }
    for (std::size_t i : {n / 7, n / 3, n / 2 + 1, n - 1}) y[i] = 50.0f + static_cast<float>(i % 5);
    y[2 * n / 3] = -40.0f;
  }
  std::vector<float> x, y;
};

// The column of x in the window 0..1.
std::size_t column(float x, std::size_t columns) {
  return std::min(static_cast<std::size_t>(static_cast<double>(x) * columns), columns - 1);
}

TEST(Thinning, AMillionPointsKeepEveryColumnsExtremesInCurveOrder) {
  const Curve curve(1000000);
  constexpr std::size_t kColumns = 1000;
  std::vector<float> tx, ty;
  ASSERT_TRUE(thin_polyline(curve.x, curve.y, 0.0, 1.0, kColumns, tx, ty));
  ASSERT_EQ(tx.size(), ty.size());
  EXPECT_LE(tx.size(), 2 * kColumns);
  EXPECT_TRUE(std::is_sorted(tx.begin(), tx.end()));

  std::vector<float> low(kColumns, INFINITY), high(kColumns, -INFINITY);
  for (std::size_t i = 0; i < curve.x.size(); ++i) {
    const std::size_t c = column(curve.x[i], kColumns);
    low[c] = std::min(low[c], curve.y[i]);
    high[c] = std::max(high[c], curve.y[i]);
  }
  std::vector<float> kept_low(kColumns, INFINITY), kept_high(kColumns, -INFINITY);
  for (std::size_t j = 0; j < tx.size(); ++j) {
    const std::size_t c = column(tx[j], kColumns);
    kept_low[c] = std::min(kept_low[c], ty[j]);
    kept_high[c] = std::max(kept_high[c], ty[j]);
    // Every point drawn is a point of the curve.
    const auto at = std::lower_bound(curve.x.begin(), curve.x.end(), tx[j]) - curve.x.begin();
    EXPECT_EQ(curve.y[static_cast<std::size_t>(at)], ty[j]);
  }
  EXPECT_EQ(kept_low, low);
  EXPECT_EQ(kept_high, high);
  EXPECT_EQ(*std::max_element(ty.begin(), ty.end()), 54.0f);
  EXPECT_EQ(*std::min_element(ty.begin(), ty.end()), -40.0f);
  EXPECT_EQ(tx.back(), curve.x.back());  // the last point is its column's peak
}

// A window on part of the curve (or the same window reversed) draws its
// columns and the two points beyond its edges, through which the line
// leaves the frame.
TEST(Thinning, AWindowOnPartOfTheCurveKeepsTheSegmentsThatCrossItsEdges) {
  const Curve curve(200000);
  std::vector<float> tx, ty, rx, ry;
  ASSERT_TRUE(thin_polyline(curve.x, curve.y, 0.25, 0.5, 500, tx, ty));
  ASSERT_TRUE(thin_polyline(curve.x, curve.y, 0.5, 0.25, 500, rx, ry));
  EXPECT_EQ(tx, rx);
  EXPECT_EQ(ty, ry);
  EXPECT_LE(tx.size(), 2 * 500u + 2);
  ASSERT_GE(tx.size(), 4u);
  EXPECT_LT(tx[0], 0.25f);
  EXPECT_GE(tx[1], 0.25f);
  EXPECT_GT(tx.back(), 0.5f);
  EXPECT_LE(tx[tx.size() - 2], 0.5f);
  const std::size_t peak = 200000 / 3;
  const auto at = std::find(tx.begin(), tx.end(), curve.x[peak]);
  ASSERT_NE(at, tx.end());
  EXPECT_EQ(ty[static_cast<std::size_t>(at - tx.begin())], curve.y[peak]);
}

// Curves of at most four points per column, and curves whose abscissae do
// not run forwards, are drawn exactly as they are.
TEST(Thinning, ShortOrUnorderedCurvesAreDrawnUnchanged) {
  std::vector<float> tx = {7.0f}, ty = {8.0f};
  const Curve short_curve(4000);
  EXPECT_FALSE(thin_polyline(short_curve.x, short_curve.y, 0.0, 1.0, 1000, tx, ty));
  Curve backwards(100000);
  std::reverse(backwards.x.begin(), backwards.x.end());
  EXPECT_FALSE(thin_polyline(backwards.x, backwards.y, 0.0, 1.0, 1000, tx, ty));
  Curve gap(100000);
  gap.x[500] = NAN;
  EXPECT_FALSE(thin_polyline(gap.x, gap.y, 0.0, 1.0, 1000, tx, ty));
  const Curve ordered(100000);
  EXPECT_FALSE(thin_polyline(ordered.x, ordered.y, 0.5, 0.5, 1000, tx, ty));
  EXPECT_EQ(tx, std::vector<float>{7.0f});
  EXPECT_EQ(ty, std::vector<float>{8.0f});
}

}  // namespace
}  // namespace quorvane::display
