#!/usr/bin/env python3
"""Finds tests that ended long before ctest let them go: for each test of a
run, the time ctest gave it ("Test time") against the time the test program
itself reports (gtest's "(N ms)"). A large gap means something the test
started kept its output open after it ended.

  test_time_gaps.py [--limit S] LASTTEST.log...
      one line per log: failures and the largest gap.
  test_time_gaps.py --runs N [--jobs J] [--limit S] BUILD_DIR
      runs the whole ctest of BUILD_DIR N times in a row, keeps each
      LastTest.log as BUILD_DIR/Testing/gaps/run-K.log, then the table.

Exits 1 when a test failed or a gap is over the limit (5 s unless told).
Tests whose output holds no gtest time (scripts, fuzz targets) count for
failures only."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

BLOCK = re.compile(r"^\d+/\d+ Test: (?P<name>.+?)\n(?P<body>.*?)^Test time = +(?P<time>[\d.]+) sec\n-+\n(?P<verdict>[^\n]*)",
                   re.M | re.S)
OWN = re.compile(r"^\[ +(?:OK|FAILED|SKIPPED) +\] (?P<name>\S+) \((?P<ms>\d+) ms\)$", re.M)
TOTAL = re.compile(r"^\[=+\] \d+ tests? from \d+ test suites? ran\. \((?P<ms>\d+) ms total\)$", re.M)


def tests_of(log_text):
    """(name, ctest seconds, own seconds or None, passed) for each test of the log."""
    out = []
    for m in BLOCK.finditer(log_text):
        name, body = m.group("name"), m.group("body")
        own = None
        for o in OWN.finditer(body):
            if o.group("name") == name:
                own = int(o.group("ms")) / 1000
        if own is None:
            total = TOTAL.search(body)
            if total:
                own = int(total.group("ms")) / 1000
        out.append((name, float(m.group("time")), own, not m.group("verdict").startswith("Test Failed")))
    return out


def summary(log_text):
    tests = tests_of(log_text)
    failed = [t[0] for t in tests if not t[3]]
    gaps = [(t[1] - t[2], t) for t in tests if t[2] is not None]
    worst = max(gaps, default=(0.0, ("-", 0.0, 0.0, True)))
    return len(tests), failed, worst


def row(label, seconds, log_text, limit):
    count, failed, (gap, (name, ctest_s, own_s, _)) = summary(log_text)
    took = "-" if seconds is None else f"{seconds:.0f} s"
    line = (f"| {label} | {took} | {count} | {len(failed)}{' (' + ', '.join(failed) + ')' if failed else ''} | "
            f"{gap:.2f} s | {name} ({ctest_s:.2f} s against {own_s:.2f} s) |")
    return line, bool(failed) or gap > limit


HEADER = ("| run | duration | tests | failures | largest gap | test (ctest time against its own) |\n"
          "|---|---|---|---|---|---|")


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--runs", type=int, default=0)
    p.add_argument("--jobs", type=int, default=8)
    p.add_argument("--limit", type=float, default=5.0)
    p.add_argument("paths", nargs="+")
    a = p.parse_args()
    bad = False
    print(HEADER)
    if a.runs:
        build = a.paths[0]
        keep = os.path.join(build, "Testing", "gaps")
        os.makedirs(keep, exist_ok=True)
        for k in range(1, a.runs + 1):
            t0 = time.monotonic()
            subprocess.run(["ctest", "--test-dir", build, "-j", str(a.jobs), "--output-on-failure"],
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            took = time.monotonic() - t0
            log = os.path.join(keep, f"run-{k}.log")
            shutil.copy(os.path.join(build, "Testing", "Temporary", "LastTest.log"), log)
            line, over = row(str(k), took, open(log, errors="replace").read(), a.limit)
            bad |= over
            print(line, flush=True)
    else:
        for path in a.paths:
            line, over = row(os.path.basename(path), None, open(path, errors="replace").read(), a.limit)
            bad |= over
            print(line)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
