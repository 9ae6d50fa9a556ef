"""A grid of 100 x 100 cells of 1024 values (10^4 series, K = 3) through
quorvane.xarray.spectrum on a two-worker dask.distributed LocalCluster, next
to a plain loop of quorvane.spectrum and a loop of nitime's multitaper PSD
(NW = 2, adaptive, which keeps 3 tapers) over the same cells.

    PYTHONPATH=build-release/python /usr/bin/python3 bench/python/grid_bench.py [side] [n]
"""

import os
import sys
import time

import numpy as np
import xarray

import quorvane
import quorvane.xarray


def make_grid(side, n):
    rng = np.random.default_rng(5)
    noise = rng.standard_normal((side, side, n))
    values = np.empty_like(noise)
    values[..., 0] = noise[..., 0]
    for t in range(1, n):  # AR(1) noise with a line at 0.1 cycles per step
        values[..., t] = 0.6 * values[..., t - 1] + noise[..., t]
    values += 0.5 * np.sin(2 * np.pi * 0.1 * np.arange(n))
    return xarray.DataArray(values.astype(np.float32), dims=("y", "x", "time"),
                            coords={"time": np.arange(n, dtype=float)})


def timed(label, work):
    start = time.perf_counter()
    result = work()
    print(f"{label:<52} {time.perf_counter() - start:7.2f} s", flush=True)
    return result


def main():
    side = int(sys.argv[1]) if len(sys.argv) > 1 else 100
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 1024
    from distributed import Client, LocalCluster
    import nitime.algorithms as tsa

    da = timed(f"making {side} x {side} cells of {n} values", lambda: make_grid(side, n))
    print(f"{os.cpu_count()} cores, load {os.getloadavg()[0]:.2f}")
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster):
        lazy = quorvane.xarray.spectrum(da.chunk({"y": 5}), tapers=3)
        grid = timed("quorvane.xarray.spectrum, LocalCluster of 2 workers", lazy.compute)
    values = da.values

    def quorvane_loop():
        return np.array([[quorvane.spectrum(values[i, j], tapers=3).estimate
                          for j in range(side)] for i in range(side)])

    loop = timed("loop of quorvane.spectrum (one thread)", quorvane_loop)
    print("grid equals the loop:", bool(np.array_equal(grid.estimate.values, loop)))

    def nitime_loop():
        for i in range(side):
            for j in range(side):
                tsa.multi_taper_psd(values[i, j], Fs=1.0, NW=2, adaptive=True, jackknife=False)

    timed("loop of nitime multi_taper_psd (one thread)", nitime_loop)


if __name__ == "__main__":
    main()
