"""quorvane.xarray.spectrum over a grid on a two-worker dask.distributed
cluster equals a plain loop of quorvane.spectrum over its cells."""

import numpy as np
import pytest
import xarray

import quorvane
import quorvane.xarray

distributed = pytest.importorskip("distributed")


def grid(cells=(3, 4), n=256, step=0.5):
    rng = np.random.default_rng(3)
    t = np.arange(n) * step
    values = rng.standard_normal(cells + (n,)) + np.sin(2 * np.pi * 0.3 * t)
    values[0, 1] = np.nan  # a masked cell, such as land in an ocean field
    return xarray.DataArray(values, dims=("lat", "lon", "time"),
                            coords={"lat": [10.0, 20, 30], "lon": [1.0, 2, 3, 4], "time": t})


def test_a_cluster_gives_the_loops_results():
    da = grid()
    settings = dict(tapers=4, noise="white")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        result = quorvane.xarray.spectrum(da.chunk({"lat": 1, "lon": 2}), **settings).compute()
    assert result.estimate.dims == ("lat", "lon", "frequency")
    assert result.attrs["tapers"] == 4 and result.frequency.attrs["units"] == "cycles per unit of time"
    for i in range(3):
        for j in range(4):
            cell = result.isel(lat=i, lon=j)
            if (i, j) == (0, 1):
                assert np.isnan(cell.estimate).all() and np.isnan(cell.peak_frequency)
                continue
            s = quorvane.spectrum(da.values[i, j], 0.5, **settings)
            np.testing.assert_array_equal(cell.frequency, s.frequency)
            for name in ("estimate", "background", "F"):
                np.testing.assert_array_equal(cell[name], getattr(s, name))
            lines = s.peaks[~s.peaks.trend]
            strongest = lines.loc[lines.ratio.idxmax()]
            assert cell.peak_frequency == strongest.frequency
            assert abs(float(cell.peak_frequency) - 0.3) < s.bandwidth


def test_an_unusable_time_coordinate_is_refused():
    da = grid().assign_coords(time=np.array(["a"] * 256))
    with pytest.raises(ValueError, match="give dt"):
        quorvane.xarray.spectrum(da)


def test_a_coordinate_with_a_gap_gives_the_missing_data_spectrum_of_every_cell():
    time = np.r_[0:100, 130:286] * 1.0
    dataset = quorvane.xarray.spectrum(grid().assign_coords(time=time))
    cell = quorvane.spectrum(grid()[0, 0].values, time=time)
    assert cell.sampling["method"] == dataset.attrs["method"] == "missing_data_multitaper"
    np.testing.assert_array_equal(dataset.estimate[0, 0], cell.estimate)

