"""The batch engine behind 2-D arrays and grids: each row the spectrum of
its series, whatever the threads, and maps whose significant cells survive
both the many frequencies of each cell and the many cells of the field."""

import numpy as np
import pytest
import xarray

import quorvane
import quorvane.xarray
from quorvane import _batch


def red_noise(shape, n, rng, phi=0.5):
    e = rng.standard_normal(shape + (n,))
    x = np.empty_like(e)
    x[..., 0] = e[..., 0]
    for i in range(1, n):
        x[..., i] = phi * x[..., i - 1] + e[..., i]
    return x


def test_rows_are_the_spectra_of_their_series():
    rng = np.random.default_rng(5)
    values = red_noise((4,), 300, rng)
    values[2] += 2 * np.sin(2 * np.pi * 0.8 * np.arange(300) * 0.25)
    result = _batch.stacked(values.T, 0.25, axis=0, tapers=4)
    assert result.estimate.dims == ("series", "frequency")
    for i, row in enumerate(values):
        s = quorvane.spectrum(row, 0.25, tapers=4)
        np.testing.assert_array_equal(result.frequency, s.frequency)
        for name in ("estimate", "background", "F"):
            np.testing.assert_array_equal(result[name][i], getattr(s, name))
        np.testing.assert_array_equal(result.level99[i], s.levels[99])
        lines = s.peaks[~s.peaks.trend]
        if len(lines):
            assert result.peak_frequency[i] == lines.loc[lines.ratio.idxmax()].frequency
        else:
            assert np.isnan(result.peak_frequency[i])
    assert abs(float(result.peak_frequency[2]) - 0.8) < result.attrs["bandwidth"]
    assert result.attrs["bandwidth"] == s.bandwidth and result.attrs["method"] == "multitaper"
    threads = _batch.stacked(values, 0.25, tapers=4, jobs=3)
    xarray.testing.assert_identical(threads, _batch.stacked(values, 0.25, tapers=4))


def test_missing_and_partly_missing_rows():
    values = red_noise((3,), 128, np.random.default_rng(1))
    values[1] = np.nan
    result = _batch.stacked(values)
    assert np.isnan(result.estimate[1]).all() and np.isnan(result.p_value[1])
    assert not result.significant[1]
    values[2, 3] = np.nan
    with pytest.raises(ValueError, match="a cell holds 1 NaN among its 128 values"):
        _batch.stacked(values)


def test_benjamini_hochberg_keeps_the_smallest_p_values_below_the_step_line():
    p = np.array([0.205, 0.001, 0.039, 0.041, np.nan, 0.008, 0.042, 0.06, 0.074, 0.212, 0.216])
    # Ten p-values: the k-th smallest passes when p <= 0.005 k, which holds
    # up to k = 2 (0.008 <= 0.01) and for no larger k.
    assert list(np.flatnonzero(_batch.fdr_significant(p, 0.05))) == [1, 5]
    # At rate 0.5 the step line 0.05 k passes k = 10 (0.216 <= 0.5): all.
    assert _batch.fdr_significant(p, 0.5).sum() == 10
    assert not _batch.fdr_significant(np.full(3, np.nan), 0.05).any()


def test_pure_noise_flags_about_the_chosen_rate_of_cells():
    values = red_noise((200,), 1024, np.random.default_rng(11))
    result = _batch.stacked(values, fdr=0.05)
    # Every cell has a "significant" line at a single frequency's level ...
    assert np.isfinite(result.peak_frequency).mean() > 0.9
    # ... but few reach the band-wide level, and the field picks fewer still.
    assert (result.p_value < 0.05).mean() < 0.1
    assert int(result.significant.sum()) <= 0.05 * 200
    assert result.significant.attrs["fdr"] == 0.05
    assert result.significant.attrs["fdr_method"] == "Benjamini-Hochberg"
    assert 1 < result.attrs["band_wide_ratio95"] < result.attrs["band_wide_ratio99"]


def test_a_planted_line_is_flagged_in_its_region_of_a_field():
    rng = np.random.default_rng(8)
    n = 1024
    values = red_noise((20, 20), n, rng)
    values[5:10, 5:10] += 0.8 * np.sin(2 * np.pi * 0.1 * np.arange(n))
    da = xarray.DataArray(values, dims=("lat", "lon", "time"),
                          coords={"time": np.arange(n) * 1.0}, attrs={"units": "K"})
    result = quorvane.xarray.spectrum(da.chunk({"lat": 10}), fdr=0.05).compute()
    region = np.zeros((20, 20), bool)
    region[5:10, 5:10] = True
    flagged = result.significant.values
    assert flagged[region].mean() >= 0.9
    assert flagged[~region].mean() <= 0.05
    assert np.all(np.abs(result.peak_frequency.values[region & flagged] - 0.1) < 0.01)
    assert result.estimate.attrs["units"] == "(K)^2"
    assert result.p_value.dims == ("lat", "lon")


def test_units_follow_the_normalisation_and_the_time_axis():
    da = xarray.DataArray(red_noise((2,), 256, np.random.default_rng(3)), dims=("cell", "time"),
                          coords={"time": ("time", np.arange(256) * 2.0, {"units": "day"})})
    result = quorvane.xarray.spectrum(da, normalize="density")
    assert result.frequency.attrs["units"] == "cycles per day"
    assert result.estimate.attrs["units"] == "value^2 / (cycles per day)"
    assert result.level95.attrs["units"] == result.background.attrs["units"]
    assert result.F.attrs["units"] == "1"
    df = float(result.frequency[1] - result.frequency[0])
    integral = result.estimate.sum("frequency").values * df
    np.testing.assert_allclose(integral, da.var("time").values, rtol=0.15)
