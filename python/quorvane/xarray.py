"""Spectra of every cell of a grid: quorvane.spectrum mapped over the other
dimensions of an xarray.DataArray with xarray.apply_ufunc, so that a
dask-backed array is analysed lazily, chunk by chunk, on whatever dask
scheduler is active (threads, processes or a dask.distributed cluster)."""

import numpy as np
import xarray

import quorvane
from quorvane import _time

_OUTPUTS = ("estimate", "background", "F")
_MAPS = ("peak_frequency", "peak_ratio", "peak_significance")


def _times(da, dim, time_unit=None):
    """The times of `dim`: (times or None, their unit, the even step). Dates
    in any calendar are measured in `time_unit` (years by default), and a
    record a whole number of months apart is evenly spaced; numbers are
    taken as they are, in the coordinate's `units`."""
    if dim not in da.coords:
        return None, time_unit or "unit of time", 1.0
    coordinate = da[dim]
    try:
        axis = _time.axis(coordinate, time_unit)
    except TypeError:
        raise ValueError(f"the coordinate {dim} holds {coordinate.dtype}, not numbers or dates; "
                         "give dt") from None
    if axis.origin is None:
        return axis.times, time_unit or coordinate.attrs.get("units", "unit of time"), 1.0
    if axis.dt is not None:
        return None, axis.unit, axis.dt
    return axis.times, axis.unit, 1.0


def _strongest_line(s):
    """Frequency, ratio and significance of the strongest significant line of
    spectrum `s` (trend excluded): the largest ratio to the background, or
    the largest F statistic when the F-test alone judges the lines."""
    peaks = s.peaks
    peaks = peaks[~peaks["trend"]]
    if peaks.empty:
        return np.nan, np.nan, np.nan
    best = peaks.loc[(peaks["F"] if s.settings["signal"] == "harmonic" else peaks["ratio"]).idxmax()]
    return best["frequency"], best["ratio"], best["significance"]


def spectrum(da, dim="time", *, dt=None, time_unit=None, **settings):
    """The spectrum of every cell of `da` along `dim`, as an xarray.Dataset.

    The times come from the coordinate of `dim`: numbers, or dates
    (datetime64 or cftime in any calendar) in `time_unit` (default year;
    a record of whole months is evenly spaced); a coordinate with gaps or uneven steps gives every cell the
    missing-data or the Lomb-Scargle multitaper spectrum (as `sampling`
    says), on one frequency axis for the whole grid. `dt` gives an even
    step instead (and the coordinate is ignored). Settings are the keywords of
    quorvane.spectrum. The result holds `estimate`, `background` and `F` on
    (other dims..., frequency) and maps of the strongest significant line
    of each cell: `peak_frequency`, `peak_ratio`, `peak_significance` (NaN
    where a cell has no line). A cell whose values are all NaN (such as land
    in an ocean field) gives NaN; a cell with some NaN values raises
    ValueError. With a dask-backed `da` the result is lazy: every chunk of
    the other dimensions is analysed as a task of the active scheduler.
    """
    if dim not in da.dims:
        raise ValueError(f"dim: '{dim}' is not a dimension of the array {tuple(da.dims)}")
    n = da.sizes[dim]
    if dt is None:
        time, units, step = _times(da, dim, time_unit)
    else:
        step, units = _time.step(dt, time_unit)
        time, units = None, units or "unit of time"
    # The frequency axis depends only on the length, the step and the
    # settings: learnt once, and any refusal of the settings raised here.
    probe = quorvane.spectrum(np.random.default_rng(0).standard_normal(n), step, time=time,
                              **settings)
    nf = len(probe.frequency)
    # Evenly spaced cells share one plan, its tapers solved once for the
    # grid (and once more in each worker process of a cluster); the cells of
    # any other sampling have tapers of their own times.
    if probe.sampling["method"] == "multitaper":
        plan = quorvane.SpectrumPlan(n, step if time is None else probe.dt, **settings)

        def analyse(row):
            return plan.spectrum(row, time=time)
    else:
        def analyse(row):
            return quorvane.spectrum(row, step, time=time, **settings)

    def cells(block):
        rows = block.reshape(-1, n)
        spectra = [np.full((len(rows), nf), np.nan, np.float32) for _ in _OUTPUTS]
        maps = [np.full(len(rows), np.nan, np.float32) for _ in _MAPS]
        for i, row in enumerate(rows):
            missing = np.isnan(row)
            if missing.all():
                continue
            if missing.any():
                raise ValueError(f"a cell holds {missing.sum()} NaN among its {n} values; only "
                                 "cells that are entirely NaN are left out")
            s = analyse(row)
            for out, name in zip(spectra, _OUTPUTS):
                out[i] = getattr(s, name)
            for out, value in zip(maps, _strongest_line(s)):
                out[i] = value
        shape = block.shape[:-1]
        return (tuple(out.reshape(shape + (nf,)) for out in spectra)
                + tuple(out.reshape(shape) for out in maps))

    data = da.chunk({dim: -1}) if da.chunks is not None else da
    results = xarray.apply_ufunc(
        cells, data,
        input_core_dims=[[dim]],
        output_core_dims=[["frequency"]] * len(_OUTPUTS) + [[]] * len(_MAPS),
        dask="parallelized",
        vectorize=False,  # each call analyses a whole block of cells
        output_dtypes=[np.float32] * (len(_OUTPUTS) + len(_MAPS)),
        dask_gufunc_kwargs={"output_sizes": {"frequency": nf}},
    )
    frequency_units = f"cycles per {units}"
    dataset = xarray.Dataset(dict(zip(_OUTPUTS + _MAPS, results)))
    dataset = dataset.assign_coords(frequency=("frequency", probe.frequency,
                                               {"long_name": "frequency", "units": frequency_units}))
    dataset["peak_frequency"].attrs.update(units=frequency_units,
                                           long_name="frequency of the strongest significant line")
    dataset["peak_ratio"].attrs.update(long_name="estimate over background at that line")
    dataset["peak_significance"].attrs.update(units="percent", long_name="significance of that line")
    attributes = quorvane._netcdf_attributes(probe.settings)
    attributes.update(bandwidth=probe.bandwidth, dt=probe.dt, length=n, dim=dim,
                      sampling=probe.sampling["class"], method=probe.sampling["method"])
    dataset.attrs.update(attributes)
    return dataset
