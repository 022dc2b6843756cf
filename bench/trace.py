#!/usr/bin/env python3
"""The cost of do/trace per event, and the interpreter with tracing off.

A loop of 10^5 `1 + 1` runs plain, then under a tracer that takes only fetch
events (three per round) and does nothing, then under one that takes every
event. Each figure is the median of 5 runs; the difference over the plain run,
divided by the events fired, is the cost of one event.

usage: bench/trace.py [VYX]
"""
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
VYX = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "vyx")
ROUNDS = 100000
PLAIN = f"loop {ROUNDS} [1 + 1]\n"
CASES = [("fetch events", "[fetch] e c o v r f"), ("every event", "e c o v r f")]


def timed(text):
    runs = []
    for _ in range(5):
        start = time.perf_counter()
        subprocess.run([VYX], input=text, text=True, stdout=subprocess.DEVNULL, check=True)
        runs.append(time.perf_counter() - start)
    return statistics.median(runs)


def traced(spec, body):
    return f"t: func [{spec}] [{body}]\ndo/trace [loop {ROUNDS} [1 + 1]] :t\n"


def events_fired(spec):
    out = subprocess.run([VYX], input="n: 0\n" + traced(spec, "n: n + 1") + "print n\n", text=True,
                         capture_output=True, check=True).stdout
    return int([l for l in out.splitlines() if l.strip().isdigit()][-1])


base = timed(PLAIN)
print(f"plain loop of {ROUNDS}: {base * 1000:.1f} ms")
for name, spec in CASES:
    t = timed(traced(spec, ""))
    n = events_fired(spec)
    print(f"{name:14} {n:8} events {t * 1000:8.1f} ms  {(t - base) * 1e9 / n:7.0f} ns per event")
