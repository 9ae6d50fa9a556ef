#!/usr/bin/python3
"""Side by side, in one run and on the same data: the wall time, CPU time
(user and system, which a busy machine disturbs less) and peak resident
memory of whole processes on a record of 10^6 values, K = 7 tapers
(NW = 4):
- quorvane analyse writing the spectrum as CSV, and as NetCDF-4;
- MNE's psd_array_multitaper (adaptive weights), reading the same file;
- nitime's multi_taper_psd (adaptive weights), reading the same file.
Each is run --repeat times (default 3) and the best run is shown.

Run: /usr/bin/python3 bench/peers/campaign.py [--binary build/quorvane] [--repeat 3]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
from scipy.signal import lfilter

VALUES, NW = 1_000_000, 4

MNE = """
import sys, numpy as np
from mne.time_frequency import psd_array_multitaper
x = np.loadtxt(sys.argv[1], skiprows=2)
# bandwidth is the full width in Hz: NW = bandwidth * n / (2 sfreq), K = 2 NW - 1
psd, freqs = psd_array_multitaper(x, sfreq=1.0, bandwidth=2 * {nw} / len(x), adaptive=True,
                                  normalization="full", verbose="error")
""".format(nw=NW)

NITIME = """
import sys, numpy as np
from nitime.algorithms import multi_taper_psd
x = np.loadtxt(sys.argv[1], skiprows=2)
freqs, psd, nu = multi_taper_psd(x, Fs=1.0, NW={nw}, adaptive=True, jackknife=False)
""".format(nw=NW)


def record(path):
    """AR(1) noise with two lines, in the single-column layout (a name line,
    the first time, then one value per line)."""
    rng = np.random.default_rng(32)
    t = np.arange(VALUES)
    y = lfilter([1.0], [1.0, -0.5], rng.standard_normal(VALUES))
    y += np.sin(2 * np.pi * 0.1 * t) + 0.5 * np.sin(2 * np.pi * 0.0123 * t)
    with open(path, "w") as out:
        out.write("campaign\n1\n")
        np.savetxt(out, y.astype(np.float32), fmt="%.7g")


def measure(command):
    """Wall seconds, CPU seconds and peak resident megabytes of one run of
    `command`."""
    begin = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - begin
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.exit(f"{command[0]} failed: {process.stderr.read().decode()}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", default="build/quorvane")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--skip-peers", action="store_true", help="quorvane's rows only")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="quorvane_campaign_") as folder:
        data = os.path.join(folder, "record.dat")
        record(data)
        analyse = [args.binary, "analyse", data, "--layout", "single", "--tapers", "7",
                   "--quiet", "--out"]
        runs = [("quorvane analyse, CSV", analyse + [os.path.join(folder, "csv")]),
                ("quorvane analyse, NetCDF",
                 analyse + [os.path.join(folder, "nc"), "--format", "netcdf"])]
        if not args.skip_peers:
            runs += [("MNE psd_array_multitaper (adaptive), whole process",
                      [sys.executable, "-c", MNE, data]),
                     ("nitime multi_taper_psd (adaptive), whole process",
                      [sys.executable, "-c", NITIME, data])]
        print(f"| N = 10^6, K = 7 (best of {args.repeat}) | wall | CPU | peak RSS |")
        print("|---|---|---|---|")
        for name, command in runs:
            best = min(measure(command) for _ in range(args.repeat))
            print(f"| {name} | {best[0]:.2f} s | {best[1]:.2f} s | {best[2]:.0f} MB |",
                  flush=True)


if __name__ == "__main__":
    main()
