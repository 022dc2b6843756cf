#!/usr/bin/env python3
"""Compares the codecs of io/ with their peers on the same data: compress size
and speed against python3's zlib (level 6) and the gzip command (-6),
decompress speed against zlib's, CRC-32 and Adler-32 against python3's zlib,
and SHA-256 and MD5 of a 100 MB file against sha256sum, md5sum and openssl.

usage: codecs.py BENCH_CODECS [DATA_DIR]
  BENCH_CODECS  the bench_codecs executable (a build with -DVYX_BENCH=ON)
  DATA_DIR      where the data files are made (default: a temporary folder)
"""
import json
import os
import random
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timing import best_of  # noqa: E402

MB = 1_000_000


def make_data(folder):
    rng = random.Random(1)
    words = ("the value of series block word a function is to and binary data compress in string "
             "when each with index tail head return error").split()
    files = {}
    path = os.path.join(folder, "text10")
    if not os.path.exists(path):
        parts, size = [], 0
        while size < 10 * MB:
            w = rng.choice(words) if rng.random() < 0.9 else str(rng.randrange(100000))
            parts.append(w)
            size += len(w) + 1
        with open(path, "w") as f:
            f.write(" ".join(parts)[:10 * MB])
    files["text10"] = path
    path = os.path.join(folder, "random10")
    if not os.path.exists(path):
        with open(path, "wb") as f:
            f.write(rng.randbytes(10 * MB))
    files["random10"] = path
    path = os.path.join(folder, "zeros100")
    if not os.path.exists(path):
        with open(path, "wb") as f:
            f.write(bytes(100 * MB))
    files["zeros100"] = path
    path = os.path.join(folder, "binaries")
    if not os.path.exists(path):
        with open(path, "wb") as out:
            total = 0
            for name in sorted(os.listdir("/usr/bin")):
                p = os.path.join("/usr/bin", name)
                if total >= 20 * MB or not os.path.isfile(p) or os.path.islink(p):
                    continue
                with open(p, "rb") as f:
                    b = f.read(20 * MB - total)
                out.write(b)
                total += len(b)
    files["binaries"] = path
    return files


def run_time(cmd, rounds=3):
    return best_of(lambda: subprocess.run(cmd, shell=True, check=True, stdout=subprocess.DEVNULL), rounds)


def main():
    bench = sys.argv[1]
    folder = sys.argv[2] if len(sys.argv) > 2 else tempfile.mkdtemp(prefix="vyx-bench-")
    files = make_data(folder)
    out = subprocess.run([bench, "--benchmark_format=json", "--benchmark_repetitions=1"],
                         env=dict(os.environ, VYX_BENCH_DATA=folder), check=True, capture_output=True, text=True)
    ours = {b["name"]: b for b in json.loads(out.stdout)["benchmarks"]}

    def ours_mbs(name):
        return ours[name]["bytes_per_second"] / MB

    print(f"{'data':10} {'what':34} {'ours':>12} {'peer':>12}  peer")
    for name, path in files.items():
        with open(path, "rb") as f:
            data = f.read()
        n = len(data) / MB
        packed = zlib.compress(data, 6)
        t = best_of(lambda: zlib.compress(data, 6), 1 if len(data) > 50 * MB else 2)
        gz = run_time(f"gzip -6 -c {path}", 1)
        gz_size = len(subprocess.run(f"gzip -6 -c {path}", shell=True, capture_output=True).stdout)
        zb = ours[f"compress/zlib/{name}"]
        print(f"{name:10} {'compress zlib size (bytes)':34} {int(zb['bytes']):12d} {len(packed):12d}  python3 zlib level 6")
        print(f"{name:10} {'compress gzip size (bytes)':34} {int(ours[f'compress/gzip/{name}']['bytes']):12d} {gz_size:12d}  gzip -6")
        print(f"{name:10} {'compress zlib MB/s':34} {ours_mbs(f'compress/zlib/{name}'):12.1f} {n / t:12.1f}  python3 zlib level 6")
        print(f"{name:10} {'compress gzip MB/s':34} {ours_mbs(f'compress/gzip/{name}'):12.1f} {n / gz:12.1f}  gzip -6")
        t = best_of(lambda: zlib.decompress(packed))
        print(f"{name:10} {'decompress zlib MB/s (size known)':34} {ours_mbs(f'decompress/zlib/{name}'):12.1f} {n / t:12.1f}  python3 zlib")
        print(f"{name:10} {'decompress zlib MB/s (measured)':34} {ours_mbs(f'decompress-measuring/zlib/{name}'):12.1f} {n / t:12.1f}  python3 zlib")
        print(f"{name:10} {'decompress gzip MB/s':34} {ours_mbs(f'decompress/gzip/{name}'):12.1f}")
        t = best_of(lambda: zlib.crc32(data))
        print(f"{name:10} {'CRC-32 MB/s':34} {ours_mbs(f'crc32/{name}'):12.1f} {n / t:12.1f}  python3 zlib.crc32")
        t = best_of(lambda: zlib.adler32(data))
        print(f"{name:10} {'Adler-32 MB/s':34} {ours_mbs(f'adler32/{name}'):12.1f} {n / t:12.1f}  python3 zlib.adler32")
        if name == "zeros100":
            for alg, tool in (("sha256", "sha256sum"), ("md5", "md5sum")):
                t1 = run_time(f"{tool} {path}")
                t2 = run_time(f"openssl dgst -{alg} {path}")
                print(f"{name:10} {alg + ' MB/s':34} {ours_mbs(f'digest/{alg}/{name}'):12.1f} {n / t1:12.1f}  {tool}")
                print(f"{name:10} {alg + ' MB/s':34} {'':12} {n / t2:12.1f}  openssl dgst")
        del data


main()
