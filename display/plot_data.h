// The work arrays of a prepared plot and the plot-data files written from
// them.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "display/display.h"

namespace quorvane::display {

// The points of one plot as prepared: the abscissae and the curves in
// drawing order (kind 1: the spectrum and its four levels; kind 2: reshaped
// and harmonic; kind 3: median; kind 5: F and its four constant levels;
// kind 6: the reconstruction and the series anomaly). Every curve has
// x.size() points. Redraws and saves use these arrays unchanged.
struct PlotData {
  int kind = 0;
  std::vector<float> x;
  std::vector<std::vector<float>> curves;
};

// True for the plot kinds that display draws (1, 2, 3, 5 and 6).
bool is_plot_kind(int kind);

// Fills `data` for input.kind with the input's points: as many as the
// abscissae, limited to what each curve of the kind holds, so that short
// arrays never cause reads beyond their end. Reuses the storage already in
// `data`.
void prepare_plot_data(const PlotInput& input, PlotData& data);

// Writes the plot-data file text: one header line, then one line per point.
void write_plot_data(std::ostream& out, const PlotData& data);

// Saves the plot-data file `path`. The text goes to a new temporary file
// beside it, which replaces `path` only once completely written; a failure
// leaves any existing file as it was. Returns false with `error` set on
// failure.
bool save_plot_data(const std::string& path, const PlotData& data, std::string& error);

}  // namespace quorvane::display
