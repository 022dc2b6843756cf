#!/usr/bin/env python3
"""bitset! against a model: a set of integers, a complement flag and a used
length in bytes. Random specs (integers, chars, strings, ranges, [not ...])
go through make, append, remove/key, complement and every set operation; the
membership of every bit up to the used length + 64 and the molded bytes
must agree.

usage: bitsets.py VYX
"""
import os
import random
import sys

from common import check, run_script


class Bits:
    def __init__(self, members, length, flag):
        self.members, self.length, self.flag = set(members), length, flag

    def has(self, n):
        return n in self.members if n < 8 * self.length else self.flag

    def mold(self):
        data = bytearray(self.length)
        for n in self.members:
            data[n >> 3] |= 0x80 >> (n & 7)
        if self.flag:
            return "make bitset! [not #{%s}]" % bytes(255 - b for b in data).hex().upper()
        return "make bitset! #{%s}" % bytes(data).hex().upper()

    def cover(self, n):
        self.length = max(self.length, (n >> 3) + 1)

    def put(self, bits, on):
        for n in bits:
            if on != self.flag:
                self.cover(n)
            elif n >= 8 * self.length:
                continue
            if on:
                self.members.add(n)
            else:
                self.members.discard(n)


# A spec item: (vyx text, the bits it names).
def item(rng):
    kind = rng.randrange(5)
    if kind == 0:
        n = rng.randrange(200)
        return str(n), [n]
    if kind == 1:
        c = rng.randrange(33, 127)
        return '#"%s"' % chr(c) if chr(c) not in '"^' else str(c), [c]
    if kind == 2:
        s = "".join(chr(rng.choice([rng.randrange(97, 123), rng.randrange(0x100, 0x180)])) for _ in range(rng.randrange(1, 5)))
        return '"%s"' % s, [ord(c) for c in s]
    a = rng.randrange(150)
    b = a + rng.randrange(40)
    if kind == 3:
        return "%d - %d" % (a, b), list(range(a, b + 1))
    return '#"%s" - #"%s"' % (chr(97 + a % 20), chr(97 + a % 20 + b % 6)), list(range(97 + a % 20, 97 + a % 20 + b % 6 + 1))


def spec(rng):
    items = [item(rng) for _ in range(rng.randrange(1, 4))]
    text = " ".join(t for t, _ in items)
    bits = [n for _, b in items for n in b]
    return text, bits


def make(text, bits, complemented):
    length = max(1, (max(bits, default=-1) + 8) // 8)
    if complemented:
        m = Bits(set(range(8 * length)) - set(bits), length, True)
        return "make bitset! [not %s]" % text, m
    return "make bitset! [%s]" % text, Bits(bits, length, False)


def set_op(op, a, b):
    fa, fb = a.flag, b.flag
    f = {"union": fa or fb, "or~": fa or fb, "intersect": fa and fb, "and~": fa and fb,
         "exclude": fa and not fb, "difference": fa != fb, "xor~": fa != fb}[op]
    length = max(a.length, b.length)
    if op == "and~" and not (a.flag if a.length < b.length else b.flag):
        length = min(a.length, b.length)
    fn = {"union": lambda x, y: x or y, "or~": lambda x, y: x or y, "intersect": lambda x, y: x and y,
          "and~": lambda x, y: x and y, "exclude": lambda x, y: x and not y,
          "difference": lambda x, y: x != y, "xor~": lambda x, y: x != y}[op]
    return Bits([n for n in range(8 * length) if fn(a.has(n), b.has(n))], length, f)


def main():
    vyx = sys.argv[1]
    rng = random.Random(30)
    lines, models = [], []

    def show(expr, model):
        n = 8 * model.length + 64
        lines.append("r: %s print mold r b: copy [] i: 0 loop %d [append b pick r i i: i + 1] print mold b" % (expr, n))
        models.append((expr, model))

    # The sanitized builds run fewer rounds (VYX_ORACLE_ROUNDS).
    for _ in range(int(os.environ.get("VYX_ORACLE_ROUNDS", 150))):
        ta, ba = spec(rng)
        tb, bb = spec(rng)
        ea, ma = make(ta, ba, rng.random() < 0.5)
        eb, mb = make(tb, bb, rng.random() < 0.5)
        show(ea, ma)
        show("complement " + ea, Bits([n for n in range(8 * ma.length) if not ma.has(n)], ma.length, not ma.flag))
        for op in ["union", "intersect", "exclude", "difference", "and~", "or~", "xor~"]:
            show("%s %s %s" % (op, ea, eb), set_op(op, ma, mb))
        tc, bc = spec(rng)
        appended = Bits(ma.members, ma.length, ma.flag)
        appended.put(bc, True)
        show("append %s [%s]" % (ea, tc), appended)
        removed = Bits(ma.members, ma.length, ma.flag)
        removed.put(bc, ma.flag)
        show("remove/key %s [%s]" % (ea, tc), removed)
    out = run_script(vyx, "\n".join(lines) + "\n")
    pairs = []
    for k, (expr, model) in enumerate(models):
        picks = "[%s]" % " ".join("true" if model.has(n) else "false" for n in range(8 * model.length + 64))
        pairs.append((expr + " (mold)", out[2 * k] if 2 * k < len(out) else None, model.mold()))
        pairs.append((expr + " (pick)", out[2 * k + 1] if 2 * k + 1 < len(out) else None, picks))
    return check(pairs)


if __name__ == "__main__":
    sys.exit(main())
