"""quorvane.SpectrumPlan: the spectra of quorvane.spectrum, bit for bit, for
every series of the plan's shape, and a refusal of every other series."""

import pickle

import numpy as np
import pytest
import xarray

import quorvane
import quorvane.xarray

ARRAYS = ("frequency", "estimate", "reshaped", "harmonic", "median", "background", "F",
          "jackknife_lower", "jackknife_upper")


def red(n, seed, step=1.0):
    rng = np.random.default_rng(seed)
    noise = np.zeros(n)
    for i in range(1, n):
        noise[i] = 0.6 * noise[i - 1] + rng.standard_normal()
    return noise + 2 * np.sin(2 * np.pi * 0.2 * np.arange(n) * step)


def assert_same(plain, planned):
    for name in ARRAYS:
        np.testing.assert_array_equal(getattr(planned, name), getattr(plain, name), err_msg=name)
    for level, values in plain.levels.items():
        np.testing.assert_array_equal(planned.levels[level], values)
    assert planned.F_levels == pytest.approx(plain.F_levels, abs=0, nan_ok=True)
    assert (planned.rho, planned.bandwidth, planned.notes) == (plain.rho, plain.bandwidth,
                                                              plain.notes)
    assert planned.peaks.equals(plain.peaks)
    assert planned.settings == plain.settings


@pytest.mark.parametrize("settings", [
    {},
    dict(tapers=5, resolution=3, noise="white", jackknife=True),
    dict(concentrations="exact", pad=2, estimate="hires", reshape="off"),
])
def test_a_plan_gives_the_plain_calls_spectra_and_travels_by_pickle(settings):
    plan = quorvane.SpectrumPlan(400, 0.25, **settings)
    again = pickle.loads(pickle.dumps(plan))
    assert (again.length, again.dt, again.settings) == (400, 0.25, plan.settings)
    for seed in range(3):
        values = red(400, seed, 0.25)
        plain = quorvane.spectrum(values, 0.25, **settings)
        assert_same(plain, plan.spectrum(values))
        assert_same(plain, again.spectrum(values, time=np.arange(400) * 0.25))


def test_a_grid_on_a_time_coordinate_through_its_plan_equals_the_loop():
    time = np.arange(128) * 0.5 + 1900.0
    values = np.stack([red(128, seed, 0.5) for seed in range(6)]).reshape(2, 3, 128)
    da = xarray.DataArray(values, dims=("y", "x", "time"), coords={"time": time})
    result = quorvane.xarray.spectrum(da.chunk({"y": 1}), tapers=4)
    for i in range(2):
        for j in range(3):
            s = quorvane.spectrum(values[i, j], time=time, tapers=4)
            for name in ("estimate", "background", "F"):
                np.testing.assert_array_equal(result[name][i, j], getattr(s, name))
