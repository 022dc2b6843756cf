#!/usr/bin/env python3
"""form of float! against python3's own printf-style formatting.

100000 doubles (random bit patterns, random decimals at every scale, and sums
that leave a binary rounding residue) go through `form` in one vyx run; each
text must be what the form rules give when applied to python3's '%.16g' and
'%.14g' texts.

usage: float_form.py VYX [COUNT]
"""
import math
import os
import random
import struct
import subprocess
import sys
import tempfile

EPSILON = 2.220446049250313e-16


def tidy(text):
    """Drops the exponent's '+' and leading zeros; answers (text, point, exponent index)."""
    e = text.find("e")
    if e >= 0:
        mantissa, exp = text[:e], text[e + 1:]
        sign = "-" if exp.startswith("-") else ""
        digits = exp.lstrip("+-").lstrip("0") or "0"
        text = mantissa + "e" + sign + digits
    return text, "." in text, text.find("e")


def residue(text, e):
    mantissa = text if e < 0 else text[:e]
    if e < 0:
        first = text[1] if text.startswith("-") else text[0]
        long_text = len(text) > 16 and (first != "0" or len(text) > 17)
    else:
        long_text = len(mantissa) > 16
    return long_text and len(mantissa) >= 2 and mantissa[-2:] in ("01", "99")


def form(d):
    if math.isnan(d):
        return "1.#NaN"
    if math.isinf(d):
        return "-1.#INF" if d < 0 else "1.#INF"
    if abs(d) < EPSILON:
        return "0.0"
    text, point, e = tidy("%.16g" % d)
    if residue(text, e):
        text, point, e = tidy("%.14g" % d)
    if not point:
        text = text + ".0" if e < 0 else text[:e] + ".0" + text[e:]
    return text


def samples(n, rng):
    out = []
    while len(out) < n:
        kind = len(out) % 4
        if kind == 0:
            d = struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0]
            if math.isnan(d) or math.isinf(d):
                continue
        elif kind == 1:
            d = rng.uniform(-1, 1) * 10.0 ** rng.randint(-30, 30)
        elif kind == 2:
            d = round(rng.uniform(-1e6, 1e6), rng.randint(0, 8))
        else:
            a = round(rng.uniform(-1000, 1000), rng.randint(1, 4))
            b = round(rng.uniform(-1000, 1000), rng.randint(1, 4))
            d = a + b if rng.random() < 0.5 else a * 3 / 7 * 7 / 3
        out.append(d)
    return out


def main():
    vyx = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
    values = samples(count, random.Random(20261210))
    with tempfile.NamedTemporaryFile("w", suffix=".vyx", delete=False) as f:
        f.write("Vyx []\nb: [\n")
        for d in values:
            f.write(repr(d) + "\n")
        f.write("]\nrepeat i length? b [print form pick b i]\n")
        script = f.name
    try:
        out = subprocess.run([vyx, script], stdout=subprocess.PIPE, timeout=900).stdout.decode().splitlines()
    finally:
        os.unlink(script)
    bad = 0
    for d, got in zip(values, out):
        want = form(d)
        if got != want:
            bad += 1
            if bad <= 10:
                print("form %r: got %s, want %s" % (d, got, want))
    if len(out) != len(values):
        print("%d lines for %d values" % (len(out), len(values)))
        bad += 1
    print("%d values, %d wrong" % (len(values), bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
