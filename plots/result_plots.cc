#include "plots/result_plots.h"

#include <algorithm>

namespace quorvane::plots {

void follow_signal(PlotChoice& choice, int isignal) {
  if (isignal == 2) {
    choice.median = 0;
    choice.levels = 0;
  }
}

std::vector<int> spectrum_plot_kinds(const PlotChoice& choice) {
  std::vector<int> kinds;
  if (choice.raw == 1 && choice.levels == 1) kinds.push_back(1);
  if (choice.reshaped == 1) kinds.push_back(2);
  if (choice.median == 1) kinds.push_back(3);
  if (choice.f_test == 1) kinds.push_back(5);
  return kinds;
}

display::PlotInput spectrum_plot(const api::AnalysisRecord& r, const api::SpectrumTable& table,
                                 int kind) {
  display::PlotInput plot;
  plot.kind = kind;
  plot.x = table.frequency;
  plot.dt = r.dt;
  plot.title = r.title;
  switch (kind) {
    case 1:
      plot.curves = {table.estimate, table.levels[0], table.levels[1], table.levels[2],
                     table.levels[3]};
      break;
    case 2: plot.curves = {table.reshaped, table.harmonic}; break;
    case 3: plot.curves = {table.median}; break;
    case 5:
      if (api::has_f_test(r)) {
        plot.curves = {table.F};
        std::copy_n(table.F_levels.begin(), plot.f_levels.size(), plot.f_levels.begin());
      } else {
        // The table's NaN would leave the frame empty; the plot shows the
        // engine's statistic and levels of a run without the test, zero
        // throughout, so that one taper still draws a (flat) F-test plot.
        plot.curves = {r.spectra.ftest};
        std::copy_n(r.spectra.fconf.begin(), plot.f_levels.size(), plot.f_levels.begin());
      }
      break;
    default: break;
  }
  return plot;
}

display::PlotInput reconstruction_plot(const api::AnalysisRecord& r,
                                       const api::ReconstructionTable& table) {
  display::PlotInput plot;
  plot.kind = 6;
  plot.x = table.elapsed;
  plot.curves = {table.sum, table.anomaly};
  plot.dt = r.dt;
  plot.title = r.title;
  return plot;
}

}  // namespace quorvane::plots
