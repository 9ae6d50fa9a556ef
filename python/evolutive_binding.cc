// quorvane.evolutive and its result: the matrices of `quorvane evolve` as
// two-dimensional numpy arrays and the line tracks as a DataFrame.
#include <pybind11/stl.h>

#include "python/bindings.h"
#include "python/state.h"

namespace quorvane::python {

namespace {

// A read-only (windows, frequencies) array over a matrix stored row by row.
py::array_t<float> matrix(const std::vector<float>& values, std::size_t columns,
                          py::handle owner) {
  const std::size_t rows = columns == 0 ? 0 : values.size() / columns;
  py::array_t<float> array({rows, columns}, {columns * sizeof(float), sizeof(float)},
                           values.data(), owner);
  py::detail::array_proxy(array.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return array;
}

}  // namespace

void bind_evolutive(py::module_& m) {
  py::class_<Evolutive>(m, "Evolutive", py::dynamic_attr(), R"(An evolutive spectrum's results.

power, F, ratio: float32 arrays of shape (windows, frequencies), the matrices
of `quorvane evolve` (estimate, F statistic, estimate over background);
time: the windows' centre times; frequency: the band; tracks: a pandas
DataFrame with the columns of the tracks CSV; window, step: in values.)")
      .def(pickled<Evolutive>())
      .def_readonly("name", &Evolutive::name)
      .def_property_readonly(
          "time", [](py::object self) { return view(self.cast<const Evolutive&>().time, self); },
          "The centre time of each window.")
      .def_property_readonly(
          "frequency",
          [](py::object self) { return view(self.cast<const Evolutive&>().frequency, self); },
          "The band's frequencies, cycles per unit of time.")
#define QUORVANE_MATRIX(member, doc)                                          \
  .def_property_readonly(                                                     \
      #member,                                                                \
      [](py::object self) {                                                   \
        const Evolutive& e = self.cast<const Evolutive&>();                   \
        return matrix(e.member, e.frequency.size(), self);                    \
      },                                                                      \
      doc)
      QUORVANE_MATRIX(power, "The multitaper estimate, (windows, frequencies).")
      QUORVANE_MATRIX(F, "The harmonic F statistic, (windows, frequencies).")
      QUORVANE_MATRIX(ratio, "The estimate over its background, (windows, frequencies).")
#undef QUORVANE_MATRIX
      .def_readonly("window", &Evolutive::window, "Values in a window.")
      .def_readonly("step", &Evolutive::step, "Values between the starts of two windows.")
      .def_readonly("dt", &Evolutive::dt, "The time step.")
      .def_readonly("bandwidth", &Evolutive::bandwidth, "The full bandwidth 2P/(window dt).")
      .def_readonly("method", &Evolutive::method,
                    "Gaps or uneven steps: each window's method, even, gaps, uneven or empty.")
      .def_property_readonly(
          "empty",
          [](const Evolutive& e) {
            py::list windows;
            for (const EmptyWindow& w : e.empty)
              windows.append(py::dict(py::arg("window") = w.window, py::arg("time") = w.time,
                                      py::arg("samples") = w.samples,
                                      py::arg("reason") = w.reason));
            return windows;
          },
          "Gaps or uneven steps: the windows left empty (nan rows), each a dict of its "
          "0-based window, centre time, samples and reason.")
      .def_readonly("min_samples", &Evolutive::min_samples,
                    "Gaps or uneven steps: the fewest samples a window was analysed with.")
      .def_readonly("tracks_level", &Evolutive::tracks_level,
                    "Percent: the F-test level of the tracks (the reshape level).")
      .def_readonly("notes", &Evolutive::notes,
                    "What the preparation of the series said (values analysed as if evenly "
                    "spaced, interpolated, gaps over most of the span).")
      .def_property_readonly(
          "settings", [](const Evolutive& e) { return settings_dict(e.used); },
          "The settings as applied to a window.")
      .def_property_readonly(
          "tracks",
          [](const Evolutive& e) {
            py::dict columns;
            std::vector<double> time;
            std::vector<float> frequency, period, f, f_significance, ratio, significance;
            for (const Track& t : e.tracks) {
              time.push_back(t.time);
              frequency.push_back(t.frequency);
              period.push_back(t.period);
              f.push_back(t.F);
              f_significance.push_back(t.F_significance);
              ratio.push_back(t.ratio);
              significance.push_back(t.significance);
            }
            columns["time"] = py::array_t<double>(time.size(), time.data());
            const auto add = [&columns](const char* name, const std::vector<float>& v) {
              columns[name] = py::array_t<float>(v.size(), v.data());
            };
            add("frequency", frequency);
            add("period", period);
            add("F", f);
            add("F_significance", f_significance);
            add("ratio", ratio);
            add("significance", significance);
            return py::module_::import("pandas").attr("DataFrame")(columns);
          },
          "Every F maximum above the tracks' level in every window, as the tracks CSV.")
      .def("__repr__", [](const Evolutive& e) {
        return "<quorvane.Evolutive of '" + e.name + "': " + std::to_string(e.time.size()) +
               " windows of " + std::to_string(e.window) + " values, " +
               std::to_string(e.tracks.size()) + " track points>";
      });

  m.def(
      "evolutive",
      [](py::handle values, double dt, double window, double step, int min_samples,
         py::handle time, const std::string& name, const py::kwargs& keywords) {
        Settings settings = settings_of(keywords);
        SignalWatch watch;
        settings.cancelled = watch.callback();
        const Series series = series_argument(values, dt, time, name);
        Result<Evolutive> result = [&] {
          py::gil_scoped_release unlocked;
          return quorvane::evolutive(series, window, step, settings, min_samples);
        }();
        watch.raise_if_raised();
        return value_or_raise(std::move(result));
      },
      py::arg("values"), py::arg("dt") = 1.0, py::kw_only(), py::arg("window"), py::arg("step"),
      py::arg("min_samples") = 0,
      py::arg("time") = py::none(), py::arg("name") = "",
      R"(The evolutive spectrum of a series, as `quorvane evolve` computes it.

values, dt, time, name: as for quorvane.spectrum. window, step: in the
series' time units; a window holds round(window / dt) values and moves by
round(step / dt) values. Each window is analysed exactly as
quorvane.spectrum analyses those values alone, with the keywords of
quorvane.spectrum (jobs: threads sharing the windows). A series with gaps or
uneven steps has windows of round(window / dt) steps of its grid (median)
step, each analysed as its own samples call for (method; every window by the
uneven method with sampling='uneven'); a window with fewer than min_samples
samples (0: 2K + 2, at least 10) or more than half its steps empty is left
empty (nan rows, listed in empty). Raises ValueError for a window that does
not fit, a step below one value, Monte Carlo levels or the jackknife.)");
}

}  // namespace quorvane::python
