#!/usr/bin/env python3
"""Table of a rotated-order benchmark: reads lines "ROUND LABEL SECONDS LOAD"
(the first label is ours) and prints, for each label, the median and spread
(max - min) of its times, and the median and range of the per-round ratios
ours / that label, with the 1-minute load seen in each round.
  rounds.py TITLE TIMES_FILE"""
import statistics
import sys

title, path = sys.argv[1], sys.argv[2]
times, order, loads = {}, [], {}
for line in open(path):
    r, label, t, load = line.split()
    times.setdefault(label, {})[int(r)] = float(t)
    loads.setdefault(int(r), []).append(float(load))
    if label not in order:
        order.append(label)
ours = order[0]
print(title)
print("  %-20s %9s %9s   %s" % ("", "median s", "spread s", "ours / this: median (min-max)"))
for label in order:
    ts = list(times[label].values())
    cell = ""
    if label != ours:
        ratios = [times[ours][r] / t for r, t in times[label].items() if t > 0 and r in times[ours]]
        cell = "%.2f (%.2f-%.2f)" % (statistics.median(ratios), min(ratios), max(ratios))
    print("  %-20s %9.3f %9.3f   %s" % (label, statistics.median(ts), max(ts) - min(ts), cell))
print("  load per round: " + ", ".join("%.1f-%.1f" % (min(v), max(v)) for _, v in sorted(loads.items())))
