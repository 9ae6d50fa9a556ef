// The band-wide chances agree with the engine's own levels: the
// chi-square ratios and F levels it draws are exceeded with the chance
// their percent says, and a band of M frequencies multiplies small chances
// by about M.
#include <gtest/gtest.h>

#include <cmath>

#include "spectral/numerics/chi_square.h"
#include "spectral/significance/band_wide.h"
#include "spectral/stages/eigenspectra.h"

namespace quorvane::spectral {
namespace {

TEST(BandWide, ChancesAtOneFrequencyMatchTheEnginesLevels) {
  const double percents[4] = {50.0, 90.0, 95.0, 99.0};
  for (int tapers = 1; tapers <= 8; ++tapers) {
    for (double percent : percents) {
      const double level = chsppf(static_cast<float>(percent / 100.0), 2 * tapers) / (2.0 * tapers);
      EXPECT_NEAR(ratio_exceedance(level, tapers), 1.0 - percent / 100.0, 2e-5)
          << tapers << " tapers at " << percent;
    }
    if (tapers < 2) continue;
    const std::array<float, 6> f = f_levels(tapers);
    const double f_percents[6] = {50.0, 90.0, 95.0, 99.0, 99.5, 99.9};
    // The engine's F levels hold four or five digits: within half a percent
    // of the chance.
    for (std::size_t j = 0; j < 6; ++j) {
      const double chance = 1.0 - f_percents[j] / 100.0;
      EXPECT_NEAR(f_exceedance(f[j], tapers), chance, 5e-3 * chance) << tapers;
    }
  }
  EXPECT_EQ(ratio_exceedance(0.0, 3), 1.0);
  EXPECT_EQ(f_exceedance(-1.0, 3), 1.0);
}

TEST(BandWide, ABandOfManyFrequenciesRaisesChancesAndLevels) {
  EXPECT_DOUBLE_EQ(band_wide_chance(0.01, 1.0), 0.01);
  EXPECT_NEAR(band_wide_chance(1e-6, 100.0), 1e-4, 1e-8);  // about M p for small p
  EXPECT_NEAR(band_wide_chance(0.05, 100.0), 1.0 - std::pow(0.95, 100.0), 1e-12);
  EXPECT_EQ(band_wide_chance(0.0, 50.0), 0.0);
  EXPECT_EQ(band_wide_chance(1.0, 50.0), 1.0);
  // The band-wide level is exceeded anywhere with the chosen chance.
  for (double m : {1.0, 12.0, 400.0}) {
    const double level = band_wide_ratio(0.05, m, 3);
    EXPECT_NEAR(band_wide_chance(ratio_exceedance(level, 3), m), 0.05, 1e-9) << m;
  }
  EXPECT_DOUBLE_EQ(independent_frequencies(0.5, 0.01), 50.0);
  EXPECT_DOUBLE_EQ(independent_frequencies(0.001, 0.01), 1.0);
  EXPECT_DOUBLE_EQ(independent_frequencies(0.5, 0.0), 1.0);
}

}  // namespace
}  // namespace quorvane::spectral
