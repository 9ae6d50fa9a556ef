#!/usr/bin/python3
"""The peer of coherence_bench: nitime's multitaper coherence of a pair of
2^20 values (AR(1) noise in each, a line at 0.1 cycles per value that B
carries 3 values later, like coherence_bench.cc), NW = 4, timed three ways:
- multi_taper_csd on the pair, as users call it (it takes the 2 NW = 8
  tapers whose concentration is at least 0.9), coherence from its matrix;
- K = 7 tapers (dpss_windows), the tapered transforms (tapered_spectra:
  the full transform, which nitime's one-sided functions halve themselves)
  and mtm_cross_spectrum with equal weights: the hires estimate of quorvane;
- the same with nitime's adaptive weights of each series.
The first includes its tapers; the other two are timed after the K = 7
tapers, whose time is printed alone (nearly all of nitime's time goes to
them). Prints each time and the coherence at the line.

Run: /usr/bin/python3 bench/peers/nitime_coherence.py
"""

import time

import numpy as np
from nitime.algorithms import dpss_windows, mtm_cross_spectrum, multi_taper_csd
from nitime.utils import adaptive_weights, tapered_spectra
from scipy.signal import lfilter

VALUES, NW, K = 1 << 20, 4, 7


def pair():
    rng = np.random.default_rng(5)
    t = np.arange(VALUES)
    a = lfilter([1.0], [1.0, -0.5], rng.standard_normal(VALUES)) + np.sin(2 * np.pi * 0.1 * t)
    b = lfilter([1.0], [1.0, -0.5], rng.standard_normal(VALUES)) + np.sin(2 * np.pi * 0.1 * (t - 3))
    return a - a.mean(), b - b.mean()


def csd(a, b):
    _, matrix = multi_taper_csd(np.vstack([a, b]), Fs=1.0, NW=NW, adaptive=False)
    return np.abs(matrix[0, 1]) ** 2 / (matrix[0, 0].real * matrix[1, 1].real)


def tapers_k7(a, b, tapers, concentrations, adaptive):
    ya = tapered_spectra(a, tapers)
    yb = tapered_spectra(b, tapers)
    if adaptive:
        wa, _ = adaptive_weights(ya, concentrations, sides="onesided")
        wb, _ = adaptive_weights(yb, concentrations, sides="onesided")
    else:
        wa = wb = np.ones((K, 1))
    sab = mtm_cross_spectrum(ya, yb, (wa, wb), sides="onesided")
    saa = mtm_cross_spectrum(ya, ya, (wa, wa), sides="onesided").real
    sbb = mtm_cross_spectrum(yb, yb, (wb, wb), sides="onesided").real
    return np.abs(sab) ** 2 / (saa * sbb)


def main():
    a, b = pair()
    line = int(round(0.1 * VALUES))
    begin = time.perf_counter()
    tapers, concentrations = dpss_windows(VALUES, NW, K)
    print(f"nitime dpss_windows, K = 7: {time.perf_counter() - begin:.2f} s")
    for name, run in (("multi_taper_csd (NW = 4), tapers included", lambda: csd(a, b)),
                      ("K = 7, equal weights, after the tapers",
                       lambda: tapers_k7(a, b, tapers, concentrations, False)),
                      ("K = 7, adaptive weights, after the tapers",
                       lambda: tapers_k7(a, b, tapers, concentrations, True))):
        begin = time.perf_counter()
        coherence = run()
        elapsed = time.perf_counter() - begin
        print(f"nitime {name}: {VALUES} values, {elapsed:.2f} s, coherence at the line "
              f"{coherence[line]:.4f}")


if __name__ == "__main__":
    main()
