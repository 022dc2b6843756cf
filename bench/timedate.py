#!/usr/bin/env python3
"""Dates, times and money: time per operation against integer + integer.

Each case is one operation in `loop N [...]`, in a fresh vyx process; the same
script without the loop is timed too and subtracted (bench/iteration.py's
runner), so start-up does not count. The median of RUNS is shown, with the
ratio to `i + 1` on integers.

usage: bench/timedate.py [--vyx PATH] [--n N] [--runs RUNS]
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from iteration import ns_per_step  # noqa: E402

SETUP = ("i: 1 d: 14-Jan-2025/10:30:00+01:00 e: 1-Mar-2020 t: 1:30:15.5 u: 0:00:01\n"
         "m: $1234.56 k: USD$0.01\n")
CASES = [
    # (label, body, share of N)
    ("integer + integer", "i + 1", 1),
    ("date + integer", "d + 1", 1),
    ("date - date", "d - e", 1),
    ("d/isoweek", "d/isoweek", 1),
    ("mold date", "mold d", 1),
    ("time + time", "t + u", 1),
    ("money + money", "m + k", 1),
    ("money * float", "m * 1.5", 10),
    ("money / integer", "m / 7", 10),
    ("form money", "form m", 10),
]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--vyx", default=os.path.join(os.path.dirname(__file__), "..", "build", "vyx"))
    ap.add_argument("--n", type=int, default=1000000)
    ap.add_argument("--runs", type=int, default=3)
    a = ap.parse_args()
    base = None
    print("%-22s %10s %12s %8s" % ("operation", "steps", "ns per step", "ratio"))
    for label, body, share in CASES:
        n = a.n // share
        t = ns_per_step(a.vyx, SETUP, "loop {n} [%s]" % body, n, a.runs)
        if base is None:
            base = t
        print("%-22s %10d %12.1f %8.2f" % (label, n, t, t / base if base > 0 else float("nan")))


if __name__ == "__main__":
    main()
