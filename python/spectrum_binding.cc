// spectrum(), its settings given as keywords, and the Spectrum it returns.
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <functional>
#include <utility>

#include "python/bindings.h"
#include "python/state.h"

namespace quorvane::python {

namespace {

// A value as a message shows it: its repr when short, else its type (and
// shape), so that a wrong array is named rather than printed.
std::string text_of(py::handle value) {
  std::string text = py::repr(value).cast<std::string>();
  if (text.size() <= 40) return text;
  text = py::str(py::type::of(value).attr("__name__")).cast<std::string>();
  if (py::hasattr(value, "shape")) text += " of shape " + py::str(value.attr("shape")).cast<std::string>();
  return text;
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
                         text_of(value));
  }
}

int integer(const char* option, py::handle value) { return number<int>(option, value, "an integer"); }
double real(const char* option, py::handle value) { return number<double>(option, value, "a number"); }

bool flag(const char* option, py::handle value) {
  if (!py::isinstance<py::bool_>(value) && !py::isinstance(value, py::module_::import("numpy").attr("bool_")))
    throw py::type_error(std::string(option) + ": True or False, not " +
                         text_of(value));
  return value.cast<bool>();
}


// A band as a pair (low, high); a text 'LOW:HIGH' goes to the library as it is.
SettingValue band(py::handle value) {
  if (py::isinstance<py::str>(value)) return value.cast<std::string>();
  py::sequence pair;
  if (!py::isinstance<py::sequence>(value) || (pair = value.cast<py::sequence>()).size() != 2)
    throw py::type_error("band: a pair (low, high) or 'LOW:HIGH', not " + text_of(value));
  return Band{real("band", pair[0]), real("band", pair[1])};
}

// The value of keyword `setting` as the library takes it; a value of the
// wrong type raises TypeError.
SettingValue setting_of(const SettingName& setting, py::handle value) {
  const char* option = setting.name.c_str();
  switch (setting.type) {
    case SettingType::integer: return static_cast<long long>(integer(option, value));
    case SettingType::seed: return number<std::uint64_t>(option, value, "a whole number");
    case SettingType::number: return real(option, value);
    case SettingType::flag: return flag(option, value);
    case SettingType::band: return band(value);
    case SettingType::level:
      if (py::isinstance<py::str>(value)) return value.cast<std::string>();
      return real(option, value);
    case SettingType::word: break;
  }
  if (!py::isinstance<py::str>(value)) {
    std::string list;
    for (const auto& word : setting.words) list.append(list.empty() ? "" : ", ").append(word);
    throw py::type_error(std::string(option) + ": one of " + list + ", not " + text_of(value));
  }
  return value.cast<std::string>();
}

py::object python_value(const SettingName& setting, const SettingValue& value) {
  return std::visit(
      [&setting](const auto& v) -> py::object {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) return py::none();
        else if constexpr (std::is_same_v<T, Band>) return py::make_tuple(v.low, v.high);
        else if constexpr (std::is_same_v<T, double>) {
          // A level of 0 is no reshaping.
          if (setting.type == SettingType::level && v == 0.0) return py::str("off");
          return py::float_(v);
        } else return py::cast(v);
      },
      value);
}

}  // namespace

Settings settings_of(const py::kwargs& keywords, const char* function,
                     bool (*taken)(const SettingName&)) {
  Settings settings;
  for (const auto& [key, value] : keywords) {
    const std::string name = key.cast<std::string>();
    const auto& names = setting_names();
    const auto entry = std::find_if(names.begin(), names.end(), [&](const SettingName& setting) {
      return setting.name == name && (taken == nullptr || taken(setting));
    });
    if (entry == names.end()) {
      std::string list;
      for (const auto& setting : names)
        if (taken == nullptr || taken(setting)) list.append(list.empty() ? "" : ", ").append(setting.name);
      throw py::type_error(std::string(function) + "() got an unexpected keyword argument '" +
                           name + "'; the settings are " + list);
    }
    if (value.is_none()) continue;
    if (Status set = set_setting(settings, name, setting_of(*entry, value)); !set)
      throw py::value_error(set.message);
  }
  return settings;
}

py::dict settings_dict(const Settings& s) {
  py::dict d;
  for (const SettingName& setting : setting_names())
    d[py::str(setting.name)] = python_value(setting, setting_value(s, setting.name));
  return d;
}

namespace {

// The documentation of spectrum(), its settings listed by the library.
const std::string& spectrum_doc() {
  static const std::string doc = std::string(R"(The multitaper spectrum of a series, as `quorvane analyse` computes it.

values: a Series, or a sequence of N numbers sampled every `dt` (or at
`time`, N times that increase or decrease throughout; gaps and uneven steps
get the missing-data or the Lomb-Scargle multitaper spectrum, as `sampling`
says). Every setting is a keyword
named as the option of `quorvane analyse` (--tapers: tapers, ...), with
the same values and defaults; None leaves a setting at its default:
)") + settings_doc() + R"(
Frequencies are in cycles per unit of time. Raises ValueError with the
engine's message for a bad value, contradicting settings, NaN in the values
or times that repeat or go back and forth; TypeError for an unknown keyword. The
engine runs without the GIL, so threads analyse series in parallel.)";
  return doc;
}

}  // namespace

void bind_spectrum(py::module_& m) {
  py::class_<Spectrum>(m, "Spectrum", py::dynamic_attr(), R"(A spectrum run's results.

Arrays (float32, read-only, one value per frequency of the band, equal to the
columns of the spectrum CSV): frequency, period, estimate, reshaped,
harmonic, median, background, F; levels: {50, 90, 95, 99: array}; F_levels:
{50, 90, 95, 99, 99.5, 99.9: number}; bandwidth, rho, dt, length; peaks: a
pandas DataFrame; settings: the settings used, as keywords.)")
      .def(pickled<Spectrum>())
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
            const PeakColumns table = peak_columns(s);
            py::dict columns;
            for (std::size_t c = 0; c < table.names.size(); ++c) {
              py::array_t<float> values(static_cast<py::ssize_t>(table.values[c].size()),
                                        table.values[c].data());
              columns[table.names[c].c_str()] =
                  table.names[c] == "trend" ? values.attr("astype")("bool") : py::object(values);
            }
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
        Settings settings = settings_of(keywords, "spectrum");
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
      py::arg("name") = "", spectrum_doc().c_str());
  // The settings' names, those coherence() takes, and their documentation,
  // for the Python functions that check and document their keywords.
  const auto names = [](bool coherence_only) {
    py::list names;
    for (const SettingName& setting : setting_names())
      if (!coherence_only || setting.coherence) names.append(setting.name);
    return py::tuple(names);
  };
  m.attr("SETTINGS") = names(false);
  m.attr("COHERENCE_SETTINGS") = names(true);
  m.attr("SETTINGS_DOC") = settings_doc();
}

}  // namespace quorvane::python
