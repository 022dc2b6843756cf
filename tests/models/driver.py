"""Runs expressions through one vyx process and compares each result with a
model's prediction: "= " and the molded value, or "ERR " and the error id;
and the double operations as the hardware does them, which the models share."""
import math
import subprocess

PRELUDE = ('t: func [b /local r] [r: try b either error! = type? :r '
           '[print ["ERR" r/id]] [print ["=" mold :r]]]')


def check(vyx, expressions, expected):
    script = [PRELUDE] + ["t [%s]" % e for e in expressions]
    out = subprocess.run([vyx], input="\n".join(script).encode() + b"\n", stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, timeout=1200).stdout.decode()
    lines = [l[2:] if l.startswith("= ") else l for l in out.split("\n") if l.startswith(("= ", "ERR "))]
    failures = 0
    if len(lines) != len(expected):
        print("expected %d results, got %d" % (len(expected), len(lines)))
        failures += 1
    for expression, want, got in zip(expressions, expected, lines):
        if want != got:
            failures += 1
            if failures <= 20:
                print("%s\n  expected %s\n  got      %s" % (expression, want, got))
    print("%d cases, %d failures" % (len(expected), failures))
    return 1 if failures else 0


def ieee(a, b, op):
    """The double operation as the hardware does it (no exceptions)."""
    if op == "+":
        return a + b
    if op == "-":
        return a - b
    if op == "*":
        if (math.isinf(a) and b == 0) or (math.isinf(b) and a == 0):
            return math.nan
        return a * b
    if op == "/":
        if b == 0:
            if a == 0 or math.isnan(a):
                return math.nan
            return math.copysign(math.inf, a) * math.copysign(1.0, b)
        return a / b
    # remainder: NaN for a zero, infinite or NaN divisor
    if b == 0 or math.isinf(b) or math.isnan(b) or math.isinf(a) or math.isnan(a):
        return math.nan
    return math.fmod(a, b)
