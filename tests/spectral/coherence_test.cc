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

TEST(Coherence, EqualWeightsAndTheirIntervalsAgreeWithTheTapersTransformedDirectly) {
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
  // Student's t at 97.5 % with K - 1 = 3 degrees of freedom, from tables.
  const double t3 = 3.182446305284263;
  for (int bin : {3, 100, 430, 431, 777, 1023}) {
    std::complex<double> ya[nwin], yb[nwin];
    std::complex<double> sab = 0.0;
    double saa = 0.0, sbb = 0.0;
    for (int k = 0; k < nwin; ++k) {
      ya[k] = yb[k] = 0.0;
      for (int t = 0; t < n; ++t) {
        const double v = tapers.v[static_cast<std::size_t>(k * n + t)];
        const std::complex<double> e = std::polar(1.0, -2.0 * pi * bin * t / nfft);
        ya[k] += (a[static_cast<std::size_t>(t)] - mean_a) * v * e;
        yb[k] += (b[static_cast<std::size_t>(t)] - mean_b) * v * e;
      }
      sab += ya[k] * std::conj(yb[k]);
      saa += std::norm(ya[k]);
      sbb += std::norm(yb[k]);
    }
    const std::size_t i = static_cast<std::size_t>(bin);
    const double phase = std::arg(sab) * 180.0 / pi;
    EXPECT_NEAR(r.coherence[i], std::norm(sab) / (saa * sbb), 2e-5) << "bin " << bin;
    EXPECT_NEAR(r.phase[i], phase, 2e-3) << "bin " << bin;
    EXPECT_NEAR(r.spectrum_a[i] / (saa / nwin), 1.0, 2e-5);
    EXPECT_NEAR(r.gain[i] / (std::abs(sab) / saa), 1.0, 2e-5);

    // The delete-one-taper jackknife (Thomson & Chave 1991): the coherence
    // interval on atanh of its root, the phase interval from the resultant
    // of the unit cross-spectra left when each taper is deleted, whose
    // variance is 2 (K - 1) (1 - resultant) radians squared.
    double z[nwin], mean_z = 0.0;
    std::complex<double> resultant = 0.0;
    for (int k = 0; k < nwin; ++k) {
      const std::complex<double> cross = sab - ya[k] * std::conj(yb[k]);
      const double c = std::norm(cross) / ((saa - std::norm(ya[k])) * (sbb - std::norm(yb[k])));
      z[k] = std::atanh(std::sqrt(c));
      mean_z += z[k] / nwin;
      resultant += cross / std::abs(cross);
    }
    double spread = 0.0;
    for (int k = 0; k < nwin; ++k) spread += (z[k] - mean_z) * (z[k] - mean_z);
    const double half_z = t3 * std::sqrt((nwin - 1.0) / nwin * spread);
    const double centre = std::atanh(std::sqrt(std::norm(sab) / (saa * sbb)));
    const double low = std::tanh(std::max(centre - half_z, 0.0)), high = std::tanh(centre + half_z);
    EXPECT_NEAR(r.coherence_lower[i], low * low, 1e-4) << "bin " << bin;
    EXPECT_NEAR(r.coherence_upper[i], high * high, 1e-4) << "bin " << bin;
    const double spread_phase = 2.0 * (nwin - 1) * (1.0 - std::abs(resultant) / nwin);
    const double half_phase = std::min(t3 * std::sqrt(spread_phase) * 180.0 / pi, 180.0);
    EXPECT_NEAR(r.phase_lower[i], phase - half_phase, 0.05) << "bin " << bin;
    EXPECT_NEAR(r.phase_upper[i], phase + half_phase, 0.05) << "bin " << bin;
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
