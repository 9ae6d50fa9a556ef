// SpectrumPlan: the spectra of many series of one length and step with the
// tapers solved once and the work memory kept between calls.
#include "python/bindings.h"

namespace quorvane::python {

namespace {

const char* kPlanDoc = R"(A plan for the spectra of many series of one length.

SpectrumPlan(length, dt=1.0, **settings): series of `length` values every
`dt`, with the settings of quorvane.spectrum (the same keywords). The tapers
are solved once, here, and the work memory is kept between calls, so that
plan.spectrum(values) gives, bit for bit, quorvane.spectrum(values, dt,
**settings) at a fraction of its cost for short series. A plan serves evenly
spaced series only (sampling='gaps' or 'uneven' is refused), and may be
used from several threads at once.)";

const char* kPlanSpectrumDoc = R"(The spectrum of `values` with the plan's settings.

values: a Series, or a sequence of the plan's length sampled every plan.dt
(or at `time`, evenly spaced at that step). Raises ValueError for a series
of another length or step, or with gaps or uneven steps, and for whatever
quorvane.spectrum refuses.)";

}  // namespace

void bind_plan(py::module_& m) {
  py::class_<SpectrumPlan>(m, "SpectrumPlan", kPlanDoc)
      .def(py::init([](int length, double dt, const py::kwargs& keywords) {
             return value_or_raise(
                 SpectrumPlan::make(length, dt, settings_of(keywords, "SpectrumPlan")));
           }),
           py::arg("length"), py::arg("dt") = 1.0)
      // A plan travels to the worker processes of a cluster as its length,
      // step and settings, and solves its tapers again there.
      .def(py::pickle(
          [](const SpectrumPlan& plan) {
            return py::make_tuple(plan.length(), plan.dt(), settings_dict(plan.settings()));
          },
          [](const py::tuple& state) {
            const auto settings = py::reinterpret_borrow<py::kwargs>(state[2]);
            return value_or_raise(SpectrumPlan::make(state[0].cast<int>(), state[1].cast<double>(),
                                                     settings_of(settings, "SpectrumPlan")));
          }))
      .def_property_readonly("length", &SpectrumPlan::length, "The number of values of a series.")
      .def_property_readonly("dt", &SpectrumPlan::dt, "The time step of a series.")
      .def_property_readonly(
          "settings", [](const SpectrumPlan& plan) { return settings_dict(plan.settings()); },
          "The settings as given, as keywords.")
      .def(
          "spectrum",
          [](const SpectrumPlan& plan, py::handle values, py::handle time,
             const std::string& name) {
            const Series series = series_argument(values, plan.dt(), time, name);
            SignalWatch watch;
            Result<Spectrum> result = [&] {
              py::gil_scoped_release unlocked;
              return quorvane::spectrum(plan, series, watch.callback());
            }();
            watch.raise_if_raised();
            return value_or_raise(std::move(result));
          },
          py::arg("values"), py::kw_only(), py::arg("time") = py::none(), py::arg("name") = "",
          kPlanSpectrumDoc)
      .def("__repr__", [](const SpectrumPlan& plan) {
        return "<quorvane.SpectrumPlan of " + std::to_string(plan.length()) + " values every " +
               py::repr(py::float_(plan.dt())).cast<std::string>() + ">";
      });
}

}  // namespace quorvane::python
