"""Spectra of many series of one length as arrays: a block of series goes
to the compiled batch engine in one call (tapers solved once, threads
inside, the GIL released), and the result comes back as an xarray.Dataset
with no Python object per series.

Each series' strongest line is judged against the whole band (the chance
that noise puts a ratio this large anywhere in it), and the series whose
lines stand out are chosen by the false discovery rate across series."""

import numpy as np

from . import _quorvane
from ._units import spectral_attributes

SPECTRA = ("estimate", "background", "F", "level50", "level90", "level95", "level99")
MAPS = ("peak_frequency", "peak_ratio", "peak_significance", "p_value")
FDR_METHOD = "Benjamini-Hochberg"


def refuse_partly_missing(rows):
    """ValueError for a row with some NaN values (entirely NaN rows are left out)."""
    missing = np.isnan(rows)
    partly = missing.any(axis=-1) & ~missing.all(axis=-1)
    if partly.any():
        row = np.flatnonzero(partly)[0]
        raise ValueError(f"a cell holds {missing[row].sum()} NaN among its {rows.shape[-1]} "
                         "values; only cells that are entirely NaN are left out")


def block(rows, time, jobs=1, **settings):
    """The batch engine on a 2-D float32 block `rows` at `time`: a dict of arrays."""
    rows = np.ascontiguousarray(rows, dtype=np.float32)
    refuse_partly_missing(rows)
    return _quorvane._batch_spectra(rows, np.asarray(time, dtype=np.float64), jobs, **settings)


def fdr_significant(p_values, rate):
    """Benjamini-Hochberg: True where the p-value is among the largest set of
    the smallest p-values p_(1..k) with p_(k) <= k * rate / m, m the number
    of p-values that are not NaN (NaN: never significant)."""
    p = np.asarray(p_values, dtype=np.float64)
    flat = p.ravel()
    present = np.flatnonzero(~np.isnan(flat))
    significant = np.zeros(flat.shape, dtype=bool)
    m = len(present)
    if m:
        order = present[np.argsort(flat[present], kind="stable")]
        passing = np.flatnonzero(flat[order] <= rate * np.arange(1, m + 1) / m)
        if len(passing):
            significant[order[:passing[-1] + 1]] = True
    return significant.reshape(p.shape)


def describe(dataset, info, time_unit="unit of time", value_units=None, fdr=None):
    """Units, long names and the engine's scalars on a dataset of batch results."""
    import xarray  # noqa: F401 (the dataset is one)

    normalize = info["settings"].get("normalize", "none")
    frequency_units = f"cycles per {time_unit}"
    for name in SPECTRA:
        if name == "F":
            dataset[name].attrs.update(units="1", long_name="harmonic F statistic")
        else:
            dataset[name].attrs.update(spectral_attributes(normalize, time_unit, value_units))
    dataset["frequency"].attrs.update(long_name="frequency", units=frequency_units)
    dataset["peak_frequency"].attrs.update(units=frequency_units,
                                           long_name="frequency of the strongest significant line")
    dataset["peak_ratio"].attrs.update(units="1", long_name="estimate over background at that line")
    dataset["peak_significance"].attrs.update(units="percent",
                                              long_name="significance of that line")
    dataset["p_value"].attrs.update(
        units="1", long_name="band-wide p-value of the largest ratio above the trend",
        method="chi-square with 2K degrees of freedom at one frequency of the ratio scaled to "
               "a band median of the chi-square median, 1 - (1 - p)^M over the band's M "
               "Rayleigh frequencies")
    tapers = info["tapers"]
    independent = info["independent"]
    attributes = {}
    if tapers and independent >= 1:
        for percent in (95, 99):
            attributes[f"band_wide_ratio{percent}"] = _quorvane._band_wide_ratio(
                1 - percent / 100, independent, tapers)
    if fdr is not None:
        dataset["significant"].attrs.update(
            long_name="strongest line significant across the field",
            fdr=fdr, fdr_method=FDR_METHOD)
        attributes.update(fdr=fdr, fdr_method=FDR_METHOD)
    attributes.update(bandwidth=info["bandwidth"], dt=info["dt"], independent_frequencies=independent,
                      method=info["method"], sampling=info["sampling"])
    dataset.attrs.update(attributes)
    return dataset


def stacked(values2d, dt=1.0, axis=-1, *, time=None, time_unit=None, jobs=1, fdr=0.05, **settings):
    """The spectra of every series of an array, along `axis`, as an xarray.Dataset.

    values2d: an array of any number of dimensions; each series runs along
    `axis` and all have its length, step `dt` (or the times `time`, one per
    value, evenly spaced or not; frequencies in cycles per `time_unit`) and
    the keyword `settings` of
    quorvane.spectrum. One call of the compiled batch engine analyses them
    all on `jobs` threads (the results do not depend on the number).

    Returns a Dataset on the other dimensions ("series" for 2-D input,
    "dim_0", "dim_1", ... otherwise) and "frequency": estimate, background,
    F and the levels level50 .. level99 (with `units`), and per series
    peak_frequency, peak_ratio and peak_significance of its strongest
    significant line (NaN without one), p_value (the chance that noise alone
    reaches its largest ratio anywhere in the band above the trend) and,
    unless fdr is None, `significant`: the series chosen by the
    Benjamini-Hochberg false discovery rate `fdr` over all series' p_value.
    Series entirely NaN are left NaN; a series partly NaN raises ValueError.
    """
    import xarray

    values = np.moveaxis(np.asarray(values2d, dtype=np.float32), axis, -1)
    n = values.shape[-1]
    lead = values.shape[:-1]
    if time is None:
        time = np.arange(n) * float(dt)
    info = block(values.reshape(-1, n), time, jobs, **settings)
    dims = ("series",) if len(lead) == 1 else tuple(f"dim_{i}" for i in range(len(lead)))
    nf = len(info["frequency"])
    variables = {name: (dims + ("frequency",), info[name].reshape(lead + (nf,))) for name in SPECTRA}
    variables.update({name: (dims, info[name].reshape(lead)) for name in MAPS})
    if fdr is not None:
        variables["significant"] = (dims, fdr_significant(info["p_value"], fdr).reshape(lead))
    from . import _netcdf_attributes

    dataset = xarray.Dataset(variables, coords={"frequency": info["frequency"]},
                             attrs=_netcdf_attributes(info["settings"]))
    dataset.attrs["length"] = n
    return describe(dataset, info, time_unit or "unit of time", fdr=fdr)
