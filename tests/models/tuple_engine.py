#!/usr/bin/env python3
"""A model of saturating tuple arithmetic, checked against the vyx executable.

10^4 random cases of a tuple with a tuple, an integer or a float under
+ - * / remainder and the bitwise operators are predicted here: every byte
saturates to 0..255 (an infinity or an overflow too, NaN gives 0), the
longer tuple gives the length, and the errors are named. All cases run
through one vyx process; the seed is fixed.

usage: tuple_engine.py VYX [COUNT]
"""
import math
import random
import sys

import driver

INT_MIN, INT_MAX = -2147483648, 2147483647
OPS = ["+", "-", "*", "/", "//", "and", "or", "xor"]
EDGE_BYTES = [0, 1, 2, 127, 128, 254, 255]


class Error(Exception):
    pass


def random_tuple(rng):
    n = rng.choice([3, 3, 3, 4, 4, rng.randint(3, 12)])
    return [rng.choice(EDGE_BYTES) if rng.random() < 0.4 else rng.randint(0, 255) for _ in range(n)]


def random_operand(rng):
    kind = rng.choice(["tuple", "integer", "float"])
    if kind == "tuple":
        return kind, random_tuple(rng)
    if kind == "integer":
        return kind, rng.choice([0, 1, -1, 2, 255, 256, -256, INT_MAX, INT_MIN, rng.randint(-300, 300),
                                 rng.randint(-10, 10)])
    return kind, rng.choice(["0.0", "0.5", "-0.5", "1e10", "-1e10", "1.#INF", "-1.#INF", "1.#NaN",
                             "%.2f" % rng.uniform(-300, 300), "%.3f" % rng.uniform(-3, 3)])


def float_of(text):
    return {"1.#INF": math.inf, "-1.#INF": -math.inf, "1.#NaN": math.nan}.get(text) or float(text)


def saturate(v):
    if math.isnan(v) or v <= 0:
        return 0
    return 255 if v >= 255 else int(v)


def int_op(a, r, op):
    if op in ("+", "-", "*"):
        v = a + r if op == "+" else a - r if op == "-" else a * r
        if not INT_MIN <= v <= INT_MAX:
            return 255 if v > 0 else 0
        return v
    if op in ("/", "//"):
        if r == 0:
            raise Error("zero-divide")
        q = abs(a) // abs(r) * (1 if (a < 0) == (r < 0) else -1)
        return q if op == "/" else a - q * r
    return a & r if op == "and" else a | r if op == "or" else a ^ r


def predict(left, kind, right, op):
    if kind == "float":
        if op in ("and", "or", "xor"):
            raise Error("cannot-use")
        return [saturate(driver.ieee(float(b), float_of(right), op)) for b in left]
    rlen = len(right) if kind == "tuple" else 0
    out = []
    for i in range(max(len(left), rlen)):
        a = left[i] if i < len(left) else 0
        r = (right[i] if i < rlen else 0) if kind == "tuple" else right
        out.append(min(255, max(0, int_op(a, r, op))))
    return out


def source(kind, value):
    return ".".join(map(str, value)) if kind == "tuple" else str(value)


def main():
    vyx = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
    rng = random.Random(20240607)
    expressions, expected = [], []
    for _ in range(count):
        left = random_tuple(rng)
        kind, right = random_operand(rng)
        op = rng.choice(OPS)
        if kind == "float" and op == "//" and "INF" in right:
            op = "/"
        expressions.append("%s %s %s" % (source("tuple", left), op, source(kind, right)))
        try:
            expected.append(".".join(map(str, predict(left, kind, right, op))))
        except Error as e:
            expected.append("ERR " + str(e))
    return driver.check(vyx, expressions, expected)


if __name__ == "__main__":
    sys.exit(main())
