"""Spectra of every cell of a grid: quorvane.spectrum mapped over the other
dimensions of an xarray.DataArray with xarray.apply_ufunc, so that a
dask-backed array is analysed lazily, chunk by chunk, on whatever dask
scheduler is active (threads, processes or a dask.distributed cluster)."""

import numpy as np
import xarray

import quorvane
from quorvane import _batch, _time


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


def _first_cell(da, dim):
    """The values of the first cell of `da` that is not entirely NaN (None
    when every cell is), computing no other cell of a dask-backed array."""
    other = [d for d in da.dims if d != dim]
    for index in np.ndindex(*(da.sizes[d] for d in other)):
        row = np.asarray(da.isel(dict(zip(other, index))).transpose(dim).values, dtype=np.float32)
        if not np.isnan(row).all():
            return row
    return None


def spectrum(da, dim="time", *, dt=None, time_unit=None, fdr=0.05, jobs=1, **settings):
    """The spectrum of every cell of `da` along `dim`, as an xarray.Dataset.

    The times come from the coordinate of `dim`: numbers, or dates
    (datetime64 or cftime in any calendar) in `time_unit` (default year;
    a record of whole months is evenly spaced); a coordinate with gaps or uneven steps gives every cell the
    missing-data or the Lomb-Scargle multitaper spectrum (as `sampling`
    says), on one frequency axis for the whole grid. `dt` gives an even
    step instead (and the coordinate is ignored). Settings are the keywords of
    quorvane.spectrum. Each block of cells is one call of the batch engine
    (tapers solved once, `jobs` threads, the same numbers as
    quorvane.spectrum cell by cell).

    The result holds `estimate`, `background`, `F` and the levels level50 ..
    level99 on (other dims..., frequency), with `units`, and maps of each
    cell's strongest significant line: `peak_frequency`, `peak_ratio`,
    `peak_significance` (NaN where a cell has no line), `p_value`, the
    chance that noise alone reaches the cell's largest ratio of estimate to
    background anywhere in the band above the trend (family-wise over the
    band's independent frequencies), and, unless fdr is None,
    `significant`: the cells chosen across the field by the
    Benjamini-Hochberg false discovery rate `fdr` on p_value (the rate and
    method as attributes), which on pure noise flags about that share of
    cells at most. A cell whose values are all NaN (such as land in an
    ocean field) gives NaN; a cell with some NaN values raises ValueError.
    With a dask-backed `da` the result is lazy: every chunk of the other
    dimensions is analysed as a task of the active scheduler.
    """
    if dim not in da.dims:
        raise ValueError(f"dim: '{dim}' is not a dimension of the array {tuple(da.dims)}")
    n = da.sizes[dim]
    if dt is None:
        time, units, step = _times(da, dim, time_unit)
    else:
        step, units = _time.step(dt, time_unit)
        time, units = None, units or "unit of time"
    if time is None:
        time = np.arange(n) * float(step)
    # The frequency axis of evenly spaced cells comes from the plan, with no
    # cell analysed; other samplings have the axis of their estimator, known
    # from the first cell with values. Any refusal of the settings is raised
    # here.
    info = _batch.block(np.empty((0, n), np.float32), time, jobs, **settings)
    if not len(info["frequency"]):
        first = _first_cell(da, dim)
        if first is not None:
            info = _batch.block(first[np.newaxis], time, 1, **settings)
    nf = len(info["frequency"])

    def cells(block):
        shape = block.shape[:-1]
        out = _batch.block(block.reshape(-1, n), time, jobs, **settings)
        return (tuple(out[name].reshape(shape + (nf,)) for name in _batch.SPECTRA)
                + tuple(out[name].reshape(shape) for name in _batch.MAPS))

    data = da.chunk({dim: -1}) if da.chunks is not None else da
    results = xarray.apply_ufunc(
        cells, data,
        input_core_dims=[[dim]],
        output_core_dims=[["frequency"]] * len(_batch.SPECTRA) + [[]] * len(_batch.MAPS),
        dask="parallelized",
        vectorize=False,  # each call analyses a whole block of cells
        output_dtypes=[np.float32] * (len(_batch.SPECTRA) + len(_batch.MAPS)),
        dask_gufunc_kwargs={"output_sizes": {"frequency": nf}},
    )
    dataset = xarray.Dataset(dict(zip(_batch.SPECTRA + _batch.MAPS, results)))
    dataset = dataset.assign_coords(frequency=("frequency", info["frequency"]))
    if fdr is not None:
        # The false discovery rate ranks every cell's p-value at once: the
        # map (one value per cell) in one piece.
        p_value = dataset["p_value"]
        if p_value.chunks is not None:
            p_value = p_value.chunk({d: -1 for d in p_value.dims})
        dataset["significant"] = xarray.apply_ufunc(
            _batch.fdr_significant, p_value, kwargs={"rate": fdr},
            input_core_dims=[list(p_value.dims)], output_core_dims=[list(p_value.dims)],
            dask="parallelized", output_dtypes=[bool])
    dataset.attrs.update(quorvane._netcdf_attributes(info["settings"]))
    dataset.attrs.update(length=n, dim=dim)
    return _batch.describe(dataset, info, units, da.attrs.get("units"), fdr)
