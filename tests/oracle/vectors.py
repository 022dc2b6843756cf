#!/usr/bin/env python3
"""vector! against python's array and struct: random vectors of 8-, 16- and
32-bit integers and 32- and 64-bit floats ('b', 'h', 'i', 'f', 'd') go
through every arithmetic action with a random scalar (on either side) and
with a second vector, through poke/pick round trips, and through runs of
append, insert, change (from blocks and from vectors of other sizes) and
remove with /part and /dup. Integer results
wrap at the element size and read back sign-extended; float32 results are
rounded to single precision.

usage: vectors.py VYX   (VYX_ORACLE_ROUNDS sets the number of cases)
"""
import array
import math
import os
import random
import struct
import sys

from common import check, run_script

KINDS = {"b": ("integer!", 8), "h": ("integer!", 16), "i": ("integer!", 32), "f": ("float!", 32), "d": ("float!", 64)}
INT_OPS = ["add", "subtract", "multiply", "divide", "remainder", "and~", "or~", "xor~"]
FLOAT_OPS = ["add", "subtract", "multiply", "divide", "remainder"]


def store(code, value):
    """The element a value becomes once stored with the code's C type."""
    if code in "bhi":
        bits = struct.calcsize(code) * 8
        value &= (1 << bits) - 1
        return struct.unpack(code, value.to_bytes(bits // 8, "little"))[0]
    return array.array(code, [value])[0]


def int_op(op, a, b):
    if op == "add":
        r = a + b
    elif op == "subtract":
        r = a - b
    elif op == "multiply":
        r = a * b
    elif op in ("divide", "remainder"):
        q = abs(a) // abs(b)
        q = q if (a < 0) == (b < 0) else -q
        r = q if op == "divide" else a - b * q
    elif op == "and~":
        r = a & b
    elif op == "or~":
        r = a | b
    else:
        r = a ^ b
    return store("i", r & 0xFFFFFFFF)


def float_op(op, a, b):
    if op == "add":
        return a + b
    if op == "subtract":
        return a - b
    if op == "multiply":
        return a * b
    if op == "divide":
        return a / b
    return math.fmod(a, b)


def random_element(rng, code):
    if code in "bhi":
        bits = struct.calcsize(code) * 8
        return rng.randrange(-(1 << (bits - 1)), 1 << (bits - 1))
    return store(code, rng.choice([rng.uniform(-1e4, 1e4), rng.uniform(-1, 1), float(rng.randrange(-50, 50))]))


def vyx_number(x, code):
    if code in "bhi":
        return str(x)
    text = repr(float(x))
    return text if "e" not in text or "." in text.split("e")[0] else text.replace("e", ".0e")


def parse_numbers(line):
    return [float(t.replace("1.#INF", "inf").replace("-1.#INF", "-inf").replace("1.#NaN", "nan"))
            if "." in t or "#" in t or "e" in t else int(t)
            for t in line.strip("[]").split()]


def same(got, want, code):
    if len(got) != len(want):
        return False
    for g, w in zip(got, want):
        if code in "bhi":
            if g != w:
                return False
        elif math.isnan(w):
            if not (isinstance(g, float) and math.isnan(g)):
                return False
        elif g != w and not (math.isfinite(w) and abs(g - w) <= 1e-12 * max(abs(w), 1e-300)):
            return False
    return True


def main():
    vyx = sys.argv[1]
    rounds = int(os.environ.get("VYX_ORACLE_ROUNDS", "400"))
    rng = random.Random(2601)
    lines, expected = [], []
    for n in range(rounds):
        code = rng.choice("bhifd")
        name, bits = KINDS[code]
        size = rng.randrange(1, 9)
        a = [random_element(rng, code) for _ in range(size)]
        spec = "[%s %d [%s]]" % (name, bits, " ".join(vyx_number(x, code) for x in a))
        op = rng.choice(INT_OPS if code in "bhi" else FLOAT_OPS)
        kind = rng.randrange(3)
        if kind < 2:
            # A scalar, on the vector's right (kind 0) or left (kind 1).
            if code in "bhi":
                s = rng.choice([rng.randrange(-300, 300), rng.randrange(-2**31, 2**31)])
            else:
                s = rng.choice([rng.uniform(-100, 100), float(rng.randrange(1, 9))])
            divides = op in ("divide", "remainder")
            if divides and (s == 0 if kind == 0 else 0 in a):
                continue
            if code in "bhi" and divides and ((kind == 0 and s == -1 and -2**31 in a) or (kind == 1 and s == -2**31 and -1 in a)):
                continue
            if code in "bhi":
                want = [store(code, int_op(op, x, s) if kind == 0 else int_op(op, s, x)) for x in a]
            else:
                want = [store(code, float_op(op, x, s) if kind == 0 else float_op(op, s, x)) for x in a]
            sv = vyx_number(s, "i" if code in "bhi" else "d")
            call = "%s v %s" % (op, sv) if kind == 0 else "%s %s v" % (op, sv)
            what = "%s %s with %s" % (spec, op, sv)
        else:
            b = [random_element(rng, code) for _ in range(rng.randrange(1, 9))]
            if op in ("divide", "remainder") and 0 in b[:size]:
                continue
            if code in "bhi" and op in ("divide", "remainder") and any(x == -2**31 and y == -1 for x, y in zip(a, b)):
                continue
            bspec = "[%s %d [%s]]" % (name, bits, " ".join(vyx_number(x, code) for x in b))
            ops = int_op if code in "bhi" else float_op
            want = [store(code, ops(op, x, y)) for x, y in zip(a, b)]
            call = "%s v make vector! %s" % (op, bspec)
            what = "%s %s %s" % (spec, op, bspec)
        lines.append("v: make vector! %s print mold to block! %s" % (spec, call))
        expected.append((what, code, want))
        # pick/poke: an out-of-range integer or a float stored and read back.
        k = rng.randrange(1, size + 1)
        x = rng.randrange(-2**31, 2**31) if code in "bhi" else rng.uniform(-1e6, 1e6)
        lines.append("v: make vector! %s poke v %d %s print mold pick v %d" % (spec, k, vyx_number(x, "i" if code in "bhi" else "d"), k))
        expected.append(("poke %s into %s" % (x, spec), code, [store(code, x)]))
        # Edits: append, insert and change with /part and /dup, from blocks
        # and from vectors of the same kind but any size, then remove.
        model = list(a)
        script = ["v: make vector! %s" % spec]
        for _ in range(3):
            edit = rng.randrange(4)
            items = [random_element(rng, rng.choice("bhi" if code in "bhi" else "fd")) for _ in range(rng.randrange(1, 5))]
            refine, args = "", ""
            part = rng.choice([None, rng.randrange(0, len(items) + 2)])
            dup = rng.choice([None, rng.randrange(1, 4)])
            if edit == 3:
                k = rng.randrange(0, len(model) + 1)
                count = rng.randrange(0, 4)
                script.append("remove/part at v %d %d" % (k + 1, count))
                del model[k:k + count]
                continue
            if part is not None:
                refine += "/part"
                args += " %d" % part
            if dup is not None:
                refine += "/dup"
                args += " %d" % dup
            times = 1 if dup is None else dup
            if edit < 2 and part == 0:
                part = None
                refine, args = refine.replace("/part", ""), " ".join(args.split()[1:])
                args = " " + args if args else ""
            source = "[%s]" % " ".join(vyx_number(x, "i" if code in "bhi" else "d") for x in items)
            if edit == 0:
                taken = items if part is None or part >= len(items) else items[:part]
                script.append("append%s v %s%s" % (refine, source, args))
                model += [store(code, x) for x in taken] * times
            elif edit == 1:
                k = rng.randrange(0, len(model) + 1)
                taken = items if part is None or part >= len(items) else items[:part]
                script.append("insert%s at v %d %s%s" % (refine, k + 1, source, args))
                model[k:k] = [store(code, x) for x in taken] * times
            else:
                k = rng.randrange(0, len(model) + 1)
                scode = rng.choice("bhi" if code in "bhi" else "fd")
                if rng.randrange(2):
                    sname, sbits = KINDS[scode]
                    values = [store(scode, x) for x in items]
                    source = "make vector! [%s %d [%s]]" % (sname, sbits, " ".join(vyx_number(x, scode) for x in values))
                else:
                    values = items
                written = [store(code, x) for x in values] * times
                rest = len(model) - k
                replaced = min(part, rest) if part is not None else min(len(written), rest)
                script.append("change%s at v %d %s%s" % (refine, k + 1, source, args))
                model[k:k + replaced] = written
        lines.append(" ".join(script) + " print mold to block! v")
        expected.append((" ".join(script), code, model))
    out = run_script(vyx, "\n".join(lines) + "\n")
    pairs = []
    for i, (what, code, want) in enumerate(expected):
        got = parse_numbers(out[i]) if i < len(out) else []
        pairs.append((what, got, got if same(got, want, code) else want))
    return check(pairs)


if __name__ == "__main__":
    sys.exit(main())
