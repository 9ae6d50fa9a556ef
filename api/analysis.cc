#include "api/analysis.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <utility>

#include "common/memory.h"
#include "common/text.h"
#include "recon/recon.h"
#include "spectral/estimators/gaps.h"
#include "spectral/estimators/uneven.h"
#include "spectral/stages/lines.h"
#include "spectral/stages/peaks.h"
#include "spectral/stages/pipeline.h"
#include "textio/free_format.h"

namespace quorvane::api {

namespace {

std::string trimmed_title(const std::string& title) {
  const std::size_t last = title.find_last_not_of(' ');
  return last == std::string::npos ? std::string() : title.substr(0, last + 1);
}

std::string class_words(spectral::SamplingClass kind) {
  return kind == spectral::SamplingClass::gaps ? "gaps" : "uneven steps";
}

// The time the spectrum's resolution refers to: npts dt for a grid (as the
// evenly spaced engine has always taken it), the grid positions of the span
// for the missing-data method, and for the Lomb-Scargle method the time from
// the first value to the last plus one median step (npts dt again for an
// evenly spaced record).
float span(const AnalysisRecord& r) {
  switch (r.method) {
    case SpectrumMethod::gaps:
      return r.dt * static_cast<float>(r.grid.empty() ? 0 : r.grid.back() + 1);
    case SpectrumMethod::uneven:
      return static_cast<float>(r.time.back() - r.time.front() + r.sampling.median_step);
    default:
      return r.dt * static_cast<float>(r.npts);
  }
}

// Single-precision times where they tell every time apart, else empty.
std::vector<float> single_times(const std::vector<double>& time) {
  std::vector<float> single(time.size());
  for (std::size_t i = 0; i < time.size(); ++i) {
    single[i] = static_cast<float>(time[i]);
    if (i > 0 && !(single[i] > single[i - 1])) return {};
  }
  return single;
}

// The largest step between neighbouring times.
double largest_step(const std::vector<double>& time) {
  double largest = 0.0;
  for (std::size_t i = 1; i < time.size(); ++i)
    largest = std::max(largest, std::fabs(time[i] - time[i - 1]));
  return largest;
}

// Why a record's grid is long: its largest step against its median step.
std::string largest_step_words(const std::vector<double>& time, double median_step) {
  const double largest = largest_step(time);
  return "its largest step, " + textio::free_real(static_cast<float>(largest)) + ", is " +
         textio::free_real(static_cast<float>(largest / median_step)) +
         " times its median step " + textio::free_real(static_cast<float>(median_step));
}

// Refuses a method whose regular grid over the record's span would take
// more memory than the machine has, before anything of that size is made.
// `per_position` is the least that each grid position costs the method (the
// engine checks the exact amount later, once the settings are known); the
// message names the series, the grid and the step that makes it long.
Status check_grid_memory(const std::string& name, const std::vector<double>& time,
                         double median_step, const std::string& method,
                         std::uint64_t positions, std::uint64_t per_position,
                         std::uint64_t also = 0) {
  return check_memory(also + per_position * positions,
                      "Series" + spaced(name) + " " + method + " on a grid of " +
                          std::to_string(positions) + " positions (" +
                          largest_step_words(time, median_step) + ")");
}

}  // namespace

Status load_series(AnalysisRecord& r, input::ChosenSeries&& series, SamplingChoice choice,
                   const MessageSink& warnings, SpanWarning span_warning) {
  const spectral::Sampling sampling = series.sampling;
  const std::string name = trimmed_title(series.title);
  const auto warn = [&warnings](const std::string& line) {
    if (warnings) warnings(line);
  };
  const bool even = sampling.kind == spectral::SamplingClass::even;
  SpectrumMethod method = SpectrumMethod::even;
  switch (choice) {
    case SamplingChoice::automatic:
      method = even ? SpectrumMethod::even
               : sampling.kind == spectral::SamplingClass::gaps ? SpectrumMethod::gaps
                                                                 : SpectrumMethod::uneven;
      break;
    case SamplingChoice::even: method = even ? SpectrumMethod::even : SpectrumMethod::mean_step; break;
    case SamplingChoice::gaps:
      if (sampling.kind == spectral::SamplingClass::uneven)
        return Status::failure("Series" + spaced(name) +
                               " has uneven steps, not a regular grid with gaps; the missing-data "
                               "method cannot analyse it (the uneven method or interpolation can).");
      method = SpectrumMethod::gaps;
      break;
    case SamplingChoice::uneven: method = SpectrumMethod::uneven; break;
    case SamplingChoice::interpolate:
      method = even ? SpectrumMethod::even : SpectrumMethod::interpolate;
      break;
  }

  // A record whose gaps cover most of its span is analysed as asked, but
  // its resolution is that of the whole span while its values cover little
  // of it: the user hears so (windows along the record have their own).
  const std::string covered = " the spectrum rests on the values there are, and its frequency "
                              "resolution is that of the whole span.";
  const bool whole_span = span_warning == SpanWarning::given;
  if (whole_span && sampling.kind == spectral::SamplingClass::gaps &&
      sampling.missing > static_cast<std::int64_t>(series.y.size())) {
    warn(" Series" + spaced(name) + " has gaps over more than half its span: " +
         std::to_string(sampling.missing) + " of " +
         std::to_string(sampling.missing + static_cast<std::int64_t>(series.y.size())) +
         " samples on its median step are missing;" + covered);
  } else if (whole_span && sampling.kind == spectral::SamplingClass::uneven &&
             series.time.size() > 1) {
    const double widest = largest_step(series.time);
    const double whole = std::fabs(series.time.back() - series.time.front());
    if (widest > 0.5 * whole)
      warn(" Series" + spaced(name) + " has a gap of " + textio::free_real(widest) +
           ", more than half its span of " + textio::free_real(whole) + ";" + covered);
  }

  std::vector<std::int64_t> grid;
  std::vector<float> y = std::move(series.y);
  std::vector<double> time = std::move(series.time);
  std::vector<float> time_single = std::move(series.time_single);
  float dt = series.dt;
  // The number of positions of a regular grid of the median step over the
  // span, which the gap, interpolation and non-uniform methods all make.
  const double positions =
      time.size() < 2 ? 0.0
                      : std::fabs(time.back() - time.front()) / sampling.median_step + 1.0;
  const std::uint64_t grid_length =
      positions < 9e18 ? static_cast<std::uint64_t>(positions) : std::uint64_t{9'000'000'000'000'000'000u};
  if (method == SpectrumMethod::gaps) {
    // The gap estimator's transforms take at least 48 bytes a position.
    if (Status fits = check_grid_memory(name, time, sampling.median_step,
                                        "analysed with its gaps", grid_length, 48);
        !fits)
      return fits;
    spectral::grid_positions(time, sampling.median_step, grid);
    if (grid.back() >= INT_MAX)
      return Status::failure("Series" + spaced(name) + " spans " + std::to_string(grid.back() + 1) +
                             " steps; the missing-data method takes at most " +
                             std::to_string(INT_MAX) + ".");
    // The grid's step is the span over its positions: calendar steps vary
    // about their mean, which the median misses (months in days have a
    // median of 31 days and a mean of 30.44, which would move an annual
    // line by 2 %); on a record of whole multiples it is the median step.
    dt = grid.back() > 0 ? static_cast<float>((time.back() - time.front()) /
                                              static_cast<double>(grid.back()))
                         : static_cast<float>(sampling.median_step);
  } else if (method == SpectrumMethod::mean_step) {
    warn(" Series" + spaced(name) + " has " + class_words(sampling.kind) +
         "; its values are analysed as if evenly spaced, at the mean step " +
         textio::free_real(dt) + ".");
  } else if (method == SpectrumMethod::interpolate) {
    const double step = sampling.median_step;
    const std::size_t m = spectral::interpolated_length(time, step);
    if (m >= static_cast<std::size_t>(INT_MAX))
      return Status::failure("Series" + spaced(name) + " interpolated to its median step would have " +
                             std::to_string(m) + " values; the engine takes at most " +
                             std::to_string(INT_MAX) + ".");
    // The interpolated values and times, then the spectrum of that many
    // values with the default tapers.
    spectral::SpecSettings grid_run;
    grid_run.npts = static_cast<int>(m);
    if (Status fits = check_grid_memory(name, time, step, "interpolated to its median step", m, 16,
                                        spectral::spec_memory(grid_run));
        !fits)
      return fits;
    std::vector<float> values;
    spectral::interpolate_to_step(time, y, step, values);
    std::vector<double> grid_time(m);
    for (std::size_t j = 0; j < m; ++j) grid_time[j] = time.front() + static_cast<double>(j) * step;
    y = std::move(values);
    time = std::move(grid_time);
    time_single = single_times(time);
    dt = static_cast<float>(step);
    warn(" Series" + spaced(name) + " is interpolated linearly to its median step " +
         textio::free_real(dt) + " (" + std::to_string(m) +
         " values); interpolation removes power at high frequencies.");
  } else if (method == SpectrumMethod::uneven) {
    // The non-uniform transform's grid takes at least 24 bytes a position.
    if (Status fits = check_grid_memory(name, time, sampling.median_step,
                                        "analysed with its uneven steps", grid_length, 24);
        !fits)
      return fits;
    dt = static_cast<float>(sampling.median_step);
  }

  r.title = std::move(series.title);
  r.npts = static_cast<int>(y.size());
  r.dt = dt;
  r.y = std::move(y);
  r.time = std::move(time);
  r.time_single = std::move(time_single);
  r.sampling = sampling;
  r.method = method;
  r.grid = std::move(grid);
  return Status::success();
}

std::string sampling_class_name(spectral::SamplingClass kind) {
  switch (kind) {
    case spectral::SamplingClass::even: return "even";
    case spectral::SamplingClass::gaps: return "gaps";
    case spectral::SamplingClass::uneven: break;
  }
  return "uneven";
}

std::string method_name(SpectrumMethod method) {
  switch (method) {
    case SpectrumMethod::even: return "multitaper";
    case SpectrumMethod::mean_step: return "mean_step_multitaper";
    case SpectrumMethod::gaps: return "missing_data_multitaper";
    case SpectrumMethod::uneven: return "lomb_scargle_multitaper";
    case SpectrumMethod::interpolate: break;
  }
  return "interpolated_multitaper";
}

std::string note_text(std::string_view line) {
  line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
  return std::string(line);
}

std::string sampling_line(const AnalysisRecord& r) {
  const std::string name = " Series" + spaced(trimmed_title(r.title));
  if (r.method == SpectrumMethod::gaps) {
    const std::int64_t positions = r.grid.empty() ? 0 : r.grid.back() + 1;
    return name + " has gaps: " + std::to_string(positions - r.npts) + " of " +
           std::to_string(positions) +
           " samples missing; its spectrum uses the missing-data multitaper method.";
  }
  if (r.method == SpectrumMethod::uneven) {
    return name + " has uneven steps (median step " + textio::free_real(r.sampling.median_step) +
           "); its spectrum uses the multitaper Lomb-Scargle method.";
  }
  return {};
}

Status check_reconstruction(const AnalysisRecord& r) {
  if (r.method != SpectrumMethod::gaps && r.method != SpectrumMethod::uneven)
    return Status::success();
  const std::string name = "Series" + spaced(trimmed_title(r.title));
  if (r.sampling.kind == spectral::SamplingClass::even)
    return Status::failure(name + " is analysed by the " +
                           (r.method == SpectrumMethod::gaps ? "missing-data" : "Lomb-Scargle") +
                           " method; the reconstruction needs the evenly spaced analysis.");
  return Status::failure(name + " has " + class_words(r.sampling.kind) +
                         "; the reconstruction needs evenly spaced values.");
}

void set_defaults(AnalysisRecord& r) {
  r.y.resize(static_cast<std::size_t>(std::max(r.npts, 0)));
  float sum = 0.0f;
  for (int i = 0; i < r.npts; ++i) sum += r.y[static_cast<std::size_t>(i)];
  // Only series of at least two values with a positive time step reach
  // here, so these divisions are safe.
  r.ymean = sum / static_cast<float>(r.npts);
  r.p = 2;
  r.nwin = 3;
  r.fmax = 0.5f / r.dt;
  r.bndwdth = 4.0f / span(r);
  r.fmin = 0.0f;
  r.frange = r.fmax - r.fmin;
  r.normalize = Normalize::none;
  r.estimate = Estimate::adaptive;
  r.reshape = true;
  r.isiglev = 3;
  r.siglev = 95.0f;
  r.noise = Noise::red;
  r.background = Background::robust;
  r.fsmooth = std::max(r.frange / 5.0f, r.bndwdth);
  r.fit = Fit::log;
  r.signal_assumption = Signal::both;
  r.iuse.fill(0);
  r.sigpct.fill(0.0f);
  r.sigfreq.fill(0.0f);
  r.nsig = 0;
}

void apply_resolution(AnalysisRecord& r) {
  r.bndwdth = 2.0f * static_cast<float>(r.p) / span(r);
  r.fsmooth = std::max(r.fsmooth, r.bndwdth);
}

void apply_band(AnalysisRecord& r) {
  r.frange = r.fmax - r.fmin;
  r.fsmooth = std::max(r.frange / 5.0f, r.bndwdth);
}

void apply_signal(AnalysisRecord& r) {
  if (r.signal_assumption == Signal::harmonic) {
    r.noise = Noise::local;
  }
}

spectral::SpecSettings spec_settings(const AnalysisRecord& r) {
  spectral::SpecSettings s;
  s.nwin = r.nwin;
  s.p = r.p;
  s.dt = r.dt;
  // The missing-data method's grid is that of the whole span.
  s.npts = r.method == SpectrumMethod::gaps && !r.grid.empty() ? static_cast<int>(r.grid.back() + 1)
                                                               : r.npts;
  s.fmin = r.fmin;
  s.fmax = r.fmax;
  s.noise = r.noise;
  s.background = r.background;
  s.fit = r.fit;
  s.fsmooth = r.fsmooth;
  s.signal = r.signal_assumption;
  s.estimate = r.estimate;
  s.normalize = r.normalize;
  s.reshape = r.reshape;
  s.isiglev = r.isiglev;
  return s;
}

Status check_derived_smoothing(const AnalysisRecord& r, const spectral::SpecSettings& settings) {
  // The Lomb-Scargle method lays its own frequency grid; its engine's check
  // stands.
  if (!r.fsmooth_derived || !spectral::uses_median(settings) ||
      r.method == SpectrumMethod::uneven)
    return Status::success();
  const spectral::Grid grid = spectral::frequency_grid(settings);
  if (grid.nfv < 1 || !(grid.df > 0.0f)) return Status::success();
  const double entries = std::floor(static_cast<double>(settings.fsmooth / grid.df));
  if (!(entries > grid.nfv)) return Status::success();
  return Status::failure(
      "The median smoothing width " + textio::free_real(settings.fsmooth) +
      ", derived as the larger of the bandwidth " + textio::free_real(r.bndwdth) +
      " and a fifth of the band, spans " + std::to_string(static_cast<long long>(entries)) +
      " frequencies, more than the " + std::to_string(grid.nfv) +
      " of the band; a lower resolution or a longer record narrows the bandwidth.");
}

Status run_spectrum(AnalysisRecord& r, const MessageSink& sink, const RunRefinements& refinements,
                    spectral::SpecSession* session) {
  spectral::SpecSettings settings = spec_settings(r);
  static_cast<spectral::SpecRefinements&>(settings) = refinements.engine;
  if (Status smoothing = check_derived_smoothing(r, settings); !smoothing) return smoothing;
  Status status;
  // The tapered record, for the lines between the transform's bins: the
  // gap tapers of the missing-data plan, or the tapers of the evenly spaced
  // run (kept in a session of this run when the caller gives none). The
  // uneven method's tapers live on its own frequency grid, not the
  // record's, so its lines are left unestimated.
  spectral::TaperedRecord tapered;
  spectral::GapsPlan plan;
  spectral::SpecSession own_session;
  if (r.method == SpectrumMethod::gaps) {
    status = spectral::GapsPlan::make(r.grid, settings, plan);
    if (status) status = plan.run(r.y, settings, r.spectra, sink);
    tapered.index = r.grid;
    tapered.tapers = plan.tapers().v;
  } else if (r.method == SpectrumMethod::uneven) {
    status = spectral::spec_uneven(r.time, r.y, settings, r.spectra, sink);
  } else {
    if (session == nullptr) session = &own_session;
    status = spectral::spec(r.y, settings, *session, r.spectra, sink);
    tapered.tapers = session->taper_values(settings.npts, settings.nwin, settings.p);
  }
  if (!status) return status;
  spectral::PeakList peaks =
      spectral::findpeaks(r.signal_assumption, r.spectra, std::min(refinements.max_peaks, nsigmax));
  const std::size_t found = std::min<std::size_t>(peaks.sigfreq.size(), nsigmax);
  for (std::size_t i = 0; i < found; ++i) {
    r.sigfreq[i] = peaks.sigfreq[i];
    r.sigpct[i] = peaks.sigpct[i];
  }
  r.nsig = static_cast<int>(found);
  r.iuse.fill(0);
  r.lines.assign(found, spectral::LineEstimate{});
  if (!tapered.tapers.empty() && refinements.lines) {
    tapered.values = r.y;
    tapered.npts = settings.npts;
    tapered.nwin = settings.nwin;
    tapered.p = settings.p;
    tapered.dt = settings.dt;
    tapered.norm = spectral::band_normalisation(settings);
    r.lines = spectral::line_estimates(tapered, r.spectra,
                                       std::span<const float>(r.sigfreq.data(), found),
                                       settings.cancelled);
    if (spectral::run_cancelled(settings)) return spectral::interrupted_run();
  }
  return status;
}

Status reconstruct_selected(AnalysisRecord& r, const std::function<void(int entry)>& each_signal,
                            const MessageSink& sink, const spectral::SpecSession* session) {
  Status check = check_reconstruction(r);
  if (!check) return check;
  check = recon::check_recon(r.nwin, r.p, r.dt, r.npts);
  if (!check) return check;
  // The series is transformed once for all its signals; nothing to prepare
  // when no entry is selected.
  recon::PreparedSeries series;
  const auto selected = [&r](int i) { return r.iuse[static_cast<std::size_t>(i)] == 1; };
  bool any = false;
  for (int i = 0; i < r.nsig && !any; ++i) any = selected(i);
  if (any) {
    const std::span<const float> tapers =
        session != nullptr ? session->taper_values(r.npts, r.nwin, r.p) : std::span<const float>();
    check = tapers.empty() ? recon::prepare_series(r.y, r.nwin, r.p, r.dt, r.npts, series)
                           : recon::prepare_series(r.y, r.nwin, r.p, r.dt, r.npts, tapers, series);
    if (!check) return check;
  }
  const auto n = static_cast<std::size_t>(r.npts);
  r.rsig.assign(n, 0.0f);
  r.signal.assign(n, 0.0f);
  for (int i = 0; i < r.nsig; ++i) {
    const auto k = static_cast<std::size_t>(i);
    if (!selected(i)) continue;
    r.freq0 = r.sigfreq[k];
    Status status = recon::recon(series, r.bndwdth, r.freq0, r.iconstr, r.rsig);
    if (!status && sink) sink(status.message);
    if (each_signal) each_signal(i);
    for (std::size_t j = 0; j < n; ++j) r.signal[j] += r.rsig[j];
  }
  return check;
}

}  // namespace quorvane::api
