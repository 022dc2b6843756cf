#!/usr/bin/env python3
"""money! arithmetic and rounding on random amounts against python's decimal.

Sums and differences are exact; products and quotients are cut (ROUND_DOWN)
to five places; remainders keep the dividend's sign; every rounding mode of
`round/to`; type-limit exactly when a result needs more than 17 integer
digits.

usage: money.py VYX [OPERANDS]   (VYX_ORACLE_ROUNDS also sets the count)
"""
import sys

# This directory's numbers.py would stand in for the standard module that
# decimal imports: take decimal from the standard library first.
_here = sys.path.pop(0)
import decimal  # noqa: E402
sys.path.insert(0, _here)
import os
import random

from decimal import Decimal as D

from common import check, run_script

decimal.getcontext().prec = 80
PLACES = D("0.00001")
LIMIT = D(10) ** 17


def amount(rng):
    """A money amount of at most 17 integer and 5 fraction digits, often small."""
    digits = rng.choice([1, 2, 3, 5, 8, 12, 17])
    whole = rng.randrange(10 ** digits)
    frac = rng.randrange(100000) if rng.random() < 0.8 else 0
    sign = -1 if rng.random() < 0.3 else 1
    return sign * (D(whole) + D(frac) / 100000)


def factor(rng):
    """A float operand that reads back exactly: at most 15 significant digits, 5 places."""
    digits = rng.choice([1, 2, 4, 6, 9])
    whole = rng.randrange(10 ** digits)
    frac = rng.randrange(100000)
    sign = -1 if rng.random() < 0.3 else 1
    return sign * (D(whole) + D(frac) / 100000)


def money_text(d):
    return ("-$" if d < 0 else "$") + str(abs(d).quantize(PLACES))


def float_text(d):
    return repr(float(d)) if d != d.to_integral_value() else "%s.0" % d.to_integral_value()


def fits(d):
    return abs(d) < LIMIT


MODES = [
    ("round/to", decimal.ROUND_HALF_UP), ("round/even/to", decimal.ROUND_HALF_EVEN),
    ("round/down/to", decimal.ROUND_DOWN), ("round/floor/to", decimal.ROUND_FLOOR),
    ("round/ceiling/to", decimal.ROUND_CEILING), ("round/half-down/to", decimal.ROUND_HALF_DOWN),
    ("round/half-ceiling/to", None),
]


def round_to(a, s, mode):
    s = abs(s)
    q = a / s
    if mode is None:
        # Ties toward plus infinity, others to the nearest.
        floor = q.to_integral_value(rounding=decimal.ROUND_FLOOR)
        n = floor + 1 if q - floor >= D("0.5") else floor
    else:
        n = q.to_integral_value(rounding=mode)
    return n * s


def main():
    vyx = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else int(os.environ.get("VYX_ORACLE_ROUNDS", "100000"))
    rng = random.Random(25)
    lines, want = [], []

    def case(expr, expected):
        lines.append("e: try [%s] print either error! = type? :e [e/id] [mold/all :e]" % expr)
        want.append((expr, expected))

    for k in range(count):
        a = amount(rng)
        kind = k % 6
        if kind == 0:
            b = amount(rng)
            op = rng.choice("+-")
            r = a + b if op == "+" else a - b
            case("%s %s %s" % (money_text(a), op, money_text(b)), money_text(r) if fits(r) else "type-limit")
        elif kind == 1:
            f = factor(rng)
            r = (a * f).quantize(PLACES, rounding=decimal.ROUND_DOWN)
            case("%s * %s" % (money_text(a), float_text(f)), money_text(r) if fits(r) else "type-limit")
        elif kind == 2:
            f = factor(rng)
            if f == 0:
                case("%s / %s" % (money_text(a), float_text(f)), "zero-divide")
                continue
            r = (a / f).quantize(PLACES, rounding=decimal.ROUND_DOWN)
            case("%s / %s" % (money_text(a), float_text(f)), money_text(r) if fits(r) else "type-limit")
        elif kind == 3:
            b = amount(rng)
            if b == 0:
                case("remainder %s %s" % (money_text(a), money_text(b)), "zero-divide")
                continue
            r = a % b
            case("remainder %s %s" % (money_text(a), money_text(b)), money_text(r))
        elif kind == 4:
            b = amount(rng)
            if b == 0:
                continue
            q = (a / b).quantize(PLACES, rounding=decimal.ROUND_DOWN)
            expr = "%s / %s" % (money_text(a), money_text(b))
            if not fits(q):
                case(expr, "type-limit")
            else:
                # The float quotient, compared as a number.
                lines.append("e: try [%s] print either error! = type? :e [e/id] [mold :e]" % expr)
                want.append((expr, float(q)))
        else:
            name, mode = rng.choice(MODES)
            # Scales of a few sizes, ties made likely.
            s = rng.choice([D(1), D("0.1"), D("0.05"), D("0.00002"), D(100), D(2), D("0.5")])
            if rng.random() < 0.4:
                a = (a / s).to_integral_value(rounding=decimal.ROUND_DOWN) * s + s / 2
                if not fits(a):
                    continue
            r = round_to(a, s, mode)
            case("%s %s %s" % (name, money_text(a), money_text(s)), money_text(r) if fits(r) else "type-limit")
    out = run_script(vyx, "\n".join(lines) + "\n")
    pairs = []
    for k, (w, e) in enumerate(want):
        got = out[k] if k < len(out) else None
        if isinstance(e, float) and got is not None:
            try:
                got = float(got)
            except ValueError:
                pass
        pairs.append((w, got, e))
    return check(pairs)


if __name__ == "__main__":
    sys.exit(main())
