#!/usr/bin/env python3
"""Start-up of the vyx executable against python3 -c pass and tclsh: wall time
(median and minimum of many runs) and peak resident memory, for vyx on empty
piped input and on an empty script; then the split that VYX_STARTUP_SPLIT
prints (init, boot data decode, module definitions, hand-over), the size of
the boot data and its decode speed. The goal is under 15 ms.

usage: startup.py VYX [BOOT_BLOB] [RUNS]
"""
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

vyx = os.path.abspath(sys.argv[1])
blob = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(vyx), "generated", "boot.vyxbin")
runs = int(sys.argv[3]) if len(sys.argv) > 3 else 200


def peak_rss(cmd):
    """Peak resident memory in MiB, taken by a small measuring program (the
    rusage of a child forked from this process would count this process)."""
    r = subprocess.run(["/usr/bin/time", "-f", "%M", *cmd], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return int(r.stderr.decode().split()[-1]) / 1024


def measure(cmd):
    """Median and minimum wall ms."""
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        r = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append((time.perf_counter() - start) * 1000)
        if r.returncode != 0:
            sys.exit(f"{cmd} failed")
    return statistics.median(times), min(times)


with tempfile.TemporaryDirectory() as tmp:
    empty = os.path.join(tmp, "empty.vyx")
    with open(empty, "w") as f:
        f.write("Vyx []\n")
    rows = [("vyx, empty piped input", [vyx]), ("vyx, empty script", [vyx, empty]),
            ("python3 -c pass", ["python3", "-c", "pass"]), ("tclsh, empty piped input", ["tclsh"])]
    print(f"{'program':28} {'median ms':>10} {'min ms':>8} {'peak RSS MiB':>13}")
    for label, cmd in rows:
        med, low = measure(cmd)
        print(f"{label:28} {med:10.2f} {low:8.2f} {peak_rss(cmd):13.1f}")

    # The split, averaged over the runs.
    env = dict(os.environ, VYX_STARTUP_SPLIT="1")
    parts = {}
    for _ in range(runs):
        r = subprocess.run([vyx, empty], stdin=subprocess.DEVNULL, capture_output=True, env=env)
        for name, ms in re.findall(r"([a-z-]+) ([0-9.]+) ms", r.stderr.decode()):
            parts.setdefault(name, []).append(float(ms))
    print("split (median ms): " + ", ".join(f"{k} {statistics.median(v):.3f}" for k, v in parts.items()))
    size = os.path.getsize(blob)
    decode = statistics.median(parts["decode"])
    print(f"boot data: {size} bytes, decoded at {size / 1e6 / (decode / 1000):.1f} MB/s")
