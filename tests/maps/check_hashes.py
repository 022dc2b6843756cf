#!/usr/bin/env python3
"""hash! against block!: random insert, append, remove, change, take, move,
swap, reverse, sort and trim on a hash! and on a block! holding the same cells
(heads above 0 included); after each step find, find/last, find/reverse,
find/skip and select must answer alike on the two.

usage: check_hashes.py VYX [STEPS]
"""
import random
import subprocess
import sys

vyx = sys.argv[1]
steps = int(sys.argv[2]) if len(sys.argv) > 2 else 600
rng = random.Random(36)


def value():
    return rng.choice(["1", "2", "3", '"a"', '"A"', "#\"x\"", "none", "4"])


OPS = [
    "insert at head {s} {k} {v}", "append {s} {v}", "remove at head {s} {k}", "change at head {s} {k} {v}",
    "take/last {s}", "take at head {s} {k}", "move at head {s} {k} head {s}", "swap at head {s} {k} head {s}",
    "reverse head {s}", "sort head {s}", "trim head {s}", "{s}: at head {s} {k}", "{s}: head {s}",
    "poke head {s} {k} {v}", "insert/dup at head {s} {k} {v} 2",
    "remove/part at head {s} {k} 2", "take/part at head {s} {k} 2", "take/part at head {s} {k} -2",
    "take/last/part {s} 3", "change/part at head {s} {k} [{v} {v}] 1", "move/part at head {s} {k} head {s} 2",
    "move/part head {s} tail {s} 2", "put head {s} {v} {v}", "clear at head {s} 8", "{s}/2: {v}",
    "append {s} [{v} {v} {v}]", "change/dup at head {s} {k} {v} 3",
]
QUERIES = ["find {s} {v}", "find/last {s} {v}", "find/reverse tail {s} {v}", "find/skip {s} {v} 2",
           "find/case {s} {v}", "find/last/skip {s} {v} 3", "find/reverse/skip tail {s} {v} 2",
           "find/tail {s} {v}"]

lines = ["h: make hash! [] b: copy []"]
for _ in range(10):
    v = value()
    lines.append(f"append h {v} append b {v}")
checks = 0
for _ in range(steps):
    op = rng.choice(OPS)
    k, v = rng.randint(1, 6), value()
    lines.append("try [" + op.format(s="h", k=k, v=v) + "] try [" + op.format(s="b", k=k, v=v) + "] none")
    for q in QUERIES:
        v = value()
        lines.append(f'print [mold either r: {q.format(s="h", v=v)} [index? r] [none] '
                     f'mold either r: {q.format(s="b", v=v)} [index? r] [none]]')
        checks += 1
    v = value()
    lines.append(f"print [mold select h {v} mold select b {v}]")
    checks += 1

proc = subprocess.run([vyx], input="\n".join(lines) + "\n", capture_output=True, text=True, timeout=900)
got = [l for l in proc.stdout.splitlines()[2:] if l and not l.startswith("== ")]
failures = 0
for line in got:
    parts = line.split()
    if len(parts) != 2 or parts[0] != parts[1]:
        failures += 1
        if failures <= 10:
            print("differs:", line)
if len(got) != checks:
    print(f"expected {checks} answers, got {len(got)}")
    failures += 1
print(f"{checks - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
