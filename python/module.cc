// The compiled part of the Python package quorvane.
#include "python/bindings.h"

PYBIND11_MODULE(_quorvane, m) {
  m.doc() = "Multitaper spectral analysis of time series (the compiled part of quorvane).";
  m.attr("__version__") = quorvane::version();
  quorvane::python::bind_series(m);
  quorvane::python::bind_spectrum(m);
  quorvane::python::bind_reconstruct(m);
  quorvane::python::bind_evolutive(m);
  quorvane::python::bind_coherence(m);
  quorvane::python::bind_plan(m);
  quorvane::python::bind_ensemble(m);
}
