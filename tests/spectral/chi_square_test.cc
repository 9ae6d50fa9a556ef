#include "spectral/numerics/chi_square.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "spectral/stages/eigenspectra.h"

namespace quorvane::spectral {
namespace {

#include "tests/spectral/reference_values.inc"

TEST(Chsppf, AgreesWithKnownPercentPointsForTwoToSixteenDegrees) {
  const float levels[4] = {0.5f, 0.9f, 0.95f, 0.99f};
  for (int j = 0; j < 4; ++j) {
    for (int nu = 2; nu <= 16; ++nu) {
      // The probabilities are single-precision constants; the reference is
      // at the exact level, so allow for the level's rounding as well.
      const double reference = kChiSquarePercentPoints[nu - 2][j];
      EXPECT_NEAR(chsppf(levels[j], nu), reference, 2e-6 * reference + 1e-5)
          << "nu " << nu << " level " << levels[j];
    }
  }
}

TEST(Chsppf, ArgumentsOutsideTheirRangeAreReportedAndGiveZero) {
  std::string text;
  const auto sink = [&](std::string_view line) { text.append(line).append("\n"); };
  EXPECT_EQ(chsppf(1.5f, 4, sink), 0.0f);
  EXPECT_EQ(chsppf(0.5f, 0, sink), 0.0f);
  EXPECT_EQ(text,
            " ***** fatal error--the first\n input argument to the chsppf subroutine\n"
            " is outside the allowable (0,1) interval *****)\n ***** the value of the argument is \n"
            "  0.15000000E+01 *****\n"
            " ***** fatal error--the second\n input argument to the chsppf subroutine\n"
            " is non-positive *****\n ** the value of the argument is        0 ***\n");
  EXPECT_EQ(chsppf(-0.1f, 3), 0.0f);  // silent without a sink
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
}

}  // namespace
}  // namespace quorvane::spectral
