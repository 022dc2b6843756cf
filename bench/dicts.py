#!/usr/bin/env python3
"""map! and hash! against python3's dict (and list where a hash! is a block).

Each figure is the time of a program with the measured operation less the time
of the same program without it (median of 5 runs each), so that building the
data and start-up cancel out; divided by the operation count it gives ns per
operation. Memory is the growth of peak resident size the operation causes,
per operation.

usage: bench/dicts.py [VYX]
"""
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
VYX = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "vyx")
N = 1_000_000

V_EMPTY = "m: make map! []\n"
V_WORDS = 'ws: make block! 1000000 repeat i 1000000 [append ws to word! append copy "w" form i]\n' + V_EMPTY
V_TEXTS = 'ss: make block! 1000000 repeat i 1000000 [append ss append copy "abcdefghi" form 1000000 + i]\n' + V_EMPTY
V_FULL = "m: make map! [] repeat i 1000000 [put m i i]\n"
V_PAIRS = ("random/seed 1 b: make block! 200000 "
           "repeat i 100000 [append b either i <= 10000 [random 90000] [i] append b i]\n")
V_FIND = "h: make hash! 100000 b: make block! 100000 repeat i 100000 [append h i append b i]\n"
P_EMPTY = "d = {}\n"
P_WORDS = "ws = [sys.intern('w' + str(i)) for i in range(1, 10**6 + 1)]\n" + P_EMPTY
P_TEXTS = "ss = ['abcdefghi' + str(10**6 + i) for i in range(1, 10**6 + 1)]\n" + P_EMPTY
P_FULL = "d = {}\nfor i in range(1, 10**6 + 1): d[i] = i\n"
P_PAIRS = ("import random\nr = random.Random(1)\n"
           "b = [(r.randint(1, 90000) if i <= 10000 else i, i) for i in range(1, 100001)]\n")
P_FIND = "h = {i: i - 1 for i in range(1, 100001)}\nb = list(range(1, 100001))\n"

# name, operations, vyx setup, vyx operation, python setup, python operation
CASES = [
    ("put integer keys", N, V_EMPTY, "repeat i 1000000 [put m i i]", P_EMPTY,
     "for i in range(1, 10**6 + 1): d[i] = i"),
    ("put word keys", N, V_WORDS, "foreach w ws [put m w 1]", P_WORDS, "for w in ws: d[w] = 1"),
    ("put 16-char string keys", N, V_TEXTS, "foreach s ss [put m s 1]", P_TEXTS, "for s in ss: d[s] = 1"),
    ("select hit", N, V_FULL, "repeat i 1000000 [select m i]", P_FULL,
     "for i in range(1, 10**6 + 1): d.get(i)"),
    ("select miss", N, V_FULL, "repeat i 1000000 [select m 0 - i]", P_FULL,
     "for i in range(1, 10**6 + 1): d.get(-i)"),
    ("put+remove distinct keys", N, V_EMPTY, "repeat i 1000000 [put m i i remove/key m i]", P_EMPTY,
     "for i in range(1, 10**6 + 1):\n    d[i] = i\n    del d[i]"),
    ("make map! 10^5 pairs, 10% dup", 10, V_PAIRS, "loop 10 [make map! b]", P_PAIRS,
     "for _ in range(10): dict(b)"),
    ("find in 10^5 hash! (dict)", 1000, V_FIND, "repeat i 1000 [find h i * 100]", P_FIND,
     "for i in range(1, 1001): h.get(i * 100)"),
    ("find in 10^5 block! (list)", 1000, V_FIND, "repeat i 1000 [find b i * 100]", P_FIND,
     "for i in range(1, 1001): b.index(i * 100)"),
    ("insert at head of hash! (list)", 10000, "h: make hash! []\n", "repeat i 10000 [insert h i]", "h = []\n",
     "for i in range(10000): h.insert(0, i)"),
]


def measure(cmd, base, measured):
    with_op, without, rss_with, rss_without = [], [], [], []
    for _ in range(5):
        for text, times, rss in ((measured, with_op, rss_with), (base, without, rss_without)):
            start = time.perf_counter()
            proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, text=True)
            proc.stdin.write(text)
            proc.stdin.close()
            _, _, usage = os.wait4(proc.pid, 0)
            times.append(time.perf_counter() - start)
            rss.append(usage.ru_maxrss * 1024)
    t = max(0.0, statistics.median(with_op) - statistics.median(without))
    m = max(0, statistics.median(rss_with) - statistics.median(rss_without))
    return t, m


print(f"{'operation':32} {'vyx ns/op':>10} {'py ns/op':>10} {'ratio':>6} {'vyx B/op':>9} {'py B/op':>8}")
for name, ops, vsetup, vop, psetup, pop in CASES:
    v, vm = measure([VYX], vsetup, vsetup + vop + "\n")
    p, pm = measure([sys.executable, "-"], "import sys\n" + psetup, "import sys\n" + psetup + pop + "\n")
    print(f"{name:32} {v * 1e9 / ops:10.0f} {p * 1e9 / ops:10.0f} {v / p if p else float('nan'):6.2f} "
          f"{vm / ops:9.1f} {pm / ops:8.1f}")
