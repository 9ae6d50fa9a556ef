"""The public functions over the compiled ones: plain Python callables
(they pickle by name, so client.submit, Pool.map and dask.delayed send them
to other processes) with real signatures, dates and calendars as times,
pandas and two-dimensional inputs, and messages that name a position from 0
and its date instead of echoing the input."""

import difflib
import inspect
import numbers

import numpy as np

from . import _quorvane
from . import _time

SETTINGS = _quorvane.SETTINGS
_COHERENCE_SETTINGS = _quorvane.COHERENCE_SETTINGS


def _check_settings(function, settings, allowed):
    for key in settings:
        if key not in allowed:
            close = difflib.get_close_matches(key, allowed, 1)
            hint = f"did you mean {close[0]!r}?" if close else "see quorvane.SETTINGS"
            raise TypeError(f"{function}() got an unexpected keyword argument {key!r}; {hint}")


def _describe(value):
    """A value named by its type and shape, never by its contents."""
    shape = getattr(value, "shape", None)
    return f"{type(value).__name__} of shape {shape}" if shape is not None else type(value).__name__


def _own_time(values):
    """The times a pandas Series or xarray DataArray brings: its index or its
    dimension's coordinate; None for a RangeIndex (steps of dt) or none."""
    import pandas as pd

    if isinstance(values, pd.Series):
        index = values.index
        return None if isinstance(index, pd.RangeIndex) else index
    dims = getattr(values, "dims", None)
    if dims is not None and len(dims) == 1 and dims[0] in getattr(values, "coords", {}):
        return values.coords[dims[0]]
    return None


def _missing(values):
    """Which samples are missing (masked, NA) or None when none can be."""
    if np.ma.isMaskedArray(values):
        return np.ma.getmaskarray(values)
    if hasattr(values, "isna") and hasattr(values, "to_numpy"):
        return np.asarray(values.isna(), dtype=bool)
    return None


class _Record:
    """A series ready for the compiled functions, with its unit of time, its
    first date as a decimal year (or None) and what names its positions."""

    def __init__(self, series, unit, origin, dates):
        self.series, self.unit, self.origin, self.dates = series, unit, origin, dates


def _record(values, dt, time, time_unit, name, start=None, fixed_times=False):
    """The _Record of one series given as the public functions take it;
    fixed_times keeps dates as times (two series measured from one `start`)
    rather than an even step from 0."""
    _time.check_unit(time_unit)
    if isinstance(values, _quorvane.Series):
        if time is not None:
            raise TypeError("time: a Series brings its own times; give its values instead")
        return _Record(values, getattr(values, "time_unit", time_unit),
                       getattr(values, "time_origin", None), None)
    if name is None:
        name = getattr(values, "name", None)
        name = "" if name is None else str(name)
    elif not isinstance(name, str):
        raise TypeError(f"name: a str, not {type(name).__name__}")
    if time is not None and dt is not None:
        raise TypeError("give time or dt, not both: times fix the step")
    if time is None and dt is None:
        time = _own_time(values)
    if hasattr(values, "dims"):  # an xarray DataArray: NaN marks a missing sample
        values = np.ma.masked_invalid(np.asarray(values.values, dtype=np.float64))
    if isinstance(values, (str, bytes)) or np.ndim(values) != 1:
        raise TypeError(f"values: a one-dimensional sequence of numbers, not {_describe(values)}")
    origin, dates, unit = None, None, time_unit
    if time is not None:
        axis = _time.axis(time, time_unit, start)
        unit, origin, dates = axis.unit, axis.origin, axis.dates
        if axis.dt is not None and origin is not None and not fixed_times:
            step, times = axis.dt, None
        else:
            step, times = 1.0, axis.times
            if len(times) != len(values):
                raise ValueError(f"time: {len(times)} times for {len(values)} values")
    else:
        step, unit = _time.step(1.0 if dt is None else dt, time_unit)
        times = None
    _check_values(values, times, dates)
    series = _quorvane.Series(values, time=times, dt=step, name=name)
    return _Record(series, unit, origin, dates)


def _check_values(values, times, dates):
    """Refuses a value that is not a finite number and times that repeat or
    turn back, naming the position (from 0) and its date or time."""
    if np.iscomplexobj(values):
        return  # refused by the compiled function, which says why
    gone = _missing(values)
    try:
        y = np.asarray(np.ma.getdata(values) if gone is None or np.ma.isMaskedArray(values)
                       else values.to_numpy("float64", na_value=np.nan), dtype=np.float64)
    except (TypeError, ValueError):
        return  # not numbers: the compiled function says so
    kept = np.flatnonzero(~gone) if gone is not None else np.arange(len(y))
    bad = kept[~np.isfinite(y[kept])]
    if len(bad):
        raise ValueError(f"values{_time.label(dates, bad[0])} is {y[bad[0]]}, not a finite number; "
                         "give missing samples as a masked array or pandas NA")
    if times is None or len(kept) < 2:
        return
    steps = np.diff(np.asarray(times)[kept])
    if (steps == 0).any():
        i = kept[np.flatnonzero(steps == 0)[0] + 1]
        raise ValueError(f"time{_time.label(dates if dates is not None else times, i)} repeats "
                         "the time before it")
    turn = np.flatnonzero(np.sign(steps) != np.sign(steps[0]))
    if len(turn):
        i = kept[turn[0] + 1]
        raise ValueError(f"time{_time.label(dates if dates is not None else times, i)} turns "
                         "back; times must increase (or decrease) throughout")


def _dressed(result, record):
    result.time_unit = record.unit
    result.time_origin = record.origin
    return result


def _rows(values, axis, name):
    """A DataFrame's columns, or the rows of a two-dimensional array along
    `axis`, as (values, name) pairs; None for one series."""
    import pandas as pd

    if isinstance(values, pd.DataFrame):
        return [(values[column], str(column)) for column in values.columns]
    if isinstance(values, (pd.Series, _quorvane.Series)) or hasattr(values, "dims"):
        return None
    if isinstance(values, (str, bytes)) or np.ndim(values) < 2:
        return None
    if np.ndim(values) > 2:
        raise TypeError(f"values: one or two dimensions, not {np.ndim(values)}; for a grid use "
                        "quorvane.xarray.spectrum")
    array = values if np.ma.isMaskedArray(values) else np.asarray(values)
    try:
        array = np.moveaxis(array, axis, -1)
    except (np.AxisError, TypeError):
        raise ValueError(f"axis: {axis!r} is not an axis of a two-dimensional array") from None
    if isinstance(name, (list, tuple)):
        if len(name) != len(array):
            raise ValueError(f"name: {len(name)} names for {len(array)} series")
        names = [str(n) for n in name]
    else:
        names = [f"{name}{i}" if name else str(i) for i in range(len(array))]
    return list(zip(array, names))


def _stacked(rows, dt, time, time_unit, settings):
    # A block of series of one length in one call of the batch engine: an
    # xarray.Dataset on (series, frequency), the series named as the list
    # would name them.
    from . import _batch

    times = None
    if time is None:
        step, unit = _time.step(1.0 if dt is None else dt, time_unit)
    else:
        axis = _time.axis(time, time_unit)
        unit = axis.unit
        step = axis.dt if axis.dt is not None and axis.origin is not None else 1.0
        if axis.dt is None or axis.origin is None:
            times = axis.times
    block = np.stack([np.ma.filled(np.ma.masked_invalid(np.ma.asarray(v, dtype=np.float64)), np.nan)
                      for v, _ in rows])
    result = _batch.stacked(block, dt=step, time=times, time_unit=unit, **settings)
    return result.assign_coords(series=[n for _, n in rows])


def spectrum(values, dt=None, *, time=None, time_unit=None, name=None, axis=-1, stacked=False,
             **settings):
    _check_settings("spectrum", settings, SETTINGS)
    rows = _rows(values, axis, name)
    if rows is None:
        record = _record(values, dt, time, time_unit, name)
        return _dressed(_quorvane.spectrum(record.series, **settings), record)
    if stacked:
        return _stacked(rows, dt, time, time_unit, settings)
    records = [_one_of_many(i, n, _record, v, dt, time, time_unit, n)
               for i, (v, n) in enumerate(rows)]
    # Series of one length, evenly spaced and complete, share one plan: the
    # tapers solved once, bit for bit the numbers of one spectrum at a time.
    plan = None
    if records and settings.get("sampling") in (None, "auto", "even"):
        first = records[0].series
        lengths = {len(r.series) for r in records}
        complete = all(_missing(v) is None or not _missing(v).any() for v, _ in rows)
        if len(lengths) == 1 and complete and len(first) >= 2:
            step = float(first.time[1] - first.time[0])
            try:
                plan = _quorvane.SpectrumPlan(len(first), step, **settings)
            except ValueError:
                plan = None
    results = []
    for i, (record, (_, n)) in enumerate(zip(records, rows)):
        try:
            s = plan.spectrum(record.series) if plan is not None else None
        except ValueError:
            s = None
        if s is None:
            s = _one_of_many(i, n, _quorvane.spectrum, record.series, **settings)
        results.append(_dressed(s, record))
    return results


def _one_of_many(i, name, function, *arguments, **keywords):
    """function(*arguments, **keywords) for series `i` of a block, whose
    refusal names that series."""
    try:
        return function(*arguments, **keywords)
    except (ValueError, TypeError) as refusal:
        raise type(refusal)(f"series {i} ({name}): {refusal}") from None


def coherence(a, b, dt=None, *, time=None, time_a=None, time_b=None, time_unit=None, **settings):
    _check_settings("coherence", settings, _COHERENCE_SETTINGS)
    # Each series may have times of its own (time_a, time_b, or a pandas
    # index); `time` serves both. Dates of both series are measured from A's
    # first date so that their times line up.
    time_a = time if time_a is None else time_a
    time_b = time if time_b is None else time_b
    start = _time.first_date(time_a if time_a is not None else _own_time(a))
    ra = _record(a, dt, time_a, time_unit, None if getattr(a, "name", None) is not None else "a",
                 start, fixed_times=start is not None)
    rb = _record(b, dt, time_b, time_unit, None if getattr(b, "name", None) is not None else "b",
                 start, fixed_times=start is not None)
    return _dressed(_quorvane.coherence(ra.series, rb.series, **settings), ra)


def evolutive(values, dt=None, *, window, step, time=None, time_unit=None, name=None,
              min_samples=None, **settings):
    _check_settings("evolutive", settings, SETTINGS)
    record = _record(values, dt, time, time_unit, name)
    window, _ = _time.step(window, record.unit) if not isinstance(window, numbers.Real) else \
        (window, None)
    step, _ = _time.step(step, record.unit) if not isinstance(step, numbers.Real) else (step, None)
    if min_samples is not None:
        settings["min_samples"] = min_samples
    return _dressed(_quorvane.evolutive(record.series, window=window, step=step, **settings),
                    record)


def reconstruct(values, spectrum, signals="peaks", *, dt=None, time=None, time_unit=None,
                level=99.0, constraint="misfit"):
    if not isinstance(spectrum, _quorvane.Spectrum):
        raise TypeError(f"spectrum: a quorvane.Spectrum, not {type(spectrum).__name__}")
    unit = time_unit if time_unit is not None else getattr(spectrum, "time_unit", None)
    record = _record(values, dt, time, unit, spectrum.name)
    return _quorvane.reconstruct(record.series, spectrum, signals, level=level,
                                 constraint=constraint)


def read(path, layout, **options):
    return _quorvane.read(str(path), layout, **options)


_TIME_DOC = """
values: a sequence of N numbers; a numpy masked array or a pandas Series
with NA cells (those samples are missing: the record then has gaps); a
pandas Series (its index gives the times when neither `time` nor `dt` does;
a RangeIndex means steps of dt = 1) or a one-dimensional xarray.DataArray
(its coordinate, NaN as missing); or a quorvane.Series. Complex values are
refused.
dt: the step, a number in the unit of time or a pandas Timedelta ('7D');
default 1.
time: one time per value, numbers or dates: a pandas DatetimeIndex or
PeriodIndex, datetime64, datetime or cftime objects in any calendar
(noleap, 360_day, ...). Dates a whole number of calendar months apart
(monthly, quarterly, yearly) are evenly spaced at that many twelfths of a
year, although months differ in days; weekly or daily dates with some
missing have gaps; others are uneven.
time_unit: the unit of dates and of a Timedelta: second, minute, hour,
day, week, month or year (default year: frequencies in cycles per year).
Recorded on the result as time_unit, with time_origin, the first date as a
decimal year.
name: the series' name (default: the pandas name).
"""

spectrum.__doc__ = f"""The multitaper spectrum of a series, as `quorvane analyse` computes it.

Returns a Spectrum (arrays by frequency, in cycles per unit of time); for a
two-dimensional array (series along `axis`, default the last) or a pandas
DataFrame (one series per column, named after it, its index the times) a
list of Spectrum, or with stacked=True one xarray.Dataset from the batch
engine.
{_TIME_DOC}
Every setting is a keyword named as the option of `quorvane analyse`
(--tapers: tapers, ...), with the same values and defaults; None leaves a
setting at its default:
{_quorvane.SETTINGS_DOC}

Raises ValueError for a bad value, contradicting settings, a value that is
not a finite number, or times that repeat or turn back (naming the position
from 0 and its date); TypeError for an unknown keyword or a value of the
wrong type. The engine runs without the GIL, so threads analyse series in
parallel.
"""

coherence.__doc__ = f"""The coherence, phase and gain of two series, as `quorvane coherence`.

a, b: as `values` of quorvane.spectrum (one-dimensional), on one grid of
times; the span they share is analysed. Pandas Series are named after
themselves (else 'a' and 'b'); dates of both are measured from A's first.
{_TIME_DOC}
Keywords: {', '.join(_COHERENCE_SETTINGS)}, as for quorvane.spectrum
(the estimate is 'hires' unless given). Returns a Coherence. Raises
ValueError for series with gaps or uneven steps, steps that differ, times
off one grid, no overlap or too few values in common.
"""

evolutive.__doc__ = f"""The evolutive spectrum of a series, as `quorvane evolve` computes it.

Returns an Evolutive: power, F and ratio of shape (windows, frequencies).
window, step: in the unit of time (numbers, or Timedeltas); a window holds
round(window / dt) values and moves by round(step / dt) values. Each window
is analysed exactly as quorvane.spectrum analyses those values alone, with
its keywords (jobs: threads sharing the windows). A series with gaps or
uneven steps has windows of round(window / dt) steps of its grid (median)
step dt, each analysed as its own samples call for (Evolutive.method: even,
gaps or uneven) on one frequency grid; a window with fewer than min_samples
samples (default 2K + 2, at least 10) or more than half its steps empty is
left empty (nan rows) and listed in Evolutive.empty with its reason.
{_TIME_DOC}
Raises ValueError for a window that does not fit, a step below one value,
Monte Carlo levels or the jackknife.
"""

reconstruct.__doc__ = f"""Signals rebuilt from a series with the tapers of `spectrum`.

values, dt, time, time_unit: as given to quorvane.spectrum for `spectrum`
(the unit defaults to the spectrum's). signals: 'peaks' (every peak at or
above `level` percent, default 99, that is not trend), 'trend', or a list
of frequencies in cycles per unit of time. constraint: misfit (default),
norm, slope or rough. Returns a pandas DataFrame with the columns of the
recon CSV: time, series, anomaly, one column per signal (f_<frequency> or
trend), sum; N rows.
{_TIME_DOC}"""

read.__doc__ = _quorvane.read.__doc__.split("\n", 2)[-1]


def ensemble(values, ages, *, name="", agreement=0.5, members=False, **settings):
    _check_settings("ensemble", settings, SETTINGS)
    return _quorvane.ensemble(values, np.asarray(ages, dtype=np.float64), name=name,
                              agreement=agreement, members=members, **settings)


ensemble.__doc__ = _quorvane.ensemble.__doc__.split("\n", 2)[-1]


def _with_settings(function, allowed):
    """`function` with a signature that lists every setting as a keyword."""
    signature = inspect.signature(function)
    parameters = [p for p in signature.parameters.values() if p.kind != p.VAR_KEYWORD]
    parameters += [inspect.Parameter(name, inspect.Parameter.KEYWORD_ONLY, default=None)
                   for name in allowed]
    function.__signature__ = signature.replace(parameters=parameters)


_with_settings(spectrum, SETTINGS)
_with_settings(coherence, _COHERENCE_SETTINGS)
_with_settings(evolutive, SETTINGS)
_with_settings(ensemble, SETTINGS)
