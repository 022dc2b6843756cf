#!/usr/bin/env python3
"""A model of pair arithmetic, checked against the vyx executable.

Every combination of a pair from a grid of coordinates (-3..3, the 32-bit
extremes) with a second operand (pair, integer, float, percent, point2D!)
under + - * / and remainder, and of a number with a pair, is predicted here
independently: an exact pair, a point2D! computed in double precision and
stored in single precision, or the name of the error. All cases run through
one vyx process.

usage: pair_engine.py VYX [COUNT]   (COUNT: an even sample of the cases)
"""
import ctypes
import math
import sys

import driver

INT_MIN, INT_MAX = -2147483648, 2147483647
GRID = [-3, -2, -1, 0, 1, 2, 3, INT_MAX, -INT_MAX, INT_MIN]
FLOATS = ["0.0", "0.5", "-2.5", "1.5", "3.0", "1e10", "-1e10", "2147483647.5", "1.#INF", "1.#NaN"]
PERCENTS = ["50%", "-25%", "0%", "150%"]
POINTS = [(0.5, -1.0), (0.0, 0.0), (2.0, 3.0)]
OPS = ["+", "-", "*", "/", "//"]


class Error(Exception):
    pass


def f32(d):
    return ctypes.c_float(d).value


def float_of(text):
    if text == "1.#INF":
        return math.inf
    if text == "1.#NaN":
        return math.nan
    if text.endswith("%"):
        return float(text[:-1]) / 100
    return float(text)


def point_op(left, right, op):
    return ("point", tuple(f32(driver.ieee(l, r, op)) for l, r in zip(left, right)))


def int_op(a, b, op):
    """An int32 result, None when only a float can hold it, or an error."""
    if op in "+-*":
        r = a + b if op == "+" else a - b if op == "-" else a * b
        return r if INT_MIN <= r <= INT_MAX else None
    if b == 0:
        raise Error("zero-divide")
    if a == INT_MIN and b == -1:
        raise Error("overflow")
    q = abs(a) // abs(b) * (1 if (a < 0) == (b < 0) else -1)
    rem = a - q * b
    if op == "/":
        return q if rem == 0 else None
    return rem


def pair_math(left, kind, right, op):
    lx, ly = left
    if kind == "point":
        return point_op((f32(lx), f32(ly)), right, op)
    if kind in ("pair", "integer"):
        rx, ry = right if kind == "pair" else (right, right)
    else:
        f = right
        if op in "*/":
            if math.isnan(f) or (op == "*" and math.isinf(f)):
                raise Error("invalid-arg")
            return ("point", (f32(driver.ieee(lx, f, op)), f32(driver.ieee(ly, f, op))))
        if not math.isfinite(f):
            raise Error("invalid-arg")
        t = math.trunc(f)
        if not INT_MIN <= t <= INT_MAX:
            raise Error("out-of-range")
        rx = ry = t
    x = int_op(lx, rx, op)
    y = int_op(ly, ry, op) if x is not None else None
    if x is None or y is None:
        return point_op((f32(lx), f32(ly)), (f32(rx), f32(ry)), op)
    return ("pair", (x, y))


def number_first(kind, number, pair, op):
    """A number left of a pair: the pair takes the number second."""
    if kind == "integer":
        if op == "/":
            raise Error("not-related")
        if op == "-":
            negated = tuple((-c + 2**31) % 2**32 - 2**31 for c in pair)
            return pair_math(negated, "integer", number, "+")
        return pair_math(pair, "integer", number, op)
    if op in "-/":
        raise Error("not-related")
    return pair_math(pair, "float", number, op)


def form_short(d):
    if math.isnan(d):
        return "1.#NaN"
    if math.isinf(d):
        return "1.#INF" if d > 0 else "-1.#INF"
    if abs(d) < 2.220446049250313e-16:
        return "0"
    text = "%.7g" % d
    if "e" in text:
        mantissa, exponent = text.split("e")
        sign = "-" if exponent[0] == "-" else ""
        text = mantissa + "e" + sign + (exponent.lstrip("+-").lstrip("0") or "0")
    return text


def show(result):
    kind, value = result
    if kind == "pair":
        return "%dx%d" % value
    return "(" + ", ".join(form_short(c) for c in value) + ")"


def source_of(kind, value):
    if kind == "pair":
        return "%dx%d" % value
    if kind == "point":
        return "(%r, %r)" % value
    return str(value)


def cases():
    pairs = [(x, y) for x in GRID for y in GRID]
    operands = [("pair", p, p) for p in pairs] + [("integer", n, n) for n in GRID]
    operands += [("float", t, float_of(t)) for t in FLOATS + PERCENTS]
    operands += [("point", p, p) for p in POINTS]
    for left in pairs:
        for kind, text, value in operands:
            for op in OPS:
                yield "%s %s %s" % (source_of("pair", left), op, source_of(kind, text)), \
                    lambda l=left, k=kind, v=value, o=op: pair_math(l, k, v, o)
    numbers = [("integer", n, n) for n in GRID] + [("float", t, float_of(t)) for t in FLOATS + PERCENTS]
    for kind, text, value in numbers:
        for right in pairs:
            for op in OPS:
                yield "%s %s %s" % (text, op, source_of("pair", right)), \
                    lambda k=kind, v=value, r=right, o=op: number_first(k, v, r, o)


def main():
    vyx = sys.argv[1]
    every = 1
    if len(sys.argv) > 2:
        every = max(1, sum(1 for _ in cases()) // int(sys.argv[2]))
    expressions, expected = [], []
    for k, (source, predict) in enumerate(cases()):
        if k % every:
            continue
        expressions.append(source)
        try:
            expected.append(show(predict()))
        except Error as e:
            expected.append("ERR " + str(e))
    return driver.check(vyx, expressions, expected)


if __name__ == "__main__":
    sys.exit(main())
