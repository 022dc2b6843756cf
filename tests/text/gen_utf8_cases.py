#!/usr/bin/env python3
"""Prints UTF-8 decoding cases judged by python3's own decoder.

Each line: HEX RESULT, where HEX is the input bytes ('-' for none) and RESULT
is 'ERR' when bytes.decode('utf-8') refuses the input, else the code points in
hex joined by ',' ('-' for none). Inputs are random well-formed strings, then
mutated: bytes flipped, inserted, dropped or cut at the end, and the boundary
forms (overlong, surrogate, above 0x10FFFF, stray continuation) spliced in.

Usage: gen_utf8_cases.py COUNT SEED
"""
import random
import sys

SPECIAL = [b'\xc0\x80', b'\xc1\xbf', b'\xe0\x80\x80', b'\xe0\x9f\xbf', b'\xed\xa0\x80',
           b'\xed\xbf\xbf', b'\xf0\x80\x80\x80', b'\xf0\x8f\xbf\xbf', b'\xf4\x90\x80\x80',
           b'\xf5\x80\x80\x80', b'\xff', b'\xfe', b'\x80', b'\xbf', b'\xe2\x82', b'\xf0\x9f\x98',
           b'\xef\xbb\xbf', b'\xed\x9f\xbf', b'\xee\x80\x80', b'\xf4\x8f\xbf\xbf', b'\xc2\x80',
           b'\xdf\xbf', b'\xe0\xa0\x80', b'\xf0\x90\x80\x80', b'\r\n', b'\r']


def random_char(rng):
    r = rng.random()
    if r < 0.4:
        return rng.randrange(0, 0x80)
    if r < 0.6:
        return rng.randrange(0x80, 0x800)
    if r < 0.85:
        c = rng.randrange(0x800, 0x10000)
        return c if not 0xD800 <= c <= 0xDFFF else 0xFFFD
    return rng.randrange(0x10000, 0x110000)


def case(rng):
    text = ''.join(chr(random_char(rng)) for _ in range(rng.randrange(0, 12)))
    data = bytearray(text.encode('utf-8'))
    for _ in range(rng.choice((0, 0, 1, 1, 2, 3))):
        op = rng.randrange(5)
        pos = rng.randrange(len(data) + 1)
        if op == 0 and data:
            data[rng.randrange(len(data))] = rng.randrange(256)
        elif op == 1:
            data[pos:pos] = bytes([rng.randrange(256)])
        elif op == 2 and data:
            del data[rng.randrange(len(data))]
        elif op == 3 and data:
            del data[rng.randrange(len(data)):]
        else:
            data[pos:pos] = rng.choice(SPECIAL)
    return bytes(data)


def main():
    count, seed = int(sys.argv[1]), int(sys.argv[2])
    rng = random.Random(seed)
    out = []
    for _ in range(count):
        data = case(rng)
        try:
            text = data.decode('utf-8')
            result = ','.join('%x' % ord(c) for c in text) or '-'
        except UnicodeDecodeError:
            result = 'ERR'
        out.append('%s %s' % (data.hex() or '-', result))
    sys.stdout.write('\n'.join(out) + '\n')


if __name__ == '__main__':
    main()
