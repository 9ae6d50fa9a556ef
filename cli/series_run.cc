#include "cli/series_run.h"

#include <fmt/format.h>

#include <algorithm>

#include "api/analysis.h"
#include "api/options.h"
#include "api/results.h"
#include "cli/interrupt.h"
#include "cli/netcdf_file.h"
#include "cli/summary.h"
#include "display/plot_file.h"
#include "input/series_file.h"
#include "plots/result_plots.h"

namespace quorvane::cli {

namespace {

using api::AnalysisRecord;
using api::Naming;

// The peaks table and the file's columns, which refer to its values.
struct PeakColumns {
  api::PeakTable table;
  std::vector<Column> columns;
};

PeakColumns peak_columns(const std::vector<PeakRow>& peaks, bool band_wide) {
  PeakColumns out{api::peak_table(peaks, band_wide), {}};
  for (std::size_t c = 0; c < out.table.names.size(); ++c)
    out.columns.push_back({out.table.names[c], out.table.columns[c]});
  return out;
}

// Keeps the rows of `columns` whose frequency (the first column, ascending)
// lies in `band`, ends included.
void keep_band(std::vector<Column>& columns, std::pair<float, float> band) {
  if (columns.empty()) return;
  const std::span<const float> f = columns.front().values;
  const auto first = static_cast<std::size_t>(
      std::lower_bound(f.begin(), f.end(), band.first) - f.begin());
  const auto last = static_cast<std::size_t>(
      std::upper_bound(f.begin(), f.end(), band.second) - f.begin());
  const auto cut = [first, last](auto& values) {
    if (!values.empty()) values = values.subspan(first, last - first);
  };
  for (Column& column : columns) {
    cut(column.values);
    cut(column.wide);
  }
}

// The record's settings without its arrays, for the summary.
AnalysisRecord settings_of(AnalysisRecord& r) {
  AnalysisRecord arrays;
  const auto exchange = [&] {
    std::swap(arrays.y, r.y);
    std::swap(arrays.time, r.time);
    std::swap(arrays.time_single, r.time_single);
    std::swap(arrays.grid, r.grid);
    std::swap(arrays.spectra, r.spectra);
    std::swap(arrays.rsig, r.rsig);
    std::swap(arrays.signal, r.signal);
  };
  exchange();
  AnalysisRecord settings = r;
  exchange();
  return settings;
}

class SeriesRun {
 public:
  SeriesRun(const Options& options, const std::string& folder, const std::string& stem,
            SeriesResult& result)
      : options_(options), folder_(folder), stem_(stem), result_(result) {}

  void run(const input::SeriesTable& table, std::size_t index);

 private:
  bool write(const std::string& kind, const std::vector<Column>& columns);
  bool write_spectrum(const api::SpectrumTable& table);
  // True, with the series failed, once the run has been interrupted.
  bool stopped() {
    if (interruption() == 0) return false;
    fail("the run was interrupted");
    return true;
  }
  bool plot(const display::PlotInput& input);
  bool fail(std::string message) {
    result_.ok = false;
    result_.message = std::move(message);
    return false;
  }

  const Options& options_;
  const std::string& folder_;
  const std::string& stem_;
  SeriesResult& result_;
  AnalysisRecord r_;
  // The spectrum's tapers, which the reconstruction of the series uses too.
  spectral::SpecSession session_;
};

bool SeriesRun::write(const std::string& kind, const std::vector<Column>& columns) {
  const std::string name = stem_ + "." + kind + ".csv";
  std::string error;
  if (!write_file_atomically(folder_ + "/" + name, csv_pieces(columns, options_.significance.jobs),
                             error))
    return fail(error);
  result_.files.push_back(name);
  return true;
}

bool SeriesRun::write_spectrum(const api::SpectrumTable& table) {
  std::vector<Column> columns = spectrum_columns(table);
  if (const auto& band = options_.output.spectrum_band; band && !columns.front().values.empty()) {
    const float lowest = columns.front().values.front(), highest = columns.front().values.back();
    keep_band(columns, *band);
    if (columns.front().size() == 0) {
      result_.warnings.push_back(fmt::format(
          " --spectrum-band {}:{} holds none of the frequencies {} to {}; the spectrum file "
          "has no rows",
          band->first, band->second, lowest, highest));
      result_.notes.push_back(result_.warnings.back());
    }
  }
  if (options_.output.format != "netcdf") return write("spectrum", columns);
  const std::string name = stem_ + ".spectrum.nc";
  std::string error;
  if (!write_netcdf_atomically(folder_ + "/" + name, columns, "frequency",
                               spectrum_attributes(options_, result_), error))
    return fail(error);
  result_.files.push_back(name);
  return true;
}

bool SeriesRun::plot(const display::PlotInput& input) {
  const std::string& format = options_.output.plots;
  const std::string device = display::file_device(format);
  if (device.empty()) return fail("this PLplot has no device that writes " + format + " files");
  const std::string name = stem_ + "_" + display::file_suffix(input.kind) + "." + format;
  std::string error;
  if (!display::draw_plot_file(input, device, folder_ + "/" + name, error))
    return fail("plot " + name + " not drawn: " + error);
  result_.files.push_back(name);
  return true;
}

void SeriesRun::run(const input::SeriesTable& table, std::size_t index) {
  input::ChosenSeries series;
  if (Status chosen = input::choose_series(table, index, series); !chosen) {
    fail(chosen.message);
    return;
  }
  AnalysisRecord& r = r_;
  const auto warn = [this](std::string_view line) {
    result_.warnings.emplace_back(line);
    result_.notes.emplace_back(line);
  };
  if (Status loaded = api::load_series(r, std::move(series),
                                       api::sampling_choice(options_.analysis.sampling), warn);
      !loaded) {
    fail(loaded.message);
    return;
  }
  api::set_defaults(r);
  result_.settings = settings_of(r);
  if (stopped()) return;
  result_.npts = r.npts;
  result_.dt = r.dt;
  result_.first_time = r.time_single.empty() ? r.time.front()
                                             : std::stod(number_text(r.time_single.front()));

  if (Status applied = api::apply_options(options_.analysis, r, Naming::options); !applied) {
    fail(applied.message);
    return;
  }
  api::RunRefinements refinements = api::run_refinements(options_.significance);
  refinements.engine.cancelled = interrupted();
  Status status = api::run_spectrum(
      r, [this](std::string_view line) { result_.notes.emplace_back(line); }, refinements,
      &session_);
  // One spectrum run per series: its memory is not needed again.
  session_.release_memory();
  result_.settings = settings_of(r);
  if (stopped()) return;
  if (!status) {
    fail(status.message);
    return;
  }
  result_.analysed = true;
  result_.rho = r.spectra.rho;
  result_.peaks = api::peak_rows(r);
  if (std::string note = api::f_test_note(r); !note.empty()) result_.notes.push_back(note);
  result_.montecarlo = api::has_montecarlo_levels(r.spectra);
  result_.ok = true;
  {
    const api::SpectrumTable spectrum = api::spectrum_table(r);
    if (!write_spectrum(spectrum) || stopped() ||
        !write("peaks", peak_columns(result_.peaks, result_.montecarlo).columns))
      return;
    if (options_.output.plots != "none") {
      plots::PlotChoice choice;
      plots::follow_signal(choice, static_cast<int>(r.signal_assumption));
      for (int kind : plots::spectrum_plot_kinds(choice))
        if (stopped() || !plot(plots::spectrum_plot(r, spectrum, kind))) return;
    }
  }

  if (options_.recon.mode == ReconOptions::Mode::None || stopped()) return;
  if (Status possible = api::check_reconstruction(r); !possible) {
    fail(possible.message);
    return;
  }
  if (Status selected = api::select_signals(options_.recon, r, Naming::options); !selected) {
    fail(selected.message);
    return;
  }
  std::vector<api::ReconstructedSignal> signals;
  status = api::reconstruct_selected(
      r,
      [&](int entry) {
        signals.push_back(api::reconstructed_signal(r, entry));
        result_.reconstructed.push_back(signals.back().frequency);
      },
      [this](std::string_view line) { result_.notes.emplace_back(line); }, &session_);
  if (stopped()) return;
  if (!status) {
    fail(status.message);
    return;
  }
  const api::ReconstructionTable recon = api::reconstruction_table(r, std::move(signals));
  if (!write("recon", reconstruction_columns(recon))) return;
  if (options_.output.plots != "none" && !stopped()) plot(plots::reconstruction_plot(r, recon));
}

}  // namespace

Status analysis_settings(std::vector<float> values, float dt, const AnalysisOptions& a,
                         AnalysisRecord& r) {
  r.y = std::move(values);
  r.npts = static_cast<int>(r.y.size());
  r.dt = dt;
  api::set_defaults(r);
  return api::apply_options(a, r, Naming::options);
}

SeriesResult analyse_series(const input::SeriesTable& table, std::size_t index,
                            const std::string& stem, const Options& options,
                            const std::string& folder) {
  SeriesResult result;
  result.number = index + 1;
  if (index < table.series.size()) {
    result.name = table.series[index].name;
    while (!result.name.empty() && result.name.back() == ' ') result.name.pop_back();
  }
  SeriesRun(options, folder, stem, result).run(table, index);
  return result;
}

}  // namespace quorvane::cli
