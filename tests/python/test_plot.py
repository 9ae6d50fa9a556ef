"""Every result draws itself headless and converts to xarray with units."""

import matplotlib
import numpy as np
import pandas as pd
import pytest

import quorvane

matplotlib.use("Agg")

RNG = np.random.default_rng(4)
MONTHS = pd.date_range("1950-01", periods=480, freq="MS")
RECORD = pd.Series(np.sin(2 * np.pi * np.arange(480) / 12) + RNG.standard_normal(480),
                   index=MONTHS, name="record")
OTHER = pd.Series(np.roll(RECORD.to_numpy(), 1) + RNG.standard_normal(480), index=MONTHS,
                  name="other")


def _png(figure, path):
    import matplotlib.pyplot as plt

    figure.savefig(path, dpi=60)
    plt.close(figure)
    with open(path, "rb") as f:
        assert f.read(8) == b"\x89PNG\r\n\x1a\n"
    return path.stat().st_size


@pytest.mark.parametrize("make,axes", [
    (lambda: quorvane.spectrum(RECORD), 2),
    (lambda: quorvane.coherence(RECORD, OTHER), 2),
    (lambda: quorvane.evolutive(RECORD, window=10, step=1), 2),  # the map and its colour bar
], ids=["spectrum", "coherence", "evolutive"])
def test_each_result_renders_a_figure(tmp_path, make, axes):
    figure = make().plot()
    assert len(figure.axes) == axes
    assert _png(figure, tmp_path / "figure.png") > 10_000


def test_the_spectrum_figure_labels_its_lines_by_period_in_the_unit():
    figure = quorvane.spectrum(RECORD).plot(peaks=3)
    top, bottom = figure.axes
    labels = [text.get_text() for text in top.texts]
    assert "1 yr" in labels and len(labels) <= 3
    assert bottom.get_xlabel() == "frequency (cycles per year)"
    assert top.get_yscale() == "log"


def test_the_evolutive_map_lies_on_the_records_own_years():
    e = quorvane.evolutive(RECORD, window=10, step=1)
    axes = e.plot().axes[0]
    low, high = axes.get_xlim()
    assert 1954 < low < 1956 and 1984 < high < 1987  # centres of ten-year windows in 40 years


def test_plots_draw_on_the_axes_given_and_refuse_a_wrong_count():
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(2)
    assert quorvane.spectrum(RECORD).plot(ax=axes) is figure
    with pytest.raises(ValueError, match="2 axes"):
        quorvane.spectrum(RECORD).plot(ax=axes[0])


def test_coherence_and_evolutive_convert_to_xarray_with_units_and_settings():
    c = quorvane.coherence(RECORD, OTHER, tapers=4).to_xarray()
    assert c.frequency.attrs["units"] == "cycles per year" and c.phase.attrs["units"] == "degrees"
    assert c.attrs["tapers"] == 4 and c.attrs["name_b"] == "other"
    assert c.sizes["maximum"] == len(quorvane.coherence(RECORD, OTHER, tapers=4).coherent)
    e = quorvane.evolutive(RECORD, window=10, step=1)
    d = e.to_xarray()
    assert d.power.dims == ("time", "frequency") and d.time.attrs["units"] == "year"
    assert d.attrs["time_origin"] == 1950.0 and d.attrs["window"] == 120
    np.testing.assert_array_equal(d.power, e.power)
    assert d.sizes["track"] == len(e.tracks)
    assert d.track_period.attrs["units"] == d.track_time.attrs["units"] == "year"
    # On its own times a record's windows say how each was analysed, and a
    # pair off one grid how each record was sampled.
    gappy = np.delete(np.arange(300.0), np.r_[100:144])
    values = np.sin(0.7 * gappy)
    timed = quorvane.evolutive(values, time=gappy, window=64, step=16).to_xarray()
    assert set(timed.method.values) == {"even", "gaps", "empty"}
    assert (timed.empty_reason.values != "").tolist() == (timed.method.values == "empty").tolist()
    assert timed.attrs["min_samples"] == 10
    pair = quorvane.coherence(quorvane.Series(values, time=gappy),
                              quorvane.Series(values, time=gappy + 0.3), tapers=4).to_xarray()
    assert pair.attrs["method"] == "own_times" and pair.attrs["sampling_a"] == "gaps"
    spectrum = quorvane.spectrum(RECORD, time_unit="month").to_xarray()
    assert spectrum.peak_line_frequency.attrs["units"] == "cycles per month"
    assert spectrum.period.attrs["units"] == "month"
