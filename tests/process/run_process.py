#!/usr/bin/env python3
"""How a vyx process ends when its output or its script fails:
- standard output a pipe whose reader has gone: killed by SIGPIPE at once;
- another failed write to standard output (a full device): status 1, for a
  script and for piped console input alike, while a script's own error status stays;
- standard output a terminal that fails: the loss is silent, status 0;
- a script that cannot be read (missing, a directory, no permission): its
  error printed and status 1;
- SIGINT, SIGTERM or SIGHUP during an evaluation: what was printed reaches the
  pipe, then the process dies by the signal.

usage: run_process.py VYX
"""
import os
import pty
import signal
import subprocess
import sys
import tempfile
import time

vyx = sys.argv[1]
failures = []


def check(label, got, want):
    if got != want:
        failures.append(f"{label}: got {got!r}, expected {want!r}")


with tempfile.TemporaryDirectory() as tmp:
    os.chmod(tmp, 0o755)

    def script(name, body):
        path = os.path.join(tmp, name)
        with open(path, "w") as f:
            f.write("Vyx []\n" + body + "\n")
        return path

    forever = script("forever.vyx", 'forever [print "y"]')
    hello = script("hello.vyx", 'print "hello"')
    failing = script("failing.vyx", 'print "hello"\n1 / 0')

    # The reader takes one line and goes away.
    p = subprocess.Popen([vyx, forever], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    check("first line before the reader goes", p.stdout.readline(), b"y\n")
    p.stdout.close()
    try:
        check("broken pipe", p.wait(timeout=30), -signal.SIGPIPE)
    except subprocess.TimeoutExpired:
        p.kill()
        failures.append("broken pipe: the process went on writing")

    with open("/dev/full", "w") as full:
        for label, args, stdin, want in [
            ("script to a full device", [hello], b"", 1),
            ("console to a full device", [], b'print "x"\n', 1),
            ("failing script to a full device", [failing], b"", 254),
        ]:
            r = subprocess.run([vyx, *args], input=stdin, stdout=full, stderr=subprocess.DEVNULL, timeout=30)
            check(label, r.returncode, want)

    # A terminal whose other side closes while the output waits for it fails
    # every later write.
    ticking = script("ticking.vyx", 'loop 100000 [print "x"]')
    master, slave = pty.openpty()
    p = subprocess.Popen([vyx, ticking], stdin=subprocess.DEVNULL, stdout=slave, stderr=subprocess.DEVNULL)
    os.close(slave)
    check("terminal before it fails", os.read(master, 100)[:1], b"x")
    os.close(master)
    check("terminal that fails", p.wait(timeout=30), 0)

    locked = script("locked.vyx", 'print "secret"')
    os.chmod(locked, 0)
    nobody = None
    if os.geteuid() == 0:
        # Root reads any file: the unreadable script is tried as nobody.
        def nobody():
            os.setgid(65534)
            os.setuid(65534)
    for label, path in [("missing", os.path.join(tmp, "missing.vyx")), ("directory", tmp),
                        ("no permission", locked)]:
        r = subprocess.run([vyx, path], stdin=subprocess.DEVNULL, capture_output=True, timeout=30,
                           preexec_fn=nobody)
        check(f"{label} script: status", r.returncode, 1)
        check(f"{label} script: output", r.stdout.decode(), f"*** Access Error: cannot open: %{path}\n")

    # The script says it has printed by making a file, and the signal comes
    # only then: a loaded machine may take any time to start it.
    ready = os.path.join(tmp, "ready")
    busy = script("busy.vyx", f'print "a" write %{ready} "" forever []')
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        if os.path.exists(ready):
            os.remove(ready)
        p = subprocess.Popen([vyx, busy], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL)
        waited = time.monotonic()
        while not os.path.exists(ready) and p.poll() is None and time.monotonic() - waited < 120:
            time.sleep(0.01)
        p.send_signal(sig)
        try:
            status = p.wait(timeout=30)
        except subprocess.TimeoutExpired:
            p.kill()
            status = None
        check(f"{sig.name}: status", status, -sig)
        check(f"{sig.name}: output", p.stdout.read(), b"a\n")

for f in failures:
    print("FAIL " + f)
print("process endings: " + ("failed" if failures else "passed"))
sys.exit(1 if failures else 0)
