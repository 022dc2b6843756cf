#!/usr/bin/env python3
"""VYXBIN speed against python3's pickle (protocol 5) on equivalent data:
encode and decode MB/s and values/s in both forms for a block of 10^6
integers, 10^5 short strings and a nest of objects and functions (bench_vyxbin,
a build with -DVYX_BENCH=ON); the LZ block decoder against memcpy on a stream
packed by the test-only encoder; and the time and peak memory of the vyx
executable encoding blocks nested 1000 to 20000 deep, which must grow no
faster than the depth.

usage: vyxbin.py BENCH_VYXBIN VYX
"""
import json
import os
import pickle
import random
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "vyxbin"))
import lz_pack  # noqa: E402


class Node:
    def __init__(self, i):
        self.id = i
        self.name = "node"
        self.tags = ["a", "b", "c"]
        self.weight = i * 1.5
        self.next = None

    def f(self, x, twice=False):
        y = x + self.id
        return y * 2 if twice else y


SAMPLES = {
    "integers": ([i * 7919 - 3000000 for i in range(1, 1000001)], 1e6 + 1),
    "strings": (["item-%d" % i for i in range(1, 100001)], 1e5 + 1),
    "objects": ([Node(i) for i in range(1, 2001)], 2000 * 25.0),
}


def best(f, runs=7):
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        f()
        times.append(time.perf_counter() - t)
    return min(times)


def pickle_figures():
    out = {}
    for name, (value, count) in SAMPLES.items():
        data = pickle.dumps(value, protocol=5)
        enc = best(lambda: pickle.dumps(value, protocol=5))
        dec = best(lambda: pickle.loads(data))
        out[name] = (len(data), enc, dec, count)
    return out


def deep_figures(vyx):
    rows = []
    for depth in (1000, 5000, 10000, 20000):
        with tempfile.NamedTemporaryFile("w", suffix=".vyx", delete=False) as f:
            f.write("Vyx []\nn: [] loop %d [n: reduce [n]]\nloop 50 [x: system/codecs/vyxbin/encode* n true]\n" % depth)
            path = f.name
        base = None
        for program in (path,):
            t = time.perf_counter()
            p = subprocess.Popen([vyx, program], stdout=subprocess.DEVNULL)
            _, status, usage = os.wait4(p.pid, 0)
            elapsed = time.perf_counter() - t
        os.unlink(path)
        rows.append((depth, elapsed, usage.ru_maxrss))
    return rows


def main():
    bench, vyx = sys.argv[1], sys.argv[2]
    rng = random.Random(3)
    words = "the value of series block word a function is to and binary data".split()
    text = " ".join(rng.choice(words) for _ in range(400000)).encode()[:2000000]
    with tempfile.NamedTemporaryFile(suffix=".lz", delete=False) as f:
        f.write(lz_pack.pack(text))
        lz_path = f.name
    env = dict(os.environ, VYX_BENCH_LZ=lz_path)
    r = subprocess.run([bench, "--benchmark_format=json", "--benchmark_min_time=0.5"], capture_output=True,
                       env=env, check=True)
    os.unlink(lz_path)
    results = {b["name"]: b for b in json.loads(r.stdout)["benchmarks"]}
    peers = pickle_figures()
    print("%-22s %10s %10s %12s   %s" % ("", "MB/s", "Mvalues/s", "bytes", "pickle MB/s, Mvalues/s, bytes"))
    for name, (size, enc, dec, count) in peers.items():
        for op, peer_time in (("encode", enc), ("decode", dec)):
            for form in ("compact", "fixed"):
                b = results["%s/%s/%s" % (op, form, name)]
                enc_bytes = results["encode/%s/%s" % (form, name)]["bytes"]
                print("%-22s %10.1f %10.2f %12d   %8.1f %8.2f %10d" % (
                    "%s %s %s" % (op, form, name), b["bytes_per_second"] / 1e6, b["values/s"] / 1e6, enc_bytes,
                    size / peer_time / 1e6, count / peer_time / 1e6, size))
    for depth in (1000, 5000, 10000, 20000):
        b = results["encode/deep/%d" % depth]
        print("encode nested %5d deep: %.3f ms, %.1f ns a level" % (depth, b["real_time"], b["per level ns"] * 1e9))
    for depth, elapsed, rss in deep_figures(vyx):
        print("vyx: nest %5d deep, 50 encodes: %.2f s, peak %d MB" % (depth, elapsed, rss // 1024))
    lz, cp = results["lz/decode"], results["lz/memcpy"]
    print("LZ decode %.0f MB/s, memcpy %.0f MB/s" % (lz["bytes_per_second"] / 1e6, cp["bytes_per_second"] / 1e6))


if __name__ == "__main__":
    main()
