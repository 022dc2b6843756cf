#!/usr/bin/env python3
"""parse against python3's re on the same inputs and grammars.

Each Vyx case runs in a fresh process; the same script without the parse is
timed too and subtracted, so start-up and building the input do not count.
Every case runs RUNS times and the median is taken. The python side times
the equivalent pattern on the same text; a C-level byte count stands for the
floor of `thru` a character.

  thru        10 MB string, some [thru "x"]
  csv/copy    10 MB of rows, some [copy f some field-char [#"," | newline]]
  csv/keep    the same with collect/keep
  block       10^6 values, some [integer! | word!]

Memory: `stats` before and after the thru case (the engine allocates nothing
per rule step).

usage: bench/parse.py [--vyx PATH] [--runs RUNS]
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from iteration import run_vyx  # noqa: E402  (times one script, stops on an error)

PIECE = "abcdefghijklmnopqrsx"      # 20 characters, one x
ROW = "alpha,12,beta gamma,3.5\n"   # 24 characters, 4 fields
MB10 = 10 * 1000 * 1000

SETUP_THRU = 's: make string! %d append/dup s "%s" %d\n' % (MB10, PIECE, MB10 // len(PIECE))
SETUP_CSV = ('s: make string! %d append/dup s "%s" %d\n' % (MB10, ROW.replace("\n", "^/"), MB10 // len(ROW)) +
             'field-char: complement make bitset! ",^/"\n')
SETUP_BLOCK = "b: make block! 1000000 repeat i 500000 [append b i append b 'w]\n"

CASES = [
    ("thru", SETUP_THRU, 'print parse s [some [thru "x"]]'),
    ("csv/copy", SETUP_CSV, 'print parse s [some [copy f some field-char [#"," | #"^/"]]]'),
    ("csv/keep", SETUP_CSV, 'print length? parse s [collect [some [keep some field-char [#"," | #"^/"]]]]'),
    ("block", SETUP_BLOCK, "print parse b [some [integer! | word!]]"),
]


def stats_after_thru(vyx):
    """Bytes `stats` grows by over one thru parse of the 10 MB string."""
    with tempfile.NamedTemporaryFile("w", suffix=".vyx", delete=False) as f:
        f.write("Vyx []\n" + SETUP_THRU + 'a: stats parse s [some [thru "x"]] print stats - a\n')
        path = f.name
    try:
        out = subprocess.run([vyx, path], capture_output=True, text=True).stdout.split()
    finally:
        os.unlink(path)
    return out[-1] if out else "?"


def python_times():
    thru_text = PIECE * (MB10 // len(PIECE))
    csv_text = ROW * (MB10 // len(ROW))
    block = [x for i in range(500000) for x in (i, "w")]

    def thru():
        return re.fullmatch(r"(?:[^x]*+x)++", thru_text) is not None

    def csv_copy():
        return len(re.findall(r"([^,\n]+)[,\n]", csv_text))

    def floor():
        return thru_text.encode().count(b"x")

    def block_walk():
        return all(isinstance(v, (int, str)) for v in block)

    return {"thru": thru, "csv/copy": csv_copy, "csv/keep": csv_copy, "block": block_walk, "floor": floor}


def median_time(fn, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--vyx", default=os.path.join(os.path.dirname(__file__), "..", "build", "vyx"))
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()
    py = python_times()
    print("%-10s %10s %10s" % ("case", "vyx ms", "python ms"))
    for name, setup, body in CASES:
        with_parse, without = [], []
        for _ in range(args.runs):
            with_parse.append(run_vyx(args.vyx, setup + body + "\n"))
            without.append(run_vyx(args.vyx, setup))
        vyx_ms = 1000 * (statistics.median(with_parse) - statistics.median(without))
        print("%-10s %10.1f %10.1f" % (name, vyx_ms, 1000 * median_time(py[name], args.runs)))
    print("%-10s %10s %10.1f" % ("floor", "", 1000 * median_time(py["floor"], args.runs)))
    print("bytes allocated by the thru parse:", stats_after_thru(args.vyx))


if __name__ == "__main__":
    main()
