#include "spectral/red_noise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace quorvane::spectral {
namespace {

// The grid search evaluated the plain way: every grid value in order, the
// first strictly smaller misfit wins.
float plain_grid_fit(const MisfitBand& band, float fallback) {
  float best = 1e36f;
  float rho = fallback;
  float r = 0.0f;
  for (int j = 0; j < 999; ++j) {
    const float misfit = mse(r, band);
    if (misfit < best) {
      best = misfit;
      rho = r;
    }
    r += 0.001f;
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

TEST(RedNoiseFit, PrunedSearchGivesExactlyThePlainResult) {
  for (int ilogfit : {0, 1}) {
    for (float coefficient : {0.0f, 0.3f, 0.805f, 0.97f}) {
      for (int n : {40, 512, 4097}) {
        const std::vector<float> smed = ar1_like_spectrum(n, coefficient, 0.3f, static_cast<unsigned>(n));
        MisfitBand band;
        float total = 0.0f;
        for (float v : smed) total += v;
        band.s0 = total / static_cast<float>(n);
        band.smed = smed;
        band.df = 0.5f / static_cast<float>(n);
        band.f0 = 0.0f;
        band.fmax = 0.5f;
        band.ilogfit = ilogfit;
        const float fast = red_noise_grid_fit(band, -1.0f);
        EXPECT_EQ(fast, plain_grid_fit(band, -1.0f))
            << "ilogfit " << ilogfit << " coefficient " << coefficient << " n " << n;
        if (n > 500 && ilogfit == 1) {
          EXPECT_NEAR(fast, coefficient, 0.05f);
        }
      }
    }
  }
}

TEST(RedNoiseFit, EqualMisfitsKeepTheFirstGridValue) {
  // A zero spectrum against a zero model: every misfit is 0, so r = 0 stays.
  const std::vector<float> smed(300, 0.0f);
  MisfitBand band;
  band.s0 = 0.0f;
  band.smed = smed;
  band.df = 1.0f / 600.0f;
  band.fmax = 0.5f;
  for (int ilogfit : {0, 1}) {
    band.ilogfit = ilogfit;
    EXPECT_EQ(red_noise_grid_fit(band, 0.7f), 0.0f);
    EXPECT_EQ(plain_grid_fit(band, 0.7f), 0.0f);
  }
}

TEST(RedNoiseFit, NoMisfitBelowTheStartValueKeepsTheFallback) {
  const std::vector<float> smed(10, 1e30f);
  MisfitBand band;
  band.s0 = 1.0f;
  band.smed = smed;
  band.df = 0.05f;
  band.ilogfit = 0;
  // (1e30)^2 overflows: every misfit is infinite.
  EXPECT_EQ(red_noise_grid_fit(band, 0.25f), 0.25f);
  EXPECT_EQ(plain_grid_fit(band, 0.25f), 0.25f);
}

}  // namespace
}  // namespace quorvane::spectral
