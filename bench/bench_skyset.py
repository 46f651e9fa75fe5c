#!/usr/bin/python3
"""skyset's rate against the number of local workers.

  PYTHONPATH=build/python /usr/bin/python3 bench/bench_skyset.py --json docs/skyset-throughput.json

Makes the same 200 skies (1024 x 512 EXR panoramas of the analytic sky, from
random places, moments and turbidities) with 1, 2 and 3 local workers, each
into a new folder, and reads the rate skyset reports: skies made over the
time from handing out the first sky to indexing the last (the cluster's
start-up, a few seconds, is not in it). A worker is one process with one
thread, and its panoramas run on one thread: one worker per core.
docs/plot_skyset_throughput.py draws the figures.
"""

import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SKYSET = os.path.join(HERE, "..", "tools", "skyset", "skyset")
SPEC = """\
model: preetham
turbidity: {min: 2, max: 6}
albedo: {min: 0.1, max: 0.5}
place: {latitude: {min: 20, max: 60}, longitude: {min: -10, max: 30}}
moment: {from: '2026-06-21T05:00Z', to: '2026-06-21T17:00Z'}
sampling: {method: random, count: %d, seed: 2026}
outputs: {panorama: {width: 1024, format: exr}}
"""


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--skies", type=int, default=200)
    parser.add_argument("--workers", type=int, nargs="+", default=[1, 2, 3])
    parser.add_argument("--json", help="write the figures to this file too")
    args = parser.parse_args()
    figures = {"skies": args.skies, "width": 1024, "cores": os.cpu_count(), "runs": []}
    with tempfile.TemporaryDirectory() as root:
        spec = os.path.join(root, "spec.yaml")
        with open(spec, "w", encoding="utf-8") as f:
            f.write(SPEC % args.skies)
        for workers in args.workers:
            with open("/proc/loadavg", encoding="ascii") as f:
                load = f.read().split()[0]
            done = subprocess.run(
                [sys.executable, SKYSET, spec, os.path.join(root, f"set{workers}"), "--workers", str(workers)],
                capture_output=True,
                text=True,
                check=True,
            )
            m = re.search(r"(\d+) skies in ([\d.]+) s \(([\d.]+) skies/s\)", done.stderr)
            run = {"workers": workers, "seconds": float(m.group(2)), "rate": float(m.group(3)), "load_before": load}
            figures["runs"].append(run)
            print(f"{workers} worker(s): {m.group(1)} skies in {run['seconds']:.1f} s, {run['rate']:.2f} skies/s "
                  f"(load average before: {load})")
    base = figures["runs"][0]["rate"]
    for run in figures["runs"]:
        print(f"{run['workers']} worker(s): {run['rate'] / base:.2f} x the rate of {figures['runs'][0]['workers']}")
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump(figures, f, indent=2)
            f.write("\n")


if __name__ == "__main__":
    main()
