// What the binding files of the Python module share: refusals raised as
// ValueError, numpy arrays that view the library's vectors, and a series
// from the arguments a function takes for one.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "quorvane/quorvane.h"

namespace quorvane::python {

namespace py = pybind11;

// The value of `result`; a refusal raises ValueError with its message.
template <class T>
T value_or_raise(Result<T>&& result) {
  if (!result) throw py::value_error(result.message());
  return std::move(result).value();
}

// A read-only numpy array over `values`, which `owner` keeps alive: no copy.
template <class T>
py::array_t<T> view(const std::vector<T>& values, py::handle owner) {
  py::array_t<T> array({values.size()}, {sizeof(T)}, values.data(), owner);
  py::detail::array_proxy(array.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return array;
}

// The series of a function's arguments: `values` a Series (its own times),
// or any sequence of numbers with `time` (one time per value) or, without
// it, times 0, dt, 2 dt, ...
Series series_argument(py::handle values, double dt, py::handle time, const std::string& name);

// Settings from keyword arguments named as the options of analyse (None
// leaves a setting at its default); an unknown name raises TypeError, a bad
// value ValueError. And the settings back as such keywords.
Settings settings_of(const py::kwargs& keywords);
py::dict settings_dict(const Settings& settings);

void bind_series(py::module_& m);
void bind_spectrum(py::module_& m);
void bind_reconstruct(py::module_& m);
void bind_evolutive(py::module_& m);
void bind_coherence(py::module_& m);

}  // namespace quorvane::python
