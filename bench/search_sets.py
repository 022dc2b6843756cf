#!/usr/bin/env python3
"""find in a 10 MB string and the set operations on 10^6 values, vyx against python3.

Each figure is the time of a program with the measured operation less the time
of the same program without it (median of 5 runs each), so that building the
data and start-up cancel out. python3's str.find searches with memchr-like
speed; its set operations are the dict and set built-ins.

usage: bench/search_sets.py [VYX]
"""
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
VYX = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "vyx")

SETUP_TEXT = 's: make string! 10000010 append/dup s "abcdefghij" 1000000 append s "0123456789"\n'
SETUP_SET = ('random/seed 1 a: make block! 1000000 loop 1000000 [append a random 500000]\n'
             'b: make block! 1000000 loop 1000000 [append b random 500000]\n')
CASES = [
    ("find a char, 10 MB x 20", SETUP_TEXT, "loop 20 [find s #\"0\"]",
     "s = 'abcdefghij' * 1_000_000 + '0123456789'\n", "for _ in range(20): s.find('0')"),
    ("find 10 chars, 10 MB x 20", SETUP_TEXT, "loop 20 [find s \"0123456789\"]",
     "s = 'abcdefghij' * 1_000_000 + '0123456789'\n", "for _ in range(20): s.find('0123456789')"),
    ("unique 10^6", SETUP_SET, "unique a",
     "import random\nr = random.Random(1)\na = [r.randint(1, 500000) for _ in range(10**6)]\n"
     "b = [r.randint(1, 500000) for _ in range(10**6)]\n", "list(dict.fromkeys(a))"),
    ("union 10^6 + 10^6", SETUP_SET, "union a b", None, "list(dict.fromkeys(a + b))"),
    ("intersect 10^6 10^6", SETUP_SET, "intersect a b", None,
     "sb = set(b); list(dict.fromkeys(x for x in a if x in sb))"),
]


def timed(cmd, stdin):
    start = time.perf_counter()
    subprocess.run(cmd, input=stdin, text=True, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def median_diff(cmd, base, measured):
    with_op, without = [], []
    for _ in range(5):
        with_op.append(timed(cmd, measured))
        without.append(timed(cmd, base))
    return max(0.0, statistics.median(with_op) - statistics.median(without))


print(f"{'operation':28} {'vyx ms':>9} {'python ms':>10} {'ratio':>6}")
py_setup = None
for name, vsetup, vop, psetup, pop in CASES:
    py_setup = psetup or py_setup
    v = median_diff([VYX], vsetup, vsetup + vop + "\n")
    p = median_diff([sys.executable, "-"], py_setup, py_setup + pop + "\n")
    print(f"{name:28} {v * 1000:9.1f} {p * 1000:10.1f} {v / p if p else float('nan'):6.2f}")
