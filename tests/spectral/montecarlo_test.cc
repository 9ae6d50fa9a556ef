#include "spectral/significance/montecarlo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <numeric>
#include <vector>

#include "spectral/estimators/even.h"
#include "spectral/significance/surrogates.h"

namespace quorvane::spectral {
namespace {

TEST(EmpiricalQuantile, TakesRankMPlusOneTimesQBetweenTheExtremes) {
  std::vector<float> hundred(99);
  std::iota(hundred.begin(), hundred.end(), 1.0f);  // 1..99
  const std::vector<float> four = {10.0f, 20.0f, 30.0f, 40.0f};
  struct Case {
    const std::vector<float>* sorted;
    double q;
    float expected;
  };
  for (const Case& c : {Case{&hundred, 0.5, 50.0f}, Case{&hundred, 0.9, 90.0f},
                        Case{&hundred, 0.95, 95.0f}, Case{&hundred, 0.99, 99.0f},
                        Case{&four, 0.5, 25.0f},     // rank 2.5: halfway between 20 and 30
                        Case{&four, 0.1, 10.0f},     // below rank 1: the smallest
                        Case{&four, 0.99, 40.0f}}) {  // above rank M: the largest
    EXPECT_FLOAT_EQ(empirical_quantile(*c.sorted, c.q), c.expected) << c.q;
  }
  EXPECT_EQ(empirical_quantile(std::vector<float>{7.0f}, 0.5), 7.0f);
}

SpecSettings short_red_noise_settings() {
  SpecSettings s;
  s.npts = 300;
  s.fsmooth = 0.1f;
  return s;
}

TEST(MonteCarloLevels, AreTheSameForAnyNumberOfJobsAndChangeWithTheSeed) {
  const SpecSettings s = short_red_noise_settings();
  MonteCarloLevels levels_one, levels_three, levels_other;
  ASSERT_TRUE(montecarlo_levels(s, 0.6f, 2.0f, 40, 5, 1, levels_one).ok);
  ASSERT_TRUE(montecarlo_levels(s, 0.6f, 2.0f, 40, 5, 3, levels_three).ok);
  ASSERT_TRUE(montecarlo_levels(s, 0.6f, 2.0f, 40, 6, 2, levels_other).ok);
  const std::array<std::vector<float>, 4>& one = levels_one.local;
  EXPECT_EQ(one, levels_three.local);
  EXPECT_EQ(levels_one.band_wide, levels_three.band_wide);
  EXPECT_NE(one, levels_other.local);
  // The largest ratio of a surrogate is at least its ratio at any entry, so
  // the band-wide level lies above every entry's level of the same rank.
  EXPECT_LE(*std::max_element(one[2].begin(), one[2].end()), levels_one.band_wide[0]);
  EXPECT_LE(levels_one.band_wide[0], levels_one.band_wide[1]);
  // nf entries, the last one 0; levels rise with the percentage.
  SpecResults r;
  std::vector<float> y(300);
  RandomStream random(1, 1);
  ar1_surrogate(0.6, 2.0, random, y);
  ASSERT_TRUE(spec(y, s, r).ok);
  for (const std::vector<float>& level : one) {
    ASSERT_EQ(level.size(), static_cast<std::size_t>(r.nf));
    EXPECT_EQ(level.back(), 0.0f);
  }
  for (std::size_t i = 0; i + 1 < one[0].size(); ++i) {
    EXPECT_GT(one[0][i], 0.0f) << i;
    EXPECT_LE(one[0][i], one[1][i]) << i;
    EXPECT_LE(one[1][i], one[2][i]) << i;
    EXPECT_LE(one[2][i], one[3][i]) << i;
  }
}

TEST(MonteCarloLevels, RefuseImpossibleRequestsAndLeaveTheLevelsAsTheyWere) {
  const SpecSettings s = short_red_noise_settings();
  SpecSettings bad_band = s;
  bad_band.fmax = 0.7f;
  struct Case {
    const SpecSettings* settings;
    float rho, variance;
    int surrogates, jobs;
  };
  for (const Case& c : {Case{&s, 0.5f, 1.0f, 0, 1}, Case{&s, 0.5f, 1.0f, 10, 0},
                        Case{&s, 1.0f, 1.0f, 10, 1}, Case{&s, 0.5f, -1.0f, 10, 1},
                        Case{&bad_band, 0.5f, 1.0f, 10, 1},
                        // Terabytes of surrogate ratios: refused before any is computed.
                        Case{&s, 0.5f, 1.0f, std::numeric_limits<int>::max(), 1}}) {
    MonteCarloLevels levels;
    levels.local[0] = {1.0f, 2.0f};
    const Status status = montecarlo_levels(*c.settings, c.rho, c.variance, c.surrogates, 1, c.jobs, levels);
    EXPECT_FALSE(status.ok);
    EXPECT_FALSE(status.message.empty());
    EXPECT_EQ(levels.local[0], (std::vector<float>{1.0f, 2.0f}));
  }
}

TEST(Ar1Surrogate, HasTheAskedCoefficientAndVarianceFromTheFirstValue) {
  struct Case {
    double rho, variance;
  };
  for (const Case c : {Case{0.0, 1.0}, Case{0.5, 4.0}, Case{0.9, 0.25}, Case{-0.6, 2.0}}) {
    SCOPED_TRACE(testing::Message() << "rho " << c.rho << " variance " << c.variance);
    // Many short series: the first values show whether the process starts
    // stationary; their pooled moments give coefficient and variance.
    constexpr int kSeries = 4000, kLength = 50;
    double first_squares = 0.0, squares = 0.0, lagged = 0.0, count = 0.0, pairs = 0.0;
    std::vector<float> x(kLength);
    for (int n = 0; n < kSeries; ++n) {
      RandomStream random(99, static_cast<std::uint64_t>(n));
      ar1_surrogate(c.rho, c.variance, random, x);
      first_squares += static_cast<double>(x[0]) * x[0];
      for (std::size_t t = 0; t < x.size(); ++t) {
        squares += static_cast<double>(x[t]) * x[t];
        count += 1.0;
        if (t > 0) {
          lagged += static_cast<double>(x[t]) * x[t - 1];
          pairs += 1.0;
        }
      }
    }
    EXPECT_NEAR(first_squares / kSeries / c.variance, 1.0, 0.07);
    EXPECT_NEAR(squares / count / c.variance, 1.0, 0.03);
    EXPECT_NEAR((lagged / pairs) / (squares / count), c.rho, 0.02);
  }
}

}  // namespace
}  // namespace quorvane::spectral
