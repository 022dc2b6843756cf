#!/usr/bin/env python3
"""Writes integer_math.tsv: expected results of 32-bit integer arithmetic,
computed with Python's unbounded integers and exact fractions.

Columns: operation, left, right, kind, expected
  kind int    expected is the integer result
  kind float  expected is the double, as float.hex()
  kind error  expected is the math error's id (zero-divide, overflow)
Round rows name the mode after "round/" and take the scale as `right`.

Run from this folder: python3 gen_integer_math.py > integer_math.tsv
"""
from fractions import Fraction
import math

MIN, MAX = -2**31, 2**31 - 1
EDGES = [MIN, MIN + 1, -65536, -46341, -7, -2, -1, 0, 1, 2, 3, 5, 7, 10, 46340, 46341, 65535, 65536,
         MAX - 1, MAX]


def fits(n):
    return MIN <= n <= MAX


def row(op, a, b, kind, value):
    print(f"{op}\t{a}\t{b}\t{kind}\t{value}")


def exact(op, a, b, n):
    if fits(n):
        row(op, a, b, "int", n)
    else:
        row(op, a, b, "float", float(n).hex())


def trunc_div(a, b):
    q = abs(a) // abs(b)
    return q if (a < 0) == (b < 0) else -q


for a in EDGES:
    for b in EDGES:
        exact("add", a, b, a + b)
        exact("subtract", a, b, a - b)
        exact("multiply", a, b, a * b)
        if b == 0:
            row("divide", a, b, "error", "zero-divide")
            row("remainder", a, b, "error", "zero-divide")
        elif a == MIN and b == -1:
            row("divide", a, b, "error", "overflow")
            row("remainder", a, b, "error", "overflow")
        else:
            if a % b == 0:
                row("divide", a, b, "int", a // b)
            else:
                row("divide", a, b, "float", float(Fraction(a, b)).hex())
            row("remainder", a, b, "int", a - b * trunc_div(a, b))

for base in [-3, -2, -1, 0, 1, 2, 3, 7, 10, 46340, 46341, 65536]:
    for e in [0, 1, 2, 3, 5, 19, 20, 30, 31, 32]:
        exact("power", base, e, base ** e)


def half_up_magnitude(x):
    # ties away from zero
    m = abs(x)
    f = math.floor(m)
    k = f + 1 if m - f >= Fraction(1, 2) else f
    return k if x >= 0 else -k


MODES = {
    "default": half_up_magnitude,
    "down": lambda x: math.trunc(x),
    "floor": lambda x: math.floor(x),
    "ceiling": lambda x: math.ceil(x),
    "even": lambda x: round(x),  # Fraction rounds ties to even
    "half-down": lambda x: (math.ceil(x - Fraction(1, 2)) if x >= 0 else math.floor(x + Fraction(1, 2))),
    "half-ceiling": lambda x: math.floor(x + Fraction(1, 2)),
}

VALUES = [MIN + 1, -2147483641, -25, -17, -15, -7, -5, 0, 5, 7, 13, 15, 17, 18, 25, 35, 2147483641, MAX]
SCALES = [0, 1, 2, 5, -5, 10, 7, MAX]
for mode, fn in MODES.items():
    for v in VALUES:
        for s in SCALES:
            if s == 0:
                row("round/" + mode, v, s, "int", v)
                continue
            r = fn(Fraction(v, abs(s))) * abs(s)
            if fits(r):
                row("round/" + mode, v, s, "int", r)
            else:
                row("round/" + mode, v, s, "error", "overflow")
