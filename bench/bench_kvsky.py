#!/usr/bin/python3
"""The Python module's panorama beside the same work in C++, and threads.

  PYTHONPATH=build/python /usr/bin/python3 bench/bench_kvsky.py build/bench/bench_sky_value

1. panorama(1024) from Python against bench_sky_value's BM_SkyValuePanorama
   (the same sky, the same rows into an array of floats), each on its two
   threads and on one: the module's cost over the C++ is the wrapping (the
   array, the lock let go and taken back).
2. Two panoramas by one Python thread after the other, against two Python
   threads making one each at once (skies of their own). A panorama already
   runs on two threads by default, which on a 2-core machine leaves little
   for a second caller: the figure that shows the lock is let go is the one
   with threads=1, where one caller uses one core. Both are printed.

Runs are interleaved and their medians taken: the machine may be shared.
"""

import argparse
import json
import statistics
import subprocess
import threading
import time

import kvsky

WIDTH = 1024


def cxx(bench, name, repetitions):
    out = subprocess.run(
        [
            bench,
            f"--benchmark_filter=^{name}/{WIDTH}$",
            f"--benchmark_repetitions={repetitions}",
            "--benchmark_format=json",
        ],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    runs = [b for b in json.loads(out)["benchmarks"] if b.get("run_type") == "iteration"]
    scale = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}
    return statistics.median(b["real_time"] * scale[b["time_unit"]] for b in runs)


def timed(fn):
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bench", help="the bench_sky_value program")
    parser.add_argument("--repetitions", type=int, default=7)
    parser.add_argument("--json", help="write the figures to this file too")
    args = parser.parse_args()

    skies = [kvsky.Sky(), kvsky.Sky()]
    for s in skies:
        s.set_sun(50.0, 20.0)
    skies[0].panorama(WIDTH)  # the first call's set-up out of the timings

    figures = {}
    for threads, name in ((2, "BM_SkyValuePanorama"), (1, "BM_SkyValuePanoramaOneThread")):
        python = statistics.median(
            timed(lambda: skies[0].panorama(WIDTH, threads=threads)) for _ in range(args.repetitions)
        )
        native = cxx(args.bench, name, args.repetitions)
        figures[f"threads={threads}"] = {"python_s": python, "cxx_s": native, "ratio": python / native}
        print(
            f"panorama({WIDTH}, threads={threads}): Python {python * 1e3:.1f} ms, C++ {native * 1e3:.1f} ms, "
            f"Python / C++ = {python / native:.3f}"
        )

    for threads in (1, 2):
        sequential, concurrent = [], []
        for _ in range(args.repetitions):
            sequential.append(timed(lambda: [s.panorama(WIDTH, threads=threads) for s in skies]))
            workers = [threading.Thread(target=s.panorama, args=(WIDTH, threads)) for s in skies]

            def both():
                for w in workers:
                    w.start()
                for w in workers:
                    w.join()

            concurrent.append(timed(both))
        one, two = statistics.median(sequential), statistics.median(concurrent)
        figures[f"two_callers_threads={threads}"] = {"one_thread_both_s": one, "two_threads_s": two, "ratio": two / one}
        print(
            f"two panoramas, threads={threads} each: one Python thread {one * 1e3:.1f} ms, two at once "
            f"{two * 1e3:.1f} ms, ratio {two / one:.3f}"
        )
    with open("/proc/loadavg", encoding="ascii") as f:
        figures["load_average"] = f.read().split()[:3]
    print(f"load average: {' '.join(figures['load_average'])}")
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump(figures, f, indent=2)
            f.write("\n")


if __name__ == "__main__":
    main()
