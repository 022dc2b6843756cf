"""Runs a Vyx script through the executable and answers its output lines."""
import os
import subprocess
import tempfile


def run_script(vyx, body):
    with tempfile.NamedTemporaryFile("w", suffix=".vyx", delete=False, encoding="utf-8") as f:
        f.write("Vyx []\n" + body)
        path = f.name
    try:
        p = subprocess.run([vyx, path], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
    finally:
        os.unlink(path)
    out = p.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
    if p.returncode != 0:
        raise SystemExit("vyx exited with %d:\n%s" % (p.returncode, out[-2000:]))
    return out.split("\n")


def check(pairs):
    """pairs: (what, got, want). Prints the first mismatches; answers the exit status."""
    bad = [(w, g, e) for w, g, e in pairs if g != e]
    for what, got, want in bad[:10]:
        print("MISMATCH %s\n  got:  %r\n  want: %r" % (what, got, want))
    print("%d checked, %d wrong" % (len(pairs), len(bad)))
    return 1 if bad else 0
