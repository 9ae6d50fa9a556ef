// The result tables derived from a run: every array the files, the public
// results and the plots share, from hand-made engine results whose values
// are exact in single precision.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "api/results.h"
#include "tests/api/spectrum_run.h"

namespace quorvane::api {
namespace {

using Floats = std::vector<float>;
using testing::spectrum_run;

TEST(SpectrumTable, HoldsTheBandEntriesWithTheirChiSquareAndFLevels) {
  const SpectrumTable t = spectrum_table(spectrum_run());
  EXPECT_EQ(t.frequency, (Floats{0.5f, 0.75f, 1.0f}));
  EXPECT_EQ(t.period, (Floats{2.0f, 1.0f / 0.75f, 1.0f}));
  EXPECT_EQ(t.estimate, (Floats{8.0f, 4.0f, 2.0f}));
  EXPECT_EQ(t.reshaped, (Floats{7.0f, 3.0f, 1.0f}));
  EXPECT_EQ(t.harmonic, (Floats{0.0f, 1.0f, 0.5f}));
  EXPECT_EQ(t.median, (Floats{6.0f, 5.0f, 4.0f}));
  EXPECT_EQ(t.background, (Floats{2.0f, 4.0f, 0.5f}));
  // Each level is the background times its chi-square ratio.
  EXPECT_EQ(t.levels[0], (Floats{1.0f, 2.0f, 0.25f}));
  EXPECT_EQ(t.levels[1], (Floats{3.0f, 6.0f, 0.75f}));
  EXPECT_EQ(t.levels[2], (Floats{4.0f, 8.0f, 1.0f}));
  EXPECT_EQ(t.levels[3], (Floats{6.0f, 12.0f, 1.5f}));
  EXPECT_EQ(t.F, (Floats{1.0f, 9.0f, 3.0f}));
  EXPECT_EQ(t.F_levels, (std::array<float, 6>{0.75f, 3.25f, 5.0f, 10.5f, 14.5f, 27.0f}));
  for (std::size_t k = 0; k < 6; ++k)
    EXPECT_EQ(t.F_level_columns[k], Floats(3, t.F_levels[k])) << k;
  // Neither the jackknife nor Monte Carlo levels were asked for.
  EXPECT_TRUE(t.jackknife_lower.empty());
  EXPECT_TRUE(t.jackknife_upper.empty());
  EXPECT_TRUE(t.global_levels[0].empty());
  EXPECT_TRUE(t.global_levels[1].empty());
}

TEST(SpectrumTable, MonteCarloLevelsUseEachEntrysOwnRatio) {
  AnalysisRecord r = spectrum_run();
  spectral::SpecResults& s = r.spectra;
  s.montecarlo_conf = {Floats{1.0f, 2.0f, 4.0f}, Floats{1.0f, 1.0f, 1.0f},
                       Floats{3.0f, 3.0f, 3.0f}, Floats{0.5f, 0.5f, 8.0f}};
  s.global_conf = {5.0f, 10.0f};
  const SpectrumTable t = spectrum_table(r);
  EXPECT_EQ(t.levels[0], (Floats{2.0f, 8.0f, 2.0f}));
  EXPECT_EQ(t.levels[1], (Floats{2.0f, 4.0f, 0.5f}));
  EXPECT_EQ(t.levels[2], (Floats{6.0f, 12.0f, 1.5f}));
  EXPECT_EQ(t.levels[3], (Floats{1.0f, 2.0f, 4.0f}));
  EXPECT_EQ(t.global_levels[0], (Floats{10.0f, 20.0f, 2.5f}));
  EXPECT_EQ(t.global_levels[1], (Floats{20.0f, 40.0f, 5.0f}));
}

TEST(SpectrumTable, OneTaperHasNoFTestAndTheJackknifeItsInterval) {
  AnalysisRecord r = spectrum_run();
  r.nwin = 1;
  r.spectra.jackknife_lower = {1.0f, 2.0f, 0.5f, 99.0f};
  r.spectra.jackknife_upper = {16.0f, 8.0f, 4.0f, 99.0f};
  const SpectrumTable t = spectrum_table(r);
  ASSERT_EQ(t.F.size(), 3u);
  for (float f : t.F) EXPECT_TRUE(std::isnan(f));
  for (std::size_t k = 0; k < 6; ++k) {
    EXPECT_TRUE(std::isnan(t.F_levels[k])) << k;
    ASSERT_EQ(t.F_level_columns[k].size(), 3u);
    EXPECT_TRUE(std::isnan(t.F_level_columns[k][0])) << k;
  }
  EXPECT_EQ(t.jackknife_lower, (Floats{1.0f, 2.0f, 0.5f}));
  EXPECT_EQ(t.jackknife_upper, (Floats{16.0f, 8.0f, 4.0f}));
  // The spectra do not depend on the test.
  EXPECT_EQ(t.estimate, (Floats{8.0f, 4.0f, 2.0f}));
}

TEST(ReconstructionTable, HoldsTheSeriesItsAnomalyTheSignalsAndTheirSum) {
  AnalysisRecord r;
  r.npts = 4;
  r.dt = 0.5f;
  r.y = {3.0f, 1.0f, 2.5f, 1.5f};
  r.ymean = 2.0f;
  r.time = {1900.0, 1900.5, 1901.0, 1901.5};
  r.time_single = {1900.0f, 1900.5f, 1901.0f, 1901.5f};
  r.signal = {0.25f, -0.5f, 1.0f, 0.0f};
  r.bndwdth = 0.2f;
  r.sigfreq[0] = 0.1f;
  r.sigfreq[1] = 0.25f;
  r.rsig = {0.5f, 0.5f, 0.5f, 0.5f};
  std::vector<ReconstructedSignal> signals = {reconstructed_signal(r, 0)};
  r.rsig = {1.0f, 2.0f};  // shorter than the series: padded with 0
  signals.push_back(reconstructed_signal(r, 1));
  const ReconstructionTable t = reconstruction_table(r, std::move(signals));
  EXPECT_EQ(t.time, r.time);
  EXPECT_EQ(t.time_single, r.time_single);
  EXPECT_EQ(t.elapsed, (Floats{0.0f, 0.5f, 1.0f, 1.5f}));
  EXPECT_EQ(t.series, r.y);
  EXPECT_EQ(t.anomaly, (Floats{1.0f, -1.0f, 0.5f, -0.5f}));
  EXPECT_EQ(t.sum, r.signal);
  ASSERT_EQ(t.signals.size(), 2u);
  EXPECT_EQ(t.signals[0].frequency, 0.1f);
  EXPECT_EQ(t.signals[0].name, "trend");  // below the bandwidth
  EXPECT_EQ(t.signals[0].values, Floats(4, 0.5f));
  EXPECT_EQ(t.signals[1].name, "f_0.25");
  EXPECT_EQ(t.signals[1].values, (Floats{1.0f, 2.0f, 0.0f, 0.0f}));
}

}  // namespace
}  // namespace quorvane::api
