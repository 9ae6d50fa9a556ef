// reconstruct(): chosen signals rebuilt in the time domain, as a DataFrame.
#include <pybind11/stl.h>

#include "python/bindings.h"

namespace quorvane::python {

void bind_reconstruct(py::module_& m) {
  m.def(
      "reconstruct",
      [](py::handle values, const Spectrum& spectrum, py::handle signals, double dt,
         py::handle time, double level, const std::string& constraint) {
        ReconstructOptions options;
        if (py::isinstance<py::str>(signals)) {
          const std::string which = signals.cast<std::string>();
          if (which == "trend") {
            options.signals = ReconstructOptions::Signals::trend;
          } else if (which != "peaks") {
            throw py::value_error("signals: 'peaks', 'trend' or a list of frequencies, not '" +
                                  which + "'");
          }
        } else {
          options.signals = ReconstructOptions::Signals::frequencies;
          const auto f = py::array_t<double, py::array::forcecast>::ensure(signals);
          if (!f || f.ndim() > 1)
            throw py::type_error("signals: 'peaks', 'trend' or a list of frequencies");
          options.frequencies.assign(f.data(), f.data() + f.size());
        }
        options.level = level;
        const char* names[] = {"misfit", "norm", "slope", "rough"};
        bool known = false;
        for (int c = 0; c < 4; ++c)
          if (constraint == names[c]) {
            options.constraint = static_cast<Constraint>(c);
            known = true;
          }
        if (!known)
          throw py::value_error("constraint: '" + constraint +
                                "' is not one of misfit, norm, slope, rough");
        const Series series = series_argument(values, dt, time, spectrum.name);
        Result<Reconstruction> result = [&] {
          py::gil_scoped_release unlocked;
          return quorvane::reconstruct(series, spectrum, options);
        }();
        const Reconstruction r = value_or_raise(std::move(result));
        py::dict columns;
        columns["time"] = py::array_t<double>(r.time.size(), r.time.data());
        columns["series"] = py::array_t<float>(r.series.size(), r.series.data());
        columns["anomaly"] = py::array_t<float>(r.anomaly.size(), r.anomaly.data());
        for (const RebuiltSignal& s : r.signals)
          columns[py::str(s.name)] = py::array_t<float>(s.values.size(), s.values.data());
        columns["sum"] = py::array_t<float>(r.sum.size(), r.sum.data());
        return py::module_::import("pandas").attr("DataFrame")(columns);
      },
      py::arg("values"), py::arg("spectrum"), py::arg("signals") = "peaks", py::kw_only(),
      py::arg("dt") = 1.0, py::arg("time") = py::none(), py::arg("level") = 99.0,
      py::arg("constraint") = "misfit",
      R"(Signals rebuilt from the series with the tapers of `spectrum` (a result of
spectrum() on the same values, dt and time).

signals: 'peaks' (every peak at or above `level` percent that is not
trend), 'trend', or a list of frequencies. constraint: misfit, norm, slope
or rough. Returns a pandas DataFrame with the columns of the recon CSV:
time, series, anomaly, one column per signal (f_<frequency> or trend),
sum.)");
}

}  // namespace quorvane::python
