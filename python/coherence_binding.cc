// quorvane.coherence and its result: the columns of `quorvane coherence`
// as numpy arrays and its coherent maxima as a DataFrame.
#include <pybind11/stl.h>

#include <algorithm>

#include "python/bindings.h"
#include "python/state.h"

namespace quorvane::python {

namespace {

CoherenceSettings coherence_settings(const py::kwargs& keywords) {
  // The spectrum's parser checks each value; the estimate defaults to hires.
  const Settings s = settings_of(keywords, "coherence",
                                 [](const SettingName& setting) { return setting.coherence; });
  CoherenceSettings c;
  c.resolution = s.resolution;
  c.tapers = s.tapers;
  c.band = s.band;
  c.pad = s.pad;
  const bool chosen = keywords.contains("estimate") && !py::object(keywords["estimate"]).is_none();
  c.estimate = chosen ? s.estimate : Estimate::hires;
  c.concentrations = s.concentrations;
  c.significance = s.significance;
  c.surrogates = s.surrogates;
  c.seed = s.seed;
  c.jobs = s.jobs;
  c.sampling = s.sampling;
  return c;
}

// The documentation of coherence(), its keywords listed by the library.
const std::string& coherence_doc() {
  static const std::string doc = [] {
    // The keywords on indented lines of at most 76 characters.
    std::string names, line;
    for (const SettingName& setting : setting_names()) {
      if (!setting.coherence) continue;
      if (!line.empty() && line.size() + setting.name.size() + 2 > 74) {
        names += "  " + line + "\n";
        line.clear();
      }
      line += (line.empty() ? "" : " ") + setting.name + ",";
    }
    line.back() = '.';
    return R"(The coherence, phase and gain of two series, as `quorvane coherence`.

a, b: Series (their own times; the span they share is analysed) or
sequences of numbers at time_a and time_b (default 0, dt, 2 dt, ...). Two
evenly spaced series on one grid are analysed on it; any others (gaps,
uneven or different steps) each on its own times, or both interpolated to
the coarser median step with sampling="interpolate". Keywords, named and
valued as the command's options (the estimate is "hires" unless given):
)" + names + "  " + line +
           R"(
Raises ValueError for series that do not overlap or have too few values in
common, and for a sampling other than "auto" or "interpolate".)";
  }();
  return doc;
}

}  // namespace

void bind_coherence(py::module_& m) {
  py::class_<Coherence>(m, "Coherence", py::dynamic_attr(), R"(The cross-spectrum of two series.

Arrays by frequency (float32, the columns of `quorvane coherence`'s CSV):
frequency, period, coherence with coherence_lower/_upper (95 % jackknife),
phase in degrees (positive when B lags A) with phase_lower/_upper, gain
(|S_ab| / S_aa), spectrum_a, spectrum_b; levels: dict 50/90/95/99 -> the
coherence level of no coherence by frequency; coherent: a DataFrame of the
maxima above the 95 % level; first_time, last_time, length, dt: the span
both series share.)")
      .def(pickled<Coherence>())
      .def_readonly("name_a", &Coherence::name_a)
      .def_readonly("name_b", &Coherence::name_b)
#define QUORVANE_COLUMN(member, doc)                                                    \
  .def_property_readonly(                                                               \
      #member,                                                                          \
      [](py::object self) { return view(self.cast<const Coherence&>().member, self); }, \
      doc)
      QUORVANE_COLUMN(frequency, "The band's frequencies, cycles per unit of time.")
      QUORVANE_COLUMN(period, "1 / frequency.")
      QUORVANE_COLUMN(coherence, "Magnitude-squared coherence, 0..1.")
      QUORVANE_COLUMN(coherence_lower, "Lower end of its 95 % jackknife interval.")
      QUORVANE_COLUMN(coherence_upper, "Upper end of its 95 % jackknife interval.")
      QUORVANE_COLUMN(phase, "Phase of the cross-spectrum in degrees, positive when B lags A.")
      QUORVANE_COLUMN(phase_lower, "Lower end of its 95 % jackknife interval.")
      QUORVANE_COLUMN(phase_upper, "Upper end of its 95 % jackknife interval.")
      QUORVANE_COLUMN(gain, "|S_ab| / S_aa, the transfer amplitude from A to B.")
      QUORVANE_COLUMN(spectrum_a, "The spectrum of A.")
      QUORVANE_COLUMN(spectrum_b, "The spectrum of B.")
#undef QUORVANE_COLUMN
      .def_property_readonly(
          "levels",
          [](py::object self) {
            const Coherence& c = self.cast<const Coherence&>();
            py::dict levels;
            for (std::size_t j = 0; j < kLevelPercents.size(); ++j)
              levels[py::int_(static_cast<int>(kLevelPercents[j]))] = view(c.levels[j], self);
            return levels;
          },
          "The coherence levels of no coherence, {50, 90, 95, 99: array by frequency}.")
      .def_property_readonly(
          "settings",
          [](const Coherence& c) {
            // The coherence's settings as the keywords of coherence(),
            // named and valued by the same table as the spectrum's.
            Settings s;
            s.resolution = c.used.resolution;
            s.tapers = c.used.tapers;
            s.band = c.used.band;
            s.pad = c.used.pad;
            s.estimate = c.used.estimate;
            s.concentrations = c.used.concentrations;
            s.significance = c.used.significance;
            s.surrogates = c.used.surrogates;
            s.seed = c.used.seed;
            s.jobs = c.used.jobs;
            const py::dict all = settings_dict(s);
            py::dict d;
            for (const SettingName& setting : setting_names())
              if (setting.coherence) d[py::str(setting.name)] = all[py::str(setting.name)];
            return d;
          },
          "The settings as applied, as keywords of coherence().")
      .def_readonly("montecarlo", &Coherence::montecarlo,
                    "Whether the levels come from surrogates rather than the analytic law.")
      .def_property_readonly(
          "coherent",
          [](const Coherence& c) {
            py::dict columns;
            const auto add = [&](const char* name, float CoherentMaximum::*member) {
              std::vector<float> v;
              for (const CoherentMaximum& m : c.coherent) v.push_back(m.*member);
              columns[name] = py::array_t<float>(v.size(), v.data());
            };
            add("frequency", &CoherentMaximum::frequency);
            add("coherence", &CoherentMaximum::coherence);
            add("coherence_lower", &CoherentMaximum::coherence_lower);
            add("coherence_upper", &CoherentMaximum::coherence_upper);
            add("phase", &CoherentMaximum::phase);
            add("phase_lower", &CoherentMaximum::phase_lower);
            add("phase_upper", &CoherentMaximum::phase_upper);
            std::vector<int> level;
            for (const CoherentMaximum& m : c.coherent) level.push_back(m.level);
            columns["level"] = py::array_t<int>(level.size(), level.data());
            return py::module_::import("pandas").attr("DataFrame")(columns);
          },
          "The local maxima of coherence above the 95 % level, as the summary lists them.")
      .def_readonly("first_time", &Coherence::first_time)
      .def_readonly("last_time", &Coherence::last_time)
      .def_readonly("length", &Coherence::length, "Values in common.")
      .def_readonly("dt", &Coherence::dt)
      .def_readonly("bandwidth", &Coherence::bandwidth)
      .def_readonly("rho_a", &Coherence::rho_a)
      .def_readonly("rho_b", &Coherence::rho_b)
      .def_readonly("method", &Coherence::method,
                    "How the pair was analysed: grid, own_times or interpolated.")
      .def_readonly("sampling_a", &Coherence::sampling_a)
      .def_readonly("sampling_b", &Coherence::sampling_b)
      .def_readonly("length_a", &Coherence::length_a, "Values of a in the shared span.")
      .def_readonly("length_b", &Coherence::length_b, "Values of b in the shared span.")
      .def_readonly("persistence_a", &Coherence::persistence_a)
      .def_readonly("persistence_b", &Coherence::persistence_b)
      .def_readonly("band_wide", &Coherence::band_wide,
                    "The 95 % and 99 % levels of the largest coherence over the band "
                    "(surrogates off one grid; 0 otherwise).")
      .def("__repr__", [](const Coherence& c) {
        return "<quorvane.Coherence of '" + c.name_a + "' and '" + c.name_b + "': " +
               std::to_string(c.length) + " values in common, " +
               std::to_string(c.coherent.size()) + " coherent maxima>";
      });

  m.def(
      "coherence",
      [](py::handle a, py::handle b, double dt, py::handle time_a, py::handle time_b,
         const py::kwargs& keywords) {
        CoherenceSettings settings = coherence_settings(keywords);
        SignalWatch watch;
        settings.cancelled = watch.callback();
        const Series sa = series_argument(a, dt, time_a, "a");
        const Series sb = series_argument(b, dt, time_b, "b");
        Result<Coherence> result = [&] {
          py::gil_scoped_release unlocked;
          return quorvane::coherence(sa, sb, settings);
        }();
        watch.raise_if_raised();
        return value_or_raise(std::move(result));
      },
      py::arg("a"), py::arg("b"), py::arg("dt") = 1.0, py::arg("time_a") = py::none(),
      py::arg("time_b") = py::none(), coherence_doc().c_str());
}

}  // namespace quorvane::python
