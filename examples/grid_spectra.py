#!/usr/bin/python3
"""Spectra of every cell of a gridded field, spread over a dask.distributed
cluster: a NetCDF file in, a NetCDF file of spectra and line maps out.

    examples/grid_spectra.py --demo field.nc          # a small demo field to try it on
    examples/grid_spectra.py field.nc sst spectra.nc --workers 2 --set tapers=4

Every cell of VARIABLE along --dim (default time) is analysed with the
settings given by --set NAME=VALUE (the keywords of quorvane.spectrum);
cells that are entirely NaN (land) stay NaN. The output holds estimate,
background and F on (other dims..., frequency), and the maps
peak_frequency, peak_ratio and peak_significance of the strongest
significant line of each cell. --scheduler ADDRESS uses a running cluster
instead of starting a LocalCluster.
"""

import argparse
import time

import numpy as np
import xarray

import quorvane.xarray


def demo(path):
    """A 20 x 30 field of 600 monthly values: red noise, an annual cycle, and
    a 3.5-year oscillation in the east; the first rows are land (NaN). Small,
    so that a try on one machine takes seconds."""
    rng = np.random.default_rng(0)
    t = np.arange(600) / 12.0
    lon = np.linspace(0.0, 348.0, 30)
    noise = rng.standard_normal((20, 30, 600))
    for k in range(1, 600):
        noise[..., k] += 0.5 * noise[..., k - 1]
    field = noise + np.sin(2 * np.pi * t) + (lon[:, None] > 180) * 0.8 * np.sin(2 * np.pi * t / 3.5)
    field[:2] = np.nan
    xarray.Dataset({"sst": (("lat", "lon", "time"), field.astype(np.float32), {"units": "K"})},
                   coords={"lat": np.linspace(-38, 38, 20), "lon": lon,
                           "time": ("time", t, {"units": "year"})}).to_netcdf(path)
    print(f"wrote {path}: variable sst on lat, lon, time")


def setting(text):
    name, _, value = text.partition("=")
    for kind in (int, float):
        try:
            return name, kind(value)
        except ValueError:
            pass
    return name, {"true": True, "false": False}.get(value.lower(), value)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("input", help="NetCDF file (with --demo: the file to write)")
    parser.add_argument("variable", nargs="?")
    parser.add_argument("output", nargs="?")
    parser.add_argument("--demo", action="store_true", help="write a demo field to INPUT")
    parser.add_argument("--dim", default="time")
    parser.add_argument("--workers", type=int, default=2, help="LocalCluster workers (default 2)")
    parser.add_argument("--scheduler", help="address of a running dask scheduler")
    parser.add_argument("--set", action="append", default=[], type=setting, metavar="NAME=VALUE")
    args = parser.parse_args()
    if args.demo:
        return demo(args.input)
    if not (args.variable and args.output):
        parser.error("give INPUT VARIABLE OUTPUT")

    from distributed import Client, LocalCluster
    cluster = None if args.scheduler else LocalCluster(n_workers=args.workers, threads_per_worker=1,
                                                       dashboard_address=None)
    with Client(args.scheduler or cluster) as client:
        print(f"dask: {len(client.scheduler_info()['workers'])} workers")
        field = xarray.open_dataset(args.input, chunks={})[args.variable]
        # About 4 tasks per worker, split along the first of the other dims.
        other = [d for d in field.dims if d != args.dim]
        tasks = 4 * len(client.scheduler_info()["workers"])
        field = field.chunk({args.dim: -1, other[0]: max(1, field.sizes[other[0]] // tasks)})
        start = time.perf_counter()
        result = quorvane.xarray.spectrum(field, dim=args.dim, **dict(args.set))
        result.to_netcdf(args.output)
        cells = int(np.prod([field.sizes[d] for d in other]))
        print(f"{cells} cells in {time.perf_counter() - start:.1f} s -> {args.output}")
    if cluster is not None:
        cluster.close()


if __name__ == "__main__":
    main()
