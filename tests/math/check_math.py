#!/usr/bin/env python3
"""The trigonometric and logarithmic natives against python's math module.

Random arguments go through one vyx script; every result is read back from its
mold (the shortest text that reads back) and compared with python:
- radians, logarithms, roots and powers: within 1 unit in the last place of
  the math module's value (both run the same C library, so most are equal);
- degrees: against the exact value, computed here with 50-digit decimals
  from the exact angle, within 1 unit plus what the rounding of the angle's
  conversion to radians can move the result: the slope of the function times
  the conversion's error (two roundings of an angle of at most pi, and pi's
  own: below 8e-16).
NaN must come back as NaN, infinities as the same infinity.

usage: check_math.py VYX [COUNT]
"""
import decimal
import math
import os
import random
import struct
import subprocess
import sys
import tempfile
from fractions import Fraction

vyx = sys.argv[1]
count = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
rng = random.Random(29)
D = decimal.Decimal
decimal.getcontext().prec = 60
PI = D("3.14159265358979323846264338327950288419716939937510582097494459")


def ordinal(x):
    """Doubles in order as integers: the distance between two is their ULPs."""
    i = struct.unpack("<q", struct.pack("<d", x))[0]
    return i if i >= 0 else -(i & 0x7FFFFFFFFFFFFFFF)


def ulps(a, b):
    return abs(ordinal(a) - ordinal(b))


def exact_sin(r):
    """sine of r radians (a Decimal), by its series after reduction near 0."""
    two_pi = 2 * PI
    r = r - two_pi * (r / two_pi).to_integral_value(rounding=decimal.ROUND_FLOOR)
    if r > PI:
        r -= two_pi
    term, total, n = r, r, 1
    while abs(term) > D(10) ** -58:
        term = -term * r * r / ((2 * n) * (2 * n + 1))
        total += term
        n += 1
    return total


def exact_degrees(fn, x):
    """sine, cosine or tangent of x degrees, exactly up to 50 digits, and the
    error the rounded conversion to radians may add."""
    a = Fraction(x) % 360
    s = exact_sin(D(a.numerator) / D(a.denominator) * PI / 180)
    c = exact_sin((D(a.numerator) / D(a.denominator) + 90) * PI / 180)
    # Below the precision of pi used here the value is 0.
    s, c = (D(0) if abs(v) < D(10) ** -45 else v for v in (s, c))
    if fn == "sine":
        return float(s), float(abs(c)) * 8e-16
    if fn == "cosine":
        return float(c), float(abs(s)) * 8e-16
    t = s / c
    return float(t), float(1 + t * t) * 8e-16


def arg_text(x):
    return repr(x) if isinstance(x, float) else str(x)


def uniform(lo, hi):
    return lambda: rng.uniform(lo, hi)


def log_uniform(lo, hi):
    return lambda: math.exp(rng.uniform(math.log(lo), math.log(hi)))


# (call, generator, oracle, tolerance in ULPs); the degree calls carry an
# absolute slack instead, a float.
PLAIN = [
    ("sine/radians", uniform(-100, 100), math.sin, 1),
    ("cosine/radians", uniform(-100, 100), math.cos, 1),
    ("tangent/radians", uniform(-10, 10), math.tan, 1),
    ("arcsine/radians", uniform(-1, 1), math.asin, 1),
    ("arccosine/radians", uniform(-1, 1), math.acos, 1),
    ("arctangent/radians", uniform(-1e3, 1e3), math.atan, 1),
    ("arcsine", uniform(-1, 1), lambda x: math.asin(x) * 180.0 / math.pi, 1),
    ("arccosine", uniform(-1, 1), lambda x: math.acos(x) * 180.0 / math.pi, 1),
    ("arctangent", uniform(-1e3, 1e3), lambda x: math.atan(x) * 180.0 / math.pi, 1),
    ("log-e", log_uniform(1e-300, 1e300), math.log, 1),
    ("log-10", log_uniform(1e-300, 1e300), math.log10, 1),
    ("log-2", log_uniform(1e-300, 1e300), lambda x: math.log(x) / 0.6931471805599453, 1),
    ("exp", uniform(-700, 700), lambda x: math.pow(2.718281828459045, x), 1),
    ("square-root", log_uniform(1e-300, 1e300), math.sqrt, 1),
    ("square-root", lambda: rng.randint(0, 2**31 - 1), lambda x: math.sqrt(x), 1),
]
DEGREES = ["sine", "cosine", "tangent"]


def main():
    calls = []  # (native, argument text, expected value, tolerance)
    for name, gen, oracle, tol in PLAIN:
        for _ in range(count):
            x = gen()
            calls.append((name, arg_text(x), oracle(x), tol))
    for name in DEGREES:
        for k in range(count):
            # Whole degrees often, to hit the exact angles; fractions otherwise.
            x = rng.randint(-1080, 1080) if k % 4 == 0 else rng.uniform(-1080, 1080)
            if name == "tangent" and isinstance(x, int) and x % 180 == 90:
                continue
            want, slack = exact_degrees(name, x)
            calls.append((name, arg_text(x), want, slack))
    # The same atan2 in both places, for every quadrant.
    for _ in range(count):
        y, x = rng.uniform(-10, 10), rng.uniform(-10, 10)
        calls.append(("arctangent2/radians", arg_text(y) + " " + arg_text(x), math.atan2(y, x), 1))

    with tempfile.NamedTemporaryFile("w", suffix=".vyx", delete=False) as f:
        f.write("Vyx []\n")
        for name, args, _, _ in calls:
            f.write("print mold %s %s\n" % (name, args))
        path = f.name
    try:
        out = subprocess.run([vyx, path], capture_output=True, text=True, timeout=600)
    finally:
        os.unlink(path)
    lines = out.stdout.split("\n")
    if out.returncode != 0 or len(lines) < len(calls):
        print("vyx failed (status %d):\n%s" % (out.returncode, out.stdout[-2000:] + out.stderr[-2000:]))
        return 1
    special = {"1.#INF": math.inf, "-1.#INF": -math.inf, "1.#NaN": math.nan}
    failures = 0
    for (name, args, want, tol), line in zip(calls, lines):
        got = special[line] if line in special else float(line)
        if math.isnan(want) or math.isnan(got):
            ok = math.isnan(want) and math.isnan(got)
        elif math.isinf(want) or math.isinf(got):
            ok = want == got
        elif isinstance(tol, float):
            ok = abs(got - want) <= tol + abs(math.ulp(want))
        else:
            ok = ulps(got, want) <= tol
        if not ok:
            failures += 1
            if failures <= 20:
                print("%s %s: got %s, want %r" % (name, args, line, want))
    print("%d calls, %d failures" % (len(calls), failures))
    return 1 if failures else 0


sys.exit(main())
