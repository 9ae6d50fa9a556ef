// The compiled part of the Python package quorvane.
#include "python/bindings.h"

namespace quorvane::python {

void register_failures() {
  py::register_exception_translator([](std::exception_ptr raised) {
    try {
      if (raised) std::rethrow_exception(raised);
    } catch (const Failure& failure) {
      PyObject* kind = PyExc_ValueError;
      switch (failure.code) {
        case StatusCode::out_of_memory: kind = PyExc_MemoryError; break;
        case StatusCode::file_error: kind = PyExc_OSError; break;
        case StatusCode::interrupted: kind = PyExc_KeyboardInterrupt; break;
        case StatusCode::ok:
        case StatusCode::refused: break;
      }
      PyErr_SetString(kind, failure.what());
    }
  });
}

}  // namespace quorvane::python

PYBIND11_MODULE(_quorvane, m) {
  quorvane::python::register_failures();
  m.doc() = "Multitaper spectral analysis of time series (the compiled part of quorvane).";
  m.attr("__version__") = quorvane::version();
  quorvane::python::bind_series(m);
  quorvane::python::bind_spectrum(m);
  quorvane::python::bind_reconstruct(m);
  quorvane::python::bind_evolutive(m);
  quorvane::python::bind_coherence(m);
  quorvane::python::bind_plan(m);
  quorvane::python::bind_batch(m);
  quorvane::python::bind_ensemble(m);
}
