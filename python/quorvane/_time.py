"""Time axes: dates in any calendar as numbers in a chosen unit of time.

A record whose dates step by whole calendar months (monthly, quarterly,
yearly) is evenly spaced at that many twelfths of a year, although its
months differ in days; other dates are measured in days from the first one
and converted to the unit. An even step also comes back as the step `dt`,
so that the spectrum can see exactly the step of the calendar; in other
times the engine finds gaps (steps that are whole multiples of the usual
one, such as missing weeks) or uneven steps.
"""

import datetime
from typing import NamedTuple

import numpy as np

# The mean year of each calendar in days; a month is a twelfth of it.
_YEAR_DAYS = {"standard": 365.2425, "gregorian": 365.2425, "proleptic_gregorian": 365.2425,
              "julian": 365.25, "noleap": 365.0, "365_day": 365.0, "all_leap": 366.0,
              "366_day": 366.0, "360_day": 360.0}
_FIXED_DAYS = {"second": 1 / 86400, "minute": 1 / 1440, "hour": 1 / 24, "day": 1.0, "week": 7.0}
UNITS = ("second", "minute", "hour", "day", "week", "month", "year")
DEFAULT_UNIT = "year"


class TimeAxis(NamedTuple):
    """times: float64 in `unit` from the first date (or the `start` given);
    dt: the step in `unit` when it is even, else None; unit: the unit's
    name, or None for plain numbers without one; origin: the date times are
    measured from (None for numbers) as a decimal year, for axes drawn on
    the record's own dates; dates: the given dates or numbers, for naming a
    position in a message."""
    times: object
    dt: object
    unit: object
    origin: object
    dates: object


def check_unit(unit):
    if unit is not None and unit not in UNITS:
        raise ValueError(f"time_unit: {unit!r} is not one of {', '.join(UNITS)}")
    return unit


def _unit_days(unit, calendar):
    year = _YEAR_DAYS.get(calendar, 365.2425)
    if unit == "year":
        return year
    if unit == "month":
        return year / 12
    return _FIXED_DAYS[unit]


def _is_cftime(value):
    return type(value).__module__.split(".")[0] == "cftime"


def _dates(time):
    """`time` as ('pandas', DatetimeIndex) or ('cftime', object array), or
    None when it holds no dates."""
    import pandas as pd

    if isinstance(time, pd.PeriodIndex):
        return "pandas", time.to_timestamp(how="start")
    if isinstance(time, pd.DatetimeIndex):
        # Aware dates in UTC, whose hours do not jump with daylight saving.
        return "pandas", time.tz_convert(None) if time.tz is not None else time
    if hasattr(time, "to_datetimeindex") and hasattr(time, "calendar"):  # xarray's CFTimeIndex
        return "cftime", np.asarray(list(time), dtype=object)
    values = getattr(time, "values", time)
    if isinstance(values, pd.PeriodIndex) or isinstance(values, pd.arrays.PeriodArray):
        return "pandas", pd.PeriodIndex(values).to_timestamp(how="start")
    array = np.asarray(values)
    if np.issubdtype(array.dtype, np.datetime64):
        return "pandas", pd.DatetimeIndex(array.ravel())
    if array.dtype == object and array.size:
        first = array.ravel()[0]
        if _is_cftime(first):
            return "cftime", array.ravel()
        if isinstance(first, (datetime.date, np.datetime64, pd.Timestamp)):
            return "pandas", pd.DatetimeIndex(pd.to_datetime(list(array.ravel())))
        if isinstance(first, pd.Period):
            return "pandas", pd.PeriodIndex(list(array.ravel())).to_timestamp(how="start")
    return None


def _fields(kind, dates, start):
    """Year, month, day and days since `start` (a date of the same kind),
    and the calendar."""
    if kind == "pandas":
        days = (dates - start) / np.timedelta64(1, "D")
        return (np.asarray(dates.year), np.asarray(dates.month), np.asarray(dates.day),
                np.asarray(days, dtype=np.float64), "standard")
    calendar = getattr(dates[0], "calendar", "standard") or "standard"
    if any(getattr(d, "calendar", calendar) != calendar for d in dates):
        raise ValueError("time: the dates mix calendars")
    year = np.array([d.year for d in dates])
    month = np.array([d.month for d in dates])
    day = np.array([d.day for d in dates])
    days = np.array([(d - start).total_seconds() / 86400 for d in dates], dtype=np.float64)
    return year, month, day, days, calendar


def _decimal_year(year, days_into_year, calendar):
    if calendar in ("noleap", "365_day", "all_leap", "366_day", "360_day"):
        length = _YEAR_DAYS[calendar]
    elif calendar == "julian":
        length = 366 if year % 4 == 0 else 365
    else:
        length = 366 if (year % 4 == 0 and (year % 100 != 0 or year % 400 == 0)) else 365
    return year + days_into_year / length


def _origin(kind, first, calendar):
    """Date `first` as a decimal year."""
    if kind == "pandas":
        start = first.replace(month=1, day=1, hour=0, minute=0, second=0, microsecond=0,
                              nanosecond=0)
        return _decimal_year(first.year, (first - start) / np.timedelta64(1, "D"), calendar)
    start = type(first)(first.year, 1, 1, calendar=calendar)
    return _decimal_year(first.year, (first - start).total_seconds() / 86400, calendar)


def _month_steps(year, month, day, start):
    """The common step in months of dates each in a month of its own, on
    one day of the month (within three days, as mid-month dates are, or at
    the month's end), and each date's months from `start`; None when the
    dates do not step by whole months."""
    months = (year - start.year) * 12 + (month - start.month)
    steps = np.diff(months)
    if len(steps) == 0 or not ((steps > 0).all() or (steps < 0).all()):
        return None
    if day.max() - day.min() > 3 and not (day >= 28).all():
        return None
    return int(np.gcd.reduce(np.abs(steps))), months


def first_date(time):
    """The first date of `time` in the form axis() measures from, or None
    for numbers."""
    found = _dates(time)
    return None if found is None or not len(found[1]) else found[1][0]


def axis(time, unit=None, start=None):
    """The TimeAxis of `time`: dates (pandas DatetimeIndex or PeriodIndex,
    datetime64, datetime or cftime objects) measured from `start` (a
    first_date(); the first date by default), or numbers (kept, in `unit`
    or in no unit that is known)."""
    check_unit(unit)
    found = _dates(time)
    if found is None:
        values = np.asarray(getattr(time, "values", time))
        if values.dtype == object or not np.issubdtype(values.dtype, np.number):
            try:
                values = values.astype(np.float64)
            except (TypeError, ValueError):
                raise TypeError(f"time: numbers or dates, not {values.dtype}") from None
        # Numbers are the caller's times, used as they are.
        return TimeAxis(values.astype(np.float64).ravel(), None, unit, None, time)
    kind, dates = found
    unit = unit or DEFAULT_UNIT
    if not len(dates):
        return TimeAxis(np.zeros(0), None, unit, None, time)
    start = dates[0] if start is None else start
    year, month, day, days, calendar = _fields(kind, dates, start)
    origin = _origin(kind, start, calendar)
    if len(dates) < 2:
        return TimeAxis(days / _unit_days(unit, calendar), None, unit, origin, time)
    monthly = _month_steps(year, month, day, start)
    if monthly is not None:
        k, months = monthly
        month_in_unit = 1 / 12 if unit == "year" else (1.0 if unit == "month" else
                                                     _unit_days("month", calendar) /
                                                     _unit_days(unit, calendar))
        times = months / 12 if unit == "year" else months * month_in_unit
        even = (np.diff(months) == k).all()
        return TimeAxis(times, (k / 12 if unit == "year" else k * month_in_unit) if even else None,
                        unit, origin, time)
    in_unit = days / _unit_days(unit, calendar)
    steps = np.diff(days)
    even = steps[0] > 0 and np.allclose(steps, steps[0], rtol=0, atol=1e-9 * steps[0])
    return TimeAxis(in_unit, steps[0] / _unit_days(unit, calendar) if even else None, unit, origin,
                    time)


def step(dt, unit=None):
    """`dt` as a number in `unit`: a number as it is, a Timedelta (or
    timedelta64, datetime.timedelta, text such as '7D') in `unit` (years
    unless given). Returns (step, unit)."""
    import pandas as pd

    check_unit(unit)
    if isinstance(dt, (bool, np.bool_)):
        raise TypeError("dt: a number or a Timedelta, not a bool")
    if isinstance(dt, (int, float, np.integer, np.floating)):
        return float(dt), unit
    if isinstance(dt, (str, datetime.timedelta, np.timedelta64, pd.Timedelta)):
        try:
            days = pd.Timedelta(dt) / pd.Timedelta(1, "D")
        except (ValueError, TypeError):
            raise ValueError(f"dt: {dt!r} is not a step of time such as 7D or 1h") from None
        unit = unit or DEFAULT_UNIT
        return days / _unit_days(unit, "standard"), unit
    raise TypeError(f"dt: a number or a Timedelta, not {type(dt).__name__}")


def label(dates, i):
    """Position `i` of a record with `dates` (or numbers), for a message."""
    try:
        value = dates[i] if not hasattr(dates, "iloc") else dates.iloc[i]
    except (IndexError, KeyError, TypeError):
        return f"[{i}]"
    if hasattr(value, "isoformat"):
        text = value.isoformat()
        return f"[{i}] ({text[:-9] if text.endswith('T00:00:00') else text})"
    if isinstance(value, np.datetime64):
        return f"[{i}] ({np.datetime_as_string(value, unit='D')})"
    if _is_cftime(value):
        return f"[{i}] ({value.strftime('%Y-%m-%d')})"
    return f"[{i}] (time {value:g})" if isinstance(value, (int, float, np.number)) else f"[{i}]"
