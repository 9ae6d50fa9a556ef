"""The spectrum as a NetCDF-4 file holds the CSV's columns and the settings
the summary records; --spectrum-band writes only the rows asked for, in
either format."""

import json
import os
import subprocess

import numpy as np
import pytest
import xarray

from conftest import EXAMPLES, read_csv


def analyse(out, *options):
    return subprocess.run([os.environ["QUORVANE_BINARY"], "analyse", str(EXAMPLES / "sunspots.dat"),
                           "--layout", "single", "--out", str(out), "--quiet", *options],
                          capture_output=True, text=True)


def flattened(block, prefix):
    """The summary's nested settings as the file's attribute names."""
    for key, value in block.items():
        if isinstance(value, dict):
            yield from flattened(value, f"{prefix}_{key}")
        elif value is not None:
            yield f"{prefix}_{key}", value


@pytest.mark.parametrize("options", [
    [],
    ["--significance", "montecarlo", "--surrogates", "20", "--jackknife", "--reconstruct", "peaks"],
])
def test_netcdf_holds_the_csv_columns_and_the_summarys_settings(tmp_path, options):
    assert analyse(tmp_path / "csv", *options).returncode == 0
    assert analyse(tmp_path / "nc", "--format", "netcdf", *options).returncode == 0
    columns = read_csv(tmp_path / "csv" / "sunspots.spectrum.csv")
    summary = json.loads((tmp_path / "nc" / "summary.json").read_text())
    series = summary["series"][0]
    expected = dict(flattened({**summary["settings"], **series["settings"]}, "settings"))
    expected.update(flattened(series["sampling"], "sampling"))
    expected.update(series=series["name"], npts=series["npts"], dt=series["dt"],
                    bandwidth=series["bandwidth"], rho=series["rho"], version=summary["version"],
                    input_file=summary["input"]["file"], input_layout="single")
    with xarray.open_dataset(tmp_path / "nc" / "sunspots.spectrum.nc") as ds:
        assert list(ds.sizes) == ["frequency"] and list(ds.coords) == ["frequency"]
        assert sorted(ds.variables) == sorted(columns)
        for name, values in columns.items():
            assert ds[name].dtype == np.float32, name
            np.testing.assert_array_equal(ds[name].values, values, err_msg=name)
        for name, value in expected.items():
            np.testing.assert_array_equal(ds.attrs[name], value, err_msg=name)
    assert summary["settings"]["format"] == "netcdf"
    assert "sunspots.spectrum.nc" in series["files"]
    # The other result files stay CSV, the same as without --format.
    for name in series["files"]:
        if name.endswith(".csv"):
            assert (tmp_path / "nc" / name).read_bytes() == (tmp_path / "csv" / name).read_bytes()


def test_spectrum_band_restricts_only_the_rows_written(tmp_path):
    assert analyse(tmp_path / "full").returncode == 0
    for out, options in (("csv", []), ("nc", ["--format", "netcdf"])):
        assert analyse(tmp_path / out, "--spectrum-band", "0.05:0.2", *options).returncode == 0
    full = read_csv(tmp_path / "full" / "sunspots.spectrum.csv")
    inside = (full["frequency"] >= np.float32(0.05)) & (full["frequency"] <= np.float32(0.2))
    assert 0 < inside.sum() < len(inside)
    written = read_csv(tmp_path / "csv" / "sunspots.spectrum.csv")
    with xarray.open_dataset(tmp_path / "nc" / "sunspots.spectrum.nc") as ds:
        for name, values in full.items():
            np.testing.assert_array_equal(written[name], values[inside], err_msg=name)
            np.testing.assert_array_equal(ds[name].values, values[inside], err_msg=name)
        np.testing.assert_array_equal(ds.attrs["settings_spectrum_band"], [0.05, 0.2])
    # The peaks and the levels still come from the whole band.
    for out in ("csv", "nc"):
        peaks = (tmp_path / out / "sunspots.peaks.csv").read_bytes()
        assert peaks == (tmp_path / "full" / "sunspots.peaks.csv").read_bytes()
        summary = json.loads((tmp_path / out / "summary.json").read_text())
        assert summary["settings"]["spectrum_band"] == [0.05, 0.2]
    assert "spectrum_band" not in json.loads((tmp_path / "full" / "summary.json").read_text())["settings"]
