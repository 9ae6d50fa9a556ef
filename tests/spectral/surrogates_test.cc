#include "spectral/surrogates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvane::spectral {
namespace {

TEST(RandomStream, RepeatsForTheSameSeedAndStreamAndDiffersOtherwise) {
  auto first_values = [](std::uint64_t seed, std::uint64_t stream) {
    RandomStream random(seed, stream);
    std::vector<std::uint64_t> values;
    for (int i = 0; i < 8; ++i) values.push_back(random.next());
    return values;
  };
  EXPECT_EQ(first_values(7, 3), first_values(7, 3));
  EXPECT_NE(first_values(7, 3), first_values(7, 4));
  EXPECT_NE(first_values(7, 3), first_values(8, 3));
  // Seed and stream are not interchangeable.
  EXPECT_NE(first_values(3, 7), first_values(7, 3));
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
