#include "spectral/stages/red_noise.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory_resource>
#include <numeric>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "spectral/numerics/running_median.h"

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

// One spectrum of the identity table: a median-smoothed spectrum of some
// shape, scatter and units over a band of some length and position.
struct TableEntry {
  std::vector<float> smed;
  MisfitBand band;
  std::string what;
};

TableEntry random_entry(std::mt19937& gen) {
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const int lengths[] = {1, 2, 3, 7, 8, 9, 63, 64, 65, 100, 257, 1000};
  const int length = unit(gen) < 0.5f ? lengths[gen() % 12] : 1 + static_cast<int>(gen() % 5000);
  const float coefficient = unit(gen) < 0.1f ? 0.0f : unit(gen) < 0.2f ? 0.995f + 0.004f * unit(gen) : unit(gen);
  const float scatter = std::vector<float>{0.0f, 0.01f, 0.3f, 1.0f, 3.0f}[gen() % 5];
  const int shape = static_cast<int>(gen() % 4);  // AR(1), flat, steep power law, with zeros
  const float units = std::pow(10.0f, std::vector<float>{0.0f, -30.0f, -20.0f, 6.0f, 25.0f, 35.0f}[gen() % 6]);
  TableEntry e;
  e.smed = ar1_like_spectrum(length, coefficient, std::max(scatter, 1e-6f), gen());
  for (std::size_t i = 0; i < e.smed.size(); ++i) {
    float& v = e.smed[i];
    if (shape == 1) v = 1.0f + scatter * unit(gen);
    if (shape == 2) v = std::pow(static_cast<float>(i + 1), -3.0f) * (1.0f + scatter * unit(gen));
    if (shape == 3 && unit(gen) < 0.2f) v = 0.0f;
    v *= units;
  }
  const float dt = std::vector<float>{1.0f, 0.25f, 1.0f / 12.0f, 7.0f}[gen() % 4];
  const float nyquist = 0.5f / dt;
  const bool partial = unit(gen) < 0.4f;
  const float df = nyquist / static_cast<float>(partial ? length * 3 : length);
  const float f0 = partial ? df * static_cast<float>(gen() % static_cast<unsigned>(2 * length + 1)) : 0.0f;
  const float mean = std::accumulate(e.smed.begin(), e.smed.end(), 0.0f) / static_cast<float>(length);
  e.band = MisfitBand{mean, {}, nyquist, df, f0, gen() % 2 == 1 ? Fit::log : Fit::linear, !partial};
  e.what = "length " + std::to_string(length) + " coefficient " + std::to_string(coefficient) +
           " scatter " + std::to_string(scatter) + " shape " + std::to_string(shape) + " units " +
           std::to_string(units) + " partial " + std::to_string(partial) + " log " +
           std::to_string(e.band.fit == Fit::log);
  return e;
}

// The identity table: the screened search must return the coefficient, bit
// for bit, that evaluating every grid value in order returns, whatever the
// spectrum: AR(1) spectra
// of every coefficient up to the grid's end, flat, steep and zero-filled
// ones, in units from 1e-30 to 1e35, over whole and partial bands, both
// misfits, lengths from a single entry to thousands (the longest on two
// threads).
TEST(RedNoiseFit, EqualsTheSearchItReplacedOnARandomTable) {
#ifdef QUORVANE_SANITIZED
  const int count = 60;
#else
  const int count = 400;
#endif
  std::mt19937 gen(2024);
  int fitted_inside = 0;
  RedFitCache kept;
  for (int k = 0; k < count; ++k) {
    TableEntry e = random_entry(gen);
    e.band.smed = e.smed;
    const float fast = red_noise_grid_fit(e.band, -1.0f);
    const float expected = plain_grid_fit(e.band, -1.0f);
    ASSERT_EQ(std::bit_cast<std::uint32_t>(fast), std::bit_cast<std::uint32_t>(expected))
        << k << ": " << e.what;
    // The series screen, with a cache made for this band (on its second
    // fit) or kept from another one.
    RedFitCache own;
    for (int repeat = 0; repeat < 2; ++repeat)
      ASSERT_EQ(std::bit_cast<std::uint32_t>(red_noise_grid_fit(e.band, -1.0f, std::pmr::get_default_resource(), &own)),
                std::bit_cast<std::uint32_t>(expected)) << k << ": " << e.what;
    ASSERT_EQ(std::bit_cast<std::uint32_t>(red_noise_grid_fit(e.band, -1.0f, std::pmr::get_default_resource(), &kept)),
              std::bit_cast<std::uint32_t>(expected)) << k << ": " << e.what;
    if (expected > 0.0f) ++fitted_inside;
  }
  // The table is no set of degenerate cases where the first grid value wins.
  EXPECT_GT(fitted_inside, count / 2);
}

// The series screen's bound is what makes its search exact: every grid
// value's single-precision misfit must lie within it. Checked on every grid
// value of spectra of the table (the log misfit, where the screen applies).
// On the spectra it is made for, AR(1) spectra smoothed by a running median
// over the whole band, the bound must also be tight enough to leave at most
// a few grid values to evaluate.
TEST(RedNoiseFit, TheSeriesScreenBoundsEveryGridMisfit) {
#ifdef QUORVANE_SANITIZED
  const int count = 30;
#else
  const int count = 150;
#endif
  std::mt19937 gen(77);
  RedFitCache cache;
  int screened = 0;
  for (int k = 0; k < count * 3 && screened < count; ++k) {
    TableEntry e = random_entry(gen);
    e.band.smed = e.smed;
    e.band.fit = Fit::log;
    const ScreenedGrid grid = series_screen(e.band, cache);
    if (grid.misfit.empty()) continue;
    ++screened;
    float r = 0.0f;
    for (std::size_t j = 0; j < grid.misfit.size(); ++j, r += 0.001f) {
      if (std::isinf(grid.bound[j])) continue;
      ASSERT_LE(std::fabs(mse(r, e.band) - grid.misfit[j]), grid.bound[j])
          << k << " grid value " << j << ": " << e.what;
    }
  }
  EXPECT_GT(screened, count / 2);

  for (int length : {64, 512, 4096}) {
    for (float coefficient : {0.0f, 0.5f, 0.9f, 0.99f}) {
      std::vector<float> smed(static_cast<std::size_t>(length));
      running_median(ar1_like_spectrum(length, coefficient, 0.5f, 9), length / 10, smed);
      const MisfitBand band = band_of(smed, std::accumulate(smed.begin(), smed.end(), 0.0f) / length, 1);
      const ScreenedGrid grid = series_screen(band, cache);
      ASSERT_FALSE(grid.misfit.empty());
      double limit = std::numeric_limits<double>::infinity();
      for (std::size_t j = 0; j < grid.misfit.size(); ++j) limit = std::min(limit, grid.misfit[j] + grid.bound[j]);
      int kept = 0;
      for (std::size_t j = 0; j < grid.misfit.size(); ++j) kept += grid.misfit[j] - grid.bound[j] <= limit;
      EXPECT_LE(kept, 3) << length << " " << coefficient;
    }
  }
}

}  // namespace
}  // namespace quorvane::spectral
