#!/usr/bin/env python3
"""Times file and process I/O of the vyx executable against its peers:
read/binary of a 100 MB file against cat to /dev/null; read and read/lines
of 1M lines against python3's read() and readlines(); write of a 100 MB
string against python3's write; call/output of 100 MB against cat through a
pipe; call/wait "true" against python3's subprocess.run.

Each vyx figure is the best of three runs of a script, less the best run of
an empty script (the start-up).

usage: files.py VYX [DATA_DIR]
"""
import os
import random
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timing import best_of  # noqa: E402

MB = 1_000_000


def make_data(folder):
    big = os.path.join(folder, "big")
    if not os.path.exists(big):
        with open(big, "wb") as f:
            chunk = random.Random(1).randbytes(MB)
            for _ in range(100):
                f.write(chunk)
    lines = os.path.join(folder, "lines")
    if not os.path.exists(lines):
        rng = random.Random(2)
        words = "alpha beta gamma delta value series block word".split()
        with open(lines, "w") as f:
            for i in range(1_000_000):
                f.write(f"{i} {rng.choice(words)} {rng.choice(words)}\n")
    return big, lines


def main():
    vyx = os.path.abspath(sys.argv[1])
    folder = sys.argv[2] if len(sys.argv) > 2 else tempfile.mkdtemp(prefix="vyx-bench-files-")
    big, lines = make_data(folder)

    def vyx_time(body, rounds=3):
        path = os.path.join(folder, "bench.vyx")
        with open(path, "w") as f:
            f.write("Vyx []\n" + body + "\n")
        return best_of(lambda: subprocess.run([vyx, path], check=True, cwd=folder, stdout=subprocess.DEVNULL),
                       rounds)

    start_up = vyx_time("")
    rows = []

    def row(name, vyx_seconds, peer_name, peer_seconds):
        rows.append((name, vyx_seconds - start_up, peer_name, peer_seconds))

    row("read/binary 100 MB", vyx_time("read/binary %big"), "cat > /dev/null",
        best_of(lambda: subprocess.run(["cat", big], stdout=subprocess.DEVNULL, check=True)))

    def py_read():
        with open(lines, encoding="utf-8") as f:
            f.read()

    def py_readlines():
        with open(lines, encoding="utf-8") as f:
            f.readlines()
    row("read 1M lines as text", vyx_time("read %lines"), "python3 read()", best_of(py_read))
    row("read/lines 1M lines", vyx_time("read/lines %lines"), "python3 readlines()", best_of(py_readlines))

    text = "x" * (100 * MB)

    def py_write():
        with open(os.path.join(folder, "out-py"), "w") as f:
            f.write(text)
    row("write 100 MB string", vyx_time(f'text: append/dup copy "" "x" {100 * MB}\nwrite %out text')
        - vyx_time(f'text: append/dup copy "" "x" {100 * MB}'), "python3 write", best_of(py_write))
    rows[-1] = (rows[-1][0], rows[-1][1] + start_up, rows[-1][2], rows[-1][3])

    row("call/output 100 MB", vyx_time('out: copy #{} call/output "cat big" out'), "cat | cat",
        best_of(lambda: subprocess.run(f"cat {big} | cat > /dev/null", shell=True, check=True)))

    n = 200
    row(f'call/wait "true" x{n} (per call)', vyx_time(f'loop {n} [call/wait "true"]') / 1, "subprocess.run",
        best_of(lambda: [subprocess.run(["true"]) for _ in range(n)]))
    name, v, peer, p = rows[-1]
    rows[-1] = (name, v / n, peer, p / n)

    print(f"start-up of vyx (subtracted): {start_up * 1000:.1f} ms")
    print(f"{'operation':32} {'vyx':>10} {'peer':>10}  peer")
    for name, v, peer, p in rows:
        print(f"{name:32} {v * 1000:9.1f}ms {p * 1000:9.1f}ms  {peer}  (x{v / p:.2f})")


if __name__ == "__main__":
    main()
