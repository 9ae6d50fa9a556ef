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


@pytest.mark.parametrize("b,keywords,words", [
    (dict(time=np.arange(100.0) + 0.5), {}, "off those of"),
    (dict(time=np.r_[np.arange(50.0), np.arange(60.0, 110.0)]), {}, "has gaps"),
    (dict(time=np.arange(100.0)), dict(noise="white"), "unexpected keyword"),
])
def test_pairs_that_cannot_be_analysed_are_refused(b, keywords, words):
    a = quorvane.Series(np.sin(np.arange(100.0)), name="a")
    other = quorvane.Series(np.cos(np.arange(100.0)), name="b", **b)
    with pytest.raises((ValueError, TypeError), match=words):
        quorvane.coherence(a, other, **keywords)
