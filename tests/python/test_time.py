"""Dates and calendars as times: a record of whole months is evenly spaced
in twelfths of a year whatever its calendar, missing weeks are gaps, and
the numbers are those of the same values at the same step."""

import datetime

import cftime
import numpy as np
import pandas as pd
import pytest
import xarray

import quorvane
import quorvane.xarray
from conftest import EXAMPLES

RNG = np.random.default_rng(5)
MONTHLY = np.sin(2 * np.pi * np.arange(240) / 12) + RNG.standard_normal(240)


def _noleap(n, day=16):
    return [cftime.DatetimeNoLeap(1900 + i // 12, i % 12 + 1, day) for i in range(n)]


MONTHLY_AXES = {
    "month starts": pd.date_range("1950-01", periods=240, freq="MS"),
    "month ends": pd.date_range("1950-01", periods=240, freq="M"),
    "periods": pd.period_range("1950-01", periods=240, freq="M"),
    "datetime64": pd.date_range("1950-01-15", periods=240, freq="MS").values + np.timedelta64(14, "D"),
    "datetimes": [datetime.datetime(1950 + i // 12, i % 12 + 1, 1) for i in range(240)],
    "noleap mid-month": _noleap(240),
    "360_day": [cftime.Datetime360Day(1900 + i // 12, i % 12 + 1, 30) for i in range(240)],
}


@pytest.mark.parametrize("time", MONTHLY_AXES.values(), ids=MONTHLY_AXES.keys())
def test_whole_months_are_an_even_step_of_a_twelfth_of_a_year(time):
    s = quorvane.spectrum(MONTHLY, time=time)
    expected = quorvane.spectrum(MONTHLY, 1 / 12)
    assert s.sampling["class"] == "even" and s.time_unit == "year"
    np.testing.assert_array_equal(s.frequency, expected.frequency)
    np.testing.assert_array_equal(s.estimate, expected.estimate)
    annual = s.peaks[~s.peaks.trend]
    assert abs(annual.line_frequency.iloc[np.argmax(annual.ratio)] - 1.0) < 0.01


def test_the_nino_record_by_its_dates_gives_the_command_lines_numbers(analyse):
    options = ["--layout", "monthly", "--skip", "3", "--per-line", "12", "--multiplier", "0.01"]
    files = analyse(EXAMPLES / "nino12.tsf", *options)
    nino = quorvane.read(EXAMPLES / "nino12.tsf", "monthly", skip=3, per_line=12,
                         multiplier=0.01)[0]
    record = pd.Series(np.asarray(nino.values),
                       index=pd.date_range("1950-01", periods=len(nino), freq="MS"))
    s = quorvane.spectrum(record)
    assert (s.sampling["class"], s.time_unit, s.time_origin) == ("even", "year", 1950.0)
    for name in ("estimate", "F"):
        np.testing.assert_array_equal(getattr(s, name), files["spectrum"][name], err_msg=name)
    # The file's times are decimal years rounded to float32, so its step
    # differs from a twelfth in the seventh digit, and with it the
    # frequencies and what is smoothed over a width in frequency.
    for name in ("frequency", "background", "reshaped", "level99"):
        column = s.levels[99.0] if name == "level99" else getattr(s, name)
        np.testing.assert_allclose(column, files["spectrum"][name], rtol=2e-6, err_msg=name)
    line = s.peaks.line_frequency[(s.peaks.frequency - 1).abs() < s.bandwidth]
    assert line.size and abs(line.iloc[0] - 1.0) < 0.005


def _co2_by_dates():
    table = pd.read_csv(EXAMPLES / "co2_weekly.csv")
    year = np.floor(table.year.to_numpy()).astype(int)
    starts = pd.to_datetime(year.astype(str), format="%Y")
    days = np.round((table.year.to_numpy() - year) * np.where(starts.is_leap_year, 366, 365))
    return pd.Series(table.co2.to_numpy(), index=starts + pd.to_timedelta(days, "D"), name="co2")


def test_missing_weeks_are_gaps_whether_absent_or_na():
    co2 = _co2_by_dates()
    s = quorvane.spectrum(co2)
    assert (s.sampling["class"], s.sampling["method"]) == ("gaps", "missing_data_multitaper")
    assert s.sampling["missing"] > 0 and s.name == "co2"
    annual = s.peaks.line_frequency[(s.peaks.frequency - 1).abs() < s.bandwidth]
    assert (abs(annual - 1.0) < 0.01).any()
    # The same record on its full weekly calendar, NA where a week is missing.
    full = co2.reindex(pd.date_range(co2.index[0], co2.index[-1], freq="7D"))
    assert full.isna().sum() == s.sampling["missing"]
    np.testing.assert_array_equal(quorvane.spectrum(full).estimate, s.estimate)


def test_the_unit_of_time_scales_frequencies_and_is_recorded():
    weeks = pd.date_range("2000-01-02", periods=300, freq="W")
    values = RNG.standard_normal(300)
    years, days = (quorvane.spectrum(values, time=weeks, time_unit=unit) for unit in ("year", "day"))
    assert years.dt == np.float32(7 / 365.2425) and days.dt == np.float32(7.0)
    np.testing.assert_allclose(days.frequency * 365.2425, years.frequency, rtol=1e-5)
    np.testing.assert_array_equal(days.estimate, years.estimate)  # unnormalised: no dt in it
    assert days.to_xarray().frequency.attrs["units"] == "cycles per day"
    assert years.to_xarray().attrs["time_unit"] == "year"
    by_timedelta = quorvane.spectrum(values, pd.Timedelta("7D"))
    assert by_timedelta.dt == years.dt and by_timedelta.time_unit == "year"
    assert quorvane.spectrum(values, "1D", time_unit="hour").dt == np.float32(24)


def test_an_index_gives_the_times_unless_dt_or_time_does():
    values = RNG.standard_normal(128)
    assert quorvane.spectrum(pd.Series(values)).dt == 1  # a RangeIndex: steps of 1
    years = pd.Series(values, index=np.arange(1700, 1828) * 0.5)
    assert quorvane.spectrum(years).dt == 0.5 and quorvane.spectrum(years).time_unit is None
    assert quorvane.spectrum(years, 3.0).dt == 3.0
    uneven = pd.Series(values, index=pd.Timestamp("2001-01-01") +
                       pd.to_timedelta(np.cumsum(RNG.uniform(1, 9, 128)), "D"))
    assert quorvane.spectrum(uneven).sampling["class"] == "uneven"


def test_coherence_lines_up_series_by_their_dates():
    months = pd.date_range("1950-01", periods=300, freq="MS")
    common = RNG.standard_normal(320)
    a = pd.Series(common[:300], index=months, name="north")
    b = pd.Series(common[20:320] + 0.1 * RNG.standard_normal(300), index=months + pd.DateOffset(months=20),
                  name="south")
    c = quorvane.coherence(a, b)
    assert (c.name_a, c.name_b, c.length) == ("north", "south", 280)
    assert np.median(c.coherence) > 0.9  # aligned by date, not by position
    np.testing.assert_allclose(c.dt, 1 / 12, rtol=1e-6)


def test_a_noleap_grid_is_even_in_cycles_per_year_as_its_cells():
    time = _noleap(240)
    values = MONTHLY + RNG.standard_normal((2, 240))
    grid = quorvane.xarray.spectrum(xarray.DataArray(values, dims=("cell", "time"),
                                                     coords={"time": time}))
    assert grid.attrs["sampling"] == "even" and grid.frequency.attrs["units"] == "cycles per year"
    for i in range(2):
        np.testing.assert_array_equal(grid.estimate[i], quorvane.spectrum(values[i], time=time).estimate)


@pytest.mark.parametrize("time,unit,dt,kind", [
    (pd.date_range("1900", periods=120, freq="AS"), None, 1.0, "even"),
    (pd.period_range("1900Q1", periods=120, freq="Q"), None, 0.25, "even"),
    (pd.date_range("1900-01", periods=121, freq="MS").delete(60), None, 1 / 12, "gaps"),
    (pd.date_range("2021-03-26", periods=120, freq="H", tz="Europe/Berlin"), "hour", 1.0, "even"),
    (pd.date_range("2000-01-01", periods=120, freq="D"), "week", 1 / 7, "even"),
], ids=["years", "quarters", "a missing month", "hours over daylight saving", "days in weeks"])
def test_calendar_steps_of_other_lengths(time, unit, dt, kind):
    s = quorvane.spectrum(RNG.standard_normal(120), time=time, time_unit=unit)
    assert s.sampling["class"] == kind
    assert s.dt == np.float32(dt)
