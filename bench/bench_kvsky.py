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
Each Python figure is the mean of 12 calls, each C++ one of the iterations
Google Benchmark runs in 0.3 s.
"""

import argparse
import json
import os
import statistics
import subprocess
import threading
import time

import kvsky

WIDTH = 1024


def cxx(bench, name):
    """One run of the C++ benchmark (as many iterations as fill 0.3 s): seconds a panorama."""
    out = subprocess.run(
        [bench, f"--benchmark_filter=^{name}/{WIDTH}/real_time$", "--benchmark_min_time=0.3", "--benchmark_format=json"],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    (run,) = [b for b in json.loads(out)["benchmarks"] if b.get("run_type") == "iteration"]
    scale = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[run["time_unit"]]
    return run["real_time"] * scale, run["cpu_time"] * scale


def python(sky, threads, calls=12):
    """Seconds a panorama from Python, real and of the processors (all
    threads), averaged over some calls (about 0.3 s)."""
    start, cpu = time.perf_counter(), os.times()
    for _ in range(calls):
        sky.panorama(WIDTH, threads=threads)
    end = os.times()
    return (time.perf_counter() - start) / calls, (end.user - cpu.user + end.system - cpu.system) / calls


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
        # Python and C++ in turns, so that both see the same machine.
        py_runs, cxx_runs = [], []
        for _ in range(args.repetitions):
            py_runs.append(python(skies[0], threads))
            cxx_runs.append(cxx(args.bench, name))
        py, native = statistics.median(r[0] for r in py_runs), statistics.median(r[0] for r in cxx_runs)
        figures[f"threads={threads}"] = {"python_s": py, "cxx_s": native, "ratio": py / native}
        print(
            f"panorama({WIDTH}, threads={threads}): Python {py * 1e3:.1f} ms, C++ {native * 1e3:.1f} ms, "
            f"Python / C++ = {py / native:.3f}"
        )
        if threads == 1:
            # On one thread the benchmark's processor time is the whole work's:
            # a figure that a machine shared with others disturbs less.
            py_cpu, cxx_cpu = statistics.median(r[1] for r in py_runs), statistics.median(r[1] for r in cxx_runs)
            figures["threads=1"].update(python_cpu_s=py_cpu, cxx_cpu_s=cxx_cpu, cpu_ratio=py_cpu / cxx_cpu)
            print(
                f"  processor time: Python {py_cpu * 1e3:.1f} ms, C++ {cxx_cpu * 1e3:.1f} ms, "
                f"Python / C++ = {py_cpu / cxx_cpu:.3f}"
            )

    for threads in (1, 2):
        sequential, concurrent = [], []
        cpu = {"one": 0.0, "two": 0.0}
        for _ in range(3 * args.repetitions):
            t = os.times()
            sequential.append(timed(lambda: [s.panorama(WIDTH, threads=threads) for s in skies]))
            u = os.times()
            workers = [threading.Thread(target=s.panorama, args=(WIDTH, threads)) for s in skies]

            def both():
                for w in workers:
                    w.start()
                for w in workers:
                    w.join()

            concurrent.append(timed(both))
            v = os.times()
            cpu["one"] += u.user - t.user + u.system - t.system
            cpu["two"] += v.user - u.user + v.system - u.system
        one, two = statistics.median(sequential), statistics.median(concurrent)
        # The processors the process had: what the machine let it use.
        cores_one, cores_two = cpu["one"] / sum(sequential), cpu["two"] / sum(concurrent)
        figures[f"two_callers_threads={threads}"] = {
            "one_thread_both_s": one,
            "two_threads_s": two,
            "ratio": two / one,
            "cores_used_one_thread": cores_one,
            "cores_used_two_threads": cores_two,
        }
        print(
            f"two panoramas, threads={threads} each: one Python thread {one * 1e3:.1f} ms, two at once "
            f"{two * 1e3:.1f} ms, ratio {two / one:.3f} (processors in use: {cores_one:.2f}, {cores_two:.2f})"
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
