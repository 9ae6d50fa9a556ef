// The refinements of the spectrum run: padding, exact concentrations,
// median bias correction, jackknife interval and Monte Carlo levels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "spectral/estimators/even.h"
#include "spectral/significance/surrogates.h"

namespace quorvane::spectral {
namespace {

constexpr double kPi = 3.14159265358979323846;

SpecSettings settings_for(int npts) {
  SpecSettings s;
  s.npts = npts;
  s.fsmooth = 0.1f;
  return s;
}

std::vector<float> ar1_noise(int n, double rho, std::uint64_t seed, double variance = 1.0) {
  std::vector<float> y(static_cast<std::size_t>(n));
  RandomStream random(seed, 0);
  ar1_surrogate(rho, variance, random, y);
  return y;
}

TEST(Padding, LetsTheFTestFindALineHalfABinOffTheGrid) {
  // 1024 values: without padding the bins lie 1/1024 apart and the line at
  // 100.5/1024 falls between two of them.
  constexpr int kN = 1024;
  const double f = 100.5 / kN;
  std::vector<float> y = ar1_noise(kN, 0.0, 8, 0.01);
  for (int t = 0; t < kN; ++t) y[static_cast<std::size_t>(t)] += static_cast<float>(std::sin(2.0 * kPi * f * t));
  for (int pad : {1, 2}) {
    SCOPED_TRACE(testing::Message() << "pad " << pad);
    SpecSettings s = settings_for(kN);
    s.pad = pad;
    SpecResults r;
    ASSERT_TRUE(spec(y, s, r).ok);
    // The largest F statistic within one original bin of the line.
    float largest = 0.0f;
    for (int i = 0; i < r.nf - 1; ++i) {
      if (std::fabs(r.f0 + static_cast<float>(i) * r.df - f) <= 1.0 / kN) {
        largest = std::max(largest, r.ftest[static_cast<std::size_t>(i)]);
      }
    }
    if (pad == 1) {
      EXPECT_LT(largest, r.fconf[3]);
    } else {
      EXPECT_GT(largest, r.fconf[3]);
    }
  }
}

TEST(MedianBiasCorrection, RaisesTheMedianToTheMeanLevelTheBackgroundStandsFor) {
  const std::vector<float> y = ar1_noise(2048, 0.5, 3);
  for (Noise noise : {Noise::red, Noise::local}) {
    SCOPED_TRACE(noise == Noise::red ? "red noise" : "locally-white noise");
    SpecSettings s = settings_for(2048);
    s.noise = noise;
    SpecResults plain, corrected;
    ASSERT_TRUE(spec(y, s, plain).ok);
    s.median_bias_correction = true;
    ASSERT_TRUE(spec(y, s, corrected).ok);
    EXPECT_EQ(corrected.specraw0, plain.specraw0);
    for (int i = 0; i < plain.nf - 1; ++i) {
      const std::size_t at = static_cast<std::size_t>(i);
      ASSERT_EQ(corrected.specmed0[at], plain.specmed0[at] / plain.conf[0]) << i;
      // Locally-white: the corrected median itself, not conf[0] times it.
      if (noise == Noise::local) {
        ASSERT_EQ(corrected.specback0[at], corrected.specmed0[at]) << i;
      }
    }
    if (noise == Noise::red) {
      EXPECT_NEAR(corrected.s0, plain.s0 / plain.conf[0], 1e-3 * corrected.s0);
      EXPECT_NEAR(corrected.rho, plain.rho, 0.01);  // the shape is unchanged
    }
  }
}

TEST(ExactConcentrations, ReweighTheAdaptiveEstimateButNotTheFTest) {
  // Strongly red noise: at high frequencies the broadband leakage that the
  // adaptive weights guard against depends on 1 - concentration.
  const std::vector<float> y = ar1_noise(4096, 0.9, 4);
  SpecSettings s = settings_for(4096);
  SpecResults asymptotic, exact;
  ASSERT_TRUE(spec(y, s, asymptotic).ok);
  s.exact_concentrations = true;
  ASSERT_TRUE(spec(y, s, exact).ok);
  EXPECT_EQ(exact.ftest, asymptotic.ftest);
  int moved = 0, high = 0;
  for (int i = (exact.nf - 1) / 2; i < exact.nf - 1; ++i, ++high) {
    const std::size_t at = static_cast<std::size_t>(i);
    if (std::fabs(exact.specraw0[at] / asymptotic.specraw0[at] - 1.0f) > 0.05f) ++moved;
  }
  EXPECT_GT(moved, high / 50);
}

TEST(Jackknife, IntervalHoldsTheEstimateAndCoversTheTrueLevelOfWhiteNoise) {
  // White noise of variance 1: on the scale of the eigenspectra (no
  // normalisation, tapers with a sum of squares N) its level is N.
  constexpr int kN = 16384;
  const std::vector<float> y = ar1_noise(kN, 0.0, 5);
  for (Estimate estimate : {Estimate::hires, Estimate::adaptive}) {
    SCOPED_TRACE(estimate == Estimate::adaptive ? "adaptive" : "high-resolution");
    SpecSettings s = settings_for(kN);
    s.estimate = estimate;
    s.jackknife = true;
    SpecResults r;
    ASSERT_TRUE(spec(y, s, r).ok);
    ASSERT_EQ(r.jackknife_lower.size(), static_cast<std::size_t>(r.nf));
    ASSERT_EQ(r.jackknife_upper.size(), static_cast<std::size_t>(r.nf));
    int covered = 0;
    const int m = r.nf - 1;
    for (int i = 0; i < m; ++i) {
      const std::size_t at = static_cast<std::size_t>(i);
      ASSERT_LE(r.jackknife_lower[at], r.specraw0[at]) << i;
      ASSERT_GE(r.jackknife_upper[at], r.specraw0[at]) << i;
      if (r.jackknife_lower[at] <= kN && kN <= r.jackknife_upper[at]) ++covered;
    }
    const double coverage = static_cast<double>(covered) / m;
    EXPECT_GE(coverage, 0.90);
    EXPECT_LE(coverage, 0.99);
  }
  // A constant series has a zero spectrum and a zero-width interval.
  SpecSettings s = settings_for(1000);
  SpecResults r;
  s.jackknife = true;
  ASSERT_TRUE(spec(std::vector<float>(1000, 3.0f), s, r).ok);
  EXPECT_TRUE(std::all_of(r.jackknife_upper.begin(), r.jackknife_upper.end(), [](float v) { return v == 0.0f; }));
}

}  // namespace
}  // namespace quorvane::spectral
