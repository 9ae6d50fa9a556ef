"""quorvane.ensemble: members equal to their chronologies analysed alone,
the Dataset equal to the command line's files, and the generated models."""

import os
import subprocess

import numpy as np
import pytest

import quorvane
from conftest import EXAMPLES, read_csv

VALUES = EXAMPLES / "core_values.csv"
AGES = EXAMPLES / "core_ages.csv"


def example_core():
    values = np.loadtxt(VALUES, delimiter=",", skiprows=1, dtype=np.float64)
    ages = np.loadtxt(AGES, delimiter=",", skiprows=1)
    return values[:, 0], values[:, 1].astype(np.float32), ages[:, 1:].T.copy()


def test_members_equal_their_chronologies_analysed_alone():
    depth, y, ages = example_core()
    # Members whose steps are the first chronology's in other orders: the
    # same ends and median step, so that the grid of the span they share is
    # each one's own.
    rng = np.random.default_rng(3)
    steps = np.diff(ages[0])
    ages = np.array([ages[0]] + [ages[0, 0] + np.concatenate([[0.0], np.cumsum(rng.permutation(steps))])
                                 for _ in range(5)])
    band = (0.0, 0.15)
    e = quorvane.ensemble(y, ages, members=True, band=band, tapers=4, jobs=2)
    assert e.sizes["member"] == 6
    np.testing.assert_array_equal(e["member"].values, np.arange(1, 7))
    for m in (0, 3, 5):
        alone = quorvane.spectrum(y, time=ages[m], band=band, tapers=4)
        np.testing.assert_array_equal(alone.frequency, e["frequency"].values)
        np.testing.assert_array_equal(alone.estimate, e["member_estimate"].values[m])
        np.testing.assert_array_equal(alone.background, e["member_background"].values[m])
        np.testing.assert_array_equal(alone.F, e["member_F"].values[m])
    # The quantiles are those of the members' estimates.
    np.testing.assert_allclose(e["estimate_median"].values,
                               np.median(e["member_estimate"].values, axis=0), rtol=1e-6)
    assert e.attrs["tapers"] == 4


def test_dataset_equals_the_command_lines_files(tmp_path):
    subprocess.run([os.environ["QUORVANE_BINARY"], "ensemble", str(VALUES), "--layout", "csv",
                    "--ensemble", str(AGES), "--out", str(tmp_path), "--quiet",
                    "--format", "netcdf", "--members-out"], check=True)
    subprocess.run([os.environ["QUORVANE_BINARY"], "ensemble", str(VALUES), "--layout", "csv",
                    "--ensemble", str(AGES), "--out", str(tmp_path / "csv"), "--quiet"],
                   check=True)
    _, y, ages = example_core()
    e = quorvane.ensemble(y, ages, name="d18O", members=True)
    table = read_csv(tmp_path / "csv" / "d18O.ensemble.csv")
    np.testing.assert_array_equal(e["frequency"].values, table["frequency"])
    for column, values in table.items():
        if column in ("frequency", "period"):
            continue
        np.testing.assert_array_equal(e[column.replace(".", "_")].values, values, err_msg=column)
    peaks = read_csv(tmp_path / "csv" / "d18O.ensemble-peaks.csv")
    np.testing.assert_array_equal(e["line_frequency"].values, peaks["frequency"])
    np.testing.assert_array_equal(e["line_fraction"].values, peaks["fraction"])
    xarray = pytest.importorskip("xarray")
    try:
        stored = xarray.open_dataset(tmp_path / "d18O.ensemble.nc")
    except (ValueError, ImportError):
        pytest.skip("no netCDF engine for xarray")
    np.testing.assert_array_equal(stored["member_estimate"].values, e["member_estimate"].values)
    np.testing.assert_array_equal(stored["estimate_q97_5"].values, e["estimate_q97_5"].values)
    assert stored.attrs["members"] == 40

