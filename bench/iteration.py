#!/usr/bin/env python3
"""Series iteration and math natives: time per step.

Each case is a Vyx snippet run over N steps in a fresh vyx process; the same
script with the loop left out is timed too and subtracted, so start-up and
building the data do not count. Every case runs RUNS times, the cases in turn,
and the median is taken.

  iteration loops   foreach, forall and remove-each over a block of N values,
                    against `repeat i n [pick b i]` and python3's `for x in list`
  math natives      one call per step from `loop`, against `loop n [add 1 2]`
  apply             `apply 'f [1 2]` against the direct call `f 1 2`

usage: bench/iteration.py [--vyx PATH] [--n N] [--runs RUNS]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

MAKE = "b: make block! {n} repeat i {n} [append b i]\n"

LOOPS = [
    ("repeat + pick", MAKE, "repeat i {n} [pick b i]"),
    ("foreach", MAKE, "foreach x b [x]"),
    ("foreach [a b]", MAKE, "foreach [x y] b [x]"),
    ("forall", MAKE, "forall b [b]"),
    ("remove-each, none removed", MAKE, "remove-each x b [false]"),
    ("remove-each, all removed", MAKE, "remove-each x b [true]"),
    ("remove-each, every other", MAKE, "remove-each x b [odd? x]"),
]
CALLS = ["add 1 2", "negative? -1", "max 1 2.0", "shift -8 3", "to-hex 255", "sine 30", "arctangent 1",
         "log-e 10", "exp 1.5", "square-root 2", "f 1 2", "apply 'f [1 2]", "apply/safer 'f [1 2]"]
FUNCTION = "f: func [a b] [a]\n"


def run_vyx(vyx, source):
    with tempfile.NamedTemporaryFile("w", suffix=".vyx", delete=False) as f:
        f.write("Vyx []\n" + source)
        path = f.name
    try:
        start = time.perf_counter()
        out = subprocess.run([vyx, path], capture_output=True, text=True)
        took = time.perf_counter() - start
    finally:
        os.unlink(path)
    if out.returncode != 0 or "Error" in out.stdout:
        sys.exit("vyx failed on:\n" + source + "\n" + out.stdout[-500:] + out.stderr[-500:])
    return took


def ns_per_step(vyx, setup, body, n, runs):
    times = []
    for _ in range(runs):
        full = run_vyx(vyx, setup.format(n=n) + body.format(n=n) + "\n")
        base = run_vyx(vyx, setup.format(n=n))
        times.append((full - base) / n * 1e9)
    return statistics.median(times)


def python_for(n, runs):
    times = []
    for _ in range(runs):
        lst = list(range(n))
        start = time.perf_counter()
        for x in lst:
            pass
        times.append((time.perf_counter() - start) / n * 1e9)
    return statistics.median(times)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--vyx", default=os.path.join(os.path.dirname(__file__), "..", "build", "vyx"))
    ap.add_argument("--n", type=int, default=1000000)
    ap.add_argument("--runs", type=int, default=3)
    a = ap.parse_args()
    print("%-30s %12s" % ("loop over %d values" % a.n, "ns per step"))
    for name, setup, body in LOOPS:
        # Removing every other value moves the rest each time: a tenth of N.
        n = a.n // 10 if "every other" in name else a.n
        print("%-30s %12.1f%s" % (name, ns_per_step(a.vyx, setup, body, n, a.runs),
                                  "  (N/10)" if n != a.n else ""))
    print("%-30s %12.1f" % ("python3 for x in list", python_for(a.n, a.runs)))
    print()
    print("%-30s %12s %10s" % ("native call from loop", "ns per call", "calls/s"))
    for call in CALLS:
        t = ns_per_step(a.vyx, FUNCTION, "loop {n} [%s]" % call, a.n, a.runs)
        print("%-30s %12.1f %10.2fM" % (call, t, 1e3 / t if t > 0 else float("inf")))


if __name__ == "__main__":
    main()
