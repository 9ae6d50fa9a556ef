#!/usr/bin/python3
"""Times astropy's Lomb-Scargle periodogram of each record of an uneven pair
and this program's multitaper cross-spectrum of the same pair.

Usage: astropy_pair.py BENCH_BINARY [N ...]

For each N (default 100000) two records of N values are made, each with its
own steps spread evenly over 0.5 .. 1.5, AR(1) noise of persistence time 2
and a line at 0.1 that B carries 3 time units later. astropy's LombScargle
(fast method) is timed on both records over the multitaper grid (spacing
1 / span up to half the coarser median step): two periodograms, no
cross-spectrum, which astropy does not offer. Then BENCH_BINARY
(bench/timed_coherence_bench) runs BM_UnevenPairFile on the same records:
coherence, phase, gain and jackknife intervals with K = 7 tapers and
analytic levels. astropy is a peer for comparison only.
"""
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
from astropy.timeseries import LombScargle

from astropy_uneven import best_of


def record(n, seed, lag):
    rng = np.random.default_rng(seed)
    t = np.cumsum(0.5 + rng.random(n))
    a = np.exp(-np.diff(t) / 2.0)
    e = rng.standard_normal(n)
    x = np.empty(n)
    x[0] = e[0]
    for j in range(1, n):
        x[j] = a[j - 1] * x[j - 1] + np.sqrt(1.0 - a[j - 1] ** 2) * e[j]
    return t, x + np.sin(2 * np.pi * 0.1 * (t - lag))


def main():
    binary = sys.argv[1]
    for n in [int(a) for a in sys.argv[2:]] or [100000]:
        (ta, a), (tb, b) = record(n, 1, 0.0), record(n, 2, 3.0)
        step = max(np.median(np.diff(ta)), np.median(np.diff(tb)))
        span = min(ta[-1], tb[-1]) - max(ta[0], tb[0]) + step
        frequency = np.arange(1, int(0.5 / step * span)) / span
        models = [LombScargle(ta, a), LombScargle(tb, b)]
        fast = best_of(lambda: [m.power(frequency, method="fast") for m in models])
        names = []
        for t, x in ((ta, a), (tb, b)):
            with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as out:
                np.savetxt(out, np.column_stack([t, x]), fmt="%.17g")
                names.append(out.name)
        try:
            result = subprocess.run(
                [binary, "--benchmark_filter=BM_UnevenPairFile", "--benchmark_format=csv"],
                env=dict(os.environ, QUORVANE_PAIR_A=names[0], QUORVANE_PAIR_B=names[1],
                         QUORVANE_PAIR_STEP=repr(float(step))),
                capture_output=True, text=True, check=True)
        finally:
            for name in names:
                os.unlink(name)
        row = [r for r in result.stdout.splitlines() if r.startswith('"BM_UnevenPairFile')][0]
        real_ms = float(row.split(",")[2])
        print(f"N = {n}: astropy LombScargle fast, both records {1e3 * fast:.1f} ms; "
              f"multitaper cross-spectrum K = 7 {real_ms:.1f} ms")


if __name__ == "__main__":
    main()
