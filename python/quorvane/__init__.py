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

from ._quorvane import (Coherence, Evolutive, Series, Spectrum, SpectrumPlan, __version__,
                        counted_ages, tiepoint_ages)
from ._api import SETTINGS, coherence, ensemble, evolutive, read, reconstruct, spectrum

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


def _frequency_units(result):
    unit = getattr(result, "time_unit", None)
    return f"cycles per {unit}" if unit else "cycles per unit of time"


def _time_attributes(result):
    """The unit of time and the first date (a decimal year) where known."""
    attributes = {}
    if getattr(result, "time_unit", None):
        attributes["time_unit"] = result.time_unit
    if getattr(result, "time_origin", None) is not None:
        attributes["time_origin"] = result.time_origin
    return attributes


def _time_units(variables, frequency_units):
    """Units on the variables that are frequencies, periods or times."""
    period_units = frequency_units.replace("cycles per ", "")
    for name, variable in variables.items():
        last = name.split("_", 1)[-1]
        if last in ("frequency", "line_frequency", "line_frequency_sd"):
            variables[name] = variable[:2] + ({"units": frequency_units},)
        elif last in ("period", "time"):
            variables[name] = variable[:2] + ({"units": period_units},)


def _to_xarray(self):
    """The spectrum as an xarray.Dataset on a `frequency` coordinate: the
    arrays of the spectrum CSV as variables, the peaks on a `peak`
    dimension, the settings used, bandwidth, rho, dt and the F levels as
    attributes."""
    import xarray

    frequency = xarray.Variable("frequency", self.frequency, {"long_name": "frequency",
                                                               "units": _frequency_units(self)})
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
    _time_units(variables, _frequency_units(self))
    attributes = _netcdf_attributes(self.settings)
    attributes.update(name=self.name, bandwidth=self.bandwidth, rho=self.rho, dt=self.dt,
                      length=self.length, **_time_attributes(self))
    for percent, level in self.F_levels.items():
        attributes[f"F{percent:g}"] = level
    dataset = xarray.Dataset(variables, coords={"frequency": frequency}, attrs=attributes)
    _describe_spectra(dataset, self.settings.get("normalize", "none"),
                      getattr(self, "time_unit", None) or "unit of time")
    return dataset


def _describe_spectra(dataset, normalize, time_unit="unit of time"):
    """`units` (and the scale) on the spectral variables of `dataset`."""
    from ._units import spectral_attributes

    scaled = spectral_attributes(normalize, time_unit)
    for name, variable in dataset.data_vars.items():
        if name in ("estimate", "reshaped", "harmonic", "median", "background") or (
                name.startswith(("level", "jackknife_"))):
            variable.attrs.update(scaled)
    if "F" in dataset:
        dataset["F"].attrs.update(units="1", long_name="harmonic F statistic")
    if "period" in dataset:
        dataset["period"].attrs.update(units=time_unit)


def _frame_variables(frame, dim, prefix):
    return {f"{prefix}{column}": (dim, _np.asarray(values)) for column, values in frame.items()}


def _coherence_to_xarray(self):
    """The coherence as an xarray.Dataset on a `frequency` coordinate: the
    columns of the coherence CSV as variables (phase in degrees), the levels
    of no coherence, the coherent maxima on a `maximum` dimension, and the
    settings, span and names as attributes."""
    import xarray

    frequency = xarray.Variable("frequency", self.frequency, {"long_name": "frequency",
                                                               "units": _frequency_units(self)})
    variables = {name: ("frequency", getattr(self, name), {"units": units})
                 for name, units in (("coherence", "1"), ("coherence_lower", "1"),
                                     ("coherence_upper", "1"), ("phase", "degrees"),
                                     ("phase_lower", "degrees"), ("phase_upper", "degrees"),
                                     ("gain", "1"), ("spectrum_a", "power"),
                                     ("spectrum_b", "power"))}
    for percent, level in self.levels.items():
        variables[f"level{percent:g}"] = ("frequency", level, {"units": "1"})
    variables["period"] = ("frequency", self.period)
    variables.update(_frame_variables(self.coherent, "maximum", "coherent_"))
    _time_units(variables, _frequency_units(self))
    attributes = _netcdf_attributes(self.settings)
    attributes.update(name_a=self.name_a, name_b=self.name_b, first_time=self.first_time,
                      last_time=self.last_time, length=self.length, dt=self.dt,
                      bandwidth=self.bandwidth, rho_a=self.rho_a, rho_b=self.rho_b,
                      montecarlo=int(self.montecarlo), method=self.method,
                      **_time_attributes(self))
    if self.method != "grid":
        # Off one grid: each record's sampling and values in the span, and on
        # its own times its persistence time and the band-wide levels.
        attributes.update(sampling_a=self.sampling_a, sampling_b=self.sampling_b,
                          length_a=self.length_a, length_b=self.length_b,
                          persistence_a=self.persistence_a, persistence_b=self.persistence_b)
        if self.montecarlo:
            attributes.update(band_wide95=self.band_wide[0], band_wide99=self.band_wide[1])
    return xarray.Dataset(variables, coords={"frequency": frequency}, attrs=attributes)


def _evolutive_to_xarray(self):
    """The evolutive spectrum as an xarray.Dataset on (time, frequency):
    power, F and ratio, the tracks on a `track` dimension, the settings,
    window and step as attributes. time: the windows' centres in the unit
    of time from the first date (time_origin, a decimal year) or as given."""
    import xarray

    unit = getattr(self, "time_unit", None)
    time = xarray.Variable("time", _np.asarray(self.time), {"long_name": "centre of the window",
                                                            "units": unit or "unit of time"})
    frequency = xarray.Variable("frequency", self.frequency, {"long_name": "frequency",
                                                               "units": _frequency_units(self)})
    variables = {"power": (("time", "frequency"), self.power, {"units": "power"}),
                 "F": (("time", "frequency"), self.F, {"long_name": "harmonic F statistic"}),
                 "ratio": (("time", "frequency"), self.ratio,
                           {"long_name": "estimate over background", "units": "1"})}
    variables.update(_frame_variables(self.tracks, "track", "track_"))
    _time_units(variables, _frequency_units(self))
    attributes = _netcdf_attributes(self.settings)
    attributes.update(name=self.name, window=self.window, step=self.step, dt=self.dt,
                      bandwidth=self.bandwidth, tracks_level=self.tracks_level,
                      **_time_attributes(self))
    if self.notes:
        attributes["notes"] = "\n".join(self.notes)
    if len(self.method):
        # A record on its own times: each window's method, and why a window
        # was left empty (its rows nan).
        reasons = [""] * len(self.method)
        for window in self.empty:
            reasons[window["window"]] = window["reason"]
        variables["method"] = ("time", _np.asarray(self.method, dtype=str))
        variables["empty_reason"] = ("time", _np.asarray(reasons, dtype=str))
        attributes["min_samples"] = self.min_samples
    return xarray.Dataset(variables, coords={"time": time, "frequency": frequency},
                          attrs=attributes)


def _plotter(name):
    def plot(self, *arguments, **keywords):
        from . import _plot
        return getattr(_plot, name)(self, *arguments, **keywords)
    plot.__doc__ = _importlib.import_module("._plot", __name__).__dict__[name].__doc__
    plot.__name__ = "plot"
    return plot


Spectrum.to_xarray = _to_xarray
Coherence.to_xarray = _coherence_to_xarray
Evolutive.to_xarray = _evolutive_to_xarray
Spectrum.plot = _plotter("spectrum")
Coherence.plot = _plotter("coherence")
Evolutive.plot = _plotter("evolutive")


def __getattr__(name):
    # quorvane.xarray needs xarray and dask; it is imported when first used.
    if name == "xarray":
        return _importlib.import_module(".xarray", __name__)
    raise AttributeError(f"module 'quorvane' has no attribute '{name}'")
