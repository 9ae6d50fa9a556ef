#!/usr/bin/python3
"""Times a Python loop of astropy's Lomb-Scargle periodogram over the members
of an age ensemble, beside this program's ensemble spectra of the same
members.

Usage: astropy_ensemble.py BENCH_BINARY

BENCH_BINARY (bench/ensemble_bench) runs BM_Ensemble (1,000 chronologies of
a 2,000-sample record, K = 5 tapers, each member a complete multitaper
Lomb-Scargle analysis with F-test and background) and writes the record and
its chronologies to a scratch file; astropy.timeseries.LombScargle (fast
method) is then run on every member on the same frequency grid (spacing one
over the shortest member span, up to half the coarsest median step), with
its false-alarm level left out. astropy is a peer for comparison only
(Debian's python3-astropy), not a dependency of the program.
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
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "ensemble.bin")
        run = subprocess.run([binary, "--benchmark_filter=BM_Ensemble"],
                             env=dict(os.environ, QUORVANE_ENSEMBLE_DUMP=path),
                             capture_output=True, text=True, check=True)
        print(run.stdout)
        raw = np.fromfile(path, dtype=np.int64, count=2)
        samples, members = int(raw[0]), int(raw[1])
        data = np.fromfile(path, dtype=np.float64, offset=16)
    y = data[:samples]
    ages = data[samples:].reshape(members, samples)
    span = (ages[:, -1] - ages[:, :1].max()).min()
    coarsest = np.median(np.diff(ages, axis=1), axis=1).max()
    frequency = np.arange(1, int(0.5 / coarsest * span)) / span
    start = time.perf_counter()
    power = np.empty((members, frequency.size))
    for m in range(members):
        power[m] = LombScargle(ages[m], y).power(frequency)
    elapsed = time.perf_counter() - start
    quantiles = np.percentile(power, [2.5, 25, 50, 75, 97.5], axis=0)
    print(f"astropy LombScargle loop: {members} members of {samples} samples, "
          f"{frequency.size} frequencies: {elapsed:.2f} s "
          f"({1000 * elapsed / members:.2f} ms a member); quantiles {quantiles.shape}")


if __name__ == "__main__":
    main()
