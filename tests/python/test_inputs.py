"""Two-dimensional arrays and DataFrames give one spectrum per series,
named after it, with the numbers of one call per series."""

import numpy as np
import pandas as pd
import pytest

import quorvane

RNG = np.random.default_rng(11)
BLOCK = RNG.standard_normal((3, 200)) + np.sin(np.arange(200) * 0.9)


@pytest.mark.parametrize("values,axis", [(BLOCK, -1), (BLOCK.T, 0), (BLOCK.T.copy(), -2)],
                         ids=["rows", "columns", "negative axis"])
def test_each_series_of_a_block_is_its_own_spectrum(values, axis):
    spectra = quorvane.spectrum(values, 0.5, axis=axis, tapers=4)
    assert [s.name for s in spectra] == ["0", "1", "2"]
    for row, s in zip(BLOCK, spectra):
        alone = quorvane.spectrum(row, 0.5, tapers=4)
        for name in ("frequency", "estimate", "background", "F"):
            np.testing.assert_array_equal(getattr(s, name), getattr(alone, name), err_msg=name)
        assert s.peaks.equals(alone.peaks)


def test_a_dataframe_gives_a_spectrum_per_column_on_its_index():
    months = pd.date_range("1960-01", periods=200, freq="MS")
    frame = pd.DataFrame(BLOCK.T.copy(), index=months, columns=["north", "south", 3])
    frame.iloc[[4, 9], 1] = np.nan  # missing months of one column
    north, south, third = quorvane.spectrum(frame)
    assert (north.name, south.name, third.name) == ("north", "south", "3")
    assert north.time_unit == "year" and north.dt == np.float32(1 / 12)
    assert (north.sampling["class"], south.sampling["class"]) == ("even", "gaps")
    np.testing.assert_array_equal(south.estimate, quorvane.spectrum(frame["south"]).estimate)


def test_masked_rows_keep_their_gaps_and_names_can_be_given():
    masked = np.ma.masked_array(BLOCK.copy(), mask=np.zeros_like(BLOCK, bool))
    masked[1, 50:53] = np.ma.masked
    spectra = quorvane.spectrum(masked, name=["a", "b", "c"])
    assert [s.sampling["class"] for s in spectra] == ["even", "gaps", "even"]
    assert [s.name for s in spectra] == ["a", "b", "c"]
    np.testing.assert_array_equal(spectra[1].estimate, quorvane.spectrum(masked[1]).estimate)


def test_a_stacked_block_holds_the_numbers_of_the_list_in_the_units_of_its_dates():
    months = pd.date_range("1960-01", periods=200, freq="MS")
    stacked = quorvane.spectrum(BLOCK, time=months, stacked=True, tapers=4)
    spectra = quorvane.spectrum(BLOCK, time=months, tapers=4)
    assert list(stacked["series"].values) == ["0", "1", "2"]
    assert stacked["frequency"].attrs["units"] == "cycles per year"
    for i, s in enumerate(spectra):
        np.testing.assert_array_equal(stacked["frequency"], s.frequency)
        np.testing.assert_array_equal(stacked["estimate"][i], s.estimate)
