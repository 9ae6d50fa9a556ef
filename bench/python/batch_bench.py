"""10^4 series of 1,024 values (K = 3, default settings: background, levels
and peaks) through the grid path, quorvane.xarray.spectrum on a two-worker
dask.distributed LocalCluster, next to MNE's adaptive psd_array_multitaper
on the same 2-D array in the same run (the best of three runs of each, in
turn; MNE on two jobs besides); and where the time of the grid path goes:
the batch engine alone on one and two threads, the xarray and dask work
around it.

    PYTHONPATH=build/python /usr/bin/python3 bench/python/batch_bench.py [series] [n]
"""

import os
import sys
import time

import numpy as np
import xarray

import quorvane
import quorvane.xarray
from quorvane import _batch


def red_noise(count, n):
    rng = np.random.default_rng(5)
    noise = rng.standard_normal((count, n))
    values = np.empty_like(noise)
    values[:, 0] = noise[:, 0]
    for t in range(1, n):
        values[:, t] = 0.6 * values[:, t - 1] + noise[:, t]
    return values.astype(np.float32)


def timed(label, work, count):
    start = time.perf_counter()
    result = work()
    took = time.perf_counter() - start
    print(f"{label:<58} {took:7.2f} s  {1e3 * took / count:6.3f} ms a series", flush=True)
    return result, took


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 10_000
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 1024
    values = red_noise(count, n)
    print(f"{count} series of {n} values; {os.cpu_count()} cores, load {os.getloadavg()[0]:.2f}")
    side = int(round(np.sqrt(count)))
    da = xarray.DataArray(values.reshape(side, count // side, n), dims=("y", "x", "time"),
                          coords={"time": np.arange(n, dtype=float)})
    time_axis = np.arange(n, dtype=float)

    timed("batch engine alone, 1 thread", lambda: _batch.block(values, time_axis, 1, tapers=3),
          count)
    timed("batch engine alone, 2 threads", lambda: _batch.block(values, time_axis, 2, tapers=3),
          count)
    timed("stacked(): engine, 2 threads, and the Dataset",
          lambda: _batch.stacked(values, jobs=2, tapers=3), count)

    import mne
    mne.set_log_level("ERROR")
    bandwidth = 4.0 / n  # NW = 2: K = 3 tapers, as above

    def mne_run(jobs):
        return mne.time_frequency.psd_array_multitaper(values, 1.0, bandwidth=bandwidth,
                                                       adaptive=True, n_jobs=jobs)

    # The grid path and MNE in turn, three times each (the first grid run
    # on fresh workers): a shared machine's load moves single runs by tens
    # of percent, so the best of each is compared.
    from distributed import Client, LocalCluster
    grid_times, mne_times = [], []
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        client.run(lambda: __import__("quorvane.xarray"))  # the workers' imports are not timed
        chunked = da.chunk({"y": max(1, side // 4)})
        for run in range(3):
            lazy, _ = timed("graph of quorvane.xarray.spectrum (lazy)",
                            lambda: quorvane.xarray.spectrum(chunked, tapers=3), count)
            grid, took = timed(f"quorvane.xarray.spectrum, LocalCluster of 2 workers ({run + 1})",
                               lambda: lazy.compute(), count)
            grid_times.append(took)
            mne_times.append(timed(f"MNE psd_array_multitaper, adaptive, same array ({run + 1})",
                                   lambda: mne_run(1), count)[1])
    print("flagged cells (FDR 5 %):", int(grid.significant.sum()), "of", count)
    timed("MNE psd_array_multitaper, adaptive, n_jobs=2", lambda: mne_run(2), count)
    grid_time, mne_time = min(grid_times), min(mne_times)
    print(f"best of 3: grid path {grid_time:.2f} s, MNE {mne_time:.2f} s; per series the grid "
          f"path takes {grid_time / mne_time:.3f} of MNE's time (MNE is "
          f"{mne_time / grid_time:.1f} times slower)")

if __name__ == "__main__":
    main()
