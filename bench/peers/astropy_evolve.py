#!/usr/bin/python3
"""Times astropy's Lomb-Scargle periodogram on the windows of an evolutive
spectrum of a record with uneven steps, the windows bench/timed_evolve_bench
analyses.

Usage: astropy_evolve.py RECORD

RECORD: the (time, value) lines bench/timed_evolve_bench writes with
QUORVANE_EVOLVE_RECORD set (10^6 samples, steps spread evenly over
0.5 .. 1.5). Windows of 4096 median steps move by 1024 of them; each window
gets one Lomb-Scargle periodogram (astropy's fast method, Press & Rybicki
1989) on the multitaper grid (spacing 1 / (4096 dt), up to 0.5 / dt), that
is one transform per window where the multitaper estimate takes seven plus
its F-test and background. astropy is a peer for comparison only.
"""
import sys
import time

import numpy as np
from astropy.timeseries import LombScargle


def main():
    data = np.loadtxt(sys.argv[1])
    t, y = data[:, 0], data[:, 1]
    dt = np.median(np.diff(t))
    cell = np.floor((t - t[0]) / dt + 0.5).astype(np.int64)
    length, step = 4096, 1024
    frequency = np.arange(1, length // 2 + 1) / (length * dt)
    windows = (cell[-1] + 1 - length) // step + 1
    start = time.perf_counter()
    for w in range(windows):
        lo, hi = np.searchsorted(cell, [w * step, w * step + length])
        LombScargle(t[lo:hi], y[lo:hi]).power(frequency, method="fast")
    elapsed = time.perf_counter() - start
    print(f"astropy LombScargle (fast), {windows} windows of {length} steps: {elapsed:.2f} s")


if __name__ == "__main__":
    main()
