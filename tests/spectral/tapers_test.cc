#include "spectral/tapers.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quorvane::spectral {
namespace {

double sum_of_squares(const Tapers& t, int k) {
  double s = 0.0;
  for (int i = 0; i < t.n; ++i) s += static_cast<double>(t.at(i, k)) * t.at(i, k);
  return s;
}

class BothPaths : public ::testing::TestWithParam<EigenPath> {};

TEST_P(BothPaths, TapersHaveSumOfSquaresNAndAlternatingSymmetry) {
  const int n = 200;
  Tapers t;
  taper2(n, 5, 3.0f, t, GetParam());
  ASSERT_EQ(t.v.size(), 5u * n);
  for (int k = 0; k < 5; ++k) {
    EXPECT_NEAR(sum_of_squares(t, k), n, 1e-3 * n) << k;
    // Even orders are symmetric about the centre, odd orders antisymmetric.
    const float sign = k % 2 == 0 ? 1.0f : -1.0f;
    for (int i = 0; i < n / 2; ++i) {
      EXPECT_NEAR(t.at(i, k), sign * t.at(n - 1 - i, k), 1e-5f) << k << ":" << i;
    }
    if (k % 2 == 1) {
      EXPECT_NEAR(t.tapsum[static_cast<std::size_t>(k)], 0.0f, 1e-3f) << k;
    } else {
      EXPECT_GT(std::fabs(t.tapsum[static_cast<std::size_t>(k)]), 0.5f * std::sqrt(float(n))) << k;
    }
  }
}

TEST_P(BothPaths, ConcentrationsDecreaseAndStayInUnitInterval) {
  Tapers t;
  taper1(512, 7, 4.0f, t, GetParam());
  for (std::size_t k = 0; k < 7; ++k) {
    EXPECT_GT(t.el[k], 0.0);
    EXPECT_LE(t.el[k], 1.0);
    if (k > 0) {
      EXPECT_LE(t.el[k], t.el[k - 1]);
    }
  }
}

TEST_P(BothPaths, SingleTaperIsWellConcentrated) {
  Tapers t;
  taper2(64, 1, 2.0f, t, GetParam());
  EXPECT_NEAR(sum_of_squares(t, 0), 64.0, 1e-3);
  EXPECT_GT(t.el[0], 0.99);
}

INSTANTIATE_TEST_SUITE_P(Tapers, BothPaths,
                         ::testing::Values(EigenPath::Reference, EigenPath::Fast));

}  // namespace
}  // namespace quorvane::spectral
