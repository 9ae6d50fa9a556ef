// The public functions of include/quorvane/: each maps its vocabulary types
// onto the analysis record and runs the same steps as the command line.
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "api/analysis.h"
#include "api/ensemble.h"
#include "api/options.h"
#include "api/planned_spectrum.h"
#include "api/reading.h"
#include "api/results.h"
#include "api/vocabulary.h"
#include "common/text.h"
#include "input/layouts.h"
#include "quorvane/quorvane.h"
#include "spectral/analyses/coherence.h"
#include "spectral/analyses/evolutive.h"
#include "spectral/sampling.h"

namespace quorvane {

const char* version() { return QUORVANE_VERSION_STRING; }

namespace {

using api::Naming;

std::string out_of_range(const char* name, double value, double low, double high) {
  return fmt::format("{} must be from {} to {}, not {}", name, low, high, value);
}

// The number of Monte Carlo surrogates, for spectra and coherence alike.
Status check_surrogates(int surrogates) {
  if (surrogates >= api::kFewestSurrogates && surrogates <= api::kMostSurrogates)
    return Status::success();
  return Status::failure(out_of_range("surrogates", surrogates, api::kFewestSurrogates,
                                      api::kMostSurrogates) +
                         " (" + std::string(api::kFewestSurrogatesReason) + ")");
}

// The options of `settings`, as the vocabulary reads them.
Status options_of(const Settings& s, api::AnalysisOptions& a, api::SignificanceOptions& g) {
  api::RunOptions options;
  if (Status read = api::options_of(s, api::vocabulary(), options); !read) return read;
  a = options.analysis;
  g = options.significance;
  return Status::success();
}

// The record of `series` after set_defaults and the settings applied, with
// the refinements of the run; the steps of the command line for one series.
Status prepare(const Series& series, const Settings& settings, api::AnalysisRecord& r,
               api::RunRefinements& refinements, std::vector<std::string>& notes,
               const spectral::Sampling* known = nullptr) {
  const auto warn = [&notes](std::string_view line) {
    notes.push_back(api::note_text(line));
  };
  api::AnalysisOptions a;
  api::SignificanceOptions g;
  if (Status s = options_of(settings, a, g); !s) return s;
  if (Status contradicting = api::contradiction(a, g, {}, Naming::keywords); !contradicting)
    return contradicting;
  // The series is prepared as a file's series is: increasing order, its
  // sampling class and the analysis that class (or the choice) calls for.
  input::ChosenSeries chosen;
  if (Status prepared = input::prepare_series(series.name, series.values, series.times, chosen, known);
      !prepared)
    return prepared;
  if (Status s = api::load_series(r, std::move(chosen),
                                  api::sampling_choice(static_cast<int>(settings.sampling)), warn);
      !s)
    return s;
  api::set_defaults(r);
  if (Status applied = api::apply_options(a, r, Naming::keywords); !applied) return applied;
  refinements = api::run_refinements(g);
  refinements.engine.cancelled = settings.cancelled;
  return Status::success();
}

// `given` with what the record's defaults filled in: tapers, smoothing,
// band, and the locally-white noise of a harmonic analysis.
Settings used_settings(const api::AnalysisRecord& r, const Settings& given) {
  Settings used = given;
  // The callback belongs to the call; a result outlives it.
  used.cancelled = nullptr;
  used.resolution = r.p;
  used.tapers = r.nwin;
  used.noise = r.noise;
  used.background = r.background;
  used.smoothing = r.fsmooth;
  used.fit = r.fit;
  used.signal = r.signal_assumption;
  used.estimate = r.estimate;
  used.normalize = r.normalize;
  used.reshape = r.reshape ? kFLevelPercents[static_cast<std::size_t>(r.isiglev - 1)] : 0.0;
  used.band = Band{r.fmin, r.fmax};
  return used;
}

}  // namespace

static Result<std::vector<Series>> read_unguarded(const std::string& path, const std::string& layout,
                                 const LayoutOptions& options) {
  api::InputOptions answers;
  if (Status s = api::layout_answers(layout, options, answers); !s) return s;
  input::SeriesTable table;
  if (Status read = api::read_file(path, api::read_options(answers), Naming::keywords, table); !read)
    return read;
  std::vector<Series> series;
  for (const input::Series& s : table.series) {
    Series out;
    out.name = s.name;
    while (!out.name.empty() && out.name.back() == ' ') out.name.pop_back();
    out.times = input::series_times(table, s);
    out.values = s.values;
    series.push_back(std::move(out));
  }
  return series;
}

static Result<Spectrum> spectrum_unguarded(const Series& series, const Settings& settings,
                                           spectral::SpecSession* session,
                                           const api::RunAdmission& admit, bool lines,
                                           const spectral::Sampling* known) {
  api::AnalysisRecord r;
  api::RunRefinements refinements;
  Spectrum out;
  if (Status s = prepare(series, settings, r, refinements, out.notes, known); !s) return s;
  refinements.lines = lines;
  if (admit) {
    spectral::SpecSettings engine = api::spec_settings(r);
    static_cast<spectral::SpecRefinements&>(engine) = refinements.engine;
    bool stop = false;
    if (Status admitted = admit(r, engine, stop); !admitted) return admitted;
    if (stop) return Spectrum{};
  }
  const Status run = api::run_spectrum(
      r, [&out](std::string_view line) { out.notes.push_back(api::note_text(line)); },
      refinements, session);
  if (!run) return run;

  api::SpectrumTable table = api::spectrum_table(r);
  out.frequency = std::move(table.frequency);
  out.period = std::move(table.period);
  out.estimate = std::move(table.estimate);
  out.reshaped = std::move(table.reshaped);
  out.harmonic = std::move(table.harmonic);
  out.median = std::move(table.median);
  out.background = std::move(table.background);
  out.levels = std::move(table.levels);
  out.F = std::move(table.F);
  out.F_levels = table.F_levels;
  out.jackknife_lower = std::move(table.jackknife_lower);
  out.jackknife_upper = std::move(table.jackknife_upper);
  out.global_levels = std::move(table.global_levels);
  if (std::string note = api::f_test_note(r); !note.empty()) out.notes.push_back(note);
  out.peaks = api::peak_rows(r);
  out.sampling.kind = api::sampling_class_name(r.sampling.kind);
  out.sampling.method = api::method_name(r.method);
  out.sampling.median_step = r.sampling.median_step;
  out.sampling.missing = r.sampling.missing;
  out.sampling.reversed = r.sampling.reversed;
  out.sampling.tolerance = spectral::kStepTolerance;
  out.sampling.largest_offset = r.sampling.largest_offset;
  out.name = series.name;
  out.bandwidth = r.bndwdth;
  out.rho = r.spectra.rho;
  out.dt = r.dt;
  out.length = r.npts;
  out.settings = settings;
  out.settings.cancelled = nullptr;  // the call's, not the result's
  out.used = used_settings(r, settings);
  return out;
}

static Result<Reconstruction> reconstruct_unguarded(const Series& series, const Spectrum& spectrum,
                                   const ReconstructOptions& options) {
  api::AnalysisRecord r;
  api::RunRefinements refinements;
  std::vector<std::string> warnings;
  if (Status s = prepare(series, spectrum.settings, r, refinements, warnings); !s) return s;
  if (Status possible = api::check_reconstruction(r); !possible) return possible;
  if (spectrum.length != r.npts || spectrum.dt != r.dt)
    return Status::failure(fmt::format(
        "the spectrum is of {} values at step {}, the series{} has {} values at step {}",
        spectrum.length, spectrum.dt, spaced(series.name), r.npts, r.dt));
  // The signals list of the spectrum run, as the run left it.
  r.nsig = static_cast<int>(std::min<std::size_t>(spectrum.peaks.size(), api::nsigmax));
  for (std::size_t k = 0; k < static_cast<std::size_t>(r.nsig); ++k) {
    r.sigfreq[k] = spectrum.peaks[k].frequency;
    r.sigpct[k] = spectrum.peaks[k].significance;
  }
  api::ReconOptions recon;
  recon.mode = static_cast<api::ReconOptions::Mode>(static_cast<int>(options.signals) + 1);
  if (options.frequencies.size() > static_cast<std::size_t>(api::nsigmax))
    return Status::failure(fmt::format("frequencies: at most {} signals", api::nsigmax));
  for (double f : options.frequencies) {
    if (!(f >= 0.0) || !std::isfinite(f))
      return Status::failure(fmt::format("frequencies: {} is not a frequency of 0 or more", f));
    recon.frequencies.push_back(static_cast<float>(f));
  }
  if (!(options.level >= 0.0 && options.level <= 100.0))
    return Status::failure(fmt::format("level must be from 0 to 100, not {}", options.level));
  recon.level = static_cast<float>(options.level);
  recon.constraint = static_cast<int>(options.constraint);
  if (Status selected = api::select_signals(recon, r, Naming::keywords); !selected)
    return selected;

  Reconstruction out;
  std::vector<api::ReconstructedSignal> signals;
  const Status run = api::reconstruct_selected(
      r, [&](int entry) { signals.push_back(api::reconstructed_signal(r, entry)); },
      [&out](std::string_view line) { out.notes.emplace_back(line); });
  if (!run) return run;
  api::ReconstructionTable table = api::reconstruction_table(r, std::move(signals));
  out.time = std::move(table.time);
  out.series = std::move(table.series);
  out.anomaly = std::move(table.anomaly);
  out.sum = std::move(table.sum);
  for (api::ReconstructedSignal& signal : table.signals)
    out.signals.push_back(
        {signal.frequency, std::move(signal.name), std::move(signal.values)});
  return out;
}

static Result<Evolutive> evolutive_unguarded(const Series& series, double window, double step,
                            const Settings& settings, int min_samples) {
  api::AnalysisRecord whole;
  api::RunRefinements refinements;
  std::vector<std::string> notes;
  if (Status s = prepare(series, settings, whole, refinements, notes); !s) return s;
  // Records with gaps or uneven steps: windows of whole steps dt, each
  // analysed as its own samples call for (all by the uneven method when
  // that is the choice).
  const bool on_times =
      whole.method == api::SpectrumMethod::gaps || whole.method == api::SpectrumMethod::uneven;
  if (settings.significance == Significance::montecarlo || settings.jackknife)
    return Status::failure("evolutive spectra take neither Monte Carlo levels nor the jackknife");
  if (!(window > 0.0 && std::isfinite(window)) || !(step > 0.0 && std::isfinite(step)))
    return Status::failure(fmt::format(
        "window and step must be positive numbers of time units, not {} and {}", window, step));
  const double dt = whole.dt;
  const double length = std::round(window / dt), moves = std::round(step / dt);
  const std::size_t npts =
      on_times ? static_cast<std::size_t>(
                     std::round((whole.time.back() - whole.time.front()) / dt) + 1.0)
               : whole.y.size();

  // Every window gets the settings spectrum() gives its values alone.
  api::AnalysisOptions a;
  api::SignificanceOptions g;
  if (Status s = options_of(settings, a, g); !s) return s;
  api::AnalysisRecord r;
  r.title = whole.title;
  r.y.assign(static_cast<std::size_t>(std::clamp(length, 2.0, static_cast<double>(npts))), 0.0f);
  if (!on_times) std::copy_n(whole.y.begin(), r.y.size(), r.y.begin());
  r.npts = static_cast<int>(r.y.size());
  r.dt = whole.dt;
  api::set_defaults(r);
  if (Status applied = api::apply_options(a, r, Naming::keywords); !applied) return applied;
  if (length < 2 * r.nwin)
    return Status::failure(fmt::format(
        "window {} holds {} values at the time step {}; at least {} are needed (twice the {} "
        "tapers)", window, length, whole.dt, 2 * r.nwin, r.nwin));
  if (length > static_cast<double>(npts))
    return Status::failure(fmt::format("window {} holds {} values, more than the {} of the series",
                                       window, length, npts));
  if (moves < 1)
    return Status::failure(fmt::format(
        "step {} moves the window by less than one value (the time step is {})", step, whole.dt));
  spectral::SpecSettings engine = api::spec_settings(r);
  static_cast<spectral::SpecRefinements&>(engine) = refinements.engine;
  if (Status smoothing = api::check_derived_smoothing(r, engine); !smoothing)
    return smoothing;

  Evolutive out;
  out.name = series.name;
  out.window = static_cast<int>(length);
  out.step = static_cast<int>(moves);
  out.dt = whole.dt;
  out.bandwidth = r.bndwdth;
  out.tracks_level = r.siglev;
  out.used = used_settings(r, settings);
  out.notes = notes;
  if (min_samples < 0)
    return Status::failure(fmt::format("min_samples must be 0 (automatic) or more, not {}",
                                       min_samples));
  // Enough samples for the tapers and the red-noise fit's persistence
  // estimate (10 values) unless asked otherwise.
  out.min_samples = min_samples > 0 ? min_samples : std::max(2 * r.nwin + 2, 10);
  const auto deliver = [&](const spectral::EvolutiveRow& row) {
    const spectral::SpecResults* result = row.spectrum;
    const std::size_t m = on_times ? row.entries : row.ratio.size();
    if (out.frequency.empty()) {
      const float f0 = on_times ? row.f0 : result->f0, df = on_times ? row.df : result->df;
      for (std::size_t i = 0; i < m; ++i) out.frequency.push_back(f0 + static_cast<float>(i) * df);
    }
    double time = 0.0;
    if (on_times) {
      time = whole.time.front() + row.centre * dt;
    } else {
      const std::size_t last = row.start + static_cast<std::size_t>(out.window) - 1;
      time = 0.5 * (whole.time[row.start] + whole.time[last]);
    }
    out.time.push_back(time);
    if (result == nullptr) {
      // An empty window: nan throughout, and its reason.
      const float nan = std::numeric_limits<float>::quiet_NaN();
      out.power.insert(out.power.end(), m, nan);
      out.F.insert(out.F.end(), m, nan);
      out.ratio.insert(out.ratio.end(), m, nan);
      out.method.emplace_back("empty");
      out.empty.push_back({row.window, time, row.samples, row.empty});
      return Status::success();
    }
    if (on_times) {
      static constexpr std::array<const char*, 3> kMethods = {"even", "gaps", "uneven"};
      out.method.emplace_back(kMethods[static_cast<std::size_t>(row.method)]);
    }
    out.power.insert(out.power.end(), result->specraw0.begin(),
                     result->specraw0.begin() + static_cast<long>(m));
    out.F.insert(out.F.end(), result->ftest.begin(), result->ftest.begin() + static_cast<long>(m));
    out.ratio.insert(out.ratio.end(), row.ratio.begin(), row.ratio.end());
    for (const spectral::EvolutiveLine& line : row.lines)
      out.tracks.push_back({time, line.frequency, 1.0f / line.frequency, line.f,
                            line.f_significance, line.ratio, line.significance});
    return Status::success();
  };
  const Status run =
      on_times ? spectral::evolutive_on_times(
                     whole.time, whole.y, whole.sampling, out.window, out.step, out.min_samples,
                     engine, settings.jobs, deliver,
                     settings.sampling == Sampling::uneven ? spectral::WindowMethods::all_uneven
                                                           : spectral::WindowMethods::by_sampling)
               : spectral::evolutive_spectrum(whole.y, out.window, out.step, engine,
                                              settings.jobs, deliver);
  if (!run) return run;
  return out;
}

static Result<Coherence> coherence_unguarded(const Series& a, const Series& b,
                            const CoherenceSettings& settings) {
  if (Status counted = check_surrogates(settings.surrogates); !counted) return counted;
  // Each series is prepared as spectrum() prepares it, for its times and
  // sampling class.
  api::AnalysisRecord records[2];
  const Series* series[2] = {&a, &b};
  for (int k = 0; k < 2; ++k) {
    api::RunRefinements refinements;
    std::vector<std::string> notes;
    if (Status s = prepare(*series[k], Settings{}, records[k], refinements, notes); !s) return s;
  }
  if (settings.sampling != Sampling::automatic && settings.sampling != Sampling::interpolate)
    return Status::failure("sampling: a pair is analysed on its own times (automatic) or "
                           "interpolated (interpolate)");
  if (settings.common_step && !(*settings.common_step > 0.0))
    return Status::failure("common_step: a step above 0 in the series' time units");
  const bool interpolate = settings.sampling == Sampling::interpolate;
  const api::AnalysisRecord &ra = records[0], &rb = records[1];
  spectral::PairOverlap overlap;
  const bool even = ra.sampling.kind == spectral::SamplingClass::even &&
                    rb.sampling.kind == spectral::SamplingClass::even;
  const bool grid = even && !interpolate &&
                    spectral::align_pair(ra.time, ra.dt, rb.time, rb.dt, overlap) ==
                        spectral::PairAlignment::aligned;
  if (!grid && !(std::min(ra.time.back(), rb.time.back()) > std::max(ra.time.front(), rb.time.front())))
    return Status::failure(fmt::format(
        "the records do not overlap: {} runs from {} to {}, {} from {} to {}", a.name,
        ra.time.front(), ra.time.back(), b.name, rb.time.front(), rb.time.back()));

  // The settings as the command line turns its options into them.
  spectral::CoherenceSettings engine;
  engine.p = settings.resolution;
  engine.nwin = settings.tapers.value_or(api::default_tapers(settings.resolution));
  engine.pad = settings.pad;
  engine.adaptive = settings.estimate == Estimate::adaptive;
  engine.exact_concentrations = settings.concentrations == Concentrations::exact;
  if (engine.adaptive || settings.significance == Significance::montecarlo) {
    engine.surrogates = settings.surrogates;
    engine.seed = settings.seed;
  }
  engine.jobs = settings.jobs;
  engine.cancelled = settings.cancelled;
  engine.dt = grid ? static_cast<float>(overlap.dt)
                   : static_cast<float>(spectral::pair_step(ra.sampling.median_step,
                                                            rb.sampling.median_step,
                                                            settings.common_step.value_or(0.0)));
  engine.fmin = settings.band ? static_cast<float>(settings.band->low) : 0.0f;
  engine.fmax = settings.band ? static_cast<float>(settings.band->high) : 0.5f / engine.dt;
  spectral::CoherenceResult r;
  spectral::TimedPair timed;
  if (grid) {
    const std::span<const float> ya =
        std::span<const float>(ra.y).subspan(overlap.first_a, overlap.count);
    const std::span<const float> yb =
        std::span<const float>(rb.y).subspan(overlap.first_b, overlap.count);
    if (Status s = spectral::coherence(ya, yb, engine, r); !s) return s;
  } else if (interpolate) {
    if (Status s = spectral::coherence_interpolated(ra.time, ra.y, rb.time, rb.y, engine, r, timed);
        !s)
      return s;
  } else if (Status s = spectral::coherence_on_times(ra.time, ra.y, rb.time, rb.y, engine, r, timed);
             !s) {
    return s;
  }

  Coherence out;
  out.name_a = a.name;
  out.name_b = b.name;
  out.frequency = r.frequency;
  out.period.resize(r.frequency.size());
  std::transform(r.frequency.begin(), r.frequency.end(), out.period.begin(),
                 [](float f) { return 1.0f / f; });
  out.coherence = std::move(r.coherence);
  out.coherence_lower = std::move(r.coherence_lower);
  out.coherence_upper = std::move(r.coherence_upper);
  out.phase = std::move(r.phase);
  out.phase_lower = std::move(r.phase_lower);
  out.phase_upper = std::move(r.phase_upper);
  out.gain = std::move(r.gain);
  out.spectrum_a = std::move(r.spectrum_a);
  out.spectrum_b = std::move(r.spectrum_b);
  out.levels = std::move(r.levels);
  out.montecarlo = r.montecarlo;
  for (const spectral::CoherentMaximum& m : r.coherent)
    out.coherent.push_back({m.frequency, m.coherence, m.coherence_lower, m.coherence_upper,
                            m.phase, m.phase_lower, m.phase_upper, m.level});
  if (grid) {
    out.first_time = ra.time[overlap.first_a];
    out.last_time = ra.time[overlap.first_a + overlap.count - 1];
    out.length = overlap.count;
    out.dt = overlap.dt;
    out.length_a = out.length_b = overlap.count;
    out.bandwidth = static_cast<float>(2.0 * engine.p / (static_cast<double>(overlap.count) * overlap.dt));
  } else {
    out.method = interpolate ? "interpolated" : "own_times";
    out.sampling_a = api::sampling_class_name(ra.sampling.kind);
    out.sampling_b = api::sampling_class_name(rb.sampling.kind);
    out.first_time = timed.first;
    out.last_time = timed.last;
    out.dt = engine.dt;
    out.length = static_cast<std::size_t>(std::llround(timed.span / out.dt));
    out.length_a = timed.count_a;
    out.length_b = timed.count_b;
    out.persistence_a = timed.tau_a;
    out.persistence_b = timed.tau_b;
    out.band_wide = r.band_wide;
    out.bandwidth = static_cast<float>(2.0 * engine.p / timed.span);
  }
  out.rho_a = r.rho_a;
  out.rho_b = r.rho_b;
  out.used = settings;
  out.used.cancelled = nullptr;  // the call's, not the result's
  out.used.tapers = engine.nwin;
  out.used.band = Band{engine.fmin, engine.fmax};
  return out;
}

// Each public function promises a Status: memory running out inside it is
// a refusal like any other, not an exception through the caller.
namespace {

const char* kNoMemory = "the analysis needs more memory than this machine can give";

template <class Body>
auto guarded(Body body) -> decltype(body()) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return Status::out_of_memory(kNoMemory);
  }
}

}  // namespace

Result<std::vector<Series>> read(const std::string& path, const std::string& layout,
                                 const LayoutOptions& options) {
  return guarded([&] { return read_unguarded(path, layout, options); });
}

Result<Spectrum> api::session_spectrum(const Series& series, const Settings& settings,
                                       spectral::SpecSession* session, const RunAdmission& admit,
                                       bool lines, const spectral::Sampling* known) {
  return guarded([&] { return spectrum_unguarded(series, settings, session, admit, lines, known); });
}

PeakColumns peak_columns(const Spectrum& spectrum) {
  api::PeakTable table = api::peak_table(spectrum.peaks, !spectrum.global_levels[0].empty());
  return {std::move(table.names), std::move(table.columns)};
}

Result<Spectrum> spectrum(const Series& series, const Settings& settings) {
  return api::session_spectrum(series, settings, nullptr, {});
}

Result<Reconstruction> reconstruct(const Series& series, const Spectrum& spectrum,
                                   const ReconstructOptions& options) {
  return guarded([&] { return reconstruct_unguarded(series, spectrum, options); });
}

Result<Evolutive> evolutive(const Series& series, double window, double step,
                            const Settings& settings, int min_samples) {
  return guarded([&] { return evolutive_unguarded(series, window, step, settings, min_samples); });
}

Result<Coherence> coherence(const Series& a, const Series& b,
                            const CoherenceSettings& settings) {
  return guarded([&] { return coherence_unguarded(a, b, settings); });
}

const std::vector<SettingName>& setting_names() {
  static const std::vector<SettingName> names = [] {
    std::vector<SettingName> list;
    for (const api::OptionSpec& spec : api::vocabulary())
      if (spec.keyword)
        list.push_back({spec.keyword_name(), spec.keyword->type, spec.words, spec.keyword->coherence});
    return list;
  }();
  return names;
}

namespace {

const api::OptionSpec* keyword_spec(std::string_view name) {
  for (const api::OptionSpec& spec : api::vocabulary())
    if (spec.keyword && spec.keyword_name() == name) return &spec;
  return nullptr;
}

// The type of value each setting type takes (none is always taken).
bool takes(SettingType type, const SettingValue& value) {
  if (std::holds_alternative<std::monostate>(value)) return true;
  switch (type) {
    case SettingType::integer: return std::holds_alternative<long long>(value);
    case SettingType::seed: return std::holds_alternative<std::uint64_t>(value);
    case SettingType::number: return std::holds_alternative<double>(value);
    case SettingType::level:
      return std::holds_alternative<double>(value) || std::holds_alternative<std::string>(value);
    case SettingType::flag: return std::holds_alternative<bool>(value);
    case SettingType::word: return std::holds_alternative<std::string>(value);
    case SettingType::band:
      return std::holds_alternative<Band>(value) || std::holds_alternative<std::string>(value);
  }
  return false;
}

}  // namespace

Status set_setting(Settings& settings, std::string_view name, const SettingValue& value) {
  const api::OptionSpec* spec = keyword_spec(name);
  if (spec == nullptr) return Status::failure(fmt::format("there is no setting {}", name));
  const api::Keyword& k = *spec->keyword;
  if (!takes(k.type, value))
    return Status::failure(fmt::format("{}: a value of another type", name));
  if (std::holds_alternative<std::monostate>(value)) {
    // None: the setting's default.
    k.set(settings, k.get(Settings{}));
    return Status::success();
  }
  if (k.type == SettingType::band && std::holds_alternative<std::string>(value)) {
    // 'LOW:HIGH', as the command line's FMIN:FMAX; the range is checked by
    // the functions that take the settings.
    Band band;
    if (!api::read_band(std::get<std::string>(value), band.low, band.high))
      return Status::failure(fmt::format("{}: '{}' is not LOW:HIGH (two numbers)", name,
                                         std::get<std::string>(value)));
    k.set(settings, band);
    return Status::success();
  }
  if (k.type == SettingType::level && std::holds_alternative<std::string>(value)) {
    // 'off' or a level in percent written out.
    const std::string& text = std::get<std::string>(value);
    double level = 0.0;
    if (text != spec->words.front() && !api::read_number(text, level))
      return Status::failure(
          fmt::format("{}: '{}' is not {} or a level in percent", name, text, spec->words.front()));
    k.set(settings, level);
    return Status::success();
  }
  if (k.type != SettingType::word) {
    k.set(settings, value);
    return Status::success();
  }
  std::string word = std::get<std::string>(value);
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto found = std::find(spec->words.begin(), spec->words.end(), word);
  if (found == spec->words.end()) {
    std::string list;
    for (const auto& w : spec->words) list += (list.empty() ? "" : ", ") + w;
    return Status::failure(fmt::format("{}: '{}' is not one of {}", name, std::get<std::string>(value), list));
  }
  k.set(settings, SettingValue(static_cast<long long>(found - spec->words.begin())));
  return Status::success();
}

SettingValue setting_value(const Settings& settings, std::string_view name) {
  const api::OptionSpec* spec = keyword_spec(name);
  if (spec == nullptr) return {};
  SettingValue value = spec->keyword->get(settings);
  if (spec->keyword->type == SettingType::word && std::holds_alternative<long long>(value))
    return spec->words[static_cast<std::size_t>(std::get<long long>(value))];
  return value;
}

Result<AgeModel> counted_age_model(const std::vector<double>& counted, double missed,
                                   double doubled, std::size_t members, std::uint64_t seed) {
  return guarded([&]() -> Result<AgeModel> {
    AgeModel out;
    if (Status s = api::counted_model(counted, missed, doubled, members, seed, out); !s) return s;
    return out;
  });
}

Result<AgeModel> tiepoint_age_model(const std::vector<double>& depth,
                                    const std::vector<double>& tie_depth,
                                    const std::vector<double>& tie_age,
                                    const std::vector<double>& tie_sigma, std::size_t members,
                                    std::uint64_t seed) {
  return guarded([&]() -> Result<AgeModel> {
    AgeModel out;
    if (Status s = api::tiepoint_model(depth, tie_depth, tie_age, tie_sigma, members, seed, out);
        !s)
      return s;
    return out;
  });
}

Result<Ensemble> ensemble(const std::string& name, const std::vector<float>& values,
                          const AgeModel& ages, const Settings& settings,
                          const EnsembleSettings& options) {
  return guarded([&]() -> Result<Ensemble> {
    api::AnalysisOptions a;
    api::SignificanceOptions g;
    if (Status s = options_of(settings, a, g); !s) return s;
    if (Status contradicting = api::contradiction(a, g, {}, Naming::keywords); !contradicting)
      return contradicting;
    api::EnsembleRequest request;
    request.agreement = options.agreement;
    request.members = options.members;
    request.jobs = settings.jobs;
    request.cancelled = settings.cancelled;
    Ensemble out;
    api::AnalysisRecord r;
    if (Status s = api::run_ensemble(name, values, ages, a, g, Naming::keywords, request, out, r);
        !s)
      return s;
    out.used = used_settings(r, settings);
    return out;
  });
}

std::string settings_doc() { return api::keyword_doc(api::vocabulary()); }

}  // namespace quorvane
