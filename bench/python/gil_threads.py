"""Two batches of series analysed in turn, then by two threads at once: the
engine runs without the GIL, so the threads overlap (a figure, not a test).
Series of 4000 values stay below the lengths (4096 values, a transform of
8192) at which the engine shares one series' work between two threads of its
own, which would hide the overlap.

    PYTHONPATH=build-release/python /usr/bin/python3 bench/python/gil_threads.py [N] [count] [repeats]
"""

import os
import sys
import threading
import time

import numpy as np

import quorvane


def best_of(repeats, work):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 4000
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    repeats = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    rng = np.random.default_rng(1)
    batches = [[rng.standard_normal(n).astype(np.float32) for _ in range(count)] for _ in range(2)]

    def analyse(batch):
        for x in batch:
            quorvane.spectrum(x)

    def in_turn():
        for batch in batches:
            analyse(batch)

    def together():
        threads = [threading.Thread(target=analyse, args=(batch,)) for batch in batches]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    analyse(batches[0][:5])  # warm up
    turn, both = best_of(repeats, in_turn), best_of(repeats, together)
    print(f"2 x {count} series of {n} values, {os.cpu_count()} cores, "
          f"load {os.getloadavg()[0]:.2f}")
    print(f"in turn: {turn:.3f} s   two threads: {both:.3f} s   speed-up {turn / both:.2f}")


if __name__ == "__main__":
    main()
