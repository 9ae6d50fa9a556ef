"""What the Python tests share: the program binary and the example files."""

import os
import pathlib
import subprocess

import numpy as np
import pytest

SOURCE = pathlib.Path(os.environ.get("QUORVANE_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
EXAMPLES = SOURCE / "examples"


def read_csv(path):
    """A result CSV as {header: float32 array}; float32 of the shortest text
    gives the written float back exactly."""
    with open(path) as f:
        header = f.readline().strip().split(",")
        rows = [line.strip().split(",") for line in f if line.strip()]
    return {name: np.array([row[i] for row in rows], dtype=np.float32)
            for i, name in enumerate(header)}


@pytest.fixture
def analyse(tmp_path):
    """Runs `quorvane analyse FILE OPTIONS` and returns its files' columns by kind."""
    def run(file, *options):
        subprocess.run([os.environ["QUORVANE_BINARY"], "analyse", str(file), *options,
                        "--out", str(tmp_path), "--quiet"], check=True)
        return {path.name.split(".")[1]: read_csv(path) for path in tmp_path.glob("*.csv")}
    return run
