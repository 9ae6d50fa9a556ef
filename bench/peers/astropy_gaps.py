#!/usr/bin/python3
"""Times astropy's Lomb-Scargle periodogram (fast method) on the very record
that bench/gaps_bench analyses: 10^6 grid positions, 10 % of the samples
missing at random and one gap of a tenth of the record.

Usage: astropy_gaps.py GAPS_BENCH_BINARY

The benchmark writes the samples it analyses (time, value per line) to the
file named by QUORVANE_GAPPY_RECORD; astropy then runs on them over the
multitaper estimate's frequency grid (spacing 1 / span up to the Nyquist
frequency 0.5), best of three, beside the benchmark's own timings of the
missing-data and the uneven paths. astropy is a peer for comparison only.
"""
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
from astropy.timeseries import LombScargle


def main():
    binary = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "record.txt")
        env = dict(os.environ, QUORVANE_GAPPY_RECORD=path)
        run = subprocess.run([binary, "--benchmark_filter=/1000000", "--benchmark_repetitions=1"],
                             env=env, capture_output=True, text=True, check=True)
        print(run.stdout)
        t, y = np.loadtxt(path, unpack=True)
    span = t[-1] - t[0] + 1.0
    frequency = np.arange(1, int(0.5 * span) + 1) / span
    best = float("inf")
    for _ in range(3):
        start = time.perf_counter()
        LombScargle(t, y).power(frequency, method="fast")
        best = min(best, time.perf_counter() - start)
    print(f"astropy LombScargle fast, {len(t)} samples, {len(frequency)} frequencies: "
          f"{best * 1000:.0f} ms")


if __name__ == "__main__":
    main()
