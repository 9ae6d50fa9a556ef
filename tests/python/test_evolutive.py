"""quorvane.evolutive gives the matrices and tracks of `quorvane evolve`."""

import os
import subprocess

import numpy as np
import pytest

import quorvane
from conftest import EXAMPLES, read_csv

SUNSPOTS = EXAMPLES / "sunspots.dat"


def read_matrix(path):
    """An evolutive matrix CSV as (times, frequencies, values by window)."""
    with open(path) as f:
        frequency = np.array(f.readline().strip().split(",")[1:], dtype=np.float32)
        rows = np.array([line.strip().split(",") for line in f if line.strip()], dtype=np.float32)
    return rows[:, 0], frequency, rows[:, 1:]


def test_matrices_and_tracks_equal_the_command_lines_files(tmp_path):
    subprocess.run([os.environ["QUORVANE_BINARY"], "evolve", str(SUNSPOTS), "--layout", "single",
                    "--window", "100", "--step", "7", "--tapers", "4", "--out", str(tmp_path),
                    "--quiet"], check=True)
    series = quorvane.read(str(SUNSPOTS), "single")[0]
    e = quorvane.evolutive(series, window=100, step=7, tapers=4, jobs=2)
    assert (e.window, e.step, e.settings["tapers"]) == (100, 7, 4)
    for kind, matrix in (("power", e.power), ("F", e.F), ("ratio", e.ratio)):
        time, frequency, values = read_matrix(next(tmp_path.glob(f"*.evolutive-{kind}.csv")))
        np.testing.assert_array_equal(e.time.astype(np.float32), time)
        np.testing.assert_array_equal(e.frequency, frequency)
        np.testing.assert_array_equal(matrix, values, err_msg=kind)
    tracks = read_csv(next(tmp_path.glob("*.tracks.csv")))
    assert list(e.tracks.columns) == list(tracks)
    for name, values in tracks.items():
        np.testing.assert_array_equal(e.tracks[name].to_numpy(np.float32), values, err_msg=name)


@pytest.mark.parametrize("keywords,words", [
    (dict(window=3, step=1), "at least"),
    (dict(window=1000, step=1), "more than"),
    (dict(window=100, step=0.2), "less than one value"),
    (dict(window=100, step=5, jackknife=True), "jackknife"),
])
def test_windows_that_cannot_be_analysed_are_refused(keywords, words):
    with pytest.raises(ValueError, match=words):
        quorvane.evolutive(np.sin(np.arange(300.0)), 1.0, **keywords)


def test_records_with_gaps_and_uneven_steps_match_the_command_and_list_empty_windows(tmp_path):
    rng = np.random.default_rng(4)
    t_gaps = np.delete(np.arange(600.0), np.r_[200:330])
    t_uneven = np.cumsum(rng.uniform(0.5, 1.5, 600))
    for name, t in (("gaps", t_gaps), ("uneven", t_uneven)):
        y = np.sin(2 * np.pi * 0.1 * t) + rng.normal(size=t.size)
        path = tmp_path / f"{name}.txt"
        np.savetxt(path, np.column_stack([t, y]), header="time x", comments="")
        out = tmp_path / f"{name}-out"
        subprocess.run([os.environ["QUORVANE_BINARY"], "evolve", str(path), "--layout", "two",
                        "--window", "100", "--step", "20", "--plots", "none", "--out", str(out),
                        "--quiet"], check=True)
        e = quorvane.evolutive(y, time=t, window=100, step=20, jobs=2)
        for kind, matrix in (("power", e.power), ("F", e.F), ("ratio", e.ratio)):
            time, frequency, values = read_matrix(next(out.glob(f"*.evolutive-{kind}.csv")))
            np.testing.assert_array_equal(e.time.astype(np.float32), time)
            np.testing.assert_array_equal(e.frequency, frequency)
            np.testing.assert_array_equal(matrix, values, err_msg=f"{name} {kind}")
        empty = [w["window"] for w in e.empty]
        assert np.isnan(e.power).all(axis=1).nonzero()[0].tolist() == empty
        assert [m for m in e.method if m == "empty"] == ["empty"] * len(empty)
        if name == "gaps":
            # The windows starting at 160 .. 260 lose more than 50 steps to [200, 330).
            assert empty == [8, 9, 10, 11, 12, 13] and "more than half" in e.empty[0]["reason"]
            assert {"even", "gaps"} <= set(e.method)
            # Chosen, the uneven method takes every window, as the command gives it.
            subprocess.run([os.environ["QUORVANE_BINARY"], "evolve", str(path), "--layout", "two",
                            "--window", "100", "--step", "20", "--sampling", "uneven", "--out",
                            str(tmp_path / "uneven-choice"), "--quiet"], check=True)
            chosen = quorvane.evolutive(y, time=t, window=100, step=20, sampling="uneven")
            assert set(chosen.method) == {"uneven", "empty"}
            _, _, values = read_matrix(
                next((tmp_path / "uneven-choice").glob("*.evolutive-power.csv")))
            np.testing.assert_array_equal(chosen.power, values)
        else:
            assert empty == [] and set(e.method) == {"uneven"}
            # As if evenly spaced, the result says so, as the command warns.
            assert e.notes == []
            even = quorvane.evolutive(y, time=t, window=100, step=20, sampling="even")
            assert len(even.notes) == 1 and "as if evenly spaced" in even.notes[0]
        # A stricter minimum empties every window short of it.
        strict = quorvane.evolutive(y, time=t, window=100, step=20, min_samples=100)
        assert all(w["samples"] < 100 for w in strict.empty)
        assert len(strict.empty) > len(e.empty)
