#!/usr/bin/env python3
"""Start-up through the vyx executable: the command line as the library splits
it, the switches before a script and "--catch", the cache path from HOME, a
library module that raises or names a routine the runtime lacks, the start-up
split, boot data given in place of the embedded one, and the generator
writing the same boot data every time.

usage: run_boot.py VYX GEN_BOOT_DATA LIBRARY_DIR BOOT_BLOB
"""
import hashlib
import os
import subprocess
import sys
import tempfile

vyx = os.path.abspath(sys.argv[1])
generator, library, blob = sys.argv[2:5]
failures = []
checks = 0


def check(label, got, want):
    global checks
    checks += 1
    if got != want:
        failures.append(f"{label}: got {got!r}, expected {want!r}")


def run(args, stdin=b"", env=None, cwd=None):
    e = dict(os.environ)
    e.update(env or {})
    for k in [k for k, v in e.items() if v is None]:
        del e[k]
    return subprocess.run([vyx, *args], input=stdin, capture_output=True, env=e, cwd=cwd, timeout=60)


with tempfile.TemporaryDirectory() as tmp:
    def write(name, text):
        with open(os.path.join(tmp, name), "w") as f:
            f.write(text)
        return os.path.join(tmp, name)

    write("s.vyx", "Vyx []\nprint mold system/options/args\nprint mold system/script/args\n"
                   "print mold system/options/boot\n")
    r = run(["s.vyx", "a b", 'x"y'], cwd=tmp)
    check("arguments", r.stdout.decode().split("\n")[:3],
          ['["s.vyx" "a b" {x"y}]', '{s.vyx "a b" x"y}', f'"{vyx}"'])
    r = run(["s.vyx", "", "\t"], cwd=tmp)
    check("empty and blank arguments", r.stdout.decode().split("\n")[:2],
          ['["s.vyx" "" "^-"]', '{s.vyx "" "^-"}'])

    # Switches before the script are passed over and "--" ends them, so the
    # script may be named like a switch; its error ends the run with 254.
    # "--catch" opens the console after the script, without the banner.
    write("--s.vyx", "Vyx []\nprint mold system/options/args\n1 / 0\nprint {after}\n")
    failing = "*** Math Error: attempt to divide by zero"
    r = run(["--quiet", "--", "--s.vyx", "a"], stdin=b"print 2\n", cwd=tmp)
    out = r.stdout.decode().split("\n")
    check("switches, then a script with arguments that fails",
          (r.returncode, out[:2], "after" in out or "2" in out), (254, ['["--quiet" "--" "--s.vyx" "a"]', failing], False))
    r = run(["--catch", "--", "--s.vyx"], stdin=b"print 1 + 1\n", cwd=tmp)
    out = r.stdout.decode().split("\n")
    check("--catch after a failing script", (r.returncode, out[:2], out[-2:], b"--==" in r.stdout),
          (0, ['["--catch" "--" "--s.vyx"]', failing], ["2", ""], False))
    r = run(["--catch"], stdin=b"print 1 + 1\n")
    out = r.stdout.decode().split("\n")
    check("--catch with no script", (r.returncode, out[0], out[3:]), (0, "--== Vyx 0.1.0 ==--", ["2", ""]))

    # No arguments: the console reads its input.
    r = run([], stdin=b"print mold reduce [system/options/args system/options/boot system/script/args]\n")
    check("no arguments", r.stdout.decode().split("\n")[3], f'[[] "{vyx}" ""]')

    cache = "print mold system/options/cache\n"
    for label, home, want in [("HOME unset", None, "%/tmp/.vyx/"), ("HOME empty", "", "%/tmp/.vyx/"),
                              ("HOME set", "/h", "%/h/.vyx/")]:
        r = run([], stdin=cache.encode(), env={"HOME": home})
        check(label, r.stdout.decode().split("\n")[3], want)

    # A module that raises: its report, then status 254.
    raising = write("raising.vyx", "Vyx [title: \"raises\"]\nx: 1 / 0\n")
    r = run([], env={"VYX_LIBRARY_FIXTURE": raising})
    check("raising module: status", r.returncode, 254)
    check("raising module: report", r.stdout.decode().split("\n")[0], "*** Math Error: attempt to divide by zero")

    # A routine the runtime does not have stops the boot.
    unknown = write("unknown.vyx", "Vyx []\nr: _routine \"no-such-routine\" [] \"\"\n")
    r = run([], env={"VYX_LIBRARY_FIXTURE": unknown})
    check("unknown routine: status", r.returncode, 254)
    check("unknown routine: message", r.stderr.decode(),
          "*** Boot error: no routine named no-such-routine in the runtime\n")
    check("unknown routine: no console", r.stdout, b"")

    # The split, on standard error only when asked for.
    r = run([], env={"VYX_STARTUP_SPLIT": "1"})
    words = r.stderr.decode().split()
    check("split", [w for w in words if not w[0].isdigit()],
          ["start-up:", "init", "ms,", "decode", "ms,", "modules", "ms,", "hand-over", "ms,", "total", "ms"])
    check("no split", run([]).stderr, b"")

    # Boot data named by the environment replaces the embedded one.
    r = run([], stdin=b"print 1 + 1\n", env={"VYX_BOOT_DATA": blob})
    check("boot data file", (r.returncode, r.stdout.decode().split("\n")[3]), (0, "2"))
    data = open(blob, "rb").read()
    for label, content, want in [
            ("no magic", b"NOTVYXBIN" + data[9:], "Error: Not a Vyxbin file!\n"),
            ("empty", b"", "Error: Not a Vyxbin file!\n")]:
        bad = os.path.join(tmp, "bad.vyxbin")
        with open(bad, "wb") as f:
            f.write(content)
        r = run([], stdin=b"print 1\n", env={"VYX_BOOT_DATA": bad})
        check(label, (r.returncode, r.stdout.decode()), (1, want))
    # Cut short: a record runs past the end; the process ends with status 1.
    with open(bad, "wb") as f:
        f.write(data[:len(data) // 2])
    r = run([], stdin=b"print 1\n", env={"VYX_BOOT_DATA": bad})
    check("truncated: status", r.returncode, 1)
    check("truncated: no console", b"Vyx" in r.stdout, False)
    missing = os.path.join(tmp, "missing.vyxbin")
    r = run([], env={"VYX_BOOT_DATA": missing})
    check("missing boot data", (r.returncode, r.stdout.decode()),
          (1, f"Error: cannot read the boot data {missing}\n"))

    # Two runs of the generator write the boot data the build embedded.
    sums = set()
    for n in range(2):
        out = os.path.join(tmp, f"gen{n}.vyxbin")
        subprocess.run([generator, library, out], check=True, timeout=60)
        sums.add(hashlib.sha256(open(out, "rb").read()).hexdigest())
    check("generator is deterministic", sums, {hashlib.sha256(data).hexdigest()})
    check("blob header", data[:8], b"VYXBIN\x01\x05")

for f in failures:
    print("FAIL " + f)
print(f"{checks - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
