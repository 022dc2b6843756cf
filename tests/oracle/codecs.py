#!/usr/bin/env python3
"""enbase and debase against real peers: base64 -w0, basenc --base16 and
--base2msbf, a small base-58 model and the public base-58 vectors.

usage: codecs.py VYX
"""
import json
import os
import random
import subprocess
import sys

from common import check, run_script

here = os.path.dirname(os.path.abspath(__file__))
ALPHABET_58 = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"


def base58(data):
    n = int.from_bytes(data, "big")
    digits = ""
    while n:
        n, r = divmod(n, 58)
        digits = ALPHABET_58[r] + digits
    return "1" * (len(data) - len(data.lstrip(b"\0"))) + digits


def peer(args, data):
    return subprocess.run(args, input=data, stdout=subprocess.PIPE, check=True).stdout.decode().strip()


def main():
    vyx = sys.argv[1]
    rng = random.Random(20261210)
    samples = [bytes(rng.randrange(256) for _ in range(rng.randrange(301))) for _ in range(int(os.environ.get("VYX_ORACLE_ROUNDS", 500)))]
    # Leading zero bytes matter to base 58.
    samples += [b"\0" * k + s[:5] for k, s in zip(range(1, 6), samples)]
    with open(os.path.join(here, "../data/base58/base58_encode_decode.json")) as f:
        vectors = json.load(f)
    lines, want = [], []
    for i, data in enumerate(samples):
        hexed = data.hex().upper()
        expected = {
            64: peer(["base64", "-w0"], data),
            16: peer(["basenc", "--base16", "-w0"], data),
            2: peer(["basenc", "--base2msbf", "-w0"], data),
            58: base58(data),
        }
        for base, text in expected.items():
            lines.append('print enbase/base #{%s} %d' % (hexed, base))
            want.append(("enbase %d of sample %d" % (base, i), text))
            lines.append('print enbase/base debase/base "%s" %d 16' % (text, base))
            want.append(("debase %d of sample %d" % (base, i), hexed))
    for hexed, text in vectors:
        lines.append('print enbase/base #{%s} 58' % hexed)
        want.append(("vector %s" % text, text))
        lines.append('print enbase/base debase/base "%s" 58 16' % text)
        want.append(("vector %s back" % text, hexed.upper()))
    out = run_script(vyx, "\n".join(lines) + "\n")
    pairs = [(what, out[k] if k < len(out) else None, text) for k, (what, text) in enumerate(want)]
    return check(pairs)


if __name__ == "__main__":
    sys.exit(main())
