#include "spectral/stages/red_noise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>
#include <span>
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
  return MisfitBand{s0, smed, 0.5f, 0.5f / static_cast<float>(smed.size()), 0.0f,
                    ilogfit == 1 ? Fit::log : Fit::linear};
}

// The search prunes the grid, evaluates it in an order of its own and on two
// threads for long bands; that decides only the speed. AR(1)-like spectra,
// spectra built to mislead a rough start, ties that any thread could reach
// first and misfits that are no number give the plain result.
TEST(RedNoiseFit, TheFastSearchGivesExactlyThePlainResult) {
  const int n = 8192;
  // Every 32nd entry (what a sparse look at the band would see) follows a
  // coefficient of 0.2, the rest 0.9.
  const std::vector<float> low = ar1_like_spectrum(n, 0.2f, 0.1f, 1);
  std::vector<float> misleading = ar1_like_spectrum(n, 0.9f, 0.1f, 2);
  for (std::size_t i = 0; i < misleading.size(); i += 32) misleading[i] = low[i];
  std::vector<float> with_nan = low;
  with_nan[4000] = std::nanf("");
  const std::vector<float> zeros(n, 0.0f), huge(10, 1e30f);
  const auto mean = [](const std::vector<float>& v) {
    return std::accumulate(v.begin(), v.end(), 0.0f) / static_cast<float>(v.size());
  };
  for (int ilogfit : {0, 1}) {
    for (float coefficient : {0.0f, 0.3f, 0.805f, 0.97f}) {
      for (int length : {40, 512, 4097}) {
        const std::vector<float> smed = ar1_like_spectrum(length, coefficient, 0.3f, static_cast<unsigned>(length));
        const MisfitBand band = band_of(smed, mean(smed), ilogfit);
        const float fast = red_noise_grid_fit(band, -1.0f);
        EXPECT_EQ(fast, plain_grid_fit(band, -1.0f)) << ilogfit << " " << coefficient << " " << length;
        if (length > 500 && ilogfit == 1) { EXPECT_NEAR(fast, coefficient, 0.05f); }
      }
    }
    // The upper half of the band, whose model level follows the coefficient.
    MisfitBand upper = band_of(low, mean(low), ilogfit);
    upper.smed = std::span<const float>(low).subspan(n / 2);
    upper.f0 = 0.25f;
    upper.full_band = false;
    const struct { const char* what; MisfitBand band; float expected; } cases[] = {
        {"misleading", band_of(misleading, mean(misleading), ilogfit), plain_grid_fit(band_of(misleading, mean(misleading), ilogfit), 0.5f)},
        {"upper half", upper, plain_grid_fit(upper, 0.5f)},
        {"all ties", band_of(zeros, 0.0f, ilogfit), 0.0f},  // the first grid value
        {"NaN entry", band_of(with_nan, 1.0f, ilogfit), 0.5f},  // no misfit counts
        {"overflow", band_of(huge, 1.0f, 0), 0.5f},  // (1e30)^2 overflows
    };
    EXPECT_GT(cases[0].expected, 0.6f) << "the full band must win";
    for (const auto& c : cases) {
      EXPECT_EQ(plain_grid_fit(c.band, 0.5f), c.expected) << c.what;
      for (int repeat = 0; repeat < 3; ++repeat)
        EXPECT_EQ(red_noise_grid_fit(c.band, 0.5f), c.expected) << c.what << " ilogfit " << ilogfit;
    }
  }
}

}  // namespace
}  // namespace quorvane::spectral
