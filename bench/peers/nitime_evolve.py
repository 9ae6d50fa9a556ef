#!/usr/bin/python3
"""The peer of evolve_bench: nitime's multitaper spectrum over the windows of
a long record, as a plain Python loop.

10^6 values (AR(1) noise with a drifting line, like evolve_bench.cc),
windows of 4096 values 1024 apart (973 windows), NW = 4, the adaptive
estimate, timed two ways:
- multi_taper_psd on every window, as users call it: it computes the
  tapers of every window again, and takes the 2 NW = 8 tapers whose
  concentration is at least 0.9;
- the tapers computed once (dpss_windows, K = 7 as in evolve_bench), then per
  window the tapered transforms (tapered_spectra: the full transform, which
  nitime's one-sided functions halve themselves), nitime's adaptive weights
  and its weighted spectrum (the steps multi_taper_psd takes).
Prints the time of each loop and the process's peak resident memory.

Run: /usr/bin/python3 bench/peers/nitime_evolve.py
"""

import resource
import time

import numpy as np
from nitime.algorithms import dpss_windows, mtm_cross_spectrum, multi_taper_psd
from nitime.utils import adaptive_weights, tapered_spectra
from scipy.signal import lfilter

VALUES, WINDOW, STEP, NW, K = 1_000_000, 4096, 1024, 4, 7


def drifting_line(n):
    noise = np.random.default_rng(11).standard_normal(n)
    red = lfilter([1.0], [1.0, -0.5], noise)
    t = np.arange(n)
    phase = 2 * np.pi * np.cumsum(0.1 + 0.1 * t / n)
    return (red + np.sin(phase)).astype(np.float32)


def psd_every_window(y, starts):
    for start in starts:
        multi_taper_psd(y[start:start + WINDOW].astype(np.float64), Fs=1.0, NW=NW,
                        adaptive=True, jackknife=False)


def tapers_once(y, starts):
    tapers, concentrations = dpss_windows(WINDOW, NW, K)
    for start in starts:
        spectra = tapered_spectra(y[start:start + WINDOW].astype(np.float64), tapers)
        weights, _ = adaptive_weights(spectra, concentrations, sides="onesided")
        mtm_cross_spectrum(spectra, spectra, weights, sides="onesided")


def main():
    y = drifting_line(VALUES)
    starts = range(0, VALUES - WINDOW + 1, STEP)
    for name, loop in (("multi_taper_psd per window", psd_every_window),
                       ("tapers once, K = 7", tapers_once)):
        begin = time.perf_counter()
        loop(y, starts)
        elapsed = time.perf_counter() - begin
        print(f"nitime {name}: {len(starts)} windows of {WINDOW} values, {elapsed:.2f} s")
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(f"peak resident memory {peak:.0f} MB")


if __name__ == "__main__":
    main()
