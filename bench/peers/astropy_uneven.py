#!/usr/bin/python3
"""Times astropy's Lomb-Scargle periodogram and this program's multitaper
estimate of records with uneven steps on the very same record.

Usage: astropy_uneven.py BENCH_BINARY [N ...]

For each N (default 100000) a record of N values is made: steps spread
evenly over 0.5 .. 1.5, AR(1) noise of persistence time 3 on those times and
two sines. astropy.timeseries.LombScargle (its fast method, Press & Rybicki
1989, and its exact O(N M) method for small N) is timed on the frequency grid
of the multitaper estimate (spacing 1 / span, up to half the median step);
then BENCH_BINARY (bench/uneven_bench) runs BM_UnevenRecordFile on the same
record: a complete default analysis with K = 7 tapers, that is seven
non-uniform transforms plus the estimate, F-test, background and peaks.
astropy is a peer for comparison only (Debian's python3-astropy), not a
dependency of the program.
"""
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
from astropy.timeseries import LombScargle


def record(n, seed=11):
    rng = np.random.default_rng(seed)
    t = np.concatenate([[0.0], np.cumsum(0.5 + rng.random(n - 1))])
    a = np.exp(-np.diff(t) / 3.0)
    e = rng.standard_normal(n)
    x = np.empty(n)
    x[0] = e[0]
    for j in range(1, n):
        x[j] = a[j - 1] * x[j - 1] + np.sqrt(1.0 - a[j - 1] ** 2) * e[j]
    return t, x + 0.3 * np.sin(0.7771 * t) + 0.3 * np.sin(2.9 * t)


def best_of(function, repeats=3):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    binary = sys.argv[1]
    for n in [int(a) for a in sys.argv[2:]] or [100000]:
        t, x = record(n)
        step = np.median(np.diff(t))
        span = t[-1] - t[0] + step
        frequency = np.arange(1, int(0.5 / step * span)) / span
        model = LombScargle(t, x)
        fast = best_of(lambda: model.power(frequency, method="fast"))
        line = f"N = {n}: astropy LombScargle fast {1e3 * fast:.1f} ms"
        if n <= 20000:
            exact = best_of(lambda: model.power(frequency, method="cython"), 1)
            line += f", exact (cython) {1e3 * exact:.1f} ms"
        with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as out:
            np.savetxt(out, np.column_stack([t, x]), fmt="%.17g")
        try:
            result = subprocess.run(
                [binary, "--benchmark_filter=BM_UnevenRecordFile", "--benchmark_format=csv"],
                env=dict(os.environ, QUORVANE_UNEVEN_RECORD=out.name),
                capture_output=True, text=True, check=True)
        finally:
            os.unlink(out.name)
        row = [r for r in result.stdout.splitlines() if r.startswith('"BM_UnevenRecordFile')][0]
        real_ms = float(row.split(",")[2])
        print(f"{line}; multitaper K = 7 complete run {real_ms:.1f} ms")


if __name__ == "__main__":
    main()
