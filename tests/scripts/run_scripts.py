#!/usr/bin/env python3
"""Runs vyx on each script NAME.vyx of this folder and compares its output with
NAME.out (where "XXXXXXXX" stands for a code address) and its exit status with NAME.status (0 when that file is absent).
A NAME.env file holds VAR=value lines added to the environment ($HERE in a
value stands for this folder). A NAME.stdin
file (raw bytes) is piped to a vyx started without a script, in place of NAME.vyx.
For a script, NAME.args holds switches put before its name and NAME.input what
is piped to it.

usage: run_scripts.py VYX
"""
import os
import re
import subprocess
import sys

here = os.path.dirname(os.path.abspath(__file__))


def main():
    vyx = sys.argv[1]
    passed = failed = 0
    for name in sorted(os.listdir(here)):
        if not (name.endswith(".vyx") or name.endswith(".stdin")):
            continue
        base = os.path.join(here, name.rsplit(".", 1)[0])
        with open(base + ".out", encoding="utf-8") as f:
            want = f.read()
        status = 0
        if os.path.exists(base + ".status"):
            with open(base + ".status") as f:
                status = int(f.read().strip())
        env = dict(os.environ)
        if os.path.exists(base + ".env"):
            with open(base + ".env") as f:
                for line in f.read().split("\n"):
                    if "=" in line:
                        k, v = line.split("=", 1)
                        env[k] = v.replace("$HERE", here)
        if name.endswith(".stdin"):
            with open(base + ".stdin", "rb") as f:
                p = subprocess.run([vyx], input=f.read(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                   env=env, timeout=60)
        else:
            switches = open(base + ".args").read().split() if os.path.exists(base + ".args") else []
            piped = open(base + ".input", "rb").read() if os.path.exists(base + ".input") else b""
            p = subprocess.run([vyx, *switches, base + ".vyx"], input=piped, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, env=env, timeout=60)
        got = p.stdout.decode("utf-8", "replace")
        # Code addresses of fatal reports differ from build to build.
        got = re.sub(r"\*\*\* at: [0-9A-F]{8}h", "*** at: XXXXXXXXh", got)
        if got == want and p.returncode == status:
            passed += 1
            continue
        failed += 1
        print(f"FAIL {name}: status {p.returncode} (expected {status})")
        print("  expected:\n" + "".join(f"    |{l}\n" for l in want.split("\n")))
        print("  got:\n" + "".join(f"    |{l}\n" for l in got.split("\n")))
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
