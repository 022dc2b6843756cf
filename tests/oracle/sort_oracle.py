#!/usr/bin/env python3
"""sort of blocks and strings against python3's sorted.

Blocks of integers, of strings and of mixed numbers and strings, sorted with
/skip 1 to 3, with /compare on a field and with /reverse: under /stable the
result must be python3's stable sorted with the matching key; without it, a
sorted permutation of the input. Strings likewise, with the unit-1 text's
folding of A-Z. Then 10^6 integers in shapes that hurt partition sorts
(a median-of-3 killer, organ pipes, sawtooth, sorted, reversed) must come back
sorted within the time limit.

usage: sort_oracle.py VYX [--small]   (--small: short blocks only, no million)
"""
import os
import random
import subprocess
import sys
import tempfile


def run(vyx, body, timeout):
    with tempfile.NamedTemporaryFile("w", suffix=".vyx", delete=False) as f:
        f.write("Vyx []\n" + body)
        script = f.name
    try:
        p = subprocess.run([vyx, script], stdout=subprocess.PIPE, timeout=timeout)
    finally:
        os.unlink(script)
    return p.stdout.decode().splitlines()


def mold(v):
    if isinstance(v, str):
        return '"' + v + '"'
    return repr(v)


def block_key(v):
    # strings order before numbers (by type); strings fold to upper case;
    # integers and floats order together by value
    return (0, v.upper()) if isinstance(v, str) else (1, v)


def string_key(c):
    return chr(ord(c) + 32) if "A" <= c <= "Z" else c


def values(kind, n, rng):
    letters = "abcABC_z0"
    word = lambda: "".join(rng.choice(letters) for _ in range(rng.randint(1, 3)))
    if kind == "integers":
        return [rng.randint(-20, 20) for _ in range(n)]
    if kind == "strings":
        return [word() for _ in range(n)]
    return [rng.choice([rng.randint(-5, 5), rng.randint(-5, 5) + 0.5, word()]) for _ in range(n)]


def cases(rng, small):
    """(source of the sort, python expectation or None for a permutation check, input)"""
    out = []
    for kind in ("integers", "strings", "mixed"):
        for size in (1, 2, 3):
            for n in (size * 2, size * 31) if small else (size * 2, size * 31, size * 400):
                data = values(kind, n, rng)
                records = [data[i:i + size] for i in range(0, n, size)]
                src = "[" + " ".join(mold(v) for v in data) + "]"
                for field in range(1, size + 1):
                    for reverse in (False, True):
                        key = lambda r, f=field: block_key(r[f - 1])
                        want = [v for r in sorted(records, key=key, reverse=reverse) for v in r]
                        refs = "/stable" + ("/skip" if size > 1 else "") + ("/compare" if field > 1 else "")
                        refs += "/reverse" if reverse else ""
                        args = (" %d" % size if size > 1 else "") + (" %d" % field if field > 1 else "")
                        out.append(("sort%s %s%s" % (refs, src, args), want, None))
                        unstable = refs.replace("/stable", "") or ""
                        out.append(("sort%s %s%s" % (unstable, src, args), None, (records, key, reverse)))
    for size in (1, 2, 3):
        for n in (size * 3, size * 50) if small else (size * 3, size * 50, size * 300):
            text = "".join(rng.choice("bBaA_zZ09c") for _ in range(n))
            records = [text[i:i + size] for i in range(0, n, size)]
            for all_fields in (False, True):
                key = (lambda r: [string_key(c) for c in r]) if all_fields else (lambda r: string_key(r[0]))
                want = "".join(sorted(records, key=key))
                refs = "/stable" + ("/skip" if size > 1 else "") + ("/all" if all_fields and size > 1 else "")
                out.append(('sort%s "%s"%s' % (refs, text, " %d" % size if size > 1 else ""), want, None))
    return out


def check_permutation(got, records, key, reverse):
    size = len(records[0])
    got_records = [got[i:i + size] for i in range(0, len(got), size)]
    if sorted(map(repr, got_records)) != sorted(map(repr, records)):
        return "not a permutation"
    keys = [key(r) for r in got_records]
    pairs = zip(keys, keys[1:])
    if any((b > a) if reverse else (a > b) for a, b in pairs):
        return "not sorted"
    return None


def parse_block(line):
    items = []
    for tok in line.strip("[]").split():
        if tok.startswith('"'):
            items.append(tok.strip('"'))
        elif "." in tok:
            items.append(float(tok))
        else:
            items.append(int(tok))
    return items


def main():
    vyx = sys.argv[1]
    rng = random.Random(16)
    bad = 0
    small = "--small" in sys.argv
    todo = cases(rng, small)
    out = run(vyx, "".join("print mold %s\n" % src for src, _, _ in todo), 300)
    if len(out) != len(todo):
        print("%d lines for %d sorts" % (len(out), len(todo)))
        return 1
    for (src, want, perm), got in zip(todo, out):
        if isinstance(want, str):
            # longer text molds in braces
            problem = None if got in ('"%s"' % want, "{%s}" % want) else "want %s" % want
        elif want is not None:
            problem = None if got == "[" + " ".join(mold(v) for v in want) + "]" else "differs from sorted"
        else:
            problem = check_permutation(parse_block(got), *perm)
        if problem:
            bad += 1
            if bad <= 5:
                print("%s\n  got %s: %s" % (src[:200], got[:200], problem))

    # A million integers in shapes that hurt partition sorts.
    n = 1000000
    k = n // 2
    killer = [0] * n
    for i in range(1, k + 1):
        if i % 2 == 1:
            killer[i - 1] = i
            killer[i] = k + i
        killer[k + i - 1] = 2 * i
    shapes = {} if small else {
        "median-of-3 killer": killer,
        "organ pipes": [i if i < k else n - i for i in range(n)],
        "sawtooth": [i % 1000 for i in range(n)],
        "sorted": list(range(n)),
        "reversed": list(range(n, 0, -1)),
    }
    for name, data in shapes.items():
        for refs in ("", "/stable"):
            body = "b: [%s]\nsort%s b\nprint mold b\n" % (" ".join(map(str, data)), refs)
            got = run(vyx, body, 120)
            if got != ["[" + " ".join(map(str, sorted(data))) + "]"]:
                bad += 1
                print("sort%s of the %s: wrong" % (refs, name))
    print("%d sorts checked, %d wrong" % (len(todo) + 2 * len(shapes), bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
