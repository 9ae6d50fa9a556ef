// The missing-data estimator: its tapers against the ordinary ones and a
// dense eigensolution, lines found in records with long gaps where the
// contiguous treatment moves them, and its agreement with the complete
// record when samples are missing at random.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "spectral/estimators/even.h"
#include "spectral/estimators/gaps.h"
#include "spectral/numerics/gap_tapers.h"
#include "spectral/numerics/lapack_tridiagonal.h"
#include "spectral/numerics/tapers.h"
#include "spectral/significance/surrogates.h"
#include "spectral/stages/peaks.h"

namespace quorvane::spectral {
namespace {

// The grid positions 0 .. n-1 less the blocks [from, to).
std::vector<std::int64_t> positions(int n, std::vector<std::pair<int, int>> gaps) {
  std::vector<std::int64_t> index;
  for (int t = 0; t < n; ++t) {
    if (std::none_of(gaps.begin(), gaps.end(), [t](auto g) { return t >= g.first && t < g.second; }))
      index.push_back(t);
  }
  return index;
}

// The solver shares the block's vector pairs, and its sums over the
// samples, among its threads: the tapers, concentrations and iteration
// count must not depend on how many there are, for blocks of an odd (a lone
// last vector, on a record of fewer samples than the block would take) and
// an even number of vectors, and for records of many stretches of samples;
// and the spectrum of a gappy record run with several jobs must equal the
// one run with one, bit for bit.
TEST(GapTapers, AreTheSameWhateverTheNumberOfThreads) {
  const int n = 3000;
  const std::vector<std::int64_t> index = positions(n, {{100, 101}, {700, 1000}, {2000, 2017}});
  struct Case {
    int n, nwin, p;
    std::vector<std::int64_t> index;
  };
  const std::vector<Case> cases = {
      {n, 7, 4, index},
      {n, 3, 2, index},
      {n, 1, 1, index},
      {40, 3, 2, {0, 5, 11, 17, 23, 30, 39}},
      {50000, 3, 2, positions(50000, {{1000, 1003}, {9000, 21000}, {40000, 40500}})}};
  for (const Case& c : cases) {
    GapTapers one, many;
    ASSERT_TRUE(gap_tapers(c.index, c.n, c.nwin, c.p, one, std::pmr::get_default_resource(), 1).ok);
    for (int jobs : {2, 3, 8}) {
      ASSERT_TRUE(
          gap_tapers(c.index, c.n, c.nwin, c.p, many, std::pmr::get_default_resource(), jobs).ok);
      EXPECT_EQ(many.iterations, one.iterations) << c.n << " " << c.nwin << " " << jobs;
      ASSERT_EQ(many.v.size(), one.v.size());
      EXPECT_TRUE(std::equal(many.v.begin(), many.v.end(), one.v.begin()))
          << c.n << " " << c.nwin << " " << jobs;
      EXPECT_EQ(many.el, one.el) << c.n << " " << c.nwin << " " << jobs;
      EXPECT_EQ(many.tapsum, one.tapsum) << c.n << " " << c.nwin << " " << jobs;
    }
  }
  RandomStream random(5, 0);
  std::vector<float> full(n);
  ar1_surrogate(0.5, 1.0, random, full);
  std::vector<float> y;
  for (std::int64_t t : index) y.push_back(full[static_cast<std::size_t>(t)]);
  SpecResults runs[2];
  for (int j = 0; j < 2; ++j) {
    SpecSettings s;
    s.npts = n;
    s.jobs = j == 0 ? 1 : 4;
    GapsPlan plan;
    ASSERT_TRUE(GapsPlan::make(index, s, plan).ok);
    ASSERT_TRUE(plan.run(y, s, runs[j]).ok);
  }
  EXPECT_EQ(runs[0].specraw0, runs[1].specraw0);
  EXPECT_EQ(runs[0].rho, runs[1].rho);
}

TEST(GapTapers, WithoutGapsAreTheOrdinaryTapersAndWithGapsTheDenseEigenvectors) {
  // No gap: the ordinary tapers to single precision.
  for (int n : {300, 2000}) {
    const int nwin = 7, p = 4;
    GapTapers gap;
    ASSERT_TRUE(gap_tapers(positions(n, {}), n, nwin, p, gap).ok);
    std::vector<float> v(static_cast<std::size_t>(n * nwin)), tapsum(nwin);
    std::vector<double> el(nwin), dlam(nwin);
    compute_tapers(n, nwin, p, v, el, tapsum, dlam, EigenPath::Fast,
                   std::pmr::get_default_resource());
    for (std::size_t i = 0; i < v.size(); ++i) ASSERT_NEAR(gap.v[i], v[i], 2e-6) << n << " " << i;
    EXPECT_TRUE(gap.converged);
  }
  // Gaps of several lengths: orthogonal, of sum of squares npts on the
  // samples present, zero elsewhere, and concentrations and vectors those
  // of the dense kernel restricted to the samples (small enough to form).
  // The second record keeps only its two ends, where the ordinary tapers
  // the solver starts from are far from independent.
  const int n = 240, nwin = 5, p = 3;
  for (const std::vector<std::int64_t>& index :
       {positions(n, {{30, 31}, {80, 120}, {200, 204}}), positions(n, {{25, 215}})}) {
    GapTapers gap;
    ASSERT_TRUE(gap_tapers(index, n, nwin, p, gap).ok);
    const std::size_t m = index.size();
    const double w = static_cast<double>(p) / n;
    std::vector<double> a(m * m), values;
    for (std::size_t i = 0; i < m; ++i) {
      for (std::size_t j = 0; j < m; ++j) {
        const double lag = static_cast<double>(index[i] - index[j]);
        a[j * m + i] =
            lag == 0 ? 2 * w : std::sin(2 * std::numbers::pi * w * lag) / (std::numbers::pi * lag);
      }
    }
    ASSERT_EQ(symmetric_eigenpairs(static_cast<int>(m), a, values), 0);
    for (int k = 0; k < nwin; ++k) {
      EXPECT_NEAR(gap.el[k], values[m - 1 - k], 1e-9) << m << " " << k;
      double product = 0.0, ssq = 0.0;
      for (std::size_t r = 0; r < m; ++r) {
        product += gap.v[k * n + index[r]] * a[(m - 1 - k) * m + r];
        ssq += gap.v[k * n + index[r]] * gap.v[k * n + index[r]];
      }
      EXPECT_NEAR(ssq, n, 1e-3 * n) << m << " " << k;
      EXPECT_NEAR(std::fabs(product) / std::sqrt(ssq), 1.0, 1e-6) << m << " " << k;
      for (int l = 0; l < k; ++l) {
        double cross = 0.0;
        for (int t = 0; t < n; ++t) cross += gap.v[k * n + t] * gap.v[l * n + t];
        EXPECT_NEAR(cross / n, 0.0, 1e-6) << m << " " << k << " " << l;
      }
      EXPECT_EQ(gap.v[k * n + 100], 0.0f);
    }
  }
}

// Lines of amplitude 0.5 in AR(1) noise (coefficient 0.5 a step) on a grid
// of 2000 positions with gaps of 40, 150 and 300 steps.
TEST(SpecGaps, FindsLinesAcrossLongGapsWithNoMoreFalseAlarmsThanChance) {
  const std::vector<double> lines = {0.0244, 0.1, 0.31};
  const std::vector<std::int64_t> index = positions(2000, {{300, 340}, {900, 1050}, {1400, 1700}});
  constexpr int kRecords = 8;
  int found = 0, found_contiguous = 0;
  double false_alarms = 0.0, entries = 0.0;
  for (int n = 0; n < kRecords; ++n) {
    RandomStream random(9, 40 + n);
    std::vector<float> noise(2000), y;
    ar1_surrogate(0.5, 1.0, random, noise);
    for (std::int64_t t : index) {
      float value = noise[static_cast<std::size_t>(t)];
      for (double f : lines) value += static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * f * t));
      y.push_back(value);
    }
    SpecSettings s;
    s.npts = 2000;
    s.median_bias_correction = true;
    // The pieces joined at the mean step, as if evenly spaced.
    SpecSettings contiguous = s;
    contiguous.npts = static_cast<int>(y.size());
    contiguous.dt = 1999.0f / static_cast<float>(y.size() - 1);
    contiguous.fmax = 0.5f / contiguous.dt;
    SpecResults gaps, joined;
    ASSERT_TRUE(spec_gaps(index, y, s, gaps).ok);
    ASSERT_TRUE(spec(y, contiguous, joined).ok);
    // Half the bandwidth 2 p / (N dt) of the full span.
    const auto detected = [](const SpecResults& r, double f) {
      const PeakList peaks = findpeaks(Signal::both, r);
      for (std::size_t i = 0; i < peaks.sigfreq.size(); ++i)
        if (std::fabs(peaks.sigfreq[i] - f) <= 2.0 / 2000 && peaks.sigpct[i] >= 95.0f) return true;
      return false;
    };
    for (double f : lines) {
      found += detected(gaps, f);
      found_contiguous += detected(joined, f);
    }
    for (int i = gaps.nbw; i < gaps.nf - 1; ++i) {
      const double f = gaps.f0 + i * gaps.df;
      if (std::any_of(lines.begin(), lines.end(), [&](double g) { return std::fabs(f - g) < gaps.nbw * gaps.df; }))
        continue;
      entries += 1.0;
      false_alarms += gaps.specraw0[i] > gaps.specback0[i] * gaps.conf[3];
    }
  }
  EXPECT_EQ(found, 3 * kRecords);
  // Joining the pieces at the mean step stretches the lines' periods.
  EXPECT_LE(found_contiguous, kRecords);
  EXPECT_LT(false_alarms / entries, 0.02);
}

// With samples missing at random, each estimate scatters about the
// complete record's: log(S_gaps / S_complete) has mean near 0 and a spread
// well inside that of two independent chi-square(2K) estimates, and both
// estimates keep the complete record's band mean, the high-resolution one
// too, although its tapers' concentrations lie far below 1.
TEST(SpecGaps, AgreesWithTheCompleteRecordWithinTheEstimatorsScatter) {
  const int n = 4096;
  const struct { int nwin, p; double missing, coefficient; } rows[] = {
      {7, 4, 0.1, 0.3}, {3, 2, 0.2, 0.0}, {7, 4, 0.2, 0.0}};
  for (const auto& row : rows) {
    RandomStream random(3, 7);
    std::vector<float> y(n);
    ar1_surrogate(row.coefficient, 1.0, random, y);
    std::vector<std::int64_t> index;
    std::vector<float> present;
    for (int t = 0; t < n; ++t) {
      if (t == 0 || t == n - 1 || random.uniform() >= row.missing) {
        index.push_back(t);
        present.push_back(y[t]);
      }
    }
    for (int iadapt : {0, 1}) {
      SpecSettings s;
      s.npts = n;
      s.nwin = row.nwin, s.p = row.p;
      s.estimate = iadapt == 1 ? Estimate::adaptive : Estimate::hires;
      SpecResults complete, gaps;
      ASSERT_TRUE(spec(y, s, complete).ok);
      ASSERT_TRUE(spec_gaps(index, present, s, gaps).ok);
      ASSERT_EQ(complete.nf, gaps.nf);
      const std::string what = "K " + std::to_string(row.nwin) + " missing " +
                               std::to_string(row.missing) + " iadapt " + std::to_string(iadapt);
      EXPECT_NEAR(gaps.s0raw / complete.s0raw, 1.0, 0.05) << what;
      double mean = 0.0, ssq = 0.0;
      const int count = complete.nf - 1 - complete.nbw;
      for (int i = complete.nbw; i < complete.nf - 1; ++i) {
        const double d = std::log(gaps.specraw0[i] / complete.specraw0[i]);
        mean += d / count;
        ssq += d * d / count;
      }
      // Two independent estimates of 2K degrees of freedom differ in log by
      // a spread of sqrt(2 trigamma(K)): 0.55 for K = 7, 0.89 for K = 3;
      // shared samples keep far less.
      EXPECT_NEAR(mean, 0.0, 0.05) << what;
      EXPECT_LT(std::sqrt(ssq - mean * mean), row.nwin == 7 ? 0.3 : 0.5) << what;
    }
  }
}

}  // namespace
}  // namespace quorvane::spectral
