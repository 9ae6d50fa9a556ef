// spectrum(), its settings given as keywords, and the Spectrum it returns.
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <functional>
#include <utility>

#include "python/bindings.h"

namespace quorvane::python {

namespace {

// The names of an enumeration's values, in the order of its enumerators.
constexpr std::array<const char*, 3> kNoise = {"red", "white", "local"};
constexpr std::array<const char*, 2> kBackground = {"raw", "robust"};
constexpr std::array<const char*, 2> kFit = {"linear", "log"};
constexpr std::array<const char*, 3> kSignal = {"both", "narrowband", "harmonic"};
constexpr std::array<const char*, 2> kEstimate = {"adaptive", "hires"};
constexpr std::array<const char*, 3> kNormalize = {"none", "n", "dt"};
constexpr std::array<const char*, 2> kConcentrations = {"asymptotic", "exact"};
constexpr std::array<const char*, 2> kSignificance = {"chisquare", "montecarlo"};
constexpr std::array<const char*, 5> kSampling = {"auto", "even", "gaps", "uneven",
                                                  "interpolate"};

template <class E, std::size_t N>
E choice(const char* option, py::handle value, const std::array<const char*, N>& names) {
  std::string list;
  for (const char* name : names) list.append(list.empty() ? "" : ", ").append(name);
  if (!py::isinstance<py::str>(value))
    throw py::type_error(std::string(option) + ": one of " + list + ", not " +
                         py::repr(value).cast<std::string>());
  std::string text = value.cast<std::string>();
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (std::size_t i = 0; i < N; ++i)
    if (text == names[i]) return static_cast<E>(i);
  throw py::value_error(std::string(option) + ": '" + value.cast<std::string>() +
                        "' is not one of " + list);
}

template <class T>
T number(const char* option, py::handle value, const char* kind) {
  // bool is an int in Python, but never a count or a width.
  if (py::isinstance<py::bool_>(value))
    throw py::type_error(std::string(option) + ": " + kind + ", not a bool");
  try {
    return value.cast<T>();
  } catch (const py::cast_error&) {
    throw py::type_error(std::string(option) + ": " + kind + ", not " +
                         py::repr(value).cast<std::string>());
  }
}

int integer(const char* option, py::handle value) { return number<int>(option, value, "an integer"); }
double real(const char* option, py::handle value) { return number<double>(option, value, "a number"); }

bool flag(const char* option, py::handle value) {
  if (!py::isinstance<py::bool_>(value) && !py::isinstance(value, py::module_::import("numpy").attr("bool_")))
    throw py::type_error(std::string(option) + ": True or False, not " +
                         py::repr(value).cast<std::string>());
  return value.cast<bool>();
}

double reshape_level(py::handle value) {
  if (py::isinstance<py::str>(value)) {
    const std::string text = value.cast<std::string>();
    if (text == "off") return 0.0;
    try {
      std::size_t used = 0;
      const double level = std::stod(text, &used);
      if (used == text.size()) return level;
    } catch (const std::exception&) {
    }
    throw py::value_error("reshape: '" + text + "' is not off or a level in percent");
  }
  return real("reshape", value);
}

Band band(py::handle value) {
  if (py::isinstance<py::str>(value)) {
    const std::string text = value.cast<std::string>();
    const std::size_t colon = text.find(':');
    try {
      std::size_t used = 0;
      if (colon != std::string::npos) {
        const std::string low = text.substr(0, colon), high = text.substr(colon + 1);
        Band b{std::stod(low, &used), 0.0};
        if (used == low.size()) {
          b.high = std::stod(high, &used);
          if (used == high.size()) return b;
        }
      }
    } catch (const std::exception&) {
    }
    throw py::value_error("band: '" + text + "' is not LOW:HIGH (two numbers)");
  }
  py::sequence pair;
  if (!py::isinstance<py::sequence>(value) || (pair = value.cast<py::sequence>()).size() != 2)
    throw py::type_error("band: a pair (low, high) or 'LOW:HIGH', not " +
                         py::repr(value).cast<std::string>());
  return {real("band", pair[0]), real("band", pair[1])};
}

using Setter = std::function<void(py::handle, Settings&)>;

// Every keyword of spectrum(), named as the options of `quorvane analyse`.
const std::vector<std::pair<const char*, Setter>>& setting_table() {
  static const std::vector<std::pair<const char*, Setter>> table = {
      {"resolution", [](py::handle v, Settings& s) { s.resolution = integer("resolution", v); }},
      {"tapers", [](py::handle v, Settings& s) { s.tapers = integer("tapers", v); }},
      {"noise", [](py::handle v, Settings& s) { s.noise = choice<Noise>("noise", v, kNoise); }},
      {"background",
       [](py::handle v, Settings& s) { s.background = choice<Background>("background", v, kBackground); }},
      {"smoothing", [](py::handle v, Settings& s) { s.smoothing = real("smoothing", v); }},
      {"fit", [](py::handle v, Settings& s) { s.fit = choice<Fit>("fit", v, kFit); }},
      {"signal", [](py::handle v, Settings& s) { s.signal = choice<Signal>("signal", v, kSignal); }},
      {"estimate",
       [](py::handle v, Settings& s) { s.estimate = choice<Estimate>("estimate", v, kEstimate); }},
      {"normalize",
       [](py::handle v, Settings& s) { s.normalize = choice<Normalize>("normalize", v, kNormalize); }},
      {"reshape", [](py::handle v, Settings& s) { s.reshape = reshape_level(v); }},
      {"band", [](py::handle v, Settings& s) { s.band = band(v); }},
      {"pad", [](py::handle v, Settings& s) { s.pad = integer("pad", v); }},
      {"concentrations",
       [](py::handle v, Settings& s) {
         s.concentrations = choice<Concentrations>("concentrations", v, kConcentrations);
       }},
      {"median_bias_correction",
       [](py::handle v, Settings& s) { s.median_bias_correction = flag("median_bias_correction", v); }},
      {"significance",
       [](py::handle v, Settings& s) {
         s.significance = choice<Significance>("significance", v, kSignificance);
       }},
      {"surrogates", [](py::handle v, Settings& s) { s.surrogates = integer("surrogates", v); }},
      {"seed", [](py::handle v, Settings& s) { s.seed = number<std::uint64_t>("seed", v, "a whole number"); }},
      {"jobs", [](py::handle v, Settings& s) { s.jobs = integer("jobs", v); }},
      {"jackknife", [](py::handle v, Settings& s) { s.jackknife = flag("jackknife", v); }},
      {"max_peaks", [](py::handle v, Settings& s) { s.max_peaks = integer("max_peaks", v); }},
      {"sampling",
       [](py::handle v, Settings& s) { s.sampling = choice<Sampling>("sampling", v, kSampling); }},
  };
  return table;
}

}  // namespace

Settings settings_of(const py::kwargs& keywords) {
  Settings settings;
  for (const auto& [key, value] : keywords) {
    const std::string name = key.cast<std::string>();
    const auto& table = setting_table();
    const auto entry = std::find_if(table.begin(), table.end(),
                                    [&name](const auto& e) { return name == e.first; });
    if (entry == table.end()) {
      std::string names;
      for (const auto& e : table) names.append(names.empty() ? "" : ", ").append(e.first);
      throw py::type_error("spectrum() got an unexpected keyword argument '" + name +
                           "'; the settings are " + names);
    }
    if (!value.is_none()) entry->second(value, settings);
  }
  return settings;
}

py::dict settings_dict(const Settings& s) {
  py::dict d;
  d["resolution"] = s.resolution;
  d["tapers"] = s.tapers ? py::object(py::int_(*s.tapers)) : py::object(py::none());
  d["noise"] = kNoise[static_cast<std::size_t>(s.noise)];
  d["background"] = kBackground[static_cast<std::size_t>(s.background)];
  d["smoothing"] = s.smoothing ? py::object(py::float_(*s.smoothing)) : py::object(py::none());
  d["fit"] = kFit[static_cast<std::size_t>(s.fit)];
  d["signal"] = kSignal[static_cast<std::size_t>(s.signal)];
  d["estimate"] = kEstimate[static_cast<std::size_t>(s.estimate)];
  d["normalize"] = kNormalize[static_cast<std::size_t>(s.normalize)];
  d["reshape"] = s.reshape == 0.0 ? py::object(py::str("off")) : py::object(py::float_(s.reshape));
  d["band"] = s.band ? py::object(py::make_tuple(s.band->low, s.band->high)) : py::object(py::none());
  d["pad"] = s.pad;
  d["concentrations"] = kConcentrations[static_cast<std::size_t>(s.concentrations)];
  d["median_bias_correction"] = s.median_bias_correction;
  d["significance"] = kSignificance[static_cast<std::size_t>(s.significance)];
  d["surrogates"] = s.surrogates;
  d["seed"] = s.seed;
  d["jobs"] = s.jobs;
  d["jackknife"] = s.jackknife;
  d["max_peaks"] = s.max_peaks;
  d["sampling"] = kSampling[static_cast<std::size_t>(s.sampling)];
  return d;
}

namespace {

const char* kSpectrumDoc = R"(The multitaper spectrum of a series, as `quorvane analyse` computes it.

values: a Series, or a sequence of N numbers sampled every `dt` (or at
`time`, N times that increase or decrease throughout; gaps and uneven steps
get the missing-data or the Lomb-Scargle multitaper spectrum, as `sampling`
says). Every setting is a keyword
named as the option of `quorvane analyse` (--tapers: tapers, ...), with
the same values and defaults; None leaves a setting at its default:
  resolution=2 (P), tapers=None (2P-1, 1..8), noise='red' (red, white,
  local; local with signal='harmonic'), background='robust' (raw, robust),
  smoothing=None (width in frequency; a fifth of the band, at least the
  bandwidth), fit='log' (linear, log), signal='both' (both, narrowband,
  harmonic), estimate='adaptive' (adaptive, hires), normalize='none' (none,
  n, dt), reshape=95 (50, 90, 95, 99, 99.5, 99.9 or 'off'), band=None
  ((low, high) or 'LOW:HIGH'; 0 to the Nyquist frequency), pad=1 (1, 2, 4,
  8), concentrations='asymptotic' (asymptotic, exact),
  median_bias_correction=False, significance='chisquare' (chisquare,
  montecarlo), surrogates=1000, seed=1, jobs=1 (threads for the
  surrogates), jackknife=False, max_peaks=40 (0..100),
  sampling='auto' (auto, even, gaps, uneven, interpolate).
Frequencies are in cycles per unit of time. Raises ValueError with the
engine's message for a bad value, contradicting settings, NaN in the values
or times that repeat or go back and forth; TypeError for an unknown keyword. The
engine runs without the GIL, so threads analyse series in parallel.)";

}  // namespace

void bind_spectrum(py::module_& m) {
  py::class_<Spectrum>(m, "Spectrum", R"(A spectrum run's results.

Arrays (float32, read-only, one value per frequency of the band, equal to the
columns of the spectrum CSV): frequency, period, estimate, reshaped,
harmonic, median, background, F; levels: {50, 90, 95, 99: array}; F_levels:
{50, 90, 95, 99, 99.5, 99.9: number}; bandwidth, rho, dt, length; peaks: a
pandas DataFrame; settings: the settings used, as keywords.)")
      .def_readonly("name", &Spectrum::name)
#define QUORVANE_ARRAY(member, doc)                                                           \
  .def_property_readonly(                                                                     \
      #member, [](py::object self) { return view(self.cast<const Spectrum&>().member, self); }, \
      doc)
      QUORVANE_ARRAY(frequency, "Frequencies of the band, cycles per unit of time.")
      QUORVANE_ARRAY(period, "1/frequency (inf at 0).")
      QUORVANE_ARRAY(estimate, "The multitaper spectrum.")
      QUORVANE_ARRAY(reshaped, "The spectrum with the detected lines taken out.")
      QUORVANE_ARRAY(harmonic, "The line spectrum.")
      QUORVANE_ARRAY(median, "Running median of the estimate.")
      QUORVANE_ARRAY(background, "The noise background.")
      QUORVANE_ARRAY(F, "Harmonic F statistic.")
      QUORVANE_ARRAY(jackknife_lower, "95 % jackknife interval, lower (empty without jackknife).")
      QUORVANE_ARRAY(jackknife_upper, "95 % jackknife interval, upper (empty without jackknife).")
#undef QUORVANE_ARRAY
      .def_property_readonly(
          "levels",
          [](py::object self) {
            const Spectrum& s = self.cast<const Spectrum&>();
            py::dict levels;
            for (std::size_t k = 0; k < kLevelPercents.size(); ++k)
              levels[py::float_(kLevelPercents[k])] = view(s.levels[k], self);
            return levels;
          },
          "The background's 50, 90, 95 and 99 % levels, one array each.")
      .def_property_readonly(
          "F_levels",
          [](const Spectrum& s) {
            py::dict levels;
            for (std::size_t k = 0; k < kFLevelPercents.size(); ++k)
              levels[py::float_(kFLevelPercents[k])] = s.F_levels[k];
            return levels;
          },
          "The F statistic's 50 ... 99.9 % levels.")
      .def_property_readonly(
          "global_levels",
          [](py::object self) {
            const Spectrum& s = self.cast<const Spectrum&>();
            py::dict levels;
            if (!s.global_levels[0].empty()) {
              levels[py::float_(95.0)] = view(s.global_levels[0], self);
              levels[py::float_(99.0)] = view(s.global_levels[1], self);
            }
            return levels;
          },
          "With significance='montecarlo', the band-wide 95 and 99 % levels {95, 99: array}: "
          "one peak above them is significant for the whole band; else empty.")
      .def_property_readonly(
          "sampling",
          [](const Spectrum& s) {
            py::dict d;
            d["class"] = s.sampling.kind;
            d["method"] = s.sampling.method;
            d["median_step"] = s.sampling.median_step;
            d["missing"] = s.sampling.missing;
            d["reversed"] = s.sampling.reversed;
            d["tolerance"] = s.sampling.tolerance;
            d["largest_offset"] = s.sampling.largest_offset;
            return d;
          },
          "How the times were sampled and which analysis the spectrum had: class (even, gaps, "
          "uneven), method, median_step, missing, reversed, tolerance and largest_offset (a "
          "step within tolerance median steps of a whole number of them counts as that many; "
          "largest_offset, in median steps, decided the class); as in the summary of analyse.")
      .def_readonly("bandwidth", &Spectrum::bandwidth, "The full bandwidth 2P/(N dt).")
      .def_readonly("rho", &Spectrum::rho, "Lag-one autocorrelation of the red-noise background.")
      .def_readonly("dt", &Spectrum::dt, "The time step analysed.")
      .def_readonly("length", &Spectrum::length, "The number of values.")
      .def_readonly("notes", &Spectrum::notes, "Diagnostic lines of the run.")
      .def_property_readonly(
          "settings", [](const Spectrum& s) { return settings_dict(s.used); },
          "The settings as applied to the series (tapers, smoothing, band filled in).")
      .def_property_readonly(
          "peaks",
          [](const Spectrum& s) {
            const std::size_t n = s.peaks.size();
            py::array_t<float> frequency(n), period(n), significance(n), ratio(n), f(n), global(n),
                line_frequency(n), line_f(n), line_significance(n), line_sd(n);
            const bool band_wide = !s.global_levels[0].empty();
            py::array_t<bool> trend(n);
            for (std::size_t i = 0; i < n; ++i) {
              const Peak& p = s.peaks[i];
              frequency.mutable_at(i) = p.frequency;
              period.mutable_at(i) = p.period;
              significance.mutable_at(i) = p.significance;
              ratio.mutable_at(i) = p.ratio;
              f.mutable_at(i) = p.F;
              trend.mutable_at(i) = p.trend;
              global.mutable_at(i) = p.global_significance;
              line_frequency.mutable_at(i) = p.line_frequency;
              line_f.mutable_at(i) = p.line_F;
              line_significance.mutable_at(i) = p.line_significance;
              line_sd.mutable_at(i) = p.line_frequency_sd;
            }
            py::dict columns;
            columns["frequency"] = frequency;
            columns["period"] = period;
            columns["significance"] = significance;
            columns["ratio"] = ratio;
            columns["F"] = f;
            columns["trend"] = trend;
            if (band_wide) columns["global_significance"] = global;
            columns["line_frequency"] = line_frequency;
            columns["line_F"] = line_f;
            columns["line_significance"] = line_significance;
            columns["line_frequency_sd"] = line_sd;
            return py::module_::import("pandas").attr("DataFrame")(columns);
          },
          "The significant peaks as a pandas DataFrame with the columns of the peaks CSV.")
      .def("__repr__", [](const Spectrum& s) {
        return "<quorvane.Spectrum of '" + s.name + "': " + std::to_string(s.frequency.size()) +
               " frequencies, " + std::to_string(s.peaks.size()) + " peaks>";
      });

  m.def(
      "spectrum",
      [](py::handle values, double dt, py::handle time, const std::string& name,
         const py::kwargs& keywords) {
        Settings settings = settings_of(keywords);
        SignalWatch watch;
        settings.cancelled = watch.callback();
        const Series series = series_argument(values, dt, time, name);
        Result<Spectrum> result = [&] {
          py::gil_scoped_release unlocked;
          return quorvane::spectrum(series, settings);
        }();
        watch.raise_if_raised();
        return value_or_raise(std::move(result));
      },
      py::arg("values"), py::arg("dt") = 1.0, py::kw_only(), py::arg("time") = py::none(),
      py::arg("name") = "", kSpectrumDoc);
  m.attr("SETTINGS") = [] {
    py::list names;
    for (const auto& entry : setting_table()) names.append(entry.first);
    return py::tuple(names);
  }();
}

}  // namespace quorvane::python
