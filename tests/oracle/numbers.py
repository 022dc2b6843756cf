#!/usr/bin/env python3
"""to binary! of random integers and floats against python's struct.pack.

usage: numbers.py VYX
"""
import random
import struct
import sys

from common import check, run_script


def main():
    vyx = sys.argv[1]
    rng = random.Random(41)
    ints = [rng.randrange(-2**31, 2**31) for _ in range(300)] + [0, -1, 2**31 - 1, -2**31]
    floats = [rng.uniform(-1e6, 1e6) for _ in range(150)]
    floats += [struct.unpack(">d", struct.pack(">Q", rng.getrandbits(64)))[0] for _ in range(150)]
    floats = [f for f in floats if f == f and abs(f) != float("inf")] + [0.0, -0.0, 5e-324, 1.7976931348623157e308]
    lines, want = [], []
    for n in ints:
        lines.append("print enbase/base to binary! %d 16" % n)
        want.append(("integer %d" % n, struct.pack(">i", n).hex().upper()))
    for f in floats:
        lines.append("print enbase/base to binary! %r 16" % f)
        want.append(("float %r" % f, struct.pack(">d", f).hex().upper()))
    out = run_script(vyx, "\n".join(lines) + "\n")
    return check([(w, out[k] if k < len(out) else None, e) for k, (w, e) in enumerate(want)])


if __name__ == "__main__":
    sys.exit(main())
