#!/usr/bin/env python3
"""Runs case tables through the vyx executable.

A case file holds cases separated by blank lines. In a case, lines that start
with ">> " (or are just ">>") are typed into the console; every other line is
output the case must print, in order; a line "~" stands for an empty line of
output. Empty lines at the end of the output are not compared. Lines starting
with ";;" are comments.
Each case runs in a fresh vyx process with its input piped; the banner is not
part of the compared output, and the process must exit with status 0.

usage: run_cases.py VYX FILE...
"""
import concurrent.futures
import os
import subprocess
import sys


def parse(path):
    cases, current, start = [], None, 0
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    for number, line in enumerate(lines, 1):
        if line.startswith(";;"):
            continue
        if line == "":
            if current:
                cases.append((start, current))
            current = None
            continue
        if current is None:
            current, start = {"input": [], "output": []}, number
        if line == ">>" or line.startswith(">> "):
            current["input"].append(line[3:])
        else:
            current["output"].append("" if line == "~" else line)
    if current:
        cases.append((start, current))
    return cases


def strip_banner(lines):
    for i, line in enumerate(lines):
        if line.startswith("Type HELP"):
            lines = lines[i + 1:]
            break
    while lines and lines[0] == "":
        lines = lines[1:]
    return lines


def run(vyx, case):
    text = "".join(line + "\n" for line in case["input"])
    try:
        # The bound catches a hang, not slowness: under the collection-stress
        # build a deep structure is collected at every allocation, and a
        # loaded machine may take minutes over it.
        p = subprocess.run([vyx], input=text.encode(), stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, timeout=600)
    except subprocess.TimeoutExpired:
        return ["<timed out>"]
    out = p.stdout.decode("utf-8", "replace").split("\n")
    if out and out[-1] == "":
        out.pop()
    out = strip_banner(out)
    while out and out[-1] == "":
        out.pop()
    # A case that printed the right text and then crashed (a sanitizer report,
    # an abort at exit) has not passed.
    if p.returncode != 0:
        out.append(f"<exit status {p.returncode}>")
    return out


def main():
    vyx, files = sys.argv[1], sys.argv[2:]
    work = [(path, line, case) for path in files for line, case in parse(path)]
    passed = failed = 0
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 2) as pool:
        results = pool.map(lambda w: run(vyx, w[2]), work)
        for (path, line, case), got in zip(work, results):
            want = case["output"]
            if got == want:
                passed += 1
                continue
            failed += 1
            print(f"FAIL {os.path.basename(path)}:{line}")
            for i in case["input"]:
                print(f"  >> {i}")
            print("  expected:")
            for w in want:
                print(f"    |{w}")
            print("  got:")
            for g in got:
                print(f"    |{g}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
