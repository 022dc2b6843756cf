#!/usr/bin/env python3
"""Runs the programs of this folder through vyx and compares what they print
with NAME.out, exactly; each must end with status 0.

  run_programs.py VYX            each program NAME.vyx in its own process
  run_programs.py VYX --together all programs in one process, twice over (in
                                 order, then in reverse), with a collection
                                 between any two; the output must be the
                                 expected outputs one after the other
"""
import os
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))


def header_end(source, name):
    """Index just past the header block that follows the word Vyx."""
    at = source.find("Vyx")
    while at >= 0 and not source[at + 3:].lstrip().startswith("["):
        at = source.find("Vyx", at + 1)
    if at < 0:
        sys.exit(f"{name}: no Vyx header")
    i = source.index("[", at)
    depth = 0
    while i < len(source):
        c = source[i]
        if c == ";":
            i = source.find("\n", i)
            if i < 0:
                break
        elif c == '"':
            i += 1
            while source[i] != '"':
                i += 2 if source[i] == "^" else 1
        elif c == "{":
            nest = 1
            i += 1
            while nest:
                if source[i] == "^":
                    i += 1
                elif source[i] == "{":
                    nest += 1
                elif source[i] == "}":
                    nest -= 1
                i += 1
            continue
        elif c == "[":
            depth += 1
        elif c == "]":
            depth -= 1
            if depth == 0:
                return i + 1
        i += 1
    sys.exit(f"{name}: the header block is not closed")


# Programs run without a display: the clipboard they use is their own.
ENV = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}


def run(vyx, script):
    p = subprocess.run([vyx, script], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=900, env=ENV)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def report(label, status, got, want, err):
    print(f"FAIL {label}: status {status} (expected 0)")
    got_lines, want_lines = got.split("\n"), want.split("\n")
    for n, (g, w) in enumerate(zip(got_lines, want_lines)):
        if g != w:
            print(f"  first difference at line {n + 1}:\n    expected |{w}\n    got      |{g}")
            break
    else:
        print(f"  expected {len(want_lines)} lines, got {len(got_lines)}")
    if err:
        print("  stderr:\n" + err)


def main():
    vyx = sys.argv[1]
    together = "--together" in sys.argv[2:]
    names = sorted(n[:-4] for n in os.listdir(here) if n.endswith(".vyx"))
    expected = {}
    for name in names:
        with open(os.path.join(here, name + ".out"), encoding="utf-8") as f:
            expected[name] = f.read()
    failed = 0
    if together:
        order = names + names[::-1]
        parts = ["Vyx [title: \"all programs\"]\n"]
        for name in order:
            with open(os.path.join(here, name + ".vyx"), encoding="utf-8") as f:
                source = f.read()
            parts.append(f"\n; ---- {name}\n{source[header_end(source, name):]}\nrecycle\n")
        with tempfile.NamedTemporaryFile("w", suffix=".vyx", encoding="utf-8", delete=False) as f:
            f.write("".join(parts))
            script = f.name
        try:
            status, got, err = run(vyx, script)
        finally:
            os.unlink(script)
        want = "".join(expected[n] for n in order)
        if status != 0 or got != want:
            failed = 1
            report("programs together (" + " ".join(order) + ")", status, got, want, err)
        print(f"{len(order)} programs in one process: " + ("failed" if failed else "passed"))
    else:
        for name in names:
            status, got, err = run(vyx, os.path.join(here, name + ".vyx"))
            if status != 0 or got != expected[name]:
                failed += 1
                report(name, status, got, expected[name], err)
        print(f"{len(names) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
