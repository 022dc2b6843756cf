#!/usr/bin/env python3
"""Checks compress, decompress and checksum of the vyx executable against
python3's zlib, gzip, hashlib and hmac modules and the gzip command.

A generated script carries the samples (base 64) into vyx; everything it
prints is compared here.

usage: interop.py VYX
"""
import base64
import gzip
import hashlib
import hmac
import os
import random
import subprocess
import sys
import tempfile
import zlib

vyx = sys.argv[1]
rng = random.Random(31)


def text(n):
    words = "the value of series block word function binary data compress string index".split()
    out, size = [], 0
    while size < n:
        out.append(rng.choice(words) if rng.random() < 0.9 else str(rng.randrange(100000)))
        size += len(out[-1]) + 1
    return " ".join(out).encode()[:n]


def binary_file(path, limit):
    with open(path, "rb") as f:
        return f.read(limit)


SAMPLES = {
    "empty": b"",
    "one": b"a",
    "three": b"abc",
    "random": rng.randbytes(70000),
    "text": text(200000),
    "zeros": bytes(100000),
    "program": binary_file("/usr/bin/gzip", 300000),
}
METHODS = {"zlib": 15, "deflate": -15, "gzip": 31}
DIGESTS = ["md5", "sha1", "sha256", "sha384", "sha512"]
KEYS = [b"", b"k", bytes(range(64)), rng.randbytes(65), rng.randbytes(129), "clé €".encode()]


def vyx_bin(b):
    return 'debase "' + base64.b64encode(b).decode() + '"'


def signed(v):
    return v - (1 << 32) if v >= 1 << 31 else v


def tcp(b):
    if len(b) % 2:
        b += b"\0"
    s = sum((b[i] << 8) | b[i + 1] for i in range(0, len(b), 2))
    while s >> 16:
        s = (s & 0xFFFF) + (s >> 16)
    return ~s & 0xFFFF


def their_compressions(data, tmp):
    """(method, compressed) pairs made by zlib, the gzip module and the gzip command."""
    out = []
    for level in (0, 1, 6, 9):
        for method, wbits in METHODS.items():
            c = zlib.compressobj(level, zlib.DEFLATED, wbits)
            out.append((method, c.compress(data) + c.flush()))
    for strategy in (zlib.Z_FILTERED, zlib.Z_HUFFMAN_ONLY, zlib.Z_RLE, zlib.Z_FIXED):
        c = zlib.compressobj(6, zlib.DEFLATED, 15, 8, strategy)
        out.append(("zlib", c.compress(data) + c.flush()))
    out.append(("gzip", gzip.compress(data, mtime=0)))
    path = os.path.join(tmp, "sample")
    with open(path, "wb") as f:
        f.write(data)
    out.append(("gzip", subprocess.run(["gzip", "-9", "-c", path], check=True, capture_output=True).stdout))
    return out


def main():
    failures = 0
    lines, checks = ["Vyx []"], []

    def expect(code, check):
        lines.append("print " + code)
        lines.append('print "--"')
        checks.append((code, check))

    with tempfile.TemporaryDirectory() as tmp:
        for name, data in SAMPLES.items():
            lines.append(f"{name}: {vyx_bin(data)}")
            for method, wbits in METHODS.items():
                expect(f"enbase compress {name} '{method}",
                       lambda out, d=data, w=wbits: zlib.decompress(base64.b64decode(out), w) == d)
            for k, (method, packed) in enumerate(their_compressions(data, tmp)):
                lines.append(f"p: {vyx_bin(packed)}")
                ok = lambda out, d=data: base64.b64decode(out) == d
                expect(f"enbase decompress p '{method}", ok)
                expect(f"enbase decompress/size p '{method} {len(data)}", ok)
                expect(f"enbase decompress/size p '{method} 1", ok)
            expect(f"checksum {name} 'crc32", lambda out, d=data: int(out) == signed(zlib.crc32(d)))
            expect(f"checksum {name} 'adler32", lambda out, d=data: int(out) == signed(zlib.adler32(d)))
            expect(f"checksum {name} 'tcp", lambda out, d=data: int(out) == tcp(d))
            for alg in DIGESTS:
                expect(f"enbase checksum {name} '{alg}",
                       lambda out, d=data, a=alg: base64.b64decode(out) == hashlib.new(a, d).digest())
                for i, key in enumerate(KEYS):
                    expect(f"enbase checksum/with {name} '{alg} {vyx_bin(key)}",
                           lambda out, d=data, a=alg, k=key: base64.b64decode(out) == hmac.new(k, d, a).digest())
            path = os.path.join(tmp, name + ".dat")
            with open(path, "wb") as f:
                f.write(data)
            expect(f"enbase checksum %{path} 'sha256",
                   lambda out, d=data: base64.b64decode(out) == hashlib.sha256(d).digest())
        # A text key counts by its UTF-8 bytes.
        expect('enbase checksum/with "data" \'sha512 "clé €"',
               lambda out: base64.b64decode(out) == hmac.new("clé €".encode(), b"data", "sha512").digest())

        script = os.path.join(tmp, "interop.vyx")
        with open(script, "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        run = subprocess.run([vyx, script], capture_output=True, text=True)
        if run.returncode != 0:
            print(run.stdout[-2000:], run.stderr[-2000:])
            return 1

    outputs = run.stdout.split("\n--\n")
    if len(outputs) < len(checks):
        print("vyx stopped early:", run.stdout[-2000:])
        return 1
    for (code, check), out in zip(checks, outputs):
        out = out.strip()
        try:
            good = check(out)
        except Exception:  # a malformed output is a failure too
            good = False
        if not good:
            failures += 1
            if failures <= 10:
                print("FAIL", code[:120], "->", out[:200])
    print(f"{len(checks) - failures} passed, {failures} failed")
    return 1 if failures else 0


sys.exit(main())
