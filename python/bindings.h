// What the binding files of the Python module share: refusals raised as
// ValueError, numpy arrays that view the library's vectors, and a series
// from the arguments a function takes for one.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "quorvane/quorvane.h"

namespace quorvane::python {

namespace py = pybind11;

// A failure of the library on its way out of a binding, which may run
// without the GIL; the translator registered by the module (with the GIL
// held) raises the Python exception of its kind.
struct Failure : std::runtime_error {
  Failure(const Status& status) : std::runtime_error(status.message), code(status.code) {}
  StatusCode code;
};

// Raises the exception of a failure's kind: ValueError for refused input or
// settings, MemoryError, OSError for a file, KeyboardInterrupt for a run
// stopped by Ctrl-C.
void register_failures();

// The value of `result`; a failure throws Failure.
template <class T>
T value_or_raise(Result<T>&& result) {
  if (!result) throw Failure(result.status());
  return std::move(result).value();
}

// Lets Ctrl-C reach work run without the GIL. Its callback, given to the
// work as Settings::cancelled, takes the GIL back on the calling thread at
// most every 50 ms and runs Python's signal handlers there (only that
// thread may); once a handler has raised (KeyboardInterrupt for SIGINT) it
// returns true on every thread, and the work stops. After the work, with
// the GIL held again, raise_if_raised() raises that exception.
class SignalWatch {
 public:
  std::function<bool()> callback() {
    return [this] { return check(); };
  }
  void raise_if_raised() const {
    if (raised_) throw py::error_already_set();
  }

 private:
  bool check() {
    if (raised_) return true;
    if (std::this_thread::get_id() != caller_) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(50)) return false;
    last_ = now;
    const py::gil_scoped_acquire held;
    if (PyErr_CheckSignals() != 0) raised_ = true;
    return raised_;
  }
  const std::thread::id caller_ = std::this_thread::get_id();
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
  std::atomic<bool> raised_{false};
};

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
Settings settings_of(const py::kwargs& keywords, const char* function = "spectrum",
                     bool (*taken)(const SettingName& setting) = nullptr);
py::dict settings_dict(const Settings& settings);

void bind_series(py::module_& m);
void bind_spectrum(py::module_& m);
void bind_reconstruct(py::module_& m);
void bind_evolutive(py::module_& m);
void bind_coherence(py::module_& m);
void bind_plan(py::module_& m);
void bind_batch(py::module_& m);
void bind_ensemble(py::module_& m);

}  // namespace quorvane::python
