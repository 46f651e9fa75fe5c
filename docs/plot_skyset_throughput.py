#!/usr/bin/python3
"""Draws docs/skyset-throughput.png from docs/skyset-throughput.json (written
by bench/bench_skyset.py). A development-time script: matplotlib (Debian's
python3-matplotlib) is needed here only, never by the program or skyset."""

import json
import os

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))

with open(os.path.join(HERE, "skyset-throughput.json"), encoding="utf-8") as f:
    figures = json.load(f)
workers = [r["workers"] for r in figures["runs"]]
rates = [r["rate"] for r in figures["runs"]]
ideal = [rates[0] * min(w, figures["cores"]) for w in workers]

fig, ax = plt.subplots(figsize=(6, 4), dpi=100)
ax.plot(workers, ideal, "--", color="0.6", label=f"one worker's rate x cores used ({figures['cores']} cores)")
ax.plot(workers, rates, "o-", color="tab:blue", label="measured")
for w, r in zip(workers, rates):
    ax.annotate(f"{r:.2f}/s", (w, r), textcoords="offset points", xytext=(6, -12))
ax.set_xticks(workers)
ax.set_xlabel("local workers (one process, one thread each)")
ax.set_ylabel("skies per second")
ax.set_ylim(0, max(ideal + rates) * 1.15)
ax.set_title(f"skyset: {figures['skies']} skies, {figures['width']} x {figures['width'] // 2} EXR")
ax.legend(loc="lower right")
ax.grid(alpha=0.3)
fig.tight_layout()
fig.savefig(os.path.join(HERE, "skyset-throughput.png"))
