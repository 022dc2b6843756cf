#!/usr/bin/env python3
"""unique, union, intersect, exclude and difference against a python model.

Random blocks of integers and words and random strings, with and without /case
and /skip 2, go through one vyx process; each result must equal the model's:
records in first-occurrence order, keyed by their first element (case folded
unless /case).

usage: check_sets.py VYX [CASES]
"""
import random
import subprocess
import sys

vyx = sys.argv[1]
cases = int(sys.argv[2]) if len(sys.argv) > 2 else 400
rng = random.Random(17)
OPS = ["unique", "union", "intersect", "exclude", "difference"]


def model(op, a, b, size, key):
    def records(s):
        return [s[k:k + size] for k in range(0, len(s), size)]

    def firsts(s):
        return {key(r[0]) for r in records(s)}

    out, seen = [], set()

    def run(s, other, keep_if_in):
        for r in records(s):
            k = key(r[0])
            if other is not None and ((k in other) != keep_if_in):
                continue
            if k in seen:
                continue
            seen.add(k)
            out.extend(r)

    if op == "unique":
        run(a, None, True)
    elif op == "union":
        run(a, None, True)
        run(b, None, True)
    elif op == "intersect":
        run(a, firsts(b), True)
    elif op == "exclude":
        run(a, firsts(b), False)
    else:
        run(a, firsts(b), False)
        run(b, firsts(a), False)
    return out


def block_item():
    if rng.random() < 0.5:
        return rng.randint(-3, 6)
    return rng.choice("abcABC")


def mold_block(items):
    return "[" + " ".join(str(x) for x in items) + "]"


lines, expected = [], []
for _ in range(cases):
    op = rng.choice(OPS)
    case = rng.random() < 0.5
    size = rng.choice([1, 1, 2])
    refs = ("/case" if case else "") + ("/skip" if size > 1 else "")
    tail = f" {size}" if size > 1 else ""
    if rng.random() < 0.5:
        a = [block_item() for _ in range(rng.randint(0, 10))]
        b = [block_item() for _ in range(rng.randint(0, 10))]
        key = (lambda x: (type(x), x)) if case else (lambda x: (type(x), x.upper() if isinstance(x, str) else x))
        args = mold_block(a) + ("" if op == "unique" else " " + mold_block(b))
        want = mold_block(model(op, a, b, size, key))
    else:
        a = "".join(rng.choice("abcdAB") for _ in range(rng.randint(0, 10)))
        b = "".join(rng.choice("abcdAB") for _ in range(rng.randint(0, 10)))
        key = (lambda c: c) if case else (lambda c: c.upper())
        args = f'"{a}"' + ("" if op == "unique" else f' "{b}"')
        want = '"' + "".join(model(op, list(a), list(b), size, key)) + '"'
    lines.append(f"print mold {op}{refs} {args}{tail}")
    expected.append((lines[-1], want))

proc = subprocess.run([vyx], input="\n".join(lines) + "\n", capture_output=True, text=True, timeout=120)
got = [l for l in proc.stdout.splitlines()[2:] if l]
failures = 0
for i, (src, want) in enumerate(expected):
    have = got[i] if i < len(got) else "<missing>"
    if have != want:
        failures += 1
        if failures <= 10:
            print(f"{src}\n  expected {want}\n  got      {have}")
print(f"{len(expected) - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
