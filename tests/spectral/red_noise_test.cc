#include "spectral/red_noise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>
#include <vector>

namespace quorvane::spectral {
namespace {

// The grid search evaluated the plain way: every grid value in order, the
// first strictly smaller misfit wins.
float plain_grid_fit(const MisfitBand& band, float fallback) {
  float best = 1e36f, rho = fallback, r = 0.0f;
  for (int j = 0; j < 999; ++j, r += 0.001f) {
    const float misfit = mse(r, band);
    if (misfit < best) {
      best = misfit;
      rho = r;
    }
  }
  return rho;
}

std::vector<float> ar1_like_spectrum(int n, float coefficient, float noise, unsigned seed) {
  std::mt19937 gen(seed);
  std::lognormal_distribution<float> scatter(0.0f, noise);
  std::vector<float> s(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const float cs = std::cos(3.14159265f * static_cast<float>(i) / static_cast<float>(n));
    s[static_cast<std::size_t>(i)] =
        (1.0f - coefficient * coefficient) / (1.0f - 2.0f * coefficient * cs + coefficient * coefficient) *
        scatter(gen);
  }
  return s;
}

MisfitBand band_of(const std::vector<float>& smed, float s0, int ilogfit) {
  return MisfitBand{s0, smed, 0.5f, 0.5f / static_cast<float>(smed.size()), 0.0f, ilogfit};
}

TEST(RedNoiseFit, PrunedSearchGivesExactlyThePlainResult) {
  const std::vector<float> huge(10, 1e30f);
  for (int ilogfit : {0, 1}) {
    for (float coefficient : {0.0f, 0.3f, 0.805f, 0.97f}) {
      for (int n : {40, 512, 4097}) {
        const std::vector<float> smed = ar1_like_spectrum(n, coefficient, 0.3f, static_cast<unsigned>(n));
        const float mean = std::accumulate(smed.begin(), smed.end(), 0.0f) / static_cast<float>(n);
        const MisfitBand band = band_of(smed, mean, ilogfit);
        const float fast = red_noise_grid_fit(band, -1.0f);
        EXPECT_EQ(fast, plain_grid_fit(band, -1.0f))
            << "ilogfit " << ilogfit << " coefficient " << coefficient << " n " << n;
        if (n > 500 && ilogfit == 1) { EXPECT_NEAR(fast, coefficient, 0.05f); }
      }
    }
  }
  // (1e30)^2 overflows: no misfit counts and the fallback stays.
  EXPECT_EQ(red_noise_grid_fit(band_of(huge, 1.0f, 0), 0.25f), 0.25f);
  EXPECT_EQ(plain_grid_fit(band_of(huge, 1.0f, 0), 0.25f), 0.25f);
}

// The search evaluates the grid in an order of its own, on two threads for
// long bands; the order decides only the speed. Spectra built to mislead a
// rough start, and ties that any thread could reach first, give the plain
// result.
TEST(RedNoiseFit, TheOrderOfTheSearchNeverChangesTheResult) {
  const int n = 8192;
  // Every 32nd entry (what a sparse look at the band would see) follows a
  // coefficient of 0.2, the rest 0.9.
  const std::vector<float> low = ar1_like_spectrum(n, 0.2f, 0.1f, 1);
  std::vector<float> misleading = ar1_like_spectrum(n, 0.9f, 0.1f, 2);
  for (std::size_t i = 0; i < misleading.size(); i += 32) misleading[i] = low[i];
  const float mean = std::accumulate(misleading.begin(), misleading.end(), 0.0f) / static_cast<float>(n);
  const std::vector<float> zeros(static_cast<std::size_t>(n), 0.0f);
  std::vector<float> with_nan = low;
  with_nan[4000] = std::nanf("");
  struct Case {
    const char* what;
    MisfitBand band;
    float expected;  // NaN: the plain result
  };
  for (int ilogfit : {0, 1}) {
    const Case cases[] = {
        {"misleading", band_of(misleading, mean, ilogfit), std::nanf("")},
        // Every misfit ties at zero: the first grid value wins.
        {"all ties", band_of(zeros, 0.0f, ilogfit), 0.0f},
        // No misfit is a number: none counts.
        {"NaN entry", band_of(with_nan, 1.0f, ilogfit), 0.5f},
    };
    for (const Case& c : cases) {
      const float expected = std::isnan(c.expected) ? plain_grid_fit(c.band, 0.5f) : c.expected;
      if (std::isnan(c.expected)) { EXPECT_GT(expected, 0.6f) << "the full band must win"; }
      for (int repeat = 0; repeat < 3; ++repeat) {
        EXPECT_EQ(red_noise_grid_fit(c.band, 0.5f), expected) << c.what << " ilogfit " << ilogfit;
      }
    }
  }
}

}  // namespace
}  // namespace quorvane::spectral
