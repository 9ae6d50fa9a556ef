"""quorvane.coherence gives the columns and maxima of `quorvane coherence`."""

import json
import os
import subprocess

import numpy as np
import pytest

import quorvane
from conftest import EXAMPLES, read_csv

DEATHS = EXAMPLES / "uk_lung_deaths.csv"


@pytest.mark.parametrize("options,keywords", [
    ([], {}),
    (["--tapers", "5", "--resolution", "3", "--band", "0.5:3", "--pad", "2"],
     dict(tapers=5, resolution=3, band=(0.5, 3), pad=2)),
    (["--estimate", "adaptive", "--surrogates", "20", "--seed", "3", "--jobs", "2"],
     dict(estimate="adaptive", surrogates=20, seed=3, jobs=2)),
])
def test_columns_and_maxima_equal_the_command_lines_files(tmp_path, options, keywords):
    subprocess.run([os.environ["QUORVANE_BINARY"], "coherence", str(DEATHS), "--layout", "csv",
                    *options, "--out", str(tmp_path), "--quiet"], check=True)
    male, female = quorvane.read(str(DEATHS), "csv")
    c = quorvane.coherence(male, female, **keywords)
    columns = read_csv(tmp_path / "male__female.coherence.csv")
    arrays = {name: getattr(c, name) for name in columns if not name.startswith("level")}
    arrays.update({f"level{p}": level for p, level in c.levels.items()})
    assert sorted(arrays) == sorted(columns)
    for name, values in arrays.items():
        np.testing.assert_array_equal(values, columns[name], err_msg=name)
    summary = json.loads((tmp_path / "summary.json").read_text())
    assert c.length == summary["span"]["values"]
    maxima = summary["coherent"]
    assert len(c.coherent) == len(maxima["rows"])
    column = maxima["columns"].index("frequency")
    np.testing.assert_array_equal(c.coherent["frequency"].to_numpy(np.float32),
                                  np.array([row[column] for row in maxima["rows"]], np.float32))


def uneven_pair(seed=5):
    """A jittered record and one with a gap, sharing a line at 0.1."""
    random = np.random.default_rng(seed)
    ta = np.cumsum(random.uniform(0.5, 1.5, 300))
    tb = np.cumsum(random.uniform(0.6, 1.8, 240))
    tb[120:] += 15.0
    a = np.sin(2 * np.pi * 0.1 * ta) + random.normal(0, 0.5, ta.size)
    b = np.sin(2 * np.pi * 0.1 * (tb - 2.0)) + random.normal(0, 0.5, tb.size)
    return ta, a, tb, b


@pytest.mark.parametrize("options,keywords,method", [
    ([], {}, "own_times"),
    (["--significance", "montecarlo", "--surrogates", "30", "--seed", "2"],
     dict(significance="montecarlo", surrogates=30, seed=2), "own_times"),
    (["--sampling", "interpolate"], dict(sampling="interpolate"), "interpolated"),
])
def test_a_pair_on_its_own_times_equals_the_command_lines_files(tmp_path, options, keywords,
                                                                 method):
    ta, a, tb, b = uneven_pair()
    for name, t, y in (("a.txt", ta, a), ("b.txt", tb, b)):
        np.savetxt(tmp_path / name, np.c_[t, y], fmt="%.17g", header="t y", comments="")
    out = tmp_path / "out"
    subprocess.run([os.environ["QUORVANE_BINARY"], "coherence", str(tmp_path / "a.txt"),
                    str(tmp_path / "b.txt"), "--layout", "two", *options, "--out", str(out),
                    "--quiet"], check=True)
    c = quorvane.coherence(a, b, time_a=ta, time_b=tb, **keywords)
    assert c.method == method
    columns = read_csv(next(out.glob("*.coherence.csv")))
    for name in ("frequency", "coherence", "phase", "phase_lower", "gain", "spectrum_b"):
        np.testing.assert_array_equal(getattr(c, name), columns[name], err_msg=name)
    np.testing.assert_array_equal(c.levels[95], columns["level95"])
    summary = json.loads((out / "summary.json").read_text())
    assert summary["method"] == method
    assert summary["a"]["sampling"]["class"] == "uneven"
    assert summary["span"]["values_a"] == c.length_a
    assert summary["span"]["values_b"] == c.length_b
    # The shared span: from the later first time to the earlier last one.
    assert summary["span"]["first"] == pytest.approx(max(ta[0], tb[0]))
    if method == "own_times":
        assert summary["span"]["last"] == pytest.approx(min(ta[-1], tb[-1]))
        assert c.length_a == np.count_nonzero((ta >= tb[0]) & (ta <= tb[-1]))
        # The shared line stands out, B lagging A by 72 degrees.
        at = np.argmin(abs(c.frequency - 0.1))
        assert c.coherence[at] > c.levels[99][at]
        assert c.phase_lower[at] < 72 < c.phase_upper[at]
    if "surrogates" in keywords:
        assert summary["band_wide"]["level95"] == pytest.approx(c.band_wide[0])
        assert 0 < c.band_wide[0] <= c.band_wide[1] < 1


@pytest.mark.parametrize("b,keywords,words", [
    (dict(time=np.arange(200.0, 300.0)), {}, "do not overlap"),
    (dict(time=np.arange(100.0)), dict(sampling="gaps"), "automatic"),
    (dict(time=np.arange(100.0)), dict(noise="white"), "unexpected keyword"),
])
def test_pairs_that_cannot_be_analysed_are_refused(b, keywords, words):
    a = quorvane.Series(np.sin(np.arange(100.0)), name="a")
    other = quorvane.Series(np.cos(np.arange(100.0)), name="b", **b)
    with pytest.raises((ValueError, TypeError), match=words):
        quorvane.coherence(a, other, **keywords)
