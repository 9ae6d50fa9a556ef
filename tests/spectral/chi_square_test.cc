#include "spectral/chi_square.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "spectral/estimators.h"

namespace quorvane::spectral {
namespace {

#include "tests/spectral/reference_values.inc"

TEST(Chsppf, MedianOfTwoDegreesOfFreedomIsTwiceLnTwo) {
  EXPECT_NEAR(chsppf(0.5f, 2), 2.0 * std::log(2.0), 1e-6);
}

TEST(Chsppf, ConfidenceRatiosForThreeTapers) {
  const float levels[4] = {0.5f, 0.9f, 0.95f, 0.99f};
  const float expected[4] = {0.891f, 1.774f, 2.099f, 2.802f};
  for (int j = 0; j < 4; ++j) {
    EXPECT_NEAR(chsppf(levels[j], 6) / 6.0f, expected[j], 6e-4f) << levels[j];
  }
}

TEST(Chsppf, AgreesWithScipyPercentPointsForTwoToSixteenDegrees) {
  const float levels[4] = {0.5f, 0.9f, 0.95f, 0.99f};
  for (int nu = 2; nu <= 16; ++nu) {
    for (int j = 0; j < 4; ++j) {
      // The probabilities are single-precision constants; the reference is
      // at the exact level, so allow for the level's rounding as well.
      const double reference = kChiSquarePercentPoints[nu - 2][j];
      EXPECT_NEAR(chsppf(levels[j], nu), reference, 2e-6 * reference + 1e-5)
          << "nu " << nu << " level " << levels[j];
    }
  }
}

TEST(Chsppf, ProbabilityOutsideTheUnitIntervalIsReportedAndGivesZero) {
  std::vector<std::string> lines;
  const float ppf = chsppf(1.5f, 4, [&](std::string_view line) { lines.emplace_back(line); });
  EXPECT_EQ(ppf, 0.0f);
  const std::vector<std::string> expected = {
      " ***** fatal error--the first",
      " input argument to the chsppf subroutine",
      " is outside the allowable (0,1) interval *****)",
      " ***** the value of the argument is ",
      "  0.15000000E+01 *****",
  };
  EXPECT_EQ(lines, expected);
}

TEST(Chsppf, NonPositiveDegreesOfFreedomAreReportedAndGiveZero) {
  std::vector<std::string> lines;
  EXPECT_EQ(chsppf(0.5f, 0, [&](std::string_view line) { lines.emplace_back(line); }), 0.0f);
  const std::vector<std::string> expected = {
      " ***** fatal error--the second",
      " input argument to the chsppf subroutine",
      " is non-positive *****",
      " ** the value of the argument is        0 ***",
  };
  EXPECT_EQ(lines, expected);
  // Without a sink the failure is silent.
  EXPECT_EQ(chsppf(-0.1f, 3), 0.0f);
}

TEST(Chsppf, ExponentFormHasEightDigitsInFifteenColumns) {
  EXPECT_EQ(format_e15_8(123.4), " 0.12340000E+03");
  EXPECT_EQ(format_e15_8(-0.000999999999), "-0.10000000E-02");
  EXPECT_EQ(format_e15_8(-0.00099999999), "-0.99999999E-03");
  EXPECT_EQ(format_e15_8(0.0), " 0.00000000E+00");
}

TEST(FLevels, MatchTheClosedFormOfFWithTwoNumeratorDegrees) {
  const double levels[6] = {0.5, 0.9, 0.95, 0.99, 0.995, 0.999};
  for (int k = 2; k <= 8; ++k) {
    const std::array<float, 6> row = f_levels(k);
    const double nu2 = 2.0 * k - 2.0;
    for (int j = 0; j < 6; ++j) {
      const double exact = nu2 / 2.0 * (std::pow(1.0 - levels[j], -2.0 / nu2) - 1.0);
      // Tabulated to three decimals below 1 and two above: within half a
      // unit of the last tabulated place.
      const double half_unit = exact < 1.0 ? 0.0005 : 0.005;
      EXPECT_NEAR(row[static_cast<std::size_t>(j)], exact, half_unit) << "K " << k << " level " << j;
    }
  }
  EXPECT_EQ(f_levels(1), (std::array<float, 6>{}));
  EXPECT_EQ(f_levels(3)[5], 61.25f);
}

}  // namespace
}  // namespace quorvane::spectral
