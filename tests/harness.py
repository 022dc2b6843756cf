"""What the python check runners share: a registry of checks each run in a
temporary directory of its own, running a script through the vyx executable,
and comparing an answer with the expected one.
"""
import os
import subprocess
import tempfile


class Checks:
    """Functions registered with the instance as a decorator; run_all calls
    each with a fresh temporary directory and reports."""

    def __init__(self):
        self.checks = []

    def __call__(self, fn):
        self.checks.append(fn)
        return fn

    def run_all(self, prefix, caught=(AssertionError, subprocess.TimeoutExpired)):
        failures = []
        for fn in self.checks:
            with tempfile.TemporaryDirectory(prefix=prefix) as d:
                try:
                    fn(d)
                except caught as e:
                    failures.append(f"{fn.__name__}: {e}")
        for f in failures:
            print("FAIL", f)
        print(f"{len(self.checks) - len(failures)} of {len(self.checks)} checks passed")
        return 1 if failures else 0


def run_script(vyx, script, cwd, env=None, timeout=120):
    """Runs a script body (a header is added) in `cwd`; answers its output
    lines. A status other than 0 fails the check with the output."""
    path = os.path.join(cwd, "script.vyx")
    with open(path, "w", encoding="utf-8") as f:
        f.write("Vyx []\n" + script + "\n")
    try:
        p = subprocess.run([vyx, path], cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=timeout)
    finally:
        os.unlink(path)
    out = p.stdout.decode("utf-8", "replace")
    if p.returncode != 0:
        raise AssertionError(f"status {p.returncode}\n{out}{p.stderr.decode('utf-8', 'replace')}")
    return out.split("\n")[:-1] if out.endswith("\n") else out.split("\n")


def expect(got, want, what):
    if got != want:
        raise AssertionError(f"{what}:\n  expected {want!r}\n  got      {got!r}")
