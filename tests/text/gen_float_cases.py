#!/usr/bin/env python3
"""Prints float conversion cases judged by python3's repr() and float().

  S BITS DIGITS EXP   shortest round trip: the double with these IEEE bits (hex)
                      has the shortest digits DIGITS, value 0.DIGITS x 10^EXP
                      (repr picks the nearest among equally short strings)
  P BITS TEXT         correct rounding: float(TEXT) has these bits

Doubles: random bit patterns (a quarter of them subnormal), every sign.
Texts: random digit strings of 1-40 digits with a point anywhere and
exponents up to +-350, and exact halfway points between neighbouring doubles
(and their neighbours one digit up and down), which must round to even.

Usage: gen_float_cases.py SHORTEST_COUNT PARSE_COUNT HALFWAY_COUNT SEED
"""
import decimal
import math
import random
import struct
import sys


def bits(v):
    return struct.unpack('>Q', struct.pack('>d', v))[0]


def from_bits(b):
    return struct.unpack('>d', struct.pack('>Q', b))[0]


def shortest(v):
    text = repr(abs(v))
    mant, _, ex = text.partition('e')
    whole, _, frac = mant.partition('.')
    ds = whole + frac
    stripped = ds.lstrip('0')
    lead = len(ds) - len(stripped)
    stripped = stripped.rstrip('0')
    # value = 0.ds x 10^(len(whole) + ex); leading zeros move the point
    return stripped, len(whole) + int(ex or 0) - lead


def main():
    n_short, n_parse, n_half, seed = map(int, sys.argv[1:5])
    rng = random.Random(seed)
    out = []
    for i in range(n_short):
        if i % 4 == 0:
            b = rng.getrandbits(52) | (rng.getrandbits(1) << 63)          # subnormal (or zero)
        else:
            b = rng.getrandbits(64)
            if (b >> 52) & 0x7FF == 0x7FF:
                b &= ~(1 << 62)
        v = from_bits(b)
        if v == 0:
            continue
        d, e = shortest(v)
        out.append('S %016X %s %d' % (b, d, e))
    for _ in range(n_parse):
        nd = rng.randrange(1, 41)
        ds = ''.join(rng.choice('0123456789') for _ in range(nd))
        point = rng.randrange(nd + 1)
        text = ds[:point] + '.' + ds[point:] if point < nd else ds
        if text.startswith('.') and rng.random() < 0.5:
            text = '0' + text
        r = rng.random()
        if r < 0.8:
            text += rng.choice('eE') + rng.choice(('', '+', '-')) + str(rng.randrange(0, 351))
        if rng.random() < 0.3:
            text = '-' + text
        out.append('P %016X %s' % (bits(float(text)), text))
    ctx = decimal.Context(prec=2000)
    for _ in range(n_half):
        b = rng.getrandbits(63)
        if (b >> 52) & 0x7FF >= 0x7FE:
            b &= ~(1 << 62)
        v = from_bits(b)
        up = math.nextafter(v, math.inf)
        mid = ctx.divide(ctx.add(decimal.Decimal(v), decimal.Decimal(up)), 2)
        text = format(mid, 'e')
        out.append('P %016X %s' % (bits(float(text)), text))
        mant, ex = text.split('e')
        for bump in ('1', '9'):
            t2 = mant + ('0' * 3) + bump + 'e' + ex if bump == '1' else mant[:-1] + str(max(int(mant[-1]) - 1, 0)) + '9' * 5 + 'e' + ex
            out.append('P %016X %s' % (bits(float(t2)), t2))
    sys.stdout.write('\n'.join(out) + '\n')


if __name__ == '__main__':
    main()
