// Series and read().
#include <pybind11/stl.h>

#include "python/bindings.h"
#include "python/state.h"

namespace quorvane::python {

Series series_argument(py::handle values, double dt, py::handle time, const std::string& name) {
  if (py::isinstance<Series>(values)) {
    if (!time.is_none())
      throw py::type_error("time: a Series brings its own times; give its values instead");
    return values.cast<Series>();
  }
  Series series;
  series.name = name;
  const py::module_ numpy = py::module_::import("numpy");
  // The imaginary part would be lost without a word: refused.
  if (numpy.attr("iscomplexobj")(values).cast<bool>())
    throw py::type_error(
        "values: complex numbers cannot be analysed; give a real part (values.real), a "
        "magnitude (abs(values)) or analyse the two parts as two series");
  // Missing samples, as a missing cell of a file: the masked entries of a
  // numpy masked array, and the NA (or NaN) cells of a pandas series or
  // array, which become NaN here and are dropped below with their times.
  py::object data = py::reinterpret_borrow<py::object>(values);
  py::object missing = py::none();
  if (py::isinstance(values, numpy.attr("ma").attr("MaskedArray"))) {
    missing = numpy.attr("ma").attr("getmaskarray")(values);
    data = numpy.attr("ma").attr("getdata")(values);
  } else if (py::hasattr(values, "isna") && py::hasattr(values, "to_numpy")) {
    missing = numpy.attr("asarray")(values.attr("isna")(), "bool");
    data = values.attr("to_numpy")("float64", false, numpy.attr("nan"));
  }
  const auto y = py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(data);
  if (!y || y.ndim() != 1) throw py::type_error("values: a one-dimensional sequence of numbers");
  series.values.assign(y.data(), y.data() + y.size());
  if (time.is_none()) {
    series.times.resize(series.values.size());
    for (std::size_t i = 0; i < series.times.size(); ++i)
      series.times[i] = static_cast<double>(i) * dt;
  } else {
    const auto t = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(time);
    if (!t || t.ndim() != 1) throw py::type_error("time: a one-dimensional sequence of numbers");
    series.times.assign(t.data(), t.data() + t.size());
  }
  if (!missing.is_none()) {
    const auto gone = py::array_t<bool, py::array::c_style | py::array::forcecast>::ensure(missing);
    if (!gone || static_cast<std::size_t>(gone.size()) != series.values.size())
      throw py::value_error("values: the mask must have one entry per value");
    // Times of another length are refused with the series.
    if (series.times.size() != series.values.size()) return series;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < series.values.size(); ++i) {
      if (gone.data()[i]) continue;
      series.values[kept] = series.values[i];
      series.times[kept++] = series.times[i];
    }
    series.values.resize(kept);
    series.times.resize(kept);
  }
  return series;
}

void bind_series(py::module_& m) {
  py::class_<Series>(m, "Series", py::dynamic_attr(),
                    "One time series: name, time (float64) and values (float32).")
      .def(py::init([](py::handle values, py::handle time, double dt, const std::string& name) {
             return series_argument(values, dt, time, name);
           }),
           py::arg("values"), py::kw_only(), py::arg("time") = py::none(), py::arg("dt") = 1.0,
           py::arg("name") = "",
           "A series of `values` at `time` (one per value), or at 0, dt, 2 dt, ... without it.\n"
           "Masked entries of a numpy masked array and NA cells of a pandas series are missing\n"
           "samples (the series then has gaps); complex values are refused.")
      .def(pickled<Series>())
      .def_readonly("name", &Series::name)
      .def_property_readonly(
          "time", [](py::object self) { return view(self.cast<const Series&>().times, self); },
          "The time of each value in the series' own units (float64, read-only).")
      .def_property_readonly(
          "values", [](py::object self) { return view(self.cast<const Series&>().values, self); },
          "The values (float32, read-only).")
      .def("__len__", [](const Series& s) { return s.values.size(); })
      .def("__repr__", [](const Series& s) {
        return "<quorvane.Series '" + s.name + "' of " + std::to_string(s.values.size()) +
               " values>";
      });

  m.def(
      "read",
      [](const std::string& path, const std::string& layout, const py::kwargs& options) {
        LayoutOptions answers;
        for (const auto& [key, value] : options)
          answers[key.cast<std::string>()] = py::str(value).cast<std::string>();
        py::gil_scoped_release unlocked;
        return value_or_raise(read(path, layout, answers));
      },
      py::arg("path"), py::arg("layout"),
      R"(Every series of the file `path` in `layout`, as `quorvane analyse --layout` reads it.

layout: rwl, crn, single, two, multi, monthly, rows (or 1..7). The layout's
answers come as keywords: skip (two, multi, monthly, rows), per_line and
multiplier (monthly), sentinel and columns (multi), record_layout and
columns (rows). Returns a list of Series in the order of the file; raises
ValueError with the reader's message when the file cannot be read so.)");
}

}  // namespace quorvane::python
