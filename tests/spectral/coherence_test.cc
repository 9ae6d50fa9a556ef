// The cross-spectrum of two records: a shared line with a known lag, the
// false-alarm rate of the levels on independent noise, agreement with a
// direct computation from the tapers, and the refusals.
#include "spectral/analyses/coherence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <vector>

#include "spectral/estimators/even.h"
#include "spectral/significance/surrogates.h"

namespace quorvane::spectral {
namespace {

using std::numbers::pi;

// Independent AR(1) noise in each record, plus amplitude times a line at
// frequency f, delayed by `lag` (time units) in B.
void noisy_pair(int n, double rho, double amplitude, double f, double lag, std::uint64_t seed,
                std::vector<float>& a, std::vector<float>& b) {
  a.resize(static_cast<std::size_t>(n));
  b.resize(a.size());
  RandomStream ra(seed, 0), rb(seed, 1);
  ar1_surrogate(rho, 1.0, ra, a);
  ar1_surrogate(rho, 1.0, rb, b);
  for (int t = 0; t < n; ++t) {
    a[static_cast<std::size_t>(t)] += static_cast<float>(amplitude * std::sin(2 * pi * f * t));
    b[static_cast<std::size_t>(t)] +=
        static_cast<float>(amplitude * std::sin(2 * pi * f * (t - lag)));
  }
}

CoherenceSettings settings(int nwin, int p, bool adaptive, int surrogates) {
  CoherenceSettings s;
  s.nwin = nwin;
  s.p = p;
  s.adaptive = adaptive;
  s.surrogates = surrogates;
  s.seed = 7;
  s.jobs = 2;
  return s;
}

TEST(Coherence, SharedLineIsCoherentWithItsLagInsideThePhaseInterval) {
  struct Case {
    bool adaptive;
    int surrogates;
    double lag;
  };
  const double f = 0.1;  // on the grid of 1024 values: entry 102.4, between bins
  const int pairs = 20, half_bandwidth = 3;  // p = 3 bins of 1 / 1024 either side
  for (const Case& c : {Case{false, 0, 2.0}, Case{false, 0, -1.5}, Case{true, 19, 1.0}}) {
    SCOPED_TRACE(testing::Message() << "adaptive " << c.adaptive << " lag " << c.lag);
    const double truth = 360.0 * f * c.lag;  // positive when B lags A
    int covered = 0;
    for (int m = 0; m < pairs; ++m) {
      std::vector<float> a, b;
      noisy_pair(1024, 0.5, 1.0, f, c.lag, 11 + static_cast<std::uint64_t>(m), a, b);
      CoherenceResult r;
      ASSERT_TRUE(coherence(a, b, settings(5, 3, c.adaptive, c.surrogates), r));
      const int at = static_cast<int>(std::lround(f / r.df));
      const std::size_t i = static_cast<std::size_t>(at);
      EXPECT_GT(r.coherence[i], r.levels[3][i]);
      // An interval narrower than a quarter cycle of the line, which
      // covers the lag 95 % of the time (t with K - 1 = 4 degrees of
      // freedom makes it wide).
      EXPECT_LT(r.phase_upper[i] - r.phase_lower[i], 90.0);
      covered += r.phase_lower[i] <= truth && truth <= r.phase_upper[i];
      EXPECT_LE(r.coherence_lower[i], r.coherence[i]);
      EXPECT_GE(r.coherence_upper[i], r.coherence[i]);
      // Equal amplitudes: a gain near 1 (the noise adds to S_aa).
      EXPECT_NEAR(r.gain[i], 1.0, 0.4);
      bool found = false;
      for (const CoherentMaximum& x : r.coherent)
        found = found || (std::abs(x.entry - at) <= half_bandwidth && x.level == 99);
      EXPECT_TRUE(found);
    }
    // A 95 % interval: fewer than 16 of 20 covering has a chance of 0.3 %.
    EXPECT_GE(covered, 16);
  }
}

// How often independent AR(1) records exceed the 95 % level, over every
// entry of many pairs.
double exceedance(const CoherenceSettings& s, int pairs, double rho) {
  double above = 0.0, entries = 0.0;
  for (int m = 0; m < pairs; ++m) {
    std::vector<float> a, b;
    noisy_pair(512, rho, 0.0, 0.0, 0.0, 100 + static_cast<std::uint64_t>(m), a, b);
    CoherenceResult r;
    EXPECT_TRUE(coherence(a, b, s, r));
    for (int i = 0; i < r.count; ++i) {
      const std::size_t e = static_cast<std::size_t>(i);
      above += r.coherence[e] > r.levels[2][e] ? 1.0 : 0.0;
      entries += 1.0;
    }
  }
  return above / entries;
}

TEST(Coherence, LevelsHoldOnIndependentNoise) {
#ifdef QUORVANE_SANITIZED
  const int pairs = 40, mc_pairs = 4;
#else
  const int pairs = 200, mc_pairs = 20;
#endif
  struct Case {
    CoherenceSettings s;
    int pairs;
    double rho;
  };
  for (const Case& c : {Case{settings(3, 2, false, 0), pairs, 0.0},
                        Case{settings(7, 4, false, 0), pairs, 0.7},
                        Case{settings(5, 3, false, 99), mc_pairs, 0.5},
                        Case{settings(5, 3, true, 99), mc_pairs, 0.7}}) {
    const double rate = exceedance(c.s, c.pairs, c.rho);
    EXPECT_NEAR(rate, 0.05, 0.0125) << "K " << c.s.nwin << " adaptive " << c.s.adaptive
                                    << " surrogates " << c.s.surrogates;
  }
}

TEST(Coherence, EqualWeightsAgreeWithTheTapersTransformedDirectly) {
  const int n = 700, nwin = 4, p = 3;
  std::vector<float> a, b;
  noisy_pair(n, 0.3, 1.0, 0.21, 3.0, 5, a, b);
  CoherenceSettings s = settings(nwin, p, false, 0);
  s.pad = 2;
  CoherenceResult r;
  ASSERT_TRUE(coherence(a, b, s, r));
  SpecSettings spec_settings;
  spec_settings.npts = n;
  spec_settings.nwin = nwin;
  spec_settings.p = p;
  RunTapers tapers;
  ASSERT_TRUE(spec_tapers(spec_settings, tapers));
  const int nfft = 2048;  // pad 2: the power of two at or above 1400
  ASSERT_FLOAT_EQ(r.df, 1.0f / nfft);
  double mean_a = 0.0, mean_b = 0.0;
  for (int t = 0; t < n; ++t) {
    mean_a += a[static_cast<std::size_t>(t)] / n;
    mean_b += b[static_cast<std::size_t>(t)] / n;
  }
  for (int bin : {3, 100, 430, 431, 777, 1023}) {
    std::complex<double> sab = 0.0;
    double saa = 0.0, sbb = 0.0;
    for (int k = 0; k < nwin; ++k) {
      std::complex<double> ya = 0.0, yb = 0.0;
      for (int t = 0; t < n; ++t) {
        const double v = tapers.v[static_cast<std::size_t>(k * n + t)];
        const std::complex<double> e = std::polar(1.0, -2.0 * pi * bin * t / nfft);
        ya += (a[static_cast<std::size_t>(t)] - mean_a) * v * e;
        yb += (b[static_cast<std::size_t>(t)] - mean_b) * v * e;
      }
      sab += ya * std::conj(yb);
      saa += std::norm(ya);
      sbb += std::norm(yb);
    }
    const std::size_t i = static_cast<std::size_t>(bin);
    EXPECT_NEAR(r.coherence[i], std::norm(sab) / (saa * sbb), 2e-5) << "bin " << bin;
    EXPECT_NEAR(r.phase[i], std::arg(sab) * 180.0 / pi, 2e-3) << "bin " << bin;
    EXPECT_NEAR(r.spectrum_a[i] / (saa / nwin), 1.0, 2e-5);
    EXPECT_NEAR(r.gain[i] / (std::abs(sab) / saa), 1.0, 2e-5);
  }
}

TEST(Coherence, RefusesWhatItCannotAnalyseAndLeavesTheResult) {
  const std::vector<float> ten(10, 1.0f), eleven(11, 1.0f);
  std::vector<float> bad(100, 1.0f), good(100, 2.0f);
  bad[41] = std::nanf("");
  struct Case {
    const std::vector<float>* a;
    const std::vector<float>* b;
    CoherenceSettings s;
    const char* says;
  };
  for (const Case& c : {Case{&ten, &eleven, settings(3, 2, false, 0), "10 and 11"},
                        Case{&ten, &ten, settings(7, 4, false, 0), "at least 14"},
                        Case{&good, &good, settings(1, 1, false, 0), "at least 2 tapers"},
                        Case{&good, &good, settings(3, 2, true, 0), "no analytic level"},
                        Case{&bad, &good, settings(3, 2, false, 0), "Value 42 of record A"}}) {
    CoherenceResult r;
    r.count = -5;
    const Status status = coherence(*c.a, *c.b, c.s, r);
    EXPECT_FALSE(status);
    EXPECT_NE(status.message.find(c.says), std::string::npos) << status.message;
    EXPECT_EQ(r.count, -5);
  }
}

}  // namespace
}  // namespace quorvane::spectral
