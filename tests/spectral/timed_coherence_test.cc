// The cross-spectrum of two records each on its own times: a shared line
// with a known lag found and its phase interval covering the lag, the
// levels holding on independent noise, an evenly spaced pair agreeing with
// the common-grid estimate, and the refusals.
#include "spectral/analyses/coherence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "spectral/significance/surrogates.h"

namespace quorvane::spectral {
namespace {

using std::numbers::pi;

// A record of n times with steps drawn uniformly from 0.5 to 1.5, and,
// when `gaps`, three stretches of 8 steps' length left unsampled.
std::vector<double> jittered_times(int n, bool gaps, RandomStream& random) {
  std::vector<double> t(static_cast<std::size_t>(n));
  double now = 0.0;
  for (int j = 0; j < n; ++j) {
    if (gaps && (j == n / 4 || j == n / 2 || j == 3 * n / 4)) now += 8.0;
    t[static_cast<std::size_t>(j)] = now;
    now += 0.5 + random.uniform();
  }
  return t;
}

struct TimedRecordData {
  std::vector<double> time;
  std::vector<float> y;
};

// Independent AR(1) noise of persistence time tau on each record's own
// times, plus amplitude times a line at frequency f delayed by `lag` in B.
void timed_pair(int n, double tau, double amplitude, double f, double lag, std::uint64_t seed,
                TimedRecordData& a, TimedRecordData& b) {
  RandomStream ta(seed, 10), tb(seed, 11), na(seed, 0), nb(seed, 1);
  a.time = jittered_times(n, false, ta);
  b.time = jittered_times(n, true, tb);
  for (TimedRecordData* r : {&a, &b}) r->y.resize(r->time.size());
  ar1_surrogate_on_times(a.time, tau, 1.0, na, a.y);
  ar1_surrogate_on_times(b.time, tau, 1.0, nb, b.y);
  for (std::size_t j = 0; j < a.y.size(); ++j)
    a.y[j] += static_cast<float>(amplitude * std::sin(2 * pi * f * a.time[j]));
  for (std::size_t j = 0; j < b.y.size(); ++j)
    b.y[j] += static_cast<float>(amplitude * std::sin(2 * pi * f * (b.time[j] - lag)));
}

CoherenceSettings timed_settings(int nwin, int p, int surrogates) {
  CoherenceSettings s;
  s.nwin = nwin;
  s.p = p;
  s.dt = 1.0f;
  s.fmin = 0.0f;
  s.fmax = 0.5f;
  s.surrogates = surrogates;
  s.seed = 3;
  s.jobs = 2;
  return s;
}

TEST(TimedCoherence, SharedLineStandsAboveItsLevelWithTheLagInsideThePhaseInterval) {
#ifdef QUORVANE_SANITIZED
  const int pairs = 40;
#else
  const int pairs = 200;
#endif
  const double f = 0.1, lag = 2.0, truth = 360.0 * f * lag;  // B lags A by 72 degrees
  int above99 = 0, covered = 0, first20 = 0;
  std::vector<float> gains;
  for (int m = 0; m < pairs; ++m) {
    TimedRecordData a, b;
    timed_pair(400, 2.0, 1.0, f, lag, 50 + static_cast<std::uint64_t>(m), a, b);
    CoherenceResult r;
    TimedPair pair;
    ASSERT_TRUE(coherence_on_times(a.time, a.y, b.time, b.y, timed_settings(5, 3, 0), r, pair));
    const std::size_t i = static_cast<std::size_t>(std::lround((f - r.f0) / r.df));
    const bool coherent = r.coherence[i] > r.levels[3][i];
    above99 += coherent;
    if (m < 20) first20 += coherent;
    covered += r.phase_lower[i] <= truth && truth <= r.phase_upper[i];
    EXPECT_LE(r.coherence_lower[i], r.coherence[i]);
    EXPECT_GE(r.coherence_upper[i], r.coherence[i]);
    gains.push_back(r.gain[i]);
  }
  // Equal amplitudes at different densities (B has gaps): the typical
  // gain is 1, as each record's coefficients are on one scale.
  std::sort(gains.begin(), gains.end());
  EXPECT_NEAR(gains[gains.size() / 2], 1.0, 0.1);
  EXPECT_GE(first20, 19);
  EXPECT_GE(above99, pairs * 19 / 20);
  const double coverage = static_cast<double>(covered) / pairs;
  EXPECT_NEAR(coverage, 0.95, 0.05);
  RecordProperty("above99", above99);
  RecordProperty("covered", covered);
}

TEST(TimedCoherence, LevelsHoldOnIndependentNoiseAtEveryFrequencyAndOverTheBand) {
#ifdef QUORVANE_SANITIZED
  const int analytic_pairs = 30, montecarlo_pairs = 4, band_pairs = 8;
#else
  const int analytic_pairs = 150, montecarlo_pairs = 16, band_pairs = 60;
#endif
  // Per frequency: the analytic level and the surrogates' level, each
  // exceeded at 5 % of the entries of many pairs.
  struct Case {
    int surrogates;
    int pairs;
  };
  for (const Case& c : {Case{0, analytic_pairs}, Case{99, montecarlo_pairs}}) {
    double above = 0.0, entries = 0.0;
    for (int m = 0; m < c.pairs; ++m) {
      TimedRecordData a, b;
      timed_pair(300, 1.5, 0.0, 0.0, 0.0, 1000 + static_cast<std::uint64_t>(m), a, b);
      CoherenceResult r;
      TimedPair pair;
      ASSERT_TRUE(
          coherence_on_times(a.time, a.y, b.time, b.y, timed_settings(5, 3, c.surrogates), r, pair));
      for (std::size_t i = 0; i < r.coherence.size(); ++i) {
        above += r.coherence[i] > r.levels[2][i] ? 1.0 : 0.0;
        entries += 1.0;
      }
    }
    EXPECT_NEAR(above / entries, 0.05, 0.0125) << "surrogates " << c.surrogates;
    RecordProperty(c.surrogates > 0 ? "montecarlo_rate" : "analytic_rate",
                   std::to_string(above / entries));
  }
  // Over the band: the largest coherence of a pair passes the band-wide
  // 95 % level in about 5 % of pairs (at most 4 of 60 by more than chance).
  int exceeded = 0;
  for (int m = 0; m < band_pairs; ++m) {
    TimedRecordData a, b;
    timed_pair(200, 1.5, 0.0, 0.0, 0.0, 5000 + static_cast<std::uint64_t>(m), a, b);
    CoherenceResult r;
    TimedPair pair;
    ASSERT_TRUE(coherence_on_times(a.time, a.y, b.time, b.y, timed_settings(5, 3, 99), r, pair));
    ASSERT_GT(r.band_wide[0], r.levels[2][0]);
    float largest = 0.0f;
    for (float v : r.coherence) largest = std::max(largest, v);
    exceeded += largest > r.band_wide[0];
  }
  EXPECT_LE(exceeded, band_pairs / 10 + 1);
  RecordProperty("band_wide_exceeded", exceeded);
}

TEST(TimedCoherence, AnEvenPairOnOneGridAgreesWithTheCommonGridEstimate) {
  // The same values on the same integer times: the span's tapers at the
  // times are the common grid's up to their interpolation (a grid of 1024
  // cells for 512 values), and the grids of frequencies coincide.
  const int n = 512;
  RandomStream ra(9, 0), rb(9, 1);
  std::vector<float> a(n), b(n);
  ar1_surrogate(0.5, 1.0, ra, a);
  ar1_surrogate(0.5, 1.0, rb, b);
  for (int t = 0; t < n; ++t)
    b[static_cast<std::size_t>(t)] += static_cast<float>(std::sin(2 * pi * 0.2 * t) +
                                                          0.5 * a[static_cast<std::size_t>(t)]);
  std::vector<double> time(n);
  for (int t = 0; t < n; ++t) time[static_cast<std::size_t>(t)] = t;
  CoherenceSettings s = timed_settings(4, 3, 0);
  CoherenceResult grid, timed;
  TimedPair pair;
  ASSERT_TRUE(coherence(a, b, s, grid));
  ASSERT_TRUE(coherence_on_times(time, a, time, b, s, timed, pair));
  EXPECT_EQ(pair.count_a, static_cast<std::size_t>(n));
  EXPECT_DOUBLE_EQ(pair.span, n);
  // The common grid's transform is twice as long: its every other entry is
  // an entry of the span's grid.
  ASSERT_FLOAT_EQ(timed.df, 2.0f * grid.df);
  int compared = 0;
  for (std::size_t i = 1; i + 1 < timed.coherence.size(); ++i) {
    const std::size_t j = 2 * i;
    ASSERT_LT(j, grid.coherence.size());
    EXPECT_NEAR(grid.coherence[j], timed.coherence[i], 2e-3) << i;
    if (grid.coherence[j] > 0.3f) {
      EXPECT_NEAR(grid.phase[j], timed.phase[i], 0.5) << i;
      ++compared;
    }
    EXPECT_NEAR(grid.spectrum_a[j], timed.spectrum_a[i], 2e-3 * grid.spectrum_a[j]) << i;
  }
  EXPECT_GT(compared, 10);
}

TEST(TimedCoherence, RefusesWhatItCannotAnalyse) {
  std::vector<double> t(40), late(40), back(40);
  std::vector<float> y(40, 0.0f), bad(40, 0.0f);
  for (std::size_t j = 0; j < t.size(); ++j) {
    t[j] = static_cast<double>(j);
    late[j] = 100.0 + static_cast<double>(j);
    back[j] = 40.0 - static_cast<double>(j);
    y[j] = static_cast<float>(std::sin(0.7 * static_cast<double>(j)));
  }
  bad[5] = std::nanf("");
  const CoherenceSettings s = timed_settings(3, 2, 0);
  CoherenceSettings adaptive = s;
  adaptive.adaptive = true;
  CoherenceSettings many = s;
  many.nwin = 8;
  many.p = 5;
  struct Case {
    const char* what;
    std::span<const double> ta;
    std::span<const float> a;
    std::span<const double> tb;
    std::span<const float> b;
    CoherenceSettings s;
    const char* says;
  };
  const std::span<const float> short_y = std::span<const float>(y).subspan(0, 30);
  for (const Case& c : {
           Case{"disjoint", t, y, late, y, s, "do not overlap"},
           Case{"decreasing", back, y, t, y, s, "must increase"},
           Case{"not finite", t, bad, t, y, s, "not a finite"},
           Case{"counts", t, y, t, short_y, s, "40 times for 30 values"},
           Case{"adaptive without surrogates", t, y, t, y, adaptive, "no analytic level"},
           Case{"too few in common", t, y, std::span<const double>(t).subspan(32), std::span<const float>(y).subspan(32), many, "at least 16"},
       }) {
    CoherenceResult r;
    r.count = -7;
    TimedPair pair;
    const Status status = coherence_on_times(c.ta, c.a, c.tb, c.b, c.s, r, pair);
    EXPECT_FALSE(status) << c.what;
    EXPECT_NE(status.message.find(c.says), std::string::npos) << c.what << ": " << status.message;
    EXPECT_EQ(r.count, -7) << c.what;
  }
}

}  // namespace
}  // namespace quorvane::spectral
