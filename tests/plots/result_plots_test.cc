// The result plots: which of them a run draws, and that each draws the
// numbers of the result tables (as its plot-data file shows them).
#include <gtest/gtest.h>

#include <vector>

#include "display/plot_data.h"
#include "plots/result_plots.h"
#include "tests/api/spectrum_run.h"

namespace quorvane::plots {
namespace {

using Floats = std::vector<float>;

TEST(PlotChoice, TogglesAndTheSignalAssumptionChooseTheSpectrumPlots) {
  PlotChoice choice;
  EXPECT_EQ(spectrum_plot_kinds(choice), (std::vector<int>{1, 2, 3, 5}));
  follow_signal(choice, 1);
  EXPECT_EQ(spectrum_plot_kinds(choice), (std::vector<int>{1, 2, 3, 5}));
  // A harmonic analysis has no median and no levels to show; the spectrum
  // plot goes with its levels.
  follow_signal(choice, 2);
  EXPECT_EQ(spectrum_plot_kinds(choice), (std::vector<int>{2, 5}));
  choice = {};
  choice.raw = 0;
  choice.f_test = 0;
  EXPECT_EQ(spectrum_plot_kinds(choice), (std::vector<int>{2, 3}));
  choice = {.raw = 1, .reshaped = 0, .median = 0, .levels = 1, .f_test = 0};
  EXPECT_EQ(spectrum_plot_kinds(choice), (std::vector<int>{1}));
}

// A run of three band entries whose table the plots are drawn from.
struct SpectrumRun {
  SpectrumRun() {
    r.title = "sunspots";
    r.dt = 0.5f;
  }
  display::PlotData plot(int kind) const {
    const api::SpectrumTable table = api::spectrum_table(r);
    display::PlotData data;
    display::prepare_plot_data(spectrum_plot(r, table, kind), data);
    return data;
  }
  api::AnalysisRecord r = api::testing::spectrum_run();
};

TEST(ResultPlots, WithoutAnFTestTheFPlotIsFlatRatherThanEmpty) {
  SpectrumRun run;
  run.r.nwin = 1;
  run.r.spectra.ftest.assign(4, 0.0f);  // as the engine leaves them with one taper
  run.r.spectra.fconf = {};
  const display::PlotData data = run.plot(5);
  ASSERT_EQ(data.curves.size(), 5u);
  for (const Floats& curve : data.curves) EXPECT_EQ(curve, Floats(3, 0.0f));
}

}  // namespace
}  // namespace quorvane::plots
