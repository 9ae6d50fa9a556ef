"""Multitaper spectral analysis of time series.

    import quorvane
    sunspots = quorvane.read("examples/sunspots.dat", "single")[0]
    s = quorvane.spectrum(sunspots, resolution=3)
    s.peaks                      # a pandas DataFrame
    s.to_xarray()                # an xarray.Dataset on a frequency coordinate
    quorvane.xarray.spectrum(da, dim="time")   # every cell of a grid, with dask
    quorvane.evolutive(sunspots, window=100, step=5)   # a moving window
    quorvane.coherence(a, b)     # the cross-spectrum of two series
    quorvane.ensemble(values, ages)   # over the chronologies of an age model

Settings are keywords named as the options of `quorvane analyse`, with the
same values and defaults (see help(quorvane.spectrum)).
"""

import importlib as _importlib

import numpy as _np

from ._quorvane import (SETTINGS, Coherence, Evolutive, Series, Spectrum, SpectrumPlan, __version__,
                        coherence, counted_ages, ensemble, evolutive, read, reconstruct, spectrum,
                        tiepoint_ages)

__all__ = ["SETTINGS", "Coherence", "Evolutive", "Series", "Spectrum", "SpectrumPlan", "coherence",
           "counted_ages", "ensemble", "evolutive", "read", "reconstruct", "spectrum", "tiepoint_ages",
           "xarray"]


def _netcdf_attributes(mapping):
    """`mapping` with values a netCDF file can hold: None as 'default',
    booleans as 0/1, pairs as lists."""
    attributes = {}
    for key, value in mapping.items():
        if value is None:
            value = "default"
        elif isinstance(value, bool):
            value = int(value)
        elif isinstance(value, tuple):
            value = list(value)
        attributes[key] = value
    return attributes


def _to_xarray(self):
    """The spectrum as an xarray.Dataset on a `frequency` coordinate: the
    arrays of the spectrum CSV as variables, the peaks on a `peak`
    dimension, the settings used, bandwidth, rho, dt and the F levels as
    attributes."""
    import xarray

    frequency = xarray.Variable("frequency", self.frequency, {"long_name": "frequency",
                                                               "units": "cycles per unit of time"})
    variables = {name: ("frequency", getattr(self, name))
                 for name in ("period", "estimate", "reshaped", "harmonic", "median",
                              "background", "F")}
    for percent, level in self.levels.items():
        variables[f"level{percent:g}"] = ("frequency", level)
    if len(self.jackknife_lower):
        variables["jackknife_lower"] = ("frequency", self.jackknife_lower)
        variables["jackknife_upper"] = ("frequency", self.jackknife_upper)
    for column, values in self.peaks.items():
        variables[f"peak_{column}"] = ("peak", _np.asarray(values))
    attributes = _netcdf_attributes(self.settings)
    attributes.update(name=self.name, bandwidth=self.bandwidth, rho=self.rho, dt=self.dt,
                      length=self.length)
    for percent, level in self.F_levels.items():
        attributes[f"F{percent:g}"] = level
    return xarray.Dataset(variables, coords={"frequency": frequency}, attrs=attributes)


Spectrum.to_xarray = _to_xarray


def __getattr__(name):
    # quorvane.xarray needs xarray and dask; it is imported when first used.
    if name == "xarray":
        return _importlib.import_module(".xarray", __name__)
    raise AttributeError(f"module 'quorvane' has no attribute '{name}'")
