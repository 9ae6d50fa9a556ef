// Thinning of long curves for drawing: each pixel column keeps its lowest
// and highest point in curve order; short curves are drawn as they are.
#include "display/thinning.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace quorvane::display {
namespace {

// Noise on 0 <= x < 1 with spikes one point wide.
struct Curve {
  explicit Curve(std::size_t n) : x(n), y(n) {
    for (std::size_t i = 0; i < n; ++i) {
      x[i] = static_cast<float>(i) / static_cast<float>(n);
      y[i] = static_cast<float>((i * 2654435761u) % 1000) / 1000.0f;
    }
    for (std::size_t i : {n / 7, n / 3, n - 1}) y[i] = 50.0f + static_cast<float>(i % 5);
    y[2 * n / 3] = -40.0f;
  }
  std::vector<float> x, y;
};

// The lowest and highest value of each of `columns` columns of 0..1.
std::vector<std::pair<float, float>> extremes(const std::vector<float>& x,
                                              const std::vector<float>& y, std::size_t columns) {
  std::vector<std::pair<float, float>> range(columns, {INFINITY, -INFINITY});
  for (std::size_t i = 0; i < x.size(); ++i) {
    const auto column = static_cast<std::size_t>(static_cast<double>(x[i]) * columns);
    auto& [low, high] = range[std::min(column, columns - 1)];
    low = std::min(low, y[i]);
    high = std::max(high, y[i]);
  }
  return range;
}

TEST(Thinning, AMillionPointsKeepEveryColumnsExtremesInCurveOrder) {
  const Curve curve(1000000);
  std::vector<float> tx, ty;
  ASSERT_TRUE(thin_polyline(curve.x, curve.y, 0.0, 1.0, 1000, tx, ty));
  EXPECT_LE(tx.size(), 2000u);
  EXPECT_TRUE(std::is_sorted(tx.begin(), tx.end()));
  EXPECT_EQ(extremes(tx, ty, 1000), extremes(curve.x, curve.y, 1000));
  for (std::size_t j = 0; j < tx.size(); ++j) {  // every point drawn is a point of the curve
    const auto at = std::lower_bound(curve.x.begin(), curve.x.end(), tx[j]) - curve.x.begin();
    EXPECT_EQ(curve.y[static_cast<std::size_t>(at)], ty[j]);
  }
  EXPECT_EQ(tx.back(), curve.x.back());
}

// A window on part of the curve, either way round, keeps the points just
// beyond its edges, through which the line leaves the frame.
TEST(Thinning, AWindowOnPartOfTheCurveKeepsTheSegmentsThatCrossItsEdges) {
  const Curve curve(200000);
  std::vector<float> tx, ty, rx, ry;
  ASSERT_TRUE(thin_polyline(curve.x, curve.y, 0.25, 0.5, 500, tx, ty));
  ASSERT_TRUE(thin_polyline(curve.x, curve.y, 0.5, 0.25, 500, rx, ry));
  EXPECT_EQ(tx, rx);
  EXPECT_EQ(ty, ry);
  EXPECT_LE(tx.size(), 1002u);
  EXPECT_TRUE(tx[0] < 0.25f && tx[1] >= 0.25f && tx.back() > 0.5f && tx[tx.size() - 2] <= 0.5f);
  EXPECT_EQ(*std::max_element(ty.begin(), ty.end()), curve.y[200000 / 3]);
}

// Curves of at most four points per column, curves whose abscissae do not
// run forwards and empty windows leave the curve to be drawn as it is.
TEST(Thinning, ShortOrUnorderedCurvesAreDrawnUnchanged) {
  std::vector<float> tx = {7.0f}, ty = {8.0f};
  const Curve short_curve(4000);
  EXPECT_FALSE(thin_polyline(short_curve.x, short_curve.y, 0.0, 1.0, 1000, tx, ty));
  Curve unordered(100000);
  EXPECT_FALSE(thin_polyline(unordered.x, unordered.y, 0.5, 0.5, 1000, tx, ty));
  unordered.x[500] = NAN;
  EXPECT_FALSE(thin_polyline(unordered.x, unordered.y, 0.0, 1.0, 1000, tx, ty));
  std::reverse(unordered.x.begin(), unordered.x.end());
  unordered.x[99499] = 0.5f;
  EXPECT_FALSE(thin_polyline(unordered.x, unordered.y, 0.0, 1.0, 1000, tx, ty));
  EXPECT_EQ(tx, std::vector<float>{7.0f});
  EXPECT_EQ(ty, std::vector<float>{8.0f});
}

}  // namespace
}  // namespace quorvane::display
