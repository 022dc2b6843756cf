#!/usr/bin/env python3
"""Times the Vyx programs of bench/programs with a vyx executable (best of 3).

usage: run_programs.py VYX
"""
import os
import subprocess
import sys
import time

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "programs")
# Work units per program, for a time per unit.
UNITS = {"loop-empty": 10_000_000, "loop-count": 10_000_000, "fib-either": 635_621, "fib-return": 635_621}

vyx = sys.argv[1]
for name in sorted(os.listdir(here)):
    if not name.endswith(".vyx"):
        continue
    best = None
    for _ in range(3):
        start = time.perf_counter()
        subprocess.run([vyx, os.path.join(here, name)], check=True, stdout=subprocess.DEVNULL)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    units = UNITS.get(name[:-4], 1)
    print(f"{name[:-4]:12} {best * 1000:8.1f} ms  {best * 1e9 / units:8.1f} ns per unit")
